#include "platform/DisplayWait.h"

#include <QElapsedTimer>
#include <QThread>
#include <cstdio>
#include <cstdlib>
#include <xcb/xcb.h>

bool WaitForX11Display(int timeoutMs) {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display)
        return true;
    QElapsedTimer waited;
    waited.start();
    bool told = false;
    for (;;) {
        xcb_connection_t* c = xcb_connect(nullptr, nullptr);
        const bool ok = c && xcb_connection_has_error(c) == 0;
        if (c)
            xcb_disconnect(c);
        if (ok)
            return true;
        if (waited.elapsed() >= timeoutMs)
            return false;
        if (!told) {
            std::fprintf(stderr, "tavoria: waiting for the display %s\n", display);
            told = true;
        }
        QThread::msleep(200);
    }
}
