#pragma once
// The second-card audio layer: the calls the effects player, the time announcer,
// the length probe and the sound-card lists use, with the meaning their callers
// rely on. Built on SDL2 (devices, output) and FFmpeg (decoding).
//
// Output devices, numbered as the audio library that the desk's settings were
// written for numbers them (so "SoundMain" 1 is the first real card and
// "SoundCue" 1 the system's default in every config.ini):
// - 0 is the layer's own "no sound" device: a stream on it advances in real time,
//   reports its position and fires its end, but nothing is heard;
// - 1 is "Default" (flag BASS_DEVICE_DEFAULT), SDL2's default output: it is opened
//   without a device name, so it plays on the sound server's default output and
//   follows it when the server's choice changes; it is listed whenever SDL2's
//   audio works;
// - 2, 3, ... are SDL2's playback devices, named as SDL2 reports them (with
//   PulseAudio, the sinks' descriptions).
// BASS_Init(-1) initialises "Default" (no sound when SDL2's audio does not work).
// Recording devices follow the same rule without a "no sound" device: 0 is
// "Default" when SDL2 names a default capture device, then SDL2's capture devices
// (the list may be empty).
//
// Paths are UTF-8 (the BASS_UNICODE flag is accepted and changes nothing).
// Every call is thread-safe. End callbacks run on a thread of the layer, never on
// the caller's thread and never while the layer holds a lock.
//
// Details the callers may rely on:
// - Positions and lengths are bytes of 16-bit stereo at 44100 Hz (4 bytes a frame).
// - With BASS_STREAM_PRESCAN the length is exact to the sample: every packet is
//   read and the encoder delay and padding that the file declares are removed.
//   Without it the length is the container's estimate until the stream has been
//   decoded to its end.
// - BASS_StreamFree called on another thread while that stream's end callback
//   runs waits for the callback to return, so no end callback of a stream runs
//   after its free returned; an end callback must therefore never wait for the
//   thread that frees its stream.
// - A stream belongs to the device last initialised with success until
//   BASS_ChannelSetDevice moves it; a second BASS_Init of the same device fails
//   and leaves it initialised.
// - Handles (streams and syncs) are never reused within a process.
#include <cstdint>

using DWORD = std::uint32_t;
using QWORD = std::uint64_t;
using BOOL = int;
using HSTREAM = DWORD;
using HMUSIC = DWORD;
using HSYNC = DWORD;
using HCHANNEL = DWORD;

constexpr DWORD BASS_UNICODE = 0x80000000u;
constexpr DWORD BASS_STREAM_PRESCAN = 0x20000u;
constexpr DWORD BASS_MUSIC_PRESCAN = BASS_STREAM_PRESCAN;
constexpr DWORD BASS_STREAM_AUTOFREE = 0x40000u;
constexpr DWORD BASS_POS_BYTE = 0;
constexpr DWORD BASS_ATTRIB_VOL = 2;
constexpr DWORD BASS_SYNC_END = 2;
constexpr DWORD BASS_ACTIVE_STOPPED = 0;
constexpr DWORD BASS_ACTIVE_PLAYING = 1;
constexpr DWORD BASS_ACTIVE_STALLED = 2;
constexpr DWORD BASS_ACTIVE_PAUSED = 3;
constexpr DWORD BASS_DEVICE_ENABLED = 1;
constexpr DWORD BASS_DEVICE_DEFAULT = 2;
constexpr DWORD BASS_DEVICE_INIT = 4;

struct BASS_DEVICEINFO {
    const char* name;   // UTF-8; valid until the process ends
    const char* driver; // UTF-8; valid until the process ends
    DWORD flags;
};

using SYNCPROC = void (*)(HSYNC handle, DWORD channel, DWORD data, void* user);

BOOL BASS_GetDeviceInfo(DWORD device, BASS_DEVICEINFO* info);
BOOL BASS_RecordGetDeviceInfo(DWORD device, BASS_DEVICEINFO* info);
BOOL BASS_Init(int device, DWORD freq, DWORD flags, void* win, const void* clsid);
BOOL BASS_Free();

HSTREAM BASS_StreamCreateFile(BOOL mem, const void* file, QWORD offset, QWORD length, DWORD flags);
HMUSIC BASS_MusicLoad(BOOL mem, const void* file, QWORD offset, DWORD length, DWORD flags,
                      DWORD freq);
BOOL BASS_StreamFree(HSTREAM handle);

QWORD BASS_ChannelGetLength(DWORD handle, DWORD mode);     // (QWORD)-1 on failure
QWORD BASS_ChannelGetPosition(DWORD handle, DWORD mode);   // (QWORD)-1 on failure
double BASS_ChannelBytes2Seconds(DWORD handle, QWORD pos); // negative on failure
DWORD BASS_ChannelIsActive(DWORD handle);
BOOL BASS_ChannelSetAttribute(DWORD handle, DWORD attrib, float value);
BOOL BASS_ChannelSetDevice(DWORD handle, DWORD device);
DWORD BASS_ChannelGetDevice(DWORD handle); // (DWORD)-1 on failure
HSYNC BASS_ChannelSetSync(DWORD handle, DWORD type, QWORD param, SYNCPROC proc, void* user);
BOOL BASS_ChannelRemoveSync(DWORD handle, HSYNC sync);
BOOL BASS_ChannelPlay(DWORD handle, BOOL restart);
