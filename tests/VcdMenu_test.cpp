// The selection screen of VCD and SVCD images: the playback control read back from the made
// image by vcd-info (every track on the list under its number, each coming back to it), the
// still picture decoded from the image against the picture drawn for it, and the image
// without a menu as it was before.
#include <gtest/gtest.h>

#include <QImage>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>

#include "Authoring/CdStill.h"
#include "Authoring/DiscAuthor.h"
#include "Authoring/VcdControl.h"
#include "CdMenuPicture.h"
#include "Engine/FFmpeg.h"
#include "OffscreenPainting.h"
#include "support/ProgramRun.h"
#include "support/EngineJob.h"
#include "support/MediaProbe.h"
#include "support/TestSupport.h"

namespace tovamo::authoring {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

using test::RunProgram;

// One list of the image's playback control as vcd-info shows it; 0 is a disabled link.
struct TList {
  bool Selection = false;
  int Lid = 0, Nos = 0, Bsn = 0;
  int Prev = 0, Next = 0, Return = 0, Timeout = 0, Default = 0;
  std::string Item;  // "SEGMENT[0]", "SEQUENCE[2]"
  std::vector<int> Selects;
};

int Link(const std::string& block, const std::string& name) {
  std::smatch m;
  if (!std::regex_search(block, m, std::regex(name + ": (disabled|LID\\[(\\d+)\\])"))) return -1;
  return m[2].matched ? std::stoi(m[2]) : 0;
}

struct TPbc {
  std::vector<TList> Lists;
  std::vector<std::string> Segments;                // "PAL still", ...
  std::vector<std::pair<int, int>> SegmentSectors;  // first LSN, count
};

TPbc ReadPbc(const std::string& cue) {
  const auto [status, text] = RunProgram({"vcd-info", "-B", "-c", cue, "-I", "-p"});
  EXPECT_EQ(status, 0) << text;
  TPbc pbc;
  const std::regex segment(
      "SEGMENT\\[\\d+\\]: track# 0, LSN +(\\d+) .*, +(\\d+) sectors\\n.*video: ([A-Za-z ]+)");
  for (std::sregex_iterator it(text.begin(), text.end(), segment), end; it != end; ++it) {
    pbc.SegmentSectors.push_back({std::stoi((*it)[1]), std::stoi((*it)[2])});
    pbc.Segments.push_back((*it)[3]);
  }
  // VCD/PSD.VCD on a VCD, SVCD/PSD.SVD on an SVCD.
  std::size_t from = text.find("VCD/PSD.VCD");
  if (from == std::string::npos) from = text.find("SVCD/PSD.SVD");
  if (from == std::string::npos) return pbc;
  const std::string psd = text.substr(from, text.find("-----", from) - from);
  std::size_t at = psd.find("PSD[");
  while (at != std::string::npos) {
    const std::size_t next = psd.find("PSD[", at + 1);
    const std::string block = psd.substr(at, next == std::string::npos ? next : next - at);
    TList list;
    list.Selection = block.find("selection list descriptor") != std::string::npos;
    std::smatch m;
    if (std::regex_search(block, m, std::regex("LID: (\\d+)"))) list.Lid = std::stoi(m[1]);
    if (std::regex_search(block, m, std::regex("LID#: (\\d+)"))) list.Lid = std::stoi(m[1]);
    if (std::regex_search(block, m, std::regex("NOS: (\\d+) \\| BSN: (\\d+)"))) {
      list.Nos = std::stoi(m[1]);
      list.Bsn = std::stoi(m[2]);
    }
    list.Prev = Link(block, "prev");
    list.Next = Link(block, "next");
    list.Return = Link(block, "return");
    list.Timeout = Link(block, "timeout");
    list.Default = Link(block, "default");
    if (std::regex_search(block, m, std::regex("play-item(\\[0\\])?: ([A-Z]+\\[\\d+\\])")))
      list.Item = m[2];
    const std::regex ofs("ofs\\[\\d+\\]: LID\\[(\\d+)\\]");
    for (std::sregex_iterator it(block.begin(), block.end(), ofs), end; it != end; ++it)
      list.Selects.push_back(std::stoi((*it)[1]));
    pbc.Lists.push_back(list);
    at = next;
  }
  return pbc;
}

// The MPEG stream of a segment, from the form 2 sectors of a .bin (2324 bytes after each
// sector's 24-byte header).
std::string SegmentStream(const std::string& bin, std::pair<int, int> sectors) {
  const std::string all = ReadAll(bin);
  std::string stream;
  for (int i = 0; i < sectors.second; ++i) {
    const std::size_t at = std::size_t(sectors.first + i) * 2352 + 24;
    if (at + 2324 <= all.size()) stream += all.substr(at, 2324);
  }
  return stream;
}

class VcdMenu : public ::testing::Test {
 protected:
  void SetUp() override {
    test::LoadSystemLibraries();
    discmenu::EnsureGuiForPainting();
  }

  std::string Converted(const char* target, const char* norm) {
    const std::string out = Dir.File(std::string(target) + "_" + norm + ".mpg");
    if (fs::exists(out)) return out;
    TFFmpeg engine(2);
    test::TEndWaiter waiter(engine);
    EXPECT_TRUE(engine.OpenInputFile(test::Fixture("sample.mpg"))) << engine.LastError;
    engine.SetTarget(target, norm, "pal");
    EXPECT_EQ(engine.AddOutputFile(out, false), 1) << engine.LastError;
    EXPECT_TRUE(waiter.Run().Finished);
    return out;
  }

  // An image of `count` tracks (the same clip each time) with the selection screen. The
  // tools' lines and the steps of the progress are kept.
  TAuthorResult Make(TDiscKind kind, const char* norm, int count, const std::string& cue,
                     bool withMenu = true) {
    const std::string clip = Converted(kind == TDiscKind::Vcd ? "vcd" : "svcd", norm);
    TDiscRequest request;
    request.Kind = kind;
    request.Norm = TDiscNorm::Auto;
    for (int i = 0; i < count; ++i) request.Titles.push_back({clip, 2, Names[i % 3]});
    request.ImagePath = cue;
    request.DrawCdMenu = discmenu::CdMenuDrawer();
    request.WithMenu = withMenu;
    TDiscAuthor author;
    Lines.clear();
    Steps.clear();
    author.OnToolLine = [&](const std::string& tool, const std::string& line) {
      Lines.push_back(tool + ": " + line);
    };
    author.OnProgress = [&](const TAuthorProgress& p) {
      if (!p.Tool.empty() && (Steps.empty() || Steps.back() != p.Tool)) Steps.push_back(p.Tool);
    };
    return author.Run(request);
  }

  void ExpectNoWarning() {
    for (const std::string& line : Lines) {
      EXPECT_EQ(line.find("WARN"), std::string::npos) << line;
      EXPECT_EQ(line.find("ERR"), std::string::npos) << line;
    }
  }

  std::vector<std::string> Lines, Steps;
  const std::vector<std::string> Names = {"Holiday & \"Friends\" <1>", "夏の海辺", "c"};
  test::TTempDir Dir;
};

// Three tracks: the disc starts on the list, numbers 1..3 play tracks 1..3, each track comes
// back to the list at its end (its timeout) and on Return, Next and Previous step along the
// tracks. The still on the disc is the picture drawn for it.
TEST_F(VcdMenu, ThreeTracksAreChosenByNumberAndComeBackToTheList) {
  const std::string cue = Dir.File("disc.cue");
  const TAuthorResult result = Make(TDiscKind::Vcd, "pal", 3, cue);
  ASSERT_TRUE(result.Completed) << result.Reason;
  ExpectNoWarning();
  EXPECT_EQ(Steps, (std::vector<std::string>{"selection screen", "vcdxbuild"}));

  const TPbc pbc = ReadPbc(cue);
  ASSERT_EQ(pbc.Segments, std::vector<std::string>{"PAL still"});
  ASSERT_EQ(pbc.Lists.size(), 4u);
  const TList& menu = pbc.Lists[0];
  EXPECT_TRUE(menu.Selection);
  EXPECT_EQ(menu.Lid, 1);
  EXPECT_EQ(menu.Item, "SEGMENT[0]");
  EXPECT_EQ(menu.Bsn, 1);
  EXPECT_EQ(menu.Nos, 3);
  EXPECT_EQ(menu.Selects, (std::vector<int>{2, 3, 4}));
  EXPECT_EQ(menu.Default, 2);
  EXPECT_EQ(menu.Prev, 0);
  EXPECT_EQ(menu.Next, 0);
  for (int track = 1; track <= 3; ++track) {
    const TList& list = pbc.Lists[std::size_t(track)];
    EXPECT_EQ(list.Lid, track + 1);
    EXPECT_EQ(list.Item, "SEQUENCE[" + std::to_string(track - 1) + "]");
    EXPECT_EQ(list.Timeout, 1) << track;
    EXPECT_EQ(list.Return, 1) << track;
    EXPECT_EQ(list.Prev, track == 1 ? 1 : track) << track;
    EXPECT_EQ(list.Next, track == 3 ? 1 : track + 2) << track;
  }

  // The still, decoded from the image, against the drawn picture scaled to the frame.
  const std::string still = Dir.File("still.mpg");
  test::WriteFile(still, SegmentStream(BinPathOf(cue), pbc.SegmentSectors[0]));
  const test::TLumaPicture decoded = test::DecodeLuma(still, 0);
  ASSERT_EQ(decoded.Width, 352);
  ASSERT_EQ(decoded.Height, 288);
  const std::vector<TCdMenuPage> pages = CdMenuPages("disc", Names, TDiscNorm::Pal);
  ASSERT_EQ(pages.size(), 1u);
  const QImage drawn = discmenu::CdMenuPicture(pages[0])
                           .scaled(352, 288, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                           .convertToFormat(QImage::Format_Grayscale8);
  double difference = 0;
  for (int y = 0; y < 288; ++y)
    for (int x = 0; x < 352; ++x)
      difference += std::abs(16 + drawn.pixel(x, y) % 256 * 219.0 / 255 -
                             decoded.Luma[std::size_t(y * 352 + x)]);
  EXPECT_LT(difference / (352 * 288), 6);
  // The picture is not empty: the first number's box is bright, the fourth row's place dark.
  EXPECT_GT(decoded.Mean(38, 67, 10, 10), 120);
  EXPECT_LT(decoded.Mean(38, 134, 10, 10), 60);
}

struct TManyCase {
  const char* Name;
  TDiscKind Kind;
  const char* Norm;
  int Tracks;
  const char* Still;
};

class ManyTracks : public VcdMenu, public ::testing::WithParamInterface<TManyCase> {};

// Every track is on the list under its number from every page; Next and Previous move
// between the pages, and each track comes back to the page it is listed on.
TEST_P(ManyTracks, EveryTrackIsListedOnItsPage) {
  const TManyCase& c = GetParam();
  const std::string cue = Dir.File("many.cue");
  const TAuthorResult result = Make(c.Kind, c.Norm, c.Tracks, cue);
  ASSERT_TRUE(result.Completed) << result.Reason;
  ExpectNoWarning();
  const int perPage = c.Tracks > 8 ? 16 : 8;
  const int pages = (c.Tracks + perPage - 1) / perPage;
  const TPbc pbc = ReadPbc(cue);
  EXPECT_EQ(pbc.Segments, std::vector<std::string>(std::size_t(pages), c.Still));
  ASSERT_EQ(pbc.Lists.size(), std::size_t(pages + c.Tracks));
  std::vector<int> trackLids;
  for (int track = 1; track <= c.Tracks; ++track) trackLids.push_back(pages + track);
  for (int page = 1; page <= pages; ++page) {
    const TList& list = pbc.Lists[std::size_t(page - 1)];
    EXPECT_TRUE(list.Selection);
    EXPECT_EQ(list.Item, "SEGMENT[" + std::to_string(page - 1) + "]");
    EXPECT_EQ(list.Bsn, 1);
    EXPECT_EQ(list.Selects, trackLids) << page;
    EXPECT_EQ(list.Prev, page - 1) << page;
    EXPECT_EQ(list.Next, page < pages ? page + 1 : 0) << page;
  }
  for (int track = 1; track <= c.Tracks; ++track) {
    const TList& list = pbc.Lists[std::size_t(pages + track - 1)];
    const int home = (track - 1) / perPage + 1;
    EXPECT_EQ(list.Item, "SEQUENCE[" + std::to_string(track - 1) + "]");
    EXPECT_EQ(list.Timeout, home) << track;
    EXPECT_EQ(list.Return, home) << track;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Discs, ManyTracks,
    ::testing::Values(TManyCase{"vcd_pal_17", TDiscKind::Vcd, "pal", 17, "PAL still"},
                      TManyCase{"svcd_ntsc_98", TDiscKind::Svcd, "ntsc", 98, "NTSC still"}),
    [](const auto& info) { return std::string(info.param.Name); });

// Without the menu the image is the one vcdimager makes: no playback control, no still, the
// tracks in a row.
TEST_F(VcdMenu, WithoutTheMenuTheTracksPlayInARow) {
  for (const TDiscKind kind : {TDiscKind::Vcd, TDiscKind::Svcd}) {
    const std::string cue = Dir.File("plain" + std::to_string(int(kind)) + ".cue");
    const TAuthorResult result = Make(kind, "pal", 2, cue, false);
    ASSERT_TRUE(result.Completed) << result.Reason;
    EXPECT_EQ(Steps, std::vector<std::string>{"vcdimager"});
    const TPbc pbc = ReadPbc(cue);
    EXPECT_TRUE(pbc.Segments.empty());
    EXPECT_TRUE(pbc.Lists.empty());
  }
}

// A picture that cannot be drawn, or a warning of vcdxbuild: no image, the reason given,
// nothing left beside it.
TEST_F(VcdMenu, FailuresLeaveNoImage) {
  const std::string clip = Converted("vcd", "pal");
  const fs::path tools = Dir.Path() / "tools";
  fs::create_directories(tools);
  const std::string warning = "++ WARN: PSD: selection menu-1: something is not right";
  test::WriteFile((tools / "vcdxbuild").string(), "#!/bin/sh\necho '" + warning + "'\nexit 0\n");
  fs::permissions(tools / "vcdxbuild", fs::perms::owner_all);
  const struct {
    bool Draws;
    bool StandIn;
    std::string Says;
  } cases[] = {
      {false, false, "cannot draw the selection screen's picture"},
      {true, true, "vcdxbuild: " + warning},
  };
  const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
  int n = 0;
  for (const auto& c : cases) {
    const fs::path folder = Dir.Path() / ("case" + std::to_string(++n));
    fs::create_directory(folder);
    TDiscRequest request;
    request.Kind = TDiscKind::Vcd;
    request.Titles = {{clip, 2}};
    request.ImagePath = (folder / "disc.cue").string();
    request.DrawCdMenu = c.Draws ? discmenu::CdMenuDrawer()
                                 : [](const TCdMenuPage&, const std::string&) { return false; };
    if (c.StandIn) setenv("PATH", (tools.string() + ":" + path).c_str(), 1);
    TDiscAuthor author;
    const TAuthorResult result = author.Run(request);
    setenv("PATH", path.c_str(), 1);
    EXPECT_FALSE(result.Completed);
    EXPECT_EQ(result.Reason, c.Says);
    EXPECT_TRUE(fs::is_empty(folder)) << c.Says;
  }
  EXPECT_EQ(ToolPackage("vcdxbuild"), "vcdimager");
}

// Stopped while the pictures are made: no tool runs and nothing stays.
TEST_F(VcdMenu, AStopWhileTheStillsAreMadeLeavesNothing) {
  TDiscRequest request;
  request.Kind = TDiscKind::Svcd;
  request.Titles = std::vector<TDvdTitle>(20, {Converted("svcd", "pal"), 2});
  const fs::path folder = Dir.Path() / "stopped";
  fs::create_directory(folder);
  request.ImagePath = (folder / "disc.cue").string();
  request.DrawCdMenu = discmenu::CdMenuDrawer();
  TDiscAuthor author;
  std::vector<std::string> steps;
  author.OnProgress = [&](const TAuthorProgress& p) {
    steps.push_back(p.Tool);
    author.Stop();
  };
  const TAuthorResult result = author.Run(request);
  EXPECT_TRUE(result.Stopped);
  EXPECT_EQ(steps, std::vector<std::string>{"selection screen"});
  EXPECT_TRUE(fs::is_empty(folder));
}

// A file name may hold a line break or a tab: the list still has one line per track.
TEST_F(VcdMenu, NamesAreDrawnOnOneLine) {
  TCdMenuPage page;
  page.Rows = 8;
  page.Entries = {{1, "two\nlines\tand a tab"}};
  const QImage broken = discmenu::CdMenuPicture(page);
  page.Entries = {{1, "two lines and a tab"}};
  EXPECT_EQ(broken, discmenu::CdMenuPicture(page));
}

TEST(VcdControl, PagesHoldEightTracksOrTwoColumnsOfEight) {
  const struct {
    int Tracks, Pages, Columns, LastPageEntries;
  } cases[] = {{1, 1, 1, 1},   {8, 1, 1, 8},  {9, 1, 2, 9},
               {16, 1, 2, 16}, {17, 2, 2, 1}, {98, 7, 2, 2}};
  for (const auto& c : cases) {
    std::vector<std::string> names;
    for (int i = 0; i < c.Tracks; ++i) names.push_back("t" + std::to_string(i + 1));
    const std::vector<TCdMenuPage> pages = CdMenuPages("disc", names, TDiscNorm::Ntsc);
    ASSERT_EQ(int(pages.size()), c.Pages) << c.Tracks;
    int number = 0;
    for (const TCdMenuPage& page : pages) {
      EXPECT_EQ(page.Columns, c.Columns);
      EXPECT_EQ(page.Pages, c.Pages);
      EXPECT_EQ(page.Width * 3, page.Height * 4);
      for (const TCdMenuEntry& entry : page.Entries) {
        EXPECT_EQ(entry.Number, ++number);
        EXPECT_EQ(entry.Name, "t" + std::to_string(number));
      }
    }
    EXPECT_EQ(int(pages.back().Entries.size()), c.LastPageEntries) << c.Tracks;
  }
  EXPECT_EQ(TrackName({"/a/b/clip.part1.mpg", 2}), "clip.part1");
  EXPECT_EQ(TrackName({"/a/b/clip.mpg", 2, "My \"clip\""}), "My \"clip\"");
}

// Only the video stream of an MPEG program stream becomes a still; other bytes are refused
// as they are.
TEST(CdStill, MarksOnlyTheVideoOfAProgramStream) {
  const std::string pack("\x00\x00\x01\xBA\x21\x00\x01\x00\x01\x80\x1B\x91", 12);
  const std::string system("\x00\x00\x01\xBB\x00\x09\x80\x1B\x91\x01\xE1\xFF\xE0\xE0\x2E", 15);
  const std::string audio("\x00\x00\x01\xC0\x00\x02\xAA\xBB", 8);
  const std::string video("\x00\x00\x01\xE0\x00\x03\x00\x00\x01", 9);
  std::string stream = pack + system + audio + video + std::string(20, '\0');
  ASSERT_TRUE(MarkVideoAsStill(stream));
  EXPECT_EQ(stream.substr(pack.size() + 12, 1), "\xE1");                 // listed
  EXPECT_EQ(stream.substr(pack.size() + system.size() + 3, 1), "\xC0");  // audio kept
  EXPECT_EQ(stream.substr(pack.size() + system.size() + audio.size() + 3, 1), "\xE1");
  for (std::string bad :
       {std::string("not mpeg at all"), pack + audio, pack + video.substr(0, 7)}) {
    const std::string before = bad;
    EXPECT_FALSE(MarkVideoAsStill(bad));
    EXPECT_EQ(bad, before);
  }
}

}  // namespace
}  // namespace tovamo::authoring
