// The command's progress figures: rates from elapsed milliseconds, each file's closing
// figures, and the live lines' fit to the terminal's columns.
#include <gtest/gtest.h>

#include "ProgressDisplay.h"
#include "TextWidth.h"

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

// Columns as a terminal draws them, and names shortened in the middle to a width.
TEST(ProgressDisplay, NamesFitTheColumnsTheyTake) {
  const struct {
    const char* Name;
    std::size_t Columns;  // as drawn
    std::size_t Width;    // the room given
    const char* Shown;
  } cases[] = {
      {"clip.avi", 8, 8, "clip.avi"},
      {"clip.avi", 8, 7, "cl...vi"},
      {"Holiday in the mountains part one.avi", 37, 20, "Holiday ...t one.avi"},
      {"Holiday in the mountains part two.avi", 37, 20, "Holiday ...t two.avi"},
      {"ドラマ第1話.mkv", 15, 15, "ドラマ第1話.mkv"},
      {"ドラマ第1話.mkv", 15, 13, "ドラ...話.mkv"},
      {"ドラマ第1話.mkv", 15, 12, "ドラ....mkv"},  // a wide one that does not fit leaves a gap
      {"全角ＡＢＣ", 10, 10, "全角ＡＢＣ"},
      {"한국어 영상.mp4", 15, 9, "한....mp4"},
      {"cafe\xcc\x81 ole\xcc\x81.mov", 12, 9, "caf...mov"},  // marks stay with their letter
      {"re\xcc\x81sume\xcc\x81", 6, 5, "r...e\xcc\x81"},
      {"bad \xff\xfe byte.avi", 15, 10, "bad....avi"},
      {"\xf0\x9f\x8e\xac film.mp4", 11, 11, "\xf0\x9f\x8e\xac film.mp4"},
      {"abcdef", 6, 3, "..."},
      {"abcdef", 6, 2, ".."},
      {"abcdef", 6, 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Name << " in " << c.Width);
    EXPECT_EQ(DisplayWidth(c.Name), c.Columns);
    const std::string shown = ElideMiddle(c.Name, c.Width);
    EXPECT_EQ(shown, c.Shown);
    EXPECT_LE(DisplayWidth(shown), c.Width);
  }
}

// A running task's live line never takes more columns than the terminal has, and two names
// that differ at their end stay apart on an 80-column terminal.
TEST(ProgressDisplay, LiveLinesFitTheTerminal) {
  TTaskState task = Task(120, 0, 2048);
  task.Progress.TotalDuration = 10000000;
  task.Progress.CurrentDuration = 4000000;
  const std::string japanese = "/home/me/ビデオ/ドラマ 第1話 とても長い名前のビデオファイルです";
  for (const std::size_t width : {79u, 60u, 45u, 20u, 5u}) {
    for (const char* end : {" part one.mkv", " part two.mkv"}) {
      task.Input = japanese + end;
      const std::string line = LiveTaskLine(task, 5000000, width);
      EXPECT_LE(DisplayWidth(line), width) << line;
      if (width >= 60) {
        EXPECT_NE(line.find(std::string(end).substr(5)), std::string::npos) << line;
      }
    }
  }
  task.Input = "short.avi";
  EXPECT_EQ(LiveTaskLine(task, 5000000, 79), " 40%    24.0 fps  00:00:05      2 KiB  short.avi");
}

}  // namespace
}  // namespace tovamo::cli
