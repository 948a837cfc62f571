#pragma once
// Recording what reached a sound card: the headless session's null sinks
// ("MainOut" = main_out, "JingleCard" = jingle_out) have monitors that parec
// records; the level is measured over 50 ms windows.
#include "AudioTestSupport.h"

#include <QList>
#include <QProcess>
#include <QString>

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <utility>

namespace audiotest {

constexpr int kRecordRate = 22050;

// Records a sink's monitor as 16-bit stereo for as long as it lives.
class MonitorRecorder {
public:
    explicit MonitorRecorder(const QString& sink) {
        m_process.start("parec", {"-d", sink + ".monitor", "--format=s16le",
                                  QStringLiteral("--rate=%1").arg(kRecordRate), "--channels=2",
                                  "--latency-msec=20"});
    }
    bool Started() { return m_process.waitForStarted(5000); }
    // Stops and returns the per-channel RMS of each 50 ms window.
    QList<std::pair<double, double>> Finish() {
        m_process.terminate();
        m_process.waitForFinished(5000);
        m_data += m_process.readAllStandardOutput();
        return Windows();
    }
    // The per-channel RMS of each 50 ms window recorded so far.
    QList<std::pair<double, double>> Windows() const {
        QList<std::pair<double, double>> windows;
        const auto* s = reinterpret_cast<const qint16*>(m_data.constData());
        const qsizetype frames = m_data.size() / 4;
        const int window = kRecordRate / 20;
        for (qsizetype at = 0; at + window <= frames; at += window) {
            double l = 0, r = 0;
            for (int i = 0; i < window; ++i) {
                const double a = s[(at + i) * 2] / 32768.0, b = s[(at + i) * 2 + 1] / 32768.0;
                l += a * a;
                r += b * b;
            }
            windows.append({std::sqrt(l / window), std::sqrt(r / window)});
        }
        return windows;
    }
    void Pump() { m_data += m_process.readAllStandardOutput(); }
    // What was recorded: 16-bit stereo frames at kRecordRate.
    const QByteArray& Data() const { return m_data; }
    // Seconds of sound recorded so far (a sink that plays nothing may deliver less
    // than the time that passed).
    double Seconds() const { return double(m_data.size()) / (4.0 * kRecordRate); }

private:
    QProcess m_process;
    QByteArray m_data;
};

inline double LoudSeconds(const QList<std::pair<double, double>>& windows, double threshold) {
    return std::count_if(windows.begin(), windows.end(),
                         [&](const auto& w) { return std::max(w.first, w.second) > threshold; }) /
           20.0;
}

inline double PeakRms(const QList<std::pair<double, double>>& windows) {
    double peak = 0;
    for (const auto& w : windows)
        peak = std::max({peak, w.first, w.second});
    return peak;
}

// Amplitude of one frequency in a recording (both channels mixed), by Goertzel's
// algorithm over the whole of it: a sine of amplitude a heard all along gives about
// a, other tones and silence give nearly 0.
inline double ToneAmplitude(const QByteArray& data, double frequency) {
    const auto* s = reinterpret_cast<const qint16*>(data.constData());
    const qsizetype frames = data.size() / 4;
    if (frames == 0)
        return 0;
    const double coeff = 2 * std::cos(2 * M_PI * frequency / kRecordRate);
    double s1 = 0, s2 = 0;
    for (qsizetype i = 0; i < frames; ++i) {
        const double x = (s[i * 2] + s[i * 2 + 1]) / 65536.0;
        const double s0 = x + coeff * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
    return 2 * std::sqrt(std::max(0.0, power)) / double(frames);
}

// A tone where sound was heard: the 50 ms windows louder than threshold, and the
// tone's mean amplitude over them. Gaps in the sound (a busy machine's dropouts)
// do not lower it, as they lower ToneAmplitude over a whole recording.
struct ToneHeard {
    double loudSeconds = 0;
    double amplitude = 0;
};

inline ToneHeard ToneInLoudWindows(const QByteArray& data, double frequency,
                                   double threshold = 0.05) {
    const int window = kRecordRate / 20;
    const qsizetype bytes = window * 4;
    ToneHeard heard;
    int loud = 0;
    for (qsizetype at = 0; at + bytes <= data.size(); at += bytes) {
        const QByteArray piece = data.mid(at, bytes);
        const auto* s = reinterpret_cast<const qint16*>(piece.constData());
        double sum = 0;
        for (int i = 0; i < window * 2; ++i)
            sum += (s[i] / 32768.0) * (s[i] / 32768.0);
        if (std::sqrt(sum / (window * 2)) <= threshold)
            continue;
        ++loud;
        heard.amplitude += ToneAmplitude(piece, frequency);
    }
    heard.loudSeconds = loud / 20.0;
    if (loud > 0)
        heard.amplitude /= loud;
    return heard;
}

// Middle value of the loud windows of one channel.
inline double TypicalLevel(const QList<std::pair<double, double>>& windows, bool left) {
    QList<double> v;
    for (const auto& w : windows)
        if (std::max(w.first, w.second) > 0.02)
            v << (left ? w.first : w.second);
    if (v.isEmpty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Waits ms milliseconds while the recorders keep reading.
inline void Record(int ms, std::initializer_list<MonitorRecorder*> recorders) {
    WaitFor(
        [&] {
            for (auto* r : recorders)
                r->Pump();
            return false;
        },
        ms);
}

} // namespace audiotest
