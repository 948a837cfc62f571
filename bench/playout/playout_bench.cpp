// Dropping many ".mp3" files on the playlist against measuring the same files one
// after another, and Next -> playing for a local clip with and without a
// remembered sound card. Run inside a display with a sound server:
//
//   playout_bench [number-of-files]        (default 1000)
#include "app/TfrmMain.h"
#include "audio/AudioLayer.h"
#include "media/MediaFunctions.h"
#include "player/VlcPlayerUnit.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMimeData>
#include <QProcess>
#include <QTemporaryDir>
#include <QToolButton>
#include <QUrl>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// A cache of distinct 3-5 minute mp3 files (CBR, VBR and without a Xing header),
// made once; the benchmark's files are links to them under their own names.
QStringList MakeMp3s(int count) {
    const QString cache = QDir::tempPath() + QStringLiteral("/tavoria-bench-mp3");
    QDir().mkpath(cache);
    QStringList distinct;
    for (int i = 0; i < 12; ++i) {
        const QString path = cache + QStringLiteral("/base%1.mp3").arg(i);
        if (!QFile::exists(path)) {
            const int seconds = 180 + i * 10;
            QStringList args{"-v",
                             "error",
                             "-y",
                             "-f",
                             "lavfi",
                             "-i",
                             QStringLiteral("sine=f=%1:d=%2").arg(200 + i * 50).arg(seconds),
                             "-c:a",
                             "libmp3lame"};
            if (i % 3 == 0)
                args << "-b:a"
                     << "128k";
            else if (i % 3 == 1)
                args << "-q:a"
                     << "4";
            else
                args << "-b:a"
                     << "96k"
                     << "-write_xing"
                     << "0";
            args << path;
            std::printf("making %s\n", qPrintable(path));
            QProcess::execute(QStringLiteral("ffmpeg"), args);
        }
        distinct << path;
    }
    const QString dir = cache + QStringLiteral("/set%1").arg(count);
    QDir().mkpath(dir);
    QStringList files;
    for (int i = 0; i < count; ++i) {
        const QString path = dir + QStringLiteral("/pista %1.mp3").arg(i, 4, 10, QLatin1Char('0'));
        if (!QFile::exists(path))
            QFile::link(distinct[i % distinct.size()], path);
        files << path;
    }
    return files;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Longest gap between two paints of the window while it is busy.
struct PaintWatch : QObject {
    QElapsedTimer clock;
    qint64 last = 0, longest = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) {
            const qint64 now = clock.elapsed();
            longest = std::max(longest, now - last);
            last = now;
        }
        return false;
    }
};

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tavoria 3 (beta)"));
    const int count = argc > 1 ? std::max(1, atoi(argv[1])) : 1000;
    const QStringList files = MakeMp3s(count);
    QTemporaryDir work;
    QDir::setCurrent(work.path());

    TfrmMain w;
    w.show();
    QElapsedTimer wait;
    wait.start();
    while (wait.elapsed() < 500)
        QCoreApplication::processEvents();

    // The probes alone, one after another (the layer is initialised by the window).
    QElapsedTimer t;
    t.start();
    double total = 0;
    for (const QString& f : files)
        total += MediaDurationSeconds(f);
    const double probesMs = t.nsecsElapsed() / 1e6;

    // The same files dropped on the window.
    QList<QUrl> urls;
    for (const QString& f : files)
        urls << QUrl::fromLocalFile(f);
    QMimeData mime;
    mime.setUrls(urls);
    PaintWatch watch;
    w.installEventFilter(&watch);
    for (QWidget* child : w.findChildren<QWidget*>())
        child->installEventFilter(&watch);
    watch.clock.start();
    t.restart();
    w.HandleFileDrop(&mime);
    const double dropMs = t.nsecsElapsed() / 1e6;
    watch.longest = std::max(watch.longest, watch.clock.elapsed() - watch.last);
    w.removeEventFilter(&watch);

    std::printf("%d mp3 files (%.0f s of audio in all)\n", count, total);
    std::printf("probes alone, one after another: %9.1f ms (%.2f ms per file)\n", probesMs,
                probesMs / count);
    std::printf("dropped on the playlist:         %9.1f ms -> %.2fx the probes (target <= 1.1)\n",
                dropMs, dropMs / probesMs);
    std::printf("rows in the playlist: %d; longest time without a repaint: %lld ms\n",
                w.lstPlayList->RowCount(), static_cast<long long>(watch.longest));

    // Next -> playing, with and without a remembered sound card.
    QTemporaryDir media;
    const QString clip = media.filePath(QStringLiteral("clip.mp4"));
    QProcess::execute(QStringLiteral("ffmpeg"),
                      {"-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=320x240:rate=25:d=4",
                       "-f", "lavfi", "-i", "sine=f=440:d=4", "-c:v", "mpeg4", "-c:a", "aac",
                       "-shortest", clip});
    w.Nuevo1Click();
    for (int i = 0; i < 2; ++i) {
        QTreeWidgetItem* row = w.lstPlayList->AddItem();
        for (const QString& s : {QStringLiteral("clip.mp4"), QStringLiteral("00:00:04"), clip,
                                 QStringLiteral("0"), QString()})
            w.lstPlayList->AddSubItem(row, s);
    }
    bool playing = false;
    QObject::connect(w.vlcPlayer, &TVlcPlayer::OnMediaPlayerPlaying, [&] { playing = true; });
    auto measure = [&](int runs) {
        std::vector<double> v;
        for (int i = 0; i < runs; ++i) {
            // From a stopped player: the time of stopping the previous clip is not
            // part of the measure.
            w.vlcPlayer->Stop(1000);
            QElapsedTimer settle;
            settle.start();
            while (settle.elapsed() < 300)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            playing = false;
            QElapsedTimer n;
            n.start();
            w.cmdNextClick();
            while (!playing && n.elapsed() < 15000)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            v.push_back(n.nsecsElapsed() / 1e6);
        }
        return Median(v);
    };
    w.cboSoundMain->setCurrentIndex(-1);
    w.cboSoundMainChange();
    const double plain = measure(9);
    w.cboSoundMain->setCurrentIndex(std::max(0, w.cboSoundMain->findText("MainOut")));
    w.cboSoundMainChange();
    const double remembered = measure(9);
    std::printf("Next -> playing, no remembered sound card: %.1f ms (median of 9)\n", plain);
    std::printf("Next -> playing, remembered sound card \"%s\": %.1f ms (median of 9)\n",
                qPrintable(w.cboSoundMain->currentText()), remembered);
    w.vlcPlayer->Stop(1000);
    return 0;
}
