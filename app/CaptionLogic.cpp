#include "app/CaptionLogic.h"

#include "media/TavoriaError.h"

#include <QTextBoundaryFinder>
#include <algorithm>
#include <cmath>

QString CaptionEditorMode::ButtonText() const {
    return m_editing ? QStringLiteral("Edit") : QStringLiteral("Add");
}

bool CaptionTextLongEnough(const QString& text) {
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, text);
    int count = 0;
    while (count < 2 && graphemes.toNextBoundary() != -1)
        ++count;
    return count >= 2;
}

std::array<int, 3> CaptionColumnWidths(int width) {
    const int third = int(std::lround(width / 3.0));
    return {third, third, std::max(0, third - 25)};
}

int CaptionRowForLink(const QString& link, int rowCount) {
    if (link.isEmpty())
        return -1;
    bool ok = false;
    const int n = link.trimmed().toInt(&ok);
    if (!ok) {
        // A long cell is shortened so the error box stays readable.
        const QString shown = link.size() > 40 ? link.left(40) + QChar(0x2026) : link;
        throw TavoriaError(
            QStringLiteral("El enlace de subtítulo \"%1\" no es un número entero").arg(shown));
    }
    return n >= 1 && n <= rowCount ? n - 1 : -1;
}

QString LinesJoined(const QString& text, QChar separator) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\r')) {
            if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n'))
                ++i;
            out += separator;
        } else if (c == QLatin1Char('\n') || c == QChar::LineSeparator ||
                   c == QChar::ParagraphSeparator) {
            out += separator;
        } else {
            out += c;
        }
    }
    return out;
}

QString MarqueeFileText(const QString& editorText) {
    return LinesJoined(editorText, QLatin1Char('\t'));
}

QString CaptionLine(const QString& text) {
    return LinesJoined(text, QLatin1Char(' '));
}
