// The lower-third captions: the caption list, its editor and menu, publishing a
// caption as three text files, and the links from playlist rows to captions.
#include "app/CaptionLogic.h"
#include "app/TfrmMain.h"
#include "media/TextFile.h"

#include <QAction>
#include <QEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <limits>

namespace {

const char* const kCaptionFiles[] = {"ponente.txt", "ponencia.txt", "detalles.txt"};

// The caption list's own events: the Delete key, a change of size and a
// double-click anywhere in the list. Nothing is consumed. The filter belongs to the
// list and knows the list and its viewport by themselves: while the window is being
// destroyed its children still send events here (the viewport's own destruction),
// when the window's members are gone; such events never reach the window.
class CaptionListEvents : public QObject {
public:
    CaptionListEvents(TfrmMain* w, TListView* list)
        : QObject(list), m_w(w), m_list(list), m_viewport(list->viewport()) {
        list->installEventFilter(this);
        list->viewport()->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == m_list && event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            m_w->Guard([&] { m_w->lstTextosKeyDown(key); });
        } else if (watched == m_list && event->type() == QEvent::Resize) {
            m_w->Guard([&] { m_w->lstTextosResize(); });
        } else if (watched == m_viewport && event->type() == QEvent::MouseButtonDblClick &&
                   static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            m_w->Guard([&] { m_w->lstTextosDblClick(); });
        }
        return false;
    }

private:
    TfrmMain* m_w;
    const QObject* m_list;
    const QObject* m_viewport;
};

} // namespace

void TfrmMain::WireCaptions() {
    auto on = [this](auto* sender, auto signal, auto handler) {
        connect(sender, signal, this, [this, handler](auto&&...) { Guard([&] { handler(); }); });
    };
    // Captions of any length: a line edit holds at most 32767 characters unless told.
    // One line each: a pasted line break (or one set from the remote) becomes a space
    // at once, so what is published and saved is what the edit shows.
    for (QLineEdit* edit : {txtPonente, txtPonencia, txtDetalles}) {
        edit->setMaxLength(std::numeric_limits<int>::max());
        connect(edit, &QLineEdit::textChanged, this, [edit](const QString& text) {
            const QString line = CaptionLine(text);
            if (line == text)
                return;
            const int cursor = edit->cursorPosition();
            edit->setText(line);
            edit->setCursorPosition(cursor);
        });
    }
    on(cmdAdd, &QPushButton::clicked, [this] { cmdAddClick(); });
    on(sbmSendMesage, &QAction::triggered, [this] { sbmSendMesageClick(); });
    on(sbmTitEdit, &QAction::triggered, [this] { sbmTitEditClick(); });
    on(sbmTitDelete, &QAction::triggered, [this] { sbmTitDeleteClick(); });
    on(sbmTitClear, &QAction::triggered, [this] { sbmTitClearClick(); });
    on(sbmTitOffAir, &QAction::triggered, [this] { sbmTitOffAirClick(); });
    on(QuitarSubttulo1, &QAction::triggered, [this] { QuitarSubttulo1Click(); });
    on(splResetLower, &QAction::triggered, [this] { splResetLowerClick(); });

    new CaptionListEvents(this, lstTextos);
    // Both pop-up menus open on every right-click of their list.
    connect(lstTextos, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        Guard([&] { lstTextosContextPopup(); });
        subMenuLista->popup(lstTextos->viewport()->mapToGlobal(pos));
    });
    connect(lstPlayList, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        smnPlayList->popup(lstPlayList->viewport()->mapToGlobal(pos));
    });
}

void TfrmMain::PublishCaption(int row) {
    const QTreeWidgetItem* item = lstTextos->Row(row);
    if (!item)
        return;
    WriteCaptionFiles(
        {TListView::SubItem(item, 0), TListView::SubItem(item, 1), TListView::SubItem(item, 2)});
    emit CaptionPublished(row);
}

void TfrmMain::WriteCaptionFiles(const std::array<QString, 3>& texts) {
    // In this order; the folder is read afresh for each file, and a failed write
    // leaves the later files as they were.
    for (int j = 0; j < 3; ++j) {
        const QString file = QString::fromLatin1(kCaptionFiles[j]);
        WriteTextFile(texts[j], OutputPath(txtCurrentSong->text(), file), FileSync::Transient);
        emit OverlayTextWritten(file, texts[j]);
    }
}

void TfrmMain::sbmTitOffAirClick() {
    // The three files emptied, as a caption with no texts would leave them.
    WriteCaptionFiles({});
    emit CaptionCleared();
}

void TfrmMain::PublishLinkedCaption(const QString& link) {
    const int row = CaptionRowForLink(link, lstTextos->RowCount());
    if (row >= 0)
        PublishCaption(row);
}

void TfrmMain::cmdAddClick() {
    if (!CaptionTextLongEnough(txtPonente->text()) || !CaptionTextLongEnough(txtPonencia->text()))
        return;
    const QStringList texts{CaptionLine(txtPonente->text()), CaptionLine(txtPonencia->text()),
                            CaptionLine(txtDetalles->text())};
    QTreeWidgetItem* row = m_captionEditor.Editing() ? lstTextos->FocusedRow() : nullptr;
    if (row) {
        for (int j = 0; j < 3; ++j)
            lstTextos->SetSubItem(row, j, texts[j]);
    } else {
        // "Add", or an edit whose row is gone: the texts become a new last row
        // rather than being lost.
        row = lstTextos->AddItem();
        for (const QString& text : texts)
            lstTextos->AddSubItem(row, text);
    }
    txtPonente->clear();
    txtPonencia->clear();
    txtDetalles->clear();
    m_captionEditor.FinishEditing();
    cmdAdd->setText(m_captionEditor.ButtonText());
    lstTextos->setEnabled(true);
}

void TfrmMain::lstTextosDblClick() {
    const QList<int> selected = lstTextos->SelectedRows();
    if (!selected.isEmpty())
        PublishCaption(selected.first());
}

void TfrmMain::sbmSendMesageClick() {
    // "Enviar Subtítulo" sends what a double-click sends.
    lstTextosDblClick();
}

void TfrmMain::lstTextosKeyDown(int key) {
    // While a row is being edited the list does not change.
    if (key != Qt::Key_Delete || !lstTextos->isEnabled())
        return;
    const QList<int> selected = lstTextos->SelectedRows();
    for (auto it = selected.crbegin(); it != selected.crend(); ++it)
        lstTextos->DeleteItem(*it);
}

void TfrmMain::lstTextosResize() {
    const std::array<int, 3> widths = CaptionColumnWidths(lstTextos->width());
    lstTextos->setColumnWidth(0, 0);
    for (int j = 0; j < 3; ++j)
        lstTextos->setColumnWidth(j + 1, widths[j]);
}

void TfrmMain::lstTextosContextPopup() {
    // The menu opens on every right-click; nothing to prepare.
}

void TfrmMain::sbmTitEditClick() {
    if (!lstTextos->isEnabled() || lstTextos->SelectedRows().isEmpty())
        return;
    const QTreeWidgetItem* row = lstTextos->FocusedRow();
    if (!row)
        return;
    txtPonente->setText(TListView::SubItem(row, 0));
    txtPonencia->setText(TListView::SubItem(row, 1));
    txtDetalles->setText(TListView::SubItem(row, 2));
    m_captionEditor.StartEditing();
    cmdAdd->setText(m_captionEditor.ButtonText());
    // The row cannot change until the edit is committed.
    lstTextos->setEnabled(false);
}

void TfrmMain::sbmTitDeleteClick() {
    if (!lstTextos->isEnabled() || lstTextos->SelectedRows().isEmpty())
        return;
    if (QTreeWidgetItem* row = lstTextos->FocusedRow())
        lstTextos->DeleteItem(lstTextos->RowIndex(row));
}

void TfrmMain::sbmTitClearClick() {
    if (!lstTextos->isEnabled())
        return;
    lstTextos->ClearItems();
}

void TfrmMain::QuitarSubttulo1Click() {
    if (lstPlayList->SelectedRows().isEmpty())
        return;
    if (QTreeWidgetItem* row = lstPlayList->FocusedRow())
        if (!TListView::SubItem(row, 4).isEmpty())
            lstPlayList->SetSubItem(row, 4, QString());
}

void TfrmMain::splResetLowerClick() {
    for (int i = 0; i < lstPlayList->RowCount(); ++i) {
        QTreeWidgetItem* row = lstPlayList->Row(i);
        if (!TListView::SubItem(row, 4).isEmpty())
            lstPlayList->SetSubItem(row, 4, QString());
    }
}
