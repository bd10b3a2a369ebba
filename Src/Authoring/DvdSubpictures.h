// Subtitles on a DVD title: each cue drawn as a picture (by the caller's drawer, which
// knows fonts), listed in a spumux control file per stream, and muxed into the title's
// MPEG file as a subpicture stream by spumux, one stream after the other.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Authoring/DvdControl.h"

namespace tovamo::authoring {

// Draws `text` (lines separated by "\n") as a transparent PNG of width x height at `png`,
// in at most four colours (transparent included), as a DVD subpicture allows; a pixel
// shows `pixelAspect` times as wide as high. False when it could not be written.
using TSubtitleDrawer = std::function<bool(const std::string& text, int width, int height,
                                           double pixelAspect, const std::string& png)>;

// The picture size of an MPEG file's first sequence header and the shape of its pixels on
// the screen (width / height); false when there is none.
bool MpegPictureSize(const std::string& path, int& width, int& height, double& pixelAspect);

// A spumux time: "0:01:02.35" (hours, minutes, seconds with hundredths).
std::string SpumuxTime(double seconds);

struct TSpuPicture {
  double Start = 0, End = 0;  // from the start of the file (spumux adds its first time stamp)
  std::string Image;          // as spumux sees it from its folder
};
// The control file of one stream for spumux.
std::string SpumuxXml(const std::vector<TSpuPicture>& pictures);

struct TSubpicturePlan {
  std::vector<TDvdTitle> Titles;                   // as dvdauthor is to read them
  std::vector<std::vector<std::string>> Commands;  // spumux runs, in order, in the folder
};

// Draws every cue of every title into `work` and writes the spumux control files; the
// titles come back with the languages of `requested` and naming the files spumux will
// write. Nothing (with the reason) when a title cannot be read or a picture not drawn.
std::optional<TSubpicturePlan> PlanSubpictures(const std::vector<TDvdTitle>& requested,
                                               const std::vector<TDvdTitle>& linked,
                                               const TSubtitleDrawer& draw, const std::string& work,
                                               std::string& reason);

}  // namespace tovamo::authoring
