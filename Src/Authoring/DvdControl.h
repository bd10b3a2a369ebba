// The dvdauthor control file of a DVD-Video folder: one title per file, in order, a chapter
// every five minutes, the first title playing when the disc goes in and each title going on
// to the next.
#pragma once

#include <string>
#include <vector>

#include "Components/SubtitleText.h"

namespace tovamo::authoring {

// A subtitle stream of a title: its cues timed from the title's first picture.
struct TDvdSubtitleStream {
  std::string Language;  // ISO 639-1, "" not known
  std::vector<TSubtitleCue> Cues;
};

struct TDvdTitle {
  std::string File;
  double Seconds = 0;  // 0: not known
  std::string Name{};  // shown on the disc's menu; empty: the file's name without its extension
  std::vector<std::string> AudioLanguages = {};  // per sound track in the file's order ("" unknown)
  std::vector<TDvdSubtitleStream> Subtitles = {};  // muxed in with spumux before dvdauthor
};

// Text made safe inside an XML attribute or element of the tools' control files.
std::string XmlText(const std::string& text);

// The chapter starts of a title, "0,0:05:00,0:10:00,...": at most the 99 a title may have;
// without a length the whole 99 (dvdauthor drops those past the end).
std::string DvdChapterList(double seconds);

// The title set's stream attribute lines: one "<audio lang=..."/>" per sound track and one
// "<subpicture lang=.../>" per subtitle stream, by stream number, each language from the
// first title that has that stream; empty when no title says more than one unnamed track.
std::string DvdStreamLines(const std::vector<TDvdTitle>& titles);

// The control file for dvdauthor -x; `dest` is the folder it writes VIDEO_TS into. With
// `menusXml` (DvdMenusXml) the disc starts in that title menu and every title returns to it,
// or in "Play All" (GPRM 0 set) goes on to the next title.
std::string DvdAuthorXml(const std::string& dest, const std::vector<TDvdTitle>& titles,
                         const std::string& menusXml = {});

}  // namespace tovamo::authoring
