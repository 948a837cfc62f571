// Playlist files as any program (or anyone) might have written them, imported the way
// the window imports them: from a folder that holds a few files of their own (media
// files, a file of an unknown type, a folder named like a clip, a name with a "\" and
// one with a line break), so relative paths, "\" separators and "file:" addresses
// meet real files. The import never crashes, hangs or leaks, ends exactly once, and
// every row it adds is well-formed:
//   - no cell holds a line break, every row has its five cells and a clock-style length;
//   - a file row names an existing regular file of a media type, by its file name;
//   - any other row is an address row named by the address's last segment, and its
//     location names no existing file;
//   - there are no more rows than entries, and no more entries than the file has
//     lines plus the missing entries it may leave out.
// A refused file (TavoriaError from Open) adds no row. Video-site addresses ask a
// loopback port where nothing listens, so their lookup fails at once and ends the
// import there.
#include "media/MediaFunctions.h"
#include "media/PlaylistFile.h"
#include "media/TListView.h"
#include "media/TavoriaError.h"
#include "media/TitleLookup.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <unistd.h>

namespace {

QApplication* g_app = nullptr;
QTemporaryDir* g_folder = nullptr;

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "playlist import: %s\n", what);
        std::abort();
    }
}

// The same, naming the row's cells.
void CheckRow(bool ok, const char* what, const QTreeWidgetItem* row) {
    if (!ok) {
        for (int j = 0; j < TListView::SubItemCount(row); ++j)
            std::fprintf(stderr, "  cell %d: %s\n", j, qPrintable(TListView::SubItem(row, j)));
        std::fprintf(stderr, "  image %d\n", TListView::SubItemImage(row));
    }
    Check(ok, what);
}

void Touch(const QString& path, const QByteArray& bytes = "x") {
    QFile f(path);
    Check(f.open(QIODevice::WriteOnly | QIODevice::Truncate), "cannot write a fixture");
    f.write(bytes);
}

bool IsRegularFile(const QString& path) {
    const QFileInfo info(path);
    return !path.isEmpty() && info.exists() && info.isFile();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    // The "minimal" platform draws nothing and reads no system fonts (fontconfig
    // keeps some of its set-up unreachable until exit).
    qputenv("QT_QPA_PLATFORM", "minimal");
    // Nothing listens there: a lookup is refused at once.
    qputenv("TAVORIA_TITLE_HOST", "127.0.0.1:9450");
    // Kept to the end of the process, so what Qt caches stays reachable from it and
    // is no leak.
    g_app = new QApplication(*argc, *argv);
    g_folder = new QTemporaryDir();
    Check(g_folder->isValid(), "no temporary folder");
    const QString d = g_folder->path();
    Touch(d + QStringLiteral("/clip.mp4"));
    Touch(d + QStringLiteral("/song.mp3"), QByteArray("ID3\x03\x00\x00\x00\x00\x00\x00", 10));
    Touch(d + QStringLiteral("/notes.txt"));
    Check(QDir().mkpath(d + QStringLiteral("/sub")), "cannot make a fixture folder");
    Check(QDir().mkpath(d + QStringLiteral("/folder.mp4")), "cannot make a fixture folder");
    Touch(d + QStringLiteral("/sub/b.mkv"));
    Touch(d + QStringLiteral("/win\\c.mov"));
    Touch(d + QStringLiteral("/mal\nnombre.mp4"));
    Touch(d + QString::fromUtf8("/canción.webm"));
    // Relative paths in the input are taken from here, as from the playlist's folder.
    Check(QDir::setCurrent(d), "cannot enter the fixture folder");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString file = g_folder->filePath(QStringLiteral("fuzz.pls"));
    Touch(file, bytes);

    TListView list;
    list.setColumnCount(6);
    auto import = std::make_unique<TPlaylistImport>(&list, nullptr);
    try {
        import->Open(file);
    } catch (const TavoriaError& e) {
        Check(!e.message().isEmpty(), "a refusal without a message");
        Check(list.RowCount() == 0, "a refused file added rows");
        return 0;
    }
    // Lines of the input, counted as the reader splits them (CR, LF or CR LF).
    qint64 lines = 1;
    for (qsizetype i = 0; i < bytes.size(); ++i)
        if (bytes[i] == '\n' ||
            (bytes[i] == '\r' && (i + 1 >= bytes.size() || bytes[i + 1] != '\n')))
            ++lines;
    Check(import->Count() >= 0 && import->Count() <= lines + TPlaylistImport::MaxMissingEntries,
          "more entries than the file can hold");

    int finished = 0;
    QString error;
    QEventLoop loop;
    QObject::connect(import.get(), &TPlaylistImport::Finished, &loop, [&](const QString& e) {
        ++finished;
        error = e;
        loop.quit();
    });
    import->Start();
    if (import->Running())
        loop.exec();
    // Whatever is still queued runs now: nothing may finish the import twice.
    QCoreApplication::processEvents();
    Check(finished == 1, "the import did not end exactly once");
    Check(!import->Running(), "the import still runs after it ended");

    Check(list.RowCount() <= import->Count(), "more rows than entries");
    static const QRegularExpression clock(QStringLiteral("^\\d\\d+:\\d\\d:\\d\\d$"));
    for (int i = 0; i < list.RowCount(); ++i) {
        const QTreeWidgetItem* row = list.Row(i);
        CheckRow(TListView::SubItemCount(row) >= 5, "a row without its cells", row);
        for (int j = 0; j < TListView::SubItemCount(row); ++j) {
            const QString cell = TListView::SubItem(row, j);
            CheckRow(!cell.contains(QLatin1Char('\n')) && !cell.contains(QLatin1Char('\r')),
                     "a line break in a cell", row);
        }
        const QString name = TListView::SubItem(row, 0);
        const QString location = TListView::SubItem(row, 2);
        CheckRow(clock.match(TListView::SubItem(row, 1)).hasMatch(), "a length that is no time",
                 row);
        const int image = TListView::SubItemImage(row);
        if (image == 12 || image == 13) {
            CheckRow(!IsRegularFile(location), "an existing file imported as an address", row);
            CheckRow((image == 13) == IsVideoSiteUrl(location), "the wrong image for an address",
                     row);
            CheckRow(name == UrlLastSegment(location), "an address row with another name", row);
        } else {
            CheckRow(IsRegularFile(location), "a file row without its file", row);
            CheckRow(MediaExtensionIndex(location) == image, "a file row of the wrong type", row);
            CheckRow(name == QFileInfo(location).fileName(), "a file row with another name", row);
        }
    }
    import.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
