// The remote control's server under hostile clients, without a window: a handler
// that records what reaches it stands in for the desk. Every client connects to
// 127.0.0.1, from 127.0.0.1 or, as a second address, from 127.0.0.2.
#include "remote/HttpMessage.h"
#include "remote/RemoteServer.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QtTest>

#include <memory>
#include <vector>

class TstRemoteServer : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void pingFloodIsBoundedAndDropped();
    void idleAndSlowConnectionsLockOutNoOtherAddress();
    void eventClientCapCountsUpgradesInBurst();
    void floodingAddressIsRefusedOthersServed_data();
    void floodingAddressIsRefusedOthersServed();
    void wrongTokensAreSlowedPerAddress();
    void restartDuringRequests();
    void upgradeErrorsAreJson_data();
    void upgradeErrorsAreJson();
    void takenPortIsRetried();

private:
    quint16 Start(RemoteServerConfig config = {});

    std::unique_ptr<RemoteServer> m_server;
    QStringList m_calls;
    std::function<void(const HttpRequest&)> m_onRequest;
};

namespace {

const QHostAddress kOther(QStringLiteral("127.0.0.2"));

// A raw client connection, from a chosen loopback address.
std::unique_ptr<QTcpSocket> Connect(quint16 port, const QHostAddress& from = {}) {
    auto socket = std::make_unique<QTcpSocket>();
    if (!from.isNull())
        socket->bind(from);
    socket->connectToHost(QHostAddress::LocalHost, port);
    if (!socket->waitForConnected(5000))
        return nullptr;
    return socket;
}

// n connections from one address; empty when one of them fails.
std::vector<std::unique_ptr<QTcpSocket>> ConnectMany(quint16 port, int n,
                                                     const QHostAddress& from = {}) {
    std::vector<std::unique_ptr<QTcpSocket>> sockets;
    for (int i = 0; i < n; ++i) {
        sockets.push_back(Connect(port, from));
        if (!sockets.back())
            return {};
    }
    return sockets;
}

QByteArray Get(const QByteArray& path, const QByteArray& extra = {}) {
    return "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extra + "\r\n";
}

QByteArray Post(const QByteArray& path, const QByteArray& body) {
    return "POST " + path +
           " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\n\r\n" + body;
}

QByteArray Upgrade(const QByteArray& headers = "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                                               "Sec-WebSocket-Version: 13\r\n") {
    return "GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
           "Connection: Upgrade\r\n" +
           headers + "\r\n";
}

// A masked client frame.
QByteArray ClientFrame(quint8 opcode, const QByteArray& payload) {
    QByteArray out;
    out += char(0x80 | opcode);
    out += char(0x80 | payload.size()); // payloads here stay under 126 bytes
    const char mask[4] = {0x12, 0x34, 0x56, 0x78};
    out.append(mask, 4);
    for (int i = 0; i < payload.size(); ++i)
        out += char(payload[i] ^ mask[i & 3]);
    return out;
}

// The statuses of the answers read so far on a connection, pipelined answers
// included (each answer starts a line with "HTTP/1.1 ").
QList<int> Statuses(const QByteArray& bytes) {
    QList<int> out;
    qsizetype at = 0;
    while ((at = bytes.indexOf("HTTP/1.1 ", at)) >= 0) {
        out << bytes.mid(at + 9, 3).toInt();
        at += 9;
    }
    return out;
}

// One request on a fresh connection from 127.0.0.1; the status, 0 when none came
// within the time.
int Exchange(quint16 port, const QByteArray& request, QByteArray* answer = nullptr,
             int timeoutMs = 10000, const QHostAddress& from = {}) {
    auto socket = Connect(port, from);
    if (!socket)
        return 0;
    socket->write(request);
    QByteArray bytes;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        socket->waitForReadyRead(5);
        bytes += socket->readAll();
        const qsizetype end = bytes.indexOf("\r\n\r\n");
        if (end >= 0) {
            const qsizetype lengthAt = bytes.toLower().indexOf("content-length: ");
            const qsizetype length =
                lengthAt >= 0
                    ? bytes.mid(lengthAt + 16, bytes.indexOf('\r', lengthAt) - lengthAt - 16)
                          .toLongLong()
                    : 0;
            if (bytes.size() >= end + 4 + length)
                break;
        }
        if (socket->state() == QAbstractSocket::UnconnectedState)
            break;
    }
    if (answer)
        *answer = bytes;
    const QList<int> statuses = Statuses(bytes);
    return statuses.isEmpty() ? 0 : statuses.first();
}

} // namespace

void TstRemoteServer::init() {
    m_calls.clear();
    m_onRequest = nullptr;
    m_server = std::make_unique<RemoteServer>();
    m_server->SetHandler([this](const HttpRequest& r) {
        m_calls << QString::fromLatin1(r.method) + ' ' + r.path;
        if (m_onRequest)
            m_onRequest(r);
        return JsonReply(r.method == "POST" ? 201 : 200, QByteArray("{\"ok\":true}"));
    });
}

void TstRemoteServer::cleanup() {
    m_server.reset();
}

quint16 TstRemoteServer::Start(RemoteServerConfig config) {
    config.port = 0;
    QString error;
    if (!m_server->Start(config, &error)) {
        qWarning("%s", qPrintable(error));
        return 0;
    }
    return m_server->Port();
}

void TstRemoteServer::pingFloodIsBoundedAndDropped() {
    const quint16 port = Start();
    QVERIFY(port);
    auto ws = Connect(port);
    QVERIFY(ws);
    ws->write(Upgrade());
    QTRY_VERIFY_WITH_TIMEOUT(ws->canReadLine(), 5000);
    QVERIFY(ws->readLine().startsWith("HTTP/1.1 101 "));
    QTRY_COMPARE_WITH_TIMEOUT(m_server->EventClients(), 1, 5000);
    // A client that pings and never reads: what the desk owes it (pongs) is bounded,
    // and past the bound the client is dropped, within a bounded amount of pings.
    ws->setReadBufferSize(4096);
    const QByteArray pings = ClientFrame(0x9, QByteArray(125, 'p')).repeated(512); // 64 KiB
    qint64 sent = 0;
    constexpr qint64 kMaxSent = 256 * 1024 * 1024;
    QElapsedTimer clock;
    clock.start();
    while (m_server->EventClients() != 0 && sent < kMaxSent && clock.elapsed() < 60000 &&
           ws->state() == QAbstractSocket::ConnectedState) {
        if (ws->bytesToWrite() < 4 * pings.size()) {
            ws->write(pings);
            sent += pings.size();
        }
        ws->waitForBytesWritten(5);
        QCoreApplication::processEvents();
    }
    qInfo("ping flood: client dropped after %lld KiB of pings", sent / 1024);
    QCOMPARE(m_server->EventClients(), 0);
    // The client, reading at last, gets what was queued and then the close frame.
    ws->setReadBufferSize(0);
    QByteArray received;
    QTRY_VERIFY_WITH_TIMEOUT(
        (received += ws->readAll(), ws->state() == QAbstractSocket::UnconnectedState), 20000);
    received += ws->readAll();
    qsizetype at = 0;
    int pongs = 0;
    quint8 last = 0;
    QByteArray lastPayload;
    while (received.size() - at >= 2) {
        const quint8 opcode = quint8(received[at]) & 0x0f;
        qsizetype n = quint8(received[at + 1]) & 0x7f;
        qsizetype head = 2;
        if (n == 126) {
            n = (qsizetype(quint8(received[at + 2])) << 8) | quint8(received[at + 3]);
            head = 4;
        }
        QVERIFY(received.size() - at >= head + n);
        last = opcode;
        lastPayload = received.mid(at + head, n);
        pongs += opcode == 0xA;
        at += head + n;
    }
    QVERIFY(pongs > 0);
    QCOMPARE(last, quint8(0x8));
    QCOMPARE(quint8(lastPayload[0]) << 8 | quint8(lastPayload[1]), 1008);
}

void TstRemoteServer::idleAndSlowConnectionsLockOutNoOtherAddress() {
    RemoteServerConfig config;
    config.firstByteTimeoutMs = 800;
    config.headTimeoutMs = 1500;
    const quint16 port = Start(config);
    QVERIFY(port);
    // 64 connections from 127.0.0.2 that send nothing: 8 are held, the others are
    // refused at once.
    auto idle = ConnectMany(port, 64, kOther);
    QVERIFY(!idle.empty());
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            int refused = 0;
            for (auto& s : idle)
                refused += s->peek(64).startsWith("HTTP/1.1 503 ");
            return refused == 56;
        }(),
        10000);
    // A slow client of the same address drips a head, a byte at a time.
    auto slow = Connect(port, kOther);
    QVERIFY(slow);
    // 127.0.0.1 is served all the while.
    for (int i = 0; i < 10; ++i)
        QCOMPARE(Exchange(port, Get("/api/state")), 200);
    // A connection that never sends is closed after the first-byte time; one whose
    // head does not arrive whole in time gets 408.
    auto silent = Connect(port);
    auto dripping = Connect(port);
    QVERIFY(silent && dripping);
    const QByteArray head = Get("/api/state");
    QElapsedTimer clock;
    clock.start();
    int dripped = 0;
    while (dripping->state() == QAbstractSocket::ConnectedState && clock.elapsed() < 10000 &&
           dripped < head.size() - 1) {
        dripping->write(head.mid(dripped++, 1));
        dripping->flush();
        QTest::qWait(50);
    }
    QTRY_COMPARE_WITH_TIMEOUT(silent->state(), QAbstractSocket::UnconnectedState, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(dripping->state(), QAbstractSocket::UnconnectedState, 10000);
    QVERIFY2(dripping->readAll().startsWith("HTTP/1.1 408 "), "no 408 for a late head");
    QVERIFY(clock.elapsed() < 9000); // well before the 10 s for a whole request
    // Closing the idle ones frees the place of 127.0.0.2 as well.
    idle.clear();
    slow.reset();
    auto again = Connect(port, kOther);
    QVERIFY(again);
    again->write(Get("/api/state"));
    QTRY_VERIFY_WITH_TIMEOUT(again->peek(64).startsWith("HTTP/1.1 200 "), 10000);
}

void TstRemoteServer::eventClientCapCountsUpgradesInBurst() {
    RemoteServerConfig config;
    config.maxConnectionsPerPeer = 100;
    config.maxEventClients = 32;
    const quint16 port = Start(config);
    QVERIFY(port);
    // 60 upgrades sent at once, before any answer.
    auto sockets = ConnectMany(port, 60);
    QVERIFY(!sockets.empty());
    for (auto& s : sockets)
        s->write(Upgrade());
    auto count = [&](const QByteArray& status) {
        int n = 0;
        for (auto& s : sockets)
            n += s->peek(16).startsWith("HTTP/1.1 " + status);
        return n;
    };
    QTRY_COMPARE_WITH_TIMEOUT(count("101") + count("503"), 60, 15000);
    QCOMPARE(count("101"), 32);
    QCOMPARE(m_server->EventClients(), 32);
}

void TstRemoteServer::floodingAddressIsRefusedOthersServed_data() {
    QTest::addColumn<QByteArray>("flood");
    QTest::newRow("reads") << Get("/api/state");
    QTest::newRow("orders") << Post("/api/marquee", "{\"text\":\"x\"}");
}

void TstRemoteServer::floodingAddressIsRefusedOthersServed() {
    QFETCH(QByteArray, flood);
    const quint16 port = Start();
    QVERIFY(port);
    // Each request costs the handler's thread a little, as the window would.
    m_onRequest = [](const HttpRequest&) { QThread::usleep(2000); };
    // 8 connections of 127.0.0.2 pipeline requests as fast as they are taken.
    auto flooders = ConnectMany(port, 8, kOther);
    QVERIFY(!flooders.empty());
    QByteArray answers[8];
    QElapsedTimer clock;
    clock.start();
    int probes = 0;
    QList<int> probeStatus;
    while (clock.elapsed() < 3000 || probes < 10) {
        for (int i = 0; i < 8; ++i) {
            if (flooders[i]->bytesToWrite() < 64 * 1024)
                flooders[i]->write(flood.repeated(50));
            answers[i] += flooders[i]->readAll();
        }
        // 127.0.0.1 reads the state and gives an order now and then.
        if (clock.elapsed() > probes * 250) {
            probeStatus << Exchange(port, Get("/api/state"))
                        << Exchange(port, Post("/api/next", {}));
            ++probes;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    QHash<int, int> flooded;
    for (const QByteArray& a : answers)
        for (int status : Statuses(a))
            ++flooded[status];
    qInfo("flood of %s: answers to 127.0.0.2 200 x%d, 201 x%d, 429 x%d, 503 x%d; probes %s",
          QTest::currentDataTag(), flooded.value(200), flooded.value(201), flooded.value(429),
          flooded.value(503), qPrintable([&] {
              QStringList parts;
              for (int s : probeStatus)
                  parts << QString::number(s);
              return parts.join(QLatin1Char(' '));
          }()));
    QVERIFY(flooded.value(429) > 0);
    // Refused one per gap (20 ms): the flooding address is held back to a few dozen
    // answers a second, where it had thousands.
    const qint64 elapsed = clock.elapsed();
    QVERIFY2(
        flooded.value(429) <= elapsed / RemoteServerConfig().refusalGapMs + 8,
        qPrintable(QStringLiteral("%1 refusals in %2 ms").arg(flooded.value(429)).arg(elapsed)));
    for (int i = 0; i < probeStatus.size(); ++i)
        QVERIFY2(probeStatus[i] == (i % 2 ? 201 : 200),
                 qPrintable(QStringLiteral("probe %1: %2").arg(i).arg(probeStatus[i])));
}

void TstRemoteServer::wrongTokensAreSlowedPerAddress() {
    RemoteServerConfig config;
    config.token = "right-token-0123456789";
    const quint16 port = Start(config);
    QVERIFY(port);
    // 127.0.0.2 guesses on 8 connections, reconnecting after each answer.
    std::vector<std::unique_ptr<QTcpSocket>> guessers(8);
    int answered = 0;
    QElapsedTimer clock;
    clock.start();
    constexpr int kRunMs = 3000;
    while (clock.elapsed() < kRunMs) {
        for (auto& g : guessers) {
            if (g && g->peek(16).startsWith("HTTP/1.1 401")) {
                ++answered;
                g.reset();
            }
            if (!g || g->state() == QAbstractSocket::UnconnectedState) {
                g = Connect(port, kOther);
                QVERIFY(g);
                g->write(Get("/api/state?token=guess" + QByteArray::number(answered)));
            }
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    // Five free failures, then one a second.
    qInfo("wrong tokens: %d answered in %d ms", answered, kRunMs);
    QVERIFY2(answered <= 5 + kRunMs / 1000 + 2, qPrintable(QString::number(answered)));
    QVERIFY(answered >= 5);
    // Meanwhile another address is answered at once, right or wrong.
    QCOMPARE(Exchange(port, Get("/api/state?token=right-token-0123456789")), 200);
    QCOMPARE(Exchange(port, Get("/api/state?token=nope"), nullptr, 900), 401);
    // The slowed address still gets in with the right token. Its guessing
    // connections may still hold its share of connections for a moment (503): it
    // asks again, as a client would.
    guessers.clear();
    QList<int> statuses;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            statuses << Exchange(port, Get("/api/state?token=right-token-0123456789"), nullptr,
                                 2000, kOther);
            return statuses.last() == 200;
        }(),
        20000);
    for (int s : std::as_const(statuses))
        QVERIFY2(s == 200 || s == 503 || s == 0, qPrintable(QString::number(s)));
}

void TstRemoteServer::restartDuringRequests() {
    RemoteServerConfig config;
    config.maxPendingJobsPerPeer = 1;
    const quint16 port = Start(config);
    QVERIFY(port);
    // While the handler runs the first request, a read and an order reach the
    // server and wait for the handler's thread; then the server is restarted.
    std::unique_ptr<QTcpSocket> read, order;
    bool restarted = false;
    m_onRequest = [&](const HttpRequest& r) {
        if (r.path != QStringLiteral("/api/restart") || restarted)
            return;
        restarted = true;
        read = Connect(port, kOther);
        order = Connect(port, QHostAddress(QStringLiteral("127.0.0.3")));
        if (!read || !order)
            return;
        read->write(Get("/api/read"));
        order->write(Post("/api/order", "{}"));
        read->waitForBytesWritten(1000);
        order->waitForBytesWritten(1000);
        QThread::msleep(400); // the server's thread takes both meanwhile
        RemoteServerConfig again = config;
        again.port = port;
        QString error;
        if (!m_server->Start(again, &error))
            qWarning("%s", qPrintable(error));
    };
    auto first = Connect(port);
    QVERIFY(first);
    first->write(Get("/api/restart"));
    QTRY_VERIFY_WITH_TIMEOUT(restarted, 5000);
    QVERIFY(read && order);
    QVERIFY(m_server->IsListening());
    // The stopped server's requests end with it: not answered, and neither the
    // read nor the order runs on the new one.
    QTRY_COMPARE_WITH_TIMEOUT(first->state(), QAbstractSocket::UnconnectedState, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(read->state(), QAbstractSocket::UnconnectedState, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(order->state(), QAbstractSocket::UnconnectedState, 5000);
    QTest::qWait(300);
    QCOMPARE(m_calls, QStringList{QStringLiteral("GET /api/restart")});
    QCOMPARE(first->readAll(), QByteArray());
    QCOMPARE(read->readAll(), QByteArray());
    QCOMPARE(order->readAll(), QByteArray());
    // The new server's counters are its own (one request at a time per address
    // here), so each of its requests is served in turn.
    for (int i = 0; i < 5; ++i)
        QCOMPARE(Exchange(port, Get("/api/state")), 200);
    QCOMPARE(Exchange(port, Post("/api/next", {})), 201);
}

void TstRemoteServer::upgradeErrorsAreJson_data() {
    QTest::addColumn<QByteArray>("headers");
    QTest::addColumn<int>("status");
    QTest::newRow("no key") << QByteArray("Sec-WebSocket-Version: 13\r\n") << 400;
    QTest::newRow("short key") << QByteArray("Sec-WebSocket-Key: c2hvcnQ=\r\n"
                                             "Sec-WebSocket-Version: 13\r\n")
                               << 400;
    QTest::newRow("version 8") << QByteArray("Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                                             "Sec-WebSocket-Version: 8\r\n")
                               << 400;
    QTest::newRow("no version") << QByteArray("Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n")
                                << 400;
    QTest::newRow("right") << QByteArray("Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                                         "Sec-WebSocket-Version: 13\r\n")
                           << 101;
}

void TstRemoteServer::upgradeErrorsAreJson() {
    QFETCH(QByteArray, headers);
    QFETCH(int, status);
    const quint16 port = Start();
    QVERIFY(port);
    QByteArray answer;
    QCOMPARE(Exchange(port, Upgrade(headers), &answer, status == 101 ? 1000 : 10000), status);
    if (status == 101) {
        // The accept value of the handshake's own example.
        QVERIFY(answer.contains("Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n"));
        return;
    }
    const QByteArray body = answer.mid(answer.indexOf("\r\n\r\n") + 4);
    const QJsonObject json = QJsonDocument::fromJson(body).object();
    QCOMPARE(json.value(QStringLiteral("status")).toInt(), status);
    QVERIFY(!json.value(QStringLiteral("error")).toString().isEmpty());
}

void TstRemoteServer::takenPortIsRetried() {
    QTcpServer holder;
    QVERIFY(holder.listen(QHostAddress::LocalHost, 0));
    RemoteServerConfig config;
    config.port = holder.serverPort();
    config.retryListenMs = 300;
    QString error;
    QVERIFY(!m_server->Start(config, &error));
    QVERIFY2(error.contains(QStringLiteral("reintentará")), qPrintable(error));
    QVERIFY(m_server->IsStarted());
    QVERIFY(!m_server->IsListening());
    QSignalSpy resumed(m_server.get(), &RemoteServer::ListeningResumed);
    QTest::qWait(1000); // still taken: nothing listens
    QVERIFY(!m_server->IsListening());
    holder.close();
    QTRY_VERIFY_WITH_TIMEOUT(m_server->IsListening(), 10000);
    QCOMPARE(resumed.count(), 1);
    QCOMPARE(m_server->Port(), config.port);
    QCOMPARE(Exchange(config.port, Post("/api/x", {})), 201);
    // Stopping ends the retries too.
    m_server->Stop();
    QVERIFY(!m_server->IsStarted());
}

QTEST_MAIN(TstRemoteServer)
#include "tst_remoteserver.moc"
