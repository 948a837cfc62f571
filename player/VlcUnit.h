#pragma once

// Run-time loader of libVLC, its entry points, the argument vector builder for
// libvlc_new and the time formatter of the time labels.
//
// libVLC is never linked: vlc/vlc.h gives only the types and signatures, and
// every function is reached through a pointer in namespace vlc that
// LoadLibVlc resolves from libvlc.so.5.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

#include <vlc/vlc.h>

// Version stages: major * 65536 + minor * 256 + patch.
#define TAVORIA_VLC_V(a, b, c) ((a)*65536u + (b)*256u + (c))

// Entry points used by the player, with the first libVLC version that has
// them (0 is the base set every supported libVLC has). Inside a stage the
// stub's name text is the function's name; the device enumeration's text
// ends in a blank, as the operator has always seen it.
#define TAVORIA_VLC_ENTRY_POINTS(X)                                                                \
    X(libvlc_new, 0, "libvlc_new")                                                                 \
    X(libvlc_release, 0, "libvlc_release")                                                         \
    X(libvlc_event_attach, 0, "libvlc_event_attach")                                               \
    X(libvlc_event_detach, 0, "libvlc_event_detach")                                               \
    X(libvlc_media_add_option, 0, "libvlc_media_add_option")                                       \
    X(libvlc_media_release, 0, "libvlc_media_release")                                             \
    X(libvlc_media_get_mrl, 0, "libvlc_media_get_mrl")                                             \
    X(libvlc_media_subitems, 0, "libvlc_media_subitems")                                           \
    X(libvlc_media_player_new, 0, "libvlc_media_player_new")                                       \
    X(libvlc_media_player_release, 0, "libvlc_media_player_release")                               \
    X(libvlc_media_player_set_media, 0, "libvlc_media_player_set_media")                           \
    X(libvlc_media_player_get_media, 0, "libvlc_media_player_get_media")                           \
    X(libvlc_media_player_event_manager, 0, "libvlc_media_player_event_manager")                   \
    X(libvlc_media_player_is_playing, 0, "libvlc_media_player_is_playing")                         \
    X(libvlc_media_player_play, 0, "libvlc_media_player_play")                                     \
    X(libvlc_media_player_pause, 0, "libvlc_media_player_pause")                                   \
    X(libvlc_media_player_set_xwindow, 0, "libvlc_media_player_set_xwindow")                       \
    X(libvlc_media_player_set_time, 0, "libvlc_media_player_set_time")                             \
    X(libvlc_media_player_get_state, 0, "libvlc_media_player_get_state")                           \
    X(libvlc_media_list_lock, 0, "libvlc_media_list_lock")                                         \
    X(libvlc_media_list_unlock, 0, "libvlc_media_list_unlock")                                     \
    X(libvlc_media_list_count, 0, "libvlc_media_list_count")                                       \
    X(libvlc_media_list_item_at_index, 0, "libvlc_media_list_item_at_index")                       \
    X(libvlc_media_list_release, 0, "libvlc_media_list_release")                                   \
    X(libvlc_audio_set_volume, 0, "libvlc_audio_set_volume")                                       \
    X(libvlc_audio_output_device_set, 0, "libvlc_audio_output_device_set")                         \
    X(libvlc_errmsg, TAVORIA_VLC_V(1, 1, 0), "libvlc_errmsg")                                      \
    X(libvlc_media_new_path, TAVORIA_VLC_V(1, 1, 0), "libvlc_media_new_path")                      \
    X(libvlc_media_new_location, TAVORIA_VLC_V(1, 1, 0), "libvlc_media_new_location")              \
    X(libvlc_video_set_key_input, TAVORIA_VLC_V(1, 1, 0), "libvlc_video_set_key_input")            \
    X(libvlc_video_set_mouse_input, TAVORIA_VLC_V(1, 1, 0), "libvlc_video_set_mouse_input")        \
    X(libvlc_video_set_adjust_int, TAVORIA_VLC_V(1, 1, 1), "libvlc_video_set_adjust_int")          \
    X(libvlc_video_set_adjust_float, TAVORIA_VLC_V(1, 1, 1), "libvlc_video_set_adjust_float")      \
    X(libvlc_media_player_set_video_title_display, TAVORIA_VLC_V(2, 1, 0),                         \
      "libvlc_media_player_set_video_title_display")                                               \
    X(libvlc_audio_output_device_list_release, TAVORIA_VLC_V(2, 1, 0),                             \
      "libvlc_audio_output_device_list_release")                                                   \
    X(libvlc_audio_output_device_enum, TAVORIA_VLC_V(2, 2, 0), "libvlc_audio_output_device_enum ")

namespace vlc {
#define TAVORIA_VLC_DECLARE_ENTRY(name, stage, text) extern decltype(&::name) name;
TAVORIA_VLC_ENTRY_POINTS(TAVORIA_VLC_DECLARE_ENTRY)
#undef TAVORIA_VLC_DECLARE_ENTRY
// libvlc_media_player_stop is gone in libVLC 4 (its stub says so); stop_async replaces it.
extern decltype(&::libvlc_media_player_stop) libvlc_media_player_stop;
using stop_async_t = int (*)(libvlc_media_player_t*);
extern stop_async_t libvlc_media_player_stop_async;
extern decltype(&::libvlc_get_version) libvlc_get_version;
} // namespace vlc

// The VLC installation folder (libVLC's own folder), or empty.
QString LibVlcDefaultDir();

// Loads libvlccore and libvlc, checks them and resolves the entry points.
// Returns at once when libvlc is already loaded. Leaves LibVlcError() empty on
// success; a failure before libvlc itself is loaded is tried again at the next
// call, a later failure lasts.
void LoadLibVlc(const QString& folder);

bool LibVlcLoaded();
QString LibVlcError();
QString LibVlcFolder();
QString LibVlcVersionText();
quint32 LibVlcVersionBin();

// "3.0.18 Vetinari" -> 3 * 65536 + 0 * 256 + 18.
quint32 ParseLibVlcVersion(const QString& text);

// Test hooks: whether the loader may fall back to the system's library path
// when the VLC folder does not hold the libraries (default true), and who
// shows the entry-point stubs' messages (default: a QMessageBox with the
// caption "libvlc" and the error icon).
void SetLibVlcSystemFallback(bool allowed);
using TLibVlcMessageHook = std::function<void(const QString& caption, const QString& text)>;
void SetLibVlcMessageHook(TLibVlcMessageHook hook);

// Argument vector of libvlc_new: at most 1024 UTF-8 arguments.
class TArgcArgs {
public:
    static constexpr int MaxArgs = 1024;

    void AddArg(const QString& value, bool ignoreEmptyStrings = true, bool allowDuplicates = false);
    void AddArg(const QStringList& values, bool ignoreEmptyStrings = true,
                bool allowDuplicates = false);

    int ARGC() const { return static_cast<int>(Fargv.size()); }
    const char* const* ARGS();
    QStringList Args() const;

private:
    std::vector<QByteArray> Fargv;
    std::vector<const char*> Fargs;
};

// Replaces "dd", "hh", "mm", "ss" and then "ms" in the template (ignoring
// case) by the parts of the time; a negative time counts as 0.
QString TimeMsToStr(qint64 timeMs, const QString& format);
