// How far a stream's timestamps may jump with nothing in its file to vouch for the gap.
// Within the bound, or where the file vouches for it (its other streams have got as far,
// or it lies within the length a lone stream's file states), a gap is the input's own and
// is filled with repeated pictures or silence; beyond, it is a discontinuity to step over.
#pragma once

#include <cstdint>

namespace tovamo {

// The longest gap in an input stream's timestamps taken as it is without the file vouching
// for it, and the longest step back made up by dropping; a longer jump is stepped over.
constexpr std::int64_t kLongestFilledGapMicros = 5'000'000;

}  // namespace tovamo
