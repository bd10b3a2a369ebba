#include "ConvertArgs.h"

#include <charconv>
#include <map>

#include "Authoring/DiscKind.h"
#include "Engine/QualityClass.h"
#include "Services/Text.h"

namespace tovamo::cli {

namespace {

const std::map<std::string, int> kTargets = {{"none", 0}, {"vcd", 1}, {"svcd", 2}, {"dvd", 3}};
const std::map<std::string, int> kNorms = {{"auto", 0}, {"pal", 1}, {"ntsc", 2}};

std::optional<int> PositiveNumber(const std::string& text) {
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end || value < 1) return std::nullopt;
  return value;
}

// An option line goes into a line-based option text: a line break or the literal
// "<CRLF>" in it would smuggle in further options, so such a line is refused.
std::string OptionLineError(const std::string& line) {
  const std::size_t eq = line.find('=');
  if (eq == std::string::npos) return "--option needs NAME=VALUE, got \"" + line + "\"";
  if (TrimText(line.substr(0, eq)).empty()) return "--option \"" + line + "\" has no name";
  if (line.find_first_of("\r\n") != std::string::npos || line.find("<CRLF>") != std::string::npos)
    return "--option \"" + TrimText(line) + "\" holds a line break";
  return {};
}

}  // namespace

TParseResult ParseConvertArgs(const std::vector<std::string>& arguments) {
  TConvertArgs args;
  args.Arguments = arguments;
  bool filesOnly = false;
  bool targetOrNormGiven = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    std::string arg = arguments[i];
    if (filesOnly || arg == "-" || arg.empty() || arg[0] != '-') {
      if (arg.empty()) return {std::nullopt, "an empty file name"};
      if (arg == "-")
        return {std::nullopt,
                "\"-\" (standard input) cannot be converted: name a file (./- for a file "
                "called \"-\")"};
      args.Files.push_back(arg);
      continue;
    }
    if (arg == "--") {
      filesOnly = true;
      continue;
    }
    if (arg == "--help" || arg == "-h") {
      args.Help = true;
      continue;
    }
    if (arg == "--version") {
      args.Version = true;
      continue;
    }
    if (arg == "--list-profiles") {
      args.ListProfiles = true;
      continue;
    }
    if (arg == "-v" || arg == "--verbose") {
      args.Verbose = true;
      continue;
    }
    if (arg == "--strict") {
      args.Strict = true;
      continue;
    }
    if (arg == "--menu" || arg == "--no-menu") {
      args.Menu = arg == "--menu";
      continue;
    }

    // The options that take a value: "-o DIR", "-oDIR", "--target dvd", "--target=dvd".
    std::string name = arg, value;
    bool haveValue = false;
    if (arg.rfind("--", 0) == 0) {
      const std::size_t eq = arg.find('=');
      if (eq != std::string::npos) {
        name = arg.substr(0, eq);
        value = arg.substr(eq + 1);
        haveValue = true;
      }
    } else if (arg.size() > 2) {
      name = arg.substr(0, 2);
      value = arg.substr(2);
      haveValue = true;
    }
    static const char* const kValued[] = {"-o",          "-j",       "--target",  "--norm",
                                          "--aspect",    "--option", "--output",  "--jobs",
                                          "--profile",   "--fit",    "--log",     "--disc",
                                          "--disc-size", "--title",  "--quality", "--subtitles"};
    bool valued = false;
    for (const char* known : kValued) valued = valued || name == known;
    if (!valued) return {std::nullopt, "unknown option \"" + arg + "\""};
    if (!haveValue) {
      if (i + 1 >= arguments.size()) return {std::nullopt, name + " needs a value"};
      value = arguments[++i];
    }

    if (name == "-o" || name == "--output") {
      if (value.empty()) return {std::nullopt, name + " needs a folder"};
      args.OutputFolder = value;
    } else if (name == "-j" || name == "--jobs") {
      const auto jobs = PositiveNumber(value);
      if (!jobs)
        return {std::nullopt, name + " needs a whole number of 1 or more, got \"" + value + "\""};
      args.Jobs = *jobs;
    } else if (name == "--target") {
      const auto it = kTargets.find(value);
      args.Mp4Target = value == "mp4";
      if (it == kTargets.end() && !args.Mp4Target)
        return {std::nullopt,
                "--target must be vcd, svcd, dvd, mp4 or none, got \"" + value + "\""};
      args.TargetType = args.Mp4Target ? 0 : it->second;
      targetOrNormGiven = true;
    } else if (name == "--norm") {
      const auto it = kNorms.find(value);
      if (it == kNorms.end())
        return {std::nullopt, "--norm must be pal, ntsc or auto, got \"" + value + "\""};
      args.NormType = it->second;
      targetOrNormGiven = true;
    } else if (name == "--aspect") {
      if (value != "4:3" && value != "16:9")
        return {std::nullopt, "--aspect must be 4:3 or 16:9, got \"" + value + "\""};
      args.AspectRatio = value;
    } else if (name == "--fit") {
      if (value != "pad" && value != "stretch" && value != "crop")
        return {std::nullopt, "--fit must be pad, stretch or crop, got \"" + value + "\""};
      args.Options.push_back("fit=" + value);  // an output option like any other
    } else if (name == "--log") {
      if (value.empty()) return {std::nullopt, "--log needs a file name"};
      args.LogFile = value;
    } else if (name == "--disc") {
      if (value.empty()) return {std::nullopt, "--disc needs an image name (.iso or .cue)"};
      args.DiscImage = value;
    } else if (name == "--disc-size") {
      if (!authoring::ParseDiscSize(value))
        return {std::nullopt,
                "--disc-size must be 4.7G, 8.5G, 700M, 800M or a size such as 40M or "
                "2.5G (from 2M to 100G), got \"" +
                    value + "\""};
      args.DiscSize = value;
    } else if (name == "--title") {
      if (value.empty()) return {std::nullopt, "--title needs a name"};
      args.Titles.push_back(value);
    } else if (name == "--quality") {
      TQualityClass quality;
      if (value.empty() || !ParseQualityClass(value, quality))
        return {std::nullopt, "--quality must be fast, standard or best, got \"" + value + "\""};
      args.Quality = QualityClassInfo(quality).Name;
    } else if (name == "--subtitles") {
      if (value != "burn" && value != "disc" && value != "none")
        return {std::nullopt, "--subtitles must be burn, disc or none, got \"" + value + "\""};
      args.Subtitles = value;
    } else if (name == "--profile") {
      if (value.empty()) return {std::nullopt, "--profile needs a profile name"};
      args.Profile = value;
    } else {
      if (std::string error = OptionLineError(value); !error.empty()) return {std::nullopt, error};
      args.Options.push_back(value);
    }
  }
  if (args.Titles.size() > args.Files.size())
    return {std::nullopt, "--title names " + std::to_string(args.Titles.size()) + " titles for " +
                              std::to_string(args.Files.size()) + " files"};
  if (args.Mp4Target && args.NormType != 0)
    return {std::nullopt, "--target mp4 has no TV norm: --norm cannot go with it"};
  if (!args.Profile.empty() && targetOrNormGiven)
    return {std::nullopt,
            "--profile names its own target and norm: it cannot go with --target "
            "or --norm"};
  return {std::move(args), {}};
}

std::optional<std::string> OptionValue(const std::vector<std::string>& options,
                                       const std::string& name) {
  std::optional<std::string> found;
  for (const std::string& line : options) {
    const std::size_t eq = line.find('=');
    if (eq != std::string::npos && SameTextIgnoringCase(TrimText(line.substr(0, eq)), name))
      found = line.substr(eq + 1);
  }
  return found;
}

std::string UsageText() {
  return "Usage: tovamo-convert [-o DIR] [--target vcd|svcd|dvd|mp4|none] [--norm pal|ntsc|auto]\n"
         "                      [--aspect 4:3|16:9] [--fit pad|stretch|crop] [-j N]\n"
         "                      [--quality fast|standard|best]\n"
         "                      [--option NAME=VALUE]... [--log FILE] [-v] [--strict]\n"
         "                      [--disc IMAGE.iso|IMAGE.cue] [--disc-size SIZE]\n"
         "                      [--menu|--no-menu] [--title NAME]...\n"
         "                      [--subtitles burn|disc|none]\n"
         "                      [--] FILE...\n"
         "       tovamo-convert [-o DIR] --profile NAME [--aspect 4:3|16:9]\n"
         "                      [--fit pad|stretch|crop] [-j N] [--quality CLASS]\n"
         "                      [--option NAME=VALUE]... [--] FILE...\n"
         "       tovamo-convert --list-profiles\n"
         "Try \"tovamo-convert --help\" for more.\n";
}

std::string HelpText() {
  return R"HELP(Usage: tovamo-convert [OPTION]... [--] FILE...
Converts video files into MPEG files (".mpg") for video CD, super video CD or DVD, or
into MP4 files (".mp4", H.264 and AAC) for players and phones.

Each FILE becomes DIR/ + its file name up to the first "." + ".mpg" (".mp4" for --target
mp4 and the H.264 profiles), so clip.part1.avi becomes DIR/clip.mpg. When two files of
one run would get the same name, the later one gets a distinct name (clip-2.mpg,
clip-3.mpg, ...) and the command says so. A file whose
output would be the file itself is refused. Existing outputs are overwritten.
With no FILE, a short generated sample is converted into DIR, to see the command work.

Options:
  -o DIR                 write the outputs into DIR (default: the current folder); it
                         must exist and be writable, or nothing starts
  --target TARGET        vcd (default), svcd, dvd, none (plain MPEG settings), or mp4
                         (the profile "H264 FOR PHONES(1280*720)": H.264 High and AAC in
                         MP4, the picture fitted inside 1280x720 keeping its proportions;
                         needs the libx264 encoder in the media libraries)
  --norm NORM            pal, ntsc, or auto (default: guessed from the input)
  --aspect RATIO         4:3 or 16:9 (default: the target's or the input's; with
                         --profile the profile's first aspect, 4:3, or the input's own
                         shape for --target mp4 and the H.264 profiles)
  --fit FIT              how a picture of another shape fills the frame: pad (default;
                         black bars keep its proportions), stretch (it fills the frame,
                         its proportions given up) or crop (it fills the frame, its edges
                         cut off)
  --quality CLASS        how much time the encoder may take for better pictures at the
                         same bit rate: standard (default; MPEG with B-pictures), best
                         (two passes where a bit rate is to be met, with trellis
                         quantisation where the first found the rate tight: about 2-3x
                         the time of standard for MPEG, 2.5x for H.264 with libx264's
                         "slow" preset) or fast (previews
                         and slow machines: a quicker scaler, H.264 with "veryfast",
                         MPEG without B-pictures: about 0.7x the time of standard for
                         a large picture made small). An --option wins over the class
  --profile NAME         convert with the output profile NAME of the converter window
                         (its frame size, frame rate, codec, bit rates, sample rate and
                         channels; the name sets the target and the norm, so --target and
                         --norm cannot go with it). The same input, profile and aspect give
                         the same output as the window. Quote a name with spaces.
  --list-profiles        print the names of the profiles (from data.dat beside the
                         program) one a line, in the store's order, and convert nothing
  -j N                   convert N files at once (default: the number of processor
                         cores). When fewer files than cores run, each one's decoder and
                         encoder get the spare cores as threads, unless --option sets
                         "threads"
  --option NAME=VALUE    one more output option ("b=1500k", "threads=1", ...); repeatable.
                         Every option is checked before anything starts
  --log FILE             write the conversion log (the engine's and the media libraries'
                         lines, as the window's Log tab shows them) to FILE, added to
                         its end after a line with the time and the command line; FILE
                         may not be an input, an output or the image, nor a file that
                         is not text
  -v, --verbose          show the same log lines on standard error
  --strict               an input that ends before its stated length counts as failed
                         (exit status 1) instead of "Completed (input ended early)", and
                         so does one whose video or sound could not be decoded at all
                         instead of "Completed without the video (...)"
  --disc IMAGE           after converting, make the outputs into a disc image, one
                         title (DVD) or track (VCD, SVCD) per FILE in the order given:
                         IMAGE.iso for --target dvd (a DVD-Video image that starts in
                         its title menu, see --menu; a chapter every 5 minutes), IMAGE.cue with IMAGE.bin beside it for vcd and
                         svcd. Needs dvdauthor and genisoimage (DVD) or vcdimager
                         (VCD, SVCD). The image appears only once it is whole; its size
                         is shown against the disc's
  --disc-size SIZE       choose the video bit rate so that the whole batch fills one disc
                         of SIZE: 4.7G or 8.5G (DVD), 700M or 800M (CD: SVCD; a VCD's
                         rates are fixed, so only whether it fits is told), or a size
                         of your own in megabytes or gigabytes (40M, 2.5G; 1M is
                         1,000,000 bytes). Every file is then encoded in two passes (a
                         first one that only measures, then the real one: about twice
                         the time) so that the disc is filled to within 2 %. The rate
                         is shown before converting, the real fill after; a batch that
                         does not fit even at the lowest sensible quality is not
                         converted, and the number of discs it needs is shown
  --menu, --no-menu      with --disc for a DVD: the disc starts in a title menu (the
                         default): pages of six titles, each button a picture from a
                         tenth into its title and its name, with "Previous", "Next" and
                         "Play All"; a title returns to the menu when it ends, or in
                         "Play All" goes on to the next. --no-menu: the first title
                         plays when the disc goes in and each goes on to the next.
                         Needs spumux (package dvdauthor)
  --title NAME           the name of the next FILE in the menu (repeatable, in the order
                         of the files; the files without one show their file name
                         without its extension)
  --subtitles MODE       disc (default): with --disc for a DVD, the text subtitles of a
                         FILE (SubRip, ASS/SSA) and the SubRip files beside it (NAME.srt,
                         NAME.LANG.srt for FILE NAME.EXT) become selectable subtitle
                         streams with their languages; burn: the first of them (a file
                         beside it first) is drawn into the picture, for every target;
                         none: no subtitles. With --target dvd every sound track of a
                         FILE (up to 8, its default one first) goes into its output,
                         unless --option chooses the streams ("map", "an")
  --                     everything after it is a FILE, even when it begins with "-"
  -h, --help             show this text
  --version              show the program's version and the media libraries it loaded

"-" is no file name here: the command does not read standard input (write ./- for a file
called "-").

Progress goes to standard error: on a terminal one live line per running file (percent,
frames per second, elapsed time, output size; a long name shortened in the middle) and the
overall percentage; otherwise a plain progress line at most once a second. At the end one
line per FILE on standard output: the file, its output, and "Completed",
"Completed (input ended early)" when an input was shorter than it said, or "Cancelled"
with the reason (and the media libraries' last error line, when they gave one). A file
from which nothing could be written is not completed.

Ctrl-C, SIGTERM or SIGHUP stops cleanly: every output already started is finished so that
it can be played, except that a stopped or failed file never replaces an earlier output of
its name ("the earlier file was kept"); outputs of files not yet started are not touched,
and the command ends with status 130 (Ctrl-C), 143 (SIGTERM) or 129 (SIGHUP). Signals
arriving within a second of the first are the same stop (as "timeout" and GNU parallel
send them); a later one ends it at once. Hidden temporaries (".NAME.part-ID.EXT") and
image work folders that a run ended abruptly left behind are removed by the next run that
writes into their folder.

Exit status:
  0    every file was converted
  1    a file could not be opened or converted, was refused, was stopped or gave nothing
       to write (or, with --strict, ended early or lacks its video or sound), or the output folder or the media
       libraries are missing; with --disc or --disc-size also: an authoring tool is
       missing or failed (its reason is shown), or the batch does not fit on the disc
  2    usage error (an --option the engine refuses included), an unknown profile, or a
       profile store that cannot be read (nothing was started)
  130  stopped by Ctrl-C (143 by SIGTERM, 129 by SIGHUP)
)HELP";
}

}  // namespace tovamo::cli
