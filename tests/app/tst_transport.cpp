// The window's main output path with real clips: Next on a failing file, captions
// that cannot be written, the level the first item plays at, the stop button and
// key, Play/Pause from idle, and a stop report that arrives after the next media
// has started.
#include "../player/PlayerTestSupport.h"
#include "app/TfrmMain.h"
#include "media/MediaFunctions.h"
#include "tests/DeskTestSupport.h"
#include "tests/SessionSkip.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QSlider>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QThread>
#include <QToolButton>
#include <QtTest>
#include <memory>

namespace {

QString StatusText(TfrmMain* w) {
    return w->barStatus->Panel(0)->text();
}

using desktest::AddRow;

bool Run(const QString& program, const QStringList& args) {
    return QProcess::execute(program, args) == 0;
}

} // namespace

class TstTransport : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void nextOnAMissingFileAnswersAtOnce();
    void captionThatCannotBeWrittenDoesNotStallTheList_data();
    void captionThatCannotBeWrittenDoesNotStallTheList();
    void firstItemPlaysAtTheSavedLevel_data();
    void firstItemPlaysAtTheSavedLevel();
    void stopButtonAndStopKeyResetTheBar();
    void playPauseFromIdleStartsNext();
    void nextWhilePlayingLeavesTheNewMediaRunning();

private:
    // Opens the desk in the working folder (after the test has put its config.ini there).
    void OpenDesk();

    std::unique_ptr<TfrmMain> m_w;
    std::unique_ptr<QTemporaryDir> m_work;
    QTemporaryDir m_media;
    QString m_clip6[2], m_clip10;
};

void TstTransport::initTestCase() {
    QVERIFY(m_media.isValid());
    for (int i = 0; i < 2; ++i) {
        m_clip6[i] = m_media.filePath(QStringLiteral("six%1.mp4").arg(i));
        QVERIFY(MakeVideoClip(m_clip6[i], 6));
    }
    m_clip10 = m_media.filePath(QStringLiteral("ten.mp4"));
    QVERIFY(MakeVideoClip(m_clip10, 10));
}

void TstTransport::init() {
    QVERIFY(desktest::EnterNewWorkFolder(m_work));
}

void TstTransport::OpenDesk() {
    QVERIFY(desktest::OpenDesk(m_w, m_work->path()));
}

void TstTransport::cleanup() {
    desktest::CloseDesk(m_w, m_work);
}

void TstTransport::nextOnAMissingFileAnswersAtOnce() {
    OpenDesk();
    // The default settings remember the main card: every play re-applies it once
    // playback has started.
    QVERIFY(!m_w->vlcPlayer->LastAudioOutputDeviceId().isEmpty());
    const QString gone = m_work->filePath(QStringLiteral("vanished.mp4"));
    AddRow(m_w.get(), gone);
    AddRow(m_w.get(), m_clip6[0]);
    QElapsedTimer t;
    t.start();
    m_w->cmdNext->click();
    const qint64 ms = t.elapsed();
    qInfo("Next on a missing file held the window %lld ms", static_cast<long long>(ms));
    QVERIFY2(ms < 2000, qPrintable(QString::number(ms)));
    QCOMPARE(m_w->CurrentIndex, 0);
    QCOMPARE(m_w->NextIndex, 1);
    QTRY_VERIFY_WITH_TIMEOUT(
        StatusText(m_w.get()).startsWith(QStringLiteral("Error al reproducir este archivo")), 5000);
    QVERIFY2(StatusText(m_w.get()).endsWith(QStringLiteral("vanished.mp4")),
             qPrintable(StatusText(m_w.get())));
    QCOMPARE(m_w->Errors().Count(), 0);
    // The desk plays on.
    int playing = 0;
    connect(m_w->vlcPlayer, &TVlcPlayer::OnMediaPlayerPlaying, this, [&] { ++playing; });
    m_w->cmdNext->click();
    QTRY_COMPARE_WITH_TIMEOUT(playing, 1, 10000);
    QCOMPARE(m_w->CurrentIndex, 1);
}

void TstTransport::captionThatCannotBeWrittenDoesNotStallTheList_data() {
    QTest::addColumn<QString>("outputFolder");
    QTest::newRow("folder missing") << QStringLiteral("no/such/folder");
    QTest::newRow("a file in place of the folder") << QStringLiteral("plain-file");
}

void TstTransport::captionThatCannotBeWrittenDoesNotStallTheList() {
    QFETCH(QString, outputFolder);
    OpenDesk();
    m_w->tmrHora->stop(); // the clock file would fail every second in the same folder
    QFile plain(m_work->filePath(QStringLiteral("plain-file")));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    m_w->txtCurrentSong->setText(m_work->filePath(outputFolder));
    QTreeWidgetItem* caption = m_w->lstTextos->AddItem();
    for (const char* s : {"Ana", "Charla", "Sala"})
        m_w->lstTextos->AddSubItem(caption, QString::fromUtf8(s));
    AddRow(m_w.get(), m_clip6[0], QStringLiteral("1"));
    AddRow(m_w.get(), m_clip6[1], QStringLiteral("1"));
    m_w->txtRepeat->setValue(1);
    m_w->Errors().ResetForTests();
    int playing = 0;
    connect(m_w->vlcPlayer, &TVlcPlayer::OnMediaPlayerPlaying, this, [&] { ++playing; });

    m_w->cmdNext->click();
    // The row plays and the positions moved on; the failure is shown once.
    QCOMPARE(m_w->CurrentIndex, 0);
    QCOMPARE(m_w->NextIndex, 1);
    QCOMPARE(m_w->lstPlayListCustomDrawItem(0), QColor(0, 128, 0));
    QCOMPARE(m_w->lstPlayListCustomDrawItem(1), QColor(255, 255, 0));
    QCOMPARE(m_w->Errors().Count(), 1);
    QVERIFY(m_w->Errors().BoxVisible());
    QTRY_COMPARE_WITH_TIMEOUT(playing, 1, 10000);
    // The next Next goes on to the following row, not the same one again.
    m_w->cmdNext->click();
    QCOMPARE(m_w->CurrentIndex, 1);
    QCOMPARE(m_w->NextIndex, 0);
    QCOMPARE(m_w->Errors().Count(), 2);
    QTRY_COMPARE_WITH_TIMEOUT(playing, 2, 10000);
}

void TstTransport::firstItemPlaysAtTheSavedLevel_data() {
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("level");
    QTest::newRow("VolPrincipal=40") << 40 << 60;
    QTest::newRow("VolPrincipal=1 (the top)") << 1 << 99;
    QTest::newRow("VolPrincipal=85") << 85 << 15;
}

void TstTransport::firstItemPlaysAtTheSavedLevel() {
    QFETCH(int, position);
    QFETCH(int, level);
    QFile ini(m_work->filePath(QStringLiteral("config.ini")));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write(QStringLiteral("[CONFIG]\nVolPrincipal=%1\nVolPisador=50\n").arg(position).toUtf8());
    ini.close();
    OpenDesk();
    QCOMPARE(m_w->volPrincipal->value(), position);
    libvlc_media_player_t* mp = m_w->vlcPlayer->GetPlayerHandle();
    QVERIFY(mp != nullptr);
    // Set as soon as the player exists, before anything plays.
    QCOMPARE(VlcAudioGetVolume(mp), level);
    AddRow(m_w.get(), m_clip10);
    int playing = 0;
    connect(m_w->vlcPlayer, &TVlcPlayer::OnMediaPlayerPlaying, this, [&] { ++playing; });
    m_w->cmdNext->click();
    QTRY_COMPARE_WITH_TIMEOUT(playing, 1, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(m_w->LastTimeMs > 500, 5000);
    QCOMPARE(VlcAudioGetVolume(mp), level);
    // Ducking still switches to the other slider's level, and back.
    m_w->cmdPisador->click();
    QTRY_COMPARE_WITH_TIMEOUT(VlcAudioGetVolume(mp), 50, 3000);
    m_w->cmdPisador->click();
    QTRY_COMPARE_WITH_TIMEOUT(VlcAudioGetVolume(mp), level, 3000);
}

void TstTransport::stopButtonAndStopKeyResetTheBar() {
    OpenDesk();
    AddRow(m_w.get(), m_clip10);
    m_w->txtRepeat->setValue(1);
    int playing = 0;
    connect(m_w->vlcPlayer, &TVlcPlayer::OnMediaPlayerPlaying, this, [&] { ++playing; });
    auto playUntilTwoSeconds = [&] {
        const int before = playing;
        m_w->cmdNext->click();
        QTRY_VERIFY_WITH_TIMEOUT(playing > before, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(m_w->LastTimeMs > 2000 && m_w->ProgBar->value() > 2000, 8000);
    };

    playUntilTwoSeconds();
    m_w->cmdStop->click();
    QTRY_COMPARE_WITH_TIMEOUT(m_w->vlcPlayer->GetState(), vlcPlayer_Stopped, 3000);
    QTRY_COMPARE_WITH_TIMEOUT(m_w->ProgBar->value(), 0, 3000);
    QCOMPARE(m_w->LastTimeMs, 0);

    if (QGuiApplication::platformName() != QStringLiteral("xcb"))
        TAVORIA_SKIP_WITHOUT_SESSION("the media keys are read from the X server");
    playUntilTwoSeconds();
    QVERIFY(Run(QStringLiteral("xdotool"), {"keydown", "XF86AudioStop"}));
    QTRY_COMPARE_WITH_TIMEOUT(m_w->vlcPlayer->GetState(), vlcPlayer_Stopped, 5000);
    QVERIFY(Run(QStringLiteral("xdotool"), {"keyup", "XF86AudioStop"}));
    QTRY_COMPARE_WITH_TIMEOUT(m_w->ProgBar->value(), 0, 3000);
    QCOMPARE(m_w->LastTimeMs, 0);
    // A stop ends nothing: the end handler does not run Next afterwards.
    QTest::qWait(500);
    QCOMPARE(m_w->vlcPlayer->GetState(), vlcPlayer_Stopped);
}

void TstTransport::playPauseFromIdleStartsNext() {
    OpenDesk();
    AddRow(m_w.get(), m_clip10);
    AddRow(m_w.get(), m_clip6[0]);
    QCOMPARE(m_w->vlcPlayer->GetState(), vlcPlayer_NothingSpecial);
    QList<int> played;
    connect(m_w->vlcPlayer, &TVlcPlayer::OnMediaPlayerPlaying, this,
            [&] { played << m_w->CurrentIndex; });
    m_w->cmdPlayPause->click(); // idle: runs Next
    QTRY_COMPARE_WITH_TIMEOUT(played, QList<int>{0}, 10000);
    QCOMPARE(m_w->NextIndex, 1);
    // Playing: it pauses and resumes, and starts nothing.
    m_w->cmdPlayPause->click();
    QTRY_VERIFY_WITH_TIMEOUT(m_w->vlcPlayer->IsPause(), 5000);
    m_w->cmdPlayPause->click();
    QTRY_VERIFY_WITH_TIMEOUT(m_w->vlcPlayer->IsPlay(), 5000);
    QCOMPARE(m_w->CurrentIndex, 0);
    QCOMPARE(m_w->NextIndex, 1);
    // Stopped: it runs Next again, with the yellow row.
    m_w->cmdStop->click();
    QTRY_COMPARE_WITH_TIMEOUT(m_w->vlcPlayer->GetState(), vlcPlayer_Stopped, 3000);
    m_w->cmdPlayPause->click();
    QTRY_VERIFY_WITH_TIMEOUT(played.size() >= 3 && played.last() == 1, 10000);
    QCOMPARE(m_w->CurrentIndex, 1);
}

void TstTransport::nextWhilePlayingLeavesTheNewMediaRunning() {
    OpenDesk();
    AddRow(m_w.get(), m_clip10);
    AddRow(m_w.get(), m_clip10);
    int playing = 0;
    connect(m_w->vlcPlayer, &TVlcPlayer::OnMediaPlayerPlaying, this, [&] { ++playing; });
    m_w->cmdNext->click();
    QTRY_VERIFY_WITH_TIMEOUT(m_w->LastTimeMs > 2000, 10000);
    // Next stops the playing media inside the play call; its stop report is handled
    // only once the new media runs. The window is busy for a while afterwards, as
    // on a loaded machine, so the new media is well under way by then.
    // Reports of the old media may still be queued: only those after the new
    // media's playing report count.
    const int before = playing;
    QList<qint64> times;
    connect(m_w->vlcPlayer, &TVlcPlayer::OnMediaPlayerTimeChanged, this, [&](qint64 time) {
        if (playing > before)
            times << time;
    });
    m_w->cmdNextClick();
    QThread::msleep(1500);
    QTRY_VERIFY_WITH_TIMEOUT(times.size() >= 8 && times.last() > 2500, 10000);
    // The new media was not sent back to its start: its time only moves forward.
    for (int i = 1; i < times.size(); ++i)
        QVERIFY2(
            times[i] >= times[i - 1],
            qPrintable(
                QStringLiteral("time went back from %1 to %2 ms").arg(times[i - 1]).arg(times[i])));
    QCOMPARE(m_w->CurrentIndex, 1);
    QVERIFY(m_w->LastTimeMs > 2500);
    QVERIFY(m_w->ProgBar->value() > 2500);
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tavoria 3 (beta)"));
    TstTransport t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_transport.moc"
