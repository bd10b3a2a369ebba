// Re-encoding end to end: generated files converted to MPEG with and without a disc
// target, judged by reading the outputs back; and the two-pass log files.
#include <gtest/gtest.h>

#include <filesystem>

#include "Engine/FFmpeg.h"
#include "Services/FFBindings.h"
#include "support/EngineJob.h"
#include "support/MediaProbe.h"
#include "support/TestSupport.h"

namespace tovamo {
namespace {

using test::ProbeMedia;
using test::TEndWaiter;
using test::TMediaInfo;
namespace fs = std::filesystem;

class Encoding : public ::testing::Test {
 protected:
  void SetUp() override { test::LoadSystemLibraries(); }
  test::TTempDir Dir;
};

struct TTargetCase {
  const char* Input;
  const char* Target;  // "" for none
  const char* Norm;
  const char* VideoCodec;
  int Width, Height;
  const char* AudioCodec;
  int SampleRate;
  int Channels = 2;
};

TEST_F(Encoding, GeneratedFilesBecomeMpegFilesOfTheirTarget) {
  const std::vector<TTargetCase> cases = {
      {"sample.avi", "", "", "mpeg1video", 160, 120, "mp2", 44100},
      {"sample.mp4", "vcd", "pal", "mpeg1video", 352, 288, "mp2", 44100},
      {"sample.flv", "vcd", "ntsc", "mpeg1video", 352, 240, "mp2", 44100},
      {"sample.mov", "svcd", "pal", "mpeg2video", 480, 576, "mp2", 44100},
      {"sample.wmv", "dvd", "pal", "mpeg2video", 720, 576, "ac3", 48000},
      // A DVD holds 5.1 AC-3: six channels stay six.
      {"audio_48k_6ch.mp4", "dvd", "ntsc", "mpeg2video", 720, 480, "ac3", 48000, 6},
      {"audio_8k_mono.wav", "dvd", "pal", nullptr, 0, 0, "ac3", 48000},
      {"video_only.avi", "vcd", "pal", "mpeg1video", 352, 288, nullptr, 0},
  };
  for (const TTargetCase& c : cases) {
    SCOPED_TRACE(std::string(c.Input) + " " + c.Target + " " + c.Norm);
    TFFmpeg engine(2);
    TEndWaiter waiter(engine);
    ASSERT_TRUE(engine.OpenInputFile(test::Fixture(c.Input))) << engine.LastError;
    if (*c.Target) engine.SetTarget(c.Target, c.Norm, "pal");
    const std::string out = Dir.File("out.mpg");
    ASSERT_EQ(engine.AddOutputFile(out, false), 1) << engine.LastError;
    const auto result = waiter.Run();
    ASSERT_TRUE(result.Finished) << result.Message;

    const TMediaInfo in = ProbeMedia(test::Fixture(c.Input));
    const TMediaInfo media = ProbeMedia(out);
    ASSERT_TRUE(media.Opened);
    const int v = media.StreamOfType(AVMEDIA_TYPE_VIDEO);
    const int a = media.StreamOfType(AVMEDIA_TYPE_AUDIO);
    if (c.VideoCodec) {
      ASSERT_GE(v, 0);
      EXPECT_EQ(media.Streams[v].Codec, c.VideoCodec);
      EXPECT_EQ(media.Streams[v].Width, c.Width);
      EXPECT_EQ(media.Streams[v].Height, c.Height);
    } else {
      EXPECT_LT(v, 0);
    }
    if (c.AudioCodec) {
      ASSERT_GE(a, 0);
      EXPECT_EQ(media.Streams[a].Codec, c.AudioCodec);
      EXPECT_EQ(media.Streams[a].SampleRate, c.SampleRate);
      EXPECT_EQ(media.Streams[a].Channels, c.Channels);
    } else {
      EXPECT_LT(a, 0);
    }
    // As long as the input, within a frame or an audio frame or two.
    EXPECT_NEAR(double(media.Duration) / 1e6, double(in.Duration) / 1e6, 0.12);
  }
}

TEST_F(Encoding, PassOneWritesItsStatisticsAndPassTwoReadsThem) {
  const std::string prefix = Dir.File("stats");
  for (int pass : {1, 2}) {
    SCOPED_TRACE(pass);
    TFFmpeg engine(2);
    TEndWaiter waiter(engine);
    ASSERT_TRUE(engine.OpenInputFile(test::Fixture("sample.mpg")));
    engine.ParseOption("pass", std::to_string(pass));
    engine.ParseOption("passlogfile", prefix);
    engine.ParseOption("an", "");
    engine.ParseOption("vcodec", "mpeg2video");
    ASSERT_EQ(engine.AddOutputFile(Dir.File("pass.mpg"), false), 1) << engine.LastError;
    const auto result = waiter.Run();
    ASSERT_TRUE(result.Finished) << result.Message;
    ASSERT_TRUE(fs::exists(prefix + "-0.log"));
    EXPECT_GT(fs::file_size(prefix + "-0.log"), 100u);
  }

  // Pass 2 without the first pass's file says which file it wanted.
  TFFmpeg engine(2);
  TEndWaiter waiter(engine);
  ASSERT_TRUE(engine.OpenInputFile(test::Fixture("sample.mpg")));
  engine.ParseOption("pass", "2");
  engine.ParseOption("vcodec", "mpeg2video");
  engine.ParseOption("an", "");
  engine.ParseOption("passlogfile", Dir.File("none"));
  ASSERT_EQ(engine.AddOutputFile(Dir.File("pass.mpg"), false), 1);
  const auto result = waiter.Run();
  EXPECT_FALSE(result.Finished);
  EXPECT_EQ(result.Message, "Cannot read file: Error reading log file \"" + Dir.File("none") +
                                "-0.log\" for pass-2 encoding");
}

}  // namespace
}  // namespace tovamo
