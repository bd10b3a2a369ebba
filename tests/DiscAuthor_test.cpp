// Disc images from converted files, made by the real authoring tools and read back: a DVD
// ISO (its title set and the titles' lengths), VCD and SVCD .cue + .bin images, a stop part
// way, and the reasons given when a tool fails or is missing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "Authoring/DiscAuthor.h"
#include "Authoring/ToolOutput.h"
#include "Engine/FFmpeg.h"
#include "support/ProgramRun.h"
#include "support/EngineJob.h"
#include "support/TestSupport.h"

namespace tovamo::authoring {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

std::vector<std::string> FolderEntries(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

using test::RunProgram;

// The seconds of every title of a DVD title set, from the playback time of its program
// chains in the VTS IFO file (BCD hours, minutes, seconds and frames).
std::vector<double> TitleSeconds(const std::string& ifo) {
  auto u8 = [&](std::size_t at) { return at < ifo.size() ? std::uint8_t(ifo[at]) : 0; };
  auto u16 = [&](std::size_t at) { return std::uint32_t(u8(at) << 8 | u8(at + 1)); };
  auto u32 = [&](std::size_t at) { return u16(at) << 16 | u16(at + 2); };
  auto bcd = [](std::uint8_t b) { return (b >> 4) * 10 + (b & 15); };
  std::vector<double> seconds;
  const std::size_t table = std::size_t(u32(0xCC)) * 2048;  // the title set's program chains
  const std::uint32_t chains = u16(table);
  for (std::uint32_t i = 0; i < chains; ++i) {
    const std::size_t pgc = table + u32(table + 8 + i * 8 + 4);
    const std::uint8_t frames = u8(pgc + 7);
    const double rate = (frames >> 6) == 1 ? 25.0 : 30000.0 / 1001;
    seconds.push_back(bcd(u8(pgc + 4)) * 3600.0 + bcd(u8(pgc + 5)) * 60 + bcd(u8(pgc + 6)) +
                      bcd(frames & 0x3F) / rate);
  }
  return seconds;
}

class DiscAuthorTest : public ::testing::Test {
 protected:
  void SetUp() override { test::LoadSystemLibraries(); }

  // A generated clip converted by the engine for the disc.
  TDvdTitle Converted(const std::string& fixture, const char* target, const char* norm = "pal") {
    const std::string out = Dir.File(std::string(target) + "_" + norm + "_" + fixture + ".mpg");
    TFFmpeg engine(2);
    test::TEndWaiter waiter(engine);
    EXPECT_TRUE(engine.OpenInputFile(test::Fixture(fixture))) << engine.LastError;
    engine.SetTarget(target, norm, "pal");
    EXPECT_EQ(engine.AddOutputFile(out, false), 1) << engine.LastError;
    const test::TJobResult result = waiter.Run();
    EXPECT_TRUE(result.Finished) << result.Message;
    return {out, fixture == "long_5s.mpg" ? 5.0 : 2.0};
  }

  // The image folder holds exactly these files: nothing half-written, no work folder.
  void ExpectOnly(const fs::path& folder, std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    EXPECT_EQ(FolderEntries(folder), names);
  }

  test::TTempDir Dir;
};

TEST_F(DiscAuthorTest, TwoClipsMakeADvdImageWithOneTitleEach) {
  const std::vector<TDvdTitle> titles = {Converted("sample.mpg", "dvd"),
                                         Converted("long_5s.mpg", "dvd")};
  const fs::path images = Dir.Path() / "images";
  fs::create_directory(images);
  TDiscAuthor author;
  std::vector<double> percents;
  std::vector<std::string> tools;
  author.OnProgress = [&](const TAuthorProgress& p) {
    percents.push_back(p.Percent);
    if (!p.Tool.empty() && (tools.empty() || tools.back() != p.Tool)) tools.push_back(p.Tool);
  };
  int lines = 0;
  author.OnToolLine = [&](const std::string&, const std::string&) { ++lines; };
  const std::string iso = (images / "holiday film.iso").string();
  const TAuthorResult result = author.Run({TDiscKind::Dvd, TDiscNorm::Pal, titles, iso});
  ASSERT_TRUE(result.Completed) << result.Reason;
  EXPECT_EQ(result.Files, std::vector<std::string>{iso});
  EXPECT_EQ(result.ImageBytes, std::int64_t(fs::file_size(iso)));
  EXPECT_EQ(result.ImageBytes % 2048, 0);
  ExpectOnly(images, {"holiday film.iso"});
  EXPECT_EQ(tools, (std::vector<std::string>{"dvdauthor", "genisoimage"}));
  EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
  EXPECT_EQ(percents.back(), 100);
  EXPECT_GT(lines, 0);

  // Read back: the DVD-Video files, one title set, two titles as long as their clips.
  const auto [status, listing] = RunProgram({"xorriso", "-indev", iso, "-find", "/"});
  ASSERT_EQ(status, 0) << listing;
  for (const char* file :
       {"'/VIDEO_TS/VIDEO_TS.IFO'", "'/VIDEO_TS/VTS_01_0.IFO'", "'/VIDEO_TS/VTS_01_1.VOB'"})
    EXPECT_NE(listing.find(file), std::string::npos) << file << "\n" << listing;
  EXPECT_EQ(listing.find("VTS_02"), std::string::npos) << listing;
  const std::string ifo = Dir.File("VTS_01_0.IFO");
  const auto [extracted, said] = RunProgram(
      {"xorriso", "-osirrox", "on", "-indev", iso, "-extract", "/VIDEO_TS/VTS_01_0.IFO", ifo});
  ASSERT_EQ(extracted, 0) << said;
  const std::vector<double> seconds = TitleSeconds(ReadAll(ifo));
  ASSERT_EQ(seconds.size(), 2u);
  EXPECT_NEAR(seconds[0], 2.0, 0.2);
  EXPECT_NEAR(seconds[1], 5.0, 0.2);
}

struct TCdCase {
  const char* Name;
  TDiscKind Kind;
  const char* Target;
};

class CdImages : public DiscAuthorTest, public ::testing::WithParamInterface<TCdCase> {};

TEST_P(CdImages, TwoClipsMakeACueAndItsBin) {
  const TCdCase& c = GetParam();
  const std::vector<TDvdTitle> titles = {Converted("sample.mpg", c.Target),
                                         Converted("long_5s.mpg", c.Target)};
  const fs::path images = Dir.Path() / "images";
  fs::create_directory(images);
  const std::string cue = (images / "disc.cue").string();
  TDiscAuthor author;
  double last = -1;
  author.OnProgress = [&](const TAuthorProgress& p) { last = p.Percent; };
  const TAuthorResult result = author.Run({c.Kind, TDiscNorm::Pal, titles, cue});
  ASSERT_TRUE(result.Completed) << result.Reason;
  EXPECT_EQ(last, 100);
  const std::string bin = (images / "disc.bin").string();
  EXPECT_EQ(result.Files, (std::vector<std::string>{cue, bin}));
  ExpectOnly(images, {"disc.bin", "disc.cue"});
  // The .cue names the .bin beside it, and has the data track and one track per clip.
  const std::string text = ReadAll(cue);
  EXPECT_EQ(text.rfind("FILE \"disc.bin\" BINARY\n", 0), 0u) << text;
  EXPECT_NE(text.find("TRACK 03 MODE2/2352"), std::string::npos) << text;
  EXPECT_EQ(text.find("TRACK 04"), std::string::npos) << text;
  const auto size = fs::file_size(bin);
  EXPECT_GT(size, 0u);
  EXPECT_EQ(size % 2352, 0u);
  EXPECT_EQ(result.ImageBytes, std::int64_t(size + text.size()));
}

INSTANTIATE_TEST_SUITE_P(Discs, CdImages,
                         ::testing::Values(TCdCase{"vcd", TDiscKind::Vcd, "vcd"},
                                           TCdCase{"svcd", TDiscKind::Svcd, "svcd"}),
                         [](const auto& info) { return std::string(info.param.Name); });

// Stopped as soon as the first tool has started: the tool is ended and nothing it wrote
// stays, and an image already under the name is left as it was.
TEST_F(DiscAuthorTest, StopLeavesNothingBehind) {
  const struct {
    TDiscKind Kind;
    const char* Target;
    const char* Image;
  } cases[] = {{TDiscKind::Dvd, "dvd", "disc.iso"}, {TDiscKind::Vcd, "vcd", "disc.cue"}};
  for (const auto& c : cases) {
    const fs::path images = Dir.Path() / c.Target;
    fs::create_directory(images);
    const std::string image = (images / c.Image).string();
    test::WriteFile(image, "an earlier image");
    TDiscAuthor author;
    std::string stoppedIn;
    author.OnProgress = [&](const TAuthorProgress& p) {
      if (stoppedIn.empty()) stoppedIn = p.Tool;
      author.Stop();
    };
    const TAuthorResult result =
        author.Run({c.Kind, TDiscNorm::Pal, {Converted("sample.mpg", c.Target)}, image});
    EXPECT_FALSE(result.Completed);
    EXPECT_TRUE(result.Stopped);
    EXPECT_EQ(result.Reason, "stopped");
    EXPECT_EQ(stoppedIn, c.Kind == TDiscKind::Dvd ? "dvdauthor" : "vcdimager");
    ExpectOnly(images, {c.Image});
    EXPECT_EQ(ReadAll(image), "an earlier image");
  }
}

// A file the tool cannot take: its own error line is the reason, and nothing is written.
TEST_F(DiscAuthorTest, AToolsFailureGivesItsReason) {
  const struct {
    TDiscKind Kind;
    const char* Image;
    const char* Says;
  } cases[] = {
      {TDiscKind::Dvd, "disc.iso", "dvdauthor failed (exit status 1): ERR:"},
      {TDiscKind::Vcd, "disc.cue", "vcdimager failed (exit status 1): **ERROR:"},
      {TDiscKind::Svcd, "disc.cue", "vcdimager failed (exit status 1): **ERROR:"},
  };
  for (const auto& c : cases) {
    const fs::path images = Dir.Path() / ("images_" + std::to_string(int(c.Kind)));
    fs::create_directory(images);
    TDiscAuthor author;
    const TAuthorResult result = author.Run(
        {c.Kind, TDiscNorm::Pal, {{test::Fixture("random.avi"), 2}}, (images / c.Image).string()});
    EXPECT_FALSE(result.Completed);
    EXPECT_FALSE(result.Stopped);
    EXPECT_NE(result.Reason.find(c.Says), std::string::npos) << result.Reason;
    ExpectOnly(images, {});
  }
}

TEST_F(DiscAuthorTest, MissingToolsAreNamedWithTheirPackage) {
  const fs::path empty = Dir.Path() / "no-tools";
  fs::create_directory(empty);
  const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
  setenv("PATH", empty.c_str(), 1);
  const std::string dvd = MissingToolsMessage(TDiscKind::Dvd);
  TDiscAuthor author;
  const TAuthorResult result = author.Run(
      {TDiscKind::Svcd, TDiscNorm::Pal, {{test::Fixture("sample.mpg"), 2}}, Dir.File("x.cue")});
  setenv("PATH", path.c_str(), 1);
  EXPECT_EQ(dvd,
            "dvdauthor is not installed (install the package \"dvdauthor\"); genisoimage is not "
            "installed (install the package \"genisoimage\")");
  EXPECT_EQ(result.Reason, "vcdimager is not installed (install the package \"vcdimager\")");
  EXPECT_FALSE(fs::exists(Dir.File("x.cue")));
  EXPECT_EQ(MissingToolsMessage(TDiscKind::Dvd), "");
}

// Requests that cannot make an image are refused before any tool runs.
TEST_F(DiscAuthorTest, RequestsThatCannotWorkAreRefused) {
  const std::string clip = test::Fixture("sample.mpg");
  fs::create_directory(Dir.Path() / "folder.iso");
  fs::copy_file(clip, Dir.File("movie.bin"));  // a clip that a .cue's .bin would replace
  const struct {
    TDiscRequest Request;
    const char* Says;
  } cases[] = {
      {{TDiscKind::Dvd, TDiscNorm::Pal, {}, Dir.File("a.iso")}, "no files"},
      {{TDiscKind::Dvd, TDiscNorm::Pal, std::vector<TDvdTitle>(100, {clip, 2}), Dir.File("a.iso")},
       "at most 99 titles"},
      {{TDiscKind::Vcd, TDiscNorm::Pal, std::vector<TDvdTitle>(99, {clip, 2}), Dir.File("a.cue")},
       "at most 98 tracks"},
      {{TDiscKind::Vcd, TDiscNorm::Pal, {{clip, 2}}, Dir.File("a.iso")}, "is a .cue file"},
      {{TDiscKind::Dvd, TDiscNorm::Pal, {{clip, 2}}, Dir.File("nowhere/a.iso")}, "does not exist"},
      {{TDiscKind::Dvd, TDiscNorm::Pal, {{clip, 2}}, Dir.File("folder.iso")}, "is a folder"},
      {{TDiscKind::Dvd, TDiscNorm::Pal, {{Dir.File("gone.mpg"), 2}}, Dir.File("a.iso")},
       "is not a file"},
      {{TDiscKind::Dvd, TDiscNorm::Pal, {{clip, 2}}, clip}, "would overwrite one of its own"},
      {{TDiscKind::Svcd,
        TDiscNorm::Pal,
        {{clip, 2}, {Dir.File("movie.bin"), 2}},
        Dir.File("movie.cue")},
       "would overwrite one of its own"},
      {{TDiscKind::Svcd, TDiscNorm::Pal, {{clip, 2}}, Dir.File("a\"b.cue")}, "holds a quote"},
      {{TDiscKind::Dvd, TDiscNorm::Pal, {{clip, 2}}, Dir.File("a\nb.iso")}, "a line break"},
  };
  for (const auto& c : cases) {
    TDiscAuthor author;
    bool progressed = false;
    author.OnProgress = [&](const TAuthorProgress&) { progressed = true; };
    const TAuthorResult result = author.Run(c.Request);
    EXPECT_FALSE(result.Completed);
    EXPECT_NE(result.Reason.find(c.Says), std::string::npos) << result.Reason;
    EXPECT_FALSE(progressed) << c.Says;
  }
  ExpectOnly(Dir.Path(), {"folder.iso", "movie.bin"});
}

// Image names the tools once choked on: a folder beginning with "-" (taken for an option), a
// name cut inside a character for the work folder, a folder name that is not UTF-8 (both
// once in dvdauthor's XML). The tools run in the work folder and see only names of ours.
TEST_F(DiscAuthorTest, AwkwardImageNamesMakeTheirImage) {
  std::string cjk;
  for (int i = 0; i < 70; ++i) cjk += "\xE6\x98\xA0";  // 映: 214 bytes with ".iso"
  const struct {
    TDiscKind Kind;
    const char* Folder;
    std::string Name;
  } cases[] = {
      {TDiscKind::Dvd, "-foo", "disc.iso"},       {TDiscKind::Vcd, "-foo", "disc.cue"},
      {TDiscKind::Dvd, "wide", cjk + ".iso"},     {TDiscKind::Dvd, "caf\xE9", "disc.iso"},
      {TDiscKind::Svcd, "caf\xE9", cjk + ".cue"},
  };
  const TDvdTitle dvd = Converted("sample.mpg", "dvd"), vcd = Converted("sample.mpg", "vcd"),
                  svcd = Converted("sample.mpg", "svcd");
  // Relative names, as typed in a shell: "-foo/disc.iso" from the folder that holds "-foo".
  const fs::path before = fs::current_path();
  fs::current_path(Dir.Path());
  for (const auto& c : cases) {
    fs::create_directories(c.Folder);
    const std::string image = std::string(c.Folder) + "/" + c.Name;
    const TDvdTitle& title = c.Kind == TDiscKind::Dvd ? dvd : c.Kind == TDiscKind::Vcd ? vcd : svcd;
    TDiscAuthor author;
    const TAuthorResult result = author.Run({c.Kind, TDiscNorm::Pal, {title}, image});
    EXPECT_TRUE(result.Completed) << image << ": " << result.Reason;
    EXPECT_GT(result.ImageBytes, 0) << image;
    std::vector<std::string> made = {c.Name};
    if (c.Kind != TDiscKind::Dvd) made.push_back(fs::path(BinPathOf(c.Name)).string());
    ExpectOnly(Dir.Path() / c.Folder, made);
    fs::remove_all(c.Folder);
  }
  fs::current_path(before);
}

// Every title of a disc has one norm: a title of the other is refused before any tool runs
// (dvdauthor would skip its format and make a PAL title set holding an NTSC picture).
TEST_F(DiscAuthorTest, TitlesOfAnotherNormAreRefused) {
  const TDvdTitle pal = Converted("sample.mpg", "dvd", "pal");
  const TDvdTitle ntsc = Converted("sample.mpg", "dvd", "ntsc");
  const struct {
    TDiscNorm Norm;
    std::vector<TDvdTitle> Titles;
    const char* Says;
  } cases[] = {
      {TDiscNorm::Auto, {pal, ntsc}, "is NTSC, \""},
      {TDiscNorm::Auto, {ntsc, pal}, "is PAL, \""},
      {TDiscNorm::Pal, {ntsc}, "is NTSC, the disc is PAL"},
  };
  for (const auto& c : cases) {
    TDiscAuthor author;
    bool progressed = false;
    author.OnProgress = [&](const TAuthorProgress&) { progressed = true; };
    const TAuthorResult result = author.Run({TDiscKind::Dvd, c.Norm, c.Titles, Dir.File("x.iso")});
    EXPECT_FALSE(result.Completed);
    EXPECT_NE(result.Reason.find(c.Says), std::string::npos) << result.Reason;
    EXPECT_NE(result.Reason.find("every title of one DVD has the same norm"), std::string::npos);
    EXPECT_FALSE(progressed);
    EXPECT_FALSE(fs::exists(Dir.File("x.iso")));
  }
  TDiscAuthor author;
  const TAuthorResult same =
      author.Run({TDiscKind::Dvd, TDiscNorm::Auto, {ntsc, ntsc}, Dir.File("x.iso")});
  EXPECT_TRUE(same.Completed) << same.Reason;
}

// A tool that ends well but warns made an image that is not what it should be: its warning
// is the reason and nothing is written. Stand-in tools say what the real ones say then.
TEST_F(DiscAuthorTest, AToolsWarningFailsTheImage) {
  const struct {
    TDiscKind Kind;
    const char* Tool;  // stand-in, or null: the real tools
    const char* Line;
    const char* Fixture;
  } cases[] = {
      {TDiscKind::Dvd, "dvdauthor", "WARN: attempt to update tv format from pal to ntsc; skipping",
       "sample.mpg"},
      {TDiscKind::Dvd, "genisoimage", "Warning: creating filesystem that does not conform",
       "sample.mpg"},
      {TDiscKind::Svcd, "vcdimager", "++ WARN: unknown user data tag id 0x4a encountered",
       "sample.mpg"},
      // A VCD without sound breaks the standard; the real vcdimager says so and goes on.
      {TDiscKind::Vcd, nullptr, "++ WARN: this VCD type requires an audio stream to be present",
       "video_only.avi"},
  };
  const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
  int n = 0;
  for (const auto& c : cases) {
    const fs::path folder = Dir.Path() / ("case" + std::to_string(++n));
    fs::create_directories(folder / "tools");
    if (c.Tool) {
      const std::string tool = (folder / "tools" / c.Tool).string();
      test::WriteFile(tool, std::string("#!/bin/sh\necho '") + c.Line + "'\nexit 0\n");
      fs::permissions(tool, fs::perms::owner_all);
      setenv("PATH", ((folder / "tools").string() + ":" + path).c_str(), 1);
    }
    const bool dvd = c.Kind == TDiscKind::Dvd;
    const char* target = dvd ? "dvd" : c.Kind == TDiscKind::Vcd ? "vcd" : "svcd";
    TDiscAuthor author;
    const TAuthorResult result = author.Run({c.Kind,
                                             TDiscNorm::Pal,
                                             {Converted(c.Fixture, target)},
                                             (folder / (dvd ? "disc.iso" : "disc.cue")).string()});
    setenv("PATH", path.c_str(), 1);
    EXPECT_FALSE(result.Completed);
    EXPECT_EQ(result.Reason, std::string(c.Tool ? c.Tool : "vcdimager") + ": " + c.Line);
    ExpectOnly(folder, {"tools"});
  }
}

TEST(DiscNorm, FromTheFirstSequenceHeader) {
  const struct {
    const char* Fixture;
    TDiscNorm Norm;
  } cases[] = {
      {"sample.mpg", TDiscNorm::Pal},      {"interlaced.mpg", TDiscNorm::Pal},
      {"ntsc_29_97.mpg", TDiscNorm::Ntsc}, {"text.avi", TDiscNorm::Auto},
      {"empty.avi", TDiscNorm::Auto},      {"audio_only.mp2", TDiscNorm::Auto},
  };
  for (const auto& c : cases)
    EXPECT_EQ(int(MpegFileNorm(test::Fixture(c.Fixture))), int(c.Norm)) << c.Fixture;
  EXPECT_EQ(int(MpegFileNorm("/nonexistent/file.mpg")), int(TDiscNorm::Auto));
}

TEST(DvdControl, ChaptersEveryFiveMinutesUpToTheDvdsLimit) {
  const struct {
    double Seconds;
    const char* Chapters;
  } cases[] = {
      {2, "0"},
      {300, "0"},
      {301, "0,0:05:00"},
      {3700,
       "0,0:05:00,0:10:00,0:15:00,0:20:00,0:25:00,0:30:00,0:35:00,0:40:00,0:45:00,"
       "0:50:00,0:55:00,1:00:00"},
  };
  for (const auto& c : cases) EXPECT_EQ(DvdChapterList(c.Seconds), c.Chapters) << c.Seconds;
  for (const double unknownOrLong : {0.0, -1.0, 40000.0}) {
    const std::string list = DvdChapterList(unknownOrLong);
    EXPECT_EQ(std::count(list.begin(), list.end(), ','), 98) << unknownOrLong;
    EXPECT_NE(list.find(",8:10:00"), std::string::npos);
  }
}

TEST(DvdControl, FirstTitlePlaysOnInsertionAndEachLeadsToTheNext) {
  const std::string xml = DvdAuthorXml(
      "/out/a&b", {{"/w/title1.mpg", 2}, {"/w/title2.mpg", 400}, {"/w/title3.mpg", 2}});
  EXPECT_NE(xml.find("dest=\"/out/a&amp;b\""), std::string::npos) << xml;
  EXPECT_NE(xml.find("<fpc>jump title 1;</fpc>"), std::string::npos) << xml;
  const auto first = xml.find("/w/title1.mpg"), second = xml.find("/w/title2.mpg"),
             third = xml.find("/w/title3.mpg");
  ASSERT_LT(first, second);
  ASSERT_LT(second, third);
  EXPECT_NE(xml.find("jump title 2;", first), std::string::npos);
  EXPECT_LT(xml.find("jump title 2;", first), second);
  EXPECT_LT(xml.find("jump title 3;", second), third);
  EXPECT_NE(xml.find("<post>exit;</post>", third), std::string::npos);
  EXPECT_NE(xml.find("chapters=\"0,0:05:00\"", second), std::string::npos);
}

TEST(ToolOutput, ProgressAndErrorLines) {
  const std::int64_t total = 100LL << 20;  // 100 MB of input
  const struct {
    const char* Line;
    std::optional<double> Dvdauthor, IsoWriter;
  } cases[] = {
      {"STAT: VOBU 120 at 50MB, 1 PGCs", 0.425, std::nullopt},
      {"STAT: VOBU 0 at 0MB, 1 PGCs", 0.0, std::nullopt},
      {"STAT: VOBU 999 at 400MB, 2 PGCs", 0.85, std::nullopt},  // never past its share
      {"STAT: fixing VOBU at 34MB (120/400, 30%)", 0.895, std::nullopt},
      {"STAT: fixing VOBU at 34MB (400/400, 100%)", 1.0, std::nullopt},
      {" 48.55% done, estimate finish Thu Dec 10 23:19:38 2026", std::nullopt, 0.4855},
      {"100.00% done, estimate finish Thu Dec 10 23:19:38 2026", std::nullopt, 1.0},
      {"INFO: Video pts = 0.540 .. 2.540", std::nullopt, std::nullopt},
      {"1770 extents written (3 MB)", std::nullopt, std::nullopt},
      {"", std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    const auto dvd = DvdauthorFraction(c.Line, total);
    const auto iso = IsoWriterFraction(c.Line);
    ASSERT_EQ(dvd.has_value(), c.Dvdauthor.has_value()) << c.Line;
    ASSERT_EQ(iso.has_value(), c.IsoWriter.has_value()) << c.Line;
    if (dvd) {
      EXPECT_NEAR(*dvd, *c.Dvdauthor, 1e-9) << c.Line;
    }
    if (iso) {
      EXPECT_NEAR(*iso, *c.IsoWriter, 1e-9) << c.Line;
    }
  }
  EXPECT_TRUE(IsToolErrorLine("dvdauthor", "ERR:  no VOBUs found."));
  EXPECT_FALSE(IsToolErrorLine("dvdauthor", "WARN: Skipping sector at inoffset 0"));
  EXPECT_TRUE(IsToolErrorLine("vcdimager", "**ERROR: input mpeg stream has been deemed invalid"));
  EXPECT_FALSE(IsToolErrorLine("vcdimager", "++ WARN: this VCD type should not contain MPEG2"));
  EXPECT_TRUE(IsToolErrorLine("genisoimage", "genisoimage: No such file or directory."));
  EXPECT_FALSE(IsToolErrorLine("genisoimage", "I: -input-charset not specified"));
  // Warnings are complaints too; information is not.
  EXPECT_TRUE(IsToolComplaintLine("dvdauthor", "WARN: Skipping sector at inoffset 0"));
  EXPECT_TRUE(IsToolComplaintLine("dvdauthor", "ERR:  no VOBUs found."));
  EXPECT_FALSE(IsToolComplaintLine("dvdauthor", "INFO: default video format is PAL"));
  EXPECT_TRUE(IsToolComplaintLine("vcdimager", "++ WARN: this VCD type should not contain MPEG2"));
  EXPECT_FALSE(IsToolComplaintLine("vcdimager", "INFO: mpeg stream seems to be ok"));
  EXPECT_TRUE(IsToolComplaintLine("genisoimage", "Warning: creating filesystem that does not"));
  EXPECT_FALSE(IsToolComplaintLine("genisoimage", "Total translation table size: 0"));
}

}  // namespace
}  // namespace tovamo::authoring
