#include "media/TIniDocument.h"

#include "media/TavoriaError.h"
#include "media/TextFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringEncoder>
#include <QVarLengthArray>
#include <algorithm>
#include <cstring>
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

// Simple case folding, one UTF-16 unit for one.
inline QChar FoldUnit(char16_t c) {
    return c < 0x80 ? QChar(c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c)
                    : QChar(c).toCaseFolded();
}

// Folds a name for a lookup without allocating: a name in lower-case ASCII (the
// desk's own keys) is used as it is, any other is folded into a stack buffer.
// The first CR or LF in [p, end), or end. Four units are tested at a time for one
// below 14 (a line break, a tab and a few other control characters), which text
// hardly ever holds.
const char16_t* FindLineBreak(const char16_t* p, const char16_t* end) {
    constexpr quint64 ones = 0x0001000100010001ULL;
    constexpr quint64 highs = 0x8000800080008000ULL;
    while (end - p >= 4) {
        quint64 w;
        std::memcpy(&w, p, sizeof w);
        if (((w - ones * 14) & ~w & highs) == 0) {
            p += 4;
            continue;
        }
        for (int k = 0; k < 4; ++k, ++p)
            if (*p == u'\n' || *p == u'\r')
                return p;
    }
    for (; p < end; ++p)
        if (*p == u'\n' || *p == u'\r')
            return p;
    return end;
}

bool NeedsFolding(QStringView text) {
    for (const QChar ch : text)
        if (const char16_t c = ch.unicode(); c >= 0x80 || (c >= u'A' && c <= u'Z'))
            return true;
    return false;
}

struct FoldedName {
    QVarLengthArray<QChar, 64> buf;
    QStringView folded;
    explicit FoldedName(QStringView text) : folded(text) {
        if (!NeedsFolding(text))
            return;
        buf.resize(text.size());
        for (qsizetype k = 0; k < text.size(); ++k)
            buf[k] = FoldUnit(text[k].unicode());
        folded = QStringView(buf.constData(), buf.size());
    }
    QStringView view() const { return folded; }
};

// A hash of the folded form of a name, computed without folding it into a buffer.
quint32 FoldedHash(QStringView name) {
    quint32 h = 2166136261u;
    for (const QChar ch : name)
        h = (h ^ FoldUnit(ch.unicode()).unicode()) * 16777619u;
    // The table takes the low bits: mix the high ones in.
    h ^= h >> 15;
    h *= 0x2c1b3c6du;
    h ^= h >> 12;
    return h;
}

bool FoldedEqual(QStringView a, QStringView b) {
    if (a.size() != b.size())
        return false;
    for (qsizetype k = 0; k < a.size(); ++k)
        if (a[k] != b[k] && FoldUnit(a[k].unicode()) != FoldUnit(b[k].unicode()))
            return false;
    return true;
}

bool BreaksLine(QStringView t) {
    const char16_t* const end = t.utf16() + t.size();
    return FindLineBreak(t.utf16(), end) != end;
}

} // namespace

TIniDocument::TIniDocument(const QString& fileName) : m_fileName(fileName) {
    QFileInfo info(fileName);
    if (!info.exists())
        return;
    Parse(ReadTextFile(fileName));
}

void TIniDocument::KeyIndex::Reserve(size_t keys) {
    size_t wanted = 16;
    while (wanted < keys * 2)
        wanted *= 2;
    if (wanted > m_slots.size() && m_size == 0)
        m_slots.assign(wanted, Slot{});
}

int TIniDocument::KeyIndex::Find(QStringView key, const std::vector<Entry>& entries) const {
    if (m_slots.empty())
        return -1;
    const size_t mask = m_slots.size() - 1;
    const quint32 h = FoldedHash(key);
    for (size_t i = h & mask;; i = (i + 1) & mask) {
        const Slot& slot = m_slots[i];
        if (slot.entry < 0)
            return -1;
        if (slot.hash == h && FoldedEqual(entries[size_t(slot.entry)].key, key))
            return slot.entry;
    }
}

bool TIniDocument::KeyIndex::Insert(int entry, const std::vector<Entry>& entries) {
    if ((m_size + 1) * 2 > m_slots.size())
        Grow();
    const QStringView key = entries[size_t(entry)].key;
    const size_t mask = m_slots.size() - 1;
    const quint32 h = FoldedHash(key);
    for (size_t i = h & mask;; i = (i + 1) & mask) {
        Slot& slot = m_slots[i];
        if (slot.entry < 0) {
            slot = Slot{h, entry};
            ++m_size;
            return true;
        }
        if (slot.hash == h && FoldedEqual(entries[size_t(slot.entry)].key, key))
            return false;
    }
}

void TIniDocument::KeyIndex::Grow() {
    std::vector<Slot> old;
    old.swap(m_slots);
    m_slots.assign(std::max<size_t>(16, old.size() * 2), Slot{});
    m_size = 0;
    const size_t mask = m_slots.size() - 1;
    for (const Slot& s : old) {
        if (s.entry < 0)
            continue;
        size_t i = s.hash & mask;
        while (m_slots[i].entry >= 0)
            i = (i + 1) & mask;
        m_slots[i] = s;
        ++m_size;
    }
}

std::vector<int> TIniDocument::KeyIndex::EntriesRecorded() const {
    std::vector<int> recorded;
    recorded.reserve(m_size);
    for (const Slot& s : m_slots)
        if (s.entry >= 0)
            recorded.push_back(s.entry);
    return recorded;
}

QStringView TIniDocument::Own(QStringView text) {
    if (text.isEmpty())
        return QStringView();
    if (m_freeLeft < text.size()) {
        const qsizetype size = std::max<qsizetype>(text.size(), 64 * 1024);
        m_blocks.push_back(std::make_unique<QChar[]>(size_t(size)));
        m_free = m_blocks.back().get();
        m_freeLeft = size;
    }
    QChar* at = m_free;
    std::copy(text.begin(), text.end(), at);
    m_free += text.size();
    m_freeLeft -= text.size();
    return QStringView(at, text.size());
}

QStringView TIniDocument::FoldedKey(QStringView name) {
    // A name without upper-case or non-ASCII letters is its own folded form.
    return NeedsFolding(name) ? Own(FoldedName(name).view()) : name;
}

void TIniDocument::Parse(const QString& text) {
    m_sections.clear();
    m_sectionIndex.clear();
    m_blocks.clear();
    m_free = nullptr;
    m_freeLeft = 0;
    m_text = text;
    const char16_t* const begin = reinterpret_cast<const char16_t*>(m_text.constData());
    const char16_t* const end = begin + m_text.size();
    // Each line goes straight into its section; the index is built once all are in.
    int current = -1;
    const char16_t* p = begin;
    for (bool last = false; !last;) {
        // A line ends at CR LF, LF or CR.
        const char16_t* e = FindLineBreak(p, end);
        const QStringView line = TrimView(QStringView(p, e - p));
        last = e == end;
        if (!last) {
            p = e + 1;
            if (*e == u'\r' && p < end && *p == u'\n')
                ++p;
        }

        if (line.isEmpty() || line[0] == QLatin1Char(';'))
            continue;
        if (line[0] == QLatin1Char('[') && line.back() == QLatin1Char(']')) {
            const QStringView name = TrimView(line.mid(1, line.size() - 2));
            current = SectionIndex(name, FoldedKey(name));
            continue;
        }
        if (current < 0)
            continue; // lines before the first section are dropped
        std::vector<Entry>& entries = m_sections[size_t(current)].entries;
        // Keys are short: the "=" is found scanning from the start.
        qsizetype eq = 0;
        while (eq < line.size() && line[eq] != QLatin1Char('='))
            ++eq;
        if (eq == line.size())
            entries.push_back(Entry{line, QStringView(), false});
        else
            entries.push_back(Entry{TrimView(line.left(eq)), TrimView(line.mid(eq + 1)), true});
    }
    for (Section& section : m_sections)
        section.index.Reserve(section.entries.size());
    // Indexed first to last: of two entries with the same key the first wins.
    for (Section& section : m_sections) {
        bool unique = true;
        for (size_t k = 0; k < section.entries.size(); ++k)
            if (section.entries[k].hasValue && !section.index.Insert(int(k), section.entries))
                unique = false;
        section.uniqueKeys = unique;
    }
}

const TIniDocument::Section* TIniDocument::FindSection(QStringView name) const {
    const FoldedName f(name);
    auto it = m_sectionIndex.constFind(f.view());
    return it == m_sectionIndex.constEnd() ? nullptr : &m_sections[size_t(*it)];
}

int TIniDocument::SectionIndex(QStringView name, QStringView folded) {
    auto it = m_sectionIndex.constFind(folded);
    if (it != m_sectionIndex.constEnd())
        return *it;
    const int index = int(m_sections.size());
    m_sectionIndex.insert(folded, index);
    m_sections.push_back(Section{name, {}, {}});
    return index;
}

const TIniDocument::Entry* TIniDocument::FindEntry(const QString& section,
                                                   const QString& key) const {
    const Section* s = FindSection(section);
    if (!s)
        return nullptr;
    const int at = s->index.Find(key, s->entries);
    return at < 0 ? nullptr : &s->entries[size_t(at)];
}

int TIniDocument::SectionReader::EntryCount() const {
    return m_s ? int(m_s->entries.size()) : 0;
}

bool TIniDocument::SectionReader::Find(QStringView key, QStringView& value) {
    if (!m_s)
        return false;
    if (const Entry* e = m_s->At(m_next, key)) {
        ++m_next;
        value = e->value;
        return true;
    }
    const int at = m_s->index.Find(key, m_s->entries);
    if (at < 0)
        return false;
    m_next = size_t(at) + 1;
    value = m_s->entries[size_t(at)].value;
    return true;
}

TIniDocument::SectionReader TIniDocument::Reader(const QString& section) const {
    SectionReader r;
    r.m_s = FindSection(section);
    return r;
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
    std::vector<int> first = s->index.EntriesRecorded();
    std::sort(first.begin(), first.end());
    keys.reserve(qsizetype(first.size()));
    for (int i : first)
        keys.push_back(s->entries[size_t(i)].key.toString());
    return keys;
}

QStringList TIniDocument::Sections() const {
    QStringList names;
    names.reserve(qsizetype(m_sections.size()));
    for (const Section& s : m_sections)
        names.push_back(s.name.toString());
    return names;
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

void TIniDocument::Refuse(QStringView section, QStringView key) {
    QString text =
        QStringLiteral("Un salto de línea no se puede guardar en \"%1\" (sección %2, clave %3)")
            .arg(QFileInfo(m_fileName).fileName(), section, key);
    text.replace(QLatin1Char('\r'), QStringLiteral("\\r"));
    text.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    if (!m_collectRefusals)
        throw TavoriaError(text);
    m_refusals << text;
}

size_t TIniDocument::WriteEntry(Section& s, QStringView sectionName, QStringView key,
                                QStringView value, size_t hint) {
    // A line break would split the line: the rest of the value would become a line of
    // its own and everything after it could land in another section.
    if (BreaksLine(key) || BreaksLine(value)) {
        Refuse(sectionName, key);
        return hint;
    }
    size_t at = hint;
    if (!s.At(hint, key)) {
        const int found = s.index.Find(key, s.entries);
        if (found < 0) {
            at = s.entries.size();
            s.entries.push_back(Entry{Own(key), Own(value), true});
            s.index.Insert(int(at), s.entries);
            return at;
        }
        at = size_t(found);
    }
    Entry& e = s.entries[at];
    if (e.value != value)
        e.value = Own(value);
    return at;
}

void TIniDocument::WriteString(const QString& section, const QString& key, const QString& value) {
    if (BreaksLine(section)) {
        Refuse(section, key);
        return;
    }
    SectionWriter(*this, section).Write(key, value);
}

TIniDocument::SectionWriter::SectionWriter(TIniDocument& doc, const QString& section)
    : m_doc(doc), m_name(section) {
    if (BreaksLine(section))
        return;
    const FoldedName folded(section);
    auto it = doc.m_sectionIndex.constFind(folded.view());
    m_index = it != doc.m_sectionIndex.constEnd()
                  ? *it
                  : doc.SectionIndex(doc.Own(section), doc.Own(folded.view()));
}

void TIniDocument::SectionWriter::Write(QStringView key, QStringView value) {
    if (m_index < 0) {
        m_doc.Refuse(m_name, key);
        return;
    }
    m_next = m_doc.WriteEntry(m_doc.m_sections[size_t(m_index)], m_name, key, value, m_next) + 1;
}

TIniDocument::SectionWriter TIniDocument::Writer(const QString& section) {
    return SectionWriter(*this, section);
}

void TIniDocument::WriteInteger(const QString& section, const QString& key, int value) {
    WriteString(section, key, QString::number(value));
}

void TIniDocument::WriteBool(const QString& section, const QString& key, bool value) {
    WriteString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

QByteArray TIniDocument::ToBytes() const {
    // UTF-8 straight into the output: at most three bytes for each UTF-16 unit.
    qsizetype units = 0;
    for (const Section& sec : m_sections) {
        units += sec.name.size() + 4;
        for (const Entry& e : sec.entries)
            units += e.key.size() + e.value.size() + 3;
        units += 2;
    }
    QStringEncoder encoder(QStringEncoder::Utf8);
    QByteArray bytes(3 + encoder.requiredSpace(units), Qt::Uninitialized);
    char* out = bytes.data();
    auto raw = [&out](const char* text, int size) {
        std::memcpy(out, text, size_t(size));
        out += size;
    };
    raw("\xEF\xBB\xBF", 3);
    for (const Section& sec : m_sections) {
        raw("[", 1);
        out = encoder.appendToBuffer(out, sec.name);
        raw("]\r\n", 3);
        for (const Entry& e : sec.entries) {
            out = encoder.appendToBuffer(out, e.key);
            if (e.hasValue) {
                raw("=", 1);
                out = encoder.appendToBuffer(out, e.value);
            }
            raw("\r\n", 2);
        }
        raw("\r\n", 2);
    }
    bytes.truncate(out - bytes.constData());
    return bytes;
}

void TIniDocument::Update() const {
    WriteFileAtomically(ToBytes(), m_fileName,
                        m_ownerOnly ? FilePermissions::OwnerOnly : FilePermissions::Default);
}
