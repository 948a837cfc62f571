#include "player/VlcHandles.h"

#include "player/VlcUnit.h"

#include <cstdlib>

void TVlcMediaRelease::operator()(libvlc_media_t* md) const {
    if (md != nullptr)
        vlc::libvlc_media_release(md);
}

void TVlcMediaListRelease::operator()(libvlc_media_list_t* list) const {
    if (list != nullptr)
        vlc::libvlc_media_list_release(list);
}

TVlcMediaListLock::TVlcMediaListLock(libvlc_media_list_t* list) : FList(list) {
    vlc::libvlc_media_list_lock(FList);
}

TVlcMediaListLock::~TVlcMediaListLock() {
    vlc::libvlc_media_list_unlock(FList);
}

TVlcMediaRef PlayerMedia(libvlc_media_player_t* player) {
    if (player == nullptr)
        return {};
    return TVlcMediaRef(vlc::libvlc_media_player_get_media(player));
}

QString MediaMrl(libvlc_media_t* md) {
    if (md == nullptr)
        return {};
    // The text is the caller's to free.
    std::unique_ptr<char, decltype(&std::free)> mrl(vlc::libvlc_media_get_mrl(md), &std::free);
    return mrl ? QString::fromUtf8(mrl.get()) : QString();
}

std::optional<QString> FirstSubItemMrl(libvlc_media_t* md) {
    if (md == nullptr)
        return std::nullopt;
    // libVLC 3 gives every media a sub-item list, usually empty.
    const TVlcMediaListRef list(vlc::libvlc_media_subitems(md));
    if (!list)
        return std::nullopt;
    const TVlcMediaListLock locked(list.get());
    if (vlc::libvlc_media_list_count(list.get()) <= 0)
        return std::nullopt;
    const TVlcMediaRef item(vlc::libvlc_media_list_item_at_index(list.get(), 0));
    return MediaMrl(item.get());
}
