// The engine's run lifecycle: start and its refusals, the worker thread, stop, pause, the
// end notice, the job's clean-up and the interrupt checks, on real files and real threads.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Engine/FFmpeg.h"
#include "Engine/GuardedIO.h"
#include "Services/FFBindings.h"
#include "Services/FFInterrupt.h"
#include "Services/FFLoad.h"
#include "Services/FFLog.h"
#include "Services/FFUtils.h"
#include "Services/MainThread.h"
#include "support/TestSupport.h"
#include "support/Watchdog.h"
#include "support/LogCapture.h"
#include "support/MediaProbe.h"
#include "Services/Clock.h"
#include "support/TestTime.h"

namespace tovamo {
namespace {

using test::TLogCapture;
using test::TWatchdog;

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

const char* const kNoOutput = "At least one output file must be specified";
const char* const kNoInput = "At least one input file must be specified";

// Records the end notices of one engine and the engine's state as the notice saw it.
struct TTerminateProbe {
  std::mutex Lock;
  std::condition_variable Cond;
  int Count = 0;
  std::thread::id Thread;
  bool Finished = false;
  bool ErrorFlag = false;
  bool Running = true;
  bool Terminated = false;
  bool StopCheckLeft = false;  // the interrupt registry still asked about the thread
  int Nice = 0;
  std::function<void(TCustomFFmpeg*)> Also;

  void Attach(TCustomFFmpeg& engine) {
    engine.OnTerminate = [this](TCustomFFmpeg* sender) {
      if (Also) Also(sender);
      const bool left = InterruptCB()->CheckThread(CurrentThreadId()) != 0;
      errno = 0;
      const int nice = getpriority(PRIO_PROCESS, id_t(gettid()));
      std::lock_guard lock(Lock);
      ++Count;
      Thread = std::this_thread::get_id();
      Finished = sender->Finished;
      ErrorFlag = sender->ErrorFlag;
      Running = sender->Running;
      Terminated = sender->Terminated;
      StopCheckLeft = left;
      Nice = nice;
      Cond.notify_all();
    };
  }
  bool WaitCount(int n, std::chrono::milliseconds timeout) {
    std::unique_lock lock(Lock);
    return Cond.wait_for(lock, test::Generous(timeout), [&] { return Count >= n; });
  }
  int Get() {
    std::lock_guard lock(Lock);
    return Count;
  }
};

void AddInput(TCustomFFmpeg& engine, const std::string& file) {
  AVFormatContext* ctx = nullptr;
  ASSERT_GE(ff::avformat_open_input(&ctx, file.c_str(), nullptr, nullptr), 0) << file;
  ASSERT_GE(ff::avformat_find_stream_info(ctx, nullptr), 0) << file;
  engine.InputFiles[engine.InputFileCount++] = ctx;
}

// An output of `format` whose file is open for writing, holding `bytes` once closed. It has
// no streams: it is for the clean-up and the refusals, not for a run.
void AddRawOutput(TCustomFFmpeg& engine, const std::string& path, const std::string& bytes = {},
                  const char* format = "mpeg") {
  AVFormatContext* ctx = nullptr;
  ASSERT_GE(ff::avformat_alloc_output_context2(&ctx, nullptr, format, path.c_str()), 0);
  if (!(ctx->oformat->flags & AVFMT_NOFILE)) {
    const AVIOInterruptCB cb = FFInterruptCB();
    ASSERT_GE(ff::avio_open2(&ctx->pb, path.c_str(), AVIO_FLAG_WRITE, &cb, nullptr), 0) << path;
    if (!bytes.empty())
      ff::avio_write(ctx->pb, reinterpret_cast<const unsigned char*>(bytes.data()),
                     int(bytes.size()));
  }
  // As a run leaves it: the job made the file, and media reached it when it holds bytes.
  const int slot = engine.OutputFileCount++;
  engine.OutputFiles[slot] = ctx;
  engine.OutputCreated[slot] = !(ctx->oformat->flags & AVFMT_NOFILE);
  engine.OutputMediaPackets[slot] = bytes.empty() ? 0 : 1;
}

// An output that copies every stream of the inputs.
void AddOutput(TCustomFFmpeg& engine, const std::string& path) {
  engine.ParseOption("vcodec", "copy");
  engine.ParseOption("acodec", "copy");
  ASSERT_GE(engine.AddOutputFile(path, false), 1) << engine.LastError;
}

void ExpectNoLibraryObjects(const TCustomFFmpeg& engine) {
  for (int i = 0; i < engine.MaxFiles; ++i) {
    EXPECT_EQ(engine.InputFiles[i], nullptr) << "input slot " << i;
    EXPECT_EQ(engine.OutputFiles[i], nullptr) << "output slot " << i;
  }
  EXPECT_EQ(engine.InputFileCount, 0);
  EXPECT_EQ(engine.OutputFileCount, 0);
  EXPECT_EQ(engine.Metadata, nullptr);
  EXPECT_EQ(engine.FilterGraph, nullptr);
  EXPECT_TRUE(engine.VideoBitstreamFilters.empty());
  EXPECT_TRUE(engine.AudioBitstreamFilters.empty());
  EXPECT_TRUE(engine.SubtitleBitstreamFilters.empty());
  EXPECT_FALSE(engine.OptionContexts.Allocated());
  EXPECT_EQ(engine.VstatsFile, nullptr);
}

std::chrono::milliseconds Since(Clock::time_point t0) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0);
}

// First in this file so that a run of the whole program still sees the libraries unloaded.
TEST(EngineLifecycleWithoutLibraries, ConstructsRefusesToStartStopsAndDestroysSafely) {
  if (FFLoader().LibsLoaded(kEncoderLibraries)) FFLoader().UnloadLibs(kAllLibraries);
  ASSERT_FALSE(FFLoader().LibsLoaded(kEncoderLibraries));
  {
    TTerminateProbe probe;
    TFFmpeg engine(4);
    probe.Attach(engine);
    EXPECT_EQ(engine.InputFiles.size(), 4u);
    EXPECT_EQ(engine.OutputStreamTables.size(), 4u);
    EXPECT_FALSE(engine.OptionContexts.Allocated());
    EXPECT_EQ(engine.IOTimeout, 10000);
    EXPECT_FALSE(engine.Start(true));
    EXPECT_EQ(probe.Get(), 1);
    EXPECT_EQ(engine.ErrorMessage, kNoOutput);
  }
  {
    TTerminateProbe probe;
    TCustomFFmpeg engine(1);
    probe.Attach(engine);
    engine.Stop(true);
    EXPECT_EQ(probe.Get(), 1);
  }
  TCustomFFmpeg largest(512);
  EXPECT_EQ(largest.OutputFiles.size(), 512u);
}

class EngineLifecycle : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NO_FATAL_FAILURE(test::LoadSystemLibraries()); }
  test::TTempDir Dir;
};

TEST_F(EngineLifecycle, MaxFilesOutsideOneTo512IsAnAssertionFailure) {
  for (int bad : {0, -1, 513, 100000}) {
    try {
      TCustomFFmpeg engine(bad);
      ADD_FAILURE() << bad << " was accepted";
    } catch (const EAssertionFailed& e) {
      EXPECT_NE(std::string(e.what()).find("(FFmpeg)"), std::string::npos) << e.what();
    }
  }
  for (int good : {1, 512}) {
    TCustomFFmpeg engine(good);
    EXPECT_EQ(engine.MaxFiles, good);
    EXPECT_EQ(int(engine.InputFiles.size()), good);
    EXPECT_EQ(int(engine.InputTsOffsets.size()), good);
    EXPECT_EQ(int(engine.InputTsScales.size()), good);
    EXPECT_EQ(int(engine.OutputFiles.size()), good);
    EXPECT_EQ(int(engine.OutputStreamTables.size()), good);
  }
}

TEST_F(EngineLifecycle, ANewEngineHoldsItsDefaults) {
  TFFmpeg engine(2);
  EXPECT_TRUE(engine.OptionContexts.Allocated());
  EXPECT_EQ(engine.RequestedDuration, -1);
  EXPECT_TRUE(engine.StrictOptions);
  EXPECT_EQ(engine.ProgressInterval, 500000);
  EXPECT_EQ(engine.PreviewInterval, 100000);
  EXPECT_EQ(engine.IOTimeout, 10000);
  EXPECT_EQ(engine.IOStartTime.load(), INT64_MAX);
  EXPECT_TRUE(engine.DoneEvent.IsSet());
  EXPECT_TRUE(engine.TerminateEvent.IsSet());
  EXPECT_NE(engine.HookConverter, nullptr);
  EXPECT_NE(engine.PreviewConverter, nullptr);
  EXPECT_FALSE(engine.Running || engine.Terminated || engine.Finished || engine.StopRequested);
  EXPECT_FALSE(engine.HasWorker());
}

TEST_F(EngineLifecycle, StartRefusesAJobWithoutOutputsOrInputs) {
  struct TCase {
    int Inputs;
    int Outputs;
    const char* Message;
  };
  // The output check comes first, also when the inputs are missing as well.
  for (const TCase& c : {TCase{0, 0, kNoOutput}, TCase{1, 0, kNoOutput}, TCase{0, 1, kNoInput}}) {
    SCOPED_TRACE(c.Message + std::string(" inputs ") + std::to_string(c.Inputs));
    TLogCapture log;
    TTerminateProbe probe;
    TCustomFFmpeg engine(4);
    probe.Attach(engine);
    const std::string out = Dir.File("refused.mpg");
    for (int i = 0; i < c.Inputs; ++i)
      ASSERT_NO_FATAL_FAILURE(AddInput(engine, test::Fixture("sample.mpg")));
    for (int i = 0; i < c.Outputs; ++i) ASSERT_NO_FATAL_FAILURE(AddRawOutput(engine, out));

    EXPECT_FALSE(engine.Start(true));
    EXPECT_EQ(probe.Get(), 1);
    EXPECT_EQ(probe.Thread, std::this_thread::get_id());
    EXPECT_TRUE(engine.ErrorFlag);
    EXPECT_EQ(engine.ErrorMessage, c.Message);
    EXPECT_FALSE(engine.Running);
    EXPECT_TRUE(engine.Terminated);
    EXPECT_FALSE(engine.HasWorker());
    const auto lines = log.Find(c.Message);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].Level, llQuiet);
    EXPECT_EQ(lines[0].Sender, &engine);
    ExpectNoLibraryObjects(engine);
    EXPECT_FALSE(fs::exists(out)) << "the empty output stays on disk";

    // Terminated is final: nothing starts, nothing is reported again.
    EXPECT_FALSE(engine.Start(true));
    EXPECT_FALSE(engine.Start(false));
    engine.Stop(true);
    engine.Stop(false);
    EXPECT_EQ(probe.Get(), 1);
  }
}

TEST_F(EngineLifecycle, AThreadedRunEndsOnItsWorkerAndTheOwnerMayDestroyTheEngineAtOnce) {
  TTerminateProbe probe;
  auto engine = std::make_unique<TFFmpeg>(2);
  probe.Attach(*engine);
  const std::string out = Dir.File("out.mpg");
  ASSERT_NO_FATAL_FAILURE(AddInput(*engine, test::Fixture("sample.mpg")));
  ASSERT_NO_FATAL_FAILURE(AddOutput(*engine, out));

  ASSERT_TRUE(engine->Start(true, tpLower));
  EXPECT_TRUE(engine->HasWorker());
  EXPECT_TRUE(engine->Running);
  EXPECT_FALSE(engine->DoneEvent.IsSet());
  // Created not running: nothing happens until the caller resumes it.
  EXPECT_FALSE(probe.WaitCount(1, 100ms));
  EXPECT_FALSE(engine->WorkerStarted());
  EXPECT_FALSE(engine->Start(true));  // already running

  engine->Resume();
  EXPECT_TRUE(engine->WorkerStarted() || probe.Get() == 1);
  ASSERT_TRUE(probe.WaitCount(1, 10s));
  engine.reset();  // right after the notice: the worker may still be on its way out

  EXPECT_EQ(probe.Get(), 1);
  EXPECT_NE(probe.Thread, std::this_thread::get_id());
  EXPECT_TRUE(probe.Finished);
  EXPECT_FALSE(probe.ErrorFlag);
  EXPECT_FALSE(probe.Running);
  EXPECT_TRUE(probe.Terminated);
  EXPECT_FALSE(probe.StopCheckLeft);
  EXPECT_GE(probe.Nice, 5) << "tpLower runs below the normal priority";
  EXPECT_TRUE(test::ProbeMedia(out).Opened) << "the copy is a finished file";
}

TEST_F(EngineLifecycle, ASynchronousRunEndsOnTheCallerAndRunsOnlyOnce) {
  TTerminateProbe probe;
  TCustomFFmpeg engine(1);
  probe.Attach(engine);
  ASSERT_NO_FATAL_FAILURE(AddInput(engine, test::Fixture("sample.mpg")));
  ASSERT_NO_FATAL_FAILURE(AddOutput(engine, Dir.File("sync.mpg")));

  EXPECT_FALSE(engine.Start(false));
  EXPECT_EQ(probe.Get(), 1);
  EXPECT_EQ(probe.Thread, std::this_thread::get_id());
  EXPECT_TRUE(engine.Finished);
  EXPECT_FALSE(engine.ErrorFlag);
  EXPECT_TRUE(engine.ErrorMessage.empty());
  ExpectNoLibraryObjects(engine);
  EXPECT_TRUE(test::ProbeMedia(Dir.File("sync.mpg")).Opened);

  EXPECT_FALSE(engine.Start(false));
  EXPECT_FALSE(engine.Start(true));
  engine.Stop(true);
  engine.Stop(false);
  EXPECT_EQ(probe.Get(), 1);
}

TEST_F(EngineLifecycle, StopOnAnEngineThatNeverStartedReportsItsEndOnceFromAnotherThread) {
  for (bool wait : {true, false}) {
    SCOPED_TRACE(wait ? "Stop(true)" : "Stop(false)");
    TTerminateProbe probe;
    {
      // The base class: a TFFmpeg being destroyed drops the notices still to come.
      TCustomFFmpeg engine(1);
      probe.Attach(engine);
      engine.Stop(wait);
      if (wait) {
        EXPECT_EQ(probe.Get(), 1) << "Stop(true) returns after the notice";
      }
      engine.Stop(wait);  // the notice is already on its way: nothing more
      engine.Stop(false);
      EXPECT_FALSE(engine.Start(true));
      // Destroying the engine at once waits for a notice still being delivered.
    }
    EXPECT_EQ(probe.Get(), 1);
    EXPECT_NE(probe.Thread, std::this_thread::get_id());
    EXPECT_FALSE(probe.Finished);
    EXPECT_FALSE(probe.Running);
    EXPECT_TRUE(probe.Terminated);
  }
}

TEST_F(EngineLifecycle, StopWhileRunningEndsPromptlyWithFinishedReadableOutputs) {
  TTerminateProbe probe;
  TCustomFFmpeg engine(4);
  probe.Attach(engine);
  ASSERT_NO_FATAL_FAILURE(AddInput(engine, test::Fixture("long_5s.mpg")));
  const std::string first = Dir.File("first.mpg"), second = Dir.File("second.mpg");
  ASSERT_NO_FATAL_FAILURE(AddOutput(engine, first));
  ASSERT_NO_FATAL_FAILURE(AddOutput(engine, second));
  engine.RateEmulation = true;

  ASSERT_TRUE(engine.Start(true));
  engine.Resume();
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(probe.Get(), 0) << "a 5 s input read in real time cannot be done yet";
  EXPECT_TRUE(engine.Running);

  const auto t0 = Clock::now();
  engine.Stop(true);
  EXPECT_LT(Since(t0), test::Generous(1000ms));
  EXPECT_EQ(probe.Get(), 1);
  EXPECT_FALSE(engine.Finished);
  EXPECT_FALSE(engine.ErrorFlag);
  EXPECT_FALSE(probe.StopCheckLeft) << "the stop check outlived the run";
  ExpectNoLibraryObjects(engine);
  // Both outputs got their trailer: each holds the part that was played, and no more.
  for (const std::string& out : {first, second}) {
    const auto media = test::ProbeMedia(out);
    ASSERT_TRUE(media.Opened) << out;
    ASSERT_FALSE(media.Packets.empty()) << out;
    EXPECT_LT(media.Packets.back().Dts, 3000000) << out;
  }
  engine.Stop(true);
  EXPECT_EQ(probe.Get(), 1);
}

TEST_F(EngineLifecycle, StopWhilePausedEndsPromptly) {
  TTerminateProbe probe;
  TCustomFFmpeg engine(1);
  probe.Attach(engine);
  ASSERT_NO_FATAL_FAILURE(AddInput(engine, test::Fixture("long_5s.mpg")));
  ASSERT_NO_FATAL_FAILURE(AddOutput(engine, Dir.File("paused.mpg")));
  engine.RateEmulation = true;
  ASSERT_TRUE(engine.Start(true));
  engine.Resume();
  std::this_thread::sleep_for(150ms);
  engine.Pause();
  EXPECT_TRUE(engine.Paused());
  std::this_thread::sleep_for(100ms);

  const auto t0 = Clock::now();
  engine.Stop(true);
  EXPECT_LT(Since(t0), test::Generous(1000ms));
  EXPECT_EQ(probe.Get(), 1);
  EXPECT_FALSE(engine.Finished);
  EXPECT_FALSE(engine.Paused());
}

TEST_F(EngineLifecycle, APausedRunHoldsStillAndCompletesAfterResume) {
  TTerminateProbe probe;
  TCustomFFmpeg engine(1);
  probe.Attach(engine);
  ASSERT_NO_FATAL_FAILURE(AddInput(engine, test::Fixture("sample.mpg")));  // 2 s
  ASSERT_NO_FATAL_FAILURE(AddOutput(engine, Dir.File("resumed.mpg")));
  engine.RateEmulation = true;

  TCustomFFmpeg idle(1);
  idle.Pause();  // no thread: nothing to pause
  EXPECT_FALSE(idle.Paused());

  const auto t0 = Clock::now();
  ASSERT_TRUE(engine.Start(true));
  engine.Resume();
  std::this_thread::sleep_for(100ms);
  engine.Pause();
  EXPECT_TRUE(engine.Paused());
  // Long enough for the rest of the input had the run gone on in real time.
  EXPECT_FALSE(probe.WaitCount(1, 2000ms)) << "the run went on while paused";
  engine.Resume();
  EXPECT_FALSE(engine.Paused());
  ASSERT_TRUE(probe.WaitCount(1, 10s));
  const auto total = Since(t0);
  EXPECT_TRUE(probe.Finished);
  EXPECT_FALSE(probe.ErrorFlag);
  // The paused time does not count as played time: the rest still plays in real time.
  EXPECT_GT(total, 3300ms);
  EXPECT_LT(total, test::Generous(8000ms));
}

TEST_F(EngineLifecycle, ManyEnginesRunAtOnceAndStopTogetherThroughTheList) {
  constexpr int kRunning = 8;
  std::vector<std::unique_ptr<TTerminateProbe>> probes;
  for (int i = 0; i <= kRunning; ++i) probes.push_back(std::make_unique<TTerminateProbe>());
  TFFmpegList list;
  for (int i = 0; i <= kRunning; ++i) {
    auto* engine = new TFFmpeg(1);
    EXPECT_EQ(list.Add(engine), i);
    probes[i]->Attach(*engine);
    if (i == kRunning) continue;  // the last one never starts
    ASSERT_NO_FATAL_FAILURE(AddInput(*engine, test::Fixture("long_5s.mpg")));
    ASSERT_NO_FATAL_FAILURE(AddOutput(*engine, Dir.File("many" + std::to_string(i) + ".mpg")));
    engine->RateEmulation = true;
  }
  EXPECT_EQ(list.Count(), kRunning + 1);
  for (int i = 0; i < kRunning; ++i) {
    EXPECT_EQ(list.IndexOf(list.Items(i)), i);
    ASSERT_TRUE(list.Items(i)->Start(true));
    list.Items(i)->Resume();
  }
  std::this_thread::sleep_for(200ms);
  list.PauseAll();
  for (int i = 0; i < kRunning; ++i) EXPECT_TRUE(list.Items(i)->Paused()) << i;
  EXPECT_FALSE(list.Items(kRunning)->Paused());
  list.ResumeAll();
  for (int i = 0; i < kRunning; ++i) EXPECT_FALSE(list.Items(i)->Paused()) << i;

  const auto t0 = Clock::now();
  list.StopAll(true);
  EXPECT_LT(Since(t0), test::Generous(3000ms));
  for (int i = 0; i <= kRunning; ++i) {
    EXPECT_EQ(probes[i]->Get(), 1) << i;
    EXPECT_FALSE(probes[i]->Finished) << i;
    EXPECT_NE(probes[i]->Thread, std::this_thread::get_id()) << i;
    EXPECT_FALSE(list.Items(i)->Running) << i;
  }
  list.StopAll(true);
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  for (int i = 0; i <= kRunning; ++i) EXPECT_EQ(probes[i]->Get(), 1) << i;
}

TEST_F(EngineLifecycle, TheListSetsPreviewBitsOfEveryEngine) {
  TFFmpegList list;
  list.Add(new TFFmpeg(1));
  list.Add(new TCustomFFmpeg(1));
  struct TStep {
    void (TFFmpegList::*Set)(bool);
    bool Enable;
    std::uint8_t Flags;
  };
  for (const TStep& step :
       {TStep{&TFFmpegList::SetPreview, true, 1}, TStep{&TFFmpegList::SetPreviewBitmap, true, 3},
        TStep{&TFFmpegList::SetPreview, false, 2},
        TStep{&TFFmpegList::SetPreviewBitmap, false, 0}}) {
    (list.*step.Set)(step.Enable);
    for (int i = 0; i < list.Count(); ++i) {
      EXPECT_EQ(list.Items(i)->PreviewFlags, step.Flags) << i;
      EXPECT_TRUE(list.Items(i)->PreviewFlagsChanged) << i;
    }
  }
  TCustomFFmpeg stranger(1);
  EXPECT_EQ(list.IndexOf(&stranger), -1);
  EXPECT_THROW(list.Items(2), std::out_of_range);
  EXPECT_THROW(list.Items(-1), std::out_of_range);
}

TEST_F(EngineLifecycle, CloseFilesDeletesEmptyOutputsClosesJoinedOutputsOnceAndFreesAll) {
  TCustomFFmpeg engine(4);
  ASSERT_NO_FATAL_FAILURE(AddInput(engine, test::Fixture("sample.mpg")));
  ASSERT_NO_FATAL_FAILURE(AddInput(engine, test::Fixture("audio_only.wav")));
  const std::string empty = Dir.File("empty.mpg"), written = Dir.File("written.mpg");
  ASSERT_NO_FATAL_FAILURE(AddRawOutput(engine, empty));
  ASSERT_NO_FATAL_FAILURE(AddRawOutput(engine, written, "xyz"));
  // A format that writes no file leaves alone whatever its name names.
  const std::string untouched = Dir.File("untouched.mpg");
  test::WriteFile(untouched, "");
  ASSERT_NO_FATAL_FAILURE(AddRawOutput(engine, untouched, {}, "null"));
  ff::av_dict_set(&engine.Metadata, "title", "pending", 0);
  engine.IntraMatrix = TQuantMatrix{};
  engine.StreamMaps.push_back({});
  engine.VstatsFile = std::fopen(Dir.File("vstats").c_str(), "w");

  engine.CloseFiles();
  ExpectNoLibraryObjects(engine);
  EXPECT_FALSE(engine.IntraMatrix.has_value());
  EXPECT_TRUE(engine.StreamMaps.empty());
  EXPECT_FALSE(fs::exists(empty));
  ASSERT_TRUE(fs::exists(written));
  EXPECT_EQ(fs::file_size(written), 3u);
  EXPECT_TRUE(fs::exists(untouched));
  engine.CloseFiles();  // nothing left: a second clean-up does nothing

  // Join mode: one output placed once per input, closed once.
  TCustomFFmpeg joined(4);
  ASSERT_NO_FATAL_FAILURE(AddRawOutput(joined, Dir.File("joined.mpg"), "join"));
  joined.OutputFiles[1] = joined.OutputFiles[0];
  joined.OutputFileCount = 2;
  joined.JoinMode = true;
  joined.CloseFiles();
  ExpectNoLibraryObjects(joined);
  EXPECT_EQ(fs::file_size(Dir.File("joined.mpg")), 4u);
}

TEST_F(EngineLifecycle, StopRunningOnTheMainThreadServesWhatTheRunHandsToIt) {
  struct TCase {
    const char* Name;
    bool LogToMainThread;
  };
  for (const TCase& c : {TCase{"the end notice calls the main thread", false},
                         TCase{"a log line goes to the main thread", true}}) {
    SCOPED_TRACE(c.Name);
    ASSERT_TRUE(IsMainThread());
    TLogCapture log(c.LogToMainThread);
    std::atomic<bool> ranOnMain{false};
    TTerminateProbe probe;
    probe.Also = [&](TCustomFFmpeg* sender) {
      if (c.LogToMainThread)
        sender->Log(llInfo, "handing over");
      else
        RunInMainThread([&] { ranOnMain = IsMainThread(); });
    };
    TCustomFFmpeg engine(1);
    probe.Attach(engine);
    ASSERT_NO_FATAL_FAILURE(AddInput(engine, test::Fixture("long_5s.mpg")));
    ASSERT_NO_FATAL_FAILURE(AddOutput(engine, Dir.File("main.mpg")));
    engine.RateEmulation = true;
    ASSERT_TRUE(engine.Start(true));
    engine.Resume();
    std::this_thread::sleep_for(100ms);
    {
      TWatchdog watchdog(c.Name);
      engine.StopRunning(true);
    }
    EXPECT_EQ(probe.Get(), 1);
    if (c.LogToMainThread) {
      const auto lines = log.Find("handing over");
      ASSERT_EQ(lines.size(), 1u);
      EXPECT_EQ(lines[0].Thread, std::this_thread::get_id());
    } else {
      EXPECT_TRUE(ranOnMain);
    }
  }
}

TEST_F(EngineLifecycle, DestroyingARunningEngineStopsItAndOnlyTheBaseStillReports) {
  struct TCase {
    bool Derived;  // TFFmpeg detaches its events before it stops the run
    bool Resumed;
  };
  for (const TCase& c :
       {TCase{false, true}, TCase{true, true}, TCase{false, false}, TCase{true, false}}) {
    SCOPED_TRACE(std::string(c.Derived ? "TFFmpeg" : "TCustomFFmpeg") +
                 (c.Resumed ? " resumed" : " never resumed"));
    TTerminateProbe probe;
    std::unique_ptr<TCustomFFmpeg> engine;
    if (c.Derived)
      engine = std::make_unique<TFFmpeg>(1);
    else
      engine = std::make_unique<TCustomFFmpeg>(1);
    probe.Attach(*engine);
    ASSERT_NO_FATAL_FAILURE(AddInput(*engine, test::Fixture("long_5s.mpg")));
    ASSERT_NO_FATAL_FAILURE(AddOutput(*engine, Dir.File("destroyed.mpg")));
    engine->RateEmulation = true;
    ASSERT_TRUE(engine->Start(true));
    if (c.Resumed) {
      engine->Resume();
      std::this_thread::sleep_for(100ms);
    }
    const auto t0 = Clock::now();
    {
      TWatchdog watchdog("destroying a running engine");
      engine.reset();
    }
    EXPECT_LT(Since(t0), test::Generous(1000ms));
    EXPECT_EQ(probe.Get(), c.Derived ? 0 : 1);
    if (!c.Derived) {
      EXPECT_FALSE(probe.Finished);
    }
  }
}

TEST_F(EngineLifecycle, AnOwnerMayFreeTheEngineFromItsOwnEndNotice) {
  struct TCase {
    const char* Name;
    bool Run;  // a run on a worker, or the notice of a job stopped before it started
  };
  for (const TCase& c : {TCase{"after a run", true}, TCase{"stopped before starting", false}}) {
    SCOPED_TRACE(c.Name);
    for (bool derived : {false, true}) {
      std::mutex lock;
      std::condition_variable freed;
      bool done = false;
      TCustomFFmpeg* engine = derived ? new TFFmpeg(1) : new TCustomFFmpeg(1);
      engine->OnTerminate = [&](TCustomFFmpeg* sender) {
        delete sender;
        std::lock_guard guard(lock);
        done = true;
        freed.notify_all();
      };
      TWatchdog watchdog("freeing an engine from its end notice");
      if (c.Run) {
        ASSERT_NO_FATAL_FAILURE(AddInput(*engine, test::Fixture("sample.mpg")));
        ASSERT_NO_FATAL_FAILURE(AddOutput(*engine, Dir.File("freed.mpg")));
        ASSERT_TRUE(engine->Start(true));
        engine->Resume();
      } else {
        engine->Stop(false);
      }
      std::unique_lock guard(lock);
      EXPECT_TRUE(freed.wait_for(guard, test::Generous(10s), [&] { return done; }));
    }
  }
}

TEST_F(EngineLifecycle, AReadErrorEndsThatInputAndTheRestIsStillWritten) {
  // An input whose transport fails part-way through the file.
  struct TSource {
    std::string Data;
    std::size_t Pos = 0;
    std::size_t FailAt = 0;
  } source;
  {
    std::ifstream in(test::Fixture("audio_only.wav"), std::ios::binary);
    source.Data.assign(std::istreambuf_iterator<char>(in), {});
  }
  ASSERT_GT(source.Data.size(), 100000u);
  source.FailAt = source.Data.size() / 2;
  auto read = [](void* opaque, std::uint8_t* buf, int size) -> int {
    auto* s = static_cast<TSource*>(opaque);
    if (s->Pos >= s->FailAt) return AVERROR(EIO);
    const int n = int(std::min<std::size_t>(std::size_t(size), s->FailAt - s->Pos));
    std::memcpy(buf, s->Data.data() + s->Pos, std::size_t(n));
    s->Pos += std::size_t(n);
    return n;
  };
  auto* buffer = static_cast<unsigned char*>(ff::av_malloc(4096));
  AVIOContext* pb = ff::avio_alloc_context(buffer, 4096, 0, &source, +read, nullptr, nullptr);
  ASSERT_NE(pb, nullptr);
  AVFormatContext* ctx = ff::avformat_alloc_context();
  ctx->pb = pb;
  ctx->flags |= AVFMT_FLAG_CUSTOM_IO;
  ASSERT_GE(ff::avformat_open_input(&ctx, "failing.wav", nullptr, nullptr), 0);

  TLogCapture log;
  TTerminateProbe probe;
  TCustomFFmpeg engine(1);
  probe.Attach(engine);
  engine.InputFiles[0] = ctx;
  engine.InputFileCount = 1;
  ASSERT_NO_FATAL_FAILURE(AddOutput(engine, Dir.File("failed.wav")));
  engine.Start(false);

  // A read error ends that input: what was read is converted, and the log says why the
  // rest is missing.
  const std::string expected = ErrorText("failing.wav", AVERROR(EIO));
  EXPECT_EQ(probe.Get(), 1);
  EXPECT_FALSE(engine.ErrorFlag) << engine.ErrorMessage;
  EXPECT_TRUE(engine.Finished);
  EXPECT_EQ(log.Containing(expected).size(), 1u);
  ExpectNoLibraryObjects(engine);
  const auto media = test::ProbeMedia(Dir.File("failed.wav"));
  ASSERT_TRUE(media.Opened);
  EXPECT_GT(media.Duration, 500000);
  EXPECT_LT(media.Duration, 1500000);
  ff::av_freep(&pb->buffer);
  ff::avio_context_free(&pb);
}

TEST_F(EngineLifecycle, IOTimeoutCheckCancelsAfterStopRunningOrTheTimeOut) {
  TLogCapture log;
  TCustomFFmpeg engine(1);
  TCustomFFmpeg other(1);
  EXPECT_FALSE(TCustomFFmpeg::IOTimeoutCheck(&engine, &engine)) << "no call in progress";

  engine.StopRunning(false);  // no thread: cancels through IOStartTime
  EXPECT_TRUE(engine.StopRequested);
  EXPECT_EQ(engine.IOStartTime.load(), 0);
  EXPECT_FALSE(TCustomFFmpeg::IOTimeoutCheck(&engine, &other)) << "another engine's entry";
  EXPECT_TRUE(TCustomFFmpeg::IOTimeoutCheck(&engine, &engine));
  auto lines = log.Find("connecting/reading/writing canceled");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].Level, llInfo);
  EXPECT_EQ(lines[0].Sender, &engine);

  engine.IOTimeout = 0;  // no time-out at all, not even a cancel
  EXPECT_FALSE(TCustomFFmpeg::IOTimeoutCheck(&engine, &engine));
  engine.IOTimeout = -5;
  EXPECT_FALSE(TCustomFFmpeg::IOTimeoutCheck(&engine, &engine));

  engine.IOTimeout = 1000;
  engine.IOStartTime = MonotonicMicros() - 500000;
  EXPECT_FALSE(TCustomFFmpeg::IOTimeoutCheck(&engine, &engine));
  engine.IOStartTime = MonotonicMicros() - 1500000;
  EXPECT_TRUE(TCustomFFmpeg::IOTimeoutCheck(&engine, &engine));
  EXPECT_EQ(log.Find("connecting/reading/writing timeout").size(), 1u);
  EXPECT_EQ(log.Find("connecting/reading/writing canceled").size(), 1u);
}

// ...and only while the loop reads or opens an input: the loop's thread writes the outputs
// too, and a write cut short would fail the output that the stop is finishing.
TEST_F(EngineLifecycle, StopCheckAnswersForItsOwnEngineOnceAStopIsRequested) {
  TCustomFFmpeg engine(1), other(1);
  engine.LoopInputIO = true;
  other.LoopInputIO = true;
  EXPECT_FALSE(TCustomFFmpeg::StopCheck(&engine, &engine));
  engine.StopRunning(false);
  EXPECT_TRUE(TCustomFFmpeg::StopCheck(&engine, &engine));
  EXPECT_FALSE(TCustomFFmpeg::StopCheck(&engine, &other));
  EXPECT_FALSE(TCustomFFmpeg::StopCheck(&other, &other));
  engine.LoopInputIO = false;  // writing
  EXPECT_FALSE(TCustomFFmpeg::StopCheck(&engine, &engine));
}

// A listener that never sends: the kernel completes the connection, the read then waits.
class TSilentPeer {
 public:
  TSilentPeer() {
    Fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(Fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    listen(Fd_, 4);
    socklen_t len = sizeof addr;
    getsockname(Fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    Url_ = "tcp://127.0.0.1:" + std::to_string(ntohs(addr.sin_port));
  }
  ~TSilentPeer() { close(Fd_); }
  const std::string& Url() const { return Url_; }

 private:
  int Fd_;
  std::string Url_;
};

TEST_F(EngineLifecycle, AGuardedOpenEndsPromptlyOnStopRunningOrItsTimeOut) {
  enum TEnd { StopWhileBlocked, StopBeforeTheCall, TimeOut };
  struct TCase {
    const char* Name;
    TEnd End;
    const char* Line;
  };
  for (const TCase& c :
       {TCase{"stop while blocked", StopWhileBlocked, "connecting/reading/writing canceled"},
        TCase{"stop before the call", StopBeforeTheCall, "connecting/reading/writing canceled"},
        TCase{"time-out", TimeOut, "connecting/reading/writing timeout"}}) {
    SCOPED_TRACE(c.Name);
    TLogCapture log;
    TSilentPeer peer;
    TCustomFFmpeg engine(1);
    engine.IOTimeout = c.End == TimeOut ? 300 : 10000;
    if (c.End == StopBeforeTheCall) engine.StopRunning(false);

    struct TResult {
      int Ret;
      std::int64_t IOStartAfter;
      int ChecksAfter;
    };
    std::promise<TResult> promise;
    auto done = promise.get_future();
    std::thread worker([&] {
      AVFormatContext* ctx = ff::avformat_alloc_context();
      ctx->interrupt_callback = FFInterruptCB();
      int ret;
      {
        TGuardedIO guard(&engine);
        ret = ff::avformat_open_input(&ctx, peer.Url().c_str(), nullptr, nullptr);
      }
      if (ret >= 0) ff::avformat_close_input(&ctx);
      promise.set_value(
          {ret, engine.IOStartTime.load(), InterruptCB()->CheckThread(CurrentThreadId())});
    });
    const auto t0 = Clock::now();
    if (c.End == StopWhileBlocked) {
      EXPECT_EQ(done.wait_for(300ms), std::future_status::timeout) << "the open did not block";
      engine.StopRunning(false);
    }
    if (done.wait_for(test::Generous(5s)) != std::future_status::ready) {
      ADD_FAILURE() << "the guarded open did not end";
      std::_Exit(1);  // the worker cannot be joined
    }
    worker.join();
    const auto elapsed = Since(t0);
    const TResult r = done.get();
    EXPECT_EQ(r.Ret, AVERROR_EXIT);
    EXPECT_EQ(r.IOStartAfter, INT64_MAX);
    EXPECT_EQ(r.ChecksAfter, 0) << "the guard left its check registered";
    if (c.End == TimeOut) {
      EXPECT_GE(elapsed, 250ms);
    }
    EXPECT_LT(elapsed, test::Generous(c.End == StopBeforeTheCall ? 1000ms : 2000ms));
    const auto lines = log.Find(c.Line);
    ASSERT_GE(lines.size(), 1u);
    EXPECT_EQ(lines[0].Level, llInfo);
    EXPECT_EQ(lines[0].Sender, &engine);
  }
}

TEST_F(EngineLifecycle, LogFmtFormatsLongTextsWhole) {
  TLogCapture log;
  TCustomFFmpeg engine(1);
  const std::string longText(5000, 'x');
  engine.LogFmt(llWarning, "%s-%d", longText.c_str(), 42);
  engine.LogFmt(llWarning, "short %s", "line");
  const auto lines = log.Find(longText + "-42");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].Level, llWarning);
  EXPECT_EQ(lines[0].Sender, &engine);
  EXPECT_EQ(log.Find("short line").size(), 1u);
}

}  // namespace
}  // namespace tovamo
