#include "app/OutputLogic.h"
#include "app/PlaylistCursor.h"
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
    void markersFollowTheirRows_data();
    void markersFollowTheirRows();
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
}

// Markers are written "current/next"; the edits act on a list of rows rows.
void TstPlayoutLogic::markersFollowTheirRows_data() {
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("edit"); // d<i>: delete row i; i<at>x<n>: insert n; m<f>t<t>: move
    QTest::addColumn<int>("current");
    QTest::addColumn<int>("next");
    QTest::addColumn<int>("expectedCurrent");
    QTest::addColumn<int>("expectedNext");
    // Five rows, row 2 playing, row 3 next.
    QTest::newRow("delete above both") << 5 << "d0" << 2 << 3 << 1 << 2;
    QTest::newRow("delete the playing row") << 5 << "d2" << 2 << 3 << -1 << 2;
    QTest::newRow("delete the next row: the one below takes its place")
        << 5 << "d3" << 2 << 3 << 2 << 3;
    QTest::newRow("delete below both") << 5 << "d4" << 2 << 3 << 2 << 3;
    QTest::newRow("delete the next row when it is the last") << 5 << "d4" << 3 << 4 << 3 << 0;
    QTest::newRow("next wrapped to the top, delete above the playing row")
        << 5 << "d1" << 4 << 0 << 3 << 0;
    QTest::newRow("nothing named stays so") << 5 << "d0" << -1 << -1 << -1 << -1;
    QTest::newRow("a \"Repetir desde:\" row beyond the list") << 2 << "d0" << 1 << 8 << 0 << 0;
    QTest::newRow("insert above both") << 5 << "i0x2" << 2 << 3 << 4 << 5;
    QTest::newRow("insert between") << 5 << "i3x1" << 2 << 3 << 2 << 4;
    QTest::newRow("insert at the playing row") << 5 << "i2x1" << 2 << 3 << 3 << 4;
    QTest::newRow("append") << 5 << "i5x3" << 2 << 3 << 2 << 3;
    QTest::newRow("append after a next row not there yet: it names the new row")
        << 2 << "i2x2" << 1 << 2 << 1 << 2;
    QTest::newRow("move the playing row down") << 5 << "m2t4" << 2 << 3 << 4 << 2;
    QTest::newRow("move a row from above to below") << 5 << "m0t4" << 2 << 3 << 1 << 2;
    QTest::newRow("move a row from below to above") << 5 << "m4t0" << 2 << 3 << 3 << 4;
    QTest::newRow("move the next row to the top") << 5 << "m3t0" << 2 << 3 << 3 << 0;
    QTest::newRow("move below both") << 5 << "m4t4" << 2 << 3 << 2 << 3;
}

void TstPlayoutLogic::markersFollowTheirRows() {
    QFETCH(int, rows);
    QFETCH(QString, edit);
    QFETCH(int, current);
    QFETCH(int, next);
    QFETCH(int, expectedCurrent);
    QFETCH(int, expectedNext);
    // A model of the list: each row is its original number, so the markers can be
    // checked against the rows they named.
    QList<int> list;
    for (int i = 0; i < rows; ++i)
        list << i;
    PlaylistCursor cursor{current, next};
    const QChar kind = edit.at(0);
    const QStringList n = edit.mid(1).split(QRegularExpression(QStringLiteral("[xt]")));
    if (kind == QLatin1Char('d')) {
        list.removeAt(n[0].toInt());
        cursor.RowRemoved(n[0].toInt(), int(list.size()));
    } else if (kind == QLatin1Char('i')) {
        const int before = int(list.size());
        for (int k = 0; k < n[1].toInt(); ++k)
            list.insert(n[0].toInt(), 100 + k);
        cursor.RowsInserted(n[0].toInt(), n[1].toInt(), before);
    } else {
        list.move(n[0].toInt(), n[1].toInt());
        cursor.RowMoved(n[0].toInt(), n[1].toInt(), int(list.size()));
    }
    QCOMPARE(cursor.CurrentIndex, expectedCurrent);
    QCOMPARE(cursor.NextIndex, expectedNext);
    // A marker that still names a row names the same row as before the edit.
    if (expectedCurrent >= 0 && current >= 0 && current < rows)
        QCOMPARE(list.at(cursor.CurrentIndex), current);
    if (next >= 0 && next < rows && list.contains(next) && expectedNext < list.size())
        QCOMPARE(list.at(cursor.NextIndex), next);
}

void TstPlayoutLogic::endOfMedia_data() {
    QTest::addColumn<bool>("played");
    QTest::addColumn<bool>("announce");
    QTest::addColumn<bool>("repeat");
    QTest::addColumn<bool>("stopAfter");
    QTest::addColumn<bool>("top");
    QTest::addColumn<QString>("plan"); // a r n c, or "-" for nothing
    QTest::newRow("never played: nothing") << false << true << true << false << true << "-";
    QTest::newRow("end already acted on: nothing")
        << false << false << false << false << false << "-";
    QTest::newRow("plain end runs Next") << true << false << false << false << false << "n";
    QTest::newRow("repeat") << true << false << true << false << false << "rn";
    QTest::newRow("stop after this") << true << false << false << true << false << "";
    QTest::newRow("announce and first caption") << true << true << false << false << true << "anc";
}

void TstPlayoutLogic::endOfMedia() {
    QFETCH(bool, played);
    QFETCH(bool, announce);
    QFETCH(bool, repeat);
    QFETCH(bool, stopAfter);
    QFETCH(bool, top);
    QFETCH(QString, plan);
    const EndOfMediaPlan p = PlanEndOfMedia(played, announce, repeat, stopAfter, top);
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
