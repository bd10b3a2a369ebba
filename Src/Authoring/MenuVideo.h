// The moving part of a menu page: its still picture as a short MPEG-2 program with silent
// sound, made by the engine with the DVD target so that the frame size, rate and aspect are
// those of the disc's titles.
#pragma once

#include <string>

#include "Authoring/DiscKind.h"

namespace tovamo::authoring {

// The shape a DVD's MPEG file is shown in, from its first sequence header: true for 16:9.
bool MpegFileWide(const std::string& path);

// A sound file of `seconds` of silence (48 kHz stereo) carrying the PNG as its cover: the
// engine turns a cover into a picture lasting as long as the sound. False with `error`.
bool WriteStillSource(const std::string& png, double seconds, const std::string& wav,
                      std::string& error);

// Converts the PNG into `mpg` for a DVD of this norm and shape. False with `error`.
bool MakeMenuVideo(const std::string& png, TDiscNorm norm, bool wide, const std::string& mpg,
                   std::string& error);

}  // namespace tovamo::authoring
