// The drawer of DVD subtitle pictures that the disc authoring asks for.
#pragma once

#include <vector>

#include "Authoring/DvdControl.h"
#include "Authoring/DvdSubpictures.h"

namespace tovamo::discmenu {

// None when no title has subtitles. Call on the main thread (it prepares the offscreen
// drawing).
authoring::TSubtitleDrawer SubtitleDrawerFor(const std::vector<authoring::TDvdTitle>& titles);

}  // namespace tovamo::discmenu
