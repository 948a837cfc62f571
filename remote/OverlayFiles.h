#pragma once
// The overlay pages for browser sources (OBS, vMix, CasparCG): their files, served
// under /overlay/ from the resources or, by file name, from a designer's folder,
// and the texts they show, which are what the desk's overlay files hold.
#include "remote/RemoteServer.h"

#include <QHash>
#include <QJsonObject>
#include <QString>
#include <optional>

// The texts of the overlay files as the desk last wrote them (or found them at
// start-up), for the overlay pages.
class OverlayTexts {
public:
    // Records what file (a name such as "hora.txt") now holds; false, and nothing
    // recorded, when the name is not one the pages show.
    bool Set(const QString& file, const QString& text);
    // {"clock": hora.txt, "countdown": conteo.txt, "marquee": marquesina.txt,
    //  "caption": {"speaker", "talk", "details"} or null}. A file never written is
    // the empty text; the caption is null when its three files are empty.
    QJsonObject Json() const;

private:
    QHash<QString, QString> m_texts;
};

// The file a path under /overlay/ names: "/overlay" and "/overlay/" are the page
// with every graphic, "/overlay/clock" the page "clock.html", "/overlay/x.css" the
// file itself. The empty text when the path names nothing that may be served.
QString OverlayFileName(const QString& path);

// The answer to a GET of path, or nullopt when there is no such overlay file. A
// file of overrideFolder (when not empty) replaces the built-in one of the same
// name. tokenQuery ("?token=..." or empty) is added to the links of a page, so
// that its style sheets and scripts reach a desk that needs a token.
std::optional<StaticFile> OverlayFile(const QString& path, const QString& overrideFolder,
                                      const QByteArray& tokenQuery);

// The files under /overlay/ for the server, from the resources and from
// overrideFolder, read at each request so a restyled file shows at the next load.
RemoteServer::FileSource OverlayFileSource(const QString& overrideFolder);
