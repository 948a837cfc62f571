// Play latency and event delivery of TVlcPlayer next to a bare libVLC
// program in the same process, and CPU while playing a 720p clip next to
// cvlc. Run inside the headless session (scripts/headless.sh).
//
// Usage: bench_player [latency] [delivery] [cpu] [--runs N] [--rounds N]
// (no phase names: all three phases; --runs: plays per contender for the
// latency, default 15; --rounds: plays of the 720p clip per contender, 3).
//
// Fairness rules kept by every comparison:
// - the UI thread waits inside Qt's event loop (it sleeps until an event or a
//   10 ms check timer), as the desk's UI thread does; it never spins;
// - the contenders play the same clip with the same audio output (adummy)
//   and, for CPU, render into a 1280 x 720 X window on the same display;
// - runs of the contenders alternate, so that load from other users of the
//   machine falls on both alike; medians are reported.
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <dlfcn.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

#include "player/VlcClassUnit.h"
#include "player/VlcPlayerUnit.h"
#include "player/VlcUnit.h"

namespace {

qint64 NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool Ffmpeg(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral("ffmpeg"),
            QStringList{"-hide_banner", "-loglevel", "error", "-y"} + args);
    return p.waitForFinished(300000) && p.exitCode() == 0;
}

double Percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    if (v.empty())
        return 0;
    size_t i = static_cast<size_t>(p * (v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

double Median(const std::vector<double>& v) {
    return Percentile(v, 0.5);
}

double CpuSeconds(int who) {
    rusage ru{};
    getrusage(who, &ru);
    return ru.ru_utime.tv_sec + ru.ru_stime.tv_sec +
           (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// Waits inside the event loop until the condition holds or the time is up.
// The thread sleeps between events; a 10 ms timer re-checks the condition.
bool WaitFor(const std::function<bool()>& cond, int ms) {
    if (cond())
        return true;
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (cond())
            loop.quit();
    });
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    check.start(10);
    limit.start(ms);
    loop.exec();
    return cond();
}

void Idle(int ms) {
    WaitFor([] { return false; }, ms);
}

// --- the bare program: libVLC's callback itself notes the playing event ---
std::atomic<qint64> gBarePlayingNs{0};
void BareCallback(const libvlc_event_t* ev, void*) {
    if (ev->type == libvlc_MediaPlayerPlaying)
        gBarePlayingNs.store(NowNs());
}

// --- a listener beside the control's: when libVLC raised its playing event ---
std::atomic<qint64> gControlRaisedNs{0};
void ControlStampCallback(const libvlc_event_t* ev, void*) {
    if (ev->type == libvlc_MediaPlayerPlaying)
        gControlRaisedNs.store(NowNs());
}

// --- delivery: a second listener notes when libVLC raised each report ---
std::vector<qint64> gRaisedNs;
std::atomic<int> gRaisedCount{0};
void StampCallback(const libvlc_event_t* ev, void*) {
    if (ev->type != libvlc_MediaPlayerTimeChanged && ev->type != libvlc_MediaPlayerPositionChanged)
        return;
    const int i = gRaisedCount.fetch_add(1);
    if (i < static_cast<int>(gRaisedNs.size()))
        gRaisedNs[i] = NowNs();
}

// libvlc_media_get_stats is not one of the control's entry points.
using GetStatsFn = int (*)(libvlc_media_t*, libvlc_media_stats_t*);
GetStatsFn StatsFn() {
    static GetStatsFn fn = [] {
        void* lib = dlopen("libvlc.so.5", RTLD_NOW | RTLD_NOLOAD);
        return lib != nullptr ? reinterpret_cast<GetStatsFn>(dlsym(lib, "libvlc_media_get_stats"))
                              : nullptr;
    }();
    return fn;
}

// ------------------------------------------------------------------------

// The player as the main window sets it up (video on top, overlay).
void Configure(TVlcPlayer& player, const QStringList& startOptions) {
    player.StartOptions() = startOptions;
    player.SetVideoOnTop(true);
    player.SetUseOverlay(true);
}

void BenchLatency(const QString& clip, int runs) {
    // No "--vout=dummy" here: libVLC 3's set_xwindow clears the player's
    // "vout" choice, so the control, which binds its video window at every
    // play, draws with the X11 OpenGL output whatever the instance was told.
    const QStringList quiet{"--aout=adummy"};
    std::vector<double> ours;
    std::vector<double> bare;
    std::vector<double> inPlay;    // Play() itself
    std::vector<double> raised;    // Play() called -> libVLC raised playing
    std::vector<double> deliver;   // raised -> the control's handler ran
    std::vector<double> bareCalls; // the bare program's calls up to play

    TVlcPlayer player;
    Configure(player, quiet);
    qint64 playingNs = 0;
    QObject::connect(&player, &TVlcPlayer::OnMediaPlayerPlaying, [&] { playingNs = NowNs(); });
    player.GetPlayerHandle(); // instance and player made before timing, as at start-up
    libvlc_event_manager_t* cem = vlc::libvlc_media_player_event_manager(player.GetPlayerHandle());
    vlc::libvlc_event_attach(cem, libvlc_MediaPlayerPlaying, &ControlStampCallback, nullptr);

    // The bare program: same instance arguments, same events attached, and a
    // native X window of the same size (not shown, as the control's) to draw
    // into. Without one, libVLC would pick an output of its own for the bare
    // program, and an earlier "--vout=dummy" there skipped the set-up of the
    // picture that the control pays for at every play.
    QWidget bareWindow;
    bareWindow.setAttribute(Qt::WA_NativeWindow);
    bareWindow.resize(player.PlayerWinCtrl()->size());
    const bool xcb = QGuiApplication::platformName() == QLatin1String("xcb");
    TArgcArgs argv;
    argv.AddArg(player.GetVLC()->Arguments());
    libvlc_instance_t* inst = vlc::libvlc_new(argv.ARGC(), argv.ARGS());
    libvlc_media_player_t* mp = vlc::libvlc_media_player_new(inst);
    libvlc_event_manager_t* em = vlc::libvlc_media_player_event_manager(mp);
    for (int t : kPlayerEventTypes)
        vlc::libvlc_event_attach(em, t, &BareCallback, nullptr);
    const QByteArray clipUtf8 = clip.toUtf8();

    // One play of each; false when the playing event did not come.
    auto playControl = [&](bool counted) {
        playingNs = 0;
        gControlRaisedNs = 0;
        const qint64 t0 = NowNs();
        player.Play(clip);
        const qint64 t1 = NowNs();
        if (!WaitFor([&] { return playingNs != 0; }, 10000)) {
            std::printf("  control: no playing event\n");
            return false;
        }
        if (counted) {
            ours.push_back((playingNs - t0) / 1e6);
            inPlay.push_back((t1 - t0) / 1e6);
            raised.push_back((gControlRaisedNs.load() - t0) / 1e6);
            deliver.push_back((playingNs - gControlRaisedNs.load()) / 1e6);
        }
        player.Stop();
        Idle(100);
        return true;
    };
    auto playBare = [&](bool counted) {
        gBarePlayingNs = 0;
        const qint64 t0 = NowNs();
        libvlc_media_t* md = vlc::libvlc_media_new_path(inst, clipUtf8.constData());
        vlc::libvlc_media_player_set_media(mp, md);
        if (xcb)
            vlc::libvlc_media_player_set_xwindow(mp, static_cast<uint32_t>(bareWindow.winId()));
        vlc::libvlc_media_player_play(mp);
        vlc::libvlc_media_release(md);
        const qint64 bareCallsNs = NowNs() - t0;
        for (int waited = 0; gBarePlayingNs.load() == 0 && waited < 50000; ++waited)
            usleep(200);
        if (gBarePlayingNs.load() == 0) {
            std::printf("  bare: no playing event\n");
            return false;
        }
        if (counted) {
            bare.push_back((gBarePlayingNs.load() - t0) / 1e6);
            bareCalls.push_back(bareCallsNs / 1e6);
        }
        vlc::libvlc_media_player_stop(mp);
        Idle(100);
        return true;
    };
    // The first round warms caches and is not counted; who goes first alternates.
    for (int i = 0; i < runs + 1; ++i) {
        const bool ok = i % 2 == 0 ? playControl(i > 0) && playBare(i > 0)
                                   : playBare(i > 0) && playControl(i > 0);
        if (!ok)
            break;
    }
    vlc::libvlc_event_detach(cem, libvlc_MediaPlayerPlaying, &ControlStampCallback, nullptr);
    for (int t : kPlayerEventTypes)
        vlc::libvlc_event_detach(em, t, &BareCallback, nullptr);
    vlc::libvlc_media_player_release(mp);
    vlc::libvlc_release(inst);

    std::printf("\nPlay -> playing (local mp4, %zu runs each, alternating)\n", ours.size());
    std::printf("  TVlcPlayer  p50 %7.1f ms   p90 %7.1f ms   (Play called -> handler ran)\n",
                Median(ours), Percentile(ours, 0.9));
    std::printf("    of which: inside Play() p50 %.2f ms; Play called -> libVLC raised playing "
                "p50 %.2f ms; raised -> handler p50 %.3f ms\n",
                Median(inPlay), Median(raised), Median(deliver));
    std::printf("  bare libVLC p50 %7.1f ms   p90 %7.1f ms   (play called -> callback ran)\n",
                Median(bare), Percentile(bare, 0.9));
    std::printf("    of which: its calls p50 %.2f ms\n", Median(bareCalls));
    std::printf("  ratio of medians %.2f (target <= 1.2)\n", Median(ours) / Median(bare));
}

// ------------------------------------------------------------------------

void BenchDelivery(const QString& longClip) {
    const QStringList quiet{"--aout=adummy", "--vout=dummy"};
    const int wanted = 200;
    gRaisedNs.assign(wanted, 0);
    std::vector<qint64> handled;
    TVlcPlayer player;
    Configure(player, quiet);
    auto onReport = [&] {
        if (static_cast<int>(handled.size()) < wanted)
            handled.push_back(NowNs());
    };
    QObject::connect(&player, &TVlcPlayer::OnMediaPlayerTimeChanged, onReport);
    QObject::connect(&player, &TVlcPlayer::OnMediaPlayerPositionChanged, onReport);
    player.Play(longClip);
    // Listen after the control's own callback (libVLC calls listeners in order).
    libvlc_event_manager_t* em = vlc::libvlc_media_player_event_manager(player.GetPlayerHandle());
    gRaisedCount = 0;
    gRaisedNs.assign(wanted, 0);
    vlc::libvlc_event_attach(em, libvlc_MediaPlayerTimeChanged, &StampCallback, nullptr);
    vlc::libvlc_event_attach(em, libvlc_MediaPlayerPositionChanged, &StampCallback, nullptr);
    // Drop what was queued before our listener existed.
    QCoreApplication::processEvents();
    handled.clear();
    gRaisedCount = 0;
    WaitFor([&] { return static_cast<int>(handled.size()) >= wanted; }, 60000);
    vlc::libvlc_event_detach(em, libvlc_MediaPlayerTimeChanged, &StampCallback, nullptr);
    vlc::libvlc_event_detach(em, libvlc_MediaPlayerPositionChanged, &StampCallback, nullptr);
    std::vector<double> delays;
    const size_t n = std::min(handled.size(), static_cast<size_t>(gRaisedCount.load()));
    for (size_t i = 0; i < n && i < gRaisedNs.size(); ++i)
        if (gRaisedNs[i] != 0)
            delays.push_back((handled[i] - gRaisedNs[i]) / 1e6);
    std::printf("\nlibVLC callback -> handler, idle UI thread (%zu events)\n", delays.size());
    std::printf("  p50 %.3f ms   p99 %.3f ms   max %.3f ms (target p99 < 20 ms)\n",
                Percentile(delays, 0.5), Percentile(delays, 0.99), Percentile(delays, 1.0));
}

// ------------------------------------------------------------------------

struct TCpuRun {
    double cpu = 0;
    double wall = 0;
    int displayed = -1;
    int lost = -1;
    double uiCpu = -1; // the control's UI thread alone
    int reports = -1;  // time and position reports handled
    int paints = -1;   // paint events of the window, the control and its children
};

double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

// Counts the paint events of the widgets it watches.
class TPaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

TCpuRun RunControl(const QString& hd) {
    TCpuRun r;
    QWidget window;
    window.resize(1300, 740);
    auto* player = new TVlcPlayer(&window);
    Configure(*player, QStringList{"--aout=adummy"});
    player->resize(1280, 720);
    window.show();
    Idle(500);
    bool ended = false;
    int reports = 0;
    QObject::connect(player, &TVlcPlayer::OnMediaPlayerEndReached, [&] { ended = true; });
    QObject::connect(player, &TVlcPlayer::OnMediaPlayerTimeChanged, [&] { ++reports; });
    QObject::connect(player, &TVlcPlayer::OnMediaPlayerPositionChanged, [&] { ++reports; });
    TPaintCounter counter;
    for (QWidget* w : {&window, static_cast<QWidget*>(player), player->PlayerWinCtrl(),
                       static_cast<QWidget*>(player->MouseEventWinCtrl())})
        w->installEventFilter(&counter);
    player->GetPlayerHandle();
    const double c0 = CpuSeconds(RUSAGE_SELF);
    const double u0 = ThreadCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    player->Play(hd);
    WaitFor([&] { return ended; }, 60000);
    r.cpu = CpuSeconds(RUSAGE_SELF) - c0;
    r.uiCpu = ThreadCpuSeconds() - u0;
    r.wall = wall.elapsed() / 1000.0;
    r.reports = reports;
    r.paints = counter.paints;
    if (GetStatsFn stats = StatsFn()) {
        if (libvlc_media_t* md = vlc::libvlc_media_player_get_media(player->GetPlayerHandle())) {
            libvlc_media_stats_t s{};
            if (stats(md, &s)) {
                r.displayed = s.i_displayed_pictures;
                r.lost = s.i_lost_pictures;
            }
            vlc::libvlc_media_release(md);
        }
    }
    delete player; // stops and releases before the window goes
    return r;
}

TCpuRun RunCvlc(const QString& cvlc, const QStringList& args) {
    TCpuRun r;
    QString program = cvlc;
    QStringList cmd = args;
    // VLC refuses to run as root: run it as nobody then.
    if (geteuid() == 0) {
        cmd = QStringList{"-u", "nobody", "--", cvlc} + cmd;
        program = "runuser";
    }
    const double k0 = CpuSeconds(RUSAGE_CHILDREN);
    QElapsedTimer wall;
    wall.start();
    QProcess p;
    p.start(program, cmd);
    p.waitForFinished(60000);
    r.wall = wall.elapsed() / 1000.0;
    r.cpu = CpuSeconds(RUSAGE_CHILDREN) - k0;
    if (p.exitCode() != 0 || r.wall < 5)
        std::printf("  cvlc failed (exit %d): %s\n", p.exitCode(),
                    p.readAllStandardError().left(400).constData());
    return r;
}

void PrintCpu(const char* name, const std::vector<TCpuRun>& runs) {
    std::vector<double> cpu;
    std::vector<double> wall;
    for (const TCpuRun& r : runs) {
        cpu.push_back(r.cpu);
        wall.push_back(r.wall);
    }
    std::printf("  %-34s median %5.2f s CPU (min %5.2f, max %5.2f) in %4.1f s wall", name,
                Median(cpu), Percentile(cpu, 0), Percentile(cpu, 1), Median(wall));
    std::printf("\n");
    if (!runs.empty() && runs.back().displayed >= 0)
        std::printf("    last run: %d frames shown, %d lost\n", runs.back().displayed,
                    runs.back().lost);
    if (!runs.empty() && runs.back().uiCpu >= 0)
        std::printf("    last run: UI thread %.3f s CPU; %d time/position reports handled "
                    "(%.1f/s); %d paint events of the window and the control\n",
                    runs.back().uiCpu, runs.back().reports, runs.back().reports / runs.back().wall,
                    runs.back().paints);
}

void BenchCpu(const QString& hd, int rounds) {
    const QString cvlc = QStandardPaths::findExecutable("cvlc");
    // cvlc as it starts by default, and cvlc given the control's own instance
    // arguments (without the library folder) and per-media options.
    const QStringList plainArgs{"--play-and-exit", "--no-video-title-show", "--aout=adummy", hd};
    TVlcPlayer configured;
    Configure(configured, QStringList{"--aout=adummy"});
    LoadLibVlc(LibVlcDefaultDir()); // the arguments depend on the loaded version and folder
    QStringList sameArgs = configured.GetVLC()->Arguments();
    if (!sameArgs.isEmpty() && sameArgs.first() == LibVlcFolder())
        sameArgs.removeFirst(); // cvlc finds its plugins itself
    sameArgs << "--play-and-exit"
             << "--no-video-title-show" << hd << ":deinterlace=0"
             << ":deinterlace-mode=discard";

    std::vector<TCpuRun> ours, plain, alike;
    for (int i = 0; i < rounds; ++i) {
        ours.push_back(RunControl(hd));
        if (cvlc.isEmpty())
            continue;
        plain.push_back(RunCvlc(cvlc, plainArgs));
        alike.push_back(RunCvlc(cvlc, sameArgs));
    }
    std::printf("\nCPU, 720p clip of 10 s (%d rounds, alternating)\n", rounds);
    PrintCpu("TVlcPlayer", ours);
    if (cvlc.isEmpty()) {
        std::printf("  cvlc not installed\n");
        return;
    }
    PrintCpu("cvlc, default options", plain);
    PrintCpu("cvlc, the control's options", alike);
    std::printf("  cvlc's arguments: %s\n", qPrintable(sameArgs.join(' ')));
    std::vector<double> a, b, c;
    for (const TCpuRun& r : ours)
        a.push_back(r.cpu);
    for (const TCpuRun& r : plain)
        b.push_back(r.cpu);
    for (const TCpuRun& r : alike)
        c.push_back(r.cpu);
    std::printf("  ratio to cvlc with the same options %.2f (target <= 1.1)\n",
                Median(a) / Median(c));
    std::printf("  ratio to cvlc with default options  %.2f\n", Median(a) / Median(b));
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QStringList phases;
    int rounds = 3;
    int runs = 15;
    const QStringList cl = app.arguments().mid(1);
    for (int i = 0; i < cl.size(); ++i) {
        if (cl[i] == "--rounds" && i + 1 < cl.size())
            rounds = std::max(1, cl[++i].toInt());
        else if (cl[i] == "--runs" && i + 1 < cl.size())
            runs = std::max(1, cl[++i].toInt());
        else
            phases << cl[i];
    }
    if (phases.isEmpty())
        phases = QStringList{"latency", "delivery", "cpu"};

    QTemporaryDir dir;
    // cvlc may run as another user (VLC refuses root): the clips must be readable.
    QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                          QFileDevice::ExeOther | QFileDevice::ReadGroup |
                                          QFileDevice::ExeGroup);
    const QString clip = dir.filePath("clip.mp4");
    const QString longClip = dir.filePath("long.mp4");
    const QString hd = dir.filePath("hd.mp4");
    std::printf("making clips...\n");
    if (!Ffmpeg({"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25:duration=5", "-f", "lavfi",
                 "-i", "sine=duration=5", "-pix_fmt", "yuv420p", "-c:v", "libx264", "-preset",
                 "ultrafast", "-c:a", "aac", clip}) ||
        !Ffmpeg({"-f", "lavfi", "-i", "testsrc=size=160x120:rate=25:duration=40", "-pix_fmt",
                 "yuv420p", "-c:v", "libx264", "-preset", "ultrafast", longClip}) ||
        !Ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=1280x720:rate=25:duration=10", "-f", "lavfi",
                 "-i", "sine=duration=10", "-pix_fmt", "yuv420p", "-c:v", "libx264", "-preset",
                 "veryfast", "-c:a", "aac", hd})) {
        std::fprintf(stderr, "ffmpeg failed\n");
        return 1;
    }
    std::fflush(stdout);
    if (phases.contains("latency"))
        BenchLatency(clip, runs);
    std::fflush(stdout);
    if (phases.contains("delivery"))
        BenchDelivery(longClip);
    std::fflush(stdout);
    if (phases.contains("cpu"))
        BenchCpu(hd, rounds);
    return 0;
}
