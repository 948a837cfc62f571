#include "app/Countdown.h"

#include <algorithm>

bool CountdownCanStart(const QTime& picker) {
    return picker.isValid() && picker.msecsSinceStartOfDay() != 0;
}

bool CountdownSwitch::Start(const QTime& picker) {
    if (CountdownCanStart(picker))
        m_running = true;
    return m_running;
}

QString CountdownSwitch::ButtonText() const {
    return m_running ? QStringLiteral("Detener") : QStringLiteral("Iniciar");
}

CountdownStep CountdownTick(const QTime& picker) {
    const int before = picker.isValid() ? picker.msecsSinceStartOfDay() : 0;
    CountdownStep step;
    step.remaining = QTime::fromMSecsSinceStartOfDay(std::max(0, before - 1000));
    step.text = step.remaining.toString(QStringLiteral("mm:ss"));
    step.finished = step.text == QStringLiteral("00:00");
    return step;
}
