// Output settings: the main sound card and the NDI output.
#include "app/OutputLogic.h"
#include "app/TfrmMain.h"
#include "platform/VlcFolder.h"
#include "player/VlcPlayerUnit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>

QString TfrmMain::VlcDeviceIdForName(const QString& name) {
    if (!vlcPlayer)
        return QString();
    return DeviceIdForName(vlcPlayer->GetAudioOutputDeviceEnum(true, QStringLiteral("|")), name);
}

void TfrmMain::cboSoundMainChange() {
    if (!vlcPlayer)
        return;
    vlcPlayer->SetAudioOutputDevice(VlcDeviceIdForName(cboSoundMain->currentText()));
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
