#include "Authoring/TitleThumbnail.h"

#include <algorithm>
#include <cmath>

#include "Components/FFDecode.h"
#include "Services/FFBindings.h"
#include "Services/FFCodecLock.h"

namespace tovamo::authoring {

namespace {

// Below this mean brightness a frame is taken for black.
constexpr double kDarkBelow = 40;
// Frames decoded at each place before going further in.
constexpr int kFramesPerPlace = 12;
// Where to look, as fractions of the length: a tenth in first.
constexpr double kPlaces[] = {0.10, 0.20, 0.35, 0.50, 0.05};

struct TDecodeState {
  AVFormatContext* Format = nullptr;
  AVStream* Stream = nullptr;
  AVCodecContext* Codec = nullptr;
  AVFrame* Frame = nullptr;
  AVPacket* Packet = nullptr;
  SwsContext* Scaler = nullptr;
  ~TDecodeState() {
    if (Scaler) ff::sws_freeContext(Scaler);
    if (Packet) ff::av_packet_free(&Packet);
    if (Frame) ff::av_frame_free(&Frame);
    if (Codec) {
      TCodecLockGuard lock;
      ff::avcodec_free_context(&Codec);
    }
  }
};

TMenuThumbnail Scale(TDecodeState& s, int maxWidth, int maxHeight) {
  const AVFrame* f = s.Frame;
  AVRational sar = ff::av_guess_sample_aspect_ratio(s.Format, s.Stream, s.Frame);
  const double pixel = sar.num > 0 && sar.den > 0 ? double(sar.num) / sar.den : 1.0;
  const double aspect = f->width * pixel / f->height;
  TMenuThumbnail picture;
  picture.Width = maxWidth;
  picture.Height = int(std::lround(maxWidth / aspect));
  if (picture.Height > maxHeight) {
    picture.Height = maxHeight;
    picture.Width = int(std::lround(maxHeight * aspect));
  }
  picture.Width = std::max(2, picture.Width);
  picture.Height = std::max(2, picture.Height);
  s.Scaler = ff::sws_getCachedContext(s.Scaler, f->width, f->height, AVPixelFormat(f->format),
                                      picture.Width, picture.Height, AV_PIX_FMT_RGB24, SWS_BILINEAR,
                                      nullptr, nullptr, nullptr);
  if (!s.Scaler) return {};
  picture.Rgb.resize(std::size_t(picture.Width) * picture.Height * 3);
  std::uint8_t* planes[4] = {picture.Rgb.data(), nullptr, nullptr, nullptr};
  int strides[4] = {picture.Width * 3, 0, 0, 0};
  ff::sws_scale(s.Scaler, f->data, f->linesize, 0, f->height, planes, strides);
  return picture;
}

}  // namespace

double MeanBrightness(const TMenuThumbnail& picture) {
  if (picture.Empty()) return 0;
  double sum = 0;
  for (std::size_t i = 0; i + 2 < picture.Rgb.size(); i += 3)
    sum += 0.299 * picture.Rgb[i] + 0.587 * picture.Rgb[i + 1] + 0.114 * picture.Rgb[i + 2];
  return sum / (double(picture.Rgb.size()) / 3);
}

TMenuThumbnail TakeThumbnail(const std::string& file, double seconds, int maxWidth, int maxHeight,
                             std::string& error) {
  TFFDecoder decoder;
  if (!decoder.Open(file)) {
    error = decoder.LastError();
    return {};
  }
  TDecodeState s;
  s.Format = decoder.Context();
  const int index = decoder.FirstVideoStreamIndex();
  if (index < 0) {
    error = file + ": no video";
    return {};
  }
  s.Stream = s.Format->streams[index];
  const AVCodec* codec = ff::avcodec_find_decoder(s.Stream->codecpar->codec_id);
  s.Codec = codec ? ff::avcodec_alloc_context3(codec) : nullptr;
  s.Frame = ff::av_frame_alloc();
  s.Packet = ff::av_packet_alloc();
  if (!s.Codec || !s.Frame || !s.Packet ||
      ff::avcodec_parameters_to_context(s.Codec, s.Stream->codecpar) < 0) {
    error = file + ": no decoder for its video";
    return {};
  }
  {
    TCodecLockGuard lock;
    if (ff::avcodec_open2(s.Codec, codec, nullptr) < 0) {
      error = file + ": its video decoder does not open";
      return {};
    }
  }
  if (seconds <= 0 && s.Format->duration > 0) seconds = double(s.Format->duration) / AV_TIME_BASE;
  const std::int64_t start = decoder.StartTime();

  TMenuThumbnail brightest;
  double brightestLevel = -1;
  for (const double place : kPlaces) {
    const std::int64_t at = start + std::int64_t(seconds * place * AV_TIME_BASE);
    if (ff::avformat_seek_file(s.Format, -1, INT64_MIN, at, at, 0) < 0 && place != kPlaces[0])
      continue;
    ff::avcodec_flush_buffers(s.Codec);
    const std::int64_t wanted = ff::av_rescale_q(at, AV_TIME_BASE_Q, s.Stream->time_base);
    int shown = 0, reads = 0;
    // The reads are bounded too: a stream whose packets never decode must not keep us.
    while (shown < kFramesPerPlace && reads < 2000) {
      const int got = ff::av_read_frame(s.Format, s.Packet);
      ++reads;
      if (got >= 0 && s.Packet->stream_index != index) {
        ff::av_packet_unref(s.Packet);
        continue;
      }
      ff::avcodec_send_packet(s.Codec, got >= 0 ? s.Packet : nullptr);
      if (got >= 0) ff::av_packet_unref(s.Packet);
      bool ended = false;
      while (true) {
        const int ret = ff::avcodec_receive_frame(s.Codec, s.Frame);
        if (ret == AVERROR_EOF) ended = true;
        if (ret < 0) break;
        const std::int64_t pts = s.Frame->best_effort_timestamp;
        // Frames before the place (from the key frame the seek landed on) are not it.
        if (pts != AV_NOPTS_VALUE && pts < wanted && got >= 0) continue;
        ++shown;
        TMenuThumbnail picture = Scale(s, maxWidth, maxHeight);
        const double level = MeanBrightness(picture);
        if (level >= kDarkBelow) return picture;
        if (level > brightestLevel) {
          brightestLevel = level;
          brightest = std::move(picture);
        }
      }
      if (got < 0 || ended) break;
    }
  }
  if (brightest.Empty()) error = file + ": no picture of its video could be decoded";
  return brightest;
}

}  // namespace tovamo::authoring
