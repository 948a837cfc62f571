#pragma once
#include <QString>
#include <QTime>

// The countdown before a programme: its remaining time lives in the time picker
// (minutes and seconds), and each tick of its timer takes one second off.

// "Iniciar" starts the countdown only when the picker is not at 00:00:00.
bool CountdownCanStart(const QTime& picker);

// One tick: the picker's new time, the text for "conteo.txt" (two-digit minutes and
// seconds) and whether the countdown has reached its end ("00:00"). The time never
// goes below zero: a picker set to 00:00 while running ends the countdown at the
// next tick instead of wrapping round to 59:59.
struct CountdownStep {
    QTime remaining;
    QString text;
    bool finished = false;
};
CountdownStep CountdownTick(const QTime& picker);

// Whether the countdown runs. Its button's caption shows it; the remote control
// asks it too.
class CountdownSwitch {
public:
    bool Running() const { return m_running; }
    // Starts a run when the picker allows it (CountdownCanStart); whether it runs.
    bool Start(const QTime& picker);
    void Stop() { m_running = false; }
    // "Detener" while running, "Iniciar" otherwise.
    QString ButtonText() const;

private:
    bool m_running = false;
};
