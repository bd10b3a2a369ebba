#include "Windows/ScreenPlacement.h"

#include <algorithm>

namespace tovamo::player {

namespace {

// The start of a span of `length` moved into [areaStart, areaStart + areaLength).
int Inside(int start, int length, int areaStart, int areaLength) {
  return std::max(areaStart, std::min(start, areaStart + areaLength - length));
}

}  // namespace

QRect MovedInside(const QRect& ARect, const QRect& AArea) {
  if (!AArea.isValid()) return ARect;
  return QRect(QPoint(Inside(ARect.left(), ARect.width(), AArea.left(), AArea.width()),
                      Inside(ARect.top(), ARect.height(), AArea.top(), AArea.height())),
               ARect.size());
}

QRect FittedInside(const QRect& ARect, const QRect& AArea) {
  if (!AArea.isValid()) return ARect;
  return MovedInside(ARect, AArea).intersected(AArea);
}

}  // namespace tovamo::player
