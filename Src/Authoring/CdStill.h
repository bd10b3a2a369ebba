// The still picture of a video CD's selection screen as the disc wants it: the picture
// converted by the engine with the disc's own settings (VCD: MPEG-1 at 352x288 or 352x240;
// SVCD: MPEG-2 at 480x576 or 480x480), its video then marked as a still picture's.
#pragma once

#include <string>

#include "Authoring/DiscKind.h"

namespace tovamo::authoring {

// Converts `picture` (a PNG) into the still segment `still`; false with the reason when it
// cannot. Norm: Pal or Ntsc.
bool MakeCdStill(const std::string& picture, const std::string& still, TDiscKind kind,
                 TDiscNorm norm, std::string& reason);

// A video CD tells a still picture from motion video by its stream: 0xE1 (a still of
// normal resolution) where motion video has 0xE0. Renames the video stream of an MPEG
// program stream so, in its packets and its system header; false when the bytes are not
// such a stream (nothing is changed then).
bool MarkVideoAsStill(std::string& stream);

}  // namespace tovamo::authoring
