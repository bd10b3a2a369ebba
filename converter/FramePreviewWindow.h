// The floating window in which the engine's preview shows the frames being converted: it
// stays on top, fits the frame, carries the frame's time as its caption and is moved by
// dragging its picture. Once the user closes it, no further frames are shown.
#pragma once

#include <QImage>
#include <QWidget>

#include "Components/Previewer.h"

namespace tovamo {

// A copy of a bitmap as a QImage (RGB32), top row first.
QImage BitmapToImage(const TBitmap& bitmap);

class TFramePreviewWindow : public QWidget, public TPreviewWindow {
 public:
  TFramePreviewWindow(int width, int height);

  void ShowBitmap(const TBitmap& bitmap) override;
  void SetCaption(const std::string& caption) override;
  bool ClosedByUser() const override { return Closed_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  QImage Frame_;
  bool Closed_ = false;
};

// Has every engine's internal preview show its frames in a TFramePreviewWindow.
void InstallFramePreviewWindows();

}  // namespace tovamo
