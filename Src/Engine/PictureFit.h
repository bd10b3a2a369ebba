// Fitting a picture into a frame of another display shape: black bars around it (pad),
// its edges cut off (crop), or its proportions given up (stretch); or the frame made to
// the picture's shape inside the given size (inside).
#pragma once

#include <string>

#include "Services/FFHeaders.h"

namespace tovamo {

enum class TPictureFit { Pad, Stretch, Crop, Inside };

// The picture to fit and the frame it goes into: pixel sizes and sample aspect ratios
// (0/x for square pixels).
struct TFitShapes {
  int InWidth, InHeight;
  AVRational InSar;
  int OutWidth, OutHeight;
  AVRational OutSar;
};

// The filter chain that takes the picture to the frame's size keeping its proportions
// ("scale,pad" or "crop,scale"), or empty when a plain scale does: the display shapes
// agree within a percent, or the fit is a stretch. The picture inside the bars keeps its
// proportions to the nearest even line or column, centred on even lines and columns.
std::string FitFilters(TPictureFit fit, const TFitShapes& shapes, unsigned scaleFlags);

// The frame that Inside gives: the largest of square pixels and even sides within
// boxWidth x boxHeight that has the display aspect `displayAspect` (the box itself when
// the aspect is unknown).
void FrameInside(int boxWidth, int boxHeight, double displayAspect, int& width, int& height);

// "pad", "stretch", "crop" or "inside"; false for another text.
bool ParsePictureFit(const std::string& text, TPictureFit& fit);

}  // namespace tovamo
