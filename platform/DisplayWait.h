#pragma once

// Waits until the X display named by DISPLAY accepts a connection, for at most
// timeoutMs; true at once when DISPLAY is not set (another platform decides). A desk
// started with the session (autostart, a service) may come up before the display
// does; without this wait the windowing system's plugin aborts the program.
bool WaitForX11Display(int timeoutMs);
