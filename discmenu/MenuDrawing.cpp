#include "MenuDrawing.h"

#include <QLinearGradient>
#include <algorithm>

namespace tovamo::discmenu {

QFont MenuFont(double pixels, int weight) {
  QFont font;
  font.setFamilies({"DejaVu Sans", "WenQuanYi Micro Hei"});
  font.setPixelSize(std::max(1, int(pixels)));
  font.setWeight(QFont::Weight(weight));
  font.setStyleStrategy(QFont::PreferAntialias);
  return font;
}

void FillTopToBottom(QPainter& painter, const QRect& area, const QColor& top,
                     const QColor& bottom) {
  QLinearGradient gradient(0, area.top(), 0, area.bottom() + 1);
  gradient.setColorAt(0, top);
  gradient.setColorAt(1, bottom);
  painter.fillRect(area, gradient);
}

}  // namespace tovamo::discmenu
