// CPU of the desk when nothing happens, and while it plays a clip. Run inside the
// headless session (scripts/headless.sh):
//
//   idle_bench path/to/tavoria [--seconds N] [--clip-seconds N]
//
// Four figures, each in % of one core:
// - the desk as the operator starts it (the program in a scratch folder), idle;
// - the same window built in this process with its timers stopped: what showing
//   the widgets alone costs;
// - the window playing a 720p clip with sound (Next on a one-row playlist);
// - cvlc playing the same clip, as a reference for libVLC's own cost.
#include "app/TfrmMain.h"
#include "player/VlcPlayerUnit.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

namespace {

double CpuSeconds(int who) {
    rusage u{};
    getrusage(who, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// utime + stime of another process, in seconds.
double ProcessCpu(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = f.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    // Fields from the state on: utime is field 14 of the whole line, index 11 here.
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) / sysconf(_SC_CLK_TCK);
}

void Spin(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void WriteConfig(const QString& folder) {
    QFile f(folder + QStringLiteral("/config.ini"));
    if (f.open(QIODevice::WriteOnly))
        f.write("\xEF\xBB\xBF[CONFIG]\r\nOutTextos=" + folder.toUtf8() + "\r\n\r\n");
}

double DeskIdle(const QString& program, int seconds) {
    QTemporaryDir dir;
    WriteConfig(dir.path());
    QProcess p;
    p.setWorkingDirectory(dir.path());
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(program, {});
    if (!p.waitForStarted(5000))
        return -1;
    Spin(3000); // past the start-up
    const double c0 = ProcessCpu(p.processId());
    QElapsedTimer wall;
    wall.start();
    Spin(seconds * 1000);
    const double c1 = ProcessCpu(p.processId());
    const double pct = (c1 - c0) / (wall.elapsed() / 1000.0) * 100;
    p.kill();
    p.waitForFinished(5000);
    return pct;
}

double WidgetsOnly(int seconds) {
    QTemporaryDir dir;
    WriteConfig(dir.path());
    const QString old = QDir::currentPath();
    QDir::setCurrent(dir.path());
    double pct = -1;
    {
        TfrmMain w;
        w.tmrHora->stop();
        w.tmrVumeter->stop();
        w.show();
        Spin(3000);
        const double c0 = CpuSeconds(RUSAGE_SELF);
        QElapsedTimer wall;
        wall.start();
        Spin(seconds * 1000);
        pct = (CpuSeconds(RUSAGE_SELF) - c0) / (wall.elapsed() / 1000.0) * 100;
        w.hide();
    }
    QDir::setCurrent(old);
    return pct;
}

double DeskPlaying(const QString& clip, int seconds) {
    QTemporaryDir dir;
    WriteConfig(dir.path());
    const QString old = QDir::currentPath();
    QDir::setCurrent(dir.path());
    double pct = -1;
    {
        TfrmMain w;
        w.show();
        Spin(2000);
        QTreeWidgetItem* row = w.lstPlayList->AddItem();
        for (const QString& s : {QStringLiteral("clip.mp4"), QStringLiteral("00:00:00"), clip,
                                 QStringLiteral("0"), QString()})
            w.lstPlayList->AddSubItem(row, s);
        const double c0 = CpuSeconds(RUSAGE_SELF);
        QElapsedTimer wall;
        wall.start();
        w.cmdNextClick();
        Spin(seconds * 1000);
        pct = (CpuSeconds(RUSAGE_SELF) - c0) / (wall.elapsed() / 1000.0) * 100;
        w.cmdStopClick();
        w.hide();
    }
    QDir::setCurrent(old);
    return pct;
}

double Cvlc(const QString& clip, int seconds) {
    const QString cvlc = QStandardPaths::findExecutable(QStringLiteral("cvlc"));
    if (cvlc.isEmpty())
        return -1;
    QString program = cvlc;
    QStringList args{QStringLiteral("--no-video-title-show"), QStringLiteral("--run-time"),
                     QString::number(seconds), QStringLiteral("--play-and-exit"), clip};
    if (geteuid() == 0) { // VLC refuses to run as root
        args = QStringList{QStringLiteral("-u"), QStringLiteral("nobody"), QStringLiteral("--"),
                           cvlc} +
               args;
        program = QStringLiteral("runuser");
    }
    const double c0 = CpuSeconds(RUSAGE_CHILDREN);
    QElapsedTimer wall;
    wall.start();
    QProcess p;
    p.start(program, args);
    p.waitForFinished((seconds + 30) * 1000);
    return (CpuSeconds(RUSAGE_CHILDREN) - c0) / (wall.elapsed() / 1000.0) * 100;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr,
                     "usage: idle_bench path/to/tavoria [--seconds N] [--clip-seconds N]\n");
        return 2;
    }
    const QString program = QFileInfo(args[1]).absoluteFilePath();
    int seconds = 60, clipSeconds = 20;
    for (int i = 2; i + 1 < args.size(); ++i) {
        if (args[i] == QStringLiteral("--seconds"))
            seconds = args[i + 1].toInt();
        if (args[i] == QStringLiteral("--clip-seconds"))
            clipSeconds = args[i + 1].toInt();
    }
    QTemporaryDir media;
    const QString clip = media.filePath(QStringLiteral("clip.mp4"));
    QProcess::execute(QStringLiteral("ffmpeg"),
                      {"-v",
                       "error",
                       "-y",
                       "-f",
                       "lavfi",
                       "-i",
                       QStringLiteral("testsrc2=s=1280x720:r=25:d=%1").arg(clipSeconds),
                       "-f",
                       "lavfi",
                       "-i",
                       QStringLiteral("sine=f=440:d=%1").arg(clipSeconds),
                       "-c:v",
                       "libx264",
                       "-preset",
                       "veryfast",
                       "-pix_fmt",
                       "yuv420p",
                       "-c:a",
                       "aac",
                       "-shortest",
                       clip});

    std::printf("idle_bench: %d s idle windows, %d s clip (720p25 H.264 + AAC)\n", seconds,
                clipSeconds);
    std::printf("  desk idle (program, scratch folder)   %6.2f %% of a core (target < 1)\n",
                DeskIdle(program, seconds));
    std::fflush(stdout);
    std::printf("  same widgets, timers stopped          %6.2f %%\n", WidgetsOnly(seconds));
    std::fflush(stdout);
    std::printf("  desk playing the clip                 %6.2f %%\n",
                DeskPlaying(clip, clipSeconds));
    std::fflush(stdout);
    std::printf("  cvlc playing the clip                 %6.2f %%\n", Cvlc(clip, clipSeconds));
    return 0;
}
