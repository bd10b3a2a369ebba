// The DVD title menu: pages of up to six title buttons (a picture of the title and its
// name) with "Previous", "Play All" and "Next" below them, where the remote's arrows move
// on a grid that wraps around. This file holds the plain part: where everything goes on a
// page, how the buttons lead to each other, and the control files of spumux (the buttons'
// subpictures) and of dvdauthor (the menus' commands). The pictures themselves are drawn by
// the caller's TMenuPainter, which keeps this code free of any drawing library.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Authoring/DiscKind.h"

namespace tovamo::authoring {

constexpr int kMenuTitlesPerPage = 6;

struct TMenuBox {
  int X0 = 0, Y0 = 0, X1 = 0, Y1 = 0;  // in the menu picture's stored pixels, X1/Y1 past
};

// A small picture of a title, RGB24 rows without padding.
struct TMenuThumbnail {
  int Width = 0, Height = 0;
  std::vector<std::uint8_t> Rgb;
  bool Empty() const { return Width <= 0 || Height <= 0; }
};

enum class TMenuAction { Title, PlayAll, Previous, Next };

struct TMenuButton {
  TMenuAction Action = TMenuAction::Title;
  int Title = 0;                              // Title: 0-based index of the title on the disc
  std::string Text;                           // the title's name, or the control's word
  TMenuBox Box;                               // the highlighted area
  TMenuBox Picture;                           // Title: where its thumbnail goes (inside Box)
  TMenuBox Label;                             // where its text goes (inside Box)
  int Up = 0, Down = 0, Left = 0, Right = 0;  // 1-based button numbers on the same page
};

struct TMenuPage {
  int Number = 1, Count = 1;         // this page of how many
  int Width = 720, Height = 576;     // stored pixels: 720 x 576 (PAL) or 720 x 480 (NTSC)
  bool Wide = false;                 // shown as 16:9, else 4:3
  std::vector<TMenuButton> Buttons;  // the titles first, then the page's controls
  TMenuBox Heading;                  // where "Page 1 of 3" goes
};

// Lays out every page of a menu for titles with these names.
std::vector<TMenuPage> LayOutMenu(const std::vector<std::string>& names, TDiscNorm norm, bool wide);

// One page to draw: its layout, the titles' pictures (by title index, an empty one when
// none could be taken), and the three files to write: the background (everything, opaque,
// the picture's stored size) and the buttons' highlight and select pictures (transparent
// but for the marks around each button, at most three plain colours, no blending: they
// become a DVD subpicture).
struct TMenuPageArt {
  TMenuPage Page;
  std::vector<const TMenuThumbnail*> Thumbnails;  // for each title of the disc
  std::string BackgroundPng, HighlightPng, SelectPng;
};

// Draws a page; false with `error` when it cannot. Called on the thread that authors.
using TMenuPainter = std::function<bool(const TMenuPageArt& art, std::string& error)>;

// The title's name shown in the menu: the given one, else the file's name without its
// folder and extension.
std::string MenuTitleName(const std::string& given, const std::string& file);

// spumux's control file for a page's buttons, naming the page's highlight and select files.
std::string SpumuxXml(const TMenuPage& page, const std::string& highlightPng,
                      const std::string& selectPng);

// The <menus> part of the title set in dvdauthor's control file: one menu per page (its
// file `menuFiles[i]`), the first the root, which goes on to the page last shown. GPRM 0
// holds the play mode (1: "Play All" goes on from title to title), GPRM 1 the page to show
// and GPRM 3 the button to highlight there.
std::string DvdMenusXml(const std::vector<TMenuPage>& pages,
                        const std::vector<std::string>& menuFiles, TDiscNorm norm);

}  // namespace tovamo::authoring
