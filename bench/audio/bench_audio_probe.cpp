// Length probe of mp3 files: the audio layer's exact probe side by side with
// ffprobe's duration and with plain reading of the files' bytes, against the
// sample count of a full decode by ffmpeg.
// Usage: bench_audio_probe [count=200] [cache folder=/tmp/tavoria-bench-audio]
// The files (3 to 5 minutes; CBR, VBR and VBR without Xing header) are made once
// into the cache folder, with their full-decode sample counts.
#include "audio/AudioLayer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTextStream>

#include <cmath>
#include <cstdio>
#include <map>

namespace {

bool Run(const QString& program, const QStringList& args, QByteArray* out = nullptr) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForStarted(10000) || !p.waitForFinished(600000))
        return false;
    if (out)
        *out = p.readAllStandardOutput();
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

const char* const kKinds[] = {"cbr", "vbr", "noxing"};

QStringList EncoderArgs(int kind) {
    switch (kind) {
    case 0:
        return {"-c:a", "libmp3lame", "-b:a", "128k"};
    case 1:
        return {"-c:a", "libmp3lame", "-q:a", "4"};
    default:
        return {"-c:a", "libmp3lame", "-q:a", "3", "-write_xing", "0"};
    }
}

// Makes file i (when missing) and returns its full-decode sample count at 44100 Hz.
qint64 Prepare(const QString& dir, int i, QString& path) {
    const int kind = i % 3;
    path = QStringLiteral("%1/%2_%3.mp3").arg(dir, kKinds[kind]).arg(i, 3, 10, QLatin1Char('0'));
    const QString countFile = path + ".samples";
    QFile cached(countFile);
    if (QFile::exists(path) && cached.open(QIODevice::ReadOnly))
        return cached.readAll().trimmed().toLongLong();
    const double seconds = 180.0 + (i * 37 % 120) + (i % 7) * 0.123;
    const QString source = QStringLiteral("sine=frequency=%1:sample_rate=44100:duration=%2")
                               .arg(200 + i * 13 % 800)
                               .arg(seconds, 0, 'f', 3);
    QStringList args{"-v", "error", "-y", "-f", "lavfi", "-i", source, "-ac", "2"};
    args += EncoderArgs(kind);
    args << path;
    if (!Run("ffmpeg", args))
        return -1;
    QByteArray pcm;
    if (!Run("ffmpeg", {"-v", "error", "-i", path, "-ac", "1", "-f", "s16le", "-"}, &pcm))
        return -1;
    const qint64 samples = pcm.size() / 2;
    QFile out(countFile);
    if (out.open(QIODevice::WriteOnly))
        out.write(QByteArray::number(samples));
    return samples;
}

struct Stats {
    int files = 0;
    int exact = 0;
    double maxErrorMs = 0;
    double probeMs = 0;
    double ffprobeMs = 0;
    double ffprobeMaxErrorMs = 0;
    double readMs = 0;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, atoi(argv[1])) : 200;
    const QString dir =
        argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("/tmp/tavoria-bench-audio");
    QDir().mkpath(dir);
    if (!BASS_Init(0, 44100, 0, nullptr, nullptr)) {
        std::fprintf(stderr, "BASS_Init(0) failed\n");
        return 1;
    }
    std::printf("Preparing %d files in %s (made once, then reused)...\n", count, qPrintable(dir));
    std::fflush(stdout);
    std::map<int, Stats> stats;
    Stats all;
    for (int i = 0; i < count; ++i) {
        QString path;
        const qint64 samples = Prepare(dir, i, path);
        if (samples <= 0) {
            std::fprintf(stderr, "could not make %s\n", qPrintable(path));
            return 1;
        }
        const double reference = double(samples) / 44100.0;

        QElapsedTimer t;
        t.start();
        {
            QFile f(path);
            if (f.open(QIODevice::ReadOnly))
                (void)f.readAll();
        }
        const double readMs = t.nsecsElapsed() / 1e6;

        t.restart();
        const QByteArray file = path.toUtf8();
        const HSTREAM h =
            BASS_StreamCreateFile(0, file.constData(), 0, 0, BASS_UNICODE | BASS_STREAM_PRESCAN);
        const QWORD bytes = BASS_ChannelGetLength(h, BASS_POS_BYTE);
        const double seconds = BASS_ChannelBytes2Seconds(h, bytes);
        BASS_StreamFree(h);
        const double probeMs = t.nsecsElapsed() / 1e6;

        t.restart();
        QByteArray out;
        Run("ffprobe", {"-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", path},
            &out);
        const double ffprobeMs = t.nsecsElapsed() / 1e6;
        const double ffprobeSeconds = out.trimmed().toDouble();

        for (Stats* s : {&stats[i % 3], &all}) {
            s->files++;
            if (h != 0 && qint64(bytes / 4) == samples)
                s->exact++;
            s->maxErrorMs = std::max(s->maxErrorMs, std::abs(seconds - reference) * 1000.0);
            s->ffprobeMaxErrorMs =
                std::max(s->ffprobeMaxErrorMs, std::abs(ffprobeSeconds - reference) * 1000.0);
            s->probeMs += probeMs;
            s->ffprobeMs += ffprobeMs;
            s->readMs += readMs;
        }
    }
    std::printf("\n%-8s %6s %10s %14s %12s %14s %14s %12s\n", "kind", "files", "exact",
                "probe max err", "probe/file", "ffprobe/file", "ffprobe maxerr", "read/file");
    auto print = [](const char* name, const Stats& s) {
        std::printf("%-8s %6d %6d/%-3d %11.3f ms %9.2f ms %11.2f ms %11.1f ms %9.2f ms\n", name,
                    s.files, s.exact, s.files, s.maxErrorMs, s.probeMs / s.files,
                    s.ffprobeMs / s.files, s.ffprobeMaxErrorMs, s.readMs / s.files);
    };
    for (auto& [kind, s] : stats)
        print(kKinds[kind], s);
    print("all", all);
    std::printf("\nprobe is %.1fx faster than ffprobe per file; exact on %d of %d files\n",
                all.ffprobeMs / all.probeMs, all.exact, all.files);
    return 0;
}
