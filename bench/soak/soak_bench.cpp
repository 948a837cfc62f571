// A long run of the desk as a broadcast would use it: generated clips auto-advancing
// in a loop, the clock, an effect every minute, a caption linked to every row, and
// optionally a remote client polling a URL every second. Run inside the headless
// session (scripts/headless.sh):
//
//   soak_bench [--minutes 30] [--clips 100] [--clip-seconds 6] [--poll URL]
//              [--remote PORT] [--sample-seconds N] [--trim-each-row] [--check]
//
// --remote PORT turns the desk's own remote control on at that loopback port and
// polls its state (/api/state) every second.
//
// Prints the rows played and whether they came in order, the longest wait between
// two rows, the effects started, and resident memory, open files and threads at the
// end of the first loop and at the end; memory growth is measured from the end of the
// first loop to the end of the last. Beside resident memory (and its anonymous, file
// and shared parts) it prints the heap that the allocator hands out (in use) and the
// heap it holds from the system: a leak grows the first, fragmentation only the
// second. A line with these figures follows every loop, and every N seconds with
// --sample-seconds. --trim-each-row returns the allocator's free memory to the system
// (malloc_trim) as each row starts, to compare, and prints the longest trim.
//
// --check (for a short run in CI) ends with status 1 when a row came out of order, a
// wait between rows was longer than three clips and ten seconds, fewer than three loops
// were played, a remote poll failed, or open files grew from the second loop to the
// last (the first effect, a minute in, opens what the effects card keeps open). Open
// files are counted as each row starts and a loop is judged by its fewest: a file that
// leaks stays open at every start, while the previous clip's file or a poll's socket
// is open at some starts only. Memory and threads are only printed: a few
// minutes are too short to judge their growth.
#include "app/TfrmMain.h"
#include "platform/Allocator.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QList>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <climits>

#include <cstdio>
#include <malloc.h>
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

// The resident parts from /proc/self/status: anonymous memory (heaps, stacks),
// pages of mapped files (code of the libraries and plugins), shared memory.
void ResidentParts(long& anonKiB, long& fileKiB, long& shmemKiB) {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return;
    for (const QByteArray& line : f.readAll().split('\n')) {
        const QList<QByteArray> v = line.simplified().split(' ');
        if (v.size() < 2)
            continue;
        if (v[0] == "RssAnon:")
            anonKiB = v[1].toLong();
        else if (v[0] == "RssFile:")
            fileKiB = v[1].toLong();
        else if (v[0] == "RssShmem:")
            shmemKiB = v[1].toLong();
    }
}

struct Sample {
    long rssKiB = 0;
    long anonKiB = 0, fileKiB = 0, shmemKiB = 0;
    int fds = 0;
    int threads = 0;
    long heapInUseKiB = 0; // handed out by malloc (all arenas and mapped blocks)
    long heapHeldKiB = 0;  // taken from the system by malloc
};

Sample Take() {
    Sample s;
    s.rssKiB = ResidentKiB();
    ResidentParts(s.anonKiB, s.fileKiB, s.shmemKiB);
    s.fds = Entries(QStringLiteral("/proc/self/fd"));
    s.threads = Entries(QStringLiteral("/proc/self/task"));
    const struct mallinfo2 mi = mallinfo2();
    s.heapInUseKiB = long((mi.uordblks + mi.hblkhd) / 1024);
    s.heapHeldKiB = long((mi.arena + mi.hblkhd) / 1024);
    return s;
}

void Print(const char* what, const Sample& s) {
    std::printf("  %s: resident %ld KiB (anonymous %ld, files %ld, shared %ld), heap in use %ld "
                "KiB, heap held %ld KiB, %d files, %d threads\n",
                what, s.rssKiB, s.anonKiB, s.fileKiB, s.shmemKiB, s.heapInUseKiB, s.heapHeldKiB,
                s.fds, s.threads);
    std::fflush(stdout);
}

// User and system CPU time of the process so far, in seconds.
double CpuSeconds() {
    QFile f(QStringLiteral("/proc/self/stat"));
    if (!f.open(QIODevice::ReadOnly))
        return -1.0;
    const QByteArray stat = f.readAll();
    // The fields after the command name (which may hold spaces) start at its ')'.
    const QList<QByteArray> v = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    return double(v.value(11).toLongLong() + v.value(12).toLongLong()) /
           double(sysconf(_SC_CLK_TCK));
}

double Growth(long from, long to) {
    return from > 0 ? 100.0 * double(to - from) / double(from) : 0.0;
}

bool Ffmpeg(const QStringList& args) {
    return QProcess::execute(QStringLiteral("ffmpeg"),
                             QStringList{"-v", "error", "-y", "-nostdin"} + args) == 0;
}

} // namespace

int main(int argc, char** argv) {
    TuneAllocatorForLongRuns(); // as the program does
    QApplication app(argc, argv);
    int minutes = 30, clips = 100, clipSeconds = 6, sampleSeconds = 0;
    bool trim = false, check = false;
    qint64 longestTrimUs = 0;
    QString pollUrl;
    int remotePort = 0;
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
        else if (args[i] == QStringLiteral("--remote"))
            remotePort = args[i + 1].toInt();
        else if (args[i] == QStringLiteral("--sample-seconds"))
            sampleSeconds = args[i + 1].toInt();
    }
    for (const QString& arg : args) {
        if (arg == QStringLiteral("--trim-each-row"))
            trim = true;
        else if (arg == QStringLiteral("--check"))
            check = true;
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
    if (remotePort > 0) {
        ini.write("[REMOTO]\r\nEnabled=1\r\nPort=" + QByteArray::number(remotePort) +
                  "\r\nBind=127.0.0.1\r\nToken=\r\n\r\n");
        if (pollUrl.isEmpty())
            pollUrl = QStringLiteral("http://127.0.0.1:%1/api/state").arg(remotePort);
    }
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
    Sample afterFirstLoop, afterLastLoop, start = Take();
    bool haveFirstLoop = false;
    // Fewest open files at a row start: in the loop under way, and of each full loop.
    int loopFewestFds = INT_MAX;
    QList<int> fewestFds;

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
        if (trim) {
            QElapsedTimer t;
            t.start();
            malloc_trim(0);
            longestTrimUs = std::max(longestTrimUs, t.nsecsElapsed() / 1000);
        }
        ++played;
        const int fds = Entries(QStringLiteral("/proc/self/fd"));
        if (last == 0 && played > 1) {
            fewestFds << loopFewestFds;
            loopFewestFds = fds;
            ++loops;
            afterLastLoop = Take();
            if (!haveFirstLoop) {
                afterFirstLoop = afterLastLoop;
                haveFirstLoop = true;
            }
            Print(qPrintable(QStringLiteral("loop %1 done at %2 min (fewest open files at a "
                                            "row start: %3)")
                                 .arg(loops)
                                 .arg(total.elapsed() / 60000.0, 0, 'f', 1)
                                 .arg(fewestFds.last())),
                  afterLastLoop);
        } else {
            loopFewestFds = std::min(loopFewestFds, fds);
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

    QTimer sample;
    if (sampleSeconds > 0) {
        QObject::connect(&sample, &QTimer::timeout, [&] {
            Print(qPrintable(QStringLiteral("%1 min, %2 rows")
                                 .arg(total.elapsed() / 60000.0, 0, 'f', 1)
                                 .arg(played)),
                  Take());
        });
        sample.start(sampleSeconds * 1000);
    }

    total.start();
    sinceRow.start();
    w.cmdNextClick();
    // A local loop: quitting the application would close the window first.
    QEventLoop run;
    QTimer::singleShot(minutes * 60000, &run, &QEventLoop::quit);
    run.exec();
    const Sample end = Take();
    const double cpu = CpuSeconds();
    longestGapMs = std::max(longestGapMs, sinceRow.elapsed());
    w.cmdStopClick();

    std::printf("  %.1f min: %d rows started (%d full loops), %d out of order, longest wait "
                "between rows %.1f s (clips are %d s)\n",
                total.elapsed() / 60000.0, played, loops, outOfOrder, longestGapMs / 1000.0,
                clipSeconds);
    if (trim)
        std::printf("  longest malloc_trim: %lld us\n", longestTrimUs);
    std::printf("  effects started: %d; remote polls: %d (%d failed); CPU time %.0f s (%.1f %% "
                "of one core)\n",
                effects, polls, pollFailures, cpu, 100.0 * cpu / (total.elapsed() / 1000.0));
    std::printf("  resident memory: start %ld KiB", start.rssKiB);
    if (haveFirstLoop)
        std::printf(", after the first loop %ld KiB, end %ld KiB (%+.1f %%, the end taken in the "
                    "middle of a clip)\n",
                    afterFirstLoop.rssKiB, end.rssKiB, Growth(afterFirstLoop.rssKiB, end.rssKiB));
    else
        std::printf(", end %ld KiB (no full loop: run longer)\n", end.rssKiB);
    // Growth is measured where loops end (the first row starting again): in the middle
    // of a clip its decoder's and pictures' buffers are in use, at the start of the next
    // one they have just been freed.
    if (loops >= 2) {
        std::printf("  from the end of the first loop to the end of the last (loop %d): resident "
                    "%ld -> %ld KiB (%+.1f %%; target < 5 %%)\n",
                    loops, afterFirstLoop.rssKiB, afterLastLoop.rssKiB,
                    Growth(afterFirstLoop.rssKiB, afterLastLoop.rssKiB));
        std::printf("    anonymous %ld -> %ld KiB, files %ld -> %ld KiB, shared %ld -> %ld KiB; "
                    "heap in use %ld -> %ld KiB (%+.1f %%), heap held %ld -> %ld KiB (%+.1f "
                    "%%)\n",
                    afterFirstLoop.anonKiB, afterLastLoop.anonKiB, afterFirstLoop.fileKiB,
                    afterLastLoop.fileKiB, afterFirstLoop.shmemKiB, afterLastLoop.shmemKiB,
                    afterFirstLoop.heapInUseKiB, afterLastLoop.heapInUseKiB,
                    Growth(afterFirstLoop.heapInUseKiB, afterLastLoop.heapInUseKiB),
                    afterFirstLoop.heapHeldKiB, afterLastLoop.heapHeldKiB,
                    Growth(afterFirstLoop.heapHeldKiB, afterLastLoop.heapHeldKiB));
    }
    std::printf("  open files: start %d, after the first loop %d, end %d; threads: start %d, "
                "after the first loop %d, end %d\n",
                start.fds, afterFirstLoop.fds, end.fds, start.threads, afterFirstLoop.threads,
                end.threads);
    if (!check)
        return 0;
    QStringList faults;
    if (outOfOrder > 0)
        faults << QStringLiteral("%1 rows out of order").arg(outOfOrder);
    if (longestGapMs > (3 * clipSeconds + 10) * 1000LL)
        faults << QStringLiteral("a wait of %1 s between rows").arg(longestGapMs / 1000.0);
    if (loops < 3)
        faults << QStringLiteral("only %1 full loops (run longer or with fewer clips)").arg(loops);
    if (pollFailures > 0 || (remotePort > 0 && polls == 0))
        faults << QStringLiteral("%1 of %2 remote polls failed").arg(pollFailures).arg(polls);
    if (loops >= 3 && fewestFds.last() > fewestFds[1])
        faults << QStringLiteral("open files grew from %1 (loop 2) to %2 (loop %3)")
                      .arg(fewestFds[1])
                      .arg(fewestFds.last())
                      .arg(loops);
    std::printf("soak check: %s\n",
                faults.isEmpty() ? "passed" : qPrintable(faults.join(QStringLiteral("; "))));
    return faults.isEmpty() ? 0 : 1;
}
