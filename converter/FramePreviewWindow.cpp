#include "FramePreviewWindow.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWindow>

#include "Services/Bitmap.h"
#include "WindowPlacement.h"

namespace tovamo {

QImage BitmapToImage(const TBitmap& bitmap) {
  QImage image(bitmap.Width(), bitmap.Height(), QImage::Format_RGB32);
  std::lock_guard lock(bitmap);
  for (int y = 0; y < bitmap.Height(); ++y) {
    const std::uint8_t* row = bitmap.ScanLine(y);
    auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < bitmap.Width(); ++x) {
      int r = 0, g = 0, b = 0;
      switch (bitmap.PixelFormat()) {
        case TPixelFormat::pf8bit: {
          const std::uint8_t p = row[x];
          r = (p & 0x07) * 255 / 7;
          g = ((p >> 3) & 0x07) * 255 / 7;
          b = (p >> 6) * 255 / 3;
          break;
        }
        case TPixelFormat::pf15bit: {
          const int p = row[2 * x] | (row[2 * x + 1] << 8);
          r = (p & 0x1f) * 255 / 31;
          g = ((p >> 5) & 0x1f) * 255 / 31;
          b = ((p >> 10) & 0x1f) * 255 / 31;
          break;
        }
        case TPixelFormat::pf16bit: {
          const int p = row[2 * x] | (row[2 * x + 1] << 8);
          r = (p & 0x1f) * 255 / 31;
          g = ((p >> 5) & 0x3f) * 255 / 63;
          b = ((p >> 11) & 0x1f) * 255 / 31;
          break;
        }
        case TPixelFormat::pf24bit:
          b = row[3 * x], g = row[3 * x + 1], r = row[3 * x + 2];
          break;
        case TPixelFormat::pf32bit:
          b = row[4 * x], g = row[4 * x + 1], r = row[4 * x + 2];
          break;
      }
      out[x] = qRgb(r, g, b);
    }
  }
  return image;
}

TFramePreviewWindow::TFramePreviewWindow(int width, int height)
    : QWidget(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint) {
  setAttribute(Qt::WA_DeleteOnClose, false);
  setFixedSize(width, height);
  setCursor(Qt::SizeAllCursor);
  // One window per task of a batch: cascaded from the screen's corner, so that none hides
  // another or the converter's buttons.
  static int opened = 0;
  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(CascadedPosition(opened++, QSize(width, height), screen->availableGeometry()));
  show();
}

void TFramePreviewWindow::ShowBitmap(const TBitmap& bitmap) {
  Frame_ = BitmapToImage(bitmap);
  if (Frame_.size() != size()) setFixedSize(Frame_.size());
  update();
}

void TFramePreviewWindow::SetCaption(const std::string& caption) {
  setWindowTitle(QString::fromStdString(caption));
}

void TFramePreviewWindow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (Frame_.isNull())
    painter.fillRect(rect(), Qt::black);
  else
    painter.drawImage(0, 0, Frame_);
}

void TFramePreviewWindow::mousePressEvent(QMouseEvent* event) {
  // Dragging the picture moves the window, as dragging its caption would.
  if (event->button() == Qt::LeftButton && windowHandle()) windowHandle()->startSystemMove();
}

void TFramePreviewWindow::closeEvent(QCloseEvent* event) {
  Closed_ = true;
  event->accept();
}

void InstallFramePreviewWindows() {
  InstallPreviewer([](int width, int height) -> std::unique_ptr<TPreviewWindow> {
    return std::make_unique<TFramePreviewWindow>(width, height);
  });
}

}  // namespace tovamo
