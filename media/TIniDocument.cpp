#include "media/TIniDocument.h"

#include "media/TavoriaError.h"
#include "media/TextFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QVarLengthArray>
#include <algorithm>
#include <limits>

namespace {

// Trims leading and trailing spaces and control characters.
QStringView TrimView(QStringView s) {
    qsizetype b = 0, e = s.size();
    while (b < e && s[b].unicode() <= 0x20)
        ++b;
    while (e > b && s[e - 1].unicode() <= 0x20)
        --e;
    return s.mid(b, e - b);
}

// Simple case folding, one UTF-16 unit for one: the folded text keeps the length.
QString Fold(QStringView text) {
    QString out(text.size(), Qt::Uninitialized);
    QChar* d = out.data();
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        d[i] = c < 0x80 ? QChar(c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c)
                        : QChar(c).toCaseFolded();
    }
    return out;
}

} // namespace

TIniDocument::TIniDocument(const QString& fileName) : m_fileName(fileName) {
    QFileInfo info(fileName);
    if (!info.exists())
        return;
    Parse(ReadTextFile(fileName));
}

QStringView TIniDocument::Own(const QString& text) {
    m_c.owned.push_back(text);
    return QStringView(m_c.owned.back());
}

void TIniDocument::Parse(const QString& text) {
    m_c.sections.clear();
    m_c.sectionIndex.clear();
    m_c.owned.clear();
    m_c.text = text;
    m_c.folded = Fold(m_c.text);
    const QStringView all(m_c.text);
    const QChar* base = all.data();
    const QChar* foldedBase = m_c.folded.constData();
    auto folded = [&](QStringView v) {
        return QStringView(foldedBase + (v.data() - base), v.size());
    };
    // First pass: split and classify the lines; second pass: fill each section with
    // its entries and index, sized once.
    struct Line {
        int section;
        Entry entry;
    };
    std::vector<Line> lines;
    lines.reserve(size_t(all.count(QLatin1Char('\n')) + 1));
    std::vector<int> counts;
    int current = -1;
    qsizetype pos = 0;
    const qsizetype n = all.size();
    while (pos <= n) {
        qsizetype end = pos;
        while (end < n && all[end] != QLatin1Char('\r') && all[end] != QLatin1Char('\n'))
            ++end;
        const QStringView line = TrimView(all.mid(pos, end - pos));
        if (end < n && all[end] == QLatin1Char('\r') && end + 1 < n &&
            all[end + 1] == QLatin1Char('\n'))
            pos = end + 2;
        else
            pos = end + 1;

        if (line.isEmpty() || line[0] == QLatin1Char(';'))
            continue;
        if (line[0] == QLatin1Char('[') && line.back() == QLatin1Char(']')) {
            const QStringView name = TrimView(line.mid(1, line.size() - 2));
            SectionFor(name, folded(name));
            current = m_c.sectionIndex.value(folded(name));
            counts.resize(m_c.sections.size());
            continue;
        }
        if (current < 0)
            continue; // lines before the first section are dropped
        ++counts[size_t(current)];
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0)
            lines.push_back(Line{current, Entry{line, QStringView(), false}});
        else
            lines.push_back(
                Line{current, Entry{TrimView(line.left(eq)), TrimView(line.mid(eq + 1)), true}});
    }
    for (size_t i = 0; i < m_c.sections.size(); ++i) {
        m_c.sections[i].entries.reserve(size_t(counts[i]));
        m_c.sections[i].index.reserve(counts[i]);
    }
    for (const Line& l : lines) {
        Section& section = m_c.sections[size_t(l.section)];
        if (l.entry.hasValue) {
            const QStringView foldedKey = folded(l.entry.key);
            if (!section.index.contains(foldedKey))
                section.index.insert(foldedKey, int(section.entries.size()));
        }
        section.entries.push_back(l.entry);
    }
}

namespace {
// Folds a name into a stack buffer for a lookup, without allocating.
struct FoldedName {
    QVarLengthArray<QChar, 64> buf;
    explicit FoldedName(QStringView text) {
        buf.resize(text.size());
        for (qsizetype i = 0; i < text.size(); ++i) {
            const char16_t c = text[i].unicode();
            buf[i] = c < 0x80 ? QChar(c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c)
                              : QChar(c).toCaseFolded();
        }
    }
    QStringView view() const { return QStringView(buf.constData(), buf.size()); }
};
} // namespace

const TIniDocument::Section* TIniDocument::FindSection(QStringView name) const {
    const FoldedName f(name);
    auto it = m_c.sectionIndex.constFind(f.view());
    return it == m_c.sectionIndex.constEnd() ? nullptr : &m_c.sections[size_t(*it)];
}

TIniDocument::Section& TIniDocument::SectionFor(QStringView name, QStringView folded) {
    auto it = m_c.sectionIndex.constFind(folded);
    if (it != m_c.sectionIndex.constEnd())
        return m_c.sections[size_t(*it)];
    m_c.sectionIndex.insert(folded, int(m_c.sections.size()));
    m_c.sections.push_back(Section{name, {}, {}});
    return m_c.sections.back();
}

const TIniDocument::Entry* TIniDocument::FindEntry(const QString& section,
                                                   const QString& key) const {
    const Section* s = FindSection(section);
    if (!s)
        return nullptr;
    const FoldedName f(key);
    auto it = s->index.constFind(f.view());
    return it == s->index.constEnd() ? nullptr : &s->entries[size_t(*it)];
}

bool TIniDocument::SectionExists(const QString& section) const {
    return FindSection(section) != nullptr;
}

bool TIniDocument::ValueExists(const QString& section, const QString& key) const {
    return FindEntry(section, key) != nullptr;
}

int TIniDocument::EntryCount(const QString& section) const {
    const Section* s = FindSection(section);
    return s ? int(s->entries.size()) : 0;
}

QStringList TIniDocument::Keys(const QString& section) const {
    QStringList keys;
    const Section* s = FindSection(section);
    if (!s)
        return keys;
    // The index holds the first entry of each key: in file order, each key once.
    std::vector<int> first(s->index.cbegin(), s->index.cend());
    std::sort(first.begin(), first.end());
    keys.reserve(qsizetype(first.size()));
    for (int i : first)
        keys.push_back(s->entries[size_t(i)].key.toString());
    return keys;
}

QString TIniDocument::ReadString(const QString& section, const QString& key,
                                 const QString& def) const {
    const Entry* e = FindEntry(section, key);
    return e ? e->value.toString() : def;
}

namespace {
// Up to eight hexadecimal digits, nothing else; wider values wrap to 32 bits.
bool ParseHex(QStringView digits, int& out) {
    if (digits.isEmpty() || digits.size() > 8 || digits.startsWith(QLatin1Char('+')) ||
        digits.startsWith(QLatin1Char('-')))
        return false;
    bool ok = false;
    const uint v = digits.toUInt(&ok, 16);
    if (ok)
        out = int(v);
    return ok;
}
} // namespace

bool TIniDocument::ParseInteger(QStringView text, int& out) {
    if (text.isEmpty())
        return false;
    if (text.size() > 2 && text[0] == QLatin1Char('0') &&
        (text[1] == QLatin1Char('x') || text[1] == QLatin1Char('X')))
        return ParseHex(text.mid(2), out);
    if (text[0] == QLatin1Char('$'))
        return ParseHex(text.mid(1), out);
    bool ok = false;
    // Decimal with an optional sign, nothing else (no blanks inside).
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isDigit() && c.unicode() < 128)
            continue;
        if (i == 0 && (c == QLatin1Char('+') || c == QLatin1Char('-')) && text.size() > 1)
            continue;
        return false;
    }
    const qlonglong v = text.toLongLong(&ok, 10);
    if (!ok || v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max())
        return false;
    out = int(v);
    return true;
}

int TIniDocument::ReadInteger(const QString& section, const QString& key, int def) const {
    const Entry* e = FindEntry(section, key);
    if (!e)
        return def;
    int v = 0;
    return ParseInteger(e->value, v) ? v : def;
}

bool TIniDocument::ReadBool(const QString& section, const QString& key, bool def) const {
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void TIniDocument::WriteString(const QString& section, const QString& key, const QString& value) {
    // A line break would split the line: the rest of the value would become a line of
    // its own and everything after it could land in another section.
    const auto breaksLine = [](const QString& t) {
        return t.contains(QLatin1Char('\n')) || t.contains(QLatin1Char('\r'));
    };
    if (breaksLine(section) || breaksLine(key) || breaksLine(value)) {
        QString text =
            QStringLiteral("Un salto de línea no se puede guardar en \"%1\" (sección %2, clave %3)")
                .arg(QFileInfo(m_fileName).fileName(), section, key);
        text.replace(QLatin1Char('\r'), QStringLiteral("\\r"));
        text.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
        if (!m_collectRefusals)
            throw TavoriaError(text);
        m_refusals << text;
        return;
    }
    const QString foldedSection = Fold(section);
    auto sit = m_c.sectionIndex.constFind(QStringView(foldedSection));
    Section& s = sit != m_c.sectionIndex.constEnd() ? m_c.sections[size_t(*sit)]
                                                    : SectionFor(Own(section), Own(foldedSection));
    const QString folded = Fold(key);
    auto it = s.index.constFind(QStringView(folded));
    if (it != s.index.constEnd()) {
        Entry& e = s.entries[size_t(*it)];
        if (e.value != QStringView(value))
            e.value = Own(value);
        return;
    }
    s.index.insert(Own(folded), int(s.entries.size()));
    s.entries.push_back(Entry{Own(key), Own(value), true});
}

void TIniDocument::WriteInteger(const QString& section, const QString& key, int value) {
    WriteString(section, key, QString::number(value));
}

void TIniDocument::WriteBool(const QString& section, const QString& key, bool value) {
    WriteString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

QByteArray TIniDocument::ToBytes() const {
    QString text;
    qsizetype estimate = 0;
    for (const Section& s : m_c.sections) {
        estimate += s.name.size() + 4;
        for (const Entry& e : s.entries)
            estimate += e.key.size() + e.value.size() + 3;
        estimate += 2;
    }
    text.reserve(estimate);
    static const QString crlf = QStringLiteral("\r\n");
    for (const Section& s : m_c.sections) {
        text += QLatin1Char('[');
        text += s.name;
        text += QLatin1Char(']');
        text += crlf;
        for (const Entry& e : s.entries) {
            text += e.key;
            if (e.hasValue) {
                text += QLatin1Char('=');
                text += e.value;
            }
            text += crlf;
        }
        text += crlf;
    }
    QByteArray bytes("\xEF\xBB\xBF");
    bytes += text.toUtf8();
    return bytes;
}

void TIniDocument::Update() const {
    WriteFileAtomically(ToBytes(), m_fileName,
                        m_ownerOnly ? FilePermissions::OwnerOnly : FilePermissions::Default);
}
