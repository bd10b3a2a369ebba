// Re-encoding end to end: generated files converted to MPEG with and without a disc
// target, judged by reading the outputs back; and the two-pass log files.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "Engine/FFmpeg.h"
#include "Services/Bitmap.h"
#include "Services/FFBindings.h"
#include "support/EngineJob.h"
#include "support/LogCapture.h"
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

TEST_F(Encoding, TheSyncMethodRepeatsOrDropsFramesOfAnIrregularClip) {
  // vfr.mkv: frames of 40 and 80 ms in turn; a constant 25 frames/s fills each 80 ms gap
  // with one repeated frame, a variable rate passes them as they come.
  struct TCase {
    const char* Sync;
    const char* Output;
    bool Repeats;
  };
  for (const TCase& c : {TCase{"1", "cfr.mpg", true}, TCase{"0", "passthrough.mkv", false},
                         TCase{"2", "vfr.mkv", false}}) {
    SCOPED_TRACE(c.Sync);
    TFFmpeg engine(2);
    TEndWaiter waiter(engine);
    ASSERT_TRUE(engine.OpenInputFile(test::Fixture("vfr.mkv")));
    engine.ParseOption("vsync", c.Sync);
    engine.ParseOption("an", "");
    engine.ParseOption("vcodec", "mpeg1video");
    engine.ParseOption("r", "25");
    ASSERT_EQ(engine.AddOutputFile(Dir.File(c.Output), false), 1) << engine.LastError;
    ASSERT_TRUE(waiter.Run().Finished);
    const int inputFrames = int(ProbeMedia(test::Fixture("vfr.mkv")).PacketsOf(0).size());
    const int outputFrames = int(ProbeMedia(Dir.File(c.Output)).PacketsOf(0).size());
    EXPECT_EQ(engine.FramesDropped, 0);
    if (c.Repeats) {
      EXPECT_GT(engine.FramesDuplicated, inputFrames / 3);
      EXPECT_EQ(outputFrames, inputFrames + engine.FramesDuplicated);
    } else {
      EXPECT_EQ(engine.FramesDuplicated, 0);
      EXPECT_EQ(outputFrames, inputFrames);
    }
  }
}

TEST_F(Encoding, AFrameHookChangesThePicturesThatAreWritten) {
  // The example hook inverts a box in the top left corner.
  const std::string plain = Dir.File("plain.mpg"), hooked = Dir.File("hooked.mpg");
  for (const std::string& out : {plain, hooked}) {
    TFFmpeg engine(2);
    TEndWaiter waiter(engine);
    ASSERT_TRUE(engine.OpenInputFile(test::Fixture("sample.mpg")));
    if (out == hooked)
      engine.ParseOption("vhook", std::string(TOVAMO_INVERTBOX_HOOK) + " 0 0 64 48");
    engine.ParseOption("qscale", "2");
    ASSERT_EQ(engine.AddOutputFile(out, false), 1) << engine.LastError;
    const auto result = waiter.Run();
    ASSERT_TRUE(result.Finished) << result.Message;
  }
  for (int n : {0, 25}) {
    SCOPED_TRACE(n);
    const auto a = test::DecodeLuma(plain, n);
    const auto b = test::DecodeLuma(hooked, n);
    ASSERT_EQ(a.Width, 160);
    ASSERT_EQ(b.Width, 160);
    // Inside the box the picture is inverted; beyond it, untouched.
    EXPECT_NEAR(b.Mean(8, 8, 48, 32), 255 - a.Mean(8, 8, 48, 32), 8.0);
    EXPECT_NEAR(b.Mean(96, 72, 48, 32), a.Mean(96, 72, 48, 32), 4.0);
  }
}

TEST_F(Encoding, AStopDuringEncodingLeavesAFinishedFileOfWhatWasDone) {
  TFFmpeg engine(2);
  TEndWaiter waiter(engine);
  ASSERT_TRUE(engine.OpenInputFile(test::Fixture("long_5s.mpg")));
  engine.RateEmulation = true;
  engine.SetTarget("dvd", "pal", "pal");
  const std::string out = Dir.File("stopped.mpg");
  ASSERT_EQ(engine.AddOutputFile(out, false), 1);
  ASSERT_TRUE(engine.Start(true));
  engine.Resume();
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  engine.Stop(true);
  const auto result = waiter.Result();
  ASSERT_TRUE(result.Ended);
  EXPECT_FALSE(result.Finished);
  EXPECT_FALSE(result.Error) << result.Message;
  const TMediaInfo media = ProbeMedia(out);
  ASSERT_TRUE(media.Opened);
  EXPECT_GT(media.Duration, 500000);
  EXPECT_LT(media.Duration, 4500000);
  EXPECT_GT(test::DecodeLuma(out, 5).Width, 0) << "the pictures written decode";
}

TEST_F(Encoding, DamagedPacketsAreSkippedAndTheRestIsConverted) {
  test::TLogCapture log;
  TFFmpeg engine(2);
  TEndWaiter waiter(engine);
  ASSERT_TRUE(engine.OpenInputFile(test::Fixture("noise_middle.mpg")));
  engine.SetTarget("vcd", "pal", "pal");
  const std::string out = Dir.File("rescued.mpg");
  ASSERT_EQ(engine.AddOutputFile(out, false), 1);
  const auto result = waiter.Run();
  ASSERT_TRUE(result.Finished) << result.Message;
  const TMediaInfo media = ProbeMedia(out);
  EXPECT_GT(media.Duration, 3000000);
}

TEST_F(Encoding, AnEncoderThatRefusesItsSettingsEndsTheJobWithTheReason) {
  TFFmpeg engine(2);
  TEndWaiter waiter(engine);
  ASSERT_TRUE(engine.OpenInputFile(test::Fixture("sample.avi")));
  // H.263 takes only a handful of picture sizes.
  engine.ParseOption("vcodec", "h263");
  engine.ParseOption("s", "300x200");
  const std::string out = Dir.File("refused.avi");
  ASSERT_EQ(engine.AddOutputFile(out, false), 1);
  const auto result = waiter.Run();
  EXPECT_FALSE(result.Finished);
  EXPECT_EQ(result.Message,
            "Error while opening encoder for output stream #0.0 (Video) - maybe incorrect "
            "parameters such as bit_rate, rate, width or height. Please check error log "
            "message to find out more detail information.");
  EXPECT_FALSE(fs::exists(out)) << "no empty output stays behind";
}

TEST_F(Encoding, VolumeScalesTheDecodedSamples) {
  for (int volume : {256, 128}) {
    SCOPED_TRACE(volume);
    TFFmpeg engine(2);
    TEndWaiter waiter(engine);
    ASSERT_TRUE(engine.OpenInputFile(test::Fixture("audio_only.wav")));
    engine.ParseOption("vol", std::to_string(volume));
    const std::string out = Dir.File("vol" + std::to_string(volume) + ".wav");
    ASSERT_EQ(engine.AddOutputFile(out, false), 1);
    ASSERT_TRUE(waiter.Run().Finished);
  }
  // The 16-bit samples of a WAV file follow its "data" chunk header.
  auto peak = [](const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    const std::string text(bytes.begin(), bytes.end());
    const std::size_t data = text.find("data");
    int best = 0;
    if (data == std::string::npos) return best;
    for (std::size_t i = data + 8; i + 1 < bytes.size(); i += 2)
      best = std::max(
          best,
          std::abs(int(std::int16_t(std::uint8_t(bytes[i]) | (std::uint8_t(bytes[i + 1]) << 8)))));
    return best;
  };
  const int full = peak(Dir.File("vol256.wav")), half = peak(Dir.File("vol128.wav"));
  EXPECT_GT(full, 5000);
  EXPECT_NEAR(half, full / 2, 2);
}

TEST_F(Encoding, TheAudioSyncMethodFillsAudioThatStartsLate) {
  // Picture from one input, sound from a second one whose times start half a second late.
  struct TCase {
    const char* Async;
    double AudioStart;  // seconds after the picture
  };
  for (const TCase& c : {TCase{"0", 0.5}, TCase{"1", 0.0}}) {
    SCOPED_TRACE(c.Async);
    test::TLogCapture log;
    TFFmpeg engine(4);
    TEndWaiter waiter(engine);
    engine.Verbose = 3;
    ASSERT_TRUE(engine.OpenInputFile(test::Fixture("sample.mpg")));
    engine.ParseOption("itsoffset", "0.5");
    ASSERT_TRUE(engine.OpenInputFile(test::Fixture("sample.mpg")));
    engine.ParseOption("map", "0:0");
    engine.ParseOption("map", "1:1");
    engine.ParseOption("async", c.Async);
    const std::string out = Dir.File("late.mpg");
    ASSERT_EQ(engine.AddOutputFile(out, false), 1) << engine.LastError;
    const auto result = waiter.Run();
    ASSERT_TRUE(result.Finished) << result.Message;
    const TMediaInfo media = ProbeMedia(out);
    const int v = media.StreamOfType(AVMEDIA_TYPE_VIDEO),
              a = media.StreamOfType(AVMEDIA_TYPE_AUDIO);
    ASSERT_GE(v, 0);
    ASSERT_GE(a, 0);
    EXPECT_NEAR(double(media.Streams[a].StartTime - media.Streams[v].StartTime) / 1e6, c.AudioStart,
                0.04);
    EXPECT_EQ(log.StartingWith(llVerbose, "adding ").size(), std::string(c.Async) == "1" ? 1u : 0u);
  }
}

TEST_F(Encoding, HooksPreviewsForcedKeyFramesFiltersAndStatistics) {
  test::TLogCapture log;
  TFFmpeg engine(2);
  TEndWaiter waiter(engine);
  ASSERT_TRUE(engine.OpenInputFile(test::Fixture("sample.mpg")));  // 2 s at 25 frames/s
  std::vector<int> inputFrames;
  std::vector<std::int64_t> inputTimes;
  engine.OnVideoInputHook = [&](TCustomFFmpeg*, THookInfo* info) {
    inputFrames.push_back(info->FrameNumber);
    inputTimes.push_back(info->PTS);
    info->Update = false;
    info->StopHooking = inputFrames.size() == 3;  // detached after the third picture
  };
  int outputCalls = 0;
  engine.OnVideoOutputHook = [&](TCustomFFmpeg*, THookInfo* info) {
    ++outputCalls;
    EXPECT_EQ(info->Bitmap->Width(), 80);
    throw std::runtime_error("boom");  // logged; the frame goes out unchanged
  };
  int previews = 0;
  engine.OnPreviewBitmap = [&](TCustomFFmpeg*, void* bitmap, int, std::int64_t, bool&) {
    previews += bitmap != nullptr;
  };
  engine.PreviewInterval = 0;
  engine.SetPreviewFlags(2);
  engine.ParseOption("vf", "crop=80:60:0:0");
  engine.ParseOption("g", "250");
  engine.ParseOption("force_key_frames", "0,1");
  engine.ParseOption("vstats_file", Dir.File("vstats.log"));
  engine.ParseOption("an", "");
  const std::string out = Dir.File("hooked.mpg");
  ASSERT_EQ(engine.AddOutputFile(out, false), 1) << engine.LastError;
  const auto result = waiter.Run();
  ASSERT_TRUE(result.Finished) << result.Message;

  EXPECT_EQ(inputFrames, (std::vector<int>{1, 2, 3}));
  EXPECT_TRUE(std::is_sorted(inputTimes.begin(), inputTimes.end()));
  EXPECT_EQ(outputCalls, 50);
  EXPECT_EQ(log.Count(llError, "Error occurs VideoHook event: boom"), 50);
  EXPECT_EQ(previews, 50);

  const TMediaInfo media = ProbeMedia(out);
  ASSERT_EQ(media.Streams.size(), 1u);
  EXPECT_EQ(media.Streams[0].Width, 80);
  EXPECT_EQ(media.Streams[0].Height, 60);
  std::vector<double> keys;
  for (const auto& p : media.Packets)
    if (p.Key) keys.push_back(double(p.Pts - media.Packets.front().Pts) / 1e6);
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_NEAR(keys[1], 1.0, 0.05);

  std::ifstream stats(Dir.File("vstats.log"));
  std::string line;
  int lines = 0;
  while (std::getline(stats, line)) lines += line.rfind("frame= ", 0) == 0;
  // A line per frame whose bytes came out at once: the encoder keeps the last ones back.
  EXPECT_GE(lines, 45);
  EXPECT_LE(lines, 50);
}

}  // namespace
}  // namespace tovamo
