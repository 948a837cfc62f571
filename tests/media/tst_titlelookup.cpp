// Web addresses as rows, the title lookup against a local HTTP server, and rows
// that keep their order while titles arrive.
#include "HttpTestServer.h"
#include "media/TListView.h"
#include "media/TavoriaError.h"
#include "media/TitleLookup.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

namespace {
TImageList Images() {
    TImageList images(QStringLiteral("icons16"), QSize(16, 16));
    for (int i = 0; i < 20; ++i)
        images.Add(QIcon());
    return images;
}
QStringList Column(TListView* lv, int j) {
    QStringList out;
    for (int i = 0; i < lv->RowCount(); ++i)
        out << TListView::SubItem(lv->Row(i), j);
    return out;
}
// The message of the error f raises; empty when it raises none.
template <typename F> QString ErrorOf(F f) {
    try {
        f();
    } catch (const TavoriaError& e) {
        return e.message();
    }
    return QString();
}
} // namespace

class TstTitleLookup : public QObject {
    Q_OBJECT
private slots:
    void init();
    void urlRules_data();
    void urlRules();
    void requestUrl_data();
    void requestUrl();
    void titleFromHtml_data();
    void titleFromHtml();
    void hostFromTheEnvironment();
    void lookupRequestAndRows();
    void idsCannotBreakTheRequest();
    void failures_data();
    void failures();
    void serverThatNeverAnswers();
    void rowsKeepTheirOrder();
    void importModeStopsAtAFailure();

private:
    HttpTestServer m_server;
    TImageList m_images = Images();
};

void TstTitleLookup::init() {
    qputenv("TAVORIA_TITLE_HOST", m_server.Host().toUtf8());
    m_server.ClearRequests();
    m_server.SetTitle("Un t&iacute;tulo");
}

void TstTitleLookup::urlRules_data() {
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("videoSite");
    QTest::addColumn<QString>("segment");
    QTest::addColumn<QString>("id");
    QTest::newRow("id then more parameters")
        << "https://www.youtube.com/watch?v=dQw4w9WgXcQ&list=PL1&t=3" << true
        << "watch?v=dQw4w9WgXcQ&list=PL1&t=3"
        << "dQw4w9WgXcQ";
    QTest::newRow("id cut short by the end")
        << "http://youtube.com/watch?v=abc" << true << "watch?v=abc"
        << "abc";
    QTest::newRow("capital letters: a plain address")
        << "https://www.YouTube.com/watch?v=dQw4w9WgXcQ" << false << "watch?v=dQw4w9WgXcQ"
        << "dQw4w9WgXcQ";
    QTest::newRow("short link: a plain address")
        << "https://youtu.be/dQw4w9WgXcQ" << false << "dQw4w9WgXcQ"
        << "ttps://yout";
    QTest::newRow("no v=: from the second character")
        << "https://www.youtube.com/embed/xyz" << true << "xyz"
        << "ttps://www.";
    QTest::newRow("first v= counts")
        << "http://youtube.com/?v=first&v=second" << true << "?v=first&v=second"
        << "first&v=sec";
    QTest::newRow("ends in a slash") << "http://radio.example/stream/" << false << ""
                                     << "ttp://radio";
    QTest::newRow("no slash at all") << "rtsp:camara" << false << "rtsp:camara"
                                     << "tsp:camara";
    QTest::newRow("plain file address")
        << "http://server/ruta/archivo.mp4" << false << "archivo.mp4"
        << "ttp://serve";
}

void TstTitleLookup::urlRules() {
    QFETCH(QString, url);
    QFETCH(bool, videoSite);
    QFETCH(QString, segment);
    QFETCH(QString, id);
    QCOMPARE(IsVideoSiteUrl(url), videoSite);
    QCOMPARE(UrlLastSegment(url), segment);
    QCOMPARE(VideoId(url), id);
    // A plain address becomes a row at once, named by its last segment.
    if (!videoSite) {
        TListView lv;
        lv.setColumnCount(6);
        lv.SetSmallImages(&m_images);
        AddMediaUrl(url, &lv);
        QCOMPARE(lv.RowCount(), 1);
        QTreeWidgetItem* row = lv.Row(0);
        QCOMPARE(TListView::SubItemCount(row), 5);
        const QStringList expected{segment, "00:00:00", url, "0", ""};
        for (int j = 0; j < 5; ++j)
            QCOMPARE(TListView::SubItem(row, j), expected[j]);
        QCOMPARE(TListView::SubItemImage(row), 12);
        QVERIFY(row->text(0).isEmpty());
        QVERIFY(m_server.Requests().isEmpty());
    }
}

void TstTitleLookup::requestUrl_data() {
    QTest::addColumn<QString>("id");
    QTest::addColumn<QByteArray>("query");
    QTest::newRow("plain id") << "dQw4w9WgXcQ" << QByteArray("id=dQw4w9WgXcQ");
    QTest::newRow("unreserved marks") << "a-b_c.d~e" << QByteArray("id=a-b_c.d~e");
    QTest::newRow("space") << "ab cd" << QByteArray("id=ab%20cd");
    QTest::newRow("CR LF and a header")
        << "a\r\nX-Evil: 1" << QByteArray("id=a%0D%0AX-Evil%3A%201");
    QTest::newRow("ampersand") << "a&b=c" << QByteArray("id=a%26b%3Dc");
    QTest::newRow("hash") << "ab#cd" << QByteArray("id=ab%23cd");
    QTest::newRow("percent and slash") << "5%/x?" << QByteArray("id=5%25%2Fx%3F");
    QTest::newRow("accent") << QString::fromUtf8("é") << QByteArray("id=%C3%A9");
}

void TstTitleLookup::requestUrl() {
    QFETCH(QString, id);
    QFETCH(QByteArray, query);
    const QUrl url = TitleLookupUrl(id);
    QVERIFY(url.isValid());
    QCOMPARE(url.scheme(), QStringLiteral("http"));
    QCOMPARE(url.toEncoded(),
             "http://" + m_server.Host().toLatin1() + "/lib/youtubetitle.php?" + query);
}

void TstTitleLookup::titleFromHtml_data() {
    QTest::addColumn<QByteArray>("html");
    QTest::addColumn<QByteArray>("charset");
    QTest::addColumn<QString>("title");
    QTest::newRow("entities") << QByteArray("<html><head><title>Rock &amp; Roll &eacute;poca "
                                            "&#8211; &#x1F600; &lt;b&gt; &quot;x&quot;</title>")
                              << QByteArray()
                              << QString::fromUtf8("Rock & Roll época – 😀 <b> \"x\"");
    QTest::newRow("white space collapsed")
        << QByteArray("<title>\n   Dos \t  palabras\r\n </title>") << QByteArray()
        << QStringLiteral("Dos palabras");
    QTest::newRow("no title") << QByteArray("<html><body><h1>Nada</h1></body></html>")
                              << QByteArray() << QString();
    QTest::newRow("empty title") << QByteArray("<title></title>") << QByteArray() << QString();
    QTest::newRow("empty body") << QByteArray() << QByteArray() << QString();
    QTest::newRow("not html at all")
        << QByteArray("\x00\x01\x02garbage", 10) << QByteArray() << QString();
    QTest::newRow("first title wins, capitals")
        << QByteArray("<HTML><HEAD><TITLE>Uno</TITLE></HEAD><body><title>Dos</title>")
        << QByteArray() << QStringLiteral("Uno");
    QTest::newRow("utf-8 without declaration") << QByteArray("<title>Canci\xC3\xB3n</title>")
                                               << QByteArray() << QString::fromUtf8("Canción");
    QTest::newRow("latin-1 without declaration")
        << QByteArray("<title>Canci\xF3n</title>") << QByteArray() << QString::fromUtf8("Canción");
    QTest::newRow("latin-1 declared by the server")
        << QByteArray("<title>Espa\xF1"
                      "a</title>")
        << QByteArray("ISO-8859-1") << QString::fromUtf8("España");
    QTest::newRow("latin-1 declared by the page")
        << QByteArray("<html><head><meta charset=\"iso-8859-1\"><title>Espa\xF1"
                      "a</title></head></html>")
        << QByteArray() << QString::fromUtf8("España");
    QTest::newRow("server's charset over the page's")
        << QByteArray("<meta charset=\"iso-8859-1\"><title>Canci\xC3\xB3n</title>")
        << QByteArray("utf-8") << QString::fromUtf8("Canción");
    QTest::newRow("unknown charset name")
        << QByteArray("<title>Ok</title>") << QByteArray("no-such-charset") << QStringLiteral("Ok");
}

void TstTitleLookup::titleFromHtml() {
    QFETCH(QByteArray, html);
    QFETCH(QByteArray, charset);
    QFETCH(QString, title);
    QCOMPARE(TitleFromHtml(html, charset), title);
}

void TstTitleLookup::hostFromTheEnvironment() {
    qunsetenv("TAVORIA_TITLE_HOST");
    QCOMPARE(TitleLookupHostName(), QString::fromLatin1(TitleLookupHost));
    QVERIFY(!QString::fromLatin1(TitleLookupHost).isEmpty());
    qputenv("TAVORIA_TITLE_HOST", "  ");
    QCOMPARE(TitleLookupHostName(), QString::fromLatin1(TitleLookupHost));
    qputenv("TAVORIA_TITLE_HOST", "titulos.example:8080");
    QCOMPARE(TitleLookupUrl(QStringLiteral("x")).toString(),
             QStringLiteral("http://titulos.example:8080/lib/youtubetitle.php?id=x"));
}

void TstTitleLookup::lookupRequestAndRows() {
    m_server.SetTitle("Charla &amp; preguntas &#8212; d&iacute;a 2");
    const QString url = QStringLiteral("https://www.youtube.com/watch?v=dQw4w9WgXcQ&t=10");
    QCOMPARE(FetchVideoTitle(url), QString::fromUtf8("Charla & preguntas — día 2"));
    const QList<QByteArray> requests = m_server.Requests();
    QCOMPARE(requests.size(), 1);
    const QList<QByteArray> lines = requests[0].split('\n');
    QCOMPARE(lines[0].trimmed(), QByteArray("GET /lib/youtubetitle.php?id=dQw4w9WgXcQ HTTP/1.1"));
    QVERIFY2(requests[0].contains("\r\nUser-Agent: " + QByteArray(TitleLookupUserAgent) + "\r\n"),
             requests[0].constData());
    QCOMPARE(QByteArray(TitleLookupUserAgent),
             QByteArray("Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, "
                        "like Gecko) Chrome/54.0.2840.99 Safari/537.36"));

    // The row of a video-site address carries the title and image 13.
    TListView lv;
    lv.setColumnCount(6);
    lv.SetSmallImages(&m_images);
    AddMediaUrl(url, &lv);
    QCOMPARE(lv.RowCount(), 1);
    QCOMPARE(Column(&lv, 0), QStringList{QString::fromUtf8("Charla & preguntas — día 2")});
    QCOMPARE(Column(&lv, 2), QStringList{url});
    QCOMPARE(Column(&lv, 1), QStringList{"00:00:00"});
    QCOMPARE(Column(&lv, 3), QStringList{"0"});
    QCOMPARE(TListView::SubItemImage(lv.Row(0)), 13);

    // An answer without a title names the row with the empty text.
    m_server.SetAnswer({200, "OK", "text/html", "<html><body>sin titulo</body></html>"});
    AddMediaUrl(url, &lv);
    QCOMPARE(lv.RowCount(), 2);
    QCOMPARE(TListView::SubItem(lv.Row(1), 0), QString());
    QCOMPARE(TListView::SubItemImage(lv.Row(1)), 13);
}

void TstTitleLookup::idsCannotBreakTheRequest() {
    // Ids taken from addresses with spaces, CR LF, "&" and "#": the server sees one
    // request line with the id percent-encoded and no header of the address's making.
    const QList<std::pair<QString, QByteArray>> cases{
        {QStringLiteral("http://youtube.com/watch?v=a b\r\nX-Evil: 1"), "a%20b%0D%0AX-Evil"},
        {QStringLiteral("http://youtube.com/watch?v=ab&c=d#frag"), "ab%26c%3Dd%23frag"},
    };
    for (const auto& [url, encoded] : cases) {
        m_server.ClearRequests();
        QCOMPARE(FetchVideoTitle(url), QString::fromUtf8("Un título"));
        const QList<QByteArray> requests = m_server.Requests();
        QCOMPARE(requests.size(), 1);
        QVERIFY2(
            requests[0].startsWith("GET /lib/youtubetitle.php?id=" + encoded + " HTTP/1.1\r\n"),
            requests[0].constData());
        QVERIFY(!requests[0].contains("\nX-Evil"));
    }
}

void TstTitleLookup::failures_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("reason");
    QTest::newRow("refused") << 0 << "refused";
    QTest::newRow("404") << 1 << "404";
    QTest::newRow("500") << 2 << "500";
    QTest::newRow("50 MB with its length") << 3 << "1 MiB";
    QTest::newRow("50 MB without a length") << 4 << "1 MiB";
    QTest::newRow("host that does not resolve") << 5 << "";
}

void TstTitleLookup::failures() {
    QFETCH(int, kind);
    QFETCH(QString, reason);
    HttpTestServer::Answer a;
    switch (kind) {
    case 0:
        qputenv("TAVORIA_TITLE_HOST",
                QByteArray("127.0.0.1:") + QByteArray::number(HttpTestServer::ClosedPort()));
        break;
    case 1:
        a = {404, "Not Found", "text/html", "<title>Not here</title>"};
        break;
    case 2:
        a = {500, "Internal Server Error", "text/html", "<title>Boom</title>"};
        break;
    case 3:
    case 4:
        a.streamBytes = 50LL * 1024 * 1024;
        a.announceLength = kind == 3;
        break;
    case 5:
        qputenv("TAVORIA_TITLE_HOST", "no-such-host.invalid");
        break;
    }
    m_server.SetAnswer(a);
    const QString url = QStringLiteral("https://www.youtube.com/watch?v=dQw4w9WgXcQ");
    TListView lv;
    lv.setColumnCount(6);
    lv.SetSmallImages(&m_images);
    QElapsedTimer t;
    t.start();
    const QString error = ErrorOf([&] { AddMediaUrl(url, &lv); });
    // A clear message that names the address and the cause; no row.
    QVERIFY2(error.startsWith(QStringLiteral("No se pudo obtener el título de ") + url),
             qPrintable(error));
    QVERIFY2(error.contains(reason, Qt::CaseInsensitive), qPrintable(error));
    QCOMPARE(lv.RowCount(), 0);
    // Nothing waits for the whole 50 MB or for the time limit.
    QVERIFY2(t.elapsed() < 8000, qPrintable(QString::number(t.elapsed())));
}

void TstTitleLookup::serverThatNeverAnswers() {
    HttpTestServer::Answer a;
    a.silent = true;
    m_server.SetAnswer(a);
    QNetworkAccessManager net;
    TTitleRequest request(&net, QStringLiteral("http://youtube.com/watch?v=silencio123"));
    QSignalSpy done(&request, &TTitleRequest::Done);
    QSignalSpy failed(&request, &TTitleRequest::Failed);
    // The caller's event loop keeps running meanwhile: a timer goes on firing.
    int ticks = 0;
    QTimer timer;
    connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(100);
    QElapsedTimer t;
    t.start();
    request.Start();
    QTRY_COMPARE_WITH_TIMEOUT(failed.size(), 1, 20000);
    const qint64 waited = t.elapsed();
    QVERIFY2(waited >= 9500 && waited < 15000, qPrintable(QString::number(waited)));
    QVERIFY2(ticks >= 50, qPrintable(QString::number(ticks)));
    QCOMPARE(done.size(), 0);
    const QString message = failed[0][0].toString();
    QVERIFY2(message.contains(QStringLiteral("no respondió en 10 segundos")), qPrintable(message));
    // One report, whatever arrives later.
    QTest::qWait(300);
    QCOMPARE(failed.size(), 1);
}

void TstTitleLookup::rowsKeepTheirOrder() {
    // Addresses typed one after another: a slow title does not let later rows pass
    // it, and a failed lookup leaves only its own address out.
    HttpTestServer slow, fast, broken;
    slow.SetTitle("Lento", 1500);
    fast.SetTitle("R&aacute;pido");
    broken.SetAnswer({404, "Not Found", "text/html", ""});
    TListView lv;
    lv.setColumnCount(6);
    lv.SetSmallImages(&m_images);
    TRowQueue queue(&lv);
    QSignalSpy failedSpy(&queue, &TRowQueue::EntryFailed);
    QSignalSpy drained(&queue, &TRowQueue::Drained);
    auto typed = [&](HttpTestServer& server, const QString& url, int n) {
        qputenv("TAVORIA_TITLE_HOST", server.Host().toUtf8());
        queue.AddUrl(url, n);
    };
    typed(slow, QStringLiteral("http://youtube.com/watch?v=slow0000000"), 1);
    typed(fast, QStringLiteral("http://radio.example/vivo.mp3"), 2);
    typed(broken, QStringLiteral("http://youtube.com/watch?v=broken00000"), 3);
    typed(fast, QStringLiteral("http://youtube.com/watch?v=fast0000000"), 4);
    // Nothing passes the slow first row.
    QTest::qWait(700);
    QCOMPARE(lv.RowCount(), 0);
    QCOMPARE(queue.Waiting(), 4);
    QTRY_COMPARE_WITH_TIMEOUT(drained.size(), 1, 10000);
    QCOMPARE(Column(&lv, 0), (QStringList{"Lento", "vivo.mp3", QString::fromUtf8("Rápido")}));
    QCOMPARE(failedSpy.size(), 1);
    QCOMPARE(failedSpy[0][0].toString(), QStringLiteral("http://youtube.com/watch?v=broken00000"));
    QCOMPARE(failedSpy[0][2].toInt(), 3);
    QVERIFY(failedSpy[0][1].toString().contains(QStringLiteral("404")));
}

void TstTitleLookup::importModeStopsAtAFailure() {
    HttpTestServer broken;
    broken.SetAnswer({500, "Internal Server Error", "text/html", ""});
    TListView lv;
    lv.setColumnCount(6);
    lv.SetSmallImages(&m_images);
    TRowQueue queue(&lv);
    queue.SetStopAtFailure(true);
    QSignalSpy failedSpy(&queue, &TRowQueue::EntryFailed);
    queue.AddUrl(QStringLiteral("http://a.example/uno.mp4"), 1);
    qputenv("TAVORIA_TITLE_HOST", broken.Host().toUtf8());
    queue.AddUrl(QStringLiteral("http://youtube.com/watch?v=broken00000"), 2);
    queue.AddUrl(QStringLiteral("http://a.example/tres.mp4"), 3);
    QTRY_COMPARE_WITH_TIMEOUT(failedSpy.size(), 1, 10000);
    QCOMPARE(Column(&lv, 0), QStringList{"uno.mp4"});
    QCOMPARE(queue.Waiting(), 0);
    QTest::qWait(200);
    QCOMPARE(lv.RowCount(), 1);
}

QTEST_MAIN(TstTitleLookup)
#include "tst_titlelookup.moc"
