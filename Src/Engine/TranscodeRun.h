// The tables of one run of the transcode: made by the set-up, used by the packet loop and
// released by the clean-up. The stream records themselves belong to the engine's input
// and output tables; the run only orders them.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "Engine/StreamRecords.h"

namespace tovamo {

class TJobPipeline;

struct TTranscodeRun {
  TTranscodeRun() = default;
  ~TTranscodeRun();  // frees the packets also when an error left the loop early
  TTranscodeRun(const TTranscodeRun&) = delete;
  TTranscodeRun& operator=(const TTranscodeRun&) = delete;

  std::vector<TInputFileRec> Files;
  std::vector<TInputStream*> InputStreams;    // in file order, then stream order
  std::vector<TOutputStream*> OutputStreams;  // in file order, then stream order
  std::vector<bool> NoPacket;                 // per input file: the last read said "again"
  int NoPacketCount = 0;
  int GroupSize = 0;     // streams of output file 0 (one group per input when joining)
  int CurrentInput = 0;  // join mode: the input being played
  std::int64_t TimerStart = 0;
  std::int64_t LastReportTime = 0;
  double ReportedTime = 0;        // seconds: output time of the last report, which never goes back
  AVPacket* Packet = nullptr;     // the packet being read; owned
  AVPacket* OutPacket = nullptr;  // the packet being written; owned
  // Furthest end time (microseconds, after offsets) read per input file, to tell a file
  // that ends before its stated duration.
  std::vector<std::int64_t> FurthestTime;
  // Per input file, on the reading thread: the earliest time handed on and the furthest end
  // reached, microseconds in the times the packet loop hands on (which run on across
  // discontinuities and joined clips). ReadSpan publishes their difference to the muxing
  // thread's output-size check.
  std::vector<std::int64_t> FirstTime;
  std::vector<std::int64_t> LastEnd;
  std::unique_ptr<std::atomic<std::int64_t>[]> ReadSpan;
  std::vector<bool> LastPacketCut;  // per input file: the last packet read was cut short
  bool ShowedSubtitlePtsWarning = false;
  std::int64_t PacketsRead = 0;  // from every input, to tell why nothing was written
  // The job's stages on threads of their own, when it has them; stopped before the rest
  // of the run goes.
  std::unique_ptr<TJobPipeline> Pipeline;
  // A cover picture encoded as the video (album art of a song): shown for the whole
  // length, fed again as the other streams' times go on (StillPicture.cpp).
  TInputStream* Still = nullptr;
  std::int64_t StillNext = 0;  // microseconds: when it is next due
};

}  // namespace tovamo
