// The discs an image can be made for, and the disc sizes a batch can be fitted to.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tovamo::authoring {

enum class TDiscKind { Vcd, Svcd, Dvd };
// Auto: the norm of the first file's pictures.
enum class TDiscNorm { Auto, Pal, Ntsc };

// The output options' target number (1 vcd, 2 svcd, 3 dvd); nothing for other targets.
std::optional<TDiscKind> DiscKindOfTarget(int targetType);
std::string DiscKindName(TDiscKind kind);  // "VCD", "SVCD", "DVD"

enum class TDiscSize { Cd700, Cd800, Dvd47, Dvd85 };

struct TDiscSizeInfo {
  const char* Name;            // as the user writes it: "700M", "4.7G"
  std::int64_t Sectors;        // of the whole recordable area
  bool Cd;                     // a CD (VCD and SVCD images) or a DVD
  std::int64_t CapacityBytes;  // what a disc of this size holds as data (2048-byte sectors)
};

const TDiscSizeInfo& DiscSizeInfo(TDiscSize size);
// "4.7G", "8.5G", "700M", "800M" (the letter in either case); nothing for anything else.
std::optional<TDiscSize> ParseDiscSize(const std::string& text);

}  // namespace tovamo::authoring
