#include "tests/DeskTestSupport.h"

#include "app/TfrmMain.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QTest>

namespace desktest {

bool EnterNewWorkFolder(std::unique_ptr<QTemporaryDir>& work) {
    work = std::make_unique<QTemporaryDir>();
    if (!work->isValid()) {
        qWarning("no temporary folder: %s", qPrintable(work->errorString()));
        return false;
    }
    if (!QDir::setCurrent(work->path())) {
        qWarning("cannot enter %s", qPrintable(work->path()));
        return false;
    }
    return true;
}

bool OpenDesk(std::unique_ptr<TfrmMain>& w, const QString& outputFolder, QSize size) {
    w.reset();
    w = std::make_unique<TfrmMain>();
    if (size.isValid())
        w->resize(size);
    w->show();
    if (!QTest::qWaitForWindowExposed(w.get())) {
        qWarning("the desk window was never exposed");
        return false;
    }
    if (!outputFolder.isEmpty())
        w->txtCurrentSong->setText(outputFolder);
    return true;
}

void CloseDesk(std::unique_ptr<TfrmMain>& w, std::unique_ptr<QTemporaryDir>& work) {
    w.reset();
    QDir::setCurrent(QDir::tempPath());
    work.reset();
}

void AddRow(TfrmMain* w, const QString& path, const QString& caption) {
    TListView* list = w->lstPlayList;
    QTreeWidgetItem* row = list->AddItem();
    for (const QString& s : {QFileInfo(path).fileName(), QStringLiteral("00:00:00"), path,
                             QStringLiteral("0"), caption})
        list->AddSubItem(row, s);
}

} // namespace desktest
