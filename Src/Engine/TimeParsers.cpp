// The time options: durations for "t", "ss" and "itsoffset", a date for "timestamp".
#include "Engine/FFmpeg.h"
#include "Services/FFBindings.h"
#include "Services/Text.h"

namespace tovamo {
namespace {

// Microseconds to whole seconds, halves rounded away from zero (dates before 1970 are
// negative).
std::int64_t RoundToSeconds(std::int64_t microseconds) {
  std::int64_t seconds = microseconds / 1000000;
  const std::int64_t rest = microseconds % 1000000;
  if (rest >= 500000) ++seconds;
  if (rest <= -500000) --seconds;
  return seconds;
}

}  // namespace

void TCustomFFmpeg::OptTime(const std::string& name, const std::string& value) {
  const bool isDate = name == "timestamp";
  Assert(isDate || name == "t" || name == "ss" || name == "itsoffset", "unknown time option",
         "FFmpeg");
  std::int64_t time = 0;
  int ret;
  {
    TCNumericLocale numbers;
    ret = ff::av_parse_time(&time, value.c_str(), isDate ? 0 : 1);
  }
  // The library reports a text it cannot read by its result; the old "smallest value"
  // answer is treated the same way.
  if (ret < 0 || time == AV_NOPTS_VALUE)
    throw FFmpegException("Invalid " + std::string(isDate ? "date" : "duration") +
                          " specification for " + name + ": " + value);
  if (name == "t")
    SetRecordingTime(time);
  else if (name == "ss")
    StartTime = time;
  else if (name == "itsoffset")
    InputTsOffset = time;
  else
    RecordingTimestamp = RoundToSeconds(time);
}

}  // namespace tovamo
