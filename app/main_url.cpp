// Web addresses typed under the playlist.
#include "app/TfrmMain.h"
#include "media/TitleLookup.h"

#include <QKeyEvent>
#include <QLineEdit>

void TfrmMain::txtAddUrlKeyDown(int key) {
    if (key != Qt::Key_Return && key != Qt::Key_Enter)
        return;
    const QString url = txtAddUrl->text();
    if (url.size() <= 5)
        return;
    // The edit is free for the next address at once; a video-site address joins the
    // playlist when its title arrives, behind the addresses typed before it, and
    // comes back into the edit if its lookup fails.
    txtAddUrl->clear();
    m_urlRows->AddUrl(url, 0);
}

void TfrmMain::WireUrlEntry() {
    m_urlRows = new TRowQueue(lstPlayList, this);
    connect(m_urlRows, &TRowQueue::EntryFailed, this,
            [this](const QString& url, const QString& message, int) {
                Guard([&] {
                    if (txtAddUrl->text().isEmpty())
                        txtAddUrl->setText(url);
                    Errors().Report(message);
                });
            });
    new TEventHook(txtAddUrl, [this](QEvent* e) {
        if (e->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(e)->key();
            Guard([&] { txtAddUrlKeyDown(key); });
        }
        return false; // the key goes on to the edit
    });
}
