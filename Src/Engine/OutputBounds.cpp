// How far an output may grow. Damaged timestamps can make a short input fill hours of
// output (repeated pictures, silence); the bound ends such a job with a clear message
// instead of filling the disk. It allows four times what the output's streams' rate
// ceilings give (a disc target's, an audio encoder's constant rate), or what uncompressed
// pictures and samples would take where no ceiling holds, for the input's length: what the
// input says or what has been read of it so far, whichever is longer. What has been read is
// measured in the times the packet loop hands on, which run on across discontinuities: a
// recording joined from clips whose times restart counts every clip.
#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "Engine/FFmpeg.h"
#include "Engine/StreamRecords.h"
#include "Engine/TranscodeRun.h"
#include "Services/FFBindings.h"

namespace tovamo {
namespace {

// Bytes a second one output stream may take: its rate ceiling, else what the uncompressed
// pictures or samples would take. A video encoder's average rate is no ceiling (a fixed
// quantiser may go far above it); an audio encoder's rate is, unless it encodes by quality.
double StreamBytesPerSecond(const TOutputStream& ost, const TInputStream* source, double headroom) {
  const AVCodecContext* enc = ost.EncoderContext;
  std::int64_t bits = 0;
  if (!ost.StreamCopy && !(enc->flags & AV_CODEC_FLAG_QSCALE)) {
    bits = enc->rc_max_rate;
    if (enc->codec_type == AVMEDIA_TYPE_AUDIO) bits = std::max<std::int64_t>(bits, enc->bit_rate);
  }
  if (bits > 0) return double(bits) / 8 * headroom;
  const AVCodecParameters* par = source ? source->Stream->codecpar : nullptr;
  if (enc->codec_type == AVMEDIA_TYPE_VIDEO) {
    const double width = enc->width > 0 ? enc->width : par ? par->width : 0;
    const double height = enc->height > 0 ? enc->height : par ? par->height : 0;
    const double rate =
        enc->time_base.num > 0 ? double(enc->time_base.den) / enc->time_base.num : 30;
    return width * height * 1.5 * std::min(rate, 120.0);
  }
  if (enc->codec_type == AVMEDIA_TYPE_AUDIO) {
    const int channels = enc->ch_layout.nb_channels > 0 ? enc->ch_layout.nb_channels : 2;
    const int sampleRate = enc->sample_rate > 0 ? enc->sample_rate : 48000;
    return double(sampleRate) * channels * 4;
  }
  return 64 * 1024;  // subtitles and data: small
}

}  // namespace

std::int64_t TCustomFFmpeg::OutputSizeBound(const TTranscodeRun& run, int file) const {
  std::int64_t length = 0;
  for (int i = 0; i < InputFileCount; ++i) {
    const AVFormatContext* input = InputFiles[i];
    if (input && input->duration > 0) length = std::max(length, input->duration);
    // Written by the reading thread while this runs on the muxing thread.
    if (run.ReadSpan) length = std::max(length, run.ReadSpan[i].load(std::memory_order_relaxed));
  }
  if (RecordingTime != INT64_MAX && RecordingTime > 0) length = std::min(length, RecordingTime);
  double perSecond = 0;
  for (const TOutputStream* ost : run.OutputStreams) {
    if (ost->FileIndex != file || ost->Shared) continue;
    const TInputStream* source =
        ost->SourceIndex >= 0 && std::size_t(ost->SourceIndex) < run.InputStreams.size()
            ? run.InputStreams[ost->SourceIndex]
            : nullptr;
    perSecond += StreamBytesPerSecond(*ost, source, OutputRateHeadroom);
  }
  const double seconds = double(length + OutputSlackMicros) / AV_TIME_BASE;
  const double bound = perSecond * seconds + double(OutputSlackBytes);
  return bound >= double(INT64_MAX) ? INT64_MAX : std::int64_t(bound);
}

void TCustomFFmpeg::CheckOutputSizes(const TTranscodeRun& run) {
  for (int file = 0; file < OutputFileCount; ++file) {
    AVFormatContext* output = OutputFiles[file];
    if (!output || !output->pb) continue;
    const std::int64_t written = ff::avio_seek(output->pb, 0, SEEK_CUR);
    if (written <= OutputSlackBytes) continue;
    const std::int64_t bound = OutputSizeBound(run, file);
    if (written <= bound) continue;
    char text[256];
    std::snprintf(text, sizeof text,
                  "Output file #%d grew past %" PRId64
                  " MB, more than the input's length allows: its timestamps are likely "
                  "damaged",
                  file, bound / (1024 * 1024));
    throw FFmpegException(text);
  }
}

}  // namespace tovamo
