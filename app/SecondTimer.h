#pragma once
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <functional>

// When the clock's timer wakes, and whether that wake is a tick. Times are
// milliseconds since the epoch (wall clock). Each wake re-aims the timer just past
// the start of the next wall-clock second, from the time it actually woke, so
// lateness never builds up and the phase does not depend on the moment of start.
// A wake that comes early (still in the second already ticked) is not a tick: it
// only re-aims. A wake that comes late still ticks the second it falls in. So every
// second ticks once, and none twice, as long as a wake is less than a second late.
class SecondSchedule {
public:
    // How far past the second's start the timer aims.
    static constexpr int kLeadMs = 2;

    struct Wake {
        bool tick = false; // a new second: the clock writes it
        qint64 second = 0; // the wall-clock second of this wake
        int delayMs = 0;   // when to wake next, from now
    };
    Wake OnWake(qint64 nowMs);
    // Delay from nowMs to just past the start of the next second.
    static int DelayToNextSecond(qint64 nowMs);
    static qint64 SecondOf(qint64 nowMs);

private:
    bool m_ticked = false;
    qint64 m_lastSecond = 0;
};

class TSecondTimer;

// The one precise timer behind the window's once-a-second timers. It runs while
// any of them is active and, at each tick, fires them in the order they were made,
// so the files they write change together.
class TSecondTimerDriver : public QObject {
    Q_OBJECT
public:
    explicit TSecondTimerDriver(QObject* parent = nullptr);

    // The wall clock in ms since the epoch; replaceable in tests.
    qint64 Now() const { return m_now(); }
    void SetClock(std::function<qint64()> now);

    // Called by the timers when they start or stop.
    void Add(TSecondTimer* timer);
    void TimersChanged();
    bool IsRunning() const { return m_timer.isActive(); }

private:
    void OnTimer();
    bool AnyActive() const;

    std::function<qint64()> m_now;
    QTimer m_timer;
    SecondSchedule m_schedule;
    QList<QPointer<TSecondTimer>> m_timers;
};

// A 1000 ms timer whose ticks fall just after each wall-clock second begins. It
// offers the part of QTimer the window uses: start, stop, isActive, interval and
// the timeout signal.
class TSecondTimer : public QObject {
    Q_OBJECT
public:
    explicit TSecondTimer(TSecondTimerDriver* driver, QObject* parent = nullptr);

    void start();
    void stop();
    bool isActive() const { return m_active; }
    int interval() const { return 1000; }
    // The first tick after start comes no sooner than this (default 0: the next
    // second). The countdown waits at least half a second, so its first second
    // lasts between half a second and a second and a half.
    void SetMinimumFirstTick(int ms) { m_minimumFirstMs = ms; }

    // A tick of the driver: emits timeout() when this timer is due.
    void DriverTick(qint64 nowMs);

signals:
    void timeout();

private:
    TSecondTimerDriver* m_driver;
    bool m_active = false;
    bool m_ticked = false;
    qint64 m_startedMs = 0;
    int m_minimumFirstMs = 0;
};

// "HH:mm:ss" of a wall-clock time in ms since the epoch, in local time.
QString ClockText(qint64 nowMs);
