// The engine's internal preview: each offered frame is shown in a floating window with the
// frame's time as its caption, until the user closes that window.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "Engine/HookInfo.h"

namespace tovamo {

class TBitmap;

// The window a previewer draws into; the converter window supplies the real one. Every call
// comes on the main thread.
class TPreviewWindow {
 public:
  virtual ~TPreviewWindow() = default;
  // Draws the bitmap at the top-left corner; the window's client area is the bitmap's size.
  virtual void ShowBitmap(const TBitmap& bitmap) = 0;
  virtual void SetCaption(const std::string& caption) = 0;
  // True once the user has closed the window.
  virtual bool ClosedByUser() const = 0;
};

// Makes the window for the first frame (main thread), sized to it; null = no window.
using TPreviewWindowFactory = std::function<std::unique_ptr<TPreviewWindow>(int width, int height)>;

class TPreviewer : public TPreviewSink {
 public:
  explicit TPreviewer(TPreviewWindowFactory factory);
  ~TPreviewer() override;  // frees the window on the main thread
  TPreviewer(const TPreviewer&) = delete;
  TPreviewer& operator=(const TPreviewer&) = delete;

  // Engine thread: shows the frame and its time on the main thread and waits for it.
  // False once the user has closed the window (that frame and every later one unshown).
  bool Preview(const TBitmap& bitmap, std::int64_t pts) override;
  bool Preview(const TBitmap& bitmap, int value, std::int64_t pts);

  bool Closed() const { return Closed_; }
  int Value() const { return Value_; }
  std::int64_t Time() const { return Time_; }

  // "hh:mm:ss.mmm" of a time in microseconds, "N/A" for the no-value time.
  static std::string CaptionText(std::int64_t pts);

 private:
  void Display(const TBitmap& bitmap);  // main thread

  TPreviewWindowFactory Factory_;
  std::unique_ptr<TPreviewWindow> Window_;
  std::atomic<bool> Closed_{false};
  int Value_ = 0;
  std::int64_t Time_ = 0;
};

// Has every engine's internal preview go to a TPreviewer whose windows the factory makes
// (SetPreviewSinkFactory); a null factory turns the internal preview off again.
void InstallPreviewer(TPreviewWindowFactory factory);

}  // namespace tovamo
