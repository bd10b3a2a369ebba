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
};

// --disc-size for inputs lasting `totalSeconds` together.
TDiscFitPlan PlanDiscFit(const TConvertArgs& args, int targetType, double totalSeconds, int titles);

// Makes the converted outputs into args.DiscImage, showing the tools' progress, and ends
// with the image's size against the disc's. Ctrl-C or SIGTERM stops it. Exit status: 0
// made, 1 failed (with the tool's reason), 128 + the signal when stopped.
int MakeDiscImage(const TConvertArgs& args, int targetType,
                  const std::vector<authoring::TDvdTitle>& titles);

}  // namespace tovamo::cli
