#pragma once
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QThreadPool>

class QTreeWidgetItem;

// Checks whether the files of playlist rows exist, on a thread of its own, so that a
// slow or sleeping disk never holds the window: rows are named by an id kept in the
// row (rows may move or leave the list while the check runs). Web addresses are not
// checked.
class TRowFileCheck : public QObject {
    Q_OBJECT
public:
    explicit TRowFileCheck(QObject* parent = nullptr);
    ~TRowFileCheck() override;

    // The row's id, given on first use.
    static quint64 RowId(QTreeWidgetItem* item);
    // True for a path that names a local file (not a web address).
    static bool IsLocalPath(const QString& path);

    // Checks these rows' paths (sub-item 2); announce is the id of a row whose
    // missing file must be told (the next row), 0 for none.
    void Check(const QList<QTreeWidgetItem*>& rows, quint64 announce = 0);
    // True while checks are queued or running.
    bool Busy() const;

signals:
    // Rows whose file is missing, in batches as the check goes.
    void Missing(const QList<quint64>& ids, quint64 announce);
    // One request has been fully checked.
    void Done();

private:
    QThreadPool m_pool;
    int m_running = 0;
};
