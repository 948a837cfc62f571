#include "app/OutputLogic.h"
#include "app/PlayoutLogic.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {
void Touch(const QString& path) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("x");
}
} // namespace

class TstPlayoutLogic : public QObject {
    Q_OBJECT
private slots:
    void playOptions_data();
    void playOptions();
    void sequencing();
    void endOfMedia_data();
    void endOfMedia();
    void endTime();
    void deviceIdForName_data();
    void deviceIdForName();
    void outputValues();
};

void TstPlayoutLogic::playOptions_data() {
    QTest::addColumn<QString>("file");       // created under the media folder ("" = none)
    QTest::addColumn<QStringList>("covers"); // created beside it
    QTest::addColumn<bool>("workDirCover");  // "cover.png" in the working folder
    QTest::addColumn<bool>("udp");
    QTest::addColumn<QString>("expectedCover"); // relative to the media folder, or "cover.png"
    QTest::addColumn<QString>("expectedStatus");
    QTest::newRow("mp4, udp") << "clip.mp4" << QStringList{"cover.png"} << false << true << ""
                              << "";
    QTest::newRow("mp3 with png and jpg takes png")
        << "song.mp3" << QStringList{"cover.png", "cover.jpg"} << false << false << "cover.png"
        << "media/cover.png";
    QTest::newRow("mp3 with jpg only")
        << "song.mp3" << QStringList{"cover.jpg"} << false << false << "cover.jpg"
        << "media/cover.jpg";
    QTest::newRow("mp3 without cover, working folder has one")
        << "song.mp3" << QStringList{} << true << false << "<work>"
        << "cover.png";
    QTest::newRow("mp3 without any cover") << "song.mp3" << QStringList{} << false << false << ""
                                           << "cover.png";
    QTest::newRow("upper-case MP3 gets no cover")
        << "SONG.MP3" << QStringList{"cover.png"} << false << false << ""
        << "";
    QTest::newRow("mp3 that does not exist")
        << "" << QStringList{"cover.png"} << false << false << ""
        << "";
    QTest::newRow("awkward folder name")
        << "a b #1 %20/song.mp3" << QStringList{"cover.jpg"} << false << true << "cover.jpg"
        << "media/a b #1 %20/cover.jpg";
}

void TstPlayoutLogic::playOptions() {
    QFETCH(QString, file);
    QFETCH(QStringList, covers);
    QFETCH(bool, workDirCover);
    QFETCH(bool, udp);
    QFETCH(QString, expectedCover);
    QFETCH(QString, expectedStatus);
    QTemporaryDir dir;
    const QString work = dir.filePath(QStringLiteral("work"));
    QVERIFY(QDir().mkpath(work));
    const QString media = dir.filePath(QStringLiteral("media"));
    const QString path = media + QLatin1Char('/') + (file.isEmpty() ? "gone.mp3" : file);
    const QString folder = QFileInfo(path).absolutePath();
    QVERIFY(QDir().mkpath(folder));
    if (!file.isEmpty())
        Touch(path);
    for (const QString& c : covers)
        Touch(folder + QLatin1Char('/') + c);
    if (workDirCover)
        Touch(work + QStringLiteral("/cover.png"));

    const PlayOptions p = BuildPlayOptions(path, udp, QStringLiteral("127.0.0.1:9010"), work);
    QStringList expected;
    if (udp)
        expected << QStringLiteral(":sout=#udp{dst=127.0.0.1:9010}");
    if (!expectedCover.isEmpty()) {
        const QString coverPath = expectedCover == QStringLiteral("<work>")
                                      ? work + QStringLiteral("/cover.png")
                                      : folder + QLatin1Char('/') + expectedCover;
        // libVLC gets a file URL that names the picture exactly, whatever the path.
        expected << QStringLiteral(":input-slave=") +
                        QUrl::fromLocalFile(coverPath).toString(QUrl::FullyEncoded);
        QVERIFY(QUrl(expected.last().mid(13)).toLocalFile() == coverPath);
    }
    QCOMPARE(p.options, expected);
    QString status = expectedStatus;
    if (status.startsWith(QStringLiteral("media/")))
        status = dir.filePath(status);
    QCOMPARE(p.status, status);
}

void TstPlayoutLogic::sequencing() {
    // Three rows, "Repetir desde:" 1: 0, 1, 2, 0, ...
    int next = 0;
    QList<int> played;
    for (int i = 0; i < 4; ++i) {
        const int row = RowToPlay(next, 3);
        played << row;
        next = NextIndexAfter(row, 3, 1);
    }
    QCOMPARE(played, (QList<int>{0, 1, 2, 0}));
    // One row: after Next, NextIndex is "Repetir desde:" - 1.
    QCOMPARE(NextIndexAfter(0, 1, 3), 2);
    // A NextIndex naming no row starts the list again from its first row.
    QCOMPARE(RowToPlay(-1, 5), 0);
    QCOMPARE(RowToPlay(7, 5), 0);
    QCOMPARE(RowToPlay(0, 0), -1);
    // Removal: beyond the end goes back to 0; -1 stays -1.
    QCOMPARE(NextIndexAfterRemoval(4, 4), 0);
    QCOMPARE(NextIndexAfterRemoval(3, 4), 3);
    QCOMPARE(NextIndexAfterRemoval(-1, 0), -1);
}

void TstPlayoutLogic::endOfMedia_data() {
    QTest::addColumn<int>("lastTime");
    QTest::addColumn<bool>("announce");
    QTest::addColumn<bool>("repeat");
    QTest::addColumn<bool>("stopAfter");
    QTest::addColumn<bool>("top");
    QTest::addColumn<QString>("plan"); // a r n c, or "-" for nothing
    QTest::newRow("4.9 s: nothing") << 4900 << true << true << false << true << "-";
    QTest::newRow("exactly 5 s: nothing") << 5000 << false << false << false << false << "-";
    QTest::newRow("second end after reset") << 0 << false << false << false << false << "-";
    QTest::newRow("plain end runs Next") << 30000 << false << false << false << false << "n";
    QTest::newRow("repeat") << 5001 << false << true << false << false << "rn";
    QTest::newRow("stop after this") << 9000 << false << false << true << false << "";
    QTest::newRow("announce and first caption") << 9000 << true << false << false << true << "anc";
}

void TstPlayoutLogic::endOfMedia() {
    QFETCH(int, lastTime);
    QFETCH(bool, announce);
    QFETCH(bool, repeat);
    QFETCH(bool, stopAfter);
    QFETCH(bool, top);
    QFETCH(QString, plan);
    const EndOfMediaPlan p = PlanEndOfMedia(lastTime, announce, repeat, stopAfter, top);
    QString got;
    if (!p.act)
        got = QStringLiteral("-");
    else {
        if (p.announce)
            got += QLatin1Char('a');
        if (p.repeat)
            got += QLatin1Char('r');
        if (p.next)
            got += QLatin1Char('n');
        if (p.firstCaption)
            got += QLatin1Char('c');
    }
    QCOMPARE(got, plan);
}

void TstPlayoutLogic::endTime() {
    QCOMPARE(EndTimeText(90 * 60 * 1000, QTime(10, 0, 0)),
             QStringLiteral("Termina a las: 11:30:00"));
    // A length of 25 h shows as 01:00:00 and ends an hour later.
    QCOMPARE(EndTimeText(25LL * 3600 * 1000, QTime(10, 0, 0)),
             QStringLiteral("Termina a las: 11:00:00"));
    QCOMPARE(EndTimeText(1999, QTime(23, 59, 59)), QStringLiteral("Termina a las: 00:00:00"));
}

void TstPlayoutLogic::deviceIdForName_data() {
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("id");
    const QStringList lines{"main_out|MainOut", "jingle_out|JingleCard", "Ji|x Jingle"};
    QTest::newRow("description holds the name") << lines << "JingleCard"
                                                << "jingle_out";
    QTest::newRow("case differs") << lines << "jinglecard"
                                  << "";
    QTest::newRow("empty name") << lines << ""
                                << "";
    QTest::newRow("only at the start of a line") << QStringList{"Ji|x"} << "Ji"
                                                 << "";
    QTest::newRow("first occurrence at start, later one ignored")
        << QStringList{"MainOut|MainOut", "b|MainOut"} << "MainOut"
        << "b";
    QTest::newRow("third character counts") << QStringList{"abMain|y"} << "Main"
                                            << "abMain";
    QTest::newRow("no match") << lines << "Nothing"
                              << "";
}

void TstPlayoutLogic::deviceIdForName() {
    QFETCH(QStringList, lines);
    QFETCH(QString, name);
    QFETCH(QString, id);
    QCOMPARE(DeviceIdForName(lines, name), id);
}

void TstPlayoutLogic::outputValues() {
    QCOMPARE(MasterLevel(1), 99);
    QCOMPARE(MasterLevel(100), 0);
    QCOMPARE(DuckedLevel(75), 25);
    QCOMPARE(DuckedLevel(90), 10);
    QCOMPARE(AdjustValue(0), 0.0f);
    QCOMPARE(AdjustValue(100), 1.0f);
    QCOMPARE(AdjustValue(300), 3.0f);
    QCOMPARE(ResolutionSize(QStringLiteral("N1080p1")), QSize(1920, 1080));
    QCOMPARE(ResolutionSize(QStringLiteral("N240p1")), QSize(426, 240));
    QVERIFY(!ResolutionSize(QStringLiteral("N360p1")).isValid());
    QCOMPARE(NdiPluginPath(QStringLiteral("/usr/lib/vlc")),
             QStringLiteral("/usr/lib/vlc/plugins/video_output/libndi_plugin.so"));
    QCOMPARE(NdiPluginPath(QString()), QStringLiteral("/plugins/video_output/libndi_plugin.so"));
}

QTEST_GUILESS_MAIN(TstPlayoutLogic)
#include "tst_playoutlogic.moc"
