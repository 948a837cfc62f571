// The audio layer on real sound-server devices: the headless session's null
// sinks "MainOut" and "JingleCard", whose monitors are recorded while a tone plays.
#include "AudioTestSupport.h"

#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kRecordRate = 22050;

// Records a sink's monitor as 16-bit stereo for as long as it lives.
class MonitorRecorder {
public:
    explicit MonitorRecorder(const QString& sink) {
        process_.start("parec", {"-d", sink + ".monitor", "--format=s16le",
                                 QStringLiteral("--rate=%1").arg(kRecordRate), "--channels=2",
                                 "--latency-msec=20"});
    }
    bool Started() { return process_.waitForStarted(5000); }
    // Stops and returns the per-channel RMS of each 50 ms window.
    QList<std::pair<double, double>> Finish() {
        process_.terminate();
        process_.waitForFinished(5000);
        data_ += process_.readAllStandardOutput();
        QList<std::pair<double, double>> windows;
        const auto* s = reinterpret_cast<const qint16*>(data_.constData());
        const qsizetype frames = data_.size() / 4;
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
    void Pump() { data_ += process_.readAllStandardOutput(); }

private:
    QProcess process_;
    QByteArray data_;
};

double LoudSeconds(const QList<std::pair<double, double>>& windows, double threshold) {
    return std::count_if(windows.begin(), windows.end(),
                         [&](const auto& w) { return std::max(w.first, w.second) > threshold; }) /
           20.0;
}

double PeakRms(const QList<std::pair<double, double>>& windows) {
    double peak = 0;
    for (const auto& w : windows)
        peak = std::max({peak, w.first, w.second});
    return peak;
}

// Middle value of the loud windows of one channel.
double TypicalLevel(const QList<std::pair<double, double>>& windows, bool left) {
    QList<double> v;
    for (const auto& w : windows)
        if (std::max(w.first, w.second) > 0.02)
            v << (left ? w.first : w.second);
    if (v.isEmpty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void Wait(int ms, std::initializer_list<MonitorRecorder*> recorders) {
    audiotest::WaitFor(
        [&] {
            for (auto* r : recorders)
                r->Pump();
            return false;
        },
        ms);
}

} // namespace

class TestAudioCards : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void toneReachesOnlyItsCard();
    void movesToAnotherCardWhilePlaying();
    void level_data();
    void level();
    void cardThatDisappears();

private:
    HSTREAM Play(const QString& path, int device, float volume = 1.0f);
    QTemporaryDir dir_;
    int main_ = -1;
    int jingle_ = -1;
};

void TestAudioCards::initTestCase() {
    main_ = audiotest::DeviceNamed("MainOut");
    jingle_ = audiotest::DeviceNamed("JingleCard");
    if (main_ < 0 || jingle_ < 0)
        QSKIP("the sound server's sinks \"MainOut\" and \"JingleCard\" are missing "
              "(run inside the headless session)");
    QVERIFY(BASS_Init(main_, 44100, 0, nullptr, nullptr));
    QVERIFY(BASS_Init(jingle_, 44100, 0, nullptr, nullptr));
    BASS_DEVICEINFO info{};
    QVERIFY(BASS_GetDeviceInfo(DWORD(jingle_), &info));
    QVERIFY(info.flags & BASS_DEVICE_INIT);
    AudioLayer_SetHistoryEnabled(true);
}

HSTREAM TestAudioCards::Play(const QString& path, int device, float volume) {
    const QByteArray p = path.toUtf8();
    const HSTREAM h =
        BASS_StreamCreateFile(0, p.constData(), 0, 0, BASS_UNICODE | BASS_STREAM_AUTOFREE);
    BASS_ChannelSetDevice(h, DWORD(device));
    BASS_ChannelSetAttribute(h, BASS_ATTRIB_VOL, volume);
    BASS_ChannelPlay(h, 0);
    return h;
}

void TestAudioCards::toneReachesOnlyItsCard() {
    const QString tone = dir_.filePath("tone.mp3");
    QVERIFY(audiotest::MakeTone(tone, 1.5, 1000));
    MonitorRecorder jingle("jingle_out"), main("main_out");
    QVERIFY(jingle.Started() && main.Started());
    Wait(500, {&jingle, &main});
    const HSTREAM h = Play(tone, jingle_);
    QVERIFY(h != 0);
    QVERIFY(audiotest::WaitFor(
        [&] {
            jingle.Pump();
            main.Pump();
            return AudioLayer_StreamPath(h).empty();
        },
        6000));
    Wait(400, {&jingle, &main});
    const auto j = jingle.Finish();
    const auto m = main.Finish();
    const double heard = LoudSeconds(j, 0.05);
    QVERIFY2(heard >= 1.2 && heard <= 1.8, qPrintable(QString::number(heard)));
    QVERIFY2(PeakRms(m) < 0.001, qPrintable(QString::number(PeakRms(m))));
}

void TestAudioCards::movesToAnotherCardWhilePlaying() {
    const QString tone = dir_.filePath("three.mp3");
    QVERIFY(audiotest::MakeTone(tone, 3.0, 800));
    MonitorRecorder jingle("jingle_out"), main("main_out");
    QVERIFY(jingle.Started() && main.Started());
    Wait(500, {&jingle, &main});
    QElapsedTimer clock;
    clock.start();
    const HSTREAM h = Play(tone, jingle_);
    QVERIFY(h != 0);
    Wait(1200, {&jingle, &main});
    const QWORD before = BASS_ChannelGetPosition(h, BASS_POS_BYTE);
    QVERIFY(BASS_ChannelSetDevice(h, DWORD(main_)));
    QCOMPARE(BASS_ChannelGetDevice(h), DWORD(main_));
    QVERIFY(BASS_ChannelGetPosition(h, BASS_POS_BYTE) >= before);
    QVERIFY(audiotest::WaitFor(
        [&] {
            jingle.Pump();
            main.Pump();
            return AudioLayer_StreamPath(h).empty();
        },
        8000));
    // The position went on: the whole clip took about its own length, not more.
    QVERIFY2(clock.elapsed() < 3700, qPrintable(QString::number(clock.elapsed())));
    Wait(400, {&jingle, &main});
    const double onJingle = LoudSeconds(jingle.Finish(), 0.05);
    const double onMain = LoudSeconds(main.Finish(), 0.05);
    QVERIFY2(onJingle >= 0.9 && onJingle <= 1.6, qPrintable(QString::number(onJingle)));
    QVERIFY2(onMain >= 1.4 && onMain <= 2.1, qPrintable(QString::number(onMain)));
    QVERIFY2(onJingle + onMain >= 2.6 && onJingle + onMain <= 3.4,
             qPrintable(QString::number(onJingle + onMain)));
}

void TestAudioCards::level_data() {
    QTest::addColumn<int>("channels");
    QTest::addColumn<float>("volume");
    QTest::addColumn<double>("expected");
    // A sine of amplitude 0.5 has an RMS of 0.354.
    QTest::newRow("mono keeps its level on both sides") << 1 << 1.0f << 0.3536;
    QTest::newRow("stereo at full volume") << 2 << 1.0f << 0.3536;
    QTest::newRow("stereo at volume 0.5") << 2 << 0.5f << 0.1768;
}

void TestAudioCards::level() {
    QFETCH(int, channels);
    QFETCH(float, volume);
    QFETCH(double, expected);
    const QString tone = dir_.filePath(QStringLiteral("level%1.wav").arg(channels));
    QVERIFY(audiotest::MakeTone(tone, 1.0, 500, 44100, channels, {"-c:a", "pcm_s16le"}));
    MonitorRecorder jingle("jingle_out");
    QVERIFY(jingle.Started());
    Wait(500, {&jingle});
    const HSTREAM h = Play(tone, jingle_, volume);
    QVERIFY(audiotest::WaitFor(
        [&] {
            jingle.Pump();
            return AudioLayer_StreamPath(h).empty();
        },
        5000));
    Wait(300, {&jingle});
    const auto w = jingle.Finish();
    const double left = TypicalLevel(w, true), right = TypicalLevel(w, false);
    QVERIFY2(
        qAbs(left - expected) < expected * 0.08 && qAbs(right - expected) < expected * 0.08,
        qPrintable(
            QStringLiteral("left %1 right %2, expected %3").arg(left).arg(right).arg(expected)));
}

void TestAudioCards::cardThatDisappears() {
    // A card that goes away while a stream plays on it: nothing crashes, the
    // stream still ends, and the next stream on a working card is heard.
    QByteArray module;
    if (!audiotest::Run("pactl",
                        {"load-module", "module-null-sink", "sink_name=temp_out",
                         "sink_properties=device.description=TempCard"},
                        &module))
        QSKIP("cannot add a sink to the sound server");
    int temp = -1;
    QVERIFY(
        audiotest::WaitFor([&] { return (temp = audiotest::DeviceNamed("TempCard")) > 0; }, 5000));
    QVERIFY(BASS_Init(temp, 44100, 0, nullptr, nullptr));
    const QString tone = dir_.filePath("gone.mp3");
    QVERIFY(audiotest::MakeTone(tone, 1.5, 700));
    const HSTREAM h = Play(tone, temp);
    QVERIFY(h != 0);
    QTest::qWait(300);
    QVERIFY(audiotest::Run("pactl", {"unload-module", QString::fromUtf8(module.trimmed())}));
    QVERIFY(audiotest::WaitFor([&] { return AudioLayer_StreamPath(h).empty(); }, 8000));
    BASS_DEVICEINFO info{};
    QVERIFY(audiotest::WaitFor(
        [&] {
            return BASS_GetDeviceInfo(DWORD(temp), &info) && !(info.flags & BASS_DEVICE_ENABLED);
        },
        5000));
    // A card that is gone cannot be initialised again.
    QVERIFY(!BASS_Init(temp, 44100, 0, nullptr, nullptr));

    MonitorRecorder jingle("jingle_out");
    QVERIFY(jingle.Started());
    Wait(500, {&jingle});
    const HSTREAM next = Play(tone, jingle_);
    QVERIFY(audiotest::WaitFor(
        [&] {
            jingle.Pump();
            return AudioLayer_StreamPath(next).empty();
        },
        6000));
    Wait(300, {&jingle});
    QVERIFY(LoudSeconds(jingle.Finish(), 0.05) >= 1.0);
}

QTEST_GUILESS_MAIN(TestAudioCards)
#include "tst_audio_cards.moc"
