#include "platform/MediaKeys.h"

#include <QGuiApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <QtGui/qguiapplication_platform.h>
#include <array>
#include <bitset>
#include <cstdlib>
#include <optional>

#include <xcb/xcb.h>
#include <xcb/xinput.h>

// From libX11 (Qt's X11 platform uses it too); its header's macros clash with
// ordinary names.
extern "C" char* XDisplayString(Display* display);

namespace {
constexpr xcb_keysym_t XF86AudioNext = 0x1008FF17;
constexpr xcb_keysym_t XF86AudioStop = 0x1008FF15;
constexpr int PollIntervalMs = 100;

std::optional<MediaKey> KeyOfSym(xcb_keysym_t sym) {
    if (sym == XF86AudioNext)
        return MediaKey::NextTrack;
    if (sym == XF86AudioStop)
        return MediaKey::Stop;
    return std::nullopt;
}

// The name of the display Qt shows the windows on (it may come from "-display"
// rather than DISPLAY); empty where Qt does not run on X11.
std::optional<QByteArray> QtDisplayName() {
    if (QGuiApplication::platformName() != QStringLiteral("xcb") || !qGuiApp)
        return std::nullopt;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection())
        return std::nullopt;
    if (Display* display = x11->display())
        return QByteArray(XDisplayString(display));
    return qgetenv("DISPLAY");
}
} // namespace

// The keys are read on an X connection of this class's own, watched by a socket
// notifier, rather than through a native event filter on Qt's connection: the
// selection on the root window, the XInput version asked for and the mapping round
// trips then depend on nothing in how Qt reads and dispatches its own events, and
// the detector works the same with no window at all. The cost is one more client
// connection to the X server.
struct MediaKeys::Impl {
    MediaKeys* q;
    xcb_connection_t* c = nullptr;
    xcb_window_t root = 0;
    uint8_t xiOpcode = 0;
    Source source = Source::None;
    QSocketNotifier* notifier = nullptr;
    QTimer* poll = nullptr;

    // What each keycode means here: a media key, or nothing. A keycode with no
    // keysym at all is read again when it is pressed (its binding may be newer
    // than the last notification read).
    std::array<std::optional<MediaKey>, 256> keyOf{};
    std::bitset<256> unbound;
    // Keycodes pressed and not yet released: a press of one of them is a repeat.
    std::bitset<256> held;
    // Poll: the keys down at the last look.
    bool pollDown[2] = {false, false};

    explicit Impl(MediaKeys* owner) : q(owner) {}

    ~Impl() {
        delete notifier;
        if (c)
            xcb_disconnect(c);
    }

    bool Open(bool allowRawEvents) {
        const std::optional<QByteArray> name = QtDisplayName();
        if (!name)
            return false;
        int screenNumber = 0;
        c = xcb_connect(name->isEmpty() ? nullptr : name->constData(), &screenNumber);
        if (!c || xcb_connection_has_error(c))
            return false;
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
        for (int i = 0; it.rem && i < screenNumber; ++i)
            xcb_screen_next(&it);
        if (!it.rem)
            return false;
        root = it.data->root;
        ReadMapping(xcb_get_setup(c)->min_keycode, xcb_get_setup(c)->max_keycode);
        source = allowRawEvents && SelectRawKeys() ? Source::RawKeyEvents : Source::KeymapPoll;
        return true;
    }

    // Asks for raw key presses and releases of the master keyboards on the root
    // window. Raw events go to every client that asks, whatever window has the
    // focus and even while another client grabs the key (XInput 2.1 and later).
    bool SelectRawKeys() {
        const xcb_query_extension_reply_t* ext = xcb_get_extension_data(c, &xcb_input_id);
        if (!ext || !ext->present)
            return false;
        xiOpcode = ext->major_opcode;
        xcb_input_xi_query_version_reply_t* version =
            xcb_input_xi_query_version_reply(c, xcb_input_xi_query_version(c, 2, 2), nullptr);
        const bool xi2 = version && version->major_version >= 2;
        free(version);
        if (!xi2)
            return false;
        struct {
            xcb_input_event_mask_t head;
            uint32_t bits;
        } mask{};
        mask.head.deviceid = XCB_INPUT_DEVICE_ALL_MASTER;
        mask.head.mask_len = 1;
        mask.bits = XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_KEY_RELEASE;
        xcb_generic_error_t* error =
            xcb_request_check(c, xcb_input_xi_select_events_checked(c, root, 1, &mask.head));
        free(error);
        return !error;
    }

    // Reads the keysyms of keycodes first..last and notes which are media keys.
    void ReadMapping(int first, int last) {
        first = std::max(first, int(xcb_get_setup(c)->min_keycode));
        last = std::min(last, int(xcb_get_setup(c)->max_keycode));
        if (first > last)
            return;
        xcb_get_keyboard_mapping_reply_t* reply = xcb_get_keyboard_mapping_reply(
            c, xcb_get_keyboard_mapping(c, xcb_keycode_t(first), uint8_t(last - first + 1)),
            nullptr);
        if (!reply)
            return;
        const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(reply);
        const int perCode = reply->keysyms_per_keycode;
        const int count = perCode ? xcb_get_keyboard_mapping_keysyms_length(reply) / perCode : 0;
        for (int i = 0; i < count && first + i <= last; ++i) {
            const int code = first + i;
            keyOf[code].reset();
            bool any = false;
            for (int j = 0; j < perCode; ++j) {
                const xcb_keysym_t sym = syms[i * perCode + j];
                any = any || sym != 0;
                if (!keyOf[code])
                    keyOf[code] = KeyOfSym(sym);
            }
            unbound[code] = !any;
        }
        free(reply);
    }

    void Start() {
        notifier = new QSocketNotifier(xcb_get_file_descriptor(c), QSocketNotifier::Read);
        QObject::connect(notifier, &QSocketNotifier::activated, q, [this] { Drain(); });
        if (source == Source::KeymapPoll) {
            poll = new QTimer(q);
            poll->setInterval(PollIntervalMs);
            QObject::connect(poll, &QTimer::timeout, q, [this] { Poll(); });
            poll->start();
        }
        // Events that arrived during the set-up's round trips wait in xcb's queue,
        // where the socket notifier cannot see them.
        QTimer::singleShot(0, q, [this] { Drain(); });
    }

    void Stop() {
        source = Source::None;
        if (notifier)
            notifier->setEnabled(false);
        if (poll)
            poll->stop();
    }

    // Handles every event the connection holds. A reply awaited while handling one
    // may bring more events into xcb's queue; the loop takes those too.
    void Drain() {
        if (!c)
            return;
        while (xcb_generic_event_t* ev = xcb_poll_for_event(c)) {
            Handle(ev);
            free(ev);
        }
        if (xcb_connection_has_error(c))
            Stop(); // the server went away: a closed socket would wake the loop forever
    }

    void Handle(const xcb_generic_event_t* ev) {
        const uint8_t type = ev->response_type & 0x7f;
        if (type == XCB_MAPPING_NOTIFY) {
            auto* m = reinterpret_cast<const xcb_mapping_notify_event_t*>(ev);
            if (m->request == XCB_MAPPING_KEYBOARD)
                ReadMapping(m->first_keycode, int(m->first_keycode) + m->count - 1);
            return;
        }
        if (type != XCB_GE_GENERIC || source != Source::RawKeyEvents)
            return;
        auto* ge = reinterpret_cast<const xcb_ge_generic_event_t*>(ev);
        if (ge->extension != xiOpcode)
            return;
        auto* raw = reinterpret_cast<const xcb_input_raw_key_press_event_t*>(ev);
        if (raw->detail > 255)
            return;
        const int code = int(raw->detail);
        if (ge->event_type == XCB_INPUT_RAW_KEY_RELEASE) {
            held[code] = false;
            return;
        }
        if (ge->event_type != XCB_INPUT_RAW_KEY_PRESS)
            return;
        const bool repeat = (raw->flags & XCB_INPUT_KEY_EVENT_FLAGS_KEY_REPEAT) || held[code];
        held[code] = true;
        if (!keyOf[code] && unbound[code])
            ReadMapping(code, code);
        if (keyOf[code] && !repeat)
            emit q->Pressed(*keyOf[code]);
    }

    void Poll() {
        xcb_query_keymap_reply_t* keymap = xcb_query_keymap_reply(c, xcb_query_keymap(c), nullptr);
        if (!keymap) {
            Drain();
            return;
        }
        bool down[2] = {false, false};
        for (int code = 0; code < 256; ++code)
            if (keyOf[code] && (keymap->keys[code / 8] & (1 << (code % 8))))
                down[int(*keyOf[code])] = true;
        free(keymap);
        for (MediaKey key : {MediaKey::NextTrack, MediaKey::Stop}) {
            const int k = int(key);
            const bool pressed = down[k] && !pollDown[k];
            pollDown[k] = down[k];
            if (pressed)
                emit q->Pressed(key);
        }
        // A mapping change read during the round trip is in xcb's queue.
        Drain();
    }
};

MediaKeys::MediaKeys(QObject* parent, bool allowRawEvents)
    : QObject(parent), d(std::make_unique<Impl>(this)) {
    if (d->Open(allowRawEvents))
        d->Start();
    else
        d->Stop();
}

MediaKeys::~MediaKeys() = default;

MediaKeys::Source MediaKeys::ActiveSource() const {
    return d->source;
}
