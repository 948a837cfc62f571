// The effects folder: its tabs, the voice list and the effects list.
#include "app/TfrmMain.h"
#include "media/MediaFunctions.h"
#include "media/TextFile.h"

#include <QComboBox>
#include <QDir>
#include <QLineEdit>

void TfrmMain::txtFolderCunasChange() {
    const QString folder = txtFolderCunas->text();
    QStringList voices;
    ListSubfolders(OutputPath(folder, QStringLiteral("time")), voices);
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
    const QString folder = PickFolder();
    if (!folder.isEmpty())
        txtFolderCunas->setText(QDir::toNativeSeparators(folder));
}
