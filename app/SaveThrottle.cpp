#include "app/SaveThrottle.h"

#include <algorithm>

SaveThrottle::SaveThrottle(int intervalMs, std::function<void()> save, Runner deferred,
                           QObject* parent)
    : QObject(parent), m_intervalMs(intervalMs), m_save(std::move(save)),
      m_deferred(std::move(deferred)) {
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] { m_deferred([this] { Save(); }); });
}

void SaveThrottle::Request() {
    if (m_timer.isActive())
        return; // gathered into the save that waits
    if (!m_sinceSave.isValid() || m_sinceSave.elapsed() >= m_intervalMs) {
        Save();
        return;
    }
    m_timer.start(int(std::max<qint64>(0, m_intervalMs - m_sinceSave.elapsed())));
}

void SaveThrottle::Flush() {
    if (!m_timer.isActive())
        return;
    m_timer.stop();
    Save();
}

void SaveThrottle::Cancel() {
    m_timer.stop();
}

void SaveThrottle::Save() {
    // The interval counts from the attempt: a save that fails is not retried at once
    // by the next request either.
    m_sinceSave.start();
    ++m_saves;
    m_save();
}
