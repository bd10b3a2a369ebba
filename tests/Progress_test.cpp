// The progress report on real conversions: the records a listener receives (rising, ending
// at the output's true size, length and frame count), the fields for each kind of job, and
// the status line and final statistics that go to the log when nobody listens.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <algorithm>
#include <regex>

#include "Engine/FFmpeg.h"
#include "Engine/ProgressInfo.h"
#include "Services/FFBindings.h"
#include "support/EngineJob.h"
#include "support/LogCapture.h"
#include "support/MediaProbe.h"
#include "support/TestSupport.h"

namespace tovamo {
namespace {

using test::ProbeMedia;
using test::TEndWaiter;
using test::TLogCapture;
using test::TMediaInfo;
namespace fs = std::filesystem;

class Progress : public ::testing::Test {
 protected:
  void SetUp() override { test::LoadSystemLibraries(); }
  test::TTempDir Dir;
};

using TConfigure = std::function<void(TFFmpeg&)>;

struct TJobRecords {
  test::TJobResult Result;
  std::vector<TProgressInfo> Records;
};

// Converts the inputs to out (".mpg": MPEG-1 video and MP2 unless configure says
// otherwise), reporting after every packet, and keeps every record the listener got.
TJobRecords ConvertListening(const std::vector<std::string>& inputs, const std::string& out,
                             const TConfigure& configure = {}, bool join = false) {
  TJobRecords job;
  TFFmpeg engine(4);
  TEndWaiter waiter(engine);
  for (const std::string& input : inputs)
    EXPECT_TRUE(engine.OpenInputFile(test::Fixture(input))) << engine.LastError;
  if (configure) configure(engine);
  EXPECT_EQ(engine.AddOutputFile(out, join), 1) << engine.LastError;
  if (join) engine.JoinSetup();
  engine.ProgressInterval = 0;
  engine.OnProgress = [&job, &engine](TCustomFFmpeg* sender, TProgressInfo* info) {
    EXPECT_EQ(sender, &engine);
    job.Records.push_back(*info);
  };
  job.Result = waiter.Run();
  return job;
}

// Where the shortest audio or video stream of a file ends (its last packet's start, so a
// frame short), from the file's first timestamp, in seconds.
double ShortestStreamEnd(const TMediaInfo& media) {
  std::int64_t start = INT64_MAX;
  for (const auto& p : media.Packets)
    if (p.Pts != INT64_MIN) start = std::min(start, p.Pts);
  double shortest = 1e10;
  for (int s = 0; s < int(media.Streams.size()); ++s) {
    if (media.Streams[s].Type != AVMEDIA_TYPE_AUDIO && media.Streams[s].Type != AVMEDIA_TYPE_VIDEO)
      continue;
    std::int64_t end = INT64_MIN;
    for (const auto& p : media.PacketsOf(s)) end = std::max(end, p.Pts);
    if (end != INT64_MIN) shortest = std::min(shortest, double(end - start) / 1e6);
  }
  return shortest;
}

int VideoPackets(const TMediaInfo& media) {
  const int v = media.StreamOfType(AVMEDIA_TYPE_VIDEO);
  return v < 0 ? 0 : int(media.PacketsOf(v).size());
}

// Checks what holds for every job: the records rise, the last one is the final report and
// describes the finished file, and the rate is the size over the time.
void ExpectRisingToTheEnd(const TJobRecords& job, const std::string& out, int inputs = 1) {
  const std::vector<TProgressInfo>& records = job.Records;
  ASSERT_GE(records.size(), 2u);
  for (std::size_t i = 0; i < records.size(); ++i) {
    SCOPED_TRACE("record " + std::to_string(i));
    const TProgressInfo& r = records[i];
    if (i + 1 == records.size()) {
      EXPECT_EQ(r.FileIndex, -1);
    } else {
      EXPECT_GE(r.FileIndex, 0);
      EXPECT_LT(r.FileIndex, inputs);
    }
    EXPECT_EQ(r.TaskIndex, -1);  // the owner's to fill
    EXPECT_GE(r.CurrentDuration, 10000);
    EXPECT_NEAR(r.BitRate, double(r.CurrentSize) * 8 / (double(r.CurrentDuration) / 1e6) / 1000,
                0.001 * r.BitRate + 0.01);
    EXPECT_EQ(r.TotalDuration, records[0].TotalDuration);
    if (i == 0) continue;
    const TProgressInfo& p = records[i - 1];
    EXPECT_GE(r.FrameNumber, p.FrameNumber);
    EXPECT_GE(r.CurrentSize, p.CurrentSize);
    EXPECT_GE(r.CurrentDuration, p.CurrentDuration);
  }
  const TProgressInfo& last = records.back();
  EXPECT_EQ(last.CurrentSize, std::int64_t(fs::file_size(out)));
  const TMediaInfo media = ProbeMedia(out);
  ASSERT_TRUE(media.Opened);
  const int frames = VideoPackets(media);
  EXPECT_EQ(last.FrameNumber, frames > 0 ? frames : -1);
  // The output time reached is where its shortest stream ends, within a frame or two.
  EXPECT_NEAR(double(last.CurrentDuration) / 1e6, ShortestStreamEnd(media), 0.1);
}

TEST_F(Progress, RecordsRiseAndEndAtTheTotalOfAConversion) {
  const std::string out = Dir.File("out.mpg");
  const TJobRecords job = ConvertListening({"long_5s.mpg"}, out);
  ASSERT_TRUE(job.Result.Finished) << job.Result.Message;
  ExpectRisingToTheEnd(job, out);
  const TMediaInfo in = ProbeMedia(test::Fixture("long_5s.mpg"));
  const TProgressInfo& last = job.Records.back();
  EXPECT_EQ(last.TotalDuration, in.Duration);
  EXPECT_NEAR(double(last.CurrentDuration) / 1e6, double(last.TotalDuration) / 1e6, 0.1);
  EXPECT_EQ(last.FrameNumber, 125);  // 5 s at 25 frames per second
  for (const TProgressInfo& r : job.Records) {
    EXPECT_GE(r.FrameNumber, 1);  // no report before the first picture is out
    EXPECT_GE(r.FPS, 0);
    // The MPEG-1 encoder's quantiser for its last picture (0 before it has coded one).
    EXPECT_GE(r.Quality, 0.0f);
    EXPECT_LE(r.Quality, 31.0f);
  }
  EXPECT_GE(last.Quality, 1.0f);
}

TEST_F(Progress, FieldsFollowTheKindOfJob) {
  struct TCase {
    const char* Name;
    std::vector<std::string> Inputs;
    TConfigure Configure;
    bool Video;          // a reported video stream
    bool Encoded;        // its pictures are coded here, so there is a quantiser
    std::int64_t Total;  // expected TotalDuration; 0: the inputs' length (joined: their sum)
    double End;          // seconds: the output time of the last report
    bool Join = false;
  };
  const auto copy = [](TFFmpeg& e) {
    e.ParseOption("vcodec", "copy");
    e.ParseOption("acodec", "copy");
  };
  const std::vector<TCase> cases = {
      {"copied streams", {"sample.mpg"}, copy, true, false, 0, 2.0},
      {"audio only", {"audio_only.wav"}, {}, false, false, 0, 2.0},
      // A file that states no length still converts; its length is reported unknown.
      {"unknown length", {"no_duration.mkv"}, {}, true, true, -1, 2.0},
      {"recording time",
       {"long_5s.mpg"},
       [](TFFmpeg& e) { e.ParseOption("t", "2"); },
       true,
       true,
       2000000,
       2.0},
      // The sound starts half a second before the pictures: no report until a picture is
      // out, and the time reached is where the sound ends.
      {"video starting late", {"audio_first.mkv"}, {}, true, true, 0, 2.0},
      // Joined inputs: the second group's stream is reported, its count going on from the
      // first's, and the expected length is the sum.
      {"joined", {"sample.mpg", "long_5s.mpg"}, copy, true, false, 0, 7.0, true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string out = Dir.File("out.mpg");
    const TJobRecords job = ConvertListening(c.Inputs, out, c.Configure, c.Join);
    ASSERT_TRUE(job.Result.Finished) << job.Result.Message;
    ExpectRisingToTheEnd(job, out, int(c.Inputs.size()));
    std::int64_t total = c.Total;
    if (total == 0)
      for (const std::string& input : c.Inputs) total += ProbeMedia(test::Fixture(input)).Duration;
    const TProgressInfo& last = job.Records.back();
    EXPECT_EQ(last.TotalDuration, total);
    EXPECT_NEAR(double(last.CurrentDuration) / 1e6, c.End, 0.1);
    if (c.Encoded) {
      EXPECT_GE(last.Quality, 1.0f);
    }
    for (const TProgressInfo& r : job.Records) {
      if (!c.Video) {
        EXPECT_EQ(r.FrameNumber, -1);
        EXPECT_EQ(r.FPS, -1);
        EXPECT_EQ(r.Quality, -1.0f);
        continue;
      }
      EXPECT_GE(r.FrameNumber, 1);
      EXPECT_GE(r.FPS, 0);
      if (c.Encoded)
        EXPECT_GE(r.Quality, 0.0f);
      else
        EXPECT_EQ(r.Quality, -1.0f);
    }
  }
}

// The status line's figures, read back from its text.
struct TStatus {
  int Frame = -1, Fps = -1;
  double Q = 0, SizeKb = 0, Time = 0, BitRate = 0;
  bool Last = false;
  std::string Rest;  // what follows "kbits/s"
};

bool ParseStatus(const std::string& text, TStatus& s) {
  static const std::regex pattern(
      R"(frame= *(\d+) fps= *(\d+) q=(-?[0-9.]+) (L?)(?:[0-9A-F]{32})?(?:PSNR=\S+ \S+ \S+ \S+ )?)"
      R"(size= *(\d+)kB time=([0-9.]+) bitrate= *([0-9.]+)kbits/s(.*))");
  std::smatch m;
  if (!std::regex_match(text, m, pattern)) return false;
  s.Frame = std::stoi(m[1]);
  s.Fps = std::stoi(m[2]);
  s.Q = std::stod(m[3]);
  s.Last = m[4] == "L";
  s.SizeKb = std::stod(m[5]);
  s.Time = std::stod(m[6]);
  s.BitRate = std::stod(m[7]);
  s.Rest = m[8];
  return true;
}

std::vector<std::string> Texts(const std::vector<test::TLogLine>& lines, TCustomFFmpeg& engine,
                               const char* start) {
  std::vector<std::string> texts;
  for (const auto& line : lines)
    if (line.Sender == &engine && line.Level == llVerbose && line.Text.rfind(start, 0) == 0)
      texts.push_back(line.Text);
  return texts;
}

TEST_F(Progress, StatusLineAndSummaryGoToTheLogWhenNobodyListens) {
  TLogCapture log;
  for (int verbose : {1, 0, -1}) {
    SCOPED_TRACE("verbose " + std::to_string(verbose));
    log.Clear();
    TFFmpeg engine(2);
    TEndWaiter waiter(engine);
    ASSERT_TRUE(engine.OpenInputFile(test::Fixture("long_5s.mpg")));
    const std::string out = Dir.File("out.mpg");
    ASSERT_EQ(engine.AddOutputFile(out, false), 1);
    engine.Verbose = verbose;
    engine.ProgressInterval = 0;
    const auto result = waiter.Run();
    ASSERT_TRUE(result.Finished) << result.Message;
    const auto lines = log.Lines();
    const auto status = Texts(lines, engine, "frame=");
    const auto summary = Texts(lines, engine, "video:");
    if (verbose < 0) {
      EXPECT_TRUE(status.empty());
      EXPECT_TRUE(summary.empty());
      continue;
    }
    // Regular lines only with a verbose job; the last line always.
    if (verbose > 0)
      EXPECT_GT(status.size(), 10u);
    else
      EXPECT_EQ(status.size(), 1u);
    TStatus previous;
    for (std::size_t i = 0; i < status.size(); ++i) {
      TStatus s;
      ASSERT_TRUE(ParseStatus(status[i], s)) << status[i];
      EXPECT_EQ(s.Last, i + 1 == status.size()) << status[i];
      EXPECT_GE(s.Frame, previous.Frame);
      EXPECT_GE(s.Q, s.Last ? 1.0 : 0.0);
      EXPECT_EQ(s.Rest, "");  // nothing was duplicated or dropped
      previous = s;
    }
    ASSERT_FALSE(status.empty());
    const TMediaInfo media = ProbeMedia(out);
    EXPECT_EQ(previous.Frame, VideoPackets(media));
    EXPECT_NEAR(previous.SizeKb, double(fs::file_size(out)) / 1024, 0.5);
    EXPECT_NEAR(previous.Time, ShortestStreamEnd(media), 0.1);
    EXPECT_NEAR(previous.BitRate, double(fs::file_size(out)) * 8 / previous.Time / 1000,
                0.001 * previous.BitRate + 0.5);

    ASSERT_EQ(summary.size(), 1u);
    double video = -1, audio = -1, headers = -1, overhead = -1;
    ASSERT_EQ(std::sscanf(summary[0].c_str(),
                          "video:%lfkB audio:%lfkB global headers:%lfkB muxing overhead %lf%%",
                          &video, &audio, &headers, &overhead),
              4)
        << summary[0];
    // The streams' bytes as the output holds them; the rest of the file is the overhead.
    double videoBytes = 0, audioBytes = 0;
    for (const auto& p : media.Packets)
      (media.Streams[p.Stream].Type == AVMEDIA_TYPE_VIDEO ? videoBytes : audioBytes) += p.Size;
    EXPECT_NEAR(video, videoBytes / 1024, 1.0);
    EXPECT_NEAR(audio, audioBytes / 1024, 1.0);
    EXPECT_EQ(headers, 0);
    const double raw = videoBytes + audioBytes;
    EXPECT_NEAR(overhead, 100.0 * (double(fs::file_size(out)) - raw) / raw, 0.5);
  }
}

TEST_F(Progress, DuplicatesAreLoggedOnceForEachChangeWhileSomebodyListens) {
  // Pictures 40 and 80 ms apart in turn, written at a constant 25 per second: every other
  // one is repeated.
  TLogCapture log;
  TFFmpeg engine(2);
  TEndWaiter waiter(engine);
  ASSERT_TRUE(engine.OpenInputFile(test::Fixture("vfr.mkv")));
  ASSERT_EQ(engine.AddOutputFile(Dir.File("out.mpg"), false), 1);
  engine.ProgressInterval = 0;
  int reports = 0;
  engine.OnProgress = [&reports](TCustomFFmpeg*, TProgressInfo*) { ++reports; };
  const auto result = waiter.Run();
  ASSERT_TRUE(result.Finished) << result.Message;
  ASSERT_GT(engine.FramesDuplicated, 0);
  const auto status = Texts(log.Lines(), engine, "frame=");
  ASSERT_FALSE(status.empty());
  EXPECT_LT(int(status.size()), reports);
  int previousDup = -1, previousDrop = -1;
  for (const std::string& text : status) {
    TStatus s;
    ASSERT_TRUE(ParseStatus(text, s)) << text;
    int dup = -1, drop = -1;
    ASSERT_EQ(std::sscanf(s.Rest.c_str(), " dup=%d drop=%d", &dup, &drop), 2) << text;
    EXPECT_TRUE(dup != previousDup || drop != previousDrop) << text;
    EXPECT_GE(dup, previousDup);
    previousDup = dup;
    previousDrop = drop;
  }
  EXPECT_EQ(previousDup, engine.FramesDuplicated);
  EXPECT_EQ(previousDrop, engine.FramesDropped);
}

TEST_F(Progress, QuantiserHistogramAndPsnrJoinTheStatusLine) {
  TLogCapture log;
  TFFmpeg engine(2);
  TEndWaiter waiter(engine);
  ASSERT_TRUE(engine.OpenInputFile(test::Fixture("long_5s.mpg")));
  engine.ParseOption("qphist", "");
  engine.ParseOption("psnr", "");
  ASSERT_EQ(engine.AddOutputFile(Dir.File("out.mpg"), false), 1);
  engine.ProgressInterval = 0;
  const auto result = waiter.Run();
  ASSERT_TRUE(result.Finished) << result.Message;
  const auto status = Texts(log.Lines(), engine, "frame=");
  ASSERT_GT(status.size(), 1u);
  static const std::regex pattern(
      R"(frame= *\d+ fps= *\d+ q=([0-9.]+) L?([0-9A-F]{32})PSNR=Y:([0-9.inf]+) U:([0-9.inf]+) )"
      R"(V:([0-9.inf]+) \*:([0-9.inf]+) size=.*)");
  int coded = 0;  // lines that tell of a coded picture
  for (const std::string& text : status) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(text, m, pattern)) << text;
    // Each report counts its quantiser: the digit at that quantiser (shown to one decimal,
    // so either neighbour) is not zero.
    const double q = std::stod(m[1]);
    const int below = int(std::floor(q)), above = int(std::ceil(q));
    ASSERT_LT(above, 32);
    EXPECT_TRUE(m[2].str()[below] != '0' || m[2].str()[above] != '0') << text;
    // An MPEG-1 picture at these rates keeps well above 20 dB in every plane; a plane
    // coded without error shows "inf". Before the encoder has coded a picture there is
    // no error to show.
    if (q == 0) continue;
    ++coded;
    for (int plane = 3; plane <= 6; ++plane) EXPECT_GT(std::stod(m[plane]), 20.0) << text;
  }
  // The quantiser and the errors are those of the pictures coded: nearly every line has
  // them, the last (the whole job's PSNR) always.
  EXPECT_GT(coded, int(status.size()) / 2);
  EXPECT_NE(status.back().find(" L"), std::string::npos);
  EXPECT_EQ(status.back().find("q=0.0"), std::string::npos) << status.back();
}

}  // namespace
}  // namespace tovamo
