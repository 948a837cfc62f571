#pragma once

enum class MediaKey { NextTrack, Stop };

// Whether the keyboard's media key is down at this moment, whichever window has the
// focus (the X server's current keyboard state). False where that cannot be read.
bool MediaKeyDown(MediaKey key);
