#pragma once
// The routes of the remote control: JSON in, JSON out, every error a JSON answer
// with a Spanish message and its status. What each route does is the desk's own
// business: RemoteApi only reads the request, checks its values and calls the
// RemoteDesk, which the window implements with its own handlers.
#include "remote/HttpMessage.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QStringList>
#include <QTime>
#include <optional>
#include <stdexcept>

// A request that cannot be carried out: status and the message the client sees.
class RemoteError : public std::runtime_error {
public:
    RemoteError(int status, const QString& message)
        : std::runtime_error(message.toStdString()), m_status(status), m_message(message) {}
    int Status() const { return m_status; }
    const QString& Message() const { return m_message; }

private:
    int m_status;
    QString m_message;
};

// What the remote control may ask of the desk. Row numbers here are 0-based and
// already checked against the counts the desk reports. A call may raise
// RemoteError (the action cannot run now: 409) or any other exception (a failure
// of the action itself: 500 with its text).
class RemoteDesk {
public:
    virtual ~RemoteDesk() = default;

    virtual QJsonObject State() = 0;

    virtual QJsonArray Playlist() = 0;
    // The body of GET /api/playlist, {"rows": Playlist()}; a desk may keep it
    // between changes of its list.
    virtual QByteArray PlaylistJson();
    virtual int PlaylistCount() = 0;
    virtual void Next() = 0;
    virtual void PlayPause() = 0;
    virtual void Stop() = 0;
    virtual bool ToggleRepeat() = 0;    // the new state of Repeat
    virtual bool ToggleStopAfter() = 0; // the new state of stop-after-this
    virtual void MakeNext(int row) = 0;

    virtual QJsonArray Captions() = 0;
    virtual int CaptionCount() = 0;
    virtual void PublishCaption(int row) = 0;
    // Takes the caption off air (its files emptied).
    virtual void ClearCaption() = 0;
    // Adds a caption through the editor; false when the editor refuses it (its
    // two-character rule).
    virtual bool AddCaption(const QString& speaker, const QString& talk,
                            const QString& details) = 0;

    virtual void StartCountdown(std::optional<QTime> time) = 0;
    virtual void StopCountdown() = 0;
    virtual void SendMarquee(const QString& text) = 0;

    virtual QStringList EffectTabs() = 0;
    virtual int EffectTab() = 0; // -1: none chosen
    virtual void ChooseEffectTab(int tab) = 0;
    virtual QStringList EffectNames() = 0; // the rows of the effects list
    virtual void PlayEffect(int row) = 0;
    virtual void StopEffect() = 0;

    virtual void AnnounceClock() = 0;
};

class RemoteApi {
public:
    explicit RemoteApi(RemoteDesk* desk) : m_desk(desk) {}

    // Answers one request under /api/. Never throws.
    HttpReply Handle(const HttpRequest& request);

private:
    // One request on its way through a route: the path under /api/ in segments
    // ("playlist/3/next" -> "playlist", "3", "next").
    struct Call {
        const HttpRequest& request;
        const QStringList& path;
    };
    using Handler = HttpReply (RemoteApi::*)(const Call&);
    // A route: its method ("GET" answers HEAD too), its path with "*" for one
    // segment of any text, and the member function that answers it.
    struct Route {
        const char* method;
        const char* pattern;
        Handler handler;
    };
    static const QList<Route>& Routes();
    // Finds the route of a request; 404 when no route has its path, 405 with the
    // methods of that path in Allow when none of them takes its method.
    HttpReply Dispatch(const HttpRequest& request);

    // {"ok": true, "state": ..., extra...}: the answer of an action.
    HttpReply Done(QJsonObject extra = {}, int status = 200);

    HttpReply GetState(const Call& call);
    HttpReply GetPlaylist(const Call& call);
    HttpReply PostNext(const Call& call);
    HttpReply PostPlayPause(const Call& call);
    HttpReply PostStop(const Call& call);
    HttpReply PostRepeat(const Call& call);
    HttpReply PostStopAfter(const Call& call);
    HttpReply PostPlaylistRowNext(const Call& call);
    HttpReply GetCaptions(const Call& call);
    HttpReply PostCaption(const Call& call);
    HttpReply PostCaptionsClear(const Call& call);
    HttpReply PostCaptionPublish(const Call& call);
    HttpReply PostCountdownStart(const Call& call);
    HttpReply PostCountdownStop(const Call& call);
    HttpReply PostMarquee(const Call& call);
    HttpReply GetEffects(const Call& call);
    HttpReply PostEffectsTab(const Call& call);
    HttpReply PostEffectsPlay(const Call& call);
    HttpReply PostEffectsStop(const Call& call);
    HttpReply PostClockAnnounce(const Call& call);

    // Chooses the effects tab a body names ("tab": its number from 1 or its
    // name) when it is not the current one; false when the body names none.
    bool ChooseTabOf(const QJsonObject& body);

    RemoteDesk* m_desk;
};

// Helpers shared with the window side.
// "mm:ss" (minutes and seconds 0-59); nullopt when the text is not such a time.
std::optional<QTime> ParseMinutesSeconds(const QString& text);
// The whole body as a JSON object; an empty body is the empty object.
QJsonObject RequestObject(const HttpRequest& request);
