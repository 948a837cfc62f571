// Connections from the controls to the window's handlers. Every handler runs
// inside Guard(), so nothing it raises reaches Qt's event loop.
#include "app/TfrmMain.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

void TfrmMain::WireHandlers() {
    auto on = [this](auto* sender, auto signal, auto handler) {
        connect(sender, signal, this, [this, handler](auto&&...) { Guard([&] { handler(); }); });
    };
    connect(barStatus, &TStatusBar::Resized, this, [this] { barStatusResize(); });
    on(Salir1, &QAction::triggered, [this] { Salir1Click(); });
    on(cmdCurrentFolder, &QPushButton::clicked, [this] { cmdCurrentFolderClick(); });
    on(cmdSetCunas, &QPushButton::clicked, [this] { cmdSetCunasClick(); });
    on(cmdRootExplorador, &QPushButton::clicked, [this] { cmdRootExploradorClick(); });
    // Changes of these texts run their handlers also while the settings load; an
    // error there must reach the start-up's own handling, so they are not guarded
    // while loading (the start-up catches everything itself).
    connect(txtFolderCunas, &QLineEdit::textChanged, this, [this] { txtFolderCunasChange(); });
    connect(txtRootFolder, &QLineEdit::textChanged, this, [this] { txtRootFolderChange(); });
    connect(tabEfectos, &TTabStrip::TabIndexChanged, this,
            [this](int index) { Guard([&] { tabEfectosChange(index); }); });
    connect(lstExplorer, &QTreeWidget::itemExpanded, this,
            [this](QTreeWidgetItem* item) { Guard([&] { lstExplorerExpanding(item); }); });
    on(cboSoundMain, &QComboBox::activated, [this] { cboSoundMainChange(); });
    on(chkNDI, &QCheckBox::toggled, [this] { chkNDIClick(); });
}
