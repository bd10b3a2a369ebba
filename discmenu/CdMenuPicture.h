// The picture of a video CD's selection screen: the disc's name, its tracks' numbers and
// names in one or two columns, and how to choose, inside the area every television shows.
#pragma once

#include <QImage>
#include <string>

#include "Authoring/VcdControl.h"

namespace tovamo::discmenu {

QImage CdMenuPicture(const authoring::TCdMenuPage& page);

// The drawer for a disc request: writes the page's picture as a PNG. It may run on any
// thread once EnsureGuiForPainting has run on the main thread.
authoring::TCdMenuDrawer CdMenuDrawer();

}  // namespace tovamo::discmenu
