#pragma once
// The routes of the remote control: JSON in, JSON out, every error a JSON answer
// with a Spanish message and its status. What each route does is the desk's own
// business: RemoteApi only reads the request, checks its values and calls the
// RemoteDesk, which the window implements with its own handlers.
#include "remote/HttpMessage.h"

#include <QJsonArray>
#include <QJsonObject>
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
    QJsonObject Route(const HttpRequest& request, int& status);

    RemoteDesk* m_desk;
};

// Helpers shared with the window side.
// "mm:ss" (minutes and seconds 0-59); nullopt when the text is not such a time.
std::optional<QTime> ParseMinutesSeconds(const QString& text);
// The whole body as a JSON object; an empty body is the empty object.
QJsonObject RequestObject(const HttpRequest& request);
