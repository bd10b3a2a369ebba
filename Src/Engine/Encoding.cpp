// The encoding paths: decoded pictures, samples and subtitles to encoded output streams.
#include "Engine/FFmpeg.h"
#include "Engine/TranscodeRun.h"
#include "Services/FFBindings.h"

namespace tovamo {

void TCustomFFmpeg::EncodeVideoFrame(TTranscodeRun&, TOutputStream&, TInputStream&, AVFrame*) {
  throw FFmpegException("Video encoding is not available yet");
}

void TCustomFFmpeg::EncodeAudioFrame(TTranscodeRun&, TOutputStream&, TInputStream&, AVFrame*) {
  throw FFmpegException("Audio encoding is not available yet");
}

void TCustomFFmpeg::EncodeSubtitle(TTranscodeRun&, TOutputStream&, TInputStream&, AVSubtitle*,
                                   std::int64_t) {
  throw FFmpegException("Subtitle encoding is not available yet");
}

void TCustomFFmpeg::FlushEncoder(TTranscodeRun&, TOutputStream&) {}

}  // namespace tovamo
