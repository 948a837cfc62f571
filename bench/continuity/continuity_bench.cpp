// Continuity of a long run: a 60-row playlist of clips of 1 to 8 s (some with sound,
// some picture only), three missing files and two broken ones, played by itself with
// "Saltar pistas con error" and "Transmitir por UDP" on. Prints the rows played in
// order, the stops, the rows shown on air that were not playing, and the largest gaps
// on the UDP stream (datagram arrival) and on the monitor (a clip's end report to the
// next clip's playing report, from libVLC's reports). Then, per change of clip, the two
// rows around it (length, with sound or picture only, the failing rows skipped between)
// with the largest gap of each kind, and the largest gaps by kind of change. Run inside
// a display with a sound server:
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
#include <atomic>
#include <cstdio>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

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
    std::map<int, std::pair<int, bool>> kind; // playable row -> (seconds, with sound)
    for (int i = 0; i < rowCount; ++i) {
        if (missingRows.contains(i))
            AddRow(pl, work.filePath(QStringLiteral("missing%1.mp4").arg(i)));
        else if (brokenRows.contains(i))
            AddRow(pl, broken);
        else {
            const int seconds = 1 + (i * 5) % 8;
            const bool sound = i % 3 != 0;
            AddRow(pl, clips[seconds][sound ? 1 : 0]);
            kind[i] = {seconds, sound};
            playable << i;
        }
    }
    QTcpServer probe; // a free port number, reused for UDP
    probe.listen(QHostAddress::LocalHost);
    const quint16 port = probe.serverPort();
    probe.close();
    w.chkSaltarError->setChecked(true);
    w.chkUdp->setChecked(true);
    w.txtUdp->setText(QStringLiteral("127.0.0.1:%1").arg(port));
    w.txtRepeat->setValue(1);

    QElapsedTimer clock;
    clock.start();
    struct Gap {
        qint64 end, length;
    };
    // The datagrams are timed on a thread of their own: the window's thread is busy
    // while a clip changes (the play call waits for the player), and datagrams read
    // late there would all carry the same arrival time, hiding the gap.
    std::mutex udpLock;
    std::vector<Gap> udpGaps; // every pause of more than 20 ms between two datagrams
    qint64 udpGap = 0, datagrams = 0;
    std::atomic<bool> running{true};
    // The stream is recorded too: its picture frames, against the frames of the rows
    // played, show whether every clip reached the stream whole.
    const QString recording = work.filePath(QStringLiteral("stream.ts"));
    std::thread receiver([&] {
        QUdpSocket udp;
        udp.bind(QHostAddress::LocalHost, port);
        QFile record(recording);
        record.open(QIODevice::WriteOnly);
        qint64 last = -1;
        while (running) {
            if (!udp.waitForReadyRead(100))
                continue;
            while (udp.hasPendingDatagrams()) {
                record.write(udp.receiveDatagram().data());
                const qint64 now = clock.elapsed();
                std::lock_guard<std::mutex> locked(udpLock);
                ++datagrams;
                if (running && last >= 0) {
                    udpGap = std::max(udpGap, now - last);
                    if (now - last > 20)
                        udpGaps.push_back({now, now - last});
                }
                last = now;
            }
        }
    });

    TVlcPlayer* player = w.vlcPlayer;
    QList<int> aired;               // rows whose media showed a picture
    QList<qint64> airedAt, endedAt; // per aired row: on the monitor, its end report
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
        airedAt << clock.elapsed();
        endedAt << -1;
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
    QObject::connect(player, &TVlcPlayer::OnMediaPlayerEndReached, [&] {
        lastEnd = clock.elapsed();
        if (!endedAt.isEmpty() && endedAt.last() < 0)
            endedAt.last() = lastEnd;
    });
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
    running = false;
    receiver.join();
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
    std::printf("largest gap on the UDP stream: %lld ms (%lld datagrams)\n", udpGap, datagrams);
    std::printf(
        "largest gap on the monitor (end report to the next clip's playing report): %lld ms\n",
        monitorGap);
    std::printf("run time: %.1f s\n", clock.elapsed() / 1000.0);

    // Per change of clip A -> B: the UDP gaps are counted to the change in whose span
    // they end, the span running from the middle of A's play to the middle of B's.
    auto middle = [&](int k) {
        return endedAt[k] >= 0 ? (airedAt[k] + endedAt[k]) / 2 : airedAt[k] + 500;
    };
    auto describe = [&](int row) {
        const auto it = kind.find(row);
        if (it == kind.end())
            return QStringLiteral("row %1 (?)").arg(row);
        return QStringLiteral("row %1 (%2 s %3)")
            .arg(row)
            .arg(it->second.first)
            .arg(it->second.second ? QStringLiteral("a+v") : QStringLiteral("video"));
    };
    std::map<QString, std::pair<qint64, int>> byKind; // kind of change -> (largest, count)
    qint64 shortest = 0; // the most a clip followed directly by the next was cut short
    std::printf("\nper change of clip (UDP gap, monitor gap; ms):\n");
    for (int k = 0; k + 1 < aired.size() && k + 1 < firstPass.size(); ++k) {
        const int a = aired[k], b = aired[k + 1];
        const qint64 from = middle(k), to = middle(k + 1);
        qint64 gap = 0;
        for (const Gap& g : udpGaps)
            if (g.end >= from && g.end < to)
                gap = std::max(gap, g.length);
        int failing = 0;
        for (int r = a + 1; r < b; ++r)
            failing += missingRows.contains(r) || brokenRows.contains(r) ? 1 : 0;
        const qint64 monitor = endedAt[k] >= 0 ? airedAt[k + 1] - endedAt[k] : -1;
        QString skipped;
        for (int r = a + 1; r < b; ++r)
            skipped += missingRows.contains(r)  ? QStringLiteral(" missing")
                       : brokenRows.contains(r) ? QStringLiteral(" broken")
                                                : QString();
        // How long A stayed on air against its length: a clip cut short ends early.
        const qint64 onAirMs = airedAt[k + 1] - airedAt[k];
        std::printf("  %-22s -> %-22s%-16s udp %4lld  monitor %4lld  A on air %.1f s\n",
                    qPrintable(describe(a)), qPrintable(describe(b)),
                    qPrintable(skipped.isEmpty() ? QString() : QStringLiteral(" skip") + skipped),
                    gap, monitor, onAirMs / 1000.0);
        if (failing == 0 && kind.count(a) > 0)
            shortest = std::min(shortest, onAirMs - kind[a].first * 1000);
        const auto ka = kind.find(a), kb = kind.find(b);
        QStringList keys;
        keys << (failing > 0 ? QStringLiteral("failing row skipped between")
                             : QStringLiteral("next row directly"));
        if (ka != kind.end() && kb != kind.end()) {
            keys << QStringLiteral("%1 -> %2")
                        .arg(ka->second.second ? QStringLiteral("a+v") : QStringLiteral("video"))
                        .arg(kb->second.second ? QStringLiteral("a+v") : QStringLiteral("video"));
            keys << QStringLiteral("from a %1 s clip").arg(ka->second.first);
        }
        for (const QString& key : keys) {
            auto& entry = byKind[key];
            entry.first = std::max(entry.first, gap);
            ++entry.second;
        }
    }
    // The stream's own pace, away from any change of clip, against the changes. libVLC
    // reports a clip's end about 1.4 s before the clip's last datagram leaves, and the
    // next clip's first datagram follows its play call by about 0.6 s: a gap ending from
    // 0.5 s before an end report to 2 s after it belongs to a change.
    qint64 nearChange = 0, insideClip = 0;
    QList<qint64> ends;
    for (qint64 e : endedAt)
        if (e >= 0)
            ends << e;
    for (const Gap& g : udpGaps) {
        bool near = false;
        for (qint64 e : ends)
            near = near || (g.end >= e - 500 && g.end <= e + 2000);
        (near ? nearChange : insideClip) = std::max(near ? nearChange : insideClip, g.length);
    }
    std::printf("\nlargest UDP gap at a change of clip: %lld ms; inside a clip: %lld ms\n",
                nearChange, insideClip);
    std::printf("clip on air against its length, worst: %+lld ms\n", shortest);
    int expectedFrames = 0;
    for (int row : firstPass)
        expectedFrames += kind.count(row) > 0 ? kind[row].first * 25 : 0;
    QProcess counter;
    counter.start(QStringLiteral("ffprobe"),
                  {"-v", "error", "-select_streams", "v", "-count_packets", "-show_entries",
                   "stream=index,nb_read_packets", "-of", "csv=p=0", recording});
    counter.waitForFinished(120000);
    // Each stream is listed once per program too: counted once by its index.
    std::map<int, int> framesPerStream;
    for (const QByteArray& line : counter.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> fields = line.trimmed().split(',');
        if (fields.size() == 2)
            framesPerStream[fields[0].toInt()] = fields[1].toInt();
    }
    int frames = 0;
    for (const auto& entry : framesPerStream)
        frames += entry.second;
    std::printf("picture frames on the stream: %d of the %d the rows played hold (%.1f s of %.1f "
                "s)\n",
                frames, expectedFrames, frames / 25.0, expectedFrames / 25.0);
    std::printf("\nlargest UDP gap by kind of change:\n");
    for (const auto& [key, entry] : byKind)
        std::printf("  %-30s %4lld ms (%d changes)\n", qPrintable(key), entry.first, entry.second);
    return 0;
}
