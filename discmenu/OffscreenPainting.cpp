#include "OffscreenPainting.h"

#include <QGuiApplication>
#include <memory>

namespace tovamo::discmenu {

void EnsureGuiForPainting() {
  if (QCoreApplication::instance() != nullptr) return;
  // Lives to the end of the process: fonts and the platform stay valid for later pictures.
  static int argc = 3;
  static char arg0[] = "tovamo";
  static char arg1[] = "-platform";
  static char arg2[] = "offscreen";
  static char* argv[] = {arg0, arg1, arg2, nullptr};
  static std::unique_ptr<QGuiApplication> app = std::make_unique<QGuiApplication>(argc, argv);
}

}  // namespace tovamo::discmenu
