#include "media/TIniDocument.h"

#include "media/TavoriaError.h"
#include "media/TextFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
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

QString Fold(const QString& name) {
    return name.toLower();
}

} // namespace

TIniDocument::TIniDocument(const QString& fileName) : m_fileName(fileName) {
    QFileInfo info(fileName);
    if (!info.exists())
        return;
    Parse(ReadTextFile(fileName));
}

void TIniDocument::Parse(const QString& text) {
    m_sections.clear();
    m_sectionIndex.clear();
    Section* current = nullptr;
    const QStringView all(text);
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
            const QString name = TrimView(line.mid(1, line.size() - 2)).toString();
            current = &SectionFor(name);
            continue;
        }
        if (!current)
            continue; // lines before the first section are dropped
        Entry entry;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0) {
            entry.key = line.toString();
            entry.hasValue = false;
            current->entries.push_back(std::move(entry));
            continue;
        }
        entry.key = TrimView(line.left(eq)).toString();
        entry.value = TrimView(line.mid(eq + 1)).toString();
        const QString folded = Fold(entry.key);
        if (!current->index.contains(folded))
            current->index.insert(folded, int(current->entries.size()));
        current->entries.push_back(std::move(entry));
    }
}

const TIniDocument::Section* TIniDocument::FindSection(const QString& name) const {
    auto it = m_sectionIndex.constFind(Fold(name));
    return it == m_sectionIndex.constEnd() ? nullptr : &m_sections[size_t(*it)];
}

TIniDocument::Section& TIniDocument::SectionFor(const QString& name) {
    const QString folded = Fold(name);
    auto it = m_sectionIndex.constFind(folded);
    if (it != m_sectionIndex.constEnd())
        return m_sections[size_t(*it)];
    m_sectionIndex.insert(folded, int(m_sections.size()));
    m_sections.push_back(Section{name, {}, {}});
    return m_sections.back();
}

const TIniDocument::Entry* TIniDocument::FindEntry(const QString& section,
                                                   const QString& key) const {
    const Section* s = FindSection(section);
    if (!s)
        return nullptr;
    auto it = s->index.constFind(Fold(key));
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

QString TIniDocument::ReadString(const QString& section, const QString& key,
                                 const QString& def) const {
    const Entry* e = FindEntry(section, key);
    return e ? e->value : def;
}

bool TIniDocument::ParseInteger(const QString& text, int& out) {
    if (text.isEmpty())
        return false;
    bool ok = false;
    if (text.size() > 2 && text[0] == QLatin1Char('0') &&
        (text[1] == QLatin1Char('x') || text[1] == QLatin1Char('X'))) {
        const QStringView digits = QStringView(text).mid(2);
        if (digits.isEmpty() || digits.size() > 8)
            return false;
        const uint v = digits.toUInt(&ok, 16);
        if (!ok || digits.startsWith(QLatin1Char('+')) || digits.startsWith(QLatin1Char('-')))
            return false;
        out = int(v);
        return true;
    }
    if (text[0] == QLatin1Char('$')) {
        const QStringView digits = QStringView(text).mid(1);
        if (digits.isEmpty() || digits.size() > 8)
            return false;
        const uint v = digits.toUInt(&ok, 16);
        if (!ok || digits.startsWith(QLatin1Char('+')) || digits.startsWith(QLatin1Char('-')))
            return false;
        out = int(v);
        return true;
    }
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
    Section& s = SectionFor(section);
    const QString folded = Fold(key);
    auto it = s.index.constFind(folded);
    if (it != s.index.constEnd()) {
        s.entries[size_t(*it)].value = value;
        return;
    }
    s.index.insert(folded, int(s.entries.size()));
    s.entries.push_back(Entry{key, value, true});
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
    for (const Section& s : m_sections) {
        estimate += s.name.size() + 4;
        for (const Entry& e : s.entries)
            estimate += e.key.size() + e.value.size() + 3;
        estimate += 2;
    }
    text.reserve(estimate);
    static const QString crlf = QStringLiteral("\r\n");
    for (const Section& s : m_sections) {
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
    WriteFileAtomically(ToBytes(), m_fileName);
}
