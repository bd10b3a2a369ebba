// What an input stream's own flags and side data say about how it is to be used: which
// stream of a kind an output takes by default, whether a picture stream is only a cover
// picture, and how the picture must be turned to stand upright.
#pragma once

#include <cstdint>
#include <string>

#include "Services/FFHeaders.h"

namespace tovamo {

// A picture stored with the file (album art, a thumbnail) rather than a moving video.
bool IsAttachedPicture(const AVStream& stream);

// How much a stream offers as the default source of its kind; the highest wins, the first
// among equals. Video: a real video before any cover picture, then the picture size.
// Audio: the stream the file marks as its default, then the channel count. Every stream
// scores at least 0.
std::int64_t StreamScore(const AVStream& stream);

// The clockwise turn, 0, 90, 180 or 270 degrees, that a player gives the stored picture
// by the stream's display matrix (a phone held upright stores landscape pixels). 0 when
// the stream has none, or a turn that is no quarter.
int DisplayRotation(const AVStream& stream);

// The filters that turn a picture clockwise by `rotation` (one of DisplayRotation's
// values), or empty for 0.
std::string TurnFilters(int rotation);

// True when the turn exchanges width and height.
inline bool TurnIsSideways(int rotation) {
  return rotation == 90 || rotation == 270;
}

}  // namespace tovamo
