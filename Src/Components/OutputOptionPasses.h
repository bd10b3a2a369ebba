// How a TOutputOptions record and its option text become engine settings. The record's
// own fields win for the main streams; codec, preset, size and filter lines of the text are
// queued, and each "newaudio", "newvideo" or "newsubtitle" line takes the first queued line
// of each of its kind's settings for the stream it adds.
#pragma once

#include <string>
#include <vector>

#include "Engine/OptionText.h"
#include "Engine/TaskOptions.h"

namespace tovamo {

class TFFmpeg;

// The defaults list: "def_" values from the record (or the text's first line of that name)
// and the queue of the text's per-stream setting lines.
class TOptionDefaults {
 public:
  // Pass A over a record and its ExtraOptions.
  explicit TOptionDefaults(const TOutputOptions& options);

  // The "def_" value of a setting name ("acodec", "vf", ...); empty when none.
  std::string Default(const std::string& name) const;
  // Removes and returns the first queued line of that name; false when none is queued.
  bool TakeQueued(const std::string& name, std::string& value);

 private:
  std::vector<TOptionLine> Defaults_;  // name without "def_"
  std::vector<TOptionLine> Queue_;
};

// The record's fields in the order of the record, each only when set (the bit rates only
// without a target).
void ApplyOutputRecord(TFFmpeg& engine, const TOutputOptions& options);

// The settings of the quality class named `quality` (TOutputOptions::Quality) for the
// video codec chosen so far; they go before the presets and the option text, which win.
// Throws FFmpegException for a name that is no class.
void ApplyQualityClass(TFFmpeg& engine, const std::string& quality);

// Pass C, after the output exists: the extra streams of the option text.
void ApplyExtraStreams(TFFmpeg& engine, const std::string& optionText, TOptionDefaults& defaults);

// Every line of an output's option text, checked on a throwaway engine before anything is
// opened or registered: the message for the first line the engine refuses, "" when all
// are good. Lines the passes only queue (codecs, presets, "s", "vf") are checked as well;
// a "new..." line is checked through the settings its stream takes.
std::string OutputOptionTextError(const std::string& optionText);

// Norm and target names of the record's codes.
std::string TargetName(int targetType);  // "" for none
std::string NormName(int normType);
std::string FallbackNormName(int fallbackNorm);

// A calendar date-time (days since 1899-12-30, local time) in Unix seconds.
std::int64_t CalendarToUnixSeconds(double dateTime);

}  // namespace tovamo
