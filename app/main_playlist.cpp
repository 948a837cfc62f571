// The playlist: Next, its two positions, its own handlers and files dropped on the
// window from a file manager.
#include "app/PlayoutLogic.h"
#include "app/RowFileCheck.h"
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
#include <QSet>
#include <QSpinBox>
#include <QThread>
#include <QTimer>
#include <QUrl>

void TfrmMain::cmdNextClick() {
    Mensaje(QString(), 0);
    m_skipTimer->stop();
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
    m_startingRow = NextIndex;
    // Reports still queued for the media this play replaces are not about the new
    // row: they count again from the new media's "media changed" report.
    m_awaitingMedia = true;
    m_mediaPlayed = false;
    struct EndStart {
        int& row;
        ~EndStart() { row = -1; }
    } endStart{m_startingRow};
    vlcPlayer->Play(path, play.options, QString(), QString(), 1000);
    QThread::msleep(10);
    cboSoundMainChange();
    // The row may have moved or left while the player started (an error shown from
    // inside the play call edits nothing, but keep to the row itself).
    CurrentIndex = lstPlayList->RowIndex(row);
    NextIndex = CurrentIndex < 0
                    ? NextIndex
                    : NextIndexAfter(CurrentIndex, lstPlayList->RowCount(), txtRepeat->value());
    lstPlayList->viewport()->update();
    Mensaje(play.status, 0);
    CheckNextRow();
    // Last: the row is playing whatever happens to its caption, so a caption that
    // cannot be written must not leave the positions behind.
    PublishLinkedCaption(TListView::SubItem(row, 4));
}

QColor TfrmMain::lstPlayListCustomDrawItem(int row) const {
    QColor colour;
    // A row that could not be played is not on air: never green.
    if (row == CurrentIndex && !RowFailed(lstPlayList->Row(row)))
        colour = QColor(0, 128, 0);
    if (row == NextIndex)
        colour = QColor(255, 255, 0);
    return colour;
}

namespace {
constexpr int RowFailedRole = Qt::UserRole + 3;
}

bool TfrmMain::RowFailed(const QTreeWidgetItem* item) {
    return item && item->data(0, RowFailedRole).toBool();
}

void TfrmMain::MarkRowFailed(QTreeWidgetItem* item, bool failed) {
    if (!item || RowFailed(item) == failed)
        return;
    item->setData(0, RowFailedRole, failed ? QVariant(true) : QVariant());
    const int columns = std::max(item->columnCount(), lstPlayList->columnCount());
    for (int c = 0; c < columns; ++c)
        item->setForeground(c, failed ? QBrush(QColor(200, 0, 0)) : QBrush());
    lstPlayList->viewport()->update();
}

void TfrmMain::lstPlayListDblClick() {
    const QList<int> selected = lstPlayList->SelectedRows();
    if (selected.isEmpty())
        return;
    NextIndex = selected.first();
    lstPlayList->viewport()->update();
    CheckNextRow();
}

void TfrmMain::lstPlayListKeyDown(int key) {
    if (key != Qt::Key_Delete)
        return;
    const QList<int> selected = lstPlayList->SelectedRows();
    for (auto it = selected.crbegin(); it != selected.crend(); ++it)
        lstPlayList->DeleteItem(*it);
}

void TfrmMain::lstPlayListDeletion(int index) {
    Cursor.RowRemoved(index, lstPlayList->RowCount());
    lstPlayList->viewport()->update();
}

void TfrmMain::lstPlayListRowsInserted(int first, int count, int rowsBefore) {
    Cursor.RowsInserted(first, count, rowsBefore);
}

void TfrmMain::lstPlayListMoved(int from, int to) {
    Cursor.RowMoved(from, to, lstPlayList->RowCount());
    lstPlayList->viewport()->update();
}

void TfrmMain::QueueFileCheck(QTreeWidgetItem* item) {
    m_rowsToCheck.push_back(item);
    if (!m_checkTimer->isActive())
        m_checkTimer->start();
}

void TfrmMain::CheckNextRow() {
    m_announceNext = 0;
    if (QTreeWidgetItem* row = lstPlayList->Row(NextIndex)) {
        m_announceNext = TRowFileCheck::RowId(row);
        m_fileCheck->Check({row}, m_announceNext);
    }
}

void TfrmMain::RowFilesMissing(const QList<quint64>& ids, quint64 announce) {
    const QSet<quint64> missing(ids.cbegin(), ids.cend());
    // A batch marks up to hundreds of rows: the list repaints once for all of them.
    lstPlayList->EditRows([&] {
        for (int i = 0; i < lstPlayList->RowCount(); ++i) {
            QTreeWidgetItem* row = lstPlayList->Row(i);
            const quint64 id = TRowFileCheck::RowId(row);
            if (!missing.contains(id))
                continue;
            MarkRowFailed(row, true);
            if (id == announce && id == m_announceNext && i == NextIndex)
                Mensaje(QStringLiteral("El siguiente archivo no existe: ") +
                            TListView::SubItem(row, 2),
                        0);
        }
    });
}

void TfrmMain::lstPlayListInsert(QTreeWidgetItem* item) {
    Mensaje(QStringLiteral("Insertado"), 0);
    QueueFileCheck(item);
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
    Cursor.Clear();
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
