// Disc outputs carry no user data of the source's. The MPEG-1 and MPEG-2 encoders write a
// frame's stereo 3D tag ("JP3D") and closed captions ("GA94") as picture user data, and a
// decoded HDV or broadcast recording brings both along; vcdimager warns about such a
// stream and disc players expect nothing there but what the disc's own rules put.
#pragma once

#include "Services/FFHeaders.h"

namespace tovamo {

// True for the muxers of the disc targets: "vcd", "svcd", "dvd".
bool IsDiscMuxer(const AVOutputFormat* format);

// Removes every side data entry of `frame` that an encoder would write into the stream.
void DropSourceUserData(AVFrame* frame);

}  // namespace tovamo
