// What a second pass of the MPEG video encoders needs of its bit rate. Their rate control
// gives the motion vectors and headers a first pass recorded their bits as they are and
// plans the pictures' texture in what is left, no coarser than quantiser 31; when that does
// not fit it refuses to open, and this build of the media libraries then frees its rate
// equation twice and aborts the process. The engine refuses such a second pass itself, with
// the rate it would need.
#pragma once

#include <cstdint>
#include <string>

namespace tovamo {

// The encoders built on the media libraries' MPEG video core, which share its rate control
// and statistics and take the same decision options (mbd, trellis, cmp).
bool OnMpegVideoCore(const std::string& encoderName);

// The least bit rate (bits per second) at which a second pass can plan the pictures of
// `stats` (a first pass's "in:... q:N itex:N ptex:N mv:N misc:N ...;" lines): their motion
// and header bits, their texture at the coarsest quantiser, and the encoder's own allowance
// for the `extraEntries` pictures it adds (its B-pictures count), each of `macroblocks`
// macroblocks, over the pictures' time at `frameSeconds` each, with a margin. 0 when the
// text holds no pictures.
std::int64_t PassTwoLeastBitRate(const char* stats, double frameSeconds, int extraEntries,
                                 int macroblocks);

}  // namespace tovamo
