#include "remote/RemoteServer.h"

#include "remote/RemoteAuth.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <deque>
#include <map>

namespace {

// Connection ids are unique for the life of the process.
std::atomic<quint64> g_nextConnectionId{1};

constexpr int kSweepMs = 250;
constexpr qint64 kMaxWriteBacklog = 256 * 1024;
constexpr int kDrainQuietMs = 150;
constexpr int kDrainMaxMs = 2000;
constexpr int kPingEveryMs = 15000;
// An event client being closed has this long to take what is queued for it.
constexpr int kEventDrainMs = 5000;
constexpr int kFailureWindowMs = 60000;
// Orders (POST) reach the window one at a time, in the order they came, with at
// least this pause after each one so the window paints and runs its timers in
// between.
constexpr int kActionGapMs = 40;
// What an event client may send: control frames and small messages, read and
// dropped (the channel only pushes).
constexpr qint64 kMaxClientFrame = 4096;
constexpr qint64 kEventReadBuffer = 16 * 1024;
constexpr qint64 kMaxDiscard = 4 * 1024 * 1024;

QByteArray WebSocketAccept(const QByteArray& key) {
    return QCryptographicHash::hash(key + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11",
                                    QCryptographicHash::Sha1)
        .toBase64();
}

// A frame from the server (never masked).
QByteArray Frame(quint8 opcode, const QByteArray& payload) {
    QByteArray out;
    out.reserve(payload.size() + 10);
    out += char(0x80 | opcode);
    const qint64 n = payload.size();
    if (n < 126) {
        out += char(n);
    } else if (n < 65536) {
        out += char(126);
        out += char((n >> 8) & 0xff);
        out += char(n & 0xff);
    } else {
        out += char(127);
        for (int shift = 56; shift >= 0; shift -= 8)
            out += char((n >> shift) & 0xff);
    }
    out += payload;
    return out;
}

QByteArray CloseFrame(quint16 code, const QByteArray& reason) {
    QByteArray payload;
    payload += char(code >> 8);
    payload += char(code & 0xff);
    payload += reason.left(120);
    return Frame(0x8, payload);
}

} // namespace

// Lives on the server's thread. Plain QObject: it is reached only through
// QMetaObject::invokeMethod with functors.
class RemoteServerWorker : public QObject {
public:
    RemoteServerWorker(RemoteServer* front, quint64 generation, RemoteServerConfig config,
                       QHash<QString, StaticFile> files)
        : m_front(front), m_generation(generation), m_config(std::move(config)),
          m_static(std::move(files)) {
        m_policy.token = m_config.token;
        m_policy.loopbackOnly = m_config.bind.isLoopback();
    }

    bool Listen(QString* error, quint16* port, bool* addressInUse);
    void Shutdown();
    void Publish(const QByteArray& message);
    void Finish(quint64 id, const QString& peer, const HttpReply& reply, bool action);

private:
    // What is known of one client address.
    struct Peer {
        int connections = 0;
        int pending = 0;       // its API requests waiting for or running on the window
        int queuedActions = 0; // its orders waiting for their turn
        double readTokens = 0;
        double actionTokens = 0;
        QElapsedTimer bucketClock;
        std::deque<qint64> failures; // times of failed tokens within the last minute
        qint64 nextAttempt = 0;      // when a slowed address may have its next answer
        qint64 nextRefusal = 0;      // when an address beyond its budget may have its next 429
    };
    struct Connection {
        QTcpSocket* socket = nullptr;
        QString peer;
        bool busy = false;     // an answer from the window is awaited
        bool haveHead = false; // head read, body awaited
        bool inRequest = false;
        bool keepAlive = true;
        bool headOnly = false;
        bool closing = false; // answered for the last time; draining what comes in
        bool anyByte = false; // the client has sent something
        bool counted = false; // holds a pending job of its peer
        HttpRequest request;
        QElapsedTimer requestClock; // since the first byte of the request
        QElapsedTimer lastActivity;
        QElapsedTimer closingClock;
    };
    struct EventClient {
        QTcpSocket* socket = nullptr;
        QString peer;
        QByteArray input;
        bool closing = false;
        QElapsedTimer sincePong;
        QElapsedTimer lastInput;
        qint64 discarded = 0; // bytes read and dropped since closing
        QElapsedTimer sincePing;
        QElapsedTimer closingClock;
    };

    void Accept();
    void Refuse(QTcpSocket* socket, const HttpReply& reply);
    void Pump(quint64 id);
    void Handle(quint64 id, Connection& c);
    void Respond(quint64 id, Connection& c, const HttpReply& reply, bool close = false);
    void RefuseAccess(quint64 id, Connection& c, const HttpReply& refusal);
    void Upgrade(quint64 id, Connection& c, int headLength);
    void Drop(quint64 id);
    void Sweep();
    void ReadEvents(QTcpSocket* socket);
    void SendEvent(EventClient& client, const QByteArray& frame);
    void CloseEventClient(EventClient& client, quint16 code, const QByteArray& reason);
    void DropEventClient(QTcpSocket* socket);
    void ReportEventClients();
    Peer& PeerOf(const QString& peer);
    void Release(const QString& peer);
    void Refill(Peer& p);
    void Dispatch(quint64 id, const HttpRequest& request, bool action);
    void DispatchActions();
    int OpenConnections() const { return int(m_connections.size() + m_eventClients.size()); }

    RemoteServer* m_front;
    quint64 m_generation;
    RemoteServerConfig m_config;
    QHash<QString, StaticFile> m_static;
    AccessPolicy m_policy;
    QTcpServer* m_server = nullptr;
    QTimer* m_sweep = nullptr;
    std::map<quint64, Connection> m_connections;
    std::map<QTcpSocket*, EventClient> m_eventClients;
    std::map<QString, Peer> m_peers;
    int m_pendingJobs = 0;
    QList<QPair<quint64, QString>> m_actions; // orders waiting for their turn, with their address
    bool m_actionRunning = false;
    QString m_lastActionPeer;
    QElapsedTimer m_sinceAction;
    QTimer* m_actionTimer = nullptr;
    QByteArray m_lastEvent;
    QElapsedTimer m_clock; // the time of the failure records
};

bool RemoteServerWorker::Listen(QString* error, quint16* port, bool* addressInUse) {
    m_server = new QTcpServer(this);
    if (!m_server->listen(m_config.bind, m_config.port)) {
        *addressInUse = m_server->serverError() == QAbstractSocket::AddressInUseError;
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
    m_clock.start();
    m_sweep = new QTimer(this);
    m_sweep->setInterval(kSweepMs);
    connect(m_sweep, &QTimer::timeout, this, [this] { Sweep(); });
    m_sweep->start();
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
    m_peers.clear();
    delete m_sweep;
    m_sweep = nullptr;
    delete m_actionTimer;
    m_actionTimer = nullptr;
    m_actions.clear();
    delete m_server; // with the sockets still being refused
    m_server = nullptr;
}

RemoteServerWorker::Peer& RemoteServerWorker::PeerOf(const QString& peer) {
    const auto it = m_peers.find(peer);
    if (it != m_peers.end())
        return it->second;
    Peer& p = m_peers[peer];
    p.readTokens = m_config.readBurst;
    p.actionTokens = m_config.actionBurst;
    p.bucketClock.start();
    return p;
}

void RemoteServerWorker::Release(const QString& peer) {
    const auto it = m_peers.find(peer);
    if (it != m_peers.end() && it->second.connections > 0)
        --it->second.connections;
}

void RemoteServerWorker::Refill(Peer& p) {
    const double elapsed = p.bucketClock.nsecsElapsed() / 1e9;
    p.bucketClock.restart();
    p.readTokens =
        std::min<double>(m_config.readBurst, p.readTokens + elapsed * m_config.readsPerSecond);
    p.actionTokens = std::min<double>(m_config.actionBurst,
                                      p.actionTokens + elapsed * m_config.actionsPerSecond);
}

void RemoteServerWorker::Accept() {
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        const QString peer = socket->peerAddress().toString();
        if (OpenConnections() >= m_config.maxConnections) {
            Refuse(socket,
                   ErrorReply(503, QStringLiteral("Demasiadas conexiones abiertas con la mesa")));
            continue;
        }
        Peer& p = PeerOf(peer);
        if (p.connections >= m_config.maxConnectionsPerPeer) {
            Refuse(socket, ErrorReply(503, QStringLiteral("Demasiadas conexiones desde esta "
                                                          "dirección con la mesa")));
            continue;
        }
        ++p.connections;
        const quint64 id = g_nextConnectionId++;
        Connection& c = m_connections[id];
        c.socket = socket;
        c.peer = peer;
        // Qt stops reading from the network once this much waits unread: a client
        // that sends faster than it is answered is held back by TCP itself.
        socket->setReadBufferSize(m_config.limits.maxHeadBytes + m_config.limits.maxBodyBytes +
                                  4096);
        c.lastActivity.start();
        connect(socket, &QTcpSocket::readyRead, this, [this, id] { Pump(id); });
        connect(socket, &QTcpSocket::bytesWritten, this, [this, id] { Pump(id); });
        connect(socket, &QTcpSocket::disconnected, this, [this, id] { Drop(id); });
        if (socket->bytesAvailable() > 0)
            Pump(id);
    }
}

void RemoteServerWorker::Refuse(QTcpSocket* socket, const HttpReply& reply) {
    // A refused connection holds no place: it gets its answer and is closed soon,
    // whatever it sends meanwhile is dropped.
    connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->readAll(); });
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    socket->write(SerializeReply(reply, false));
    QTimer::singleShot(kDrainQuietMs, socket, [socket] { socket->disconnectFromHost(); });
    QTimer::singleShot(kDrainMaxMs, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
}

void RemoteServerWorker::Drop(quint64 id) {
    const auto it = m_connections.find(id);
    if (it == m_connections.end())
        return;
    QTcpSocket* socket = it->second.socket;
    Release(it->second.peer);
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
            c.anyByte = true;
            c.lastActivity.restart();
            if (!c.inRequest) {
                c.inRequest = true;
                c.requestClock.start();
            }
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
                RefuseAccess(id, c, *refusal);
                return;
            }
            if (c.request.IsWebSocketUpgrade()) {
                Upgrade(id, c, parsed.headLength);
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

void RemoteServerWorker::RefuseAccess(quint64 id, Connection& c, const HttpReply& refusal) {
    if (refusal.status != 401) {
        Respond(id, c, refusal, true);
        return;
    }
    // After a few failed tokens within a minute, each further attempt of the same
    // address is answered one at a time, a pause apart: guessing goes no faster than
    // that, and the other addresses are not held up.
    Peer& p = PeerOf(c.peer);
    const qint64 now = m_clock.elapsed();
    while (!p.failures.empty() && now - p.failures.front() > kFailureWindowMs)
        p.failures.pop_front();
    p.failures.push_back(now);
    while (int(p.failures.size()) > m_config.authFailuresBeforeDelay + 1)
        p.failures.pop_front();
    if (int(p.failures.size()) <= m_config.authFailuresBeforeDelay || m_config.authDelayMs <= 0) {
        Respond(id, c, refusal, true);
        return;
    }
    p.nextAttempt = std::max(now, p.nextAttempt) + m_config.authDelayMs;
    c.busy = true;
    QTimer::singleShot(int(p.nextAttempt - now), this, [this, id, refusal] {
        const auto it = m_connections.find(id);
        if (it == m_connections.end())
            return;
        it->second.busy = false;
        Respond(id, it->second, refusal, true);
    });
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
    Peer& p = PeerOf(c.peer);
    Refill(p);
    auto refuse = [&](int status, const QString& message) {
        HttpReply reply = ErrorReply(status, message);
        reply.AddHeader("Retry-After", "1");
        Respond(id, c, reply);
    };
    // What one address asks beyond its share is refused to it alone (429), one
    // refusal per short gap: a client that floods costs this thread a few dozen
    // answers a second instead of thousands, and waits for each one itself (its
    // connection takes nothing more meanwhile). The desk's own limits, shared by all,
    // give 503.
    auto refuseOverBudget = [&](const QString& message) {
        HttpReply reply = ErrorReply(429, message);
        reply.AddHeader("Retry-After", "1");
        const qint64 now = m_clock.elapsed();
        const qint64 at = std::max(now, p.nextRefusal);
        p.nextRefusal = at + m_config.refusalGapMs;
        if (at <= now) {
            Respond(id, c, reply);
            return;
        }
        c.busy = true;
        QTimer::singleShot(int(at - now), this, [this, id, reply] {
            const auto it = m_connections.find(id);
            if (it == m_connections.end())
                return; // the client went away meanwhile
            it->second.busy = false;
            Respond(id, it->second, reply);
            Pump(id);
        });
    };
    if (action) {
        if (p.queuedActions >= m_config.maxQueuedActionsPerPeer ||
            (m_config.actionsPerSecond > 0 && p.actionTokens < 1))
            return refuseOverBudget(QStringLiteral("Demasiadas órdenes desde esta dirección; "
                                                   "inténtelo de nuevo en un momento"));
        if (m_actions.size() >= m_config.maxQueuedActions)
            return refuse(503, QStringLiteral("La mesa está ocupada; inténtelo de nuevo"));
        if (m_config.actionsPerSecond > 0)
            p.actionTokens -= 1;
        ++p.queuedActions;
        c.busy = true;
        m_actions.append(qMakePair(id, c.peer));
        DispatchActions();
        return;
    }
    if (p.pending >= m_config.maxPendingJobsPerPeer ||
        (m_config.readsPerSecond > 0 && p.readTokens < 1))
        return refuseOverBudget(QStringLiteral("Demasiadas peticiones desde esta dirección; "
                                               "inténtelo de nuevo en un momento"));
    if (m_pendingJobs >= m_config.maxPendingJobs)
        return refuse(503, QStringLiteral("La mesa está ocupada; inténtelo de nuevo"));
    if (m_config.readsPerSecond > 0)
        p.readTokens -= 1;
    c.busy = true;
    Dispatch(id, r, false);
}

void RemoteServerWorker::Dispatch(quint64 id, const HttpRequest& request, bool action) {
    const auto it = m_connections.find(id);
    const QString peer = it != m_connections.end() ? it->second.peer : QString();
    ++m_pendingJobs;
    ++PeerOf(peer).pending;
    RemoteServer* front = m_front;
    const quint64 generation = m_generation;
    QMetaObject::invokeMethod(front, [front, generation, id, peer, request, action] {
        // A stopped server's requests end with it: neither run nor answered.
        if (front->m_generation != generation)
            return;
        const HttpReply reply = front->Run(request);
        RemoteServerWorker* worker = front->m_worker;
        if (worker && front->m_generation == generation)
            QMetaObject::invokeMethod(worker, [worker, id, peer, reply, action] {
                worker->Finish(id, peer, reply, action);
            });
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
        // Addresses take turns: the order of one that did not go last goes first,
        // so a flooding address never stands between another one and the window.
        qsizetype pick = 0;
        while (pick < m_actions.size() && m_actions[pick].second == m_lastActionPeer)
            ++pick;
        if (pick == m_actions.size())
            pick = 0;
        const auto [id, peer] = m_actions.takeAt(pick);
        m_lastActionPeer = peer;
        Peer& p = PeerOf(peer);
        if (p.queuedActions > 0)
            --p.queuedActions;
        const auto it = m_connections.find(id);
        if (it == m_connections.end())
            continue; // the client went away while its order waited
        m_actionRunning = true;
        Dispatch(id, it->second.request, true);
    }
}

void RemoteServerWorker::Finish(quint64 id, const QString& peer, const HttpReply& reply,
                                bool action) {
    --m_pendingJobs;
    const auto p = m_peers.find(peer);
    if (p != m_peers.end() && p->second.pending > 0)
        --p->second.pending;
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

void RemoteServerWorker::Upgrade(quint64 id, Connection& c, int headLength) {
    if (c.request.path != QStringLiteral("/api/events")) {
        Respond(id, c, ErrorReply(404, QStringLiteral("No existe %1").arg(c.request.path)), true);
        return;
    }
    const QByteArray key = c.request.Header("sec-websocket-key");
    if (QByteArray::fromBase64(key).size() != 16) {
        Respond(id, c,
                ErrorReply(400, QStringLiteral("Falta la cabecera Sec-WebSocket-Key o no es "
                                               "válida")),
                true);
        return;
    }
    if (c.request.Header("sec-websocket-version") != "13") {
        HttpReply reply =
            ErrorReply(400, QStringLiteral("Versión de WebSocket no admitida (use la 13)"));
        reply.AddHeader("Sec-WebSocket-Version", "13");
        Respond(id, c, reply, true);
        return;
    }
    if (int(m_eventClients.size()) >= m_config.maxEventClients) {
        Respond(id, c, ErrorReply(503, QStringLiteral("Demasiados clientes de eventos")), true);
        return;
    }
    QTcpSocket* socket = c.socket;
    const QString peer = c.peer;
    m_connections.erase(id);
    socket->disconnect(this);
    socket->skip(headLength);
    socket->setReadBufferSize(kEventReadBuffer);
    // The system's own queue for this client stays small as well.
    socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, 64 * 1024);
    EventClient& client = m_eventClients[socket];
    client.socket = socket;
    client.peer = peer;
    client.sincePong.start();
    client.sincePing.start();
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { ReadEvents(socket); });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] { DropEventClient(socket); });
    socket->write("HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\n"
                  "Connection: Upgrade\r\nSec-WebSocket-Accept: " +
                  WebSocketAccept(key) + "\r\n\r\n");
    if (!m_lastEvent.isEmpty())
        SendEvent(client, Frame(0x1, m_lastEvent));
    ReportEventClients();
    if (socket->bytesAvailable() > 0)
        ReadEvents(socket);
}

void RemoteServerWorker::ReadEvents(QTcpSocket* socket) {
    const auto it = m_eventClients.find(socket);
    if (it == m_eventClients.end())
        return;
    EventClient& e = it->second;
    if (e.closing) {
        // What a closed client still sends is dropped, up to a bound; past it the
        // socket is no longer read and TCP holds the client back until the abort.
        if (e.discarded < kMaxDiscard) {
            e.discarded += socket->readAll().size();
            e.lastInput.restart();
        }
        return;
    }
    e.input += socket->readAll();
    qsizetype at = 0;
    const auto byte = [&](qsizetype i) { return quint8(e.input[at + i]); };
    for (;;) {
        const qsizetype left = e.input.size() - at;
        if (left < 2)
            break;
        const bool fin = byte(0) & 0x80;
        const quint8 opcode = byte(0) & 0x0f;
        const bool masked = byte(1) & 0x80;
        quint64 length = byte(1) & 0x7f;
        qsizetype pos = 2;
        if (length == 126) {
            if (left < 4)
                break;
            length = (quint64(byte(2)) << 8) | byte(3);
            pos = 4;
        } else if (length == 127) {
            if (left < 10)
                break;
            length = 0;
            for (int i = 2; i < 10; ++i)
                length = (length << 8) | byte(i);
            pos = 10;
        }
        const bool control = opcode & 0x8;
        if ((byte(0) & 0x70) || !masked || (control && (!fin || length > 125)) ||
            (opcode > 0x2 && opcode < 0x8) || opcode > 0xA) {
            CloseEventClient(e, 1002, "trama no válida");
            return;
        }
        if (length > quint64(kMaxClientFrame)) {
            CloseEventClient(e, 1009, "mensaje demasiado grande");
            return;
        }
        if (left < pos + 4 + qsizetype(length))
            break;
        QByteArray payload = e.input.mid(at + pos + 4, qsizetype(length));
        for (qsizetype i = 0; i < payload.size(); ++i)
            payload[i] = char(quint8(payload[i]) ^ byte(pos + (i & 3)));
        at += pos + 4 + qsizetype(length);
        if (opcode == 0x9) {
            // The answer to a ping counts against the client's output like the rest.
            SendEvent(e, Frame(0xA, payload));
            if (e.closing)
                return;
        } else if (opcode == 0xA) {
            e.sincePong.restart();
        } else if (opcode == 0x8) {
            CloseEventClient(e, 1000, {});
            return;
        }
        // Messages from clients mean nothing here; they are read and dropped.
    }
    e.input.remove(0, at);
}

void RemoteServerWorker::SendEvent(EventClient& client, const QByteArray& frame) {
    if (client.closing)
        return;
    // Everything queued for a client is bounded: one that does not read is dropped.
    if (client.socket->bytesToWrite() + frame.size() > m_config.maxEventBacklog) {
        CloseEventClient(client, 1008, "demasiados datos sin leer");
        return;
    }
    client.socket->write(frame);
}

void RemoteServerWorker::CloseEventClient(EventClient& client, quint16 code,
                                          const QByteArray& reason) {
    if (client.closing)
        return;
    client.closing = true;
    client.closingClock.start();
    client.input.clear();
    client.input.squeeze();
    client.lastInput.start();
    client.socket->write(CloseFrame(code, reason));
    // Closed by the sweep once the frame is out and the client has stopped sending
    // (so no reset destroys what it has not read yet), or aborted if it never reads.
    ReportEventClients();
}

void RemoteServerWorker::DropEventClient(QTcpSocket* socket) {
    const auto it = m_eventClients.find(socket);
    if (it == m_eventClients.end())
        return;
    Release(it->second.peer);
    m_eventClients.erase(it);
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
    ReportEventClients();
}

void RemoteServerWorker::ReportEventClients() {
    // Clients being closed no longer listen.
    int count = 0;
    for (const auto& [socket, client] : m_eventClients)
        count += !client.closing;
    RemoteServer* front = m_front;
    const quint64 generation = m_generation;
    QMetaObject::invokeMethod(front, [front, generation, count] {
        if (front->m_generation != generation || front->m_eventClients == count)
            return;
        front->m_eventClients = count;
        emit front->EventClientsChanged(count);
    });
}

void RemoteServerWorker::Publish(const QByteArray& message) {
    m_lastEvent = message;
    const QByteArray frame = Frame(0x1, message);
    QList<QTcpSocket*> sockets;
    for (const auto& [socket, client] : m_eventClients)
        sockets << socket;
    for (QTcpSocket* socket : std::as_const(sockets)) {
        const auto it = m_eventClients.find(socket);
        if (it != m_eventClients.end())
            SendEvent(it->second, frame);
    }
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
        const bool late =
            c.inRequest && (c.requestClock.elapsed() > m_config.requestTimeoutMs ||
                            (!c.haveHead && c.requestClock.elapsed() > m_config.headTimeoutMs));
        // A connection that never sent a byte gets a short time only.
        const bool silent = !c.anyByte && c.lastActivity.elapsed() > m_config.firstByteTimeoutMs;
        if (late || silent) {
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
        Release(it->second.peer);
        m_connections.erase(it);
        socket->disconnect(this);
        socket->disconnectFromHost();
        if (socket->state() != QAbstractSocket::UnconnectedState)
            socket->abort();
        socket->deleteLater();
    }
    // An event client that answers no ping for two rounds is gone (a half-open
    // connection), as is one that does not take its close frame: both are dropped.
    QList<QTcpSocket*> gone;
    QList<QTcpSocket*> ping;
    QList<QTcpSocket*> done;
    for (auto& [socket, client] : m_eventClients) {
        if (client.closing && socket->bytesToWrite() == 0 &&
            client.lastInput.elapsed() >= kDrainQuietMs &&
            socket->state() == QAbstractSocket::ConnectedState)
            done << socket;
        if (client.closing ? client.closingClock.elapsed() > kEventDrainMs
                           : client.sincePong.elapsed() > 2 * kPingEveryMs + kSweepMs)
            gone << socket;
        else if (!client.closing && client.sincePing.elapsed() > kPingEveryMs)
            ping << socket;
    }
    for (QTcpSocket* socket : std::as_const(gone))
        DropEventClient(socket);
    // (Closing may report the disconnection at once, which drops the client.)
    for (QTcpSocket* socket : std::as_const(done))
        if (m_eventClients.count(socket))
            socket->disconnectFromHost();
    for (QTcpSocket* socket : std::as_const(ping)) {
        const auto it = m_eventClients.find(socket);
        if (it == m_eventClients.end())
            continue;
        it->second.sincePing.restart();
        SendEvent(it->second, Frame(0x9, {}));
    }
    // Addresses with nothing open and nothing to remember are forgotten.
    const qint64 now = m_clock.elapsed();
    for (auto it = m_peers.begin(); it != m_peers.end();) {
        Peer& p = it->second;
        while (!p.failures.empty() && now - p.failures.front() > kFailureWindowMs)
            p.failures.pop_front();
        Refill(p);
        const bool full =
            p.readTokens >= m_config.readBurst && p.actionTokens >= m_config.actionBurst;
        if (p.connections == 0 && p.pending == 0 && p.queuedActions == 0 && full &&
            p.failures.empty() && p.nextAttempt <= now)
            it = m_peers.erase(it);
        else
            ++it;
    }
}

// ---------------------------------------------------------------------------

RemoteServer::RemoteServer(QObject* parent) : QObject(parent) {
    m_retry = new QTimer(this);
    connect(m_retry, &QTimer::timeout, this, [this] { RetryListen(); });
}

RemoteServer::~RemoteServer() {
    Stop();
}

bool RemoteServer::Start(const RemoteServerConfig& config, QString* error) {
    Stop();
    QString message;
    const bool beyondLoopback = !config.bind.isLoopback();
    if (beyondLoopback && config.token.isEmpty())
        message = QStringLiteral("Para escuchar fuera de 127.0.0.1 el control remoto necesita un "
                                 "token");
    else if (beyondLoopback && QString::fromUtf8(config.token).size() < kMinNetworkTokenLength)
        message = QStringLiteral("Para escuchar fuera de 127.0.0.1 el token del control remoto "
                                 "debe tener al menos %1 caracteres (pulse \"Generar\")")
                      .arg(kMinNetworkTokenLength);
    if (!message.isEmpty()) {
        if (error)
            *error = message;
        return false;
    }
    m_config = config;
    bool addressInUse = false;
    if (Listen(&message, &addressInUse)) {
        m_wanted = true;
        return true;
    }
    if (addressInUse && config.retryListenMs > 0) {
        // Another program holds the port: listening is retried until it is free.
        m_wanted = true;
        m_retry->start(config.retryListenMs);
        message += QStringLiteral("; se reintentará cada %1 s").arg(config.retryListenMs / 1000.0);
    }
    if (error)
        *error = message;
    return false;
}

bool RemoteServer::Listen(QString* error, bool* addressInUse) {
    m_thread = new QThread();
    m_thread->setObjectName(QStringLiteral("RemoteServer"));
    auto* worker = new RemoteServerWorker(this, ++m_generation, m_config, m_static);
    worker->moveToThread(m_thread);
    m_thread->start();
    bool ok = false;
    quint16 port = 0;
    QMetaObject::invokeMethod(
        worker, [&] { ok = worker->Listen(error, &port, addressInUse); },
        Qt::BlockingQueuedConnection);
    if (!ok) {
        m_thread->quit();
        m_thread->wait();
        delete worker;
        delete m_thread;
        m_thread = nullptr;
        return false;
    }
    m_worker = worker;
    m_port = port;
    return true;
}

void RemoteServer::RetryListen() {
    if (!m_wanted || m_thread) {
        m_retry->stop();
        return;
    }
    QString message;
    bool addressInUse = false;
    if (Listen(&message, &addressInUse)) {
        m_retry->stop();
        emit ListeningResumed();
    }
}

void RemoteServer::Stop() {
    m_wanted = false;
    m_retry->stop();
    // Whatever the old server still has on its way to the window is ignored.
    ++m_generation;
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
