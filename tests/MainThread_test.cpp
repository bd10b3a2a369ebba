#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "Services/Exceptions.h"
#include "Services/MainThread.h"
#include "support/Watchdog.h"
#include "support/TestTime.h"

namespace tovamo {
namespace {

using test::TWatchdog;

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

pid_t ThreadId() {
  return gettid();
}

// Counts wake-ups (calls queued) and remembers which threads queued them.
class TWakeCounter {
 public:
  TWakeCounter() {
    SetMainThreadWakeHook([this] {
      {
        std::lock_guard lock(Lock_);
        Threads_.push_back(ThreadId());
      }
      Cv_.notify_all();
    });
  }
  ~TWakeCounter() { SetMainThreadWakeHook(nullptr); }
  void WaitFor(std::size_t count) {
    std::unique_lock lock(Lock_);
    Cv_.wait(lock, [&] { return Threads_.size() >= count; });
  }
  std::vector<pid_t> Threads() {
    std::lock_guard lock(Lock_);
    return Threads_;
  }

 private:
  std::mutex Lock_;
  std::condition_variable Cv_;
  std::vector<pid_t> Threads_;
};

// Serves the queue until `done` turns true.
void ServeUntil(const std::atomic<bool>& done) {
  while (!done) WaitAndServeMainThreadQueue(20);
}

TEST(MainThread, InitialThreadIsTheMainThread) {
  EXPECT_EQ(ThreadId(), getpid());
  EXPECT_TRUE(IsMainThread());
  bool workerIsMain = true;
  std::thread([&] { workerIsMain = IsMainThread(); }).join();
  EXPECT_FALSE(workerIsMain);
}

TEST(MainThread, CallOnTheMainThreadRunsAtOnce) {
  TWakeCounter wakes;
  bool ran = false;
  RunInMainThread([&] { ran = true; });
  EXPECT_TRUE(ran);
  EXPECT_EQ(ServeMainThreadQueue(), 0);
  EXPECT_TRUE(wakes.Threads().empty());
  EXPECT_THROW(RunInMainThread([] { throw EConvertError("inline"); }), EConvertError);
}

TEST(MainThread, WorkerCallRunsOnTheMainThreadAndTheWorkerWaitsForIt) {
  TWatchdog watchdog("worker call");
  TWakeCounter wakes;
  pid_t ranOn = 0;
  pid_t workerTid = 0;
  std::atomic<bool> returned{false};
  std::thread worker([&] {
    workerTid = ThreadId();
    RunInMainThread([&] { ranOn = ThreadId(); });
    returned = true;
  });
  wakes.WaitFor(1);
  // Queued, not run: the worker is still waiting.
  std::this_thread::sleep_for(milliseconds(50));
  EXPECT_FALSE(returned);
  EXPECT_EQ(ranOn, 0);
  EXPECT_EQ(ServeMainThreadQueue(), 1);
  worker.join();
  EXPECT_TRUE(returned);
  EXPECT_EQ(ranOn, getpid());
  // The wake hook ran on the queueing thread.
  ASSERT_EQ(wakes.Threads().size(), 1u);
  EXPECT_EQ(wakes.Threads()[0], workerTid);
}

TEST(MainThread, ExceptionsReachTheCallerWithTheirType) {
  TWatchdog watchdog("exceptions");
  std::string caught;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    try {
      RunInMainThread([] { throw EConvertError("bad value"); });
    } catch (const EConvertError& e) {
      caught = std::string("EConvertError: ") + e.what();
    } catch (...) {
      caught = "other";
    }
    try {
      RunInMainThread([] { throw 42; });
    } catch (int value) {
      caught += " int " + std::to_string(value);
    }
    // The dispatcher still works after a failed call.
    bool ran = false;
    RunInMainThread([&] { ran = true; });
    if (ran) caught += " then ok";
    done = true;
  });
  ServeUntil(done);
  worker.join();
  EXPECT_EQ(caught, "EConvertError: bad value int 42 then ok");
}

TEST(MainThread, WaitReturnsZeroAfterTheTimeout) {
  const auto start = Clock::now();
  EXPECT_EQ(WaitAndServeMainThreadQueue(80), 0);
  EXPECT_GE(Clock::now() - start, milliseconds(75));
  EXPECT_EQ(WaitAndServeMainThreadQueue(0), 0);
  EXPECT_EQ(WaitAndServeMainThreadQueue(-5), 0);
}

TEST(MainThread, WaitReturnsAsSoonAsACallIsQueued) {
  TWatchdog watchdog("wait for a call");
  std::thread worker([] {
    std::this_thread::sleep_for(milliseconds(50));
    RunInMainThread([] {});
  });
  const auto start = Clock::now();
  int served = 0;
  while (served == 0) served = WaitAndServeMainThreadQueue(8000);
  EXPECT_LT(Clock::now() - start, test::Generous(milliseconds(4000)));
  EXPECT_EQ(served, 1);
  worker.join();
}

TEST(MainThread, OtherThreadsCannotServe) {
  TWatchdog watchdog("serving off the main thread");
  TWakeCounter wakes;
  std::atomic<bool> ran{false};
  std::thread worker([&] { RunInMainThread([&] { ran = true; }); });
  wakes.WaitFor(1);
  int servedElsewhere = -1;
  std::thread other([&] {
    servedElsewhere = ServeMainThreadQueue();
    ProcessPendingMainThreadWork();
    servedElsewhere += WaitAndServeMainThreadQueue(10);
  });
  other.join();
  EXPECT_EQ(servedElsewhere, 0);
  EXPECT_FALSE(ran);
  EXPECT_EQ(ServeMainThreadQueue(), 1);
  worker.join();
  EXPECT_TRUE(ran);
}

TEST(MainThread, ProcessPendingWorkServesTheQueueThenTheHook) {
  TWatchdog watchdog("process pending work");
  TWakeCounter wakes;
  std::vector<std::string> order;  // touched on the main thread only
  SetProcessMessagesHook([&] { order.push_back("messages"); });
  std::thread worker([&] { RunInMainThread([&] { order.push_back("call"); }); });
  wakes.WaitFor(1);
  ProcessPendingMainThreadWork();
  worker.join();
  ProcessPendingMainThreadWork();
  SetProcessMessagesHook(nullptr);
  ProcessPendingMainThreadWork();
  EXPECT_EQ(order, (std::vector<std::string>{"call", "messages", "messages"}));
}

TEST(MainThread, ManyWorkersAllGetTheirCallsRunOnce) {
  TWatchdog watchdog("many workers");
  constexpr int kWorkers = 6, kCalls = 200;
  std::vector<int> counts(kWorkers, 0);  // written on the main thread only
  std::atomic<int> finished{0};
  std::vector<std::thread> workers;
  for (int w = 0; w < kWorkers; ++w)
    workers.emplace_back([&, w] {
      for (int i = 0; i < kCalls; ++i)
        RunInMainThread([&] {
          EXPECT_TRUE(IsMainThread());
          ++counts[w];
        });
      ++finished;
    });
  int served = 0;
  while (finished < kWorkers) served += WaitAndServeMainThreadQueue(20);
  for (auto& t : workers) t.join();
  EXPECT_EQ(served, kWorkers * kCalls);
  EXPECT_EQ(counts, std::vector<int>(kWorkers, kCalls));
}

// A call that waits for another worker while serving the queue must reach that worker's
// call even when both were queued before the serving began.
TEST(MainThread, CallThatServesWhileWaitingReachesCallsQueuedBeforeIt) {
  TWatchdog watchdog("nested serving");
  TWakeCounter wakes;
  std::atomic<bool> secondRan{false};
  std::thread first([&] {
    RunInMainThread([&] {
      while (!secondRan) WaitAndServeMainThreadQueue(20);
    });
  });
  wakes.WaitFor(1);
  std::thread second([&] { RunInMainThread([&] { secondRan = true; }); });
  wakes.WaitFor(2);
  EXPECT_EQ(ServeMainThreadQueue(), 1);  // the second call ran inside the first
  first.join();
  second.join();
  EXPECT_TRUE(secondRan);
}

TEST(MainThread, CallsQueuedDuringAServeRunNowOrInTheNextServe) {
  TWatchdog watchdog("calls queued by calls");
  TWakeCounter wakes;
  std::atomic<bool> innerRan{false};
  std::thread inner;
  std::thread outer([&] {
    RunInMainThread([&] {
      // Queues another call from a new worker without waiting for it here.
      inner = std::thread([&] { RunInMainThread([&] { innerRan = true; }); });
      wakes.WaitFor(2);
    });
  });
  wakes.WaitFor(1);
  int served = ServeMainThreadQueue();
  outer.join();
  if (!innerRan) served += ServeMainThreadQueue();
  inner.join();
  EXPECT_TRUE(innerRan);
  EXPECT_EQ(served, 2);
}

// A posted call does not hold its poster: the poster goes on at once, and the main thread
// runs its calls later, in the order posted and in line with the calls it waited for.
TEST(MainThread, PostedCallsRunLaterInOrderWithoutHoldingThePoster) {
  TWatchdog watchdog("posted calls");
  TWakeCounter wakes;
  std::vector<std::string> order;  // touched on the main thread only
  pid_t posterTid = 0;
  std::vector<pid_t> ranOn;
  std::atomic<bool> waitedReturned{false};
  std::thread poster([&] {
    posterTid = ThreadId();
    PostToMainThread([&] {
      order.push_back("posted 1");
      ranOn.push_back(ThreadId());
    });
    PostToMainThread([&] {
      order.push_back("posted 2");
      ranOn.push_back(ThreadId());
    });
    PostToMainThread(nullptr);  // nothing to run: not queued
    RunInMainThread([&] { order.push_back("waited"); });
    waitedReturned = true;
    PostToMainThread([&] { order.push_back("posted 3"); });
  });
  // The posts did not wait: the poster is now waiting for its third call.
  wakes.WaitFor(3);
  EXPECT_TRUE(order.empty());
  EXPECT_FALSE(waitedReturned);
  while (!waitedReturned) WaitAndServeMainThreadQueue(20);
  poster.join();
  ServeMainThreadQueue();
  EXPECT_EQ(order, (std::vector<std::string>{"posted 1", "posted 2", "waited", "posted 3"}));
  EXPECT_EQ(ranOn, (std::vector<pid_t>{getpid(), getpid()}));
  // The wake hook ran for every queued call, on the poster's thread.
  EXPECT_EQ(wakes.Threads(), std::vector<pid_t>(4, posterTid));
}

TEST(MainThread, PostedCallsFromTheMainThreadWaitForTheNextServe) {
  bool ran = false;
  PostToMainThread([&] { ran = true; });
  EXPECT_FALSE(ran);
  EXPECT_EQ(ServeMainThreadQueue(), 1);
  EXPECT_TRUE(ran);
}

TEST(MainThread, FailingPostedCallIsDroppedAndTheQueueGoesOn) {
  std::vector<int> ran;
  PostToMainThread([&] {
    ran.push_back(1);
    throw EConvertError("nobody to tell");
  });
  PostToMainThread([] { throw 42; });
  PostToMainThread([&] { ran.push_back(3); });
  EXPECT_NO_THROW(EXPECT_EQ(ServeMainThreadQueue(), 3));
  EXPECT_EQ(ran, (std::vector<int>{1, 3}));
}

TEST(MainThread, AnotherThreadCanBeNamedTheMainThread) {
  TWatchdog watchdog("named main thread");
  std::atomic<bool> named{false}, stop{false};
  pid_t servingTid = 0;
  std::thread loop([&] {
    servingTid = ThreadId();
    SetMainThread();
    named = true;
    while (!stop) WaitAndServeMainThreadQueue(20);
  });
  while (!named) std::this_thread::sleep_for(milliseconds(1));
  EXPECT_FALSE(IsMainThread());
  pid_t ranOn = 0;
  // The test's own thread is now a worker: its call goes to the named thread.
  RunInMainThread([&] { ranOn = ThreadId(); });
  EXPECT_EQ(ranOn, servingTid);
  stop = true;
  loop.join();
  SetMainThread();
  EXPECT_TRUE(IsMainThread());
}

}  // namespace
}  // namespace tovamo
