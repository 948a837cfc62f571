#include "platform/TerminationSignal.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int g_fds[2] = {-1, -1};

void OnSignal(int number) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(number);
    // Async-signal-safe: one write; a full pipe only loses a repeated signal.
    [[maybe_unused]] const ssize_t n = ::write(g_fds[1], &byte, 1);
    errno = saved;
}
} // namespace

TTerminationSignal::TTerminationSignal(QObject* parent) : QObject(parent) {
    if (g_fds[0] >= 0)
        return; // one per process
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_fds) != 0)
        return;
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (const int s : {SIGTERM, SIGINT, SIGHUP})
        sigaction(s, &sa, nullptr);
    m_notifier = new QSocketNotifier(g_fds[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        unsigned char byte = 0;
        while (::read(g_fds[0], &byte, 1) == 1)
            emit Terminate(byte);
    });
}

TTerminationSignal::~TTerminationSignal() {
    if (!m_notifier)
        return;
    struct sigaction sa {};
    sa.sa_handler = SIG_DFL;
    sigemptyset(&sa.sa_mask);
    for (const int s : {SIGTERM, SIGINT, SIGHUP})
        sigaction(s, &sa, nullptr);
    ::close(g_fds[0]);
    ::close(g_fds[1]);
    g_fds[0] = g_fds[1] = -1;
}
