#pragma once

// Owners of the references that libVLC hands out: a media, a media list, a lock on a
// media list and an MRL text. Each gives its reference back once, on every path out
// of the code that took it.

#include <QString>

#include <memory>
#include <optional>

#include <vlc/vlc.h>

struct TVlcMediaRelease {
    void operator()(libvlc_media_t* md) const;
};
struct TVlcMediaListRelease {
    void operator()(libvlc_media_list_t* list) const;
};

// A media reference held by us (from libvlc_media_player_get_media,
// libvlc_media_list_item_at_index, ...).
using TVlcMediaRef = std::unique_ptr<libvlc_media_t, TVlcMediaRelease>;
// A media list reference held by us (from libvlc_media_subitems).
using TVlcMediaListRef = std::unique_ptr<libvlc_media_list_t, TVlcMediaListRelease>;

// The media list locked for as long as the holder lives.
class TVlcMediaListLock {
public:
    explicit TVlcMediaListLock(libvlc_media_list_t* list);
    ~TVlcMediaListLock();
    TVlcMediaListLock(const TVlcMediaListLock&) = delete;
    TVlcMediaListLock& operator=(const TVlcMediaListLock&) = delete;

private:
    libvlc_media_list_t* FList;
};

// The player's current media, held by us; empty when it has none.
TVlcMediaRef PlayerMedia(libvlc_media_player_t* player);

// The MRL of a media; a null text when there is no media or libVLC gives none.
QString MediaMrl(libvlc_media_t* md);

// The MRL of the media's first sub-item (the stream a resolved page or playlist names).
// Nothing when the media has no sub-item; a null text when the first sub-item gives
// no MRL.
std::optional<QString> FirstSubItemMrl(libvlc_media_t* md);
