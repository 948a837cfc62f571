#pragma once
#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <deque>

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;
class QTreeWidgetItem;
class TListView;

// Web addresses in media lists, and the title lookup of video-site addresses.

// The host of the title-lookup service (plain HTTP). The environment variable
// TAVORIA_TITLE_HOST ("host" or "host:port") replaces it, for tests and for desks
// that run the service themselves.
extern const char* const TitleLookupHost;
// The host asked: TAVORIA_TITLE_HOST when set and not empty, else TitleLookupHost.
QString TitleLookupHostName();
// The User-Agent of the lookup request.
extern const char* const TitleLookupUserAgent;

// True for a video-site address: one that contains "youtube" (exact letter case).
bool IsVideoSiteUrl(const QString& url);
// The text after the last "/" (query included); the whole text without "/".
QString UrlLastSegment(const QString& url);
// Up to 11 characters after the first "v="; without "v=", the 11 characters that
// start at the second character.
QString VideoId(const QString& url);
// http://<host>/lib/youtubetitle.php?id=<id>. Characters of the id that are not
// unreserved in a URL are percent-encoded (UTF-8), so an id can never end the
// request line, add a header or start a fragment.
QUrl TitleLookupUrl(const QString& id);

// The title of an HTML page as libxml2's HTML parser reads it: the text of the
// first title element with character references decoded and white space collapsed
// as browsers do; the empty text when the page has none. The text is decoded by
// the charset the server declared (charset, may be empty), else by the one the
// page declares in a meta element, else as UTF-8 when the bytes are valid UTF-8,
// else as Windows-1252.
QString TitleFromHtml(const QByteArray& html, const QByteArray& charset = QByteArray());

// One title lookup, made without blocking: Done or Failed is emitted exactly once,
// from the event loop, at the latest TimeLimitMs after Start. An answer larger than
// BodyLimit bytes, an error status and any network error fail with a Spanish
// message that names the address.
class TTitleRequest : public QObject {
    Q_OBJECT
public:
    static constexpr int TimeLimitMs = 10000;
    static constexpr qint64 BodyLimit = 1024 * 1024;

    TTitleRequest(QNetworkAccessManager* net, const QString& url, QObject* parent = nullptr);
    ~TTitleRequest() override;
    const QString& Url() const { return m_url; }
    void Start();
    bool Finished() const { return m_finished; }

signals:
    void Done(const QString& title);
    void Failed(const QString& message);

private:
    void Fail(const QString& reason);
    void ReadSome();
    void ReplyFinished();

    QNetworkAccessManager* m_net;
    QString m_url;
    QPointer<QNetworkReply> m_reply;
    QTimer* m_timer;
    QByteArray m_body;
    bool m_finished = false;
};

// Looks the title of a video-site address up and waits for the answer (at most
// TTitleRequest::TimeLimitMs), running a local event loop; raises TavoriaError when
// the lookup fails. For callers without a window; the window uses TTitleRequest.
QString FetchVideoTitle(const QString& url);

// A detached URL row: name, "00:00:00", the address, "0", empty link; image 13 for
// a video-site address, 12 for any other.
QTreeWidgetItem* MakeUrlRow(TListView* list, const QString& url, const QString& name);

// Appends a URL row; a video-site address is named by its looked-up title
// (FetchVideoTitle, so it waits for the answer). A failed lookup adds no row and
// raises TavoriaError.
void AddMediaUrl(const QString& url, TListView* list);

// Rows that join a list in the order they were given, while some of them wait for
// a video title: a row whose title arrives early waits for the rows before it. At
// most MaxLookups lookups run at a time. Rows are appended through AppendRows, so
// the list's insertion handling runs for each.
class TRowQueue : public QObject {
    Q_OBJECT
public:
    static constexpr int MaxLookups = 4;

    explicit TRowQueue(TListView* list, QObject* parent = nullptr);
    ~TRowQueue() override;

    // true: a failed lookup ends everything after it (an import); false: only the
    // failed address is left out (addresses typed one by one).
    void SetStopAtFailure(bool stop) { m_stopAtFailure = stop; }

    // A ready row (ownership passes to the queue; nullptr holds a place that adds
    // nothing). number is the caller's count, reported back in the signals.
    void AddRow(QTreeWidgetItem* row, int number);
    // A web address: a plain one is ready at once, a video-site one waits for its title.
    void AddUrl(const QString& url, int number);
    // An entry that cannot become a row: it fails, in its turn, with message, as a
    // failed lookup does.
    void AddFailure(const QString& url, const QString& message, int number);
    // Entries given but not yet in the list (or dropped).
    int Waiting() const { return int(m_slots.size()); }
    // Drops every waiting entry and stops their lookups.
    void Clear();

signals:
    // Entry number has joined the list (or added nothing).
    void EntryDone(int number);
    // Entry number's lookup failed; message says why.
    void EntryFailed(const QString& url, const QString& message, int number);
    // Nothing waits any more.
    void Drained();

private:
    struct Slot {
        int number = 0;
        QString url;
        QTreeWidgetItem* row = nullptr;
        TTitleRequest* request = nullptr;
        bool ready = false;
        bool failed = false;
        QString error;
    };
    void StartLookups();
    void Flush();
    Slot* SlotOf(TTitleRequest* request);

    QPointer<TListView> m_list;
    QNetworkAccessManager* m_net;
    std::deque<Slot> m_slots;
    bool m_stopAtFailure = false;
    bool m_flushing = false;
};
