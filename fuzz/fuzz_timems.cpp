// The time labels' formatter with any time and any template.
#include "player/VlcUnit.h"

#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < sizeof(qint64))
        return 0;
    qint64 ms = 0;
    std::memcpy(&ms, data, sizeof ms);
    const QString format = QString::fromUtf8(reinterpret_cast<const char*>(data + sizeof ms),
                                             qsizetype(size - sizeof ms));
    const QString out = TimeMsToStr(ms, format);
    (void)out;
    TimeMsToStr(ms, QStringLiteral("hh:mm:ss"));
    return 0;
}
