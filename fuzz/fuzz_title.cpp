// Answers of the title service and typed addresses as anything might send them: the
// HTML title never carries a line break into a row, and the lookup address never
// carries the id's unsafe characters unescaped.
#include "media/TitleLookup.h"

#include <QUrl>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString title =
        TitleFromHtml(bytes, size % 2 ? QByteArray("windows-1252") : QByteArray());
    if (title.contains(QLatin1Char('\n')) || title.contains(QLatin1Char('\r')))
        std::abort();
    const QString url = QString::fromUtf8(bytes.left(2048));
    IsVideoSiteUrl(url);
    UrlLastSegment(url);
    const QString id = VideoId(url);
    const QByteArray request = TitleLookupUrl(id).toEncoded();
    for (const char c : {'\r', '\n', ' ', '#'})
        if (request.contains(c))
            std::abort(); // an id can never break the request line or add a header
    return 0;
}
