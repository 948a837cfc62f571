#include "audio/AudioDecoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cstring>

namespace tavoria::audio {

namespace {

std::uint32_t ReadLe32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
           (std::uint32_t(p[3]) << 24);
}

} // namespace

AudioDecoder::~AudioDecoder() {
    Close();
}

void AudioDecoder::Close() {
    if (m_swr)
        swr_free(&m_swr);
    if (m_ctx)
        avcodec_free_context(&m_ctx);
    if (m_fmt)
        avformat_close_input(&m_fmt);
    if (m_pkt)
        av_packet_free(&m_pkt);
    if (m_frame)
        av_frame_free(&m_frame);
    m_index = -1;
    m_flushSent = false;
    m_finished = false;
    m_swrFormat = -1;
    m_swrRate = 0;
    m_swrChannels = 0;
    m_swrMask = 0;
}

bool AudioDecoder::Open(const std::string& path, bool openCodec) {
    Close();
    m_path = path;
    if (path.empty())
        return false;
    AVFormatContext* fmt = nullptr;
    if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0)
        return false;
    m_fmt = fmt;
    if (avformat_find_stream_info(m_fmt, nullptr) < 0) {
        Close();
        return false;
    }
    const AVCodec* codec = nullptr;
    m_index = av_find_best_stream(m_fmt, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (m_index < 0 || codec == nullptr) {
        Close();
        return false;
    }
    const AVCodecParameters* par = m_fmt->streams[m_index]->codecpar;
    if (par->sample_rate <= 0 || par->ch_layout.nb_channels <= 0) {
        Close();
        return false;
    }
    // Only the audio stream is read; cover pictures and other streams are skipped
    // by the demuxer.
    for (unsigned i = 0; i < m_fmt->nb_streams; ++i)
        if (int(i) != m_index)
            m_fmt->streams[i]->discard = AVDISCARD_ALL;
    m_pkt = av_packet_alloc();
    m_frame = av_frame_alloc();
    if (!m_pkt || !m_frame) {
        Close();
        return false;
    }
    if (openCodec && !OpenCodec()) {
        Close();
        return false;
    }
    return true;
}

bool AudioDecoder::OpenCodec() {
    const AVCodecParameters* par = m_fmt->streams[m_index]->codecpar;
    const AVCodec* codec = avcodec_find_decoder(par->codec_id);
    if (!codec)
        return false;
    m_ctx = avcodec_alloc_context3(codec);
    if (!m_ctx)
        return false;
    if (avcodec_parameters_to_context(m_ctx, par) < 0) {
        avcodec_free_context(&m_ctx);
        return false;
    }
    m_ctx->pkt_timebase = m_fmt->streams[m_index]->time_base;
    m_ctx->thread_count = 1;
    if (avcodec_open2(m_ctx, codec, nullptr) < 0) {
        avcodec_free_context(&m_ctx);
        return false;
    }
    return true;
}

std::int64_t AudioDecoder::EstimatedFrames() const {
    if (!m_fmt)
        return -1;
    const AVStream* st = m_fmt->streams[m_index];
    if (st->duration != AV_NOPTS_VALUE && st->duration > 0)
        return av_rescale_q(st->duration, st->time_base, AVRational{1, kLayerRate});
    if (m_fmt->duration != AV_NOPTS_VALUE && m_fmt->duration > 0)
        return av_rescale_q(m_fmt->duration, AVRational{1, AV_TIME_BASE},
                            AVRational{1, kLayerRate});
    return -1;
}

std::int64_t AudioDecoder::ScanFrames() {
    if (!m_fmt)
        return -1;
    const AVStream* st = m_fmt->streams[m_index];
    const int rate = st->codecpar->sample_rate;
    const AVRational sampleBase{1, rate};
    // Packet durations are exact for MPEG audio and plain PCM; for other codecs
    // (Vorbis, AAC...) only a full decode gives the sample count.
    const AVCodecID codec = st->codecpar->codec_id;
    const bool packetsExact = codec == AV_CODEC_ID_MP3 || codec == AV_CODEC_ID_MP2 ||
                              codec == AV_CODEC_ID_MP1 || av_get_exact_bits_per_sample(codec) > 0;
    std::int64_t samples = 0;
    std::int64_t skipLeft = 0; // a start skip longer than a packet goes on into the next
    bool durationsKnown = packetsExact;
    bool anyPacket = false;
    while (durationsKnown && av_read_frame(m_fmt, m_pkt) >= 0) {
        if (m_pkt->stream_index == m_index) {
            anyPacket = true;
            if (m_pkt->duration <= 0) {
                durationsKnown = false;
                av_packet_unref(m_pkt);
                break;
            }
            std::int64_t n = av_rescale_q(m_pkt->duration, st->time_base, sampleBase);
            size_t size = 0;
            const std::uint8_t* skip =
                av_packet_get_side_data(m_pkt, AV_PKT_DATA_SKIP_SAMPLES, &size);
            if (skip && size >= 8) {
                skipLeft += ReadLe32(skip);
                n -= std::min<std::int64_t>(n, ReadLe32(skip + 4));
            }
            const std::int64_t skipped = std::min(n, skipLeft);
            n -= skipped;
            skipLeft -= skipped;
            samples += n;
        }
        av_packet_unref(m_pkt);
    }
    if (!durationsKnown) {
        const std::string path = m_path;
        if (!Open(path, true))
            return -1;
        return DecodeAllFrames();
    }
    if (!anyPacket)
        return -1;
    return av_rescale_rnd(samples, kLayerRate, rate, AV_ROUND_NEAR_INF);
}

std::int64_t AudioDecoder::DecodeAllFrames() {
    std::int64_t frames = 0;
    std::vector<float> chunk;
    while (true) {
        chunk.clear();
        if (!Decode(chunk))
            break;
        frames += std::int64_t(chunk.size() / 2);
    }
    return frames;
}

bool AudioDecoder::ConfigureResampler(const AVFrame* frame, std::vector<float>& out) {
    AVChannelLayout in{};
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC ||
        frame->ch_layout.order == AV_CHANNEL_ORDER_CUSTOM)
        av_channel_layout_default(&in, frame->ch_layout.nb_channels);
    else
        av_channel_layout_copy(&in, &frame->ch_layout);
    const std::uint64_t mask = in.order == AV_CHANNEL_ORDER_NATIVE ? in.u.mask : 0;
    if (m_swr && m_swrFormat == frame->format && m_swrRate == frame->sample_rate &&
        m_swrChannels == in.nb_channels && m_swrMask == mask) {
        av_channel_layout_uninit(&in);
        return true;
    }
    if (m_swr) {
        FlushResampler(out);
        swr_free(&m_swr);
    }
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    int rc = swr_alloc_set_opts2(&m_swr, &stereo, AV_SAMPLE_FMT_FLT, kLayerRate, &in,
                                 AVSampleFormat(frame->format), frame->sample_rate, 0, nullptr);
    if (rc >= 0 && in.nb_channels == 1) {
        // A mono file keeps its level: its one channel goes to both sides unchanged
        // (the default upmix lowers it by 3 dB).
        const double matrix[2] = {1.0, 1.0};
        rc = swr_set_matrix(m_swr, matrix, 1);
    }
    if (rc >= 0)
        rc = swr_init(m_swr);
    av_channel_layout_uninit(&in);
    if (rc < 0) {
        swr_free(&m_swr);
        return false;
    }
    m_swrFormat = frame->format;
    m_swrRate = frame->sample_rate;
    m_swrChannels = frame->ch_layout.nb_channels;
    m_swrMask = mask;
    return true;
}

void AudioDecoder::Convert(const AVFrame* frame, std::vector<float>& out) {
    if (!ConfigureResampler(frame, out))
        return;
    const int room = swr_get_out_samples(m_swr, frame->nb_samples);
    if (room <= 0)
        return;
    const size_t old = out.size();
    out.resize(old + size_t(room) * 2);
    auto* dst = reinterpret_cast<std::uint8_t*>(out.data() + old);
    const int n =
        swr_convert(m_swr, &dst, room, const_cast<const std::uint8_t**>(frame->extended_data),
                    frame->nb_samples);
    out.resize(old + size_t(std::max(n, 0)) * 2);
}

void AudioDecoder::FlushResampler(std::vector<float>& out) {
    if (!m_swr)
        return;
    while (true) {
        const int room = swr_get_out_samples(m_swr, 0);
        if (room <= 0)
            return;
        const size_t old = out.size();
        out.resize(old + size_t(room) * 2);
        auto* dst = reinterpret_cast<std::uint8_t*>(out.data() + old);
        const int n = swr_convert(m_swr, &dst, room, nullptr, 0);
        out.resize(old + size_t(std::max(n, 0)) * 2);
        if (n <= 0)
            return;
    }
}

bool AudioDecoder::Decode(std::vector<float>& out) {
    if (!m_ctx || m_finished)
        return false;
    const size_t before = out.size();
    while (!m_finished) {
        const int rc = avcodec_receive_frame(m_ctx, m_frame);
        if (rc == 0) {
            Convert(m_frame, out);
            av_frame_unref(m_frame);
            if (out.size() > before)
                return true;
            continue;
        }
        if (rc == AVERROR(EAGAIN) && !m_flushSent) {
            // Needs input: the next packet of the audio stream, or the flush at the
            // end of the file (a read error of a truncated file ends it too).
            while (true) {
                if (av_read_frame(m_fmt, m_pkt) < 0) {
                    avcodec_send_packet(m_ctx, nullptr);
                    m_flushSent = true;
                    break;
                }
                if (m_pkt->stream_index == m_index) {
                    // Damaged packets are skipped.
                    avcodec_send_packet(m_ctx, m_pkt);
                    av_packet_unref(m_pkt);
                    break;
                }
                av_packet_unref(m_pkt);
            }
            continue;
        }
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF || m_flushSent) {
            FlushResampler(out);
            m_finished = true;
            break;
        }
        // A decoding error on one packet: go on with the next one.
        if (!m_flushSent) {
            if (av_read_frame(m_fmt, m_pkt) < 0) {
                avcodec_send_packet(m_ctx, nullptr);
                m_flushSent = true;
            } else {
                if (m_pkt->stream_index == m_index)
                    avcodec_send_packet(m_ctx, m_pkt);
                av_packet_unref(m_pkt);
            }
        }
    }
    return out.size() > before;
}

} // namespace tavoria::audio
