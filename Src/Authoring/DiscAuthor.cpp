#include "Authoring/DiscAuthor.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "Authoring/AuthorStep.h"
#include "Authoring/CdStill.h"
#include "Authoring/ToolOutput.h"
#include "Authoring/ToolProcess.h"
#include "Components/Leftovers.h"
#include "Services/SameFile.h"
#include "Services/Text.h"

namespace fs = std::filesystem;

namespace tovamo::authoring {

namespace {

constexpr std::size_t kMaxDvdTitles = 99;  // one title set holds no more
constexpr std::size_t kMaxCdTracks = 98;   // a CD has 99 tracks, the first holds the file system
constexpr std::size_t kReasonLines = 5;    // of a tool's errors, the first few say enough

std::string LowerExtension(const std::string& path) {
  return LowerCaseAscii(fs::path(path).extension().string());
}

std::string FolderOf(const std::string& path) {
  const fs::path parent = fs::path(path).parent_path();
  return parent.empty() ? "." : parent.string();
}

// The volume name of the image: its file name in the capitals, digits and "_" that ISO 9660
// allows, at most 32 of them.
std::string VolumeLabel(const std::string& imagePath) {
  std::string label;
  for (const char c : fs::path(imagePath).stem().string()) {
    if (label.size() == 32) break;
    if (c >= 'a' && c <= 'z')
      label += char(c - 'a' + 'A');
    else if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
      label += c;
    else
      label += '_';
  }
  return label.empty() ? "VIDEO" : label;
}

std::string Megabytes(std::int64_t bytes) {
  return std::to_string((bytes + 999999) / 1000000) + " MB";
}

std::int64_t FileBytes(const std::string& path) {
  std::error_code ec;
  const auto size = fs::file_size(path, ec);
  return ec ? 0 : std::int64_t(size);
}

std::string NormName(TDiscNorm norm) {
  return norm == TDiscNorm::Pal ? "PAL" : "NTSC";
}

// Every title of one disc has one norm: the one asked for, else the first title's. A title
// of the other norm would be skipped by dvdauthor's title set or played wrong.
std::string NormProblem(const TDiscRequest& request) {
  TDiscNorm norm = request.Norm;
  std::string first;
  for (const TDvdTitle& title : request.Titles) {
    const TDiscNorm own = MpegFileNorm(title.File);
    if (own == TDiscNorm::Auto) continue;  // no sequence header: the tool will say
    if (norm == TDiscNorm::Auto) {
      norm = own;
      first = title.File;
      continue;
    }
    if (own == norm) continue;
    return "\"" + title.File + "\" is " + NormName(own) + ", " +
           (first.empty() ? "the disc is " + NormName(norm)
                          : "\"" + first + "\" is " + NormName(norm)) +
           ": every title of one " + DiscKindName(request.Kind) +
           " has the same norm (convert them again with one norm)";
  }
  return {};
}

// What is wrong with the request before any tool runs, or nothing.
std::string RequestProblem(const TDiscRequest& request, std::int64_t& inputBytes) {
  const bool dvd = request.Kind == TDiscKind::Dvd;
  if (request.Titles.empty()) return "no files to put on the disc";
  if (dvd && request.Titles.size() > kMaxDvdTitles)
    return "a DVD holds at most " + std::to_string(kMaxDvdTitles) + " titles, not " +
           std::to_string(request.Titles.size());
  if (!dvd && request.Titles.size() > kMaxCdTracks)
    return "a " + DiscKindName(request.Kind) + " holds at most " + std::to_string(kMaxCdTracks) +
           " tracks, not " + std::to_string(request.Titles.size());
  if (request.ImagePath.empty()) return "no name for the image";
  if (request.ImagePath.find_first_of("\r\n") != std::string::npos ||
      (!dvd && request.ImagePath.find('"') != std::string::npos))  // the .cue quotes the .bin
    return "the image name \"" + request.ImagePath + "\" holds a quote or a line break";
  if (!dvd && LowerExtension(request.ImagePath) != ".cue")
    return "a " + DiscKindName(request.Kind) + " image is a .cue file (with its .bin), not \"" +
           request.ImagePath + "\"";
  std::error_code ec;
  if (!fs::is_directory(FolderOf(request.ImagePath), ec))
    return "the folder of \"" + request.ImagePath + "\" does not exist";
  if (fs::is_directory(request.ImagePath, ec)) return "\"" + request.ImagePath + "\" is a folder";

  std::vector<std::string> inputs;
  inputBytes = 0;
  for (const TDvdTitle& title : request.Titles) {
    if (!fs::is_regular_file(title.File, ec)) return "\"" + title.File + "\" is not a file";
    inputBytes += FileBytes(title.File);
    inputs.push_back(title.File);
  }
  if (std::string problem = NormProblem(request); !problem.empty()) return problem;
  const TSameFileIndex index(inputs);
  std::vector<std::string> outputs = {request.ImagePath};
  if (!dvd) outputs.push_back(BinPathOf(request.ImagePath));
  for (const std::string& output : outputs)
    if (index.IndexOf(output) >= 0)
      return "the image \"" + output + "\" would overwrite one of its own files";

  if (std::string missing = MissingToolsMessage(request.Kind); !missing.empty()) return missing;

  // The DVD folder and the ISO made from it are on the disk together for a while, and a
  // title with subtitles beside them in its copy with the subpictures.
  std::int64_t subtitled = 0;
  for (const TDvdTitle& title : request.Titles)
    if (!title.Subtitles.empty()) subtitled += FileBytes(title.File);
  const std::int64_t needed =
      dvd ? inputBytes * 2 + subtitled + (32 << 20) : inputBytes + inputBytes / 20 + (4 << 20);
  struct statvfs space {};
  if (statvfs(FolderOf(request.ImagePath).c_str(), &space) == 0) {
    const std::int64_t available = std::int64_t(space.f_bavail) * std::int64_t(space.f_frsize);
    if (available < needed)
      return "not enough free space in \"" + FolderOf(request.ImagePath) +
             "\": the image needs about " + Megabytes(needed) + ", there are " +
             Megabytes(available);
  }
  return {};
}

// At most `bytes` of the name, never ending inside a UTF-8 character.
std::string CutName(const std::string& name, std::size_t bytes) {
  if (name.size() <= bytes) return name;
  std::size_t end = bytes;
  while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) --end;
  return name.substr(0, end);
}

// The hidden folder the tools write into, beside the image so that its results are renamed
// into place without a copy. The tools run inside it and see only names of ours in it,
// whatever the bytes of the folders above (not UTF-8, a leading "-").
std::optional<std::string> MakeWorkFolder(const std::string& imagePath, std::string& reason) {
  // Cut short so that the name stays within the file system's 255 bytes.
  const std::string name = CutName(fs::path(imagePath).filename().string(), 200);
  std::string pattern =
      (fs::path(FolderOf(imagePath)) / ("." + name + WorkFolderTag() + "XXXXXX")).string();
  if (!mkdtemp(pattern.data())) {
    reason = "cannot make a work folder beside \"" + imagePath + "\": " + std::strerror(errno);
    return std::nullopt;
  }
  return pattern;
}

}  // namespace

std::string ToolPackage(const std::string& tool) {
  if (tool == "vcdxbuild") return "vcdimager";
  if (tool == "spumux") return "dvdauthor";
  return tool;  // each other tool comes in the package of its own name
}

std::vector<std::string> ToolsFor(TDiscKind kind) {
  if (kind == TDiscKind::Dvd) return {"dvdauthor", "genisoimage"};
  return {"vcdimager"};
}

std::string MissingToolsMessage(TDiscKind kind) {
  std::string message;
  for (const std::string& tool : ToolsFor(kind)) {
    if (ProgramOnPath(tool)) continue;
    if (!message.empty()) message += "; ";
    message += tool + " is not installed (install the package \"" + ToolPackage(tool) + "\")";
  }
  return message;
}

TDiscNorm MpegFileNorm(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string head(1 << 20, '\0');
  in.read(head.data(), std::streamsize(head.size()));
  head.resize(std::size_t(in.gcount()));
  const std::string sequence("\x00\x00\x01\xB3", 4);
  const std::size_t at = head.find(sequence);
  if (at == std::string::npos || at + 8 > head.size()) return TDiscNorm::Auto;
  switch (head[at + 7] & 0x0F) {
    case 3:
      return TDiscNorm::Pal;
    case 1:
    case 2:
    case 4:
    case 5:
      return TDiscNorm::Ntsc;
    default:
      return TDiscNorm::Auto;
  }
}

std::string BinPathOf(const std::string& cuePath) {
  return fs::path(cuePath).replace_extension(".bin").string();
}

TImageMeasure MeasureImage(const TAuthorResult& result, TDiscSize size) {
  const TDiscSizeInfo disc = DiscSizeInfo(size);
  TImageMeasure measure;
  char text[200];
  // A size of the user's holds either kind: the image tells which it is.
  const bool cd = disc.Custom ? result.Files.size() > 1 : disc.Cd;
  if (cd) {
    // The .bin holds whole 2352-byte sectors.
    const std::int64_t sectors = result.Files.empty() ? 0 : FileBytes(result.Files.back()) / 2352;
    measure.TooLarge = sectors > disc.Sectors;
    measure.Fill = disc.Sectors > 0 ? double(sectors) / double(disc.Sectors) : 0;
    std::snprintf(text, sizeof text, "%lld sectors of the %s CD's %lld (%.1f%%)",
                  static_cast<long long>(sectors), disc.Name.c_str(),
                  static_cast<long long>(disc.Sectors),
                  100.0 * double(sectors) / double(disc.Sectors));
  } else {
    const double used = double(result.ImageBytes), capacity = double(disc.CapacityBytes);
    measure.TooLarge = used > capacity;
    measure.Fill = capacity > 0 ? used / capacity : 0;
    std::snprintf(text, sizeof text, "%.*f MB of the %s DVD's %.*f MB (%.1f%%)",
                  capacity < 100e6 ? 1 : 0, used / 1e6, disc.Name.c_str(), capacity < 100e6 ? 1 : 0,
                  capacity / 1e6, 100.0 * used / capacity);
  }
  measure.Text = text;
  return measure;
}

void TDiscAuthor::Report(const std::string& tool, double percent) {
  // Whole percents only, never backwards: a tool rewriting its line many times a second
  // must not flood the caller.
  percent = std::floor(std::clamp(percent, 0.0, 100.0));
  if (percent <= LastPercent_) return;
  LastPercent_ = percent;
  if (OnProgress) OnProgress({tool, percent});
}

bool TDiscAuthor::RunTool(const TStep& step, std::string& reason) {
  if (Stop_) return false;
  TToolProcess process;
  if (!process.Start(step.Argv, step.Env, step.Folder)) {
    reason = process.Error();
    if (!ProgramOnPath(step.Tool))
      reason =
          step.Tool + " is not installed (install the package \"" + ToolPackage(step.Tool) + "\")";
    return false;
  }
  Report(step.Tool, step.From);
  std::vector<std::string> errors, complaints;
  std::string lastLine;
  const auto onLine = [&](const std::string& raw) {
    const std::string line = TrimText(raw);
    if (line.empty()) return;
    lastLine = line;
    if (IsToolErrorLine(step.Tool, line) && errors.size() < kReasonLines) errors.push_back(line);
    if (IsToolComplaintLine(step.Tool, line) && complaints.size() < kReasonLines &&
        std::find(complaints.begin(), complaints.end(), line) == complaints.end())
      complaints.push_back(line);
    if (OnToolLine) OnToolLine(step.Tool, line);
    if (step.Fraction)
      if (const auto fraction = step.Fraction(line))
        Report(step.Tool, step.From + (step.To - step.From) * *fraction);
  };
  while (process.ReadLines(100, onLine)) {
    if (Stop_) {
      process.Kill();
      process.Wait();
      return false;
    }
    if (!step.GrowingFile.empty() && step.ExpectedBytes > 0) {
      const double fraction =
          std::min(0.99, double(FileBytes(step.GrowingFile)) / double(step.ExpectedBytes));
      Report(step.Tool, step.From + (step.To - step.From) * fraction);
    }
  }
  const int status = process.Wait();
  if (Stop_) return false;
  const auto join = [](const std::vector<std::string>& lines) {
    std::string said;
    for (const std::string& line : lines)
      if (!line.empty()) said += (said.empty() ? "" : " / ") + line;
    return said;
  };
  if (status == 0) {
    // A warning is a title skipped or a stream the disc does not allow: the image would
    // not play as its files do.
    if (complaints.empty()) return true;
    reason = step.Tool + ": " + join(complaints);
    return false;
  }
  const std::string said = join(!errors.empty()       ? errors
                                : !complaints.empty() ? complaints
                                                      : std::vector{lastLine});
  reason = step.Tool + " failed (exit status " + std::to_string(status) + ")" +
           (said.empty() ? "" : ": " + said);
  return false;
}

TAuthorResult TDiscAuthor::Run(const TDiscRequest& request) {
  TAuthorResult result;
  LastPercent_ = -1;
  // The work folders of runs that ended abruptly would count against the free space.
  RemoveLeftovers(FolderOf(request.ImagePath));
  result.Reason = RequestProblem(request, InputBytes_);
  if (!result.Reason.empty()) return result;
  if (Stop_) {
    result.Stopped = true;
    result.Reason = "stopped";
    return result;
  }
  const std::optional<std::string> work = MakeWorkFolder(request.ImagePath, result.Reason);
  if (!work) return result;
  result = request.Kind == TDiscKind::Dvd ? MakeDvd(request, *work) : MakeCdImage(request, *work);
  std::error_code ec;
  fs::remove_all(*work, ec);
  if (!result.Completed && Stop_) {
    result.Stopped = true;
    result.Reason = "stopped";
  }
  if (result.Completed) {
    for (const std::string& file : result.Files) result.ImageBytes += FileBytes(file);
    Report("", 100);
  }
  return result;
}

// The titles as links in the work folder, named as the tools see them from there: a tool
// only ever sees names of ours ("./title1.mpg"), which hold no "-" to take for an option,
// no "|" that dvdauthor would run as a command and nothing that is not UTF-8 in its XML.
std::optional<std::vector<TDvdTitle>> LinkTitles(const TDiscRequest& request,
                                                 const std::string& work, std::string& reason) {
  std::vector<TDvdTitle> titles;
  for (std::size_t i = 0; i < request.Titles.size(); ++i) {
    const std::string name = "title" + std::to_string(i + 1) + ".mpg";
    std::error_code ec;
    fs::create_symlink(fs::absolute(request.Titles[i].File), work + "/" + name, ec);
    if (ec) {
      reason = "cannot prepare \"" + request.Titles[i].File + "\": " + ec.message();
      return std::nullopt;
    }
    titles.push_back({"./" + name, request.Titles[i].Seconds, request.Titles[i].Name});
  }
  return titles;
}

TAuthorResult TDiscAuthor::MakeDvd(const TDiscRequest& request, const std::string& work) {
  TAuthorResult result;
  const std::optional<std::vector<TDvdTitle>> linked = LinkTitles(request, work, result.Reason);
  if (!linked) return result;
  const std::optional<TSubpicturePlan> subpictures =
      PlanSubpictures(request.Titles, *linked, request.DrawSubtitle, work, result.Reason);
  if (!subpictures) return result;
  for (const std::vector<std::string>& command : subpictures->Commands) {
    TStep mux;
    mux.Tool = "spumux";
    mux.Argv = command;
    mux.Folder = work;
    if (!RunTool(mux, result.Reason)) return result;
  }
  const std::vector<TDvdTitle>* titles = &subpictures->Titles;
  // The menu domain has no picture of its own to take the norm from.
  TDiscNorm norm = request.Norm;
  if (norm == TDiscNorm::Auto) norm = MpegFileNorm(request.Titles[0].File);
  std::string menusXml;
  const bool menu = request.WithMenu && request.PaintMenu;
  if (menu && !MakeDvdMenus(request, work, norm, 5, menusXml, result.Reason)) return result;
  const std::string control = work + "/dvdauthor.xml";
  {
    std::ofstream out(control, std::ios::binary);
    out << DvdAuthorXml("./dvd", *titles, menusXml);
    if (!out.flush()) {
      result.Reason = "cannot write the dvdauthor control file in \"" + work + "\"";
      return result;
    }
  }
  TStep author;
  author.Tool = "dvdauthor";
  author.Argv = {"dvdauthor", "-x", "./dvdauthor.xml"};
  author.Folder = work;
  author.Env = {std::string("VIDEO_FORMAT=") + (norm == TDiscNorm::Ntsc ? "NTSC" : "PAL")};
  author.From = menu ? 5 : 0;
  author.To = 50;
  const std::int64_t total = InputBytes_;
  author.Fraction = [total](const std::string& line) { return DvdauthorFraction(line, total); };
  if (!RunTool(author, result.Reason)) return result;

  const std::string iso = work + "/image.iso";
  TStep writer;
  writer.Tool = "genisoimage";
  writer.Argv = {"genisoimage", "-dvd-video",  "-input-charset",
                 "utf-8",       "-V",          VolumeLabel(request.ImagePath),
                 "-o",          "./image.iso", "./dvd"};
  writer.Folder = work;
  writer.From = 50;
  writer.To = 100;
  writer.Fraction = IsoWriterFraction;
  if (!RunTool(writer, result.Reason)) return result;

  std::error_code ec;
  fs::rename(iso, request.ImagePath, ec);
  if (ec) {
    result.Reason = "cannot name the image \"" + request.ImagePath + "\": " + ec.message();
    return result;
  }
  result.Completed = true;
  result.Files = {request.ImagePath};
  return result;
}

TAuthorResult TDiscAuthor::MakeCdImage(const TDiscRequest& request, const std::string& work) {
  TAuthorResult result;
  const std::string cue = work + "/image.cue";
  const std::string bin = work + "/image.bin";
  const std::optional<std::vector<TDvdTitle>> titles = LinkTitles(request, work, result.Reason);
  if (!titles) return result;
  TStep imager;
  if (request.WithMenu && request.DrawCdMenu) {
    if (!PrepareCdMenu(request, *titles, work, imager, result.Reason)) return result;
  } else {
    imager.Tool = "vcdimager";
    imager.Argv = {"vcdimager",
                   "-t",
                   request.Kind == TDiscKind::Vcd ? "vcd2" : "svcd",
                   "-l",
                   VolumeLabel(request.ImagePath),
                   "-c",
                   "./image.cue",
                   "-b",
                   "./image.bin"};
    for (const TDvdTitle& title : *titles) imager.Argv.push_back(title.File);
  }
  imager.Folder = work;
  imager.GrowingFile = bin;
  imager.ExpectedBytes = InputBytes_ / 2324 * 2352;  // each 2324-byte pack fills a sector
  if (!RunTool(imager, result.Reason)) return result;

  // The .cue names the .bin as the tool was told; it has to name the final one, beside it.
  const std::string finalBin = BinPathOf(request.ImagePath);
  std::ifstream in(cue, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  std::string cueText;
  std::istringstream lines(text.str());
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("FILE ", 0) == 0)
      line = "FILE \"" + fs::path(finalBin).filename().string() + "\" BINARY";
    cueText += line + "\n";
  }
  const std::string finalCue = work + "/final.cue";
  {
    std::ofstream out(finalCue, std::ios::binary);
    out << cueText;
    if (!out.flush()) {
      result.Reason = "cannot write the .cue file in \"" + work + "\"";
      return result;
    }
  }
  // The .bin first: a .cue under its final name always has its whole .bin beside it.
  std::error_code ec;
  fs::rename(bin, finalBin, ec);
  if (!ec) {
    fs::rename(finalCue, request.ImagePath, ec);
    if (ec) fs::remove(finalBin);
  }
  if (ec) {
    result.Reason = "cannot name the image \"" + request.ImagePath + "\": " + ec.message();
    return result;
  }
  result.Completed = true;
  result.Files = {request.ImagePath, finalBin};
  return result;
}

bool TDiscAuthor::PrepareCdMenu(const TDiscRequest& request, const std::vector<TDvdTitle>& titles,
                                const std::string& work, TStep& builder, std::string& reason) {
  TDiscNorm norm = request.Norm;
  if (norm == TDiscNorm::Auto) norm = MpegFileNorm(request.Titles[0].File);
  if (norm == TDiscNorm::Auto) norm = TDiscNorm::Pal;
  std::vector<std::string> names;
  for (const TDvdTitle& title : request.Titles) names.push_back(TrackName(title));
  const std::vector<TCdMenuPage> pages =
      CdMenuPages(fs::path(request.ImagePath).stem().string(), names, norm);
  std::vector<std::string> tracks, stills;
  for (const TDvdTitle& title : titles) tracks.push_back(title.File);
  // Pictures and stills are a small share of the whole: the first percent.
  Report("selection screen", 0);
  for (const TCdMenuPage& page : pages) {
    if (Stop_) return false;
    const std::string base = "page" + std::to_string(page.Page);
    const std::string picture = work + "/" + base + ".png";
    if (!request.DrawCdMenu(page, picture)) {
      reason = "cannot draw the selection screen's picture";
      return false;
    }
    if (!MakeCdStill(picture, work + "/" + base + ".mpg", request.Kind, norm, reason)) return false;
    stills.push_back("./" + base + ".mpg");
    Report("selection screen", 1.0 * page.Page / double(pages.size()));
  }
  {
    std::ofstream out(work + "/videocd.xml", std::ios::binary);
    out << VcdxbuildXml(request.Kind, VolumeLabel(request.ImagePath), tracks, stills,
                        pages[0].Columns * pages[0].Rows);
    if (!out.flush()) {
      reason = "cannot write the vcdxbuild control file in \"" + work + "\"";
      return false;
    }
  }
  builder.Tool = "vcdxbuild";
  builder.Argv = {"vcdxbuild", "-c", "./image.cue", "-b", "./image.bin", "./videocd.xml"};
  builder.From = 2;
  return true;
}

}  // namespace tovamo::authoring
