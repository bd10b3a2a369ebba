#include "Services/FFCodecLock.h"
#include "Services/FFLoadHooks.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Services/FFBindings.h"
#include "Services/FFLoad.h"
#include "Services/FFLog.h"
#include "Services/MainThread.h"
#include "support/TestSupport.h"
#include "support/Watchdog.h"
#include "support/TestTime.h"

namespace tovamo {
namespace {

using namespace std::chrono_literals;

struct TLine {
  void* Sender;
  TLogLevel Level;
  std::string Text;
  bool operator==(const TLine&) const = default;
};

std::ostream& operator<<(std::ostream& os, const TLine& l) {
  return os << "{" << l.Sender << ", " << int(l.Level) << ", \"" << l.Text << "\"}";
}

// Collects what the codec lock logs, on whatever thread it logs.
class FFCodecLock : public ::testing::Test {
 protected:
  void SetUp() override {
    TFFLogger* log = DefaultLogger();
    log->TriggerEventInMainThread = false;
    log->SetLogLevel(llDebug);
    log->SetOnLog([this](void* sender, std::uint32_t, TLogLevel level, const std::string& msg) {
      std::lock_guard<std::mutex> l(LinesLock_);
      Lines_.push_back({sender, level, msg});
    });
  }
  void TearDown() override { DefaultLogger()->SetOnLog(nullptr); }

  // The lines logged since the last call.
  std::vector<TLine> Take() {
    std::lock_guard<std::mutex> l(LinesLock_);
    return std::exchange(Lines_, {});
  }

 private:
  std::mutex LinesLock_;
  std::vector<TLine> Lines_;
};

TEST_F(FFCodecLock, OperationsFollowTheTable) {
  void* ref = nullptr;
  void* const none = nullptr;
  const struct {
    int Op;
    int Result;
    std::vector<TLine> Log;
    bool RefSet;
  } steps[] = {
      {lockObtain, -1, {{none, llError, "error, codec mutex not available."}}, false},
      {lockRelease, -1, {{none, llError, "error, codec mutex not available."}}, false},
      {lockDestroy, 0, {}, false},
      {lockCreate, 0, {{none, llDebug, "create codec mutex [1]."}}, true},
      {lockCreate, -1, {{none, llError, "error, codec mutex [1] already exist."}}, true},
      {lockObtain, 0, {{none, llDebug, "obtain codec mutex [1]."}}, true},
      {lockRelease, 0, {{none, llDebug, "release codec mutex [1]."}}, true},
      {lockDestroy, 0, {{none, llDebug, "destory codec mutex [1]."}}, false},
      {lockDestroy, 0, {}, false},
      {lockObtain, -1, {{none, llError, "error, codec mutex not available."}}, false},
      {4, -1, {{none, llError, "error, invalid codec mutex operation 4."}}, false},
      {-1, -1, {{none, llError, "error, invalid codec mutex operation -1."}}, false},
      {lockCreate, 0, {{none, llDebug, "create codec mutex [2]."}}, true},
  };
  int n = 0;
  for (const auto& s : steps) {
    SCOPED_TRACE("step " + std::to_string(n++) + ", op " + std::to_string(s.Op));
    EXPECT_EQ(CodecLockCallback(&ref, s.Op), s.Result);
    EXPECT_EQ(Take(), s.Log);
    EXPECT_EQ(ref != nullptr, s.RefSet);
  }
  EXPECT_EQ(CodecMutexId(), 2);
}

TEST_F(FFCodecLock, CreateWhileTheSlotHoldsAMutexReplacesIt) {
  void* first = nullptr;
  void* second = nullptr;
  ASSERT_EQ(CodecLockCallback(&first, lockCreate), 0);
  Take();
  EXPECT_EQ(CodecLockCallback(&second, lockCreate), 0);
  EXPECT_EQ(Take(), (std::vector<TLine>{
                        {nullptr, llWarning, "warning, local codec mutex [1] not destroyed."},
                        {nullptr, llDebug, "create codec mutex [2]."}}));
  // There is one slot: both references now reach the new mutex.
  EXPECT_EQ(first, second);
  EXPECT_EQ(CodecLockCallback(&first, lockObtain), 0);
  EXPECT_EQ(CodecLockCallback(&second, lockRelease), 0);
  EXPECT_EQ(Take(), (std::vector<TLine>{{nullptr, llDebug, "obtain codec mutex [2]."},
                                        {nullptr, llDebug, "release codec mutex [2]."}}));
  EXPECT_EQ(CodecLockCallback(&second, lockDestroy), 0);
  EXPECT_EQ(second, nullptr);
  EXPECT_EQ(CodecMutexId(), 0);
  EXPECT_EQ(CodecLockCallback(&first, lockObtain), -1);  // the slot is empty now
}

TEST_F(FFCodecLock, AfterClosingBeganEveryOperationSucceedsDoingNothing) {
  void* ref = nullptr;
  FFLoader().Closing = true;
  for (int op :
       {int(lockObtain), int(lockRelease), int(lockCreate), int(lockCreate), int(lockDestroy), 9}) {
    SCOPED_TRACE(op);
    EXPECT_EQ(CodecLockCallback(&ref, op), 0);
    EXPECT_EQ(ref, nullptr);
  }
  EXPECT_EQ(CodecMutexId(), 0);
  EXPECT_TRUE(Take().empty());
  FFLoader().Closing = false;
  EXPECT_EQ(CodecLockCallback(&ref, lockCreate), 0);
  FFLoader().Closing = true;
  EXPECT_EQ(CodecLockCallback(&ref, lockDestroy), 0);
  EXPECT_EQ(CodecMutexId(), 1);  // left alone
  FFLoader().Closing = false;
}

TEST_F(FFCodecLock, OnlyTheOwningThreadReleases) {
  void* ref = nullptr;
  ASSERT_EQ(CodecLockCallback(&ref, lockCreate), 0);
  // Released while nobody holds it.
  EXPECT_EQ(CodecLockCallback(&ref, lockRelease), -1);
  ASSERT_EQ(CodecLockCallback(&ref, lockObtain), 0);
  Take();
  std::thread other([&] { EXPECT_EQ(CodecLockCallback(&ref, lockRelease), -1); });
  other.join();
  EXPECT_EQ(
      Take(),
      (std::vector<TLine>{{nullptr, llError,
                           "error, could not release codec mutex [1]: Operation not permitted."}}));
  // The owner may nest, and releases as often as it obtained.
  EXPECT_EQ(CodecLockCallback(&ref, lockObtain), 0);
  EXPECT_EQ(CodecLockCallback(&ref, lockRelease), 0);
  EXPECT_EQ(CodecLockCallback(&ref, lockRelease), 0);
  EXPECT_EQ(CodecLockCallback(&ref, lockRelease), -1);
}

TEST_F(FFCodecLock, InstallRecreatesAndUninstallDestroys) {
  CodecLockInstall();
  EXPECT_EQ(Take(), (std::vector<TLine>{{nullptr, llDebug, "create codec mutex [1]."}}));
  CodecLockInstall();  // as every load of avcodec does
  EXPECT_EQ(Take(), (std::vector<TLine>{{nullptr, llDebug, "destory codec mutex [1]."},
                                        {nullptr, llDebug, "create codec mutex [2]."}}));
  {
    TCodecLockGuard guard;
    EXPECT_TRUE(guard.Owned());
  }
  EXPECT_EQ(Take(), (std::vector<TLine>{{nullptr, llDebug, "obtain codec mutex [2]."},
                                        {nullptr, llDebug, "release codec mutex [2]."}}));
  CodecLockUninstall();
  EXPECT_EQ(Take(), (std::vector<TLine>{{nullptr, llDebug, "destory codec mutex [2]."}}));
  {
    TCodecLockGuard guard;  // nothing to hold: logged once, no release attempted
    EXPECT_FALSE(guard.Owned());
  }
  EXPECT_EQ(Take(), (std::vector<TLine>{{nullptr, llError, "error, codec mutex not available."}}));
}

TEST_F(FFCodecLock, LoaderInstallsItWithAvcodec) {
  TFFLoader loader;
  ASSERT_TRUE(loader.LoadLibs(LibBit(libAVUtil) | LibBit(libAVCodec))) << loader.LastErrorText();
  EXPECT_EQ(CodecMutexId(), 1);
  loader.UnloadLib(libAVCodec);
  EXPECT_EQ(CodecMutexId(), 0);
}

TEST_F(FFCodecLock, GuardsSerialiseThreads) {
  CodecLockInstall();
  DefaultLogger()->SetLogLevel(llInfo);  // the obtain/release lines are not the point here
  Take();
  constexpr int kThreads = 4, kRounds = 25;
  int counter = 0;  // deliberately not atomic: the lock alone protects it
  std::atomic<int> inside{0}, maxInside{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) {
        TCodecLockGuard guard;
        ASSERT_TRUE(guard.Owned());
        const int now = ++inside;
        int seen = maxInside.load();
        while (now > seen && !maxInside.compare_exchange_weak(seen, now)) {
        }
        const int read = counter;
        std::this_thread::sleep_for(500us);
        counter = read + 1;
        --inside;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, kThreads * kRounds);
  EXPECT_EQ(maxInside.load(), 1);
  EXPECT_TRUE(Take().empty());
}

TEST_F(FFCodecLock, ReinstallWaitsForTheHolderAndMovesWaitersToTheNewMutex) {
  CodecLockInstall();
  std::promise<void> held, letGo;
  std::thread holder([&] {
    TCodecLockGuard guard;
    held.set_value();
    letGo.get_future().wait();
  });
  held.get_future().wait();
  // A second thread queues up behind the holder.
  auto waiter = std::async(std::launch::async, [] {
    TCodecLockGuard guard;
    return guard.Owned();
  });
  auto reinstall = std::async(std::launch::async, [] { CodecLockInstall(); });
  EXPECT_EQ(reinstall.wait_for(200ms), std::future_status::timeout)
      << "the mutex was closed under its holder";
  letGo.set_value();
  holder.join();
  ASSERT_EQ(reinstall.wait_for(test::Generous(10s)), std::future_status::ready);
  ASSERT_EQ(waiter.wait_for(test::Generous(10s)), std::future_status::ready);
  // Whether it got in before the reinstall or was moved on to the new mutex, it got one.
  EXPECT_TRUE(waiter.get());
  EXPECT_EQ(CodecMutexId(), 2);

  // The holder's release reached the mutex it held, not an error.
  for (const TLine& l : Take()) EXPECT_NE(l.Level, llError) << l;
}

// A worker that logs while it holds the codec lock (the lock's own lines and the codec's,
// at every codec open under "loglevel=debug") hands its lines to the main thread without
// waiting for it: the main thread may itself be waiting for that lock.
TEST_F(FFCodecLock, WorkerLoggingUnderTheLockLetsTheMainThreadWaitForIt) {
  test::LoadSystemLibraries();  // installs the codec lock
  ASSERT_TRUE(IsMainThread());
  TFFLogger* log = DefaultLogger();
  log->SetLogLevelByName("debug");
  log->TriggerEventInMainThread = true;
  std::mutex queuedLock;
  std::condition_variable queuedCond;
  int queued = 0;
  SetMainThreadWakeHook([&] {
    {
      std::lock_guard<std::mutex> l(queuedLock);
      ++queued;
    }
    queuedCond.notify_all();
  });
  const AVCodec* codec = ff::avcodec_find_encoder_by_name("mpeg2video");
  ASSERT_NE(codec, nullptr);
  Take();

  test::TWatchdog watchdog("main thread waiting for the codec lock a logging worker holds");
  std::thread worker([&] {
    AVCodecContext* ctx = ff::avcodec_alloc_context3(codec);
    ctx->width = 64;
    ctx->height = 64;
    ctx->pix_fmt = AV_PIX_FMT_YUV420P;
    ctx->time_base = {1, 25};
    ctx->framerate = {25, 1};
    TCodecLockGuard guard;  // as the engine opens and frees codecs
    EXPECT_TRUE(guard.Owned());
    EXPECT_EQ(ff::avcodec_open2(ctx, codec, nullptr), 0);
    ff::avcodec_free_context(&ctx);
  });
  {
    // The worker holds the lock and has logged that it obtained it.
    std::unique_lock<std::mutex> l(queuedLock);
    queuedCond.wait(l, [&] { return queued > 0; });
  }
  {
    TCodecLockGuard guard;  // waits for the worker to let go
    EXPECT_TRUE(guard.Owned());
  }
  worker.join();
  SetMainThreadWakeHook(nullptr);
  const std::vector<TLine> mainLines = Take();  // the main thread's own, delivered at once
  ServeMainThreadQueue();
  const std::vector<TLine> workerLines = Take();

  const int id = CodecMutexId();
  const TLine obtained{nullptr, llDebug, "obtain codec mutex [" + std::to_string(id) + "]."};
  const TLine released{nullptr, llDebug, "release codec mutex [" + std::to_string(id) + "]."};
  EXPECT_EQ(mainLines, (std::vector<TLine>{obtained, released}));
  ASSERT_GE(workerLines.size(), 2u);
  EXPECT_EQ(workerLines.front(), obtained);
  EXPECT_EQ(workerLines.back(), released);
}

}  // namespace
}  // namespace tovamo
