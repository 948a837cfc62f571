#pragma once

// Helpers of the player tests: media made with ffmpeg, a recorder of the
// player's signals, and a look at libVLC's own state.

#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QVector>

#include "player/VlcPlayerUnit.h"

#include <atomic>

// Runs ffmpeg with the arguments; true when it made the file.
bool MakeMedia(const QString& out, const QStringList& args);

// A clip of the given length: a test pattern (or a solid colour) and a tone.
bool MakeVideoClip(const QString& out, int seconds, int width = 160, int height = 120,
                   const QString& colour = {});
bool MakeAudioClip(const QString& out, int seconds);

struct TRecordedEvent {
    QString name;
    qint64 value = 0;
    qint64 atMs = 0; // since the recorder started
};

// Records the published events of a player in the order the handlers ran.
class TEventRecorder : public QObject {
    Q_OBJECT
public:
    explicit TEventRecorder(TVlcPlayer* player);
    QVector<TRecordedEvent> events;
    QString lastMrl;
    QString lastAudioDevice;
    bool Has(const QString& name) const { return IndexOf(name) >= 0; }
    int IndexOf(const QString& name, int from = 0) const;
    int Count(const QString& name) const;
    QVector<qint64> Values(const QString& name) const;
    QStringList Names() const;
    void Clear() { events.clear(); }
    QElapsedTimer clock;

private:
    void Add(const QString& name, qint64 value = 0);
};

// libvlc_audio_get_volume of the player (looked up in the loaded libVLC).
int VlcAudioGetVolume(libvlc_media_player_t* mp);

// Counts in *freed when the player's current media is freed (libVLC's "media freed"
// report); takes no reference of its own. False when there is no media or libVLC
// lacks the entry points.
bool WatchMediaFreed(libvlc_media_player_t* mp, std::atomic<int>* freed);
