// The discs an image can be made for, and the disc sizes a batch can be fitted to.
#pragma once

#include <compare>
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

// One of the usual discs, or a size of the user's (a small "disc" of a few clips, a card).
struct TDiscSize {
  int Named = 2;           // index of the usual sizes; -1: Bytes
  std::int64_t Bytes = 0;  // a size of the user's, in bytes
  static const TDiscSize Cd700, Cd800, Dvd47, Dvd85;
  bool operator==(const TDiscSize&) const = default;
};
inline const TDiscSize TDiscSize::Cd700{0};
inline const TDiscSize TDiscSize::Cd800{1};
inline const TDiscSize TDiscSize::Dvd47{2};
inline const TDiscSize TDiscSize::Dvd85{3};

struct TDiscSizeInfo {
  std::string Name;            // as the user writes it: "700M", "4.7G", "40M"
  std::int64_t Sectors;        // of the whole recordable area (a CD's of 2352 bytes)
  bool Cd;                     // a CD (VCD and SVCD images) or a DVD
  std::int64_t CapacityBytes;  // what a disc of this size holds as data (2048-byte sectors)
  bool Custom = false;         // a size of the user's: it holds an image of any kind
};

TDiscSizeInfo DiscSizeInfo(TDiscSize size);
// "4.7G", "8.5G", "700M", "800M" (the letter in either case), or a size of the user's: a
// number of megabytes or gigabytes ("40M", "2.5G", 1M = 1,000,000 bytes) from 2M to 100G.
// Nothing for anything else.
std::optional<TDiscSize> ParseDiscSize(const std::string& text);

}  // namespace tovamo::authoring
