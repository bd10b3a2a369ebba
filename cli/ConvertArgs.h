// The command line of tovamo-convert, read into settings; nothing is started here.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tovamo::cli {

struct TConvertArgs {
  std::string OutputFolder;          // empty: the current folder
  int TargetType = 1;                // 0 none, 1 vcd, 2 svcd, 3 dvd (TOutputOptions)
  bool Mp4Target = false;            // --target mp4: the 720p phone profile (TargetType 0)
  int NormType = 0;                  // 0 auto, 1 pal, 2 ntsc
  std::string AspectRatio;           // empty: the target's or the input's
  int Jobs = 0;                      // tasks at once; 0: one per processor core
  std::vector<std::string> Options;  // "name=value" lines for the output's option text
  std::vector<std::string> Files;
  std::string Profile;    // a profile of the profile store: it names the target and the norm
  std::string LogFile;    // --log: the engine's and the libraries' log lines go there
  bool Verbose = false;   // -v: the same lines on standard error
  bool Strict = false;    // --strict: an input that ended early is a failure
  std::string DiscImage;  // --disc: the outputs are made into this disc image (.iso, .cue)
  std::string DiscSize;   // --disc-size: the bit rate is chosen to fill a disc of this size
  bool ListProfiles = false;
  bool Help = false;
  bool Version = false;
  std::vector<std::string> Arguments;  // as given, for the log's header line
  bool Menu = true;                    // --menu / --no-menu: the disc starts in a menu
  std::vector<std::string> Titles;     // --title: the menu's names of the first files
  std::string Quality = "standard";    // --quality: fast, standard or best
  // --subtitles: "disc" (DVD images carry them as selectable streams), "burn" (drawn into
  // the picture) or "none"
  std::string Subtitles = "disc";
};

struct TParseResult {
  std::optional<TConvertArgs> Args;  // empty on a usage error
  std::string Error;                 // what was wrong, one line
};

TParseResult ParseConvertArgs(const std::vector<std::string>& arguments);

// The short text shown with a usage error, and the full --help text.
std::string UsageText();
std::string HelpText();

// The value of an option line "name=value" for `name` (the last one given), if any.
std::optional<std::string> OptionValue(const std::vector<std::string>& options,
                                       const std::string& name);

}  // namespace tovamo::cli
