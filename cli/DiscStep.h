// The disc steps of a run: fitting the bit rate to the disc before converting (--disc-size)
// and making the outputs into a disc image afterwards (--disc).
#pragma once

#include <string>
#include <vector>

#include "Authoring/DvdControl.h"
#include "ConvertArgs.h"

namespace tovamo::cli {

// Empty when --disc and --disc-size go with the run's target (TOutputOptions' number) and
// options; else the usage error.
std::string DiscOptionsProblem(const TConvertArgs& args, int targetType);

// Before anything starts: the tools --disc needs that are missing, named with their
// packages, or an image (or its .bin) that would overwrite one of the inputs.
std::string DiscImageProblem(const TConvertArgs& args, int targetType);

struct TDiscFitPlan {
  bool Fits = true;
  std::string Line;                      // the figure, shown before converting
  std::vector<std::string> OptionLines;  // the fitted rate, for every output's options
  bool TwoPass = false;                  // every file in two passes, to meet that rate
  double ImageShare = 0;                 // of the disc the image should take at that rate
};

// How full the --disc-size disc is with the converted `outputs`, once made into an image.
std::string DescribeOutputsFill(const TConvertArgs& args, int targetType,
                                const std::vector<std::string>& outputs);

// --disc-size for inputs lasting `totalSeconds` together, the one with the most sound tracks
// having `soundTracks`: counted for every title, so that it too keeps within the disc's rate.
TDiscFitPlan PlanDiscFit(const TConvertArgs& args, int targetType, double totalSeconds, int titles,
                         int soundTracks = 1);

// With --disc and the norm left to the inputs, every title takes one norm: the first
// input's, as it would get alone (its frame rate's, PAL when the rate names none). A disc
// holds titles of one norm only.
struct TDiscNormPlan {
  int NormType = 0;  // 1 PAL, 2 NTSC for every output; 0: nothing to choose
  std::string Line;  // shown before converting
};
struct TInputNorm {
  std::string Label;  // the input as the command shows it
  int NormType = 0;   // its pictures' own: 0 none named, 1 PAL, 2 NTSC
};
// `normType` is the run's (or its profile's): only 0, auto, leaves anything to choose.
TDiscNormPlan PlanDiscNorm(const TConvertArgs& args, int targetType, int normType,
                           const std::vector<TInputNorm>& inputs);

// Makes the converted outputs into args.DiscImage, showing the tools' progress, and ends
// with the image's size against the disc's. Ctrl-C or SIGTERM stops it. Exit status: 0
// made, 1 failed (with the tool's reason), 128 + the signal when stopped.
// `normType` is the outputs' norm when the run chose one (PlanDiscNorm), else 0;
// `expectedShare` the disc's share the fit expected the image to take (TDiscFitPlan), 0
// without a fit: an image well short of it is explained.
int MakeDiscImage(const TConvertArgs& args, int targetType,
                  const std::vector<authoring::TDvdTitle>& titles, int normType = 0,
                  double expectedShare = 0);

}  // namespace tovamo::cli
