// Drawing text needs a QGuiApplication. The window has one; the command does not, so the
// first picture it draws makes one on the offscreen platform, which needs no display.
#pragma once

namespace tovamo::discmenu {

// Call on the main thread before any QPainter work with text. Idempotent.
void EnsureGuiForPainting();

}  // namespace tovamo::discmenu
