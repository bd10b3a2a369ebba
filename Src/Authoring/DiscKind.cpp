#include "Authoring/DiscKind.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

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

TDiscSizeInfo DiscSizeInfo(TDiscSize size) {
  if (size.Named >= 0 && size.Named < 4) return kSizes[size.Named];
  TDiscSizeInfo info;
  const double megabytes = double(size.Bytes) / 1e6;
  char name[32];
  if (megabytes >= 1000)
    std::snprintf(name, sizeof name, "%gG", megabytes / 1000);
  else
    std::snprintf(name, sizeof name, "%gM", megabytes);
  info.Name = name;
  info.CapacityBytes = size.Bytes / 2048 * 2048;
  info.Sectors = size.Bytes / 2352;  // what a CD image of this many bytes holds
  info.Cd = false;
  info.Custom = true;
  return info;
}

std::optional<TDiscSize> ParseDiscSize(const std::string& text) {
  for (int i = 0; i < 4; ++i)
    if (SameTextIgnoringCase(text, kSizes[i].Name)) return TDiscSize{i};
  // A number with M or G after it, nothing else: "40M", "2.5g".
  if (text.size() < 2 || text.size() > 12) return std::nullopt;
  const char unit = text.back();
  const double scale = unit == 'M' || unit == 'm' ? 1e6 : unit == 'G' || unit == 'g' ? 1e9 : 0;
  const std::string number = text.substr(0, text.size() - 1);
  if (scale == 0 || number.find_first_not_of("0123456789.") != std::string::npos ||
      number.front() == '.' || number.back() == '.')
    return std::nullopt;
  const TCNumericLocale numbers;  // "2.5" whatever the program's locale
  char* end = nullptr;
  const double value = std::strtod(number.c_str(), &end);
  if (!end || *end != '\0' || !std::isfinite(value)) return std::nullopt;
  const double bytes = value * scale;
  if (bytes < 2e6 || bytes > 100e9) return std::nullopt;
  return TDiscSize{-1, static_cast<std::int64_t>(std::llround(bytes))};
}

}  // namespace tovamo::authoring
