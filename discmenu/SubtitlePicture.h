// A subtitle cue as a DVD subpicture: white text with a black outline at the foot of a
// transparent picture of the video's size, in three colours and without blending, as a
// subpicture holds at most four.
#pragma once

#include <string>

namespace tovamo::discmenu {

// Draws `text` (lines separated by "\n", long ones wrapped) into a width x height PNG at
// `path`, narrowed or widened so that it shows in its true shape on pixels `pixelAspect` times
// as wide as high. EnsureGuiForPainting must have been called. False when the file cannot
// be written.
bool DrawSubtitlePicture(const std::string& text, int width, int height, double pixelAspect,
                         const std::string& path);

}  // namespace tovamo::discmenu
