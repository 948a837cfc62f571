// Output settings: the main sound card and the NDI output.
#include "app/OutputLogic.h"
#include "app/PlayoutLogic.h"
#include "app/TfrmMain.h"
#include "platform/VlcFolder.h"
#include "player/VlcPlayerUnit.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QSlider>
#include <QToolButton>

QString TfrmMain::VlcDeviceIdForName(const QString& name) {
    if (!vlcPlayer)
        return QString();
    return DeviceIdForName(vlcPlayer->GetAudioOutputDeviceEnum(true, QStringLiteral("|")), name);
}

void TfrmMain::cboSoundMainChange() {
    if (!vlcPlayer)
        return;
    // The audio layer's device 1 is "Default": no libVLC line carries that name,
    // and the empty id would leave a playing sound on the card it is on.
    const bool systemDefault = cboSoundMain->currentData().toInt() == 1;
    vlcPlayer->SetAudioOutputDevice(
        systemDefault
            ? DefaultOutputDeviceId(vlcPlayer->GetAudioOutputDeviceEnum(true, QStringLiteral("|")))
            : VlcDeviceIdForName(cboSoundMain->currentText()));
}

void TfrmMain::chkNDIClick() {
    chkVideoAdjustEnable->setEnabled(!chkNDI->isChecked());
}

void TfrmMain::SetUpOutputsAtStart() {
    chkNDI->setEnabled(QFileInfo::exists(NdiPluginPath(VlcInstallDir())));
    if (chkNDI->isChecked()) {
        vlcPlayer->StartOptions() << QStringLiteral("--vout=NDI") << QStringLiteral("--aout=NDI");
        cboSoundMain->setEnabled(false);
    } else {
        cboSoundMainChange();
    }
}

void TfrmMain::volPrincipalChange() {
    if (cmdPisador->isChecked())
        cmdPisador->setChecked(false); // not a click: its handler does not run
    // Every level is sent, 0 included: the bottom of the slider is silence.
    vlcPlayer->SetAudioVolume(MasterLevel(volPrincipal->value()));
}

void TfrmMain::volPisadorChange() {
    if (!cmdPisador->isChecked())
        return;
    vlcPlayer->SetAudioVolume(DuckedLevel(volPisador->value()));
}

void TfrmMain::vlcPlayerCreated() {
    // The sliders were set (from config.ini) before the player existed, when the
    // level could not reach it yet.
    if (cmdPisador->isChecked())
        volPisadorChange();
    else
        volPrincipalChange();
}

void TfrmMain::cmdPisadorClick() {
    if (cmdPisador->isChecked())
        volPisadorChange();
    else
        volPrincipalChange();
}

void TfrmMain::chkVideoAdjustEnableClick() {
    const bool on = chkVideoAdjustEnable->isChecked();
    vlcPlayer->SetVideoAdjustEnable(on);
    volBass->setEnabled(on);
    volMid->setEnabled(on);
    volTreble->setEnabled(on);
}

void TfrmMain::volBassChange() {
    vlcPlayer->SetVideoAdjustBrightness(AdjustValue(volBass->value()));
}

void TfrmMain::volMidChange() {
    vlcPlayer->SetVideoAdjustContrast(AdjustValue(volMid->value()));
}

void TfrmMain::volTrebleChange() {
    vlcPlayer->SetVideoAdjustSaturation(AdjustValue(volTreble->value()));
}

void TfrmMain::N240p1Click(QAction* item) {
    Mensaje(item->objectName(), 0);
    if (item->isChecked()) {
        const QSize size = ResolutionSize(item->objectName());
        if (size.isValid()) {
            vlcPlayer->resize(size.width(), vlcPlayer->height());
            vlcPlayer->resize(size);
        }
    } else {
        vlcPlayer->resize(426, 240);
        N240p1->setChecked(true);
    }
}
