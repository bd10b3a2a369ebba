#include "H264Profile.h"

#include <atomic>

#include "Services/FFBindings.h"
#include "Engine/OptionNumbers.h"
#include "Services/Text.h"

namespace tovamo {
namespace {

bool RealH264EncoderCheck() {
  return ff::avcodec_find_encoder_by_name && ff::avcodec_find_encoder_by_name("libx264");
}

std::atomic<THasH264Encoder> gH264Check{&RealH264EncoderCheck};

// The device class of a frame size: pocket players take Baseline at 30 frames/s at most.
struct TDeviceClass {
  int MaxWidth, MaxHeight;
  const char* Preset;  // a libx264 preset of the option vocabulary, "" none
  const char* Profile;
  const char* MaxFps;
  const char* BufSize;  // the level's VBV limit where the preset's buffer exceeds it, or ""
};

constexpr TDeviceClass kDeviceClasses[] = {
    {320, 240, "ipod320", "baseline", "30", "2000000"},  // level 1.3 holds 2000 kbit
    {640, 480, "ipod640", "baseline", "30", ""},
    {0, 0, "", "high", "60", ""},  // any larger size: phones
};

}  // namespace

bool IsH264Codec(std::string_view codec) {
  const std::string name = TrimText(std::string(codec));
  return SameTextIgnoringCase(name, "libx264") || SameTextIgnoringCase(name, "h264");
}

std::string OutputExtensionForCodec(std::string_view codec) {
  return IsH264Codec(codec) ? ".mp4" : ".mpg";
}

void ApplyH264Settings(TOutputOptions& options, const TProfileValues& values) {
  int width = 0, height = 0;
  TryStrToInt(values.Width, width);
  TryStrToInt(values.Height, height);
  const TDeviceClass* device = &kDeviceClasses[std::size(kDeviceClasses) - 1];
  for (const TDeviceClass& c : kDeviceClasses)
    if (width <= c.MaxWidth && height <= c.MaxHeight) {
      device = &c;
      break;
    }
  options.FileFormat = "mp4";
  options.VideoCodec = "libx264";
  options.AudioCodec = "aac";
  options.VideoPreset = device->Preset;
  options.ExtraOptions += std::string("profile=") + device->Profile + "\nfpsmax=" + device->MaxFps +
                          "\nfit=inside\nmovflags=+faststart\n";
  if (*device->BufSize) options.ExtraOptions += std::string("bufsize=") + device->BufSize + "\n";
}

bool HasH264Encoder() {
  return gH264Check.load()();
}

std::string H264EncoderProblem(std::string_view name, std::string_view codec) {
  if (!IsH264Codec(codec) || HasH264Encoder()) return {};
  return "\"" + std::string(name) +
         "\" writes H.264, but the media libraries have no H.264 encoder (libx264)";
}

void SetH264EncoderCheck(THasH264Encoder check) {
  gH264Check.store(check ? check : &RealH264EncoderCheck);
}

}  // namespace tovamo
