// The picture of a title on its menu button: a frame from a tenth of the way in, decoded by
// the project's decoder, scaled to a small RGB picture in the title's own shape. A dark
// frame (a fade, a black opening) says nothing about the title: frames a little later, then
// further in, are tried before the brightest one seen is taken.
#pragma once

#include <string>

#include "Authoring/DvdMenu.h"

namespace tovamo::authoring {

// The size a menu's thumbnails are taken at: a little more than their place on the page.
constexpr int kMenuThumbnailWidth = 256, kMenuThumbnailHeight = 192;

// `seconds`: the title's length (0: read from the file). The picture fits in
// maxWidth x maxHeight square pixels. An empty picture, with `error`, when the file has no
// video that decodes.
TMenuThumbnail TakeThumbnail(const std::string& file, double seconds, int maxWidth, int maxHeight,
                             std::string& error);

// The mean brightness, 0 to 255, of an RGB picture.
double MeanBrightness(const TMenuThumbnail& picture);

}  // namespace tovamo::authoring
