#include "platform/MediaKeys.h"

#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

namespace {
constexpr xcb_keysym_t XF86AudioNext = 0x1008FF17;
constexpr xcb_keysym_t XF86AudioStop = 0x1008FF15;

xcb_connection_t* Connection() {
    if (QGuiApplication::platformName() != QStringLiteral("xcb"))
        return nullptr;
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}
} // namespace

bool MediaKeyDown(MediaKey key) {
    xcb_connection_t* c = Connection();
    if (!c)
        return false;
    // The mapping is read afresh each time: a key remapped since (as xdotool does for
    // keys the layout lacks) is still found.
    xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(c);
    if (!symbols)
        return false;
    xcb_keycode_t* codes = xcb_key_symbols_get_keycode(
        symbols, key == MediaKey::NextTrack ? XF86AudioNext : XF86AudioStop);
    bool down = false;
    if (codes) {
        xcb_query_keymap_reply_t* keymap = xcb_query_keymap_reply(c, xcb_query_keymap(c), nullptr);
        if (keymap) {
            for (xcb_keycode_t* k = codes; *k != XCB_NO_SYMBOL; ++k)
                if (keymap->keys[*k / 8] & (1 << (*k % 8)))
                    down = true;
            free(keymap);
        }
        free(codes);
    }
    xcb_key_symbols_free(symbols);
    return down;
}
