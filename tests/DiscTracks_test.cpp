// Sound tracks and subtitles of an input on its way to a disc: SubRip reading, language
// codes, the files found beside an input, the title set's stream lines, the burning
// filter's text and the subtitle pictures; and end to end, the built command making a DVD
// image whose languages and subtitles the disc tools read back, and burning subtitles in.
#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "Authoring/DvdControl.h"
#include "Authoring/DvdSubpictures.h"
#include "Components/DiscTracks.h"
#include "Components/SubtitleSources.h"
#include "Engine/SubtitleBurn.h"
#include "OffscreenPainting.h"
#include "Services/FFBindings.h"
#include "SubtitlePicture.h"
#include "support/MediaProbe.h"
#include "support/TestSupport.h"

namespace tovamo {
namespace {

namespace fs = std::filesystem;

constexpr int kVideo = 0, kSubtitle = 3;  // AVMEDIA_TYPE_*

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// ---- SubRip text ----------------------------------------------------------------------

TEST(SubRipText, CuesAreReadFromWhatEditorsWrite) {
  struct TCase {
    const char* Name;
    std::string Text;
    std::vector<TSubtitleCue> Cues;
    std::size_t Problems;
  };
  const TCase cases[] = {
      {"BOM, CRLF and markup",
       "\xEF\xBB\xBF"
       "1\r\n00:00:01,500 --> 00:00:02,250\r\n<i>Hello</i> <font color=\"red\">"
       "you</font>\r\n  two  \r\n\r\n2\r\n00:01:00.1 --> 00:01:01,000 X1:10\r\nNext\r\n",
       {{1.5, 2.25, "Hello you\ntwo"}, {60.1, 61, "Next"}},
       0},
      {"old Mac line ends", "1\r00:00:03,000 --> 00:00:04,000\rOne\r\r", {{3, 4, "One"}}, 0},
      {"no blank line between cues",
       "1\n00:00:01,000 --> 00:00:02,000\nA\n2\n00:00:03,000 --> 00:00:04,000\nB\n",
       {{1, 2, "A"}, {3, 4, "B"}},
       0},
      {"a bad block is skipped, the rest kept",
       "1\n00:00:01,000 -> 00:00:02,000\nlost\n\n2\n00:00:05,000 --> 00:00:04,000\nbackwards\n"
       "\n3\n00:00:06,000 --> 00:00:07,000\nkept\n",
       {{6, 7, "kept"}},
       2},
      {"out of order",
       "00:00:09,000 --> 00:00:10,000\nlate\n\n00:00:01,000 --> 00:00:02,000\nearly\n",
       {{1, 2, "early"}, {9, 10, "late"}},
       0},
      {"not SubRip at all", std::string("\x00\x01garbage\nmore garbage\n", 23), {}, 1},
      {"empty", "", {}, 0},
      {"Windows-1252",
       "00:00:01,000 --> 00:00:02,000\nCaf\xE9 \x93ol\xE9\x94\n",
       {{1, 2, "Caf\xC3\xA9 \xE2\x80\x9Col\xC3\xA9\xE2\x80\x9D"}},
       0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::vector<std::string> problems;
    const std::vector<TSubtitleCue> cues = ParseSubRip(c.Text, problems);
    ASSERT_EQ(cues.size(), c.Cues.size());
    for (std::size_t i = 0; i < cues.size(); ++i) {
      EXPECT_NEAR(cues[i].Start, c.Cues[i].Start, 1e-6);
      EXPECT_NEAR(cues[i].End, c.Cues[i].End, 1e-6);
      EXPECT_EQ(cues[i].Text, c.Cues[i].Text);
    }
    EXPECT_EQ(problems.size(), c.Problems);
  }
  std::vector<std::string> problems;
  ParseSubRip("1\n00:00:01,000 -> 00:00:02,000\nlost\n", problems);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].rfind("line 2: not a SubRip timing line", 0), 0u) << problems[0];
}

TEST(SubRipText, StreamEventsBecomePlainLines) {
  EXPECT_EQ(PlainCueText(AssEventText("3,0,Default,,0,0,0,,{\\i1}Hi{\\i0}\\Nthere\\hyou")),
            "Hi\nthere you");
  EXPECT_EQ(AssEventText("Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,A, b"), "A, b");
  EXPECT_EQ(AssEventText("plain"), "plain");
}

// ---- Languages and the files beside an input --------------------------------------------

TEST(DiscTracks, LanguageTagsBecomeTwoLetterCodes) {
  const std::pair<const char*, const char*> cases[] = {
      {"eng", "en"}, {"ger", "de"}, {"deu", "de"}, {"jpn", "ja"}, {"fre", "fr"}, {"EN", "en"},
      {"chi", "zh"}, {"und", ""},   {"xyz", ""},   {"", ""},      {"e1", ""}};
  for (const auto& [tag, code] : cases) EXPECT_EQ(TwoLetterLanguage(tag), code) << tag;
}

TEST(DiscTracks, EveryTrackTheDefaultOneFirst) {
  test::LoadSystemLibraries();
  const struct {
    const char* Fixture;
    std::vector<std::string> Lines;
    std::vector<std::string> Languages, Text;
  } cases[] = {
      {"languages_subs.mkv",
       {"map=0:0", "map=0:2", "map=0:1", "acodec=ac3", "newaudio="},
       {"ja", "en"},
       {"fr"}},
      {"two_languages.mkv",
       {"map=0:0", "map=0:2", "map=0:1", "acodec=ac3", "newaudio="},
       {"de", "en"},
       {}},
      {"sample.mpg", {}, {""}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Fixture);
    AVFormatContext* input = nullptr;
    ASSERT_GE(ff::avformat_open_input(&input, test::Fixture(c.Fixture).c_str(), nullptr, nullptr),
              0);
    ASSERT_GE(ff::avformat_find_stream_info(input, nullptr), 0);
    const TDiscTrackPlan plan = PlanDiscTracks(*input);
    ff::avformat_close_input(&input);
    EXPECT_EQ(DiscTrackOptionLines(plan, "ac3"), c.Lines);
    std::vector<std::string> languages, text;
    for (const TDiscTrack& track : plan.Audio) languages.push_back(track.Language);
    for (const TDiscTrack& track : plan.Text) text.push_back(track.Language);
    EXPECT_EQ(languages, c.Languages);
    EXPECT_EQ(text, c.Text);
  }
}

TEST(DiscTracks, SubRipFilesBesideAnInputAreFoundPlainOneFirst) {
  test::TTempDir dir;
  for (const char* name : {"my.clip.mkv", "my.clip.srt", "my.clip.jpn.srt", "my.clip.en.SRT",
                           "my.clip.part.en.srt", "other.srt", "my.clip.txt"})
    test::WriteFile(dir.File(name), "x");
  fs::create_directory(dir.Path() / "my.clip.de.srt");  // a folder, not a file
  std::vector<std::pair<std::string, std::string>> found;
  for (const TSidecarSubtitle& s : FindSidecarSubtitles(dir.File("my.clip.mkv")))
    found.push_back({fs::path(s.Path).filename().string(), s.Language});
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"my.clip.srt", ""}, {"my.clip.en.SRT", "en"}, {"my.clip.jpn.srt", "ja"}};
  EXPECT_EQ(found, expected);
}

TEST(DiscTracks, TitleSetListsEachStreamsLanguage) {
  using authoring::TDvdTitle;
  const std::vector<TDvdTitle> plain = {{"./title1.mpg", 2}};
  EXPECT_EQ(authoring::DvdStreamLines(plain), "");  // a title as before: nothing added
  const std::vector<TDvdTitle> titles = {
      {"./title1.mpg", 2, "", {"ja", ""}, {{"en", {}}, {"", {}}}},
      {"./title2.mpg", 2, "", {"de", "fr", "it"}, {{"de", {}}, {"fr", {}}}}};
  EXPECT_EQ(authoring::DvdStreamLines(titles),
            "      <audio lang=\"ja\"/>\n      <audio lang=\"fr\"/>\n      <audio lang=\"it\"/>\n"
            "      <subpicture lang=\"en\"/>\n      <subpicture lang=\"fr\"/>\n");
  EXPECT_TRUE(
      Contains(authoring::DvdAuthorXml("./dvd", titles), "<titles>\n      <audio lang=\"ja\"/>"));
  EXPECT_EQ(authoring::SpumuxTime(3725.456), "1:02:05.46");
}

TEST(DiscTracks, BurningFilterQuotesAnyFileName) {
  const std::pair<std::string, std::string> cases[] = {
      {"0:/a/b.srt", "subtitles=filename=\\'/a/b.srt\\':stream_index=0"},
      {"2:/x/it's [a], b;c:d.mkv",
       "subtitles=filename=\\'/x/it\\'\\\\\\'\\'s \\[a\\]\\, b\\;c:d.mkv\\':stream_index=2"},
      {"", ""},
      {"x:/a.srt", ""},
      {":/a.srt", ""},
      {"1:", ""},
      {"/a.srt", ""}};
  for (const auto& [value, filter] : cases) EXPECT_EQ(BurnSubtitleFilter(value), filter) << value;
}

TEST(DiscTracks, SubtitlePicturesHaveThreeColoursAtTheFoot) {
  discmenu::EnsureGuiForPainting();
  test::TTempDir dir;
  const std::string png = dir.File("cue.png");
  ASSERT_TRUE(
      discmenu::DrawSubtitlePicture("Hello there, a long line that must be wrapped to "
                                    "fit the width of the picture\nand a second",
                                    720, 576, 16.0 / 15, png));
  QImage image(QString::fromStdString(png));
  ASSERT_EQ(image.size(), QSize(720, 576));
  std::set<QRgb> colours;
  int top = image.height(), opaque = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      const QRgb pixel = image.pixel(x, y);
      colours.insert(pixel);
      if (qAlpha(pixel) == 0) continue;
      ++opaque;
      top = std::min(top, y);
    }
  EXPECT_LE(colours.size(), 3u);  // transparent, fill, outline: a subpicture holds four
  EXPECT_GT(opaque, 2000);
  EXPECT_GT(top, 576 / 2);  // three lines at the foot
  EXPECT_FALSE(discmenu::DrawSubtitlePicture("x", 720, 576, 1, dir.File("no/such/folder.png")));
  // A line without spaces is broken too: nothing reaches the picture's sides.
  ASSERT_TRUE(discmenu::DrawSubtitlePicture(
      "日本語の字幕はとても長い一行でも画面の中に収まるように折り返されます", 720, 576, 1, png));
  image.load(QString::fromStdString(png));
  for (int y = 0; y < image.height(); ++y)
    for (const int x : {0, 1, 2, 717, 718, 719})
      EXPECT_EQ(qAlpha(image.pixel(x, y)), 0) << x << "," << y;
}

// ---- The command -----------------------------------------------------------------------

class DiscTracksCommand : public ::testing::Test {
 protected:
  void SetUp() override { test::LoadSystemLibraries(); }

  // Runs the built command; its standard output and error are kept.
  int Run(const std::vector<std::string>& args) {
    std::string command = "'" TOVAMO_CONVERT "'";
    for (const std::string& arg : args) {
      std::string quoted = "'";
      for (const char c : arg) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
      command += " " + quoted + "'";
    }
    command += " >'" + Dir.File("stdout") + "' 2>'" + Dir.File("stderr") + "' </dev/null";
    const int status = std::system(command.c_str());
    Out = ReadText(Dir.File("stdout"));
    Err = ReadText(Dir.File("stderr"));
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::string Input(const std::string& name) {
    const std::string path = Dir.File(name);
    fs::copy_file(test::Fixture("languages_subs.mkv"), path);
    return path;
  }

  static std::string Capture(const std::string& command) {
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
      char buffer[4096];
      for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        output.append(buffer, n);
      pclose(pipe);
    }
    return output;
  }

  test::TTempDir Dir;
  std::string Out, Err;
};

// Two sound tracks, a SubRip stream inside and a SubRip file beside: every one selectable
// on the disc with its language, the subpictures shown when the cues say.
TEST_F(DiscTracksCommand, BothLanguagesAndTheSubtitlesAreSelectableOnTheDvd) {
  const std::string clip = Input("clip.mkv");
  test::WriteFile(Dir.File("clip.en.srt"),
                  "\xEF\xBB\xBF"
                  "1\r\n00:00:00,500 --> 00:00:01,300\r\n<i>Hello</i> world\r\n\r\n"
                  "2\r\n00:00:01,500 --> 00:00:02,000\r\nSecond\r\n");
  const std::string iso = Dir.File("x.iso"), log = Dir.File("log.txt");
  ASSERT_EQ(Run({"--target", "dvd", "--norm", "pal", "-o", Dir.Path().string(), "--disc", iso,
                 "--disc-size", "4.7G", "--log", log, clip}),
            0)
      << Out << Err;
  EXPECT_TRUE(Contains(Out, "2 sound tracks (ja, en)")) << Out;
  // Both tracks count against the disc's highest rate, 10080 kbit/s.
  EXPECT_TRUE(Contains(Out, "video at 8449 kbit/s with sound at 896 kbit/s")) << Out;
  EXPECT_TRUE(Contains(Out, "2 subtitle streams (en, fr)")) << Out;

  const std::string listing = Capture("lsdvd -a -s '" + iso + "' 2>/dev/null");
  for (const char* line :
       {"Audio streams: 02, Subpictures: 02", "Audio: 1, Language: ja", "Audio: 2, Language: en",
        "Subtitle: 01, Language: en", "Subtitle: 02, Language: fr"})
    EXPECT_TRUE(Contains(listing, line)) << line << "\n" << listing;
  const std::string logText = ReadText(log);
  EXPECT_TRUE(Contains(logText, "spumux: INFO: 2 subtitles added")) << logText;
  for (const char* complaint : {"dvdauthor: WARN", "dvdauthor: ERR", "spumux: WARN", "spumux: ERR"})
    EXPECT_FALSE(Contains(logText, complaint)) << complaint;

  // The subpictures' times against the title's first picture: the cues' starts (the SRT's
  // 0.5 s and 1.5 s, the stream's 0.4 s and 1.4 s), each within a frame.
  const fs::path vob = Dir.Path() / "VIDEO_TS" / "VTS_01_1.VOB";
  Capture("cd '" + Dir.Path().string() + "' && xorriso -osirrox on -indev x.iso -extract " +
          "/VIDEO_TS/VTS_01_1.VOB '" + vob.string() + "' 2>&1");
  const test::TMediaInfo info = test::ProbeMedia(vob.string());
  ASSERT_TRUE(info.Opened) << vob;
  std::int64_t firstPicture = INT64_MAX;
  for (const test::TPacketInfo& p : info.PacketsOf(info.StreamOfType(kVideo)))
    if (p.Pts != INT64_MIN) firstPicture = std::min(firstPicture, p.Pts);
  std::set<std::int64_t> shown;
  for (int n = 0; info.StreamOfType(kSubtitle, n) >= 0; ++n)
    for (const test::TPacketInfo& p : info.PacketsOf(info.StreamOfType(kSubtitle, n)))
      shown.insert(p.Pts - firstPicture);
  const std::vector<double> expected = {0.4, 0.5, 1.4, 1.5};
  ASSERT_EQ(shown.size(), expected.size());
  std::size_t i = 0;
  for (const std::int64_t at : shown) EXPECT_NEAR(double(at) / 1e6, expected[i++], 0.04);
}

// A SubRip file with bad blocks keeps its good cues and says which lines it skipped; one
// that is no SubRip at all is left out with a word. Neither stops the disc.
TEST_F(DiscTracksCommand, AMalformedSubRipFileIsReportedNotFatal) {
  const std::string clip = Input("clip.mkv");
  test::WriteFile(Dir.File("clip.srt"), std::string("\x89PNG\r\n\x1a\n\x00\x00", 10));
  test::WriteFile(Dir.File("clip.de.srt"),
                  "1\n00:00:00,200 --> 00:00:00,900\nGut\n\n2\nkaputt --> 00:00:01\nweg\n\n"
                  "3\n00:00:01,000 --> 00:00:01,800\nAuch gut\n");
  const std::string iso = Dir.File("x.iso");
  ASSERT_EQ(Run({"--target", "dvd", "-o", Dir.Path().string(), "--disc", iso, clip}), 0)
      << Out << Err;
  EXPECT_TRUE(Contains(Err,
                       "clip.de.srt: line 6: not a SubRip timing line (kaputt --> "
                       "00:00:01); skipped"))
      << Err;
  EXPECT_TRUE(Contains(Err, "clip.srt\" holds no SubRip cue; left out")) << Err;
  const std::string listing = Capture("lsdvd -s '" + iso + "' 2>/dev/null");
  EXPECT_TRUE(Contains(listing, "Subtitle: 01, Language: de")) << listing;
  EXPECT_TRUE(Contains(listing, "Subtitle: 02, Language: fr")) << listing;
}

TEST_F(DiscTracksCommand, AnUnknownSubtitlesModeStartsNothing) {
  const std::string clip = Input("clip.mkv");
  EXPECT_EQ(Run({"--subtitles", "soft", "-o", Dir.Path().string(), clip}), 2);
  EXPECT_TRUE(Contains(Err, "--subtitles must be burn, disc or none, got \"soft\"")) << Err;
  EXPECT_FALSE(fs::exists(Dir.Path() / "clip.mpg"));
}

// Burnt in, the file beside the input (a name the filter graph would split) shows in the
// picture's lower part while its cue lasts, and nowhere else.
TEST_F(DiscTracksCommand, BurntSubtitlesChangeThePictureOnlyWhereAndWhenTheyShow) {
  const std::string clip = Input("it's [a], b;c.mkv");
  test::WriteFile(Dir.File("it's [a], b;c.srt"),
                  "1\n00:00:00,500 --> 00:00:01,300\nBURNT IN TEXT\n");
  const auto mad = [](const test::TLumaPicture& a, const test::TLumaPicture& b, int y0, int y1) {
    double sum = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = 0; x < a.Width; ++x)
        sum += std::abs(int(a.Luma[std::size_t(y * a.Width + x)]) -
                        int(b.Luma[std::size_t(y * b.Width + x)]));
    return sum / double((y1 - y0) * a.Width);
  };
  std::vector<std::string> outputs;
  for (const char* mode : {"burn", "none"}) {
    const fs::path folder = Dir.Path() / mode;
    fs::create_directories(folder);
    ASSERT_EQ(
        Run({"--target", "dvd", "--norm", "pal", "--subtitles", mode, "-o", folder.string(), clip}),
        0)
        << Out << Err;
    outputs.push_back((folder / "it's [a], b;c.mpg").string());
  }
  const test::TLumaPicture during = test::DecodeLuma(outputs[0], 22),
                           plain = test::DecodeLuma(outputs[1], 22);
  const test::TLumaPicture before = test::DecodeLuma(outputs[0], 5),
                           plainBefore = test::DecodeLuma(outputs[1], 5);
  ASSERT_EQ(during.Height, 576);
  ASSERT_EQ(plain.Height, 576);
  EXPECT_GT(mad(during, plain, 480, 560), 3.0);        // the text (about 6)
  EXPECT_LT(mad(during, plain, 0, 576 / 2), 1.5);      // the rest as it was
  EXPECT_LT(mad(before, plainBefore, 480, 560), 1.0);  // before the cue: nothing
}

}  // namespace
}  // namespace tovamo
