#pragma once
#include <QHash>
#include <QString>
#include <QStringList>
#include <deque>
#include <vector>

// An INI file held in memory. Read whole as UTF-8 (a byte-order mark is skipped,
// lines end at CR LF, LF or CR); written back whole by Update() as UTF-8 with a
// byte-order mark, CR LF line ends and one empty line after each section.
// Section and key names compare without regard to letter case; lookups are hashed.
// Nothing reaches the file unless Update() is called.
class TIniDocument {
public:
    // Reads the file if it exists; a file that exists but cannot be read raises
    // TavoriaError. A missing file gives an empty document.
    explicit TIniDocument(const QString& fileName);
    TIniDocument(const TIniDocument&) = delete;
    TIniDocument& operator=(const TIniDocument&) = delete;

    QString ReadString(const QString& section, const QString& key, const QString& def) const;
    int ReadInteger(const QString& section, const QString& key, int def) const;
    bool ReadBool(const QString& section, const QString& key, bool def) const;

    // A section, key or value holding a line break raises TavoriaError: it could not be
    // read back and would corrupt the lines after it.
    void WriteString(const QString& section, const QString& key, const QString& value);
    // Collecting, WriteString leaves a value it would refuse as the document had it and
    // keeps the refusal's text in Refusals() instead of raising it: a save of many
    // cells then loses only the cell that cannot be stored.
    void SetCollectRefusals(bool collect) { m_collectRefusals = collect; }
    const QStringList& Refusals() const { return m_refusals; }
    void WriteInteger(const QString& section, const QString& key, int value);
    void WriteBool(const QString& section, const QString& key, bool value);

    bool SectionExists(const QString& section) const;
    bool ValueExists(const QString& section, const QString& key) const;
    // Number of entries of a section (0 when absent).
    int EntryCount(const QString& section) const;
    // The keys of a section as written, in file order (each key once).
    QStringList Keys(const QString& section) const;

    // Replaces the file atomically with the document; raises TavoriaError on failure.
    void Update() const;
    // From now on the file is written readable by its owner only (it holds a secret).
    void SetOwnerOnly() { m_ownerOnly = true; }
    bool OwnerOnly() const { return m_ownerOnly; }
    // The bytes Update() writes.
    QByteArray ToBytes() const;

    const QString& FileName() const { return m_fileName; }

    // Parses the text of an INI file (exposed for tests and benchmarks).
    void Parse(const QString& text);

    // The integer rules of ReadInteger: "0x"/"0X" (text longer than two characters)
    // and "$" are hexadecimal, otherwise decimal with an optional sign.
    static bool ParseInteger(QStringView text, int& out);

private:
    // Keys and values are views into the file's text (or into strings the document
    // owns once they are written), so a 70,000-key file is parsed without one
    // allocation per entry. Names are matched through a case-folded copy of the text
    // that has the same length, so the views of both line up.
    struct Entry {
        QStringView key;
        QStringView value;
        bool hasValue = true; // false: a line without "=", written back unchanged
    };
    struct Section {
        QStringView name;
        std::vector<Entry> entries;
        QHash<QStringView, int> index; // folded key -> first entry with that key
    };

    const Section* FindSection(QStringView name) const;
    Section& SectionFor(QStringView name, QStringView folded);
    const Entry* FindEntry(const QString& section, const QString& key) const;
    QStringView Own(const QString& text);

    // The parsed content: the file's text, its folded copy and the strings written
    // since, which the views point into.
    struct Content {
        QString text;
        QString folded;
        std::deque<QString> owned;
        std::vector<Section> sections;
        QHash<QStringView, int> sectionIndex;
    };

    QString m_fileName;
    Content m_c;
    bool m_ownerOnly = false;
    bool m_collectRefusals = false;
    QStringList m_refusals;
};
