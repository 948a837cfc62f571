// The effects folder, the effects list and the time announcer as the window drives
// them: tabs, the apostrophe rule, playing on the chosen card, volume, progress,
// stop, and the clock click.
#include "app/CuePlayer.h"
#include "app/TfrmMain.h"
#include "app/TimeAnnouncer.h"
#include "audio/AudioLayerTesting.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

namespace {
bool Tone(const QString& path, double seconds) {
    return QProcess::execute(QStringLiteral("ffmpeg"),
                             {"-v", "error", "-y", "-f", "lavfi", "-i",
                              QStringLiteral("sine=f=660:d=%1").arg(seconds), "-c:a", "libmp3lame",
                              "-b:a", "128k", path}) == 0;
}
QStringList Names(TListView* lv) {
    QStringList out;
    for (int i = 0; i < lv->RowCount(); ++i)
        out << TListView::SubItem(lv->Row(i), 0);
    out.sort();
    return out;
}
int TabOf(TTabStrip* tabs, const QString& text) {
    for (int i = 0; i < tabs->Count(); ++i)
        if (tabs->TabText(i) == text)
            return i;
    return -1;
}
} // namespace

class TstEffects : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void tabsListsAndPlaying();
    void announcerFromTheClock();
    void cleanupTestCase();

private:
    QTemporaryDir m_dir;
    std::unique_ptr<TfrmMain> m_w;
};

void TstEffects::initTestCase() {
    QVERIFY(QDir::setCurrent(m_dir.path()));
    const QString fx = m_dir.filePath(QStringLiteral("fx"));
    for (const char* sub : {"Efx/Aplausos", "Efx/'Quoted'", "Efx/Quoted", "Efx/Vacía", "Time/Ana"})
        QVERIFY(QDir(fx).mkpath(QString::fromUtf8(sub)));
    QVERIFY(Tone(fx + QStringLiteral("/Efx/Aplausos/largo.mp3"), 4));
    QVERIFY(Tone(fx + QStringLiteral("/Efx/Aplausos/corto.mp3"), 1.5));
    QVERIFY(Tone(fx + QStringLiteral("/Efx/Quoted/sin comillas.mp3"), 1.2));
    // The hour file of now and of the next hour, should the hour turn during the test.
    const QTime now = QTime::currentTime();
    const auto hourFile = [&](int hour) {
        return fx + QStringLiteral("/Time/Ana/HRS%1.mp3").arg(hour % 24, 2, 10, QLatin1Char('0'));
    };
    QVERIFY(Tone(hourFile(now.hour()), 3));
    QVERIFY(QFile::copy(hourFile(now.hour()), hourFile(now.hour() + 1)));
    QVERIFY(Tone(fx + QStringLiteral("/Time/Ana/HRS00_O.mp3"), 3));
    AudioLayer_SetHistoryEnabled(true);
    m_w = std::make_unique<TfrmMain>();
    m_w->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_w.get()));
    m_w->txtFolderCunas->setText(fx);
}

void TstEffects::tabsListsAndPlaying() {
    TTabStrip* tabs = m_w->tabEfectos;
    QCOMPARE(tabs->Count(), 4);
    // The voices are listed from the "Time" folder whatever its letter case.
    QCOMPARE(m_w->cboHoras->count(), 1);
    // A tab whose name is quoted lists the folder without the quotes.
    tabs->ClickTab(TabOf(tabs, QStringLiteral("'Quoted'")));
    QCOMPARE(Names(m_w->lstJingles), QStringList{"sin comillas.mp3"});
    tabs->ClickTab(TabOf(tabs, QStringLiteral("Vacía")));
    QCOMPARE(m_w->lstJingles->RowCount(), 0);
    tabs->ClickTab(TabOf(tabs, QStringLiteral("Aplausos")));
    QCOMPARE(Names(m_w->lstJingles), (QStringList{"corto.mp3", "largo.mp3"}));
    QTreeWidgetItem* largo = nullptr;
    for (int i = 0; i < m_w->lstJingles->RowCount(); ++i)
        if (TListView::SubItem(m_w->lstJingles->Row(i), 0) == QStringLiteral("largo.mp3"))
            largo = m_w->lstJingles->Row(i);
    QVERIFY(largo);
    QCOMPARE(TListView::SubItem(largo, 1), QStringLiteral("00:00:04"));

    // Play on the card chosen in the effects list, at the volume of the slider.
    const int jingle = m_w->cboSoundCue->findText(QStringLiteral("JingleCard"));
    QVERIFY(jingle > 0);
    m_w->cboSoundCue->setCurrentIndex(jingle);
    m_w->cboSoundCueChange();
    m_w->tbCue->setValue(50);
    m_w->lstJingles->setCurrentItem(largo);
    m_w->lstJinglesDblClick();
    const HSTREAM first = m_w->Cue()->CueStream();
    QVERIFY(first != 0);
    QVERIFY(
        QString::fromStdString(AudioLayer_StreamPath(first)).endsWith(QStringLiteral("largo.mp3")));
    QCOMPARE(AudioLayer_StreamVolume(first), 0.5f);
    QCOMPARE(BASS_ChannelGetDevice(first), DWORD(jingle));
    // The progress display follows the 100 ms timer.
    QTRY_VERIFY_WITH_TIMEOUT(m_w->trkCuePosition->SelEnd() > 0, 3000);
    QVERIFY(m_w->trkCuePosition->maximum() > m_w->trkCuePosition->SelEnd());
    m_w->tbCue->setValue(100);
    QCOMPARE(AudioLayer_StreamVolume(first), 0.0f);

    // Stop frees it and resets the progress; pressing Stop again is harmless.
    m_w->cmdStopCue->click();
    QCOMPARE(m_w->trkCuePosition->SelEnd(), 0);
    QVERIFY(AudioLayer_StreamPath(first).empty());
    m_w->cmdStopCue->click();

    // A short effect that ends by itself resets the progress on the UI thread.
    m_w->tbCue->setValue(1);
    for (int i = 0; i < m_w->lstJingles->RowCount(); ++i)
        if (TListView::SubItem(m_w->lstJingles->Row(i), 0) == QStringLiteral("corto.mp3"))
            m_w->lstJingles->setCurrentItem(m_w->lstJingles->Row(i));
    m_w->lstJinglesDblClick();
    const HSTREAM second = m_w->Cue()->CueStream();
    QVERIFY(second != 0 && second != first);
    QTRY_VERIFY_WITH_TIMEOUT(m_w->trkCuePosition->SelEnd() > 0, 3000);
    QTRY_VERIFY_WITH_TIMEOUT(AudioLayer_StreamPath(second).empty(), 6000);
    QTRY_COMPARE_WITH_TIMEOUT(m_w->trkCuePosition->SelEnd(), 0, 2000);

    // A file that cannot be opened: nothing plays, no error box.
    m_w->lstJingles->SetSubItem(m_w->lstJingles->Row(0), 2,
                                m_dir.filePath(QStringLiteral("gone.mp3")));
    m_w->lstJingles->setCurrentItem(m_w->lstJingles->Row(0));
    m_w->lstJinglesDblClick();
    QCOMPARE(m_w->Cue()->CueStream(), HSTREAM(0));
    QCOMPARE(m_w->Errors().Count(), 0);

    // A tab whose folder vanished lists nothing, without a message.
    const QString fx = m_dir.filePath(QStringLiteral("fx"));
    QVERIFY(QDir(fx + QStringLiteral("/Efx/Quoted")).removeRecursively());
    tabs->ClickTab(TabOf(tabs, QStringLiteral("'Quoted'")));
    QCOMPARE(m_w->lstJingles->RowCount(), 0);
    QCOMPARE(m_w->Errors().Count(), 0);
}

void TstEffects::announcerFromTheClock() {
    QCOMPARE(m_w->cboHoras->itemText(0), QStringLiteral("Ana"));
    m_w->cboHoras->setCurrentIndex(0);
    AudioLayer_ClearHistory();
    m_w->lblHora->clicked();
    const HSTREAM hour = m_w->Announcer()->AnnouncerStream();
    QVERIFY(hour != 0);
    const QString path = QString::fromStdString(AudioLayer_StreamPath(hour));
    QVERIFY2(path.contains(QStringLiteral("/Ana/HRS")), qPrintable(path));
    QCOMPARE(BASS_ChannelGetDevice(hour), DWORD(m_w->cboSoundCue->currentIndex()));
    // The effects fader governs the talking clock too: at its bottom it is silent,
    // and a move reaches the announcement that plays.
    QCOMPARE(AudioLayer_StreamVolume(hour), CuePlayer::Level(m_w->tbCue->value()));
    m_w->tbCue->setValue(100);
    QCOMPARE(AudioLayer_StreamVolume(hour), 0.0f);
    m_w->lblHora->clicked();
    QCOMPARE(AudioLayer_StreamVolume(m_w->Announcer()->AnnouncerStream()), 0.0f);
    m_w->tbCue->setValue(1);
}

void TstEffects::cleanupTestCase() {
    m_w.reset();
    QDir::setCurrent(QDir::tempPath());
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tavoria 3 (beta)"));
    TstEffects t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_effects.moc"
