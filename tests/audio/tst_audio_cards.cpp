// The audio layer on real sound-server devices: the headless session's null
// sinks "MainOut" and "JingleCard", whose monitors are recorded while a tone plays.
#include "MonitorRecorder.h"
#include "tests/SessionSkip.h"

#include <QTemporaryDir>
#include <QtTest>

using audiotest::LoudSeconds;
using audiotest::MonitorRecorder;
using audiotest::PeakRms;
using audiotest::TypicalLevel;

namespace {

void Wait(int ms, std::initializer_list<MonitorRecorder*> recorders) {
    audiotest::Record(ms, recorders);
}

} // namespace

class TestAudioCards : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void numbering();
    void defaultFollowsTheServersDefault();
    void recordingDevices();
    void toneReachesOnlyItsCard();
    void movesToAnotherCardWhilePlaying();
    void level_data();
    void level();
    void cardThatDisappears();

private:
    HSTREAM Play(const QString& path, int device, float volume = 1.0f);
    QTemporaryDir m_dir;
    QString m_micModule; // a recording device of the sound server's, while the test runs
    int m_main = -1;
    int m_jingle = -1;
};

void TestAudioCards::initTestCase() {
    // A recording device, there before the layer first asks SDL for its devices.
    QByteArray module;
    if (audiotest::Run(
            "pactl",
            {"load-module", "module-null-source", "source_name=mic_in", "description=MicIn"},
            &module))
        m_micModule = QString::fromUtf8(module.trimmed());
    m_main = audiotest::DeviceNamed("MainOut");
    m_jingle = audiotest::DeviceNamed("JingleCard");
    if (m_main < 0 || m_jingle < 0)
        TAVORIA_SKIP_WITHOUT_SESSION(
            "the sound server's sinks \"MainOut\" and \"JingleCard\" are missing "
            "(run inside the headless session)");
    QVERIFY(BASS_Init(m_main, 44100, 0, nullptr, nullptr));
    QVERIFY(BASS_Init(m_jingle, 44100, 0, nullptr, nullptr));
    BASS_DEVICEINFO info{};
    QVERIFY(BASS_GetDeviceInfo(DWORD(m_jingle), &info));
    QVERIFY(info.flags & BASS_DEVICE_INIT);
    AudioLayer_SetHistoryEnabled(true);
}

void TestAudioCards::cleanupTestCase() {
    if (!m_micModule.isEmpty())
        audiotest::Run("pactl", {"unload-module", m_micModule});
    audiotest::Run("pactl", {"set-default-sink", "main_out"});
}

void TestAudioCards::numbering() {
    // 0 "No sound", 1 "Default" (the system's default output), then the sound
    // server's cards in its order: a config.ini's "SoundMain" 1 (entry 1 of "On
    // Air", device 2) is the first real card, "SoundCue" 1 the system's default.
    const QList<QByteArray> names{"No sound", "Default", "MainOut", "JingleCard"};
    for (int d = 0; d < names.size(); ++d) {
        BASS_DEVICEINFO info{};
        QVERIFY(BASS_GetDeviceInfo(DWORD(d), &info));
        QCOMPARE(QByteArray(info.name), names[d]);
        QVERIFY(info.flags & BASS_DEVICE_ENABLED);
        QCOMPARE(bool(info.flags & BASS_DEVICE_DEFAULT), d == 1);
    }
    QCOMPARE(m_main, 2);
    QCOMPARE(m_jingle, 3);
}

void TestAudioCards::defaultFollowsTheServersDefault() {
    const QString tone = m_dir.filePath("default.mp3");
    QVERIFY(audiotest::MakeTone(tone, 1.0, 900));
    // BASS_Init(-1) is the system's default output: device 1.
    QVERIFY(BASS_Init(-1, 44100, 0, nullptr, nullptr));
    BASS_DEVICEINFO info{};
    QVERIFY(BASS_GetDeviceInfo(1, &info));
    QVERIFY(info.flags & BASS_DEVICE_INIT);
    QVERIFY(!BASS_Init(1, 44100, 0, nullptr, nullptr));
    struct Case {
        const char* defaultSink;
        const char* heard;
        const char* silent;
    };
    for (const Case& c :
         {Case{"jingle_out", "jingle_out", "main_out"}, Case{"main_out", "main_out", "jingle_out"},
          Case{"jingle_out", "jingle_out", "main_out"}}) {
        QVERIFY(audiotest::Run("pactl", {"set-default-sink", c.defaultSink}));
        MonitorRecorder heard(c.heard), silent(c.silent);
        QVERIFY(heard.Started() && silent.Started());
        Wait(500, {&heard, &silent});
        const HSTREAM h = Play(tone, 1);
        QVERIFY(h != 0);
        QVERIFY(audiotest::WaitFor(
            [&] {
                heard.Pump();
                silent.Pump();
                return AudioLayer_StreamPath(h).empty();
            },
            6000));
        Wait(300, {&heard, &silent});
        const auto on = heard.Finish();
        const auto off = silent.Finish();
        const QString what = QStringLiteral("default %1: %2 s loud, peak %3 on %4")
                                 .arg(c.defaultSink)
                                 .arg(LoudSeconds(on, 0.05))
                                 .arg(PeakRms(off))
                                 .arg(c.silent);
        QVERIFY2(LoudSeconds(on, 0.05) >= 0.8 && LoudSeconds(on, 0.05) <= 1.3, qPrintable(what));
        QVERIFY2(qAbs(TypicalLevel(on, true) - 0.3536) < 0.03, qPrintable(what));
        QVERIFY2(PeakRms(off) < 0.001, qPrintable(what));
    }
}

void TestAudioCards::recordingDevices() {
    if (m_micModule.isEmpty())
        TAVORIA_SKIP_WITHOUT_SESSION("cannot add a recording device to the sound server");
    // The sound server's default recording device comes first as "Default".
    BASS_DEVICEINFO info{};
    QVERIFY(BASS_RecordGetDeviceInfo(0, &info));
    QCOMPARE(QByteArray(info.name), QByteArray("Default"));
    QVERIFY(info.flags & BASS_DEVICE_DEFAULT);
    QVERIFY(BASS_RecordGetDeviceInfo(1, &info));
    QCOMPARE(QByteArray(info.name), QByteArray("MicIn"));
    QVERIFY(!(info.flags & BASS_DEVICE_DEFAULT));
    QVERIFY(!BASS_RecordGetDeviceInfo(2, &info));
    // Without any recording device there is no "Default" either.
    QVERIFY(audiotest::Run("pactl", {"unload-module", m_micModule}));
    m_micModule.clear();
    QVERIFY(audiotest::WaitFor([&] { return !BASS_RecordGetDeviceInfo(0, &info); }, 5000));
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
    const QString tone = m_dir.filePath("tone.mp3");
    QVERIFY(audiotest::MakeTone(tone, 1.5, 1000));
    MonitorRecorder jingle("jingle_out"), main("main_out");
    QVERIFY(jingle.Started() && main.Started());
    Wait(500, {&jingle, &main});
    const HSTREAM h = Play(tone, m_jingle);
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
    const QString tone = m_dir.filePath("three.mp3");
    QVERIFY(audiotest::MakeTone(tone, 3.0, 800));
    MonitorRecorder jingle("jingle_out"), main("main_out");
    QVERIFY(jingle.Started() && main.Started());
    Wait(500, {&jingle, &main});
    QElapsedTimer clock;
    clock.start();
    const HSTREAM h = Play(tone, m_jingle);
    QVERIFY(h != 0);
    Wait(1200, {&jingle, &main});
    const QWORD before = BASS_ChannelGetPosition(h, BASS_POS_BYTE);
    QVERIFY(BASS_ChannelSetDevice(h, DWORD(m_main)));
    QCOMPARE(BASS_ChannelGetDevice(h), DWORD(m_main));
    QVERIFY(BASS_ChannelGetPosition(h, BASS_POS_BYTE) >= before);
    QVERIFY(audiotest::WaitFor(
        [&] {
            jingle.Pump();
            main.Pump();
            return AudioLayer_StreamPath(h).empty();
        },
        8000));
    // The position went on: the whole clip took about its own length, well short of
    // the 4.2 s that a restart after the move would take.
    QVERIFY2(clock.elapsed() < 4000, qPrintable(QString::number(clock.elapsed())));
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
    const QString tone = m_dir.filePath(QStringLiteral("level%1.wav").arg(channels));
    QVERIFY(audiotest::MakeTone(tone, 1.0, 500, 44100, channels, {"-c:a", "pcm_s16le"}));
    MonitorRecorder jingle("jingle_out");
    QVERIFY(jingle.Started());
    Wait(500, {&jingle});
    const HSTREAM h = Play(tone, m_jingle, volume);
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
        TAVORIA_SKIP_WITHOUT_SESSION("cannot add a sink to the sound server");
    int temp = -1;
    QVERIFY(
        audiotest::WaitFor([&] { return (temp = audiotest::DeviceNamed("TempCard")) > 0; }, 5000));
    QVERIFY(BASS_Init(temp, 44100, 0, nullptr, nullptr));
    const QString tone = m_dir.filePath("gone.mp3");
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
    const HSTREAM next = Play(tone, m_jingle);
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
