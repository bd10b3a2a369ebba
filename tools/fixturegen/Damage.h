// Byte-level harm done to a fixture once it is written, for the tests of bad input: the
// file as a user may find it after a broken download, a bad disk or a wrong rename. All
// of it is deterministic (a fixed-seed generator), so the same table gives the same bytes.
#pragma once

#include <string>

namespace fixturegen {

enum class TDamage {
  None,
  CutAt60Percent,      // the last 40 % or so of the bytes are gone, the cut inside a 2 KiB block
  NoiseInMiddleThird,  // the middle third of the bytes overwritten with pseudo-random ones
  TracksHidden,        // MP4/QuickTime: every 'trak' box in 'moov' renamed 'free'
  RandomBytes,         // the whole content replaced by 64 KiB of pseudo-random bytes
  PlainText,           // the whole content replaced by a few lines of prose
  AudioTimesRemoved,   // MPEG-1 program stream: its audio packets carry no timestamps
  AudioRateSeven,      // AVI: the audio format's sample rate says 7 Hz (4 bytes changed)
};

// What the damage does, in a few words, for the generator's summary line.
const char* DamageText(TDamage damage);

// Applies the damage to the file at path in place. Throws std::runtime_error when the file
// cannot be read or written, or does not have what the damage needs (no 'trak' box).
void ApplyDamage(const std::string& path, TDamage damage);

}  // namespace fixturegen
