#pragma once

struct xcb_connection_t;

// Waits until the X display named by DISPLAY accepts a connection and then keeps
// that connection open until Release() (or its end). A desk started with the
// session (autostart, a service) may come up before the display does; without the
// wait the windowing system's plugin aborts the program. Keeping the connection
// matters as much: an X server with no other client resets when its last client
// leaves (Xvfb and Xorg do so by default), and a connection made while it resets
// is dropped, so a probe that disconnected at once made the application's own
// first connection fail now and then. Release once the application has its own.
class TX11DisplayWait {
public:
    TX11DisplayWait() = default;
    ~TX11DisplayWait();
    TX11DisplayWait(const TX11DisplayWait&) = delete;
    TX11DisplayWait& operator=(const TX11DisplayWait&) = delete;

    // True once a connection is open, for at most timeoutMs; true at once when
    // DISPLAY is not set (another platform decides).
    bool Wait(int timeoutMs);
    void Release();

private:
    xcb_connection_t* m_connection = nullptr;
};
