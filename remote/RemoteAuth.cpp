#include "remote/RemoteAuth.h"

#include <QCryptographicHash>

bool TokensEqual(const QByteArray& given, const QByteArray& expected) {
    if (expected.isEmpty())
        return false;
    // Equal-length digests compared without an early exit: the time tells nothing
    // about how much of the token was right, nor how long it is.
    const QByteArray a = QCryptographicHash::hash(given, QCryptographicHash::Sha256);
    const QByteArray b = QCryptographicHash::hash(expected, QCryptographicHash::Sha256);
    unsigned char diff = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        diff |= uchar(a[i]) ^ uchar(b[i]);
    return diff == 0;
}

QByteArray RequestToken(const HttpRequest& request) {
    const QByteArray auth = request.Header("authorization");
    if (auth.size() > 7 && auth.left(7).compare("Bearer ", Qt::CaseInsensitive) == 0)
        return auth.mid(7).trimmed();
    const QByteArray header = request.Header("x-tavoria-token");
    if (!header.isEmpty())
        return header;
    return request.query.queryItemValue(QStringLiteral("token"), QUrl::FullyDecoded).toUtf8();
}

bool IsLoopbackHostHeader(const QByteArray& hostHeader) {
    QByteArray host = hostHeader.trimmed().toLower();
    if (host.startsWith('[')) {
        const qsizetype close = host.indexOf(']');
        if (close < 0)
            return false;
        const QByteArray rest = host.mid(close + 1);
        if (!rest.isEmpty() && !rest.startsWith(':'))
            return false;
        return host.mid(1, close - 1) == "::1";
    }
    const qsizetype colon = host.indexOf(':');
    if (colon >= 0)
        host = host.left(colon);
    if (host == "localhost")
        return true;
    QHostAddress address;
    return address.setAddress(QString::fromLatin1(host)) &&
           address.protocol() == QAbstractSocket::IPv4Protocol && address.isLoopback();
}

std::optional<HttpReply> CheckAccess(const HttpRequest& request, const AccessPolicy& policy) {
    const QByteArray host = request.Header("host");
    // A browser names the page that sent the request; only the desk's own page
    // (same scheme, host and port) may drive it.
    const QByteArray origin = request.Header("origin");
    if (!origin.isEmpty() && origin != "http://" + host)
        return ErrorReply(403, QStringLiteral("Origen no permitido"));
    if (policy.loopbackOnly && !host.isEmpty() && !IsLoopbackHostHeader(host))
        return ErrorReply(403, QStringLiteral("Nombre de equipo no permitido"));
    if (policy.TokenRequired() && !TokensEqual(RequestToken(request), policy.token)) {
        HttpReply r = ErrorReply(401, QStringLiteral("Falta el token de acceso o no es válido"));
        r.AddHeader("WWW-Authenticate", "Bearer realm=\"tavoria\"");
        return r;
    }
    return std::nullopt;
}
