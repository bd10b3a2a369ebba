// ApplyPreset: a named group of options from the built-in table or from a file.
#include <filesystem>
#include <fstream>
#include <sstream>

#include "Engine/BuiltinPresets.h"
#include "Engine/FFmpeg.h"
#include "Engine/OptionTable.h"
#include "Services/Text.h"
#include "Services/FFBindings.h"

namespace tovamo {
namespace {

const AVClass* X264PrivateClass() {
  if (!ff::avcodec_find_encoder_by_name) return nullptr;
  const AVCodec* codec = ff::avcodec_find_encoder_by_name("libx264");
  return codec ? codec->priv_class : nullptr;
}

bool ReadPresetFile(const std::string& fileName, std::string& content) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(fileName, ec)) return false;
  std::ifstream in(fileName, std::ios::binary);
  if (!in) return false;
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) return false;
  content = text.str();
  return true;
}

// libx264's own presets, fastest first: "vpre=slow" names one where no file does.
const char* const kX264Presets[] = {"ultrafast", "superfast", "veryfast", "faster",   "fast",
                                    "medium",    "slow",      "slower",   "veryslow", "placebo"};

bool IsX264PresetName(const std::string& name) {
  for (const char* preset : kX264Presets)
    if (name == preset) return true;
  return false;
}

std::string X264PresetList() {
  std::string list;
  for (const char* preset : kX264Presets) list += (list.empty() ? "" : ", ") + std::string(preset);
  return list;
}

}  // namespace

void TCustomFFmpeg::ApplyPreset(const std::string& kind, const std::string& presetName) {
  if (kind.empty() || presetName.empty()) return;
  const char k = kind[0];
  Assert(k == 'a' || k == 'f' || k == 's' || k == 'v', "Invalid preset kind", "FFmpeg");

  std::string displayName;
  std::string content;
  bool builtin = false;
  std::error_code ec;
  const bool isFile = std::filesystem::is_regular_file(presetName, ec);
  const std::string lowerName = LowerCaseAscii(presetName);
  if (k == 'v' && !isFile && IsX264PresetName(lowerName)) {
    if (!VideoCodecName.empty() && VideoCodecName != "libx264")
      throw FFmpegException("Preset \"" + presetName + "\" is a preset of libx264, not of " +
                            VideoCodecName);
    if (!SetGenericOption("preset", lowerName) && StrictOptions)
      throw FFmpegException(ThreadLastOptionError());
    return;
  }
  if (k != 'f') {
    const TOptionsPreset* preset = FindBuiltinPreset(presetName);
    if (preset) {
      displayName = presetName;
    } else {
      const std::string& codecName = k == 'v'   ? VideoCodecName
                                     : k == 'a' ? AudioCodecName
                                                : SubtitleCodecName;
      if (!codecName.empty()) {
        const std::string composed = codecName + "-" + presetName;
        preset = FindBuiltinPreset(composed);
        if (preset) displayName = composed;
      }
    }
    if (preset) {
      content = preset->Content;
      builtin = true;
    }
  }
  if (!builtin) {
    if (!ReadPresetFile(presetName, content))
      throw FFmpegException("Preset \"" + presetName + "\" not found" +
                            (k == 'v' ? " (the libx264 presets: " + X264PresetList() + ")" : ""));
    displayName = presetName;
  }

  const AVClass* x264Class = builtin ? X264PrivateClass() : nullptr;
  const std::string text = NormalizeLineBreaks(TrimText(content));
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = TrimText(text.substr(start, end - start));
    start = end + 1;
    if (line.empty() || line[0] == '#') continue;

    const std::size_t eq = line.find('=');
    const std::string key = eq == std::string::npos ? line : line.substr(0, eq);
    const std::string value = eq == std::string::npos ? std::string() : line.substr(eq + 1);
    if (key.empty() || value.empty())
      throw FFmpegException(displayName + ": Invalid syntax: \"" + line + "\"");

    const std::string lowerKey = LowerCaseAscii(key);
    if (lowerKey == "acodec" || lowerKey == "vcodec" || lowerKey == "scodec") {
      ParseOption(lowerKey, value);
      continue;
    }

    TPresetTranslation translation;
    if (builtin)
      translation = TranslateBuiltinPresetOption(key, value, x264Class);
    else
      translation.Options.push_back({key, value});
    for (const std::string& skipped : translation.Skipped)
      LogFmt(llInfo, "Preset %s: option %s skipped (no equivalent)", displayName.c_str(),
             skipped.c_str());
    for (const TPresetOption& option : translation.Options) {
      if (!SetGenericOption(option.Key, option.Value) && StrictOptions)
        throw FFmpegException(ThreadLastOptionError() + "\r\n" + displayName +
                              ": Invalid option or argument: \"" + line + "\", parsed as \"" +
                              option.Key + "\" = \"" + option.Value + "\"");
    }
  }
}

}  // namespace tovamo
