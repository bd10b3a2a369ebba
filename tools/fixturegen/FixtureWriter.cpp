#include "FixtureWriter.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/display.h>
#include <libavutil/error.h>
#include <libavutil/mathematics.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libavutil/stereo3d.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace fixturegen {
namespace {

std::string ErrorText(int err) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(err, text, sizeof text);
  return text;
}

[[noreturn]] void Fail(const std::string& what, int err = 0) {
  throw std::runtime_error(err < 0 ? what + ": " + ErrorText(err) : what);
}

struct TCodecContextFree {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct TFrameFree {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct TPacketFree {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct TSwsFree {
  void operator()(SwsContext* s) const { sws_freeContext(s); }
};
struct TOutputFree {
  void operator()(AVFormatContext* oc) const {
    if (!(oc->oformat->flags & AVFMT_NOFILE)) avio_closep(&oc->pb);
    avformat_free_context(oc);
  }
};

using TCodecContext = std::unique_ptr<AVCodecContext, TCodecContextFree>;
using TFrame = std::unique_ptr<AVFrame, TFrameFree>;
using TPacket = std::unique_ptr<AVPacket, TPacketFree>;
using TSws = std::unique_ptr<SwsContext, TSwsFree>;
using TOutput = std::unique_ptr<AVFormatContext, TOutputFree>;

TFrame NewFrame() {
  TFrame frame(av_frame_alloc());
  if (!frame) Fail("out of memory");
  return frame;
}

// The first encoder of a comma-separated list that this libavcodec has, so that a row can
// name a preferred external encoder (libx264) and a built-in fallback.
const AVCodec* FindEncoder(const std::string& names, AVMediaType type) {
  std::istringstream list(names);
  std::string name;
  while (std::getline(list, name, ',')) {
    const AVCodec* codec = avcodec_find_encoder_by_name(name.c_str());
    if (codec && codec->type == type) return codec;
  }
  Fail("none of the encoders \"" + names + "\" is available");
}

// One sample value in [-1, 1] stored at (channel, index) of an audio frame in any of the
// plain integer or float sample formats, packed or planar.
void PutSample(AVFrame* frame, int channel, int index, double value) {
  const auto format = static_cast<AVSampleFormat>(frame->format);
  const bool planar = av_sample_fmt_is_planar(format);
  uint8_t* base = frame->extended_data[planar ? channel : 0];
  const int at = planar ? index : index * frame->ch_layout.nb_channels + channel;
  switch (av_get_packed_sample_fmt(format)) {
    case AV_SAMPLE_FMT_U8:
      base[at] = static_cast<uint8_t>(std::lrint(value * 127.0) + 128);
      break;
    case AV_SAMPLE_FMT_S16:
      reinterpret_cast<int16_t*>(base)[at] = static_cast<int16_t>(std::lrint(value * 32767.0));
      break;
    case AV_SAMPLE_FMT_S32:
      reinterpret_cast<int32_t*>(base)[at] = static_cast<int32_t>(std::lrint(value * 2147483647.0));
      break;
    case AV_SAMPLE_FMT_S64:
      reinterpret_cast<int64_t*>(base)[at] = std::llround(value * 9.2233720368547e18);
      break;
    case AV_SAMPLE_FMT_FLT:
      reinterpret_cast<float*>(base)[at] = static_cast<float>(value);
      break;
    case AV_SAMPLE_FMT_DBL:
      reinterpret_cast<double*>(base)[at] = value;
      break;
    default:
      Fail(std::string("unsupported sample format ") + av_get_sample_fmt_name(format));
  }
}

// The test picture in YUV 4:2:0: a luma gradient that drifts every frame and a bright
// vertical bar sweeping from the left edge to the right edge over the whole clip, so that
// every frame differs from the previous one and motion is visible in a preview.
void DrawPicture(AVFrame* frame, int index, int frameCount, bool cornerMark) {
  const int w = frame->width;
  const int h = frame->height;
  const int barWidth = std::max(4, w / 10);
  const int barX = frameCount > 1 ? index * (w - barWidth) / (frameCount - 1) : 0;
  for (int y = 0; y < h; ++y) {
    uint8_t* row = frame->data[0] + static_cast<ptrdiff_t>(y) * frame->linesize[0];
    for (int x = 0; x < w; ++x) {
      const bool bar = x >= barX && x < barX + barWidth;
      row[x] = bar ? 235 : static_cast<uint8_t>(16 + (x + y + index * 3) % 180);
    }
  }
  // A mark that tells up from down and left from right once the picture is turned.
  for (int y = 0; cornerMark && y < h / 5; ++y)
    std::memset(frame->data[0] + static_cast<ptrdiff_t>(y) * frame->linesize[0], 235, w / 5);
  const int cw = (w + 1) / 2;
  const int ch = (h + 1) / 2;
  for (int y = 0; y < ch; ++y) {
    uint8_t* u = frame->data[1] + static_cast<ptrdiff_t>(y) * frame->linesize[1];
    uint8_t* v = frame->data[2] + static_cast<ptrdiff_t>(y) * frame->linesize[2];
    for (int x = 0; x < cw; ++x) {
      u[x] = static_cast<uint8_t>(96 + (x * 2 + index) % 64);
      v[x] = static_cast<uint8_t>(96 + (y * 2 + index * 2) % 64);
    }
  }
}

// A flat grey picture, the stand-in for album art or a thumbnail.
void DrawCover(AVFrame* frame) {
  const int heights[3] = {frame->height, (frame->height + 1) / 2, (frame->height + 1) / 2};
  const int widths[3] = {frame->width, (frame->width + 1) / 2, (frame->width + 1) / 2};
  const uint8_t values[3] = {200, 128, 128};
  for (int p = 0; p < 3; ++p)
    for (int y = 0; y < heights[p]; ++y)
      std::memset(frame->data[p] + static_cast<ptrdiff_t>(y) * frame->linesize[p], values[p],
                  widths[p]);
}

// Stores the upright YUV 4:2:0 picture turned counter-clockwise by `rotation`, so that a
// player turning it clockwise by that much shows it upright again.
void StoreTurned(AVFrame* stored, const AVFrame* upright, int rotation) {
  for (int p = 0; p < 3; ++p) {
    const int shift = p == 0 ? 0 : 1;
    const int uw = upright->width >> shift, uh = upright->height >> shift;
    const int sw = stored->width >> shift, sh = stored->height >> shift;
    for (int y = 0; y < sh; ++y) {
      uint8_t* row = stored->data[p] + static_cast<ptrdiff_t>(y) * stored->linesize[p];
      for (int x = 0; x < sw; ++x) {
        int ux = x, uy = y;
        if (rotation == 90) {
          ux = uw - 1 - y;
          uy = x;
        } else if (rotation == 180) {
          ux = uw - 1 - x;
          uy = uh - 1 - y;
        } else if (rotation == 270) {
          ux = y;
          uy = uh - 1 - x;
        }
        row[x] = upright->data[p][static_cast<ptrdiff_t>(uy) * upright->linesize[p] + ux];
      }
    }
  }
}

// The stream's base pitch on the first channel, 110 Hz higher on each further one, so that
// a swapped or dropped channel shows; the LFE channel gets 60 Hz, which encoders keep below
// their low-pass (AC-3 cuts the LFE channel at 120 Hz).
double TonePitch(const AVChannelLayout& layout, int channel, double base) {
  if (av_channel_layout_channel_from_index(&layout, channel) == AV_CHAN_LOW_FREQUENCY) return 60.0;
  return base + 110.0 * channel;
}

struct TOutputStream {
  AVMediaType Type = AVMEDIA_TYPE_UNKNOWN;
  AVStream* Stream = nullptr;
  TCodecContext Codec;    // none for subtitles: a SubRip packet is the cue's text
  AVRational Base{1, 1};  // unit of Next and End: the encoder's time base
  int64_t Next = 0;       // timestamp of the next frame or cue
  int64_t End = 0;        // first timestamp not to produce
  double StartSeconds = 0;
  int64_t Offset = 0;  // StartSeconds in the stream's time base, added to every packet
  bool Done = false;
  TFrame Frame;  // what the encoder gets
  // Video: the picture is drawn in YUV 4:2:0 and converted when the encoder wants another
  // pixel format.
  const TVideoSpec* VideoSpec = nullptr;
  TFrame Source;
  TSws Scaler;
  TFrame Upright;   // the picture as shown, when it is stored turned
  size_t Step = 0;  // index into FrameSteps
  // Audio
  double Pitch = 440;
  // Subtitles: index of the next cue
  size_t Cue = 0;

  // When the next frame or cue is due, in seconds. One exact division, so that equal
  // times in different units compare equal and the streams interleave the same each run.
  double Time() const { return static_cast<double>(Next * Base.num) / Base.den + StartSeconds; }
};

class TWriter {
 public:
  TWriter(const TFixtureSpec& spec, const std::string& path) : Spec_(spec), Path_(path) {}

  std::string Run() {
    AVFormatContext* oc = nullptr;
    int ret = avformat_alloc_output_context2(&oc, nullptr, Spec_.Muxer.c_str(), Path_.c_str());
    if (ret < 0 || !oc)
      Fail("muxer \"" + Spec_.Muxer + "\"", ret < 0 ? ret : AVERROR_MUXER_NOT_FOUND);
    Out_.reset(oc);
    // No creation time, encoder version or random ids: the same table writes the same bytes.
    Out_->flags |= AVFMT_FLAG_BITEXACT;

    if (Spec_.Video) OpenVideo(*Spec_.Video);
    for (const TAudioSpec& a : Spec_.Audio) OpenAudio(a);
    if (Spec_.Cover) OpenCover(*Spec_.Cover);
    if (!Spec_.Subtitles.empty()) OpenSubtitles();
    if (Streams_.empty()) Fail("no stream to write");

    if (!(Out_->oformat->flags & AVFMT_NOFILE)) {
      ret = avio_open(&Out_->pb, Path_.c_str(), AVIO_FLAG_WRITE);
      if (ret < 0) Fail("cannot create " + Path_, ret);
    }
    WriteHeader();
    if (Spec_.Cover) WriteCover();
    // The muxer may have changed the streams' time bases.
    for (auto& s : Streams_)
      s->Offset = av_rescale_q(std::llround(s->StartSeconds * AV_TIME_BASE), AV_TIME_BASE_Q,
                               s->Stream->time_base);

    Packet_.reset(av_packet_alloc());
    if (!Packet_) Fail("out of memory");
    // The stream whose next frame is due first goes next; on a tie the one added first.
    for (;;) {
      TOutputStream* next = nullptr;
      for (auto& s : Streams_)
        if (!s->Done && (!next || s->Time() < next->Time())) next = s.get();
      if (!next) break;
      switch (next->Type) {
        case AVMEDIA_TYPE_VIDEO:
          StepVideo(*next);
          break;
        case AVMEDIA_TYPE_AUDIO:
          StepAudio(*next);
          break;
        default:
          StepSubtitle(*next);
          break;
      }
    }

    ret = av_write_trailer(Out_.get());
    if (ret < 0) Fail("writing the trailer", ret);
    if (!(Out_->oformat->flags & AVFMT_NOFILE)) {
      ret = avio_closep(&Out_->pb);
      if (ret < 0) Fail("closing " + Path_, ret);
    }
    return Summary();
  }

 private:
  void WriteHeader() {
    AVDictionary* options = nullptr;
    int ret = av_dict_parse_string(&options, Spec_.MuxerOptions.c_str(), "=", ":", 0);
    if (ret >= 0) ret = avformat_write_header(Out_.get(), &options);
    // What is left in the dictionary is what neither the context nor the muxer knew.
    const AVDictionaryEntry* unknown = av_dict_get(options, "", nullptr, AV_DICT_IGNORE_SUFFIX);
    const std::string unknownKey = unknown ? unknown->key : "";
    av_dict_free(&options);
    if (ret < 0) Fail("writing the header", ret);
    if (!unknownKey.empty()) Fail("muxer " + Spec_.Muxer + " has no option " + unknownKey);
  }

  void ConfigureCommon(AVCodecContext* c) {
    c->thread_count = 1;  // threaded encoders may split work differently from run to run
    c->flags |= AV_CODEC_FLAG_BITEXACT;
    if (Out_->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  }

  TOutputStream& NewOutputStream(AVMediaType type) {
    Streams_.push_back(std::make_unique<TOutputStream>());
    Streams_.back()->Type = type;
    return *Streams_.back();
  }

  AVStream* AddStream(TOutputStream& s) {
    AVStream* st = avformat_new_stream(Out_.get(), nullptr);
    if (!st) Fail("out of memory");
    int ret = avcodec_parameters_from_context(st->codecpar, s.Codec.get());
    if (ret < 0) Fail("stream parameters", ret);
    st->time_base = s.Codec->time_base;
    s.Base = s.Codec->time_base;
    // The encoder's buffer model (CPB properties) goes on the stream: the MPEG program
    // stream muxers size their packet schedule from it.
    for (int i = 0; i < s.Codec->nb_coded_side_data; ++i) {
      const AVPacketSideData& sd = s.Codec->coded_side_data[i];
      uint8_t* data = av_stream_new_side_data(st, sd.type, sd.size);
      if (!data) Fail("out of memory");
      std::memcpy(data, sd.data, sd.size);
    }
    return st;
  }

  void OpenVideo(const TVideoSpec& v) {
    TOutputStream& s = NewOutputStream(AVMEDIA_TYPE_VIDEO);
    const AVCodec* codec = FindEncoder(v.Encoders, AVMEDIA_TYPE_VIDEO);
    s.Codec.reset(avcodec_alloc_context3(codec));
    AVCodecContext* c = s.Codec.get();
    if (!c) Fail("out of memory");
    c->width = v.Width;
    c->height = v.Height;
    c->framerate = AVRational{v.RateNum, v.RateDen};
    c->time_base = AVRational{v.RateDen, v.RateNum};
    c->pix_fmt = codec->pix_fmts ? codec->pix_fmts[0] : AV_PIX_FMT_YUV420P;
    if (!v.PixelFormat.empty()) c->pix_fmt = av_get_pix_fmt(v.PixelFormat.c_str());
    if (c->pix_fmt == AV_PIX_FMT_NONE) Fail("unknown pixel format " + v.PixelFormat);
    c->sample_aspect_ratio = AVRational{v.SampleAspectNum, v.SampleAspectDen};
    c->gop_size = 12;
    if (v.MaxBFrames > 0) c->max_b_frames = v.MaxBFrames;  // else the encoder's own default
    c->bit_rate = 400000;
    if (v.Interlaced) {
      c->flags |= AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME;
      c->field_order = AV_FIELD_TT;
    }
    ConfigureCommon(c);
    AVDictionary* options = nullptr;
    int ret = av_dict_parse_string(&options, v.EncoderOptions.c_str(), "=", ":", 0);
    if (ret >= 0) ret = avcodec_open2(c, codec, &options);
    const AVDictionaryEntry* unknown = av_dict_get(options, "", nullptr, AV_DICT_IGNORE_SUFFIX);
    const std::string unknownKey = unknown ? unknown->key : "";
    av_dict_free(&options);
    if (ret < 0)
      Fail(std::string("video encoder ") + codec->name + " (" + std::to_string(v.Width) + "x" +
               std::to_string(v.Height) + ")",
           ret);
    if (!unknownKey.empty())
      Fail(std::string("video encoder ") + codec->name + " has no option " + unknownKey);
    s.Stream = AddStream(s);
    if (v.Rotation != 0) {
      if (v.Rotation != 90 && v.Rotation != 180 && v.Rotation != 270)
        Fail("a rotation must be 90, 180 or 270");
      auto* matrix = reinterpret_cast<int32_t*>(
          av_stream_new_side_data(s.Stream, AV_PKT_DATA_DISPLAYMATRIX, 9 * sizeof(int32_t)));
      if (!matrix) Fail("out of memory");
      // A matrix read back turns counter-clockwise by the angle it gives, and a phone's
      // portrait clip reads back as -90. The MP4 muxer stores the matrix given to it
      // transposed, so the angle given here is the clockwise turn.
      av_display_rotation_set(matrix, v.Rotation);
      const bool sideways = v.Rotation != 180;
      s.Upright = NewFrame();
      s.Upright->format = AV_PIX_FMT_YUV420P;
      s.Upright->width = sideways ? c->height : c->width;
      s.Upright->height = sideways ? c->width : c->height;
      const int got = av_frame_get_buffer(s.Upright.get(), 0);
      if (got < 0) Fail("video frame", got);
    }
    // A variable rate has no average to announce (Matroska would store it as the duration
    // of every frame).
    const bool steady =
        std::all_of(v.FrameSteps.begin(), v.FrameSteps.end(), [](int n) { return n == 1; });
    if (steady) s.Stream->avg_frame_rate = c->framerate;
    s.VideoSpec = &v;
    s.StartSeconds = v.StartSeconds;
    const double length = v.LengthSeconds > 0 ? v.LengthSeconds : Spec_.Seconds;
    s.End = std::llround(length * v.RateNum / v.RateDen);

    s.Frame = NewFrame();
    s.Frame->format = c->pix_fmt;
    s.Frame->width = c->width;
    s.Frame->height = c->height;
    ret = av_frame_get_buffer(s.Frame.get(), 0);
    if (ret < 0) Fail("video frame", ret);
    if (c->pix_fmt != AV_PIX_FMT_YUV420P) {
      s.Source = NewFrame();
      s.Source->format = AV_PIX_FMT_YUV420P;
      s.Source->width = c->width;
      s.Source->height = c->height;
      ret = av_frame_get_buffer(s.Source.get(), 0);
      if (ret < 0) Fail("video frame", ret);
      s.Scaler.reset(sws_getContext(c->width, c->height, AV_PIX_FMT_YUV420P, c->width, c->height,
                                    c->pix_fmt, SWS_BICUBIC | SWS_BITEXACT | SWS_ACCURATE_RND,
                                    nullptr, nullptr, nullptr));
      if (!s.Scaler)
        Fail(std::string("no conversion to pixel format ") + av_get_pix_fmt_name(c->pix_fmt));
    }
  }

  void OpenAudio(const TAudioSpec& a) {
    TOutputStream& s = NewOutputStream(AVMEDIA_TYPE_AUDIO);
    const AVCodec* codec = FindEncoder(a.Encoders, AVMEDIA_TYPE_AUDIO);
    const std::string name = codec->name;
    s.Codec.reset(avcodec_alloc_context3(codec));
    AVCodecContext* c = s.Codec.get();
    if (!c) Fail("out of memory");
    c->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
    if (codec->supported_samplerates) {
      const int* rate = codec->supported_samplerates;
      while (*rate && *rate != a.SampleRate) ++rate;
      if (!*rate)
        Fail("audio encoder " + name + " does not take " + std::to_string(a.SampleRate) + " Hz");
    }
    c->sample_rate = a.SampleRate;
    c->time_base = AVRational{1, a.SampleRate};
    int ret = 0;
    if (codec->ch_layouts) {
      const AVChannelLayout* layout = codec->ch_layouts;
      while (layout->nb_channels && layout->nb_channels != a.Channels) ++layout;
      if (!layout->nb_channels)
        Fail("audio encoder " + name + " does not take " + std::to_string(a.Channels) +
             " channels");
      ret = av_channel_layout_copy(&c->ch_layout, layout);
    } else {
      av_channel_layout_default(&c->ch_layout, a.Channels);
    }
    if (ret < 0) Fail("channel layout", ret);
    // 64 kbit/s per channel is a rate every lossy encoder here accepts at 44.1 and 48 kHz;
    // narrow-band audio gets less (AAC caps the rate by the sample rate).
    c->bit_rate = static_cast<int64_t>(std::min(64000, a.SampleRate * 4)) * a.Channels;
    ConfigureCommon(c);
    ret = avcodec_open2(c, codec, nullptr);
    if (ret < 0)
      Fail("audio encoder " + name + " (" + std::to_string(a.SampleRate) + " Hz, " +
               std::to_string(a.Channels) + " ch)",
           ret);
    s.Stream = AddStream(s);
    s.Pitch = a.Pitch;
    if (a.Default) s.Stream->disposition |= AV_DISPOSITION_DEFAULT;
    if (!a.Language.empty()) av_dict_set(&s.Stream->metadata, "language", a.Language.c_str(), 0);

    // PCM-like encoders report no frame size: any size does, so take a common one.
    const bool anySize =
        (codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) || c->frame_size <= 0;
    const int frameSize = anySize ? 1024 : c->frame_size;
    const int64_t wanted = std::llround(Spec_.Seconds * a.SampleRate);
    s.End = (wanted + frameSize - 1) / frameSize * frameSize;

    s.Frame = NewFrame();
    s.Frame->format = c->sample_fmt;
    s.Frame->sample_rate = c->sample_rate;
    s.Frame->nb_samples = frameSize;
    ret = av_channel_layout_copy(&s.Frame->ch_layout, &c->ch_layout);
    if (ret < 0) Fail("channel layout", ret);
    ret = av_frame_get_buffer(s.Frame.get(), 0);
    if (ret < 0) Fail("audio frame", ret);
  }

  // The cover: one picture, encoded now and written once the header is.
  void OpenCover(const TVideoSpec& v) {
    const AVCodec* codec = FindEncoder(v.Encoders, AVMEDIA_TYPE_VIDEO);
    Cover_.Codec.reset(avcodec_alloc_context3(codec));
    AVCodecContext* c = Cover_.Codec.get();
    if (!c) Fail("out of memory");
    c->width = v.Width;
    c->height = v.Height;
    c->time_base = AVRational{1, 25};
    c->pix_fmt = codec->pix_fmts ? codec->pix_fmts[0] : AV_PIX_FMT_YUV420P;
    c->sample_aspect_ratio = AVRational{1, 1};
    ConfigureCommon(c);
    c->flags &= ~AV_CODEC_FLAG_GLOBAL_HEADER;  // a picture stands alone
    int ret = avcodec_open2(c, codec, nullptr);
    if (ret < 0) Fail(std::string("cover encoder ") + codec->name, ret);
    Cover_.Stream = AddStream(Cover_);
    Cover_.Stream->disposition = AV_DISPOSITION_ATTACHED_PIC;
  }

  void WriteCover() {
    AVCodecContext* c = Cover_.Codec.get();
    TFrame picture = NewFrame();
    picture->format = c->pix_fmt;
    picture->width = c->width;
    picture->height = c->height;
    int ret = av_frame_get_buffer(picture.get(), 0);
    if (ret < 0) Fail("cover picture", ret);
    if (av_pix_fmt_desc_get(c->pix_fmt)->log2_chroma_h != 1) Fail("the cover must be 4:2:0");
    DrawCover(picture.get());
    picture->pts = 0;
    TPacket packet(av_packet_alloc());
    if (!packet) Fail("out of memory");
    ret = avcodec_send_frame(c, picture.get());
    if (ret >= 0) ret = avcodec_send_frame(c, nullptr);
    if (ret >= 0) ret = avcodec_receive_packet(c, packet.get());
    if (ret < 0) Fail("encoding the cover", ret);
    packet->stream_index = Cover_.Stream->index;
    packet->pts = packet->dts = 0;
    packet->flags |= AV_PKT_FLAG_KEY;
    // Written apart from the interleaving: the stream has this one packet only.
    ret = av_write_frame(Out_.get(), packet.get());
    if (ret < 0) Fail("writing the cover", ret);
  }

  // SubRip needs no encoder: each packet is the cue's text, timed in milliseconds.
  void OpenSubtitles() {
    TOutputStream& s = NewOutputStream(AVMEDIA_TYPE_SUBTITLE);
    s.Stream = avformat_new_stream(Out_.get(), nullptr);
    if (!s.Stream) Fail("out of memory");
    s.Stream->codecpar->codec_type = AVMEDIA_TYPE_SUBTITLE;
    s.Stream->codecpar->codec_id = AV_CODEC_ID_SUBRIP;
    s.Base = AVRational{1, 1000};
    s.Stream->time_base = s.Base;
    s.Next = std::llround(Spec_.Subtitles.front().Start * 1000);
    if (!Spec_.SubtitleLanguage.empty())
      av_dict_set(&s.Stream->metadata, "language", Spec_.SubtitleLanguage.c_str(), 0);
  }

  // The stream's frame, writable, for its next step; null (after flushing the encoder)
  // when the stream has written all it should.
  AVFrame* BeginStep(TOutputStream& s, const char* what) {
    if (s.Next >= s.End) {
      Send(s, nullptr);
      s.Done = true;
      return nullptr;
    }
    AVFrame* frame = s.Frame.get();
    const int ret = av_frame_make_writable(frame);
    if (ret < 0) Fail(what, ret);
    return frame;
  }

  void StepVideo(TOutputStream& s) {
    AVFrame* frame = BeginStep(s, "video frame");
    if (!frame) return;
    const int index = static_cast<int>(s.Next);
    const int frameCount = static_cast<int>(s.End);
    AVFrame* stored = s.Scaler ? s.Source.get() : frame;  // YUV 4:2:0 as stored
    if (s.Scaler) {
      const int ret = av_frame_make_writable(s.Source.get());
      if (ret < 0) Fail("video frame", ret);
    }
    const bool mark = s.VideoSpec->CornerMark;
    if (s.Upright) {
      DrawPicture(s.Upright.get(), index, frameCount, mark);
      StoreTurned(stored, s.Upright.get(), s.VideoSpec->Rotation);
    } else if (s.VideoSpec->Scene != TScene::TestPicture) {
      DrawScene(s.VideoSpec->Scene, stored, index, frameCount);
    } else {
      DrawPicture(stored, index, frameCount, mark);
    }
    if (s.Time() < s.VideoSpec->DarkSeconds) Blacken(stored);
    if (s.Scaler)
      sws_scale(s.Scaler.get(), s.Source->data, s.Source->linesize, 0, frame->height, frame->data,
                frame->linesize);
    frame->interlaced_frame = s.VideoSpec->Interlaced;
    frame->top_field_first = s.VideoSpec->Interlaced;
    if (s.VideoSpec->UserData) AddUserData(frame);
    frame->pts = s.Next;
    const std::vector<int>& steps = s.VideoSpec->FrameSteps;
    s.Next += steps.empty() ? 1 : steps[s.Step++ % steps.size()];
    Send(s, frame);
  }

  // Black in YUV 4:2:0: the lowest video luma, no colour.
  static void Blacken(AVFrame* frame) {
    for (int plane = 0; plane < 3; ++plane) {
      const int rows = plane == 0 ? frame->height : (frame->height + 1) / 2;
      const int bytes = plane == 0 ? frame->width : (frame->width + 1) / 2;
      for (int y = 0; y < rows; ++y)
        std::memset(frame->data[plane] + std::ptrdiff_t(y) * frame->linesize[plane],
                    plane == 0 ? 16 : 128, std::size_t(bytes));
    }
  }

  static void AddUserData(AVFrame* frame) {
    av_frame_remove_side_data(frame, AV_FRAME_DATA_STEREO3D);
    av_frame_remove_side_data(frame, AV_FRAME_DATA_A53_CC);
    AVStereo3D* stereo = av_stereo3d_create_side_data(frame);
    if (!stereo) Fail("out of memory");
    stereo->type = AV_STEREO3D_2D;
    // One caption pair: cc_valid, field 1, "Hi" with odd parity.
    static const std::uint8_t kCaption[] = {0xFC, 0xC8, 0xE9};
    AVFrameSideData* cc = av_frame_new_side_data(frame, AV_FRAME_DATA_A53_CC, sizeof kCaption);
    if (!cc) Fail("out of memory");
    std::memcpy(cc->data, kCaption, sizeof kCaption);
  }

  void StepAudio(TOutputStream& s) {
    AVFrame* frame = BeginStep(s, "audio frame");
    if (!frame) return;
    const double rate = s.Codec->sample_rate;
    const int channels = frame->ch_layout.nb_channels;
    for (int ch = 0; ch < channels; ++ch) {
      const double pitch = TonePitch(frame->ch_layout, ch, s.Pitch);
      for (int i = 0; i < frame->nb_samples; ++i) {
        const double t = static_cast<double>(s.Next + i) / rate;
        PutSample(frame, ch, i, 0.3 * std::sin(2.0 * M_PI * pitch * t));
      }
    }
    frame->pts = s.Next;
    s.Next += frame->nb_samples;
    Send(s, frame);
  }

  void StepSubtitle(TOutputStream& s) {
    const TCue& cue = Spec_.Subtitles[s.Cue];
    AVPacket* pkt = Packet_.get();
    int ret = av_new_packet(pkt, static_cast<int>(cue.Text.size()));
    if (ret < 0) Fail("subtitle packet", ret);
    std::memcpy(pkt->data, cue.Text.data(), cue.Text.size());
    pkt->pts = pkt->dts = s.Next;
    pkt->duration = std::llround(cue.End * 1000) - s.Next;
    pkt->flags |= AV_PKT_FLAG_KEY;
    Write(s, pkt);
    if (++s.Cue < Spec_.Subtitles.size())
      s.Next = std::llround(Spec_.Subtitles[s.Cue].Start * 1000);
    else
      s.Done = true;
  }

  // Feeds one frame (null: end of stream) and writes every packet the encoder gives back.
  void Send(TOutputStream& s, const AVFrame* frame) {
    int ret = avcodec_send_frame(s.Codec.get(), frame);
    if (ret < 0) Fail(std::string("encoding with ") + s.Codec->codec->name, ret);
    for (;;) {
      ret = avcodec_receive_packet(s.Codec.get(), Packet_.get());
      if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) return;
      if (ret < 0) Fail(std::string("encoding with ") + s.Codec->codec->name, ret);
      Write(s, Packet_.get());
    }
  }

  // Writes a packet timed in the stream's Base.
  void Write(TOutputStream& s, AVPacket* pkt) {
    const int64_t at = pkt->dts != AV_NOPTS_VALUE ? pkt->dts : pkt->pts;
    const bool jumped = Spec_.JumpSeconds != 0 && at != AV_NOPTS_VALUE &&
                        static_cast<double>(at * s.Base.num) / s.Base.den >= Spec_.Seconds / 2;
    av_packet_rescale_ts(pkt, s.Base, s.Stream->time_base);
    if (jumped) {
      const int64_t jump = av_rescale_q(std::llround(Spec_.JumpSeconds * AV_TIME_BASE),
                                        AV_TIME_BASE_Q, s.Stream->time_base);
      if (pkt->pts != AV_NOPTS_VALUE) pkt->pts += jump;
      if (pkt->dts != AV_NOPTS_VALUE) pkt->dts += jump;
    }
    if (pkt->pts != AV_NOPTS_VALUE) pkt->pts += s.Offset;
    if (pkt->dts != AV_NOPTS_VALUE) pkt->dts += s.Offset;
    pkt->stream_index = s.Stream->index;
    const int ret = av_interleaved_write_frame(Out_.get(), pkt);
    if (ret < 0) Fail("writing a packet", ret);
  }

  std::string Summary() const {
    std::ostringstream out;
    out << Spec_.FileName << ": " << Spec_.Muxer;
    if (!Spec_.Video) out << ", no video";
    for (const auto& s : Streams_) {
      if (s->Type != AVMEDIA_TYPE_VIDEO) continue;
      const AVCodecContext* c = s->Codec.get();
      out << ", video " << c->codec->name << " " << c->width << "x" << c->height << " @ "
          << c->framerate.num;
      if (c->framerate.den != 1) out << "/" << c->framerate.den;
      out << " fps";
      if (!s->VideoSpec->FrameSteps.empty()) out << " (variable)";
      if (s->VideoSpec->MaxBFrames > 0) out << " with B-frames";
      if (s->VideoSpec->Interlaced) out << " interlaced";
      if (s->VideoSpec->UserData) out << " with user data";
      if (s->StartSeconds != 0) out << " from " << s->StartSeconds << " s";
      if (c->pix_fmt != AV_PIX_FMT_YUV420P) out << " " << av_get_pix_fmt_name(c->pix_fmt);
      if (s->VideoSpec->Rotation != 0) out << " turned " << s->VideoSpec->Rotation;
    }
    if (Spec_.Audio.empty()) out << ", no audio";
    for (const auto& s : Streams_) {
      if (s->Type != AVMEDIA_TYPE_AUDIO) continue;
      const AVCodecContext* c = s->Codec.get();
      out << ", audio " << c->codec->name << " " << c->sample_rate << " Hz "
          << c->ch_layout.nb_channels << " ch";
    }
    if (Cover_.Codec)
      out << ", cover " << Cover_.Codec->codec->name << " " << Cover_.Codec->width << "x"
          << Cover_.Codec->height;
    if (!Spec_.Subtitles.empty()) out << ", " << Spec_.Subtitles.size() << " SubRip cues";
    out << ", " << Spec_.Seconds << " s";
    if (!Spec_.MuxerOptions.empty()) out << ", " << Spec_.MuxerOptions;
    return out.str();
  }

  const TFixtureSpec& Spec_;
  const std::string Path_;
  TOutput Out_;
  std::vector<std::unique_ptr<TOutputStream>> Streams_;  // video, audio, subtitles
  TOutputStream Cover_;                                  // the attached picture, if any
  TPacket Packet_;
};

// A file that is no media at all starts empty; its damage gives it content.
void WriteEmpty(const std::string& path, const TFixtureSpec& spec) {
  if (spec.Video || !spec.Audio.empty() || !spec.Subtitles.empty()) Fail("streams need a muxer");
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file || std::fclose(file) != 0) Fail("cannot create " + path);
}

// Writes the file's bytes `copies` times in a row.
void AppendCopies(const std::string& path, int copies) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) Fail("cannot read " + path);
  std::vector<char> bytes;
  char buffer[65536];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
    bytes.insert(bytes.end(), buffer, buffer + got);
  std::fclose(file);
  file = std::fopen(path.c_str(), "ab");
  if (!file) Fail("cannot append to " + path);
  bool written = true;
  for (int i = 1; i < copies; ++i)
    written = written && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  if (std::fclose(file) != 0 || !written) Fail("cannot append to " + path);
}

}  // namespace

std::string WriteFixture(const std::string& folder, const TFixtureSpec& spec) {
  namespace fs = std::filesystem;
  const fs::path target = fs::path(folder) / spec.FileName;
  // Written under a temporary name and renamed when complete, so a test never sees half a
  // file, and a failed run leaves no truncated fixture that looks valid.
  const fs::path partial = fs::path(folder) / (spec.FileName + ".part");
  std::string summary;
  try {
    if (spec.Muxer.empty()) {
      WriteEmpty(partial.string(), spec);
      summary = spec.FileName + ": no media";
    } else {
      TWriter writer(spec, partial.string());
      summary = writer.Run();
    }
    if (spec.Copies > 1) {
      AppendCopies(partial.string(), spec.Copies);
      summary += ", " + std::to_string(spec.Copies) + " copies joined";
    }
    ApplyDamage(partial.string(), spec.Damage);
    if (spec.Damage != TDamage::None) summary += std::string(", then ") + DamageText(spec.Damage);
  } catch (const std::exception& e) {
    std::error_code ec;
    fs::remove(partial, ec);
    throw std::runtime_error(spec.FileName + ": " + e.what());
  }
  std::error_code ec;
  fs::rename(partial, target, ec);
  if (ec) {
    const std::string reason = ec.message();
    fs::remove(partial, ec);
    throw std::runtime_error(spec.FileName + ": cannot rename into place: " + reason);
  }
  return summary + ", " + std::to_string(fs::file_size(target)) + " bytes";
}

}  // namespace fixturegen
