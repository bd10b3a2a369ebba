#include "Engine/PictureFit.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tovamo {
namespace {

double Sar(AVRational sar) {
  return sar.num > 0 && sar.den > 0 ? double(sar.num) / sar.den : 1.0;
}

// The nearest multiple of `step` to `value`, at least `step` and at most `limit`.
int OnGrid(double value, int step, int limit) {
  const int n = int(std::lround(value / step)) * step;
  return std::clamp(n, std::min(step, limit), limit);
}

}  // namespace

std::string FitFilters(TPictureFit fit, const TFitShapes& s, unsigned scaleFlags) {
  if (fit == TPictureFit::Stretch || s.InWidth <= 0 || s.InHeight <= 0 || s.OutWidth <= 0 ||
      s.OutHeight <= 0)
    return {};
  const double in = s.InWidth * Sar(s.InSar) / s.InHeight;
  const double out = s.OutWidth * Sar(s.OutSar) / s.OutHeight;
  if (std::fabs(in / out - 1) < 0.01) return {};
  char text[256];
  // Inside made the frame the asked shape: a picture of another shape gets bars.
  if (fit == TPictureFit::Pad || fit == TPictureFit::Inside) {
    // Wider than the frame: bars above and below; narrower: bars left and right.
    // Even sides, as 4:2:0 needs, and no coarser: the macroblock grid of 16 would make a
    // 16:9 picture on a PAL VCD 224 lines instead of 216, 3.5 % too tall.
    int w = s.OutWidth, h = s.OutHeight;
    if (in > out)
      h = OnGrid(s.OutHeight * out / in, 2, s.OutHeight);
    else
      w = OnGrid(s.OutWidth * in / out, 2, s.OutWidth);
    const int x = (s.OutWidth - w) / 4 * 2;
    const int y = (s.OutHeight - h) / 4 * 2;
    std::snprintf(text, sizeof text, "scale=%d:%d:flags=0x%X,pad=%d:%d:%d:%d:black", w, h,
                  scaleFlags, s.OutWidth, s.OutHeight, x, y);
  } else {
    // The middle of the picture with the frame's shape, in the picture's own pixels.
    int w = s.InWidth, h = s.InHeight;
    if (in > out)
      w = std::max(2, int(std::lround(s.InWidth * out / in / 2)) * 2);
    else
      h = std::max(2, int(std::lround(s.InHeight * in / out / 2)) * 2);
    std::snprintf(text, sizeof text, "crop=%d:%d:%d:%d,scale=%d:%d:flags=0x%X", w, h,
                  (s.InWidth - w) / 4 * 2, (s.InHeight - h) / 4 * 2, s.OutWidth, s.OutHeight,
                  scaleFlags);
  }
  return text;
}

void FrameInside(int boxWidth, int boxHeight, double displayAspect, int& width, int& height) {
  width = boxWidth;
  height = boxHeight;
  if (!(displayAspect > 0) || boxWidth < 2 || boxHeight < 2) return;
  // Even sides: the encoders' 4:2:0 pictures have no odd ones.
  const auto even = [](double side, int limit) {
    return std::clamp(int(std::lround(side / 2)) * 2, 2, limit / 2 * 2);
  };
  if (displayAspect > double(boxWidth) / boxHeight) {
    width = boxWidth / 2 * 2;
    height = even(boxWidth / displayAspect, boxHeight);
  } else {
    height = boxHeight / 2 * 2;
    width = even(boxHeight * displayAspect, boxWidth);
  }
}

bool ParsePictureFit(const std::string& text, TPictureFit& fit) {
  if (text == "pad")
    fit = TPictureFit::Pad;
  else if (text == "stretch")
    fit = TPictureFit::Stretch;
  else if (text == "crop")
    fit = TPictureFit::Crop;
  else if (text == "inside")
    fit = TPictureFit::Inside;
  else
    return false;
  return true;
}

}  // namespace tovamo
