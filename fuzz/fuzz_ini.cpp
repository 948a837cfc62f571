// config.ini and playlist files as any program might have left them: parsing never
// fails, every name can be read, and a written document parses back to the same
// bytes.
#include "media/TIniDocument.h"

#include <QString>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    TIniDocument doc(QStringLiteral("/nonexistent/fuzz.ini"));
    doc.Parse(text);
    // Reads of names taken from the input itself.
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString& line : lines.mid(0, 64)) {
        const QString name = line.section(QLatin1Char('='), 0, 0).trimmed();
        doc.ReadString(QStringLiteral("CONFIG"), name, QString());
        doc.ReadInteger(name, name, 0);
        doc.SectionExists(name);
    }
    const QByteArray first = doc.ToBytes();
    TIniDocument again(QStringLiteral("/nonexistent/fuzz.ini"));
    again.Parse(QString::fromUtf8(first.mid(3)));
    if (again.ToBytes() != first)
        std::abort(); // a written document must read back as itself
    // A value written, saved and parsed again reads back as itself, less the blanks
    // and control characters around it that the format does not keep.
    QString value = text.left(200);
    try {
        again.WriteString(QStringLiteral("Fuzz"), QStringLiteral("k"), value);
    } catch (const std::exception&) {
        return 0; // a line break is refused: that is the rule
    }
    TIniDocument third(QStringLiteral("/nonexistent/fuzz.ini"));
    third.Parse(QString::fromUtf8(again.ToBytes().mid(3)));
    while (!value.isEmpty() && value.front().unicode() <= 0x20)
        value.remove(0, 1);
    while (!value.isEmpty() && value.back().unicode() <= 0x20)
        value.chop(1);
    if (third.ReadString(QStringLiteral("Fuzz"), QStringLiteral("k"), QString()) != value)
        std::abort();
    return 0;
}
