// Pictures going into a frame of another display shape: black bars (pad), the edges cut
// off (crop) or the proportions given up (stretch).
#include <gtest/gtest.h>

#include <cstdio>

#include "Engine/FFmpeg.h"
#include "Engine/PictureFit.h"
#include "support/EngineJob.h"
#include "support/MediaProbe.h"
#include "support/TestSupport.h"

namespace tovamo {
namespace {

struct TFitCase {
  const char* Name;
  TPictureFit Fit;
  TFitShapes Shapes;
  const char* Filters;
};

// VCD PAL (352x288, pixels 12:11, 4:3) and DVD PAL (720x576, pixels 16:15, 4:3) frames.
const TFitCase kFitCases[] = {
    {"WideIntoStandardGetsBarsAboveAndBelow",
     TPictureFit::Pad,
     {320, 180, {1, 1}, 352, 288, {12, 11}},
     "scale=352:216:flags=0x4,pad=352:288:0:36:black"},
    {"NarrowIntoStandardGetsBarsLeftAndRight",
     TPictureFit::Pad,
     {720, 576, {1, 1}, 720, 576, {16, 15}},
     "scale=676:576:flags=0x4,pad=720:576:22:0:black"},
    {"ScopeIntoStandardKeepsItsShape",
     TPictureFit::Pad,
     {470, 200, {1, 1}, 352, 288, {12, 11}},
     "scale=352:164:flags=0x4,pad=352:288:0:62:black"},
    {"WideCroppedToStandardLosesItsSides",
     TPictureFit::Crop,
     {320, 180, {1, 1}, 352, 288, {12, 11}},
     "crop=240:180:40:0,scale=352:288:flags=0x4"},
    {"StandardCroppedToWideLosesTopAndBottom",
     TPictureFit::Crop,
     {160, 120, {0, 1}, 720, 576, {64, 45}},
     "crop=160:90:0:14,scale=720:576:flags=0x4"},
    {"SameShapeNeedsOnlyScaling", TPictureFit::Pad, {160, 120, {0, 1}, 352, 288, {12, 11}}, ""},
    {"StretchNeverAddsFilters", TPictureFit::Stretch, {320, 180, {1, 1}, 352, 288, {12, 11}}, ""},
    {"UnknownSizeNeedsNothing", TPictureFit::Pad, {0, 0, {0, 1}, 352, 288, {12, 11}}, ""},
};

class FitFiltersTable : public ::testing::TestWithParam<TFitCase> {};

TEST_P(FitFiltersTable, GivesTheChainThatKeepsTheProportions) {
  const TFitCase& c = GetParam();
  EXPECT_EQ(FitFilters(c.Fit, c.Shapes, SWS_BICUBIC), c.Filters);
}

INSTANTIATE_TEST_SUITE_P(Shapes, FitFiltersTable, ::testing::ValuesIn(kFitCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// The picture inside the bars on every disc frame, PAL and NTSC, 4:3 and 16:9: as many
// lines (or columns) as its proportions give, to the nearest even one.
TEST(FitFilters, BarsOnEveryDiscFrameKeepTheProportions) {
  struct TFrame {
    const char* Name;
    int Width, Height;
    AVRational Sar;       // of the frame's display aspect
    int WideLines;        // a 16:9 picture's height in a 4:3 frame, or...
    int StandardColumns;  // ...a 4:3 picture's width in a 16:9 frame
  };
  const TFrame frames[] = {
      {"VCD PAL", 352, 288, {12, 11}, 216, 0},       {"VCD NTSC", 352, 240, {10, 11}, 180, 0},
      {"SVCD PAL", 480, 576, {8, 5}, 432, 0},        {"SVCD NTSC", 480, 480, {4, 3}, 360, 0},
      {"DVD PAL", 720, 576, {16, 15}, 432, 0},       {"DVD NTSC", 720, 480, {8, 9}, 360, 0},
      {"SVCD PAL 16:9", 480, 576, {32, 15}, 0, 360}, {"SVCD NTSC 16:9", 480, 480, {16, 9}, 0, 360},
      {"DVD PAL 16:9", 720, 576, {64, 45}, 0, 540},  {"DVD NTSC 16:9", 720, 480, {32, 27}, 0, 540},
  };
  for (const TFrame& f : frames) {
    const bool standardFrame = f.WideLines > 0;
    const TFitShapes shapes = standardFrame
                                  ? TFitShapes{1920, 1080, {1, 1}, f.Width, f.Height, f.Sar}
                                  : TFitShapes{640, 480, {1, 1}, f.Width, f.Height, f.Sar};
    int width = 0, height = 0;
    const std::string filters = FitFilters(TPictureFit::Pad, shapes, SWS_BICUBIC);
    ASSERT_EQ(std::sscanf(filters.c_str(), "scale=%d:%d", &width, &height), 2) << f.Name;
    EXPECT_EQ(width, standardFrame ? f.Width : f.StandardColumns) << f.Name;
    EXPECT_EQ(height, standardFrame ? f.WideLines : f.Height) << f.Name;
  }
}

TEST(PictureFitOption, TakesFourWordsAndRefusesOthers) {
  TFFmpeg engine(1);
  EXPECT_EQ(engine.PictureFit, TPictureFit::Pad);
  engine.ParseOption("fit", "crop");
  EXPECT_EQ(engine.PictureFit, TPictureFit::Crop);
  engine.ParseOption("fit", "inside");
  EXPECT_EQ(engine.PictureFit, TPictureFit::Inside);
  engine.ParseOption("fit", "stretch");
  EXPECT_EQ(engine.PictureFit, TPictureFit::Stretch);
  EXPECT_EQ(test::RaisedMessage([&] { engine.ParseOption("fit", "zoom"); }),
            "Invalid fit \"zoom\": pad, stretch, crop or inside");
  EXPECT_EQ(engine.PictureFit, TPictureFit::Stretch);
}

// The frame "inside" gives: the box's long side kept, the other even and in proportion.
TEST(FrameInside, KeepsTheDisplayShapeWithinTheBox) {
  struct TCase {
    int BoxWidth, BoxHeight;
    double Aspect;
    int Width, Height;
  };
  const TCase cases[] = {
      {320, 240, 16.0 / 9, 320, 180},    {640, 480, 4.0 / 3, 640, 480},
      {1280, 720, 4.0 / 3, 960, 720},    {1920, 1080, 2.35, 1920, 818},
      {320, 240, 175.0 / 131, 320, 240}, {1280, 720, 0.5, 360, 720},
      {320, 240, 0, 320, 240},     // unknown shape: the box
      {1280, 720, 1000, 1280, 2},  // a sliver stays a picture
  };
  for (const TCase& c : cases) {
    int width = 0, height = 0;
    FrameInside(c.BoxWidth, c.BoxHeight, c.Aspect, width, height);
    EXPECT_EQ(width, c.Width) << c.BoxWidth << "x" << c.BoxHeight << " " << c.Aspect;
    EXPECT_EQ(height, c.Height) << c.BoxWidth << "x" << c.BoxHeight << " " << c.Aspect;
  }
}

// A 16:9 clip made into a 4:3 VCD. Its first picture has the bright bar at its left edge.
struct TConversion {
  const char* Fit;
  bool BarsAboveAndBelow;
  bool LeftEdgeKept;
};

class PictureFitConversion : public ::testing::TestWithParam<TConversion> {
 protected:
  void SetUp() override { test::LoadSystemLibraries(); }
  test::TTempDir Dir;
};

TEST_P(PictureFitConversion, ThePictureFillsTheFrameAsAsked) {
  const TConversion c = GetParam();
  const std::string out = Dir.File("fit.mpg");
  TFFmpeg engine(2);
  test::TEndWaiter waiter(engine);
  ASSERT_TRUE(engine.OpenInputFile(test::Fixture("sample_16x9.mp4"))) << engine.LastError;
  engine.SetTarget("vcd", "pal", "pal");
  engine.ParseOption("fit", c.Fit);
  ASSERT_EQ(engine.AddOutputFile(out, false), 1) << engine.LastError;
  const auto result = waiter.Run();
  ASSERT_TRUE(result.Finished) << result.Message;

  const test::TLumaPicture picture = test::DecodeLuma(out, 0);
  ASSERT_EQ(picture.Width, 352);
  ASSERT_EQ(picture.Height, 288);
  const double top = picture.Mean(0, 0, 352, 24);
  const double middle = picture.Mean(40, 120, 272, 48);
  const double leftEdge = picture.Mean(2, 120, 20, 48);
  if (c.BarsAboveAndBelow) {
    EXPECT_LT(top, 24);  // black
    EXPECT_LT(picture.Mean(0, 264, 352, 24), 24);
  } else {
    EXPECT_GT(top, 60);
  }
  EXPECT_GT(middle, 60);
  if (c.LeftEdgeKept)
    EXPECT_GT(leftEdge, 200);  // the bar
  else
    EXPECT_LT(leftEdge, 200);
}

INSTANTIATE_TEST_SUITE_P(Fits, PictureFitConversion,
                         ::testing::Values(TConversion{"pad", true, true},
                                           TConversion{"stretch", false, true},
                                           TConversion{"crop", false, false}),
                         [](const auto& info) { return std::string(info.param.Fit); });

}  // namespace
}  // namespace tovamo
