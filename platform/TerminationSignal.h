#pragma once
#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP (a logout, a service stop, Ctrl+C in a terminal)
// into a signal on the UI thread, so the desk can close as through its close box:
// the settings and the lists are saved, nothing is lost. The signal handler only
// writes one byte into a pipe; everything else happens on the UI thread.
class TTerminationSignal : public QObject {
    Q_OBJECT
public:
    explicit TTerminationSignal(QObject* parent = nullptr);
    ~TTerminationSignal() override;
    // False when the pipe or the handlers could not be set up.
    bool IsInstalled() const { return m_notifier != nullptr; }

signals:
    void Terminate(int signalNumber);

private:
    QSocketNotifier* m_notifier = nullptr;
};
