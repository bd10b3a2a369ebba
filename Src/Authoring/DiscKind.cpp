#include "Authoring/DiscKind.h"

#include "Services/Text.h"

namespace tovamo::authoring {

namespace {

// 80- and 90-minute CDs at 75 sectors a second; single- and dual-layer DVD-R.
const TDiscSizeInfo kSizes[] = {
    {"700M", 360000, true, 360000LL * 2048},
    {"800M", 405000, true, 405000LL * 2048},
    {"4.7G", 2295104, false, 2295104LL * 2048},
    {"8.5G", 4171712, false, 4171712LL * 2048},
};

}  // namespace

std::optional<TDiscKind> DiscKindOfTarget(int targetType) {
  switch (targetType) {
    case 1:
      return TDiscKind::Vcd;
    case 2:
      return TDiscKind::Svcd;
    case 3:
      return TDiscKind::Dvd;
    default:
      return std::nullopt;
  }
}

std::string DiscKindName(TDiscKind kind) {
  switch (kind) {
    case TDiscKind::Vcd:
      return "VCD";
    case TDiscKind::Svcd:
      return "SVCD";
    case TDiscKind::Dvd:
      return "DVD";
  }
  return "disc";
}

const TDiscSizeInfo& DiscSizeInfo(TDiscSize size) {
  return kSizes[static_cast<int>(size)];
}

std::optional<TDiscSize> ParseDiscSize(const std::string& text) {
  for (int i = 0; i < 4; ++i)
    if (SameTextIgnoringCase(text, kSizes[i].Name)) return static_cast<TDiscSize>(i);
  return std::nullopt;
}

}  // namespace tovamo::authoring
