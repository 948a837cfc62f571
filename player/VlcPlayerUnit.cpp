#include "player/VlcPlayerUnit.h"

#include "player/VlcHandles.h"
#include "player/VlcUnit.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMetaMethod>
#include <QMouseEvent>
#include <QMutex>
#include <QMutexLocker>
#include <QPalette>
#include <QThread>

#include <cmath>
#include <exception>

// What the event callback may reach: the control to post to, cleared under the
// lock before the control goes away, so that a callback racing with the
// destruction posts nothing and touches no freed memory.
struct TVlcEventSink {
    QMutex lock;
    TVlcPlayer* target = nullptr;
};

namespace {

// The media player's reports (a contiguous run of libVLC's event types) and the
// renderer discoverer's two.
bool IsPublishedType(int t) {
    return (t >= libvlc_MediaPlayerMediaChanged && t <= libvlc_MediaPlayerChapterChanged) ||
           t == libvlc_RendererDiscovererItemAdded || t == libvlc_RendererDiscovererItemDeleted;
}

qint64 Times1000(float v) {
    return static_cast<qint64>(std::lround(static_cast<double>(v) * 1000.0));
}

qint64 PointerValue(const void* p) {
    return static_cast<qint64>(reinterpret_cast<quintptr>(p));
}

// Runs on libVLC's threads: copies the event's plain values (and the text of
// the pointer payloads that libVLC frees after the callback) and posts them.
// It never waits on libVLC, never calls it and never touches a widget.
void VlcEventCallback(const libvlc_event_t* ev, void* data) {
    auto* sink = static_cast<TVlcEventSink*>(data);
    if (sink == nullptr || ev == nullptr)
        return;
    const int t = ev->type;
    if (!IsPublishedType(t))
        return;
    qint64 w = 0;
    qint64 l = 0;
    QString text;
    switch (t) {
    case libvlc_MediaPlayerMediaChanged:
        w = PointerValue(ev->u.media_player_media_changed.new_media);
        break;
    case libvlc_MediaPlayerBuffering:
        w = Times1000(ev->u.media_player_buffering.new_cache);
        break;
    case libvlc_MediaPlayerTimeChanged:
        w = ev->u.media_player_time_changed.new_time;
        break;
    case libvlc_MediaPlayerPositionChanged:
        w = Times1000(ev->u.media_player_position_changed.new_position);
        break;
    case libvlc_MediaPlayerSeekableChanged:
        w = ev->u.media_player_seekable_changed.new_seekable;
        break;
    case libvlc_MediaPlayerPausableChanged:
        w = ev->u.media_player_pausable_changed.new_pausable;
        break;
    case libvlc_MediaPlayerTitleChanged:
        w = ev->u.media_player_title_changed.new_title;
        break;
    case libvlc_MediaPlayerSnapshotTaken:
        w = PointerValue(ev->u.media_player_snapshot_taken.psz_filename);
        if (ev->u.media_player_snapshot_taken.psz_filename != nullptr)
            text = QString::fromUtf8(ev->u.media_player_snapshot_taken.psz_filename);
        break;
    case libvlc_MediaPlayerLengthChanged:
        w = ev->u.media_player_length_changed.new_length;
        break;
    case libvlc_MediaPlayerVout:
        w = ev->u.media_player_vout.new_count;
        break;
    case libvlc_MediaPlayerScrambledChanged:
        w = ev->u.media_player_scrambled_changed.new_scrambled;
        break;
    case libvlc_MediaPlayerESAdded:
    case libvlc_MediaPlayerESDeleted:
    case libvlc_MediaPlayerESSelected:
        w = ev->u.media_player_es_changed.i_type;
        l = ev->u.media_player_es_changed.i_id;
        break;
    case libvlc_MediaPlayerAudioVolume:
        w = Times1000(ev->u.media_player_audio_volume.volume);
        break;
    case libvlc_MediaPlayerAudioDevice:
        w = PointerValue(ev->u.media_player_audio_device.device);
        if (ev->u.media_player_audio_device.device != nullptr)
            text = QString::fromUtf8(ev->u.media_player_audio_device.device);
        break;
    case libvlc_MediaPlayerChapterChanged:
        w = ev->u.media_player_chapter_changed.new_chapter;
        break;
    case libvlc_RendererDiscovererItemAdded:
        w = PointerValue(ev->u.renderer_discoverer_item_added.item);
        break;
    case libvlc_RendererDiscovererItemDeleted:
        w = PointerValue(ev->u.renderer_discoverer_item_deleted.item);
        break;
    default:
        break;
    }
    try {
        auto* e = new TVlcEvent(t, w, l, text);
        QMutexLocker locker(&sink->lock);
        if (sink->target != nullptr)
            QCoreApplication::postEvent(sink->target, e);
        else
            delete e;
    } catch (...) {
        // Out of memory: the event is lost, as with a full queue.
    }
}

} // namespace

bool IsVideoSitePage(const QString& mrl) {
    const QString s = mrl.trimmed().toLower();
    const qsizetype sep = s.indexOf(QStringLiteral("://"));
    const QString scheme = sep < 0 ? s : s.left(sep);
    const QString rest = sep < 0 ? QString() : s.mid(sep + 3);
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return false;
    const qsizetype slash = rest.indexOf(QLatin1Char('/'));
    const QString host = slash < 0 ? rest : rest.left(slash);
    return host == QLatin1String("youtube.com") || host == QLatin1String("www.youtube.com");
}

// ---------------------------------------------------------------------------

TVlcMouseEventWinCtrl::TVlcMouseEventWinCtrl(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_TranslucentBackground);
    setAutoFillBackground(false);
    setMouseTracking(true);
}

bool TVlcMouseEventWinCtrl::eventFilter(QObject* watched, QEvent* e) {
    Q_UNUSED(watched);
    try {
        switch (e->type()) {
        case QEvent::MouseButtonPress:
            mousePressEvent(static_cast<QMouseEvent*>(e));
            break;
        case QEvent::MouseButtonRelease:
            mouseReleaseEvent(static_cast<QMouseEvent*>(e));
            break;
        case QEvent::MouseButtonDblClick:
            mouseDoubleClickEvent(static_cast<QMouseEvent*>(e));
            break;
        case QEvent::MouseMove:
            mouseMoveEvent(static_cast<QMouseEvent*>(e));
            break;
        case QEvent::Enter:
            emit MouseEnter();
            break;
        case QEvent::Leave:
            emit MouseLeave();
            break;
        default:
            break;
        }
    } catch (...) {
        qWarning("TVlcPlayer: mouse handler failed");
    }
    return false;
}

void TVlcMouseEventWinCtrl::mousePressEvent(QMouseEvent* e) {
    emit MouseDown(e->button(), e->position().toPoint());
    e->ignore();
}

void TVlcMouseEventWinCtrl::mouseReleaseEvent(QMouseEvent* e) {
    emit MouseUp(e->button(), e->position().toPoint());
    if (rect().contains(e->position().toPoint()))
        emit Click();
    e->ignore();
}

void TVlcMouseEventWinCtrl::mouseDoubleClickEvent(QMouseEvent* e) {
    emit DblClick();
    e->ignore();
}

void TVlcMouseEventWinCtrl::mouseMoveEvent(QMouseEvent* e) {
    emit MouseMove(e->position().toPoint());
    e->ignore();
}

void TVlcMouseEventWinCtrl::enterEvent(QEnterEvent* e) {
    emit MouseEnter();
    QWidget::enterEvent(e);
}

void TVlcMouseEventWinCtrl::leaveEvent(QEvent* e) {
    emit MouseLeave();
    QWidget::leaveEvent(e);
}

// ---------------------------------------------------------------------------

TVlcPlayer::TVlcPlayer(QWidget* parent)
    : QWidget(parent), FSink(std::make_unique<TVlcEventSink>()) {
    FSink->target = this;
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    setPalette(pal);
    setAutoFillBackground(true);
    resize(320, 240);

    // The window libVLC draws into: a native child, so that it has an X window
    // id of its own, without turning the ancestors into native windows.
    FPlayerWinCtrl = new QWidget(this);
    FPlayerWinCtrl->setObjectName(QStringLiteral("FPlayerWinCtrl"));
    FPlayerWinCtrl->setAttribute(Qt::WA_DontCreateNativeAncestors);
    FPlayerWinCtrl->setAttribute(Qt::WA_NativeWindow);
    FPlayerWinCtrl->setPalette(pal);
    FPlayerWinCtrl->setAutoFillBackground(true);

    // On X11 a widget stacked above the native video window hides the picture
    // (nothing is transparent there), and the pointer's events go to the
    // native window under it anyway. The overlay therefore sits below the
    // video window and also receives the events that reach the video window.
    FMouseEventWinCtrl = new TVlcMouseEventWinCtrl(this);
    FMouseEventWinCtrl->setObjectName(QStringLiteral("FMouseEventWinCtrl"));
    FMouseEventWinCtrl->lower();
    FPlayerWinCtrl->setMouseTracking(true);
    FPlayerWinCtrl->installEventFilter(FMouseEventWinCtrl);
    connect(FMouseEventWinCtrl, &TVlcMouseEventWinCtrl::Click, this, &TVlcPlayer::Click);
    connect(FMouseEventWinCtrl, &TVlcMouseEventWinCtrl::DblClick, this, &TVlcPlayer::DblClick);
    connect(FMouseEventWinCtrl, &TVlcMouseEventWinCtrl::MouseDown, this, &TVlcPlayer::MouseDown);
    connect(FMouseEventWinCtrl, &TVlcMouseEventWinCtrl::MouseUp, this, &TVlcPlayer::MouseUp);
    connect(FMouseEventWinCtrl, &TVlcMouseEventWinCtrl::MouseMove, this, &TVlcPlayer::MouseMove);
    connect(FMouseEventWinCtrl, &TVlcMouseEventWinCtrl::MouseEnter, this, &TVlcPlayer::MouseEnter);
    connect(FMouseEventWinCtrl, &TVlcMouseEventWinCtrl::MouseLeave, this, &TVlcPlayer::MouseLeave);
    LayoutChildren();
}

TVlcPlayer::~TVlcPlayer() {
    try {
        ReleasePlayer();
    } catch (...) {
    }
    // The instance goes after its player, the sink after the last callback.
    FVLC.reset();
    FSink.reset();
}

void TVlcPlayer::ReleasePlayer() {
    {
        QMutexLocker locker(&FSink->lock);
        FSink->target = nullptr;
    }
    EventsDisable();
    if (p_mi != nullptr) {
        Stop(1000);
        vlc::libvlc_media_player_release(p_mi);
        p_mi = nullptr;
        QThread::msleep(50);
    }
}

template <typename Sig> bool TVlcPlayer::Bound(Sig signal) const {
    return isSignalConnected(QMetaMethod::fromSignal(signal));
}

TVlcInstance* TVlcPlayer::GetVLC() {
    if (!FVLC) {
        FVLC = std::make_unique<TVlcInstance>(QString(), FTitleShow);
        for (const QString& option : std::as_const(FStartOptions))
            FVLC->AddOption(option);
        FVLC->AddOption(QStringLiteral("--drop-late-frames"));
        FVLC->AddOption(FSpuShow ? QStringLiteral("--spu") : QStringLiteral("--no-spu"));
        FVLC->AddOption(FOsdShow ? QStringLiteral("--osd") : QStringLiteral("--no-osd"));
        FVLC->AddOption(FVideoOnTop ? QStringLiteral("--video-on-top")
                                    : QStringLiteral("--no-video-on-top"));
        FVLC->AddOption(FUseOverlay ? QStringLiteral("--overlay") : QStringLiteral("--no-overlay"));
        FVLC->AddOption(FSnapshotPrv ? QStringLiteral("--snapshot-preview")
                                     : QStringLiteral("--no-snapshot-preview"));
    }
    return FVLC.get();
}

void TVlcPlayer::UpdateTitleShow() {
    if (p_mi == nullptr || LibVlcVersionBin() < TAVORIA_VLC_V(2, 1, 0))
        return;
    static const int positions[] = {0, 1, 2, 4, 5, 6, 8, 9, 10};
    const int pos = FTitleShow ? positions[FTitleShowPos] : -1;
    vlc::libvlc_media_player_set_video_title_display(p_mi, static_cast<libvlc_position_t>(pos),
                                                     FTitleShowTimeOut);
}

libvlc_media_player_t* TVlcPlayer::GetPlayerHandle() {
    if (p_mi == nullptr) {
        TVlcInstance* instance = GetVLC();
        libvlc_instance_t* handle = instance->Handle();
        if (handle != nullptr) {
            p_mi = vlc::libvlc_media_player_new(handle);
            if (p_mi != nullptr) {
                const unsigned on = FMouseEventsHandler == mehVideoLAN ? 1 : 0;
                vlc::libvlc_video_set_mouse_input(p_mi, on);
                vlc::libvlc_video_set_key_input(p_mi, on);
                emit OnPlayerCreated();
            }
        } else {
            const QString error = instance->Error();
            if (!error.isEmpty() && Bound(&TVlcPlayer::OnMediaPlayerEncounteredError)) {
                FError = error;
                emit OnMediaPlayerEncounteredError();
            }
        }
    }
    UpdateTitleShow();
    if (FUseEvents)
        EventsEnable();
    return p_mi;
}

void TVlcPlayer::EventsEnable() {
    // Already attached to this player: detaching and attaching again would
    // only open a gap in which libVLC's reports are lost.
    if (p_mi != nullptr && p_mi_ev_mgr != nullptr &&
        p_mi_ev_mgr == vlc::libvlc_media_player_event_manager(p_mi))
        return;
    EventsDisable();
    if (p_mi == nullptr)
        return;
    p_mi_ev_mgr = vlc::libvlc_media_player_event_manager(p_mi);
    if (p_mi_ev_mgr == nullptr)
        return;
    for (const int t : kPlayerEventTypes)
        vlc::libvlc_event_attach(p_mi_ev_mgr, t, &VlcEventCallback, FSink.get());
}

void TVlcPlayer::EventsDisable() {
    if (p_mi_ev_mgr == nullptr)
        return;
    for (auto it = std::rbegin(kPlayerEventTypes); it != std::rend(kPlayerEventTypes); ++it)
        vlc::libvlc_event_detach(p_mi_ev_mgr, *it, &VlcEventCallback, FSink.get());
    p_mi_ev_mgr = nullptr;
    // No settling sleep: libVLC runs the callbacks under its event manager's
    // lock, so once libvlc_event_detach has returned none of ours runs or will.
}

// ---------------------------------------------------------------------------

void TVlcPlayer::Play(const QString& mrl, const QStringList& mediaOptions,
                      const QString& audioOutput, const QString& audioOutputDeviceId,
                      quint32 audioSetTimeOut) {
    if (IsVideoSitePage(mrl))
        PlayYoutube(mrl, mediaOptions, audioOutput, audioOutputDeviceId, 1000, 10000);
    else
        PlayNormal(mrl, mediaOptions, audioOutput, audioOutputDeviceId, audioSetTimeOut);
}

void TVlcPlayer::PlayNormal(const QString& mrl, const QStringList& mediaOptions,
                            const QString& audioOutput, const QString& audioOutputDeviceId,
                            quint32 audioSetTimeOut) {
    if (GetPlayerHandle() == nullptr)
        return;
    Stop(1000);
    auto media = std::make_unique<TVlcMedia>(GetVLC(), mrl);
    media->SetDeinterlaceFilter(FDeinterlaceFilter);
    media->SetDeinterlaceFilterMode(FDeinterlaceMode);
    for (const QString& option : mediaOptions)
        media->AddOption(option);
    Play(std::move(media), audioOutput, audioOutputDeviceId, audioSetTimeOut);
}

void TVlcPlayer::Play(std::unique_ptr<TVlcMedia> media, const QString& audioOutput,
                      const QString& audioOutputDeviceId, quint32 audioSetTimeOut) {
    if (p_mi == nullptr)
        return;
    vlc::libvlc_media_player_set_media(p_mi, media ? media->MD() : nullptr);
    BindVideoWindow();
    UpdateTitleShow();
    vlc::libvlc_media_player_play(p_mi);
    // The player holds a reference of its own from here on.
    media.reset();

    QString aOut;
    QString aDevice;
    if (!audioOutput.isEmpty() || !audioOutputDeviceId.isEmpty()) {
        aOut = audioOutput;
        aDevice = audioOutputDeviceId;
    } else if (!FLastAudioOutput.isEmpty() || !FLastAudioOutputDeviceId.isEmpty()) {
        aOut = FLastAudioOutput;
        aDevice = FLastAudioOutputDeviceId;
    } else {
        return;
    }
    // Wait for playback: the counter drops by one per 10 ms sleep. A media that
    // failed or already ended will never play: waiting for it would only hold the
    // window for the whole time-out.
    quint32 counter = audioSetTimeOut;
    for (;;) {
        if (vlc::libvlc_media_player_is_playing(p_mi))
            break;
        const libvlc_state_t state = vlc::libvlc_media_player_get_state(p_mi);
        if (state == libvlc_Error || state == libvlc_Ended)
            break;
        QThread::msleep(10);
        if (counter < 10)
            break;
        --counter;
    }
    SetAudioOutputDevice(aOut, aDevice);
}

void TVlcPlayer::PlayYoutube(const QString& mrl, const QStringList& mediaOptions,
                             const QString& audioOutput, const QString& audioOutputDeviceId,
                             quint32 audioSetTimeOut, quint32 youtubeTimeout) {
    PlayNormal(mrl, mediaOptions, audioOutput, audioOutputDeviceId, audioSetTimeOut);
    qint64 counter = youtubeTimeout;
    while (counter > 0) {
        QThread::msleep(10);
        if (counter < 10)
            break;
        counter -= 10;
        if (GetState() == vlcPlayer_Ended) {
            PlayFirstSubItem(mediaOptions, audioOutput, audioOutputDeviceId, audioSetTimeOut);
            break;
        }
    }
}

void TVlcPlayer::PlayFirstSubItem(const QStringList& mediaOptions, const QString& audioOutput,
                                  const QString& audioOutputDeviceId, quint32 audioSetTimeOut) {
    const std::optional<QString> mrl = FirstSubItemMrl(PlayerMedia(p_mi).get());
    if (mrl && !mrl->isNull())
        Play(*mrl, mediaOptions, audioOutput, audioOutputDeviceId, audioSetTimeOut);
}

void TVlcPlayer::BindVideoWindow() {
    if (p_mi == nullptr)
        return;
    for (const QString& line : std::as_const(FStartOptions))
        if (line == QLatin1String("--vout=NDI"))
            return;
    // Only a real X window id may be handed over: libVLC crashes on the id of
    // a window that the X server does not know (other Qt platforms).
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return;
    vlc::libvlc_media_player_set_xwindow(p_mi, static_cast<uint32_t>(FPlayerWinCtrl->winId()));
}

// ---------------------------------------------------------------------------

void TVlcPlayer::Pause() {
    if (p_mi != nullptr && GetState() == vlcPlayer_Playing)
        vlc::libvlc_media_player_pause(p_mi);
}

void TVlcPlayer::Resume() {
    if (p_mi != nullptr && GetState() == vlcPlayer_Paused)
        vlc::libvlc_media_player_play(p_mi);
}

bool TVlcPlayer::IsPlay() {
    return GetState() == vlcPlayer_Playing;
}

bool TVlcPlayer::IsPause() {
    return GetState() == vlcPlayer_Paused;
}

void TVlcPlayer::Stop(quint32 stopTimeOut) {
    if (p_mi == nullptr)
        return;
    // A paused player stays paused. The decision is taken on the state before
    // the pause: libVLC applies the pause asynchronously, so reading the state
    // after it could leave a playing media paused instead of stopped.
    const bool wasPlaying = GetState() == vlcPlayer_Playing;
    Pause();
    if (!wasPlaying && GetState() != vlcPlayer_Playing)
        return;
    if (LibVlcVersionBin() < TAVORIA_VLC_V(4, 0, 0))
        vlc::libvlc_media_player_stop(p_mi);
    else
        vlc::libvlc_media_player_stop_async(p_mi);
    QThread::msleep(50);
    quint32 k = 50;
    while (GetState() == vlcPlayer_Playing && k <= stopTimeOut) {
        QThread::msleep(50);
        k += 50;
    }
}

TVlcPlayerState TVlcPlayer::GetState() {
    if (p_mi == nullptr)
        return vlcPlayer_NothingSpecial;
    const int s = static_cast<int>(vlc::libvlc_media_player_get_state(p_mi));
    if (s >= 0 && s <= 7)
        return static_cast<TVlcPlayerState>(s);
    return vlcPlayer_NothingSpecial;
}

void TVlcPlayer::SetVideoPosInMs(qint64 newPos) {
    if (p_mi != nullptr)
        vlc::libvlc_media_player_set_time(p_mi, newPos);
    if (GetState() != vlcPlayer_Playing && Bound(&TVlcPlayer::OnMediaPlayerTimeChanged))
        emit OnMediaPlayerTimeChanged(newPos);
}

void TVlcPlayer::SetAudioVolume(qint32 volumeLevel) {
    if (p_mi != nullptr && volumeLevel >= 0 && volumeLevel <= 200)
        vlc::libvlc_audio_set_volume(p_mi, volumeLevel);
}

QStringList TVlcPlayer::GetAudioOutputDeviceEnum(bool withDescription, const QString& separator) {
    QStringList list;
    if (p_mi == nullptr)
        GetPlayerHandle();
    if (p_mi == nullptr)
        return list;
    libvlc_audio_output_device_t* first = vlc::libvlc_audio_output_device_enum(p_mi);
    for (libvlc_audio_output_device_t* d = first; d != nullptr; d = d->p_next) {
        if (d->psz_device == nullptr)
            continue;
        const QString id = QString::fromUtf8(d->psz_device);
        if (withDescription)
            list << id + separator +
                        (d->psz_description != nullptr ? QString::fromUtf8(d->psz_description)
                                                       : QString());
        else
            list << id;
    }
    if (first != nullptr)
        vlc::libvlc_audio_output_device_list_release(first);
    return list;
}

void TVlcPlayer::SetAudioOutputDevice(const QString& aOutDeviceId) {
    if (p_mi == nullptr)
        GetPlayerHandle();
    if (p_mi == nullptr)
        return;
    vlc::libvlc_audio_output_device_set(p_mi, nullptr, aOutDeviceId.toUtf8().constData());
    FLastAudioOutput.clear();
    FLastAudioOutputDeviceId = aOutDeviceId;
}

void TVlcPlayer::SetAudioOutputDevice(const QString& aOut, const QString& aOutDeviceId) {
    if (p_mi == nullptr)
        GetPlayerHandle();
    if (p_mi == nullptr)
        return;
    const QByteArray module = aOut.toUtf8();
    vlc::libvlc_audio_output_device_set(p_mi, aOut.isEmpty() ? nullptr : module.constData(),
                                        aOutDeviceId.toUtf8().constData());
    FLastAudioOutput = aOut;
    FLastAudioOutputDeviceId = aOutDeviceId;
}

void TVlcPlayer::SetVideoAdjustEnable(bool value) {
    if (p_mi != nullptr)
        vlc::libvlc_video_set_adjust_int(p_mi, libvlc_adjust_Enable, value ? 1 : 0);
}

void TVlcPlayer::SetVideoAdjustContrast(float value) {
    if (p_mi != nullptr)
        vlc::libvlc_video_set_adjust_float(p_mi, libvlc_adjust_Contrast, value);
}

void TVlcPlayer::SetVideoAdjustBrightness(float value) {
    if (p_mi != nullptr)
        vlc::libvlc_video_set_adjust_float(p_mi, libvlc_adjust_Brightness, value);
}

void TVlcPlayer::SetVideoAdjustSaturation(float value) {
    if (p_mi != nullptr)
        vlc::libvlc_video_set_adjust_float(p_mi, libvlc_adjust_Saturation, value);
}

void TVlcPlayer::BlankVideo() {
    // libVLC's own window inside ours is gone once its media stopped; what it drew
    // stays until our window paints itself again.
    FPlayerWinCtrl->update();
    FPlayerWinCtrl->repaint();
}

QString TVlcPlayer::GetMediaMrl() {
    const TVlcMediaRef md = PlayerMedia(p_mi);
    if (!md)
        return {};
    // A resolved page names its first sub-item; a media without sub-items (an
    // empty list) names itself.
    if (std::optional<QString> subItem = FirstSubItemMrl(md.get()))
        return *subItem;
    return MediaMrl(md.get());
}

// ---------------------------------------------------------------------------

void TVlcPlayer::SetMouseEventsHandler(TVlcPlayerMouseEventsHandler value) {
    FMouseEventsHandler = value;
    if (p_mi != nullptr) {
        const unsigned on = value == mehVideoLAN ? 1 : 0;
        vlc::libvlc_video_set_mouse_input(p_mi, on);
        vlc::libvlc_video_set_key_input(p_mi, on);
    }
    LayoutChildren();
}

void TVlcPlayer::LayoutChildren() {
    FPlayerWinCtrl->setGeometry(0, 0, width(), height());
    if (FMouseEventsHandler == mehComponent)
        FMouseEventWinCtrl->setGeometry(0, 0, width(), height());
    else
        FMouseEventWinCtrl->setGeometry(-1, -1, 1, 1);
}

void TVlcPlayer::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    LayoutChildren();
}

bool TVlcPlayer::event(QEvent* e) {
    const int t = static_cast<int>(e->type()) - static_cast<int>(QEvent::User);
    if (IsPublishedType(t)) {
        if (auto* ve = dynamic_cast<TVlcEvent*>(e)) {
            // A handler's exception must not reach Qt's event loop.
            try {
                HandleVlcEvent(*ve);
            } catch (const std::exception& ex) {
                qWarning("TVlcPlayer: event handler failed: %s", ex.what());
            } catch (...) {
                qWarning("TVlcPlayer: event handler failed");
            }
            return true;
        }
    }
    return QWidget::event(e);
}

void TVlcPlayer::HandleVlcEvent(const TVlcEvent& e) {
    const qint64 w = e.WParam;
    const qint64 l = e.LParam;
    switch (static_cast<int>(e.type()) - static_cast<int>(QEvent::User)) {
    case libvlc_MediaPlayerMediaChanged:
        if (Bound(&TVlcPlayer::OnMediaPlayerMediaChanged)) {
            // The posted media handle may be gone by now. Its MRL is read only
            // when it is still the player's current media (held by this call).
            QString mrl;
            if (w != 0) {
                const TVlcMediaRef md = PlayerMedia(p_mi);
                if (md && PointerValue(md.get()) == w)
                    mrl = MediaMrl(md.get());
            }
            emit OnMediaPlayerMediaChanged(mrl);
        }
        break;
    case libvlc_MediaPlayerNothingSpecial:
        emit OnMediaPlayerNothingSpecial();
        break;
    case libvlc_MediaPlayerOpening:
        emit OnMediaPlayerOpening();
        break;
    case libvlc_MediaPlayerBuffering:
        emit OnMediaPlayerBuffering(w / 1000.0f);
        break;
    case libvlc_MediaPlayerPlaying:
        emit OnMediaPlayerPlaying();
        break;
    case libvlc_MediaPlayerPaused:
        emit OnMediaPlayerPaused();
        break;
    case libvlc_MediaPlayerStopped:
        emit OnMediaPlayerStopped();
        break;
    case libvlc_MediaPlayerForward:
        emit OnMediaPlayerForward();
        break;
    case libvlc_MediaPlayerBackward:
        emit OnMediaPlayerBackward();
        break;
    case libvlc_MediaPlayerEndReached:
        emit OnMediaPlayerEndReached();
        break;
    case libvlc_MediaPlayerEncounteredError: {
        const char* msg = LibVlcLoaded() ? vlc::libvlc_errmsg() : nullptr;
        FError = msg != nullptr ? QString::fromUtf8(msg) : QString();
        emit OnMediaPlayerEncounteredError();
        break;
    }
    case libvlc_MediaPlayerTimeChanged:
        emit OnMediaPlayerTimeChanged(w);
        break;
    case libvlc_MediaPlayerPositionChanged:
        emit OnMediaPlayerPositionChanged(w / 1000.0f);
        break;
    case libvlc_MediaPlayerSeekableChanged:
        emit OnMediaPlayerSeekableChanged(w != 0);
        break;
    case libvlc_MediaPlayerPausableChanged:
        emit OnMediaPlayerPausableChanged(w != 0);
        break;
    case libvlc_MediaPlayerTitleChanged:
        emit OnMediaPlayerTitleChanged(static_cast<int>(w));
        break;
    case libvlc_MediaPlayerSnapshotTaken:
        emit OnMediaPlayerSnapshotTaken(e.Text);
        break;
    case libvlc_MediaPlayerLengthChanged:
        emit OnMediaPlayerLengthChanged(w);
        break;
    case libvlc_MediaPlayerVout:
        emit OnMediaPlayerVideoOutChanged(static_cast<int>(w));
        break;
    case libvlc_MediaPlayerScrambledChanged:
        emit OnMediaPlayerScrambledChanged(static_cast<int>(w));
        break;
    case libvlc_MediaPlayerESAdded:
        emit OnMediaPlayerEsAdded(static_cast<int>(w), static_cast<int>(l));
        break;
    case libvlc_MediaPlayerESDeleted:
        emit OnMediaPlayerEsDeleted(static_cast<int>(w), static_cast<int>(l));
        break;
    case libvlc_MediaPlayerESSelected:
        emit OnMediaPlayerEsSelected(static_cast<int>(w), static_cast<int>(l));
        break;
    case libvlc_MediaPlayerCorked:
        emit OnMediaPlayerCorked();
        break;
    case libvlc_MediaPlayerUncorked:
        emit OnMediaPlayerUnCorked();
        break;
    case libvlc_MediaPlayerMuted:
        emit OnMediaPlayerMuted();
        break;
    case libvlc_MediaPlayerUnmuted:
        emit OnMediaPlayerUnMuted();
        break;
    case libvlc_MediaPlayerAudioVolume:
        emit OnMediaPlayerAudioVolumeChanged(w / 1000.0f);
        break;
    case libvlc_MediaPlayerAudioDevice:
        emit OnMediaPlayerAudioDevice(e.Text);
        break;
    case libvlc_MediaPlayerChapterChanged:
        emit OnMediaPlayerChapterChanged(static_cast<int>(w));
        break;
    case libvlc_RendererDiscovererItemAdded:
        emit OnRendererDiscoveredItemAdded(reinterpret_cast<void*>(static_cast<quintptr>(w)));
        break;
    case libvlc_RendererDiscovererItemDeleted:
        emit OnRendererDiscoveredItemDeleted(reinterpret_cast<void*>(static_cast<quintptr>(w)));
        break;
    default:
        break;
    }
}
