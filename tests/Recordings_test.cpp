// Recordings as phones, cameras and downloads make them, converted with the store's
// profiles as the window sets them up (a DVD, a VCD, the H.264 profiles) and read back:
// the picture upright and in its own proportions (by regions of a decoded picture), the
// video taken from the recording and not from its cover picture, a song's cover shown for
// the whole song, the sound stream the file marks as its default, the lengths; the disc
// outputs handed to the authoring tools.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "Components/FFEncode.h"
#include "H264Profile.h"
#include "ProfileOptions.h"
#include "Profiles.h"
#include "Services/FFBindings.h"
#include "Services/MainThread.h"
#include "support/DiscJudges.h"
#include "support/MediaProbe.h"
#include "support/TestSupport.h"
#include "support/ToneProbe.h"

namespace tovamo {
namespace {

using namespace std::chrono_literals;
using test::ProbeMedia;
using test::TLumaPicture;
using test::TMediaInfo;

constexpr const char* kDvd = "MPEG2 FOR PAL DVD(720*576)";
constexpr const char* kVcd = "MPEG1 FOR PAL VCD(352*288)";
constexpr const char* kIpod = "H264 FOR IPOD(320*240)";      // Baseline
constexpr const char* kPhone = "H264 FOR PHONES(1280*720)";  // High

enum class TCorner { None, TopLeft, BottomLeft };

// What a decoded picture of the output must show.
enum class TContent {
  Moving,  // the fixture's video: a bright vertical bar over a gradient, in its shape
  Cover,   // the flat grey cover picture
};

struct TCase {
  const char* Input;
  std::vector<const char*> Profiles;
  double Aspect;  // display aspect of the picture itself, inside any bars
  TContent Content = TContent::Moving;
  TCorner Mark = TCorner::TopLeft;  // where the white corner mark must be
  bool UprightBar = true;           // the bar stands upright (it lies when not turned)
  double Pitch = 440;               // of the sound taken
  const char* Options = "";         // more output options, one a line
};

// The picture inside the black bars of a fit: the columns, then the rows within them,
// that are brighter than black.
struct TArea {
  int X = 0, Y = 0, W = 0, H = 0;
};

TArea PictureArea(const TLumaPicture& p) {
  TArea a;
  int x1 = -1, y1 = -1;
  a.X = -1;
  for (int x = 0; x < p.Width; ++x)
    if (p.Mean(x, 0, 1, p.Height) > 30) {
      if (a.X < 0) a.X = x;
      x1 = x;
    }
  if (a.X < 0) return {};
  a.Y = -1;
  for (int y = 0; y < p.Height; ++y)
    if (p.Mean(a.X, y, x1 - a.X + 1, 1) > 30) {
      if (a.Y < 0) a.Y = y;
      y1 = y;
    }
  if (a.Y < 0) return {};
  a.W = x1 - a.X + 1;
  a.H = y1 - a.Y + 1;
  return a;
}

class Recordings : public ::testing::Test {
 protected:
  void SetUp() override {
    test::LoadSystemLibraries();
    Profiles = LoadProfiles(TOVAMO_PROFILE_STORE);
  }

  TOutputOptions Options(const std::string& name, const std::string& input) const {
    const auto index = FindProfile(Profiles, name);
    EXPECT_TRUE(index) << name;
    return ProfileToOutputOptions(ProfileValuesOf(index ? Profiles[*index].FormatString : ""), name,
                                  "Auto", Dir.Path().string(), input);
  }

  // Converts with the encoder component on its worker thread; the end notice's info.
  TTerminateInfo Convert(const std::string& input, const TOutputOptions& options) {
    TFFEncoder encoder;
    std::mutex lock;
    TTerminateInfo result;
    bool ended = false;
    encoder.OnTerminate = [&](TFFEncoder*, const TTerminateInfo& info) {
      std::lock_guard guard(lock);
      if (info.TaskIndex >= 0) result = info;
      if (info.TaskIndex < 0) ended = true;
    };
    const int task = encoder.AddTask(input, nullptr);
    EXPECT_GE(task, 0) << encoder.LastError();
    if (task < 0) return result;
    EXPECT_TRUE(encoder.SetOutputFile(task, options.FileName, &options)) << encoder.LastError();
    encoder.StartTask(1);
    const auto deadline = std::chrono::steady_clock::now() + 120s;
    for (;;) {
      {
        std::lock_guard guard(lock);
        if (ended) break;
      }
      if (std::chrono::steady_clock::now() > deadline) {
        ADD_FAILURE() << "the conversion did not end";
        encoder.Stop(true);
        break;
      }
      WaitAndServeMainThreadQueue(10);
    }
    return result;
  }

  void Check(const TCase& c) {
    const std::string input = test::Fixture(c.Input);
    const TMediaInfo in = ProbeMedia(input);
    ASSERT_TRUE(in.Opened) << input;
    for (const char* profile : c.Profiles) {
      SCOPED_TRACE(std::string(c.Input) + " -> " + profile);
      if (IsH264Codec(
              ProfileValuesOf(Profiles[*FindProfile(Profiles, profile)].FormatString).Codec) &&
          !HasH264Encoder())
        continue;
      TOutputOptions options = Options(profile, input);
      options.ExtraOptions += c.Options;
      const TTerminateInfo info = Convert(input, options);
      ASSERT_TRUE(info.Finished) << info.ErrorMessage << " " << info.LibraryError;
      CheckOutput(c, in, options.FileName);
      CheckDisc(profile, options.FileName);
    }
  }

  void CheckOutput(const TCase& c, const TMediaInfo& in, const std::string& path) {
    const TMediaInfo out = ProbeMedia(path);
    ASSERT_TRUE(out.Opened);
    const int v = out.StreamOfType(AVMEDIA_TYPE_VIDEO);
    ASSERT_GE(v, 0);
    EXPECT_EQ(out.StreamOfType(AVMEDIA_TYPE_VIDEO, 1), -1) << "one video stream";
    // As long as the input, the pictures too.
    const double seconds = double(in.Duration) / 1e6;
    EXPECT_NEAR(double(out.Duration) / 1e6, seconds, 0.2);
    std::int64_t first = INT64_MAX, last = INT64_MIN;
    for (const test::TPacketInfo& p : out.PacketsOf(v))
      if (p.Pts != INT64_MIN) {
        first = std::min(first, p.Pts);
        last = std::max(last, p.Pts);
      }
    ASSERT_LT(first, last) << "more than one picture";
    EXPECT_GT(double(last - first) / 1e6, seconds - 0.25) << "pictures for the whole length";

    if (c.Pitch > 0) {
      EXPECT_NEAR(test::ToneFrequency(path), c.Pitch, c.Pitch * 0.05);
    }

    // A picture from the middle: the shape and the content of the picture inside the bars.
    const test::TStreamInfo& video = out.Streams[std::size_t(v)];
    const TLumaPicture picture = test::DecodeLuma(path, 25);
    ASSERT_GT(picture.Width, 0);
    const TArea a = PictureArea(picture);
    ASSERT_GT(a.W, 8);
    ASSERT_GT(a.H, 8);
    const double sar = video.SarNum > 0 ? double(video.SarNum) / video.SarDen : 1.0;
    EXPECT_NEAR(a.W * sar / a.H / c.Aspect, 1.0, 0.08)
        << "picture " << a.W << "x" << a.H << " in " << picture.Width << "x" << picture.Height;
    const int cw = a.W / 6, ch = a.H / 6;  // corner boxes, inside the mark's fifth
    const double topLeft = picture.Mean(a.X + 1, a.Y + 1, cw, ch);
    const double bottomLeft = picture.Mean(a.X + 1, a.Y + a.H - ch - 1, cw, ch);
    const double topRight = picture.Mean(a.X + a.W - cw - 1, a.Y + 1, cw, ch);
    const double bottomRight = picture.Mean(a.X + a.W - cw - 1, a.Y + a.H - ch - 1, cw, ch);
    if (c.Content == TContent::Cover) {
      for (double corner : {topLeft, bottomLeft, topRight, bottomRight})
        EXPECT_NEAR(corner, 200, 15) << "the cover picture";
      return;
    }
    if (c.Mark != TCorner::None) {
      const bool bottom = c.Mark == TCorner::BottomLeft;
      EXPECT_GT(bottom ? bottomLeft : topLeft, 195) << "the corner mark";
      EXPECT_LT(bottom ? topLeft : bottomLeft, 180) << "no mark in another corner";
      EXPECT_LT(topRight, 180) << "no mark in another corner";
      EXPECT_LT(bottomRight, 180) << "no mark in another corner";
    }
    // The bar: the brightest column of the lower part of the picture, all bar (235) when
    // it stands, at most the gradient's brightest (195) with a little bar when it lies.
    double brightest = 0;
    for (int x = a.X; x < a.X + a.W; ++x)
      brightest = std::max(brightest, picture.Mean(x, a.Y + a.H / 4, 1, a.H * 3 / 4 - 1));
    if (c.UprightBar) {
      EXPECT_GT(brightest, 215) << "an upright bar";
    } else {
      EXPECT_LT(brightest, 215) << "a lying bar";
    }
  }

  // The authoring tool of the disc takes the file without a word of complaint.
  void CheckDisc(const std::string& profile, const std::string& path) {
    const int target = TargetTypeOfProfile(profile);
    if (target == 0) return;
    const std::string work = Dir.File("judged-" + std::to_string(++Judged));
    std::filesystem::create_directories(work);
    const test::TJudgement verdict =
        target == 3 ? test::JudgeDvd(path, work) : test::JudgeVcd("vcd2", path, work);
    ASSERT_TRUE(verdict.Ran) << "the authoring tool did not run";
    EXPECT_EQ(verdict.ExitCode, 0) << verdict.Output;
    EXPECT_TRUE(verdict.Complaints.empty()) << verdict.Output;
  }

  std::vector<TProfile> Profiles;
  test::TTempDir Dir;
  int Judged = 0;
};

// A phone held upright stores its pictures on their side with a display matrix: the
// output shows them upright, in their turned shape (bars beside them on a 4:3 disc, a
// frame of their own shape in MP4); "autorotate=0" keeps them as stored.
TEST_F(Recordings, TurnedPicturesComeOutUpright) {
  const std::vector<TCase> cases = {
      {"rotate_90.mp4", {kDvd, kVcd, kIpod}, 96.0 / 160},
      {"rotate_180.mp4", {kDvd, kIpod}, 160.0 / 96},
      {"rotate_270.mp4", {kDvd, kIpod}, 96.0 / 160},
      {.Input = "rotate_90.mp4",
       .Profiles = {kIpod},
       .Aspect = 160.0 / 96,
       .Mark = TCorner::BottomLeft,
       .UprightBar = false,
       .Options = "autorotate=0\n"},
  };
  for (const TCase& c : cases) Check(c);
}

// 10-bit, 4:2:2 and 4:4:4 recordings become what each profile allows: 8-bit 4:2:0 for
// Baseline and High, and for the discs.
TEST_F(Recordings, EveryPixelFormatConvertsToWhatTheProfileAllows) {
  const std::vector<TCase> cases = {
      {"h264_10bit.mp4", {kDvd, kIpod, kPhone}, 4.0 / 3},
      {"h264_444.mp4", {kDvd, kIpod}, 4.0 / 3},
      {"webcam_422.avi", {kVcd, kIpod}, 4.0 / 3},
  };
  for (const TCase& c : cases) Check(c);
}

// A pixel format asked for that the profile does not allow is refused with the profile
// as the reason, not with the encoder's "Error setting profile".
TEST_F(Recordings, APixelFormatTheProfileRefusesIsExplained) {
  if (!HasH264Encoder()) GTEST_SKIP() << "no libx264 encoder in these libraries";
  const std::string input = test::Fixture("webcam_422.avi");
  TOutputOptions options = Options(kIpod, input);
  options.ExtraOptions += "pix_fmt=yuv422p\n";
  TFFEncoder encoder;
  const int task = encoder.AddTask(input, nullptr);
  ASSERT_GE(task, 0) << encoder.LastError();
  EXPECT_FALSE(encoder.SetOutputFile(task, options.FileName, &options));
  EXPECT_NE(encoder.LastError().find("the H.264 profile baseline takes 8-bit 4:2:0 pictures"),
            std::string::npos)
      << encoder.LastError();
}

// A download's thumbnail does not replace its video; a song's album art is shown for the
// whole song.
TEST_F(Recordings, CoverPicturesStandInOnlyForMissingVideo) {
  const std::vector<TCase> cases = {
      {"thumbnail.mp4", {kDvd, kVcd, kIpod}, 16.0 / 9},
      {.Input = "song_cover.mp3",
       .Profiles = {kDvd, kVcd, kIpod},
       .Aspect = 1,
       .Content = TContent::Cover},
  };
  for (const TCase& c : cases) Check(c);
}

// The sound the file marks as its default is taken, even when it is not the first; a map
// still chooses another.
TEST_F(Recordings, TheDefaultSoundStreamIsTaken) {
  const std::vector<TCase> cases = {
      {.Input = "two_languages.mkv",
       .Profiles = {kDvd, kIpod},
       .Aspect = 4.0 / 3,
       .Mark = TCorner::None,
       .Pitch = 880},
      {.Input = "two_languages.mkv",
       .Profiles = {kDvd},
       .Aspect = 4.0 / 3,
       .Mark = TCorner::None,
       .Pitch = 440,
       .Options = "map=0:0\nmap=0:1\n"},
  };
  for (const TCase& c : cases) Check(c);
}

}  // namespace
}  // namespace tovamo
