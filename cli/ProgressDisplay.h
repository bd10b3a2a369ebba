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
  std::int64_t StartMicros = 0;  // monotonic clock
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

class TProgressDisplay {
 public:
  virtual ~TProgressDisplay() = default;
  // Called often; each kind decides when to draw.
  virtual void Show(const std::vector<TTaskState>& tasks, std::int64_t nowMicros) = 0;
  // Takes the live lines away before the closing lines are printed.
  virtual void Finish() = 0;
};

// The live display when `out` is a terminal, the plain one otherwise.
std::unique_ptr<TProgressDisplay> MakeProgressDisplay(std::FILE* out);

}  // namespace tovamo::cli
