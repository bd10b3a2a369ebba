// The command's progress figures: rates from elapsed milliseconds, and each file's closing
// figures.
#include <gtest/gtest.h>

#include "ProgressDisplay.h"

namespace tovamo::cli {
namespace {

TTaskState Task(int frames, std::int64_t startMicros, std::int64_t size = 0) {
  TTaskState task;
  task.Started = true;
  task.HasProgress = true;
  task.StartMicros = startMicros;
  task.Progress.FrameNumber = frames;
  task.Progress.CurrentSize = size;
  return task;
}

TEST(ProgressDisplay, RateCountsMillisecondsFromTheStart) {
  const struct {
    int Frames;
    std::int64_t ElapsedMicros;
    double Rate;
  } cases[] = {
      {12, 400000, 30.0},   // within the first second already
      {25, 1000000, 25.0},  // a whole second
      {75, 2999999, 25.0},  // 2999 ms: whole milliseconds only
      {0, 500000, 0.0},     // started, nothing written yet
      {10, 999, -1},        // under a millisecond: no rate yet
      {-1, 2000000, -1},    // no video stream
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Frames << " frames in " << c.ElapsedMicros << " us");
    const std::int64_t start = 5000000;
    const double rate = FramesPerSecond(Task(c.Frames, start), start + c.ElapsedMicros);
    if (c.Rate < 0)
      EXPECT_LT(rate, 0);
    else
      EXPECT_NEAR(rate, c.Rate, 0.01 * c.Rate + 0.001);
  }
}

TEST(ProgressDisplay, FinalFiguresGiveTimeRateAndSize) {
  const struct {
    const char* What;
    TTaskState Task;
    std::int64_t EndMicros;
    std::string Figures;
  } cases[] = {
      {"video", Task(250, 1000000, 3 * 1024 * 1024 / 2), 1000000 + 10250000,
       "00:00:10.2, 24.4 fps, 1.5 MiB"},
      {"under a second", Task(12, 0, 300), 400000, "00:00:00.4, 30.0 fps, 300 B"},
      {"sound only", Task(-1, 0, 2048), 61500000, "00:01:01.5, 2 KiB"},
  };
  for (const auto& c : cases) {
    TTaskState task = c.Task;
    task.Ended = true;
    task.EndMicros = c.EndMicros;
    EXPECT_EQ(FinalFigures(task), c.Figures) << c.What;
  }
  // A task that never started or never reported has nothing to tell.
  TTaskState waiting;
  waiting.Ended = true;
  EXPECT_EQ(FinalFigures(waiting), "");
  TTaskState silent = Task(0, 0);
  silent.HasProgress = false;
  silent.EndMicros = 1000000;
  EXPECT_EQ(FinalFigures(silent), "");
}

}  // namespace
}  // namespace tovamo::cli
