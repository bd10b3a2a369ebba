// The encoding paths: decoded pictures, samples and subtitles to encoded output streams.
// Pictures follow the video sync method (frames dropped or repeated to hold a constant
// rate), are scaled to the encoder's size and pixel format and carry the forced key
// frames; samples are resampled to the encoder's format, rate and channel layout and cut
// into the encoder's frame size. Each packet goes through the stream's bitstream filters
// to the interleaving writer.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "Engine/FFmpeg.h"
#include "Engine/TranscodeRun.h"
#include "Services/FFBindings.h"
#include "Services/FFUtils.h"

namespace tovamo {
namespace {

AVFrame* NewFrame() {
  AVFrame* frame = ff::av_frame_alloc();
  if (!frame) throw FFmpegException("av_frame_alloc failed");
  return frame;
}

bool SameLayout(const AVChannelLayout& a, const AVChannelLayout& b) {
  return a.nb_channels == b.nb_channels && a.order == b.order &&
         (a.order != AV_CHANNEL_ORDER_NATIVE || a.u.mask == b.u.mask);
}

}  // namespace

// Sends one frame (or none, to drain) to the encoder and writes what comes out.
static void Encode(TCustomFFmpeg& engine, TTranscodeRun& run, TOutputStream& ost, AVFrame* frame,
                   const char* failure, std::int64_t& byteCounter,
                   void (TCustomFFmpeg::*write)(TTranscodeRun&, TOutputStream&, AVPacket*));

void TCustomFFmpeg::EncodeVideoFrame(TTranscodeRun& run, TOutputStream& ost, TInputStream& ist,
                                     AVFrame* frame) {
  AVCodecContext* enc = ost.EncoderContext;
  AVFormatContext* output = OutputFiles[ost.FileIndex];
  TOutputStream& owner = ost.Shared ? *ost.Shared : ost;

  // How many times this picture goes out: the sync method holds a constant frame rate by
  // dropping pictures that come too early and repeating the last one over a gap.
  int method = VideoSyncMethod;
  if (method < 0) method = (output->oformat->flags & AVFMT_VARIABLE_FPS) ? 2 : 1;
  const double syncIpts = double(ist.Pts) / AV_TIME_BASE / av_q2d(enc->time_base);
  const double delta = syncIpts - double(owner.SyncOpts);
  int copies = 1;
  if (method == 1) {
    if (delta < -1.1)
      copies = 0;
    else if (delta > 1.1)
      copies = int(std::lrint(delta));
  } else if (method == 2) {
    if (delta <= -0.6)
      copies = 0;
    else if (delta > 0.6)
      owner.SyncOpts = std::llrint(syncIpts);
  }
  if (copies == 0) {
    ++FramesDropped;
    DupDropChanged = true;
  } else if (copies > 1) {
    FramesDuplicated += copies - 1;
    DupDropChanged = true;
  }
  copies = std::min(copies, MaxFrames[0] - ost.FrameNumber);
  if (copies <= 0) return;

  // Scaling and pixel format conversion to what the encoder takes.
  AVFrame* picture = frame;
  if (frame->width != enc->width || frame->height != enc->height || frame->format != enc->pix_fmt) {
    const std::int64_t flags =
        OptionContexts.ScalerDefaults
            ? [&] {
                std::int64_t value = ScalerFlags;
                ff::av_opt_get_int(OptionContexts.ScalerDefaults, "sws_flags", 0, &value);
                return value;
              }()
            : ScalerFlags;
    owner.Scaler = ff::sws_getCachedContext(owner.Scaler, frame->width, frame->height,
                                            AVPixelFormat(frame->format), enc->width, enc->height,
                                            enc->pix_fmt, int(flags), nullptr, nullptr, nullptr);
    if (!owner.Scaler) throw FFmpegException("Cannot get resampling context");
    if (!owner.ScaledFrame) owner.ScaledFrame = NewFrame();
    AVFrame* scaled = owner.ScaledFrame;
    if (scaled->width != enc->width || scaled->height != enc->height ||
        scaled->format != enc->pix_fmt || ff::av_frame_make_writable(scaled) < 0) {
      ff::av_frame_unref(scaled);
      scaled->width = enc->width;
      scaled->height = enc->height;
      scaled->format = enc->pix_fmt;
      if (ff::av_frame_get_buffer(scaled, 0) < 0)
        throw FFmpegException("Cannot allocate temp picture, check pix fmt");
    }
    ff::sws_scale(owner.Scaler, frame->data, frame->linesize, 0, frame->height, scaled->data,
                  scaled->linesize);
    scaled->interlaced_frame = frame->interlaced_frame;
    scaled->top_field_first = frame->top_field_first;
    picture = scaled;
  }
  if (TopFieldFirst >= 0) picture->top_field_first = TopFieldFirst;
  picture->sample_aspect_ratio = enc->sample_aspect_ratio;

  for (int i = 0; i < copies && !StopRequested; ++i) {
    picture->pts = owner.SyncOpts;
    picture->pict_type = AV_PICTURE_TYPE_NONE;
    if (owner.ForcedKfIndex < int(owner.ForcedKfPts.size()) &&
        picture->pts >= owner.ForcedKfPts[owner.ForcedKfIndex]) {
      picture->pict_type = AV_PICTURE_TYPE_I;
      ++owner.ForcedKfIndex;
    }
    if (enc->flags & AV_CODEC_FLAG_QSCALE) picture->quality = enc->global_quality;
    Encode(*this, run, ost, picture, "Video encoding failed", VideoSize,
           &TCustomFFmpeg::WritePacket);
    ++owner.SyncOpts;
    ++ost.FrameNumber;
  }
}

void TCustomFFmpeg::EncodeAudioFrame(TTranscodeRun& run, TOutputStream& ost, TInputStream& ist,
                                     AVFrame* frame) {
  AVCodecContext* enc = ost.EncoderContext;
  TOutputStream& owner = ost.Shared ? *ost.Shared : ost;

  // The resampler is made again whenever the input's format changes.
  if (!owner.Resampler || owner.ResampleSampleFmt != frame->format ||
      owner.ResampleSampleRate != frame->sample_rate ||
      !SameLayout(owner.ResampleLayout, frame->ch_layout)) {
    ff::swr_free(&owner.Resampler);
    if (ff::swr_alloc_set_opts2(&owner.Resampler, &enc->ch_layout, enc->sample_fmt,
                                enc->sample_rate, &frame->ch_layout, AVSampleFormat(frame->format),
                                frame->sample_rate, 0, nullptr) < 0 ||
        ff::swr_init(owner.Resampler) < 0) {
      ff::swr_free(&owner.Resampler);
      char text[256];
      std::snprintf(text, sizeof text,
                    "Can not resample %d channels @ %d Hz to %d channels @ %d Hz",
                    frame->ch_layout.nb_channels, frame->sample_rate, enc->ch_layout.nb_channels,
                    enc->sample_rate);
      throw FFmpegException(text);
    }
    owner.ResampleSampleFmt = frame->format;
    owner.ResampleSampleRate = frame->sample_rate;
    ff::av_channel_layout_uninit(&owner.ResampleLayout);
    ff::av_channel_layout_copy(&owner.ResampleLayout, &frame->ch_layout);
  }
  // The output's audio starts where the input's first samples are.
  if (!owner.AudioStarted) {
    owner.AudioStarted = true;
    if (ist.Pts > 0) owner.SyncOpts = ff::av_rescale_q(ist.Pts, AV_TIME_BASE_Q, enc->time_base);
  }

  // The resampler takes every sample in and keeps them; they come out in whole encoder
  // frames (an encoder without a fixed frame size takes what there is).
  if (ff::swr_convert(owner.Resampler, nullptr, 0,
                      const_cast<const std::uint8_t**>(frame->extended_data),
                      frame->nb_samples) < 0)
    throw FFmpegException("Audio resampling failed");
  DrainResampler(run, ost, false);
}

void TCustomFFmpeg::DrainResampler(TTranscodeRun& run, TOutputStream& ost, bool last) {
  TOutputStream& owner = ost.Shared ? *ost.Shared : ost;
  AVCodecContext* enc = owner.EncoderContext;
  const bool fixed =
      enc->frame_size > 0 && !(enc->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
  const int capacity = fixed ? enc->frame_size : 4096;
  const int bps = ff::av_get_bytes_per_sample(enc->sample_fmt);
  const bool planar = ff::av_sample_fmt_is_planar(enc->sample_fmt);
  const int channels = enc->ch_layout.nb_channels;
  const int planes = planar ? channels : 1;
  const std::size_t unit = std::size_t(planar ? bps : bps * channels);

  auto emit = [&](int samples) {
    AVFrame* out = owner.AudioFrame;
    out->nb_samples = samples;
    out->pts = owner.SyncOpts;
    owner.SyncOpts += samples;
    Encode(*this, run, ost, out, "Audio encoding failed", AudioSize, &TCustomFFmpeg::WritePacket);
    owner.AudioPending = 0;
  };
  for (;;) {
    if (!owner.AudioFrame) owner.AudioFrame = NewFrame();
    AVFrame* out = owner.AudioFrame;
    if (owner.AudioPending == 0) {
      // A fresh buffer: the encoder may still hold the last one.
      ff::av_frame_unref(out);
      out->format = enc->sample_fmt;
      out->sample_rate = enc->sample_rate;
      ff::av_channel_layout_copy(&out->ch_layout, &enc->ch_layout);
      out->nb_samples = capacity;
      if (ff::av_frame_get_buffer(out, 0) < 0) throw FFmpegException("frame_bytes invalid.");
    }
    std::uint8_t* dst[AV_NUM_DATA_POINTERS] = {};
    for (int p = 0; p < planes && p < AV_NUM_DATA_POINTERS; ++p)
      dst[p] = out->extended_data[p] + std::size_t(owner.AudioPending) * unit;
    const int space = capacity - owner.AudioPending;
    const int got = ff::swr_convert(owner.Resampler, dst, space, nullptr, 0);
    if (got < 0) throw FFmpegException("Audio resampling failed");
    owner.AudioPending += got;
    if (owner.AudioPending == capacity || (!fixed && owner.AudioPending > 0)) {
      emit(owner.AudioPending);
      continue;
    }
    break;  // the resampler has no more for now
  }
  if (!last || owner.AudioPending == 0) return;
  // The last, short frame: padded with silence where the encoder needs whole frames.
  const int pending = owner.AudioPending;
  if (fixed && !(enc->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME)) {
    for (int p = 0; p < planes && p < AV_NUM_DATA_POINTERS; ++p)
      std::memset(owner.AudioFrame->extended_data[p] + std::size_t(pending) * unit, 0,
                  std::size_t(capacity - pending) * unit);
    emit(capacity);
  } else {
    emit(pending);
  }
}

void TCustomFFmpeg::EncodeSubtitle(TTranscodeRun& run, TOutputStream& ost, TInputStream& ist,
                                   AVSubtitle* subtitle, std::int64_t packetPts) {
  if (packetPts == AV_NOPTS_VALUE) {
    if (ExitOnError) throw FFmpegException("Subtitle packets must have a pts");
    Log(llError, "Subtitle packets must have a pts");
    return;
  }
  AVCodecContext* enc = ost.EncoderContext;
  const int packets = enc->codec_id == AV_CODEC_ID_DVB_SUBTITLE ? 2 : 1;
  constexpr int kBufferSize = 1024 * 1024;
  std::vector<std::uint8_t> buffer(kBufferSize);
  for (int i = 0; i < packets; ++i) {
    subtitle->pts =
        packetPts + ff::av_rescale_q(subtitle->start_display_time, {1, 1000}, AV_TIME_BASE_Q);
    subtitle->end_display_time -= subtitle->start_display_time;
    subtitle->start_display_time = 0;
    const int size = ff::avcodec_encode_subtitle(enc, buffer.data(), kBufferSize, subtitle);
    if (size < 0) throw FFmpegException("Subtitle encoding failed");
    AVPacket* pkt = ff::av_packet_alloc();
    if (!pkt || ff::av_new_packet(pkt, size) < 0) {
      ff::av_packet_free(&pkt);
      throw FFmpegException("Subtitle encoding failed");
    }
    std::memcpy(pkt->data, buffer.data(), std::size_t(size));
    pkt->pts = ff::av_rescale_q(subtitle->pts, AV_TIME_BASE_Q, ost.Stream->time_base);
    if (enc->codec_id == AV_CODEC_ID_DVB_SUBTITLE)
      pkt->pts += 90 * (i == 0 ? subtitle->start_display_time : subtitle->end_display_time);
    pkt->dts = pkt->pts;
    try {
      WritePacket(run, ost, pkt);
    } catch (...) {
      ff::av_packet_free(&pkt);
      throw;
    }
    ff::av_packet_free(&pkt);
    ++ost.FrameNumber;
  }
  (void)ist;
}

void TCustomFFmpeg::FlushEncoder(TTranscodeRun& run, TOutputStream& ost) {
  TOutputStream& owner = ost.Shared ? *ost.Shared : ost;
  if (!owner.EncoderOpen || owner.EncoderFlushed) return;
  AVCodecContext* enc = owner.EncoderContext;
  AVFormatContext* output = OutputFiles[ost.FileIndex];
  if (enc->codec_type == AVMEDIA_TYPE_VIDEO && (output->oformat->flags & AVFMT_NOFILE) &&
      std::string_view(output->oformat->name) == "image2")
    return;
  if (enc->codec_type == AVMEDIA_TYPE_SUBTITLE) return;
  owner.EncoderFlushed = true;
  if (enc->codec_type == AVMEDIA_TYPE_AUDIO && owner.Resampler) DrainResampler(run, ost, true);
  Encode(*this, run, ost, nullptr,
         enc->codec_type == AVMEDIA_TYPE_AUDIO ? "Audio encoding failed" : "Video encoding failed",
         enc->codec_type == AVMEDIA_TYPE_AUDIO ? AudioSize : VideoSize,
         &TCustomFFmpeg::WritePacket);
}

static void Encode(TCustomFFmpeg& engine, TTranscodeRun& run, TOutputStream& ost, AVFrame* frame,
                   const char* failure, std::int64_t& byteCounter,
                   void (TCustomFFmpeg::*write)(TTranscodeRun&, TOutputStream&, AVPacket*)) {
  TOutputStream& owner = ost.Shared ? *ost.Shared : ost;
  AVCodecContext* enc = owner.EncoderContext;
  int ret = ff::avcodec_send_frame(enc, frame);
  if (ret < 0 && ret != AVERROR_EOF) throw FFmpegException(failure);
  if (!owner.EncodedPacket) owner.EncodedPacket = ff::av_packet_alloc();
  AVPacket* pkt = owner.EncodedPacket;
  if (!pkt) throw FFmpegException(failure);
  for (;;) {
    ret = ff::avcodec_receive_packet(enc, pkt);
    if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) break;
    if (ret < 0) throw FFmpegException(failure);
    byteCounter += pkt->size;
    if (owner.LogFile && enc->stats_out) std::fputs(enc->stats_out, owner.LogFile);
    ff::av_packet_rescale_ts(pkt, enc->time_base, ost.Stream->time_base);
    try {
      (engine.*write)(run, ost, pkt);
    } catch (...) {
      ff::av_packet_unref(pkt);
      throw;
    }
    ff::av_packet_unref(pkt);
  }
}

}  // namespace tovamo
