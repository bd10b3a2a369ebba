// Fit to disc: the video bit rate that fills a disc with a whole batch, within the disc
// standard's limits, or how many discs the batch needs.
#include <gtest/gtest.h>

#include "Authoring/DiscFit.h"

namespace tovamo::authoring {
namespace {

struct TFitCase {
  const char* Name;
  TDiscSize Size;
  TDiscKind Kind;
  double Minutes;
  int Titles;
  bool Fits;
  int Discs;
  std::int64_t VideoAtLeast, VideoAtMost;  // bit/s; the fixed rate twice for VCD
};

// The average stays under the peak the standard allows (10.08 Mbit/s less the 448 kbit/s
// sound for DVD, 2.6 Mbit/s less the 224 kbit/s sound for SVCD), so two passes can move.
constexpr std::int64_t kDvdMax = 8861000;
constexpr std::int64_t kSvcdMax = 2185000;
const TDiscSize kDvd40M{-1, 40000000};
const TDiscSize kCd20M{-1, 20000000};

const TFitCase kFitCases[] = {
    // A short batch gets the standard's highest rate, no more.
    {"DvdShortAtMaximum", TDiscSize::Dvd47, TDiscKind::Dvd, 20, 3, true, 1, kDvdMax, kDvdMax},
    // Two hours on a single layer: about 4.5 Mbit/s of video.
    {"DvdTwoHours", TDiscSize::Dvd47, TDiscKind::Dvd, 120, 4, true, 1, 4300000, 4700000},
    {"DvdTwoHoursDualLayer", TDiscSize::Dvd85, TDiscKind::Dvd, 120, 4, true, 1, 8400000, 8900000},
    // Four hours still fits above the lowest sensible rate; eight do not.
    {"DvdFourHours", TDiscSize::Dvd47, TDiscKind::Dvd, 240, 8, true, 1, 1900000, 2300000},
    {"DvdEightHours", TDiscSize::Dvd47, TDiscKind::Dvd, 480, 8, false, 2, 0, 0},
    {"DvdThirtyHours", TDiscSize::Dvd47, TDiscKind::Dvd, 1800, 8, false, 6, 0, 0},
    {"DvdEightHoursDualLayer", TDiscSize::Dvd85, TDiscKind::Dvd, 480, 8, true, 1, 1500000, 2000000},
    // SVCD: 35 minutes at the top rate, an hour at about 1.5 Mbit/s, 2 hours on 2 CDs.
    {"SvcdShortAtMaximum", TDiscSize::Cd700, TDiscKind::Svcd, 30, 2, true, 1, kSvcdMax, kSvcdMax},
    {"SvcdOneHour", TDiscSize::Cd700, TDiscKind::Svcd, 60, 2, true, 1, 1400000, 1600000},
    {"SvcdOneHourLongCd", TDiscSize::Cd800, TDiscKind::Svcd, 60, 2, true, 1, 1500000, 1900000},
    {"SvcdTwoHours", TDiscSize::Cd700, TDiscKind::Svcd, 120, 2, false, 2, 0, 0},
    {"SvcdFourHours", TDiscSize::Cd700, TDiscKind::Svcd, 240, 2, false, 3, 0, 0},
    // VCD: fixed rates, 75 sectors a second: 74 minutes fit on an 80-minute CD, 80 do not.
    {"VcdFits", TDiscSize::Cd700, TDiscKind::Vcd, 74, 2, true, 1, 1150000, 1150000},
    {"VcdJustOver", TDiscSize::Cd700, TDiscKind::Vcd, 80, 1, false, 2, 1150000, 1150000},
    {"VcdLongCd", TDiscSize::Cd800, TDiscKind::Vcd, 80, 1, true, 1, 1150000, 1150000},
    {"VcdThreeHours", TDiscSize::Cd700, TDiscKind::Vcd, 180, 6, false, 3, 1150000, 1150000},
    // Sizes of the user's, for either kind of disc.
    {"DvdOwnSize", kDvd40M, TDiscKind::Dvd, 1, 2, true, 1, 4400000, 4800000},
    {"SvcdOwnSize", kCd20M, TDiscKind::Svcd, 1, 1, true, 1, 1900000, kSvcdMax},
    {"VcdOwnSizeTooSmall", kCd20M, TDiscKind::Vcd, 2, 1, false, 2, 1150000, 1150000},
};

class FitToDiscCases : public ::testing::TestWithParam<TFitCase> {};

TEST_P(FitToDiscCases, RateOrDiscCount) {
  const TFitCase& c = GetParam();
  const TFitResult fit = FitToDisc(c.Size, c.Minutes * 60, c.Titles, c.Kind);
  ASSERT_TRUE(fit.Problem.empty()) << fit.Problem;
  EXPECT_EQ(fit.Fits, c.Fits);
  EXPECT_EQ(fit.DiscsNeeded, c.Discs);
  const std::string text = DescribeFit(fit, c.Size, c.Kind);
  if (!c.Fits) {
    EXPECT_NE(text.find("needs " + std::to_string(c.Discs) + " discs"), std::string::npos) << text;
    if (c.Kind != TDiscKind::Vcd) {
      EXPECT_TRUE(FitOptionLines(fit, c.Kind).empty());
    }
    return;
  }
  EXPECT_GE(fit.VideoBitRate, c.VideoAtLeast);
  EXPECT_LE(fit.VideoBitRate, c.VideoAtMost);
  // What the rate fills stays inside the disc with room for the program stream's own bytes,
  // and fills a DVD unless the standard's highest rate is reached first (a CD's tracks take
  // room of their own).
  const TDiscSizeInfo& disc = DiscSizeInfo(c.Size);
  const double streamBytes = c.Minutes * 60 * double(fit.VideoBitRate + fit.AudioBitRate) / 8;
  const double room =
      c.Kind == TDiscKind::Dvd ? double(disc.CapacityBytes) : double(disc.Sectors) * 2324;
  EXPECT_LT(streamBytes, room * 0.99);
  if (!fit.AtStandardMaximum && c.Kind == TDiscKind::Dvd) {
    EXPECT_GT(streamBytes, room * 0.93);
  }
  if (c.Kind == TDiscKind::Vcd) {
    EXPECT_TRUE(FitOptionLines(fit, c.Kind).empty());
  } else {
    EXPECT_NE(text.find(std::to_string(fit.VideoBitRate / 1000) + " kbit/s"), std::string::npos)
        << text;
    EXPECT_EQ(FitOptionLines(fit, c.Kind).at(0), "b=" + std::to_string(fit.VideoBitRate));
  }
}

INSTANTIATE_TEST_SUITE_P(Table, FitToDiscCases, ::testing::ValuesIn(kFitCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(FitToDisc, SoundTakesItsShareAndTheTotalStaysWithinTheStandard) {
  // With 192 kbit/s sound the DVD's video may go to the 9.8 Mbit/s ceiling of its own.
  EXPECT_EQ(FitToDisc(TDiscSize::Dvd47, 600, 1, TDiscKind::Dvd, 192000).VideoBitRate, 9016000);
  // The ceiling is the standard's, above the average; the quantiser floor is low, so that
  // two passes spend the rate on easy pictures too.
  const TFitResult fast = FitToDisc(TDiscSize::Dvd47, 600, 1, TDiscKind::Dvd);
  EXPECT_EQ(FitOptionLines(fast, TDiscKind::Dvd),
            (std::vector<std::string>{"b=8861000", "maxrate=9632000", "qmin=1", "lmin=1"}));
  // Louder sound leaves less for the picture on a full disc.
  EXPECT_LT(FitToDisc(TDiscSize::Cd700, 3600, 1, TDiscKind::Svcd, 384000).VideoBitRate,
            FitToDisc(TDiscSize::Cd700, 3600, 1, TDiscKind::Svcd).VideoBitRate);
  // Every track of a CD costs a little room.
  EXPECT_LT(FitToDisc(TDiscSize::Cd700, 3600, 40, TDiscKind::Svcd).VideoBitRate,
            FitToDisc(TDiscSize::Cd700, 3600, 1, TDiscKind::Svcd).VideoBitRate);
}

TEST(FitToDisc, QuestionsWithoutAnAnswerSayWhy) {
  const struct {
    TDiscSize Size;
    TDiscKind Kind;
    double Seconds;
    const char* Says;
  } cases[] = {
      {TDiscSize::Cd700, TDiscKind::Dvd, 600, "does not go on a 700M CD"},
      {TDiscSize::Dvd85, TDiscKind::Svcd, 600, "made for CDs"},
      {TDiscSize::Dvd47, TDiscKind::Vcd, 600, "made for CDs"},
      {TDiscSize::Dvd47, TDiscKind::Dvd, 0, "length is not known"},
      {TDiscSize::Dvd47, TDiscKind::Dvd, -5, "length is not known"},
      {TDiscSize::Cd700, TDiscKind::Svcd, std::numeric_limits<double>::infinity(),
       "length is not known"},
  };
  for (const auto& c : cases) {
    const TFitResult fit = FitToDisc(c.Size, c.Seconds, 1, c.Kind);
    EXPECT_NE(fit.Problem.find(c.Says), std::string::npos) << fit.Problem;
    EXPECT_FALSE(fit.Fits);
    EXPECT_TRUE(FitOptionLines(fit, c.Kind).empty());
  }
}

TEST(FitToDisc, DiscSizesAsTheUserWritesThem) {
  const struct {
    const char* Text;
    std::optional<TDiscSize> Size;
  } cases[] = {
      {"4.7G", TDiscSize::Dvd47},
      {"4.7g", TDiscSize::Dvd47},
      {"8.5G", TDiscSize::Dvd85},
      {"700M", TDiscSize::Cd700},
      {"800m", TDiscSize::Cd800},
      {"4.7", std::nullopt},
      {"", std::nullopt},
      {"4.7GB", std::nullopt},
      // A size of the user's, in decimal megabytes or gigabytes.
      {"40M", kDvd40M},
      {"650M", TDiscSize{-1, 650000000}},
      {"2.5g", TDiscSize{-1, 2500000000}},
      {"1M", std::nullopt},
      {"101G", std::nullopt},
      {"-40M", std::nullopt},
      {".5G", std::nullopt},
      {"1e3M", std::nullopt},
      {"40 M", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseDiscSize(c.Text), c.Size) << c.Text;
  EXPECT_EQ(DiscSizeInfo(kDvd40M).Name, "40M");
  EXPECT_EQ(DiscSizeInfo(TDiscSize{-1, 2500000000}).Name, "2.5G");
}

}  // namespace
}  // namespace tovamo::authoring
