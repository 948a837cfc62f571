// Loads and saves the list tables of a large config.ini as the desk does (one
// document read, one written), side by side with the file-name form, QSettings and
// plain file reads and writes of the same bytes; then times the desk's start with
// that configuration against a start without one, and its memory; last, the time
// the window's thread spends on GET /api/playlist with that playlist.
//
//   ini_bench [path/to/tavoria]
//   ini_bench --profile [small]  one desk load and save, for perf or callgrind
//   ini_bench --playlist          only the GET /api/playlist figures
//   ini_bench --write-config DIR  writes the large config.ini into DIR (to start the
//                                 desk with it under a profiler)
#include "app/TfrmMain.h"
#include "media/MediaFunctions.h"
#include "media/TIniDocument.h"
#include "remote/RemoteServer.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

namespace {

void Section(QByteArray& out, const char* name, int rows, int columns) {
    out += QByteArray("[") + name + "]\r\n";
    for (int i = 0; i < rows; ++i) {
        out += "iconindex" + QByteArray::number(i) + "=" + QByteArray::number(i % 6) + "\r\n";
        for (int j = 0; j < columns - 1; ++j)
            out += "celda" + QByteArray::number(i) + QByteArray::number(j) + "=" +
                   (j == 2 ? "/home/operador/Videos/carpeta " + QByteArray::number(i % 50) +
                                 "/archivo número " + QByteArray::number(i) + ".mp4"
                           : "valor " + QByteArray::number(i * 7 + j)) +
                   "\r\n";
    }
    out += "totalY=" + QByteArray::number(rows) + "\r\ntotalX=" + QByteArray::number(columns) +
           "\r\n\r\n";
}

QByteArray MakeConfig(int playlistRows, int effectRows, int captionRows) {
    QByteArray out("\xEF\xBB\xBF[CONFIG]\r\nVolPrincipal=10\r\nRepetirDesde=1\r\n\r\n");
    Section(out, "lstTextos", captionRows, 4);
    Section(out, "lstJingles", effectRows, 5);
    Section(out, "lstPlayList", playlistRows, 6);
    Section(out, "lstEventos", 0, 4);
    return out;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double TimeMs(int runs, const std::function<void()>& f) {
    std::vector<double> t;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        f();
        t.push_back(timer.nsecsElapsed() / 1e6);
    }
    return Median(t);
}

void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
}

struct Lists {
    TListView textos, jingles, playlist, eventos;
    Lists() {
        textos.setObjectName("lstTextos");
        textos.setColumnCount(4);
        jingles.setObjectName("lstJingles");
        jingles.setColumnCount(5);
        playlist.setObjectName("lstPlayList");
        playlist.setColumnCount(6);
        eventos.setObjectName("lstEventos");
        eventos.setColumnCount(4);
    }
    QList<TListView*> All() { return {&textos, &jingles, &playlist, &eventos}; }
};

// The file-name form: each table opens and parses the file for itself.
double FileNameFormMs(const QString& path, const QByteArray& bytes, int runs) {
    return TimeMs(runs, [&] {
        WriteFile(path, bytes);
        Lists lists;
        for (TListView* lv : lists.All())
            LoadListTable(lv, path);
        for (TListView* lv : lists.All())
            SaveListTable(lv, path);
    });
}

// As the desk does it: one document opened, the settings and the four tables read
// from it; at the close the tables saved into one document written once.
struct DeskTimes {
    double load = 0, save = 0;
    // The close's parts: reading config.ini again, the tables saved into the
    // document, the file written.
    double saveParse = 0, saveTables = 0, saveWrite = 0;
    // The start's parts: config.ini read and parsed, the rows made and added to the lists.
    double loadParse = 0, loadTables = 0;
    double Total() const { return load + save; }
};
DeskTimes DeskMs(const QString& path, const QByteArray& bytes, int runs) {
    std::vector<double> loads, saves, parses, tables, writes, loadParses, loadTables;
    for (int i = 0; i < runs; ++i) {
        WriteFile(path, bytes);
        Lists lists;
        QElapsedTimer timer;
        timer.start();
        {
            QElapsedTimer part;
            part.start();
            const TIniDocument ini(path);
            loadParses.push_back(part.nsecsElapsed() / 1e6);
            part.restart();
            volatile int volume =
                ini.ReadInteger(QStringLiteral("CONFIG"), QStringLiteral("VolPrincipal"), 1);
            (void)volume;
            for (TListView* lv : lists.All())
                LoadListTable(lv, ini);
            loadTables.push_back(part.nsecsElapsed() / 1e6);
        }
        loads.push_back(timer.nsecsElapsed() / 1e6);
        timer.restart();
        {
            QElapsedTimer part;
            part.start();
            TIniDocument ini(path);
            parses.push_back(part.nsecsElapsed() / 1e6);
            part.restart();
            ini.WriteInteger(QStringLiteral("CONFIG"), QStringLiteral("VolPrincipal"), 10);
            for (TListView* lv : lists.All())
                SaveListTable(lv, ini);
            tables.push_back(part.nsecsElapsed() / 1e6);
            part.restart();
            ini.Update();
            writes.push_back(part.nsecsElapsed() / 1e6);
        }
        saves.push_back(timer.nsecsElapsed() / 1e6);
    }
    return {Median(loads),  Median(saves),      Median(parses),    Median(tables),
            Median(writes), Median(loadParses), Median(loadTables)};
}

double QSettingsMs(const QString& path, const QByteArray& bytes, int runs) {
    return TimeMs(runs, [&] {
        WriteFile(path, bytes);
        QHash<QString, QVariant> values;
        {
            QSettings s(path, QSettings::IniFormat);
            for (const QString& key : s.allKeys())
                values.insert(key, s.value(key));
        }
        {
            QSettings s(path, QSettings::IniFormat);
            for (auto it = values.cbegin(); it != values.cend(); ++it)
                s.setValue(it.key(), QString(it.value().toString() + QLatin1Char('x')));
            s.sync();
        }
    });
}

double RawMs(const QString& path, const QByteArray& bytes, int runs) {
    return TimeMs(runs, [&] {
        WriteFile(path, bytes);
        QFile in(path);
        in.open(QIODevice::ReadOnly);
        const QByteArray read = in.readAll();
        in.close();
        WriteFile(path, read);
    });
}

// Time from the program's entry until its window is shown, and its resident memory
// then, as it reports them.
struct Start {
    double ms = -1, rssMb = -1;
};
Start StartOf(const QString& program, const QString& workDir, int runs) {
    std::vector<double> t, rss;
    for (int i = 0; i < runs; ++i) {
        QProcess p;
        p.setWorkingDirectory(workDir);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TAVORIA_QUIT_WHEN_SHOWN"), QStringLiteral("1"));
        p.setProcessEnvironment(env);
        p.start(program, {});
        p.waitForFinished(60000);
        const QByteArray out = p.readAllStandardOutput();
        const qsizetype at = out.indexOf("shown-ms=");
        if (at >= 0)
            t.push_back(out.mid(at + 9).split('\n').first().trimmed().toDouble());
        const qsizetype r = out.indexOf("shown-rss-kb=");
        if (r >= 0)
            rss.push_back(out.mid(r + 13).split('\n').first().trimmed().toDouble() / 1024.0);
    }
    return {t.empty() ? -1 : Median(t), rss.empty() ? -1 : Median(rss)};
}

// GET /api/playlist against the desk started with the large configuration. A client
// thread asks; the window's thread turns its event loop, and the time it spends in
// turns that handled events is its cost. With edit, a row changes before each
// request, so every answer is built anew.
struct PlaylistCost {
    double windowMsPerRequest = -1, slowestAnswerMs = -1;
    double windowIdleMs = 0; // of that, what the idle window spends in as long
    int answered = 0;
};
double BusyMs(const std::function<bool()>& turn, const std::atomic<bool>& done) {
    double busy = 0;
    while (!done) {
        QElapsedTimer t;
        t.start();
        if (turn())
            busy += t.nsecsElapsed() / 1e6;
        else
            QThread::yieldCurrentThread();
    }
    return busy;
}

PlaylistCost PlaylistRequests(TfrmMain& w, quint16 port, int requests, bool edit) {
    std::atomic<bool> done{false}, editWanted{false};
    std::atomic<int> answered{0};
    std::vector<double> answers;
    std::thread client([&] {
        for (int i = 0; i < requests; ++i) {
            if (edit) {
                editWanted = true;
                while (editWanted)
                    QThread::yieldCurrentThread();
            }
            QElapsedTimer t;
            t.start();
            QTcpSocket s;
            s.connectToHost(QHostAddress::LocalHost, port);
            if (!s.waitForConnected(5000))
                continue;
            s.write("GET /api/playlist HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
            QByteArray reply;
            while (s.state() == QAbstractSocket::ConnectedState && s.waitForReadyRead(10000))
                reply += s.readAll();
            reply += s.readAll();
            answers.push_back(t.nsecsElapsed() / 1e6);
            answered += reply.startsWith("HTTP/1.1 200") && reply.contains("\"rows\"");
        }
        done = true;
    });
    int edits = 0;
    QAbstractEventDispatcher* events = QAbstractEventDispatcher::instance();
    QElapsedTimer run;
    run.start();
    const double busy = BusyMs(
        [&] {
            bool worked = false;
            if (editWanted) {
                QTreeWidgetItem* row = w.lstPlayList->Row(0);
                w.lstPlayList->SetSubItem(row, 3, QString::number(++edits));
                editWanted = false;
                worked = true;
            }
            return events->processEvents(QEventLoop::AllEvents) || worked;
        },
        done);
    const qint64 runMs = run.elapsed();
    client.join();
    // The idle window as long: its timers and paints, which are not the requests'.
    std::atomic<bool> idleDone{false};
    std::thread idleTimer([&] {
        QThread::msleep(runMs);
        idleDone = true;
    });
    const double idle =
        BusyMs([&] { return events->processEvents(QEventLoop::AllEvents); }, idleDone);
    idleTimer.join();
    PlaylistCost cost;
    cost.answered = answered;
    cost.windowIdleMs = idle / std::max(1, requests);
    cost.windowMsPerRequest = busy / std::max(1, requests);
    cost.slowestAnswerMs = answers.empty() ? -1 : *std::max_element(answers.begin(), answers.end());
    return cost;
}

void PlaylistFigures(const QByteArray& config) {
    QTemporaryDir work;
    WriteFile(work.filePath(QStringLiteral("config.ini")), config);
    const QString old = QDir::currentPath();
    QDir::setCurrent(work.path());
    {
        TfrmMain w;
        w.show();
        QElapsedTimer settle;
        settle.start();
        while (settle.elapsed() < 1500)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        RemoteServerConfig remote;
        remote.port = 0;
        remote.readsPerSecond = 0;
        QString error;
        if (!w.StartRemoteServer(remote, &error)) {
            std::printf("GET /api/playlist: the remote control did not start (%s)\n",
                        qPrintable(error));
        } else {
            const quint16 port = w.Remote()->Port();
            const PlaylistCost built = PlaylistRequests(w, port, 5, true);
            PlaylistRequests(w, port, 1, false); // the answer built after the last edit
            const PlaylistCost cached = PlaylistRequests(w, port, 50, false);
            std::printf("GET /api/playlist, %d rows: the window's thread %.2f ms a request "
                        "answered from what was built (target <= 2; idle window as long: "
                        "%.2f ms; slowest answer %.1f ms, %d/50 answered)\n"
                        "  %.1f ms when a row changed before it (idle window as long: %.1f ms; "
                        "%d/5 answered)\n",
                        w.lstPlayList->RowCount(), cached.windowMsPerRequest, cached.windowIdleMs,
                        cached.slowestAnswerMs, cached.answered, built.windowMsPerRequest,
                        built.windowIdleMs, built.answered);
        }
    }
    QDir::setCurrent(old);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("config.ini"));
    const int runs = 7;

    const QByteArray big = MakeConfig(10000, 2000, 500);
    const QByteArray small = MakeConfig(1000, 200, 50);
    std::printf("config.ini: %lld bytes (10,000 playlist rows, 2,000 effects, 500 captions)\n",
                static_cast<long long>(big.size()));
    if (argc > 2 && QByteArray(argv[1]) == "--write-config") {
        WriteFile(QDir(QString::fromLocal8Bit(argv[2])).filePath(QStringLiteral("config.ini")),
                  big);
        return 0;
    }
    if (argc > 1 && QByteArray(argv[1]) == "--playlist") {
        PlaylistFigures(big);
        return 0;
    }
    if (argc > 1 && QByteArray(argv[1]) == "--profile") {
        // One desk load and save of the large file (of the small one with "small"),
        // for perf or callgrind.
        DeskMs(path, argc > 2 && QByteArray(argv[2]) == "small" ? small : big, 1);
        return 0;
    }
    const DeskTimes desk = DeskMs(path, big, runs);
    const double fileNameForm = FileNameFormMs(path, big, runs);
    const double qs = QSettingsMs(path, big, runs);
    const double raw = RawMs(path, big, runs);
    std::printf("%-46s %10.1f ms (load %.1f, save + write %.1f)\n",
                "desk: one document, 4 tables loaded + saved", desk.Total(), desk.load, desk.save);
    std::printf("%-46s %10.1f ms\n", "file-name form (a parse per table)", fileNameForm);
    std::printf("%-46s %10.1f ms\n", "QSettings (INI): read every key + write", qs);
    std::printf("%-46s %10.1f ms\n", "raw read + write of the same bytes", raw);
    std::printf("QSettings / desk = %.2fx (target >= 5)   desk / raw = %.1fx (target <= 20)\n",
                qs / desk.Total(), desk.Total() / raw);
    std::printf("close: the tables saved and config.ini written in %.1f ms (target <= 100)\n"
                "       (config.ini read %.1f, tables into the document %.1f, written %.1f)\n",
                desk.save, desk.saveParse, desk.saveTables, desk.saveWrite);
    // A tenth of the time: more runs for as steady a median.
    const DeskTimes deskSmall = DeskMs(path, small, runs * 3);
    std::printf("desk at 1/10 of the rows: %.1f ms (load %.1f, save + write %.1f) -> ten times "
                "the rows costs %.2fx (target <= 11; load %.2fx, save + write %.2fx)\n",
                deskSmall.Total(), deskSmall.load, deskSmall.save, desk.Total() / deskSmall.Total(),
                desk.load / deskSmall.load, desk.save / deskSmall.save);
    // The same ratio from runs taken in turns, a large one and then three small ones,
    // so that a slower spell of a shared machine weighs on both sides alike: the
    // median of the ratios of the turns.
    std::vector<double> turns, loadRatios, saveRatios;
    std::vector<double> startReads, rowsMade, closeReads, closeTables, closeWrites;
    for (int i = 0; i < runs * 2; ++i) {
        const DeskTimes large = DeskMs(path, big, 1);
        const DeskTimes tenth = DeskMs(path, small, 3);
        turns.push_back(large.Total() / tenth.Total());
        loadRatios.push_back(large.load / tenth.load);
        saveRatios.push_back(large.save / tenth.save);
        startReads.push_back(large.loadParse / tenth.loadParse);
        rowsMade.push_back(large.loadTables / tenth.loadTables);
        closeReads.push_back(large.saveParse / tenth.saveParse);
        closeTables.push_back(large.saveTables / tenth.saveTables);
        closeWrites.push_back(large.saveWrite / tenth.saveWrite);
    }
    std::printf("  the same in turns (%d): ten times the rows costs %.2fx (target <= 11; turns "
                "from %.2fx to %.2fx)\n"
                "    load %.2fx (config.ini read %.2fx, rows made %.2fx), save + write %.2fx "
                "(config.ini read %.2fx, tables into the document %.2fx, written %.2fx)\n",
                int(turns.size()), Median(turns), *std::min_element(turns.begin(), turns.end()),
                *std::max_element(turns.begin(), turns.end()), Median(loadRatios),
                Median(startReads), Median(rowsMade), Median(saveRatios), Median(closeReads),
                Median(closeTables), Median(closeWrites));

    const QString program =
        argc > 1 ? QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath()
                 : QCoreApplication::applicationDirPath() + QStringLiteral("/../../tavoria");
    if (!QFile::exists(program)) {
        std::printf("start-up: %s not found, skipped\n", qPrintable(program));
        PlaylistFigures(big);
        return 0;
    }
    QTemporaryDir empty, full;
    WriteFile(full.filePath(QStringLiteral("config.ini")), big);
    StartOf(program, empty.path(), 1); // warm the caches
    const Start emptyStart = StartOf(program, empty.path(), 5);
    const Start fullStart = StartOf(program, full.path(), 5);
    std::printf("start until the window is shown: empty %.0f ms, large config %.0f ms -> %.2fx "
                "(target <= 1.3)\n",
                emptyStart.ms, fullStart.ms, fullStart.ms / emptyStart.ms);
    std::printf("resident memory when shown: empty %.1f MB, large config %.1f MB -> +%.1f MB "
                "(target <= 40)\n",
                emptyStart.rssMb, fullStart.rssMb, fullStart.rssMb - emptyStart.rssMb);
    PlaylistFigures(big);
    return 0;
}
