// One job's work on several threads. Reading stays on the job's worker; each decoded audio
// stream gets a thread of its own, a decoded video stream two (decoding; then the filters,
// scaling, hooks, previews and encoding), and one more thread writes the output. The muxer
// takes the encoded packets in exactly the order the one-thread path makes them (the
// results of each demuxed packet, in the order the packets were read), so the output is
// the same byte for byte whatever the threads' timing. Queues hold a few items each, and
// a bounded number of bytes. A stop drops what waits in them: each stage finishes the item
// in hand, the encoders are drained, and every stream ends where the first to stop ended.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Engine/EngineSettings.h"
#include "Engine/StageQueue.h"

namespace tovamo {

class TCustomFFmpeg;
struct TTranscodeRun;

// Raised on a stage's thread (or the reader's) when the pipeline was aborted under it:
// the first failure has been recorded already, this only unwinds.
struct TStageAborted {};

// The process's choice for jobs that leave it open (TEngineSettings::Stages): by default
// stages when a job's codecs get threads of their own ("threads" other than 1), which a
// batch only gives when cores are spare. The environment variable TOVAMO_STAGES=on|off
// overrides it, to compare the two paths.
TStagePolicy StagePolicy();

// The work of one input stream with threads of its own, or (without an input) of the
// streams the reading thread handles itself: stream copies and subtitles.
class TStageLane {
 public:
  TStageLane(TInputStream* input, bool encodesApart, int index);

  bool EncodesApart() const { return EncodesApart_; }
  // On the decoding thread: a decoded picture for the encoding thread (a new reference).
  void HandOnPicture(TOutputStream& output, const AVFrame* picture, std::int64_t pts);
  // On the decoding thread: the decoder is drained, the encoders it feeds are to be.
  void HandOnDrain();
  // On the lane's last thread: an encoded packet for the muxer (its reference moves).
  void Emit(TOutputStream& output, AVPacket* packet);

 private:
  friend class TJobPipeline;
  TInputStream* const Input_;
  const bool EncodesApart_;
  const int Index_;  // its place among the job's lanes, as the reading order records it
  TStageQueue<TStageItem> Packets_;
  TStageQueue<TStageItem> Pictures_;
  TStageQueue<TStageItem> Muxed_;
};

class TJobPipeline {
 public:
  // The stages for this run and its threads, started; none when the run does not gain from
  // them or cannot take them (several inputs, joining, real-time reading, frame and size
  // limits that the reader checks, stream copy alone).
  static std::unique_ptr<TJobPipeline> ForRun(TCustomFFmpeg& engine, TTranscodeRun& run);
  TJobPipeline(TCustomFFmpeg& engine, TTranscodeRun& run);
  ~TJobPipeline();  // aborts what still runs and waits for the threads
  TJobPipeline(const TJobPipeline&) = delete;
  TJobPipeline& operator=(const TJobPipeline&) = delete;

  // On the reading thread: a demuxed packet (its reference moves) or, with none, the end of
  // the stream, for the stage that handles the stream; a stream without a stage of its own
  // is handled here and now. False once a stage has failed: the reading should end.
  bool Submit(TInputStream& input, AVPacket* packet);
  bool Failed() const { return Failed_; }
  // Lets every stage finish its work (after a stop, the work in hand), waits for the
  // threads and raises the first failure.
  void Finish();

 private:
  void Start();
  void Fail(std::exception_ptr error);
  void AbortAll();
  void JoinAll();
  template <class F>
  void RunStage(const char* name, F&& work);
  void DecodeStage(TStageLane& lane);
  void EncodeStage(TStageLane& lane);
  void MuxStage();
  void MuxAfterStop(const TStageLane* cut);
  // The time an encoded packet is shown from, microseconds (INT64_MIN: not known).
  static std::int64_t ShownFrom(const TStageItem& item);
  void Write(TStageItem& item);  // on the muxing thread: to the output

  TCustomFFmpeg& Engine_;
  TTranscodeRun& Run_;
  std::vector<std::unique_ptr<TStageLane>> Lanes_;  // [0]: the reading thread's own
  TStageQueue<int> Order_;  // the lane of each submitted packet, in reading order
  std::vector<std::thread> Threads_;
  std::atomic<bool> Failed_{false};
  std::mutex ErrorLock_;
  std::exception_ptr Error_;
  std::string ErrorLibraryLine_;
  // The muxing thread's own: how far each output stream's pictures or sound are written.
  std::map<const TOutputStream*, std::int64_t> ShownUntil_;
};

}  // namespace tovamo
