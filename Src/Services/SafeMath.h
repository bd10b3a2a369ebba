// Integer arithmetic on values that come from media files and option texts, where an
// overflow must clamp instead of wrapping.
#pragma once

#include <cstdint>
#include <limits>

namespace tovamo {

// a + b, held at the 64-bit limits instead of wrapping.
constexpr std::int64_t SaturatingAdd(std::int64_t a, std::int64_t b) {
  std::int64_t sum = 0;
  if (!__builtin_add_overflow(a, b, &sum)) return sum;
  return b > 0 ? std::numeric_limits<std::int64_t>::max()
               : std::numeric_limits<std::int64_t>::min();
}

}  // namespace tovamo
