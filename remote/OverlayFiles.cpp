#include "remote/OverlayFiles.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonValue>
#include <QRegularExpression>
#include <QUrl>

namespace {

// The pages' own files and a designer's fonts and pictures; nothing else is served.
const struct {
    const char* suffix;
    const char* type;
} kTypes[] = {{"html", "text/html; charset=utf-8"},
              {"css", "text/css; charset=utf-8"},
              {"js", "text/javascript; charset=utf-8"},
              {"woff2", "font/woff2"},
              {"woff", "font/woff"},
              {"ttf", "font/ttf"},
              {"otf", "font/otf"},
              {"png", "image/png"},
              {"jpg", "image/jpeg"},
              {"jpeg", "image/jpeg"},
              {"webp", "image/webp"},
              {"svg", "image/svg+xml"}};

constexpr qint64 kMaxOverrideBytes = 16 * 1024 * 1024;

QByteArray ContentType(const QString& name) {
    const QString suffix = QFileInfo(name).suffix().toLower();
    for (const auto& t : kTypes)
        if (suffix == QLatin1String(t.suffix))
            return t.type;
    return {};
}

bool ReadFile(const QString& path, QByteArray* body) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxOverrideBytes)
        return false;
    *body = file.readAll();
    return true;
}

} // namespace

bool OverlayTexts::Set(const QString& file, const QString& text) {
    static const QStringList known = {
        QStringLiteral("hora.txt"),       QStringLiteral("conteo.txt"),
        QStringLiteral("marquesina.txt"), QStringLiteral("ponente.txt"),
        QStringLiteral("ponencia.txt"),   QStringLiteral("detalles.txt")};
    if (!known.contains(file))
        return false;
    m_texts.insert(file, text);
    return true;
}

QJsonObject OverlayTexts::Json() const {
    const QString speaker = m_texts.value(QStringLiteral("ponente.txt"));
    const QString talk = m_texts.value(QStringLiteral("ponencia.txt"));
    const QString details = m_texts.value(QStringLiteral("detalles.txt"));
    QJsonValue caption = QJsonValue::Null;
    if (!speaker.isEmpty() || !talk.isEmpty() || !details.isEmpty())
        caption = QJsonObject{{QStringLiteral("speaker"), speaker},
                              {QStringLiteral("talk"), talk},
                              {QStringLiteral("details"), details}};
    return {{QStringLiteral("clock"), m_texts.value(QStringLiteral("hora.txt"))},
            {QStringLiteral("countdown"), m_texts.value(QStringLiteral("conteo.txt"))},
            {QStringLiteral("marquee"), m_texts.value(QStringLiteral("marquesina.txt"))},
            {QStringLiteral("caption"), caption}};
}

QString OverlayFileName(const QString& path) {
    if (path == QStringLiteral("/overlay") || path == QStringLiteral("/overlay/"))
        return QStringLiteral("index.html");
    if (!path.startsWith(QStringLiteral("/overlay/")))
        return {};
    const QString name = path.mid(9);
    // One plain name: no folders, nothing hidden.
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9][A-Za-z0-9_.-]{0,99}$"));
    if (!plain.match(name).hasMatch())
        return {};
    if (!name.contains(QLatin1Char('.')))
        return name + QStringLiteral(".html");
    return ContentType(name).isEmpty() ? QString() : name;
}

std::optional<StaticFile> OverlayFile(const QString& path, const QString& overrideFolder,
                                      const QByteArray& tokenQuery) {
    const QString name = OverlayFileName(path);
    if (name.isEmpty())
        return std::nullopt;
    StaticFile f;
    const QString own =
        overrideFolder.isEmpty() ? QString() : overrideFolder + QLatin1Char('/') + name;
    const bool overridden = !own.isEmpty() && QFileInfo(own).isFile() && ReadFile(own, &f.body);
    if (!overridden && !ReadFile(QStringLiteral(":/remote/overlay/") + name, &f.body))
        return std::nullopt;
    f.contentType = ContentType(name);
    if (name.endsWith(QStringLiteral(".html")))
        f.body.replace("{{query}}", tokenQuery);
    // Read-only pages: they may be framed (a preview of the graphics) but load
    // nothing from beyond the desk.
    f.headers.append(
        qMakePair(QByteArray("Content-Security-Policy"),
                  QByteArray("default-src 'none'; script-src 'self'; style-src 'self'; "
                             "font-src 'self' data:; img-src 'self' data:; connect-src 'self'; "
                             "base-uri 'none'; form-action 'none'")));
    return f;
}

RemoteServer::FileSource OverlayFileSource(const QString& overrideFolder) {
    return [overrideFolder](const HttpRequest& request) -> std::optional<StaticFile> {
        QByteArray query;
        const QString token =
            request.query.queryItemValue(QStringLiteral("token"), QUrl::FullyDecoded);
        if (!token.isEmpty())
            query = "?token=" + QUrl::toPercentEncoding(token);
        return OverlayFile(request.path, overrideFolder, query);
    };
}
