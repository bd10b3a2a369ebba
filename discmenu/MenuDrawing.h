// What the disc menus' pictures share: their font and their background.
#pragma once

#include <QColor>
#include <QFont>
#include <QPainter>
#include <QRect>

namespace tovamo::discmenu {

// The menus' font at a height in pixels (at least 1) and a QFont weight: DejaVu Sans for
// Latin, Greek and Cyrillic, WenQuanYi Micro Hei for Chinese, Japanese and Korean.
QFont MenuFont(double pixels, int weight);

// Fills `area` with a gradient from `top` to `bottom`.
void FillTopToBottom(QPainter& painter, const QRect& area, const QColor& top, const QColor& bottom);

}  // namespace tovamo::discmenu
