// How well "hora.txt" and "conteo.txt" keep time. Every change of the two files is
// seen by an inotify watcher thread, stamped with the wall clock and read back:
// the figures are how late each change comes after its second begins (median,
// 99th percentile, max), and how many seconds were skipped or written twice.
// The desk (the real window, its real timers) runs a countdown through the whole
// measurement; before it, a bare loop that only writes "hora.txt" once a second
// gives the baseline for lateness and CPU. Also the cost of one overlay write with
// and without the flush to disk. Run inside a display (scripts/headless.sh):
//
//   bench_clock [seconds]        (default 60; the desk phase, the bare one is a sixth)
#include "app/TfrmMain.h"
#include "media/TextFile.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <QTimeEdit>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

qint64 WallUs() {
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return qint64(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

double CpuSeconds() {
    rusage u;
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Change {
    qint64 atUs;
    QByteArray content;
};

// Watches a folder for files renamed or written into it, in its own thread.
class Watcher {
public:
    explicit Watcher(const QString& folder) {
        m_fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        inotify_add_watch(m_fd, QFile::encodeName(folder).constData(),
                          IN_MOVED_TO | IN_CLOSE_WRITE);
        m_folder = folder;
        m_thread = std::thread([this] { Run(); });
    }
    ~Watcher() {
        m_stop = true;
        m_thread.join();
        close(m_fd);
    }
    std::vector<Change> Take(const char* name) {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<Change> out;
        for (const auto& [file, change] : m_changes)
            if (file == name)
                out.push_back(change);
        return out;
    }

private:
    void Run() {
        alignas(inotify_event) char buf[4096];
        while (!m_stop) {
            pollfd p{m_fd, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0)
                continue;
            const ssize_t n = read(m_fd, buf, sizeof buf);
            const qint64 at = WallUs();
            for (ssize_t i = 0; i < n;) {
                auto* e = reinterpret_cast<inotify_event*>(buf + i);
                i += sizeof(inotify_event) + e->len;
                if (!e->len)
                    continue;
                const QByteArray name(e->name);
                if (name != "hora.txt" && name != "conteo.txt")
                    continue;
                QFile f(m_folder + QLatin1Char('/') + QString::fromUtf8(name));
                const QByteArray content = f.open(QIODevice::ReadOnly) ? f.readAll() : "?";
                std::lock_guard<std::mutex> lock(m_mutex);
                m_changes.push_back({name, {at, content}});
            }
        }
    }
    int m_fd;
    QString m_folder;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    std::mutex m_mutex;
    std::vector<std::pair<QByteArray, Change>> m_changes;
};

double Percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * (v.size() - 1) + 0.5))];
}

// Lateness of each change after the start of the second it shows (hora) or of the
// second it happened in (conteo), and the skipped and repeated values.
void Report(const char* what, const std::vector<Change>& changes, bool clock) {
    std::vector<double> lateMs;
    int skipped = 0, repeated = 0, malformed = 0;
    int previous = -1;
    for (const Change& c : changes) {
        const QTime t =
            QTime::fromString(QString::fromLatin1(c.content),
                              clock ? QStringLiteral("HH:mm:ss") : QStringLiteral("mm:ss"));
        if (!t.isValid()) {
            ++malformed; // the countdown's end message, or a bad read
            continue;
        }
        const QDateTime at = QDateTime::fromMSecsSinceEpoch(c.atUs / 1000);
        const qint64 usInDay = qint64(at.time().msecsSinceStartOfDay()) * 1000 + c.atUs % 1000;
        if (clock) {
            qint64 late = usInDay - qint64(t.msecsSinceStartOfDay()) * 1000;
            if (late < -43200000000LL)
                late += 86400000000LL; // past midnight
            lateMs.push_back(late / 1000.0);
        } else {
            lateMs.push_back((c.atUs % 1000000) / 1000.0);
        }
        const int value = t.msecsSinceStartOfDay() / 1000;
        if (previous >= 0) {
            const int step = clock ? value - previous : previous - value;
            if (step == 0)
                ++repeated;
            else if (step > 1)
                skipped += step - 1;
        }
        previous = value;
    }
    std::printf("%-34s changes %4zu  late p50 %6.1f ms  p99 %6.1f ms  max %6.1f ms  skipped %d  "
                "repeated %d%s\n",
                what, lateMs.size(), Percentile(lateMs, 0.5), Percentile(lateMs, 0.99),
                lateMs.empty() ? 0.0 : *std::max_element(lateMs.begin(), lateMs.end()), skipped,
                repeated,
                malformed ? qPrintable(QStringLiteral("  other texts %1").arg(malformed)) : "");
}

void WriteCost(const QString& folder) {
    for (const FileSync sync : {FileSync::Durable, FileSync::Transient}) {
        std::vector<double> us;
        for (int i = 0; i < 200; ++i) {
            QElapsedTimer t;
            t.start();
            WriteTextFile(QStringLiteral("12:00:%1").arg(i % 60, 2, 10, QLatin1Char('0')),
                          folder + QStringLiteral("/cost.txt"), sync);
            us.push_back(t.nsecsElapsed() / 1000.0);
        }
        std::printf(
            "one overlay write, %-26s p50 %7.0f us  p99 %7.0f us  max %7.0f us\n",
            sync == FileSync::Durable ? "flushed to disk (config):" : "not flushed (clock):",
            Percentile(us, 0.5), Percentile(us, 0.99), *std::max_element(us.begin(), us.end()));
    }
    QFile::remove(folder + QStringLiteral("/cost.txt"));
}

// The baseline: sleep to just past each second, write the file, nothing else.
void Bare(const QString& folder, int seconds) {
    Watcher watcher(folder);
    const double cpu0 = CpuSeconds();
    const QString path = folder + QStringLiteral("/hora.txt");
    for (int i = 0; i < seconds; ++i) {
        const qint64 now = WallUs();
        const qint64 next = (now / 1000000 + 1) * 1000000 + 2000;
        timespec ts{time_t(next / 1000000), long(next % 1000000) * 1000};
        while (clock_nanosleep(CLOCK_REALTIME, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
        }
        WriteTextFile(QTime::currentTime().toString(QStringLiteral("HH:mm:ss")), path,
                      FileSync::Transient);
    }
    const double cpu = CpuSeconds() - cpu0;
    QThread::msleep(200);
    Report("bare loop: hora.txt", watcher.Take("hora.txt"), true);
    std::printf("%-34s CPU %.3f %% of a core over %d s\n", "bare loop:", cpu / seconds * 100,
                seconds);
}

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(5, std::atoi(argv[1])) : 60;
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir work;
    const QString out = work.filePath(QStringLiteral("out"));
    QDir().mkpath(out);
    {
        QFile config(work.filePath(QStringLiteral("config.ini")));
        config.open(QIODevice::WriteOnly);
        config.write("[CONFIG]\nOutTextos=" + out.toUtf8() + "\n");
    }
    QDir::setCurrent(work.path());

    WriteCost(out);
    Bare(out, std::max(5, seconds / 6));
    QFile::remove(out + QStringLiteral("/hora.txt"));

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tavoria 3 (beta)"));
    auto* window = new TfrmMain();
    window->show();
    Watcher watcher(out);
    // Let the start-up settle, then start a countdown long enough for the run.
    double cpu0 = 0;
    QTimer::singleShot(1500, window, [&] {
        window->spnCronoRegresivo->setTime(QTime(0, 0, 0).addSecs(std::min(3599, seconds + 30)));
        window->btnPlayConteo->click();
        cpu0 = CpuSeconds();
    });
    QTimer::singleShot(1500 + seconds * 1000, &app, [] { QCoreApplication::exit(0); });
    app.exec();
    const double cpu = CpuSeconds() - cpu0;
    window->close();
    delete window;
    const std::vector<Change> hora = watcher.Take("hora.txt");
    const std::vector<Change> conteo = watcher.Take("conteo.txt");
    Report("desk: hora.txt", hora, true);
    Report("desk: conteo.txt (after 2nd start)", conteo, false);
    // How far apart the two files change in the same second.
    std::vector<double> gapMs;
    for (const Change& c : conteo)
        for (const Change& h : hora)
            if (h.atUs / 1000000 == c.atUs / 1000000)
                gapMs.push_back((c.atUs - h.atUs) / 1000.0);
    std::printf("%-34s pairs %4zu  gap  p50 %6.1f ms  p99 %6.1f ms  max %6.1f ms\n",
                "desk: conteo.txt after hora.txt", gapMs.size(), Percentile(gapMs, 0.5),
                Percentile(gapMs, 0.99),
                gapMs.empty() ? 0.0 : *std::max_element(gapMs.begin(), gapMs.end()));
    std::printf("%-34s CPU %.3f %% of a core over %d s (window shown, countdown running)\n",
                "desk:", cpu / seconds * 100, seconds);
    return 0;
}
