// ParseOption over the option table, the option-text parser and the handlers of the
// vocabulary that need no structured parsing.
#include <string_view>

#include "Engine/FFmpeg.h"
#include "Engine/OptionNumbers.h"
#include "Engine/OptionTable.h"
#include "Engine/OptionText.h"
#include "Services/Text.h"

namespace tovamo {
namespace {

// Lines the owner applies per output stream itself.
bool SkippedInOptionText(std::string_view name) {
  static constexpr std::string_view kSkipped[] = {"newvideo", "newaudio", "newsubtitle", "apre",
                                                  "vpre",     "spre",     "vfilters",    "vf"};
  for (std::string_view s : kSkipped)
    if (name == s) return true;
  return false;
}

bool CodecLine(std::string_view name) {
  return name == "acodec" || name == "vcodec" || name == "scodec" || name == "s";
}

}  // namespace

void TCustomFFmpeg::ParseOption(const std::string& name, const std::string& value) {
  const TOptionRow* row = FindOptionRow(name);
  if (!row) {
    if (TrimText(name).empty()) {
      // The generic setter leaves the last error alone for a blank name; raising that
      // text would report some earlier option's failure.
      if (StrictOptions) throw FFmpegException("Unrecognized option \"" + name + "\"");
      return;
    }
    if (!SetGenericOption(name, value) && StrictOptions)
      throw FFmpegException(ThreadLastOptionError());
    return;
  }
  switch (row->Kind) {
    case TOptionKind::NoOp:
      Log(llInfo, "Do nothing: option - " + name);
      break;
    case TOptionKind::Flag:
      this->*(row->Flag) = value != "0";
      break;
    case TOptionKind::Integer:
      if (row->FrameLimit >= 0) {
        MaxFrames[row->FrameLimit] = StrToInt(value);
      } else {
        const int number = StrToInt(value);
        CheckOptionRange(*row, number);
        this->*(row->Integer) = number;
      }
      break;
    case TOptionKind::Int64:
      this->*(row->Int64) = StrToInt64(value);
      break;
    case TOptionKind::Float: {
      const float number = StrToSingle(value);
      CheckOptionRange(*row, number);
      this->*(row->Float) = number;
      break;
    }
    case TOptionKind::Text:
      if (!(row->KeepWhenEmpty && value.empty())) this->*(row->Text) = value;
      break;
    case TOptionKind::Handler:
      (this->*(row->Handler))(name, value);
      break;
    case TOptionKind::Removed:
      throw FFmpegException(row->Message);
  }
}

void TFFmpeg::ParseOptions(const std::string& text, bool withCodecs) {
  for (const TOptionLine& line : SplitOptionText(text)) {
    if (SkippedInOptionText(line.Name)) continue;
    if (CodecLine(line.Name) && !withCodecs) continue;
    ParseOption(line.Name, line.Value);
  }
}

// ---- Handlers ---------------------------------------------------------------------------

// The job's own level: other jobs running beside it keep theirs.
void TCustomFFmpeg::OptLogLevel(const std::string&, const std::string& value) {
  JobLogLevel = LogLevelByName(value);
}

void TCustomFFmpeg::OptTimeLimit(const std::string&, const std::string&) {
  Log(llWarning, "Warning: -timelimit not implemented");
}

void TCustomFFmpeg::OptVideoFilters(const std::string&, const std::string& value) {
  if (!value.empty()) VideoFilters = value;
}

void TCustomFFmpeg::OptNewStream(const std::string& name, const std::string&) {
  NewStream(name);
}

void TCustomFFmpeg::OptRcOverride(const std::string&, const std::string& value) {
  RcOverride = value;
}

void TCustomFFmpeg::OptAudioRate(const std::string&, const std::string& value) {
  const int rate = StrToInt(value);
  if (rate > 0) AudioSampleRate = rate;
}

void TCustomFFmpeg::OptAudioChannels(const std::string&, const std::string& value) {
  const int channels = StrToInt(value);
  if (channels > 0) AudioChannels = channels;
}

void TCustomFFmpeg::OptVideoStandard(const std::string&, const std::string& value) {
  VideoStandard = value;
}

void TCustomFFmpeg::OptPreset(const std::string& name, const std::string& value) {
  ApplyPreset(name, value);
}

}  // namespace tovamo
