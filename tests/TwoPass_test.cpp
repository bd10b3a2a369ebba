// Tasks of the encoder component encoded in two passes: the rate they meet, the progress
// over both passes, stop and pause in either pass, and the first pass's statistics, which
// never outlive the task.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "Components/FFEncode.h"
#include "Components/Leftovers.h"
#include "Components/PassStats.h"
#include "Services/FFBindings.h"
#include "Services/MainThread.h"
#include "support/LogCapture.h"
#include "support/MainThreadServing.h"
#include "support/MediaProbe.h"
#include "support/TestSupport.h"
#include "support/TestTime.h"
#include "support/Watchdog.h"

namespace tovamo {
namespace {

using namespace std::chrono_literals;
using test::TWatchdog;
namespace fs = std::filesystem;

using test::ServeUntil;

// What a batch of one two-pass task told: its progress reports and its end.
struct TSeen {
  std::mutex Lock;
  std::vector<TProgressInfo> Progress;
  std::vector<TTerminateInfo> Ends;
  bool BatchEnded = false;

  int LastPass() {
    std::lock_guard lock(Lock);
    return Progress.empty() ? 0 : Progress.back().Pass;
  }
  std::int64_t LastDuration() {
    std::lock_guard lock(Lock);
    return Progress.empty() ? -1 : Progress.back().CurrentDuration;
  }
  bool Ended() {
    std::lock_guard lock(Lock);
    return BatchEnded;
  }
};

class TwoPass : public ::testing::Test {
 protected:
  void SetUp() override { test::LoadSystemLibraries(); }

  std::string Out(const std::string& name) const { return (Dir.Path() / name).string(); }

  // The statistics files in the output folder (PassStats.h names them ".<output>.2pass-...").
  std::vector<std::string> Statistics() const {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(Dir.Path()))
      if (entry.path().filename().string().find(".2pass-") != std::string::npos)
        found.push_back(entry.path().filename().string());
    return found;
  }

  // One task converting `input` to `options` in two passes, its notices into `seen`.
  void Start(TFFEncoder& encoder, TSeen& seen, const std::string& input, TOutputOptions options,
             int maxParallel, bool realTime = false, bool twoPass = true) {
    encoder.TriggerEventInMainThread = false;
    encoder.SetProgressInterval(100);
    encoder.OnProgress = [&seen](TFFEncoder*, TProgressInfo* info) {
      std::lock_guard lock(seen.Lock);
      seen.Progress.push_back(*info);
    };
    encoder.OnTerminate = [&seen](TFFEncoder*, const TTerminateInfo& info) {
      std::lock_guard lock(seen.Lock);
      if (info.TaskIndex < 0)
        seen.BatchEnded = true;
      else
        seen.Ends.push_back(info);
    };
    TInputOptions inputOptions;
    if (realTime) inputOptions.ExtraOptions = "re";
    const int task = encoder.AddTask(input, &inputOptions);
    ASSERT_GE(task, 0) << encoder.LastError();
    options.TwoPass = twoPass;
    ASSERT_TRUE(encoder.SetOutputFile(task, options.FileName, &options)) << encoder.LastError();
    encoder.StartTask(maxParallel);
  }

  TOutputOptions Dvd(const std::string& name, int videoBitRate) const {
    TOutputOptions o;
    o.FileName = Out(name);
    o.TargetType = 3;
    o.NormType = 1;
    o.ExtraOptions = "b=" + std::to_string(videoBitRate) + "\n";
    return o;
  }

  test::TTempDir Dir;
};

// The video's own bit rate in the file: its packets' bytes over its pictures' time.
double VideoBitRate(const std::string& path) {
  const test::TMediaInfo info = test::ProbeMedia(path);
  const int video = info.StreamOfType(AVMEDIA_TYPE_VIDEO);
  if (video < 0) return 0;
  const auto packets = info.PacketsOf(video);
  const auto& stream = info.Streams[std::size_t(video)];
  if (packets.empty() || stream.RateNum <= 0) return 0;
  double bytes = 0;
  for (const auto& packet : packets) bytes += packet.Size;
  return bytes * 8 / (double(packets.size()) * stream.RateDen / stream.RateNum);
}

// Both passes on worker threads and on the calling thread, MPEG-2 and (where the libraries
// have it) H.264, whose encoder keeps statistics files of its own. A clip of 5 s: with
// B-pictures the rate control needs a few groups of pictures to settle (2 s end 3 % over).
TEST_F(TwoPass, MeetsTheRateWithOneRisingProgressAndLeavesNoStatistics) {
  TWatchdog watchdog("two passes", 120s);
  const struct {
    const char* Name;
    int MaxParallel;
    bool H264;
    double Tolerance;  // of the rate (x264 meets it less closely on a clip of seconds)
  } cases[] = {
      {"threads", 1, false, 0.02}, {"calling thread", 0, false, 0.02}, {"H.264", 1, true, 0.05}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    if (c.H264 && !ff::avcodec_find_encoder_by_name("libx264")) continue;
    TFFEncoder encoder;
    TSeen seen;
    const int rate = c.H264 ? 400000 : 1500000;
    TOutputOptions options = Dvd(std::string(c.Name) + ".mpg", rate);
    if (c.H264) {
      options = TOutputOptions{};
      options.FileName = Out("h264.mp4");
      options.VideoCodec = "libx264";
      options.AudioCodec = "aac";
      options.FrameSize = "320x240";
      options.ExtraOptions = "b=" + std::to_string(rate) + "\n";
    }
    const fs::path workingFolder = fs::current_path();
    Start(encoder, seen, test::Fixture("long_5s.mpg"), options, c.MaxParallel);
    ASSERT_TRUE(ServeUntil([&] { return seen.Ended(); }));

    std::lock_guard lock(seen.Lock);
    ASSERT_EQ(seen.Ends.size(), 1u);
    EXPECT_TRUE(seen.Ends[0].Finished) << seen.Ends[0].ErrorMessage;
    EXPECT_FALSE(seen.Ends[0].Failed) << seen.Ends[0].ErrorMessage;
    const double real = VideoBitRate(options.FileName);
    EXPECT_NEAR(real, rate, rate * c.Tolerance);
    // The first pass the first half of the bar, the second the rest, never back.
    ASSERT_FALSE(seen.Progress.empty());
    EXPECT_EQ(seen.Progress.front().Pass, 1);
    EXPECT_EQ(seen.Progress.back().Pass, 2);
    for (std::size_t i = 1; i < seen.Progress.size(); ++i) {
      EXPECT_GE(seen.Progress[i].Pass, seen.Progress[i - 1].Pass);
      EXPECT_GE(seen.Progress[i].CurrentDuration, seen.Progress[i - 1].CurrentDuration) << i;
    }
    for (const TProgressInfo& info : seen.Progress) {
      if (info.Pass == 1) {
        EXPECT_LE(info.CurrentDuration, info.TotalDuration / 2 + 1);
      }
    }
    EXPECT_GE(seen.Progress.back().CurrentDuration, seen.Progress.back().TotalDuration * 95 / 100);
    EXPECT_EQ(Statistics(), std::vector<std::string>{});
    EXPECT_FALSE(fs::exists(workingFolder / "x264_2pass.log"));
    EXPECT_FALSE(fs::exists(workingFolder / "ffmpeg2pass-0.log"));
  }
}

// The best class takes two passes where the output has a rate to meet, and one where the
// options ask for a constant quality or run the passes by hand; the other classes one.
TEST_F(TwoPass, TheBestClassTakesTwoPassesWhereARateIsToBeMet) {
  TWatchdog watchdog("quality classes", 120s);
  const struct {
    const char* Quality;
    const char* Options;
    bool TwoPasses;
  } cases[] = {{"best", "b=1500000\n", true},
               {"best", "qscale=4\n", false},
               {"standard", "b=1500000\n", false},
               {"fast", "b=1500000\n", false}};
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Quality) + " " + c.Options);
    TFFEncoder encoder;
    TSeen seen;
    TOutputOptions options = Dvd("class" + std::to_string(n++) + ".mpg", 1500000);
    options.Quality = c.Quality;
    options.ExtraOptions = c.Options;
    Start(encoder, seen, test::Fixture("sample.mpeg"), options, 1, false, false);
    ASSERT_TRUE(ServeUntil([&] { return seen.Ended(); }));
    std::lock_guard lock(seen.Lock);
    ASSERT_EQ(seen.Ends.size(), 1u);
    EXPECT_TRUE(seen.Ends[0].Finished) << seen.Ends[0].ErrorMessage;
    ASSERT_FALSE(seen.Progress.empty());
    EXPECT_EQ(seen.Progress.front().Pass, c.TwoPasses ? 1 : 0);
    EXPECT_EQ(Statistics(), std::vector<std::string>{});
  }
}

// Best's trellis quantisation stays where the first pass coded at coarse steps and goes
// where it coded at the finest, which trellis would leave part of the rate unspent at; a
// "trellis" of the owner's own stays either way. The first pass's quantisers are read back
// from its statistics.
TEST_F(TwoPass, TheBestClassKeepsTrellisWhereTheFirstPassCodedCoarsely) {
  TWatchdog watchdog("trellis by the first pass", 120s);
  const struct {
    int Rate;
    const char* Options;
    bool Dropped;
  } cases[] = {{1000000, "", false}, {8000000, "", true}, {8000000, "trellis=1\n", false}};
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.Rate) + " " + c.Options);
    test::TLogCapture log;
    TFFEncoder encoder;
    TSeen seen;
    TOutputOptions options = Dvd("trellis" + std::to_string(n++) + ".mpg", c.Rate);
    options.Quality = "best";
    options.ExtraOptions += c.Options;
    Start(encoder, seen, test::Fixture("sample.mpeg"), options, 1, false, false);
    ASSERT_TRUE(ServeUntil([&] { return seen.Ended(); }));
    {
      std::lock_guard lock(seen.Lock);
      ASSERT_EQ(seen.Ends.size(), 1u);
      EXPECT_TRUE(seen.Ends[0].Finished) << seen.Ends[0].ErrorMessage;
    }
    EXPECT_EQ(log.HasPart(llVerbose, "Quality best: trellis=0 (the first pass's mean quantiser"),
              c.Dropped)
        << ::testing::PrintToString(log.Containing("quantiser"));
  }
}

// Inputs and rates a second pass once failed on. A gap in a damaged input, which the real
// output fills with repeated pictures, must be filled in the first pass too, or the second
// has more pictures than the statistics and fails. A rate too low for the second pass's plan
// is refused with the rate it needs: the encoder's own refusal aborted the process.
TEST_F(TwoPass, GapsAndTooLowRatesEndCleanly) {
  TWatchdog watchdog("awkward two passes", 120s);
  const struct {
    const char* Input;
    int Rate;
    bool Finished;
    const char* Message;
  } cases[] = {{"noise_middle.mpg", 6000000, true, ""},
               {"sample.mpeg", 300000, false,
                "The video bit rate of 300 kbit/s is too low for a second pass over this video"}};
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Input);
    TFFEncoder encoder;
    TSeen seen;
    const std::string output = "awkward" + std::to_string(n++) + ".mpg";
    TOutputOptions options = Dvd(output, c.Rate);
    options.Quality = "best";
    Start(encoder, seen, test::Fixture(c.Input), options, 1, false, false);
    ASSERT_TRUE(ServeUntil([&] { return seen.Ended(); }));
    std::lock_guard lock(seen.Lock);
    ASSERT_EQ(seen.Ends.size(), 1u);
    EXPECT_EQ(seen.Ends[0].Finished, c.Finished) << seen.Ends[0].ErrorMessage;
    EXPECT_NE(seen.Ends[0].ErrorMessage.find(c.Message), std::string::npos)
        << seen.Ends[0].ErrorMessage;
    EXPECT_EQ(fs::exists(Out(output)), c.Finished);
    EXPECT_EQ(Statistics(), std::vector<std::string>{});
  }
}

// A stop in the first pass ends the task with nothing written; one in the second keeps what
// a stop keeps. The statistics go either way.
TEST_F(TwoPass, AStopInEitherPassLeavesNoStatistics) {
  TWatchdog watchdog("two passes stopped", 120s);
  for (const int pass : {1, 2}) {
    SCOPED_TRACE(pass);
    TFFEncoder encoder;
    TSeen seen;
    const std::string output = "stopped" + std::to_string(pass) + ".mpg";
    // Read at its own pace, so that the stop lands in the pass it is meant for.
    Start(encoder, seen, test::Fixture("sample.mpeg"), Dvd(output, 1500000), 1, true);
    ASSERT_TRUE(ServeUntil([&] { return seen.LastPass() == pass && seen.LastDuration() > 0; }));
    if (pass == 1) {
      EXPECT_FALSE(Statistics().empty());  // being written
      encoder.Stop(true);
    } else {
      encoder.StopTask(0, true);
    }
    ASSERT_TRUE(ServeUntil([&] { return seen.Ended(); }));
    std::lock_guard lock(seen.Lock);
    ASSERT_EQ(seen.Ends.size(), 1u);
    EXPECT_FALSE(seen.Ends[0].Failed) << seen.Ends[0].ErrorMessage;
    EXPECT_FALSE(seen.Ends[0].Finished);
    if (pass == 1) {
      EXPECT_FALSE(fs::exists(Out(output)));
    }
    EXPECT_EQ(Statistics(), std::vector<std::string>{});
  }
}

TEST_F(TwoPass, PauseInTheFirstPassHolds) {
  TWatchdog watchdog("two passes paused", 120s);
  TFFEncoder encoder;
  TSeen seen;
  Start(encoder, seen, test::Fixture("sample.mpeg"), Dvd("paused.mpg", 1500000), 1, true);
  ASSERT_TRUE(ServeUntil([&] { return seen.LastPass() == 1 && seen.LastDuration() > 0; }));
  encoder.Pause();
  std::this_thread::sleep_for(300ms);  // a report already under way may still arrive
  const std::int64_t held = seen.LastDuration();
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(seen.LastDuration(), held);
  EXPECT_EQ(seen.LastPass(), 1);
  EXPECT_FALSE(seen.Ended());
  // Going on from where it was held.
  encoder.Resume();
  ASSERT_TRUE(ServeUntil([&] { return seen.LastDuration() > held; }));
  encoder.Stop(true);
  ASSERT_TRUE(ServeUntil([&] { return seen.Ended(); }));
  EXPECT_EQ(Statistics(), std::vector<std::string>{});
}

// A leftover of a run that ended abruptly is removed by the next run writing there; the
// statistics of a living run are not.
TEST_F(TwoPass, StatisticsOfAnEndedRunAreLeftovers) {
  const std::vector<std::string> names = {".a.mpg.2pass-999999999-0.log",
                                          ".a.mpg.2pass-999999999-0.log.x264.mbtree"};
  for (const std::string& name : names) std::ofstream(Out(name)) << "stats";
  const std::string own = PassStatsPrefix(Out("b.mpg")) + "-0.log";
  std::ofstream(own) << "stats";
  EXPECT_EQ(PassStatsOwner(fs::path(own).filename().string()), ::getpid());
  EXPECT_EQ(PassStatsOwner("a.mpg.2pass-12-0.log"), 0);  // not hidden: not ours
  EXPECT_EQ(PassStatsOwner(".a.mpg.2pass-12-x.log"), 0);
  EXPECT_EQ(RemoveLeftovers(Dir.Path().string()).size(), names.size());
  EXPECT_TRUE(fs::exists(own));
  RemovePassStats(PassStatsPrefix(Out("b.mpg")));
  EXPECT_FALSE(fs::exists(own));
  // The name goes to the engine as a line of option text: no line break may end it early.
  const std::string odd = PassStatsPrefix(Out(" odd\nname.mpg"));
  EXPECT_EQ(odd.find_first_of("\n\r"), std::string::npos) << odd;
  EXPECT_EQ(fs::path(odd).parent_path(), Dir.Path());
}

}  // namespace
}  // namespace tovamo
