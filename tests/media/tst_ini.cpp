#include "media/TIniDocument.h"
#include "media/TavoriaError.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {
QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}
void WriteAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}
} // namespace

class TstIni : public QObject {
    Q_OBJECT
private slots:
    void readText_data();
    void readText();
    void readInteger_data();
    void readInteger();
    void writeKeepsPositionsAndAppends();
    void entriesWithoutValueAndCommentsOnRewrite();
    void duplicateKeysUseTheFirst();
    void badBytesDoNotHideOtherKeys();
    void missingFileIsEmptyAndUnreadableFileRaises();
    void updateReplacesAtomicallyAndReportsFailure();
    void rereadSeesChangesMadeByOthers();
    void sectionReaderFindsWhatReadStringFinds_data();
    void sectionReaderFindsWhatReadStringFinds();
    void sectionWriterUpdatesTheFirstEntry_data();
    void sectionWriterUpdatesTheFirstEntry();
    void lineBreaksRefusedWhereverTheyAre_data();
    void lineBreaksRefusedWhereverTheyAre();
    void manyWrittenValuesStayIntact();
};

void TstIni::readText_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");
    const QString def = QStringLiteral("<default>");
    QTest::newRow("bom skipped") << QByteArray("\xEF\xBB\xBF[A]\r\nk=v\r\n") << "A"
                                 << "k"
                                 << "v";
    QTest::newRow("cr only") << QByteArray("[A]\rk=v\rj=w") << "A"
                             << "j"
                             << "w";
    QTest::newRow("mixed line ends") << QByteArray("[A]\nk=v\r\n\rj=w\n") << "A"
                                     << "j"
                                     << "w";
    QTest::newRow("trimmed") << QByteArray("  [ A ]  \n \t key \t=  some value \x01\n") << "a"
                             << "KEY"
                             << "some value";
    QTest::newRow("case-insensitive names") << QByteArray("[Config]\nRootFolder=x\n") << "CONFIG"
                                            << "rootfolder"
                                            << "x";
    QTest::newRow("non-ascii names fold too")
        << QByteArray("[Canción]\nAño=1\nAÑO=2\n") << "CANCIÓN"
        << "AÑO"
        << "1";
    QTest::newRow("empty value is not the default") << QByteArray("[A]\nk=\n") << "A"
                                                    << "k" << QString();
    QTest::newRow("absent key") << QByteArray("[A]\nk=v\n") << "A"
                                << "other" << def;
    QTest::newRow("absent section") << QByteArray("[A]\nk=v\n") << "B"
                                    << "k" << def;
    QTest::newRow("comment dropped") << QByteArray("[A]\n;k=v\n") << "A"
                                     << ";k" << def;
    QTest::newRow("line before first section") << QByteArray("k=v\n[A]\n") << "A"
                                               << "k" << def;
    QTest::newRow("first equals splits") << QByteArray("[A]\nk = a=b\n") << "A"
                                         << "k"
                                         << "a=b";
    QTest::newRow("utf-8 text") << QByteArray("[A]\nk=Ñandú ♪\n") << "A"
                                << "k" << QStringLiteral("Ñandú ♪");
    QTest::newRow("repeated section continues it") << QByteArray("[A]\nk=1\n[B]\n[a]\nj=2\n") << "A"
                                                   << "j"
                                                   << "2";
}

void TstIni::readText() {
    QFETCH(QByteArray, file);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("t.ini"));
    WriteAll(path, file);
    TIniDocument ini(path);
    QCOMPARE(ini.ReadString(section, key, QStringLiteral("<default>")), expected);
}

void TstIni::readInteger_data() {
    QTest::addColumn<QString>("value");
    QTest::addColumn<int>("expected");
    QTest::addColumn<bool>("flag");
    // default for both: 42 / false
    QTest::newRow("decimal") << "17" << 17 << true;
    QTest::newRow("negative") << "-12" << -12 << true;
    QTest::newRow("plus sign") << "+7" << 7 << true;
    QTest::newRow("zero") << "0" << 0 << false;
    QTest::newRow("two is true") << "2" << 2 << true;
    QTest::newRow("hex 0x") << "0x1F" << 31 << true;
    QTest::newRow("hex 0X") << "0X10" << 16 << true;
    QTest::newRow("hex dollar") << "$ff" << 255 << true;
    QTest::newRow("hex 0x1 selects second tab") << "0x1" << 1 << true;
    QTest::newRow("hex full width wraps") << "0xFFFFFFFF" << -1 << true;
    QTest::newRow("bare 0x") << "0x" << 42 << false;
    QTest::newRow("word") << "yes" << 42 << false;
    QTest::newRow("trailing junk") << "12abc" << 42 << false;
    QTest::newRow("inner blank") << "1 2" << 42 << false;
    QTest::newRow("empty") << "" << 42 << false;
    QTest::newRow("too large") << "99999999999" << 42 << false;
    QTest::newRow("hex too long") << "0x123456789" << 42 << false;
    QTest::newRow("sign alone") << "-" << 42 << false;
    QTest::newRow("fraction") << "1.5" << 42 << false;
}

void TstIni::readInteger() {
    QFETCH(QString, value);
    QFETCH(int, expected);
    QFETCH(bool, flag);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("t.ini"));
    WriteAll(path, "[S]\nk=" + value.toUtf8() + "\n");
    TIniDocument ini(path);
    QCOMPARE(ini.ReadInteger(QStringLiteral("S"), QStringLiteral("k"), 42), expected);
    QCOMPARE(ini.ReadBool(QStringLiteral("S"), QStringLiteral("k"), false), flag);
}

void TstIni::writeKeepsPositionsAndAppends() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("t.ini"));
    WriteAll(path, "[A]\na=1\nb=2\n[B]\nx=9\n");
    {
        TIniDocument ini(path);
        ini.WriteString(QStringLiteral("a"), QStringLiteral("A"), QStringLiteral("one"));
        ini.WriteInteger(QStringLiteral("A"), QStringLiteral("c"), -3);
        ini.WriteBool(QStringLiteral("C"), QStringLiteral("f"), true);
        ini.WriteBool(QStringLiteral("C"), QStringLiteral("g"), false);
        // Nothing reaches the file before Update.
        QCOMPARE(ReadAll(path), QByteArray("[A]\na=1\nb=2\n[B]\nx=9\n"));
        ini.Update();
    }
    QCOMPARE(ReadAll(path), QByteArray("\xEF\xBB\xBF[A]\r\na=one\r\nb=2\r\nc=-3\r\n\r\n"
                                       "[B]\r\nx=9\r\n\r\n[C]\r\nf=1\r\ng=0\r\n\r\n"));
    // Reading the rewritten file gives back the same document, byte for byte.
    const QByteArray first = ReadAll(path);
    TIniDocument again(path);
    again.Update();
    QCOMPARE(ReadAll(path), first);
}

void TstIni::entriesWithoutValueAndCommentsOnRewrite() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("t.ini"));
    WriteAll(path, "; header comment\n[A]\nplain entry\n; note\nk=v\n");
    TIniDocument ini(path);
    ini.Update();
    QCOMPARE(ReadAll(path), QByteArray("\xEF\xBB\xBF[A]\r\nplain entry\r\nk=v\r\n\r\n"));
}

void TstIni::duplicateKeysUseTheFirst() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("t.ini"));
    WriteAll(path, "[A]\nk=first\nK=second\n");
    TIniDocument ini(path);
    QCOMPARE(ini.ReadString(QStringLiteral("A"), QStringLiteral("k"), QString()),
             QStringLiteral("first"));
    ini.WriteString(QStringLiteral("A"), QStringLiteral("k"), QStringLiteral("new"));
    ini.Update();
    QCOMPARE(ReadAll(path), QByteArray("\xEF\xBB\xBF[A]\r\nk=new\r\nK=second\r\n\r\n"));
}

void TstIni::badBytesDoNotHideOtherKeys() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("t.ini"));
    QByteArray bytes("[A]\nbad=\xC3\x28\xFF\xFE tail\nnul=a");
    bytes.append('\0');
    bytes.append("b\n");
    bytes.append("long=" + QByteArray(1 << 20, 'x') + "\n");
    bytes.append("ok=fine\n");
    WriteAll(path, bytes);
    TIniDocument ini(path);
    QCOMPARE(ini.ReadString(QStringLiteral("A"), QStringLiteral("ok"), QString()),
             QStringLiteral("fine"));
    QCOMPARE(ini.ReadString(QStringLiteral("A"), QStringLiteral("long"), QString()).size(),
             1 << 20);
    QVERIFY(ini.ReadString(QStringLiteral("A"), QStringLiteral("bad"), QString())
                .endsWith(QStringLiteral("tail")));
    QCOMPARE(ini.ReadString(QStringLiteral("A"), QStringLiteral("nul"), QString()),
             QString::fromUtf8("a\0b", 3));
    // What was read is written back as valid UTF-8 and reads the same again.
    ini.Update();
    TIniDocument again(path);
    QCOMPARE(again.ReadString(QStringLiteral("A"), QStringLiteral("ok"), QString()),
             QStringLiteral("fine"));
    QCOMPARE(again.ReadString(QStringLiteral("A"), QStringLiteral("nul"), QString()),
             QString::fromUtf8("a\0b", 3));
}

void TstIni::missingFileIsEmptyAndUnreadableFileRaises() {
    QTemporaryDir dir;
    TIniDocument missing(dir.filePath(QStringLiteral("none.ini")));
    QVERIFY(!missing.SectionExists(QStringLiteral("A")));
    QCOMPARE(missing.ReadInteger(QStringLiteral("A"), QStringLiteral("k"), 5), 5);

    // A name that cannot be read as a file (root reads any file, so a folder
    // stands for "unreadable").
    const QString folder = dir.filePath(QStringLiteral("config.ini"));
    QVERIFY(QDir().mkpath(folder));
    try {
        TIniDocument ini(folder);
        QFAIL("opening a folder as an INI file must fail");
    } catch (const TavoriaError& e) {
        QVERIFY2(e.message().contains(QStringLiteral("config.ini")), qPrintable(e.message()));
    }
}

void TstIni::updateReplacesAtomicallyAndReportsFailure() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("t.ini"));
    WriteAll(path, "[A]\nk=old\n");
    TIniDocument ini(path);
    ini.WriteString(QStringLiteral("A"), QStringLiteral("k"), QStringLiteral("new"));
    ini.Update();
    // No temporary file is left beside the target.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("t.ini")});

    TIniDocument nowhere(dir.filePath(QStringLiteral("missing/folder/t.ini")));
    nowhere.WriteString(QStringLiteral("A"), QStringLiteral("k"), QStringLiteral("v"));
    try {
        nowhere.Update();
        QFAIL("writing into a missing folder must fail");
    } catch (const TavoriaError& e) {
        QVERIFY2(e.message().contains(QStringLiteral("missing/folder/t.ini")),
                 qPrintable(e.message()));
    }
}

void TstIni::rereadSeesChangesMadeByOthers() {
    // Each document reads the file when it is opened: a file changed in between (same
    // size, by another program) is read anew.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("config.ini"));
    WriteAll(path, "[A]\nk=1\n");
    {
        TIniDocument first(path);
        QCOMPARE(first.ReadInteger(QStringLiteral("A"), QStringLiteral("k"), 0), 1);
    }
    WriteAll(path, "[A]\nk=2\n");
    {
        TIniDocument second(path);
        QCOMPARE(second.ReadInteger(QStringLiteral("A"), QStringLiteral("k"), 0), 2);
        second.WriteInteger(QStringLiteral("A"), QStringLiteral("k"), 3);
        second.Update();
    }
    {
        TIniDocument third(path);
        QCOMPARE(third.ReadInteger(QStringLiteral("A"), QStringLiteral("k"), 0), 3);
        // Changes made to one document never leak into the next one.
        third.WriteInteger(QStringLiteral("A"), QStringLiteral("k"), 4);
    }
    TIniDocument fourth(path);
    QCOMPARE(fourth.ReadInteger(QStringLiteral("A"), QStringLiteral("k"), 0), 3);
    QVERIFY(QFile::remove(path));
    TIniDocument gone(path);
    QVERIFY(!gone.SectionExists(QStringLiteral("A")));
}

void TstIni::sectionReaderFindsWhatReadStringFinds_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("keys"); // asked in this order
    const QByteArray table("[T]\niconindex0=1\ncelda00=a\ncelda01=b\niconindex1=2\ncelda10=c\n"
                           "totalY=2\n");
    QTest::newRow("file order") << table << QStringList{"iconindex0", "celda00", "celda01",
                                                        "iconindex1", "celda10", "totalY"};
    QTest::newRow("reverse order") << table << QStringList{"totalY",  "celda10", "iconindex1",
                                                           "celda01", "celda00", "iconindex0"};
    QTest::newRow("absent keys between")
        << table << QStringList{"iconindex0", "celda02", "celda00", "nothing", "celda01"};
    QTest::newRow("other letter case")
        << table << QStringList{"ICONINDEX0", "Celda00", "celda01", "TOTALY"};
    // The entry after the last one found has the key asked for, but an earlier entry
    // has it too: the earlier one is the value.
    QTest::newRow("duplicate right after")
        << QByteArray("[T]\nk1=a\nk2=b\nk1=dup\nk3=c\n") << QStringList{"k2", "k1", "k3", "k1"};
    QTest::newRow("duplicate in other case")
        << QByteArray("[T]\nK1=a\nk2=b\nk1=dup\n") << QStringList{"k2", "k1", "K1"};
    QTest::newRow("entry without value at the cursor")
        << QByteArray("[T]\na=1\nb\nb=2\n") << QStringList{"a", "b"};
    QTest::newRow("non-ASCII names") << QByteArray("[T]\nÑandú=1\nñANDÚ=2\nÉ=3\n")
                                     << QStringList{"ñandú", "NÑANDÚ", "é", "É", "ÑANDÚ"};
}

void TstIni::sectionReaderFindsWhatReadStringFinds() {
    QFETCH(QByteArray, file);
    QFETCH(QStringList, keys);
    TIniDocument ini(QString{});
    ini.Parse(QString::fromUtf8(file));
    TIniDocument::SectionReader reader = ini.Reader(QStringLiteral("t"));
    QVERIFY(reader.Exists());
    const QString absent = QStringLiteral("<absent>");
    for (const QString& key : keys) {
        QStringView value;
        const QString found = reader.Find(key, value) ? value.toString() : absent;
        QCOMPARE(found, ini.ReadString(QStringLiteral("T"), key, absent));
    }
    QVERIFY(!ini.Reader(QStringLiteral("missing")).Exists());
}

void TstIni::sectionWriterUpdatesTheFirstEntry_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QStringList>("writes"); // key=value, in this order
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("in order, one new key")
        << QByteArray("[T]\na=1\nb=2\nc=3\n") << QStringLiteral("t")
        << QStringList{"a=x", "b=2", "c=z", "d=w"}
        << QByteArray("[T]\r\na=x\r\nb=2\r\nc=z\r\nd=w\r\n\r\n");
    QTest::newRow("out of order") << QByteArray("[T]\na=1\nb=2\nc=3\n") << QStringLiteral("t")
                                  << QStringList{"c=z", "a=x", "new=n", "b=y"}
                                  << QByteArray("[T]\r\na=x\r\nb=y\r\nc=z\r\nnew=n\r\n\r\n");
    QTest::newRow("duplicate right after")
        << QByteArray("[T]\nk1=a\nk2=b\nk1=dup\n") << QStringLiteral("t")
        << QStringList{"k2=B", "k1=A"} << QByteArray("[T]\r\nk1=A\r\nk2=B\r\nk1=dup\r\n\r\n");
    QTest::newRow("other letter case keeps the file's name")
        << QByteArray("[T]\nRootFolder=/a\n") << QStringLiteral("t")
        << QStringList{"rootfolder=/b", "ROOTFOLDER=/c"}
        << QByteArray("[T]\r\nRootFolder=/c\r\n\r\n");
    QTest::newRow("same key twice in a row")
        << QByteArray("[T]\n") << QStringLiteral("t") << QStringList{"k=1", "k=2", "K=3"}
        << QByteArray("[T]\r\nk=3\r\n\r\n");
    QTest::newRow("new section") << QByteArray("[T]\na=1\n") << QStringLiteral("N")
                                 << QStringList{"x=", "y=2"}
                                 << QByteArray("[T]\r\na=1\r\n\r\n[N]\r\nx=\r\ny=2\r\n\r\n");
}

void TstIni::sectionWriterUpdatesTheFirstEntry() {
    QFETCH(QByteArray, file);
    QFETCH(QString, section);
    QFETCH(QStringList, writes);
    QFETCH(QByteArray, expected);
    TIniDocument ini(QString{});
    ini.Parse(QString::fromUtf8(file));
    TIniDocument::SectionWriter writer = ini.Writer(section);
    for (const QString& w : writes) {
        const qsizetype eq = w.indexOf(QLatin1Char('='));
        writer.Write(QStringView(w).left(eq), QStringView(w).mid(eq + 1));
    }
    QCOMPARE(ini.ToBytes(), QByteArray("\xEF\xBB\xBF") + expected);
}

void TstIni::lineBreaksRefusedWhereverTheyAre_data() {
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("refused");
    const QString text = QStringLiteral("abcdefghij");
    // Every position within a group of four units and beyond.
    for (int at = 0; at < 9; ++at) {
        QTest::addRow("LF at %d", at) << QString(text).insert(at, QLatin1Char('\n')) << true;
        QTest::addRow("CR at %d", at) << QString(text).insert(at, QLatin1Char('\r')) << true;
    }
    QTest::newRow("tab, vertical tab and form feed") << QStringLiteral("a\tb\vc\fd") << false;
    QTest::newRow("control characters beside the line ends")
        << QStringLiteral("a\x0b\x0c\x0e\x1f\x01z") << false;
    QTest::newRow("units above 0x8000") << QStringLiteral("語\uFFFF\u8000\u800Dx") << false;
    QTest::newRow("LF after units above 0x8000") << QStringLiteral("\uFFFF\u8000\n") << true;
}

void TstIni::lineBreaksRefusedWhereverTheyAre() {
    QFETCH(QString, value);
    QFETCH(bool, refused);
    TIniDocument ini(QString{});
    ini.SetCollectRefusals(true);
    ini.WriteString(QStringLiteral("A"), QStringLiteral("k"), value);
    QCOMPARE(ini.Refusals().size(), refused ? 1 : 0);
    // What was stored reads back the same from the written bytes.
    TIniDocument back(QString{});
    QByteArray bytes = ini.ToBytes();
    bytes.remove(0, 3);
    back.Parse(QString::fromUtf8(bytes));
    QCOMPARE(back.ReadString(QStringLiteral("A"), QStringLiteral("k"), QStringLiteral("<none>")),
             refused ? QStringLiteral("<none>") : value);
}

void TstIni::manyWrittenValuesStayIntact() {
    // Written values outlive the storage block they started in: thousands of values,
    // some larger than a block, all read back after the document grew.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("t.ini"));
    WriteAll(path, "[A]\nk0=old\n");
    auto value = [](int i) {
        return i % 500 == 7 ? QString(70000 + i, QChar(u'a' + i % 26))
                            : QStringLiteral("valor %1 ñ").arg(i).repeated(1 + i % 5);
    };
    {
        TIniDocument ini(path);
        TIniDocument::SectionWriter a = ini.Writer(QStringLiteral("A"));
        for (int i = 0; i < 3000; ++i)
            a.Write(QStringLiteral("k%1").arg(i), value(i));
        for (int i = 0; i < 3000; ++i)
            QCOMPARE(ini.ReadString(QStringLiteral("A"), QStringLiteral("k%1").arg(i), QString()),
                     value(i));
        ini.Update();
    }
    TIniDocument back(path);
    QCOMPARE(back.EntryCount(QStringLiteral("A")), 3000);
    for (int i = 0; i < 3000; ++i)
        QCOMPARE(back.ReadString(QStringLiteral("A"), QStringLiteral("k%1").arg(i), QString()),
                 value(i));
}

QTEST_GUILESS_MAIN(TstIni)
#include "tst_ini.moc"
