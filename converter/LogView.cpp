#include "LogView.h"

#include <QPlainTextEdit>
#include <QScrollBar>

namespace tovamo {
namespace {

constexpr const char* kFollows = "tovamoFollowsEnd";

}  // namespace

void FollowLogEnd(QPlainTextEdit* view) {
  view->setProperty(kFollows, true);
  QScrollBar* bar = view->verticalScrollBar();
  // A growing text raises the maximum without moving the value; only a real move (the
  // user's, or ours to the end) tells whether the view is at the end.
  // The text is laid out when the view is shown: a view that followed while hidden goes to
  // the end of the text it now knows.
  QObject::connect(bar, &QScrollBar::rangeChanged, view, [view, bar](int, int maximum) {
    if (view->property(kFollows).toBool()) bar->setValue(maximum);
  });
  QObject::connect(bar, &QScrollBar::valueChanged, view, [view, bar](int value) {
    view->setProperty(kFollows, value >= bar->maximum());
  });
}

void AppendLogLine(QPlainTextEdit* view, const QString& line) {
  const bool follows = view->property(kFollows).toBool();
  view->appendPlainText(line);
  if (!follows) return;
  // The view shows its cursor when it is first shown: at the end, not at the first line.
  if (!view->textCursor().hasSelection()) view->moveCursor(QTextCursor::End);
  view->verticalScrollBar()->setValue(view->verticalScrollBar()->maximum());
}

}  // namespace tovamo
