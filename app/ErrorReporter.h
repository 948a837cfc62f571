#pragma once
#include <QObject>
#include <QPointer>
#include <QString>
#include <exception>

class QMessageBox;
class QWidget;

// Shows the errors that escape an operator action or a timer tick in one error
// box. The box is not modal, so a failing timer (the clock file every second) can
// never stack boxes or nest event loops: while the box is open, a new error only
// replaces its text.
class ErrorReporter : public QObject {
    Q_OBJECT
public:
    explicit ErrorReporter(QWidget* owner);
    ~ErrorReporter() override;

    void Report(const QString& text);

    int Count() const { return m_count; }
    const QString& LastText() const { return m_last; }
    bool BoxVisible() const;
    void ResetForTests();

    // Runs f; an exception it throws is reported instead of reaching Qt's event loop.
    template <typename F> void Guard(F&& f) noexcept {
        try {
            f();
        } catch (const std::exception& e) {
            ReportException(e);
        } catch (...) {
            Report(QStringLiteral("Error desconocido"));
        }
    }

private:
    void ReportException(const std::exception& e) noexcept;

    QWidget* m_owner;
    QPointer<QMessageBox> m_box;
    int m_count = 0;
    int m_repeats = 0;
    QString m_last;
};
