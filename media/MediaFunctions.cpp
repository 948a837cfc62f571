#include "media/MediaFunctions.h"

#include "audio/AudioLayer.h"
#include "media/TIniDocument.h"
#include "media/TavoriaError.h"
#include "media/TextFile.h"

#include <QCollator>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QVarLengthArray>
#include <algorithm>
#include <cmath>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

const std::array<QString, 6> MediaExtensions = {QStringLiteral(".mp3"),  QStringLiteral(".mp4"),
                                                QStringLiteral(".webm"), QStringLiteral(".mkv"),
                                                QStringLiteral(".mov"),  QStringLiteral(".mpg")};

int MediaExtensionIndex(const QString& path) {
    const qsizetype slash =
        std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QDir::separator()));
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot < 0 || dot < slash)
        return -1;
    const QString ext = path.mid(dot).toLower();
    for (size_t i = 0; i < MediaExtensions.size(); ++i)
        if (ext == MediaExtensions[i])
            return int(i);
    return -1;
}

QString SecondsToHms(double seconds) {
    if (!std::isfinite(seconds))
        seconds = 0;
    // nearbyint rounds halves to the even neighbour in the default rounding mode.
    const double rounded = std::clamp(std::nearbyint(seconds), 0.0, 1e15);
    const long long whole = static_cast<long long>(rounded);
    const long long h = whole / 3600, m = (whole / 60) % 60, s = whole % 60;
    return QStringLiteral("%1:%2:%3")
        .arg(h, 2, 10, QLatin1Char('0'))
        .arg(m, 2, 10, QLatin1Char('0'))
        .arg(s, 2, 10, QLatin1Char('0'));
}

QString SecondsText(double seconds) {
    if (seconds == 0)
        return QStringLiteral("0");
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(seconds, 'g', 15);
}

double MediaDurationSeconds(const QString& path) {
    const QByteArray file = path.toUtf8();
    DWORD handle =
        BASS_StreamCreateFile(0, file.constData(), 0, 0, BASS_UNICODE | BASS_STREAM_PRESCAN);
    if (!handle)
        handle = BASS_MusicLoad(0, file.constData(), 0, 0, BASS_UNICODE | BASS_MUSIC_PRESCAN, 0);
    if (!handle)
        return 0;
    const QWORD bytes = BASS_ChannelGetLength(handle, BASS_POS_BYTE);
    const double seconds = bytes == QWORD(-1) ? 0.0 : BASS_ChannelBytes2Seconds(handle, bytes);
    BASS_StreamFree(handle);
    return seconds >= 1.0 ? seconds : 0.0;
}

namespace {
// Linux file names may hold line breaks; Windows names, and so every stored list,
// never do. config.ini keeps one cell a line, so such a name is refused.
bool HasLineBreak(const QString& text) {
    return text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'));
}

// The name as a message shows it: its line breaks written as \r and \n.
QString ShownWithBreaks(const QString& path) {
    QString shown = path;
    shown.replace(QLatin1Char('\r'), QStringLiteral("\\r"));
    shown.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    return shown;
}
} // namespace

void CheckFolderName(const QString& folder) {
    if (HasLineBreak(folder))
        throw TavoriaError(
            QStringLiteral(
                "No se puede usar la carpeta \"%1\": el nombre contiene un salto de línea")
                .arg(ShownWithBreaks(folder)));
}

QTreeWidgetItem* MakeMediaFileRow(const QString& path, const TListView* list) {
    const int ext = MediaExtensionIndex(path);
    if (ext < 0 || !list)
        return nullptr;
    if (HasLineBreak(path))
        throw TavoriaError(
            QStringLiteral("No se puede añadir \"%1\": el nombre contiene un salto de línea")
                .arg(ShownWithBreaks(path)));
    const double seconds = ext == 0 ? MediaDurationSeconds(path) : 0.0;
    return list->MakeRow(
        {QFileInfo(path).fileName(), SecondsToHms(seconds), path, SecondsText(seconds), QString()},
        ext);
}

void MeasureUnmeasuredRows(TListView* list) {
    for (int i = 0; i < list->RowCount(); ++i) {
        QTreeWidgetItem* row = list->Row(i);
        if (TListView::SubItemCount(row) < 4 || TListView::SubItem(row, 3) != QStringLiteral("0"))
            continue;
        const QString path = TListView::SubItem(row, 2);
        if (MediaExtensionIndex(path) != 0)
            continue;
        const double seconds = MediaDurationSeconds(path);
        if (seconds <= 0)
            continue;
        list->SetSubItem(row, 1, SecondsToHms(seconds));
        list->SetSubItem(row, 3, SecondsText(seconds));
    }
}

void AddMediaFile(const QString& path, TListView* list) {
    // The row is complete before it joins the list, which then announces it.
    if (QTreeWidgetItem* row = MakeMediaFileRow(path, list))
        list->AppendRows({row});
}

void SortByName(QStringList& names) {
    // Windows lists a folder in this order whatever the file system keeps; a fixed
    // collation keeps the order the same on every desk (the C locale would turn
    // numeric mode off).
    QCollator collator{QLocale(QLocale::Spanish, QLocale::Spain)};
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(true);
    std::vector<std::pair<QCollatorSortKey, qsizetype>> keys;
    keys.reserve(size_t(names.size()));
    for (qsizetype i = 0; i < names.size(); ++i)
        keys.emplace_back(collator.sortKey(names[i]), i);
    std::sort(keys.begin(), keys.end(), [&](const auto& a, const auto& b) {
        const int c = a.first.compare(b.first);
        // Names equal to the collation ("a", "A") keep one fixed order too.
        return c != 0 ? c < 0 : names[a.second] < names[b.second];
    });
    QStringList sorted;
    sorted.reserve(names.size());
    for (const auto& k : keys)
        sorted.push_back(names[k.second]);
    names = std::move(sorted);
}

namespace {

// Lists a folder in name order (SortByName), calling f(name, stat, full path).
template <typename F> void ListFolder(const QString& folder, F f) {
    // opendir would read the name only up to a NUL and list another folder.
    if (folder.contains(QChar(0)))
        return;
    const QByteArray native = QFile::encodeName(folder);
    DIR* dir = opendir(native.constData());
    if (!dir)
        return;
    QStringList names;
    while (dirent* entry = readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        names.push_back(QFile::decodeName(name));
    }
    closedir(dir);
    SortByName(names);
    for (const QString& name : names) {
        struct stat st {};
        const QByteArray full = native + '/' + QFile::encodeName(name);
        if (stat(full.constData(), &st) != 0)
            continue;
        f(name, st, full);
    }
}

} // namespace

void AddFolderFiles(const QString& folder, TListView* list) {
    const QString base = OutputPath(folder, QString());
    QStringList files;
    // "The archive attribute alone": a regular, readable, writable, non-hidden file.
    ListFolder(folder, [&](const QString& name, const struct stat& st, const QByteArray& full) {
        if (!S_ISREG(st.st_mode) || name.startsWith(QLatin1Char('.')))
            return;
        if (access(full.constData(), R_OK | W_OK) != 0)
            return;
        // access() says yes to everything for root: look at the mode bits too.
        if ((st.st_mode & (S_IRUSR | S_IWUSR)) != (S_IRUSR | S_IWUSR))
            return;
        files.push_back(name);
    });
    QStringList refused;
    for (const QString& name : files) {
        try {
            AddMediaFile(base + name, list);
        } catch (const TavoriaError& e) {
            refused << e.message();
        }
    }
    // The other files are listed; the refused ones are reported together.
    if (!refused.isEmpty())
        throw TavoriaError(refused.join(QLatin1Char('\n')));
}

void ListSubfolders(const QString& folder, QStringList& strings) {
    ListFolder(folder, [&](const QString& name, const struct stat& st, const QByteArray&) {
        if (S_ISDIR(st.st_mode) && !name.startsWith(QLatin1Char('.')))
            strings.push_back(name);
    });
}

QString FindSubfolderIgnoringCase(const QString& folder, const QString& name) {
    const QString base = OutputPath(folder, QString());
    if (QFileInfo(base + name).isDir())
        return base + name;
    QString found;
    ListFolder(folder, [&](const QString& entry, const struct stat& st, const QByteArray&) {
        if (found.isEmpty() && S_ISDIR(st.st_mode) && entry.compare(name, Qt::CaseInsensitive) == 0)
            found = entry;
    });
    return base + (found.isEmpty() ? name : found);
}

QString DequotedString(const QString& text) {
    if (text.size() < 2 || !text.startsWith(QLatin1Char('\'')) || !text.endsWith(QLatin1Char('\'')))
        return text;
    const QString inner = text.mid(1, text.size() - 2);
    QString out;
    bool droppedPrevious = false;
    for (const QChar c : inner) {
        if (c == QLatin1Char('\'')) {
            if (droppedPrevious) {
                out += c; // the second apostrophe of a doubled pair stays
                droppedPrevious = false;
            } else {
                droppedPrevious = true;
            }
            continue;
        }
        droppedPrevious = false;
        out += c;
    }
    return out;
}

QStringList ListMediaEntries(const QString& folder) {
    QStringList names;
    ListFolder(folder, [&](const QString& name, const struct stat& st, const QByteArray&) {
        // A leading "." hides a file as it hides a folder (the "._" companions that
        // macOS leaves on USB sticks among them): neither is listed.
        if (name.startsWith(QLatin1Char('.')))
            return;
        if (S_ISDIR(st.st_mode)) {
            names.push_back(name);
        } else if (S_ISREG(st.st_mode) && MediaExtensionIndex(name) >= 0) {
            names.push_back(name);
        }
    });
    return names;
}

QString TreeNodePath(const QTreeWidgetItem* node) {
    QStringList parts;
    for (const QTreeWidgetItem* n = node; n; n = n->parent())
        parts.prepend(n->text(0));
    QString path;
    for (int i = 0; i < parts.size(); ++i) {
        path += parts[i];
        if (i + 1 < parts.size() && !path.endsWith(QDir::separator()))
            path += QDir::separator();
    }
    return path;
}

namespace {
constexpr int MaxListColumns = 64;

// A key of a list table ("iconindex" or "celda" and numbers) built on the stack.
class TableKey {
public:
    explicit TableKey(const char* prefix) {
        while (*prefix)
            m_buf.push_back(QLatin1Char(*prefix++));
    }
    qsizetype Size() const { return m_buf.size(); }
    void Truncate(qsizetype size) { m_buf.resize(size); }
    void AppendNumber(int n) {
        char digits[12];
        int k = 0;
        unsigned v = n < 0 ? 0u - unsigned(n) : unsigned(n);
        do {
            digits[k++] = char('0' + v % 10);
            v /= 10;
        } while (v);
        if (n < 0)
            m_buf.push_back(QLatin1Char('-'));
        while (k > 0)
            m_buf.push_back(QLatin1Char(digits[--k]));
    }
    QStringView View() const { return QStringView(m_buf.constData(), m_buf.size()); }

private:
    QVarLengthArray<QChar, 32> m_buf;
};

QStringView Number(TableKey& buffer, int n) {
    buffer.Truncate(0);
    buffer.AppendNumber(n);
    return buffer.View();
}
} // namespace

void SaveListTable(TListView* listView, const QString& fileName) {
    TIniDocument ini(fileName);
    SaveListTable(listView, ini);
    ini.Update();
}

void SaveListTable(TListView* listView, TIniDocument& ini) {
    TIniDocument::SectionWriter table = ini.Writer(listView->objectName());
    const int x = listView->columnCount();
    const int y = listView->RowCount();
    TableKey icon("iconindex"), cell("celda"), number("");
    for (int i = 0; i < y; ++i) {
        const QTreeWidgetItem* row = listView->Row(i);
        icon.Truncate(9);
        icon.AppendNumber(i);
        table.Write(icon.View(), Number(number, TListView::SubItemImage(row)));
        cell.Truncate(5);
        cell.AppendNumber(i);
        const qsizetype rowKey = cell.Size();
        // A sub-item the row does not have is skipped.
        const int have = std::min(TListView::SubItemCount(row), x + 1);
        for (int j = 0; j < have; ++j) {
            cell.Truncate(rowKey);
            cell.AppendNumber(j);
            table.Write(cell.View(), TListView::SubItem(row, j));
        }
    }
    table.Write(u"totalY", Number(number, y));
    table.Write(u"totalX", Number(number, x));
}

void LoadListTable(TListView* listView, const QString& fileName) {
    const TIniDocument ini(fileName);
    LoadListTable(listView, ini);
}

void LoadListTable(TListView* listView, const TIniDocument& ini) {
    FillListTable(listView, ReadListTable(ini, listView->objectName()));
}

ListTableRows ReadListTable(const TIniDocument& ini, const QString& section) {
    TIniDocument::SectionReader table = ini.Reader(section);
    // A hand-edited table cannot make the desk build millions of empty rows: every
    // stored row has at least its "iconindex" key, and no list has more than a few
    // dozen columns.
    const int entries = table.EntryCount();
    const int x =
        std::clamp(ini.ReadInteger(section, QStringLiteral("totalX"), 0), 0, MaxListColumns);
    const int y = std::clamp(ini.ReadInteger(section, QStringLiteral("totalY"), 0), 0, entries);
    ListTableRows rows;
    rows.cells.reserve(y);
    rows.images.reserve(y);
    TableKey icon("iconindex"), cell("celda");
    QStringView value;
    for (int i = 0; i < y; ++i) {
        // Asked in the order the table is written: the image, then the cells.
        icon.Truncate(9);
        icon.AppendNumber(i);
        int image = -1;
        if (table.Find(icon.View(), value) && !TIniDocument::ParseInteger(value, image))
            image = -1;
        QStringList cells;
        cells.reserve(x);
        cell.Truncate(5);
        cell.AppendNumber(i);
        const qsizetype rowKey = cell.Size();
        for (int j = 0; j < x; ++j) {
            cell.Truncate(rowKey);
            cell.AppendNumber(j);
            cells.push_back(table.Find(cell.View(), value) ? value.toString() : QString());
        }
        rows.cells.push_back(std::move(cells));
        rows.images.push_back(image);
    }
    return rows;
}

void FillListTable(TListView* listView, const ListTableRows& rows) {
    QList<QTreeWidgetItem*> items;
    items.reserve(rows.cells.size());
    for (qsizetype i = 0; i < rows.cells.size(); ++i)
        items.push_back(listView->MakeRow(rows.cells[i], rows.images.value(i, -1)));
    listView->AppendRows(items);
}
