// An input whose times jump hours ahead in every stream at once: no stream vouches for the
// gap (the stated length only records the jump), so it is stepped over, with the input's
// times or copied ones, and never filled with hours of repeated pictures or silence.
#include <gtest/gtest.h>

#include "Engine/FFmpeg.h"
#include "support/DiscJudges.h"
#include "support/EngineJob.h"
#include "support/LogCapture.h"
#include "support/MediaProbe.h"
#include "support/TestSupport.h"

namespace tovamo {
namespace {

struct TJumpCase {
  const char* Name;
  bool CopyTs;
};

class TimestampJumps : public ::testing::TestWithParam<TJumpCase> {
 protected:
  void SetUp() override { test::LoadSystemLibraries(); }
  test::TTempDir Dir;
};

TEST_P(TimestampJumps, AreSteppedOverNotFilled) {
  const TJumpCase c = GetParam();
  const std::string out = Dir.File("jump.mpg");
  test::TLogCapture log;
  TFFmpeg engine(2);
  test::TEndWaiter waiter(engine);
  ASSERT_TRUE(engine.OpenInputFile(test::Fixture("jump_hours.mkv"))) << engine.LastError;
  engine.SetTarget("dvd", "pal", "pal");
  if (c.CopyTs) engine.ParseOption("copyts", "1");
  ASSERT_EQ(engine.AddOutputFile(out, false), 1) << engine.LastError;
  const auto result = waiter.Run();
  ASSERT_TRUE(result.Finished) << result.Message;
  if (!c.CopyTs) {
    EXPECT_FALSE(log.Containing("stepped over").empty());
  }

  // Two seconds of pictures and sound, as the file holds.
  const test::TMediaInfo media = test::ProbeMedia(out);
  ASSERT_TRUE(media.Opened);
  EXPECT_NEAR(double(media.Duration) / 1e6, 2.0, 0.1);
  const int v = media.StreamOfType(AVMEDIA_TYPE_VIDEO);
  const int a = media.StreamOfType(AVMEDIA_TYPE_AUDIO);
  ASSERT_GE(v, 0);
  ASSERT_GE(a, 0);
  EXPECT_NEAR(double(media.PacketsOf(v).size()), 50, 3);
  EXPECT_NEAR(double(media.PacketsOf(a).size()) * 1536 / 48000, 2.0, 0.1);

  const test::TJudgement judged = test::JudgeDvd(out, Dir.Path().string());
  ASSERT_TRUE(judged.Ran);
  EXPECT_EQ(judged.ExitCode, 0) << judged.Output;
  EXPECT_TRUE(judged.Complaints.empty()) << judged.Output;
}

INSTANTIATE_TEST_SUITE_P(Inputs, TimestampJumps,
                         ::testing::Values(TJumpCase{"InTheInputsTimes", false},
                                           TJumpCase{"WithCopiedTimestamps", true}),
                         [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace tovamo
