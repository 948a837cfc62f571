#pragma once
// HTTP/1.1 requests and answers of the remote control: the request head parsed
// from the bytes a client sent (with hard limits), and answers serialised for the
// wire. No I/O here: the server feeds bytes in and writes bytes out.
#include <QByteArray>
#include <QHostAddress>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrlQuery>

struct HttpRequest {
    QByteArray method;  // "GET", "POST", ...
    QByteArray target;  // the request target as sent
    QString path;       // percent-decoded path without the query
    QUrlQuery query;    // the query, decoded
    QByteArray version; // "HTTP/1.0" or "HTTP/1.1"
    // Header names in lower case, values trimmed, in the order sent.
    QList<QPair<QByteArray, QByteArray>> headers;
    qint64 contentLength = 0;
    QByteArray body;
    QHostAddress peer;

    // The first value of a header (name in lower case); empty when absent.
    QByteArray Header(const QByteArray& lowerName) const;
    bool HasHeader(const QByteArray& lowerName) const;
    // Whether the connection stays open after the answer.
    bool KeepAlive() const;
    // A WebSocket upgrade request (GET with Upgrade: websocket).
    bool IsWebSocketUpgrade() const;
};

struct HttpReply {
    int status = 200;
    QByteArray contentType;
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers; // extra headers
    void AddHeader(const QByteArray& name, const QByteArray& value) {
        headers.append(qMakePair(name, value));
    }
};

// Limits of one request.
struct HttpLimits {
    int maxHeadBytes = 16 * 1024;
    qint64 maxBodyBytes = 64 * 1024;
    int maxHeaderLines = 100;
};

// The result of looking for a request head at the start of a buffer.
struct HeadParse {
    enum Status { Incomplete, Complete, Error } status = Incomplete;
    int headLength = 0;  // bytes of the head, blank line included (Complete)
    int errorStatus = 0; // HTTP status for the error answer (Error)
    QString error;       // Spanish message for the error answer (Error)
};

// Parses the head at the start of buffer into request. Incomplete while the blank
// line that ends the head has not arrived (and the head is still within the limit).
// The body is not read here: request.contentLength tells how many bytes follow.
HeadParse ParseRequestHead(const QByteArray& buffer, HttpRequest& request,
                           const HttpLimits& limits = {});

// The reason phrase of a status code.
QByteArray ReasonPhrase(int status);

// The bytes of an answer. headOnly leaves the body out (HEAD requests).
QByteArray SerializeReply(const HttpReply& reply, bool keepAlive, bool headOnly = false);

// A JSON answer.
HttpReply JsonReply(int status, const QJsonObject& object);
HttpReply JsonReply(int status, const QByteArray& json);
// An error answer: {"error": message, "status": status}.
HttpReply ErrorReply(int status, const QString& message);
