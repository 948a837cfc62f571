// The explorer tree under the root folder.
#include "app/TfrmMain.h"
#include "media/MediaFunctions.h"
#include "media/TextFile.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QTreeWidget>

namespace {
constexpr int FolderImage = 10, ExpandedImage = 11, SelectedFolderImage = 9;

// The part of a node's path below the root.
QString NodePath(QTreeWidgetItem* node) {
    QStringList parts;
    for (QTreeWidgetItem* n = node; n; n = n->parent())
        parts.prepend(n->text(0));
    return parts.join(QDir::separator());
}
} // namespace

void TfrmMain::txtRootFolderChange() {
    ExplorerRoot = txtRootFolder->text();
    lstExplorer->clear();
    SetExplorador(ExplorerRoot.isEmpty() ? QString(QDir::separator()) : ExplorerRoot, nullptr);
}

void TfrmMain::SetExplorador(const QString& cRuta, QTreeWidgetItem* Nodo) {
    lstExplorer->setUpdatesEnabled(false);
    const QStringList names = ListMediaEntries(cRuta);
    const QString base = OutputPath(cRuta, QString());
    auto add = [&](const QString& name) {
        auto* item = Nodo ? new QTreeWidgetItem(Nodo) : new QTreeWidgetItem(lstExplorer);
        item->setText(0, name);
        return item;
    };
    for (const QString& name : names) {
        if (!QFileInfo(base + name).isDir())
            continue;
        QTreeWidgetItem* item = add(name);
        item->setIcon(0, icons16.Icon(FolderImage));
        item->setData(0, Qt::UserRole, true);
        item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    }
    for (const QString& name : names) {
        if (!QFileInfo(base + name).isFile())
            continue;
        QTreeWidgetItem* item = add(name);
        item->setIcon(0, icons16.Icon(MediaExtensionIndex(name)));
    }
    lstExplorer->setUpdatesEnabled(true);
}

void TfrmMain::lstExplorerExpanding(QTreeWidgetItem* Node) {
    if (!Node || Node->childCount() > 0)
        return;
    SetExplorador(OutputPath(ExplorerRoot, NodePath(Node)), Node);
    Node->setChildIndicatorPolicy(Node->childCount() > 0
                                      ? QTreeWidgetItem::ShowIndicator
                                      : QTreeWidgetItem::DontShowIndicatorWhenChildless);
    Node->setIcon(0, icons16.Icon(Node->childCount() > 0 ? ExpandedImage : FolderImage));
    Q_UNUSED(SelectedFolderImage);
}

void TfrmMain::cmdRootExploradorClick() {
    const QString folder = PickFolder();
    if (!folder.isEmpty())
        txtRootFolder->setText(QDir::toNativeSeparators(folder));
}
