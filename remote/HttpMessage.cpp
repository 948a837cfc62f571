#include "remote/HttpMessage.h"

#include <QJsonDocument>
#include <QUrl>

QByteArray HttpRequest::Header(const QByteArray& lowerName) const {
    for (const auto& h : headers)
        if (h.first == lowerName)
            return h.second;
    return {};
}

bool HttpRequest::HasHeader(const QByteArray& lowerName) const {
    for (const auto& h : headers)
        if (h.first == lowerName)
            return true;
    return false;
}

namespace {

// Whether a comma-separated header value holds token (case-insensitive).
bool HasToken(const QByteArray& value, const QByteArray& token) {
    for (const QByteArray& part : value.split(','))
        if (part.trimmed().compare(token, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

bool IsTokenChar(char c) {
    if (c >= 'a' && c <= 'z')
        return true;
    if (c >= 'A' && c <= 'Z')
        return true;
    if (c >= '0' && c <= '9')
        return true;
    return QByteArrayView("!#$%&'*+-.^_`|~").contains(c);
}

HeadParse Fail(int status, const QString& message) {
    HeadParse r;
    r.status = HeadParse::Error;
    r.errorStatus = status;
    r.error = message;
    return r;
}

} // namespace

bool HttpRequest::KeepAlive() const {
    const QByteArray connection = Header("connection");
    if (version == "HTTP/1.0")
        return HasToken(connection, "keep-alive");
    return !HasToken(connection, "close");
}

bool HttpRequest::IsWebSocketUpgrade() const {
    return method == "GET" && HasToken(Header("upgrade"), "websocket") &&
           HasToken(Header("connection"), "upgrade");
}

HeadParse ParseRequestHead(const QByteArray& buffer, HttpRequest& request,
                           const HttpLimits& limits) {
    const qsizetype end = buffer.indexOf("\r\n\r\n");
    if (end < 0) {
        if (buffer.size() > limits.maxHeadBytes)
            return Fail(431, QStringLiteral("Las cabeceras de la petición son demasiado grandes"));
        return {};
    }
    const int headLength = int(end + 4);
    if (headLength > limits.maxHeadBytes)
        return Fail(431, QStringLiteral("Las cabeceras de la petición son demasiado grandes"));

    const QList<QByteArray> lines = buffer.left(end).split('\n');
    if (lines.size() > limits.maxHeaderLines + 1)
        return Fail(431, QStringLiteral("La petición tiene demasiadas cabeceras"));

    // Request line: method SP target SP version.
    const QByteArray requestLine = lines.first().chopped(lines.first().endsWith('\r') ? 1 : 0);
    const QList<QByteArray> parts = requestLine.split(' ');
    if (parts.size() != 3 || parts[0].isEmpty() || parts[1].isEmpty())
        return Fail(400, QStringLiteral("Línea de petición no válida"));
    for (char c : parts[0])
        if (!IsTokenChar(c))
            return Fail(400, QStringLiteral("Método no válido"));
    if (parts[2] != "HTTP/1.1" && parts[2] != "HTTP/1.0")
        return Fail(505, QStringLiteral("Versión de HTTP no admitida"));
    if (!parts[1].startsWith('/'))
        return Fail(400, QStringLiteral("Ruta no válida"));
    for (char c : parts[1])
        if (uchar(c) <= 0x20 || uchar(c) >= 0x7f)
            return Fail(400, QStringLiteral("Ruta no válida"));

    request.method = parts[0];
    request.target = parts[1];
    request.version = parts[2];
    const qsizetype q = request.target.indexOf('?');
    const QByteArray rawPath = q < 0 ? request.target : request.target.left(q);
    const QByteArray decoded = QByteArray::fromPercentEncoding(rawPath);
    if (decoded.contains('\0'))
        return Fail(400, QStringLiteral("Ruta no válida"));
    request.path = QString::fromUtf8(decoded);
    request.query = QUrlQuery();
    if (q >= 0)
        request.query.setQuery(QString::fromUtf8(request.target.mid(q + 1)));

    request.headers.clear();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        QByteArray line = lines[i];
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty())
            return Fail(400, QStringLiteral("Cabecera no válida"));
        // Folded continuation lines are obsolete and refused.
        if (line.startsWith(' ') || line.startsWith('\t'))
            return Fail(400, QStringLiteral("Cabecera no válida"));
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            return Fail(400, QStringLiteral("Cabecera no válida"));
        const QByteArray name = line.left(colon).toLower();
        for (char c : name)
            if (!IsTokenChar(c))
                return Fail(400, QStringLiteral("Cabecera no válida"));
        request.headers.append({name, line.mid(colon + 1).trimmed()});
    }

    if (request.HasHeader("transfer-encoding"))
        return Fail(411, QStringLiteral("Envíe el cuerpo con Content-Length"));
    request.contentLength = 0;
    bool seenLength = false;
    for (const auto& h : std::as_const(request.headers)) {
        if (h.first != "content-length")
            continue;
        bool ok = !h.second.isEmpty();
        for (char c : h.second)
            ok = ok && c >= '0' && c <= '9';
        const qint64 length = ok && h.second.size() <= 18 ? h.second.toLongLong(&ok) : -1;
        if (!ok || length < 0 || (seenLength && length != request.contentLength))
            return Fail(400, QStringLiteral("Content-Length no válido"));
        request.contentLength = length;
        seenLength = true;
    }
    if (request.contentLength > limits.maxBodyBytes)
        return Fail(413, QStringLiteral("El cuerpo de la petición supera el límite de %1 KiB")
                             .arg(limits.maxBodyBytes / 1024));

    HeadParse r;
    r.status = HeadParse::Complete;
    r.headLength = headLength;
    return r;
}

QByteArray ReasonPhrase(int status) {
    switch (status) {
    case 101:
        return "Switching Protocols";
    case 200:
        return "OK";
    case 201:
        return "Created";
    case 204:
        return "No Content";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 409:
        return "Conflict";
    case 411:
        return "Length Required";
    case 413:
        return "Content Too Large";
    case 426:
        return "Upgrade Required";
    case 429:
        return "Too Many Requests";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    case 505:
        return "HTTP Version Not Supported";
    default:
        return "Status";
    }
}

QByteArray SerializeReply(const HttpReply& reply, bool keepAlive, bool headOnly) {
    QByteArray out;
    out.reserve(256 + reply.body.size());
    out +=
        "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + ReasonPhrase(reply.status) + "\r\n";
    if (!reply.contentType.isEmpty())
        out += "Content-Type: " + reply.contentType + "\r\n";
    out += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
    out += keepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
    // Answers are never cached, never sniffed as another type and never framed.
    out += "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n"
           "X-Frame-Options: DENY\r\nReferrer-Policy: no-referrer\r\n";
    for (const auto& h : reply.headers)
        out += h.first + ": " + h.second + "\r\n";
    out += "\r\n";
    if (!headOnly)
        out += reply.body;
    return out;
}

HttpReply JsonReply(int status, const QByteArray& json) {
    HttpReply r;
    r.status = status;
    r.contentType = "application/json; charset=utf-8";
    r.body = json;
    return r;
}

HttpReply JsonReply(int status, const QJsonObject& object) {
    return JsonReply(status, QJsonDocument(object).toJson(QJsonDocument::Compact));
}

HttpReply ErrorReply(int status, const QString& message) {
    return JsonReply(status, QJsonObject{{QStringLiteral("error"), message},
                                         {QStringLiteral("status"), status}});
}
