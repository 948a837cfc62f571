// The remote control against a real window: every route through a real HTTP
// client, the errors and limits through raw connections, the push channel through
// a WebSocket client and MPRIS through playerctl on a private session bus.
#include "../player/PlayerTestSupport.h"
#include "RemoteTestSupport.h"
#include "app/CuePlayer.h"
#include "app/TfrmMain.h"
#include "media/TIniDocument.h"
#include "remote/Mpris.h"
#include "remote/RemoteServer.h"
#include "remote/RemoteSettings.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocalServer>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QSpinBox>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimeEdit>
#include <QToolButton>
#include <memory>

namespace {

void AddRow(TfrmMain* w, const QString& path) {
    QTreeWidgetItem* row = w->lstPlayList->AddItem();
    for (const QString& s : {QFileInfo(path).fileName(), QStringLiteral("00:00:00"), path,
                             QStringLiteral("0"), QString()})
        w->lstPlayList->AddSubItem(row, s);
}

void AddCaptionRow(TfrmMain* w, const QString& speaker, const QString& talk,
                   const QString& details) {
    QTreeWidgetItem* row = w->lstTextos->AddItem();
    for (const QString& s : {speaker, talk, details})
        w->lstTextos->AddSubItem(row, s);
}

QString StateOf(HttpClient& c) {
    return c.Get(QStringLiteral("/api/state")).json.value(QStringLiteral("state")).toString();
}

} // namespace

class TstRemote : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();
    void transportThroughTheApi();
    void stateFollowsEditsOfThePlaylist();
    void captionsAndEffectsThroughTheApi();
    void errorsAreJsonWithTheirStatus();
    void malformedAndOversizedRequests();
    void accessOnLoopbackAndWithToken();
    void slowHalfOpenAndVanishingClients();
    void floodsLeaveTheDeskPlaying();
    void pushChannelFollowsTheWindow();
    void editorCountdownAndMarquee();
    void overlayTextsFollowTheFiles();
    void overlayPagesByNameWithOverrides();
    void mprisDrivesTheDesk();
    void settingsSectionInConfigIni();
    void generatedTokenAndItsUse();
    void hungSessionBusNeverBlocksTheWindow();
    void playlistAnswerFollowsEveryChange();

private:
    quint16 Start(RemoteServerConfig config = {});

    std::unique_ptr<TfrmMain> m_w;
    std::unique_ptr<QTemporaryDir> m_work;
    QTemporaryDir m_media;
    QString m_clip[3];
    QProcess m_bus;
    QString m_busAddress;
};

void TstRemote::initTestCase() {
    QVERIFY(m_media.isValid());
    for (int i = 0; i < 3; ++i) {
        m_clip[i] = m_media.filePath(QStringLiteral("clip%1.mp4").arg(i));
        QVERIFY(MakeVideoClip(m_clip[i], 12));
    }
    // A private session bus for MPRIS, in place before any window exists.
    const QString busPath = m_media.filePath(QStringLiteral("bus"));
    m_bus.setProgram(QStringLiteral("dbus-daemon"));
    m_bus.setArguments({QStringLiteral("--config-file=/usr/share/dbus-1/session.conf"),
                        QStringLiteral("--address=unix:path=") + busPath,
                        QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
                        QStringLiteral("--print-address=1")});
    m_bus.start();
    QVERIFY(m_bus.waitForStarted(5000));
    QTRY_VERIFY_WITH_TIMEOUT(m_bus.canReadLine(), 5000);
    m_busAddress = QString::fromUtf8(m_bus.readLine()).trimmed();
    QVERIFY(!m_busAddress.isEmpty());
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_busAddress.toUtf8());
}

void TstRemote::cleanupTestCase() {
    m_bus.kill();
    m_bus.waitForFinished(3000);
}

void TstRemote::init() {
    m_work = std::make_unique<QTemporaryDir>();
    QVERIFY(QDir::setCurrent(m_work->path()));
    m_w = std::make_unique<TfrmMain>();
    m_w->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_w.get()));
    m_w->txtCurrentSong->setText(m_work->path());
    m_w->Errors().ResetForTests();
}

void TstRemote::cleanup() {
    m_w.reset();
    QDir::setCurrent(QDir::tempPath());
    m_work.reset();
}

quint16 TstRemote::Start(RemoteServerConfig config) {
    config.port = 0;
    QString error;
    if (!m_w->StartRemoteServer(config, &error)) {
        qWarning("%s", qPrintable(error));
        return 0;
    }
    return m_w->Remote()->Port();
}

void TstRemote::stateFollowsEditsOfThePlaylist() {
    for (const QString& clip : m_clip)
        AddRow(m_w.get(), clip);
    HttpClient c(Start());
    QCOMPARE(c.Post(QStringLiteral("/api/next")).status, 200);
    QCOMPARE(c.Post(QStringLiteral("/api/next")).status, 200);
    QCOMPARE(m_w->CurrentIndex, 1);
    // The first row goes while the second plays: the state still names the second
    // clip as playing and the third as next.
    m_w->lstPlayList->clearSelection();
    m_w->lstPlayList->Row(0)->setSelected(true);
    QTest::keyClick(m_w->lstPlayList, Qt::Key_Delete);
    const QJsonObject s = c.Get(QStringLiteral("/api/state")).json;
    const QJsonObject current = s.value(QStringLiteral("current")).toObject();
    QCOMPARE(current.value(QStringLiteral("path")).toString(), m_clip[1]);
    QCOMPARE(current.value(QStringLiteral("index")).toInt(), 0);
    QCOMPARE(s.value(QStringLiteral("next")).toObject().value(QStringLiteral("path")).toString(),
             m_clip[2]);
    const QJsonArray rows =
        c.Get(QStringLiteral("/api/playlist")).json.value(QStringLiteral("rows")).toArray();
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows[0].toObject().value(QStringLiteral("playing")).toBool(), true);
    QCOMPARE(rows[1].toObject().value(QStringLiteral("next")).toBool(), true);
    // The playing row itself goes: no row is named as playing; the clip plays on.
    m_w->lstPlayList->clearSelection();
    m_w->lstPlayList->Row(0)->setSelected(true);
    QTest::keyClick(m_w->lstPlayList, Qt::Key_Delete);
    QVERIFY(c.Get(QStringLiteral("/api/state"))
                .json.value(QStringLiteral("current"))
                .toObject()
                .isEmpty());
    m_w->vlcPlayer->Stop(1000);
}

void TstRemote::transportThroughTheApi() {
    for (const QString& clip : m_clip)
        AddRow(m_w.get(), clip);
    HttpClient c(Start());
    QVERIFY(c.Get(QStringLiteral("/api/state")).status == 200);

    HttpResult r = c.Post(QStringLiteral("/api/next"));
    QCOMPARE(r.status, 200);
    QCOMPARE(r.json.value(QStringLiteral("ok")).toBool(), true);
    QCOMPARE(m_w->CurrentIndex, 0);
    QCOMPARE(m_w->NextIndex, 1);
    QTRY_COMPARE_WITH_TIMEOUT(StateOf(c), QStringLiteral("playing"), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(
        c.Get(QStringLiteral("/api/state")).json.value(QStringLiteral("length_ms")).toInt() ==
            12000,
        10000);
    QJsonObject s = c.Get(QStringLiteral("/api/state")).json;
    QCOMPARE(s.value(QStringLiteral("current")).toObject().value(QStringLiteral("path")).toString(),
             m_clip[0]);
    QCOMPARE(s.value(QStringLiteral("next")).toObject().value(QStringLiteral("index")).toInt(), 1);
    QCOMPARE(s.value(QStringLiteral("length")).toString(), QStringLiteral("00:00:12"));
    QCOMPARE(s.value(QStringLiteral("end_time")).toString(),
             m_w->lblEndTime->text().mid(QStringLiteral("Termina a las: ").size()));
    QCOMPARE(s.value(QStringLiteral("version")).toString(), QStringLiteral("3.2"));
    QVERIFY(!s.value(QStringLiteral("clock")).toString().isEmpty());

    // Play/Pause pauses and resumes through the window's handler.
    QCOMPARE(c.Post(QStringLiteral("/api/playpause")).status, 200);
    QTRY_COMPARE_WITH_TIMEOUT(StateOf(c), QStringLiteral("paused"), 5000);
    QCOMPARE(c.Post(QStringLiteral("/api/playpause")).status, 200);
    QTRY_COMPARE_WITH_TIMEOUT(StateOf(c), QStringLiteral("playing"), 5000);

    // The toggles answer their new state and release each other, as the buttons do.
    r = c.Post(QStringLiteral("/api/repeat"));
    QCOMPARE(r.json.value(QStringLiteral("repeat")).toBool(), true);
    QVERIFY(m_w->cmdRepeat->isChecked());
    r = c.Post(QStringLiteral("/api/stop-after"));
    QCOMPARE(r.json.value(QStringLiteral("stopAfter")).toBool(), true);
    QVERIFY(m_w->cmdStopOnPlay->isChecked() && !m_w->cmdRepeat->isChecked());
    QCOMPARE(r.json.value(QStringLiteral("state")).toObject().value(QStringLiteral("repeat")),
             QJsonValue(false));
    r = c.Post(QStringLiteral("/api/stop-after"));
    QCOMPARE(r.json.value(QStringLiteral("stopAfter")).toBool(), false);

    // A row made the next one, as a double-click makes it.
    r = c.Post(QStringLiteral("/api/playlist/3/next"));
    QCOMPARE(r.status, 200);
    QCOMPARE(m_w->NextIndex, 2);
    QCOMPARE(r.json.value(QStringLiteral("state"))
                 .toObject()
                 .value(QStringLiteral("next"))
                 .toObject()
                 .value(QStringLiteral("number"))
                 .toInt(),
             3);
    r = c.Get(QStringLiteral("/api/playlist"));
    const QJsonArray rows = r.json.value(QStringLiteral("rows")).toArray();
    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows[0].toObject().value(QStringLiteral("playing")).toBool(), true);
    QCOMPARE(rows[2].toObject().value(QStringLiteral("next")).toBool(), true);
    QCOMPARE(rows[1].toObject().value(QStringLiteral("name")).toString(),
             QStringLiteral("clip1.mp4"));

    QCOMPARE(c.Post(QStringLiteral("/api/next")).status, 200);
    QCOMPARE(m_w->CurrentIndex, 2);
    QTRY_COMPARE_WITH_TIMEOUT(c.Get(QStringLiteral("/api/state"))
                                  .json.value(QStringLiteral("current"))
                                  .toObject()
                                  .value(QStringLiteral("index"))
                                  .toInt(),
                              2, 5000);
    QCOMPARE(c.Post(QStringLiteral("/api/stop")).status, 200);
    QTRY_COMPARE_WITH_TIMEOUT(StateOf(c), QStringLiteral("stopped"), 5000);
    QCOMPARE(m_w->Errors().Count(), 0);
}

void TstRemote::captionsAndEffectsThroughTheApi() {
    AddCaptionRow(m_w.get(), QStringLiteral("Ana Pérez"), QStringLiteral("Radio y vídeo"),
                  QString());
    AddCaptionRow(m_w.get(), QStringLiteral("José"), QStringLiteral("Cierre"),
                  QStringLiteral("Sala 2"));
    // An effects folder with two tabs; the files are tones made now.
    const QString fx = m_work->filePath(QStringLiteral("fx"));
    QVERIFY(QDir(fx).mkpath(QStringLiteral("Efx/Aplausos")));
    QVERIFY(QDir(fx).mkpath(QStringLiteral("Efx/Risas")));
    for (const QString& f :
         {QStringLiteral("Efx/Aplausos/largo.mp3"), QStringLiteral("Efx/Risas/risa.mp3")})
        QVERIFY(MakeMedia(fx + QLatin1Char('/') + f,
                          {"-f", "lavfi", "-i", "sine=f=440:d=8", "-c:a", "libmp3lame"}));
    m_w->txtFolderCunas->setText(fx);
    HttpClient c(Start());

    HttpResult r = c.Get(QStringLiteral("/api/captions"));
    QCOMPARE(r.status, 200);
    QCOMPARE(r.json.value(QStringLiteral("rows")).toArray().size(), 2);
    QCOMPARE(r.json.value(QStringLiteral("rows"))[1].toObject().value(QStringLiteral("details")),
             QJsonValue(QStringLiteral("Sala 2")));
    r = c.Post(QStringLiteral("/api/captions/2/publish"));
    QCOMPARE(r.status, 200);
    auto file = [&](const char* name) {
        QFile f(m_work->filePath(QString::fromLatin1(name)));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<none>");
    };
    QCOMPARE(file("ponente.txt"), QStringLiteral("José").toUtf8());
    QCOMPARE(file("detalles.txt"), QByteArray("Sala 2"));
    const QJsonObject caption = r.json.value(QStringLiteral("state"))
                                    .toObject()
                                    .value(QStringLiteral("caption"))
                                    .toObject();
    QCOMPARE(caption.value(QStringLiteral("number")).toInt(), 2);
    QCOMPARE(caption.value(QStringLiteral("talk")).toString(), QStringLiteral("Cierre"));

    // A publication that cannot be written: the operator sees it in the error box,
    // the client gets the same message with 500.
    // (A folder where "ponente.txt" should go: the clock's own file still works.)
    QVERIFY(QFile::remove(m_work->filePath(QStringLiteral("ponente.txt"))));
    QVERIFY(QDir(m_work->path()).mkdir(QStringLiteral("ponente.txt")));
    m_w->Errors().ResetForTests();
    r = c.Post(QStringLiteral("/api/captions/1/publish"));
    QCOMPARE(r.status, 500);
    QVERIFY(!r.Error().isEmpty());
    QCOMPARE(m_w->Errors().Count(), 1);
    QCOMPARE(m_w->Errors().LastText(), r.Error());
    QVERIFY(QDir(m_work->path()).rmdir(QStringLiteral("ponente.txt")));

    // Effects: tabs, rows, playing by tab and row, by file name, and stopping.
    r = c.Get(QStringLiteral("/api/effects"));
    QCOMPARE(r.json.value(QStringLiteral("tabs")).toArray().size(), 2);
    const QJsonArray tabs = r.json.value(QStringLiteral("tabs")).toArray();
    const int aplausos = int(tabs.toVariantList().indexOf(QStringLiteral("Aplausos")));
    const int risas = int(tabs.toVariantList().indexOf(QStringLiteral("Risas")));
    QVERIFY(aplausos >= 0 && risas >= 0);
    r = c.Post(QStringLiteral("/api/effects/play"), R"({"tab":"Aplausos","row":1})");
    QCOMPARE(r.status, 200);
    QCOMPARE(m_w->tabEfectos->TabIndex(), aplausos);
    QCOMPARE(r.json.value(QStringLiteral("effect")).toString(), QStringLiteral("largo.mp3"));
    QVERIFY(m_w->Cue()->CueStream() != 0);
    QTRY_VERIFY_WITH_TIMEOUT(c.Get(QStringLiteral("/api/state"))
                                 .json.value(QStringLiteral("effect"))
                                 .toObject()
                                 .value(QStringLiteral("playing"))
                                 .toBool(),
                             3000);
    // The state names the effect the remote started, not the one played before.
    const auto effectName = [&] {
        return c.Get(QStringLiteral("/api/state"))
            .json.value(QStringLiteral("effect"))
            .toObject()
            .value(QStringLiteral("name"))
            .toString();
    };
    QCOMPARE(effectName(), QStringLiteral("largo.mp3"));
    r = c.Post(QStringLiteral("/api/effects/play"),
               QStringLiteral(R"({"tab":%1,"file":"RISA.mp3"})").arg(risas + 1).toUtf8());
    QCOMPARE(r.status, 200);
    QCOMPARE(m_w->tabEfectos->TabIndex(), risas);
    QCOMPARE(TListView::SubItem(m_w->lstJingles->FocusedRow(), 0), QStringLiteral("risa.mp3"));
    QCOMPARE(effectName(), QStringLiteral("risa.mp3"));
    QCOMPARE(c.Post(QStringLiteral("/api/effects/stop")).status, 200);
    QTRY_VERIFY_WITH_TIMEOUT(!c.Get(QStringLiteral("/api/state"))
                                  .json.value(QStringLiteral("effect"))
                                  .toObject()
                                  .value(QStringLiteral("playing"))
                                  .toBool(),
                             3000);
    QCOMPARE(c.Post(QStringLiteral("/api/effects/tab"),
                    QStringLiteral(R"({"tab":%1})").arg(aplausos + 1).toUtf8())
                 .status,
             200);
    QCOMPARE(m_w->tabEfectos->TabIndex(), aplausos);
    // A name outside the list never reaches the file system.
    r = c.Post(QStringLiteral("/api/effects/play"), R"({"file":"../../etc/passwd"})");
    QCOMPARE(r.status, 404);
    QCOMPARE(c.Post(QStringLiteral("/api/clock/announce")).status, 200);
}

void TstRemote::errorsAreJsonWithTheirStatus() {
    RemoteServerConfig config;
    config.actionsPerSecond = 0; // many orders in a row here
    HttpClient c(Start(config));
    // An empty playlist: Next cannot run now.
    HttpResult r = c.Post(QStringLiteral("/api/next"));
    QCOMPARE(r.status, 409);
    QCOMPARE(r.Error(), QStringLiteral("La lista de reproducción está vacía"));
    AddRow(m_w.get(), m_clip[0]);
    AddCaptionRow(m_w.get(), QStringLiteral("Ana"), QStringLiteral("Charla"), QString());

    const struct {
        const char* method;
        const char* path;
        QByteArray body;
        int status;
    } cases[] = {
        {"GET", "/api/nothing", {}, 404},
        {"POST", "/api/state", {}, 405},
        {"GET", "/api/next", {}, 405},
        {"DELETE", "/api/next", {}, 405},
        {"POST", "/api/playlist/2/next", {}, 404},
        {"POST", "/api/playlist/0/next", {}, 404},
        {"POST", "/api/playlist/-1/next", {}, 400},
        {"POST", "/api/playlist/abc/next", {}, 400},
        {"POST", "/api/playlist/99999999999999999999/next", {}, 400},
        {"POST", "/api/captions/2/publish", {}, 404},
        {"POST", "/api/effects/play", "{\"row\":", 400},
        {"POST", "/api/effects/play", "[1,2]", 400},
        {"POST", "/api/effects/play", "{\"row\":\"1\"}", 400},
        {"POST", "/api/effects/play", "{\"row\":1.5}", 400},
        {"POST", "/api/effects/play", "{\"row\":1}", 404},
        {"POST", "/api/effects/play", "{\"tab\":7,\"row\":1}", 404},
        {"POST", "/api/effects/play", "{}", 400},
        {"POST", "/api/captions", "{\"speaker\":\"Ana\\nB\",\"talk\":\"Charla\"}", 400},
        {"POST", "/api/captions", "{\"speaker\":\"A\",\"talk\":\"Charla\"}", 400},
        {"POST", "/api/captions", "{\"speaker\":5,\"talk\":\"Charla\"}", 400},
        {"POST", "/api/countdown/start", "{\"time\":\"61:00\"}", 400},
        {"POST", "/api/countdown/start", "{\"time\":300}", 400},
        {"POST", "/api/marquee", "{}", 400},
        {"GET", "/nothing.html", {}, 404},
        {"POST", "/", {}, 405},
    };
    for (const auto& t : cases) {
        r = c.Request(t.method, QString::fromLatin1(t.path), t.body);
        QVERIFY2(r.status == t.status, qPrintable(QStringLiteral("%1 %2 %3 -> %4 %5")
                                                      .arg(QLatin1String(t.method))
                                                      .arg(QLatin1String(t.path))
                                                      .arg(QString::fromUtf8(t.body))
                                                      .arg(r.status)
                                                      .arg(QString::fromUtf8(r.body))));
        QVERIFY(r.Header("Content-Type").startsWith("application/json"));
        QVERIFY2(!r.Error().isEmpty(), r.body.constData());
        QCOMPARE(r.json.value(QStringLiteral("status")).toInt(), t.status);
    }
    // None of them changed the desk.
    QCOMPARE(m_w->NextIndex, 0);
    QCOMPARE(m_w->Errors().Count(), 0);
    QCOMPARE(c.Get(QStringLiteral("/api/state")).status, 200);
}

void TstRemote::malformedAndOversizedRequests() {
    const quint16 port = Start();
    const struct {
        QByteArray bytes;
        int status;
    } cases[] = {
        {"GARBAGE\r\n\r\n", 400},
        {"GET /api/state HTTP/9.9\r\nHost: 127.0.0.1\r\n\r\n", 505},
        {"GET api/state HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", 400},
        {"GET /api/state HTTP/1.1\r\nno colon here\r\n\r\n", 400},
        {"POST /api/marquee HTTP/1.1\r\nHost: 127.0.0.1\r\nTransfer-Encoding: chunked\r\n\r\n",
         411},
        {"POST /api/marquee HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: -4\r\n\r\n", 400},
        {"POST /api/marquee HTTP/1.1\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\nabcd", 400},
        {"GET /api/state HTTP/1.1\r\nX-Big: " + QByteArray(20000, 'a') + "\r\n\r\n", 431},
        // Over the 64 KiB cap: refused from the head, the body is never read.
        {"POST /api/marquee HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 65537\r\n\r\n" +
             QByteArray(65537, 'x'),
         413},
    };
    for (const auto& t : cases) {
        bool closed = false;
        const QByteArray answer = RawExchange(port, t.bytes, 5000, &closed);
        QVERIFY2(StatusOf(answer) == t.status, answer.left(200).constData());
        QVERIFY(answer.contains("\"error\""));
        QVERIFY2(closed, "a refused request closes its connection");
    }
    // Exactly at the cap the body is read (and then refused for what it says).
    HttpClient c(port);
    HttpResult r = c.Post(QStringLiteral("/api/marquee"), QByteArray(64 * 1024, ' '));
    QVERIFY(r.status != 413 && r.status != 0);
    r = c.Post(QStringLiteral("/api/marquee"), QByteArray(64 * 1024 + 1, ' '));
    QCOMPARE(r.status, 413);

    // Two requests in one write are answered in order on the same connection.
    const QByteArray two =
        "GET /api/state HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"
        "GET /api/nothing HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    const QByteArray answer = RawExchange(port, two);
    QCOMPARE(StatusOf(answer), 200);
    QVERIFY(answer.indexOf("HTTP/1.1 404") > answer.indexOf("\"version\""));
    // HEAD of the page: headers only.
    const QByteArray head =
        RawExchange(port, "HEAD / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    QCOMPARE(StatusOf(head), 200);
    QVERIFY(head.endsWith("\r\n\r\n"));
    QCOMPARE(c.Get(QStringLiteral("/api/state")).status, 200);
}

void TstRemote::accessOnLoopbackAndWithToken() {
    quint16 port = Start();
    HttpClient c(port);
    // Loopback, no token: the machine itself may, other pages and rebound host
    // names may not. No answer carries CORS headers.
    HttpResult r =
        c.Request("POST", QStringLiteral("/api/stop"), {}, {{"Origin", "http://evil.example"}});
    QCOMPARE(r.status, 403);
    r = c.Request("GET", QStringLiteral("/api/state"), {}, {{"Host", "evil.example:9020"}});
    QCOMPARE(r.status, 403);
    r = c.Request("POST", QStringLiteral("/api/stop"), {},
                  {{"Origin", QStringLiteral("http://127.0.0.1:%1").arg(port).toUtf8()}});
    QCOMPARE(r.status, 200);
    r = c.Request("GET", QStringLiteral("/api/state"), {}, {{"Host", "localhost:9020"}});
    QCOMPARE(r.status, 200);
    for (const char* method : {"OPTIONS", "GET"}) {
        r = c.Request(
            method, QStringLiteral("/api/state"), {},
            {{"Origin", "http://evil.example"}, {"Access-Control-Request-Method", "POST"}});
        QVERIFY(r.Header("Access-Control-Allow-Origin").isEmpty());
        QVERIFY(r.status == 403);
    }
    r = c.Get(QStringLiteral("/"));
    QCOMPARE(r.status, 200);
    QVERIFY(r.Header("Access-Control-Allow-Origin").isEmpty());
    QVERIFY(r.Header("Content-Security-Policy").contains("frame-ancestors 'none'"));

    // With a token every request and every WebSocket upgrade carries it.
    RemoteServerConfig config;
    config.token = "s3cret-tok3n";
    port = Start(config);
    c.SetPort(port);
    r = c.Get(QStringLiteral("/api/state"));
    QCOMPARE(r.status, 401);
    QVERIFY(r.Header("WWW-Authenticate").startsWith("Bearer"));
    QCOMPARE(c.Request("GET", QStringLiteral("/api/state"), {}, {{"Authorization", "Bearer nope"}})
                 .status,
             401);
    QCOMPARE(c.Request("GET", QStringLiteral("/api/state"), {},
                       {{"Authorization", "Bearer s3cret-tok3n"}})
                 .status,
             200);
    QCOMPARE(
        c.Request("GET", QStringLiteral("/api/state"), {}, {{"X-Tavoria-Token", "s3cret-tok3n"}})
            .status,
        200);
    QCOMPARE(c.Get(QStringLiteral("/api/state?token=s3cret-tok3n")).status, 200);
    QCOMPARE(c.Get(QStringLiteral("/?token=s3cret-tok3n2")).status, 401);
    const QByteArray upgrade =
        "GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
        "Connection: Upgrade\r\nSec-WebSocket-Version: 13\r\n"
        "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n";
    QCOMPARE(StatusOf(RawExchange(port, upgrade, 3000)), 401);
    EventClient denied(port);
    EventClient allowed(port, QStringLiteral("?token=s3cret-tok3n"));
    QVERIFY(allowed.WaitConnected());
    QTRY_VERIFY_WITH_TIMEOUT(!allowed.messages.isEmpty(), 3000);
    QVERIFY(denied.socket.state() != QAbstractSocket::ConnectedState);

    // Beyond loopback a token is required; the desk refuses to listen without one.
    config = RemoteServerConfig();
    config.bind = QHostAddress(QHostAddress::AnyIPv4);
    QString error;
    QVERIFY(!m_w->StartRemoteServer(config, &error));
    QVERIFY(error.contains(QStringLiteral("token")));
    QVERIFY(!m_w->Remote()->IsListening());
    // ... and one of at least 16 characters: a shorter one is refused by its length.
    config.token = "another-token";
    QVERIFY(!m_w->StartRemoteServer(config, &error));
    QVERIFY2(error.contains(QStringLiteral("16 caracteres")), qPrintable(error));
    QVERIFY(!m_w->Remote()->IsListening());
    config.token = "another-token-16";
    port = Start(config);
    QVERIFY(port != 0);
    c.SetPort(port);
    QCOMPARE(c.Get(QStringLiteral("/api/state")).status, 401);
    QCOMPARE(c.Get(QStringLiteral("/api/state?token=another-token-16")).status, 200);
}

void TstRemote::slowHalfOpenAndVanishingClients() {
    AddRow(m_w.get(), m_clip[0]);
    RemoteServerConfig config;
    config.requestTimeoutMs = 1500;
    config.idleTimeoutMs = 1500;
    config.maxConnections = 8;
    const quint16 port = Start(config);
    HttpClient c(port);
    QCOMPARE(c.Post(QStringLiteral("/api/next")).status, 200);

    // Slow clients that never finish their head, and half-open ones that send
    // nothing: the desk answers others meanwhile and closes them on time.
    std::vector<std::unique_ptr<QTcpSocket>> slow, silent;
    for (int i = 0; i < 3; ++i) {
        slow.push_back(std::make_unique<QTcpSocket>());
        slow.back()->connectToHost(QHostAddress::LocalHost, port);
        silent.push_back(std::make_unique<QTcpSocket>());
        silent.back()->connectToHost(QHostAddress::LocalHost, port);
    }
    for (auto& s : slow) {
        QVERIFY(s->waitForConnected(3000));
        s->write("GET /api/state HTTP/1.1\r\nHost: 127");
    }
    QElapsedTimer answered;
    answered.start();
    QCOMPARE(c.Get(QStringLiteral("/api/state")).status, 200);
    QVERIFY(answered.elapsed() < 1000);
    for (auto& s : slow) {
        QTRY_VERIFY_WITH_TIMEOUT(s->state() == QAbstractSocket::UnconnectedState, 6000);
        QCOMPARE(StatusOf(s->readAll()), 408);
    }
    for (auto& s : silent)
        QTRY_VERIFY_WITH_TIMEOUT(s->state() == QAbstractSocket::UnconnectedState, 6000);

    // More connections than allowed: the extra ones are told so and closed.
    std::vector<std::unique_ptr<QTcpSocket>> many;
    for (int i = 0; i < 9; ++i) {
        many.push_back(std::make_unique<QTcpSocket>());
        many.back()->connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(many.back()->waitForConnected(3000));
    }
    QTRY_VERIFY_WITH_TIMEOUT(many.back()->bytesAvailable() > 0 ||
                                 many.back()->state() == QAbstractSocket::UnconnectedState,
                             3000);
    QCOMPARE(StatusOf(many.back()->readAll()), 503);
    many.clear();

    // Clients that vanish in the middle of a request, with or without an answer
    // on its way.
    for (int i = 0; i < 20; ++i) {
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(s.waitForConnected(3000));
        if (i % 2)
            s.write("POST /api/marquee HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: "
                    "100\r\n\r\n{\"te");
        else
            s.write("GET /api/state HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
        s.flush();
        s.abort();
    }
    QTest::qWait(200);
    QCOMPARE(c.Get(QStringLiteral("/api/state")).status, 200);
    QCOMPARE(StateOf(c), QStringLiteral("playing"));
}

void TstRemote::floodsLeaveTheDeskPlaying() {
    AddRow(m_w.get(), m_clip[0]);
    AddRow(m_w.get(), m_clip[1]);
    const quint16 port = Start();
    HttpClient c(port);
    QCOMPARE(c.Post(QStringLiteral("/api/next")).status, 200);
    QTRY_COMPARE_WITH_TIMEOUT(StateOf(c), QStringLiteral("playing"), 10000);
    const int before = m_w->LastTimeMs;

    // 250 requests a second for two seconds over kept-alive connections, as many
    // as one address may hold beside the client above: state reads and Next orders
    // mixed, far beyond the address's budgets. The window's thread is watched
    // meanwhile. The refusals come one per short gap, so the answers take a while.
    constexpr int kSockets = 7; // the cap per address is 8
    std::vector<std::unique_ptr<QTcpSocket>> sockets;
    for (int i = 0; i < kSockets; ++i) {
        sockets.push_back(std::make_unique<QTcpSocket>());
        sockets.back()->connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(sockets.back()->waitForConnected(3000));
    }
    // Each connection answers in order, so each answer is matched to its request.
    QHash<int, int> statuses;
    int nextsRun = 0;
    QByteArray buffers[kSockets];
    QList<bool> kinds[kSockets]; // true: Next
    for (int i = 0; i < kSockets; ++i)
        connect(sockets[i].get(), &QTcpSocket::readyRead, this, [&, i] {
            buffers[i] += sockets[i]->readAll();
            qsizetype at;
            while ((at = buffers[i].indexOf("HTTP/1.1 ")) >= 0 && buffers[i].size() >= at + 12) {
                const int status = buffers[i].mid(at + 9, 3).toInt();
                ++statuses[status];
                if (!kinds[i].isEmpty() && kinds[i].takeFirst() && status == 200)
                    ++nextsRun;
                buffers[i].remove(0, at + 12);
            }
        });
    int sent = 0, nexts = 0;
    QElapsedTimer clock, gapClock;
    clock.start();
    gapClock.start();
    qint64 longestGap = 0;
    QTimer beat;
    beat.setInterval(10);
    connect(&beat, &QTimer::timeout, this,
            [&] { longestGap = std::max(longestGap, gapClock.restart()); });
    beat.start();
    while (clock.elapsed() < 2000) {
        const int due = int(clock.elapsed()) / 4;
        while (sent < due) {
            const bool next = sent % 10 == 0;
            nexts += next;
            const int k = next ? (sent / 10) % kSockets : sent % kSockets;
            kinds[k].append(next);
            sockets[k]->write(next ? "POST /api/next HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"
                                   : "GET /api/state HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
            ++sent;
        }
        QTest::qWait(5);
    }
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            int n = 0;
            for (int v : std::as_const(statuses))
                n += v;
            return n >= sent;
        }(),
        60000);
    beat.stop();
    qInfo("flood: %d requests (%d Next, %d run); answers %s; longest gap of the window's "
          "thread %lld ms",
          sent, nexts, nextsRun, qPrintable([&] {
              QStringList parts;
              for (auto it = statuses.begin(); it != statuses.end(); ++it)
                  parts << QStringLiteral("%1 x%2").arg(it.key()).arg(it.value());
              return parts.join(QStringLiteral(", "));
          }()),
          longestGap);
    QVERIFY(statuses.value(200) > 0);
    // Orders beyond the rate, or while another one runs, are refused at once; the
    // window runs them one at a time with a pause in between.
    const double seconds = clock.elapsed() / 1000.0;
    QVERIFY2(nextsRun >= 1 && nextsRun <= 10 + int(10 * seconds) + 1,
             qPrintable(QStringLiteral("%1 Next in %2 s").arg(nextsRun).arg(seconds)));
    QVERIFY(statuses.value(429) + statuses.value(503) > 0);
    QVERIFY(longestGap < 5000);
    for (auto it = statuses.begin(); it != statuses.end(); ++it)
        QVERIFY2(it.key() == 200 || it.key() == 429 || it.key() == 503,
                 qPrintable(QString::number(it.key())));
    // The desk plays on and answers (each look on a connection of its own).
    sockets.clear();
    const auto rawState = [&] {
        const QByteArray answer = RawExchange(port, "GET /api/state HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                                    "Connection: close\r\n\r\n");
        const QJsonObject json =
            QJsonDocument::fromJson(answer.mid(answer.indexOf("\r\n\r\n") + 4)).object();
        return json.value(QStringLiteral("state")).toString();
    };
    QTRY_COMPARE_WITH_TIMEOUT(rawState(), QStringLiteral("playing"), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(m_w->LastTimeMs != before, 5000);
    QCOMPARE(m_w->Errors().Count(), 0);
}

void TstRemote::pushChannelFollowsTheWindow() {
    for (const QString& clip : m_clip)
        AddRow(m_w.get(), clip);
    AddCaptionRow(m_w.get(), QStringLiteral("Ana"), QStringLiteral("Charla"), QString());
    const quint16 port = Start();
    EventClient events(port);
    QVERIFY(events.WaitConnected());
    QTRY_VERIFY_WITH_TIMEOUT(!events.messages.isEmpty(), 3000);
    QCOMPARE(events.messages.first().value(QStringLiteral("type")).toString(),
             QStringLiteral("state"));
    QCOMPARE(m_w->Remote()->EventClients(), 1);

    // Next: the client sees the row playing soon after the window shows it.
    qint64 shownAt = -1;
    connect(m_w->vlcPlayer, &TVlcPlayer::OnMediaPlayerPlaying, this,
            [&] { shownAt = events.clock.elapsed(); });
    m_w->cmdNext->click();
    int at = -1;
    QTRY_VERIFY_WITH_TIMEOUT((at = events.Find([](const QJsonObject& s) {
                                 return s.value(QStringLiteral("state")).toString() ==
                                        QStringLiteral("playing");
                             })) >= 0,
                             10000);
    QVERIFY(shownAt >= 0);
    const qint64 nextDelay = events.times[at] - shownAt;
    QCOMPARE(events.messages[at]
                 .value(QStringLiteral("state"))
                 .toObject()
                 .value(QStringLiteral("current"))
                 .toObject()
                 .value(QStringLiteral("index"))
                 .toInt(),
             0);

    // A caption published by the window (a double-click would do the same).
    const int from = int(events.messages.size());
    m_w->PublishCaption(0);
    const qint64 publishedAt = events.clock.elapsed();
    QTRY_VERIFY_WITH_TIMEOUT((at = events.Find(
                                  [](const QJsonObject& s) {
                                      return s.value(QStringLiteral("caption"))
                                                 .toObject()
                                                 .value(QStringLiteral("speaker"))
                                                 .toString() == QStringLiteral("Ana");
                                  },
                                  from)) >= 0,
                             3000);
    const qint64 captionDelay = events.times[at] - publishedAt;
    qInfo("push: Next seen %lld ms after the window showed it, caption after %lld ms", nextDelay,
          captionDelay);
    // The target is 100 ms; the margin is for a loaded test machine.
    QVERIFY(nextDelay <= 300);
    QVERIFY(captionDelay <= 300);

    // While it plays, the position alone comes at most 4 times a second (plus the
    // clock once a second).
    const int start = int(events.messages.size());
    QTest::qWait(3000);
    const int during = int(events.messages.size()) - start;
    QVERIFY2(during >= 3 && during <= 3 * 5 + 2, qPrintable(QString::number(during)));

    // A client that goes away is forgotten.
    events.socket.close();
    QTRY_COMPARE_WITH_TIMEOUT(m_w->Remote()->EventClients(), 0, 3000);
}

void TstRemote::editorCountdownAndMarquee() {
    const quint16 port = Start();
    HttpClient c(port);
    EventClient events(port);
    QVERIFY(events.WaitConnected());

    // A caption added through the editor; what the operator was typing stays.
    m_w->txtPonente->setText(QStringLiteral("borrador"));
    HttpResult r = c.Post(QStringLiteral("/api/captions"),
                          R"({"speaker":"Ana Pérez","talk":"Apertura","details":"Sala 1"})");
    QCOMPARE(r.status, 201);
    QCOMPARE(r.json.value(QStringLiteral("number")).toInt(), 1);
    QCOMPARE(m_w->lstTextos->RowCount(), 1);
    QCOMPARE(TListView::SubItem(m_w->lstTextos->Row(0), 0), QStringLiteral("Ana Pérez"));
    QCOMPARE(TListView::SubItem(m_w->lstTextos->Row(0), 2), QStringLiteral("Sala 1"));
    QCOMPARE(m_w->txtPonente->text(), QStringLiteral("borrador"));
    QCOMPARE(
        c.Get(QStringLiteral("/api/captions")).json.value(QStringLiteral("rows")).toArray().size(),
        1);
    // While the operator edits a row the editor is not the remote's.
    m_w->cmdAdd->setText(QStringLiteral("Edit"));
    r = c.Post(QStringLiteral("/api/captions"), R"({"speaker":"Otro","talk":"Tema"})");
    QCOMPARE(r.status, 409);
    QCOMPARE(m_w->lstTextos->RowCount(), 1);
    m_w->cmdAdd->setText(QStringLiteral("Add"));

    // The countdown: started with a time, seen on the push channel, refused twice.
    const int from = int(events.messages.size());
    const qint64 startedAt = events.clock.elapsed();
    r = c.Post(QStringLiteral("/api/countdown/start"), R"({"time":"00:03"})");
    QCOMPARE(r.status, 200);
    QCOMPARE(m_w->btnPlayConteo->text(), QStringLiteral("Detener"));
    int at = -1;
    QTRY_VERIFY_WITH_TIMEOUT((at = events.Find(
                                  [](const QJsonObject& s) {
                                      return s.value(QStringLiteral("countdown"))
                                          .toObject()
                                          .value(QStringLiteral("running"))
                                          .toBool();
                                  },
                                  from)) >= 0,
                             3000);
    qInfo("push: countdown seen %lld ms after the order was sent", events.times[at] - startedAt);
    QVERIFY(events.times[at] - startedAt <= 300);
    QCOMPARE(c.Post(QStringLiteral("/api/countdown/start")).status, 409);
    QTRY_COMPARE_WITH_TIMEOUT(m_w->btnPlayConteo->text(), QStringLiteral("Iniciar"), 8000);
    QFile conteo(m_work->filePath(QStringLiteral("conteo.txt")));
    QVERIFY(conteo.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(conteo.readAll()), m_w->txtMensajeConteo->text());
    QCOMPARE(c.Post(QStringLiteral("/api/countdown/stop")).status, 409);
    // At 00:00 the button starts nothing: the order says so.
    QCOMPARE(c.Post(QStringLiteral("/api/countdown/start")).status, 409);
    QCOMPARE(c.Post(QStringLiteral("/api/countdown/start"), R"({"time":"10:00"})").status, 200);
    QCOMPARE(c.Post(QStringLiteral("/api/countdown/stop")).status, 200);
    QCOMPARE(m_w->btnPlayConteo->text(), QStringLiteral("Iniciar"));

    // The marquee: sent as by its button (file written, settings saved).
    r = c.Post(QStringLiteral("/api/marquee"), R"({"text":"Línea A\nLínea B"})");
    QCOMPARE(r.status, 200);
    QFile marquee(m_work->filePath(QStringLiteral("marquesina.txt")));
    QVERIFY(marquee.open(QIODevice::ReadOnly));
    const QString sent = QString::fromUtf8(marquee.readAll());
    QVERIFY2(sent.startsWith(QStringLiteral("Línea A")) &&
                 sent.endsWith(QStringLiteral("Línea B")) && !sent.contains(QLatin1Char('\n')),
             qPrintable(sent));
    QVERIFY(QFileInfo::exists(m_work->filePath(QStringLiteral("config.ini"))));
    QCOMPARE(m_w->Errors().Count(), 0);
}

void TstRemote::overlayTextsFollowTheFiles() {
    AddCaptionRow(m_w.get(), QStringLiteral("Ana Pérez"), QStringLiteral("Apertura"), QString());
    const quint16 port = Start();
    HttpClient c(port);
    EventClient events(port);
    QVERIFY(events.WaitConnected());
    auto file = [&](const char* name) {
        QFile f(m_work->filePath(QString::fromLatin1(name)));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QStringLiteral("-");
    };
    auto overlayOf = [](const QJsonObject& state) {
        return state.value(QStringLiteral("overlay")).toObject();
    };

    // Published: the pushed state holds the three texts; taken off: none, and the
    // three files are empty.
    HttpResult r = c.Post(QStringLiteral("/api/captions/1/publish"));
    QCOMPARE(r.status, 200);
    QJsonObject caption = overlayOf(r.json.value(QStringLiteral("state")).toObject())
                              .value(QStringLiteral("caption"))
                              .toObject();
    QCOMPARE(caption.value(QStringLiteral("speaker")).toString(), QStringLiteral("Ana Pérez"));
    QCOMPARE(caption.value(QStringLiteral("details")).toString(), QString());
    const int from = int(events.messages.size());
    r = c.Post(QStringLiteral("/api/captions/clear"));
    QCOMPARE(r.status, 200);
    for (const char* name : {"ponente.txt", "ponencia.txt", "detalles.txt"})
        QCOMPARE(file(name), QString());
    const QJsonObject state = r.json.value(QStringLiteral("state")).toObject();
    QVERIFY(state.value(QStringLiteral("caption")).isNull());
    QVERIFY(overlayOf(state).value(QStringLiteral("caption")).isNull());
    QTRY_VERIFY_WITH_TIMEOUT(events.Find(
                                 [&](const QJsonObject& s) {
                                     return overlayOf(s).value(QStringLiteral("caption")).isNull();
                                 },
                                 from) >= 0,
                             3000);
    QCOMPARE(c.Get(QStringLiteral("/api/captions/clear")).status, 405);

    // The clock's text is hora.txt's; the countdown's is conteo.txt's, its end
    // message included; the marquee's is marquesina.txt's (TAB between lines).
    QTRY_VERIFY_WITH_TIMEOUT(overlayOf(c.Get(QStringLiteral("/api/state")).json)
                                     .value(QStringLiteral("clock"))
                                     .toString() == file("hora.txt"),
                             5000);
    m_w->txtMensajeConteo->setText(QStringLiteral("¡Empezamos!"));
    QCOMPARE(c.Post(QStringLiteral("/api/countdown/start"), R"({"time":"00:02"})").status, 200);
    QTRY_VERIFY_WITH_TIMEOUT(events.Find([](const QJsonObject& s) {
        return s.value(QStringLiteral("overlay")).toObject().value(QStringLiteral("countdown")) ==
               QStringLiteral("00:01");
    }) >= 0,
                             5000);
    QTRY_COMPARE_WITH_TIMEOUT(overlayOf(c.Get(QStringLiteral("/api/state")).json)
                                  .value(QStringLiteral("countdown"))
                                  .toString(),
                              QStringLiteral("¡Empezamos!"), 8000);
    QCOMPARE(file("conteo.txt"), QStringLiteral("¡Empezamos!"));
    QCOMPARE(c.Post(QStringLiteral("/api/marquee"), R"({"text":"Uno\nDos\r\nTres"})").status, 200);
    QCOMPARE(file("marquesina.txt"), QStringLiteral("Uno\tDos\tTres"));
    QCOMPARE(overlayOf(c.Get(QStringLiteral("/api/state")).json)
                 .value(QStringLiteral("marquee"))
                 .toString(),
             QStringLiteral("Uno\tDos\tTres"));
    QCOMPARE(m_w->Errors().Count(), 0);
}

void TstRemote::overlayPagesByNameWithOverrides() {
    quint16 port = Start();
    HttpClient c(port);
    const struct {
        const char* path;
        int status;
        const char* type; // the start of the Content-Type
        const char* holds;
    } cases[] = {
        {"/overlay/", 200, "text/html", "id=\"lowerthird\""},
        {"/overlay", 200, "text/html", "id=\"marquee\""},
        {"/overlay/lowerthird", 200, "text/html", "id=\"lt-details\""},
        {"/overlay/clock", 200, "text/html", "id=\"ck-text\""},
        {"/overlay/countdown", 200, "text/html", "id=\"cd-text\""},
        {"/overlay/marquee", 200, "text/html", "id=\"mq-track\""},
        {"/overlay/overlay.js", 200, "text/javascript", "/api/events"},
        {"/overlay/clock.css", 200, "text/css", "#clock"},
        {"/overlay/nothing", 404, "", ""},
        {"/overlay/%2e%2e%2fconfig.ini", 404, "", ""},
        {"/overlay/.hidden.css", 404, "", ""},
        {"/overlay/config.ini", 404, "", ""},
        {"/overlay/sub/clock.css", 404, "", ""},
    };
    for (const auto& t : cases) {
        const HttpResult r = c.Get(QString::fromLatin1(t.path));
        QVERIFY2(r.status == t.status, t.path);
        if (t.status != 200)
            continue;
        QVERIFY2(r.Header("Content-Type").startsWith(t.type), t.path);
        QVERIFY2(r.body.contains(t.holds), t.path);
        // Nothing beyond the desk, and a designer's change shows at the next load
        // (every answer of the desk is no-store).
        QVERIFY2(r.Header("Content-Security-Policy").contains("default-src 'none'"), t.path);
        QCOMPARE(r.Header("Cache-Control"), QByteArray("no-store"));
        QVERIFY2(!r.body.contains("{{query}}") && !r.body.contains("http://") &&
                     !r.body.contains("https://"),
                 t.path);
    }
    QCOMPARE(c.Post(QStringLiteral("/overlay/clock")).status, 405);

    // A folder "overlays" in the working folder replaces files by name, at once;
    // its other files stay the built-in ones; removed, the built-in one is back.
    QVERIFY(QDir(m_work->path()).mkdir(QStringLiteral("overlays")));
    QFile css(m_work->filePath(QStringLiteral("overlays/clock.css")));
    QVERIFY(css.open(QIODevice::WriteOnly));
    css.write("#clock { color: red; }");
    css.close();
    QFile page(m_work->filePath(QStringLiteral("overlays/clock.html")));
    QVERIFY(page.open(QIODevice::WriteOnly));
    page.write("<link href=\"/overlay/clock.css{{query}}\">mine");
    page.close();
    QCOMPARE(c.Get(QStringLiteral("/overlay/clock.css")).body,
             QByteArray("#clock { color: red; }"));
    QCOMPARE(c.Get(QStringLiteral("/overlay/clock")).body,
             QByteArray("<link href=\"/overlay/clock.css\">mine"));
    QVERIFY(c.Get(QStringLiteral("/overlay/marquee.css")).body.contains("#mq-track"));
    QVERIFY(QFile::remove(css.fileName()));
    QVERIFY(c.Get(QStringLiteral("/overlay/clock.css")).body.contains("#clock {\n"));

    // With a token the pages need it like every other request, and their links
    // carry it so their style sheets and script load.
    RemoteServerConfig config;
    config.token = "s3cret-tok3n/+";
    port = Start(config);
    c.SetPort(port);
    QCOMPARE(c.Get(QStringLiteral("/overlay/lowerthird")).status, 401);
    QCOMPARE(c.Get(QStringLiteral("/overlay/overlay.js")).status, 401);
    const HttpResult r = c.Get(QStringLiteral("/overlay/lowerthird?token=s3cret-tok3n%2F%2B"));
    QCOMPARE(r.status, 200);
    QVERIFY2(r.body.contains("/overlay/overlay.js?token=s3cret-tok3n%2F%2B\""), r.body.constData());
    QCOMPARE(c.Get(QStringLiteral("/overlay/overlay.js?token=s3cret-tok3n%2F%2B")).status, 200);
}

void TstRemote::mprisDrivesTheDesk() {
    AddRow(m_w.get(), m_clip[0]);
    AddRow(m_w.get(), m_clip[1]);
    QTRY_VERIFY_WITH_TIMEOUT(m_w->Mpris()->IsRegistered(), 5000);
    QCOMPARE(m_w->Mpris()->ServiceName(), QStringLiteral("org.mpris.MediaPlayer2.tavoria"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_busAddress);
    // playerctl runs while the window's thread answers the bus.
    auto playerctl = [&](const QStringList& args) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(QStringLiteral("playerctl"),
                QStringList{QStringLiteral("-p"), QStringLiteral("tavoria")} + args);
        if (!p.waitForStarted(3000))
            return QStringLiteral("<not started>");
        QElapsedTimer t;
        t.start();
        while (p.state() != QProcess::NotRunning && t.elapsed() < 10000)
            QTest::qWait(10);
        return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    };
    QCOMPARE(playerctl({QStringLiteral("status")}), QStringLiteral("Stopped"));
    playerctl({QStringLiteral("next")});
    QCOMPARE(m_w->CurrentIndex, 0);
    QTRY_COMPARE_WITH_TIMEOUT(m_w->vlcPlayer->GetState(), vlcPlayer_Playing, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(playerctl({QStringLiteral("status")}), QStringLiteral("Playing"),
                              5000);
    QCOMPARE(playerctl({QStringLiteral("metadata"), QStringLiteral("xesam:title")}),
             QStringLiteral("clip0.mp4"));
    QCOMPARE(playerctl({QStringLiteral("metadata"), QStringLiteral("xesam:url")}),
             QUrl::fromLocalFile(m_clip[0]).toString(QUrl::FullyEncoded));
    QTRY_COMPARE_WITH_TIMEOUT(
        playerctl({QStringLiteral("metadata"), QStringLiteral("mpris:length")}),
        QStringLiteral("12000000"), 5000);
    playerctl({QStringLiteral("pause")});
    QTRY_COMPARE_WITH_TIMEOUT(m_w->vlcPlayer->GetState(), vlcPlayer_Paused, 5000);
    playerctl({QStringLiteral("play")});
    QTRY_COMPARE_WITH_TIMEOUT(m_w->vlcPlayer->GetState(), vlcPlayer_Playing, 5000);
    playerctl({QStringLiteral("next")});
    QCOMPARE(m_w->CurrentIndex, 1);
    playerctl({QStringLiteral("stop")});
    QTRY_COMPARE_WITH_TIMEOUT(playerctl({QStringLiteral("status")}), QStringLiteral("Stopped"),
                              5000);
    // The same through dbus-send, and the property the desktop reads.
    QProcess send;
    send.setProcessEnvironment(env);
    send.start(QStringLiteral("dbus-send"),
               {QStringLiteral("--session"), QStringLiteral("--print-reply"),
                QStringLiteral("--dest=org.mpris.MediaPlayer2.tavoria"),
                QStringLiteral("/org/mpris/MediaPlayer2"),
                QStringLiteral("org.freedesktop.DBus.Properties.Get"),
                QStringLiteral("string:org.mpris.MediaPlayer2.Player"),
                QStringLiteral("string:PlaybackStatus")});
    QVERIFY(send.waitForStarted(3000));
    QTRY_VERIFY_WITH_TIMEOUT(send.state() == QProcess::NotRunning, 10000);
    QVERIFY(send.readAllStandardOutput().contains("\"Stopped\""));
    QCOMPARE(m_w->Errors().Count(), 0);
}

void TstRemote::settingsSectionInConfigIni() {
    m_w.reset();
    QTcpServer probe; // a free port number for the desk
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const quint16 port = probe.serverPort();
    probe.close();
    {
        QFile ini(m_work->filePath(QStringLiteral("config.ini")));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write(QStringLiteral("[OTRA]\r\nClave=valor\r\n\r\n[REMOTO]\r\nEnabled=1\r\nPort=%1\r\n"
                                 "Bind=127.0.0.1\r\nToken=tok-123456\r\n")
                      .arg(port)
                      .toUtf8());
    }
    m_w = std::make_unique<TfrmMain>();
    m_w->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_w.get()));
    // The controls sit on "Configuración General".
    QVERIFY(m_w->tabGeneral->isAncestorOf(m_w->chkRemoto));
    QVERIFY(m_w->tabGeneral->isAncestorOf(m_w->txtRemotoToken));
    QVERIFY(m_w->chkRemoto->isChecked());
    QCOMPARE(m_w->spnRemotoPuerto->value(), int(port));
    QCOMPARE(m_w->txtRemotoToken->text(), QStringLiteral("tok-123456"));
    QTRY_VERIFY_WITH_TIMEOUT(m_w->Remote()->IsListening(), 3000);
    QCOMPARE(m_w->Remote()->Port(), port);
    HttpClient c(port);
    QCOMPARE(c.Get(QStringLiteral("/api/state")).status, 401);
    QCOMPARE(c.Get(QStringLiteral("/api/state?token=tok-123456")).status, 200);

    // Unticking stops the server; the section is written at close and the unknown
    // section survives.
    m_w->chkRemoto->setChecked(false);
    QVERIFY(!m_w->Remote()->IsListening());
    m_w->close();
    m_w.reset();
    const TIniDocument ini(m_work->filePath(QStringLiteral("config.ini")));
    QCOMPARE(ini.ReadString(QStringLiteral("OTRA"), QStringLiteral("Clave"), {}),
             QStringLiteral("valor"));
    const RemoteSettings s = LoadRemoteSettings(ini);
    QCOMPARE(s.enabled, false);
    QCOMPARE(s.port, int(port));
    QCOMPARE(s.token, QStringLiteral("tok-123456"));
    QCOMPARE(s.bind, QStringLiteral("127.0.0.1"));
    // The file holds the token: its owner alone may read it.
    QCOMPARE(QFile::permissions(m_work->filePath(QStringLiteral("config.ini"))) & 0x0FFF,
             QFileDevice::ReadUser | QFileDevice::WriteUser);

    // A bind beyond loopback without a token, or with one shorter than 16
    // characters: one clear error, nothing listens.
    const struct {
        const char* token;
        const char* error;
    } refused[] = {{"", "token"}, {"tok-12345678901", "16 caracteres"}};
    for (const auto& r : refused) {
        m_w.reset();
        {
            QFile f(m_work->filePath(QStringLiteral("config.ini")));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray("[REMOTO]\r\nEnabled=1\r\nBind=0.0.0.0\r\nToken=") + r.token +
                    "\r\n");
        }
        m_w = std::make_unique<TfrmMain>();
        QTRY_COMPARE_WITH_TIMEOUT(m_w->Errors().Count(), 1, 3000);
        QVERIFY2(m_w->Errors().LastText().contains(QString::fromUtf8(r.error)),
                 qPrintable(m_w->Errors().LastText()));
        QVERIFY(!m_w->Remote()->IsListening());
        QVERIFY(!m_w->Remote()->IsStarted());
    }
}

void TstRemote::generatedTokenAndItsUse() {
    QVERIFY(m_w->tabGeneral->isAncestorOf(m_w->cmdRemotoGenerar));
    QCOMPARE(m_w->cmdRemotoGenerar->text(), QStringLiteral("Generar"));
    QTcpServer probe; // a free port number for the desk
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const quint16 port = probe.serverPort();
    probe.close();
    m_w->spnRemotoPuerto->setValue(port);
    m_w->chkRemoto->setChecked(true);
    QVERIFY(m_w->Remote()->IsListening());
    HttpClient c(port);
    QCOMPARE(c.Get(QStringLiteral("/api/state")).status, 200);
    // Each press fills a new random token of 32 letters and digits, in use at once.
    const QRegularExpression form(QStringLiteral("^[A-Za-z0-9]{32}$"));
    QSet<QString> seen;
    for (int i = 0; i < 3; ++i) {
        m_w->cmdRemotoGenerar->click();
        const QString token = m_w->txtRemotoToken->text();
        QVERIFY2(form.match(token).hasMatch(), qPrintable(token));
        seen.insert(token);
    }
    QCOMPARE(seen.size(), 3);
    QCOMPARE(c.Get(QStringLiteral("/api/state")).status, 401);
    QCOMPARE(c.Get(QStringLiteral("/api/state?token=") + m_w->txtRemotoToken->text()).status, 200);
    // Saved in a config.ini private to its owner.
    m_w->SaveConfig(QStringLiteral("config.ini"));
    QCOMPARE(QFile::permissions(QStringLiteral("config.ini")) & 0x0FFF,
             QFileDevice::ReadUser | QFileDevice::WriteUser);
    QCOMPARE(m_w->Errors().Count(), 0);
}

void TstRemote::hungSessionBusNeverBlocksTheWindow() {
    // A session bus that accepts connections and never answers.
    QLocalServer hung;
    const QString path = m_work->filePath(QStringLiteral("hung-bus"));
    QVERIFY(hung.listen(path));
    m_w.reset();
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + path.toUtf8());
    const auto restore =
        qScopeGuard([this] { qputenv("DBUS_SESSION_BUS_ADDRESS", m_busAddress.toUtf8()); });
    m_w = std::make_unique<TfrmMain>();
    m_w->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_w.get()));
    // The window answers the remote while the bus says nothing.
    const quint16 port = Start();
    QVERIFY(port);
    HttpClient c(port);
    QCOMPARE(c.Get(QStringLiteral("/api/state")).status, 200);
    QVERIFY(!m_w->Mpris()->IsRegistered());
    // After a while MPRIS is given up, with one line in debug.txt.
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(QStringLiteral("debug.txt")), 20000);
    QFile debug(QStringLiteral("debug.txt"));
    QVERIFY(debug.open(QIODevice::ReadOnly));
    const QByteArray text = debug.readAll().trimmed();
    QVERIFY2(text.startsWith("MPRIS") && !text.contains('\n'), text.constData());
    QVERIFY(!m_w->Mpris()->IsRegistered());
    QCOMPARE(c.Get(QStringLiteral("/api/state")).status, 200);
    QCOMPARE(m_w->Errors().Count(), 0);
}

void TstRemote::playlistAnswerFollowsEveryChange() {
    AddRow(m_w.get(), m_clip[0]);
    AddRow(m_w.get(), m_clip[1]);
    const quint16 port = Start();
    HttpClient c(port);
    auto rows = [&] {
        return c.Get(QStringLiteral("/api/playlist")).json.value(QStringLiteral("rows")).toArray();
    };
    // The row flagged with key ("next", "playing"); -1 when none.
    auto flagged = [&](const char* key) {
        const QJsonArray list = rows();
        for (int i = 0; i < list.size(); ++i)
            if (list.at(i).toObject().value(QLatin1String(key)).toBool())
                return i;
        return -1;
    };
    QCOMPARE(rows().size(), 2);
    QCOMPARE(flagged("next"), 0);
    QCOMPARE(c.Get(QStringLiteral("/api/playlist")).body,
             c.Get(QStringLiteral("/api/playlist")).body);
    // A row added, a text changed, the next row chosen, a row played, a row removed.
    AddRow(m_w.get(), m_clip[2]);
    QCOMPARE(rows().size(), 3);
    m_w->lstPlayList->SetSubItem(m_w->lstPlayList->Row(1), 0, QStringLiteral("Otro nombre"));
    QCOMPARE(rows().at(1).toObject().value(QStringLiteral("name")).toString(),
             QStringLiteral("Otro nombre"));
    QCOMPARE(c.Post(QStringLiteral("/api/playlist/3/next")).status, 200);
    QCOMPARE(flagged("next"), 2);
    QCOMPARE(c.Post(QStringLiteral("/api/next")).status, 200);
    QTRY_COMPARE_WITH_TIMEOUT(flagged("playing"), 2, 10000);
    delete m_w->lstPlayList->Row(0);
    QCOMPARE(rows().size(), 2);
    QCOMPARE(rows().at(0).toObject().value(QStringLiteral("name")).toString(),
             QStringLiteral("Otro nombre"));
}

QTEST_MAIN(TstRemote)
#include "tst_remote.moc"
