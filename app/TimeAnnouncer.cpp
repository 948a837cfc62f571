#include "app/TimeAnnouncer.h"

#include <QDir>
#include <QFileInfo>

namespace {

HSTREAM OpenAnnouncerFile(const QString& path) {
    const QByteArray file = path.toUtf8();
    return BASS_StreamCreateFile(0, file.constData(), 0, 0, BASS_UNICODE | BASS_STREAM_AUTOFREE);
}

QString TwoDigits(int value) {
    return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
}

} // namespace

TimeAnnouncer::TimeAnnouncer(QObject* parent)
    : QObject(parent), m_clock([] { return QTime::currentTime(); }) {}

TimeAnnouncer::~TimeAnnouncer() {
    HSTREAM stream;
    {
        std::lock_guard lock(m_mutex);
        m_hourStream = 0; // an hour file ending now starts no minutes file
        stream = m_stream.exchange(0);
    }
    // Waits for an end callback of that stream that may be running.
    BASS_StreamFree(stream);
}

void TimeAnnouncer::SetClock(Clock clock) {
    std::lock_guard lock(m_mutex);
    m_clock = std::move(clock);
}

QString TimeAnnouncer::AnnouncerVoice() const {
    std::lock_guard lock(m_mutex);
    return m_voice;
}

QString TimeAnnouncer::VoiceFolder(const QString& effectsFolder, const QString& voice) {
    QString timeName = QStringLiteral("Time");
    const QDir effects(effectsFolder);
    if (!QFileInfo(effects.filePath(timeName)).isDir()) {
        const QStringList dirs =
            effects.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
        for (const QString& name : dirs) {
            if (name.compare(QLatin1String("time"), Qt::CaseInsensitive) == 0) {
                timeName = name;
                break;
            }
        }
    }
    QString folder = effectsFolder;
    if (!folder.endsWith(QLatin1Char('/')) && !folder.endsWith(QDir::separator()))
        folder += QLatin1Char('/');
    return folder + timeName + QLatin1Char('/') + voice + QLatin1Char('/');
}

HSTREAM TimeAnnouncer::PlayTimeAnnouncement(const QString& voice, int device,
                                            const QString& effectsFolder) {
    HSTREAM previous;
    Clock clock;
    {
        std::lock_guard lock(m_mutex);
        // From here on the end of the previous hour file starts no minutes file.
        m_hourStream = 0;
        previous = m_stream.load();
        m_voice = voice;
        clock = m_clock;
    }
    // Stops the previous file; waits for its end callback if that is running.
    BASS_StreamFree(previous);

    const QString folder = VoiceFolder(effectsFolder, voice);
    const int hour = clock().hour();
    const QString path =
        hour == 0 ? folder + QStringLiteral("HRS00_O.mp3")
                  : folder + QStringLiteral("HRS") + TwoDigits(hour) + QStringLiteral(".mp3");
    const HSTREAM stream = OpenAnnouncerFile(path);
    {
        std::lock_guard lock(m_mutex);
        m_stream = stream;
        m_voiceFolder = folder;
        m_hourStream = hour == 0 ? 0 : stream;
        // Before the start: not even the first moment louder than the setting.
        BASS_ChannelSetAttribute(stream, BASS_ATTRIB_VOL, m_volume);
    }
    BASS_ChannelSetDevice(stream, DWORD(device));
    if (hour != 0)
        BASS_ChannelSetSync(stream, BASS_SYNC_END, 0, &TimeAnnouncer::HourEndSync, this);
    BASS_ChannelPlay(stream, 0);
    return stream;
}

void TimeAnnouncer::SetVolume(float level) {
    std::lock_guard lock(m_mutex);
    m_volume = level;
    BASS_ChannelSetAttribute(m_stream.load(), BASS_ATTRIB_VOL, level);
}

void TimeAnnouncer::MoveTo(int device) {
    // Under the lock, so that an hour file ending at this moment either has moved
    // already or its minutes file is the stream moved here.
    std::lock_guard lock(m_mutex);
    BASS_ChannelSetDevice(m_stream.load(), DWORD(device));
}

// Runs on the audio layer's thread when an hour file ends: the minutes file
// starts at once, on the card the hour file was on, with the minute of now.
void TimeAnnouncer::HourEndSync(HSYNC handle, DWORD channel, DWORD, void* user) {
    auto* self = static_cast<TimeAnnouncer*>(user);
    std::lock_guard lock(self->m_mutex);
    const DWORD device = BASS_ChannelGetDevice(channel);
    BASS_ChannelRemoveSync(channel, handle);
    BASS_StreamFree(channel);
    if (self->m_hourStream != channel)
        return; // a newer announcement has started meanwhile
    self->m_hourStream = 0;
    const int minute = self->m_clock().minute();
    const HSTREAM stream = OpenAnnouncerFile(self->m_voiceFolder + QStringLiteral("MIN") +
                                             TwoDigits(minute) + QStringLiteral(".mp3"));
    self->m_stream = stream;
    BASS_ChannelSetAttribute(stream, BASS_ATTRIB_VOL, self->m_volume);
    BASS_ChannelSetDevice(stream, device);
    BASS_ChannelPlay(stream, 0);
}
