#include "Engine/PassTwoRate.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace tovamo {

namespace {

// The number after `field` ("mv:") in one picture's entry [begin, end), or 0.
double FieldIn(const char* begin, const char* end, const char* field) {
  const std::size_t length = std::strlen(field);
  for (const char* p = begin; p + length <= end; ++p)
    if ((p == begin || p[-1] == ' ') && std::strncmp(p, field, length) == 0)
      return std::strtod(p + length, nullptr);
  return 0;
}

}  // namespace

bool OnMpegVideoCore(const std::string& encoderName) {
  static const char* const kNames[] = {"mpeg1video", "mpeg2video", "mpeg4", "h263", "h263p",
                                       "msmpeg4v2",  "msmpeg4",    "wmv1",  "wmv2", "flv"};
  for (const char* name : kNames)
    if (encoderName == name) return true;
  return false;
}

std::int64_t PassTwoLeastBitRate(const char* stats, double frameSeconds, int extraEntries,
                                 int macroblocks) {
  if (!stats || frameSeconds <= 0) return 0;
  // The coarsest quantiser the plan may reach, as a Lagrange factor (31 steps of 118).
  constexpr double kCoarsest = 31 * 118;
  // The plan's own estimates are not exact: a rate this much over the sum still fails.
  constexpr double kMargin = 1.1;
  double leastBits = 0;
  long pictures = 0;
  for (const char* p = stats; *p;) {
    const char* end = std::strchr(p, ';');
    if (!end) end = p + std::strlen(p);
    const char* entry = std::strstr(p, "in:");
    if (entry && entry < end) {
      // Motion and headers as they are; the texture as at the first pass's quantiser "q",
      // scaled to the coarsest.
      // I-pictures stop at the encoder's 0.8 of the others' coarsest.
      const double texture = FieldIn(entry, end, "itex:") + FieldIn(entry, end, "ptex:") + 1;
      const double coarsest = FieldIn(entry, end, "type:") == 1 ? kCoarsest * 0.8 : kCoarsest;
      leastBits += FieldIn(entry, end, "mv:") + FieldIn(entry, end, "misc:") +
                   texture * FieldIn(entry, end, "q:") / coarsest;
      ++pictures;
    }
    p = *end ? end + 1 : end;
  }
  if (pictures == 0) return 0;
  // The encoder adds this many entries of its own, each with a macroblock's bit and ten.
  const long entries = pictures + std::max(extraEntries, 0);
  leastBits += double(std::max(extraEntries, 0)) * (macroblocks + 10);
  return std::int64_t(std::ceil(leastBits * kMargin / (double(entries) * frameSeconds)));
}

}  // namespace tovamo
