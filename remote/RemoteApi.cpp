#include "remote/RemoteApi.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QRegularExpression>
#include <cmath>

namespace {

[[noreturn]] void Fail(int status, const QString& message) {
    throw RemoteError(status, message);
}

QString Text(const QJsonObject& body, const QString& key, bool required) {
    const QJsonValue v = body.value(key);
    if (v.isUndefined() || v.isNull()) {
        if (required)
            Fail(400, QStringLiteral("Falta el campo '%1'").arg(key));
        return {};
    }
    if (!v.isString())
        Fail(400, QStringLiteral("El campo '%1' debe ser texto").arg(key));
    return v.toString();
}

// A single-line text: line breaks and other control characters are refused (a
// caption is one line in the list and in config.ini).
QString Line(const QJsonObject& body, const QString& key, bool required) {
    const QString s = Text(body, key, required);
    for (const QChar c : s)
        if (c.category() == QChar::Other_Control)
            Fail(400, QStringLiteral("El campo '%1' no puede contener saltos de línea ni "
                                     "caracteres de control")
                          .arg(key));
    return s;
}

// A whole number written as a JSON number; nullopt when absent.
std::optional<int> Integer(const QJsonObject& body, const QString& key) {
    const QJsonValue v = body.value(key);
    if (v.isUndefined() || v.isNull())
        return std::nullopt;
    const double d = v.toDouble(std::nan(""));
    if (!v.isDouble() || std::floor(d) != d || d < -1e9 || d > 1e9)
        Fail(400, QStringLiteral("El campo '%1' debe ser un número entero").arg(key));
    return int(d);
}

// A row number of a path ("/api/captions/3/publish"), counted from 1.
int PathNumber(const QString& segment, int count, const QString& what) {
    bool ok = false;
    const int n = segment.toInt(&ok);
    if (!ok || segment.startsWith(QLatin1Char('+')) || segment.startsWith(QLatin1Char('-')) ||
        (segment.size() > 1 && segment.startsWith(QLatin1Char('0'))))
        Fail(400,
             QStringLiteral("'%1' no es un número de %2 (se cuenta desde 1)").arg(segment, what));
    if (n < 1 || n > count)
        Fail(404,
             QStringLiteral("No existe la fila %1 de %2 (hay %3)").arg(n).arg(what).arg(count));
    return n - 1;
}

} // namespace

std::optional<QTime> ParseMinutesSeconds(const QString& text) {
    static const QRegularExpression re(QStringLiteral("^(\\d{1,2}):(\\d{2})$"));
    const QRegularExpressionMatch m = re.match(text.trimmed());
    if (!m.hasMatch())
        return std::nullopt;
    const int minutes = m.captured(1).toInt();
    const int seconds = m.captured(2).toInt();
    if (minutes > 59 || seconds > 59)
        return std::nullopt;
    return QTime(0, minutes, seconds);
}

QJsonObject RequestObject(const HttpRequest& request) {
    if (request.body.trimmed().isEmpty())
        return {};
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(request.body, &error);
    if (error.error != QJsonParseError::NoError)
        Fail(400, QStringLiteral("El cuerpo no es JSON válido (%1, posición %2)")
                      .arg(error.errorString())
                      .arg(error.offset));
    if (!doc.isObject())
        Fail(400, QStringLiteral("El cuerpo debe ser un objeto JSON"));
    return doc.object();
}

QByteArray RemoteDesk::PlaylistJson() {
    return QJsonDocument(QJsonObject{{QStringLiteral("rows"), Playlist()}})
        .toJson(QJsonDocument::Compact);
}

HttpReply RemoteApi::Handle(const HttpRequest& request) {
    try {
        return Dispatch(request);
    } catch (const RemoteError& e) {
        return ErrorReply(e.Status(), e.Message());
    } catch (const std::exception& e) {
        return ErrorReply(500, QString::fromUtf8(e.what()));
    } catch (...) {
        return ErrorReply(500, QStringLiteral("Error desconocido"));
    }
}

const QList<RemoteApi::Route>& RemoteApi::Routes() {
    static const QList<Route> routes{
        {"GET", "state", &RemoteApi::GetState},
        {"GET", "playlist", &RemoteApi::GetPlaylist},
        {"POST", "next", &RemoteApi::PostNext},
        {"POST", "playpause", &RemoteApi::PostPlayPause},
        {"POST", "stop", &RemoteApi::PostStop},
        {"POST", "repeat", &RemoteApi::PostRepeat},
        {"POST", "stop-after", &RemoteApi::PostStopAfter},
        {"POST", "playlist/*/next", &RemoteApi::PostPlaylistRowNext},
        {"GET", "captions", &RemoteApi::GetCaptions},
        {"POST", "captions", &RemoteApi::PostCaption},
        {"POST", "captions/clear", &RemoteApi::PostCaptionsClear},
        {"POST", "captions/*/publish", &RemoteApi::PostCaptionPublish},
        {"POST", "countdown/start", &RemoteApi::PostCountdownStart},
        {"POST", "countdown/stop", &RemoteApi::PostCountdownStop},
        {"POST", "marquee", &RemoteApi::PostMarquee},
        {"GET", "effects", &RemoteApi::GetEffects},
        {"POST", "effects/tab", &RemoteApi::PostEffectsTab},
        {"POST", "effects/play", &RemoteApi::PostEffectsPlay},
        {"POST", "effects/stop", &RemoteApi::PostEffectsStop},
        {"POST", "clock/announce", &RemoteApi::PostClockAnnounce},
    };
    return routes;
}

namespace {

// "/api/x/y" -> "x", "y"; a trailing "/" is ignored.
QStringList ApiSegments(const QString& path) {
    QStringList s = path.split(QLatin1Char('/'));
    if (s.size() > 2 && s.last().isEmpty())
        s.removeLast();
    return s.mid(2);
}

bool PathFits(const char* pattern, const QStringList& path) {
    const QStringList p = QString::fromLatin1(pattern).split(QLatin1Char('/'));
    if (p.size() != path.size())
        return false;
    for (qsizetype i = 0; i < p.size(); ++i)
        if (p[i] != QStringLiteral("*") && p[i] != path[i])
            return false;
    return true;
}

bool MethodFits(const QByteArray& routeMethod, const QByteArray& method) {
    return method == routeMethod || (routeMethod == "GET" && method == "HEAD");
}

} // namespace

HttpReply RemoteApi::Dispatch(const HttpRequest& request) {
    const QStringList path = ApiSegments(request.path);
    QByteArrayList allowed;
    for (const Route& route : Routes()) {
        if (!PathFits(route.pattern, path))
            continue;
        if (MethodFits(route.method, request.method))
            return (this->*route.handler)(Call{request, path});
        if (!allowed.contains(route.method))
            allowed.append(route.method);
    }
    if (allowed.isEmpty())
        return ErrorReply(404, QStringLiteral("Ruta desconocida: %1 %2")
                                   .arg(QString::fromLatin1(request.method), request.path));
    HttpReply reply =
        ErrorReply(405, QStringLiteral("Método no permitido en %1 (use %2)")
                            .arg(request.path, QString::fromLatin1(allowed.join(" o "))));
    reply.AddHeader("Allow", allowed.join(", "));
    return reply;
}

HttpReply RemoteApi::Done(QJsonObject extra, int status) {
    extra.insert(QStringLiteral("ok"), true);
    extra.insert(QStringLiteral("state"), m_desk->State());
    return JsonReply(status, extra);
}

HttpReply RemoteApi::GetState(const Call&) {
    return JsonReply(200, m_desk->State());
}

// The list is answered as the desk keeps it, without parsing it again.
HttpReply RemoteApi::GetPlaylist(const Call&) {
    return JsonReply(200, m_desk->PlaylistJson());
}

HttpReply RemoteApi::PostNext(const Call&) {
    if (m_desk->PlaylistCount() == 0)
        Fail(409, QStringLiteral("La lista de reproducción está vacía"));
    m_desk->Next();
    return Done();
}

HttpReply RemoteApi::PostPlayPause(const Call&) {
    m_desk->PlayPause();
    return Done();
}

HttpReply RemoteApi::PostStop(const Call&) {
    m_desk->Stop();
    return Done();
}

HttpReply RemoteApi::PostRepeat(const Call&) {
    const bool on = m_desk->ToggleRepeat();
    return Done({{QStringLiteral("repeat"), on}});
}

HttpReply RemoteApi::PostStopAfter(const Call&) {
    const bool on = m_desk->ToggleStopAfter();
    return Done({{QStringLiteral("stopAfter"), on}});
}

HttpReply RemoteApi::PostPlaylistRowNext(const Call& call) {
    const int row = PathNumber(call.path[1], m_desk->PlaylistCount(), QStringLiteral("la lista"));
    m_desk->MakeNext(row);
    return Done();
}

HttpReply RemoteApi::GetCaptions(const Call&) {
    return JsonReply(200, QJsonObject{{QStringLiteral("rows"), m_desk->Captions()}});
}

HttpReply RemoteApi::PostCaption(const Call& call) {
    const QJsonObject body = RequestObject(call.request);
    const QString speaker = Line(body, QStringLiteral("speaker"), true);
    const QString talk = Line(body, QStringLiteral("talk"), true);
    const QString details = Line(body, QStringLiteral("details"), false);
    // The editor's own rule decides (two characters of speaker and talk).
    if (!m_desk->AddCaption(speaker, talk, details))
        Fail(400, QStringLiteral("El ponente y la ponencia necesitan al menos 2 caracteres"));
    return Done({{QStringLiteral("number"), m_desk->CaptionCount()}}, 201);
}

HttpReply RemoteApi::PostCaptionsClear(const Call&) {
    m_desk->ClearCaption();
    return Done();
}

HttpReply RemoteApi::PostCaptionPublish(const Call& call) {
    const int row = PathNumber(call.path[1], m_desk->CaptionCount(), QStringLiteral("subtítulos"));
    m_desk->PublishCaption(row);
    return Done();
}

HttpReply RemoteApi::PostCountdownStart(const Call& call) {
    const QJsonObject body = RequestObject(call.request);
    std::optional<QTime> time;
    if (body.contains(QStringLiteral("time"))) {
        time = ParseMinutesSeconds(Text(body, QStringLiteral("time"), true));
        if (!time)
            Fail(400, QStringLiteral("El tiempo del conteo debe ser mm:ss (hasta 59:59)"));
    }
    m_desk->StartCountdown(time);
    return Done();
}

HttpReply RemoteApi::PostCountdownStop(const Call&) {
    m_desk->StopCountdown();
    return Done();
}

HttpReply RemoteApi::PostMarquee(const Call& call) {
    const QJsonObject body = RequestObject(call.request);
    m_desk->SendMarquee(Text(body, QStringLiteral("text"), true));
    return Done();
}

HttpReply RemoteApi::GetEffects(const Call&) {
    QJsonArray tabs;
    for (const QString& t : m_desk->EffectTabs())
        tabs.append(t);
    QJsonArray rows;
    for (const QString& n : m_desk->EffectNames())
        rows.append(n);
    return JsonReply(200, QJsonObject{{QStringLiteral("tabs"), tabs},
                                      {QStringLiteral("tab"), m_desk->EffectTab() + 1},
                                      {QStringLiteral("rows"), rows}});
}

bool RemoteApi::ChooseTabOf(const QJsonObject& body) {
    const QJsonValue tab = body.value(QStringLiteral("tab"));
    if (tab.isUndefined() || tab.isNull())
        return false;
    const QStringList tabs = m_desk->EffectTabs();
    int index = -1;
    if (tab.isString()) {
        index = int(tabs.indexOf(tab.toString()));
        if (index < 0)
            Fail(404, QStringLiteral("No existe la pestaña de efectos '%1'").arg(tab.toString()));
    } else {
        const int n = *Integer(body, QStringLiteral("tab"));
        if (n < 1 || n > tabs.size())
            Fail(404, QStringLiteral("No existe la pestaña de efectos %1 (hay %2)")
                          .arg(n)
                          .arg(tabs.size()));
        index = n - 1;
    }
    if (index != m_desk->EffectTab())
        m_desk->ChooseEffectTab(index);
    return true;
}

HttpReply RemoteApi::PostEffectsTab(const Call& call) {
    if (!ChooseTabOf(RequestObject(call.request)))
        Fail(400, QStringLiteral("Falta el campo 'tab'"));
    return Done({{QStringLiteral("tab"), m_desk->EffectTab() + 1}});
}

// The effect: its row (from 1) or its file name, in the tab the body names or
// else in the current one.
HttpReply RemoteApi::PostEffectsPlay(const Call& call) {
    const QJsonObject body = RequestObject(call.request);
    ChooseTabOf(body);
    const QStringList names = m_desk->EffectNames();
    const std::optional<int> rowNumber = Integer(body, QStringLiteral("row"));
    const QString file = Text(body, QStringLiteral("file"), false);
    int row = -1;
    if (rowNumber) {
        if (*rowNumber < 1 || *rowNumber > names.size())
            Fail(404, QStringLiteral("No existe el efecto %1 (hay %2)")
                          .arg(*rowNumber)
                          .arg(names.size()));
        row = *rowNumber - 1;
    } else if (!file.isEmpty()) {
        // Only a row of the effects list: the name never reaches the file system.
        row = int(names.indexOf(file));
        for (int i = 0; i < names.size() && row < 0; ++i)
            if (names[i].compare(file, Qt::CaseInsensitive) == 0)
                row = i;
        if (row < 0)
            Fail(404, QStringLiteral("No existe el efecto '%1' en la pestaña").arg(file));
    } else {
        Fail(400, QStringLiteral("Indique 'row' (desde 1) o 'file'"));
    }
    m_desk->PlayEffect(row);
    return Done({{QStringLiteral("effect"), names[row]}});
}

HttpReply RemoteApi::PostEffectsStop(const Call&) {
    m_desk->StopEffect();
    return Done();
}

HttpReply RemoteApi::PostClockAnnounce(const Call&) {
    m_desk->AnnounceClock();
    return Done();
}
