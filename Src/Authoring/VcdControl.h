// The playback control of a VCD 2.0 or SVCD with a selection screen, in vcdxbuild's XML
// form: the disc starts on a still picture listing its tracks, a number on the remote plays
// that track, and each track comes back to the picture at its end. Many tracks make several
// pictures ("pages"), which Next and Previous move between.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "Authoring/DiscKind.h"
#include "Authoring/DvdControl.h"

namespace tovamo::authoring {

struct TCdMenuEntry {
  int Number = 0;  // the key on the remote, 1..N
  std::string Name;
};

// One page of the selection screen, drawn as a 4:3 picture of square pixels; the still
// made from it is scaled into the disc's frame.
struct TCdMenuPage {
  int Width = 768, Height = 576;
  std::string DiscName;
  std::vector<TCdMenuEntry> Entries;  // in columns, top to bottom, then left to right
  int Columns = 1, Rows = 1;
  int Page = 1, Pages = 1;  // counted from 1
};

// Draws a page into a PNG file; false when it could not.
using TCdMenuDrawer = std::function<bool(const TCdMenuPage& page, const std::string& pngPath)>;

// The name a track is listed by: its title's own, else its file's name without the
// extension.
std::string TrackName(const TDvdTitle& title);

// The pages listing these tracks: up to 8 in one column, more in two columns of 8 per page.
int CdMenuPageCount(int tracks);
std::vector<TCdMenuPage> CdMenuPages(const std::string& discName,
                                     const std::vector<std::string>& names, TDiscNorm norm);

// The control file for vcdxbuild: `tracks` and `stills` are the files of the tracks and of
// the pages' still pictures (as vcdxbuild sees them), `perPage` the tracks on each page.
std::string VcdxbuildXml(TDiscKind kind, const std::string& volumeLabel,
                         const std::vector<std::string>& tracks,
                         const std::vector<std::string>& stills, int perPage);

}  // namespace tovamo::authoring
