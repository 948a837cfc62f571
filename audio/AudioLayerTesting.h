#pragma once
// What the audio layer did, for tests: a record of the streams it created,
// started, ended and freed. Off unless a test turns it on.
#include "audio/AudioLayer.h"

#include <string>
#include <vector>

struct AudioLayerEvent {
    enum Kind { Created, Played, Ended, Freed };
    Kind kind;
    DWORD handle;
    int device;       // the stream's device at that moment
    std::string path; // the file the stream was created from
};

void AudioLayer_SetHistoryEnabled(bool enabled);
void AudioLayer_ClearHistory();
std::vector<AudioLayerEvent> AudioLayer_History();
// The file a live stream was created from; empty for 0 or a freed handle.
std::string AudioLayer_StreamPath(DWORD handle);
// A live stream's volume attribute; negative for 0 or a freed handle.
float AudioLayer_StreamVolume(DWORD handle);
// Number of streams that exist now (created and not yet freed).
int AudioLayer_LiveStreams();
