// A task of the encoder component encoded in two passes (TwoPassTasks.cpp): the records its
// first pass is made from when the task starts, and the state the two passes share.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "Engine/FFmpeg.h"
#include "Engine/TaskOptions.h"

namespace tovamo {

struct TTwoPassTask {
  std::string StatsPrefix;  // the engines' "passlogfile" (PassStats.h)
  std::string InputName;
  std::unique_ptr<TInputOptions> Input;  // null: the input was opened without a record
  // The outputs as the owner asked for them; the first pass writes each to the null muxer.
  std::vector<std::pair<std::string, TOutputOptions>> Outputs;
  // The second pass takes the class's trellis quantisation only where the first pass's
  // quantisers say it pays (QualityClassTrellisByFirstPass).
  bool TrellisByFirstPass = false;

  // Guards what follows: the first pass starts and ends on worker threads while the owner
  // may stop or pause the batch.
  std::mutex Lock;
  std::unique_ptr<TFFmpeg> FirstPass;  // made when the task starts, kept until it is freed
  bool StopAsked = false;              // a stop came before the second pass started
};

}  // namespace tovamo
