// The encoder component on generated media: how batches start, stop and end, the order of
// its notifications, the option passes that shape each output, and its refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "Components/FFEncode.h"
#include "Services/MainThread.h"
#include "support/MainThreadServing.h"
#include "support/MediaProbe.h"
#include "support/TestSupport.h"
#include "support/Watchdog.h"
#include "support/TestTime.h"

namespace tovamo {
namespace {

using namespace std::chrono_literals;
using test::ProbeMedia;
using test::TWatchdog;
namespace fs = std::filesystem;

using test::ServeUntil;

// Every termination notice, in the order the handlers ran.
class TNotices {
 public:
  void Attach(TFFEncoder& encoder) {
    encoder.OnTerminate = [this](TFFEncoder*, const TTerminateInfo& info) { Add(info); };
  }
  void Add(const TTerminateInfo& info) {
    std::lock_guard lock(Lock_);
    List_.push_back(info);
  }
  std::vector<TTerminateInfo> List() const {
    std::lock_guard lock(Lock_);
    return List_;
  }
  bool EndOfBatchSeen() const {
    std::lock_guard lock(Lock_);
    return std::any_of(List_.begin(), List_.end(), [](auto& i) { return i.TaskIndex == -1; });
  }
  bool WaitForEndOfBatch() {
    return ServeUntil([this] { return EndOfBatchSeen(); });
  }
  // Each task's notice exactly once, then the end of the batch last.
  void ExpectOneNoticeEachThenTheEnd(int tasks) const {
    const auto list = List();
    ASSERT_EQ(list.size(), std::size_t(tasks) + 1);
    EXPECT_EQ(list.back().TaskIndex, -1);
    EXPECT_TRUE(list.back().Finished);
    EXPECT_FALSE(list.back().Failed);
    std::vector<int> indexes;
    for (std::size_t i = 0; i + 1 < list.size(); ++i) indexes.push_back(list[i].TaskIndex);
    std::sort(indexes.begin(), indexes.end());
    for (int i = 0; i < tasks; ++i) EXPECT_EQ(indexes[std::size_t(i)], i);
  }

 private:
  mutable std::mutex Lock_;
  std::vector<TTerminateInfo> List_;
};

class Encoder : public ::testing::Test {
 protected:
  void SetUp() override { test::LoadSystemLibraries(); }

  // A VCD output of the first `seconds` of the input.
  TOutputOptions Vcd(const std::string& name, double seconds = 1.0) const {
    TOutputOptions o;
    o.FileName = Out(name);
    o.TargetType = 1;
    o.NormType = 1;
    o.RecordingTime = std::int64_t(seconds * 1e6);
    return o;
  }
  std::string Out(const std::string& name) const { return (Dir.Path() / name).string(); }

  // Adds one task per output name, each converting `input` with the options.
  // With realTime the input is read at its own pace, so that a run lasts as long as it plays.
  void AddTasks(TFFEncoder& encoder, const std::vector<std::string>& names,
                const std::string& input = test::Fixture("sample.avi"), double seconds = 1.0,
                bool realTime = false) {
    TInputOptions inputOptions;
    if (realTime) inputOptions.ExtraOptions = "re";
    for (const std::string& name : names) {
      const int task = encoder.AddTask(input, &inputOptions);
      ASSERT_GE(task, 0) << encoder.LastError();
      const TOutputOptions o = Vcd(name, seconds);
      ASSERT_TRUE(encoder.SetOutputFile(task, o.FileName, &o)) << encoder.LastError();
    }
  }

  test::TTempDir Dir;
};

TEST_F(Encoder, PropertiesAndTheWorkingRefusals) {
  TFFEncoder encoder;
  EXPECT_EQ(encoder.Version(), "3.9");
  for (auto [given, stored] : {std::pair{50, 100}, {100, 100}, {101, 101}, {2000, 2000}}) {
    encoder.SetProgressInterval(given);
    EXPECT_EQ(encoder.ProgressInterval(), stored) << given;
  }

  // An empty batch works and gives no notice; it can be cleared at once.
  TNotices notices;
  notices.Attach(encoder);
  encoder.StartTask(2);
  EXPECT_TRUE(encoder.Working());
  auto raised = [](auto&& fn) -> std::string {
    try {
      fn();
    } catch (const std::exception& e) {
      return e.what();
    }
    return "";
  };
  EXPECT_EQ(raised([&] { encoder.AddTask(test::Fixture("sample.avi")); }),
            "Cannot AddTask while working.");
  EXPECT_EQ(raised([&] { encoder.StartTask(1); }), "Cannot StartTask while working.");
  std::this_thread::sleep_for(100ms);
  EXPECT_TRUE(notices.List().empty());
  EXPECT_EQ(raised([&] { encoder.ClearTasks(); }), "");
  EXPECT_FALSE(encoder.Working());

  // A running batch refuses to be cleared; after its end it may be.
  AddTasks(encoder, {"a.mpg"}, test::Fixture("long_5s.mpg"), 2, true);
  encoder.StartTask(1);
  EXPECT_EQ(raised([&] { encoder.ClearTasks(); }), "Cannot ClearTasks while working.");
  EXPECT_EQ(raised([&] { encoder.SetOutputFile(0, Out("b.mpg")); }),
            "Cannot SetOutputFile while working.");
  ASSERT_TRUE(notices.WaitForEndOfBatch());
  EXPECT_EQ(raised([&] { encoder.AddTask(test::Fixture("sample.avi")); }),
            "Cannot AddTask while working.");
  EXPECT_EQ(raised([&] { encoder.ClearTasks(); }), "");
  EXPECT_EQ(encoder.TaskCount(), 0);
}

// How many of the encoder's tasks are running right now.
int RunningTasks(TFFEncoder& encoder) {
  int running = 0;
  for (int i = 0; i < encoder.TaskCount(); ++i) running += encoder.Task(i)->Running ? 1 : 0;
  return running;
}

TEST_F(Encoder, StartTaskRunsAllAtOnceALimitedNumberOrOneAfterAnother) {
  struct TCase {
    int MaxParallel;
    int RunningAfterStart;  // -1: StartTask returns with the batch over
    int MostAtOnce;
  };
  for (const TCase c : {TCase{0, -1, 1}, TCase{1, 1, 1}, TCase{3, 3, 3}}) {
    SCOPED_TRACE(c.MaxParallel);
    TWatchdog watchdog("a batch of three tasks", 120s);
    TFFEncoder encoder;
    encoder.TriggerEventInMainThread = false;
    TNotices notices;
    notices.Attach(encoder);
    std::atomic<int> mostAtOnce{0};
    encoder.OnProgress = [&](TFFEncoder* sender, TProgressInfo*) {
      const int running = RunningTasks(*sender);
      int seen = mostAtOnce;
      while (running > seen && !mostAtOnce.compare_exchange_weak(seen, running)) {
      }
    };
    encoder.SetProgressInterval(100);
    AddTasks(encoder, {"a.mpg", "b.mpg", "c.mpg"}, test::Fixture("long_5s.mpg"), 2);

    const auto caller = std::this_thread::get_id();
    std::vector<std::thread::id> noticeThreads;
    encoder.OnTerminate = [&](TFFEncoder*, const TTerminateInfo& info) {
      noticeThreads.push_back(std::this_thread::get_id());
      notices.Add(info);
    };
    encoder.StartTask(c.MaxParallel);
    if (c.RunningAfterStart < 0) {
      EXPECT_TRUE(notices.EndOfBatchSeen());
      for (auto id : noticeThreads) EXPECT_EQ(id, caller);
    } else {
      EXPECT_EQ(RunningTasks(encoder), c.RunningAfterStart);
      ASSERT_TRUE(notices.WaitForEndOfBatch());
    }
    notices.ExpectOneNoticeEachThenTheEnd(3);
    if (c.MaxParallel == 1) {  // strictly in list order
      const auto list = notices.List();
      for (int i = 0; i < 3; ++i) EXPECT_EQ(list[std::size_t(i)].TaskIndex, i);
    }
    EXPECT_EQ(mostAtOnce.load(), c.MostAtOnce);
    for (const auto& info : notices.List()) EXPECT_TRUE(info.Finished) << info.ErrorMessage;
    for (const char* name : {"a.mpg", "b.mpg", "c.mpg"})
      EXPECT_TRUE(ProbeMedia(Out(name)).Opened) << name;
    encoder.ClearTasks();
  }
}

TEST_F(Encoder, TheEndOfABatchFollowsEveryHandledNotice) {
  // Two tasks that end together, with handlers that take their time: the end of the batch
  // must wait for both, not only for the one that ended last.
  TWatchdog watchdog("two tasks ending together", 60s);
  TFFEncoder encoder;
  std::mutex lock;
  std::vector<int> handled;
  bool endSawBoth = false;
  std::atomic<bool> ended{false};
  encoder.OnTerminate = [&](TFFEncoder*, const TTerminateInfo& info) {
    if (info.TaskIndex == -1) {
      std::lock_guard guard(lock);
      endSawBoth = handled.size() == 2;
      ended = true;
      return;
    }
    std::this_thread::sleep_for(info.TaskIndex == 0 ? 400ms : 50ms);
    std::lock_guard guard(lock);
    handled.push_back(info.TaskIndex);
  };
  AddTasks(encoder, {"a.mpg", "b.mpg"});
  encoder.StartTask(2);
  ASSERT_TRUE(ServeUntil([&] { return ended.load(); }));
  EXPECT_TRUE(endSawBoth);
}

TEST_F(Encoder, StoppingABatchGivesEachTaskOneNoticeThenTheEnd) {
  TWatchdog watchdog("stopping a batch", 60s);
  TFFEncoder encoder;
  TNotices notices;
  notices.Attach(encoder);
  std::atomic<bool> progressed{false};
  encoder.OnProgress = [&](TFFEncoder*, TProgressInfo*) { progressed = true; };
  encoder.SetProgressInterval(100);
  AddTasks(encoder, {"a.mpg", "b.mpg", "c.mpg", "d.mpg"}, test::Fixture("long_5s.mpg"), 5, true);
  encoder.StartTask(1);
  ASSERT_TRUE(ServeUntil([&] { return progressed.load(); }));
  encoder.Stop(true);
  ASSERT_TRUE(notices.WaitForEndOfBatch());
  notices.ExpectOneNoticeEachThenTheEnd(4);
  for (const auto& info : notices.List())
    if (info.TaskIndex > 0) {
      EXPECT_FALSE(info.Finished) << info.TaskIndex;
    }
  EXPECT_TRUE(ProbeMedia(Out("a.mpg")).Opened);  // the started output is finished
  encoder.ClearTasks();  // the outputs that never got a byte go with their tasks
  for (const char* never : {"b.mpg", "c.mpg", "d.mpg"}) EXPECT_FALSE(fs::exists(Out(never)));
}

TEST_F(Encoder, AStartTheEngineRefusesIsReportedWithItsReason) {
  TFFEncoder encoder;
  TNotices notices;
  notices.Attach(encoder);
  ASSERT_EQ(encoder.AddTask(test::Fixture("sample.avi")), 0);  // and no output
  encoder.StartTask(0);
  const auto list = notices.List();
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].TaskIndex, 0);
  EXPECT_TRUE(list[0].Failed);
  EXPECT_FALSE(list[0].Finished);
  EXPECT_EQ(list[0].ErrorMessage, "At least one output file must be specified");
  EXPECT_EQ(list[1].TaskIndex, -1);
}

// Tasks wait for their turn without holding their input's descriptor or touching their
// output: the file is made when the task starts.
TEST_F(Encoder, ASetUpTaskHoldsNoDescriptorAndMakesNoFileUntilItStarts) {
  auto openDescriptors = [] {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++count;
    return count;
  };
  TFFEncoder encoder;
  TNotices notices;
  notices.Attach(encoder);
  const std::size_t before = openDescriptors();
  std::vector<std::string> names;
  for (int i = 0; i < 60; ++i) names.push_back("task" + std::to_string(i) + ".mpg");
  AddTasks(encoder, names, test::Fixture("sample.avi"), 0.2);
  EXPECT_LE(openDescriptors(), before + 2) << "the inputs let go of their descriptors";
  for (const std::string& name : names) EXPECT_FALSE(fs::exists(Out(name))) << name;
  encoder.StartTask(2);
  ASSERT_TRUE(notices.WaitForEndOfBatch());
  for (const auto& info : notices.List()) EXPECT_TRUE(info.Finished) << info.ErrorMessage;
  for (const std::string& name : names) EXPECT_TRUE(ProbeMedia(Out(name)).Opened) << name;
}

// A setting refused after the task was registered fails the task when it starts, with the
// refusal: it does not run without what was asked, and nothing is written.
TEST_F(Encoder, ARefusedSettingFailsItsTaskWithTheReason) {
  TFFEncoder encoder;
  TNotices notices;
  notices.Attach(encoder);
  ASSERT_EQ(encoder.AddTask(test::Fixture("sample.avi")), 0);
  TOutputOptions o = Vcd("refused.mpg");
  o.TargetType = 0;
  o.ExtraOptions = "s=320x240\nnewvideo=1\nnewvideo=1\ns=bogus";
  EXPECT_FALSE(encoder.SetOutputFile(0, o.FileName, &o));
  EXPECT_EQ(encoder.LastError(), "Incorrect frame size");
  EXPECT_EQ(encoder.Task(0)->OutputFileCount, 0) << "refused before anything was registered";
  encoder.StartTask(1);
  ASSERT_TRUE(notices.WaitForEndOfBatch());
  const auto list = notices.List();
  ASSERT_EQ(list.size(), 2u);
  EXPECT_TRUE(list[0].Failed);
  EXPECT_FALSE(list[0].Finished);
  EXPECT_EQ(list[0].ErrorMessage, "Incorrect frame size");
  EXPECT_FALSE(fs::exists(o.FileName));
}

TEST_F(Encoder, ProgressReachesTheMainThreadOnlyWhenAskedTo) {
  for (const bool mainThread : {true, false}) {
    TWatchdog watchdog("progress delivery", 60s);
    TFFEncoder encoder;
    encoder.TriggerEventInMainThread = mainThread;
    encoder.SetProgressInterval(100);
    TNotices notices;
    notices.Attach(encoder);
    std::mutex lock;
    std::vector<bool> onMain;
    std::vector<int> tasks;
    encoder.OnProgress = [&](TFFEncoder*, TProgressInfo* info) {
      std::lock_guard guard(lock);
      onMain.push_back(IsMainThread());
      tasks.push_back(info->TaskIndex);
    };
    AddTasks(encoder, {"a.mpg", "b.mpg"}, test::Fixture("long_5s.mpg"), 2);
    encoder.StartTask(2);
    ASSERT_TRUE(notices.WaitForEndOfBatch());
    ASSERT_FALSE(onMain.empty());
    for (bool on : onMain) EXPECT_EQ(on, mainThread);
    EXPECT_NE(std::find(tasks.begin(), tasks.end(), 0), tasks.end());
    EXPECT_NE(std::find(tasks.begin(), tasks.end(), 1), tasks.end());
  }
}

// Switching the previews on the main thread while workers hand it their pictures: the
// switch never waits for a worker, and every task still ends.
TEST_F(Encoder, PreviewsSwitchedDuringABatchNeverFreezeTheMainThread) {
  TWatchdog watchdog("preview switching", 90s);
  TFFEncoder encoder;
  encoder.TriggerEventInMainThread = true;
  encoder.SetPreviewBitmap(true);
  TNotices notices;
  notices.Attach(encoder);
  std::atomic<int> pictures{0};
  encoder.OnPreviewBitmap = [&](TFFEncoder*, const TPreviewInfo&) {
    ++pictures;
    std::this_thread::sleep_for(2ms);  // a window that takes its time to paint
  };
  // Read at the input's own pace, so that the batch lasts long enough for many previews.
  AddTasks(encoder, {"a.mpg", "b.mpg"}, test::Fixture("long_5s.mpg"), 2, true);
  encoder.StartTask(2);
  bool on = true;
  const bool ended = ServeUntil([&] {
    on = !on;
    encoder.SetPreviewBitmap(on);
    encoder.SetPreview(!on);
    return notices.EndOfBatchSeen();
  });
  ASSERT_TRUE(ended);
  EXPECT_GT(pictures.load(), 0);
  for (const auto& notice : notices.List()) EXPECT_TRUE(notice.Finished);
}

// The audio and video codecs of the output's streams, in stream order.
std::vector<std::string> Codecs(const std::string& path, int type) {
  std::vector<std::string> codecs;
  for (const auto& s : ProbeMedia(path).Streams)
    if (s.Type == type) codecs.push_back(s.Codec);
  return codecs;
}

TEST_F(Encoder, OptionTextAndRecordMakeTheStreams) {
  struct TCase {
    const char* Name;
    const char* AudioCodec;  // the record's field
    const char* Extra;
    std::vector<std::string> Audio;
    std::vector<std::string> Video;
  };
  const TCase cases[] = {
      // The record wins for the main stream; the text's line goes to the extra stream.
      {"record and newaudio", "mp2", "acodec=ac3\nnewaudio=", {"mp2", "ac3"}, {"mpeg1video"}},
      {"two extra streams",
       "",
       "acodec=ac3<CRLF>acodec=mp2<CRLF>newaudio=<CRLF>newaudio=",
       {"ac3", "ac3", "mp2"},
       {"mpeg1video"}},
      // An empty value is queued by nobody but still reaches the option parser.
      {"empty value", "", "an=\nacodec=", {}, {"mpeg1video"}},
      {"text's video codec", "", "vcodec=mpeg2video", {"mp2"}, {"mpeg2video"}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TFFEncoder encoder;
    TNotices notices;
    notices.Attach(encoder);
    const int task = encoder.AddTask(test::Fixture("sample.avi"));
    ASSERT_EQ(task, 0) << encoder.LastError();
    TOutputOptions o;
    o.AudioCodec = c.AudioCodec;
    o.ExtraOptions = c.Extra;
    o.RecordingTime = 500000;
    const std::string out = Out(std::string(c.Name) + ".mpg");
    ASSERT_TRUE(encoder.SetOutputFile(task, out, &o)) << encoder.LastError();
    encoder.StartTask(0);
    ASSERT_EQ(notices.List().size(), 2u);
    EXPECT_TRUE(notices.List()[0].Finished) << notices.List()[0].ErrorMessage;
    EXPECT_EQ(Codecs(out, AVMEDIA_TYPE_AUDIO), c.Audio);
    EXPECT_EQ(Codecs(out, AVMEDIA_TYPE_VIDEO), c.Video);
  }
}

TEST_F(Encoder, ATargetOverridesTheRecordsBitRates) {
  TFFEncoder encoder;
  TNotices notices;
  notices.Attach(encoder);
  ASSERT_EQ(encoder.AddTask(test::Fixture("long_5s.mpg")), 0);
  TOutputOptions o = Vcd("vcd.mpg", 4);
  o.VideoBitrate = 8000000;
  o.AudioBitrate = 384000;
  ASSERT_TRUE(encoder.SetOutputFile(0, o.FileName, &o)) << encoder.LastError();
  encoder.StartTask(0);
  // VCD: 1150 kbit/s of video and 224 of audio, about 690 KB for 4 s; 8 Mbit/s would be 4 MB.
  EXPECT_LT(fs::file_size(o.FileName), 1'000'000u);
}

TEST_F(Encoder, BadOutputSettingsAreRefusedWithTheEnginesReason) {
  struct TCase {
    const char* Name;
    std::function<void(TOutputOptions&)> Set;
    const char* Error;
  };
  const TCase cases[] = {
      {"frame rate", [](TOutputOptions& o) { o.FrameRate = "fast"; }, "Incorrect frame rate"},
      {"frame size", [](TOutputOptions& o) { o.FrameSize = "big"; }, "Incorrect frame size"},
      {"aspect", [](TOutputOptions& o) { o.AspectRatio = "wide"; },
       "Incorrect aspect ratio specification."},
      {"unknown option", [](TOutputOptions& o) { o.ExtraOptions = "nosuchoption=1"; },
       "Unrecognized option \"nosuchoption\""},
  };
  TFFEncoder encoder;
  ASSERT_EQ(encoder.AddTask(test::Fixture("sample.avi")), 0);
  ASSERT_TRUE(encoder.SetOutputFile(0, Out("first.mpg")));
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TOutputOptions o;
    c.Set(o);
    EXPECT_FALSE(encoder.SetOutputFile(0, Out("bad.mpg"), &o));
    EXPECT_NE(encoder.LastError().find(c.Error), std::string::npos) << encoder.LastError();
    EXPECT_EQ(encoder.Task(0)->OutputFileCount, 1);  // the earlier output stays
  }
  for (int i = 1; i < TFFEncoder::kMaxFiles; ++i)
    ASSERT_TRUE(encoder.SetOutputFile(0, Out(std::to_string(i) + ".mpg"))) << encoder.LastError();
  EXPECT_FALSE(encoder.SetOutputFile(0, Out("21.mpg")));
  EXPECT_EQ(encoder.LastError(), "max output files 20 reached");
}

// A quality class sets the encoder's decisions before the option text, which wins.
TEST_F(Encoder, TheQualityClassGoesBeforeTheOptionText) {
  struct TCase {
    const char* Quality;
    const char* Options;
    int BFrames, Trellis;
    float BFactor;
  };
  const TCase cases[] = {
      {"", "", 2, 0, 1.6f},      {"standard", "", 2, 0, 1.6f},
      {"best", "", 2, 1, 1.25f}, {"Best", "trellis=0\nbf=1", 1, 0, 1.25f},
      {"fast", "", 0, 0, 1.6f},  {"fast", "bf=2\nb_qfactor=2", 2, 0, 2.0f},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.Quality) + " " + c.Options);
    TFFEncoder encoder;
    ASSERT_EQ(encoder.AddTask(test::Fixture("sample.avi")), 0);
    TOutputOptions o = Vcd("dvd.mpg");
    o.TargetType = 3;
    o.Quality = c.Quality;
    o.ExtraOptions = c.Options;
    ASSERT_TRUE(encoder.SetOutputFile(0, o.FileName, &o)) << encoder.LastError();
    const AVCodecContext* video = encoder.Task(0)->OptionContexts.CodecDefaults[AVMEDIA_TYPE_VIDEO];
    EXPECT_EQ(video->max_b_frames, c.BFrames);
    EXPECT_EQ(video->trellis, c.Trellis);
    EXPECT_FLOAT_EQ(video->b_quant_factor, c.BFactor);
    // Easy pictures may spend their rate down to the finest quantiser.
    EXPECT_EQ(video->qmin, 1);
  }
  TFFEncoder encoder;
  ASSERT_EQ(encoder.AddTask(test::Fixture("sample.avi")), 0);
  TOutputOptions o = Vcd("vcd.mpg");
  o.Quality = "better";
  EXPECT_FALSE(encoder.SetOutputFile(0, o.FileName, &o));
  EXPECT_EQ(encoder.LastError(), "Unknown quality class \"better\" (fast, standard or best)");
}

// An AVI header that declares `streams` audio streams (8 kHz mono PCM) and one packet.
std::string AviOfManyStreams(int streams) {
  auto u32 = [](std::uint32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); };
  auto u16 = [](std::uint16_t v) { return std::string(reinterpret_cast<const char*>(&v), 2); };
  auto chunk = [&](const std::string& tag, const std::string& data) {
    return tag + u32(std::uint32_t(data.size())) + data + (data.size() % 2 ? "\0" : "");
  };
  auto list = [&](const std::string& kind, const std::string& data) {
    return chunk("LIST", kind + data);
  };
  std::string header = u32(40000) + u32(0) + u32(0) + u32(0) + u32(0) + u32(0) +
                       u32(std::uint32_t(streams)) + std::string(28, '\0');
  std::string lists = chunk("avih", header);
  for (int i = 0; i < streams; ++i) {
    const std::string strh = "auds" + std::string(4, '\0') + u32(0) + u16(0) + u16(0) + u32(0) +
                             u32(1) + u32(8000) + u32(0) + u32(0) + u32(0) + u32(2) + u32(0) +
                             u32(0) + std::string(8, '\0');
    const std::string strf = u16(1) + u16(1) + u32(8000) + u32(16000) + u16(2) + u16(16);
    lists += list("strl", chunk("strh", strh) + chunk("strf", strf));
  }
  return chunk("RIFF",
               "AVI " + list("hdrl", lists) + list("movi", chunk("00wb", std::string(100, '\0'))));
}

TEST_F(Encoder, InputsThatCannotBeOpenedAddNoTask) {
  // More streams than the library takes: its own reason, not only "Out of memory".
  const std::string manyStreams = (Dir.Path() / "streams.avi").string();
  test::WriteFile(manyStreams, AviOfManyStreams(1001));
  struct TCase {
    std::string File;
    std::string Format;
    const char* Error;
  };
  const TCase cases[] = {
      {(Dir.Path() / "missing.avi").string(), "", "missing.avi"},
      {test::Fixture("random.avi"), "", "random.avi"},
      {test::Fixture("sample.avi"), "nosuchformat", "Unknown input format: \"nosuchformat\""},
      {manyStreams, "", "Number of streams exceeds max_streams"},
  };
  TFFEncoder encoder;
  for (const TCase& c : cases) {
    TInputOptions input;
    input.FileFormat = c.Format;
    EXPECT_EQ(encoder.AddTask(c.File, &input), -1) << c.File;
    EXPECT_NE(encoder.LastError().find(c.Error), std::string::npos) << encoder.LastError();
  }
  EXPECT_EQ(encoder.TaskCount(), 0);

  // A good one: its context and its decoder's file information.
  ASSERT_EQ(encoder.AddTask(test::Fixture("sample.avi")), 0);
  const AVFormatContext* context = encoder.InputContext(0, 0);
  ASSERT_NE(context, nullptr);
  EXPECT_GT(context->duration, 0);
  auto& decoder = static_cast<TFFmpeg*>(encoder.Task(0))->GetDecoder(0);
  EXPECT_EQ(decoder.Context(), context);
  EXPECT_EQ(decoder.VideoStreamCount(), 1);
  EXPECT_EQ(decoder.AudioStreamCount(), 1);
  EXPECT_EQ(decoder.OwnerEncoder(), &encoder);
  EXPECT_EQ(encoder.InputContext(0, 1), nullptr);
}

TEST_F(Encoder, TheEndOfBatchHandlerMayClearTheTasksAndStartAgain) {
  // The last task's worker is still unwinding when the end of the batch is delivered; the
  // handler frees every engine, and the encoder takes a new batch.
  TWatchdog watchdog("clearing from the end of the batch", 60s);
  TFFEncoder encoder;
  std::atomic<int> batchesCleared{0};
  std::string clearError;
  encoder.OnTerminate = [&](TFFEncoder* sender, const TTerminateInfo& info) {
    if (info.TaskIndex != -1) return;
    try {
      sender->ClearTasks();
      ++batchesCleared;
    } catch (const std::exception& e) {
      clearError = e.what();
    }
  };
  for (int batch = 1; batch <= 2; ++batch) {
    AddTasks(encoder, {"a" + std::to_string(batch) + ".mpg", "b" + std::to_string(batch) + ".mpg"});
    encoder.StartTask(2);
    ASSERT_TRUE(ServeUntil([&] { return batchesCleared == batch || !clearError.empty(); }));
    EXPECT_EQ(clearError, "");
    EXPECT_EQ(encoder.TaskCount(), 0);
    EXPECT_FALSE(encoder.Working());
  }
}

TEST_F(Encoder, ClearTasksAskedForWhileStopWaitsIsDoneWhenStopReturns) {
  // Stop(true) on the main thread serves the main thread's queue while it waits; a handler
  // served there that clears the tasks must not free the engines Stop is still using.
  TWatchdog watchdog("clearing while a stop waits", 120s);
  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE(round);
    TFFEncoder encoder;
    std::atomic<bool> progressed{false};
    bool cleared = false;
    encoder.OnProgress = [&](TFFEncoder*, TProgressInfo*) { progressed = true; };
    encoder.OnTerminate = [&](TFFEncoder* sender, const TTerminateInfo& info) {
      if (info.TaskIndex != -1) return;
      PostToMainThread([&, sender] {
        sender->ClearTasks();
        cleared = true;
      });
    };
    encoder.SetProgressInterval(100);
    AddTasks(encoder, {"a.mpg", "b.mpg", "c.mpg"}, test::Fixture("long_5s.mpg"), 5, true);
    encoder.StartTask(3);
    ASSERT_TRUE(ServeUntil([&] { return progressed.load(); }));
    encoder.Stop(true);
    ASSERT_TRUE(ServeUntil([&] { return cleared && encoder.TaskCount() == 0; }));
    EXPECT_FALSE(encoder.Working());
    for (const char* name : {"a.mpg", "b.mpg", "c.mpg"}) EXPECT_TRUE(ProbeMedia(Out(name)).Opened);
  }
}

TEST_F(Encoder, DestroyingTheEncoderMidBatchFinishesTheStartedOutputs) {
  TWatchdog watchdog("destroying a working encoder", 60s);
  std::atomic<bool> progressed{false};
  {
    TFFEncoder encoder;
    encoder.OnProgress = [&](TFFEncoder*, TProgressInfo*) { progressed = true; };
    encoder.SetProgressInterval(100);
    AddTasks(encoder, {"a.mpg", "b.mpg", "c.mpg"}, test::Fixture("long_5s.mpg"), 5, true);
    encoder.StartTask(2);
    ASSERT_TRUE(ServeUntil([&] { return progressed.load(); }));
  }
  EXPECT_TRUE(ProbeMedia(Out("a.mpg")).Opened);
  EXPECT_TRUE(ProbeMedia(Out("b.mpg")).Opened);
  EXPECT_FALSE(fs::exists(Out("c.mpg")));  // never started: its empty file is gone
}

TEST_F(Encoder, PauseHoldsEveryTaskUntilResume) {
  TWatchdog watchdog("pause and resume", 60s);
  TFFEncoder encoder;
  TNotices notices;
  notices.Attach(encoder);
  std::atomic<std::int64_t> frames{0};
  encoder.TriggerEventInMainThread = false;
  encoder.OnProgress = [&](TFFEncoder*, TProgressInfo* info) { frames = info->FrameNumber; };
  encoder.SetProgressInterval(100);
  AddTasks(encoder, {"a.mpg"}, test::Fixture("long_5s.mpg"), 5, true);
  encoder.StartTask(1);
  ASSERT_TRUE(ServeUntil([&] { return frames > 0; }));
  encoder.Pause();
  EXPECT_TRUE(encoder.Paused());
  std::this_thread::sleep_for(300ms);  // a report already under way may still arrive
  const std::int64_t held = frames;
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(frames.load(), held);
  EXPECT_FALSE(notices.EndOfBatchSeen());
  encoder.Resume();
  ASSERT_TRUE(notices.WaitForEndOfBatch());
  EXPECT_TRUE(notices.List().front().Finished);
}

}  // namespace
}  // namespace tovamo
