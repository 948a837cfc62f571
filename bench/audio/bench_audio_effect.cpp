// One playing effect: CPU share and resident memory growth against the idle
// layer, over a long file (the layer must not hold the decoded file).
// Usage: bench_audio_effect [seconds=10] [file minutes=30] [device name; default
// "JingleCard" when present, else the "no sound" device]
#include "audio/AudioLayer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <cstdio>
#include <cstring>
#include <sys/resource.h>

namespace {

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long RssKb() {
    QFile f("/proc/self/statm");
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> parts = f.readAll().split(' ');
    return parts.size() > 1 ? parts[1].toLong() * 4 : -1;
}

struct Sample {
    double cpuShare;
    long rssKb;
};

Sample Measure(int seconds) {
    const double cpu0 = CpuSeconds();
    QElapsedTimer t;
    t.start();
    QThread::sleep(seconds);
    const double wall = t.nsecsElapsed() / 1e9;
    return {(CpuSeconds() - cpu0) / wall, RssKb()};
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, atoi(argv[1])) : 10;
    const int minutes = argc > 2 ? std::max(1, atoi(argv[2])) : 30;
    const char* wanted = argc > 3 ? argv[3] : "JingleCard";

    const QString dir = "/tmp/tavoria-bench-audio";
    QDir().mkpath(dir);
    const QString path = QStringLiteral("%1/effect_%2min.mp3").arg(dir).arg(minutes);
    if (!QFile::exists(path)) {
        std::printf("Making a %d-minute mp3...\n", minutes);
        std::fflush(stdout);
        QProcess p;
        p.start(
            "ffmpeg",
            {"-v", "error", "-y", "-f", "lavfi", "-i",
             QStringLiteral("sine=frequency=440:sample_rate=44100:duration=%1").arg(minutes * 60),
             "-ac", "2", "-c:a", "libmp3lame", "-b:a", "128k", path});
        p.waitForFinished(-1);
        if (p.exitCode() != 0)
            return 1;
    }

    int device = 0;
    BASS_DEVICEINFO info{};
    for (DWORD d = 1; BASS_GetDeviceInfo(d, &info); ++d)
        if (std::strcmp(info.name, wanted) == 0)
            device = int(d);
    BASS_GetDeviceInfo(DWORD(device), &info);
    if (!BASS_Init(device, 44100, 0, nullptr, nullptr)) {
        std::fprintf(stderr, "BASS_Init(%d) failed\n", device);
        return 1;
    }
    std::printf("device %d \"%s\", file %s (%lld MB), %d s per measure\n", device, info.name,
                qPrintable(path), QFile(path).size() / 1000000, seconds);

    // Optionally a first short file opened and freed before the idle measure, so
    // that the one-time costs of the process (FFmpeg's code and tables paged in)
    // are not counted against the effect.
    if (qEnvironmentVariableIsSet("WARM")) {
        const QByteArray warm = QString(path).toUtf8();
        BASS_StreamFree(BASS_StreamCreateFile(0, warm.constData(), 0, 0, BASS_UNICODE));
        std::printf("(warmed up: one open and free before measuring)\n");
    }
    QThread::msleep(500);
    const Sample idle = Measure(seconds);
    const QByteArray file = path.toUtf8();
    const HSTREAM h =
        BASS_StreamCreateFile(0, file.constData(), 0, 0, BASS_UNICODE | BASS_STREAM_AUTOFREE);
    const long opened = RssKb();
    if (!h || !BASS_ChannelPlay(h, 0)) {
        std::fprintf(stderr, "could not play %s\n", qPrintable(path));
        return 1;
    }
    BASS_ChannelSetAttribute(h, BASS_ATTRIB_VOL, 0.5f);
    QThread::msleep(1000);
    const long afterOneSecond = RssKb();
    const Sample playing = Measure(seconds);
    const double played = BASS_ChannelBytes2Seconds(h, BASS_ChannelGetPosition(h, BASS_POS_BYTE));
    BASS_StreamFree(h);

    std::printf("idle:    CPU %.2f %% of a core, resident %ld kB\n", idle.cpuShare * 100,
                idle.rssKb);
    std::printf("playing: CPU %.2f %% of a core, resident %ld kB (+%ld kB), played %.2f s\n",
                playing.cpuShare * 100, playing.rssKb, playing.rssKb - idle.rssKb, played);
    std::printf("resident after opening the file: +%ld kB; after 1 s of play: +%ld kB; "
                "growth during the next %d s of play: %+ld kB\n",
                opened - idle.rssKb, afterOneSecond - idle.rssKb, seconds,
                playing.rssKb - afterOneSecond);
    std::printf("effect's own share: %.2f %% of a core, %.2f MB more memory\n",
                (playing.cpuShare - idle.cpuShare) * 100, (playing.rssKb - idle.rssKb) / 1024.0);
    return 0;
}
