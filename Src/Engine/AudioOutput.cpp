// The audio output path: samples resampled to the encoder's format, rate and channel
// layout, the audio sync method (silence inserted, samples dropped, or the resampler
// stretching), and whole encoder frames out of the resampler's buffer.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "Engine/EncodeStep.h"
#include "Engine/FFmpeg.h"
#include "Engine/TimestampLimits.h"
#include "Engine/TranscodeRun.h"
#include "Services/FFBindings.h"

namespace tovamo {
namespace {

// Longer silence than this (about 11 hours) no input holds.
constexpr std::int64_t kLongestSilenceSeconds = 40'000;

bool SameLayout(const AVChannelLayout& a, const AVChannelLayout& b) {
  return a.nb_channels == b.nb_channels && a.order == b.order &&
         (a.order != AV_CHANNEL_ORDER_NATIVE || a.u.mask == b.u.mask);
}

template <typename T, typename Wide>
void Scale(std::uint8_t* data, std::size_t count, int volume, Wide low, Wide high) {
  auto* samples = reinterpret_cast<T*>(data);
  for (std::size_t i = 0; i < count; ++i) {
    Wide v = (Wide(samples[i]) * volume + 128) >> 8;
    samples[i] = T(std::clamp(v, low, high));
  }
}

template <typename T>
void ScaleFloat(std::uint8_t* data, std::size_t count, int volume) {
  auto* samples = reinterpret_cast<T*>(data);
  for (std::size_t i = 0; i < count; ++i) samples[i] = samples[i] * T(volume) / T(256);
}

}  // namespace

bool ApplyVolume(AVFrame* frame, int volume) {
  if (volume == 256 || !frame->data[0]) return true;
  if (ff::av_frame_make_writable(frame) < 0) return false;
  const AVSampleFormat format = AVSampleFormat(frame->format);
  const bool planar = ff::av_sample_fmt_is_planar(format);
  const int channels = frame->ch_layout.nb_channels;
  const int planes = planar ? channels : 1;
  const std::size_t count = std::size_t(frame->nb_samples) * (planar ? 1 : channels);
  for (int p = 0; p < planes; ++p) {
    std::uint8_t* data = frame->extended_data[p];
    switch (format) {
      case AV_SAMPLE_FMT_S16:
      case AV_SAMPLE_FMT_S16P:
        Scale<std::int16_t, std::int64_t>(data, count, volume, INT16_MIN, INT16_MAX);
        break;
      case AV_SAMPLE_FMT_S32:
      case AV_SAMPLE_FMT_S32P:
        Scale<std::int32_t, std::int64_t>(data, count, volume, INT32_MIN, INT32_MAX);
        break;
      case AV_SAMPLE_FMT_FLT:
      case AV_SAMPLE_FMT_FLTP:
        ScaleFloat<float>(data, count, volume);
        break;
      case AV_SAMPLE_FMT_DBL:
      case AV_SAMPLE_FMT_DBLP:
        ScaleFloat<double>(data, count, volume);
        break;
      case AV_SAMPLE_FMT_U8:
      case AV_SAMPLE_FMT_U8P:
        for (std::size_t i = 0; i < count; ++i) {
          const int v = ((int(data[i]) - 128) * volume + 128) >> 8;
          data[i] = std::uint8_t(std::clamp(v, -128, 127) + 128);
        }
        break;
      default:
        break;
    }
  }
  return true;
}

void TCustomFFmpeg::EncodeAudioFrame(TTranscodeRun& run, TOutputStream& ost, TInputStream& ist,
                                     AVFrame* frame) {
  AVCodecContext* enc = ost.EncoderContext;
  TOutputStream& owner = ost.Shared ? *ost.Shared : ost;

  // The resampler is made again whenever the input's format changes; what the old one
  // still holds goes out first.
  if (!owner.Resampler || owner.ResampleSampleFmt != frame->format ||
      owner.ResampleSampleRate != frame->sample_rate ||
      !SameLayout(owner.ResampleLayout, frame->ch_layout)) {
    if (owner.Resampler) {
      char before[64] = {}, after[64] = {};
      ff::av_channel_layout_describe(&owner.ResampleLayout, before, sizeof before);
      ff::av_channel_layout_describe(&frame->ch_layout, after, sizeof after);
      const char* oldFormat = ff::av_get_sample_fmt_name(AVSampleFormat(owner.ResampleSampleFmt));
      const char* newFormat = ff::av_get_sample_fmt_name(AVSampleFormat(frame->format));
      LogFmt(llInfo,
             "Input stream #%d.%d frame changed from rate:%d fmt:%s ch:%d to rate:%d fmt:%s ch:%d",
             ist.FileIndex, ist.Index, owner.ResampleSampleRate, oldFormat ? oldFormat : "?",
             owner.ResampleLayout.nb_channels, frame->sample_rate, newFormat ? newFormat : "?",
             frame->ch_layout.nb_channels);
      DrainResampler(run, ost, false, true);
    }
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

  // Where the output stands against the input's clock: samples written or waiting. The
  // output's audio is one continuous run: each frame's time is the one before plus its
  // length, so drift is only ever mended in samples. In doubles: damaged times may be far
  // apart.
  const double syncIpts =
      (double(ist.Pts) - double(StartTime) - double(owner.SkippedMicros)) / AV_TIME_BASE;
  const std::int64_t buffered =
      ff::swr_get_delay(owner.Resampler, enc->sample_rate) + owner.AudioPending;
  if (AudioSyncMethod == 0 && !owner.AudioClockSet)
    owner.SyncOpts = std::llrint(syncIpts * enc->sample_rate) - buffered;
  owner.AudioClockSet = true;
  double delta = syncIpts * enc->sample_rate - double(owner.SyncOpts) - double(buffered);
  const double threshold = AudioDriftThreshold * enc->sample_rate;
  // The packet loop has taken out the jumps its file does not explain: a gap forward is the
  // input's own and is filled with silence, unless it starts before the file does (copied
  // timestamps far from zero). A jump back is stepped over, not made up by dropping sound.
  const double limit = double(kLongestFilledGapMicros) * enc->sample_rate / AV_TIME_BASE;
  const double from =
      (double(owner.SyncOpts) + double(buffered)) / enc->sample_rate * AV_TIME_BASE +
      double(StartTime) + double(owner.SkippedMicros);
  const bool beforeFile = from < double(ist.TimelineStart) - double(kLongestFilledGapMicros);
  if (delta < -limit || (delta > limit && beforeFile) ||
      delta > double(kLongestSilenceSeconds) * enc->sample_rate) {
    owner.SkippedMicros += std::llrint(delta * AV_TIME_BASE / enc->sample_rate);
    delta = 0;
  }
  const auto mend = [&] {
    if (delta < 0) {
      // Input ahead of its place: drop samples.
      const int drop = int(-delta);
      if (Verbose > 2) LogFmt(llVerbose, "discarding %d audio samples", drop);
      ff::swr_drop_output(owner.Resampler, drop);
    } else {
      // Input late: silence fills the gap, a second at a time so that a long gap never
      // sits in the resampler whole.
      std::int64_t silence = std::llrint(std::floor(delta));
      if (Verbose > 2)
        LogFmt(llVerbose, "adding %lld audio samples of silence", static_cast<long long>(silence));
      while (silence > 0 && !StopRequested) {
        const std::int64_t part = std::min<std::int64_t>(silence, enc->sample_rate);
        ff::swr_inject_silence(owner.Resampler,
                               int(ff::av_rescale(part, frame->sample_rate, enc->sample_rate)));
        silence -= part;
        if (silence > 0) DrainResampler(run, ost, false);
      }
    }
  };
  if (AudioSyncMethod == 0) {
    // No sync method: the output follows the input's gaps and overlaps, not its jitter.
    if (std::fabs(delta) > threshold) mend();
  } else if (std::fabs(delta) > 50) {
    if (ist.IsStart || std::fabs(delta) > threshold) {
      mend();
      ist.IsStart = false;
    } else if (AudioSyncMethod > 1) {
      const int comp = int(std::clamp<double>(delta, -AudioSyncMethod, AudioSyncMethod));
      if (Verbose > 2)
        LogFmt(llVerbose, "compensating audio timestamp drift:%f compensation:%d in:%d", delta,
               comp, enc->sample_rate);
      ff::swr_set_compensation(owner.Resampler, comp, enc->sample_rate);
    }
  }

  // The resampler takes every sample in and keeps them; they come out in whole encoder
  // frames (an encoder without a fixed frame size takes what there is).
  if (ff::swr_convert(owner.Resampler, nullptr, 0,
                      const_cast<const std::uint8_t**>(frame->extended_data),
                      frame->nb_samples) < 0)
    throw FFmpegException("Audio resampling failed");
  DrainResampler(run, ost, false);
}

void TCustomFFmpeg::DrainResampler(TTranscodeRun& run, TOutputStream& ost, bool last, bool flush) {
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
    EncodeFrame(run, ost, out, "Audio encoding failed", AudioSize);
    owner.AudioPending = 0;
  };
  for (;;) {
    // A stop leaves what waits in the resampler: a damaged header can make one packet
    // into minutes of sound, and a stop must not wait for them to be encoded.
    if (StopRequested) return;
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
    // No input at all flushes the resampler's filter: only at the end, or before it goes.
    const std::uint8_t* none[AV_NUM_DATA_POINTERS] = {};
    const int got =
        ff::swr_convert(owner.Resampler, dst, space, (last || flush) ? nullptr : none, 0);
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

}  // namespace tovamo
