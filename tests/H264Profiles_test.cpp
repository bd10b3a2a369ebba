// The H.264 profiles of the store converted through the encoder component as the window
// sets them up, each output read back: codecs, H.264 profile and level, size, rate, display
// aspect, AAC, length, the index before the media data, the streams starting together; and
// a stopped conversion that still leaves an MP4 read to its end.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Components/FFEncode.h"
#include "H264Profile.h"
#include "ProfileOptions.h"
#include "Profiles.h"
#include "Services/Bitmap.h"
#include "Services/FFBindings.h"
#include "Services/MainThread.h"
#include "support/MediaProbe.h"
#include "support/TestSupport.h"
#include "support/TestTime.h"

namespace tovamo {
namespace {

using namespace std::chrono_literals;
using test::ProbeMedia;
using test::TMediaInfo;

constexpr int kBaseline = 66, kConstrainedBaseline = 66 | 512, kHigh = 100;

// The types of the top-level boxes of an MP4 file, in file order.
std::vector<std::string> TopLevelBoxes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> boxes;
  for (;;) {
    unsigned char head[16];
    if (!in.read(reinterpret_cast<char*>(head), 8)) break;
    std::uint64_t size =
        (std::uint64_t(head[0]) << 24) | (head[1] << 16) | (head[2] << 8) | head[3];
    boxes.emplace_back(reinterpret_cast<char*>(head + 4), 4);
    std::uint64_t header = 8;
    if (size == 1) {
      if (!in.read(reinterpret_cast<char*>(head + 8), 8)) break;
      size = 0;
      for (int i = 8; i < 16; ++i) size = (size << 8) | head[i];
      header = 16;
    }
    if (size == 0) break;  // to the end of the file
    if (size < header) return {"bad size"};
    in.seekg(std::streamoff(size - header), std::ios::cur);
  }
  return boxes;
}

std::ptrdiff_t BoxAt(const std::vector<std::string>& boxes, const char* type) {
  const auto it = std::find(boxes.begin(), boxes.end(), type);
  return it == boxes.end() ? -1 : it - boxes.begin();
}

struct TRun {
  bool Ended = false;
  TTerminateInfo Info;
};

// What a run does besides converting: `stopWhen` is asked on the main thread after each
// progress report (true stops the task), `pauseOnce` pauses the task at the first report
// and resumes it once the encoder says it is paused; `configure` sets handlers up.
struct TRunControl {
  std::function<bool(const TProgressInfo&)> StopWhen;
  bool PauseOnce = false;
  std::function<void(TFFEncoder&)> Configure;
};

class H264Profiles : public ::testing::Test {
 protected:
  void SetUp() override {
    test::LoadSystemLibraries();
    if (!HasH264Encoder()) GTEST_SKIP() << "no libx264 encoder in these libraries";
    Profiles = LoadProfiles(TOVAMO_PROFILE_STORE);
  }

  // The options the window gives an input for the store's profile `name` and `aspect`.
  TOutputOptions Options(const std::string& name, const std::string& input,
                         const std::string& aspect = "Auto") const {
    const auto index = FindProfile(Profiles, name);
    EXPECT_TRUE(index) << name;
    return ProfileToOutputOptions(ProfileValuesOf(index ? Profiles[*index].FormatString : ""), name,
                                  aspect, Dir.Path().string(), input);
  }

  // Runs one task with the options through the encoder on a worker thread.
  TRun Convert(const std::string& input, const TOutputOptions& options,
               const std::string& inputOptions = {}, const TRunControl& control = TRunControl()) {
    TFFEncoder encoder;
    if (control.Configure) control.Configure(encoder);
    bool pauseAsked = false, resumed = false;
    std::mutex lock;
    TRun run;
    bool batchEnded = false, stopAsked = false;
    encoder.OnTerminate = [&](TFFEncoder*, const TTerminateInfo& info) {
      std::lock_guard guard(lock);
      if (info.TaskIndex >= 0) {
        run.Info = info;
        run.Ended = true;
      } else {
        batchEnded = true;
      }
    };
    encoder.OnProgress = [&](TFFEncoder*, TProgressInfo* info) {
      if (control.StopWhen && !stopAsked && control.StopWhen(*info)) stopAsked = true;
      if (control.PauseOnce && !pauseAsked) {
        pauseAsked = true;
        encoder.Pause();
      }
    };
    TInputOptions in;
    in.ExtraOptions = inputOptions;
    const int task = encoder.AddTask(input, &in);
    EXPECT_GE(task, 0) << encoder.LastError();
    if (task < 0) return run;
    EXPECT_TRUE(encoder.SetOutputFile(task, options.FileName, &options)) << encoder.LastError();
    encoder.StartTask(1);
    const auto deadline = std::chrono::steady_clock::now() + test::Generous(120s);
    bool stopped = false;
    for (;;) {
      {
        std::lock_guard guard(lock);
        if (batchEnded) break;
      }
      if (std::chrono::steady_clock::now() > deadline) {
        ADD_FAILURE() << "the conversion did not end";
        encoder.Stop(true);
        break;
      }
      if (pauseAsked && !resumed && encoder.Paused()) {
        resumed = true;
        encoder.Resume();
      }
      if (stopAsked && !stopped) {
        stopped = true;
        encoder.Stop(true);
      }
      WaitAndServeMainThreadQueue(10);
    }
    return run;
  }

  std::vector<TProfile> Profiles;
  test::TTempDir Dir;
};

struct TProfileCase {
  const char* Input;
  const char* Profile;
  int Width, Height;
  std::vector<int> H264Profiles;  // any of these
  int Level;                      // 0: the encoder's choice
  int AudioBitrate;               // kbit/s as the profile asks
  double Seconds;                 // of the input converted; 0 all of it
};

TEST_F(H264Profiles, OutputsReadBackAsTheProfileSays) {
  const std::vector<TProfileCase> cases = {
      // 16:9 into the 4:3 sizes: the frame takes the picture's shape.
      {"sample_16x9.mp4",
       "H264 FOR IPOD(320*240)",
       320,
       180,
       {kBaseline, kConstrainedBaseline},
       13,
       128,
       0},
      {"sample.avi",
       "H264 FOR IPOD(640*480)",
       640,
       480,
       {kBaseline, kConstrainedBaseline},
       30,
       160,
       0},
      // NTSC's 29.97 frames/s is under the players' limit and stays; 176x120 square pixels
      // give an even height in proportion.
      {"ntsc_29_97.mpg",
       "H264 FOR IPOD(320*240)",
       320,
       218,
       {kBaseline, kConstrainedBaseline},
       13,
       128,
       0},
      {"sample_16x9.mp4", "H264 FOR PHONES(1280*720)", 1280, 720, {kHigh}, 0, 192, 0},
      // 4:3 into 16:9: the full height, narrower; a part only, to keep the suite quick.
      {"sample.avi", "H264 FOR PHONES(1920*1080)", 1440, 1080, {kHigh}, 0, 192, 0.6},
  };
  for (const TProfileCase& c : cases) {
    SCOPED_TRACE(std::string(c.Input) + " -> " + c.Profile);
    const std::string input = test::Fixture(c.Input);
    TOutputOptions options = Options(c.Profile, input);
    ASSERT_EQ(options.FileName.substr(options.FileName.size() - 4), ".mp4");
    if (c.Seconds > 0) options.RecordingTime = std::int64_t(c.Seconds * 1e6);
    const TRun run = Convert(input, options);
    ASSERT_TRUE(run.Ended);
    ASSERT_TRUE(run.Info.Finished) << run.Info.ErrorMessage;

    const TMediaInfo in = ProbeMedia(input);
    const TMediaInfo out = ProbeMedia(options.FileName);
    ASSERT_TRUE(out.Opened);
    EXPECT_TRUE(out.ReadToEnd);
    EXPECT_EQ(out.Format.substr(0, 3), "mov");
    const int v = out.StreamOfType(AVMEDIA_TYPE_VIDEO), a = out.StreamOfType(AVMEDIA_TYPE_AUDIO);
    const int inV = in.StreamOfType(AVMEDIA_TYPE_VIDEO);
    ASSERT_GE(v, 0);
    ASSERT_GE(a, 0);
    ASSERT_GE(inV, 0);
    const test::TStreamInfo& video = out.Streams[std::size_t(v)];
    const test::TStreamInfo& audio = out.Streams[std::size_t(a)];
    EXPECT_EQ(video.Codec, "h264");
    EXPECT_NE(std::find(c.H264Profiles.begin(), c.H264Profiles.end(), video.Profile),
              c.H264Profiles.end())
        << video.Profile;
    if (c.Level) {
      EXPECT_EQ(video.Level, c.Level);
    }
    EXPECT_EQ(video.Width, c.Width);
    EXPECT_EQ(video.Height, c.Height);
    // The shape of the input, with square pixels.
    EXPECT_NEAR(video.DisplayAspect(), in.Streams[std::size_t(inV)].DisplayAspect(), 0.02);
    EXPECT_EQ(video.SarNum, video.SarDen);
    // The input's frame rate.
    const test::TStreamInfo& inVideo = in.Streams[std::size_t(inV)];
    EXPECT_NEAR(double(video.RateNum) / video.RateDen, double(inVideo.RateNum) / inVideo.RateDen,
                0.01);

    EXPECT_EQ(audio.Codec, "aac");
    EXPECT_EQ(audio.Profile, 1);  // FF_PROFILE_AAC_LOW
    EXPECT_EQ(audio.SampleRate, 48000);
    EXPECT_EQ(audio.Channels, 2);
    EXPECT_NEAR(double(audio.BitRate) / 1000, c.AudioBitrate, c.AudioBitrate * 0.25);

    // As long as the input (or the part asked), within a frame or two.
    const double expected = c.Seconds > 0 ? c.Seconds : double(in.Duration) / 1e6;
    EXPECT_NEAR(double(out.Duration) / 1e6, expected, 0.12);
    // Both start at the start, together.
    EXPECT_NEAR(double(video.StartTime) / 1e6, 0, 0.05);
    EXPECT_NEAR(double(audio.StartTime) / 1e6, double(video.StartTime) / 1e6, 0.05);

    // The index comes before the media data, so the file plays while it is still arriving.
    const std::vector<std::string> boxes = TopLevelBoxes(options.FileName);
    ASSERT_GE(BoxAt(boxes, "moov"), 0);
    ASSERT_GE(BoxAt(boxes, "mdat"), 0);
    EXPECT_LT(BoxAt(boxes, "moov"), BoxAt(boxes, "mdat"));
  }
}

// The rate follows the input up to the profile's limit: over it, the limit.
TEST_F(H264Profiles, TheFrameRateIsHeldToTheLimit) {
  const std::string input = test::Fixture("sample.avi");  // 25 frames/s
  TOutputOptions options = Options("H264 FOR IPOD(320*240)", input);
  options.ExtraOptions += "fpsmax=15\n";
  options.RecordingTime = 1000000;
  const TRun run = Convert(input, options);
  ASSERT_TRUE(run.Ended);
  ASSERT_TRUE(run.Info.Finished) << run.Info.ErrorMessage;
  const TMediaInfo out = ProbeMedia(options.FileName);
  const int v = out.StreamOfType(AVMEDIA_TYPE_VIDEO);
  ASSERT_GE(v, 0);
  const test::TStreamInfo& video = out.Streams[std::size_t(v)];
  EXPECT_NEAR(double(video.RateNum) / video.RateDen, 15, 0.01);
  EXPECT_NEAR(double(out.Duration) / 1e6, 1.0, 0.1);
}

// A paused and resumed task ends as it would have; the output hook sees every picture it
// writes, and the preview shows pictures of this size.
TEST_F(H264Profiles, PauseHooksAndPreviewsWorkAsForEveryProfile) {
  const std::string input = test::Fixture("sample.avi");  // 2 s at 25 frames/s
  TOutputOptions options = Options("H264 FOR IPOD(320*240)", input);
  options.VideoOutputHook = true;
  std::atomic<int> hooked{0}, previews{0}, previewWidth{0};
  TRunControl control;
  control.PauseOnce = true;
  control.Configure = [&](TFFEncoder& encoder) {
    encoder.SetProgressInterval(100);
    encoder.SetPreviewBitmap(true);
    encoder.OnVideoOutputHook = [&](TFFEncoder*, THookInfo* info) {
      ++hooked;
      info->Update = false;
    };
    encoder.OnPreviewBitmap = [&](TFFEncoder*, const TPreviewInfo& info) {
      ++previews;
      if (info.Bitmap) previewWidth = info.Bitmap->Width();
    };
  };
  const TRun run = Convert(input, options, {}, control);
  ASSERT_TRUE(run.Ended);
  ASSERT_TRUE(run.Info.Finished) << run.Info.ErrorMessage;
  const TMediaInfo out = ProbeMedia(options.FileName);
  const int v = out.StreamOfType(AVMEDIA_TYPE_VIDEO);
  ASSERT_GE(v, 0);
  EXPECT_EQ(hooked, int(out.PacketsOf(v).size()));
  EXPECT_EQ(hooked, 50);
  EXPECT_GT(previews, 0);
  EXPECT_EQ(previewWidth, 320);
}

// Stopped part way: what was written is a whole MP4, index first, read to its end.
TEST_F(H264Profiles, AStopLeavesAPlayableMp4) {
  const std::string input = test::Fixture("long_5s.mpg");
  const TOutputOptions options = Options("H264 FOR IPOD(320*240)", input);
  // Read at its own pace, so that the stop comes part way.
  TRunControl control;
  control.StopWhen = [](const TProgressInfo& info) { return info.FrameNumber >= 12; };
  const TRun run = Convert(input, options, "re\n", control);
  ASSERT_TRUE(run.Ended);
  EXPECT_FALSE(run.Info.Finished);
  EXPECT_FALSE(run.Info.Failed) << run.Info.ErrorMessage;

  const TMediaInfo out = ProbeMedia(options.FileName);
  ASSERT_TRUE(out.Opened);
  EXPECT_TRUE(out.ReadToEnd);
  EXPECT_GT(out.Duration, 300000);
  EXPECT_LT(out.Duration, 4900000);
  const int v = out.StreamOfType(AVMEDIA_TYPE_VIDEO);
  ASSERT_GE(v, 0);
  const int pictures = int(out.PacketsOf(v).size());
  EXPECT_GE(pictures, 10);
  EXPECT_GT(test::DecodeLuma(options.FileName, pictures - 1).Width, 0) << "the last picture";
  const std::vector<std::string> boxes = TopLevelBoxes(options.FileName);
  EXPECT_GE(BoxAt(boxes, "moov"), 0);
  EXPECT_LT(BoxAt(boxes, "moov"), BoxAt(boxes, "mdat"));
}

}  // namespace
}  // namespace tovamo
