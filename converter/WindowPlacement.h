// Where a window goes on the screen: the first size of the converter window, a remembered
// place brought back inside the screen (a screen may have shrunk or gone since), and the
// cascade of the floating frame preview windows.
#pragma once

#include <QRect>

namespace tovamo {

// The converter window's first size: room for a typical path, never more than the screen.
QSize FirstWindowSize(const QRect& available);

// `window` moved, and shrunk only where it is larger than `available`, so that it lies
// inside `available`.
QRect FitOnScreen(const QRect& window, const QRect& available);

// The top-left corner of the n-th frame preview window (n from 0) of `size`: down and to
// the right of the previous one from the top-left of the screen, starting over when the
// next step would leave the screen.
QPoint CascadedPosition(int n, const QSize& size, const QRect& available);

}  // namespace tovamo
