// Text subtitles as timed cues: SubRip text and the events of ASS/SSA streams, each cue
// reduced to its plain lines.
#pragma once

#include <string>
#include <vector>

namespace tovamo {

struct TSubtitleCue {
  double Start = 0;  // seconds from the start of the input
  double End = 0;
  std::string Text;  // plain text, lines separated by "\n"
};

// The cues of SubRip text, in time order, in UTF-8 (text that is not UTF-8 is read as
// Windows-1252). A byte-order mark, CRLF or CR line ends and
// HTML-like tags ("<i>", "<font ...>") are taken in stride; a block whose timing line does
// not read is skipped and described in `problems` ("line 7: ...").
std::vector<TSubtitleCue> ParseSubRip(const std::string& text, std::vector<std::string>& problems);

// A cue's text without markup: HTML-like tags, ASS override blocks ("{\i1}"), ASS line
// breaks ("\N", "\n") and hard spaces ("\h"); blank lines dropped.
std::string PlainCueText(const std::string& text);

// The text of an ASS/SSA event as a stream packet holds it ("ReadOrder,Layer,Style,Name,
// MarginL,MarginR,MarginV,Effect,Text" or a whole "Dialogue:" line): its Text field.
std::string AssEventText(const std::string& packet);

}  // namespace tovamo
