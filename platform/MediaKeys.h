#pragma once
#include <QObject>
#include <memory>

enum class MediaKey { NextTrack, Stop };

// Reports each press of the keyboard's media keys for the next track (keysym
// XF86AudioNext) and for stop (XF86AudioStop), whatever window has the focus and
// without taking the keys away from the desktop.
//
// On X11 the presses come from XInput2 raw key events selected on the root window,
// read from a connection of its own whose socket the event loop watches: a tap of a
// few milliseconds is seen, and a busy user-interface thread only delays it. Where
// the server lacks XInput2 the key map is polled every 100 ms instead, which sees a
// key held across a poll but misses shorter taps. Never both at once.
//
// One press is one report: the key's auto-repeat and a key held down report nothing
// more until it is released and pressed again. Keys moved to other keycodes (a
// remapped keyboard, or xdotool binding a spare keycode) are followed through the
// server's mapping notifications.
class MediaKeys : public QObject {
    Q_OBJECT
public:
    enum class Source {
        None,         // no X display of this application: the keys cannot be read
        RawKeyEvents, // XInput2 raw key events
        KeymapPoll,   // the key map every 100 ms (no XInput2)
    };

    // Reads the keys of the X display the application shows its windows on, when
    // Qt runs on X11 (the "xcb" platform). With allowRawEvents false the key map is
    // polled even where XInput2 exists (tests of the fallback).
    explicit MediaKeys(QObject* parent = nullptr, bool allowRawEvents = true);
    ~MediaKeys() override;

    Source ActiveSource() const;

signals:
    void Pressed(MediaKey key);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
