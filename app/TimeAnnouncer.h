#pragma once
// The time announcer: the hour file of a voice, then, when it ends, the minutes
// file for the minute of that moment, on the effects card.
#include "audio/AudioLayer.h"

#include <QObject>
#include <QString>
#include <QTime>

#include <atomic>
#include <functional>
#include <mutex>

class TimeAnnouncer : public QObject {
    Q_OBJECT
public:
    using Clock = std::function<QTime()>;

    explicit TimeAnnouncer(QObject* parent = nullptr);
    ~TimeAnnouncer() override; // frees the announcement that plays

    // The clock that gives the hour (at the start) and the minute (when the hour
    // file ends, on the audio layer's thread); QTime::currentTime by default.
    void SetClock(Clock clock);

    // lblHoraClick: stops an announcement under way and starts a new one with the
    // voice (a sub-folder of effectsFolder's "time" folder, found ignoring letter
    // case) on the device. Returns the hour file's stream (0 when it cannot be
    // opened: nothing plays).
    HSTREAM PlayTimeAnnouncement(const QString& voice, int device, const QString& effectsFolder);
    // cboSoundCueChange, the announcer's part: a playing announcement moves to the
    // device (the minutes then follow there).
    void MoveTo(int device);
    // The effects level (0 silent to 1 full): the announcement plays at it, the hour
    // and the minutes file alike, and a playing announcement follows a change at once.
    void SetVolume(float level);

    HSTREAM AnnouncerStream() const { return m_stream.load(); }
    QString AnnouncerVoice() const;

    // effectsFolder + the "time" sub-folder (any letter case; "Time" when there
    // is none) + voice, with a trailing separator.
    static QString VoiceFolder(const QString& effectsFolder, const QString& voice);

private:
    static void HourEndSync(HSYNC handle, DWORD channel, DWORD data, void* user);

    mutable std::mutex m_mutex;
    std::atomic<HSTREAM> m_stream{0}; // AnnouncerStream; written under m_mutex
    HSTREAM m_hourStream = 0;         // the hour file whose end starts the minutes
    QString m_voice;                  // AnnouncerVoice
    QString m_voiceFolder;            // captured when the announcement starts
    float m_volume = 1.0f;            // SetVolume's level
    Clock m_clock;
};
