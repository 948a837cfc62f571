#pragma once
// Clients of the remote-control tests: a real HTTP client (QNetworkAccessManager),
// raw TCP exchanges for what a well-behaved client never sends, and a WebSocket
// client that records what the desk pushes. Every connection goes to 127.0.0.1.
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>
#include <QtTest>

struct HttpResult {
    int status = 0; // 0: no answer
    QByteArray body;
    QJsonObject json;
    QList<QNetworkReply::RawHeaderPair> headers;
    QByteArray Header(const QByteArray& name) const {
        for (const auto& h : headers)
            if (h.first.compare(name, Qt::CaseInsensitive) == 0)
                return h.second;
        return {};
    }
    QString Error() const { return json.value(QStringLiteral("error")).toString(); }
};

class HttpClient {
public:
    explicit HttpClient(quint16 port) : m_port(port) {}
    void SetPort(quint16 port) { m_port = port; }

    HttpResult Request(const QByteArray& method, const QString& path, const QByteArray& body = {},
                       const QList<QPair<QByteArray, QByteArray>>& headers = {},
                       int timeoutMs = 15000) {
        QNetworkRequest request(
            QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path)));
        for (const auto& h : headers)
            request.setRawHeader(h.first, h.second);
        if (!body.isEmpty() && !request.hasRawHeader("Content-Type"))
            request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
        QNetworkReply* reply = m_nam.sendCustomRequest(request, method, body);
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        loop.exec();
        HttpResult r;
        if (reply->isFinished()) {
            r.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
            r.body = reply->readAll();
            r.headers = reply->rawHeaderPairs();
            r.json = QJsonDocument::fromJson(r.body).object();
        } else {
            reply->abort();
        }
        reply->deleteLater();
        return r;
    }
    HttpResult Get(const QString& path) { return Request("GET", path); }
    HttpResult Post(const QString& path, const QByteArray& body = {}) {
        return Request("POST", path, body);
    }

private:
    quint16 m_port;
    QNetworkAccessManager m_nam;
};

// Sends bytes on a fresh connection and collects what comes back until the desk
// closes the connection or the time is up.
inline QByteArray RawExchange(quint16 port, const QByteArray& bytes, int timeoutMs = 5000,
                              bool* closedByServer = nullptr) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(3000))
        return {};
    socket.write(bytes);
    QByteArray answer;
    QElapsedTimer clock;
    clock.start();
    bool closed = false;
    while (clock.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (socket.waitForReadyRead(20))
            answer += socket.readAll();
        if (socket.state() == QAbstractSocket::UnconnectedState) {
            answer += socket.readAll();
            closed = true;
            break;
        }
    }
    if (closedByServer)
        *closedByServer = closed;
    return answer;
}

inline int StatusOf(const QByteArray& rawAnswer) {
    if (!rawAnswer.startsWith("HTTP/1.1 "))
        return 0;
    return rawAnswer.mid(9, 3).toInt();
}

// Records the messages of /api/events with the time each arrived.
class EventClient : public QObject {
public:
    explicit EventClient(quint16 port, const QString& query = {}) {
        connect(&socket, &QWebSocket::textMessageReceived, this, [this](const QString& text) {
            messages << QJsonDocument::fromJson(text.toUtf8()).object();
            times << clock.elapsed();
        });
        clock.start();
        socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/api/events%2").arg(port).arg(query)));
    }
    bool WaitConnected(int ms = 5000) {
        QElapsedTimer t;
        t.start();
        while (socket.state() != QAbstractSocket::ConnectedState && t.elapsed() < ms)
            QTest::qWait(10);
        return socket.state() == QAbstractSocket::ConnectedState;
    }
    // Index of the first message from `from` on whose state passes the check; -1.
    template <typename F> int Find(F&& check, int from = 0) const {
        for (int i = from; i < messages.size(); ++i)
            if (check(messages[i].value(QStringLiteral("state")).toObject()))
                return i;
        return -1;
    }
    QWebSocket socket;
    QList<QJsonObject> messages;
    QList<qint64> times;
    QElapsedTimer clock;
};
