// The explorer tree under the root folder.
#include "app/TfrmMain.h"
#include "media/MediaFunctions.h"
#include "media/TavoriaError.h"
#include "media/TextFile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QFileInfo>
#include <QLineEdit>
#include <QPoint>
#include <QProgressBar>
#include <QTreeWidget>

namespace {
constexpr int FolderImage = 10, ExpandedImage = 11, SelectedFolderImage = 9;

// A folder's icon: image 10 (11 when open), image 9 while selected.
QIcon FolderIcon(const TImageList& images, bool expanded) {
    QIcon icon;
    const QSize size(16, 16);
    icon.addPixmap(images.Icon(expanded ? ExpandedImage : FolderImage).pixmap(size), QIcon::Normal);
    icon.addPixmap(images.Icon(SelectedFolderImage).pixmap(size), QIcon::Selected);
    return icon;
}

} // namespace

void TfrmMain::WireExplorer() {
    connect(lstExplorer, &QTreeWidget::itemCollapsed, this,
            [this](QTreeWidgetItem* item) { Guard([&] { lstExplorerCollapsed(item); }); });
    // A double click on the root field reads the tree again.
    new TEventHook(txtRootFolder, [this](QEvent* e) {
        if (e->type() == QEvent::MouseButtonDblClick)
            Guard([&] { txtRootFolderChange(); });
        return false;
    });
}

void TfrmMain::txtRootFolderChange() {
    ExplorerRoot = txtRootFolder->text();
    lstExplorer->clear();
    SetExplorador(ExplorerRoot.isEmpty() ? QString(QDir::separator()) : ExplorerRoot, nullptr);
}

void TfrmMain::SetExplorador(const QString& cRuta, QTreeWidgetItem* Nodo) {
    lstExplorer->setUpdatesEnabled(false);
    const QStringList names = ListMediaEntries(cRuta);
    const QString base = OutputPath(cRuta, QString());
    const QIcon folderIcon = FolderIcon(icons16, false);
    auto add = [&](const QString& name) {
        auto* item = Nodo ? new QTreeWidgetItem(Nodo) : new QTreeWidgetItem(lstExplorer);
        item->setText(0, name);
        return item;
    };
    for (const QString& name : names) {
        if (!QFileInfo(base + name).isDir())
            continue;
        QTreeWidgetItem* item = add(name);
        item->setIcon(0, folderIcon);
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
    if (!Node)
        return;
    if (Node->childCount() > 0) {
        // Read once: opening it again only shows the open folder's image.
        Node->setIcon(0, FolderIcon(icons16, true));
        return;
    }
    SetExplorador(OutputPath(ExplorerRoot, TreeNodePath(Node)), Node);
    Node->setChildIndicatorPolicy(Node->childCount() > 0
                                      ? QTreeWidgetItem::ShowIndicator
                                      : QTreeWidgetItem::DontShowIndicatorWhenChildless);
    Node->setIcon(0, FolderIcon(icons16, Node->childCount() > 0));
}

void TfrmMain::lstExplorerCollapsed(QTreeWidgetItem* Node) {
    if (Node && Node->data(0, Qt::UserRole).toBool())
        Node->setIcon(0, FolderIcon(icons16, false));
}

void TfrmMain::cmdRootExploradorClick() {
    const QString folder = ChooseFolder();
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
        // Files of the tree go to the end of the playlist in the order they were
        // selected; folders, and files gone from the disk, are skipped.
        QStringList paths;
        for (QTreeWidgetItem* node : lstExplorer->SelectionOrder())
            paths.push_back(OutputPath(ExplorerRoot, TreeNodePath(node)));
        AddFilesToPlayList(paths);
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

void TfrmMain::AddFilesToPlayList(const QStringList& paths) {
    // Every ".mp3" file is measured in full before its row is added: a long run
    // shows its progress and repaints the window now and then (painting only: no
    // input is handled in the middle of the drop). The bar belongs to an import
    // while one runs.
    QProgressBar* bar = m_import || paths.size() < 2 ? nullptr : progreso;
    struct ResetBar {
        QProgressBar* bar;
        ~ResetBar() {
            if (bar)
                bar->setValue(0);
        }
    } reset{bar};
    if (bar)
        bar->setRange(0, int(paths.size()));
    QElapsedTimer sincePaint;
    sincePaint.start();
    QStringList refused;
    for (qsizetype i = 0; i < paths.size(); ++i) {
        try {
            if (QFileInfo(paths[i]).isFile())
                AddMediaFile(paths[i], lstPlayList);
        } catch (const TavoriaError& e) {
            refused << e.message(); // the rest of the run still goes in
        }
        if (sincePaint.elapsed() >= 250 && isVisible()) {
            if (bar)
                bar->setValue(int(i + 1));
            lstPlayList->viewport()->repaint();
            barStatus->repaint();
            sincePaint.restart();
        }
    }
    if (!refused.isEmpty())
        throw TavoriaError(refused.join(QLatin1Char('\n')));
}
