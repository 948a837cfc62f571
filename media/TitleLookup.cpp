#include "media/TitleLookup.h"

#include "media/TListView.h"
#include "media/TavoriaError.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTimer>
#include <libxml/HTMLparser.h>
#include <libxml/encoding.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

// No service of ours answers here: a desk that wants titles runs the service and
// names its host in TAVORIA_TITLE_HOST (see README). The ".invalid" name never
// resolves, so nothing is sent to a stranger and the error says what failed.
const char* const TitleLookupHost = "titles.tavoria.invalid";
const char* const TitleLookupUserAgent =
    "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/54.0.2840.99 Safari/537.36";

QString TitleLookupHostName() {
    const QString host = qEnvironmentVariable("TAVORIA_TITLE_HOST").trimmed();
    return host.isEmpty() ? QString::fromLatin1(TitleLookupHost) : host;
}

bool IsVideoSiteUrl(const QString& url) {
    return url.contains(QLatin1String("youtube"), Qt::CaseSensitive);
}

QString UrlLastSegment(const QString& url) {
    return url.mid(url.lastIndexOf(QLatin1Char('/')) + 1);
}

QString VideoId(const QString& url) {
    const qsizetype v = url.indexOf(QLatin1String("v="));
    return v >= 0 ? url.mid(v + 2, 11) : url.mid(1, 11);
}

QUrl TitleLookupUrl(const QString& id) {
    const QByteArray text = "http://" + TitleLookupHostName().toUtf8() +
                            "/lib/youtubetitle.php?id=" + QUrl::toPercentEncoding(id);
    return QUrl::fromEncoded(text, QUrl::StrictMode);
}

namespace {

bool IsHtmlSpace(QChar c) {
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n') ||
           c == QLatin1Char('\r') || c == QLatin1Char('\f');
}

// Strips and collapses runs of white space, as a browser's document title does.
QString CollapseSpaces(const QString& text) {
    QString out;
    out.reserve(text.size());
    bool space = false;
    for (const QChar c : text) {
        if (IsHtmlSpace(c)) {
            space = !out.isEmpty();
            continue;
        }
        if (space)
            out += QLatin1Char(' ');
        space = false;
        out += c;
    }
    return out;
}

// The first element named name in document order (no recursion: the body may nest
// deeply).
xmlNode* FindElement(xmlNode* node, const char* name) {
    while (node) {
        if (node->type == XML_ELEMENT_NODE &&
            xmlStrcasecmp(node->name, reinterpret_cast<const xmlChar*>(name)) == 0)
            return node;
        if (node->children) {
            node = node->children;
            continue;
        }
        while (node && !node->next)
            node = node->parent;
        if (node)
            node = node->next;
    }
    return nullptr;
}

bool KnownEncoding(const QByteArray& name) {
    xmlCharEncodingHandlerPtr handler = xmlFindCharEncodingHandler(name.constData());
    if (!handler)
        return false;
    xmlCharEncCloseFunc(handler);
    return true;
}

// The charset a page declares in a meta element near its start, or empty.
QByteArray DeclaredCharset(const QByteArray& html) {
    static const QRegularExpression meta(
        QStringLiteral("<meta[^>]*charset\\s*=\\s*[\"']?\\s*([A-Za-z0-9_.:-]+)"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = meta.match(QString::fromLatin1(html.left(4096)));
    return m.hasMatch() ? m.captured(1).toLatin1() : QByteArray();
}

QByteArray CharsetOf(const QByteArray& contentType) {
    const QList<QByteArray> parts = contentType.split(';');
    for (qsizetype i = 1; i < parts.size(); ++i) {
        const QByteArray p = parts[i].trimmed();
        if (p.toLower().startsWith("charset=")) {
            QByteArray value = p.mid(8).trimmed();
            if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
                value = value.mid(1, value.size() - 2);
            return value;
        }
    }
    return QByteArray();
}

} // namespace

QString TitleFromHtml(const QByteArray& html, const QByteArray& charset) {
    if (html.isEmpty())
        return QString();
    static const bool initialised = [] {
        xmlInitParser();
        return true;
    }();
    Q_UNUSED(initialised);
    // The server's word first, then the page's own, then UTF-8 when the bytes are
    // valid UTF-8, else the code page of most pages that declare nothing.
    QByteArray encoding = charset.trimmed();
    if (encoding.isEmpty() || !KnownEncoding(encoding))
        encoding = DeclaredCharset(html);
    if (encoding.isEmpty() || !KnownEncoding(encoding)) {
        QStringDecoder utf8(QStringDecoder::Utf8);
        const QString decoded = utf8.decode(html); // the conversion runs here
        Q_UNUSED(decoded);
        encoding = !utf8.hasError()                ? QByteArray("UTF-8")
                   : KnownEncoding("windows-1252") ? QByteArray("windows-1252")
                                                   : QByteArray("ISO-8859-1");
    }
    const int options = HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING |
                        HTML_PARSE_NONET | HTML_PARSE_COMPACT;
    htmlDocPtr doc =
        htmlReadMemory(html.constData(), int(html.size()), nullptr, encoding.constData(), options);
    if (!doc)
        return QString();
    QString title;
    if (xmlNode* element = FindElement(xmlDocGetRootElement(doc), "title")) {
        xmlChar* content = xmlNodeGetContent(element);
        if (content) {
            title = QString::fromUtf8(reinterpret_cast<const char*>(content));
            xmlFree(content);
        }
    }
    xmlFreeDoc(doc);
    return CollapseSpaces(title);
}

// ---- TTitleRequest ----

TTitleRequest::TTitleRequest(QNetworkAccessManager* net, const QString& url, QObject* parent)
    : QObject(parent), m_net(net), m_url(url), m_timer(new QTimer(this)) {
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, [this] {
        Fail(QStringLiteral("el servidor de títulos (%1) no respondió en %2 segundos")
                 .arg(TitleLookupHostName())
                 .arg(TimeLimitMs / 1000));
    });
}

TTitleRequest::~TTitleRequest() {
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
        delete m_reply.data();
    }
}

void TTitleRequest::Start() {
    if (m_reply || m_finished)
        return;
    QNetworkRequest request(TitleLookupUrl(VideoId(m_url)));
    request.setHeader(QNetworkRequest::UserAgentHeader, QString::fromLatin1(TitleLookupUserAgent));
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    request.setTransferTimeout(TimeLimitMs);
    m_reply = m_net->get(request);
    // Data waits in the reply only up to this much; ReadSome drains it.
    m_reply->setReadBufferSize(256 * 1024);
    connect(m_reply, &QNetworkReply::metaDataChanged, this, [this] {
        const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > BodyLimit)
            Fail(QStringLiteral("la respuesta del servidor de títulos supera 1 MiB"));
    });
    connect(m_reply, &QNetworkReply::readyRead, this, &TTitleRequest::ReadSome);
    connect(m_reply, &QNetworkReply::finished, this, &TTitleRequest::ReplyFinished);
    m_timer->start(TimeLimitMs);
}

void TTitleRequest::ReadSome() {
    if (m_finished || !m_reply)
        return;
    m_body += m_reply->read(BodyLimit + 1 - m_body.size());
    if (m_body.size() > BodyLimit)
        Fail(QStringLiteral("la respuesta del servidor de títulos supera 1 MiB"));
}

void TTitleRequest::ReplyFinished() {
    if (m_finished || !m_reply)
        return;
    ReadSome();
    if (m_finished)
        return;
    const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status >= 400) {
        Fail(QStringLiteral("el servidor de títulos respondió %1 %2")
                 .arg(status)
                 .arg(m_reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString())
                 .trimmed());
        return;
    }
    if (m_reply->error() == QNetworkReply::OperationCanceledError ||
        m_reply->error() == QNetworkReply::TimeoutError) {
        m_timer->stop();
        Fail(QStringLiteral("el servidor de títulos (%1) no respondió en %2 segundos")
                 .arg(TitleLookupHostName())
                 .arg(TimeLimitMs / 1000));
        return;
    }
    if (m_reply->error() != QNetworkReply::NoError) {
        Fail(m_reply->errorString());
        return;
    }
    const QByteArray charset = CharsetOf(m_reply->rawHeader("Content-Type"));
    m_finished = true;
    m_timer->stop();
    m_reply->disconnect(this);
    m_reply->deleteLater();
    m_reply = nullptr;
    const QString title = TitleFromHtml(m_body, charset);
    m_body.clear();
    emit Done(title);
}

void TTitleRequest::Fail(const QString& reason) {
    if (m_finished)
        return;
    m_finished = true;
    m_timer->stop();
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
        m_reply->deleteLater();
        m_reply = nullptr;
    }
    m_body.clear();
    emit Failed(QStringLiteral("No se pudo obtener el título de %1: %2").arg(m_url, reason));
}

QString FetchVideoTitle(const QString& url) {
    if (!QCoreApplication::instance())
        throw TavoriaError(
            QStringLiteral("No se pudo obtener el título de %1: sin aplicación").arg(url));
    QNetworkAccessManager net;
    TTitleRequest request(&net, url);
    QEventLoop loop;
    QString title, error;
    bool failed = false;
    QObject::connect(&request, &TTitleRequest::Done, &loop, [&](const QString& t) {
        title = t;
        loop.quit();
    });
    QObject::connect(&request, &TTitleRequest::Failed, &loop, [&](const QString& message) {
        error = message;
        failed = true;
        loop.quit();
    });
    request.Start();
    if (!request.Finished())
        loop.exec();
    if (failed)
        throw TavoriaError(error);
    return title;
}

QTreeWidgetItem* MakeUrlRow(TListView* list, const QString& url, const QString& name) {
    return list->MakeRow({name, QStringLiteral("00:00:00"), url, QStringLiteral("0"), QString()},
                         IsVideoSiteUrl(url) ? 13 : 12);
}

void AddMediaUrl(const QString& url, TListView* list) {
    // The title comes before the row: a failed lookup adds nothing.
    const QString name = IsVideoSiteUrl(url) ? FetchVideoTitle(url) : UrlLastSegment(url);
    list->AppendRows({MakeUrlRow(list, url, name)});
}

// ---- TRowQueue ----

TRowQueue::TRowQueue(TListView* list, QObject* parent)
    : QObject(parent), m_list(list), m_net(new QNetworkAccessManager(this)) {}

TRowQueue::~TRowQueue() {
    Clear();
}

void TRowQueue::AddRow(QTreeWidgetItem* row, int number) {
    Slot slot;
    slot.number = number;
    slot.row = row;
    slot.ready = true;
    m_slots.push_back(std::move(slot));
    Flush();
}

void TRowQueue::AddUrl(const QString& url, int number) {
    if (!IsVideoSiteUrl(url)) {
        AddRow(m_list ? MakeUrlRow(m_list, url, UrlLastSegment(url)) : nullptr, number);
        return;
    }
    Slot slot;
    slot.number = number;
    slot.url = url;
    m_slots.push_back(std::move(slot));
    StartLookups();
}

void TRowQueue::AddFailure(const QString& url, const QString& message, int number) {
    Slot slot;
    slot.number = number;
    slot.url = url;
    slot.failed = true;
    slot.error = message;
    m_slots.push_back(std::move(slot));
    Flush();
}

TRowQueue::Slot* TRowQueue::SlotOf(TTitleRequest* request) {
    for (Slot& s : m_slots)
        if (s.request == request)
            return &s;
    return nullptr;
}

void TRowQueue::StartLookups() {
    int running = 0;
    for (const Slot& s : m_slots)
        running += s.request ? 1 : 0;
    for (Slot& s : m_slots) {
        if (running >= MaxLookups)
            break;
        if (s.ready || s.failed || s.request)
            continue;
        auto* request = new TTitleRequest(m_net, s.url, this);
        s.request = request;
        ++running;
        connect(request, &TTitleRequest::Done, this, [this, request](const QString& title) {
            request->deleteLater();
            if (Slot* slot = SlotOf(request)) {
                slot->request = nullptr;
                slot->row = m_list ? MakeUrlRow(m_list, slot->url, title) : nullptr;
                slot->ready = true;
            }
            StartLookups();
            Flush();
        });
        connect(request, &TTitleRequest::Failed, this, [this, request](const QString& message) {
            request->deleteLater();
            if (Slot* slot = SlotOf(request)) {
                slot->request = nullptr;
                slot->failed = true;
                slot->error = message;
            }
            StartLookups();
            Flush();
        });
        request->Start();
    }
}

void TRowQueue::Flush() {
    if (m_flushing)
        return;
    m_flushing = true;
    bool moved = false;
    while (!m_slots.empty()) {
        if (m_slots.front().ready) {
            // Consecutive ready rows join the list in one step.
            QList<QTreeWidgetItem*> rows;
            int last = 0;
            while (!m_slots.empty() && m_slots.front().ready) {
                if (m_slots.front().row)
                    rows.push_back(m_slots.front().row);
                last = m_slots.front().number;
                m_slots.pop_front();
            }
            moved = true;
            if (m_list && !rows.isEmpty())
                m_list->AppendRows(rows);
            else
                qDeleteAll(rows);
            emit EntryDone(last);
            continue;
        }
        if (m_slots.front().failed) {
            const Slot failed = m_slots.front();
            m_slots.pop_front();
            moved = true;
            if (m_stopAtFailure)
                Clear();
            emit EntryFailed(failed.url, failed.error, failed.number);
            continue;
        }
        break;
    }
    m_flushing = false;
    if (moved && m_slots.empty())
        emit Drained();
}

void TRowQueue::Clear() {
    std::deque<Slot> dropped;
    dropped.swap(m_slots);
    for (Slot& s : dropped) {
        delete s.row;
        if (s.request) {
            s.request->disconnect(this);
            s.request->deleteLater();
        }
    }
}
