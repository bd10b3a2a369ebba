// A cover picture (the album art of a song) as the video of an output. The file holds the
// picture once, but a player of the output needs a picture all along: it goes to the
// decoder again every half second of the other streams' times and once more one frame
// before their end, and the video sync repeats it in between.
#include <algorithm>

#include "Engine/FFmpeg.h"
#include "Engine/JobPipeline.h"
#include "Engine/StreamTraits.h"
#include "Engine/TranscodeRun.h"
#include "Services/FFBindings.h"
#include "Services/SafeMath.h"

namespace tovamo {
namespace {

constexpr std::int64_t kStillStep = AV_TIME_BASE / 2;

}  // namespace

void TCustomFFmpeg::SetupStillPicture(TTranscodeRun& run) {
  run.Still = nullptr;
  run.StillNext = 0;
  if (JoinMode) return;
  TInputStream* still = nullptr;
  bool paced = false;  // another stream's times go on
  for (const TOutputStream* ost : run.OutputStreams) {
    TInputStream* ist = run.InputStreams[ost->SourceIndex];
    if (IsAttachedPicture(*ist->Stream) && ist->Stream->attached_pic.size > 0) {
      if (ost->EncodingNeeded) still = ist;
    } else {
      paced = true;
    }
  }
  if (still && paced) run.Still = still;
}

void TCustomFFmpeg::FeedStillPicture(TTranscodeRun& run, std::int64_t upTo) {
  TInputStream* ist = run.Still;
  if (!ist || upTo == AV_NOPTS_VALUE) return;
  if (RecordingTime != INT64_MAX)
    upTo = std::min(upTo, SaturatingAdd(RecordingTime, StartTime) - 1);
  const AVRational tb = ist->Stream->time_base;
  while (run.StillNext <= upTo) {
    AVPacket* packet = ff::av_packet_clone(&ist->Stream->attached_pic);
    if (!packet) throw FFmpegException("av_packet_clone failed");
    packet->pts = packet->dts = ff::av_rescale_q(run.StillNext, AV_TIME_BASE_Q, tb);
    packet->stream_index = ist->Index;
    run.StillNext += kStillStep;
    bool going = true;
    if (run.Pipeline) {
      try {
        going = run.Pipeline->Submit(*ist, packet);
      } catch (const TStageAborted&) {
        going = false;
      }
    } else {
      DecodeAndDeliver(run, *ist, packet);
    }
    ff::av_packet_free(&packet);
    if (!going) return;  // a stage failed: the end of the job reports it
  }
}

void TCustomFFmpeg::FinishStillPicture(TTranscodeRun& run) {
  if (!run.Still) return;
  std::int64_t end = AV_NOPTS_VALUE;
  for (const TInputStream* ist : run.InputStreams)
    if (ist != run.Still && !ist->Discard && ist->ReadNextPts != AV_NOPTS_VALUE)
      end = std::max(end, ist->ReadNextPts);
  if (end == AV_NOPTS_VALUE) return;
  // The last picture lasts one frame of the output, up to the end of the others.
  std::int64_t frame = AV_TIME_BASE / 25;
  for (const TOutputStream* ost : run.OutputStreams)
    if (run.InputStreams[ost->SourceIndex] == run.Still && ost->EncoderContext->time_base.den > 0)
      frame = ff::av_rescale_q(1, ost->EncoderContext->time_base, AV_TIME_BASE_Q);
  const std::int64_t last = end - frame;
  FeedStillPicture(run, last);
  if (run.StillNext - kStillStep < last) {
    run.StillNext = last;
    FeedStillPicture(run, last);
  }
}

}  // namespace tovamo
