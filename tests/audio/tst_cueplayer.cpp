// The effects player's logic on the layer's "no sound" device.
#include "AudioTestSupport.h"
#include "app/CuePlayer.h"
#include "tests/SessionSkip.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

class TestCuePlayer : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void playsAndEndsByItself();
    void secondEffectStopsTheFirst();
    void stopSilencesTheEnd();
    void fileThatCannotBeOpened();
    void volume_data();
    void volume();
    void moveToAnotherCard();

private:
    // Waits until the effect has advanced (a loaded machine may not have run its
    // thread yet after a fixed time).
    static bool Advances(CuePlayer& cue) {
        return audiotest::WaitFor([&] { return cue.PollProgress().value_or(0) > 0; }, 5000);
    }
    static constexpr double kShortSeconds = 1.5;
    QTemporaryDir m_dir;
    QString m_short;
    QString m_long;
};

void TestCuePlayer::initTestCase() {
    QVERIFY(m_dir.isValid());
    QVERIFY(BASS_Init(0, 44100, 0, nullptr, nullptr));
    AudioLayer_SetHistoryEnabled(true);
    m_short = m_dir.filePath("short.mp3");
    m_long = m_dir.filePath("long.mp3");
    QVERIFY(audiotest::MakeTone(m_short, kShortSeconds));
    QVERIFY(audiotest::MakeTone(m_long, 4.0, 660));
}

void TestCuePlayer::playsAndEndsByItself() {
    CuePlayer cue;
    QSignalSpy ended(&cue, &CuePlayer::CueEnded);
    QSignalSpy maximum(&cue, &CuePlayer::ProgressMaximumChanged);
    QSignalSpy position(&cue, &CuePlayer::ProgressPositionChanged);
    const HSTREAM h = cue.PlayCue(m_short, 0, 1);
    QVERIFY(h != 0);
    QCOMPARE(cue.CueStream(), h);
    QCOMPARE(AudioLayer_StreamPath(h), m_short.toStdString());
    const QWORD length = BASS_ChannelGetLength(h, BASS_POS_BYTE);
    QCOMPARE(cue.ProgressMaximum(), int(length));
    QCOMPARE(maximum.size(), 1);
    QCOMPARE(BASS_ChannelIsActive(h), BASS_ACTIVE_PLAYING);

    QVERIFY(Advances(cue));
    QVERIFY(cue.ProgressPosition() > 0 && cue.ProgressPosition() < int(length));

    QVERIFY(ended.wait(5000));
    QCOMPARE(ended.size(), 1);
    QCOMPARE(ended.at(0).at(0).toUInt(), h);
    QCOMPARE(cue.ProgressPosition(), 0);
    QCOMPARE(position.last().at(0).toInt(), 0);
    QVERIFY(AudioLayer_StreamPath(h).empty()); // freed by its end
    QVERIFY(!cue.PollProgress().has_value());

    // Stop after the natural end: harmless, nothing more happens.
    cue.Stop();
    QCOMPARE(cue.ProgressPosition(), 0);
    QTest::qWait(200);
    QCOMPARE(ended.size(), 1);
}

void TestCuePlayer::secondEffectStopsTheFirst() {
    CuePlayer cue;
    QSignalSpy ended(&cue, &CuePlayer::CueEnded);
    const HSTREAM first = cue.PlayCue(m_long, 0, 1);
    QVERIFY(first != 0);
    QVERIFY(Advances(cue));
    const HSTREAM second = cue.PlayCue(m_short, 0, 1);
    QVERIFY(second != 0 && second != first);
    QCOMPARE(cue.ProgressPosition(), 0);
    // The first stopped at once; the second starts from its beginning.
    QVERIFY(AudioLayer_StreamPath(first).empty());
    QCOMPARE(audiotest::CountEvents(AudioLayerEvent::Ended, first), 0);
    QVERIFY(BASS_ChannelGetPosition(second, BASS_POS_BYTE) <
            BASS_ChannelGetLength(second, BASS_POS_BYTE) / 2);
    QVERIFY(ended.wait(5000));
    QTest::qWait(300);
    QCOMPARE(ended.size(), 1); // only the second one's end
    QCOMPARE(ended.at(0).at(0).toUInt(), second);
}

void TestCuePlayer::stopSilencesTheEnd() {
    CuePlayer cue;
    QSignalSpy ended(&cue, &CuePlayer::CueEnded);
    const HSTREAM h = cue.PlayCue(m_short, 0, 50);
    QVERIFY(Advances(cue));
    cue.Stop();
    QCOMPARE(cue.ProgressPosition(), 0);
    QCOMPARE(BASS_ChannelIsActive(h), BASS_ACTIVE_STOPPED);
    QTest::qWait(int(kShortSeconds * 1000) + 500); // past the clip's length
    QCOMPARE(ended.size(), 0);
    QCOMPARE(audiotest::CountEvents(AudioLayerEvent::Ended, h), 0);
}

void TestCuePlayer::fileThatCannotBeOpened() {
    CuePlayer cue;
    const HSTREAM good = cue.PlayCue(m_long, 0, 1);
    QVERIFY(good != 0);
    const int maximum = cue.ProgressMaximum();
    QVERIFY(maximum > 0);
    QVERIFY(Advances(cue));
    QVERIFY(cue.ProgressPosition() > 0);
    QSignalSpy maximumSpy(&cue, &CuePlayer::ProgressMaximumChanged);
    QCOMPARE(cue.PlayCue(m_dir.filePath("no-such-file.mp3"), 0, 1), HSTREAM(0));
    QCOMPARE(cue.CueStream(), HSTREAM(0));
    QCOMPARE(cue.ProgressPosition(), 0);
    QCOMPARE(cue.ProgressMaximum(), maximum); // the failure value leaves it unchanged
    QCOMPARE(maximumSpy.size(), 0);
    QVERIFY(AudioLayer_StreamPath(good).empty()); // the previous effect stopped
    QVERIFY(!cue.PollProgress().has_value());
    cue.SetVolume(10); // calls on the 0 handle are harmless
    cue.Stop();
}

void TestCuePlayer::volume_data() {
    QTest::addColumn<int>("position");
    QTest::addColumn<float>("volume");
    QTest::newRow("top") << 1 << 0.99f;
    QTest::newRow("middle") << 50 << 0.5f;
    QTest::newRow("bottom") << 100 << 0.0f;
}

void TestCuePlayer::volume() {
    QFETCH(int, position);
    QFETCH(float, volume);
    CuePlayer cue;
    const HSTREAM h = cue.PlayCue(m_long, 0, position);
    QCOMPARE(AudioLayer_StreamVolume(h), volume);
    cue.SetVolume(100 - position + 1);
    QCOMPARE(AudioLayer_StreamVolume(h), float((100.0 - (100 - position + 1)) / 100.0));
    // Silent still runs and shows progress.
    cue.SetVolume(100);
    QVERIFY(Advances(cue));
}

void TestCuePlayer::moveToAnotherCard() {
    const int card = audiotest::DeviceNamed("JingleCard");
    if (card < 0)
        TAVORIA_SKIP_WITHOUT_SESSION(
            "no PulseAudio sink \"JingleCard\" (run inside the headless session)");
    CuePlayer cue;
    const HSTREAM h = cue.PlayCue(m_long, 0, 1);
    QVERIFY(
        audiotest::WaitFor([&] { return BASS_ChannelGetPosition(h, BASS_POS_BYTE) > 0; }, 5000));
    const QWORD before = BASS_ChannelGetPosition(h, BASS_POS_BYTE);
    cue.MoveTo(card);
    QCOMPARE(cue.CueDevice(), card);
    QCOMPARE(BASS_ChannelGetDevice(h), DWORD(card));
    QCOMPARE(BASS_ChannelIsActive(h), BASS_ACTIVE_PLAYING);
    QVERIFY(BASS_ChannelGetPosition(h, BASS_POS_BYTE) >= before); // not restarted
    QVERIFY(audiotest::WaitFor([&] { return BASS_ChannelGetPosition(h, BASS_POS_BYTE) > before; },
                               5000));
    // Moving again to an initialised card keeps it initialised.
    cue.MoveTo(0);
    QCOMPARE(BASS_ChannelGetDevice(h), DWORD(0));
    cue.MoveTo(card);
    QCOMPARE(BASS_ChannelGetDevice(h), DWORD(card));
}

QTEST_GUILESS_MAIN(TestCuePlayer)
#include "tst_cueplayer.moc"
