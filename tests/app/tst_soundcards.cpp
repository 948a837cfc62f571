// The window's sound cards on the headless session's sound server: the playlist
// plays on the card chosen in "On Air", the effects on the effects card, and
// "Default" is the sound server's default output. What reached each card is
// recorded from the null sinks' monitors ("MainOut" = main_out, "JingleCard" =
// jingle_out).
#include "../audio/MonitorRecorder.h"
#include "app/CuePlayer.h"
#include "app/TfrmMain.h"
#include "player/VlcPlayerUnit.h"
#include "tests/DeskTestSupport.h"
#include "tests/SessionSkip.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QtTest>
#include <memory>

using audiotest::MonitorRecorder;

namespace {

using desktest::AddRow;

bool SetDefaultSink(const char* sink) {
    return audiotest::Run(QStringLiteral("pactl"), {"set-default-sink", sink});
}

constexpr double kToneRms = 0.3536; // a sine of amplitude 0.5

// What one card played: its 50 ms windows drawn as "#" (the tone), "." (quieter
// sound) and "_" (silence).
QString Picture(const QList<std::pair<double, double>>& windows) {
    QString picture;
    for (const auto& w : windows) {
        const double level = std::max(w.first, w.second);
        picture += level > 0.05    ? QLatin1Char('#')
                   : level > 0.001 ? QLatin1Char('.')
                                   : QLatin1Char('_');
    }
    return picture;
}

// Records both cards until the one that should carry the tone has delivered 2 s;
// the tone must fill most of it at its level (libVLC itself sometimes leaves a gap
// of about half a second in a play, a bare libVLC program as well), and nothing at
// all may reach the other card.
QString HeardOnlyOn(const QString& sink, double level) {
    const QString other = sink == QStringLiteral("main_out") ? QStringLiteral("jingle_out")
                                                             : QStringLiteral("main_out");
    MonitorRecorder on(sink), off(other);
    if (!on.Started() || !off.Started())
        return QStringLiteral("parec did not start");
    audiotest::WaitFor(
        [&] {
            on.Pump();
            off.Pump();
            return on.Seconds() >= 2.0;
        },
        8000);
    const auto heard = on.Finish();
    const auto silent = off.Finish();
    const double loud = audiotest::LoudSeconds(heard, 0.05);
    const double typical = audiotest::TypicalLevel(heard, true);
    const double peak = audiotest::PeakRms(silent);
    if (heard.size() >= 35 && loud >= 1.2 && qAbs(typical - level) < level * 0.1 && peak < 0.001)
        return QString();
    return QStringLiteral("%1 level %2: %3\n%4 peak %5: %6")
        .arg(sink)
        .arg(typical)
        .arg(Picture(heard))
        .arg(other)
        .arg(peak)
        .arg(Picture(silent));
}

} // namespace

#define VERIFY_HEARD_ONLY_ON(sink, level)                                                          \
    do {                                                                                           \
        const QString fault = HeardOnlyOn(QStringLiteral(sink), level);                            \
        QVERIFY2(fault.isEmpty(), qPrintable(fault));                                              \
    } while (false)

class TstSoundCards : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void defaultSettingsPlaylistOnFirstCardEffectsOnDefault();
    void playlistReachesTheCardChosenInOnAir();
    void defaultFollowsTheSoundServersChoice();
    void soundCardFailureIsShownOverTheWindow();

private:
    void Start();
    void Choose(QComboBox* list, const QString& text);
    // Runs Next and waits until the row plays.
    void Next();
    // Lets a change of card settle before it is recorded.
    static void Settle() { QTest::qWait(1000); }

    QTemporaryDir m_media;
    QString m_tone, m_effects;
    std::unique_ptr<QTemporaryDir> m_work;
    std::unique_ptr<TfrmMain> m_w;
};

void TstSoundCards::initTestCase() {
    QByteArray sinks;
    if (!audiotest::Run(QStringLiteral("pactl"), {"list", "short", "sinks"}, &sinks) ||
        !sinks.contains("main_out") || !sinks.contains("jingle_out"))
        TAVORIA_SKIP_WITHOUT_SESSION(
            "the sound server's sinks \"MainOut\" and \"JingleCard\" are missing "
            "(run inside the headless session)");
    QVERIFY(m_media.isValid());
    // Long enough that no end of media runs Next by itself during a test.
    m_tone = m_media.filePath(QStringLiteral("tone.wav"));
    QVERIFY(audiotest::MakeTone(m_tone, 40, 1000, 44100, 2, {"-c:a", "pcm_s16le"}));
    m_effects = m_media.filePath(QStringLiteral("fx"));
    QVERIFY(QDir(m_effects).mkpath(QStringLiteral("Efx/Tonos")));
    QVERIFY(audiotest::MakeTone(m_effects + QStringLiteral("/Efx/Tonos/efecto.mp3"), 4, 600));
}

void TstSoundCards::init() {
    QVERIFY(desktest::EnterNewWorkFolder(m_work));
    QVERIFY(SetDefaultSink("main_out"));
}

void TstSoundCards::cleanup() {
    desktest::CloseDesk(m_w, m_work);
    SetDefaultSink("main_out");
}

void TstSoundCards::Start() {
    QVERIFY(desktest::OpenDesk(m_w, m_work->path()));
}

void TstSoundCards::Choose(QComboBox* list, const QString& text) {
    const int index = list->findText(text);
    QVERIFY2(index >= 0, qPrintable(text));
    list->setCurrentIndex(index);
    emit list->activated(index); // as the operator's choice
}

void TstSoundCards::Next() {
    // libVLC's sound settles during the first second or so of a play (it may drop
    // about half a second early on a busy machine): wait until it is two seconds in.
    qint64 time = -1;
    auto c = connect(m_w->vlcPlayer, &TVlcPlayer::OnMediaPlayerTimeChanged, this,
                     [&](qint64 t) { time = t; });
    m_w->cmdNext->click();
    QTRY_VERIFY_WITH_TIMEOUT(time >= 2000 && time < 10000, 15000);
    disconnect(c);
}

void TstSoundCards::defaultSettingsPlaylistOnFirstCardEffectsOnDefault() {
    // The system's default output is the second card here, so that "the first
    // card" and "the default" are told apart.
    QVERIFY(SetDefaultSink("jingle_out"));
    Start();
    // "On Air" starts with "Default"; the saved default 1 is the first real card.
    QCOMPARE(m_w->cboSoundMain->itemText(0), QStringLiteral("Default"));
    QCOMPARE(m_w->cboSoundMain->itemText(1), QStringLiteral("MainOut"));
    QCOMPARE(m_w->cboSoundMain->itemText(2), QStringLiteral("JingleCard"));
    QCOMPARE(m_w->cboSoundMain->currentText(), QStringLiteral("MainOut"));
    // The effects list adds "No sound"; the saved default 1 is "Default".
    QCOMPARE(m_w->cboSoundCue->itemText(0), QStringLiteral("No sound"));
    QCOMPARE(m_w->cboSoundCue->itemText(1), QStringLiteral("Default"));
    QCOMPARE(m_w->cboSoundCue->currentIndex(), 1);
    QVERIFY(!m_w->findChild<QMessageBox*>(QStringLiteral("SoundCardErrorBox")));

    AddRow(m_w.get(), m_tone);
    Next();
    VERIFY_HEARD_ONLY_ON("main_out", kToneRms);

    m_w->cmdStopClick();
    m_w->txtFolderCunas->setText(m_effects);
    QCOMPARE(m_w->tabEfectos->Count(), 1);
    m_w->tabEfectos->ClickTab(0);
    QCOMPARE(m_w->lstJingles->RowCount(), 1);
    m_w->lstJingles->setCurrentItem(m_w->lstJingles->Row(0));
    m_w->lstJinglesDblClick();
    // The effect is under way before its card is recorded.
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            const HSTREAM cue = m_w->Cue()->CueStream();
            const QWORD at = BASS_ChannelGetPosition(cue, BASS_POS_BYTE);
            return BASS_ChannelIsActive(cue) == BASS_ACTIVE_PLAYING && at != QWORD(-1) && at > 0;
        }(),
        5000);
    VERIFY_HEARD_ONLY_ON("jingle_out", kToneRms * 0.99);
    m_w->cmdStopCueClick();
}

void TstSoundCards::playlistReachesTheCardChosenInOnAir() {
    Start();
    AddRow(m_w.get(), m_tone);
    AddRow(m_w.get(), m_tone);
    Choose(m_w->cboSoundMain, QStringLiteral("JingleCard"));
    Next();
    VERIFY_HEARD_ONLY_ON("jingle_out", kToneRms);

    // A change while it plays moves the sound that is on air.
    Choose(m_w->cboSoundMain, QStringLiteral("MainOut"));
    Settle();
    VERIFY_HEARD_ONLY_ON("main_out", kToneRms);

    // And the next row plays there too.
    Next();
    VERIFY_HEARD_ONLY_ON("main_out", kToneRms);
}

void TstSoundCards::defaultFollowsTheSoundServersChoice() {
    Start();
    for (int i = 0; i < 3; ++i)
        AddRow(m_w.get(), m_tone);
    Choose(m_w->cboSoundMain, QStringLiteral("JingleCard"));
    Next();
    VERIFY_HEARD_ONLY_ON("jingle_out", kToneRms);

    // "Default" chosen while another card plays: the sound goes to the system's
    // default output at once, not only from the next play on.
    Choose(m_w->cboSoundMain, QStringLiteral("Default"));
    Settle();
    VERIFY_HEARD_ONLY_ON("main_out", kToneRms);

    // Every new play goes to the default of the moment.
    QVERIFY(SetDefaultSink("jingle_out"));
    Next();
    VERIFY_HEARD_ONLY_ON("jingle_out", kToneRms);
    QVERIFY(SetDefaultSink("main_out"));
    Next();
    VERIFY_HEARD_ONLY_ON("main_out", kToneRms);
}

void TstSoundCards::soundCardFailureIsShownOverTheWindow() {
    // An effects card that was saved and has gone since: the layer still lists it
    // (disabled) and cannot initialise it.
    QByteArray module;
    if (!audiotest::Run(QStringLiteral("pactl"),
                        {"load-module", "module-null-sink", "sink_name=gone_out",
                         "sink_properties=device.description=GoneCard"},
                        &module))
        TAVORIA_SKIP_WITHOUT_SESSION("cannot add a sink to the sound server");
    int gone = -1;
    QVERIFY(
        audiotest::WaitFor([&] { return (gone = audiotest::DeviceNamed("GoneCard")) > 0; }, 5000));
    QVERIFY(audiotest::Run(QStringLiteral("pactl"),
                           {"unload-module", QString::fromUtf8(module.trimmed())}));
    BASS_DEVICEINFO info{};
    QVERIFY(audiotest::WaitFor(
        [&] {
            return BASS_GetDeviceInfo(DWORD(gone), &info) && !(info.flags & BASS_DEVICE_ENABLED);
        },
        5000));
    QFile config(QStringLiteral("config.ini"));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write(QStringLiteral("[CONFIG]\nSoundCue=%1\n").arg(gone).toUtf8());
    config.close();

    auto visibleBoxes = [] {
        int n = 0;
        for (QWidget* top : QApplication::topLevelWidgets())
            if (qobject_cast<QMessageBox*>(top) && top->isVisible())
                ++n;
        return n;
    };
    m_w = std::make_unique<TfrmMain>();
    QCOMPARE(m_w->cboSoundCue->currentIndex(), gone);
    // Nothing is shown before the window.
    QTest::qWait(100);
    QCOMPARE(visibleBoxes(), 0);
    m_w->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_w.get()));
    QMessageBox* box = nullptr;
    QTRY_VERIFY((box = m_w->findChild<QMessageBox*>(QStringLiteral("SoundCardErrorBox"))) &&
                box->isVisible());
    QCOMPARE(box->text(), QStringLiteral("No se pudo cargar la tarjeta de Sonido"));
    QCOMPARE(box->icon(), QMessageBox::Critical);
    QCOMPARE(box->parentWidget(), m_w.get());
    QCOMPARE(box->windowModality(), Qt::WindowModal);
    QCOMPARE(visibleBoxes(), 1);
    // The desk runs on behind it.
    QVERIFY(m_w->tmrHora->isActive());

    // Closing the window ends the program, box or no box.
    QTimer::singleShot(200, m_w.get(), [this] { m_w->close(); });
    QTimer guard; // a program kept alive is stopped here
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    guard.start(10000);
    QCOMPARE(QApplication::exec(), 0);
    QCOMPARE(visibleBoxes(), 0);
}

QTEST_MAIN(TstSoundCards)
#include "tst_soundcards.moc"
