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
        // The list is answered as the desk keeps it, without parsing it again.
        if ((request.method == "GET" || request.method == "HEAD") &&
            (request.path == QStringLiteral("/api/playlist") ||
             request.path == QStringLiteral("/api/playlist/")))
            return JsonReply(200, m_desk->PlaylistJson());
        int status = 200;
        const QJsonObject answer = Route(request, status);
        return JsonReply(status, answer);
    } catch (const RemoteError& e) {
        HttpReply r = ErrorReply(e.Status(), e.Message());
        if (e.Status() == 405)
            r.AddHeader("Allow", request.method == "GET" ? "POST" : "GET");
        return r;
    } catch (const std::exception& e) {
        return ErrorReply(500, QString::fromUtf8(e.what()));
    } catch (...) {
        return ErrorReply(500, QStringLiteral("Error desconocido"));
    }
}

QJsonObject RemoteApi::Route(const HttpRequest& request, int& status) {
    status = 200;
    QStringList s = request.path.split(QLatin1Char('/'));
    // "/api/x/y" -> "", "api", "x", "y"; a trailing "/" is ignored.
    if (s.size() > 2 && s.last().isEmpty())
        s.removeLast();
    s = s.mid(2);
    const QByteArray& method = request.method;
    const bool get = method == "GET" || method == "HEAD";
    const bool post = method == "POST";
    const QString route = s.join(QLatin1Char('/'));
    auto unknown = [&]() -> QJsonObject {
        Fail(404, QStringLiteral("Ruta desconocida: %1 %2")
                      .arg(QString::fromLatin1(method), request.path));
    };
    auto need = [&](bool wantPost) {
        if (wantPost ? !post : !get)
            Fail(405,
                 QStringLiteral("Método no permitido en %1 (use %2)")
                     .arg(request.path, wantPost ? QStringLiteral("POST") : QStringLiteral("GET")));
    };
    auto done = [&](QJsonObject extra = {}) {
        extra.insert(QStringLiteral("ok"), true);
        extra.insert(QStringLiteral("state"), m_desk->State());
        return extra;
    };

    if (route == QStringLiteral("state")) {
        need(false);
        return m_desk->State();
    }
    if (route == QStringLiteral("playlist")) {
        need(false);
        return {{QStringLiteral("rows"), m_desk->Playlist()}};
    }
    if (route == QStringLiteral("next")) {
        need(true);
        if (m_desk->PlaylistCount() == 0)
            Fail(409, QStringLiteral("La lista de reproducción está vacía"));
        m_desk->Next();
        return done();
    }
    if (route == QStringLiteral("playpause")) {
        need(true);
        m_desk->PlayPause();
        return done();
    }
    if (route == QStringLiteral("stop")) {
        need(true);
        m_desk->Stop();
        return done();
    }
    if (route == QStringLiteral("repeat")) {
        need(true);
        const bool on = m_desk->ToggleRepeat();
        return done({{QStringLiteral("repeat"), on}});
    }
    if (route == QStringLiteral("stop-after")) {
        need(true);
        const bool on = m_desk->ToggleStopAfter();
        return done({{QStringLiteral("stopAfter"), on}});
    }
    if (s.size() == 3 && s[0] == QStringLiteral("playlist") && s[2] == QStringLiteral("next")) {
        need(true);
        const int row = PathNumber(s[1], m_desk->PlaylistCount(), QStringLiteral("la lista"));
        m_desk->MakeNext(row);
        return done();
    }
    if (route == QStringLiteral("captions")) {
        if (get)
            return {{QStringLiteral("rows"), m_desk->Captions()}};
        need(true);
        const QJsonObject body = RequestObject(request);
        const QString speaker = Line(body, QStringLiteral("speaker"), true);
        const QString talk = Line(body, QStringLiteral("talk"), true);
        const QString details = Line(body, QStringLiteral("details"), false);
        // The editor's own rule decides (two characters of speaker and talk).
        if (!m_desk->AddCaption(speaker, talk, details))
            Fail(400, QStringLiteral("El ponente y la ponencia necesitan al menos 2 caracteres"));
        status = 201;
        return done({{QStringLiteral("number"), m_desk->CaptionCount()}});
    }
    if (route == QStringLiteral("captions/clear")) {
        need(true);
        m_desk->ClearCaption();
        return done();
    }
    if (s.size() == 3 && s[0] == QStringLiteral("captions") && s[2] == QStringLiteral("publish")) {
        need(true);
        const int row = PathNumber(s[1], m_desk->CaptionCount(), QStringLiteral("subtítulos"));
        m_desk->PublishCaption(row);
        return done();
    }
    if (route == QStringLiteral("countdown/start")) {
        need(true);
        const QJsonObject body = RequestObject(request);
        std::optional<QTime> time;
        if (body.contains(QStringLiteral("time"))) {
            time = ParseMinutesSeconds(Text(body, QStringLiteral("time"), true));
            if (!time)
                Fail(400, QStringLiteral("El tiempo del conteo debe ser mm:ss (hasta 59:59)"));
        }
        m_desk->StartCountdown(time);
        return done();
    }
    if (route == QStringLiteral("countdown/stop")) {
        need(true);
        m_desk->StopCountdown();
        return done();
    }
    if (route == QStringLiteral("marquee")) {
        need(true);
        const QJsonObject body = RequestObject(request);
        m_desk->SendMarquee(Text(body, QStringLiteral("text"), true));
        return done();
    }
    if (route == QStringLiteral("effects")) {
        need(false);
        QJsonArray tabs;
        for (const QString& t : m_desk->EffectTabs())
            tabs.append(t);
        QJsonArray rows;
        for (const QString& n : m_desk->EffectNames())
            rows.append(n);
        return {{QStringLiteral("tabs"), tabs},
                {QStringLiteral("tab"), m_desk->EffectTab() + 1},
                {QStringLiteral("rows"), rows}};
    }
    if (route == QStringLiteral("effects/tab") || route == QStringLiteral("effects/play")) {
        need(true);
        const QJsonObject body = RequestObject(request);
        const bool play = route == QStringLiteral("effects/play");
        // The tab: its number (from 1) or its name; the current tab when absent.
        const QJsonValue tab = body.value(QStringLiteral("tab"));
        if (!play && (tab.isUndefined() || tab.isNull()))
            Fail(400, QStringLiteral("Falta el campo 'tab'"));
        if (!tab.isUndefined() && !tab.isNull()) {
            const QStringList tabs = m_desk->EffectTabs();
            int index = -1;
            if (tab.isString()) {
                index = int(tabs.indexOf(tab.toString()));
                if (index < 0)
                    Fail(
                        404,
                        QStringLiteral("No existe la pestaña de efectos '%1'").arg(tab.toString()));
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
        }
        const QStringList names = m_desk->EffectNames();
        if (!play)
            return done({{QStringLiteral("tab"), m_desk->EffectTab() + 1}});
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
            if (row < 0) {
                for (int i = 0; i < names.size() && row < 0; ++i)
                    if (names[i].compare(file, Qt::CaseInsensitive) == 0)
                        row = i;
            }
            if (row < 0)
                Fail(404, QStringLiteral("No existe el efecto '%1' en la pestaña").arg(file));
        } else {
            Fail(400, QStringLiteral("Indique 'row' (desde 1) o 'file'"));
        }
        m_desk->PlayEffect(row);
        return done({{QStringLiteral("effect"), names[row]}});
    }
    if (route == QStringLiteral("effects/stop")) {
        need(true);
        m_desk->StopEffect();
        return done();
    }
    if (route == QStringLiteral("clock/announce")) {
        need(true);
        m_desk->AnnounceClock();
        return done();
    }
    return unknown();
}
