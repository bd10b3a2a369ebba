// Where a window goes so that it lies on the screen: the rule, apart from any window.
#pragma once

#include <QRect>

namespace tovamo::player {

// The rectangle moved by the least amount that brings it inside the area. One larger than
// the area keeps its size and sits at the area's left or top edge, so that its title bar
// and menu stay within reach.
QRect MovedInside(const QRect& ARect, const QRect& AArea);

// MovedInside, then cut to the area where it is still larger.
QRect FittedInside(const QRect& ARect, const QRect& AArea);

}  // namespace tovamo::player
