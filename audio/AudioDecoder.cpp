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
    if (swr_)
        swr_free(&swr_);
    if (ctx_)
        avcodec_free_context(&ctx_);
    if (fmt_)
        avformat_close_input(&fmt_);
    if (pkt_)
        av_packet_free(&pkt_);
    if (frame_)
        av_frame_free(&frame_);
    index_ = -1;
    flushSent_ = false;
    finished_ = false;
    swrFormat_ = -1;
    swrRate_ = 0;
    swrChannels_ = 0;
    swrMask_ = 0;
}

bool AudioDecoder::Open(const std::string& path, bool openCodec) {
    Close();
    path_ = path;
    if (path.empty())
        return false;
    AVFormatContext* fmt = nullptr;
    if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0)
        return false;
    fmt_ = fmt;
    if (avformat_find_stream_info(fmt_, nullptr) < 0) {
        Close();
        return false;
    }
    const AVCodec* codec = nullptr;
    index_ = av_find_best_stream(fmt_, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (index_ < 0 || codec == nullptr) {
        Close();
        return false;
    }
    const AVCodecParameters* par = fmt_->streams[index_]->codecpar;
    if (par->sample_rate <= 0 || par->ch_layout.nb_channels <= 0) {
        Close();
        return false;
    }
    // Only the audio stream is read; cover pictures and other streams are skipped
    // by the demuxer.
    for (unsigned i = 0; i < fmt_->nb_streams; ++i)
        if (int(i) != index_)
            fmt_->streams[i]->discard = AVDISCARD_ALL;
    pkt_ = av_packet_alloc();
    frame_ = av_frame_alloc();
    if (!pkt_ || !frame_) {
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
    const AVCodecParameters* par = fmt_->streams[index_]->codecpar;
    const AVCodec* codec = avcodec_find_decoder(par->codec_id);
    if (!codec)
        return false;
    ctx_ = avcodec_alloc_context3(codec);
    if (!ctx_)
        return false;
    if (avcodec_parameters_to_context(ctx_, par) < 0) {
        avcodec_free_context(&ctx_);
        return false;
    }
    ctx_->pkt_timebase = fmt_->streams[index_]->time_base;
    ctx_->thread_count = 1;
    if (avcodec_open2(ctx_, codec, nullptr) < 0) {
        avcodec_free_context(&ctx_);
        return false;
    }
    return true;
}

std::int64_t AudioDecoder::EstimatedFrames() const {
    if (!fmt_)
        return -1;
    const AVStream* st = fmt_->streams[index_];
    if (st->duration != AV_NOPTS_VALUE && st->duration > 0)
        return av_rescale_q(st->duration, st->time_base, AVRational{1, kLayerRate});
    if (fmt_->duration != AV_NOPTS_VALUE && fmt_->duration > 0)
        return av_rescale_q(fmt_->duration, AVRational{1, AV_TIME_BASE}, AVRational{1, kLayerRate});
    return -1;
}

std::int64_t AudioDecoder::ScanFrames() {
    if (!fmt_)
        return -1;
    const AVStream* st = fmt_->streams[index_];
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
    while (durationsKnown && av_read_frame(fmt_, pkt_) >= 0) {
        if (pkt_->stream_index == index_) {
            anyPacket = true;
            if (pkt_->duration <= 0) {
                durationsKnown = false;
                av_packet_unref(pkt_);
                break;
            }
            std::int64_t n = av_rescale_q(pkt_->duration, st->time_base, sampleBase);
            size_t size = 0;
            const std::uint8_t* skip =
                av_packet_get_side_data(pkt_, AV_PKT_DATA_SKIP_SAMPLES, &size);
            if (skip && size >= 8) {
                skipLeft += ReadLe32(skip);
                n -= std::min<std::int64_t>(n, ReadLe32(skip + 4));
            }
            const std::int64_t skipped = std::min(n, skipLeft);
            n -= skipped;
            skipLeft -= skipped;
            samples += n;
        }
        av_packet_unref(pkt_);
    }
    if (!durationsKnown) {
        const std::string path = path_;
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
    if (swr_ && swrFormat_ == frame->format && swrRate_ == frame->sample_rate &&
        swrChannels_ == in.nb_channels && swrMask_ == mask) {
        av_channel_layout_uninit(&in);
        return true;
    }
    if (swr_) {
        FlushResampler(out);
        swr_free(&swr_);
    }
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    int rc = swr_alloc_set_opts2(&swr_, &stereo, AV_SAMPLE_FMT_FLT, kLayerRate, &in,
                                 AVSampleFormat(frame->format), frame->sample_rate, 0, nullptr);
    if (rc >= 0 && in.nb_channels == 1) {
        // A mono file keeps its level: its one channel goes to both sides unchanged
        // (the default upmix lowers it by 3 dB).
        const double matrix[2] = {1.0, 1.0};
        rc = swr_set_matrix(swr_, matrix, 1);
    }
    if (rc >= 0)
        rc = swr_init(swr_);
    av_channel_layout_uninit(&in);
    if (rc < 0) {
        swr_free(&swr_);
        return false;
    }
    swrFormat_ = frame->format;
    swrRate_ = frame->sample_rate;
    swrChannels_ = frame->ch_layout.nb_channels;
    swrMask_ = mask;
    return true;
}

void AudioDecoder::Convert(const AVFrame* frame, std::vector<float>& out) {
    if (!ConfigureResampler(frame, out))
        return;
    const int room = swr_get_out_samples(swr_, frame->nb_samples);
    if (room <= 0)
        return;
    const size_t old = out.size();
    out.resize(old + size_t(room) * 2);
    auto* dst = reinterpret_cast<std::uint8_t*>(out.data() + old);
    const int n =
        swr_convert(swr_, &dst, room, const_cast<const std::uint8_t**>(frame->extended_data),
                    frame->nb_samples);
    out.resize(old + size_t(std::max(n, 0)) * 2);
}

void AudioDecoder::FlushResampler(std::vector<float>& out) {
    if (!swr_)
        return;
    while (true) {
        const int room = swr_get_out_samples(swr_, 0);
        if (room <= 0)
            return;
        const size_t old = out.size();
        out.resize(old + size_t(room) * 2);
        auto* dst = reinterpret_cast<std::uint8_t*>(out.data() + old);
        const int n = swr_convert(swr_, &dst, room, nullptr, 0);
        out.resize(old + size_t(std::max(n, 0)) * 2);
        if (n <= 0)
            return;
    }
}

bool AudioDecoder::Decode(std::vector<float>& out) {
    if (!ctx_ || finished_)
        return false;
    const size_t before = out.size();
    while (!finished_) {
        const int rc = avcodec_receive_frame(ctx_, frame_);
        if (rc == 0) {
            Convert(frame_, out);
            av_frame_unref(frame_);
            if (out.size() > before)
                return true;
            continue;
        }
        if (rc == AVERROR(EAGAIN) && !flushSent_) {
            // Needs input: the next packet of the audio stream, or the flush at the
            // end of the file (a read error of a truncated file ends it too).
            while (true) {
                if (av_read_frame(fmt_, pkt_) < 0) {
                    avcodec_send_packet(ctx_, nullptr);
                    flushSent_ = true;
                    break;
                }
                if (pkt_->stream_index == index_) {
                    // Damaged packets are skipped.
                    avcodec_send_packet(ctx_, pkt_);
                    av_packet_unref(pkt_);
                    break;
                }
                av_packet_unref(pkt_);
            }
            continue;
        }
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF || flushSent_) {
            FlushResampler(out);
            finished_ = true;
            break;
        }
        // A decoding error on one packet: go on with the next one.
        if (!flushSent_) {
            if (av_read_frame(fmt_, pkt_) < 0) {
                avcodec_send_packet(ctx_, nullptr);
                flushSent_ = true;
            } else {
                if (pkt_->stream_index == index_)
                    avcodec_send_packet(ctx_, pkt_);
                av_packet_unref(pkt_);
            }
        }
    }
    return out.size() > before;
}

} // namespace tavoria::audio
