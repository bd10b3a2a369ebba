// The converter's Preview, played in the player window.
#pragma once

#include "ConverterWindow.h"
#include "Windows/PlayerLauncher.h"

namespace tovamo {

class TPlayerPreview : public TPreviewPlayer {
 public:
  explicit TPlayerPreview(player::TPlayerWindows& players) : Players_(players) {}
  void PreviewFile(const QString& path) override { Players_.PreviewFile(path); }

 private:
  player::TPlayerWindows& Players_;
};

}  // namespace tovamo
