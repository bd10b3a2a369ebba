#include "TextWidth.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <vector>

namespace tovamo::cli {
namespace {

struct TRange {
  char32_t First, Last;
};

// Unicode's East Asian Wide and Fullwidth blocks, and the emoji terminals draw two wide.
constexpr TRange kWide[] = {
    {0x1100, 0x115F},   {0x231A, 0x231B},   {0x2329, 0x232A},   {0x23E9, 0x23EC},
    {0x23F0, 0x23F0},   {0x23F3, 0x23F3},   {0x25FD, 0x25FE},   {0x2614, 0x2615},
    {0x2648, 0x2653},   {0x267F, 0x267F},   {0x2693, 0x2693},   {0x26A1, 0x26A1},
    {0x26AA, 0x26AB},   {0x26BD, 0x26BE},   {0x26C4, 0x26C5},   {0x26CE, 0x26CE},
    {0x26D4, 0x26D4},   {0x26EA, 0x26EA},   {0x26F2, 0x26F3},   {0x26F5, 0x26F5},
    {0x26FA, 0x26FA},   {0x26FD, 0x26FD},   {0x2705, 0x2705},   {0x270A, 0x270B},
    {0x2728, 0x2728},   {0x274C, 0x274C},   {0x274E, 0x274E},   {0x2753, 0x2755},
    {0x2757, 0x2757},   {0x2795, 0x2797},   {0x27B0, 0x27B0},   {0x27BF, 0x27BF},
    {0x2B1B, 0x2B1C},   {0x2B50, 0x2B50},   {0x2B55, 0x2B55},   {0x2E80, 0x303E},
    {0x3041, 0x3098},   {0x309B, 0x33FF},   {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},
    {0xA000, 0xA4CF},   {0xA960, 0xA97F},   {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},
    {0xFE10, 0xFE19},   {0xFE30, 0xFE6F},   {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},
    {0x16FE0, 0x16FE4}, {0x17000, 0x18CFF}, {0x1B000, 0x1B2FF}, {0x1F004, 0x1F004},
    {0x1F0CF, 0x1F0CF}, {0x1F18E, 0x1F18E}, {0x1F191, 0x1F19A}, {0x1F200, 0x1F251},
    {0x1F300, 0x1F64F}, {0x1F680, 0x1F6FF}, {0x1F900, 0x1F9FF}, {0x1FA70, 0x1FAFF},
    {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD},
};

// Combining marks, joiners and selectors: drawn on the character before them.
constexpr TRange kZero[] = {
    {0x0300, 0x036F},   {0x0483, 0x0489}, {0x0591, 0x05BD}, {0x0610, 0x061A}, {0x064B, 0x065F},
    {0x0E31, 0x0E31},   {0x0E34, 0x0E3A}, {0x0E47, 0x0E4E}, {0x1160, 0x11FF}, {0x1AB0, 0x1AFF},
    {0x1DC0, 0x1DFF},   {0x200B, 0x200F}, {0x202A, 0x202E}, {0x2060, 0x2064}, {0x20D0, 0x20FF},
    {0x3099, 0x309A},   {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F}, {0xFEFF, 0xFEFF}, {0xE0001, 0xE007F},
    {0xE0100, 0xE01EF},
};

template <std::size_t N>
bool In(const TRange (&table)[N], char32_t c) {
  const auto it = std::upper_bound(std::begin(table), std::end(table), c,
                                   [](char32_t value, const TRange& r) { return value < r.First; });
  return it != std::begin(table) && c <= std::prev(it)->Last;
}

int CodePointWidth(char32_t c) {
  if (In(kZero, c)) return 0;
  return In(kWide, c) ? 2 : 1;
}

// One character as drawn: its bytes (a base and the marks on it) and its columns.
struct TCluster {
  std::size_t Begin, End;
  std::size_t Width;
};

// Decodes one UTF-8 sequence at `i`; a malformed byte stands alone with no code point.
std::size_t Decode(const std::string& text, std::size_t i, char32_t& c, bool& valid) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  valid = false;
  c = 0;
  std::size_t length = lead < 0x80         ? 1
                       : lead >> 5 == 0x6  ? 2
                       : lead >> 4 == 0xE  ? 3
                       : lead >> 3 == 0x1E ? 4
                                           : 0;
  if (length == 0 || i + length > text.size()) return 1;
  c = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 1;
    c = (c << 6) | (byte(i + k) & 0x3F);
  }
  valid = true;
  return length;
}

std::vector<TCluster> Clusters(const std::string& text) {
  std::vector<TCluster> clusters;
  for (std::size_t i = 0; i < text.size();) {
    char32_t c;
    bool valid;
    const std::size_t length = Decode(text, i, c, valid);
    const int width = valid ? CodePointWidth(c) : 1;
    if (width == 0 && !clusters.empty())
      clusters.back().End = i + length;
    else
      clusters.push_back({i, i + length, std::size_t(width)});
    i += length;
  }
  return clusters;
}

}  // namespace

std::size_t DisplayWidth(const std::string& text) {
  std::size_t width = 0;
  for (const TCluster& cluster : Clusters(text)) width += cluster.Width;
  return width;
}

std::string ElideMiddle(const std::string& text, std::size_t width) {
  const std::vector<TCluster> clusters = Clusters(text);
  std::size_t total = 0;
  for (const TCluster& cluster : clusters) total += cluster.Width;
  if (total <= width) return text;
  const std::string dots = "...";
  if (width <= dots.size()) return dots.substr(0, width);
  // The end gets the larger half: names of one series differ there.
  const std::size_t room = width - dots.size();
  std::size_t headRoom = room / 2, tailRoom = room - headRoom;
  std::size_t head = 0, used = 0;
  while (head < clusters.size() && used + clusters[head].Width <= headRoom)
    used += clusters[head++].Width;
  tailRoom += headRoom - used;  // a wide character that did not fit leaves its column
  std::size_t tail = clusters.size();
  used = 0;
  while (tail > head && used + clusters[tail - 1].Width <= tailRoom) used += clusters[--tail].Width;
  const std::size_t headEnd = head > 0 ? clusters[head - 1].End : 0;
  const std::size_t tailBegin = tail < clusters.size() ? clusters[tail].Begin : text.size();
  return text.substr(0, headEnd) + dots + text.substr(tailBegin);
}

}  // namespace tovamo::cli
