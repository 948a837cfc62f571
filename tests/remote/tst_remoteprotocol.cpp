// The remote control's parts that need no window: the request parser and its
// limits, the access rules, and the "REMOTO" section of config.ini.
#include "media/TIniDocument.h"
#include "remote/HttpMessage.h"
#include "remote/RemoteApi.h"
#include "remote/RemoteAuth.h"
#include "remote/RemoteSettings.h"

#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>

class TstRemoteProtocol : public QObject {
    Q_OBJECT
private slots:
    void headsAreParsedOrRefused_data();
    void headsAreParsedOrRefused();
    void partialHeadsWait();
    void requestFields();
    void tokensAndHosts();
    void accessRules();
    void settingsRoundTrip();
    void minutesAndSeconds();
    void routesCallTheDesk();
    void unknownPathsAndWrongMethods_data();
    void unknownPathsAndWrongMethods();
};

namespace {

// A desk that records what the routes ask of it.
class FakeDesk : public RemoteDesk {
public:
    QStringList calls;
    int playlist = 3;
    int captionCount = 2;
    bool acceptCaption = true;
    QStringList tabs{QStringLiteral("Jingles"), QStringLiteral("Risas")};
    int tab = -1;
    QJsonObject State() override { return {{QStringLiteral("state"), QStringLiteral("stopped")}}; }
    QJsonArray Playlist() override { return {}; }
    int PlaylistCount() override { return playlist; }
    void Next() override { calls << QStringLiteral("Next"); }
    void PlayPause() override { calls << QStringLiteral("PlayPause"); }
    void Stop() override { calls << QStringLiteral("Stop"); }
    bool ToggleRepeat() override { return true; }
    bool ToggleStopAfter() override { return false; }
    void MakeNext(int row) override { calls << QStringLiteral("MakeNext %1").arg(row); }
    QJsonArray Captions() override { return {}; }
    int CaptionCount() override { return captionCount; }
    void PublishCaption(int row) override { calls << QStringLiteral("Publish %1").arg(row); }
    void ClearCaption() override { calls << QStringLiteral("ClearCaption"); }
    bool AddCaption(const QString& a, const QString& b, const QString& c) override {
        calls << QStringLiteral("Add %1|%2|%3").arg(a, b, c);
        if (acceptCaption)
            ++captionCount;
        return acceptCaption;
    }
    void StartCountdown(std::optional<QTime> time) override {
        calls << QStringLiteral("Countdown %1")
                     .arg(time ? time->toString(QStringLiteral("mm:ss")) : QStringLiteral("-"));
    }
    void StopCountdown() override { throw RemoteError(409, QStringLiteral("parado")); }
    void SendMarquee(const QString& text) override { calls << QStringLiteral("Marquee ") + text; }
    QStringList EffectTabs() override { return tabs; }
    int EffectTab() override { return tab; }
    void ChooseEffectTab(int t) override {
        calls << QStringLiteral("Tab %1").arg(t);
        tab = t;
    }
    QStringList EffectNames() override {
        return tab == 1 ? QStringList{QStringLiteral("Risa.mp3")}
                        : QStringList{QStringLiteral("a.mp3"), QStringLiteral("B.mp3")};
    }
    void PlayEffect(int row) override { calls << QStringLiteral("Effect %1").arg(row); }
    void StopEffect() override { calls << QStringLiteral("StopEffect"); }
    void AnnounceClock() override { calls << QStringLiteral("Clock"); }
};

HttpReply Call(RemoteApi& api, const QByteArray& method, const QByteArray& target,
               const QByteArray& body = {}) {
    HttpRequest r;
    const HeadParse p = ParseRequestHead(method + ' ' + target + " HTTP/1.1\r\nContent-Length: " +
                                             QByteArray::number(body.size()) + "\r\n\r\n",
                                         r);
    if (p.status != HeadParse::Complete)
        return ErrorReply(p.errorStatus, p.error);
    r.body = body;
    return api.Handle(r);
}

} // namespace

void TstRemoteProtocol::headsAreParsedOrRefused_data() {
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<int>("status"); // 0: complete
    const QByteArray ok = "GET /api/state HTTP/1.1\r\nHost: 127.0.0.1:9020\r\n\r\n";
    QTest::newRow("plain") << ok << 0;
    QTest::newRow("http/1.0") << QByteArray("GET / HTTP/1.0\r\n\r\n") << 0;
    QTest::newRow("version") << QByteArray("GET / HTTP/2.0\r\n\r\n") << 505;
    QTest::newRow("two spaces") << QByteArray("GET  / HTTP/1.1\r\n\r\n") << 400;
    QTest::newRow("no slash") << QByteArray("GET api HTTP/1.1\r\n\r\n") << 400;
    QTest::newRow("method") << QByteArray("G(T / HTTP/1.1\r\n\r\n") << 400;
    QTest::newRow("control in path") << QByteArray("GET /a\x01 HTTP/1.1\r\n\r\n") << 400;
    QTest::newRow("nul escaped") << QByteArray("GET /a%00b HTTP/1.1\r\n\r\n") << 400;
    QTest::newRow("no colon") << QByteArray("GET / HTTP/1.1\r\nHost\r\n\r\n") << 400;
    QTest::newRow("folded") << QByteArray("GET / HTTP/1.1\r\nA: b\r\n c\r\n\r\n") << 400;
    QTest::newRow("chunked") << QByteArray("POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n")
                             << 411;
    QTest::newRow("length text") << QByteArray("POST / HTTP/1.1\r\nContent-Length: 1e3\r\n\r\n")
                                 << 400;
    QTest::newRow("length sign") << QByteArray("POST / HTTP/1.1\r\nContent-Length: +5\r\n\r\n")
                                 << 400;
    QTest::newRow("length huge")
        << QByteArray("POST / HTTP/1.1\r\nContent-Length: 99999999999999999999999\r\n\r\n") << 400;
    QTest::newRow("lengths differ")
        << QByteArray("POST / HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\n") << 400;
    QTest::newRow("lengths equal")
        << QByteArray("POST / HTTP/1.1\r\nContent-Length: 2\r\nContent-Length: 2\r\n\r\n") << 0;
    QTest::newRow("at the cap") << QByteArray("POST / HTTP/1.1\r\nContent-Length: 65536\r\n\r\n")
                                << 0;
    QTest::newRow("over the cap") << QByteArray("POST / HTTP/1.1\r\nContent-Length: 65537\r\n\r\n")
                                  << 413;
    QTest::newRow("long head") << QByteArray("GET / HTTP/1.1\r\nX: " + QByteArray(17000, 'a') +
                                             "\r\n\r\n")
                               << 431;
    QByteArray many = "GET / HTTP/1.1\r\n";
    for (int i = 0; i < 101; ++i)
        many += "X-" + QByteArray::number(i) + ": 1\r\n";
    QTest::newRow("many headers") << many + "\r\n" << 431;
}

void TstRemoteProtocol::headsAreParsedOrRefused() {
    QFETCH(QByteArray, head);
    QFETCH(int, status);
    HttpRequest r;
    const HeadParse p = ParseRequestHead(head, r);
    if (status == 0) {
        QCOMPARE(p.status, HeadParse::Complete);
        QCOMPARE(p.headLength, int(head.size()));
    } else {
        QCOMPARE(p.status, HeadParse::Error);
        QCOMPARE(p.errorStatus, status);
        QVERIFY(!p.error.isEmpty());
    }
}

void TstRemoteProtocol::partialHeadsWait() {
    const QByteArray head =
        "POST /api/marquee?x=1 HTTP/1.1\r\nHost: a\r\nContent-Length: 4\r\n\r\n";
    for (int n = 0; n < head.size(); ++n) {
        HttpRequest r;
        QCOMPARE(ParseRequestHead(head.left(n), r).status, HeadParse::Incomplete);
    }
    // A head that grows past the limit without ending is refused, not awaited.
    HttpRequest r;
    QCOMPARE(ParseRequestHead("GET / HTTP/1.1\r\nX: " + QByteArray(20000, 'a'), r).status,
             HeadParse::Error);
    // Bytes after the head (the body, a pipelined request) are not part of it.
    const HeadParse p = ParseRequestHead(head + "body", r);
    QCOMPARE(p.headLength, int(head.size()));
    QCOMPARE(r.contentLength, 4);
}

void TstRemoteProtocol::requestFields() {
    HttpRequest r;
    QCOMPARE(ParseRequestHead("GET /api/caption%C3%B3/1?token=a%2Bb&x HTTP/1.1\r\n"
                              "HOST:  127.0.0.1:9020 \r\nConnection: Upgrade, keep-alive\r\n"
                              "Upgrade: WebSocket\r\n\r\n",
                              r)
                 .status,
             HeadParse::Complete);
    QCOMPARE(r.path, QStringLiteral("/api/captionó/1"));
    QCOMPARE(r.Header("host"), QByteArray("127.0.0.1:9020"));
    QCOMPARE(RequestToken(r), QByteArray("a+b"));
    QVERIFY(r.KeepAlive());
    QVERIFY(r.IsWebSocketUpgrade());
    QVERIFY(ParseRequestHead("GET / HTTP/1.0\r\n\r\n", r).status == HeadParse::Complete);
    QVERIFY(!r.KeepAlive());
    QVERIFY(ParseRequestHead("GET / HTTP/1.1\r\nConnection: close\r\n\r\n", r).status ==
            HeadParse::Complete);
    QVERIFY(!r.KeepAlive());

    const QByteArray wire = SerializeReply(ErrorReply(404, QStringLiteral("No existe")), true);
    QVERIFY(wire.startsWith("HTTP/1.1 404 Not Found\r\n"));
    const QByteArray body = wire.mid(wire.indexOf("\r\n\r\n") + 4);
    QVERIFY(wire.contains("Content-Length: " + QByteArray::number(body.size()) + "\r\n"));
    QVERIFY(wire.endsWith("{\"error\":\"No existe\",\"status\":404}") ||
            wire.endsWith("{\"status\":404,\"error\":\"No existe\"}"));
    QVERIFY(!wire.contains("Access-Control"));
    QVERIFY(SerializeReply(JsonReply(200, QByteArray("{}")), false, true).endsWith("\r\n\r\n"));
}

void TstRemoteProtocol::tokensAndHosts() {
    QVERIFY(TokensEqual("abc", "abc"));
    QVERIFY(!TokensEqual("abd", "abc"));
    QVERIFY(!TokensEqual("ab", "abc"));
    QVERIFY(!TokensEqual("abcd", "abc"));
    QVERIFY(!TokensEqual("", ""));
    QVERIFY(!TokensEqual("x", ""));
    for (const char* host : {"127.0.0.1", "127.0.0.1:9020", "localhost:1", "LOCALHOST",
                             "[::1]:9020", "[::1]", "127.1.2.3"})
        QVERIFY2(IsLoopbackHostHeader(host), host);
    for (const char* host : {"evil.example", "evil.example:9020", "localhost.evil.example",
                             "127.0.0.1.evil.example", "[::2]", "192.168.1.5:9020", "[::1]x", ""})
        QVERIFY2(!IsLoopbackHostHeader(host), host);
}

void TstRemoteProtocol::accessRules() {
    auto request = [](const QByteArray& headers) {
        HttpRequest r;
        ParseRequestHead("GET /api/state HTTP/1.1\r\n" + headers + "\r\n", r);
        return r;
    };
    const AccessPolicy loopback;
    AccessPolicy withToken;
    withToken.token = "t0ken";
    AccessPolicy network;
    network.token = "t0ken";
    network.loopbackOnly = false;
    const struct {
        const char* headers;
        const AccessPolicy* policy;
        int status; // 0: allowed
    } cases[] = {
        {"Host: 127.0.0.1:9020\r\n", &loopback, 0},
        {"", &loopback, 0},
        {"Host: 127.0.0.1:9020\r\nOrigin: http://127.0.0.1:9020\r\n", &loopback, 0},
        {"Host: 127.0.0.1:9020\r\nOrigin: http://evil.example\r\n", &loopback, 403},
        {"Host: 127.0.0.1:9020\r\nOrigin: null\r\n", &loopback, 403},
        {"Host: evil.example:9020\r\nOrigin: http://evil.example:9020\r\n", &loopback, 403},
        {"Host: 127.0.0.1\r\n", &withToken, 401},
        {"Host: 127.0.0.1\r\nAuthorization: Bearer t0ken\r\n", &withToken, 0},
        {"Host: 127.0.0.1\r\nAuthorization: bearer t0ken\r\n", &withToken, 0},
        {"Host: 127.0.0.1\r\nAuthorization: Basic t0ken\r\n", &withToken, 401},
        {"Host: 10.0.0.2:9020\r\nX-Tavoria-Token: t0ken\r\n", &network, 0},
        {"Host: 10.0.0.2:9020\r\nX-Tavoria-Token: t0ke\r\n", &network, 401},
        {"Host: 10.0.0.2:9020\r\n", &network, 401},
    };
    for (const auto& t : cases) {
        const auto refusal = CheckAccess(request(t.headers), *t.policy);
        QVERIFY2((refusal ? refusal->status : 0) == t.status, t.headers);
    }
}

void TstRemoteProtocol::settingsRoundTrip() {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("config.ini"));
    {
        const TIniDocument empty(file);
        const RemoteSettings s = LoadRemoteSettings(empty);
        QCOMPARE(s, RemoteSettings());
        QCOMPARE(s.enabled, false);
        QCOMPARE(s.port, 9020);
        QCOMPARE(s.bind, QStringLiteral("127.0.0.1"));
        QVERIFY(s.token.isEmpty());
    }
    TIniDocument ini(file);
    // Defaults are not written into a file that has no such section.
    ini.Parse(QStringLiteral("[CONFIG]\nA=1"));
    SaveRemoteSettings(ini, RemoteSettings());
    QVERIFY(!ini.SectionExists(QStringLiteral("REMOTO")));
    ini.Parse(QStringLiteral("[REMOTO]\nEnabled=1\nPort=70000\nBind=\nToken=a b"));
    RemoteSettings s = LoadRemoteSettings(ini);
    QCOMPARE(s.enabled, true);
    QCOMPARE(s.port, 9020);
    QCOMPARE(s.bind, QStringLiteral("127.0.0.1"));
    s.port = 9100;
    s.bind = QStringLiteral("0.0.0.0");
    SaveRemoteSettings(ini, s);
    ini.Update();
    QCOMPARE(LoadRemoteSettings(TIniDocument(file)), s);

    RemoteServerConfig config;
    QString error;
    // Beyond loopback a token shorter than 16 characters is refused, by its length.
    QVERIFY(!RemoteServerConfigFor(s, config, &error));
    QVERIFY2(error.contains(QStringLiteral("16 caracteres")), qPrintable(error));
    s.token = QStringLiteral("a b-456789012345"); // 16, a space inside
    QVERIFY(RemoteServerConfigFor(s, config, &error));
    QCOMPARE(config.bind, QHostAddress(QHostAddress::AnyIPv4));
    QCOMPARE(config.token, QByteArray("a b-456789012345"));
    s.token = QStringLiteral("  a b-45678901234  "); // 15 once trimmed
    QVERIFY(!RemoteServerConfigFor(s, config, &error));
    // On loopback any token will do.
    s.bind = QStringLiteral("127.0.0.1");
    s.token = QStringLiteral("x");
    QVERIFY(RemoteServerConfigFor(s, config, &error));
    s.bind = QStringLiteral("0.0.0.0");
    s.token.clear();
    QVERIFY(!RemoteServerConfigFor(s, config, &error));
    QVERIFY(error.contains(QStringLiteral("token")));
    s.bind = QStringLiteral("localhost");
    QVERIFY(RemoteServerConfigFor(s, config, &error));
    QVERIFY(config.bind.isLoopback());
    s.bind = QStringLiteral("desk.example");
    QVERIFY(!RemoteServerConfigFor(s, config, &error));
}

void TstRemoteProtocol::minutesAndSeconds() {
    QCOMPARE(ParseMinutesSeconds(QStringLiteral("05:00")), QTime(0, 5, 0));
    QCOMPARE(ParseMinutesSeconds(QStringLiteral("7:09")), QTime(0, 7, 9));
    QCOMPARE(ParseMinutesSeconds(QStringLiteral("59:59")), QTime(0, 59, 59));
    for (const char* bad : {"60:00", "5:60", "5", "05:0", "aa:bb", "-1:00", "05:00:00", ""})
        QVERIFY2(!ParseMinutesSeconds(QString::fromLatin1(bad)), bad);
}

void TstRemoteProtocol::routesCallTheDesk() {
    FakeDesk desk;
    RemoteApi api(&desk);
    const struct {
        const char* method;
        const char* target;
        QByteArray body;
        int status;
        const char* call; // what the desk was asked, "" for nothing
    } cases[] = {
        {"POST", "/api/next/", {}, 200, "Next"},
        {"POST", "/api/playlist/3/next", {}, 200, "MakeNext 2"},
        {"POST", "/api/playlist/03/next", {}, 400, ""},
        {"POST", "/api/captions/2/publish", {}, 200, "Publish 1"},
        {"POST", "/api/captions/clear", {}, 200, "ClearCaption"},
        {"GET", "/api/captions/clear", {}, 405, ""},
        {"POST", "/api/captions", R"({"speaker":"Ana","talk":"Tema","details":"Sala"})", 201,
         "Add Ana|Tema|Sala"},
        {"POST", "/api/captions", R"({"speaker":"Ana","talk":"Tema"})", 201, "Add Ana|Tema|"},
        {"POST", "/api/captions", R"({"speaker":"Ana","talk":"Te"})", 201, "Add Ana|Te|"},
        {"POST", "/api/captions", R"({"speaker":"Ana","talk":"Tema","details":"a\tb"})", 400, ""},
        {"POST", "/api/countdown/start", {}, 200, "Countdown -"},
        {"POST", "/api/countdown/start", R"({"time":"7:05"})", 200, "Countdown 07:05"},
        {"POST", "/api/countdown/stop", {}, 409, ""},
        {"POST", "/api/marquee", R"({"text":"A\r\nB"})", 200, "Marquee A\r\nB"},
        {"POST", "/api/effects/play", R"({"file":"b.MP3"})", 200, "Effect 1"},
        {"POST", "/api/effects/play", R"({"tab":"Risas","row":1})", 200, "Tab 1"},
        {"POST", "/api/effects/play", R"({"tab":2,"row":1})", 200, "Effect 0"},
        {"POST", "/api/effects/tab", R"({"row":1})", 400, ""},
        {"POST", "/api/clock/announce", {}, 200, "Clock"},
        {"HEAD", "/api/state", {}, 200, ""},
    };
    for (const auto& t : cases) {
        desk.calls.clear();
        const HttpReply reply = Call(api, t.method, t.target, t.body);
        const QString what =
            QStringLiteral("%1 %2 %3 -> %4 %5 %6")
                .arg(QLatin1String(t.method), QLatin1String(t.target), QString::fromUtf8(t.body))
                .arg(reply.status)
                .arg(QString::fromUtf8(reply.body), desk.calls.join(u';'));
        QVERIFY2(reply.status == t.status, qPrintable(what));
        if (*t.call)
            QVERIFY2(!desk.calls.isEmpty() && desk.calls.first() == QString::fromUtf8(t.call),
                     qPrintable(what));
        else
            QVERIFY2(desk.calls.isEmpty(), qPrintable(what));
    }
    // The editor refusing a caption (its two-character rule) is bad input, and the
    // answer of an added one names its row.
    desk.acceptCaption = false;
    QCOMPARE(Call(api, "POST", "/api/captions", R"({"speaker":"Ana","talk":"T"})").status, 400);
    desk.acceptCaption = true;
    const HttpReply added =
        Call(api, "POST", "/api/captions", R"({"speaker":"Ana","talk":"Tema"})");
    QCOMPARE(QJsonDocument::fromJson(added.body).object().value(QStringLiteral("number")).toInt(),
             desk.captionCount);
}

void TstRemoteProtocol::unknownPathsAndWrongMethods_data() {
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("allow"); // the Allow header of a 405, "" for none
    // Every route once with a method it does not take.
    const struct {
        const char* target;
        const char* wrongMethod;
        const char* allow;
    } routes[] = {
        {"/api/state", "POST", "GET"},
        {"/api/playlist", "POST", "GET"},
        {"/api/next", "GET", "POST"},
        {"/api/playpause", "HEAD", "POST"},
        {"/api/stop", "PUT", "POST"},
        {"/api/repeat", "GET", "POST"},
        {"/api/stop-after", "DELETE", "POST"},
        {"/api/playlist/2/next", "GET", "POST"},
        {"/api/captions", "PUT", "GET, POST"},
        {"/api/captions", "DELETE", "GET, POST"},
        {"/api/captions/clear", "GET", "POST"},
        {"/api/captions/1/publish", "GET", "POST"},
        {"/api/countdown/start", "GET", "POST"},
        {"/api/countdown/stop", "PATCH", "POST"},
        {"/api/marquee", "GET", "POST"},
        {"/api/effects", "POST", "GET"},
        {"/api/effects/tab", "GET", "POST"},
        {"/api/effects/play", "GET", "POST"},
        {"/api/effects/stop", "GET", "POST"},
        {"/api/clock/announce", "GET", "POST"},
    };
    for (const auto& r : routes)
        QTest::addRow("%s %s", r.wrongMethod, r.target)
            << QByteArray(r.wrongMethod) << QByteArray(r.target) << 405 << QByteArray(r.allow);
    // A trailing "/" is the same route; the method is checked before the row number.
    QTest::newRow("trailing slash")
        << QByteArray("GET") << QByteArray("/api/captions/clear/") << 405 << QByteArray("POST");
    QTest::newRow("row not a number")
        << QByteArray("GET") << QByteArray("/api/playlist/x/next") << 405 << QByteArray("POST");
    for (const char* target :
         {"/api/", "/api/nothing", "/api/playlist/1", "/api/playlist/1/next/now", "/api/captions/1",
          "/api/captions/publish", "/api/effects/tab/1", "/api/State", "/api/countdown",
          "/api//next"})
        for (const char* method : {"GET", "POST", "PUT"})
            QTest::addRow("%s %s", method, target)
                << QByteArray(method) << QByteArray(target) << 404 << QByteArray();
}

// A path no route has is 404; a route asked with a method it does not take is 405,
// and its Allow header names every method of that path.
void TstRemoteProtocol::unknownPathsAndWrongMethods() {
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, target);
    QFETCH(int, status);
    QFETCH(QByteArray, allow);
    FakeDesk desk;
    RemoteApi api(&desk);
    const HttpReply reply = Call(api, method, target);
    QVERIFY2(
        reply.status == status,
        qPrintable(QStringLiteral("%1: %2").arg(reply.status).arg(QString::fromUtf8(reply.body))));
    QByteArrayList allowHeaders;
    for (const auto& [name, value] : reply.headers)
        if (name.compare("Allow", Qt::CaseInsensitive) == 0)
            allowHeaders << value;
    QCOMPARE(allowHeaders, allow.isEmpty() ? QByteArrayList() : QByteArrayList{allow});
    QVERIFY2(desk.calls.isEmpty(), qPrintable(desk.calls.join(u';')));
    const QJsonObject body = QJsonDocument::fromJson(reply.body).object();
    QCOMPARE(body.value(QStringLiteral("status")).toInt(), status);
    QVERIFY(!body.value(QStringLiteral("error")).toString().isEmpty());
}

QTEST_GUILESS_MAIN(TstRemoteProtocol)
#include "tst_remoteprotocol.moc"
