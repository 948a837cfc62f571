// The explorer tree under the root folder.
#include "app/TfrmMain.h"
#include "media/MediaFunctions.h"
#include "media/TextFile.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPoint>
#include <QTreeWidget>

namespace {
constexpr int FolderImage = 10, ExpandedImage = 11, SelectedFolderImage = 9;

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
    SetExplorador(OutputPath(ExplorerRoot, TreeNodePath(Node)), Node);
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

void TfrmMain::lstPlayListDragDrop(QObject* Source, QPoint point) {
    QTreeWidgetItem* target = lstPlayList->itemAt(point);
    if (Source == lstTextos) {
        // Link the first selected caption (1-based; 0 with none) to the row.
        if (!target)
            return;
        const QList<int> captions = lstTextos->SelectedRows();
        lstPlayList->SetSubItem(target, 4,
                                QString::number(captions.isEmpty() ? 0 : captions.first() + 1));
        return;
    }
    if (Source == lstExplorer) {
        // Files of the tree go to the end of the playlist; folders are skipped.
        for (QTreeWidgetItem* node : lstExplorer->selectedItems()) {
            const QString path = OutputPath(ExplorerRoot, TreeNodePath(node));
            if (QFileInfo(path).isFile())
                AddMediaFile(path, lstPlayList);
        }
        return;
    }
    if (Source == lstPlayList) {
        // The first selected row moves in front of the row under the drop point.
        const QList<int> selected = lstPlayList->SelectedRows();
        if (!target || selected.isEmpty())
            return;
        const int to = lstPlayList->RowIndex(target);
        int from = selected.first();
        QTreeWidgetItem* source = lstPlayList->Row(from);
        QStringList cells;
        for (int j = 0; j < TListView::SubItemCount(source); ++j)
            cells << TListView::SubItem(source, j);
        const int image = TListView::SubItemImage(source);
        const QString caption = source->text(0);
        QTreeWidgetItem* moved = lstPlayList->InsertItem(to);
        moved->setText(0, caption);
        for (const QString& c : cells)
            lstPlayList->AddSubItem(moved, c);
        if (!cells.isEmpty())
            lstPlayList->SetSubItemImage(moved, image);
        if (from >= to)
            ++from;
        lstPlayList->DeleteItem(from);
    }
}
