#include "app/CuePlayer.h"

#include <QMetaObject>
#include <QPointer>

CuePlayer::CuePlayer(QObject* parent) : QObject(parent) {}

CuePlayer::~CuePlayer() {
    // Once the stream is freed its end callback can no longer run, so none
    // reaches a destroyed player.
    BASS_StreamFree(m_cueStream.exchange(0));
}

HSTREAM CuePlayer::PlayCue(const QString& path, int device, int volumePosition) {
    BASS_StreamFree(m_cueStream.load());
    const QByteArray file = path.toUtf8();
    const HSTREAM stream =
        BASS_StreamCreateFile(0, file.constData(), 0, 0, BASS_UNICODE | BASS_STREAM_AUTOFREE);
    m_cueStream = stream;
    SetPosition(0);
    const int maximum = int(std::uint32_t(BASS_ChannelGetLength(stream, BASS_POS_BYTE)));
    if (maximum >= 0 && maximum != m_maximum) {
        m_maximum = maximum;
        emit ProgressMaximumChanged(maximum);
    }
    BASS_ChannelSetDevice(stream, DWORD(device));
    BASS_ChannelSetSync(stream, BASS_SYNC_END, 0, &CuePlayer::CueEndSync, this);
    // The volume is also set before the start, so that not even the first
    // hundredths of a second play louder than the operator's setting.
    SetVolume(volumePosition);
    BASS_ChannelPlay(stream, 0);
    SetVolume(volumePosition);
    return stream;
}

void CuePlayer::Stop() {
    BASS_StreamFree(m_cueStream.load());
    SetPosition(0);
}

void CuePlayer::SetVolume(int position) {
    m_volumePosition = position;
    BASS_ChannelSetAttribute(m_cueStream.load(), BASS_ATTRIB_VOL, Level(position));
}

void CuePlayer::MoveTo(int device) {
    m_cueDevice = device;
    BASS_Init(device, 44100, 0, nullptr, nullptr);
    BASS_ChannelSetDevice(m_cueStream.load(), DWORD(device));
}

std::optional<int> CuePlayer::PollProgress() {
    const HSTREAM stream = m_cueStream.load();
    if (BASS_ChannelIsActive(stream) != BASS_ACTIVE_PLAYING)
        return std::nullopt;
    const QWORD bytes = BASS_ChannelGetPosition(stream, BASS_POS_BYTE);
    if (bytes == QWORD(-1))
        return std::nullopt; // freed between the two calls
    const int position = int(std::uint32_t(bytes));
    SetPosition(position);
    return position;
}

void CuePlayer::SetPosition(int position) {
    if (position == m_position)
        return;
    m_position = position;
    emit ProgressPositionChanged(position);
}

// Runs on the audio layer's thread with the stream that ended; CueStream may
// already name a newer effect, so only the handle passed here is touched. The
// visible part goes to the player's thread.
void CuePlayer::CueEndSync(HSYNC handle, DWORD channel, DWORD, void* user) {
    BASS_ChannelRemoveSync(channel, handle);
    BASS_StreamFree(channel);
    auto* self = static_cast<CuePlayer*>(user);
    QMetaObject::invokeMethod(
        self,
        [self, channel] {
            self->SetPosition(0);
            emit self->CueEnded(channel);
        },
        Qt::QueuedConnection);
}
