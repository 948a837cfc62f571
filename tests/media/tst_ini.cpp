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
    // Documents opened one after another on an unchanged file may share one parse;
    // a file changed in between (same size, by another program) must be read anew.
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

QTEST_GUILESS_MAIN(TstIni)
#include "tst_ini.moc"
