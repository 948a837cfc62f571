#pragma once
// The remote control's HTTP and WebSocket server. The sockets live on a thread of
// their own, so slow, stalled or flooding clients never hold up the window: that
// thread reads and checks every request (size limits, time limits, access), answers
// the page's static files itself, and hands each API request to the handler on the
// thread that created the server (the window's thread), one request per connection
// at a time and a bounded number at once. The WebSocket at /api/events receives
// what Publish() sends; its framing is done here, on the connection's own socket,
// so that everything queued for a client (pings and pongs included) is counted.
//
// Each client address is treated on its own: a cap on its connections, budgets
// for its reads and its orders, a slowdown after failed tokens. A flooding or
// stalling address gets 429/503 itself and never locks out another.
//
// Built on QTcpServer rather than Qt HTTP Server 6.4: that module buffers a request
// body of any size before the application sees it, has no time limits for slow
// clients, and upgrades WebSockets without letting the application check the token
// first; each of those is needed here.
#include "remote/HttpMessage.h"

#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <functional>
#include <optional>

class QThread;
class RemoteServerWorker;

// Beyond loopback a token must have at least this many characters.
constexpr int kMinNetworkTokenLength = 16;

struct RemoteServerConfig {
    QHostAddress bind = QHostAddress(QHostAddress::LocalHost);
    quint16 port = 9020; // 0: any free port (tests)
    QByteArray token;    // required when set, and always beyond loopback
    HttpLimits limits;
    int maxConnections = 128;      // all addresses together
    int maxConnectionsPerPeer = 8; // one address, event clients included
    int maxEventClients = 32;
    int firstByteTimeoutMs = 5000; // a new connection must start its request by then
    int headTimeoutMs = 5000;      // a request head must arrive whole within this time
    int requestTimeoutMs = 10000;  // a request must arrive whole within this time
    int idleTimeoutMs = 30000;     // an idle kept-alive connection is closed after this
    int maxPendingJobs = 16;       // API requests waiting for or running on the window
    int maxPendingJobsPerPeer = 4; // the same for one address
    double readsPerSecond = 20;    // API reads of one address; 0: no limit
    int readBurst = 40;
    double actionsPerSecond = 10; // orders (POST) of one address; 0: no limit
    int actionBurst = 10;
    int maxQueuedActions = 16;            // orders waiting for their turn, all addresses
    int maxQueuedActionsPerPeer = 2;      // the same for one address
    qint64 maxEventBacklog = 1024 * 1024; // output queued for one event client
    int authFailuresBeforeDelay = 5;      // failed tokens of one address within a minute
    int authDelayMs = 1000;               // then each attempt of that address waits this long
    int refusalGapMs = 20; // an address beyond its budgets: one refusal (429) per gap; 0: at once
    int retryListenMs = 5000; // when the port is taken, listening is retried; 0: never
};

struct StaticFile {
    QByteArray contentType;
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers;
};

class RemoteServer : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<HttpReply(const HttpRequest&)>;

    explicit RemoteServer(QObject* parent = nullptr);
    ~RemoteServer() override;

    // The API handler, run on this object's thread. An exception it raises becomes
    // an answer 500 with the exception's text.
    void SetHandler(Handler handler) { m_handler = std::move(handler); }
    // Files answered by path ("/" included) for GET and HEAD.
    void SetStaticFiles(QHash<QString, StaticFile> files) { m_static = std::move(files); }
    // Asked, on the server's thread, for a GET or HEAD of a path the files above do
    // not hold; nullopt: no such file. Set before Start.
    using FileSource = std::function<std::optional<StaticFile>(const HttpRequest&)>;
    void SetFileSource(FileSource source) { m_fileSource = std::move(source); }

    // Listens as configured (stopping first if running); false with a Spanish
    // message when the address cannot be used.
    bool Start(const RemoteServerConfig& config, QString* error);
    void Stop();
    bool IsListening() const;
    // Started, whether listening or waiting for the port to become free.
    bool IsStarted() const { return m_wanted; }
    quint16 Port() const { return m_port; }
    QHostAddress Address() const { return m_config.bind; }
    const RemoteServerConfig& Config() const { return m_config; }

    // Sends a text message to every event client; the last one is also sent to
    // each client that connects later.
    void Publish(const QByteArray& message);
    int EventClients() const { return m_eventClients; }

signals:
    void EventClientsChanged(int count);
    // Listening again after the port was taken.
    void ListeningResumed();

private:
    friend class RemoteServerWorker;
    HttpReply Run(const HttpRequest& request);
    bool Listen(QString* error, bool* addressInUse);
    void RetryListen();

    Handler m_handler;
    QHash<QString, StaticFile> m_static;
    FileSource m_fileSource;
    RemoteServerConfig m_config;
    QThread* m_thread = nullptr;
    QPointer<RemoteServerWorker> m_worker;
    quint16 m_port = 0;
    int m_eventClients = 0;
    // Bumped at each start and stop: work of an older server is recognised by it.
    quint64 m_generation = 0;
    bool m_wanted = false;
    class QTimer* m_retry = nullptr;
};
