#pragma once
#include <QString>
#include <stdexcept>

// The error type the desk raises for failures the operator must see (a file that
// cannot be written, a configuration that cannot be read, ...). Its message is
// shown as it stands in the error box or written to "debug.txt" at start-up.
class TavoriaError : public std::runtime_error {
public:
    explicit TavoriaError(const QString& message)
        : std::runtime_error(message.toStdString()), m_message(message) {}
    const QString& message() const { return m_message; }

private:
    QString m_message;
};

// The text of any exception, for the error box.
QString ErrorText(const std::exception& e);
