// The time announcer with voice files made at test time and a clock the test
// sets; what played is read from the audio layer's record.
#include "AudioTestSupport.h"
#include "app/TimeAnnouncer.h"
#include "tests/SessionSkip.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <mutex>

namespace {

// Gives the listed times one call after the other, then the last one again.
class ScriptedClock {
public:
    explicit ScriptedClock(QList<QTime> times) : m_times(std::move(times)) {}
    QTime Next() {
        std::lock_guard lock(m_mutex);
        const QTime t = m_times.at(std::min<qsizetype>(m_calls, m_times.size() - 1));
        ++m_calls;
        return t;
    }

private:
    std::mutex m_mutex;
    QList<QTime> m_times;
    qsizetype m_calls = 0;
};

TimeAnnouncer::Clock ClockOf(std::shared_ptr<ScriptedClock> clock) {
    return [clock] { return clock->Next(); };
}

QString FileName(const AudioLayerEvent& e) {
    return QFileInfo(QString::fromStdString(e.path)).fileName();
}

// The streams created from files whose name begins with prefix, in order.
QList<AudioLayerEvent> Created(const QString& prefix) {
    QList<AudioLayerEvent> out;
    for (const AudioLayerEvent& e : AudioLayer_History())
        if (e.kind == AudioLayerEvent::Created && FileName(e).startsWith(prefix))
            out << e;
    return out;
}

int IndexOf(AudioLayerEvent::Kind kind, DWORD handle) {
    const auto h = AudioLayer_History();
    for (size_t i = 0; i < h.size(); ++i)
        if (h[i].kind == kind && h[i].handle == handle)
            return int(i);
    return -1;
}

bool Gone(DWORD handle) {
    return AudioLayer_StreamPath(handle).empty();
}

} // namespace

class TestTimeAnnouncer : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void hourThenMinuteTakenAtItsEnd();
    void hourZeroPlaysAlone();
    void secondClickRestartsFromTheHour_data();
    void secondClickRestartsFromTheHour();
    void missingMinutesFileSpeaksTheHourOnly();
    void missingVoiceOrHourPlaysNothing();
    void timeFolderInAnyLetterCase_data();
    void timeFolderInAnyLetterCase();
    void destroyedWhileTheHourPlays();
    void minutesFollowOnTheCardTheHourWasMovedTo();
    void playsAtTheEffectsLevel();

private:
    QString MakeVoice(const QString& timeFolderName, const QString& voice, bool withMinutes,
                      const QString& clip = QString());

    QTemporaryDir m_dir;
    QString m_clip;
    QString m_effects;
    int m_count = 0;
};

void TestTimeAnnouncer::initTestCase() {
    QVERIFY(m_dir.isValid());
    QVERIFY(BASS_Init(0, 44100, 0, nullptr, nullptr));
    AudioLayer_SetHistoryEnabled(true);
    m_clip = m_dir.filePath("clip.mp3");
    QVERIFY(audiotest::MakeTone(m_clip, 0.4, 300, 44100, 1));
    m_effects = MakeVoice("Time", "Ana", true);
    QVERIFY(!m_effects.isEmpty());
}

void TestTimeAnnouncer::init() {
    AudioLayer_ClearHistory();
}

// A fresh effects folder with one voice; returns the effects folder.
QString TestTimeAnnouncer::MakeVoice(const QString& timeFolderName, const QString& voice,
                                     bool withMinutes, const QString& clip) {
    const QString effects = m_dir.filePath(QStringLiteral("efectos%1").arg(++m_count));
    const QString folder = effects + "/" + timeFolderName + "/" + voice;
    if (!QDir().mkpath(folder))
        return {};
    QStringList names{"HRS00_O.mp3"};
    for (int h = 1; h < 24; ++h)
        names << QStringLiteral("HRS%1.mp3").arg(h, 2, 10, QLatin1Char('0'));
    if (withMinutes)
        for (int m = 0; m < 60; ++m)
            names << QStringLiteral("MIN%1.mp3").arg(m, 2, 10, QLatin1Char('0'));
    for (const QString& name : names)
        if (!QFile::copy(clip.isEmpty() ? m_clip : clip, folder + "/" + name))
            return {};
    return effects;
}

void TestTimeAnnouncer::hourThenMinuteTakenAtItsEnd() {
    TimeAnnouncer announcer;
    // 10:59:58 at the click; 11:00:01 when the hour file ends.
    announcer.SetClock(
        ClockOf(std::make_shared<ScriptedClock>(QList<QTime>{QTime(10, 59, 58), QTime(11, 0, 1)})));
    const HSTREAM hour = announcer.PlayTimeAnnouncement("Ana", 0, m_effects);
    QVERIFY(hour != 0);
    QCOMPARE(announcer.AnnouncerStream(), hour);
    QCOMPARE(announcer.AnnouncerVoice(), QString("Ana"));
    QVERIFY(QString::fromStdString(AudioLayer_StreamPath(hour)).endsWith("/Time/Ana/HRS10.mp3"));

    QVERIFY(audiotest::WaitFor([] { return !Created("MIN").isEmpty(); }, 5000));
    const QList<AudioLayerEvent> minutes = Created("MIN");
    QCOMPARE(minutes.size(), 1);
    QCOMPARE(FileName(minutes[0]), QString("MIN00.mp3"));
    const DWORD minute = minutes[0].handle;
    // Started right after the hour file ended, on the same card.
    QVERIFY(IndexOf(AudioLayerEvent::Ended, hour) >= 0);
    QVERIFY(IndexOf(AudioLayerEvent::Ended, hour) < IndexOf(AudioLayerEvent::Created, minute));
    QVERIFY(
        audiotest::WaitFor([&] { return IndexOf(AudioLayerEvent::Played, minute) >= 0; }, 2000));
    QCOMPARE(AudioLayer_History()[IndexOf(AudioLayerEvent::Played, minute)].device, 0);
    QCOMPARE(announcer.AnnouncerStream(), minute);
    // The minutes file frees itself at its end; nothing else follows.
    QVERIFY(audiotest::WaitFor([&] { return Gone(minute); }, 5000));
    QCOMPARE(audiotest::CountEvents(AudioLayerEvent::Ended, minute), 1);
    QVERIFY(Gone(hour));
    QCOMPARE(Created("").size(), 2);
}

void TestTimeAnnouncer::hourZeroPlaysAlone() {
    TimeAnnouncer announcer;
    announcer.SetClock(ClockOf(std::make_shared<ScriptedClock>(QList<QTime>{QTime(0, 15)})));
    const HSTREAM hour = announcer.PlayTimeAnnouncement("Ana", 0, m_effects);
    QVERIFY(hour != 0);
    QVERIFY(QString::fromStdString(AudioLayer_StreamPath(hour)).endsWith("/HRS00_O.mp3"));
    QVERIFY(audiotest::WaitFor([&] { return Gone(hour); }, 5000));
    QCOMPARE(audiotest::CountEvents(AudioLayerEvent::Ended, hour), 1);
    QTest::qWait(300);
    QCOMPARE(Created("").size(), 1);
    QCOMPARE(announcer.AnnouncerStream(), hour);
}

void TestTimeAnnouncer::secondClickRestartsFromTheHour_data() {
    // The second click at various moments of the 0.4 s hour file, around its end too.
    QTest::addColumn<int>("delayMs");
    for (int ms : {0, 150, 360, 390, 400, 410, 440})
        QTest::newRow(qPrintable(QStringLiteral("%1 ms").arg(ms))) << ms;
}

void TestTimeAnnouncer::secondClickRestartsFromTheHour() {
    QFETCH(int, delayMs);
    TimeAnnouncer announcer;
    announcer.SetClock(ClockOf(std::make_shared<ScriptedClock>(QList<QTime>{QTime(10, 20)})));
    const HSTREAM first = announcer.PlayTimeAnnouncement("Ana", 0, m_effects);
    QVERIFY(first != 0);
    QThread::msleep(delayMs);
    const HSTREAM second = announcer.PlayTimeAnnouncement("Ana", 0, m_effects);
    QVERIFY(second != 0 && second != first);
    // Whatever the first announcement had started is stopped now.
    for (const AudioLayerEvent& e : Created(""))
        if (e.handle != second)
            QVERIFY2(Gone(e.handle), qPrintable(FileName(e)));

    const int secondAt = IndexOf(AudioLayerEvent::Created, second);
    // Until the minutes file after the second hour file has played out (the
    // count below then shows whether more than one followed).
    QVERIFY(audiotest::WaitFor(
        [&] {
            for (const AudioLayerEvent& e : Created("MIN"))
                if (IndexOf(AudioLayerEvent::Created, e.handle) > secondAt &&
                    audiotest::CountEvents(AudioLayerEvent::Ended, e.handle) > 0)
                    return true;
            return false;
        },
        5000));
    QTest::qWait(300);
    QCOMPARE(AudioLayer_LiveStreams(), 0);
    int minutesAfter = 0;
    int minutesHeardToTheEnd = 0;
    for (const AudioLayerEvent& e : Created("MIN")) {
        QCOMPARE(FileName(e), QString("MIN20.mp3"));
        if (IndexOf(AudioLayerEvent::Created, e.handle) > secondAt) {
            ++minutesAfter;
            QVERIFY(IndexOf(AudioLayerEvent::Ended, second) <
                    IndexOf(AudioLayerEvent::Created, e.handle));
        }
        minutesHeardToTheEnd += audiotest::CountEvents(AudioLayerEvent::Ended, e.handle);
    }
    QCOMPARE(minutesAfter, 1);
    QCOMPARE(minutesHeardToTheEnd, 1);
    QCOMPARE(audiotest::CountEvents(AudioLayerEvent::Ended, second), 1);
}

void TestTimeAnnouncer::missingMinutesFileSpeaksTheHourOnly() {
    const QString effects = MakeVoice("Time", "Luis", false);
    QVERIFY(!effects.isEmpty());
    TimeAnnouncer announcer;
    announcer.SetClock(ClockOf(std::make_shared<ScriptedClock>(QList<QTime>{QTime(14, 7)})));
    const HSTREAM hour = announcer.PlayTimeAnnouncement("Luis", 0, effects);
    QVERIFY(hour != 0);
    QVERIFY(audiotest::WaitFor([&] { return Gone(hour); }, 5000));
    QCOMPARE(audiotest::CountEvents(AudioLayerEvent::Ended, hour), 1);
    QVERIFY(audiotest::WaitFor([&] { return announcer.AnnouncerStream() == 0; }, 2000));
    QCOMPARE(Created("").size(), 1);
}

void TestTimeAnnouncer::missingVoiceOrHourPlaysNothing() {
    TimeAnnouncer announcer;
    announcer.SetClock(ClockOf(std::make_shared<ScriptedClock>(QList<QTime>{QTime(9, 30)})));
    QCOMPARE(announcer.PlayTimeAnnouncement("", 0, m_effects), HSTREAM(0));
    QCOMPARE(announcer.PlayTimeAnnouncement("Nadie", 0, m_effects), HSTREAM(0));
    QCOMPARE(announcer.PlayTimeAnnouncement("Ana", 0, m_dir.filePath("missing")), HSTREAM(0));
    QCOMPARE(announcer.AnnouncerStream(), HSTREAM(0));
    QCOMPARE(AudioLayer_LiveStreams(), 0);
}

void TestTimeAnnouncer::timeFolderInAnyLetterCase_data() {
    QTest::addColumn<QString>("folderName");
    QTest::newRow("Time") << "Time";
    QTest::newRow("time") << "time";
    QTest::newRow("TIME") << "TIME";
}

void TestTimeAnnouncer::timeFolderInAnyLetterCase() {
    QFETCH(QString, folderName);
    const QString effects = MakeVoice(folderName, "Eva", true);
    QVERIFY(!effects.isEmpty());
    TimeAnnouncer announcer;
    announcer.SetClock(ClockOf(std::make_shared<ScriptedClock>(QList<QTime>{QTime(21, 45)})));
    // The effects folder with and without a trailing separator.
    const HSTREAM hour = announcer.PlayTimeAnnouncement("Eva", 0, effects + "/");
    QVERIFY(hour != 0);
    QCOMPARE(QString::fromStdString(AudioLayer_StreamPath(hour)),
             effects + "/" + folderName + "/Eva/HRS21.mp3");
    QVERIFY(audiotest::WaitFor([] { return !Created("MIN45").isEmpty(); }, 5000));
    QCOMPARE(TimeAnnouncer::VoiceFolder(effects, "Eva"), effects + "/" + folderName + "/Eva/");
}

void TestTimeAnnouncer::destroyedWhileTheHourPlays() {
    HSTREAM hour = 0;
    {
        TimeAnnouncer announcer;
        announcer.SetClock(ClockOf(std::make_shared<ScriptedClock>(QList<QTime>{QTime(8, 5)})));
        hour = announcer.PlayTimeAnnouncement("Ana", 0, m_effects);
        QVERIFY(hour != 0);
        QThread::msleep(380);
    }
    QVERIFY(Gone(hour));
    QTest::qWait(600);
    QCOMPARE(AudioLayer_LiveStreams(), 0);
    for (const AudioLayerEvent& e : Created("MIN"))
        QVERIFY(Gone(e.handle));
}

void TestTimeAnnouncer::minutesFollowOnTheCardTheHourWasMovedTo() {
    const int card = audiotest::DeviceNamed("JingleCard");
    if (card < 0)
        TAVORIA_SKIP_WITHOUT_SESSION(
            "no PulseAudio sink \"JingleCard\" (run inside the headless session)");
    BASS_Init(card, 44100, 0, nullptr, nullptr);
    TimeAnnouncer announcer;
    announcer.SetClock(ClockOf(std::make_shared<ScriptedClock>(QList<QTime>{QTime(17, 33)})));
    const HSTREAM hour = announcer.PlayTimeAnnouncement("Ana", 0, m_effects);
    QThread::msleep(100);
    announcer.MoveTo(card);
    QCOMPARE(BASS_ChannelGetDevice(hour), DWORD(card));
    QVERIFY(audiotest::WaitFor([] { return !Created("MIN33").isEmpty(); }, 5000));
    const DWORD minute = Created("MIN33").first().handle;
    QVERIFY(
        audiotest::WaitFor([&] { return IndexOf(AudioLayerEvent::Played, minute) >= 0; }, 2000));
    QCOMPARE(AudioLayer_History()[IndexOf(AudioLayerEvent::Played, minute)].device, card);
    // And a playing minutes file moves too.
    announcer.MoveTo(0);
    QVERIFY(Gone(minute) || BASS_ChannelGetDevice(minute) == 0);
}

void TestTimeAnnouncer::playsAtTheEffectsLevel() {
    // The hour and the minutes file play at the level set, from their first moment;
    // a change reaches the file that plays.
    const QString longClip = m_dir.filePath("long.mp3");
    QVERIFY(audiotest::MakeTone(longClip, 2.0, 300, 44100, 1));
    const QString effects = MakeVoice("Time", "Luz", true, longClip);
    QVERIFY(!effects.isEmpty());
    TimeAnnouncer announcer;
    announcer.SetClock(
        ClockOf(std::make_shared<ScriptedClock>(QList<QTime>{QTime(9, 10), QTime(9, 10)})));
    announcer.SetVolume(0.0f);
    const HSTREAM hour = announcer.PlayTimeAnnouncement("Luz", 0, effects);
    QVERIFY(hour != 0);
    QCOMPARE(AudioLayer_StreamVolume(hour), 0.0f);
    announcer.SetVolume(0.25f);
    QCOMPARE(AudioLayer_StreamVolume(hour), 0.25f);
    QVERIFY(audiotest::WaitFor([] { return !Created("MIN").isEmpty(); }, 8000));
    const DWORD minute = Created("MIN").first().handle;
    QCOMPARE(AudioLayer_StreamVolume(minute), 0.25f);
}

QTEST_GUILESS_MAIN(TestTimeAnnouncer)
#include "tst_timeannouncer.moc"
