#pragma once
#include <QHash>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

// An INI file held in memory. Read whole as UTF-8 (a byte-order mark is skipped,
// lines end at CR LF, LF or CR); written back whole by Update() as UTF-8 with a
// byte-order mark, CR LF line ends and one empty line after each section.
// Section and key names compare without regard to letter case; lookups are hashed.
// Nothing reaches the file unless Update() is called.
class TIniDocument {
    struct Section;

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

    // Reads many keys of one section, which is looked up once. Valid while the
    // document lives and is not written to.
    class SectionReader {
    public:
        bool Exists() const { return m_s != nullptr; }
        int EntryCount() const;
        // The value of the first entry named key (any letter case); false when the
        // section has no such key. Keys asked in file order are found without hashing.
        bool Find(QStringView key, QStringView& value);

    private:
        friend class TIniDocument;
        const Section* m_s = nullptr;
        size_t m_next = 0; // the entry after the last one found
    };
    SectionReader Reader(const QString& section) const;

    // Writes many keys of one section, which is looked up (or added) once, by the
    // rules of WriteString. Valid while the document lives; keys written in file
    // order are found without hashing.
    class SectionWriter {
    public:
        void Write(QStringView key, QStringView value);

    private:
        friend class TIniDocument;
        SectionWriter(TIniDocument& doc, const QString& section);
        TIniDocument& m_doc;
        QString m_name;
        int m_index = -1;  // -1: the name holds a line break, every write is refused
        size_t m_next = 0; // the entry after the last one written
    };
    SectionWriter Writer(const QString& section);

    bool SectionExists(const QString& section) const;
    bool ValueExists(const QString& section, const QString& key) const;
    // Number of entries of a section (0 when absent).
    int EntryCount(const QString& section) const;
    // The keys of a section as written, in file order (each key once).
    QStringList Keys(const QString& section) const;
    // The names of the sections as the file first wrote them, in file order.
    QStringList Sections() const;

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
    // Keys and values are views into the file's text or into the document's own
    // storage for what was written since, so a 70,000-key file is parsed and saved
    // without an allocation per entry. Section names are indexed by their case-folded
    // form, which for lower-case ASCII names is the name itself.
    struct Entry {
        QStringView key;
        QStringView value;
        bool hasValue = true; // false: a line without "=", written back unchanged
    };
    // Folded key -> first entry with that key: one flat open-addressed table of
    // (hash, entry) pairs. Keys are compared folded on the fly, so no folded copy of
    // a key is kept, and building the index of a 70,000-key section allocates once.
    class KeyIndex {
    public:
        void Reserve(size_t keys);
        // The entry of the key (given folded or not), -1 when none.
        int Find(QStringView key, const std::vector<Entry>& entries) const;
        // Records entry for its key unless the key is there already; false then.
        bool Insert(int entry, const std::vector<Entry>& entries);
        size_t Size() const { return m_size; }
        // The entries recorded, in no order.
        std::vector<int> EntriesRecorded() const;

    private:
        struct Slot {
            quint32 hash = 0;
            int entry = -1; // -1: free
        };
        void Grow();
        std::vector<Slot> m_slots; // a power of two in size, at most half full
        size_t m_size = 0;
    };
    struct Section {
        QStringView name;
        std::vector<Entry> entries;
        KeyIndex index;
        // No two entries share a key: an entry whose key is the one asked for is then
        // the entry, found without hashing.
        bool uniqueKeys = true;
        // The entry at position at when its key is exactly key and the only one.
        const Entry* At(size_t at, QStringView key) const {
            return uniqueKeys && at < entries.size() && entries[at].hasValue &&
                           entries[at].key == key
                       ? &entries[at]
                       : nullptr;
        }
    };

    const Section* FindSection(QStringView name) const;
    int SectionIndex(QStringView name, QStringView folded);
    const Entry* FindEntry(const QString& section, const QString& key) const;
    void Refuse(QStringView section, QStringView key);
    // Writes the entry; returns its position. hint: the position where it is expected.
    size_t WriteEntry(Section& s, QStringView sectionName, QStringView key, QStringView value,
                      size_t hint);
    // The case-folded form of a name: the name itself when folding changes nothing,
    // otherwise a folded copy in the document's storage.
    QStringView FoldedKey(QStringView name);
    // Copies text into the document's storage; the view stays valid as long as the
    // document (storage grows in blocks that never move).
    QStringView Own(QStringView text);

    QString m_fileName;
    QString m_text; // the file's text
    std::vector<std::unique_ptr<QChar[]>> m_blocks;
    QChar* m_free = nullptr;
    qsizetype m_freeLeft = 0;
    std::vector<Section> m_sections;
    QHash<QStringView, int> m_sectionIndex; // folded name -> section
    bool m_ownerOnly = false;
    bool m_collectRefusals = false;
    QStringList m_refusals;
};
