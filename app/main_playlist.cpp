// The playlist: Next, its two positions, its own handlers and files dropped on the
// window from a file manager.
#include "app/PlayoutLogic.h"
#include "app/TfrmMain.h"
#include "media/MediaFunctions.h"
#include "media/PlaylistFile.h"
#include "media/TavoriaError.h"
#include "media/TextFile.h"
#include "media/TitleLookup.h"
#include "player/VlcPlayerUnit.h"

#include <QCheckBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QSpinBox>
#include <QThread>
#include <QUrl>

void TfrmMain::cmdNextClick() {
    Mensaje(QString(), 0);
    const int rows = lstPlayList->RowCount();
    if (rows == 0)
        return;
    // When NextIndex names no row (after "Limpiar Lista", or a "Repetir desde:" row
    // beyond the end) the list starts again from its first row.
    NextIndex = RowToPlay(NextIndex, rows);
    QTreeWidgetItem* row = lstPlayList->Row(NextIndex);
    const QString path = TListView::SubItem(row, 2);
    const PlayOptions play =
        BuildPlayOptions(path, chkUdp->isChecked(), txtUdp->text(), QDir::currentPath());
    vlcPlayer->Play(path, play.options, QString(), QString(), 1000);
    QThread::msleep(10);
    cboSoundMainChange();
    CurrentIndex = NextIndex;
    NextIndex = NextIndexAfter(CurrentIndex, lstPlayList->RowCount(), txtRepeat->value());
    lstPlayList->viewport()->update();
    Mensaje(play.status, 0);
    // Last: the row is playing whatever happens to its caption, so a caption that
    // cannot be written must not leave the positions behind.
    PublishLinkedCaption(TListView::SubItem(row, 4));
}

QColor TfrmMain::lstPlayListCustomDrawItem(int row) const {
    QColor colour;
    if (row == CurrentIndex)
        colour = QColor(0, 128, 0);
    if (row == NextIndex)
        colour = QColor(255, 255, 0);
    return colour;
}

void TfrmMain::lstPlayListDblClick() {
    const QList<int> selected = lstPlayList->SelectedRows();
    if (selected.isEmpty())
        return;
    NextIndex = selected.first();
    lstPlayList->viewport()->update();
}

void TfrmMain::lstPlayListKeyDown(int key) {
    if (key != Qt::Key_Delete)
        return;
    const QList<int> selected = lstPlayList->SelectedRows();
    for (auto it = selected.crbegin(); it != selected.crend(); ++it)
        lstPlayList->DeleteItem(*it);
}

void TfrmMain::lstPlayListDeletion() {
    NextIndex = NextIndexAfterRemoval(NextIndex, lstPlayList->RowCount());
}

void TfrmMain::lstPlayListInsert(QTreeWidgetItem*) {
    Mensaje(QStringLiteral("Insertado"), 0);
}

void TfrmMain::lstPlayListSelectItem(QTreeWidgetItem* item, bool) {
    Mensaje(QStringLiteral("Seleccionado") + TListView::SubItem(item, 2), 0);
}

void TfrmMain::Nuevo1Click() {
    // An import still filling the list ends: the list is left empty, as asked.
    if (m_import)
        m_import->Cancel();
    // So do addresses still waiting for their titles.
    m_urlRows->Clear();
    CurrentIndex = -1;
    NextIndex = -1;
    lstPlayList->ClearItems();
}

void TfrmMain::SoltarFichero(const QStringList& paths) {
    // Rows go to the end in the order of the drop; folders and other types add
    // nothing.
    AddFilesToPlayList(paths);
}

namespace {
QStringList LocalFiles(const QMimeData* mime) {
    QStringList paths;
    if (!mime || !mime->hasUrls())
        return paths;
    for (const QUrl& url : mime->urls())
        if (url.isLocalFile())
            paths << url.toLocalFile();
    return paths;
}
} // namespace

void TfrmMain::dragEnterEvent(QDragEnterEvent* event) {
    if (!LocalFiles(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void TfrmMain::dragMoveEvent(QDragMoveEvent* event) {
    if (!LocalFiles(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

bool TfrmMain::HandleFileDrop(const QMimeData* mime) {
    const QStringList paths = LocalFiles(mime);
    if (paths.isEmpty())
        return false;
    Guard([&] { SoltarFichero(paths); });
    return true;
}

void TfrmMain::dropEvent(QDropEvent* event) {
    if (HandleFileDrop(event->mimeData()))
        event->acceptProposedAction();
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
    if (watched == lstPlayList && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        Guard([&] { lstPlayListKeyDown(key); });
        return false; // the key is not consumed
    }
    // Files from a file manager dropped on the playlist itself go to the end of it,
    // as anywhere else on the window.
    // Drags from the window's own lists (rows of the playlist, captions, files of
    // the explorer) are the window's to handle, never the list's built-in moves.
    if (watched == lstPlayList->viewport() || watched == lstPlayList) {
        if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) {
            auto* e = static_cast<QDropEvent*>(event);
            if (e->source() != nullptr || !LocalFiles(e->mimeData()).isEmpty()) {
                e->acceptProposedAction();
                return true;
            }
        } else if (event->type() == QEvent::Drop) {
            auto* e = static_cast<QDropEvent*>(event);
            if (e->source() != nullptr) {
                QObject* source = e->source();
                const QPoint point = lstPlayList->viewport()->mapFrom(
                    static_cast<QWidget*>(watched), e->position().toPoint());
                Guard([&] { lstPlayListDragDrop(source, point); });
                e->setDropAction(Qt::IgnoreAction);
                e->accept();
                return true;
            }
            if (HandleFileDrop(e->mimeData())) {
                e->acceptProposedAction();
                return true;
            }
        }
    }
    return QMainWindow::eventFilter(watched, event);
}
