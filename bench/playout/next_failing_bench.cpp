// How long Next holds the window when the row cannot be played (a missing file),
// with the main card remembered (the default settings), against Next on a clip
// that plays. Run inside a display with a sound server:
//
//   next_failing_bench [runs]        (default 15)
#include "app/TfrmMain.h"
#include "player/VlcPlayerUnit.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct Figures {
    double median = 0;
    double worst = 0;
    double untilReport = 0; // median time from Next to the player's report
};

void Settle(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tavoria 3 (beta)"));
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 15;
    QTemporaryDir work;
    QDir::setCurrent(work.path());
    const QString clip = work.filePath(QStringLiteral("clip.mp4"));
    QProcess::execute(QStringLiteral("ffmpeg"),
                      {"-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=320x240:rate=25:d=4",
                       "-f", "lavfi", "-i", "sine=f=440:d=4", "-c:v", "libx264", "-preset",
                       "ultrafast", "-c:a", "aac", "-shortest", clip});
    const QString missing = work.filePath(QStringLiteral("missing.mp4"));

    TfrmMain w;
    w.show();
    Settle(500);
    w.txtCurrentSong->setText(work.path());
    std::printf("remembered main card: \"%s\" (libVLC device \"%s\")\n",
                qPrintable(w.cboSoundMain->currentText()),
                qPrintable(w.vlcPlayer->LastAudioOutputDeviceId()));

    bool reported = false;
    QObject::connect(w.vlcPlayer, &TVlcPlayer::OnMediaPlayerPlaying, [&] { reported = true; });
    QObject::connect(w.vlcPlayer, &TVlcPlayer::OnMediaPlayerEncounteredError,
                     [&] { reported = true; });

    auto measure = [&](const QString& path) {
        std::vector<double> held, report;
        for (int i = 0; i < runs; ++i) {
            // From a stopped player: stopping the previous clip is not part of the measure.
            w.vlcPlayer->Stop(1000);
            Settle(300);
            w.Nuevo1Click();
            QTreeWidgetItem* row = w.lstPlayList->AddItem();
            for (const QString& s : {QStringLiteral("row"), QStringLiteral("00:00:00"), path,
                                     QStringLiteral("0"), QString()})
                w.lstPlayList->AddSubItem(row, s);
            reported = false;
            QElapsedTimer t;
            t.start();
            w.cmdNextClick();
            held.push_back(t.nsecsElapsed() / 1e6);
            while (!reported && t.elapsed() < 15000)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            report.push_back(t.nsecsElapsed() / 1e6);
        }
        Figures f;
        std::sort(held.begin(), held.end());
        std::sort(report.begin(), report.end());
        f.median = held[held.size() / 2];
        f.worst = held.back();
        f.untilReport = report[report.size() / 2];
        return f;
    };
    const Figures failing = measure(missing);
    const Figures playing = measure(clip);
    std::printf("Next on a missing file: window held %.1f ms median, %.1f ms worst of %d "
                "(target < 300 ms); error report after %.1f ms\n",
                failing.median, failing.worst, runs, failing.untilReport);
    std::printf("Next on a clip that plays: window held %.1f ms median, %.1f ms worst of %d; "
                "playing report after %.1f ms\n",
                playing.median, playing.worst, runs, playing.untilReport);
    w.vlcPlayer->Stop(1000);
    return 0;
}
