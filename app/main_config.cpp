// The settings section "CONFIG" of config.ini and the output-folder picker.
#include "app/AppPaths.h"
#include "app/TfrmMain.h"
#include "media/MediaFunctions.h"
#include "media/TIniDocument.h"
#include "media/TavoriaError.h"
#include "media/TextFile.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QSlider>
#include <QSpinBox>
#include <QTextEdit>
#include <algorithm>

namespace {

const QString kSection = QStringLiteral("CONFIG");

// Applying a value runs the control's change handling only when it changes.
void ApplyText(QLineEdit* edit, const QString& text) {
    if (edit->text() != text)
        edit->setText(text);
}

// A position the list does not have leaves it with no selection.
void ApplyListPosition(QComboBox* box, int position) {
    box->setCurrentIndex(position >= 0 && position < box->count() ? position : -1);
}

void ApplyPosition(QSlider* bar, int position) {
    bar->setValue(std::clamp(position, bar->minimum(), bar->maximum()));
}

} // namespace

void TfrmMain::SaveConfig(const QString& fileName) {
    TIniDocument ini(fileName);
    SaveConfig(ini);
    ini.Update();
}

void TfrmMain::SaveConfig(TIniDocument& ini) {
    ini.WriteString(kSection, QStringLiteral("RootFolder"), txtRootFolder->text());
    ini.WriteString(kSection, QStringLiteral("CunhasFolder"), txtFolderCunas->text());
    ini.WriteString(kSection, QStringLiteral("OutTextos"), txtCurrentSong->text());
    ini.WriteInteger(kSection, QStringLiteral("SoundMain"), cboSoundMain->currentIndex());
    ini.WriteInteger(kSection, QStringLiteral("SoundCue"), cboSoundCue->currentIndex());
    ini.WriteInteger(kSection, QStringLiteral("SoundInput"), cboSoundInput->currentIndex());
    ini.WriteInteger(kSection, QStringLiteral("SoundHoras"), cboHoras->currentIndex());
    ini.WriteInteger(kSection, QStringLiteral("RepetirDesde"), txtRepeat->value());
    ini.WriteInteger(kSection, QStringLiteral("EfectosIndex"), tabEfectos->TabIndex());
    ini.WriteInteger(kSection, QStringLiteral("VolPrincipal"), volPrincipal->value());
    ini.WriteInteger(kSection, QStringLiteral("VolEfectos"), tbCue->value());
    ini.WriteInteger(kSection, QStringLiteral("VolPisador"), volPisador->value());
    ini.WriteBool(kSection, QStringLiteral("NDIMode"), chkNDI->isChecked());
    ini.WriteBool(kSection, QStringLiteral("UDPMode"), chkUdp->isChecked());
    ini.WriteBool(kSection, QStringLiteral("TOPSubTitle"), chkTopSubtitle->isChecked());
    SaveRemoteConfig(ini);
}

void TfrmMain::LoadConfig(const QString& fileName) {
    const TIniDocument ini(fileName);
    LoadConfig(ini);
}

void TfrmMain::LoadConfig(const TIniDocument& ini) {
    LoadRemoteConfig(ini);
    {
        // Each value is applied before the next key is read: the effects folder fills
        // the voice list and the effects tabs that later keys select in.
        ApplyText(txtRootFolder,
                  ini.ReadString(kSection, QStringLiteral("RootFolder"), VideosFolder()));
        ApplyText(txtFolderCunas,
                  ini.ReadString(kSection, QStringLiteral("CunhasFolder"), ProgramFolder()));
        ApplyText(txtCurrentSong,
                  ini.ReadString(kSection, QStringLiteral("OutTextos"), DefaultOutputFolder()));
        ApplyListPosition(cboSoundMain, ini.ReadInteger(kSection, QStringLiteral("SoundMain"), 1));
        ApplyListPosition(cboSoundCue, ini.ReadInteger(kSection, QStringLiteral("SoundCue"), 1));
        ApplyPosition(volPrincipal, ini.ReadInteger(kSection, QStringLiteral("VolPrincipal"), 1));
        ApplyPosition(tbCue, ini.ReadInteger(kSection, QStringLiteral("VolEfectos"), 1));
        ApplyPosition(volPisador, ini.ReadInteger(kSection, QStringLiteral("VolPisador"), 90));
        ApplyListPosition(cboSoundInput,
                          ini.ReadInteger(kSection, QStringLiteral("SoundInput"), 1));
        ApplyListPosition(cboHoras, ini.ReadInteger(kSection, QStringLiteral("SoundHoras"), 0));
        txtRepeat->setValue(std::clamp(ini.ReadInteger(kSection, QStringLiteral("RepetirDesde"), 0),
                                       txtRepeat->minimum(), txtRepeat->maximum()));
        int tab = ini.ReadInteger(kSection, QStringLiteral("EfectosIndex"), -1);
        if (tab < -1 || tab >= tabEfectos->Count()) {
            // A tab that is no longer there (an effects drive not mounted, a folder
            // renamed) selects no tab; the rest of the settings still apply.
            RecordStartUpError(QStringLiteral("Tab index out of bounds"));
            tab = -1;
        }
        if (tab != tabEfectos->TabIndex()) {
            tabEfectos->SetTabIndex(tab);
            // Files of the tab that cannot be listed (a name with a line break) are
            // left out and recorded; the settings after the tab still load.
            if (tab >= 0) {
                try {
                    tabEfectosChange(tab);
                } catch (const std::exception& e) {
                    RecordStartUpError(ErrorText(e));
                }
            }
        }
        chkNDI->setChecked(ini.ReadBool(kSection, QStringLiteral("NDIMode"), false));
        chkUdp->setChecked(ini.ReadBool(kSection, QStringLiteral("UDPMode"), false));
        chkTopSubtitle->setChecked(ini.ReadBool(kSection, QStringLiteral("TOPSubTitle"), false));
    }
    // The marquee as it was last sent.
    const QString marquee = OutputPath(txtCurrentSong->text(), QStringLiteral("marquesina.txt"));
    if (QFileInfo(marquee).isFile())
        txtMarquesina->setPlainText(ReadTextFile(marquee));
}

QString TfrmMain::ChooseFolder() {
    const QString folder = PickFolder();
    if (!folder.isEmpty())
        CheckFolderName(folder);
    return folder;
}

void TfrmMain::cmdCurrentFolderClick() {
    const QString folder = ChooseFolder();
    if (!folder.isEmpty())
        txtCurrentSong->setText(QDir::toNativeSeparators(folder));
}
