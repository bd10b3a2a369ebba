// Every generated file converted for a disc: VCD, SVCD and DVD, PAL and NTSC, 4:3, 16:9
// and the aspect left to the input. The outputs are read back and held against what each
// disc standard requires, and handed to the authoring tools, which must take them without
// a warning.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "Engine/FFmpeg.h"
#include "Services/FFBindings.h"
#include "support/DiscJudges.h"
#include "support/EngineJob.h"
#include "support/LogCapture.h"
#include "support/MediaProbe.h"
#include "support/TestSupport.h"

namespace tovamo {
namespace {

using test::ProbeMedia;
using test::TEndWaiter;
using test::TMediaInfo;

struct TDisc {
  const char* Target;
  const char* VideoCodec;
  int Width, PalHeight, NtscHeight;
  const char* AudioCodec;
  int SampleRate;
  std::int64_t AudioBitRate;
  int PacketSize;     // bytes from one pack to the next
  int MuxRate;        // in the pack header's units of 50 bytes per second; 0: not fixed
  bool StereoAtMost;  // the audio codec carries at most two channels
};

const TDisc kDiscs[] = {
    {"vcd", "mpeg1video", 352, 288, 240, "mp2", 44100, 224000, 2324, 1411200 / 400, true},
    {"svcd", "mpeg2video", 480, 576, 480, "mp2", 44100, 224000, 2324, 0, true},
    {"dvd", "mpeg2video", 720, 576, 480, "ac3", 48000, 448000, 2048, 10080000 / 400, false},
};

// The pack headers of an MPEG program stream: where each starts and its mux rate field.
struct TPacks {
  std::vector<std::size_t> Offsets;
  int MuxRate = -1;
};

TPacks ReadPacks(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), {});
  TPacks packs;
  for (std::size_t i = 0; i + 13 < bytes.size(); ++i) {
    if (bytes[i] != 0 || bytes[i + 1] != 0 || bytes[i + 2] != 1 || uint8_t(bytes[i + 3]) != 0xBA)
      continue;
    packs.Offsets.push_back(i);
    if (packs.MuxRate < 0) {
      const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data() + i + 4);
      if ((p[0] & 0xC0) == 0x40)  // MPEG-2 pack header
        packs.MuxRate = (p[6] << 14) | (p[7] << 6) | (p[8] >> 2);
      else  // MPEG-1
        packs.MuxRate = ((p[5] & 0x7F) << 15) | (p[6] << 7) | (p[7] >> 1);
    }
  }
  return packs;
}

enum class TAspect { Input, Standard, Wide };  // Input: no aspect given

struct TCase {
  std::string Input;
  int Disc;  // into kDiscs
  bool Pal;
  TAspect Aspect;
};

// Generated media, or the few real-world samples kept with the tests.
std::string InputPath(const std::string& name) {
  const std::string kept = std::string(TOVAMO_TEST_MEDIA_DIR) + "/" + name;
  return std::filesystem::exists(kept) ? kept : test::Fixture(name);
}

// The aspect a disc output must show: a VCD is 4:3; otherwise the one asked for, or the
// one of 4:3 and 16:9 nearer to the input's display aspect.
double ExpectedAspect(const TCase& c, const TMediaInfo& source) {
  if (std::string(kDiscs[c.Disc].Target) == "vcd" || c.Aspect == TAspect::Standard) return 4.0 / 3;
  if (c.Aspect == TAspect::Wide) return 16.0 / 9;
  const int v = source.StreamOfType(AVMEDIA_TYPE_VIDEO);
  const double input = v >= 0 ? source.Streams[v].DisplayAspect() : 0;
  if (input <= 0) return std::string(kDiscs[c.Disc].Target) == "dvd" ? 16.0 / 9 : 4.0 / 3;
  return std::fabs(std::log(input / (4.0 / 3))) <= std::fabs(std::log(input / (16.0 / 9)))
             ? 4.0 / 3
             : 16.0 / 9;
}

// The first and the last timestamp of a stream's packets, in seconds.
std::pair<double, double> Times(const TMediaInfo& media, int stream) {
  std::int64_t first = INT64_MAX, last = INT64_MIN;
  for (const auto& p : media.PacketsOf(stream)) {
    const std::int64_t t = p.Pts != INT64_MIN ? p.Pts : p.Dts;
    if (t == INT64_MIN) continue;
    first = std::min(first, t);
    last = std::max(last, t);
  }
  if (last < first) return {0, 0};
  return {double(first) / 1e6, double(last) / 1e6};
}

double Span(const TMediaInfo& media, int stream) {
  const auto [first, last] = Times(media, stream);
  return last - first;
}

// Lines of a judge's account, for a failure message.
std::string Lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += "\n  " + line;
  return text;
}

// The tags of the user data in an MPEG video stream (start code 0x000001B2) that are not
// the disc's own, each once a line: "JP3D" (a stereo tag), "GA94" (captions).
std::string SourceUserData(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), {});
  const std::string start("\x00\x00\x01\xB2", 4);
  std::string found;
  for (std::size_t at = bytes.find(start); at != std::string::npos && at + 8 <= bytes.size();
       at = bytes.find(start, at + 4)) {
    const std::string tag = bytes.substr(at + 4, 4);
    if ((tag == "JP3D" || tag == "GA94") && found.find(tag) == std::string::npos)
      found += tag + "\n";
  }
  return found;
}

// Inputs that once gave outputs the authoring tools refused or that played wrong, each made
// into every disc: with their true length where their headers or times mislead a reader
// about it, and the log line their conversion must give.
struct TAwkwardInput {
  const char* File;
  double Seconds;   // 0: as the file's own times say
  const char* Log;  // or null
};
const TAwkwardInput kAwkwardInputs[] = {
    {"square_576.avi", 0, nullptr},  // square pixels, 5:4
    {"square_240.mpg", 0, nullptr},  // square pixels, 22:15
    {"sample.3gp", 0, nullptr},      // a phone's 176x144
    {"sample.wmv", 0, nullptr},      // millisecond times of ASF, FLV, RealMedia and WebM
    {"sample.flv", 0, nullptr},
    {"sample.rm", 0, nullptr},
    {"sample.webm", 0, nullptr},
    {"vcd_ntsc_track.dat", 4.0, nullptr},  // decoding times that step back
    {"jump_hours.mkv", 2.0, "stepped over"},
    {"audio_untimed.mpg", 2.0, nullptr},
    {"hdv_user_data.ts", 0, nullptr},  // captions and a stereo tag in its pictures' user data
};

const TAwkwardInput* AwkwardInput(const std::string& file) {
  for (const TAwkwardInput& input : kAwkwardInputs)
    if (file == input.File) return &input;
  return nullptr;
}

class DiscTargets : public ::testing::TestWithParam<TCase> {
 protected:
  void SetUp() override { test::LoadSystemLibraries(); }
  test::TTempDir Dir;
};

TEST_P(DiscTargets, TheOutputIsWhatTheDiscRequires) {
  const TCase c = GetParam();
  const TDisc& disc = kDiscs[c.Disc];
  const std::string in = InputPath(c.Input);
  const std::string out = Dir.File("disc.mpg");
  test::TLogCapture log;
  TFFmpeg engine(2);
  TEndWaiter waiter(engine);
  ASSERT_TRUE(engine.OpenInputFile(in)) << engine.LastError;
  engine.SetTarget(disc.Target, c.Pal ? "pal" : "ntsc", "pal");
  if (c.Aspect != TAspect::Input)
    engine.ParseOption("aspect", c.Aspect == TAspect::Wide ? "16:9" : "4:3");
  ASSERT_EQ(engine.AddOutputFile(out, false), 1) << engine.LastError;
  const auto result = waiter.Run();
  ASSERT_TRUE(result.Finished) << result.Message;

  const TMediaInfo source = ProbeMedia(in);
  const TMediaInfo media = ProbeMedia(out);
  ASSERT_TRUE(media.Opened);
  EXPECT_EQ(media.Format, "mpeg");
  const double frame = c.Pal ? 1.0 / 25 : 1001.0 / 30000;
  const TAwkwardInput* awkward = AwkwardInput(c.Input);
  const double known = awkward ? awkward->Seconds : 0;
  double length = source.Duration != INT64_MIN ? double(source.Duration) / 1e6 : -1;
  if (known > 0) length = known;
  if (awkward && awkward->Log) {
    EXPECT_FALSE(log.Containing(awkward->Log).empty());
  }

  const int v = media.StreamOfType(AVMEDIA_TYPE_VIDEO);
  if (source.StreamOfType(AVMEDIA_TYPE_VIDEO) >= 0) {
    ASSERT_GE(v, 0);
    const auto& s = media.Streams[v];
    EXPECT_EQ(s.Codec, disc.VideoCodec);
    EXPECT_EQ(s.Width, disc.Width);
    EXPECT_EQ(s.Height, c.Pal ? disc.PalHeight : disc.NtscHeight);
    EXPECT_NEAR(double(s.RateNum) / s.RateDen, 1.0 / frame, 0.01);
    // MPEG-1 picks its pixel aspect from a short table: near enough is what it can do.
    EXPECT_NEAR(s.DisplayAspect(), ExpectedAspect(c, source),
                std::string(disc.VideoCodec) == "mpeg1video" ? 0.05 : 0.01);
  } else {
    EXPECT_LT(v, 0);
  }
  const int a = media.StreamOfType(AVMEDIA_TYPE_AUDIO);
  const int sourceAudio = source.StreamOfType(AVMEDIA_TYPE_AUDIO);
  if (sourceAudio >= 0) {
    ASSERT_GE(a, 0);
    const auto& s = media.Streams[a];
    EXPECT_EQ(s.Codec, disc.AudioCodec);
    EXPECT_EQ(s.SampleRate, disc.SampleRate);
    EXPECT_EQ(s.BitRate, disc.AudioBitRate);
    const int channels = source.Streams[sourceAudio].Channels;
    EXPECT_EQ(s.Channels, std::string(disc.Target) == "vcd" ? 2
                          : disc.StereoAtMost               ? std::min(std::max(channels, 2), 2)
                                                            : std::max(channels, 2));
  } else {
    EXPECT_LT(a, 0);
  }

  // The muxer: its packet size, and its mux rate where the disc fixes one.
  // The encoder's buffer size reaches the muxer, which writes it into the headers.
  EXPECT_TRUE(log.Containing("VBV buffer size not set").empty());
  const TPacks packs = ReadPacks(out);
  ASSERT_GT(packs.Offsets.size(), 2u);
  // Packs start on sector boundaries (a VCD may hold empty sectors between them).
  for (std::size_t offset : packs.Offsets) ASSERT_EQ(offset % disc.PacketSize, 0u) << offset;
  if (disc.MuxRate) {
    EXPECT_EQ(packs.MuxRate, disc.MuxRate);
  }

  // As long as the input, and the streams start together.
  if (length > 0) {
    EXPECT_NEAR(double(media.Duration) / 1e6, length, 2 * frame + 0.03);
  }
  // Timestamps only move forward: the audio's one frame after the other, the video's in
  // coding order. As many pictures as the input's pictures last, and as much sound.
  const int sourceVideo = source.StreamOfType(AVMEDIA_TYPE_VIDEO);
  if (v >= 0) {
    const auto packets = media.PacketsOf(v);
    for (std::size_t i = 1; i < packets.size(); ++i) {
      if (packets[i].Dts != INT64_MIN && packets[i - 1].Dts != INT64_MIN) {
        ASSERT_GT(packets[i].Dts, packets[i - 1].Dts) << "video packet " << i;
      }
    }
    // Pictures from the start of the input (sound may come first) to its last picture.
    const auto& in = source.Streams[sourceVideo];
    const double inFrame = in.RateNum > 0 ? double(in.RateDen) / in.RateNum : frame;
    const auto [first, last] = Times(source, sourceVideo);
    double begin = first;
    // An encoder's priming samples lie before the stream's start: the stream's own start.
    if (sourceAudio >= 0 && source.Streams[sourceAudio].StartTime != INT64_MIN)
      begin = std::min(begin, double(source.Streams[sourceAudio].StartTime) / 1e6);
    EXPECT_NEAR(double(packets.size()) * frame, known > 0 ? known : last + inFrame - begin,
                3 * frame + 0.03);
  }
  if (a >= 0) {
    const auto packets = media.PacketsOf(a);
    for (std::size_t i = 1; i < packets.size(); ++i) {
      if (packets[i].Pts != INT64_MIN && packets[i - 1].Pts != INT64_MIN) {
        ASSERT_GT(packets[i].Pts, packets[i - 1].Pts) << "audio packet " << i;
      }
    }
    // The input's packets may hold a few tenths of a second each.
    const double frameLength =
        std::string(disc.AudioCodec) == "ac3" ? 1536.0 / 48000 : 1152.0 / 44100;
    EXPECT_NEAR(Span(media, a), known > 0 ? known : Span(source, sourceAudio),
                2 * frameLength + 0.3);
  }

  // No user data of the source's: only a disc's own (an SVCD's scan offsets, tag 0x10).
  EXPECT_EQ(SourceUserData(out), "");

  // The authoring tools take the file without a word of complaint. A disc plays pictures:
  // neither takes a file of sound alone.
  if (v < 0) return;
  const test::TJudgement judged =
      std::string(disc.Target) == "dvd"
          ? test::JudgeDvd(out, Dir.Path().string())
          : test::JudgeVcd(std::string(disc.Target) == "vcd" ? "vcd2" : "svcd", out,
                           Dir.Path().string());
  ASSERT_TRUE(judged.Ran) << "the authoring tool did not run";
  EXPECT_EQ(judged.ExitCode, 0) << judged.Output;
  EXPECT_TRUE(judged.Complaints.empty()) << Lines(judged.Complaints);

  // Sound and picture start together. WMA's decoder gives its first samples one frame
  // after the container says they start (its overlap), and that lag stays: a known gap.
  if (v >= 0 && a >= 0) {
    const bool wma = source.Streams[sourceAudio].Codec.rfind("wma", 0) == 0;
    EXPECT_NEAR(double(media.Streams[v].StartTime - media.Streams[a].StartTime) / 1e6, 0,
                wma ? 3 * frame : frame);
  }
}

std::vector<TCase> Cases() {
  std::vector<TCase> cases;
  // Every combination on one file...
  for (int disc = 0; disc < 3; ++disc)
    for (bool pal : {true, false})
      for (TAspect aspect : {TAspect::Standard, TAspect::Wide})
        cases.push_back({"sample.mpg", disc, pal, aspect});
  // ...and every other file once, the combinations taken in turn.
  const char* files[] = {
      "sample.avi",      "sample.mpeg",       "sample.dat",        "sample.asf",
      "sample.wmv",      "sample.mov",        "sample.qt",         "sample.flv",
      "sample.mp4",      "sample.3gp",        "sample.rm",         "sample.rmvb",
      "sample.swf",      "sample_16x9.mp4",   "odd_size.avi",      "ntsc_29_97.mpg",
      "rate_15.avi",     "long_5s.mpg",       "audio_48k_6ch.mp4", "audio_only.wav",
      "audio_only.mp2",  "audio_8k_mono.wav", "video_only.avi",    "sample.webm",
      "square_576.avi",  "square_240.mpg",    "bframes.avi",       "far_start.ts",
      "audio_first.mkv", "vfr.mkv",           "no_duration.mkv",   "interlaced.mpg",
      "two_audio.mkv",   "subtitle.mkv",      "lying_ext.avi",     "truncated.mpg"};
  int n = 0;
  for (const char* file : files) {
    cases.push_back(
        {file, n % 3, (n / 3) % 2 == 0, (n / 6) % 2 == 1 ? TAspect::Wide : TAspect::Standard});
    ++n;
  }
  // ...and once more with the aspect left to the input, on another target (the inputs
  // below go to every target that way).
  n = 0;
  for (const char* file : files) {
    if (!AwkwardInput(file)) cases.push_back({file, (n + 1) % 3, (n / 3) % 2 == 1, TAspect::Input});
    ++n;
  }
  // Inputs that once gave outputs the authoring tools refused, each to every target.
  for (const TAwkwardInput& input : kAwkwardInputs)
    for (int disc = 0; disc < 3; ++disc)
      for (bool pal : {true, false}) cases.push_back({input.File, disc, pal, TAspect::Input});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Generated, DiscTargets, ::testing::ValuesIn(Cases()),
                         [](const auto& info) {
                           const TCase& c = info.param;
                           // The target first: one test process runs each target.
                           std::string name = std::string(kDiscs[c.Disc].Target) +
                                              (c.Pal ? "_pal" : "_ntsc") +
                                              (c.Aspect == TAspect::Input  ? "_auto_"
                                               : c.Aspect == TAspect::Wide ? "_16x9_"
                                                                           : "_4x3_") +
                                              c.Input;
                           for (char& ch : name)
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return name;
                         });

// Every target codes B-pictures by default, and every picture keeps its presentation time:
// a still picture codes tiny ones, several of which share a program stream packet, whose
// header carries the time of the first only. A reader works out the others from those
// around them, but not for the last pictures of the stream: those once lost their time.
class DiscPictures : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override { test::LoadSystemLibraries(); }
  test::TTempDir Dir;
};

TEST_P(DiscPictures, BPicturesAndATimeForEveryPicture) {
  const TDisc& disc = kDiscs[GetParam()];
  const std::string out = Dir.File("disc.mpg");
  TFFmpeg engine(2);
  TEndWaiter waiter(engine);
  ASSERT_TRUE(engine.OpenInputFile(test::Fixture("one_fps.mkv"))) << engine.LastError;
  engine.SetTarget(disc.Target, "pal", "pal");
  engine.ParseOption("t", "2");
  ASSERT_EQ(engine.AddOutputFile(out, false), 1) << engine.LastError;
  ASSERT_TRUE(waiter.Run().Finished);

  const std::string types = test::PictureTypes(out);
  EXPECT_EQ(types.size(), 50u);
  EXPECT_GE(std::count(types.begin(), types.end(), 'B'), 20) << types;
  const TMediaInfo media = ProbeMedia(out);
  const int v = media.StreamOfType(AVMEDIA_TYPE_VIDEO);
  ASSERT_GE(v, 0);
  const auto packets = media.PacketsOf(v);
  EXPECT_EQ(packets.size(), types.size());
  // The pictures the encoder gave out last, as the input ended, carry their own time.
  for (std::size_t i = packets.size() - 3; i < packets.size(); ++i)
    EXPECT_NE(packets[i].Pts, INT64_MIN) << "picture " << i << " of " << types;
  // Decoded, every picture has a time, each later than the one before.
  const std::vector<std::int64_t> times = test::PictureTimes(out);
  ASSERT_EQ(times.size(), types.size());
  for (std::size_t i = 0; i < times.size(); ++i) {
    EXPECT_NE(times[i], AV_NOPTS_VALUE) << "picture " << i << " of " << types;
    if (i > 0) {
      EXPECT_GT(times[i], times[i - 1]) << "picture " << i << " of " << types;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Targets, DiscPictures, ::testing::Range(0, 3),
                         [](const auto& info) { return std::string(kDiscs[info.param].Target); });

}  // namespace
}  // namespace tovamo
