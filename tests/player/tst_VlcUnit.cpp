// Pure pieces of the player: time formatting, the argument vector, the
// version parser, the routing of Play and the VLC folder override.
#include "tests/SessionSkip.h"
#include <QApplication>
#include <QTemporaryDir>
#include <QtTest>

#include "platform/VlcFolder.h"
#include "player/VlcPlayerUnit.h"
#include "player/VlcUnit.h"

namespace {

// Records which route Play took, without playing anything.
class TRouteProbe : public TVlcPlayer {
public:
    QString route;
    QString mrl;
    quint32 audioSetTimeOut = 0;
    quint32 youtubeTimeout = 0;
    void PlayNormal(const QString& m, const QStringList&, const QString&, const QString&,
                    quint32 timeout) override {
        route = QStringLiteral("normal");
        mrl = m;
        audioSetTimeOut = timeout;
    }
    void PlayYoutube(const QString& m, const QStringList&, const QString&, const QString&,
                     quint32 timeout, quint32 ytTimeout) override {
        route = QStringLiteral("youtube");
        mrl = m;
        audioSetTimeOut = timeout;
        youtubeTimeout = ytTimeout;
    }
};

} // namespace

class TestVlcUnit : public QObject {
    Q_OBJECT
private slots:
    void timeMsToStr_data();
    void timeMsToStr();
    void argcArgsFiltering();
    void argcArgsLimit();
    void versionParsing_data();
    void versionParsing();
    void playRouting_data();
    void playRouting();
    void vlcFolderOverride();
};

void TestVlcUnit::timeMsToStr_data() {
    QTest::addColumn<qint64>("ms");
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("expected");
    const qint64 h = 3600000;
    QTest::newRow("negative") << qint64(-5000) << "hh:mm:ss"
                              << "00:00:00";
    QTest::newRow("zero") << qint64(0) << "hh:mm:ss"
                          << "00:00:00";
    QTest::newRow("with ms") << (h + 2 * 60000 + 3000 + 42) << "hh:mm:ss.ms"
                             << "01:02:03.042";
    QTest::newRow("ms two digits") << qint64(1099) << "ss.ms"
                                   << "01.099";
    QTest::newRow("ms three digits") << qint64(1999) << "ss.ms"
                                     << "01.999";
    QTest::newRow("ms of 7") << qint64(7) << "ms"
                             << "007";
    QTest::newRow("25 hours hh:mm:ss") << 25 * h << "hh:mm:ss"
                                       << "01:00:00";
    QTest::newRow("25 hours dd hh") << 25 * h << "dd hh"
                                    << "01 01";
    QTest::newRow("capitals") << qint64(h + 2 * 60000 + 3000) << "HH:MM:SS"
                              << "01:02:03";
    QTest::newRow("mixed case") << (h + 2 * 60000 + 3000 + 5) << "Hh-mM-sS.Ms"
                                << "01-02-03.005";
    QTest::newRow("59:59") << qint64(59 * 60000 + 59000) << "mm:ss"
                           << "59:59";
    QTest::newRow("100 days") << 100 * 24 * h << "dd"
                              << "100";
    QTest::newRow("no tokens") << qint64(5000) << "abc"
                               << "abc";
}

void TestVlcUnit::timeMsToStr() {
    QFETCH(qint64, ms);
    QFETCH(QString, format);
    QFETCH(QString, expected);
    QCOMPARE(TimeMsToStr(ms, format), expected);
}

void TestVlcUnit::argcArgsFiltering() {
    TArgcArgs a;
    a.AddArg(QString());
    a.AddArg(QStringLiteral("   "));
    a.AddArg(QStringLiteral(" --quiet "));
    a.AddArg(QStringLiteral(" --quiet "));             // exact duplicate: skipped
    a.AddArg(QStringLiteral("--QUIET"));               // differs in case: kept
    a.AddArg(QStringLiteral(" --quiet "), true, true); // duplicates allowed
    a.AddArg(QStringLiteral("  "), false, false);      // blanks kept when not ignored
    a.AddArg(QStringList{QStringLiteral("--a"), QString(), QStringLiteral("--a"),
                         QStringLiteral("--ñandú")});
    QCOMPARE(a.Args(), (QStringList{" --quiet ", "--QUIET", " --quiet ", "  ", "--a", "--ñandú"}));
    QCOMPARE(a.ARGC(), 6);
    const char* const* argv = a.ARGS();
    QCOMPARE(QByteArray(argv[0]), QByteArray(" --quiet "));
    QCOMPARE(QByteArray(argv[5]), QString::fromUtf8("--ñandú").toUtf8()); // UTF-8 bytes
    QVERIFY(argv[6] == nullptr);
}

void TestVlcUnit::argcArgsLimit() {
    TArgcArgs a;
    for (int i = 1; i <= 1030; ++i)
        a.AddArg(QStringLiteral("--opt%1").arg(i));
    QCOMPARE(a.ARGC(), 1024);
    QCOMPARE(a.Args().last(), QStringLiteral("--opt1024"));
    QVERIFY(!a.Args().contains(QStringLiteral("--opt1025")));
}

void TestVlcUnit::versionParsing_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<quint32>("expected");
    QTest::newRow("release name") << "3.0.18 Vetinari" << quint32(3 * 65536 + 0 * 256 + 18);
    QTest::newRow("old") << "2.1.5 Rincewind" << quint32(2 * 65536 + 1 * 256 + 5);
    QTest::newRow("commas") << "2,2,0" << quint32(2 * 65536 + 2 * 256);
    QTest::newRow("two parts") << "4.0" << quint32(4 * 65536);
    QTest::newRow("zero") << "0.9.10" << quint32(9 * 256 + 10);
    QTest::newRow("garbage") << "abc" << quint32(0);
}

void TestVlcUnit::versionParsing() {
    QFETCH(QString, text);
    QFETCH(quint32, expected);
    QCOMPARE(ParseLibVlcVersion(text), expected);
}

void TestVlcUnit::playRouting_data() {
    QTest::addColumn<QString>("mrl");
    QTest::addColumn<QString>("route");
    QTest::newRow("www") << "https://www.youtube.com/watch?v=abc"
                         << "youtube";
    QTest::newRow("bare domain") << "http://youtube.com/watch?v=abc"
                                 << "youtube";
    QTest::newRow("capitals") << "HTTPS://WWW.YOUTUBE.COM/watch?v=abc"
                              << "youtube";
    QTest::newRow("blanks") << "  https://youtube.com/watch?v=abc \t"
                            << "youtube";
    QTest::newRow("host only") << "https://www.youtube.com"
                               << "youtube";
    QTest::newRow("explicit port") << "https://www.youtube.com:443/watch?v=abc"
                                   << "normal";
    QTest::newRow("other host") << "https://m.youtube.com/watch?v=abc"
                                << "normal";
    QTest::newRow("look-alike") << "https://youtube.com.example.org/x"
                                << "normal";
    QTest::newRow("other scheme") << "rtsp://www.youtube.com/watch?v=abc"
                                  << "normal";
    QTest::newRow("ftp") << "ftp://youtube.com/x"
                         << "normal";
    QTest::newRow("no scheme") << "www.youtube.com/watch?v=abc"
                               << "normal";
    QTest::newRow("local file") << "/home/user/video.mp4"
                                << "normal";
    QTest::newRow("empty") << ""
                           << "normal";
}

void TestVlcUnit::playRouting() {
    QFETCH(QString, mrl);
    QFETCH(QString, route);
    TRouteProbe probe;
    probe.Play(mrl, {}, {}, {}, 777);
    QCOMPARE(probe.route, route);
    QCOMPARE(probe.mrl, mrl); // both routes receive the unchanged text
    if (route == QLatin1String("youtube")) {
        QCOMPARE(probe.audioSetTimeOut, 1000u); // the caller's time-out is not used there
        QCOMPARE(probe.youtubeTimeout, 10000u);
    } else {
        QCOMPARE(probe.audioSetTimeOut, 777u);
    }
}

void TestVlcUnit::vlcFolderOverride() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    qputenv("TAVORIA_VLC_DIR", (dir.path() + QStringLiteral("//")).toLocal8Bit());
    QCOMPARE(VlcInstallDir(), dir.path());
    qunsetenv("TAVORIA_VLC_DIR");
    const QString found = VlcInstallDir();
    if (found.isEmpty())
        TAVORIA_SKIP_WITHOUT_SESSION("no VLC installation on this machine");
    QVERIFY2(QFileInfo(found + QStringLiteral("/plugins")).isDir(), qPrintable(found));
}

QTEST_MAIN(TestVlcUnit)
#include "tst_VlcUnit.moc"
