// The DVD title menu of an image: each page drawn by the request's painter, its picture
// converted into a still menu program, and its buttons laid over it as a subpicture by
// spumux, all inside the image's work folder.
#include <fstream>
#include <memory>

#include "Authoring/AuthorStep.h"
#include "Authoring/DiscAuthor.h"
#include "Authoring/DvdMenu.h"
#include "Authoring/MenuVideo.h"
#include "Authoring/TitleThumbnail.h"
#include "Authoring/ToolProcess.h"

namespace tovamo::authoring {

namespace {

bool WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
  return bool(out.flush());
}

}  // namespace

bool TDiscAuthor::MakeDvdMenus(const TDiscRequest& request, const std::string& work, TDiscNorm norm,
                               double to, std::string& menusXml, std::string& reason) {
  if (!request.PaintMenu) {
    reason = "no way to draw the title menu here";
    return false;
  }
  if (!ProgramOnPath("spumux")) {
    reason = "spumux is not installed (install the package \"" + ToolPackage("spumux") + "\")";
    return false;
  }
  const bool wide = MpegFileWide(request.Titles[0].File);
  std::vector<std::string> names;
  for (const TDvdTitle& title : request.Titles)
    names.push_back(MenuTitleName(title.Name, title.File));
  const std::vector<TMenuPage> pages = LayOutMenu(names, norm, wide);

  // Taking the pictures is the larger part of the menu's time.
  std::vector<std::unique_ptr<TMenuThumbnail>> thumbnails;
  std::vector<const TMenuThumbnail*> pointers;
  const double steps = double(request.Titles.size() + pages.size() * 2);
  double done = 0;
  for (const TDvdTitle& title : request.Titles) {
    if (Stop_) return false;
    std::string error;
    thumbnails.push_back(std::make_unique<TMenuThumbnail>(TakeThumbnail(
        title.File, title.Seconds, kMenuThumbnailWidth, kMenuThumbnailHeight, error)));
    // A title without a picture still gets its button, with its name alone.
    if (!error.empty() && OnToolLine) OnToolLine("menu", "no picture for the menu: " + error);
    pointers.push_back(thumbnails.back().get());
    Report("menu", to * ++done / steps);
  }

  std::vector<std::string> menuFiles;
  for (const TMenuPage& page : pages) {
    if (Stop_) return false;
    const std::string stem = "menu" + std::to_string(page.Number);
    TMenuPageArt art;
    art.Page = page;
    art.Thumbnails = pointers;
    art.BackgroundPng = work + "/" + stem + "_bg.png";
    art.HighlightPng = work + "/" + stem + "_hl.png";
    art.SelectPng = work + "/" + stem + "_sel.png";
    std::string error;
    if (!request.PaintMenu(art, error)) {
      reason = "the title menu could not be drawn: " + error;
      return false;
    }
    if (OnToolLine) {
      std::string line =
          "page " + std::to_string(page.Number) + " of " + std::to_string(page.Count) + ":";
      for (const TMenuButton& button : page.Buttons)
        if (button.Action == TMenuAction::Title) line += " [" + button.Text + "]";
      OnToolLine("menu", line);
    }
    if (!MakeMenuVideo(art.BackgroundPng, norm, wide, work + "/" + stem + "_bg.mpg", reason))
      return false;
    Report("menu", to * ++done / steps);
    if (!WriteText(work + "/" + stem + ".xml",
                   SpumuxXml(page, "./" + stem + "_hl.png", "./" + stem + "_sel.png"))) {
      reason = "cannot write the spumux control file in \"" + work + "\"";
      return false;
    }
    // spumux reads the program on its input and writes it on its output; the names are
    // ours, so the shell sees nothing it would take for syntax.
    TStep spumux;
    spumux.Tool = "spumux";
    spumux.Argv = {
        "sh", "-c",
        "exec spumux -s 0 ./" + stem + ".xml < ./" + stem + "_bg.mpg > ./" + stem + ".mpg"};
    spumux.Env = {std::string("VIDEO_FORMAT=") + (norm == TDiscNorm::Ntsc ? "NTSC" : "PAL")};
    spumux.Folder = work;
    spumux.From = spumux.To = to * done / steps;
    if (!RunTool(spumux, reason)) return false;
    Report("menu", to * ++done / steps);
    menuFiles.push_back("./" + stem + ".mpg");
  }
  menusXml = DvdMenusXml(pages, menuFiles, norm);
  return true;
}

}  // namespace tovamo::authoring
