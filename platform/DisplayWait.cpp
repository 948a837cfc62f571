#include "platform/DisplayWait.h"

#include <QElapsedTimer>
#include <QThread>
#include <cstdio>
#include <cstdlib>
#include <xcb/xcb.h>

TX11DisplayWait::~TX11DisplayWait() {
    Release();
}

void TX11DisplayWait::Release() {
    if (m_connection)
        xcb_disconnect(m_connection);
    m_connection = nullptr;
}

bool TX11DisplayWait::Wait(int timeoutMs) {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display || m_connection)
        return true;
    QElapsedTimer waited;
    waited.start();
    bool told = false;
    for (;;) {
        xcb_connection_t* c = xcb_connect(nullptr, nullptr);
        if (c && xcb_connection_has_error(c) == 0) {
            m_connection = c;
            return true;
        }
        if (c)
            xcb_disconnect(c);
        if (waited.elapsed() >= timeoutMs)
            return false;
        if (!told) {
            std::fprintf(stderr, "tavoria: waiting for the display %s\n", display);
            told = true;
        }
        QThread::msleep(200);
    }
}
