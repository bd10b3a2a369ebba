#include "SubtitleDrawer.h"

#include "OffscreenPainting.h"
#include "SubtitlePicture.h"

namespace tovamo::discmenu {

authoring::TSubtitleDrawer SubtitleDrawerFor(const std::vector<authoring::TDvdTitle>& titles) {
  bool any = false;
  for (const authoring::TDvdTitle& title : titles) any = any || !title.Subtitles.empty();
  if (!any) return {};
  EnsureGuiForPainting();
  return [](const std::string& text, int width, int height, double pixelAspect,
            const std::string& png) {
    return DrawSubtitlePicture(text, width, height, pixelAspect, png);
  };
}

}  // namespace tovamo::discmenu
