#pragma once
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTime>

// The media options of one Next: a UDP output target and a cover picture for an
// ".mp3" file, and the cover path the status bar shows.
struct PlayOptions {
    QStringList options; // non-empty options only, in slot order
    QString cover;       // the cover as the operator knows it; empty when none
    QString status;      // the status text at the end of Next
};

// Builds the options for playing path. The cover of an existing ".mp3" file (the
// extension in lower case exactly) is "cover.png" beside it, else "cover.jpg" beside
// it, else "cover.png" in workDir; it is passed to libVLC as a proper file URL, so
// paths with spaces, "#" or "%" open too.
PlayOptions BuildPlayOptions(const QString& path, bool udp, const QString& udpTarget,
                             const QString& workDir);

// The row Next plays: NextIndex when it names a row, otherwise the first row;
// -1 for an empty list.
int RowToPlay(int nextIndex, int rowCount);
// NextIndex after playing current: the following row, or the "Repetir desde:" row
// (1-based) after the last one.
int NextIndexAfter(int current, int rowCount, int repeatFrom);

// What the end-of-media handler does.
struct EndOfMediaPlan {
    bool act = false;          // false: the media never played, or its end was acted on
    bool announce = false;     // play the time announcement
    bool repeat = false;       // NextIndex := CurrentIndex
    bool next = false;         // run Next
    bool firstCaption = false; // publish the first caption
};
// mediaPlayed: the media that ended reported Playing and no end of it was acted on
// yet. Its length does not matter: a 1 s clip moves the list on as a long one does,
// while a media that never played (or a second end report) cannot run through the
// list by itself.
EndOfMediaPlan PlanEndOfMedia(bool mediaPlayed, bool announceBetween, bool repeatDown,
                              bool stopAfterDown, bool topSubtitle);

// When a media of the given length started now ends: now plus the length's whole
// seconds as its "hh:mm:ss" form shows them (hours taken modulo 24).
QTime EndTimeOf(qint64 lengthMs, const QTime& now);
// "Termina a las: hh:nn:ss" of an end time.
QString EndTimeText(const QTime& end);
// "Termina a las: hh:nn:ss" of a media of the given length started now.
QString EndTimeText(qint64 lengthMs, const QTime& now);

// Output levels: 100 - position, so the bottom of a slider (100) is silence.
inline int MasterLevel(int position) {
    return 100 - position;
}
inline int DuckedLevel(int position) {
    return 100 - position;
}
inline float AdjustValue(int position) {
    return float(double(position) / 100.0);
}

// Size of a resolution menu item by its component name; empty for any other name.
QSize ResolutionSize(const QString& itemName);
