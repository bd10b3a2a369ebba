// Quality classes: how much encoding time an output may spend for better pictures at its
// bit rate. A class is a set of encoder settings chosen by the output's video codec; they
// apply before the owner's own options, which therefore always win.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace tovamo {

enum class TQualityClass { Fast, Standard, Best };

struct TQualityClassInfo {
  TQualityClass Class;
  const char* Name;  // as the command line and the settings files write it
  // Where the output has a bit rate to meet, this class encodes it in two passes.
  bool WantsTwoPasses;
};

// Fast, standard and best, in that order.
const std::vector<TQualityClassInfo>& QualityClasses();
const TQualityClassInfo& QualityClassInfo(TQualityClass quality);

// "fast", "standard" or "best" in any case; empty is standard. False for anything else.
bool ParseQualityClass(const std::string& text, TQualityClass& quality);

// The option settings (name, value) of a class for a video encoder by name, in order.
std::vector<std::pair<std::string, std::string>> QualityClassOptions(TQualityClass quality,
                                                                     const std::string& videoCodec);

// Whether an output of this class and option text is encoded in two passes: the class asks
// for them, and the options neither ask for a constant quality ("qscale", "crf", "q") nor
// run the passes by hand ("pass").
bool QualityClassWantsTwoPasses(const std::string& quality, const std::string& optionText);

// Whether a two-pass output of this class leaves its trellis quantisation to what the first
// pass found (TrellisSuitsQuantiser): best on an encoder of the MPEG video core, with no
// "trellis" in the option text. Such a first pass runs without it.
bool QualityClassTrellisByFirstPass(const std::string& quality, const std::string& videoCodec,
                                    const std::string& optionText);

// Whether trellis quantisation pays at a first pass's mean quantiser. It drops coefficients
// that are not worth their bits; where the pictures are coded at the finest steps anyway
// (light noise, easy pictures), it drops what the rate could pay for and leaves the rate
// unspent: a noisy ticker stopped at 1.8 of 6 Mbit/s, 0.6 dB under the same passes without.
bool TrellisSuitsQuantiser(double meanQuantiser);

}  // namespace tovamo
