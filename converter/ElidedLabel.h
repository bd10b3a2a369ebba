// A one-line label whose text never sets its width: a long text is cut in its middle with
// "…" and shown whole as its tooltip, so that a changing text neither widens the window nor
// moves the controls beside it.
#pragma once

#include <QLabel>

namespace tovamo {

class TElidedLabel : public QLabel {
 public:
  // `hintWidth`: the width the layout is offered, whatever the text.
  explicit TElidedLabel(int hintWidth = 120, QWidget* parent = nullptr);

  // The text as painted at the label's present width.
  QString ShownText() const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool event(QEvent* event) override;

 private:
  int HintWidth_;
};

}  // namespace tovamo
