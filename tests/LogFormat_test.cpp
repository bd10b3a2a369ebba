// The log line as the user reads it (the Log tab and the command's log file): its time, the
// input it comes from, and the thread and level only at debug level; and the writer's time
// and input still reach a handler that runs on the main thread.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <thread>

#include "Services/FFLog.h"
#include "Services/LogFormat.h"
#include "Services/MainThread.h"

using namespace tovamo;

namespace {

struct TFormatCase {
  const char* Source;
  TLogLevel Threshold;
  TLogLevel Level;
  const char* Text;
  const char* Expected;
};

TEST(LogFormat, TimeInputAndDebugDetails) {
  setenv("TZ", "UTC", 1);
  tzset();
  // 2026-12-11 07:51:02.045 UTC
  const auto time =
      std::chrono::system_clock::time_point(std::chrono::milliseconds(1796975462045LL));
  const TFormatCase cases[] = {
      {"/home/me/Videos/clip one.avi", llInfo, llInfo, "Stream #0:0: Video",
       "07:51:02.045 clip one.avi: Stream #0:0: Video"},
      {"clip.avi", llWarning, llError, "cannot open", "07:51:02.045 clip.avi: cannot open"},
      {"", llInfo, llInfo, "the program's own line", "07:51:02.045 the program's own line"},
      {"/videos/", llInfo, llInfo, "a folder", "07:51:02.045 /videos/: a folder"},
      {"/v/ドラマ 第1話.mkv", llDebug, llDebug, "probing",
       "07:51:02.045 #4242.7 ドラマ 第1話.mkv: probing"},
      {"", llDebug, llInfo, "no input", "07:51:02.045 #4242.5 no input"},
      {"a.mpg", llVerbose, llVerbose, "", "07:51:02.045 a.mpg: "},
  };
  for (const TFormatCase& c : cases) {
    const TLogOrigin origin{time, c.Source, c.Threshold};
    EXPECT_EQ(FormatLogLine(4242, c.Level, c.Text, origin), c.Expected) << c.Source;
  }
}

// A worker's line handed to the main thread keeps the worker's input and level, and the
// time it was logged at, not the time it was served.
TEST(LogFormat, TheWritersOriginReachesTheMainThread) {
  TFFLogger logger;
  logger.TriggerEventInMainThread = true;
  std::vector<std::string> lines;
  std::vector<std::chrono::system_clock::time_point> times;
  logger.SetOnLog([&](void*, std::uint32_t threadId, TLogLevel level, const std::string& text) {
    lines.push_back(FormatLogLine(threadId, level, text));
    times.push_back(DeliveredLogOrigin().Time);
  });
  std::uint32_t worker = 0;
  std::chrono::system_clock::time_point before, after;
  std::thread([&] {
    worker = CurrentThreadId();
    const TThreadLogSource source("/videos/part two.avi");
    const TThreadLogLevel level(llDebug);
    before = std::chrono::system_clock::now();
    logger.Log(nullptr, llInfo, "from the worker");
    after = std::chrono::system_clock::now();
  }).join();
  const TLogOrigin servedLater = DeliveredLogOrigin();
  ASSERT_EQ(ServeMainThreadQueue(), 1);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find(" #" + std::to_string(worker) + ".5 part two.avi: from the worker"),
            std::string::npos)
      << lines[0];
  EXPECT_TRUE(before <= times[0] && times[0] <= after);
  // Outside a handler the main thread's own: no input, the logger's level.
  EXPECT_EQ(servedLater.Source, "");
  EXPECT_EQ(servedLater.Threshold, llInfo);
  logger.Log(nullptr, llInfo, "from the main thread");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1].substr(12), " from the main thread");
  logger.SetOnLog(nullptr);
}

}  // namespace
