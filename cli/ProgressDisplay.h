// What a running batch shows: on a terminal one live line per running task and the overall
// percentage, redrawn in place; otherwise plain progress lines at most once a second.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "Engine/ProgressInfo.h"

namespace tovamo::cli {

// A task of the batch as the display sees it.
struct TTaskState {
  std::string Input;
  std::string Output;
  bool Started = false;
  bool Ended = false;
  bool Completed = false;
  bool Failed = false;
  std::int64_t StartMicros = 0;  // monotonic clock
  std::int64_t EndMicros = 0;    // when its end notice came (monotonic clock)
  bool HasProgress = false;
  TProgressInfo Progress;
};

// 0 to 100; a completed task is 100, one without a known length 0.
double TaskPercent(const TTaskState& task);
double OverallPercent(const std::vector<TTaskState>& tasks);

// "1.4 MiB", "512 KiB", "300 B".
std::string SizeText(std::int64_t bytes);
// "HH:MM:SS".
std::string ElapsedText(std::int64_t micros);

// Frames written per second of wall time from the task's start to `nowMicros`, counted in
// milliseconds so that the first second already shows a rate; -1 without a video stream
// or before any time has passed.
double FramesPerSecond(const TTaskState& task, std::int64_t nowMicros);

// How a finished task went: "00:00:03.2, 48.2 fps, 1.4 MiB" (no rate without video);
// empty when it never got going.
std::string FinalFigures(const TTaskState& task);

// A running task's live line in at most `width` columns: its figures, then its name,
// shortened in the middle to fit.
std::string LiveTaskLine(const TTaskState& task, std::int64_t nowMicros, std::size_t width);

class TProgressDisplay {
 public:
  virtual ~TProgressDisplay() = default;
  // Called often; each kind decides when to draw.
  virtual void Show(const std::vector<TTaskState>& tasks, std::int64_t nowMicros) = 0;
  // Takes the live lines away before the closing lines are printed.
  virtual void Finish() = 0;
};

// The live display when `out` is a terminal, the plain one otherwise. The command shows
// its progress on standard error, so that standard output carries the result lines only.
std::unique_ptr<TProgressDisplay> MakeProgressDisplay(std::FILE* out);

}  // namespace tovamo::cli
