// The TV norm of an input's pictures, as the disc targets tell it from the frame rate:
// 25 frames a second is PAL, 29.97 or 23.976 NTSC.
#pragma once

#include "Services/FFHeaders.h"

namespace tovamo {

// The norm numbers of the output options: 0 none named, 1 PAL, 2 NTSC.
int NormTypeOfRate(AVRational rate);

// The norm of the first video stream of `input` whose frame rate names one; 0 for none.
int InputNormType(AVFormatContext* input);

}  // namespace tovamo
