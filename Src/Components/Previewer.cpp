#include "Components/Previewer.h"

#include <mutex>
#include <utility>

#include "Services/Bitmap.h"
#include "Services/FFUtils.h"
#include "Services/MainThread.h"

namespace tovamo {

TPreviewer::TPreviewer(TPreviewWindowFactory factory) : Factory_(std::move(factory)) {}

TPreviewer::~TPreviewer() {
  if (!Window_) return;
  try {
    RunInMainThread([this] { Window_.reset(); });
  } catch (...) {
    // A window that fails in its own destructor is gone all the same.
  }
}

std::string TPreviewer::CaptionText(std::int64_t pts) {
  return FormatTimestamp(pts);
}

bool TPreviewer::Preview(const TBitmap& bitmap, std::int64_t pts) {
  return Preview(bitmap, 0, pts);
}

bool TPreviewer::Preview(const TBitmap& bitmap, int value, std::int64_t pts) {
  if (Closed_) return false;
  Value_ = value;
  Time_ = pts;
  RunInMainThread([this, &bitmap] { Display(bitmap); });
  // A close noticed by this display step already refuses this frame.
  return !Closed_;
}

void TPreviewer::Display(const TBitmap& bitmap) {
  if (Closed_) return;
  if (Window_ && Window_->ClosedByUser()) {
    Closed_ = true;
    return;
  }
  std::lock_guard lock(bitmap);
  if (!Window_) {
    if (Factory_) Window_ = Factory_(bitmap.Width(), bitmap.Height());
    if (!Window_) {
      // Nowhere to show frames: the same as a window the user closed.
      Closed_ = true;
      return;
    }
  }
  Window_->SetCaption(CaptionText(Time_));
  Window_->ShowBitmap(bitmap);
}

namespace {

TPreviewWindowFactory& WindowFactory() {
  static TPreviewWindowFactory factory;
  return factory;
}

std::mutex& WindowFactoryLock() {
  static std::mutex lock;
  return lock;
}

std::unique_ptr<TPreviewSink> MakePreviewer() {
  std::lock_guard lock(WindowFactoryLock());
  return std::make_unique<TPreviewer>(WindowFactory());
}

}  // namespace

void InstallPreviewer(TPreviewWindowFactory factory) {
  const bool on = bool(factory);
  {
    std::lock_guard lock(WindowFactoryLock());
    WindowFactory() = std::move(factory);
  }
  SetPreviewSinkFactory(on ? &MakePreviewer : nullptr);
}

}  // namespace tovamo
