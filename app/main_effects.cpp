// The effects folder: its tabs, the voice list and the effects list.
#include "app/CuePlayer.h"
#include "app/TfrmMain.h"
#include "app/TimeAnnouncer.h"
#include "media/MediaFunctions.h"
#include "media/TextFile.h"

#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QSlider>

void TfrmMain::txtFolderCunasChange() {
    const QString folder = txtFolderCunas->text();
    QStringList voices;
    // The voices' folder is spelled "time" here and "Time" by the announcer: on a
    // file system that tells them apart, either spelling is found.
    ListSubfolders(FindSubfolderIgnoringCase(folder, QStringLiteral("time")), voices);
    cboHoras->clear();
    cboHoras->addItems(voices);
    QStringList tabs;
    ListSubfolders(OutputPath(folder, QStringLiteral("Efx")), tabs);
    tabEfectos->SetTabs(tabs);
    // The effects list keeps its rows until a tab is chosen.
}

void TfrmMain::tabEfectosChange(int index) {
    const QString name = DequotedString(tabEfectos->TabText(index));
    lstJingles->ClearItems();
    AddFolderFiles(OutputPath(OutputPath(txtFolderCunas->text(), QStringLiteral("Efx")), name),
                   lstJingles);
}

void TfrmMain::cmdSetCunasClick() {
    const QString folder = ChooseFolder();
    if (!folder.isEmpty())
        txtFolderCunas->setText(QDir::toNativeSeparators(folder));
}

void TfrmMain::lstJinglesDblClick() {
    QTreeWidgetItem* row = lstJingles->FocusedRow();
    if (!row)
        return;
    // The name goes with the play, however it was started (a double-click, the remote).
    const HSTREAM stream =
        m_cue->PlayCue(TListView::SubItem(row, 2), cboSoundCue->currentIndex(), tbCue->value());
    m_effectName = stream ? TListView::SubItem(row, 0) : QString();
}

void TfrmMain::cmdStopCueClick() {
    m_cue->Stop();
}

void TfrmMain::tbCueChange() {
    m_cue->SetVolume(tbCue->value());
    m_announcer->SetVolume(CuePlayer::Level(tbCue->value()));
}

void TfrmMain::cboSoundCueChange() {
    const int device = cboSoundCue->currentIndex();
    m_cue->MoveTo(device);
    m_announcer->MoveTo(device);
}

void TfrmMain::CueProgressTick() {
    m_cue->PollProgress();
}

void TfrmMain::lblHoraClick() {
    // The talking clock plays at the effects level, as the jingles do.
    m_announcer->SetVolume(CuePlayer::Level(tbCue->value()));
    m_announcer->PlayTimeAnnouncement(cboHoras->currentText(), cboSoundCue->currentIndex(),
                                      txtFolderCunas->text());
}
