#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cinttypes>
#include <climits>
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "Services/Exceptions.h"
#include "Services/FFBindings.h"
#include "Services/FFLoadHooks.h"
#include "Services/FFLog.h"
#include "Services/MainThread.h"
#include "support/TestSupport.h"
#include "support/Watchdog.h"

namespace tovamo {
namespace {

using test::TWatchdog;

using ::testing::ElementsAre;
using ::testing::HasSubstr;

struct TEvent {
  void* Sender;
  std::uint32_t ThreadId;     // as the event carries it
  std::uint32_t DeliveredOn;  // the thread that ran the handler
  TLogLevel Level;
  std::string Msg;
};

// Records every event; safe to feed from several threads.
class TCollector {
 public:
  TLogEvent Handler() {
    return [this](void* sender, std::uint32_t tid, TLogLevel level, const std::string& msg) {
      {
        std::lock_guard lock(Lock_);
        Events_.push_back({sender, tid, CurrentThreadId(), level, msg});
      }
      Changed_.notify_all();
    };
  }
  std::vector<TEvent> Events() const {
    std::lock_guard lock(Lock_);
    return Events_;
  }
  std::vector<std::string> Messages() const {
    std::vector<std::string> out;
    for (const TEvent& e : Events()) out.push_back(e.Msg);
    return out;
  }
  std::vector<std::string> MessagesOf(std::uint32_t tid) const {
    std::vector<std::string> out;
    for (const TEvent& e : Events())
      if (e.ThreadId == tid) out.push_back(e.Msg);
    return out;
  }

 private:
  mutable std::mutex Lock_;
  std::condition_variable Changed_;
  std::vector<TEvent> Events_;
};

std::string Tag(const char* name, const void* ctx) {
  char buf[256];
  std::snprintf(buf, sizeof buf, "[%s @ %016" PRIXPTR "]", name,
                reinterpret_cast<std::uintptr_t>(ctx));
  return buf;
}

// Lets two threads take strict turns: Wait(n) blocks until step n is reached, Next() moves on.
class TTurns {
 public:
  void Wait(int step) {
    std::unique_lock lock(Lock_);
    Cv_.wait(lock, [&] { return Step_ == step; });
  }
  void Next() {
    {
      std::lock_guard lock(Lock_);
      ++Step_;
    }
    Cv_.notify_all();
  }

 private:
  std::mutex Lock_;
  std::condition_variable Cv_;
  int Step_ = 0;
};

// ---------------------------------------------------------------------------------------
// Level scales

TEST(LogLevels, ProgramLevelsMapToFFmpegLevels) {
  const std::pair<TLogLevel, int> table[] = {{llQuiet, AV_LOG_QUIET},     {llPanic, AV_LOG_PANIC},
                                             {llFatal, AV_LOG_FATAL},     {llError, AV_LOG_ERROR},
                                             {llWarning, AV_LOG_WARNING}, {llInfo, AV_LOG_INFO},
                                             {llVerbose, AV_LOG_VERBOSE}, {llDebug, AV_LOG_DEBUG}};
  for (const auto& [level, ff] : table) {
    EXPECT_EQ(FFmpegLogLevel(level), ff) << "ordinal " << int(level);
    EXPECT_EQ(LogLevelFromFFmpeg(ff), level) << "ffmpeg " << ff;
  }
}

TEST(LogLevels, FFmpegLevelsBetweenAndBeyondTheStepsMapToOrdinals) {
  const std::pair<int, TLogLevel> table[] = {
      {INT_MIN, llQuiet}, {-100, llQuiet},   {-16, llQuiet},
      {-9, llQuiet},      {-8, llQuiet},     {-1, llPanic},
      {0, llPanic},       {7, llPanic},      {8, llFatal},
      {15, llFatal},      {16, llError},     {17, llError},
      {23, llError},      {24, llWarning},   {31, llWarning},
      {32, llInfo},       {39, llInfo},      {40, llVerbose},
      {47, llVerbose},    {48, llDebug},     {AV_LOG_TRACE, llDebug},
      {1000, llDebug},    {INT_MAX, llDebug}};
  for (const auto& [ff, level] : table) EXPECT_EQ(LogLevelFromFFmpeg(ff), level) << "ffmpeg " << ff;
}

TEST(LogLevels, LevelNamesAndNumbersSelectTheLevel) {
  TFFLogger logger;
  const std::pair<const char*, TLogLevel> table[] = {
      {"quiet", llQuiet},     {"PANIC", llPanic}, {"Fatal", llFatal},      {"error", llError},
      {"WARNING", llWarning}, {"info", llInfo},   {"VeRbOsE", llVerbose},  {"DEBUG", llDebug},
      {"17", llError},        {"-8", llQuiet},    {"0", llPanic},          {"+40", llVerbose},
      {"56", llDebug},        {"31", llWarning},  {"-2147483648", llQuiet}};
  for (const auto& [name, level] : table) {
    logger.SetLogLevel(level == llInfo ? llDebug : llInfo);  // make every step a change
    logger.SetLogLevelByName(name);
    EXPECT_EQ(logger.LogLevel(), level) << name;
  }
}

TEST(LogLevels, BadLevelNumberRaisesConvertErrorAndKeepsTheLevel) {
  TFFLogger logger;
  logger.SetLogLevel(llWarning);
  for (const char* bad : {"abc", "", "1.5", "12x", "-", "0x10", "99999999999", "info "}) {
    try {
      logger.SetLogLevelByName(bad);
      ADD_FAILURE() << "accepted '" << bad << "'";
    } catch (const EConvertError& e) {
      EXPECT_EQ(std::string(e.what()), std::string("'") + bad + "' is not a valid integer value");
    }
    EXPECT_EQ(logger.LogLevel(), llWarning) << bad;
  }
}

TEST(LogLevels, NewLoggerStartsAtTheBridgeThreshold) {
  if (!ff::av_log_set_level) {
    // Nothing has set a level in this process yet: FFmpeg's own default, info.
    TFFLogger fresh;
    EXPECT_EQ(fresh.LogLevel(), llInfo);
  }
  test::LoadSystemLibraries();
  for (TLogLevel level : {llDebug, llWarning, llQuiet}) {
    {
      TFFLogger previous;
      previous.SetLogLevel(level == llDebug ? llError : llDebug);
      previous.SetLogLevel(level);
      EXPECT_EQ(ff::av_log_get_level(), FFmpegLogLevel(level));
    }
    TFFLogger next;
    EXPECT_EQ(next.LogLevel(), level);
  }
}

TEST(LogLevels, LevelIsPushedToFFmpeg) {
  test::LoadSystemLibraries();
  TFFLogger logger;
  for (TLogLevel level : {llQuiet, llPanic, llError, llInfo, llDebug, llQuiet}) {
    logger.SetLogLevel(level);
    EXPECT_EQ(ff::av_log_get_level(), FFmpegLogLevel(level)) << int(level);
  }
  EXPECT_EQ(ff::av_log_get_level(), -8);
  logger.SetLogLevelByName("warning");
  EXPECT_EQ(ff::av_log_get_level(), AV_LOG_WARNING);
}

// ---------------------------------------------------------------------------------------
// Logger instances

TEST(LoggerInstances, SecondLoggerIsAnAssertionFailure) {
  TFFLogger first;
  try {
    TFFLogger second;
    ADD_FAILURE() << "a second logger was created";
  } catch (const EAssertionFailed& e) {
    EXPECT_THAT(e.what(), HasSubstr("Allow creating only one instance of TFFLogger."));
    EXPECT_THAT(e.what(), HasSubstr("(FFLog)"));
  }
  EXPECT_EQ(DefaultLogger(), &first);
}

TEST(LoggerInstances, AutoCreatedLoggerGivesWayToARealOne) {
  test::LoadSystemLibraries();
  TFFLogger* automatic = DefaultLogger();
  ASSERT_NE(automatic, nullptr);
  EXPECT_TRUE(automatic->AutoCreated());
  EXPECT_EQ(DefaultLogger(), automatic);
  TCollector onAutomatic;
  automatic->TriggerEventInMainThread = false;
  automatic->SetOnLog(onAutomatic.Handler());
  {
    TFFLogger real;
    EXPECT_FALSE(real.AutoCreated());
    EXPECT_EQ(DefaultLogger(), &real);
    real.TriggerEventInMainThread = false;
    TCollector onReal;
    real.SetOnLog(onReal.Handler());
    ff::av_log(nullptr, AV_LOG_ERROR, "to the real logger\n");
    EXPECT_THAT(onReal.Messages(), ElementsAre("to the real logger"));
    EXPECT_EQ(onReal.Events().at(0).Sender, &real);
  }
  EXPECT_TRUE(onAutomatic.Events().empty());
  // With the real logger gone, a new one is made on demand.
  TFFLogger* again = DefaultLogger();
  ASSERT_NE(again, nullptr);
  EXPECT_TRUE(again->AutoCreated());
}

TEST(LoggerInstances, HookLogRequiresTheLogEntryPointsAndAppliesTheLevel) {
  TFFLogger logger;
  logger.SetLogLevel(llError);
  test::LoadSystemLibraries();  // the loader runs HookLog
  EXPECT_EQ(ff::av_log_get_level(), AV_LOG_ERROR);

  const auto savedCallback = ff::av_log_set_callback;
  const auto savedLevel = ff::av_log_set_level;
  ff::av_log_set_callback = nullptr;
  EXPECT_THROW(HookLog(), EAssertionFailed);
  ff::av_log_set_callback = savedCallback;
  ff::av_log_set_level = nullptr;
  try {
    HookLog();
    ADD_FAILURE() << "installed without av_log_set_level";
  } catch (const EAssertionFailed& e) {
    EXPECT_THAT(e.what(), HasSubstr("(FFLog)"));
  }
  ff::av_log_set_level = savedLevel;

  // Installing again is harmless: lines still arrive once each.
  EXPECT_NO_THROW(HookLog());
  logger.TriggerEventInMainThread = false;
  TCollector got;
  logger.SetOnLog(got.Handler());
  ff::av_log(nullptr, AV_LOG_ERROR, "after a second install\n");
  ff::av_log(nullptr, AV_LOG_WARNING, "above the threshold\n");
  EXPECT_THAT(got.Messages(), ElementsAre("after a second install"));
}

// ---------------------------------------------------------------------------------------
// Program messages: Log and LogFmt

TEST(ProgramMessages, FilterFollowsTheLevelWithVerboseAlwaysPassingUnlessQuiet) {
  TFFLogger logger;
  logger.TriggerEventInMainThread = false;
  TCollector got;
  logger.SetOnLog(got.Handler());
  const TLogLevel all[] = {llQuiet,   llPanic, llFatal,   llError,
                           llWarning, llInfo,  llVerbose, llDebug};
  for (TLogLevel threshold : all) {
    logger.SetLogLevel(threshold);
    for (TLogLevel level : all) {
      const std::size_t before = got.Events().size();
      logger.Log(nullptr, level, "m");
      const bool expected = level <= threshold || (level == llVerbose && threshold != llQuiet);
      EXPECT_EQ(got.Events().size() - before, expected ? 1u : 0u)
          << "threshold " << int(threshold) << " message " << int(level);
    }
  }
}

TEST(ProgramMessages, EventCarriesSenderThreadLevelAndText) {
  TFFLogger logger;
  logger.TriggerEventInMainThread = false;
  logger.SetLogLevel(llDebug);
  TCollector got;
  logger.SetOnLog(got.Handler());
  int sender = 0;
  logger.Log(&sender, llWarning, "plain text, kept as it is\nwith its line feed");
  const std::string longArg(5000, 'x');
  logger.LogFmt(&sender, llDebug, "%d:%s:%s", 42, "a", longArg.c_str());
  std::uint32_t workerTid = 0;
  std::thread([&] {
    workerTid = CurrentThreadId();
    logger.Log(nullptr, llError, "from a worker");
  }).join();

  const auto events = got.Events();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].Sender, &sender);
  EXPECT_EQ(events[0].ThreadId, std::uint32_t(getpid()));
  EXPECT_EQ(events[0].Level, llWarning);
  EXPECT_EQ(events[0].Msg, "plain text, kept as it is\nwith its line feed");
  EXPECT_EQ(events[1].Level, llDebug);
  EXPECT_EQ(events[1].Msg, "42:a:" + longArg);
  EXPECT_EQ(events[2].ThreadId, workerTid);
  EXPECT_NE(workerTid, std::uint32_t(getpid()));
  EXPECT_EQ(events[2].DeliveredOn, workerTid);
}

TEST(ProgramMessages, NothingHappensWithoutAHandler) {
  TFFLogger logger;
  logger.TriggerEventInMainThread = true;
  EXPECT_FALSE(logger.HasOnLog());
  TWatchdog watchdog("logging without a handler");
  std::thread([&] { logger.Log(nullptr, llError, "nobody listens"); }).join();
  EXPECT_EQ(ServeMainThreadQueue(), 0);  // nothing was handed to the main thread
  TCollector got;
  logger.SetOnLog(got.Handler());
  EXPECT_TRUE(logger.HasOnLog());
  logger.SetOnLog(nullptr);
  EXPECT_FALSE(logger.HasOnLog());
}

// A handler's exception reaches the thread that logged when the handler ran on that thread.
// A worker's line handed to the main thread has left its writer, which did not wait: the
// failure is dropped there, and the lines after it still arrive.
TEST(ProgramMessages, HandlerExceptionReachesTheWriterOnlyOnItsOwnThread) {
  TFFLogger logger;
  logger.TriggerEventInMainThread = true;
  std::vector<std::string> handled;  // one thread at a time
  logger.SetOnLog([&](void*, std::uint32_t, TLogLevel, const std::string& msg) {
    handled.push_back(msg);
    throw std::runtime_error("handler failed on " + msg);
  });
  EXPECT_THROW(logger.Log(nullptr, llError, "main"), std::runtime_error);
  TWatchdog watchdog("handler exception hand-over");
  std::thread([&] {
    EXPECT_NO_THROW(logger.Log(nullptr, llError, "worker 1"));
    EXPECT_NO_THROW(logger.Log(nullptr, llError, "worker 2"));
  }).join();
  EXPECT_NO_THROW(ServeMainThreadQueue());
  logger.TriggerEventInMainThread = false;
  std::thread([&] {
    try {
      logger.Log(nullptr, llError, "on the worker");
      ADD_FAILURE() << "the failure did not reach the worker";
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), "handler failed on on the worker");
    }
  }).join();
  EXPECT_EQ(handled, (std::vector<std::string>{"main", "worker 1", "worker 2", "on the worker"}));
}

// ---------------------------------------------------------------------------------------
// FFmpeg messages through the bridge

class Bridge : public ::testing::Test {
 protected:
  void SetUp() override {
    test::LoadSystemLibraries();
    Logger.TriggerEventInMainThread = false;
    Logger.SetLogLevel(llDebug);
    Logger.SetOnLog(Got.Handler());
  }
  TCollector Got;  // outlives the logger that calls it
  TFFLogger Logger;
};

TEST_F(Bridge, TwoPiecesMakeOneLineWithOnePrefix) {
  AVFormatContext* ctx = ff::avformat_alloc_context();
  ASSERT_NE(ctx, nullptr);
  ff::av_log(ctx, AV_LOG_WARNING, "first piece, ");
  EXPECT_TRUE(Got.Events().empty());
  ff::av_log(ctx, AV_LOG_WARNING, "second piece %d\n", 2);
  const auto events = Got.Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].Msg, Tag("NULL", ctx) + "first piece, second piece 2");
  EXPECT_EQ(events[0].Level, llWarning);
  EXPECT_EQ(events[0].Sender, &Logger);
  EXPECT_EQ(events[0].ThreadId, std::uint32_t(getpid()));
  ff::avformat_free_context(ctx);
}

TEST_F(Bridge, PrefixNamesTheContextAndItsAddress) {
  AVFormatContext* ctx = ff::avformat_alloc_context();
  ASSERT_NE(ctx, nullptr);
  ff::av_log(ctx, AV_LOG_ERROR, "with a context\n");
  ff::av_log(nullptr, AV_LOG_ERROR, "without a context\n");
  const auto msgs = Got.Messages();
  ASSERT_EQ(msgs.size(), 2u);
  EXPECT_TRUE(std::regex_match(msgs[0], std::regex(R"(\[NULL @ [0-9A-F]{16}\]with a context)")))
      << msgs[0];
  EXPECT_EQ(std::stoull(msgs[0].substr(8, 16), nullptr, 16), reinterpret_cast<std::uintptr_t>(ctx));
  EXPECT_EQ(msgs[1], "without a context");
  ff::avformat_free_context(ctx);
}

struct TChildContext {
  const AVClass* Class;
  void* Parent;
};

const char* ChildItemName(void*) {
  return "child";
}

TEST_F(Bridge, PrefixNamesTheParentContextFirst) {
  AVFormatContext* parent = ff::avformat_alloc_context();
  ASSERT_NE(parent, nullptr);
  AVClass childClass{};
  childClass.class_name = "ChildClass";
  childClass.item_name = ChildItemName;
  childClass.version = LIBAVUTIL_VERSION_INT;
  childClass.parent_log_context_offset = offsetof(TChildContext, Parent);
  TChildContext child{&childClass, parent};
  ff::av_log(&child, AV_LOG_INFO, "nested\n");
  child.Parent = nullptr;  // a class with a parent slot that is empty
  ff::av_log(&child, AV_LOG_INFO, "orphan\n");
  childClass.item_name = nullptr;  // FFmpeg's default item name: the class name
  childClass.parent_log_context_offset = 0;
  ff::av_log(&child, AV_LOG_INFO, "default name\n");
  EXPECT_THAT(
      Got.Messages(),
      ElementsAre(Tag("NULL", parent) + " " + Tag("child", &child) + "nested",
                  Tag("child", &child) + "orphan", Tag("ChildClass", &child) + "default name"));
  ff::avformat_free_context(parent);
}

TEST_F(Bridge, EqualCompleteMessagesAreCountedUntilAnotherArrives) {
  for (int i = 0; i < 3; ++i) ff::av_log(nullptr, AV_LOG_ERROR, "same %s\n", "thing");
  EXPECT_THAT(Got.Messages(), ElementsAre("same thing"));
  ff::av_log(nullptr, AV_LOG_WARNING, "another\n");
  EXPECT_THAT(Got.Messages(),
              ElementsAre("same thing", "    Last message repeated 2 times", "another"));
  const auto events = Got.Events();
  EXPECT_EQ(events[1].Level, llWarning);  // the level of the message that ended the run
  EXPECT_EQ(events[1].ThreadId, std::uint32_t(getpid()));
  // A single repeat is reported too; a piece without line feed is never a repeat.
  ff::av_log(nullptr, AV_LOG_ERROR, "another\n");
  ff::av_log(nullptr, AV_LOG_ERROR, "open");
  ff::av_log(nullptr, AV_LOG_ERROR, "open");
  ff::av_log(nullptr, AV_LOG_ERROR, "\n");
  EXPECT_THAT(Got.Messages(),
              ElementsAre("same thing", "    Last message repeated 2 times", "another",
                          "    Last message repeated 1 times", "openopen"));
}

TEST_F(Bridge, LineFeedsSplitAPieceIntoEventsAndTheRestStaysPending) {
  ff::av_log(nullptr, AV_LOG_INFO, "one\ntwo\n\nthree");
  EXPECT_THAT(Got.Messages(), ElementsAre("one", "two", ""));
  ff::av_log(nullptr, AV_LOG_INFO, " continued\nfour\n");
  EXPECT_THAT(Got.Messages(), ElementsAre("one", "two", "", "three continued", "four"));
}

TEST_F(Bridge, MessagesAboveTheThresholdVanish) {
  Logger.SetLogLevel(llWarning);
  ff::av_log(nullptr, AV_LOG_INFO, "too chatty\n");
  ff::av_log(nullptr, AV_LOG_VERBOSE, "far too chatty\n");
  ff::av_log(nullptr, AV_LOG_WARNING, "kept\n");
  Logger.SetLogLevel(llQuiet);
  ff::av_log(nullptr, AV_LOG_PANIC, "even panic is dropped\n");
  EXPECT_THAT(Got.Messages(), ElementsAre("kept"));
}

// A thread's own level filters that thread's lines, the libraries' and the program's, and
// leaves every other thread at the logger's level.
TEST_F(Bridge, AThreadsOwnLevelFiltersOnlyItsLines) {
  Logger.SetLogLevel(llWarning);
  std::thread([&] {
    const TThreadLogLevel level(llDebug);
    ff::av_log(nullptr, AV_LOG_DEBUG, "job in debug\n");
    Logger.Log(nullptr, llDebug, "job's own debug line");
    {
      const TThreadLogLevel quiet(llQuiet);
      ff::av_log(nullptr, AV_LOG_ERROR, "a quiet scope inside\n");
    }
    ff::av_log(nullptr, AV_LOG_INFO, "debug again after it\n");
  }).join();
  std::thread([&] {
    const TThreadLogLevel none(std::nullopt);
    ff::av_log(nullptr, AV_LOG_INFO, "other job at the logger's level\n");
    ff::av_log(nullptr, AV_LOG_WARNING, "other job's warning\n");
  }).join();
  ff::av_log(nullptr, AV_LOG_DEBUG, "main thread in warning\n");
  EXPECT_THAT(Got.Messages(), ElementsAre("job in debug", "job's own debug line",
                                          "debug again after it", "other job's warning"));
  EXPECT_EQ(Logger.LogLevel(), llWarning);
}

TEST_F(Bridge, LongMessagesArriveWhole) {
  for (std::size_t size : {2046u, 2047u, 2048u, 4095u, 4096u, 10000u}) {
    const std::string text(size, 'q');
    ff::av_log(nullptr, AV_LOG_ERROR, "%s|%zu\n", text.c_str(), size);
    ASSERT_FALSE(Got.Messages().empty());
    EXPECT_EQ(Got.Messages().back(), text + "|" + std::to_string(size));
  }
}

TEST_F(Bridge, TwoThreadsKeepTheirOwnPendingText) {
  AVFormatContext* ctxA = ff::avformat_alloc_context();
  AVFormatContext* ctxB = ff::avformat_alloc_context();
  TTurns turns;
  std::uint32_t tidA = 0, tidB = 0;
  TWatchdog watchdog("interleaved threads");
  std::thread a([&] {
    tidA = CurrentThreadId();
    turns.Wait(0);
    ff::av_log(ctxA, AV_LOG_ERROR, "a1 ");
    turns.Next();
    turns.Wait(2);
    ff::av_log(ctxA, AV_LOG_ERROR, "a2\n");
    turns.Next();
  });
  std::thread b([&] {
    tidB = CurrentThreadId();
    turns.Wait(1);
    ff::av_log(ctxB, AV_LOG_ERROR, "b1 ");
    turns.Next();
    turns.Wait(3);
    ff::av_log(ctxB, AV_LOG_ERROR, "b2\n");
    turns.Next();
  });
  a.join();
  b.join();
  EXPECT_THAT(Got.MessagesOf(tidA), ElementsAre(Tag("NULL", ctxA) + "a1 a2"));
  EXPECT_THAT(Got.MessagesOf(tidB), ElementsAre(Tag("NULL", ctxB) + "b1 b2"));
  EXPECT_EQ(Got.Events().size(), 2u);
  ff::avformat_free_context(ctxA);
  ff::avformat_free_context(ctxB);
}

// A piece that completes one thread's open line must close that line even when it equals
// the last whole message of another thread; it is not swallowed as a repeat.
TEST_F(Bridge, ContinuationEqualToTheLastMessageStillEndsItsLine) {
  TTurns turns;
  std::uint32_t tidA = 0, tidB = 0;
  TWatchdog watchdog("continuation");
  std::thread b([&] {
    tidB = CurrentThreadId();
    ff::av_log(nullptr, AV_LOG_ERROR, "open ");
    turns.Next();
    turns.Wait(2);
    ff::av_log(nullptr, AV_LOG_ERROR, "end\n");
    ff::av_log(nullptr, AV_LOG_ERROR, "next\n");
  });
  std::thread a([&] {
    tidA = CurrentThreadId();
    turns.Wait(1);
    ff::av_log(nullptr, AV_LOG_ERROR, "end\n");
    turns.Next();
  });
  a.join();
  b.join();
  EXPECT_THAT(Got.MessagesOf(tidA), ElementsAre("end"));
  EXPECT_THAT(Got.MessagesOf(tidB), ElementsAre("open end", "next"));
}

TEST_F(Bridge, EveryThreadsLinesKeepTheirOrder) {
  Logger.TriggerEventInMainThread = true;
  constexpr int kWorkers = 4, kLines = 160;
  std::vector<std::uint32_t> tids(kWorkers);
  std::atomic<int> finished{0};
  std::vector<std::thread> workers;
  TWatchdog watchdog("ordered delivery");
  for (int w = 0; w < kWorkers; ++w) {
    workers.emplace_back([&, w] {
      tids[w] = CurrentThreadId();
      // Lines made of two pieces, two lines in one piece, and plain lines, in turn.
      for (int i = 0; i < kLines; ++i) {
        switch (i % 4) {
          case 0:
            ff::av_log(nullptr, AV_LOG_INFO, "worker %d ", w);
            ff::av_log(nullptr, AV_LOG_INFO, "line %d\n", i);
            break;
          case 1:
            ff::av_log(nullptr, AV_LOG_INFO, "worker %d line %d\nworker %d line %d\n", w, i, w,
                       i + 1);
            ++i;
            break;
          default:
            ff::av_log(nullptr, AV_LOG_INFO, "worker %d line %d\n", w, i);
        }
      }
      ++finished;
    });
  }
  while (finished < kWorkers) WaitAndServeMainThreadQueue(20);
  for (auto& t : workers) t.join();
  ServeMainThreadQueue();  // the lines still queued when the workers ended
  for (int w = 0; w < kWorkers; ++w) {
    std::vector<std::string> expected;
    for (int i = 0; i < kLines; ++i)
      expected.push_back("worker " + std::to_string(w) + " line " + std::to_string(i));
    EXPECT_EQ(Got.MessagesOf(tids[w]), expected) << "worker " << w;
  }
  for (const TEvent& e : Got.Events()) EXPECT_EQ(e.DeliveredOn, std::uint32_t(getpid()));
}

TEST_F(Bridge, FailingHandlerDoesNotStopLaterLines) {
  Logger.SetOnLog([this](void* s, std::uint32_t t, TLogLevel l, const std::string& msg) {
    if (msg == "bad") throw std::runtime_error("handler failure");
    Got.Handler()(s, t, l, msg);
  });
  ff::av_log(nullptr, AV_LOG_ERROR, "bad\ngood\n");
  ff::av_log(nullptr, AV_LOG_ERROR, "after\n");
  EXPECT_THAT(Got.Messages(), ElementsAre("good", "after"));
}

// ---------------------------------------------------------------------------------------
// Delivery on the main thread

// The worker hands its lines over and goes on: it ends before the main thread serves them.
TEST_F(Bridge, LinesOfWorkersAreDeliveredOnTheMainThread) {
  ASSERT_TRUE(IsMainThread());
  Logger.TriggerEventInMainThread = true;
  std::uint32_t workerTid = 0;
  TWatchdog watchdog("main-thread delivery");
  std::thread worker([&] {
    workerTid = CurrentThreadId();
    ff::av_log(nullptr, AV_LOG_ERROR, "ffmpeg line from a worker\n");
    Logger.Log(&workerTid, llError, "program line from a worker");
  });
  worker.join();
  EXPECT_TRUE(Got.Events().empty());
  EXPECT_EQ(ServeMainThreadQueue(), 2);
  ff::av_log(nullptr, AV_LOG_ERROR, "ffmpeg line from the main thread\n");
  const auto events = Got.Events();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].Msg, "ffmpeg line from a worker");
  EXPECT_EQ(events[1].Msg, "program line from a worker");
  EXPECT_EQ(events[1].Sender, &workerTid);
  EXPECT_EQ(events[2].Msg, "ffmpeg line from the main thread");
  for (int i : {0, 1}) {
    EXPECT_EQ(events[i].ThreadId, workerTid);
    EXPECT_EQ(events[i].DeliveredOn, std::uint32_t(getpid()));
  }
  EXPECT_EQ(events[2].ThreadId, std::uint32_t(getpid()));
}

// Waits (without serving) until a worker has queued a call for the main thread.
class TQueuedSignal {
 public:
  TQueuedSignal() {
    SetMainThreadWakeHook([this] {
      {
        std::lock_guard lock(Lock_);
        ++Count_;
      }
      Cv_.notify_all();
    });
  }
  ~TQueuedSignal() { SetMainThreadWakeHook(nullptr); }
  void WaitFor(int count) {
    std::unique_lock lock(Lock_);
    Cv_.wait(lock, [&] { return Count_ >= count; });
  }

 private:
  std::mutex Lock_;
  std::condition_variable Cv_;
  int Count_ = 0;
};

// The main thread's own lines are delivered at once, also while a worker's line waits for
// it and from inside the handler that delivers the worker's line.
TEST_F(Bridge, MainThreadLogsWhileAWorkersLineWaitsForIt) {
  Logger.TriggerEventInMainThread = true;
  Logger.SetOnLog([this](void* s, std::uint32_t t, TLogLevel l, const std::string& msg) {
    Got.Handler()(s, t, l, msg);
    if (msg == "worker line") ff::av_log(nullptr, AV_LOG_ERROR, "logged inside the handler\n");
  });
  TQueuedSignal queued;
  std::uint32_t workerTid = 0;
  TWatchdog watchdog("main thread logging while a worker's line waits");
  std::thread worker([&] {
    workerTid = CurrentThreadId();
    ff::av_log(nullptr, AV_LOG_ERROR, "worker line\n");
  });
  queued.WaitFor(1);  // the worker's line now waits for the main thread
  ff::av_log(nullptr, AV_LOG_ERROR, "main line\n");
  worker.join();
  ServeMainThreadQueue();
  const auto events = Got.Events();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].Msg, "main line");
  EXPECT_EQ(events[1].Msg, "worker line");
  EXPECT_EQ(events[1].ThreadId, workerTid);
  EXPECT_EQ(events[2].Msg, "logged inside the handler");
  EXPECT_EQ(events[2].ThreadId, std::uint32_t(getpid()));
}

// A line reaches the handler that was set when it was written, or nobody: one still queued
// for the main thread is dropped when its handler is cleared, replaced (even by itself
// again) or its logger destroyed before the main thread serves it.
TEST(MainThreadDelivery, QueuedLineFindsAClearedHandlerOrAGoneLogger) {
  test::LoadSystemLibraries();
  ASSERT_TRUE(IsMainThread());
  TWatchdog watchdog("queued line after the handler went away");
  std::vector<std::string> delivered;  // main thread only
  auto handler = [&](void*, std::uint32_t, TLogLevel, const std::string& msg) {
    delivered.push_back(msg);
  };
  auto logger = std::make_unique<TFFLogger>();
  logger->SetLogLevel(llDebug);
  const auto queueFromAWorker = [](const char* text) {
    std::thread([text] { ff::av_log(nullptr, AV_LOG_ERROR, "%s\n", text); }).join();
  };

  const struct {
    const char* Text;
    std::function<void()> Meanwhile;
  } cases[] = {
      {"cleared", [&] { logger->SetOnLog(nullptr); }},
      {"cleared and set again",
       [&] {
         logger->SetOnLog(nullptr);
         logger->SetOnLog(handler);
       }},
      {"replaced", [&] { logger->SetOnLog(handler); }},
      {"logger destroyed", [&] { logger.reset(); }},
  };
  for (const auto& c : cases) {
    logger->SetOnLog(handler);
    queueFromAWorker(c.Text);
    c.Meanwhile();
    EXPECT_EQ(ServeMainThreadQueue(), 1) << c.Text;
    EXPECT_TRUE(delivered.empty()) << c.Text;
    delivered.clear();
  }
  // Without any of that the line arrives.
  logger = std::make_unique<TFFLogger>();
  logger->SetOnLog(handler);
  queueFromAWorker("kept");
  ServeMainThreadQueue();
  EXPECT_EQ(delivered, std::vector<std::string>{"kept"});
}

}  // namespace
}  // namespace tovamo
