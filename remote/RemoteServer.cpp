#include "remote/RemoteServer.h"

#include "remote/RemoteAuth.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>

#include <atomic>
#include <map>

namespace {

// Connection ids are unique for the life of the process, so an answer that comes
// back after a restart of the server never reaches a connection of the new one.
std::atomic<quint64> g_nextConnectionId{1};

constexpr int kSweepMs = 250;
constexpr qint64 kMaxWriteBacklog = 256 * 1024;
constexpr int kDrainQuietMs = 150;
constexpr int kDrainMaxMs = 2000;
constexpr int kPingEveryMs = 15000;
// Orders (POST) reach the window one at a time, in the order they came, with at
// least this pause after each one so the window paints and runs its timers in
// between; at most kMaxQueuedActions wait for their turn.
constexpr int kActionGapMs = 40;
constexpr int kMaxQueuedActions = 2;

} // namespace

// Lives on the server's thread. Plain QObject: it is reached only through
// QMetaObject::invokeMethod with functors.
class RemoteServerWorker : public QObject {
public:
    RemoteServerWorker(RemoteServer* front, RemoteServerConfig config,
                       QHash<QString, StaticFile> files)
        : m_front(front), m_config(std::move(config)), m_static(std::move(files)) {
        m_policy.token = m_config.token;
        m_policy.loopbackOnly = m_config.bind.isLoopback();
    }

    bool Listen(QString* error, quint16* port);
    void Shutdown();
    void Publish(const QByteArray& message);
    void Finish(quint64 id, const HttpReply& reply, bool action);

private:
    struct Connection {
        QTcpSocket* socket = nullptr;
        bool busy = false;     // an answer from the window is awaited
        bool haveHead = false; // head read, body awaited
        bool inRequest = false;
        bool keepAlive = true;
        bool headOnly = false;
        bool closing = false; // answered for the last time; draining what comes in
        HttpRequest request;
        QElapsedTimer requestClock; // since the first byte of the request
        QElapsedTimer lastActivity;
        QElapsedTimer closingClock;
    };
    struct EventClient {
        QWebSocket* socket = nullptr;
        qint64 backlog = 0;
        QElapsedTimer sincePong;
        QElapsedTimer sincePing;
    };

    void Accept();
    void Pump(quint64 id);
    void Handle(quint64 id, Connection& c);
    void Respond(quint64 id, Connection& c, const HttpReply& reply, bool close = false);
    void Upgrade(quint64 id, Connection& c);
    void Drop(quint64 id);
    void Sweep();
    void AddEventClient();
    void DropEventClient(QWebSocket* socket);
    void ReportEventClients();
    bool TakeActionToken();
    void Dispatch(quint64 id, const HttpRequest& request, bool action);
    void DispatchActions();

    RemoteServer* m_front;
    RemoteServerConfig m_config;
    QHash<QString, StaticFile> m_static;
    AccessPolicy m_policy;
    QTcpServer* m_server = nullptr;
    QWebSocketServer* m_ws = nullptr;
    QTimer* m_sweep = nullptr;
    std::map<quint64, Connection> m_connections;
    std::map<QWebSocket*, EventClient> m_eventClients;
    int m_pendingJobs = 0;
    QList<quint64> m_actions; // connections whose order waits for its turn
    bool m_actionRunning = false;
    QElapsedTimer m_sinceAction;
    QTimer* m_actionTimer = nullptr;
    QByteArray m_lastEvent;
    double m_actionTokens = 0;
    QElapsedTimer m_actionClock;
};

bool RemoteServerWorker::Listen(QString* error, quint16* port) {
    m_server = new QTcpServer(this);
    if (!m_server->listen(m_config.bind, m_config.port)) {
        *error = QStringLiteral("No se pudo abrir %1:%2 para el control remoto: %3")
                     .arg(m_config.bind.toString())
                     .arg(m_config.port)
                     .arg(m_server->errorString());
        delete m_server;
        m_server = nullptr;
        return false;
    }
    *port = m_server->serverPort();
    connect(m_server, &QTcpServer::newConnection, this, [this] { Accept(); });
    m_ws = new QWebSocketServer(QStringLiteral("Tavoria"), QWebSocketServer::NonSecureMode, this);
    m_ws->setHandshakeTimeout(m_config.requestTimeoutMs);
    connect(m_ws, &QWebSocketServer::newConnection, this, [this] { AddEventClient(); });
    m_sweep = new QTimer(this);
    m_sweep->setInterval(kSweepMs);
    connect(m_sweep, &QTimer::timeout, this, [this] { Sweep(); });
    m_sweep->start();
    m_actionTokens = m_config.actionBurst;
    m_actionClock.start();
    m_sinceAction.start();
    m_actionTimer = new QTimer(this);
    m_actionTimer->setSingleShot(true);
    connect(m_actionTimer, &QTimer::timeout, this, [this] { DispatchActions(); });
    return true;
}

void RemoteServerWorker::Shutdown() {
    for (auto& [id, c] : m_connections) {
        c.socket->disconnect(this);
        c.socket->abort();
        delete c.socket;
    }
    m_connections.clear();
    for (auto& [socket, client] : m_eventClients) {
        socket->disconnect(this);
        socket->abort();
        delete socket;
    }
    m_eventClients.clear();
    delete m_sweep;
    m_sweep = nullptr;
    delete m_actionTimer;
    m_actionTimer = nullptr;
    m_actions.clear();
    delete m_ws;
    m_ws = nullptr;
    delete m_server;
    m_server = nullptr;
}

void RemoteServerWorker::Accept() {
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        const quint64 id = g_nextConnectionId++;
        Connection& c = m_connections[id];
        c.socket = socket;
        // Qt stops reading from the network once this much waits unread: a client
        // that sends faster than it is answered is held back by TCP itself.
        socket->setReadBufferSize(m_config.limits.maxHeadBytes + m_config.limits.maxBodyBytes +
                                  4096);
        c.lastActivity.start();
        connect(socket, &QTcpSocket::readyRead, this, [this, id] { Pump(id); });
        connect(socket, &QTcpSocket::bytesWritten, this, [this, id] { Pump(id); });
        connect(socket, &QTcpSocket::disconnected, this, [this, id] { Drop(id); });
        if (int(m_connections.size()) > m_config.maxConnections) {
            c.keepAlive = false;
            Respond(id, c,
                    ErrorReply(503, QStringLiteral("Demasiadas conexiones abiertas con la mesa")),
                    true);
            continue;
        }
        if (socket->bytesAvailable() > 0)
            Pump(id);
    }
}

void RemoteServerWorker::Drop(quint64 id) {
    const auto it = m_connections.find(id);
    if (it == m_connections.end())
        return;
    QTcpSocket* socket = it->second.socket;
    m_connections.erase(it);
    socket->disconnect(this);
    socket->deleteLater();
}

void RemoteServerWorker::Pump(quint64 id) {
    for (;;) {
        const auto it = m_connections.find(id);
        if (it == m_connections.end())
            return;
        Connection& c = it->second;
        QTcpSocket* socket = c.socket;
        if (c.closing) {
            if (socket->bytesAvailable() > 0) {
                socket->readAll();
                c.lastActivity.restart();
            }
            return;
        }
        if (c.busy || socket->bytesToWrite() > kMaxWriteBacklog)
            return;
        if (!c.haveHead) {
            const qint64 available = socket->bytesAvailable();
            if (available == 0)
                return;
            c.lastActivity.restart();
            if (!c.inRequest) {
                c.inRequest = true;
                c.requestClock.start();
            }
            // The head is only looked at here: a WebSocket upgrade hands the socket
            // over with the head still unread.
            const QByteArray head = socket->peek(m_config.limits.maxHeadBytes + 4);
            c.request = HttpRequest();
            const HeadParse parsed = ParseRequestHead(head, c.request, m_config.limits);
            if (parsed.status == HeadParse::Incomplete)
                return;
            if (parsed.status == HeadParse::Error) {
                Respond(id, c, ErrorReply(parsed.errorStatus, parsed.error), true);
                return;
            }
            c.request.peer = socket->peerAddress();
            c.keepAlive = c.request.KeepAlive();
            if (auto refusal = CheckAccess(c.request, m_policy)) {
                Respond(id, c, *refusal, true);
                return;
            }
            if (c.request.IsWebSocketUpgrade()) {
                Upgrade(id, c);
                return;
            }
            socket->skip(parsed.headLength);
            c.haveHead = true;
            if (c.request.contentLength > 0 &&
                c.request.Header("expect").compare("100-continue", Qt::CaseInsensitive) == 0)
                socket->write("HTTP/1.1 100 Continue\r\n\r\n");
        }
        if (socket->bytesAvailable() < c.request.contentLength)
            return;
        c.request.body = socket->read(c.request.contentLength);
        c.haveHead = false;
        c.inRequest = false;
        Handle(id, c);
    }
}

bool RemoteServerWorker::TakeActionToken() {
    if (m_config.actionsPerSecond <= 0)
        return true;
    const double elapsed = m_actionClock.nsecsElapsed() / 1e9;
    m_actionClock.restart();
    m_actionTokens = std::min<double>(m_config.actionBurst,
                                      m_actionTokens + elapsed * m_config.actionsPerSecond);
    if (m_actionTokens < 1)
        return false;
    m_actionTokens -= 1;
    return true;
}

void RemoteServerWorker::Handle(quint64 id, Connection& c) {
    const HttpRequest& r = c.request;
    c.headOnly = r.method == "HEAD";
    if (!r.path.startsWith(QStringLiteral("/api/")) && r.path != QStringLiteral("/api")) {
        std::optional<StaticFile> file;
        if (const auto own = m_static.constFind(r.path); own != m_static.constEnd())
            file = *own;
        else if (m_front->m_fileSource)
            file = m_front->m_fileSource(r);
        if (!file) {
            Respond(id, c, ErrorReply(404, QStringLiteral("No existe %1").arg(r.path)));
            return;
        }
        if (r.method != "GET" && r.method != "HEAD") {
            HttpReply reply = ErrorReply(405, QStringLiteral("Método no permitido"));
            reply.AddHeader("Allow", "GET, HEAD");
            Respond(id, c, reply);
            return;
        }
        HttpReply reply;
        reply.contentType = file->contentType;
        reply.body = file->body;
        reply.headers = file->headers;
        Respond(id, c, reply);
        return;
    }
    if (r.path == QStringLiteral("/api/events")) {
        HttpReply reply = ErrorReply(426, QStringLiteral("Conéctese por WebSocket a /api/events"));
        reply.AddHeader("Upgrade", "websocket");
        Respond(id, c, reply);
        return;
    }
    const bool action = r.method == "POST";
    if (action ? m_actions.size() >= kMaxQueuedActions : m_pendingJobs >= m_config.maxPendingJobs) {
        HttpReply reply =
            ErrorReply(503, QStringLiteral("La mesa está ocupada; inténtelo de nuevo"));
        reply.AddHeader("Retry-After", "1");
        Respond(id, c, reply);
        return;
    }
    if (action && !TakeActionToken()) {
        HttpReply reply = ErrorReply(429, QStringLiteral("Demasiadas órdenes por segundo"));
        reply.AddHeader("Retry-After", "1");
        Respond(id, c, reply);
        return;
    }
    c.busy = true;
    if (action) {
        m_actions.append(id);
        DispatchActions();
    } else {
        Dispatch(id, r, false);
    }
}

void RemoteServerWorker::Dispatch(quint64 id, const HttpRequest& request, bool action) {
    ++m_pendingJobs;
    RemoteServer* front = m_front;
    QMetaObject::invokeMethod(front, [front, id, request, action] {
        const HttpReply reply = front->Run(request);
        if (RemoteServerWorker* worker = front->m_worker)
            QMetaObject::invokeMethod(
                worker, [worker, id, reply, action] { worker->Finish(id, reply, action); });
    });
}

void RemoteServerWorker::DispatchActions() {
    while (!m_actionRunning && !m_actions.isEmpty()) {
        const qint64 wait = kActionGapMs - m_sinceAction.elapsed();
        if (wait > 0) {
            if (!m_actionTimer->isActive())
                m_actionTimer->start(int(wait));
            return;
        }
        const quint64 id = m_actions.takeFirst();
        const auto it = m_connections.find(id);
        if (it == m_connections.end())
            continue; // the client went away while its order waited
        m_actionRunning = true;
        Dispatch(id, it->second.request, true);
    }
}

void RemoteServerWorker::Finish(quint64 id, const HttpReply& reply, bool action) {
    --m_pendingJobs;
    if (action) {
        m_actionRunning = false;
        m_sinceAction.restart();
    }
    const auto it = m_connections.find(id);
    if (it != m_connections.end()) {
        Connection& c = it->second;
        c.busy = false;
        Respond(id, c, reply);
        Pump(id);
    }
    if (action)
        DispatchActions();
}

void RemoteServerWorker::Respond(quint64, Connection& c, const HttpReply& reply, bool close) {
    const bool keepAlive = c.keepAlive && !close;
    c.socket->write(SerializeReply(reply, keepAlive, c.headOnly));
    c.headOnly = false;
    c.lastActivity.restart();
    if (!keepAlive) {
        // Whatever the client still sends is read and dropped for a moment, so the
        // answer is not lost to a reset from unread data.
        c.closing = true;
        c.closingClock.start();
        if (c.socket->bytesAvailable() > 0)
            c.socket->readAll();
    }
}

void RemoteServerWorker::Upgrade(quint64 id, Connection& c) {
    if (c.request.path != QStringLiteral("/api/events")) {
        Respond(id, c, ErrorReply(404, QStringLiteral("No existe %1").arg(c.request.path)), true);
        return;
    }
    if (int(m_eventClients.size()) >= m_config.maxEventClients) {
        Respond(id, c, ErrorReply(503, QStringLiteral("Demasiados clientes de eventos")), true);
        return;
    }
    QTcpSocket* socket = c.socket;
    m_connections.erase(id);
    socket->disconnect(this);
    // The WebSocket server reads the head (still unread) and answers the handshake.
    m_ws->handleConnection(socket);
}

void RemoteServerWorker::AddEventClient() {
    while (QWebSocket* socket = m_ws->nextPendingConnection()) {
        socket->setParent(this);
        socket->setMaxAllowedIncomingFrameSize(4096);
        socket->setMaxAllowedIncomingMessageSize(4096);
        socket->setReadBufferSize(8192);
        EventClient& client = m_eventClients[socket];
        client.socket = socket;
        client.sincePong.start();
        client.sincePing.start();
        connect(socket, &QWebSocket::disconnected, this,
                [this, socket] { DropEventClient(socket); });
        connect(socket, &QWebSocket::bytesWritten, this, [this, socket](qint64 n) {
            const auto it = m_eventClients.find(socket);
            if (it != m_eventClients.end())
                it->second.backlog = std::max<qint64>(0, it->second.backlog - n);
        });
        connect(socket, &QWebSocket::pong, this, [this, socket] {
            const auto it = m_eventClients.find(socket);
            if (it != m_eventClients.end())
                it->second.sincePong.restart();
        });
        // Messages from clients mean nothing here; they are read and dropped.
        if (!m_lastEvent.isEmpty())
            client.backlog += socket->sendTextMessage(QString::fromUtf8(m_lastEvent));
    }
    ReportEventClients();
}

void RemoteServerWorker::DropEventClient(QWebSocket* socket) {
    const auto it = m_eventClients.find(socket);
    if (it == m_eventClients.end())
        return;
    m_eventClients.erase(it);
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
    ReportEventClients();
}

void RemoteServerWorker::ReportEventClients() {
    const int count = int(m_eventClients.size());
    RemoteServer* front = m_front;
    QMetaObject::invokeMethod(front, [front, count] {
        if (front->m_eventClients == count)
            return;
        front->m_eventClients = count;
        emit front->EventClientsChanged(count);
    });
}

void RemoteServerWorker::Publish(const QByteArray& message) {
    m_lastEvent = message;
    const QString text = QString::fromUtf8(message);
    QList<QWebSocket*> stuck;
    for (auto& [socket, client] : m_eventClients) {
        if (client.backlog > m_config.maxEventBacklog) {
            stuck << socket;
            continue;
        }
        client.backlog += socket->sendTextMessage(text);
    }
    for (QWebSocket* socket : std::as_const(stuck))
        DropEventClient(socket);
}

void RemoteServerWorker::Sweep() {
    QList<quint64> expired;
    for (auto& [id, c] : m_connections) {
        if (c.closing) {
            const bool quiet = c.lastActivity.elapsed() >= kDrainQuietMs;
            if ((c.socket->bytesToWrite() == 0 && quiet) || c.closingClock.elapsed() > kDrainMaxMs)
                expired << id;
            continue;
        }
        if (c.busy)
            continue;
        if (c.inRequest && c.requestClock.elapsed() > m_config.requestTimeoutMs) {
            c.keepAlive = false;
            Respond(id, c,
                    ErrorReply(408, QStringLiteral("La petición no llegó completa a tiempo")),
                    true);
            continue;
        }
        if (!c.inRequest && c.lastActivity.elapsed() > m_config.idleTimeoutMs)
            expired << id;
    }
    for (quint64 id : std::as_const(expired)) {
        const auto it = m_connections.find(id);
        if (it == m_connections.end())
            continue;
        QTcpSocket* socket = it->second.socket;
        m_connections.erase(it);
        socket->disconnect(this);
        socket->disconnectFromHost();
        if (socket->state() != QAbstractSocket::UnconnectedState)
            socket->abort();
        socket->deleteLater();
    }
    // An event client that answers no ping for two rounds is gone (a half-open
    // connection): it is dropped.
    QList<QWebSocket*> silent;
    for (auto& [socket, client] : m_eventClients) {
        if (client.sincePong.elapsed() > 2 * kPingEveryMs + kSweepMs) {
            silent << socket;
        } else if (client.sincePing.elapsed() > kPingEveryMs) {
            socket->ping();
            client.sincePing.restart();
        }
    }
    for (QWebSocket* socket : std::as_const(silent))
        DropEventClient(socket);
}

// ---------------------------------------------------------------------------

RemoteServer::RemoteServer(QObject* parent) : QObject(parent) {}

RemoteServer::~RemoteServer() {
    Stop();
}

bool RemoteServer::Start(const RemoteServerConfig& config, QString* error) {
    Stop();
    QString message;
    if (!config.bind.isLoopback() && config.token.isEmpty()) {
        message = QStringLiteral("Para escuchar fuera de 127.0.0.1 el control remoto necesita un "
                                 "token");
        if (error)
            *error = message;
        return false;
    }
    m_config = config;
    m_thread = new QThread();
    m_thread->setObjectName(QStringLiteral("RemoteServer"));
    auto* worker = new RemoteServerWorker(this, config, m_static);
    worker->moveToThread(m_thread);
    m_thread->start();
    bool ok = false;
    quint16 port = 0;
    QMetaObject::invokeMethod(
        worker, [&] { ok = worker->Listen(&message, &port); }, Qt::BlockingQueuedConnection);
    if (!ok) {
        m_thread->quit();
        m_thread->wait();
        delete worker;
        delete m_thread;
        m_thread = nullptr;
        if (error)
            *error = message;
        return false;
    }
    m_worker = worker;
    m_port = port;
    return true;
}

void RemoteServer::Stop() {
    if (!m_thread)
        return;
    if (RemoteServerWorker* worker = m_worker)
        QMetaObject::invokeMethod(
            worker, [worker] { worker->Shutdown(); }, Qt::BlockingQueuedConnection);
    m_thread->quit();
    m_thread->wait();
    delete m_worker.data();
    delete m_thread;
    m_thread = nullptr;
    m_port = 0;
    if (m_eventClients != 0) {
        m_eventClients = 0;
        emit EventClientsChanged(0);
    }
}

bool RemoteServer::IsListening() const {
    return !m_worker.isNull();
}

void RemoteServer::Publish(const QByteArray& message) {
    if (RemoteServerWorker* worker = m_worker)
        QMetaObject::invokeMethod(worker, [worker, message] { worker->Publish(message); });
}

HttpReply RemoteServer::Run(const HttpRequest& request) {
    try {
        if (!m_handler)
            return ErrorReply(404, QStringLiteral("No existe %1").arg(request.path));
        return m_handler(request);
    } catch (const std::exception& e) {
        return ErrorReply(500, QString::fromUtf8(e.what()));
    } catch (...) {
        return ErrorReply(500, QStringLiteral("Error desconocido"));
    }
}
