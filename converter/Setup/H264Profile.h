// Profiles whose video codec is H.264: MP4 files for pocket players and phones, written
// with libx264 and the libraries' AAC encoder, the index at the front of the file.
#pragma once

#include <string>
#include <string_view>

#include "Engine/TaskOptions.h"
#include "FormatString.h"

namespace tovamo {

// True for a profile codec value that names H.264 ("libx264", "h264", any case).
bool IsH264Codec(std::string_view codec);

// ".mp4" for an H.264 codec value, ".mpg" for every other.
std::string OutputExtensionForCodec(std::string_view codec);

// The settings of an H.264 profile on top of the options its values already gave:
// container, codecs, the device class's encoder settings (by the profile's frame size: up
// to 320x240 the "ipod320" preset, up to 640x480 "ipod640", both Baseline and at most
// 30 frames/s; larger sizes High at most 60 frames/s), the picture fitted inside the frame
// size keeping its proportions, and the index written at the front.
void ApplyH264Settings(TOutputOptions& options, const TProfileValues& values);

// The values of the 720p phone profile, which `tovamo-convert --target mp4` converts with.
inline constexpr const char* kPhone720ProfileName = "H264 FOR PHONES(1280*720)";
inline constexpr const char* kPhone720FormatString =
    "4000|1280x720|Auto|Auto|libx264|192|48000|stereo|";

// Whether the loaded media libraries have the H.264 encoder these profiles need; a test can
// put another check in place.
using THasH264Encoder = bool (*)();
bool HasH264Encoder();
void SetH264EncoderCheck(THasH264Encoder check);  // nullptr restores the real one

// The reason shown for an H.264 profile that cannot be used without the encoder.
inline constexpr const char* kNoH264EncoderReason =
    "The media libraries have no H.264 encoder (libx264): H.264 profiles cannot be used.";

// Why the profile `name` with the codec value `codec` cannot convert with the loaded
// libraries (an H.264 profile without the encoder), or empty.
std::string H264EncoderProblem(std::string_view name, std::string_view codec);

}  // namespace tovamo
