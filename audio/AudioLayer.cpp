// The audio layer. Layout of the work:
// - the caller's thread creates streams (FFmpeg opens the file there) and starts
//   them (the first few hundredths of a second are decoded there too);
// - one feeder thread keeps a small ring of decoded audio full for every playing
//   stream and notices when a stream has played its last frame;
// - each initialised SDL device's callback mixes the rings of the streams on that
//   device; device 0 ("no sound") has a thread of its own that consumes them in
//   real time;
// - one dispatcher thread calls the end callbacks and frees AUTOFREE streams.
// Locks: the layer's mutex, then a device's mix mutex, then a stream's decode
// mutex may be taken in that order, never the other way round. The mixers only
// ever take their own device's mix mutex. No callback of the caller runs while
// any of these is held.
#include "audio/AudioLayer.h"
#include "audio/AudioDecoder.h"
#include "audio/AudioLayerTesting.h"

#include <SDL2/SDL.h>

extern "C" {
#include <libavutil/log.h>
}

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <unordered_map>
#include <vector>

using tavoria::audio::AudioDecoder;
using tavoria::audio::kLayerRate;

namespace {

// Positions and lengths are counted in bytes of 16-bit stereo at the layer's rate.
constexpr QWORD kBytesPerFrame = 4;
constexpr size_t kRingFrames = 32768;   // about 0.74 s per playing stream
constexpr size_t kPrefillFrames = 8192; // decoded by ChannelPlay before the stream starts
constexpr auto kFeederPeriod = std::chrono::milliseconds(20);
constexpr auto kNullPeriod = std::chrono::milliseconds(10);
constexpr QWORD kFailure = QWORD(-1);
// Device 0 is "no sound", device 1 "Default", SDL's playback devices follow.
constexpr size_t kDefaultDevice = 1;
constexpr size_t kFirstCard = 2;

// Single-producer single-consumer ring of stereo float frames. The feeder writes;
// the one mixer the stream is attached to reads.
class Ring {
public:
    Ring() : m_buf(new float[kRingFrames * 2]) {}
    size_t Readable() const {
        return size_t(m_w.load(std::memory_order_acquire) - m_r.load(std::memory_order_acquire));
    }
    size_t Writable() const { return kRingFrames - Readable(); }
    size_t Write(const float* src, size_t frames) {
        const std::uint64_t w = m_w.load(std::memory_order_relaxed);
        const size_t n = std::min(frames, Writable());
        for (size_t i = 0; i < n; ++i) {
            const size_t at = size_t((w + i) & (kRingFrames - 1)) * 2;
            m_buf[at] = src[i * 2];
            m_buf[at + 1] = src[i * 2 + 1];
        }
        m_w.store(w + n, std::memory_order_release);
        return n;
    }
    // Adds up to frames frames times gain into out (nullptr: discards them).
    size_t Read(float* out, size_t frames, float gain) {
        const std::uint64_t r = m_r.load(std::memory_order_relaxed);
        const size_t n = std::min(frames, size_t(m_w.load(std::memory_order_acquire) - r));
        if (out) {
            for (size_t i = 0; i < n; ++i) {
                const size_t at = size_t((r + i) & (kRingFrames - 1)) * 2;
                out[i * 2] += gain * m_buf[at];
                out[i * 2 + 1] += gain * m_buf[at + 1];
            }
        }
        m_r.store(r + n, std::memory_order_release);
        return n;
    }
    std::uint64_t Written() const { return m_w.load(std::memory_order_acquire); }
    // Only while neither side uses the ring.
    void Reset() {
        m_w.store(0);
        m_r.store(0);
    }

private:
    std::unique_ptr<float[]> m_buf;
    std::atomic<std::uint64_t> m_w{0};
    std::atomic<std::uint64_t> m_r{0};
};

struct Sync {
    HSYNC handle;
    DWORD type;
    SYNCPROC proc;
    void* user;
};

enum class State { Stopped, Playing, Ended };

struct Stream {
    DWORD handle = 0;
    std::string path;
    DWORD flags = 0;
    // Guarded by the layer's mutex.
    int device = 0;
    State state = State::Stopped;
    bool attached = false;
    bool rewindNeeded = false;
    bool lengthExact = false;
    std::vector<Sync> syncs;
    // Guarded by decodeMutex.
    std::mutex decodeMutex;
    AudioDecoder decoder;
    std::vector<float> pending;
    size_t pendingAt = 0;
    bool decoderDone = false;
    // Shared with the mixers.
    Ring ring;
    std::atomic<bool> drained{false}; // every decoded frame is in the ring
    std::atomic<std::uint64_t> played{0};
    std::atomic<float> volume{1.0f};
    std::atomic<std::int64_t> lengthFrames{-1};
};

struct Device {
    std::string name;
    std::string driver;
    bool enabled = true;
    bool isDefault = false; // "Default": opened without a name
    // Guarded by the layer's mutex.
    bool initialised = false;
    SDL_AudioDeviceID sdl = 0;
    // Guarded by mix.
    std::mutex mix;
    std::vector<std::shared_ptr<Stream>> active;
};

struct EndEvent {
    DWORD stream;
    std::vector<Sync> syncs;
    bool autofree;
};

class Layer {
public:
    static Layer& Get() {
        static Layer layer;
        return layer;
    }
    ~Layer();

    BOOL GetDeviceInfo(DWORD device, BASS_DEVICEINFO* info);
    BOOL RecordGetDeviceInfo(DWORD device, BASS_DEVICEINFO* info);
    BOOL Init(int device);
    BOOL Free();
    HSTREAM CreateFile(const char* path, DWORD flags);
    BOOL StreamFree(HSTREAM handle);
    QWORD GetLength(DWORD handle, DWORD mode);
    QWORD GetPosition(DWORD handle, DWORD mode);
    double Bytes2Seconds(DWORD handle, QWORD pos);
    DWORD IsActive(DWORD handle);
    BOOL SetAttribute(DWORD handle, DWORD attrib, float value);
    BOOL SetDevice(DWORD handle, DWORD device);
    DWORD GetDevice(DWORD handle);
    HSYNC SetSync(DWORD handle, DWORD type, SYNCPROC proc, void* user);
    BOOL RemoveSync(DWORD handle, HSYNC sync);
    BOOL Play(DWORD handle, BOOL restart);

    // Test record.
    void SetHistory(bool on);
    void ClearHistory();
    std::vector<AudioLayerEvent> History();
    std::string StreamPath(DWORD handle);
    int LiveStreams();
    float StreamVolume(DWORD handle);

private:
    Layer();
    void EnsureSdlLocked();
    void RefreshDevicesLocked();
    static bool HasDefaultCapture();
    std::shared_ptr<Stream> FindLocked(DWORD handle) const;
    void AttachLocked(const std::shared_ptr<Stream>& s);
    void DetachLocked(const std::shared_ptr<Stream>& s);
    void FreeLocked(const std::shared_ptr<Stream>& s);
    void Record(AudioLayerEvent::Kind kind, const Stream& s);
    static bool Fill(Stream& s, size_t limit);
    void StartThreadsLocked();
    void FeederLoop();
    void DispatcherLoop();
    void NullLoop();
    void HandleEnd(const std::shared_ptr<Stream>& s);
    static void SdlCallback(void* user, Uint8* data, int len);
    void WakeFeeder();

    mutable std::mutex m_mutex;
    bool m_sdlTried = false;
    bool m_sdlOk = false;
    std::deque<std::unique_ptr<Device>> m_devices;   // 0 = no sound, 1 = default; never shrinks
    std::set<std::string> m_recordNames;             // names handed out stay valid
    std::vector<const std::string*> m_recordDevices; // "Default" first when there is one
    bool m_recordDefault = false;
    int m_current = -1;
    std::unordered_map<DWORD, std::shared_ptr<Stream>> m_streams;
    std::atomic<DWORD> m_nextHandle{1};

    bool m_threadsStarted = false;
    std::atomic<bool> m_quit{false};
    std::thread m_feeder;
    std::mutex m_feederMutex;
    std::condition_variable m_feederCv;
    std::atomic<bool> m_feederWake{false};

    std::thread m_dispatcher;
    std::thread::id m_dispatcherId;
    std::condition_variable m_dispatchCv; // with m_mutex
    std::deque<EndEvent> m_events;
    DWORD m_inCallback = 0;
    std::condition_variable m_callbackDoneCv; // with m_mutex

    std::thread m_null;
    std::atomic<bool> m_nullRunning{false};

    std::mutex m_historyMutex;
    bool m_historyOn = false;
    std::vector<AudioLayerEvent> m_history;
};

Layer::Layer() {
    // FFmpeg's notes about odd files (every probe of a text file...) are noise here.
    if (av_log_get_level() > AV_LOG_ERROR)
        av_log_set_level(AV_LOG_ERROR);
    auto none = std::make_unique<Device>();
    none->name = "No sound";
    none->driver = "";
    m_devices.push_back(std::move(none));
}

Layer::~Layer() {
    std::vector<SDL_AudioDeviceID> open;
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
        for (auto& d : m_devices)
            if (d->sdl)
                open.push_back(d->sdl);
        m_dispatchCv.notify_all();
    }
    WakeFeeder();
    // The process is ending. Closing a PulseAudio device joins SDL's audio thread,
    // which can sit for up to two seconds waiting on the server, so "Salir" and the
    // close box would hang that long. Pausing is enough: SDL then never calls back
    // into the layer again, and the system releases the device with the process.
    for (SDL_AudioDeviceID id : open)
        SDL_PauseAudioDevice(id, 1);
    m_nullRunning = false;
    if (m_null.joinable())
        m_null.join();
    if (m_feeder.joinable())
        m_feeder.join();
    if (m_dispatcher.joinable())
        m_dispatcher.join();
}

void Layer::EnsureSdlLocked() {
    if (m_sdlTried)
        return;
    m_sdlTried = true;
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    m_sdlOk = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
}

void Layer::RefreshDevicesLocked() {
    EnsureSdlLocked();
    if (!m_sdlOk)
        return;
    const char* driverName = SDL_GetCurrentAudioDriver();
    const std::string driver = driverName ? driverName : "";
    if (m_devices.size() == kFirstCard - 1) {
        // "Default" is opened without a device name, so it plays on whatever the
        // sound server's default output is at the time.
        auto d = std::make_unique<Device>();
        d->name = "Default";
        d->driver = driver;
        d->isDefault = true;
        m_devices.push_back(std::move(d));
    }
    std::vector<std::string> names;
    const int n = SDL_GetNumAudioDevices(0);
    for (int i = 0; i < n; ++i) {
        const char* name = SDL_GetAudioDeviceName(i, 0);
        if (name)
            names.emplace_back(name);
    }
    // Numbers stay stable: a device that went away keeps its number (disabled),
    // a new one is appended.
    std::vector<bool> matched(m_devices.size(), false);
    for (size_t k = 0; k < kFirstCard; ++k)
        matched[k] = true;
    for (const std::string& name : names) {
        bool found = false;
        for (size_t k = kFirstCard; k < m_devices.size(); ++k) {
            if (!matched[k] && m_devices[k]->name == name) {
                matched[k] = true;
                m_devices[k]->enabled = true;
                found = true;
                break;
            }
        }
        if (!found) {
            auto d = std::make_unique<Device>();
            d->name = name;
            d->driver = driver;
            m_devices.push_back(std::move(d));
            matched.push_back(true);
        }
    }
    for (size_t k = kFirstCard; k < m_devices.size(); ++k)
        if (!matched[k])
            m_devices[k]->enabled = false;

    m_recordDevices.clear();
    m_recordDefault = HasDefaultCapture();
    if (m_recordDefault)
        m_recordDevices.push_back(&*m_recordNames.insert("Default").first);
    const int r = SDL_GetNumAudioDevices(1);
    for (int i = 0; i < r; ++i) {
        const char* name = SDL_GetAudioDeviceName(i, 1);
        if (name)
            m_recordDevices.push_back(&*m_recordNames.insert(name).first);
    }
}

// Whether SDL can name a default recording device (the sound server has one that
// SDL lists as a capture device).
bool Layer::HasDefaultCapture() {
#if SDL_VERSION_ATLEAST(2, 24, 0)
    SDL_AudioSpec spec{};
    return SDL_GetDefaultAudioInfo(nullptr, &spec, 1) == 0;
#else
    return false;
#endif
}

BOOL Layer::GetDeviceInfo(DWORD device, BASS_DEVICEINFO* info) {
    std::lock_guard lock(m_mutex);
    RefreshDevicesLocked();
    if (!info || device >= m_devices.size())
        return 0;
    const Device& d = *m_devices[device];
    info->name = d.name.c_str();
    info->driver = d.driver.c_str();
    info->flags = (d.enabled ? BASS_DEVICE_ENABLED : 0) | (d.initialised ? BASS_DEVICE_INIT : 0) |
                  (d.isDefault ? BASS_DEVICE_DEFAULT : 0);
    return 1;
}

BOOL Layer::RecordGetDeviceInfo(DWORD device, BASS_DEVICEINFO* info) {
    std::lock_guard lock(m_mutex);
    RefreshDevicesLocked();
    if (!info || device >= m_recordDevices.size())
        return 0;
    info->name = m_recordDevices[device]->c_str();
    const char* driver = SDL_GetCurrentAudioDriver();
    info->driver = m_recordNames.insert(driver ? driver : "").first->c_str();
    info->flags = BASS_DEVICE_ENABLED | (m_recordDefault && device == 0 ? BASS_DEVICE_DEFAULT : 0);
    return 1;
}

void Layer::StartThreadsLocked() {
    if (m_threadsStarted)
        return;
    m_threadsStarted = true;
    m_feeder = std::thread([this] { FeederLoop(); });
    m_dispatcher = std::thread([this] { DispatcherLoop(); });
    m_dispatcherId = m_dispatcher.get_id();
}

BOOL Layer::Init(int device) {
    std::lock_guard lock(m_mutex);
    RefreshDevicesLocked();
    if (device == -1) // the system's default output, or no sound without one
        device = m_devices.size() > kDefaultDevice ? int(kDefaultDevice) : 0;
    if (device < 0 || size_t(device) >= m_devices.size())
        return 0;
    Device& d = *m_devices[device];
    if (d.initialised)
        return 0; // already initialised: it stays so
    if (!d.enabled)
        return 0;
    StartThreadsLocked();
    if (device == 0) {
        if (m_null.joinable())
            m_null.join();
        m_nullRunning = true;
        m_null = std::thread([this] { NullLoop(); });
    } else {
        SDL_AudioSpec want{};
        want.freq = kLayerRate;
        want.format = AUDIO_F32SYS;
        want.channels = 2;
        want.samples = 1024;
        want.callback = &Layer::SdlCallback;
        want.userdata = &d;
        SDL_AudioSpec have{};
        const SDL_AudioDeviceID id =
            SDL_OpenAudioDevice(d.isDefault ? nullptr : d.name.c_str(), 0, &want, &have, 0);
        if (id == 0)
            return 0;
        d.sdl = id;
        SDL_PauseAudioDevice(id, 0);
    }
    d.initialised = true;
    m_current = device;
    return 1;
}

BOOL Layer::Free() {
    SDL_AudioDeviceID id = 0;
    bool stopNull = false;
    {
        std::lock_guard lock(m_mutex);
        if (m_current < 0 || !m_devices[m_current]->initialised)
            return 0;
        Device& d = *m_devices[m_current];
        std::vector<std::shared_ptr<Stream>> mine;
        for (auto& [h, s] : m_streams)
            if (s->device == m_current)
                mine.push_back(s);
        for (auto& s : mine)
            FreeLocked(s);
        d.initialised = false;
        id = d.sdl;
        d.sdl = 0;
        stopNull = m_current == 0;
    }
    if (id)
        SDL_CloseAudioDevice(id);
    if (stopNull) {
        m_nullRunning = false;
        // The thread ends within one period; a later Init(0) joins it.
    }
    return 1;
}

std::shared_ptr<Stream> Layer::FindLocked(DWORD handle) const {
    auto it = m_streams.find(handle);
    return it == m_streams.end() ? nullptr : it->second;
}

void Layer::Record(AudioLayerEvent::Kind kind, const Stream& s) {
    std::lock_guard lock(m_historyMutex);
    if (m_historyOn)
        m_history.push_back(AudioLayerEvent{kind, s.handle, s.device, s.path});
}

HSTREAM Layer::CreateFile(const char* path, DWORD flags) {
    int device;
    {
        std::lock_guard lock(m_mutex);
        if (m_current < 0 || !m_devices[m_current]->initialised)
            return 0;
        device = m_current;
    }
    if (!path)
        return 0;
    auto s = std::make_shared<Stream>();
    s->path = path;
    s->flags = flags;
    const bool prescan = (flags & BASS_STREAM_PRESCAN) != 0;
    if (!s->decoder.Open(s->path, !prescan))
        return 0;
    if (prescan) {
        const std::int64_t frames = s->decoder.ScanFrames();
        if (frames < 0)
            return 0;
        s->lengthFrames = frames;
        s->lengthExact = true;
        s->rewindNeeded = true;
    } else {
        s->lengthFrames = s->decoder.EstimatedFrames();
    }
    std::lock_guard lock(m_mutex);
    if (!m_devices[device]->initialised)
        return 0;
    s->handle = m_nextHandle++;
    s->device = device;
    m_streams[s->handle] = s;
    Record(AudioLayerEvent::Created, *s);
    return s->handle;
}

void Layer::AttachLocked(const std::shared_ptr<Stream>& s) {
    if (s->attached)
        return;
    Device& d = *m_devices[s->device];
    std::lock_guard mix(d.mix);
    d.active.push_back(s);
    s->attached = true;
}

void Layer::DetachLocked(const std::shared_ptr<Stream>& s) {
    if (!s->attached)
        return;
    Device& d = *m_devices[s->device];
    std::lock_guard mix(d.mix);
    d.active.erase(std::remove(d.active.begin(), d.active.end(), s), d.active.end());
    s->attached = false;
}

void Layer::FreeLocked(const std::shared_ptr<Stream>& s) {
    DetachLocked(s);
    s->state = State::Ended;
    s->syncs.clear();
    m_streams.erase(s->handle);
    Record(AudioLayerEvent::Freed, *s);
}

BOOL Layer::StreamFree(HSTREAM handle) {
    if (handle == 0)
        return 0;
    std::shared_ptr<Stream> s;
    {
        std::unique_lock lock(m_mutex);
        s = FindLocked(handle);
        if (s)
            FreeLocked(s);
        // Once the free returns, no end callback of this stream runs any more.
        if (std::this_thread::get_id() != m_dispatcherId)
            m_callbackDoneCv.wait(lock, [&] { return m_inCallback != handle; });
    }
    // The stream's memory goes with its last reference (here or on the feeder).
    return s ? 1 : 0;
}

QWORD Layer::GetLength(DWORD handle, DWORD mode) {
    std::lock_guard lock(m_mutex);
    auto s = FindLocked(handle);
    if (!s || mode != BASS_POS_BYTE)
        return kFailure;
    const std::int64_t frames = s->lengthFrames.load();
    if (frames < 0)
        return kFailure;
    return QWORD(frames) * kBytesPerFrame;
}

QWORD Layer::GetPosition(DWORD handle, DWORD mode) {
    std::lock_guard lock(m_mutex);
    auto s = FindLocked(handle);
    if (!s || mode != BASS_POS_BYTE)
        return kFailure;
    return s->played.load() * kBytesPerFrame;
}

double Layer::Bytes2Seconds(DWORD handle, QWORD pos) {
    std::lock_guard lock(m_mutex);
    if (!FindLocked(handle))
        return -1.0;
    return double(pos) / double(kBytesPerFrame * kLayerRate);
}

DWORD Layer::IsActive(DWORD handle) {
    std::lock_guard lock(m_mutex);
    auto s = FindLocked(handle);
    return s && s->state == State::Playing ? BASS_ACTIVE_PLAYING : BASS_ACTIVE_STOPPED;
}

BOOL Layer::SetAttribute(DWORD handle, DWORD attrib, float value) {
    std::lock_guard lock(m_mutex);
    auto s = FindLocked(handle);
    if (!s || attrib != BASS_ATTRIB_VOL || !(value >= 0.0f))
        return 0;
    s->volume = value;
    return 1;
}

BOOL Layer::SetDevice(DWORD handle, DWORD device) {
    std::lock_guard lock(m_mutex);
    auto s = FindLocked(handle);
    if (!s || device >= m_devices.size() || !m_devices[device]->initialised)
        return 0;
    if (s->device == int(device))
        return 1;
    const bool wasAttached = s->attached;
    DetachLocked(s);
    s->device = int(device);
    if (wasAttached)
        AttachLocked(s);
    return 1;
}

DWORD Layer::GetDevice(DWORD handle) {
    std::lock_guard lock(m_mutex);
    auto s = FindLocked(handle);
    return s ? DWORD(s->device) : DWORD(-1);
}

HSYNC Layer::SetSync(DWORD handle, DWORD type, SYNCPROC proc, void* user) {
    std::lock_guard lock(m_mutex);
    auto s = FindLocked(handle);
    if (!s || !proc || (type & 0x00ffffffu) != BASS_SYNC_END)
        return 0;
    const HSYNC sync = m_nextHandle++;
    s->syncs.push_back(Sync{sync, type, proc, user});
    return sync;
}

BOOL Layer::RemoveSync(DWORD handle, HSYNC sync) {
    std::lock_guard lock(m_mutex);
    auto s = FindLocked(handle);
    if (!s)
        return 0;
    auto it = std::find_if(s->syncs.begin(), s->syncs.end(),
                           [&](const Sync& x) { return x.handle == sync; });
    if (it == s->syncs.end())
        return 0;
    s->syncs.erase(it);
    return 1;
}

// Moves decoded audio into the ring until it is full, at most limit frames (0: no
// limit). Called with the stream's decode mutex held. True when it added frames.
bool Layer::Fill(Stream& s, size_t limit) {
    size_t added = 0;
    while (true) {
        if (s.pendingAt < s.pending.size()) {
            const size_t want = (s.pending.size() - s.pendingAt) / 2;
            const size_t n = s.ring.Write(s.pending.data() + s.pendingAt, want);
            s.pendingAt += n * 2;
            added += n;
            if (n < want)
                break; // ring full
            s.pending.clear();
            s.pendingAt = 0;
        }
        if (limit && added >= limit)
            break;
        if (s.decoderDone)
            break;
        if (!s.decoder.Decode(s.pending)) {
            s.decoderDone = true;
            break;
        }
    }
    if (s.decoderDone && s.pendingAt >= s.pending.size()) {
        if (!s.lengthExact)
            s.lengthFrames = std::int64_t(s.ring.Written());
        s.drained = true;
    }
    return added > 0;
}

BOOL Layer::Play(DWORD handle, BOOL restart) {
    std::unique_lock lock(m_mutex);
    auto s = FindLocked(handle);
    if (!s)
        return 0;
    if (s->state == State::Playing && !restart)
        return 1;
    if (!m_devices[s->device]->initialised)
        return 0;
    DetachLocked(s);
    {
        std::lock_guard decode(s->decodeMutex);
        if (restart || s->state == State::Ended || s->rewindNeeded) {
            // From the beginning: the file is opened again.
            if (!s->decoder.Open(s->path, true))
                return 0;
            s->rewindNeeded = false;
            s->pending.clear();
            s->pendingAt = 0;
            s->decoderDone = false;
            s->drained = false;
            s->ring.Reset();
            s->played = 0;
        } else if (!s->decoder.HasCodec()) {
            return 0;
        }
        Fill(*s, kPrefillFrames);
    }
    s->state = State::Playing;
    AttachLocked(s);
    Record(AudioLayerEvent::Played, *s);
    lock.unlock();
    WakeFeeder();
    return 1;
}

void Layer::WakeFeeder() {
    m_feederWake = true;
    m_feederCv.notify_one();
}

void Layer::FeederLoop() {
    std::vector<std::shared_ptr<Stream>> playing;
    while (!m_quit) {
        {
            std::unique_lock lock(m_feederMutex);
            m_feederCv.wait_for(lock, kFeederPeriod, [&] { return m_feederWake.load() || m_quit; });
            m_feederWake = false;
        }
        if (m_quit)
            break;
        playing.clear();
        {
            std::lock_guard lock(m_mutex);
            for (auto& [h, s] : m_streams)
                if (s->state == State::Playing)
                    playing.push_back(s);
        }
        for (auto& s : playing) {
            {
                std::lock_guard decode(s->decodeMutex);
                Fill(*s, 0);
            }
            if (s->drained && s->ring.Readable() == 0)
                HandleEnd(s);
        }
        playing.clear(); // the last reference to a freed stream may go here
    }
}

void Layer::HandleEnd(const std::shared_ptr<Stream>& s) {
    std::lock_guard lock(m_mutex);
    if (s->state != State::Playing || FindLocked(s->handle) != s)
        return;
    // The mixer may have been detached and the stream restarted meanwhile: only a
    // stream whose last frame was consumed has ended.
    if (!s->drained || s->ring.Readable() != 0)
        return;
    DetachLocked(s);
    s->state = State::Ended;
    Record(AudioLayerEvent::Ended, *s);
    EndEvent ev{s->handle, {}, (s->flags & BASS_STREAM_AUTOFREE) != 0};
    for (const Sync& sync : s->syncs)
        if ((sync.type & 0x00ffffffu) == BASS_SYNC_END)
            ev.syncs.push_back(sync);
    m_events.push_back(std::move(ev));
    m_dispatchCv.notify_one();
}

void Layer::DispatcherLoop() {
    std::unique_lock lock(m_mutex);
    while (true) {
        m_dispatchCv.wait(lock, [&] { return m_quit || !m_events.empty(); });
        if (m_quit)
            return;
        EndEvent ev = std::move(m_events.front());
        m_events.pop_front();
        m_inCallback = ev.stream;
        for (const Sync& sync : ev.syncs) {
            // A sync removed, or a stream freed, before its turn is not called.
            auto s = FindLocked(ev.stream);
            if (!s || std::none_of(s->syncs.begin(), s->syncs.end(),
                                   [&](const Sync& x) { return x.handle == sync.handle; }))
                continue;
            lock.unlock();
            sync.proc(sync.handle, ev.stream, 0, sync.user);
            lock.lock();
        }
        if (ev.autofree) {
            auto s = FindLocked(ev.stream);
            if (s && s->state == State::Ended)
                FreeLocked(s);
            lock.unlock();
            s.reset();
            lock.lock();
        }
        m_inCallback = 0;
        m_callbackDoneCv.notify_all();
    }
}

void Layer::NullLoop() {
    Device& d = *m_devices[0];
    using Clock = std::chrono::steady_clock;
    auto last = Clock::now();
    double carry = 0.0;
    while (m_nullRunning && !m_quit) {
        std::this_thread::sleep_for(kNullPeriod);
        const auto now = Clock::now();
        carry += std::chrono::duration<double>(now - last).count() * kLayerRate;
        last = now;
        const size_t due = size_t(carry);
        carry -= double(due);
        bool ended = false;
        {
            std::lock_guard mix(d.mix);
            for (auto& s : d.active) {
                s->played += s->ring.Read(nullptr, due, 0.0f);
                if (s->drained && s->ring.Readable() == 0)
                    ended = true;
            }
        }
        if (ended)
            WakeFeeder();
    }
}

void Layer::SdlCallback(void* user, Uint8* data, int len) {
    Device& d = *static_cast<Device*>(user);
    auto* out = reinterpret_cast<float*>(data);
    const size_t frames = size_t(len) / (sizeof(float) * 2);
    std::memset(data, 0, size_t(len));
    bool ended = false;
    {
        std::lock_guard mix(d.mix);
        for (auto& s : d.active) {
            s->played += s->ring.Read(out, frames, s->volume.load(std::memory_order_relaxed));
            if (s->drained && s->ring.Readable() == 0)
                ended = true;
        }
    }
    if (ended)
        Get().WakeFeeder();
}

void Layer::SetHistory(bool on) {
    std::lock_guard lock(m_historyMutex);
    m_historyOn = on;
}

void Layer::ClearHistory() {
    std::lock_guard lock(m_historyMutex);
    m_history.clear();
}

std::vector<AudioLayerEvent> Layer::History() {
    std::lock_guard lock(m_historyMutex);
    return m_history;
}

std::string Layer::StreamPath(DWORD handle) {
    std::lock_guard lock(m_mutex);
    auto s = FindLocked(handle);
    return s ? s->path : std::string();
}

float Layer::StreamVolume(DWORD handle) {
    std::lock_guard lock(m_mutex);
    auto s = FindLocked(handle);
    return s ? s->volume.load() : -1.0f;
}

int Layer::LiveStreams() {
    std::lock_guard lock(m_mutex);
    return int(m_streams.size());
}

} // namespace

BOOL BASS_GetDeviceInfo(DWORD device, BASS_DEVICEINFO* info) {
    return Layer::Get().GetDeviceInfo(device, info);
}

BOOL BASS_RecordGetDeviceInfo(DWORD device, BASS_DEVICEINFO* info) {
    return Layer::Get().RecordGetDeviceInfo(device, info);
}

BOOL BASS_Init(int device, DWORD, DWORD, void*, const void*) {
    return Layer::Get().Init(device);
}

BOOL BASS_Free() {
    return Layer::Get().Free();
}

HSTREAM BASS_StreamCreateFile(BOOL mem, const void* file, QWORD, QWORD, DWORD flags) {
    if (mem)
        return 0;
    return Layer::Get().CreateFile(static_cast<const char*>(file), flags);
}

HMUSIC BASS_MusicLoad(BOOL, const void*, QWORD, DWORD, DWORD, DWORD) {
    return 0; // tracker modules are not played by this layer
}

BOOL BASS_StreamFree(HSTREAM handle) {
    return Layer::Get().StreamFree(handle);
}

QWORD BASS_ChannelGetLength(DWORD handle, DWORD mode) {
    return Layer::Get().GetLength(handle, mode);
}

QWORD BASS_ChannelGetPosition(DWORD handle, DWORD mode) {
    return Layer::Get().GetPosition(handle, mode);
}

double BASS_ChannelBytes2Seconds(DWORD handle, QWORD pos) {
    return Layer::Get().Bytes2Seconds(handle, pos);
}

DWORD BASS_ChannelIsActive(DWORD handle) {
    return Layer::Get().IsActive(handle);
}

BOOL BASS_ChannelSetAttribute(DWORD handle, DWORD attrib, float value) {
    return Layer::Get().SetAttribute(handle, attrib, value);
}

BOOL BASS_ChannelSetDevice(DWORD handle, DWORD device) {
    return Layer::Get().SetDevice(handle, device);
}

DWORD BASS_ChannelGetDevice(DWORD handle) {
    return Layer::Get().GetDevice(handle);
}

HSYNC BASS_ChannelSetSync(DWORD handle, DWORD type, QWORD, SYNCPROC proc, void* user) {
    return Layer::Get().SetSync(handle, type, proc, user);
}

BOOL BASS_ChannelRemoveSync(DWORD handle, HSYNC sync) {
    return Layer::Get().RemoveSync(handle, sync);
}

BOOL BASS_ChannelPlay(DWORD handle, BOOL restart) {
    return Layer::Get().Play(handle, restart);
}

void AudioLayer_SetHistoryEnabled(bool enabled) {
    Layer::Get().SetHistory(enabled);
}
void AudioLayer_ClearHistory() {
    Layer::Get().ClearHistory();
}
std::vector<AudioLayerEvent> AudioLayer_History() {
    return Layer::Get().History();
}
std::string AudioLayer_StreamPath(DWORD handle) {
    return Layer::Get().StreamPath(handle);
}
int AudioLayer_LiveStreams() {
    return Layer::Get().LiveStreams();
}
float AudioLayer_StreamVolume(DWORD handle) {
    return Layer::Get().StreamVolume(handle);
}
