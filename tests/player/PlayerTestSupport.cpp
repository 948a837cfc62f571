#include "PlayerTestSupport.h"

#include <QFileInfo>

#include <dlfcn.h>

bool MakeMedia(const QString& out, const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral("ffmpeg"),
            QStringList{QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"),
                        QStringLiteral("error"), QStringLiteral("-y")} +
                args + QStringList{out});
    if (!p.waitForFinished(120000) || p.exitCode() != 0) {
        qWarning("ffmpeg failed: %s", p.readAllStandardError().constData());
        return false;
    }
    return QFileInfo(out).size() > 0;
}

bool MakeVideoClip(const QString& out, int seconds, int width, int height, const QString& colour) {
    const QString size = QStringLiteral("%1x%2").arg(width).arg(height);
    const QString video =
        colour.isEmpty()
            ? QStringLiteral("testsrc=size=%1:rate=25:duration=%2").arg(size).arg(seconds)
            : QStringLiteral("color=c=%1:size=%2:rate=25:duration=%3")
                  .arg(colour, size)
                  .arg(seconds);
    const QString audio = QStringLiteral("sine=frequency=440:duration=%1").arg(seconds);
    QStringList args{
        QStringLiteral("-f"),       QStringLiteral("lavfi"),  QStringLiteral("-i"), video,
        QStringLiteral("-f"),       QStringLiteral("lavfi"),  QStringLiteral("-i"), audio,
        QStringLiteral("-pix_fmt"), QStringLiteral("yuv420p")};
    if (out.endsWith(QStringLiteral(".mkv")))
        args << QStringLiteral("-c:v") << QStringLiteral("libx264") << QStringLiteral("-preset")
             << QStringLiteral("ultrafast") << QStringLiteral("-c:a")
             << QStringLiteral("libvorbis");
    else
        args << QStringLiteral("-c:v") << QStringLiteral("libx264") << QStringLiteral("-preset")
             << QStringLiteral("ultrafast") << QStringLiteral("-c:a") << QStringLiteral("aac");
    return MakeMedia(out, args);
}

bool MakeAudioClip(const QString& out, int seconds) {
    return MakeMedia(out, {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                           QStringLiteral("sine=frequency=440:duration=%1").arg(seconds),
                           QStringLiteral("-c:a"), QStringLiteral("libmp3lame")});
}

TEventRecorder::TEventRecorder(TVlcPlayer* p) {
    clock.start();
    connect(p, &TVlcPlayer::OnMediaPlayerMediaChanged, this, [this](const QString& mrl) {
        lastMrl = mrl;
        Add(QStringLiteral("MediaChanged"));
    });
    connect(p, &TVlcPlayer::OnMediaPlayerOpening, this, [this] { Add(QStringLiteral("Opening")); });
    connect(p, &TVlcPlayer::OnMediaPlayerPlaying, this, [this] { Add(QStringLiteral("Playing")); });
    connect(p, &TVlcPlayer::OnMediaPlayerPaused, this, [this] { Add(QStringLiteral("Paused")); });
    connect(p, &TVlcPlayer::OnMediaPlayerStopped, this, [this] { Add(QStringLiteral("Stopped")); });
    connect(p, &TVlcPlayer::OnMediaPlayerEndReached, this,
            [this] { Add(QStringLiteral("EndReached")); });
    connect(p, &TVlcPlayer::OnMediaPlayerEncounteredError, this,
            [this] { Add(QStringLiteral("Error")); });
    connect(p, &TVlcPlayer::OnMediaPlayerTimeChanged, this,
            [this](qint64 t) { Add(QStringLiteral("Time"), t); });
    connect(p, &TVlcPlayer::OnMediaPlayerLengthChanged, this,
            [this](qint64 t) { Add(QStringLiteral("Length"), t); });
    connect(p, &TVlcPlayer::OnMediaPlayerAudioDevice, this, [this](const QString& d) {
        lastAudioDevice = d;
        Add(QStringLiteral("AudioDevice"));
    });
}

void TEventRecorder::Add(const QString& name, qint64 value) {
    events.push_back({name, value, clock.elapsed()});
}

int TEventRecorder::IndexOf(const QString& name, int from) const {
    for (int i = from; i < events.size(); ++i)
        if (events[i].name == name)
            return i;
    return -1;
}

int TEventRecorder::Count(const QString& name) const {
    int n = 0;
    for (const auto& e : events)
        n += e.name == name ? 1 : 0;
    return n;
}

QVector<qint64> TEventRecorder::Values(const QString& name) const {
    QVector<qint64> out;
    for (const auto& e : events)
        if (e.name == name)
            out << e.value;
    return out;
}

QStringList TEventRecorder::Names() const {
    QStringList out;
    for (const auto& e : events)
        if (e.name != QLatin1String("Time"))
            out << e.name;
    return out;
}

int VlcAudioGetVolume(libvlc_media_player_t* mp) {
    void* lib = dlopen("libvlc.so.5", RTLD_LAZY | RTLD_NOLOAD);
    if (lib == nullptr)
        return -2;
    using F = int (*)(libvlc_media_player_t*);
    auto f = reinterpret_cast<F>(dlsym(lib, "libvlc_audio_get_volume"));
    const int v = f != nullptr ? f(mp) : -2;
    dlclose(lib);
    return v;
}

bool WatchMediaFreed(libvlc_media_player_t* mp, std::atomic<int>* freed) {
    void* lib = dlopen("libvlc.so.5", RTLD_LAZY | RTLD_NOLOAD);
    if (lib == nullptr)
        return false;
    auto getMedia = reinterpret_cast<decltype(&libvlc_media_player_get_media)>(
        dlsym(lib, "libvlc_media_player_get_media"));
    auto eventManager = reinterpret_cast<decltype(&libvlc_media_event_manager)>(
        dlsym(lib, "libvlc_media_event_manager"));
    auto attach =
        reinterpret_cast<decltype(&libvlc_event_attach)>(dlsym(lib, "libvlc_event_attach"));
    auto release =
        reinterpret_cast<decltype(&libvlc_media_release)>(dlsym(lib, "libvlc_media_release"));
    bool ok = false;
    if (getMedia != nullptr && eventManager != nullptr && attach != nullptr && release != nullptr) {
        if (libvlc_media_t* md = getMedia(mp)) {
            auto count = [](const libvlc_event_t*, void* data) {
                static_cast<std::atomic<int>*>(data)->fetch_add(1);
            };
            ok = attach(eventManager(md), libvlc_MediaFreed, count, freed) == 0;
            release(md); // the reference taken by get_media
        }
    }
    dlclose(lib);
    return ok;
}
