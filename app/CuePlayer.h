#pragma once
// The effects player without its widgets: one effect at a time on the effects
// card, its volume, its progress (in bytes of decoded audio) and its end.
#include "audio/AudioLayer.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <optional>

class CuePlayer : public QObject {
    Q_OBJECT
public:
    explicit CuePlayer(QObject* parent = nullptr);
    ~CuePlayer() override; // frees the effect stream

    // lstJinglesDblClick: stops the effect that plays, then plays path on device at
    // the volume of tbCue's position (1 = top, full; 100 = bottom, silent).
    // Returns the new CueStream (0 when the file cannot be opened).
    HSTREAM PlayCue(const QString& path, int device, int volumePosition);
    // cmdStopCueClick: frees the effect and sets the progress to 0; no end follows.
    void Stop();
    // The level of a volume position: (100 - position) / 100, so 0 at the bottom (100).
    static float Level(int position) { return float((100.0 - position) / 100.0); }
    // tbCueChange: the position's level on the effect stream.
    void SetVolume(int position);
    // cboSoundCueChange, the effect's part: CueDevice = device, the layer is
    // initialised on it (result ignored) and a playing effect moves there.
    void MoveTo(int device);
    // tmrVumeter's effect step: while the effect plays, the selection end becomes
    // the low 32 bits of its position in bytes (returned and announced);
    // otherwise nothing changes and nullopt is returned.
    std::optional<int> PollProgress();

    HSTREAM CueStream() const { return m_cueStream.load(); }
    int CueDevice() const { return m_cueDevice; }
    int ProgressMaximum() const { return m_maximum; }
    int ProgressPosition() const { return m_position; }

signals:
    // The progress display's maximum (low 32 bits of the length in bytes).
    void ProgressMaximumChanged(int maximum);
    // The progress display's selection end.
    void ProgressPositionChanged(int position);
    // An effect ended by itself; delivered on this object's thread after its
    // stream was freed (the progress is 0 by then).
    void CueEnded(quint32 stream);

private:
    static void CueEndSync(HSYNC handle, DWORD channel, DWORD data, void* user);
    void SetPosition(int position);

    std::atomic<HSTREAM> m_cueStream{0};
    int m_cueDevice = 0;
    int m_volumePosition = 1;
    int m_maximum = 0;
    int m_position = 0;
};
