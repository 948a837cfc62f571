#pragma once
// Helpers shared by the audio tests: media made at test time with ffmpeg, and
// waiting on the audio layer's record.
#include "audio/AudioLayer.h"
#include "audio/AudioLayerTesting.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTest>
#include <QThread>

#include <functional>

namespace audiotest {

inline bool Run(const QString& program, const QStringList& args, QByteArray* out = nullptr) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForStarted(10000))
        return false;
    if (!p.waitForFinished(120000))
        return false;
    if (out)
        *out = p.readAllStandardOutput();
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// A sine tone encoded by ffmpeg; extra holds the encoder options (codec, bit rate...).
inline bool MakeTone(const QString& path, double seconds, int frequency = 440, int rate = 44100,
                     int channels = 2,
                     const QStringList& extra = {"-c:a", "libmp3lame", "-b:a", "128k"},
                     double amplitude = 0.5) {
    // One expression per channel: an ffmpeg upmix would lower the level by 3 dB.
    const QString wave = QStringLiteral("%1*sin(%2*2*PI*t)").arg(amplitude).arg(frequency);
    QStringList waves;
    for (int c = 0; c < channels; ++c)
        waves << wave;
    const QString source = QStringLiteral("aevalsrc=%1:s=%2:d=%3")
                               .arg(waves.join('|'))
                               .arg(rate)
                               .arg(seconds, 0, 'f', 4);
    QStringList args{"-v", "error", "-y", "-f", "lavfi", "-i", source};
    args += extra;
    args << path;
    return Run(QStringLiteral("ffmpeg"), args);
}

// Samples per channel and sample rate that ffmpeg's full decode gives.
inline bool DecodedSamples(const QString& path, qint64& samples, int& rate) {
    QByteArray probe;
    if (!Run(QStringLiteral("ffprobe"),
             {"-v", "error", "-select_streams", "a:0", "-show_entries", "stream=sample_rate", "-of",
              "csv=p=0", path},
             &probe))
        return false;
    rate = probe.trimmed().toInt();
    QByteArray pcm;
    if (!Run(QStringLiteral("ffmpeg"),
             {"-v", "error", "-i", path, "-map", "0:a:0", "-ac", "1", "-f", "s16le", "-"}, &pcm))
        return false;
    samples = pcm.size() / 2;
    return rate > 0;
}

inline bool WaitFor(const std::function<bool()>& condition, int ms) {
    QDeadlineTimer deadline(ms);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
    return true;
}

inline int CountEvents(AudioLayerEvent::Kind kind, DWORD handle) {
    int n = 0;
    for (const AudioLayerEvent& e : AudioLayer_History())
        if (e.kind == kind && e.handle == handle)
            ++n;
    return n;
}

// The layer's device number of an output device with this name; -1 if none.
inline int DeviceNamed(const char* name) {
    BASS_DEVICEINFO info{};
    for (DWORD d = 1; BASS_GetDeviceInfo(d, &info); ++d)
        if (qstrcmp(info.name, name) == 0)
            return int(d);
    return -1;
}

} // namespace audiotest
