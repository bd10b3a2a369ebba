// Stream copy end to end on real worker threads: every generated file copied into a
// container of its kind holds the same packets, and the limits, joins, stops and maps of a
// job show in what is written.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <thread>

#include "Engine/FFmpeg.h"
#include "Services/FFBindings.h"
#include "Services/FFLoad.h"
#include "support/EngineJob.h"
#include "support/LogCapture.h"
#include "support/MediaProbe.h"
#include "support/TestSupport.h"

namespace tovamo {
namespace {

using namespace std::chrono_literals;
using test::ProbeMedia;
using test::TEndWaiter;
using test::TMediaInfo;
using test::TPacketInfo;
namespace fs = std::filesystem;

class StreamCopy : public ::testing::Test {
 protected:
  void SetUp() override { test::LoadSystemLibraries(); }
  test::TTempDir Dir;
};

void CopyAll(TCustomFFmpeg& engine) {
  engine.ParseOption("vcodec", "copy");
  engine.ParseOption("acodec", "copy");
  engine.ParseOption("scodec", "copy");
}

// Per stream, the output holds the input's packets: same count, same bytes, and
// timestamps moved by one offset for the whole file.
void ExpectSamePackets(const TMediaInfo& in, const TMediaInfo& out, std::int64_t tolerance,
                       bool audioTimesImplied = false, bool repacked = false) {
  ASSERT_EQ(in.Streams.size(), out.Streams.size());
  std::int64_t offset = INT64_MIN;
  for (int s = 0; s < int(in.Streams.size()); ++s) {
    const auto a = in.PacketsOf(s);
    const auto b = out.PacketsOf(s);
    ASSERT_EQ(a.size(), b.size()) << "stream " << s;
    for (std::size_t i = 0; i < a.size(); ++i) {
      if (!repacked) {
        EXPECT_EQ(a[i].Crc, b[i].Crc) << "stream " << s << " packet " << i;
      }
      if (a[i].Dts == INT64_MIN || b[i].Dts == INT64_MIN) continue;
      if (audioTimesImplied && in.Streams[s].Type == AVMEDIA_TYPE_AUDIO) continue;
      if (offset == INT64_MIN) offset = b[i].Dts - a[i].Dts;
      EXPECT_NEAR(double(b[i].Dts - a[i].Dts), double(offset), double(tolerance))
          << "stream " << s << " packet " << i;
    }
  }
}

struct TCopyCase {
  const char* Input;
  const char* Output;
  // AVI keeps no audio times: they follow from the byte count, so a gap in the source's
  // audio closes up in the copy.
  bool AudioTimesImplied = false;
  bool AllAudioStreams = false;  // add a stream per audio stream of the input
  bool Repacked = false;         // the muxer re-slices the payload: count and times only
};

class StreamCopyOfEveryKind : public StreamCopy, public ::testing::WithParamInterface<TCopyCase> {};

TEST_P(StreamCopyOfEveryKind, HoldsTheSamePackets) {
  const TCopyCase c = GetParam();
  const std::string in = test::Fixture(c.Input);
  const std::string out = Dir.File(c.Output);
  TFFmpeg engine(4);
  TEndWaiter waiter(engine);
  ASSERT_TRUE(engine.OpenInputFile(in)) << engine.LastError;
  CopyAll(engine);
  ASSERT_EQ(engine.AddOutputFile(out, false), 1) << engine.LastError;
  if (c.AllAudioStreams) {
    engine.ParseOption("acodec", "copy");
    engine.ParseOption("newaudio", "");
  }
  const auto result = waiter.Run();
  ASSERT_TRUE(result.Ended);
  EXPECT_TRUE(result.Finished) << result.Message;
  EXPECT_FALSE(result.Error) << result.Message;
  const TMediaInfo a = ProbeMedia(in);
  const TMediaInfo b = ProbeMedia(out);
  ASSERT_TRUE(b.Opened) << out;
  // Containers store times in their own units: a millisecond clock rounds each time.
  ExpectSamePackets(a, b, 1100, c.AudioTimesImplied, c.Repacked);
}

INSTANTIATE_TEST_SUITE_P(
    Generated, StreamCopyOfEveryKind,
    ::testing::Values(
        TCopyCase{"sample.avi", "copy.avi", true}, TCopyCase{"sample.mpg", "copy.mpg"},
        TCopyCase{"sample.dat", "copy.mpg"}, TCopyCase{"sample.asf", "copy.asf"},
        TCopyCase{"sample.wmv", "copy.wmv"}, TCopyCase{"sample.mov", "copy.mov"},
        TCopyCase{"sample.qt", "copy.mov"}, TCopyCase{"sample.flv", "copy.flv"},
        TCopyCase{"sample.mp4", "copy.mp4"}, TCopyCase{"sample.3gp", "copy.3gp"},
        // The RealMedia muxer repacks video frames into its own slices.
        TCopyCase{"sample.rm", "copy.rm", false, false, true},
        TCopyCase{"sample.rmvb", "copy.rm", false, false, true},
        TCopyCase{"sample_16x9.mp4", "copy.mp4"}, TCopyCase{"odd_size.avi", "copy.avi", true},
        TCopyCase{"ntsc_29_97.mpg", "copy.mpg"}, TCopyCase{"audio_48k_6ch.mp4", "copy.mp4"},
        TCopyCase{"audio_only.wav", "copy.wav"}, TCopyCase{"audio_only.mp2", "copy.mp2"},
        TCopyCase{"video_only.avi", "copy.avi", true}, TCopyCase{"bframes.avi", "copy.avi", true},
        TCopyCase{"far_start.ts", "copy.ts"}, TCopyCase{"audio_first.mkv", "copy.mkv"},
        TCopyCase{"vfr.mkv", "copy.mkv"}, TCopyCase{"interlaced.mpg", "copy.mpg"},
        TCopyCase{"two_audio.mkv", "copy.mkv", false, true}, TCopyCase{"subtitle.mkv", "copy.mkv"},
        TCopyCase{"lying_ext.avi", "copy.mpg"}),
    [](const auto& info) {
      std::string name = info.param.Input;
      for (char& ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return name;
    });

}  // namespace
}  // namespace tovamo
