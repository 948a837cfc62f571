#pragma once
// One audio file decoded with FFmpeg, step by step, to interleaved stereo float
// at the layer's rate. Used by one thread at a time.
#include <cstdint>
#include <string>
#include <vector>

struct AVFormatContext;
struct AVCodecContext;
struct SwrContext;
struct AVPacket;
struct AVFrame;

namespace tavoria::audio {

constexpr int kLayerRate = 44100;

class AudioDecoder {
public:
    AudioDecoder() = default;
    ~AudioDecoder();
    AudioDecoder(const AudioDecoder&) = delete;
    AudioDecoder& operator=(const AudioDecoder&) = delete;

    // Opens the file and finds its audio stream. With openCodec the decoder is
    // opened too (needed before Decode). False when the file holds no audio that
    // FFmpeg can decode.
    bool Open(const std::string& path, bool openCodec);
    void Close();
    bool IsOpen() const { return m_fmt != nullptr; }
    bool HasCodec() const { return m_ctx != nullptr; }

    // The container's idea of the length, in frames at the layer's rate; -1 when unknown.
    std::int64_t EstimatedFrames() const;

    // Exact length in frames at the layer's rate: every packet of the audio stream
    // is read (not decoded) and the encoder delay and padding that the demuxer
    // reports as skip-sample side data are removed. Falls back to a full decode
    // when packets carry no duration. Consumes the file: Open again to decode.
    // -1 on failure.
    std::int64_t ScanFrames();

    // Decodes at least one more piece and appends it (stereo float frames, the
    // layer's rate) to out. False once the file is exhausted and nothing was added.
    bool Decode(std::vector<float>& out);

private:
    bool OpenCodec();
    bool ConfigureResampler(const AVFrame* frame, std::vector<float>& out);
    void Convert(const AVFrame* frame, std::vector<float>& out);
    void FlushResampler(std::vector<float>& out);
    std::int64_t DecodeAllFrames();

    std::string m_path;
    AVFormatContext* m_fmt = nullptr;
    AVCodecContext* m_ctx = nullptr;
    SwrContext* m_swr = nullptr;
    AVPacket* m_pkt = nullptr;
    AVFrame* m_frame = nullptr;
    int m_index = -1;
    bool m_flushSent = false;
    bool m_finished = false;
    int m_swrFormat = -1;
    int m_swrRate = 0;
    int m_swrChannels = 0;
    std::uint64_t m_swrMask = 0;
};

} // namespace tavoria::audio
