// The DVD title menu's pictures: the page as the viewer sees it (thumbnails, names, the
// page's controls on a dark gradient) and its buttons' highlight and select marks, which
// become the menu's subpicture. The window's preview draws with the same code.
#pragma once

#include <QImage>
#include <string>
#include <vector>

#include "Authoring/DvdControl.h"
#include "Authoring/DvdMenu.h"

namespace tovamo::discmenu {

// The page at its display shape (768 x 576 for a 4:3 PAL page, 1024 x 576 for 16:9...).
QImage DrawMenuPage(const authoring::TMenuPageArt& art);

// The marks of every button on a transparent picture of the stored size: an outer black
// frame and an inner coloured one (yellow: highlight, red: select), so that they show on
// any background; plain colours only.
QImage DrawMenuMarks(const authoring::TMenuPage& page, bool select);

// Writes the art's three PNG files. False with `error`. Any thread, once
// EnsureGuiForPainting has run on the main thread.
bool PaintDvdMenuPage(const authoring::TMenuPageArt& art, std::string& error);

// The painter a disc request takes.
authoring::TMenuPainter DvdMenuPainter();

// The pictures of the titles on the menu's first page, taken as the image takes them
// (an empty one for a title without a picture); the rest are not needed for it.
std::vector<authoring::TMenuThumbnail> TakeFirstPageThumbnails(
    const std::vector<authoring::TDvdTitle>& titles);

// The first page of the menu these titles (with their names) would get, at its display
// shape: for a preview before the image is made.
QImage DrawFirstMenuPage(const std::vector<authoring::TDvdTitle>& titles,
                         const std::vector<authoring::TMenuThumbnail>& thumbnails,
                         authoring::TDiscNorm norm);

}  // namespace tovamo::discmenu
