#include "support/ToneProbe.h"

#include <cstdint>

#include "Services/FFBindings.h"

namespace tovamo::test {
namespace {

// Sample i of the first channel, in [-1, 1].
double FirstChannelSample(const AVFrame* frame, int i) {
  const auto format = AVSampleFormat(frame->format);
  const bool planar = ff::av_sample_fmt_is_planar(format);
  const int at = planar ? i : i * frame->ch_layout.nb_channels;
  const std::uint8_t* data = frame->extended_data[0];
  switch (format) {
    case AV_SAMPLE_FMT_S16:
    case AV_SAMPLE_FMT_S16P:
      return reinterpret_cast<const std::int16_t*>(data)[at] / 32768.0;
    case AV_SAMPLE_FMT_S32:
    case AV_SAMPLE_FMT_S32P:
      return reinterpret_cast<const std::int32_t*>(data)[at] / 2147483648.0;
    case AV_SAMPLE_FMT_FLT:
    case AV_SAMPLE_FMT_FLTP:
      return reinterpret_cast<const float*>(data)[at];
    case AV_SAMPLE_FMT_DBL:
    case AV_SAMPLE_FMT_DBLP:
      return reinterpret_cast<const double*>(data)[at];
    default:
      return 0;
  }
}

}  // namespace

double ToneFrequency(const std::string& path, double fromSeconds, double seconds) {
  AVFormatContext* ctx = nullptr;
  if (ff::avformat_open_input(&ctx, path.c_str(), nullptr, nullptr) < 0) return 0;
  ff::avformat_find_stream_info(ctx, nullptr);
  int audio = -1;
  for (unsigned i = 0; i < ctx->nb_streams && audio < 0; ++i)
    if (ctx->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) audio = int(i);
  const AVCodec* codec =
      audio < 0 ? nullptr : ff::avcodec_find_decoder(ctx->streams[audio]->codecpar->codec_id);
  AVCodecContext* dec = codec ? ff::avcodec_alloc_context3(codec) : nullptr;
  double frequency = 0;
  if (dec && ff::avcodec_parameters_to_context(dec, ctx->streams[audio]->codecpar) >= 0 &&
      ff::avcodec_open2(dec, codec, nullptr) >= 0) {
    AVPacket* pkt = ff::av_packet_alloc();
    AVFrame* frame = ff::av_frame_alloc();
    std::int64_t position = 0, first = -1, last = -1;
    int crossings = 0;
    bool low = false, done = false;
    auto take = [&] {
      while (!done && ff::avcodec_receive_frame(dec, frame) >= 0) {
        const double rate = frame->sample_rate;
        for (int i = 0; i < frame->nb_samples && !done; ++i, ++position) {
          const double t = double(position) / rate;
          if (t < fromSeconds) continue;
          if (t > fromSeconds + seconds) {
            done = true;
            break;
          }
          // A rise through zero, with a margin against the coding noise.
          const double v = FirstChannelSample(frame, i);
          if (v < -0.05) low = true;
          if (low && v > 0.05) {
            low = false;
            if (first < 0)
              first = position;
            else
              ++crossings;
            last = position;
          }
        }
        if (crossings > 0 && last > first) frequency = crossings * rate / double(last - first);
        ff::av_frame_unref(frame);
      }
    };
    while (!done && ff::av_read_frame(ctx, pkt) >= 0) {
      if (pkt->stream_index == audio && ff::avcodec_send_packet(dec, pkt) >= 0) take();
      ff::av_packet_unref(pkt);
    }
    ff::av_frame_free(&frame);
    ff::av_packet_free(&pkt);
  }
  ff::avcodec_free_context(&dec);
  ff::avformat_close_input(&ctx);
  return frequency;
}

}  // namespace tovamo::test
