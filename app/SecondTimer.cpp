#include "app/SecondTimer.h"

#include <QDateTime>

qint64 SecondSchedule::SecondOf(qint64 nowMs) {
    return nowMs >= 0 ? nowMs / 1000 : -((-nowMs + 999) / 1000);
}

int SecondSchedule::DelayToNextSecond(qint64 nowMs) {
    return int((SecondOf(nowMs) + 1) * 1000 - nowMs) + kLeadMs;
}

SecondSchedule::Wake SecondSchedule::OnWake(qint64 nowMs) {
    Wake w;
    w.second = SecondOf(nowMs);
    // A second other than the last one ticks: the next one (the usual case), a
    // later one (the wake was held up more than a second, or the clock was set
    // forward) or an earlier one (the clock was set back).
    w.tick = !m_ticked || w.second != m_lastSecond;
    if (w.tick) {
        m_ticked = true;
        m_lastSecond = w.second;
    }
    w.delayMs = DelayToNextSecond(nowMs);
    return w;
}

TSecondTimerDriver::TSecondTimerDriver(QObject* parent)
    : QObject(parent), m_now([] { return QDateTime::currentMSecsSinceEpoch(); }) {
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, [this] { OnTimer(); });
}

void TSecondTimerDriver::SetClock(std::function<qint64()> now) {
    m_now = std::move(now);
    if (m_timer.isActive())
        m_timer.start(SecondSchedule::DelayToNextSecond(Now()));
}

void TSecondTimerDriver::Add(TSecondTimer* timer) {
    m_timers.push_back(timer);
}

bool TSecondTimerDriver::AnyActive() const {
    for (const auto& t : m_timers)
        if (t && t->isActive())
            return true;
    return false;
}

void TSecondTimerDriver::TimersChanged() {
    if (!AnyActive())
        m_timer.stop();
    else if (!m_timer.isActive())
        m_timer.start(SecondSchedule::DelayToNextSecond(Now()));
}

void TSecondTimerDriver::OnTimer() {
    const qint64 now = Now();
    const SecondSchedule::Wake wake = m_schedule.OnWake(now);
    if (wake.tick) {
        // A handler may stop or start timers: go through a copy, and ask each timer
        // whether it is still active when its turn comes.
        const auto timers = m_timers;
        for (const auto& t : timers)
            if (t)
                t->DriverTick(now);
    }
    // Aim again from the time after the handlers, which may have taken a while.
    if (AnyActive() && !m_timer.isActive())
        m_timer.start(wake.tick ? SecondSchedule::DelayToNextSecond(Now()) : wake.delayMs);
}

TSecondTimer::TSecondTimer(TSecondTimerDriver* driver, QObject* parent)
    : QObject(parent), m_driver(driver) {
    m_driver->Add(this);
}

void TSecondTimer::start() {
    m_active = true;
    m_ticked = false;
    m_startedMs = m_driver->Now();
    m_driver->TimersChanged();
}

void TSecondTimer::stop() {
    m_active = false;
    m_driver->TimersChanged();
}

void TSecondTimer::DriverTick(qint64 nowMs) {
    if (!m_active)
        return;
    if (!m_ticked && nowMs - m_startedMs < m_minimumFirstMs)
        return;
    m_ticked = true;
    emit timeout();
}

QString ClockText(qint64 nowMs) {
    return QDateTime::fromMSecsSinceEpoch(nowMs).time().toString(QStringLiteral("HH:mm:ss"));
}
