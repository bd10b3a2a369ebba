// The input's own timeline is kept: a gap in the pictures that the sound or the file's
// stated length vouches for (a slideshow, a late start, a pause, pictures lasting a second)
// is filled and the streams stay in step, to a constant-rate disc target and to a
// variable-rate MP4 alike, and the disc files pass the authoring tool. What no reading of
// the file explains stays bounded: a claimed sample rate of 7 Hz is refused, and the
// output-size guard measures what was read, so that clips joined byte for byte (their
// times restarting) convert whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>

#include "Engine/FFmpeg.h"
#include "support/DiscJudges.h"
#include "support/EngineJob.h"
#include "support/LogCapture.h"
#include "support/MediaProbe.h"
#include "support/TestSupport.h"

namespace tovamo {
namespace {

// Where a stream of an output starts and ends, seconds, from the earliest packet of any.
struct TSpan {
  double Start = -1;
  double End = -1;
};

TSpan StreamSpan(const test::TMediaInfo& media, int stream) {
  std::int64_t first = INT64_MAX;
  for (const test::TPacketInfo& p : media.Packets)
    if (p.Pts != INT64_MIN) first = std::min(first, p.Pts);
  TSpan span;
  if (stream < 0) return span;
  std::int64_t start = INT64_MAX, end = INT64_MIN;
  for (const test::TPacketInfo& p : media.PacketsOf(stream)) {
    if (p.Pts == INT64_MIN) continue;
    start = std::min(start, p.Pts);
    end = std::max(end, p.Pts + p.Duration);
  }
  if (start == INT64_MAX) return span;
  span.Start = double(start - first) / 1e6;
  span.End = double(end - first) / 1e6;
  return span;
}

enum class TTarget { DvdPal, Mp4 };

void SetUpOutput(TFFmpeg& engine, TTarget target) {
  if (target == TTarget::DvdPal) {
    engine.SetTarget("dvd", "pal", "pal");
    return;
  }
  // MP4 lets pictures last as long as they like (a variable rate).
  engine.ParseOption("vcodec", "mpeg4");
  engine.ParseOption("s", "160x120");
  engine.ParseOption("acodec", "aac");
}

struct TTimelineCase {
  const char* Name;
  const char* Fixture;
  TTarget Target;
  double VideoEnd;  // seconds, as the input's pictures last
  double AudioEnd;  // negative: no sound
};

class Timeline : public ::testing::TestWithParam<TTimelineCase> {
 protected:
  void SetUp() override { test::LoadSystemLibraries(); }
  test::TTempDir Dir;
};

TEST_P(Timeline, IsKeptThroughGapsTheFileVouchesFor) {
  const TTimelineCase c = GetParam();
  const std::string out = Dir.File(c.Target == TTarget::Mp4 ? "out.mp4" : "out.mpg");
  test::TLogCapture log;
  TFFmpeg engine(2);
  test::TEndWaiter waiter(engine);
  ASSERT_TRUE(engine.OpenInputFile(test::Fixture(c.Fixture))) << engine.LastError;
  SetUpOutput(engine, c.Target);
  ASSERT_EQ(engine.AddOutputFile(out, false), 1) << engine.LastError;
  const auto result = waiter.Run();
  ASSERT_TRUE(result.Finished) << result.Message;
  EXPECT_TRUE(log.Containing("stepped over").empty());

  const test::TMediaInfo media = test::ProbeMedia(out);
  ASSERT_TRUE(media.Opened);
  const TSpan video = StreamSpan(media, media.StreamOfType(AVMEDIA_TYPE_VIDEO));
  EXPECT_NEAR(video.Start, 0, 0.1);
  EXPECT_NEAR(video.End, c.VideoEnd, 0.15);
  if (c.AudioEnd >= 0) {
    const TSpan audio = StreamSpan(media, media.StreamOfType(AVMEDIA_TYPE_AUDIO));
    EXPECT_NEAR(audio.Start, 0, 0.1);
    EXPECT_NEAR(audio.End, c.AudioEnd, 0.15);
  }
  if (c.Target == TTarget::DvdPal) {
    const test::TJudgement judged = test::JudgeDvd(out, Dir.Path().string());
    ASSERT_TRUE(judged.Ran);
    EXPECT_EQ(judged.ExitCode, 0) << judged.Output;
    EXPECT_TRUE(judged.Complaints.empty()) << judged.Output;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, Timeline,
    ::testing::Values(
        // A picture every 6 s over 12 s of sound.
        TTimelineCase{"SlideshowDvd", "slideshow.mkv", TTarget::DvdPal, 12, 12},
        TTimelineCase{"SlideshowMp4", "slideshow.mkv", TTarget::Mp4, 12, 12},
        // The same without sound: the file's stated length vouches for the gaps.
        TTimelineCase{"SilentSlideshowDvd", "slideshow_silent.mkv", TTarget::DvdPal, 12, -1},
        TTimelineCase{"SilentSlideshowMp4", "slideshow_silent.mkv", TTarget::Mp4, 12, -1},
        // Pictures from 7 s to 9 s, sound from 0: the first picture is shown until then.
        TTimelineCase{"LateVideoDvd", "late_video.mkv", TTarget::DvdPal, 9, 9},
        TTimelineCase{"LateVideoMp4", "late_video.mkv", TTarget::Mp4, 9, 9},
        // Pictures pausing for 8 s after the first second.
        TTimelineCase{"VfrPauseDvd", "vfr_pause.mkv", TTarget::DvdPal, 10, 10},
        TTimelineCase{"VfrPauseMp4", "vfr_pause.mkv", TTarget::Mp4, 10, 10},
        // A picture a second: the last one lasts its second too.
        TTimelineCase{"OneFpsDvd", "one_fps.mkv", TTarget::DvdPal, 4, 4},
        TTimelineCase{"OneFpsMp4", "one_fps.mkv", TTarget::Mp4, 4, 4}),
    [](const auto& info) { return std::string(info.param.Name); });

// The late video's pictures sit where the sound says: the first picture of the input (the
// bar at the left edge) is what the output shows at 7 s and before, not at 0 s only.
TEST(TimelineSync, ALateVideoStaysInStepWithItsSound) {
  test::LoadSystemLibraries();
  test::TTempDir dir;
  const std::string out = dir.File("late.mpg");
  TFFmpeg engine(2);
  test::TEndWaiter waiter(engine);
  ASSERT_TRUE(engine.OpenInputFile(test::Fixture("late_video.mkv"))) << engine.LastError;
  SetUpOutput(engine, TTarget::DvdPal);
  ASSERT_EQ(engine.AddOutputFile(out, false), 1) << engine.LastError;
  ASSERT_TRUE(waiter.Run().Finished);
  // 25 pictures a second: picture 150 (6 s) still shows the first input picture, whose
  // bar is at the left; picture 220 (8.8 s) shows the bar near the right.
  const test::TLumaPicture early = test::DecodeLuma(out, 150);
  const test::TLumaPicture late = test::DecodeLuma(out, 220);
  ASSERT_GT(early.Width, 0);
  ASSERT_GT(late.Width, 0);
  const int w = early.Width, h = early.Height;
  EXPECT_GT(early.Mean(w / 16, h / 4, w / 16, h / 2),
            early.Mean(w * 13 / 16, h / 4, w / 16, h / 2));
  EXPECT_GT(late.Mean(w * 13 / 16, h / 4, w / 16, h / 2), late.Mean(w / 16, h / 4, w / 16, h / 2));
}

// A header claiming 7 samples a second would make each 4 KiB packet last minutes of sound.
TEST(TimelineSync, ASampleRateBelowRealSoundIsRefusedAtSetUp) {
  test::LoadSystemLibraries();
  test::TTempDir dir;
  TFFmpeg engine(2);
  test::TEndWaiter waiter(engine);
  ASSERT_TRUE(engine.OpenInputFile(test::Fixture("rate7.avi"))) << engine.LastError;
  engine.SetTarget("dvd", "pal", "pal");
  ASSERT_EQ(engine.AddOutputFile(dir.File("rate7.mpg"), false), 1) << engine.LastError;
  const auto result = waiter.Run();
  EXPECT_FALSE(result.Finished);
  EXPECT_NE(result.Message.find("sample rate of 7 Hz"), std::string::npos) << result.Message;
}

// Copied as it is, the same sound keeps the file's times: no packet is taken to last
// longer than the file, so none seems to jump back minutes from the one before.
TEST(TimelineSync, NoPacketOutlastsItsFile) {
  test::LoadSystemLibraries();
  test::TTempDir dir;
  const std::string out = dir.File("rate7.mkv");
  test::TLogCapture log;
  TFFmpeg engine(2);
  test::TEndWaiter waiter(engine);
  ASSERT_TRUE(engine.OpenInputFile(test::Fixture("rate7.avi"))) << engine.LastError;
  engine.ParseOption("vn", "");
  engine.ParseOption("acodec", "copy");
  ASSERT_EQ(engine.AddOutputFile(out, false), 1) << engine.LastError;
  const auto result = waiter.Run();
  ASSERT_TRUE(result.Finished) << result.Message;
  EXPECT_TRUE(log.Containing("stepped over").empty());
  const test::TMediaInfo media = test::ProbeMedia(out);
  ASSERT_TRUE(media.Opened);
  ASSERT_FALSE(media.Packets.empty());
  for (const test::TPacketInfo& p : media.Packets) EXPECT_LE(p.Pts, 2'000'000);
}

// Three 2 s clips joined byte for byte, each one's times starting again: 6 s were read.
// With the guard's allowance narrowed to 1.5 times the sound's rate, 6 s of output fit
// what was read; at half the rate the guard still ends the job.
struct TJoinedCase {
  const char* Name;
  double Headroom;
  bool Completes;
};

class JoinedClips : public ::testing::TestWithParam<TJoinedCase> {
 protected:
  void SetUp() override { test::LoadSystemLibraries(); }
  test::TTempDir Dir;
};

TEST_P(JoinedClips, AreMeasuredByWhatWasRead) {
  const TJoinedCase c = GetParam();
  const std::string out = Dir.File("joined.mp2");
  TFFmpeg engine(2);
  test::TEndWaiter waiter(engine);
  ASSERT_TRUE(engine.OpenInputFile(test::Fixture("joined_clips.ts"))) << engine.LastError;
  engine.ParseOption("acodec", "mp2");
  engine.ParseOption("ab", "128k");
  ASSERT_EQ(engine.AddOutputFile(out, false), 1) << engine.LastError;
  engine.OutputRateHeadroom = c.Headroom;
  engine.OutputSlackBytes = 0;
  engine.OutputSlackMicros = 0;
  const auto result = waiter.Run();
  if (!c.Completes) {
    EXPECT_FALSE(result.Finished);
    EXPECT_NE(result.Message.find("grew past"), std::string::npos) << result.Message;
    return;
  }
  ASSERT_TRUE(result.Finished) << result.Message;
  const test::TMediaInfo media = test::ProbeMedia(out);
  ASSERT_TRUE(media.Opened);
  const TSpan audio = StreamSpan(media, media.StreamOfType(AVMEDIA_TYPE_AUDIO));
  EXPECT_NEAR(audio.End, 6, 0.15);
}

INSTANTIATE_TEST_SUITE_P(Allowances, JoinedClips,
                         ::testing::Values(TJoinedCase{"Within", 1.5, true},
                                           TJoinedCase{"Beyond", 0.5, false}),
                         [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace tovamo
