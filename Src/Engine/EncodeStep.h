// Helpers the video, audio and drain code share.
#pragma once

#include <cstdint>

#include "Services/FFHeaders.h"

namespace tovamo {

AVFrame* NewFrame();  // raises when no frame can be had

// Scales decoded samples by volume / 256 in place (256 leaves them alone): 16-bit samples
// as (s * volume + 128) >> 8, every format clamped to its range. False when the frame
// could not be made writable.
bool ApplyVolume(AVFrame* frame, int volume);

}  // namespace tovamo
