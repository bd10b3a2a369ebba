// The progress record a running job hands to its owner every ProgressInterval and once at
// its end (OnProgress). The engine fills every field but TaskIndex, which belongs to the
// owner's job list.
#pragma once

#include <cstdint>

namespace tovamo {

struct TProgressInfo {
  int TaskIndex = -1;  // the job's index in the owner's list (the owner fills it)
  // The input whose packet was processed just before the report; -1 in the final report.
  int FileIndex = -1;
  // Frames written so far by the reported video output stream; -1 without one.
  int FrameNumber = -1;
  // Frames per second since the job started (0 during its first second); -1 without a
  // reported video stream.
  int FPS = -1;
  // Quantiser of the last picture the reported video encoder coded; -1 when that stream
  // is copied or there is none.
  float Quality = -1.0f;
  float BitRate = 0;                 // average output bit rate, kilobits per second
  std::int64_t CurrentSize = 0;      // bytes written to output file 0 so far
  std::int64_t CurrentDuration = 0;  // output time reached, microseconds (at least 10000)
  // Expected length of the output in microseconds (the recording time, the longest input,
  // or the joined inputs' sum); -1 when unknown.
  std::int64_t TotalDuration = -1;
  // Of a two-pass task (the owner fills it): 1 or 2, and CurrentDuration is then the share
  // of the whole task, the first pass covering the first part of TotalDuration and the
  // second the rest; 0 for a task of one pass.
  int Pass = 0;
};
using PProgressInfo = TProgressInfo*;

}  // namespace tovamo
