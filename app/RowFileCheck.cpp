#include "app/RowFileCheck.h"

#include "media/TListView.h"

#include <QFileInfo>
#include <QMetaObject>
#include <QPointer>

namespace {
constexpr int BatchSize = 256;
} // namespace

TRowFileCheck::TRowFileCheck(QObject* parent) : QObject(parent) {
    m_pool.setMaxThreadCount(1); // requests are checked in order
}

TRowFileCheck::~TRowFileCheck() {
    m_pool.clear();
    m_pool.waitForDone();
}

quint64 TRowFileCheck::RowId(QTreeWidgetItem* item) {
    return TListView::RowId(item);
}

bool TRowFileCheck::IsLocalPath(const QString& path) {
    return !path.isEmpty() && !path.contains(QStringLiteral("://"));
}

bool TRowFileCheck::Busy() const {
    return m_running > 0;
}

void TRowFileCheck::Check(const QList<QTreeWidgetItem*>& rows, quint64 announce) {
    QList<QPair<quint64, QString>> work;
    work.reserve(rows.size());
    for (QTreeWidgetItem* row : rows) {
        const QString path = TListView::SubItem(row, 2);
        if (IsLocalPath(path))
            work.push_back({RowId(row), path});
    }
    if (work.isEmpty())
        return;
    ++m_running;
    // The pool is waited for before this object goes, so the queued calls below
    // reach a living object (or are dropped with it).
    m_pool.start([this, jobs = std::move(work), announce] {
        QList<quint64> missing;
        auto flush = [&] {
            if (missing.isEmpty())
                return;
            QMetaObject::invokeMethod(
                this, [this, missing, announce] { emit Missing(missing, announce); },
                Qt::QueuedConnection);
            missing.clear();
        };
        for (const auto& [id, path] : jobs) {
            if (!QFileInfo::exists(path))
                missing.push_back(id);
            if (missing.size() >= BatchSize)
                flush();
        }
        flush();
        QMetaObject::invokeMethod(
            this,
            [this] {
                --m_running;
                emit Done();
            },
            Qt::QueuedConnection);
    });
}
