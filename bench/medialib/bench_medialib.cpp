// The media library's long operations, run in the window:
//   1. export and import of a playlist of local files (no lookups) against adding
//      the same rows with AddMediaFile alone;
//   2. a large import (10,000 entries) and a file that declares 2,147,483,647
//      entries: time and peak memory;
//   3. expanding a folder of 10,000 files in the explorer tree, against `ls -f`
//      and `ls` of the same folder.
// Run inside a display:
//
//   bench_medialib [rows]            (default 5000)
#include "app/TfrmMain.h"
#include "audio/AudioLayer.h"
#include "media/MediaFunctions.h"
#include "media/PlaylistFile.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>
#include <malloc.h>
#include <vector>

namespace {

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Kilobytes of the process's resident memory ("VmRSS") or its peak ("VmHWM").
long StatusKb(const char* key) {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(int(qstrlen(key)) + 1).trimmed().split(' ').value(0).toLong();
    return -1;
}

// Resets the peak to the current size, so that VmHWM shows the peak of what follows.
void ResetPeak() {
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    if (f.open(QIODevice::WriteOnly))
        f.write("5");
}

QStringList MakeFiles(const QString& dir, int count, const QString& pattern) {
    QDir().mkpath(dir);
    QStringList files;
    for (int i = 0; i < count; ++i) {
        const QString path = dir + QLatin1Char('/') + pattern.arg(i, 5, 10, QLatin1Char('0'));
        QFile f(path);
        if (f.open(QIODevice::WriteOnly))
            f.write("x");
        files << path;
    }
    return files;
}

QString OneMp3(const QString& dir) {
    const QString path = dir + QStringLiteral("/tono.mp3");
    QProcess::execute(QStringLiteral("ffmpeg"),
                      {"-v", "error", "-y", "-f", "lavfi", "-i", "sine=f=440:d=20", "-c:a",
                       "libmp3lame", "-b:a", "128k", path});
    return path;
}

double TimeMs(const std::function<void()>& f) {
    QElapsedTimer t;
    t.start();
    f();
    return double(t.nsecsElapsed()) / 1e6;
}

void ExportImport(TfrmMain& w, const QStringList& files, const QString& label,
                  const QString& plsFile) {
    TListView* pl = w.lstPlayList;
    std::vector<double> adds, exports, imports;
    for (int round = 0; round < 3; ++round) {
        pl->ClearItems();
        adds.push_back(TimeMs([&] {
            for (const QString& f : files)
                AddMediaFile(f, pl);
        }));
        exports.push_back(TimeMs([&] { SavePlaylistFile(pl, plsFile, w.progreso); }));
        pl->ClearItems();
        imports.push_back(TimeMs([&] { LoadPlaylistFile(pl, plsFile, w.progreso); }));
        if (pl->RowCount() != files.size())
            std::printf("  !! import gave %d rows of %d\n", pl->RowCount(), int(files.size()));
    }
    std::vector<double> empty;
    for (int round = 0; round < 3; ++round) {
        TListView none;
        none.setColumnCount(6);
        empty.push_back(TimeMs([&] { SavePlaylistFile(&none, plsFile + ".empty", nullptr); }));
    }
    const double n = files.size();
    const double add = Median(adds), exp = Median(exports), imp = Median(imports);
    std::printf("%s, %d rows (median of 3):\n", qPrintable(label), int(n));
    std::printf("  AddMediaFile alone  %8.1f ms  %7.3f ms/row\n", add, add / n);
    std::printf("  import              %8.1f ms  %7.3f ms/row  = %.2fx the adds (target <= 1.2x)\n",
                imp, imp / n, imp / add);
    std::printf("  export              %8.1f ms  %7.3f ms/100 rows (target < 1 ms/100 rows); "
                "an empty list %.1f ms (the file written and flushed to disk)\n",
                exp, exp / n * 100, Median(empty));
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int rows = argc > 1 ? std::max(1, atoi(argv[1])) : 5000;
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    TfrmMain w;
    w.show();
    app.processEvents();
    BASS_Init(0, 44100, 0, nullptr, nullptr); // measure mp3 files (no sound needed)

    // 1. Export and import against the adds alone.
    const QStringList clips =
        MakeFiles(dir.filePath(QStringLiteral("clips")), rows, QStringLiteral("clip %1.mp4"));
    ExportImport(w, clips, QStringLiteral(".mp4 files (not opened)"),
                 dir.filePath(QStringLiteral("clips.pls")));
    const QString mp3 = OneMp3(dir.path());
    QStringList mp3s;
    QDir().mkpath(dir.filePath(QStringLiteral("mp3")));
    for (int i = 0; i < rows / 5; ++i) {
        const QString path = dir.filePath(QStringLiteral("mp3/pista %1.mp3").arg(i));
        QFile::link(mp3, path);
        mp3s << path;
    }
    ExportImport(w, mp3s, QStringLiteral(".mp3 files of 20 s (each measured)"),
                 dir.filePath(QStringLiteral("mp3.pls")));

    // 2. A large import, and a count far beyond the entries.
    {
        const QStringList big =
            MakeFiles(dir.filePath(QStringLiteral("big")), 10000, QStringLiteral("video %1.mkv"));
        TListView* pl = w.lstPlayList;
        pl->ClearItems();
        for (const QString& f : big)
            AddMediaFile(f, pl);
        const QString file = dir.filePath(QStringLiteral("big.pls"));
        SavePlaylistFile(pl, file, w.progreso);
        pl->ClearItems();
        app.processEvents();
        malloc_trim(0); // the rows just removed go back to the system
        const long before = StatusKb("VmRSS:");
        ResetPeak();
        const double ms = TimeMs([&] { LoadPlaylistFile(pl, file, w.progreso); });
        const long peak = StatusKb("VmHWM:");
        std::printf("import of 10,000 entries: %.0f ms (%.3f ms/entry), %d rows; memory %ld MB "
                    "before, peak %ld MB (+%ld MB)\n",
                    ms, ms / 10000, pl->RowCount(), before / 1024, peak / 1024,
                    (peak - before) / 1024);

        QFile huge(dir.filePath(QStringLiteral("huge.pls")));
        huge.open(QIODevice::WriteOnly);
        huge.write("[playlist]\r\nNumberOfEntries=2147483647\r\nFile1=" + big[0].toUtf8() +
                   "\r\nFile2=http://x.example/a.mp3\r\nFile3=" + big[1].toUtf8() + "\r\n");
        huge.close();
        pl->ClearItems();
        app.processEvents();
        const long before2 = StatusKb("VmRSS:");
        ResetPeak();
        const double ms2 = TimeMs([&] { LoadPlaylistFile(pl, huge.fileName(), w.progreso); });
        std::printf("NumberOfEntries=2147483647 with 3 entries: %.2f ms, %d rows, peak +%ld MB\n",
                    ms2, pl->RowCount(), (StatusKb("VmHWM:") - before2) / 1024);
        pl->ClearItems();
    }

    // 3. Expanding a folder of 10,000 files.
    {
        const QString root = dir.filePath(QStringLiteral("tree"));
        const QString big = root + QStringLiteral("/grande");
        MakeFiles(big, 10000, QStringLiteral("toma %1.mp4"));
        std::vector<double> expand, lsf, ls;
        for (int round = 0; round < 5; ++round) {
            w.txtRootFolder->setText(QString());
            w.txtRootFolder->setText(root);
            QTreeWidgetItem* node = w.lstExplorer->topLevelItem(0);
            expand.push_back(TimeMs([&] {
                w.lstExplorer->expandItem(node);
                w.lstExplorer->viewport()->repaint();
            }));
            if (node->childCount() != 10000)
                std::printf("  !! the tree shows %d files\n", node->childCount());
            QProcess p;
            p.setStandardOutputFile(QProcess::nullDevice());
            lsf.push_back(TimeMs([&] {
                p.start(QStringLiteral("ls"), {"-f", big});
                p.waitForFinished();
            }));
            ls.push_back(TimeMs([&] {
                p.start(QStringLiteral("ls"), {big});
                p.waitForFinished();
            }));
        }
        std::printf("expanding a folder of 10,000 files until the tree shows them: %.1f ms "
                    "(target < 300 ms); ls -f %.1f ms, ls %.1f ms (median of 5, with the start "
                    "of the process)\n",
                    Median(expand), Median(lsf), Median(ls));
    }
    BASS_Free();
    return 0;
}
