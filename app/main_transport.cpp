// The transport: Play/Pause, Stop, Repeat, stop-after-this, the seek bar, the time
// labels, the media keys and the reactions to the player's reports.
#include "app/PlayoutLogic.h"
#include "app/TfrmMain.h"
#include "media/TextFile.h"
#include "platform/MediaKeys.h"
#include "player/VlcPlayerUnit.h"
#include "player/VlcUnit.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QTime>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

void TfrmMain::cmdPlayPauseClick() {
    if (vlcPlayer->IsPause())
        vlcPlayer->Resume();
    else
        vlcPlayer->Pause();
    const TVlcPlayerState state = vlcPlayer->GetState();
    if (state == vlcPlayer_NothingSpecial || state == vlcPlayer_Stopped)
        cmdNextClick();
}

void TfrmMain::cmdStopClick() {
    vlcPlayer->Stop(1000);
}

void TfrmMain::cmdRepeatClick() {
    if (cmdRepeat->isChecked())
        cmdStopOnPlay->setChecked(false);
}

void TfrmMain::cmdStopOnPlayClick() {
    if (cmdStopOnPlay->isChecked())
        cmdRepeat->setChecked(false);
}

void TfrmMain::SetProgBar(int position, int maximum) {
    m_progBarAttached = false;
    if (maximum >= 0)
        ProgBar->setMaximum(maximum);
    if (position >= 0)
        ProgBar->setValue(position);
    m_progBarAttached = true;
}

void TfrmMain::ProgBarChange() {
    if (!m_progBarAttached)
        return;
    vlcPlayer->SetVideoPosInMs(ProgBar->value());
}

void TfrmMain::vlcPlayerMediaPlayerMediaChanged() {
    // A new media: its end moves the list on only once it has played. Reports of
    // the media before it were all delivered before this one.
    m_awaitingMedia = false;
    m_mediaPlayed = false;
    m_mediaHasStreams = false;
}

void TfrmMain::vlcPlayerMediaPlayerEsAdded() {
    if (m_awaitingMedia)
        return;
    m_mediaHasStreams = true;
    if (m_mediaPlayed)
        MediaAiring();
}

void TfrmMain::MediaAiring() {
    // The row plays: its failure mark goes, and the count of failures in a row
    // starts again.
    m_failuresInARow = 0;
    MarkRowFailed(lstPlayList->Row(CurrentIndex), false);
}

void TfrmMain::vlcPlayerMediaPlayerPlaying() {
    cmdPlayPause->setIcon(imgControls.Icon(2));
    if (m_awaitingMedia)
        return;
    m_mediaPlayed = true;
    if (m_mediaHasStreams)
        MediaAiring();
}

void TfrmMain::vlcPlayerMediaPlayerPaused() {
    cmdPlayPause->setIcon(imgControls.Icon(1));
}

void TfrmMain::vlcPlayerMediaPlayerStopped() {
    cmdPlayPause->setIcon(imgControls.Icon(1));
    const TVlcPlayerState state = vlcPlayer->GetState();
    if (state == vlcPlayer_Opening || state == vlcPlayer_Buffering || state == vlcPlayer_Playing ||
        state == vlcPlayer_Paused) {
        // The report of the media that Next stopped, handled once the next media
        // has started: a seek now would send the new media back to its start (and
        // its stream back in time). The bar starts again from 0 without seeking.
        SetProgBar(0, -1);
        LastTimeMs = 0;
        return;
    }
    // With the handler attached: a bar that was elsewhere seeks to 0.
    ProgBar->setValue(0);
}

void TfrmMain::vlcPlayerMediaPlayerEndReached() {
    if (m_awaitingMedia)
        return; // the end of the media Next has just replaced
    const EndOfMediaPlan plan =
        PlanEndOfMedia(m_mediaPlayed, chkHoraPistas->isChecked(), cmdRepeat->isChecked(),
                       cmdStopOnPlay->isChecked(), chkTopSubtitle->isChecked());
    if (!plan.act)
        return;
    m_mediaPlayed = false;
    if (!m_mediaHasStreams) {
        // Opened and "played" without a single sound or picture stream (bytes no
        // decoder takes): a failed row, not one that aired.
        vlcPlayerMediaPlayerEncounteredError();
        return;
    }
    LastTimeMs = 0;
    if (plan.announce)
        lblHoraClick();
    // The row that played may have left the list: then the list goes on.
    if (plan.repeat && CurrentIndex >= 0)
        NextIndex = CurrentIndex;
    if (plan.next)
        cmdNextClick();
    if (plan.firstCaption && lstTextos->RowCount() > 0)
        PublishCaption(0);
}

void TfrmMain::vlcPlayerMediaPlayerEncounteredError() {
    if (m_awaitingMedia && m_startingRow < 0)
        return; // a failure of the media Next has just replaced
    const QString mrl = vlcPlayer->GetMediaMrl();
    const QUrl url(mrl);
    const QString where = url.isLocalFile() ? url.toLocalFile() : mrl;
    // Inside Next's play call the row is not CurrentIndex yet.
    QTreeWidgetItem* row = lstPlayList->Row(m_startingRow >= 0 ? m_startingRow : CurrentIndex);
    MarkRowFailed(row, true);
    BlankMonitor();
    // The failure on air is what the status bar keeps (the next row is marked red
    // if its file is missing).
    m_announceNext = 0;
    Mensaje(QStringLiteral("Error al reproducir este archivo: ") + where, 0);
    if (!chkSaltarError->isChecked() || m_startingRow >= 0)
        return;
    if (++m_failuresInARow >= 3) {
        m_failuresInARow = 0;
        Mensaje(
            QStringLiteral("Tres pistas seguidas no se pudieron reproducir: la lista se detuvo"),
            0);
        return;
    }
    // The failing row stays marked and the list goes on by itself.
    m_skipTimer->start();
}

void TfrmMain::BlankMonitor() {
    vlcPlayer->BlankVideo();
}

void TfrmMain::vlcPlayerMediaPlayerTimeChanged(qint64 time) {
    const int t = int(time);
    SetProgBar(t, -1);
    lblRestante->setText(
        TimeMsToStr(qint64(ProgBar->maximum()) - time, QStringLiteral("hh:mm:ss")));
    LastTimeMs = t;
}

void TfrmMain::vlcPlayerMediaPlayerLengthChanged(qint64 length) {
    if (QTreeWidgetItem* row = lstPlayList->Row(CurrentIndex)) {
        const QString duration = TListView::SubItem(row, 1);
        if (TListView::SubItemCount(row) >= 2 &&
            (duration.isEmpty() || duration == QStringLiteral("00:00:00")))
            lstPlayList->SetSubItem(row, 1, TimeMsToStr(length, QStringLiteral("hh:mm:ss")));
    }
    SetProgBar(-1, std::max(0, int(length)));
    lblDuracion->setText(TimeMsToStr(length, QStringLiteral("hh:mm:ss")));
    m_mediaEndTime = EndTimeOf(length, QTime::currentTime());
    lblEndTime->setText(EndTimeText(m_mediaEndTime));
}

void TfrmMain::tmrVumeterTimer() {
    CueProgressTick();
}

// The media keys are watched from the start until the window closes. Each press
// runs its action once; a key held down does not repeat it.
void TfrmMain::StartMediaKeys() {
    m_mediaKeys = new MediaKeys(this);
    connect(m_mediaKeys, &MediaKeys::Pressed, this,
            [this](MediaKey key) { Guard([&] { MediaKeyPress(key); }); });
}

void TfrmMain::MediaKeyPress(MediaKey key) {
    if (key == MediaKey::NextTrack)
        cmdNextClick();
    else if (key == MediaKey::Stop)
        cmdStopClick();
}
