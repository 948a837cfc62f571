#pragma once
#include "media/TavoriaError.h"

#include <QString>
#include <exception>

// For a job that runs every second (the clock file, the countdown file): the first
// failure goes on to the error box, the same failure again is held back until the
// job has succeeded once, so a folder that stays missing is reported once and not
// every second. The job itself is tried every time.
class TRepeatedFailure {
public:
    template <typename F> void Run(F&& job) {
        try {
            job();
            m_failing = false;
        } catch (const std::exception& e) {
            const QString text = ErrorText(e);
            if (m_failing && text == m_reported)
                return;
            m_failing = true;
            m_reported = text;
            throw;
        }
    }
    // The next failure is reported again (a fresh start by the operator).
    void Reset() { m_failing = false; }
    bool Failing() const { return m_failing; }

private:
    bool m_failing = false;
    QString m_reported;
};
