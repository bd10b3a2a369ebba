#include "ProfileOptions.h"

#include <climits>

#include "Engine/OptionNumbers.h"
#include "H264Profile.h"
#include "Services/Exceptions.h"
#include "Services/Text.h"

namespace tovamo {
namespace {

constexpr int kFallbackSampleRate = 24000;

bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

// A bit rate in kbit/s as bit/s; `what` is "audio" or "video".
int BitrateOf(const std::string& kbits, const char* what, std::string_view profileName) {
  int value = 0;
  const std::string where = std::string("The ") + what + " bit rate \"" + kbits +
                            "\" of the profile \"" + std::string(profileName) + "\"";
  if (!TryStrToInt(kbits, value)) {
    throw EConvertError(where + " is not a whole number of kbit/s.");
  }
  // Bit/s must fit the option record; zero or less would read as "unset" or be refused late.
  if (value <= 0 || value > INT_MAX / 1000) {
    throw EConvertError(where + " is out of range.");
  }
  return value * 1000;
}

}  // namespace

int TargetTypeOfProfile(std::string_view profileName) {
  int target = 0;
  if (Contains(profileName, "VCD")) target = 1;
  if (Contains(profileName, "SVCD")) target = 2;
  if (Contains(profileName, "DVD")) target = 3;
  return target;
}

int NormTypeOfProfile(std::string_view profileName) {
  int norm = 0;
  if (Contains(profileName, "NTSC")) norm = 2;
  if (Contains(profileName, "PAL")) norm = 1;
  return norm;
}

std::string OutputFileNameFor(std::string_view outputFolder, std::string_view inputPath,
                              std::string_view extension) {
  const std::size_t slash = inputPath.rfind('/');
  std::string_view name = slash == std::string_view::npos ? inputPath : inputPath.substr(slash + 1);
  name = name.substr(0, name.find('.'));
  std::string fileName(outputFolder);
  if (fileName.empty() || fileName.back() != '/') fileName += '/';
  return fileName + std::string(name) + std::string(extension);
}

TOutputOptions ProfileToOutputOptions(const TProfileValues& values, std::string_view profileName,
                                      std::string_view aspect, std::string_view outputFolder,
                                      std::string_view inputPath) {
  TOutputOptions options;
  InitOutputOptions(options);

  options.AudioChannels = values.Channels == "mono" ? 1 : 2;
  if (!TryStrToInt(values.SampleRate, options.AudioSampleRate)) {
    options.AudioSampleRate = kFallbackSampleRate;
  }
  options.FrameSize = values.Width + "x" + values.Height;

  const std::string frameRate = TrimText(values.FrameRate);
  if (frameRate == "29.97") {
    options.FrameRate = "30000/1001";  // the exact NTSC rate, not a rounded one
  } else if (frameRate != "Auto") {
    options.FrameRate = frameRate;
  }
  const std::string trimmedAspect = TrimText(aspect);
  if (trimmedAspect != "Auto") options.AspectRatio = trimmedAspect;

  options.AudioBitrate = BitrateOf(values.AudioBitrate, "audio", profileName);
  options.TargetType = TargetTypeOfProfile(profileName);
  // A disc target brings its own codecs and rates. Without one, the shown codec and video bit
  // rate are the ones used: the ".mpg" defaults alone would give MPEG-1 at 200 kbit/s whatever
  // the profile shows.
  if (options.TargetType == 0) {
    options.VideoCodec = TrimText(values.Codec);
    options.VideoBitrate = BitrateOf(values.VideoBitrate, "video", profileName);
  }
  options.NormType = NormTypeOfProfile(profileName);
  if (options.TargetType == 0 && IsH264Codec(values.Codec)) ApplyH264Settings(options, values);
  options.FileName =
      OutputFileNameFor(outputFolder, inputPath, OutputExtensionForCodec(values.Codec));
  return options;
}

}  // namespace tovamo
