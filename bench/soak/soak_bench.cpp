// A long run of the desk as a broadcast would use it: generated clips auto-advancing
// in a loop, the clock, an effect every minute, a caption linked to every row, and
// optionally a remote client polling a URL every second. Run inside the headless
// session (scripts/headless.sh):
//
//   soak_bench [--minutes 30] [--clips 100] [--clip-seconds 6] [--poll URL]
//
// Prints the rows played and whether they came in order, the longest wait between
// two rows, the effects started, and resident memory, open files and threads at the
// end of the first loop and at the end.
#include "app/TfrmMain.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>
#include <unistd.h>

namespace {

long ResidentKiB() {
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> v = f.readAll().split(' ');
    return v.value(1).toLong() * (sysconf(_SC_PAGESIZE) / 1024);
}

int Entries(const QString& folder) {
    return int(
        QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).size());
}

struct Sample {
    long rssKiB = 0;
    int fds = 0;
    int threads = 0;
};

Sample Take() {
    return {ResidentKiB(), Entries(QStringLiteral("/proc/self/fd")),
            Entries(QStringLiteral("/proc/self/task"))};
}

bool Ffmpeg(const QStringList& args) {
    return QProcess::execute(QStringLiteral("ffmpeg"),
                             QStringList{"-v", "error", "-y", "-nostdin"} + args) == 0;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    int minutes = 30, clips = 100, clipSeconds = 6;
    QString pollUrl;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QStringLiteral("--minutes"))
            minutes = args[i + 1].toInt();
        else if (args[i] == QStringLiteral("--clips"))
            clips = args[i + 1].toInt();
        else if (args[i] == QStringLiteral("--clip-seconds"))
            clipSeconds = args[i + 1].toInt();
        else if (args[i] == QStringLiteral("--poll"))
            pollUrl = args[i + 1];
    }

    QTemporaryDir work;
    const QString media = work.filePath(QStringLiteral("media"));
    const QString out = work.filePath(QStringLiteral("out"));
    const QString fx = work.filePath(QStringLiteral("fx"));
    QDir().mkpath(media);
    QDir().mkpath(out);
    QDir().mkpath(fx + QStringLiteral("/Efx/Jingles"));
    std::printf("soak_bench: making %d clips of %d s ...\n", clips, clipSeconds);
    std::fflush(stdout);
    // One clip made once, copied: the rows are distinct files all the same.
    const QString first = media + QStringLiteral("/clip000.mp4");
    if (!Ffmpeg({"-f", "lavfi", "-i",
                 QStringLiteral("testsrc2=s=640x360:r=25:d=%1").arg(clipSeconds), "-f", "lavfi",
                 "-i", QStringLiteral("sine=f=440:d=%1").arg(clipSeconds), "-c:v", "libx264",
                 "-preset", "veryfast", "-pix_fmt", "yuv420p", "-c:a", "aac", "-shortest",
                 first}) ||
        !Ffmpeg({"-f", "lavfi", "-i", "sine=f=880:d=2", "-c:a", "libmp3lame",
                 fx + QStringLiteral("/Efx/Jingles/jingle.mp3")})) {
        std::printf("ffmpeg failed\n");
        return 1;
    }
    for (int i = 1; i < clips; ++i)
        QFile::copy(first, media + QStringLiteral("/clip%1.mp4").arg(i, 3, 10, QLatin1Char('0')));
    QFile ini(work.filePath(QStringLiteral("config.ini")));
    if (ini.open(QIODevice::WriteOnly))
        ini.write("\xEF\xBB\xBF[CONFIG]\r\nOutTextos=" + out.toUtf8() + "\r\nCunhasFolder=" +
                  fx.toUtf8() + "\r\nEfectosIndex=0\r\nVolEfectos=50\r\n\r\n");
    ini.close();
    QDir::setCurrent(work.path());

    TfrmMain w;
    w.show();
    for (int i = 0; i < clips; ++i) {
        QTreeWidgetItem* caption = w.lstTextos->AddItem();
        for (const QString& s : {QStringLiteral("Ponente %1").arg(i + 1),
                                 QStringLiteral("Charla %1").arg(i + 1), QStringLiteral("Sala A")})
            w.lstTextos->AddSubItem(caption, s);
        QTreeWidgetItem* row = w.lstPlayList->AddItem();
        const QString path = media + QStringLiteral("/clip%1.mp4").arg(i, 3, 10, QLatin1Char('0'));
        for (const QString& s : {QFileInfo(path).fileName(), QStringLiteral("00:00:00"), path,
                                 QStringLiteral("0"), QString::number(i + 1)})
            w.lstPlayList->AddSubItem(row, s);
    }

    int played = 0, outOfOrder = 0, effects = 0, polls = 0, pollFailures = 0, loops = 0;
    int last = -1;
    qint64 longestGapMs = 0;
    QElapsedTimer sinceRow, total;
    Sample afterFirstLoop, start = Take();
    bool haveFirstLoop = false;

    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (w.CurrentIndex == last)
            return;
        if (last >= 0) {
            longestGapMs = std::max(longestGapMs, sinceRow.elapsed());
            if (w.CurrentIndex != (last + 1) % clips)
                ++outOfOrder;
        }
        sinceRow.restart();
        last = w.CurrentIndex;
        ++played;
        if (last == 0 && played > 1) {
            ++loops;
            if (!haveFirstLoop) {
                afterFirstLoop = Take();
                haveFirstLoop = true;
            }
        }
    });
    watch.start(50);

    QTimer effect;
    QObject::connect(&effect, &QTimer::timeout, [&] {
        if (w.lstJingles->RowCount() == 0)
            return;
        w.lstJingles->setCurrentItem(w.lstJingles->Row(0));
        w.lstJinglesDblClick();
        ++effects;
    });
    effect.start(60000);

    QNetworkAccessManager net;
    QTimer poll;
    if (!pollUrl.isEmpty()) {
        QObject::connect(&poll, &QTimer::timeout, [&] {
            QNetworkReply* r = net.get(QNetworkRequest(QUrl(pollUrl)));
            QObject::connect(r, &QNetworkReply::finished, r, [&, r] {
                ++polls;
                if (r->error() != QNetworkReply::NoError)
                    ++pollFailures;
                r->deleteLater();
            });
        });
        poll.start(1000);
    }

    total.start();
    sinceRow.start();
    w.cmdNextClick();
    // A local loop: quitting the application would close the window first.
    QEventLoop run;
    QTimer::singleShot(minutes * 60000, &run, &QEventLoop::quit);
    run.exec();
    const Sample end = Take();
    longestGapMs = std::max(longestGapMs, sinceRow.elapsed());
    w.cmdStopClick();

    std::printf("  %.1f min: %d rows started (%d full loops), %d out of order, longest wait "
                "between rows %.1f s (clips are %d s)\n",
                total.elapsed() / 60000.0, played, loops, outOfOrder, longestGapMs / 1000.0,
                clipSeconds);
    std::printf("  effects started: %d; remote polls: %d (%d failed)\n", effects, polls,
                pollFailures);
    std::printf("  resident memory: start %ld KiB", start.rssKiB);
    if (haveFirstLoop)
        std::printf(", after the first loop %ld KiB, end %ld KiB (%+.1f %%; target < 5 %%)\n",
                    afterFirstLoop.rssKiB, end.rssKiB,
                    100.0 * double(end.rssKiB - afterFirstLoop.rssKiB) /
                        double(afterFirstLoop.rssKiB));
    else
        std::printf(", end %ld KiB (no full loop: run longer)\n", end.rssKiB);
    std::printf("  open files: start %d, after the first loop %d, end %d; threads: start %d, "
                "after the first loop %d, end %d\n",
                start.fds, afterFirstLoop.fds, end.fds, start.threads, afterFirstLoop.threads,
                end.threads);
    return 0;
}
