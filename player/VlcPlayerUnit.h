#pragma once

// TVlcPlayer: the windowed video player control over libVLC. libVLC's events
// arrive on its own threads; the callback copies their values and posts them
// to the control, whose event() raises the matching signal on the UI thread.

#include <QEvent>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <memory>

#include <vlc/vlc.h>

#include "player/VlcClassUnit.h"

enum TVlcPlayerState {
    vlcPlayer_NothingSpecial = 0,
    vlcPlayer_Opening,
    vlcPlayer_Buffering,
    vlcPlayer_Playing,
    vlcPlayer_Paused,
    vlcPlayer_Stopped,
    vlcPlayer_Ended,
    vlcPlayer_Error
};

enum TVlcPlayerMouseEventsHandler { mehComponent, mehVideoLAN };

enum TVlcTitlePosition {
    vlcPosCenter,
    vlcPosLeft,
    vlcPosRight,
    vlcPosTop,
    vlcPosTopLeft,
    vlcPosTopRight,
    vlcPosBottom,
    vlcPosBottomLeft,
    vlcPosBottomRight
};

// True when the address is a page of the video-sharing site (http or https,
// host "youtube.com" or "www.youtube.com" without a port), compared after
// lower-casing and trimming; Play sends those to PlayYoutube.
bool IsVideoSitePage(const QString& mrl);

// One libVLC event, carried from libVLC's thread to the control.
class TVlcEvent : public QEvent {
public:
    TVlcEvent(int libvlcType, qint64 wParam, qint64 lParam, const QString& text = {})
        : QEvent(static_cast<QEvent::Type>(QEvent::User + libvlcType)), WParam(wParam),
          LParam(lParam), Text(text) {}
    qint64 WParam;
    qint64 LParam;
    QString Text; // copied inside the callback (snapshot file name, audio device)
};

// The transparent mouse overlay above the video window.
class TVlcMouseEventWinCtrl : public QWidget {
    Q_OBJECT
public:
    explicit TVlcMouseEventWinCtrl(QWidget* parent = nullptr);

    // Raises the overlay's events for a mouse event that reached the video
    // window (X delivers the pointer to the native window under it).
    bool eventFilter(QObject* watched, QEvent* e) override;

signals:
    void Click();
    void DblClick();
    void MouseDown(Qt::MouseButton button, QPoint pos);
    void MouseUp(Qt::MouseButton button, QPoint pos);
    void MouseMove(QPoint pos);
    void MouseEnter();
    void MouseLeave();

protected:
    void paintEvent(QPaintEvent*) override {}
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void enterEvent(QEnterEvent* e) override;
    void leaveEvent(QEvent* e) override;
};

// The reports the player listens to, in the order it attaches them (detached in
// reverse).
inline constexpr libvlc_event_e kPlayerEventTypes[] = {libvlc_MediaPlayerMediaChanged,
                                                       libvlc_MediaPlayerNothingSpecial,
                                                       libvlc_MediaPlayerOpening,
                                                       libvlc_MediaPlayerBuffering,
                                                       libvlc_MediaPlayerPlaying,
                                                       libvlc_MediaPlayerPaused,
                                                       libvlc_MediaPlayerStopped,
                                                       libvlc_MediaPlayerForward,
                                                       libvlc_MediaPlayerBackward,
                                                       libvlc_MediaPlayerEndReached,
                                                       libvlc_MediaPlayerEncounteredError,
                                                       libvlc_MediaPlayerTimeChanged,
                                                       libvlc_MediaPlayerPositionChanged,
                                                       libvlc_MediaPlayerSeekableChanged,
                                                       libvlc_MediaPlayerPausableChanged,
                                                       libvlc_MediaPlayerTitleChanged,
                                                       libvlc_MediaPlayerSnapshotTaken,
                                                       libvlc_MediaPlayerLengthChanged,
                                                       libvlc_MediaPlayerVout,
                                                       libvlc_MediaPlayerScrambledChanged,
                                                       libvlc_MediaPlayerCorked,
                                                       libvlc_MediaPlayerUncorked,
                                                       libvlc_MediaPlayerMuted,
                                                       libvlc_MediaPlayerUnmuted,
                                                       libvlc_MediaPlayerAudioVolume,
                                                       libvlc_MediaPlayerESAdded,
                                                       libvlc_MediaPlayerESDeleted,
                                                       libvlc_MediaPlayerESSelected,
                                                       libvlc_MediaPlayerAudioDevice,
                                                       libvlc_MediaPlayerChapterChanged,
                                                       libvlc_RendererDiscovererItemAdded,
                                                       libvlc_RendererDiscovererItemDeleted};

struct TVlcEventSink;

class TVlcPlayer : public QWidget {
    Q_OBJECT
public:
    explicit TVlcPlayer(QWidget* parent = nullptr);
    ~TVlcPlayer() override;

    void Play(const QString& mrl, const QStringList& mediaOptions = {},
              const QString& audioOutput = {}, const QString& audioOutputDeviceId = {},
              quint32 audioSetTimeOut = 1000);
    virtual void PlayNormal(const QString& mrl, const QStringList& mediaOptions = {},
                            const QString& audioOutput = {},
                            const QString& audioOutputDeviceId = {},
                            quint32 audioSetTimeOut = 1000);
    virtual void PlayYoutube(const QString& mrl, const QStringList& mediaOptions = {},
                             const QString& audioOutput = {},
                             const QString& audioOutputDeviceId = {},
                             quint32 audioSetTimeOut = 1000, quint32 youtubeTimeout = 10000);
    void PlayFirstSubItem(const QStringList& mediaOptions = {}, const QString& audioOutput = {},
                          const QString& audioOutputDeviceId = {}, quint32 audioSetTimeOut = 1000);
    // Hands the media to the player and starts it; the media is released once the
    // player holds it.
    void Play(std::unique_ptr<TVlcMedia> media, const QString& audioOutput,
              const QString& audioOutputDeviceId, quint32 audioSetTimeOut);

    void Pause();
    void Resume();
    bool IsPlay();
    bool IsPause();
    void Stop(quint32 stopTimeOut = 1000);

    TVlcPlayerState GetState();
    void SetVideoPosInMs(qint64 newPos);
    void SetAudioVolume(qint32 volumeLevel);

    QStringList GetAudioOutputDeviceEnum(bool withDescription, const QString& separator);
    void SetAudioOutputDevice(const QString& aOutDeviceId);
    void SetAudioOutputDevice(const QString& aOut, const QString& aOutDeviceId);

    void SetVideoAdjustEnable(bool value);
    void SetVideoAdjustContrast(float value);
    void SetVideoAdjustBrightness(float value);
    void SetVideoAdjustSaturation(float value);

    QString GetMediaMrl();
    libvlc_media_player_t* GetPlayerHandle();
    void EventsEnable();
    void EventsDisable();

    QStringList& StartOptions() { return FStartOptions; }
    QString LastError() const { return FError; }
    QString LastAudioOutput() const { return FLastAudioOutput; }
    QString LastAudioOutputDeviceId() const { return FLastAudioOutputDeviceId; }

    // The instance (created at the first need); its Arguments() show what libvlc_new gets.
    TVlcInstance* GetVLC();

    bool TitleShow() const { return FTitleShow; }
    void SetTitleShow(bool v) { FTitleShow = v; }
    TVlcTitlePosition TitleShowPos() const { return FTitleShowPos; }
    void SetTitleShowPos(TVlcTitlePosition v) { FTitleShowPos = v; }
    quint32 TitleShowTimeOut() const { return FTitleShowTimeOut; }
    void SetTitleShowTimeOut(quint32 v) { FTitleShowTimeOut = v; }
    bool SnapshotPrv() const { return FSnapshotPrv; }
    void SetSnapshotPrv(bool v) { FSnapshotPrv = v; }
    bool VideoOnTop() const { return FVideoOnTop; }
    void SetVideoOnTop(bool v) { FVideoOnTop = v; }
    bool UseOverlay() const { return FUseOverlay; }
    void SetUseOverlay(bool v) { FUseOverlay = v; }
    bool SpuShow() const { return FSpuShow; }
    void SetSpuShow(bool v) { FSpuShow = v; }
    bool OsdShow() const { return FOsdShow; }
    void SetOsdShow(bool v) { FOsdShow = v; }
    TDeinterlaceFilter DeinterlaceFilter() const { return FDeinterlaceFilter; }
    void SetDeinterlaceFilter(TDeinterlaceFilter v) { FDeinterlaceFilter = v; }
    TDeinterlaceMode DeinterlaceMode() const { return FDeinterlaceMode; }
    void SetDeinterlaceMode(TDeinterlaceMode v) { FDeinterlaceMode = v; }
    bool UseEvents() const { return FUseEvents; }
    void SetUseEvents(bool v) { FUseEvents = v; }
    TVlcPlayerMouseEventsHandler MouseEventsHandler() const { return FMouseEventsHandler; }
    void SetMouseEventsHandler(TVlcPlayerMouseEventsHandler value);

    QWidget* PlayerWinCtrl() const { return FPlayerWinCtrl; }
    // Paints the video window black: after a media that failed, nothing of the one
    // before stays on the monitor.
    void BlankVideo();
    TVlcMouseEventWinCtrl* MouseEventWinCtrl() const { return FMouseEventWinCtrl; }

signals:
    void OnMediaPlayerMediaChanged(const QString& mrl);
    void OnMediaPlayerNothingSpecial();
    void OnMediaPlayerOpening();
    void OnMediaPlayerBuffering(float val);
    void OnMediaPlayerPlaying();
    void OnMediaPlayerPaused();
    void OnMediaPlayerStopped();
    void OnMediaPlayerForward();
    void OnMediaPlayerBackward();
    void OnMediaPlayerEndReached();
    void OnMediaPlayerEncounteredError();
    void OnMediaPlayerTimeChanged(qint64 time);
    void OnMediaPlayerPositionChanged(float position);
    void OnMediaPlayerSeekableChanged(bool val);
    void OnMediaPlayerPausableChanged(bool val);
    void OnMediaPlayerTitleChanged(int title);
    void OnMediaPlayerSnapshotTaken(const QString& fileName);
    void OnMediaPlayerLengthChanged(qint64 time);
    void OnMediaPlayerVideoOutChanged(int video_out);
    void OnMediaPlayerScrambledChanged(int scrambled);
    void OnMediaPlayerEsAdded(int i_type, int i_id);
    void OnMediaPlayerEsDeleted(int i_type, int i_id);
    void OnMediaPlayerEsSelected(int i_type, int i_id);
    void OnMediaPlayerCorked();
    void OnMediaPlayerUnCorked();
    void OnMediaPlayerMuted();
    void OnMediaPlayerUnMuted();
    void OnMediaPlayerAudioVolumeChanged(float volume);
    void OnMediaPlayerAudioDevice(const QString& audio_device);
    void OnMediaPlayerChapterChanged(int chapter);
    void OnRendererDiscoveredItemAdded(void* item);
    void OnRendererDiscoveredItemDeleted(void* item);
    // The libVLC media player has just been created (at its first need): settings
    // that libVLC keeps per player, such as the volume, can be applied from here on.
    void OnPlayerCreated();

    // The overlay's mouse events, raised as the control's own.
    void Click();
    void DblClick();
    void MouseDown(Qt::MouseButton button, QPoint pos);
    void MouseUp(Qt::MouseButton button, QPoint pos);
    void MouseMove(QPoint pos);
    void MouseEnter();
    void MouseLeave();

protected:
    bool event(QEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    void ReleasePlayer();
    void BindVideoWindow();
    void UpdateTitleShow();
    void LayoutChildren();
    void HandleVlcEvent(const TVlcEvent& e);
    template <typename Sig> bool Bound(Sig signal) const;

    std::unique_ptr<TVlcInstance> FVLC;
    libvlc_media_player_t* p_mi = nullptr;
    libvlc_event_manager_t* p_mi_ev_mgr = nullptr;
    std::unique_ptr<TVlcEventSink> FSink;
    QString FError;
    bool FTitleShow = false;
    TVlcTitlePosition FTitleShowPos = vlcPosCenter;
    quint32 FTitleShowTimeOut = 2000;
    bool FSnapshotPrv = false;
    bool FVideoOnTop = false;
    bool FUseOverlay = false;
    bool FSpuShow = true;
    bool FOsdShow = true;
    TDeinterlaceFilter FDeinterlaceFilter = deOFF;
    TDeinterlaceMode FDeinterlaceMode = dmDISCARD;
    QString FLastAudioOutput;
    QString FLastAudioOutputDeviceId;
    bool FUseEvents = true;
    QWidget* FPlayerWinCtrl = nullptr;
    TVlcMouseEventWinCtrl* FMouseEventWinCtrl = nullptr;
    TVlcPlayerMouseEventsHandler FMouseEventsHandler = mehComponent;
    QStringList FStartOptions;
};
