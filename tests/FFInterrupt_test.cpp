#include "Services/FFInterrupt.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "Services/FFBindings.h"
#include "Services/FFLog.h"
#include "Services/UnicodeProtocol.h"
#include "support/TestSupport.h"
#include "support/TestTime.h"

namespace tovamo {
namespace {

using namespace std::chrono_literals;

// A check whose answer and calls can be watched.
struct TProbe {
  explicit TProbe(bool answer) : Answer(answer) {}
  bool Answer;
  std::vector<void*> Args;
  bool Check(void* arg) {
    Args.push_back(arg);
    return Answer;
  }
};

TInterruptCheck CheckOf(TProbe& p) {
  return MakeCheck<&TProbe::Check>(&p);
}

// Another check code with the same object type.
bool AlwaysTrue(void*, void*) {
  return true;
}

TEST(TInterruptCB, AThreadWithoutChecksIsNeverInterrupted) {
  TInterruptCB cb;
  TProbe yes{true};
  EXPECT_EQ(cb.CheckThread(7), 0);
  cb.AddCheck(7, nullptr, CheckOf(yes));
  EXPECT_EQ(cb.CheckThread(7), 1);
  EXPECT_EQ(cb.CheckThread(8), 0);
  EXPECT_EQ(cb.CheckThread(0), 0);
  cb.AddCheck(9, nullptr, {nullptr, &yes});  // no code: nothing to call, nothing added
  EXPECT_EQ(cb.CheckThread(9), 0);
}

TEST(TInterruptCB, EntriesAreMatchedByThreadArgumentAndCode) {
  TInterruptCB cb;
  TProbe a{true}, b{true};
  int arg1 = 0, arg2 = 0;
  // The same thread, argument and code again adds nothing, whatever the object.
  cb.AddCheck(1, &arg1, CheckOf(a));
  cb.AddCheck(1, &arg1, CheckOf(a));
  cb.AddCheck(1, &arg1, CheckOf(b));
  EXPECT_EQ(cb.CheckThread(1), 1);
  EXPECT_EQ(a.Args, std::vector<void*>{&arg1});
  EXPECT_TRUE(b.Args.empty());
  cb.RemoveCheck(1, &arg1, CheckOf(b));  // same code: removes a's entry
  EXPECT_EQ(cb.CheckThread(1), 0);

  // A different argument or code is an entry of its own, removed on its own.
  cb.AddCheck(1, &arg1, CheckOf(a));
  cb.AddCheck(1, &arg2, CheckOf(a));
  cb.AddCheck(1, &arg1, {AlwaysTrue, &a});
  cb.RemoveCheck(1, &arg1, CheckOf(a));
  EXPECT_EQ(cb.CheckThread(1), 1);
  cb.RemoveCheck(1, &arg2, CheckOf(a));
  EXPECT_EQ(cb.CheckThread(1), 1);                  // AlwaysTrue is left
  cb.RemoveCheck(2, &arg1, {AlwaysTrue, nullptr});  // other thread: no match
  EXPECT_EQ(cb.CheckThread(1), 1);
  cb.RemoveCheck(1, &arg1, {AlwaysTrue, nullptr});
  EXPECT_EQ(cb.CheckThread(1), 0);
  cb.RemoveCheck(1, &arg1, {AlwaysTrue, nullptr});  // nothing left to remove
}

TEST(TInterruptCB, TheThreadsFirstEntryDecides) {
  TInterruptCB cb;
  TProbe no{false}, yes{true};
  int engine1 = 0, engine2 = 0;
  cb.AddCheck(5, &engine1, CheckOf(no));
  cb.AddCheck(5, &engine2, CheckOf(yes));
  EXPECT_EQ(cb.CheckThread(5), 0);
  EXPECT_TRUE(yes.Args.empty());  // the later entry is not asked
  EXPECT_EQ(no.Args, std::vector<void*>{&engine1});
  cb.RemoveCheck(5, &engine1, CheckOf(no));
  EXPECT_EQ(cb.CheckThread(5), 1);
  EXPECT_EQ(yes.Args, std::vector<void*>{&engine2});
  cb.ClearChecks();
  EXPECT_EQ(cb.CheckThread(5), 0);
}

TEST(TInterruptCB, TheCallbackAsksTheCallingThreadsChecks) {
  TProbe yes{true};
  int arg = 0;
  const std::uint32_t self = CurrentThreadId();
  InterruptCB()->AddCheck(self, &arg, CheckOf(yes));
  const AVIOInterruptCB cb = FFInterruptCB();
  EXPECT_EQ(cb.callback, &FFInterruptCallback);
  EXPECT_EQ(cb.opaque, nullptr);
  EXPECT_EQ(cb.callback(cb.opaque), 1);
  int other = -1;
  std::thread([&] { other = cb.callback(cb.opaque); }).join();
  EXPECT_EQ(other, 0);
  InterruptCB()->RemoveCheck(self, &arg, CheckOf(yes));
  EXPECT_EQ(cb.callback(cb.opaque), 0);

  // A failing check must not unwind through FFmpeg: it stops the call instead.
  InterruptCB()->AddCheck(
      self, &arg, {[](void*, void*) -> bool { throw std::runtime_error("broken"); }, nullptr});
  EXPECT_EQ(cb.callback(cb.opaque), 1);
  InterruptCB()->ClearChecks();
}

// ---- a real blocking FFmpeg call --------------------------------------------------------

// Runs `open` on a worker thread whose check answers `stop`, while the test's own thread has
// a check that always says stop (so a callback asking the wrong thread would end the call at
// once). Expects the call to block until `stop` is set, then to end promptly with
// AVERROR_EXIT.
void ExpectInterrupted(const std::function<int()>& open) {
  static std::atomic<bool> stop;
  stop = false;
  const TInterruptCheck stopCheck{[](void*, void*) -> bool { return stop.load(); }, nullptr};
  InterruptCB()->AddCheck(CurrentThreadId(), nullptr, {AlwaysTrue, nullptr});

  std::promise<int> result;
  std::future<int> done = result.get_future();
  std::thread worker([&] {
    const std::uint32_t tid = CurrentThreadId();
    InterruptCB()->AddCheck(tid, nullptr, stopCheck);
    result.set_value(open());
    InterruptCB()->RemoveCheck(tid, nullptr, stopCheck);
  });
  const bool blocked = done.wait_for(400ms) == std::future_status::timeout;
  stop = true;
  const auto t0 = std::chrono::steady_clock::now();
  if (done.wait_for(test::Generous(10s)) != std::future_status::ready) {
    ADD_FAILURE() << "the FFmpeg call did not stop";
    std::_Exit(1);  // the worker cannot be joined
  }
  const auto stopped = std::chrono::steady_clock::now() - t0;
  worker.join();
  const int r = done.get();
  EXPECT_TRUE(blocked) << "the call ended before it was asked to stop: " << r;
  EXPECT_LT(stopped, test::Generous(2s));
  EXPECT_EQ(r, AVERROR_EXIT);
  InterruptCB()->ClearChecks();
}

class FFInterruptIO : public ::testing::Test {
 protected:
  void SetUp() override { test::LoadSystemLibraries(); }
  test::TTempDir Dir;
};

TEST_F(FFInterruptIO, OpeningASilentTcpPeerStopsWhenTheThreadsCheckSaysSo) {
  // A listener that never sends: the kernel completes the connection, the read then waits.
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(listen(listener, 4), 0);
  socklen_t len = sizeof addr;
  ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len), 0);
  const std::string url = "tcp://127.0.0.1:" + std::to_string(ntohs(addr.sin_port));

  ExpectInterrupted([&] {
    AVFormatContext* ctx = ff::avformat_alloc_context();
    ctx->interrupt_callback = FFInterruptCB();
    const int r = ff::avformat_open_input(&ctx, url.c_str(), nullptr, nullptr);
    if (r >= 0) ff::avformat_close_input(&ctx);
    return r;
  });
  close(listener);
}

// FFmpeg's own file protocol reads a pipe with a plain blocking read and asks the callback
// only between reads, so an idle pipe opened by name cannot be stopped; through the unicode
// form the read waits in short polls and asks the callback between them.
TEST_F(FFInterruptIO, ReadingAnIdlePipeThroughTheUnicodeFormStops) {
  const std::string path = Dir.File("feed:pipe");
  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
  // Holding the pipe open for writing (and reading, so that opening it does not wait for a
  // writer) while never writing: the demuxer's probe read waits for data.
  const int keep = open(path.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(keep, 0);

  ExpectInterrupted([&] {
    const AVIOInterruptCB interrupt = FFInterruptCB();
    AVIOContext* pb = nullptr;
    int r = OpenUnicodeIO(ToFFmpegName(path), uomRead, &interrupt, &pb);
    if (r < 0) return r;
    AVFormatContext* ctx = ff::avformat_alloc_context();
    ctx->pb = pb;
    ctx->flags |= AVFMT_FLAG_CUSTOM_IO;
    ctx->interrupt_callback = interrupt;
    r = ff::avformat_open_input(&ctx, path.c_str(), nullptr, nullptr);
    if (r >= 0) ff::avformat_close_input(&ctx);
    CloseUnicodeIO(&pb);
    return r;
  });
  close(keep);
}

}  // namespace
}  // namespace tovamo
