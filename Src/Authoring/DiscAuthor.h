// Makes a disc image from converted files with the authoring tools Linux distributions
// ship, each run as its own process: a DVD-Video ISO image (dvdauthor, then genisoimage) or
// a VCD or SVCD CD image as .cue + .bin (vcdimager; vcdxbuild when it starts on a selection
// screen). Nothing ever appears under the image's name until the image is whole: the tools
// write into a hidden folder beside it, whose results are renamed into place at the end and
// which is removed whatever happens.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Authoring/DiscKind.h"
#include "Authoring/DvdControl.h"
#include "Authoring/DvdMenu.h"
#include "Authoring/VcdControl.h"
#include "Authoring/DvdSubpictures.h"

namespace tovamo::authoring {

struct TDiscRequest {
  TDiscKind Kind = TDiscKind::Dvd;
  TDiscNorm Norm = TDiscNorm::Auto;
  std::vector<TDvdTitle> Titles;  // the converted files in disc order, with their lengths
  std::string ImagePath;          // DVD: the .iso; VCD, SVCD: the .cue (the .bin goes beside it)
  // The disc starts in a menu of its titles, drawn by the drawer of its kind (a DVD's title
  // menu by PaintMenu, a VCD's or SVCD's selection screen by DrawCdMenu); without that
  // drawer, or with WithMenu false, the first title plays at once and each goes on to the next.
  bool WithMenu = true;
  TCdMenuDrawer DrawCdMenu{};
  TMenuPainter PaintMenu = {};
  TSubtitleDrawer DrawSubtitle = {};  // DVD titles with subtitles: draws their pictures
};

struct TAuthorProgress {
  std::string Tool;    // the tool running now
  double Percent = 0;  // of the whole image, 0 to 100
};

struct TAuthorResult {
  bool Completed = false;
  bool Stopped = false;
  std::string Reason;              // why not: the tool's own error lines where it gave some
  std::vector<std::string> Files;  // written: the image (with its .bin)
  std::int64_t ImageBytes = 0;     // all of them together
};

// The package that brings a tool, for the message when it is missing.
std::string ToolPackage(const std::string& tool);
// The tools an image of this kind needs, in the order they run.
std::vector<std::string> ToolsFor(TDiscKind kind);
// "dvdauthor is not installed (install the package \"dvdauthor\")" for each missing tool,
// joined; empty when all are there.
std::string MissingToolsMessage(TDiscKind kind);
// The norm of an MPEG file from its first sequence header's frame rate (25 frames a second:
// PAL; 24 or 30: NTSC); Auto when there is none.
TDiscNorm MpegFileNorm(const std::string& path);
// The .bin that goes with a .cue image: the same name with ".bin".
std::string BinPathOf(const std::string& cuePath);

// A made image against the disc it is for: "4 MB of the 4.7G DVD's 4700 MB (0%)", or for a
// CD, counted in its sectors, "1518 sectors of the 700M CD's 360000 (0%)".
struct TImageMeasure {
  std::string Text;
  bool TooLarge = false;
  double Fill = 0;  // the share of the disc the image takes (1: full)
};
TImageMeasure MeasureImage(const TAuthorResult& result, TDiscSize size);

class TDiscAuthor {
 public:
  // Both are called on the thread that runs Run.
  std::function<void(const TAuthorProgress&)> OnProgress;
  std::function<void(const std::string& tool, const std::string& line)> OnToolLine;

  // Makes the image; returns when it is made, has failed or was stopped.
  TAuthorResult Run(const TDiscRequest& request);

  // From any thread: the running tool is ended and what it wrote removed. A stop holds for
  // good, also when it comes before Run: an author makes at most one image after it.
  void Stop() { Stop_ = true; }

 private:
  struct TStep;
  bool RunTool(const TStep& step, std::string& reason);
  TAuthorResult MakeDvd(const TDiscRequest& request, const std::string& work);
  TAuthorResult MakeCdImage(const TDiscRequest& request, const std::string& work);
  // The vcdxbuild step of a CD with a selection screen: its pictures, stills and control file.
  bool PrepareCdMenu(const TDiscRequest& request, const std::vector<TDvdTitle>& titles,
                     const std::string& work, TStep& builder, std::string& reason);
  // The title menu's pages made into menu programs in `work` (DiscAuthorMenu.cpp); false
  // with `reason`. `menusXml` is then their part of dvdauthor's control file.
  bool MakeDvdMenus(const TDiscRequest& request, const std::string& work, TDiscNorm norm, double to,
                    std::string& menusXml, std::string& reason);
  void Report(const std::string& tool, double percent);

  std::atomic<bool> Stop_{false};
  std::int64_t InputBytes_ = 0;
  double LastPercent_ = -1;
};

}  // namespace tovamo::authoring
