// The DVD title menu: its layout and remote navigation, its control files, the titles'
// pictures, and whole images read back by the real programs: lsdvd for the titles and
// MPlayer's dvdnav for the menu page a player shows, set against the page as drawn.
#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <regex>

#include "Authoring/DiscAuthor.h"
#include "Authoring/DvdMenu.h"
#include "Authoring/TitleThumbnail.h"
#include "Authoring/ToolProcess.h"
#include "DvdMenuPainter.h"
#include "Engine/FFmpeg.h"
#include "OffscreenPainting.h"
#include "support/ProgramRun.h"
#include "support/EngineJob.h"
#include "support/TestSupport.h"

namespace tovamo::authoring {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Names(int count) {
  std::vector<std::string> names;
  for (int i = 0; i < count; ++i) names.push_back("title " + std::to_string(i + 1));
  return names;
}

int CountOf(const TMenuPage& page, TMenuAction action) {
  return int(std::count_if(page.Buttons.begin(), page.Buttons.end(),
                           [&](const TMenuButton& b) { return b.Action == action; }));
}

struct TLayoutCase {
  int Titles;
  TDiscNorm Norm;
  bool Wide;
  int Pages;
};

TEST(DvdMenuLayout, PagesOfSixWithTheirControlsAndArrowsThatWrap) {
  const TLayoutCase cases[] = {{1, TDiscNorm::Pal, false, 1},
                               {6, TDiscNorm::Ntsc, false, 1},
                               {7, TDiscNorm::Pal, true, 2},
                               {13, TDiscNorm::Ntsc, true, 3}};
  for (const TLayoutCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.Titles) + " titles");
    const std::vector<TMenuPage> pages = LayOutMenu(Names(c.Titles), c.Norm, c.Wide);
    ASSERT_EQ(int(pages.size()), c.Pages);
    int next = 0;  // every title once, in order
    for (const TMenuPage& page : pages) {
      EXPECT_EQ(page.Height, c.Norm == TDiscNorm::Ntsc ? 480 : 576);
      EXPECT_EQ(page.Wide, c.Wide);
      EXPECT_EQ(CountOf(page, TMenuAction::PlayAll), 1);
      EXPECT_EQ(CountOf(page, TMenuAction::Previous), page.Number > 1 ? 1 : 0);
      EXPECT_EQ(CountOf(page, TMenuAction::Next), page.Number < c.Pages ? 1 : 0);
      const int count = int(page.Buttons.size());
      for (const TMenuButton& b : page.Buttons) {
        if (b.Action == TMenuAction::Title) {
          EXPECT_EQ(b.Title, next++);
        }
        // Inside the title-safe area, on even lines and columns (the subpicture's fields).
        for (const int v : {b.Box.X0, b.Box.Y0, b.Box.X1, b.Box.Y1}) EXPECT_EQ(v % 2, 0);
        EXPECT_GE(b.Box.X0, 36);
        EXPECT_LE(b.Box.X1, 720 - 36);
        EXPECT_GE(b.Box.Y0, page.Height / 20);
        EXPECT_LE(b.Box.Y1, page.Height - page.Height / 20);
        for (const int to : {b.Up, b.Down, b.Left, b.Right}) {
          EXPECT_GE(to, 1);
          EXPECT_LE(to, count);
        }
      }
      // No two buttons overlap: each press lands on one.
      for (int i = 0; i < count; ++i)
        for (int j = i + 1; j < count; ++j) {
          const TMenuBox &a = page.Buttons[i].Box, &b = page.Buttons[j].Box;
          EXPECT_TRUE(a.X1 <= b.X0 || b.X1 <= a.X0 || a.Y1 <= b.Y0 || b.Y1 <= a.Y0);
        }
      // Down from any title reaches the controls below the last row, and down from there
      // the top row again; up from the top row goes to the controls.
      const auto isControl = [&](int n) {
        return page.Buttons[std::size_t(n - 1)].Action != TMenuAction::Title;
      };
      for (int n = 1; n <= count; ++n) {
        if (isControl(n)) {
          EXPECT_EQ(page.Buttons[std::size_t(page.Buttons[std::size_t(n - 1)].Down - 1)].Box.Y0,
                    page.Buttons.front().Box.Y0);
          continue;
        }
        int at = n, steps = 0;
        while (!isControl(at) && ++steps <= 2) at = page.Buttons[std::size_t(at - 1)].Down;
        EXPECT_TRUE(isControl(at)) << n;
        if (page.Buttons[std::size_t(n - 1)].Box.Y0 == page.Buttons.front().Box.Y0) {
          EXPECT_TRUE(isControl(page.Buttons[std::size_t(n - 1)].Up)) << n;
        }
      }
      // Right along a row comes back to where it began.
      const TMenuButton& first = page.Buttons.front();
      const int rowLength = std::min(
          3, int(std::count_if(page.Buttons.begin(), page.Buttons.end(), [](const TMenuButton& b) {
            return b.Action == TMenuAction::Title;
          })));
      int at = 1;
      for (int i = 0; i < rowLength; ++i) at = page.Buttons[std::size_t(at - 1)].Right;
      EXPECT_EQ(at, 1);
      EXPECT_EQ(first.Left, rowLength);
    }
    EXPECT_EQ(next, c.Titles);
  }
}

TEST(DvdMenuControl, TitlesStartFromTheMenuAndReturnToIt) {
  const std::vector<TMenuPage> pages = LayOutMenu(Names(8), TDiscNorm::Pal, false);
  const std::string menus = DvdMenusXml(pages, {"./menu1.mpg", "./menu2.mpg"}, TDiscNorm::Pal);
  const std::string xml = DvdAuthorXml("./dvd", {{"./a.mpg", 2}, {"./b.mpg", 2}}, menus);
  // The disc starts in the title set's menu, which turns to the page last shown.
  EXPECT_NE(xml.find("<fpc>g0 = 0; g1 = 1; g3 = 1024; jump titleset 1 menu;</fpc>"),
            std::string::npos);
  EXPECT_NE(menus.find("<pgc entry=\"root\">\n        <pre>if (g1 == 2) jump menu 2; button = g3;"),
            std::string::npos)
      << menus;
  EXPECT_NE(menus.find("<vob file=\"./menu2.mpg\" pause=\"inf\"/>"), std::string::npos);
  // A title's button plays it alone, "Play All" the first in the "go on" mode, "Next" turns
  // the page (lighting its first title: the last page has no "Next" to light).
  EXPECT_NE(menus.find("<button name=\"b1\">g0 = 0; g1 = 1; g3 = 1024; jump title 1;</button>"),
            std::string::npos);
  EXPECT_NE(menus.find("g0 = 1; g1 = 1; g3 = 7168; jump title 1;"), std::string::npos) << menus;
  EXPECT_NE(menus.find("<button name=\"b8\">g1 = 2; g3 = 1024; jump menu 2;</button>"),
            std::string::npos)
      << menus;
  // At a title's end: on in "Play All", else back to the menu; the last one always back.
  EXPECT_NE(xml.find("<post>if (g0 == 1) jump title 2; call menu;</post>"), std::string::npos);
  EXPECT_NE(xml.find("<post>g0 = 0; call menu;</post>"), std::string::npos);
  // spumux gets every button of the page with its four neighbours.
  const std::string spu = SpumuxXml(pages[0], "./h.png", "./s.png");
  std::size_t buttons = 0;
  for (std::size_t at = spu.find("<button "); at != std::string::npos;
       at = spu.find("<button ", at + 1))
    ++buttons;
  EXPECT_EQ(buttons, 8u);
  EXPECT_NE(spu.find("<button name=\"b3\" x0=\"472\" y0=\"80\" x1=\"672\" y1=\"268\" up=\"b8\" "
                     "down=\"b6\" left=\"b2\" right=\"b1\"/>"),
            std::string::npos)
      << spu;
}

TEST(DvdMenuThumbnail, TakenFromATenthInPassingOverDarkPictures) {
  test::LoadSystemLibraries();
  std::string error;
  const TMenuThumbnail dark = TakeThumbnail(test::Fixture("dark_start.mpg"), 2.0, 256, 192, error);
  ASSERT_FALSE(dark.Empty()) << error;
  EXPECT_EQ(dark.Width, 256);
  EXPECT_EQ(dark.Height, 192);  // 160 x 120 in square pixels: 4:3
  EXPECT_GE(MeanBrightness(dark), 40);
  // Told it lasts 0.2 s, every place looked at is in the dark opening: the brightest of
  // those pictures is taken rather than none.
  const TMenuThumbnail early = TakeThumbnail(test::Fixture("dark_start.mpg"), 0.2, 256, 192, error);
  ASSERT_FALSE(early.Empty()) << error;
  EXPECT_LT(MeanBrightness(early), 40);
  const TMenuThumbnail wide = TakeThumbnail(test::Fixture("sample_16x9.mp4"), 0, 256, 192, error);
  EXPECT_EQ(wide.Width, 256);
  EXPECT_EQ(wide.Height, 144);
  // No video: no picture, and the reason.
  error.clear();
  EXPECT_TRUE(TakeThumbnail(test::Fixture("audio_only.wav"), 0, 256, 192, error).Empty());
  EXPECT_NE(error.find("no video"), std::string::npos) << error;
}

using test::RunProgram;

// The titles' lengths as lsdvd reads them from the image.
std::vector<double> LsdvdLengths(const std::string& listing) {
  std::vector<double> seconds;
  const std::regex title(R"(Title: \d+, Length: (\d+):(\d+):(\d+\.\d+))");
  for (auto it = std::sregex_iterator(listing.begin(), listing.end(), title);
       it != std::sregex_iterator(); ++it)
    seconds.push_back(std::stod((*it)[1]) * 3600 + std::stod((*it)[2]) * 60 + std::stod((*it)[3]));
  return seconds;
}

struct TRegion {
  double Mean[3] = {};
  double Spread = 0;  // the brightness's standard deviation
};

TRegion Measure(const QImage& image, const TMenuBox& box, int inset) {
  TRegion r;
  double sum = 0, squares = 0;
  int n = 0;
  for (int y = box.Y0 + inset; y < box.Y1 - inset; ++y)
    for (int x = box.X0 + inset; x < box.X1 - inset; ++x) {
      const QRgb p = image.pixel(x, y);
      r.Mean[0] += qRed(p);
      r.Mean[1] += qGreen(p);
      r.Mean[2] += qBlue(p);
      const double v = qGray(p);
      sum += v;
      squares += v * v;
      ++n;
    }
  for (double& m : r.Mean) m /= n;
  r.Spread = std::sqrt(std::max(0.0, squares / n - (sum / n) * (sum / n)));
  return r;
}

class DvdMenuDisc : public ::testing::Test {
 protected:
  void SetUp() override {
    test::LoadSystemLibraries();
    discmenu::EnsureGuiForPainting();
  }

  TDvdTitle Converted(const std::string& fixture, const std::string& name) {
    const std::string out = Dir.File(fixture + ".mpg");
    if (!fs::exists(out)) {
      TFFmpeg engine(2);
      test::TEndWaiter waiter(engine);
      EXPECT_TRUE(engine.OpenInputFile(test::Fixture(fixture))) << engine.LastError;
      engine.SetTarget("dvd", "pal", "pal");
      EXPECT_EQ(engine.AddOutputFile(out, false), 1) << engine.LastError;
      EXPECT_TRUE(waiter.Run().Finished);
    }
    return {out, 2.0, name};
  }

  // Makes the image with the menu, keeping each page's drawn background; the tools' lines
  // are kept too.
  TAuthorResult Make(const std::vector<TDvdTitle>& titles, const std::string& iso) {
    TDiscRequest request{TDiscKind::Dvd, TDiscNorm::Pal, titles, iso};
    request.WithMenu = true;
    request.PaintMenu = [this](const TMenuPageArt& art, std::string& error) {
      Pages.push_back(art.Page);
      if (!discmenu::PaintDvdMenuPage(art, error)) return false;
      Drawn.push_back(Dir.File("drawn" + std::to_string(art.Page.Number) + ".png"));
      fs::copy_file(art.BackgroundPng, Drawn.back(), fs::copy_options::overwrite_existing);
      return true;
    };
    TDiscAuthor author;
    author.OnToolLine = [this](const std::string& tool, const std::string& line) {
      ToolLines.push_back(tool + ": " + line);
    };
    return author.Run(request);
  }

  void ExpectNoComplaints() {
    for (const std::string& line : ToolLines) {
      EXPECT_EQ(line.find(": WARN"), std::string::npos) << line;
      EXPECT_EQ(line.find(": ERR"), std::string::npos) << line;
    }
    EXPECT_TRUE(std::any_of(ToolLines.begin(), ToolLines.end(), [](const std::string& line) {
      return line.rfind("spumux: ", 0) == 0;
    }));
  }

  test::TTempDir Dir;
  std::vector<TMenuPage> Pages;
  std::vector<std::string> Drawn;
  std::vector<std::string> ToolLines;
};

TEST_F(DvdMenuDisc, APlayerShowsTheDrawnMenuAndListsTheTitles) {
  const std::vector<TDvdTitle> titles = {Converted("sample.avi", "東京の夜"),
                                         Converted("dark_start.mpg", "Tom & \"Jerry\" <3>")};
  const std::string iso = Dir.File("menu.iso");
  const TAuthorResult result = Make(titles, iso);
  ASSERT_TRUE(result.Completed) << result.Reason;
  ExpectNoComplaints();

  const auto [status, listing] = RunProgram({"lsdvd", "-x", iso});
  ASSERT_EQ(status, 0) << listing;
  const std::vector<double> seconds = LsdvdLengths(listing);
  ASSERT_EQ(seconds.size(), 2u) << listing;
  for (const double s : seconds) EXPECT_NEAR(s, 2.0, 0.2) << listing;

  if (!ProgramOnPath("mplayer")) GTEST_SKIP() << "mplayer is not installed";
  const std::string shots = Dir.File("shots");
  fs::create_directory(shots);
  const auto [played, said] =
      RunProgram({"mplayer", "-really-quiet", "-nolirc", "-nosound", "-nocache", "-vo",
                  "png:outdir=" + shots, "-frames", "2", "dvdnav://", "-dvd-device", iso});
  ASSERT_EQ(played, 0) << said;
  std::vector<std::string> frames;
  for (const auto& entry : fs::directory_iterator(shots)) frames.push_back(entry.path().string());
  ASSERT_FALSE(frames.empty()) << said;
  std::sort(frames.begin(), frames.end());
  const QImage shown(QString::fromStdString(frames.back()));
  const QImage drawn(QString::fromStdString(Drawn.at(0)));
  ASSERT_EQ(shown.size(), drawn.size());

  // Every button where it was drawn: the thumbnails (a picture, not the flat backdrop) and
  // the controls, each part of them matching the drawing within the coding's error.
  ASSERT_EQ(Pages.size(), 1u);
  const auto expectAlike = [&](const TMenuBox& area, const std::string& what) {
    const TRegion seen = Measure(shown, area, 0), meant = Measure(drawn, area, 0);
    for (int c = 0; c < 3; ++c)
      EXPECT_NEAR(seen.Mean[c], meant.Mean[c], 16) << what << " at " << area.X0 << "," << area.Y0;
    return seen;
  };
  for (const TMenuButton& b : Pages[0].Buttons) {
    const TMenuBox area = b.Action == TMenuAction::Title ? b.Picture : b.Label;
    const int w = (area.X1 - area.X0) / 4, h = (area.Y1 - area.Y0) / 4;
    for (int i = 0; i < 4; ++i)
      for (int j = 0; j < 4; ++j)
        expectAlike(
            {area.X0 + i * w, area.Y0 + j * h, area.X0 + (i + 1) * w, area.Y0 + (j + 1) * h},
            b.Text);
    if (b.Action == TMenuAction::Title) {
      EXPECT_GT(Measure(shown, area, 6).Spread, 20) << b.Text;
    }
  }
  // The page fills the frame to its edges: no bars.
  for (const int x : {0, 704}) expectAlike({x, 0, x + 16, 576}, "the edge");
  // Between the rows only the backdrop.
  const TRegion gap = Measure(shown, {48, 300, 672, 320}, 0);
  EXPECT_LT(gap.Spread, 8);
}

TEST_F(DvdMenuDisc, ThirteenTitlesMakeThreePages) {
  std::vector<TDvdTitle> titles;
  for (int i = 0; i < 13; ++i)
    titles.push_back(i % 2 ? Converted("sample.avi", "")
                           : Converted("dark_start.mpg", i == 0 ? "日本語の題名" : ""));
  const std::string iso = Dir.File("many.iso");
  const TAuthorResult result = Make(titles, iso);
  ASSERT_TRUE(result.Completed) << result.Reason;
  ExpectNoComplaints();
  ASSERT_EQ(Pages.size(), 3u);
  EXPECT_EQ(Pages[0].Buttons[0].Text, "日本語の題名");
  EXPECT_EQ(Pages[0].Buttons[1].Text, "sample.avi");  // no name given: the file's, cut
  EXPECT_EQ(Pages[2].Buttons.size(), 1u + 2u);        // the last title, Previous, Play All
  const auto [status, listing] = RunProgram({"lsdvd", iso});
  ASSERT_EQ(status, 0) << listing;
  EXPECT_EQ(LsdvdLengths(listing).size(), 13u) << listing;
}

}  // namespace
}  // namespace tovamo::authoring
