// An output that got some of what was mapped into it but not all: a video stream whose
// every packet failed to decode leaves a file with sound alone, which is no complete
// conversion and must not pass for one.
#include "Engine/FFmpeg.h"
#include "Engine/TranscodeRun.h"

namespace tovamo {

std::string TCustomFFmpeg::LeftOutMedia(const TTranscodeRun& run) const {
  bool anyWritten = false, videoMissing = false, soundMissing = false;
  for (const TOutputStream* ost : run.OutputStreams) {
    const TOutputStream& owner = ost->Shared ? *ost->Shared : *ost;
    const bool written = owner.LastDts != AV_NOPTS_VALUE;
    anyWritten = anyWritten || written;
    if (written || !ost->Stream) continue;
    const AVMediaType type = ost->Stream->codecpar->codec_type;
    videoMissing = videoMissing || type == AVMEDIA_TYPE_VIDEO;
    soundMissing = soundMissing || type == AVMEDIA_TYPE_AUDIO;
  }
  if (!anyWritten) return {};  // nothing at all: NoMediaReason says why
  if (videoMissing && soundMissing) return "the video and the sound";
  if (videoMissing) return "the video";
  if (soundMissing) return "the sound";
  return {};
}

}  // namespace tovamo
