// How far the output may go to keep up with the input's timestamps. Beyond these bounds a
// jump in an input's timestamps is a discontinuity to step over, not a gap to fill with
// repeated pictures or silence.
#pragma once

#include <cstdint>

namespace tovamo {

// The longest gap in an input stream's timestamps that is filled (repeated pictures,
// silence) or dropped to stay in step; a longer jump is stepped over.
constexpr std::int64_t kLongestFilledGapMicros = 5'000'000;

}  // namespace tovamo
