// Setters the encoder component calls with values it already holds as numbers, instead of
// going through option texts.
#include "Engine/FFmpeg.h"
#include "Engine/OptionNumbers.h"
#include "Engine/OptionTable.h"
#include "Services/FFBindings.h"
#include "Services/FormatConverter.h"

namespace tovamo {
namespace {

// Whether the option table's range for that name holds the value.
bool InOptionRange(const char* name, double value) {
  const TOptionRow* row = FindOptionRow(name);
  return row && value >= row->Min && value <= row->Max;
}

}  // namespace

void TCustomFFmpeg::SetMetadata(const std::string& key, const std::string& value) {
  if (ff::av_dict_set(&Metadata, key.c_str(), value.c_str(), 0) < 0)
    throw FFmpegException("Could not set metadata " + key);
}

void TCustomFFmpeg::SetRecordingTime(std::int64_t microseconds) {
  if (microseconds == AV_NOPTS_VALUE) return;
  RecordingTime = microseconds;
  RequestedDuration = microseconds;
}

void TCustomFFmpeg::SetInputStartTime(std::int64_t microseconds) {
  if (microseconds == AV_NOPTS_VALUE) return;
  StartTime = microseconds;
}

void TCustomFFmpeg::SetInputProgramId(int id) {
  if (id >= 0) ProgramId = id;
}

void TCustomFFmpeg::SetAudioVolume(int volume) {
  if (InOptionRange("vol", volume)) AudioVolume = volume;
}

void TCustomFFmpeg::SetAudioSyncMethod(int method) {
  AudioSyncMethod = method;
}

void TCustomFFmpeg::SetVideoSyncMethod(int method) {
  VideoSyncMethod = method;
}

// A value is taken only when it stays positive in the single-precision setting and within
// what the muxer holds in microseconds.
void TCustomFFmpeg::SetMuxMaxDelay(double seconds) {
  float s = 0;
  if (ToSingle(seconds, s) && s > 0 && InOptionRange("muxdelay", s)) MuxMaxDelay = s;
}

void TCustomFFmpeg::SetMuxPreload(double seconds) {
  float s = 0;
  if (ToSingle(seconds, s) && s > 0 && InOptionRange("muxpreload", s)) MuxPreload = s;
}

void TCustomFFmpeg::SetConverterPixelFormat(int bits) {
  // A scratch converter checks the depth first, so that a bad one changes neither
  // converter and is refused even while none exists yet (libraries not loaded).
  TFormatConverter().SetBitsPerPixel(bits);
  // A set-up setter like the others: the run's worker alone uses the converters.
  if (HookConverter) HookConverter->SetBitsPerPixel(bits);
  if (PreviewConverter) PreviewConverter->SetBitsPerPixel(bits);
}

}  // namespace tovamo
