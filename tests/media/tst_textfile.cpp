#include "media/TavoriaError.h"
#include "media/TextFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>
#include <atomic>
#include <thread>

namespace {
QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}
} // namespace

class TstTextFile : public QObject {
    Q_OBJECT
private slots:
    void writesExactUtf8Bytes_data();
    void writesExactUtf8Bytes();
    void failureNamesPathAndReason();
    void readerNeverSeesPartialFile();
    void readTextSkipsBom();
    void transientWritesSameBytes_data();
    void transientWritesSameBytes();
    void transientFailuresAndLeftovers();
    void transientReaderNeverSeesPartialFile();
};

void TstTextFile::writesExactUtf8Bytes_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("empty gives 0 bytes") << QString() << QByteArray();
    QTest::newRow("clock") << QStringLiteral("09:05:03") << QByteArray("09:05:03");
    QTest::newRow("accents, no BOM") << QStringLiteral("Señor Ñúñez")
                                     << QByteArray("Se\xC3\xB1or \xC3\x91\xC3\xBA\xC3\xB1"
                                                   "ez");
    QTest::newRow("tab kept, no line break added") << QStringLiteral("A\tB") << QByteArray("A\tB");
}

void TstTextFile::writesExactUtf8Bytes() {
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("out.txt"));
    // A longer previous content must not survive.
    WriteTextFile(QString(500, QLatin1Char('z')), path);
    WriteTextFile(text, path);
    QCOMPARE(ReadAll(path), bytes);
}

void TstTextFile::failureNamesPathAndReason() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("no/such/folder/hora.txt"));
    try {
        WriteTextFile(QStringLiteral("x"), path);
        QFAIL("write into a missing folder must fail");
    } catch (const TavoriaError& e) {
        QVERIFY2(e.message().contains(QDir::toNativeSeparators(path)), qPrintable(e.message()));
        // The system's reason follows the path.
        QVERIFY2(e.message().size() > path.size() + 25, qPrintable(e.message()));
    }
    // A folder in place of the file.
    const QString folder = dir.filePath(QStringLiteral("ponente.txt"));
    QVERIFY(QDir().mkpath(folder));
    QVERIFY_THROWS_EXCEPTION(TavoriaError, WriteTextFile(QStringLiteral("x"), folder));
}

void TstTextFile::readerNeverSeesPartialFile() {
    // An overlay tool reads the caption file while the desk rewrites it.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ponente.txt"));
    const QString a(64 * 1024, QLatin1Char('a'));
    const QString b(32 * 1024, QLatin1Char('b'));
    WriteTextFile(a, path);
    std::atomic<bool> stop{false};
    std::atomic<int> reads{0}, bad{0};
    std::thread reader([&] {
        const QByteArray ba = a.toUtf8(), bb = b.toUtf8();
        while (!stop) {
            const QByteArray got = ReadAll(path);
            if (got != ba && got != bb)
                ++bad;
            ++reads;
        }
    });
    for (int i = 0; i < 300; ++i)
        WriteTextFile(i % 2 ? a : b, path);
    stop = true;
    reader.join();
    QVERIFY(reads > 0);
    QCOMPARE(bad.load(), 0);
}

void TstTextFile::readTextSkipsBom() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("m.txt"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("\xEF\xBB\xBF"
            "A\tB");
    f.close();
    QCOMPARE(ReadTextFile(path), QStringLiteral("A\tB"));
}

void TstTextFile::transientWritesSameBytes_data() {
    writesExactUtf8Bytes_data();
}

void TstTextFile::transientWritesSameBytes() {
    // The overlay files rewritten every second skip the flush to disk but not the
    // atomic replacement: same bytes, same permissions as the file they replace.
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("hora.txt"));
    WriteTextFile(QString(500, QLatin1Char('z')), path, FileSync::Transient);
    // A new file gets the permissions of any new file (the umask's), not the
    // private ones of a temporary file: an overlay tool may run as another user.
    const QString plain = dir.filePath(QStringLiteral("plain.txt"));
    {
        QFile f(plain);
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    QCOMPARE(QFile::permissions(path), QFile::permissions(plain));
    QVERIFY(QFile::remove(plain));
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
    WriteTextFile(text, path, FileSync::Transient);
    QCOMPARE(ReadAll(path), bytes);
    QCOMPARE(QFile::permissions(path) & 0x7077,
             (QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther) & 0x7077);
    // A link is followed: the file it names gets the text.
    const QString real = dir.filePath(QStringLiteral("real.txt"));
    const QString link = dir.filePath(QStringLiteral("link.txt"));
    WriteTextFile(QStringLiteral("old"), real, FileSync::Transient);
    QVERIFY(QFile::link(real, link));
    WriteTextFile(text, link, FileSync::Transient);
    QCOMPARE(ReadAll(real), bytes);
    QVERIFY(QFileInfo(link).isSymLink());
    // Nothing but the files themselves is left in the folder.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
             (QStringList{QStringLiteral("hora.txt"), QStringLiteral("link.txt"),
                          QStringLiteral("real.txt")}));
}

void TstTextFile::transientFailuresAndLeftovers() {
    QTemporaryDir dir;
    // A missing folder: the path and the reason, as for a durable write.
    const QString missing = dir.filePath(QStringLiteral("no/such/folder/hora.txt"));
    try {
        WriteTextFile(QStringLiteral("x"), missing, FileSync::Transient);
        QFAIL("write into a missing folder must fail");
    } catch (const TavoriaError& e) {
        QVERIFY2(e.message().contains(QDir::toNativeSeparators(missing)), qPrintable(e.message()));
        QVERIFY2(e.message().size() > missing.size() + 25, qPrintable(e.message()));
    }
    // A folder in place of the file: the rename fails, and the temporary file is
    // removed again.
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("conteo.txt"))));
    QVERIFY_THROWS_EXCEPTION(TavoriaError, WriteTextFile(QStringLiteral("x"),
                                                         dir.filePath(QStringLiteral("conteo.txt")),
                                                         FileSync::Transient));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
    // A folder path that runs through a file.
    const QString file = dir.filePath(QStringLiteral("plain"));
    WriteTextFile(QStringLiteral("x"), file, FileSync::Transient);
    QVERIFY_THROWS_EXCEPTION(TavoriaError,
                             WriteTextFile(QStringLiteral("x"), file + QStringLiteral("/hora.txt"),
                                           FileSync::Transient));
}

void TstTextFile::transientReaderNeverSeesPartialFile() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("conteo.txt"));
    const QString a(64 * 1024, QChar(0x00F1)); // two bytes each in UTF-8
    const QString b = QStringLiteral("04:59");
    WriteTextFile(a, path, FileSync::Transient);
    std::atomic<bool> stop{false};
    std::atomic<int> reads{0}, bad{0};
    std::thread reader([&] {
        const QByteArray ba = a.toUtf8(), bb = b.toUtf8();
        while (!stop) {
            const QByteArray got = ReadAll(path);
            if (got != ba && got != bb)
                ++bad;
            ++reads;
        }
    });
    for (int i = 0; i < 1000; ++i)
        WriteTextFile(i % 2 ? a : b, path, FileSync::Transient);
    stop = true;
    reader.join();
    QVERIFY(reads > 0);
    QCOMPARE(bad.load(), 0);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

QTEST_GUILESS_MAIN(TstTextFile)
#include "tst_textfile.moc"
