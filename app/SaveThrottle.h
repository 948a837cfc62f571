#pragma once
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>

// A costly save asked for again and again (config.ini after every marquee send, which
// a remote client may send ten times a second with a playlist of thousands of rows):
// the first request saves at once; requests that come less than an interval after a
// save are gathered into one save at the end of that interval. So a flood costs one
// save per interval on the window's thread, and what was asked for last is always
// saved, at most one interval late.
class SaveThrottle : public QObject {
    Q_OBJECT
public:
    // save may throw: at once, to the caller of Request(); at the end of an interval,
    // to deferred, which runs it (the window's Guard, so the error box shows it).
    using Runner = std::function<void(const std::function<void()>&)>;
    SaveThrottle(int intervalMs, std::function<void()> save, Runner deferred,
                 QObject* parent = nullptr);

    void Request();
    // A save that waits runs now (the window going away without its close).
    void Flush();
    // A save that waits is dropped: a fuller save has just been made (the close).
    void Cancel();
    bool Waiting() const { return m_timer.isActive(); }
    int Saves() const { return m_saves; }

private:
    void Save();

    int m_intervalMs;
    std::function<void()> m_save;
    Runner m_deferred;
    QTimer m_timer;
    QElapsedTimer m_sinceSave;
    int m_saves = 0;
};
