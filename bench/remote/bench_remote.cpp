// Request -> handler -> answer latency of the remote control under 200 requests
// a second, against a static file served by python3's http.server on the same
// machine (and against single curl runs), with the longest gap between two paints
// of the desk's window meanwhile. Every connection goes to 127.0.0.1. Run inside
// a display with a sound server:
//
//   bench_remote [seconds-per-run]        (default 10)
//   bench_remote --attacks                 (the attacks alone)
//
// The attacks: a ping flood on the push channel (the desk's resident memory), idle
// and slow connections, floods of reads and orders from 127.0.0.2 with probes from
// 127.0.0.1 (their latency, and how long hora.txt goes unchanged), and token
// guessing.
#include "app/TfrmMain.h"
#include "remote/RemoteServer.h"

#include "player/VlcPlayerUnit.h"
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPainter>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QWebSocket>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

double Percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5))];
}

// Paints itself whenever it can; the longest time between two paints is the
// longest the window's thread went without painting.
class PaintProbe : public QWidget {
public:
    explicit PaintProbe(QWidget* parent) : QWidget(parent) {
        setFixedSize(4, 4);
        m_timer.setInterval(5);
        connect(&m_timer, &QTimer::timeout, this, [this] { update(); });
        m_timer.start();
        m_clock.start();
    }
    void Reset() {
        m_longest = 0;
        m_clock.restart();
    }
    qint64 Longest() const { return m_longest; }

protected:
    void paintEvent(QPaintEvent*) override {
        m_longest = std::max(m_longest, m_clock.restart());
        QPainter(this).fillRect(rect(), (m_flip = !m_flip) ? Qt::red : Qt::blue);
    }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_longest = 0;
    bool m_flip = false;
};

struct Target {
    quint16 port;
    QByteArray method;
    QByteArray path;
};

struct RunResult {
    std::vector<double> latencyMs; // all answers
    std::vector<double> okMs;      // answers 200
    std::map<int, int> statuses;
    int failed = 0;
    int sent = 0;
};

// Sends requests on a fixed schedule (rate per second), each on a new connection
// as curl does, from a thread of its own, and records the time to the whole answer.
class LoadClient : public QObject {
public:
    LoadClient(Target target, int rate, int seconds)
        : m_target(std::move(target)), m_rate(rate), m_seconds(seconds) {}

    void Start() {
        m_clock.start();
        m_tick = new QTimer(this);
        m_tick->setTimerType(Qt::PreciseTimer);
        m_tick->setInterval(1);
        connect(m_tick, &QTimer::timeout, this, [this] { Tick(); });
        m_tick->start();
    }
    RunResult result;
    bool done = false;

private:
    void Tick() {
        const qint64 now = m_clock.nsecsElapsed();
        const int total = m_rate * m_seconds;
        while (result.sent < total && qint64(result.sent) * 1000000000 / m_rate <= now)
            Send();
        if (result.sent >= total && m_open == 0) {
            m_tick->stop();
            done = true;
        }
    }
    void Send() {
        ++result.sent;
        ++m_open;
        auto* socket = new QTcpSocket(this);
        auto* buffer = new QByteArray();
        const qint64 start = m_clock.nsecsElapsed();
        auto finish = [this, socket, buffer, start](bool ok) {
            if (socket->property("done").toBool())
                return;
            socket->setProperty("done", true);
            const double ms = (m_clock.nsecsElapsed() - start) / 1e6;
            if (ok) {
                const int status = buffer->mid(9, 3).toInt();
                ++result.statuses[status];
                result.latencyMs.push_back(ms);
                if (status == 200)
                    result.okMs.push_back(ms);
            } else {
                ++result.failed;
            }
            --m_open;
            delete buffer;
            socket->deleteLater();
        };
        connect(socket, &QTcpSocket::connected, this, [this, socket] {
            socket->write(m_target.method + ' ' + m_target.path +
                          " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
        });
        connect(socket, &QTcpSocket::readyRead, this, [socket, buffer, finish] {
            *buffer += socket->readAll();
            const qsizetype end = buffer->indexOf("\r\n\r\n");
            if (end < 0)
                return;
            const qsizetype at = buffer->toLower().indexOf("content-length:");
            if (at < 0)
                return;
            const qsizetype eol = buffer->indexOf("\r\n", at);
            const int length = buffer->mid(at + 15, eol - at - 15).trimmed().toInt();
            if (buffer->size() >= end + 4 + length)
                finish(true);
        });
        connect(socket, &QTcpSocket::disconnected, this, [finish] { finish(false); });
        connect(socket, &QTcpSocket::errorOccurred, this, [finish] { finish(false); });
        socket->connectToHost(QHostAddress::LocalHost, m_target.port);
    }

    Target m_target;
    int m_rate;
    int m_seconds;
    QElapsedTimer m_clock;
    QTimer* m_tick = nullptr;
    int m_open = 0;
};

RunResult Load(const Target& target, int rate, int seconds, PaintProbe* probe, qint64* gap) {
    QThread thread;
    auto* client = new LoadClient(target, rate, seconds);
    client->moveToThread(&thread);
    thread.start();
    probe->Reset();
    QMetaObject::invokeMethod(client, [client] { client->Start(); });
    QElapsedTimer limit;
    limit.start();
    bool done = false;
    while (!done && limit.elapsed() < (seconds + 30) * 1000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QMetaObject::invokeMethod(
            client, [client, &done] { done = client->done; }, Qt::BlockingQueuedConnection);
    }
    *gap = probe->Longest();
    RunResult r;
    QMetaObject::invokeMethod(
        client, [client, &r] { r = client->result; }, Qt::BlockingQueuedConnection);
    thread.quit();
    thread.wait();
    delete client;
    return r;
}

void Print(const char* name, const RunResult& r, qint64 gap) {
    QStringList statuses;
    for (const auto& [status, count] : r.statuses)
        statuses << QStringLiteral("%1 x%2").arg(status).arg(count);
    std::printf("%-34s sent %5d  p50 %7.2f ms  p99 %7.2f ms  (200 only: p50 %7.2f p99 %7.2f)  "
                "answers: %s%s  longest paint gap %lld ms\n",
                name, r.sent, Percentile(r.latencyMs, 0.5), Percentile(r.latencyMs, 0.99),
                Percentile(r.okMs, 0.5), Percentile(r.okMs, 0.99),
                qPrintable(statuses.join(QStringLiteral(", "))),
                r.failed ? qPrintable(QStringLiteral(", failed x%1").arg(r.failed)) : "", gap);
    std::fflush(stdout);
}

// Single curl runs, one after another: the time curl reports for the whole exchange.
void Curl(const char* name, const QString& url, const QStringList& extra = {}) {
    std::vector<double> ms;
    for (int i = 0; i < 20; ++i) {
        QProcess curl;
        curl.start(QStringLiteral("curl"),
                   QStringList{"-s", "-o", "/dev/null", "-w", "%{time_total}"} + extra +
                       QStringList{url});
        // The desk answers on this thread: wait with its event loop running.
        QElapsedTimer t;
        t.start();
        while (curl.state() != QProcess::NotRunning && t.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        ms.push_back(curl.readAllStandardOutput().toDouble() * 1000);
    }
    std::printf("%-34s curl x20  p50 %7.2f ms  max %7.2f ms\n", name, Percentile(ms, 0.5),
                Percentile(ms, 1.0));
}

bool MakeClip(const QString& path, int seconds) {
    return QProcess::execute(
               QStringLiteral("ffmpeg"),
               {"-v",
                "error",
                "-y",
                "-f",
                "lavfi",
                "-i",
                QStringLiteral("testsrc=size=320x240:rate=25:duration=%1").arg(seconds),
                "-f",
                "lavfi",
                "-i",
                QStringLiteral("sine=f=440:duration=%1").arg(seconds),
                "-c:v",
                "libx264",
                "-preset",
                "ultrafast",
                "-pix_fmt",
                "yuv420p",
                "-c:a",
                "aac",
                "-shortest",
                path}) == 0;
}

// ---- Attacks: the clients run on threads of their own (blocking sockets), the
// window's thread only runs its event loop meanwhile.

qint64 ResidentKiB() {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    return 0;
}

std::unique_ptr<QTcpSocket> BlockingConnect(quint16 port, const QHostAddress& from = {}) {
    auto s = std::make_unique<QTcpSocket>();
    if (!from.isNull())
        s->bind(from);
    s->connectToHost(QHostAddress::LocalHost, port);
    if (!s->waitForConnected(5000))
        return nullptr;
    return s;
}

// One request on a connection; the status (0: none within 10 s).
int BlockingRequest(QTcpSocket& s, const QByteArray& request) {
    s.write(request);
    s.waitForBytesWritten(5000);
    QByteArray in;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 10000) {
        if (!s.waitForReadyRead(100) && s.state() != QAbstractSocket::ConnectedState)
            break;
        in += s.readAll();
        const qsizetype end = in.indexOf("\r\n\r\n");
        if (end < 0)
            continue;
        const qsizetype at = in.indexOf("Content-Length: ");
        const qint64 length =
            at >= 0 ? in.mid(at + 16, in.indexOf('\r', at) - at - 16).toLongLong() : 0;
        if (in.size() >= end + 4 + length)
            return in.mid(9, 3).toInt();
    }
    return 0;
}

// Runs the clients on their threads; the window's thread turns its event loop
// (and calls between, when given, after each turn).
void RunClients(const std::vector<std::function<void()>>& clients,
                const std::function<void()>& between = {}) {
    std::atomic<int> running{int(clients.size())};
    std::vector<std::thread> threads;
    for (const auto& c : clients)
        threads.emplace_back([&running, c] {
            c();
            --running;
        });
    while (running > 0) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (between)
            between();
    }
    for (auto& t : threads)
        t.join();
}

QByteArray Req(const QByteArray& method, const QByteArray& path, const QByteArray& body = {}) {
    return method + ' ' + path +
           " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\n\r\n" + body;
}

// Probes from 127.0.0.1 every 100 ms until stop: a new connection per probe.
void Probe(quint16 port, const std::atomic<bool>& stop, const QList<QByteArray>& requests,
           std::vector<double>* ms, QMap<int, int>* statuses) {
    int i = 0;
    while (!stop) {
        QElapsedTimer t;
        t.start();
        auto s = BlockingConnect(port);
        const int status = s ? BlockingRequest(*s, requests[i++ % requests.size()]) : 0;
        ms->push_back(t.nsecsElapsed() / 1e6);
        ++(*statuses)[status];
        QThread::msleep(100);
    }
}

QString StatusText(const QMap<int, int>& statuses) {
    QStringList parts;
    for (auto it = statuses.begin(); it != statuses.end(); ++it)
        parts << QStringLiteral("%1 x%2").arg(it.key()).arg(it.value());
    return parts.join(QStringLiteral(", "));
}

void Attacks(TfrmMain& w, const QString& work) {
    const QHostAddress other(QStringLiteral("127.0.0.2"));
    QString error;
    RemoteServerConfig config;
    config.port = 0;
    w.StartRemoteServer(config, &error);
    const quint16 port = w.Remote()->Port();
    std::printf("\nattacks (the desk's own limits)\n");

    // 1. Ping flood: one client pings and never reads, up to 400 MB. The player
    // settles first (its own memory is not the remote's).
    {
        QElapsedTimer settle;
        settle.start();
        while (settle.elapsed() < 4000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        const qint64 before = ResidentKiB();
        qint64 peak = before, sent = 0;
        bool dropped = false;
        // A plain socket that never reads (a Qt socket would read into its buffer
        // while it waits to write, and its memory would count as the desk's).
        RunClients({[&] {
            const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
            const int small = 16 * 1024;
            ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_port = htons(port);
            to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0)
                return;
            const QByteArray hello =
                "GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
                "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                "Sec-WebSocket-Version: 13\r\n\r\n";
            ::send(fd, hello.constData(), hello.size(), MSG_NOSIGNAL);
            char answer[256];
            const ssize_t got101 = ::recv(fd, answer, sizeof answer - 1, 0);
            if (got101 < 12 || QByteArray(answer, 12) != "HTTP/1.1 101")
                return;
            QByteArray ping;
            ping += char(0x89);
            ping += char(0x80 | 125);
            ping += QByteArray(4, '\0');
            ping += QByteArray(125, 'p');
            const QByteArray chunk = ping.repeated(2048);
            while (sent < 400LL * 1000 * 1000) {
                const ssize_t n = ::send(fd, chunk.constData(), chunk.size(), MSG_NOSIGNAL);
                if (n <= 0)
                    break;
                sent += n;
                peak = std::max(peak, ResidentKiB());
            }
            // Dropped: the desk closes the connection (a reset or the end of the stream).
            timeval wait{15, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
            char sink[65536];
            ssize_t got;
            while ((got = ::recv(fd, sink, sizeof sink, 0)) > 0) {
            }
            dropped = got == 0 || (got < 0 && errno == ECONNRESET) || sent < 400LL * 1000 * 1000;
            ::close(fd);
        }});
        peak = std::max(peak, ResidentKiB());
        std::printf("%-34s %lld MB of pings sent until the drop, client %s; resident %lld -> "
                    "%lld MB (+%lld MB)\n",
                    "ping flood (never reads)", sent / 1000000, dropped ? "dropped" : "NOT dropped",
                    before / 1024, peak / 1024, (peak - before) / 1024);
    }

    // 2. 64 idle connections and a reconnecting slow client from 127.0.0.2.
    {
        std::atomic<bool> stop{false};
        std::vector<double> ms;
        QMap<int, int> statuses;
        int idleHeld = 0;
        RunClients({[&] {
                        std::vector<std::unique_ptr<QTcpSocket>> idle;
                        for (int i = 0; i < 64; ++i)
                            if (auto s = BlockingConnect(port, other))
                                idle.push_back(std::move(s));
                        QElapsedTimer t;
                        t.start();
                        while (t.elapsed() < 8000) {
                            auto slow = BlockingConnect(port, other);
                            if (slow) {
                                slow->write("GET /api/st");
                                slow->waitForBytesWritten(1000);
                                slow->waitForDisconnected(1000);
                            }
                        }
                        for (auto& s : idle)
                            idleHeld += s->state() == QAbstractSocket::ConnectedState &&
                                        s->bytesAvailable() == 0;
                        stop = true;
                    },
                    [&] {
                        QThread::msleep(500);
                        Probe(port, stop, {Req("GET", "/api/state")}, &ms, &statuses);
                    }});
        std::printf("%-34s probes from 127.0.0.1: %s; max %.1f ms, p50 %.1f ms\n",
                    "64 idle + slow client (127.0.0.2)", qPrintable(StatusText(statuses)),
                    Percentile(ms, 1.0), Percentile(ms, 0.5));
    }

    // 3. Floods of reads (state, a 3,000-row playlist) and of orders from 127.0.0.2.
    for (int i = 0; i < 3000; ++i) {
        QTreeWidgetItem* row = w.lstPlayList->AddItem();
        for (const QString& t :
             {QStringLiteral("fila %1.mp4").arg(i), QStringLiteral("00:01:00"),
              QStringLiteral("/nada/fila %1.mp4").arg(i), QStringLiteral("60"), QString()})
            w.lstPlayList->AddSubItem(row, t);
    }
    const QString clockFile = QDir(work).filePath(QStringLiteral("hora.txt"));
    const struct {
        const char* name;
        QByteArray request;
    } floods[] = {{"flood GET /api/state", Req("GET", "/api/state")},
                  {"flood GET /api/playlist (3,000)", Req("GET", "/api/playlist")},
                  {"flood POST /api/marquee", Req("POST", "/api/marquee", "{\"text\":\"x\"}")}};
    for (const auto& flood : floods) {
        std::atomic<bool> stop{false};
        std::vector<double> ms;
        QMap<int, int> statuses;
        std::atomic<qint64> answered{0}, refused{0};
        std::vector<std::function<void()>> clients;
        for (int c = 0; c < 8; ++c)
            clients.push_back([&] {
                auto s = BlockingConnect(port, other);
                while (s && !stop) {
                    const int status = BlockingRequest(*s, flood.request);
                    ++answered;
                    refused += status == 429 || status == 503;
                    if (status == 0)
                        s = BlockingConnect(port, other);
                }
            });
        clients.push_back([&] {
            Probe(port, stop,
                  {Req("GET", "/api/state"), Req("POST", "/api/marquee", "{\"text\":\"y\"}")}, &ms,
                  &statuses);
        });
        // The clock file is watched from the window's thread between events.
        qint64 longestClock = 0;
        QElapsedTimer run, sinceChange;
        run.start();
        sinceChange.start();
        QByteArray lastClock;
        std::thread timer([&] {
            QThread::msleep(8000);
            stop = true;
        });
        RunClients(clients, [&] {
            QFile f(clockFile);
            if (!f.open(QIODevice::ReadOnly))
                return;
            const QByteArray now = f.readAll();
            if (now != lastClock) {
                if (!lastClock.isEmpty())
                    longestClock = std::max(longestClock, sinceChange.elapsed());
                lastClock = now;
                sinceChange.restart();
            }
        });
        timer.join();
        std::printf("%-34s 127.0.0.2: %lld answers, %lld refused; probes from 127.0.0.1: %s; "
                    "max %.1f ms, p50 %.1f ms; hora.txt longest unchanged %lld ms\n",
                    flood.name, qint64(answered), qint64(refused), qPrintable(StatusText(statuses)),
                    Percentile(ms, 1.0), Percentile(ms, 0.5), longestClock);
    }

    // 4. Token guessing from 127.0.0.2 on 8 connections for 5 s.
    {
        config.token = "bench-token-0123456789abcdef";
        w.StartRemoteServer(config, &error);
        const quint16 guarded = w.Remote()->Port();
        std::atomic<int> guesses{0};
        std::atomic<bool> stop{false};
        std::vector<std::function<void()>> clients;
        for (int c = 0; c < 8; ++c)
            clients.push_back([&, c] {
                while (!stop) {
                    auto s = BlockingConnect(guarded, other);
                    if (s && BlockingRequest(*s, Req("GET", "/api/state?token=g" +
                                                                QByteArray::number(c))) == 401)
                        ++guesses;
                }
            });
        clients.push_back([&] {
            QThread::msleep(5000);
            stop = true;
        });
        RunClients(clients);
        std::printf("%-34s %d answered in 5 s (%.1f per second)\n", "wrong tokens (127.0.0.2)",
                    int(guesses), guesses / 5.0);
    }
}
} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const bool attacksOnly = argc > 1 && QByteArray(argv[1]) == "--attacks";
    const int seconds = argc > 1 && !attacksOnly ? std::max(1, atoi(argv[1])) : 10;
    const int rate = 200;
    QTemporaryDir work;
    QDir::setCurrent(work.path());
    QStringList clips;
    for (int i = 0; i < 3; ++i) {
        clips << work.filePath(QStringLiteral("clip%1.mp4").arg(i));
        if (!MakeClip(clips.last(), 60)) {
            std::fprintf(stderr, "ffmpeg failed\n");
            return 1;
        }
    }
    {
        QFile f(work.filePath(QStringLiteral("static.json")));
        f.open(QIODevice::WriteOnly);
        f.write(QByteArray(400, 'x'));
    }

    TfrmMain w;
    w.show();
    auto* probe = new PaintProbe(w.centralWidget());
    probe->move(0, 0);
    probe->show();
    for (const QString& clip : clips) {
        QTreeWidgetItem* row = w.lstPlayList->AddItem();
        for (const QString& s : {QFileInfo(clip).fileName(), QStringLiteral("00:01:00"), clip,
                                 QStringLiteral("60"), QString()})
            w.lstPlayList->AddSubItem(row, s);
    }
    w.txtCurrentSong->setText(work.path());
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 1000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);

    if (attacksOnly) {
        w.cmdNextClick();
        Attacks(w, work.path());
        return 0;
    }
    QString error;
    RemoteServerConfig config;
    config.port = 0;
    if (!w.StartRemoteServer(config, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    const quint16 port = w.Remote()->Port();

    // The static file's server on a free port.
    QTcpServer probePort;
    probePort.listen(QHostAddress::LocalHost);
    const quint16 staticPort = probePort.serverPort();
    probePort.close();
    QProcess python;
    python.setWorkingDirectory(work.path());
    python.start(QStringLiteral("python3"),
                 {"-m", "http.server", QString::number(staticPort), "--bind", "127.0.0.1"});
    python.waitForStarted(5000);
    QElapsedTimer wait;
    wait.start();
    while (wait.elapsed() < 10000) {
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, staticPort);
        if (s.waitForConnected(200))
            break;
        QThread::msleep(100);
    }

    std::printf("remote control benchmark: %d requests/s for %d s per run, a new connection per "
                "request\n",
                rate, seconds);
    // Playing while measured, as on air.
    w.cmdNextClick();
    settle.restart();
    while (settle.elapsed() < 2000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);

    qint64 gap = 0;
    RunResult r = Load({port, "GET", "/api/state"}, rate, seconds, probe, &gap);
    Print("GET /api/state", r, gap);
    r = Load({staticPort, "GET", "/static.json"}, rate, seconds, probe, &gap);
    Print("python3 http.server static file", r, gap);
    r = Load({port, "GET", "/remote.css"}, rate, seconds, probe, &gap);
    Print("GET /remote.css (desk, static)", r, gap);
    r = Load({port, "POST", "/api/next"}, rate, seconds, probe, &gap);
    Print("POST /api/next (default limits)", r, gap);

    // The handler path without the rate limit: every order the desk can take.
    config.actionsPerSecond = 0;
    w.StartRemoteServer(config, &error);
    const quint16 unlimited = w.Remote()->Port();
    r = Load({unlimited, "POST", "/api/next"}, rate, seconds, probe, &gap);
    Print("POST /api/next (no rate limit)", r, gap);
    // The push channel: from the window showing a change to the client seeing it.
    {
        QWebSocket events;
        QElapsedTimer clock;
        clock.start();
        QList<QPair<qint64, QJsonObject>> received;
        QObject::connect(&events, &QWebSocket::textMessageReceived, [&](const QString& text) {
            received.append({clock.nsecsElapsed(), QJsonDocument::fromJson(text.toUtf8())
                                                       .object()
                                                       .value(QStringLiteral("state"))
                                                       .toObject()});
        });
        events.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/api/events").arg(unlimited)));
        settle.restart();
        while (settle.elapsed() < 1000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QTreeWidgetItem* caption = w.lstTextos->AddItem();
        for (const QString& t : {QStringLiteral("Ana"), QStringLiteral("Charla"), QString()})
            w.lstTextos->AddSubItem(caption, t);
        std::vector<double> nextDelay, captionDelay;
        qint64 shown = 0;
        auto conn = QObject::connect(w.vlcPlayer, &TVlcPlayer::OnMediaPlayerPlaying,
                                     [&] { shown = clock.nsecsElapsed(); });
        for (int i = 0; i < 5; ++i) {
            shown = 0;
            const int from = int(received.size());
            w.cmdNextClick();
            const int row = w.CurrentIndex;
            settle.restart();
            while (settle.elapsed() < 2500)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            for (int k = from; k < received.size() && shown; ++k)
                if (received[k].second.value(QStringLiteral("state")).toString() ==
                        QStringLiteral("playing") &&
                    received[k]
                            .second.value(QStringLiteral("current"))
                            .toObject()
                            .value(QStringLiteral("index")) == row &&
                    received[k].first >= shown) {
                    nextDelay.push_back((received[k].first - shown) / 1e6);
                    break;
                }
            const int before = int(received.size());
            w.PublishCaption(0);
            const qint64 published = clock.nsecsElapsed();
            settle.restart();
            while (settle.elapsed() < 500)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            if (received.size() > before)
                captionDelay.push_back((received[before].first - published) / 1e6);
            w.lstTextos->SetSubItem(caption, 0, QStringLiteral("Ana %1").arg(i));
        }
        QObject::disconnect(conn);
        std::printf("%-34s Next: %zu seen, max %6.2f ms; caption: %zu seen, max %6.2f ms\n",
                    "push channel delay", nextDelay.size(), Percentile(nextDelay, 1.0),
                    captionDelay.size(), Percentile(captionDelay, 1.0));
    }

    // What one Next costs the window's thread by itself (a click of the button).
    std::vector<double> nextMs;
    for (int i = 0; i < 5; ++i) {
        QElapsedTimer t;
        t.start();
        w.cmdNextClick();
        nextMs.push_back(t.nsecsElapsed() / 1e6);
        settle.restart();
        while (settle.elapsed() < 1500)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    std::printf("%-34s x5  p50 %7.2f ms  max %7.2f ms\n", "cmdNextClick itself (playing)",
                Percentile(nextMs, 0.5), Percentile(nextMs, 1.0));
    // Idle, for reference: the window only playing.
    probe->Reset();
    settle.restart();
    while (settle.elapsed() < seconds * 1000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    std::printf("%-34s longest paint gap %lld ms\n", "no requests (playing)", probe->Longest());

    Curl("curl /api/state", QStringLiteral("http://127.0.0.1:%1/api/state").arg(unlimited));
    Curl("curl python3 static file",
         QStringLiteral("http://127.0.0.1:%1/static.json").arg(staticPort));
    python.terminate();
    python.waitForFinished(3000);
    Attacks(w, work.path());
    return 0;
}
