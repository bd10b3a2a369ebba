#include "WindowPlacement.h"

#include <algorithm>

namespace tovamo {
namespace {

constexpr int kCascadeStep = 32;

}  // namespace

QSize FirstWindowSize(const QRect& available) {
  return QSize(std::min(960, available.width()), std::min(600, available.height()));
}

QRect FitOnScreen(const QRect& window, const QRect& available) {
  QRect fitted(window.topLeft(), window.size().boundedTo(available.size()));
  if (fitted.right() > available.right()) fitted.moveRight(available.right());
  if (fitted.bottom() > available.bottom()) fitted.moveBottom(available.bottom());
  if (fitted.left() < available.left()) fitted.moveLeft(available.left());
  if (fitted.top() < available.top()) fitted.moveTop(available.top());
  return fitted;
}

QPoint CascadedPosition(int n, const QSize& size, const QRect& available) {
  // How many steps fit before a window would run past the right or bottom edge.
  const int room = std::min(available.width() - size.width() - kCascadeStep,
                            available.height() - size.height() - kCascadeStep);
  const int steps = std::max(1, room / kCascadeStep + 1);
  const int offset = kCascadeStep * (1 + std::max(n, 0) % steps);
  return FitOnScreen(QRect(available.topLeft() + QPoint(offset, offset), size), available)
      .topLeft();
}

}  // namespace tovamo
