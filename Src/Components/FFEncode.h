// The encoder component: an ordered list of conversion tasks, one engine each, started all
// at once, a few at a time or one after another, with the engines' notifications handed to
// the owner as events. The converter window and the tovamo-convert command drive it.
//   FFEncode.cpp        tasks, output option assembly, start, pause, stop, clear
//   EncoderEvents.cpp   the relays the engines call, delivery threads, the end of a batch
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "Components/FFDecode.h"
#include "Engine/FFmpeg.h"
#include "Engine/ProgressInfo.h"
#include "Engine/TaskOptions.h"

namespace tovamo {

class TBitmap;
struct TTwoPassTask;

// What OnPreviewBitmap delivers: the bitmap belongs to the engine and is valid only during
// the call.
struct TPreviewInfo {
  int TaskIndex = -1;
  TBitmap* Bitmap = nullptr;
  int FrameNumber = 0;
  std::int64_t PTS = 0;  // microseconds
};

class TFFBaseComponent {
 public:
  virtual ~TFFBaseComponent() = default;
  std::string About;  // no behaviour

 protected:
  std::string Version_;
};

class TFFEncoder;

class TCustomEncoder : public TFFBaseComponent {
 public:
  // The events; the records they carry are refilled for every notification, so a handler
  // copies what it keeps.
  using TAudioHookEvent = std::function<void(TFFEncoder* sender, int taskIndex,
                                             const std::int64_t pts, std::uint8_t* sample, int size,
                                             int sampleRate, int channels, int sampleFormat)>;
  using TBeforeFindStreamInfoEvent =
      std::function<void(TCustomFFmpeg* sender, AVFormatContext* context)>;
  using TPreviewBitmapEvent = std::function<void(TFFEncoder* sender, const TPreviewInfo& info)>;
  using TProgressEvent = std::function<void(TFFEncoder* sender, TProgressInfo* info)>;
  using TTerminateEvent = std::function<void(TFFEncoder* sender, const TTerminateInfo& info)>;
  using TVideoHookEvent = std::function<void(TFFEncoder* sender, THookInfo* info)>;

  const std::string& Version() const { return Version_; }
};

class TFFEncoder : public TCustomEncoder {
 public:
  static constexpr int kMaxFiles = 20;  // inputs and outputs per task

  TFFEncoder();
  ~TFFEncoder() override;
  TFFEncoder(const TFFEncoder&) = delete;
  TFFEncoder& operator=(const TFFEncoder&) = delete;

  // Loads the media libraries from `path` (empty: the system's search path). False with
  // LastError on failure.
  bool LoadLibraries(const std::string& path);

  // Opens the input of a new task. The task's index, or -1 with LastError.
  // Raises "Cannot AddTask while working.".
  int AddTask(const std::string& fileName, const TInputOptions* options = nullptr);
  // Adds an output to a task; its file is made when the task starts. Every line of the
  // option text is checked first. False with LastError, and the task then fails with that
  // message when it starts. Raises "Cannot SetOutputFile while working.".
  bool SetOutputFile(int taskIndex, const std::string& fileName,
                     const TOutputOptions* options = nullptr);
  // maxParallel > 0: that many tasks at once on worker threads, the next one as one ends;
  // otherwise every task on the calling thread before returning. Raises "Cannot StartTask
  // while working.".
  void StartTask(int maxParallel);
  void Stop(bool wait);
  // Stops one task of the working batch; the others go on. Its end is told as any task's.
  void StopTask(int taskIndex, bool wait);
  void Pause();
  void Resume();
  // Frees every task. Raises "Cannot ClearTasks while working." until the end of the batch
  // has been announced. Called by a handler while Stop or ClearTasks waits on the same
  // thread, it takes effect when that call returns.
  void ClearTasks();

  AVFormatContext* InputContext(int taskIndex, int inputIndex) const;
  TCustomFFmpeg* Task(int taskIndex) const;
  int TaskCount() const;
  // When the task began to run (MonotonicMicros; the first pass of a two-pass task), 0
  // before it did.
  std::int64_t TaskStartMicros(int taskIndex) const;
  const std::string& LastError() const { return LastError_; }
  bool Working() const { return Working_; }
  bool Paused() const { return Paused_; }
  bool AllTerminated() const { return AllTerminated_; }
  // The decoder the component owns for its whole life.
  TFFDecoder& Decoder() { return *Decoder_; }

  // ---- Properties -----------------------------------------------------------------------
  bool Preview() const { return Preview_; }
  void SetPreview(bool enable);
  bool PreviewBitmap() const { return PreviewBitmap_; }
  void SetPreviewBitmap(bool enable);
  int ProgressInterval() const { return ProgressInterval_; }
  void SetProgressInterval(int milliseconds);  // 100 or less is stored as 100
  TThreadPriority ThreadPriority = tpNormal;
  bool TriggerEventInMainThread = true;

  // ---- Events ---------------------------------------------------------------------------
  TAudioHookEvent OnAudioHook;
  TBeforeFindStreamInfoEvent OnBeforeFindStreamInfo;
  TPreviewBitmapEvent OnPreviewBitmap;
  TProgressEvent OnProgress;
  TTerminateEvent OnTerminate;
  TVideoHookEvent OnVideoInputHook;
  TVideoHookEvent OnVideoOutputHook;

  // Clears every handler but OnBeforeFindStreamInfo, each under its event's lock, so that
  // no handler runs once this returns (except one that is running on the calling thread).
  void DetachHandlers();

 private:
  void CheckNotWorking(const char* operation) const;
  void StartNextTask();

  // The relays the engines call (EncoderEvents.cpp).
  void ConnectRelays(TFFmpeg& engine);
  void ConnectHookRelays(TFFmpeg& engine, const TOutputOptions& options);
  void TerminateRelay(TCustomFFmpeg* engine);
  void ProgressRelay(TCustomFFmpeg* engine, TProgressInfo* info);
  // Hands ProgressInfo_ to OnProgress, on the main thread if asked; under ProgressLock_.
  void DeliverProgress();
  void PreviewRelay(TCustomFFmpeg* engine, void* bitmap, int frameNumber, std::int64_t pts);
  void VideoHookRelay(const TVideoHookEvent& handler, TCustomFFmpeg* engine, THookInfo* info);
  void AudioRelay(TCustomFFmpeg* engine, std::int64_t pts, void* samples, int size, int sampleRate,
                  int channels, int sampleFormat);
  void RaiseEndOfBatch();
  // Hands `info` to OnTerminate: on a delivery thread in threaded mode or when no batch is
  // working, else directly.
  void DeliverTermination(const TTerminateInfo& info, bool waitDelivered);
  int TaskIndexOf(const TCustomFFmpeg* engine) const;
  // Waits until no delivery thread but the calling one runs.
  void WaitForDeliveryThreads();

  // A new engine with its input open and set up, or null with LastError.
  std::unique_ptr<TFFmpeg> OpenTaskInput(const std::string& fileName, const TInputOptions* options);
  // SetOutputFile's work on any engine of a task.
  bool AddTaskOutput(TFFmpeg& engine, const std::string& fileName, const TOutputOptions* options);

  // Two-pass tasks (TwoPassTasks.cpp). The record of an output of a two-pass task, noted
  // for its first pass, with the lines that make it read the first pass's statistics.
  TOutputOptions SecondPassOptions(int taskIndex, const TFFmpeg& engine,
                                   const std::string& fileName, const TOutputOptions& options);
  // Starts the first pass of a two-pass task; false for a task of one pass.
  bool StartFirstPass(int taskIndex);
  // The first pass ended: the second starts, or the task ends as the first did.
  void FirstPassEnded(int taskIndex, TCustomFFmpeg* firstPass);
  // Takes the class's trellis quantisation off a second pass whose first pass coded at
  // quantisers fine enough for the rate (TrellisSuitsQuantiser).
  static void LeaveTrellisToFirstPass(const TTwoPassTask& task, TCustomFFmpeg& secondPass);
  // The task's progress as a share of both passes; pass 0 leaves a one-pass task's alone.
  void ShowPassProgress(TProgressInfo& info, int pass) const;
  void StopFirstPass(int taskIndex, bool wait);
  void PauseFirstPasses(bool pause);
  // Frees the first passes' engines (not under TerminateLock_: a first pass ending now
  // reports its task's end through it) and forgets the two-pass records.
  void ClearTwoPassTasks();

  std::string LastError_;
  int MaxFiles_ = kMaxFiles;
  bool StrictOptions_ = true;
  bool Preview_ = false;
  bool PreviewBitmap_ = false;
  int ProgressInterval_ = 500;
  int IOTimeout_ = 10000;
  int Verbose_ = 1;

  // One record of each kind, refilled for every notification under its lock.
  TProgressInfo ProgressInfo_;
  TTerminateInfo TerminateInfo_;
  THookInfo HookInfo_;
  TPreviewInfo PreviewInfo_;
  std::mutex AudioLock_;
  std::mutex PreviewLock_;
  std::mutex ProgressLock_;
  std::recursive_mutex TerminateLock_;  // a direct handler may stop the batch
  std::mutex VideoLock_;
  // The notices in delivery and the delivery threads still running (EncoderDelivery.h),
  // shared with those threads so that a handler may even free the encoder.
  std::shared_ptr<struct TDeliveryState> Delivery_;
  std::mutex StartLock_;  // the next task and the tasks still to start
  // Stop and ClearTasks in progress on the owner's thread (FFEncode.cpp), and a ClearTasks
  // asked for by a handler while they wait.
  class TOwnerCall;
  std::atomic<std::thread::id> OwnerCallThread_{};
  std::atomic<int> OwnerCallDepth_{0};
  bool ClearPending_ = false;

  std::unique_ptr<TFFDecoder> Decoder_;
  TFFmpegList Tasks_;
  std::atomic<int> FinishedCount_{0};
  int NextTask_ = -1;
  std::atomic<int> TasksToStart_{0};
  std::atomic<bool> AllTerminated_{false};
  std::atomic<bool> Threaded_{false};
  std::atomic<bool> Working_{false};
  std::atomic<bool> Paused_{false};
  // The two-pass tasks by index; changed only while no batch works.
  std::map<int, std::unique_ptr<TTwoPassTask>> TwoPass_;
};

}  // namespace tovamo
