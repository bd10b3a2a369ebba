#include "Damage.h"

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <vector>

namespace fixturegen {
namespace {

using TBytes = std::vector<unsigned char>;

// SplitMix64: tiny, fast and the same sequence on every platform (unlike the standard
// library's distributions).
class TNoise {
 public:
  explicit TNoise(uint64_t seed) : State_(seed) {}
  unsigned char Next() {
    uint64_t z = (State_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return static_cast<unsigned char>((z ^ (z >> 31)) >> 56);
  }

 private:
  uint64_t State_;
};

constexpr uint64_t kSeed = 0x7ABE5EEDull;
constexpr size_t kRandomSize = 64 * 1024;
constexpr size_t kBlock = 2048;

constexpr const char kProse[] =
    "These are the notes of a holiday by the sea, typed up on the evening we came home.\n"
    "The first day it rained, and we walked along the harbour wall to the old lighthouse.\n"
    "On the second day the sun came out and the children built a castle with a moat.\n"
    "Someone saved this text under the name of a video file; it holds no pictures at all.\n";

TBytes ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return TBytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const TBytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path);
}

uint32_t Read32(const unsigned char* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

uint64_t Read64(const unsigned char* p) {
  return uint64_t(Read32(p)) << 32 | Read32(p + 4);
}

// Calls onBox(type offset, body begin, body end) for each box laid end to end in
// bytes[begin, end). Stops at a box whose size does not fit.
template <typename F>
void ForEachBox(const TBytes& bytes, size_t begin, size_t end, F&& onBox) {
  size_t at = begin;
  while (end - at >= 8) {
    uint64_t size = Read32(&bytes[at]);
    size_t header = 8;
    if (size == 1) {
      if (end - at < 16) return;
      size = Read64(&bytes[at + 8]);
      header = 16;
    } else if (size == 0) {
      size = end - at;  // runs to the end of its parent
    }
    if (size < header || size > end - at) return;
    onBox(at + 4, at + header, at + static_cast<size_t>(size));
    at += static_cast<size_t>(size);
  }
}

// About 60 % of the size, in the middle of a 2 KiB block: MPEG program stream packs are
// 2 KiB long, so the file ends inside one, as a download that stopped would.
size_t CutPoint(size_t size) {
  return size * 6 / 10 / kBlock * kBlock + kBlock / 2;
}

// The index of an MP4 is its 'moov' box; each stream is described by one 'trak' in it.
// Renamed 'free' (padding every reader skips), the streams vanish while every byte of
// the media data stays where it was.
void HideTracks(TBytes& bytes) {
  int renamed = 0;
  ForEachBox(bytes, 0, bytes.size(), [&](size_t type, size_t body, size_t end) {
    if (std::memcmp(&bytes[type], "moov", 4) != 0) return;
    ForEachBox(bytes, body, end, [&](size_t childType, size_t, size_t) {
      if (std::memcmp(&bytes[childType], "trak", 4) != 0) return;
      std::memcpy(&bytes[childType], "free", 4);
      ++renamed;
    });
  });
  if (renamed == 0) throw std::runtime_error("no 'trak' box in a 'moov' box");
}

// An MPEG-1 packet header: stuffing bytes, an optional buffer size (2 bytes), then a
// presentation time (5 bytes), both times (10 bytes) or the byte 0x0F for none. Each audio
// packet's times become stuffing and 0x0F, the packet keeping its length.
void RemoveAudioTimes(TBytes& bytes) {
  int removed = 0;
  for (size_t i = 0; i + 6 < bytes.size(); ++i) {
    if (bytes[i] != 0 || bytes[i + 1] != 0 || bytes[i + 2] != 1 || (bytes[i + 3] & 0xE0) != 0xC0)
      continue;
    const size_t begin = i + 6;
    size_t at = begin;
    while (at < bytes.size() && bytes[at] == 0xFF) ++at;
    const size_t stuffing = at - begin;
    size_t buffer = 0;
    if (at + 1 < bytes.size() && (bytes[at] & 0xC0) == 0x40) buffer = 2;
    const size_t times = at + buffer;
    if (times >= bytes.size()) break;
    const size_t length = (bytes[times] & 0xF0) == 0x20   ? 5
                          : (bytes[times] & 0xF0) == 0x30 ? 10
                                                          : 0;
    if (length == 0 || times + length > bytes.size()) continue;
    const unsigned char size[2] = {bytes[at], buffer ? bytes[at + 1] : (unsigned char)0};
    size_t out = begin;
    for (size_t k = 0; k < stuffing + length - 1; ++k) bytes[out++] = 0xFF;
    if (buffer) {
      bytes[out++] = size[0];
      bytes[out++] = size[1];
    }
    bytes[out] = 0x0F;
    ++removed;
  }
  if (removed == 0) throw std::runtime_error("no timed MPEG-1 audio packet");
}

// AVI: the 'strf' chunk after the audio stream's 'strh' holds a WAVEFORMATEX, whose
// nSamplesPerSec (after the format tag and the channel count) becomes 7.
void SetAudioRateSeven(TBytes& bytes) {
  const auto find = [&](const char* tag, size_t from) {
    for (size_t i = from; i + 4 <= bytes.size(); ++i)
      if (std::memcmp(&bytes[i], tag, 4) == 0) return i;
    return bytes.size();
  };
  const size_t strf = find("strf", find("auds", 0));
  if (strf + 16 > bytes.size()) throw std::runtime_error("no AVI audio stream format");
  const unsigned char seven[4] = {7, 0, 0, 0};
  std::memcpy(&bytes[strf + 12], seven, 4);
}

}  // namespace

const char* DamageText(TDamage damage) {
  switch (damage) {
    case TDamage::None:
      return "intact";
    case TDamage::CutAt60Percent:
      return "cut at 60 %";
    case TDamage::NoiseInMiddleThird:
      return "middle third overwritten with noise";
    case TDamage::TracksHidden:
      return "'trak' boxes renamed 'free'";
    case TDamage::RandomBytes:
      return "pseudo-random bytes";
    case TDamage::PlainText:
      return "plain text";
    case TDamage::AudioTimesRemoved:
      return "audio packets without timestamps";
    case TDamage::AudioRateSeven:
      return "audio sample rate set to 7 Hz";
  }
  return "?";
}

void ApplyDamage(const std::string& path, TDamage damage) {
  if (damage == TDamage::None) return;
  TBytes bytes = ReadAll(path);
  TNoise noise(kSeed);
  switch (damage) {
    case TDamage::None:
      return;
    case TDamage::CutAt60Percent:
      bytes.resize(CutPoint(bytes.size()));
      break;
    case TDamage::NoiseInMiddleThird:
      for (size_t i = bytes.size() / 3; i < bytes.size() * 2 / 3; ++i) bytes[i] = noise.Next();
      break;
    case TDamage::TracksHidden:
      HideTracks(bytes);
      break;
    case TDamage::RandomBytes:
      bytes.resize(kRandomSize);
      for (unsigned char& b : bytes) b = noise.Next();
      break;
    case TDamage::PlainText:
      bytes.assign(kProse, kProse + std::strlen(kProse));
      break;
    case TDamage::AudioTimesRemoved:
      RemoveAudioTimes(bytes);
      break;
    case TDamage::AudioRateSeven:
      SetAudioRateSeven(bytes);
      break;
  }
  WriteAll(path, bytes);
}

}  // namespace fixturegen
