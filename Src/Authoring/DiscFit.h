// Fit to disc: the video bit rate at which a whole batch fills one disc, within what the
// disc's standard allows, or how many discs the batch needs when it cannot fit.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Authoring/DiscKind.h"

namespace tovamo::authoring {

struct TFitResult {
  std::string Problem;  // not empty: the question itself is wrong (a DVD on a CD, no length)
  bool Fits = false;
  int DiscsNeeded = 1;
  std::int64_t VideoBitRate = 0;    // bit/s to encode at (VCD: its fixed rate)
  std::int64_t AudioBitRate = 0;    // bit/s the fit counted the sound at
  std::int64_t EstimatedBytes = 0;  // of the image at that rate
  bool AtStandardMaximum = false;   // the rate is the standard's highest: the disc has room left
  double ImageShare = 0;            // of the disc the image is expected to take (1: full)
};

// The sound's bit rate of a target when the user sets none (the target's "ab").
std::int64_t TargetAudioBitRate(TDiscKind kind);

// totalSeconds: the inputs' lengths added; titles: the number of files (each costs a
// little room of its own on a CD); audioBitRate 0: the target's; withMenu: the disc starts
// in a menu of its titles (a DVD's title menu, a video CD's selection screen), whose pages
// take room too.
TFitResult FitToDisc(TDiscSize size, double totalSeconds, int titles, TDiscKind kind,
                     std::int64_t audioBitRate = 0, bool withMenu = false);

// One line for the user: the rate chosen, or that it does not fit and how many discs it needs.
std::string DescribeFit(const TFitResult& fit, TDiscSize size, TDiscKind kind);

// How full the disc is with the converted files (`streamBytes` of MPEG files, `titles` of
// them) once they are made into an image, for the user after converting: "Fit to disc: the
// files make an image of about 39.4 MB of the 40M DVD's 40.0 MB (98.6%)".
std::string DescribeFill(TDiscSize size, TDiscKind kind, std::int64_t streamBytes, int titles);

// The output option lines that make an encode use the fitted rate: "b=...", the standard's
// ceiling as "maxrate=...", and a quantiser floor low enough to spend the rate. None for
// VCD. They are meant for two passes (TOutputOptions::TwoPass).
std::vector<std::string> FitOptionLines(const TFitResult& fit, TDiscKind kind);

}  // namespace tovamo::authoring
