// Every generated file converted for a disc: VCD, SVCD and DVD, PAL and NTSC, 4:3 and
// 16:9. The outputs are read back and held against what each disc standard requires.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>

#include "Engine/FFmpeg.h"
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

struct TCase {
  std::string Input;
  int Disc;  // into kDiscs
  bool Pal;
  bool Wide;
};

class DiscTargets : public ::testing::TestWithParam<TCase> {
 protected:
  void SetUp() override { test::LoadSystemLibraries(); }
  test::TTempDir Dir;
};

TEST_P(DiscTargets, TheOutputIsWhatTheDiscRequires) {
  const TCase c = GetParam();
  const TDisc& disc = kDiscs[c.Disc];
  const std::string in = test::Fixture(c.Input);
  const std::string out = Dir.File("disc.mpg");
  test::TLogCapture log;
  TFFmpeg engine(2);
  TEndWaiter waiter(engine);
  ASSERT_TRUE(engine.OpenInputFile(in)) << engine.LastError;
  engine.SetTarget(disc.Target, c.Pal ? "pal" : "ntsc", "pal");
  engine.ParseOption("aspect", c.Wide ? "16:9" : "4:3");
  ASSERT_EQ(engine.AddOutputFile(out, false), 1) << engine.LastError;
  const auto result = waiter.Run();
  ASSERT_TRUE(result.Finished) << result.Message;

  const TMediaInfo source = ProbeMedia(in);
  const TMediaInfo media = ProbeMedia(out);
  ASSERT_TRUE(media.Opened);
  EXPECT_EQ(media.Format, "mpeg");
  const double frame = c.Pal ? 1.0 / 25 : 1001.0 / 30000;

  const int v = media.StreamOfType(AVMEDIA_TYPE_VIDEO);
  if (source.StreamOfType(AVMEDIA_TYPE_VIDEO) >= 0) {
    ASSERT_GE(v, 0);
    const auto& s = media.Streams[v];
    EXPECT_EQ(s.Codec, disc.VideoCodec);
    EXPECT_EQ(s.Width, disc.Width);
    EXPECT_EQ(s.Height, c.Pal ? disc.PalHeight : disc.NtscHeight);
    EXPECT_NEAR(double(s.RateNum) / s.RateDen, 1.0 / frame, 0.01);
    // MPEG-1 picks its pixel aspect from a short table: near enough is what it can do.
    EXPECT_NEAR(s.DisplayAspect(), c.Wide ? 16.0 / 9 : 4.0 / 3,
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
  if (source.Duration != INT64_MIN) {
    EXPECT_NEAR(double(media.Duration) / 1e6, double(source.Duration) / 1e6, 2 * frame + 0.03);
  }
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
      for (bool wide : {false, true}) cases.push_back({"sample.mpg", disc, pal, wide});
  // ...and every other file once, the combinations taken in turn.
  const char* files[] = {
      "sample.avi",     "sample.mpeg",       "sample.dat",        "sample.asf",
      "sample.wmv",     "sample.mov",        "sample.qt",         "sample.flv",
      "sample.mp4",     "sample.3gp",        "sample.rm",         "sample.rmvb",
      "sample.swf",     "sample_16x9.mp4",   "odd_size.avi",      "ntsc_29_97.mpg",
      "rate_15.avi",    "long_5s.mpg",       "audio_48k_6ch.mp4", "audio_only.wav",
      "audio_only.mp2", "audio_8k_mono.wav", "video_only.avi",    "bframes.avi",
      "far_start.ts",   "audio_first.mkv",   "vfr.mkv",           "no_duration.mkv",
      "interlaced.mpg", "two_audio.mkv",     "subtitle.mkv",      "lying_ext.avi",
      "truncated.mpg"};
  int n = 0;
  for (const char* file : files) {
    cases.push_back({file, n % 3, (n / 3) % 2 == 0, (n / 6) % 2 == 1});
    ++n;
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Generated, DiscTargets, ::testing::ValuesIn(Cases()),
                         [](const auto& info) {
                           const TCase& c = info.param;
                           std::string name = c.Input + "_" + kDiscs[c.Disc].Target +
                                              (c.Pal ? "_pal" : "_ntsc") +
                                              (c.Wide ? "_16x9" : "_4x3");
                           for (char& ch : name)
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return name;
                         });

}  // namespace
}  // namespace tovamo
