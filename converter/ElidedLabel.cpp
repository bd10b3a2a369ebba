#include "ElidedLabel.h"

#include <QEvent>
#include <QPainter>
#include <QStyle>
#include <QToolTip>

namespace tovamo {

TElidedLabel::TElidedLabel(int hintWidth, QWidget* parent) : QLabel(parent), HintWidth_(hintWidth) {
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
  setTextFormat(Qt::PlainText);
}

QString TElidedLabel::ShownText() const {
  return fontMetrics().elidedText(text(), Qt::ElideMiddle, contentsRect().width());
}

QSize TElidedLabel::sizeHint() const {
  return {HintWidth_, QLabel::sizeHint().height()};
}

QSize TElidedLabel::minimumSizeHint() const {
  return {0, QLabel::minimumSizeHint().height()};
}

void TElidedLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  style()->drawItemText(&painter, contentsRect(), int(alignment()) | Qt::TextSingleLine, palette(),
                        isEnabled(), ShownText(), foregroundRole());
}

bool TElidedLabel::event(QEvent* event) {
  // The whole text is the tooltip whenever it does not fit, unless one was set apart.
  if (event->type() == QEvent::ToolTip && toolTip().isEmpty() && ShownText() != text()) {
    QToolTip::showText(mapToGlobal(rect().bottomLeft()), text(), this);
    return true;
  }
  return QLabel::event(event);
}

}  // namespace tovamo
