#pragma once
// A small HTTP server on 127.0.0.1 for the title-lookup tests. It runs in a thread
// of its own, so a test can tell a window that keeps running from one that waits:
// the server answers whatever the UI thread does.
#include <QByteArray>
#include <QHostAddress>
#include <QMutex>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <memory>

class HttpTestServer {
public:
    struct Answer {
        int status = 200;
        QByteArray reason = "OK";
        QByteArray contentType = "text/html; charset=utf-8";
        QByteArray body;
        int delayMs = 0;            // wait this long before answering
        bool silent = false;        // never answer (the connection stays open)
        qint64 streamBytes = 0;     // send this many bytes of filler as the body
        bool announceLength = true; // a Content-Length header (else the close ends it)
    };

    HttpTestServer() {
        m_thread.start();
        m_home = std::make_unique<QObject>();
        m_home->moveToThread(&m_thread);
        QMetaObject::invokeMethod(
            m_home.get(),
            [this] {
                m_server = new QTcpServer();
                m_server->listen(QHostAddress::LocalHost, 0);
                m_port = m_server->serverPort();
                QObject::connect(m_server, &QTcpServer::newConnection, m_server, [this] {
                    while (QTcpSocket* s = m_server->nextPendingConnection())
                        Serve(s);
                });
            },
            Qt::BlockingQueuedConnection);
    }

    ~HttpTestServer() {
        QMetaObject::invokeMethod(
            m_home.get(), [this] { delete m_server; }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }

    // "127.0.0.1:<port>", for TAVORIA_TITLE_HOST.
    QString Host() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }
    quint16 Port() const { return m_port; }

    void SetAnswer(const Answer& answer) {
        QMutexLocker lock(&m_mutex);
        m_answer = answer;
    }
    void SetTitle(const QByteArray& titleHtml, int delayMs = 0) {
        Answer a;
        a.body = "<html><head><title>" + titleHtml + "</title></head><body>x</body></html>";
        a.delayMs = delayMs;
        SetAnswer(a);
    }
    // The heads of the requests received so far (request line and headers).
    QList<QByteArray> Requests() const {
        QMutexLocker lock(&m_mutex);
        return m_requests;
    }
    void ClearRequests() {
        QMutexLocker lock(&m_mutex);
        m_requests.clear();
    }

    // A port on 127.0.0.1 where nothing listens.
    static quint16 ClosedPort() {
        QTcpServer s;
        s.listen(QHostAddress::LocalHost, 0);
        const quint16 port = s.serverPort();
        s.close();
        return port;
    }

private:
    void Serve(QTcpSocket* socket) {
        auto buffer = std::make_shared<QByteArray>();
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
            if (buffer->contains("\r\n\r\n"))
                return; // one request per connection
            *buffer += socket->readAll();
            const qsizetype end = buffer->indexOf("\r\n\r\n");
            if (end < 0)
                return;
            Answer a;
            {
                QMutexLocker lock(&m_mutex);
                m_requests.push_back(buffer->left(end));
                a = m_answer;
            }
            if (a.silent)
                return;
            auto send = [socket, a] { Send(socket, a); };
            if (a.delayMs > 0)
                QTimer::singleShot(a.delayMs, socket, send);
            else
                send();
        });
    }

    static void Send(QTcpSocket* socket, const Answer& a) {
        QByteArray head = "HTTP/1.1 " + QByteArray::number(a.status) + ' ' + a.reason + "\r\n";
        if (!a.contentType.isEmpty())
            head += "Content-Type: " + a.contentType + "\r\n";
        const qint64 length = a.streamBytes > 0 ? a.streamBytes : a.body.size();
        if (a.announceLength)
            head += "Content-Length: " + QByteArray::number(length) + "\r\n";
        head += "Connection: close\r\n\r\n";
        socket->write(head);
        if (a.streamBytes <= 0) {
            socket->write(a.body);
            socket->disconnectFromHost();
            return;
        }
        // Filler in 64 KiB pieces, as fast as the client takes them.
        auto left = std::make_shared<qint64>(a.streamBytes);
        auto more = [socket, left] {
            static const QByteArray piece(64 * 1024, 'x');
            while (*left > 0 && socket->bytesToWrite() < 4 * piece.size()) {
                const qint64 n = std::min<qint64>(*left, piece.size());
                socket->write(piece.constData(), n);
                *left -= n;
            }
            if (*left == 0) {
                *left = -1;
                socket->disconnectFromHost();
            }
        };
        QObject::connect(socket, &QTcpSocket::bytesWritten, socket, more);
        more();
    }

    QThread m_thread;
    std::unique_ptr<QObject> m_home;
    QTcpServer* m_server = nullptr;
    quint16 m_port = 0;
    mutable QMutex m_mutex;
    Answer m_answer;
    QList<QByteArray> m_requests;
};
