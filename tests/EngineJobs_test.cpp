// Whole jobs on generated media, judged by reading the outputs back: time limits, joins,
// jobs side by side, metadata, stream maps, and bad input of every kind.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "Engine/FFmpeg.h"
#include "Services/FFBindings.h"
#include "Services/FFUtils.h"
#include "support/EngineJob.h"
#include "support/LogCapture.h"
#include "support/MediaProbe.h"
#include "support/TestSupport.h"
#include "support/Watchdog.h"

namespace tovamo {
namespace {

using test::ProbeMedia;
using test::TEndWaiter;
using test::TMediaInfo;
namespace fs = std::filesystem;

class EngineJobs : public ::testing::Test {
 protected:
  void SetUp() override { test::LoadSystemLibraries(); }
  test::TTempDir Dir;
};

void CopyStreams(TCustomFFmpeg& engine) {
  engine.ParseOption("vcodec", "copy");
  engine.ParseOption("acodec", "copy");
}

// Length of what a file holds: from its first to the end of its last video packet.
double VideoSpanSeconds(const TMediaInfo& media) {
  const int v = media.StreamOfType(AVMEDIA_TYPE_VIDEO);
  const auto packets = media.PacketsOf(v);
  if (packets.empty()) return 0;
  std::int64_t first = INT64_MAX, last = INT64_MIN;
  for (const auto& p : packets) {
    if (p.Dts == INT64_MIN) continue;
    first = std::min(first, p.Dts);
    last = std::max(last, p.Dts);
  }
  return double(last - first) / 1e6 + 0.04;  // one frame at 25 fps
}

// Values at the ends of their ranges reach sums and products in the job; each must be held,
// not wrapped (the sanitizer build checks the arithmetic): the job converts, or the encoder
// refuses the value with its reason.
TEST_F(EngineJobs, OptionValuesAtTheirLimitsAreHeldNotWrapped) {
  const struct {
    const char* Option;
    const char* Value;
    bool Converts;
  } cases[] = {{"t", "9223372036854", true},  // with the input's start below: past 2^63
               {"bufsize", "2000000000", false},
               {"rc_override", "0,10,-2147483648", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Option) + "=" + c.Value);
    TFFmpeg engine(2);
    TEndWaiter waiter(engine);
    engine.SetInputStartTime(1000000);
    ASSERT_TRUE(engine.OpenInputFile(test::Fixture("long_5s.mpg"))) << engine.LastError;
    engine.ParseOption("vcodec", "mpeg2video");
    engine.ParseOption(c.Option, c.Value);
    const std::string out = Dir.File("limits.mpg");
    ASSERT_EQ(engine.AddOutputFile(out, false), 1) << engine.LastError;
    const auto result = waiter.Run();
    if (!c.Converts) {
      EXPECT_NE(result.Message.find("Error while opening encoder"), std::string::npos)
          << result.Message;
      continue;
    }
    ASSERT_TRUE(result.Finished) << result.Message;
    EXPECT_NEAR(VideoSpanSeconds(ProbeMedia(out)), 4.0, 0.3);
  }
}

TEST_F(EngineJobs, TimeLimitsCutTheCopy) {
  struct TCase {
    const char* Name;
    std::int64_t InputStart;  // "ss" given with the input
    const char* Duration;     // "t"
    double Seconds;           // expected length of the copy
  };
  for (const TCase& c : {TCase{"t 1.5", 0, "1.5", 1.5}, TCase{"ss 2", 2000000, nullptr, 3.0},
                         TCase{"ss 1 and t 2", 1000000, "2", 2.0}}) {
    SCOPED_TRACE(c.Name);
    TFFmpeg engine(2);
    TEndWaiter waiter(engine);
    if (c.InputStart) engine.SetInputStartTime(c.InputStart);
    ASSERT_TRUE(engine.OpenInputFile(test::Fixture("long_5s.mpg"))) << engine.LastError;
    CopyStreams(engine);
    if (c.Duration) engine.ParseOption("t", c.Duration);
    const std::string out = Dir.File("limited.mpg");
    ASSERT_EQ(engine.AddOutputFile(out, false), 1) << engine.LastError;
    const auto result = waiter.Run();
    ASSERT_TRUE(result.Finished) << result.Message;
    const TMediaInfo media = ProbeMedia(out);
    ASSERT_TRUE(media.Opened);
    // A copy starts at a key frame, so it may begin up to a group of pictures early.
    EXPECT_NEAR(VideoSpanSeconds(media), c.Seconds, 0.6);
    const auto& packets = media.Packets;
    ASSERT_FALSE(packets.empty());
  }
}

TEST_F(EngineJobs, JoinWritesTheInputsOneAfterAnotherIntoOneOutput) {
  TFFmpeg engine(4);
  TEndWaiter waiter(engine);
  ASSERT_TRUE(engine.OpenInputFile(test::Fixture("sample.mpg")));
  ASSERT_TRUE(engine.OpenInputFile(test::Fixture("ntsc_29_97.mpg")));
  CopyStreams(engine);
  const std::string out = Dir.File("joined.mpg");
  ASSERT_EQ(engine.AddOutputFile(out, true), 1) << engine.LastError;
  EXPECT_TRUE(engine.JoinMode);
  engine.JoinSetup();
  EXPECT_EQ(engine.OutputFileCount, 2);
  EXPECT_EQ(engine.OutputFiles[0], engine.OutputFiles[1]);
  const TMediaInfo a = ProbeMedia(test::Fixture("sample.mpg"));
  const TMediaInfo b = ProbeMedia(test::Fixture("ntsc_29_97.mpg"));
  EXPECT_EQ(engine.RequestedDuration, a.Duration + b.Duration);
  EXPECT_EQ(engine.AddOutputFile(Dir.File("second.mpg"), false), -1);
  EXPECT_EQ(engine.LastError, "Cannot join more than one output file.");

  const auto result = waiter.Run();
  ASSERT_TRUE(result.Finished) << result.Message;
  const TMediaInfo joined = ProbeMedia(out);
  ASSERT_TRUE(joined.Opened);
  EXPECT_EQ(joined.Packets.size(), a.Packets.size() + b.Packets.size());
  // The second input's packets follow the first's, offset by the first's length.
  const auto video = joined.PacketsOf(joined.StreamOfType(AVMEDIA_TYPE_VIDEO));
  const auto firstPart = a.PacketsOf(a.StreamOfType(AVMEDIA_TYPE_VIDEO)).size();
  ASSERT_GT(video.size(), firstPart);
  const double secondStart = double(video[firstPart].Dts - video[0].Dts) / 1e6;
  EXPECT_NEAR(secondStart, 2.0, 0.15);
  for (std::size_t i = 1; i < video.size(); ++i)
    EXPECT_GT(video[i].Dts, video[i - 1].Dts) << "packet " << i;
}

TEST_F(EngineJobs, TwoJobsRunSideBySide) {
  TFFmpeg first(2), second(2);
  TEndWaiter waitFirst(first), waitSecond(second);
  ASSERT_TRUE(first.OpenInputFile(test::Fixture("long_5s.mpg")));
  ASSERT_TRUE(second.OpenInputFile(test::Fixture("sample.mp4")));
  CopyStreams(first);
  CopyStreams(second);
  ASSERT_EQ(first.AddOutputFile(Dir.File("one.mpg"), false), 1);
  ASSERT_EQ(second.AddOutputFile(Dir.File("two.mp4"), false), 1);
  ASSERT_TRUE(first.Start(true));
  first.Resume();
  ASSERT_TRUE(second.Start(true));
  second.Resume();
  ASSERT_TRUE(waitFirst.Wait(std::chrono::seconds(60)));
  ASSERT_TRUE(waitSecond.Wait(std::chrono::seconds(60)));
  EXPECT_TRUE(waitFirst.Result().Finished) << waitFirst.Result().Message;
  EXPECT_TRUE(waitSecond.Result().Finished) << waitSecond.Result().Message;
  EXPECT_EQ(ProbeMedia(Dir.File("one.mpg")).Packets.size(),
            ProbeMedia(test::Fixture("long_5s.mpg")).Packets.size());
  EXPECT_EQ(ProbeMedia(Dir.File("two.mp4")).Packets.size(),
            ProbeMedia(test::Fixture("sample.mp4")).Packets.size());
}

TEST_F(EngineJobs, MetadataIsSetAndCopiedFromTheInput) {
  const std::string titled = Dir.File("titled.mkv");
  {
    TFFmpeg engine(2);
    TEndWaiter waiter(engine);
    ASSERT_TRUE(engine.OpenInputFile(test::Fixture("sample.mp4")));
    CopyStreams(engine);
    engine.ParseOption("metadata", "title=Holiday 1998");
    ASSERT_EQ(engine.AddOutputFile(titled, false), 1);
    ASSERT_TRUE(waiter.Run().Finished);
  }
  EXPECT_EQ(ProbeMedia(titled).MetadataValue("title"), "Holiday 1998");

  // Without a setting of its own, the output takes the input's global metadata.
  const std::string copied = Dir.File("copied.mkv");
  TFFmpeg engine(2);
  TEndWaiter waiter(engine);
  ASSERT_TRUE(engine.OpenInputFile(titled));
  CopyStreams(engine);
  engine.ParseOption("metadata", "artist=Tovamo");
  ASSERT_EQ(engine.AddOutputFile(copied, false), 1);
  ASSERT_TRUE(waiter.Run().Finished);
  const TMediaInfo media = ProbeMedia(copied);
  EXPECT_EQ(media.MetadataValue("title"), "Holiday 1998");
  EXPECT_EQ(media.MetadataValue("artist"), "Tovamo");
}

TEST_F(EngineJobs, StreamMapsChooseTheSourceOfEachOutputStream) {
  struct TCase {
    const char* Name;
    std::vector<const char*> Maps;
    bool SecondAudio;           // add a second audio stream to the output
    std::vector<int> Channels;  // of the output's audio streams, in order
    const char* Error;
  };
  const std::vector<TCase> cases = {
      {"automatic: the richest audio stream", {}, false, {2}, nullptr},
      {"automatic: each audio stream once", {}, true, {2, 1}, nullptr},
      {"mapped: the mono stream", {"0:0", "0:2"}, false, {1}, nullptr},
      {"mapped: both, swapped", {"0:0", "0:2", "0:1"}, true, {1, 2}, nullptr},
      {"a map too few",
       {"0:0"},
       false,
       {},
       "Number of stream maps must match number of output streams"},
      {"a missing stream", {"0:0", "0:7"}, false, {}, "Could not find input stream #0.7"},
      {"a type mismatch",
       {"0:1", "0:0"},
       false,
       {},
       "Codec type mismatch for mapping #0.1 (Audio) -> #0.0 (Video)"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TFFmpeg engine(2);
    TEndWaiter waiter(engine);
    ASSERT_TRUE(engine.OpenInputFile(test::Fixture("two_audio.mkv")));
    for (const char* map : c.Maps) engine.ParseOption("map", map);
    CopyStreams(engine);
    const std::string out = Dir.File("mapped.mkv");
    ASSERT_EQ(engine.AddOutputFile(out, false), 1) << engine.LastError;
    if (c.SecondAudio) {
      engine.ParseOption("acodec", "copy");
      engine.ParseOption("newaudio", "");
    }
    const auto result = waiter.Run();
    if (c.Error) {
      EXPECT_FALSE(result.Finished);
      EXPECT_EQ(result.Message, c.Error);
      continue;
    }
    ASSERT_TRUE(result.Finished) << result.Message;
    const TMediaInfo media = ProbeMedia(out);
    std::vector<int> channels;
    for (const auto& s : media.Streams)
      if (s.Type == AVMEDIA_TYPE_AUDIO) channels.push_back(s.Channels);
    EXPECT_EQ(channels, c.Channels);
  }
}

TEST_F(EngineJobs, BitstreamFiltersActOnEachCopiedStreamWithTheirArguments) {
  // "noise" with a drop amount drops some of the packets it sees, and only those.
  TFFmpeg engine(2);
  TEndWaiter waiter(engine);
  ASSERT_TRUE(engine.OpenInputFile(test::Fixture("two_audio.mkv")));
  CopyStreams(engine);
  engine.ParseOption("absf", "noise=dropamount=2");
  const std::string out = Dir.File("filtered.mkv");
  ASSERT_EQ(engine.AddOutputFile(out, false), 1) << engine.LastError;
  const auto result = waiter.Run();
  ASSERT_TRUE(result.Finished) << result.Message;
  const TMediaInfo in = ProbeMedia(test::Fixture("two_audio.mkv"));
  const TMediaInfo media = ProbeMedia(out);
  const auto inAudio = in.PacketsOf(in.StreamOfType(AVMEDIA_TYPE_AUDIO)).size();
  const auto outAudio = media.PacketsOf(media.StreamOfType(AVMEDIA_TYPE_AUDIO)).size();
  EXPECT_LT(outAudio, inAudio * 9 / 10);
  EXPECT_GT(outAudio, 0u);
  EXPECT_EQ(media.PacketsOf(media.StreamOfType(AVMEDIA_TYPE_VIDEO)).size(),
            in.PacketsOf(in.StreamOfType(AVMEDIA_TYPE_VIDEO)).size());
}

TEST_F(EngineJobs, AnOptionThatNoPartOfTheJobTookIsReported) {
  test::TLogCapture log;
  TFFmpeg engine(2);
  TEndWaiter waiter(engine);
  // Options of the H.264 encoder's and the MPEG-TS demuxer's own; the job copies an MP4.
  engine.ParseOption("preset", "slow");
  engine.ParseOption("scan_all_pmts", "1");
  ASSERT_TRUE(engine.OpenInputFile(test::Fixture("sample.mp4")));
  CopyStreams(engine);
  ASSERT_EQ(engine.AddOutputFile(Dir.File("copy.mp4"), false), 1);
  ASSERT_TRUE(waiter.Run().Finished);
  EXPECT_TRUE(
      log.Has(llWarning, "Option \"preset\" was not used by any codec or format of this job"));
  EXPECT_TRUE(log.Has(llWarning,
                      "Option \"scan_all_pmts\" was not used by any codec or format of this job"));

  // The same demuxer option is taken when the input is MPEG-TS.
  log.Clear();
  TFFmpeg ts(2);
  TEndWaiter tsWaiter(ts);
  ts.ParseOption("scan_all_pmts", "1");
  ASSERT_TRUE(ts.OpenInputFile(test::Fixture("far_start.ts")));
  CopyStreams(ts);
  ASSERT_EQ(ts.AddOutputFile(Dir.File("copy.ts"), false), 1);
  ASSERT_TRUE(tsWaiter.Run().Finished);
  EXPECT_TRUE(log.StartingWith(llWarning, "Option \"scan_all_pmts\"").empty());
}

TEST_F(EngineJobs, InputOffsetsAndScalesMoveTheCopiedTimes) {
  struct TCase {
    const char* Option;
    const char* Value;
    double Start;  // where the copied video starts, seconds
    double Span;   // how long it lasts, seconds
  };
  for (const TCase& c : {TCase{nullptr, nullptr, 0.0, 2.0}, TCase{"itsoffset", "1.5", 1.5, 2.0},
                         TCase{"itsscale", "0:2", 0.0, 4.0}}) {
    SCOPED_TRACE(c.Option ? c.Option : "none");
    TFFmpeg engine(2);
    TEndWaiter waiter(engine);
    if (c.Option) engine.ParseOption(c.Option, c.Value);
    ASSERT_TRUE(engine.OpenInputFile(test::Fixture("two_audio.mkv")));
    engine.ParseOption("vcodec", "copy");
    engine.ParseOption("an", "");
    const std::string out = Dir.File("moved.mkv");
    ASSERT_EQ(engine.AddOutputFile(out, false), 1) << engine.LastError;
    ASSERT_TRUE(waiter.Run().Finished);
    const TMediaInfo media = ProbeMedia(out);
    ASSERT_FALSE(media.Packets.empty());
    EXPECT_NEAR(double(media.Packets.front().Dts) / 1e6, c.Start, 0.05);
    EXPECT_NEAR(VideoSpanSeconds(media), c.Span, 0.1);
  }
}

TEST_F(EngineJobs, RtpOutputsLogTheirSdpAndEveryJobItsStreamMapping) {
  test::TLogCapture log;
  TFFmpeg engine(2);
  TEndWaiter waiter(engine);
  ASSERT_TRUE(engine.OpenInputFile(test::Fixture("audio_only.mp2")));
  engine.ParseOption("acodec", "copy");
  engine.ParseOption("f", "rtp");
  ASSERT_EQ(engine.AddOutputFile("rtp://127.0.0.1:23456", false), 1) << engine.LastError;
  const auto result = waiter.Run();
  ASSERT_TRUE(result.Finished) << result.Message;
  EXPECT_TRUE(log.Has(llVerbose, "Stream mapping:"));
  EXPECT_TRUE(log.Has(llVerbose, "  Stream #0.0 -> #0.0 (Audio)"));
  const auto sdp = log.StartingWith(llInfo, "SDP:\r\n");
  ASSERT_EQ(sdp.size(), 1u);
  EXPECT_NE(sdp[0].find("m=audio 23456 RTP/AVP"), std::string::npos) << sdp[0];
}

// ---- Bad input ------------------------------------------------------------------------------

TEST_F(EngineJobs, InputsThatCannotBeOpenedAreRefusedWithTheirName) {
  struct TCase {
    std::string File;
    std::string Message;  // LastError starts with this
  };
  const std::string missing = Dir.File("missing.avi");
  const std::vector<TCase> cases = {
      {missing, missing + ": "},
      {test::Fixture("empty.avi"), test::Fixture("empty.avi") + ": "},
      {test::Fixture("random.avi"), test::Fixture("random.avi") + ": "},
      {test::Fixture("text.avi"), test::Fixture("text.avi") + ": "},
      {test::Fixture("damaged_index.mp4"),
       test::Fixture("damaged_index.mp4") + ": could not find codec parameters"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.File);
    const auto before = fs::exists(c.File) ? fs::file_size(c.File) : 0;
    TFFmpeg engine(2);
    engine.ParseOption("vcodec", "mpeg4");  // the open forgets the codec names it was given
    EXPECT_FALSE(engine.OpenInputFile(c.File));
    EXPECT_EQ(engine.LastError.rfind(c.Message, 0), 0u) << engine.LastError;
    EXPECT_EQ(engine.InputFileCount, 0);
    EXPECT_TRUE(engine.VideoCodecName.empty());
    if (fs::exists(c.File)) {
      EXPECT_EQ(fs::file_size(c.File), before) << "the input changed";
    }
    // The engine is usable for another attempt.
    EXPECT_TRUE(engine.OpenInputFile(test::Fixture("sample.mpg"))) << engine.LastError;
  }
}

// A named pipe opens at once: with no writer the open ends at the time-out instead of
// waiting in the system for good, and a writer that feeds it gets its media converted.
TEST_F(EngineJobs, ANamedPipeOpensUnderTheTimeOut) {
  test::TWatchdog watchdog("opening a named pipe", std::chrono::seconds(60));
  const std::string pipe = Dir.File("feed.mpg");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  {
    TFFmpeg engine(2);
    engine.IOTimeout = 300;
    EXPECT_FALSE(engine.OpenInputFile(pipe));
    EXPECT_EQ(engine.LastError.rfind(pipe + ": ", 0), 0u) << engine.LastError;
  }
  std::thread writer([&] {
    std::ifstream in(test::Fixture("sample.mpg"), std::ios::binary);
    std::ofstream out(pipe, std::ios::binary);
    out << in.rdbuf();
  });
  TFFmpeg engine(2);
  TEndWaiter waiter(engine);
  const bool opened = engine.OpenInputFile(pipe);
  if (opened) {
    const std::string out = Dir.File("from_pipe.mpg");
    ASSERT_EQ(engine.AddOutputFile(out, false), 1) << engine.LastError;
    EXPECT_TRUE(waiter.Run().Finished);
    EXPECT_TRUE(ProbeMedia(out).Opened);
  }
  writer.join();
  EXPECT_TRUE(opened) << engine.LastError;
}

// A header that claims a sample rate far beyond real sound is refused when the job sets up,
// instead of building a resampler of hundreds of megabytes that gives nothing.
TEST_F(EngineJobs, AnImpossibleSampleRateIsRefusedWithTheClaim) {
  std::ifstream in(test::Fixture("audio_only.wav"), std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), {});
  const std::size_t fmt = bytes.find("fmt ");
  ASSERT_NE(fmt, std::string::npos);
  const std::uint32_t rate = 1000000000;
  std::memcpy(bytes.data() + fmt + 12, &rate, 4);  // the little-endian rate field
  const std::string wav = Dir.File("ghz.wav");
  std::ofstream(wav, std::ios::binary) << bytes;

  TFFmpeg engine(2);
  TEndWaiter waiter(engine);
  ASSERT_TRUE(engine.OpenInputFile(wav)) << engine.LastError;
  const std::string out = Dir.File("ghz.mpg");
  ASSERT_EQ(engine.AddOutputFile(out, false), 1) << engine.LastError;
  const auto result = waiter.Run();
  EXPECT_FALSE(result.Finished);
  EXPECT_NE(result.Message.find("claims a sample rate of 1000000000 Hz"), std::string::npos)
      << result.Message;
  EXPECT_FALSE(fs::exists(out));
}

TEST_F(EngineJobs, DamagedInputsConvertWhatCanBeRead) {
  struct TCase {
    const char* Name;
    bool EndedEarly;  // the end notice says the input was shorter than it said
  };
  for (const auto [name, endedEarly] :
       {TCase{"truncated.mpg", true}, {"noise_middle.mpg", false}}) {
    SCOPED_TRACE(name);
    test::TLogCapture log;
    TFFmpeg engine(2);
    TEndWaiter waiter(engine);
    ASSERT_TRUE(engine.OpenInputFile(test::Fixture(name))) << engine.LastError;
    CopyStreams(engine);
    const std::string out = Dir.File("rescued.mpg");
    ASSERT_EQ(engine.AddOutputFile(out, false), 1);
    const auto result = waiter.Run();
    ASSERT_TRUE(result.Ended);
    EXPECT_TRUE(result.Finished) << result.Message;
    const TMediaInfo media = ProbeMedia(out);
    ASSERT_TRUE(media.Opened);
    EXPECT_GT(VideoSpanSeconds(media), 1.0);
    EXPECT_EQ(engine.InputEndedEarly, endedEarly);
    EXPECT_EQ(log.HasPart(llWarning, "ended early"), endedEarly);
  }
}

TEST_F(EngineJobs, BadOutputsAreRefusedBeforeAnythingIsWritten) {
  const std::string readOnly = Dir.File("read-only");
  fs::create_directory(readOnly);
  chmod(readOnly.c_str(), 0555);
  const bool root = geteuid() == 0;  // root writes into a read-only folder regardless
  const std::string input = Dir.File("my clip.mpg");
  fs::copy_file(test::Fixture("sample.mpg"), input);
  const auto inputSize = fs::file_size(input);

  struct TCase {
    std::string Output;
    const char* Format;
    std::string Message;
  };
  std::vector<TCase> cases = {
      {Dir.File("no such folder/out.mpg"), nullptr,
       ErrorText(Dir.File("no such folder/out.mpg"), AVERROR(ENOENT))},
      {Dir.File("out.unknownext"), nullptr,
       "Unable to find a suitable output format for '" + Dir.File("out.unknownext") + "'"},
      {Dir.File("out.mpg"), "no_such_format",
       "Requested output format 'no_such_format' is not a suitable output format"},
      {input, nullptr,
       "Output file '" + input +
           "' is the same file as input file #0; the input would be destroyed"},
      {Dir.File("./my clip.mpg"), nullptr,
       "Output file '" + Dir.File("./my clip.mpg") +
           "' is the same file as input file #0; the input would be destroyed"},
  };
  // A file where a folder should be: no user can write there.
  test::WriteFile(Dir.File("plain file"), "not a folder");
  cases.push_back({Dir.File("plain file/out.mpg"), nullptr,
                   ErrorText(Dir.File("plain file/out.mpg"), AVERROR(ENOTDIR))});
  if (!root)
    cases.push_back(
        {readOnly + "/out.mpg", nullptr, ErrorText(readOnly + "/out.mpg", AVERROR(EACCES))});
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Output);
    TFFmpeg engine(2);
    ASSERT_TRUE(engine.OpenInputFile(input));
    if (c.Format) engine.ParseOption("f", c.Format);
    EXPECT_EQ(engine.AddOutputFile(c.Output, false), -1);
    EXPECT_EQ(engine.LastError, c.Message);
    EXPECT_EQ(engine.OutputFileCount, 0);
    EXPECT_EQ(engine.OutputFiles[0], nullptr);
  }
  EXPECT_EQ(fs::file_size(input), inputSize);
  EXPECT_TRUE(ProbeMedia(input).Opened);
  // Nothing was left behind in the folder: no empty outputs.
  for (const auto& entry : fs::directory_iterator(Dir.Path()))
    if (entry.is_regular_file()) {
      EXPECT_GT(entry.file_size(), 0u) << entry.path();
    }
  chmod(readOnly.c_str(), 0755);
}

TEST_F(EngineJobs, AnUnknownForcedInputFormatRaisesAndTheEngineStaysUsable) {
  TFFmpeg engine(2);
  engine.ParseOption("f", "no_such_format");
  EXPECT_EQ(test::RaisedMessage([&] { engine.OpenInputFile(test::Fixture("sample.mpg")); }),
            "Unknown input format: \"no_such_format\"");
  EXPECT_TRUE(engine.OpenInputFile(test::Fixture("sample.mpg")));
}

TEST_F(EngineJobs, AWriteErrorAtTheEndLeavesTheJobUnfinished) {
  // Every write to /dev/full fails with "no space left", as on a full disk.
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  TFFmpeg engine(2);
  TEndWaiter waiter(engine);
  ASSERT_TRUE(engine.OpenInputFile(test::Fixture("sample.mpg")));
  CopyStreams(engine);
  engine.ParseOption("f", "mpeg");
  ASSERT_EQ(engine.AddOutputFile("/dev/full", false), 1) << engine.LastError;
  const auto result = waiter.Run();
  ASSERT_TRUE(result.Ended);
  EXPECT_FALSE(result.Finished);
  EXPECT_TRUE(result.Error);
  EXPECT_NE(result.Message.find("No space left on device"), std::string::npos) << result.Message;
}

TEST_F(EngineJobs, NamesThatFFmpegWouldMisreadOpenAndWrite) {
  for (const char* name : {"clip with spaces.mpg", "it's \"quoted\".mpg", "-leading dash.mpg",
                           "colon:in name.mpg", "Ünïcödé 映画.mpg"}) {
    SCOPED_TRACE(name);
    const std::string input = Dir.File(name);
    fs::copy_file(test::Fixture("sample.mpg"), input, fs::copy_options::overwrite_existing);
    const std::string output = Dir.File(std::string("out ") + name);
    TFFmpeg engine(2);
    TEndWaiter waiter(engine);
    ASSERT_TRUE(engine.OpenInputFile(input)) << engine.LastError;
    CopyStreams(engine);
    ASSERT_EQ(engine.AddOutputFile(output, false), 1) << engine.LastError;
    ASSERT_TRUE(waiter.Run().Finished);
    EXPECT_EQ(ProbeMedia(output).Packets.size(), ProbeMedia(input).Packets.size());
  }
}

}  // namespace
}  // namespace tovamo
