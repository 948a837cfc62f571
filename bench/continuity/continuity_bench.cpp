// Continuity of a long run: a 60-row playlist of clips of 1 to 8 s (some with sound,
// some picture only), three missing files and two broken ones, played by itself with
// "Saltar pistas con error" and "Transmitir por UDP" on. Prints the rows played in
// order, the stops, the rows shown on air that were not playing, and the largest gaps
// on the UDP stream (datagram arrival) and on the monitor (a clip's end report to the
// next clip's playing report, from libVLC's reports). Run inside a display with a sound
// server:
//
//   continuity_bench [rows]        (default 60)
#include "app/TfrmMain.h"
#include "player/VlcPlayerUnit.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QNetworkDatagram>
#include <QProcess>
#include <QSpinBox>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>
#include <QUdpSocket>
#include <algorithm>
#include <cstdio>

namespace {

bool MakeClip(const QString& out, int seconds, bool sound) {
    QStringList args{"-v",
                     "error",
                     "-y",
                     "-f",
                     "lavfi",
                     "-i",
                     QStringLiteral("testsrc=size=320x240:rate=25:d=%1").arg(seconds)};
    if (sound)
        args << "-f"
             << "lavfi"
             << "-i" << QStringLiteral("sine=f=440:d=%1").arg(seconds);
    args << "-c:v"
         << "libx264"
         << "-preset"
         << "ultrafast"
         << "-pix_fmt"
         << "yuv420p";
    if (sound)
        args << "-c:a"
             << "aac"
             << "-shortest";
    args << out;
    return QProcess::execute(QStringLiteral("ffmpeg"), args) == 0;
}

void AddRow(TListView* pl, const QString& path) {
    pl->AppendRows({pl->MakeRow({QFileInfo(path).fileName(), QStringLiteral("00:00:00"), path,
                                 QStringLiteral("0"), QString()},
                                1)});
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tavoria 3 (beta)"));
    const int rowCount = argc > 1 ? std::max(10, atoi(argv[1])) : 60;
    QTemporaryDir work;
    QDir::setCurrent(work.path());

    // Clips of 1 to 8 s, with and without sound; broken files are bytes no demuxer
    // takes; missing files are never made.
    QString clips[9][2];
    for (int s = 1; s <= 8; ++s)
        for (int sound = 0; sound < 2; ++sound) {
            clips[s][sound] = work.filePath(QStringLiteral("c%1_%2.mp4").arg(s).arg(sound));
            if (!MakeClip(clips[s][sound], s, sound)) {
                std::printf("ffmpeg failed\n");
                return 1;
            }
        }
    const QString broken = work.filePath(QStringLiteral("broken.mp4"));
    {
        QFile f(broken);
        f.open(QIODevice::WriteOnly);
        QByteArray junk(64 * 1024, '\0');
        for (int i = 0; i < junk.size(); ++i)
            junk[i] = char((i * 7919 + 13) % 251);
        f.write(junk);
    }
    QList<int> missingRows, brokenRows;
    for (int row : {7, 23, 41})
        if (row < rowCount)
            missingRows << row;
    for (int row : {15, 33})
        if (row < rowCount)
            brokenRows << row;

    TfrmMain w;
    w.show();
    w.txtCurrentSong->setText(work.path());
    TListView* pl = w.lstPlayList;
    QList<int> playable;
    for (int i = 0; i < rowCount; ++i) {
        if (missingRows.contains(i))
            AddRow(pl, work.filePath(QStringLiteral("missing%1.mp4").arg(i)));
        else if (brokenRows.contains(i))
            AddRow(pl, broken);
        else {
            AddRow(pl, clips[1 + (i * 5) % 8][i % 3 == 0 ? 0 : 1]);
            playable << i;
        }
    }
    QTcpServer probe; // a free port number, reused for UDP
    probe.listen(QHostAddress::LocalHost);
    const quint16 port = probe.serverPort();
    probe.close();
    QUdpSocket udp;
    udp.bind(QHostAddress::LocalHost, port);
    w.chkSaltarError->setChecked(true);
    w.chkUdp->setChecked(true);
    w.txtUdp->setText(QStringLiteral("127.0.0.1:%1").arg(port));
    w.txtRepeat->setValue(1);

    QElapsedTimer clock;
    clock.start();
    qint64 lastDatagram = -1, udpGap = 0;
    bool running = true;
    QObject::connect(&udp, &QUdpSocket::readyRead, [&] {
        while (udp.hasPendingDatagrams()) {
            udp.receiveDatagram();
            const qint64 now = clock.elapsed();
            if (running && lastDatagram >= 0)
                udpGap = std::max(udpGap, now - lastDatagram);
            lastDatagram = now;
        }
    });

    TVlcPlayer* player = w.vlcPlayer;
    QList<int> aired; // rows whose media showed a picture
    int wrongMarkers = 0, stops = 0;
    qint64 lastEnd = -1, monitorGap = 0, idleSince = -1;
    // A media is on air once it reports playing with a sound or picture stream
    // (libVLC reports no picture event through this player; an undecodable file
    // reports playing without any stream).
    bool shown = false, streams = false, playing = false;
    QObject::connect(player, &TVlcPlayer::OnMediaPlayerMediaChanged,
                     [&] { shown = streams = playing = false; });
    auto onAir = [&] {
        if (shown || !streams || !playing)
            return;
        shown = true;
        aired << w.CurrentIndex;
        std::printf("  row %d on the monitor at %.1f s\n", w.CurrentIndex,
                    clock.elapsed() / 1000.0);
        if (lastEnd >= 0)
            monitorGap = std::max(monitorGap, clock.elapsed() - lastEnd);
        // The green row is the row whose file plays.
        const int green = w.CurrentIndex;
        if (green < 0 || TfrmMain::RowFailed(pl->Row(green)) ||
            w.lstPlayListCustomDrawItem(green) != QColor(0, 128, 0) ||
            !player->GetMediaMrl().endsWith(
                QFileInfo(TListView::SubItem(pl->Row(green), 2)).fileName()))
            ++wrongMarkers;
    };
    QObject::connect(player, &TVlcPlayer::OnMediaPlayerEsAdded, [&] {
        streams = true;
        onAir();
    });
    QObject::connect(player, &TVlcPlayer::OnMediaPlayerPlaying, [&] {
        playing = true;
        onAir();
    });
    QObject::connect(player, &TVlcPlayer::OnMediaPlayerEndReached,
                     [&] { lastEnd = clock.elapsed(); });
    auto checkFailedRow = [&] {
        // A row that failed is never painted as on air.
        for (int i = 0; i < pl->RowCount(); ++i)
            if (TfrmMain::RowFailed(pl->Row(i)) &&
                w.lstPlayListCustomDrawItem(i) == QColor(0, 128, 0))
                ++wrongMarkers;
    };
    QObject::connect(player, &TVlcPlayer::OnMediaPlayerEncounteredError, checkFailedRow);

    // A stop: the player idle for more than 1.5 s before the last row; the run then
    // goes on with Next, as the operator would.
    QTimer watch;
    watch.setInterval(100);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const TVlcPlayerState s = player->GetState();
        const bool busy =
            s == vlcPlayer_Opening || s == vlcPlayer_Buffering || s == vlcPlayer_Playing;
        if (busy) {
            idleSince = -1;
            return;
        }
        if (idleSince < 0)
            idleSince = clock.elapsed();
        else if (clock.elapsed() - idleSince > 1500) {
            ++stops;
            idleSince = -1;
            w.cmdNextClick();
        }
    });
    watch.start();
    QTimer::singleShot(1000, &w, [&] { w.cmdNextClick(); });
    // The run ends once the last playable row has aired and ended, or after 10 min.
    QTimer done;
    done.setInterval(200);
    QObject::connect(&done, &QTimer::timeout, [&] {
        const bool lastAired = !aired.isEmpty() && aired.contains(playable.last()) &&
                               lastEnd >= 0 && w.CurrentIndex != playable.last();
        if (lastAired || clock.elapsed() > 600000) {
            running = false;
            app.quit();
        }
    });
    done.start();
    app.exec();
    checkFailedRow();

    // Order: the rows aired in the first pass, against the playable rows in order.
    QList<int> firstPass;
    for (int row : aired) {
        if (!firstPass.isEmpty() && row <= firstPass.last())
            break;
        firstPass << row;
    }
    const bool inOrder = firstPass == playable;
    std::printf("rows: %d (%d playable, %d missing, %d broken)\n", rowCount, int(playable.size()),
                int(missingRows.size()), int(brokenRows.size()));
    std::printf("rows played in order: %d of %d%s\n", int(firstPass.size()), int(playable.size()),
                inOrder ? "" : " (order differs)");
    std::printf("stops: %d\n", stops);
    std::printf("rows shown on air that were not playing: %d\n", wrongMarkers);
    std::printf("largest gap on the UDP stream: %lld ms\n", udpGap);
    std::printf(
        "largest gap on the monitor (end report to the next clip's playing report): %lld ms\n",
        monitorGap);
    std::printf("run time: %.1f s\n", clock.elapsed() / 1000.0);
    return 0;
}
