// The encoder component's tasks and control operations. The relays and the delivery of
// notifications are in EncoderEvents.cpp.
#include "Components/FFEncode.h"

#include <cstdio>
#include <thread>

#include "Components/EncoderDelivery.h"
#include "Components/OutputOptionPasses.h"
#include "Components/PassStats.h"
#include "Components/TwoPassTask.h"
#include "Engine/QualityClass.h"
#include "Services/Exceptions.h"
#include "Services/FFLoad.h"
#include "Services/MainThread.h"

namespace tovamo {

TFFEncoder::TFFEncoder()
    : Delivery_(std::make_shared<TDeliveryState>()), Decoder_(std::make_unique<TFFDecoder>()) {
  Version_ = "3.9";
  Decoder_->SetOwnerEncoder(this);
}

TFFEncoder::~TFFEncoder() {
  // No handler runs once the handlers are detached.
  DetachHandlers();
  // Every run ends and every termination relay has returned before the engines go, so
  // that no relay waits for the terminate lock that the clearing holds.
  Stop(true);
  ClearTwoPassTasks();
  {
    std::lock_guard lock(TerminateLock_);
    Tasks_.Clear();
  }
  WaitForDeliveryThreads();
}

bool TFFEncoder::LoadLibraries(const std::string& path) {
  TFFLoader& loader = FFLoader();
  loader.LibraryPath = path;
  if (loader.LoadLibs(kEncoderLibraries)) return true;
  LastError_ = loader.LastErrorText();
  return false;
}

void TFFEncoder::CheckNotWorking(const char* operation) const {
  if (Working_) throw std::runtime_error(std::string("Cannot ") + operation + " while working.");
}

void TFFEncoder::SetPreview(bool enable) {
  Preview_ = enable;
  Tasks_.SetPreview(enable);
}

void TFFEncoder::SetPreviewBitmap(bool enable) {
  PreviewBitmap_ = enable;
  Tasks_.SetPreviewBitmap(enable);
}

void TFFEncoder::SetProgressInterval(int milliseconds) {
  ProgressInterval_ = milliseconds <= 100 ? 100 : milliseconds;
}

int TFFEncoder::AddTask(const std::string& fileName, const TInputOptions* options) {
  CheckNotWorking("AddTask");
  std::unique_ptr<TFFmpeg> engine = OpenTaskInput(fileName, options);
  if (!engine) return -1;
  ConnectRelays(*engine);
  return Tasks_.Add(engine.release());
}

std::unique_ptr<TFFmpeg> TFFEncoder::OpenTaskInput(const std::string& fileName,
                                                   const TInputOptions* options) {
  auto engine = std::make_unique<TFFmpeg>(MaxFiles_);
  engine->StrictOptions = StrictOptions_;
  engine->Encoder = this;
  try {
    engine->Verbose = Verbose_;
    engine->SetPreviewFlags(std::uint8_t((Preview_ ? 1 : 0) | (PreviewBitmap_ ? 2 : 0)));
    engine->OnBeforeFindStreamInfo = [this](TCustomFFmpeg* sender, AVFormatContext* context) {
      if (OnBeforeFindStreamInfo) OnBeforeFindStreamInfo(sender, context);
    };
    engine->OnPreviewBitmap = [this](TCustomFFmpeg* sender, void* bitmap, int frameNumber,
                                     std::int64_t pts,
                                     bool&) { PreviewRelay(sender, bitmap, frameNumber, pts); };
    if (options) {
      TInputOptions copy = *options;
      if (copy.FileName.empty()) copy.FileName = fileName;
      engine->SetInputOptions(engine->InputFileCount, copy);
      engine->ParseOptions(copy.ExtraOptions, true);
      if (!copy.FileFormat.empty()) engine->ParseOption("f", copy.FileFormat);
      if (copy.StartTime != kNoTime) engine->SetInputStartTime(copy.StartTime);
      if (copy.ProgramId >= 0) engine->SetInputProgramId(copy.ProgramId);
    }
    engine->IOTimeout = IOTimeout_;
    if (!engine->OpenInputFile(fileName)) {
      LastError_ = engine->LastError;
      return nullptr;
    }
    const int input = engine->InputFileCount - 1;
    engine->GetDecoder(input).Attach(engine->InputFiles[input]);
  } catch (const FFmpegException& e) {
    LastError_ = e.what();
    return nullptr;
  } catch (const EConvertError& e) {
    LastError_ = e.what();
    return nullptr;
  } catch (const std::exception& e) {
    // Whatever else the caller's options provoke is this call's failure, not the program's.
    LastError_ = e.what();
    return nullptr;
  }
  return engine;
}

bool TFFEncoder::SetOutputFile(int taskIndex, const std::string& fileName,
                               const TOutputOptions* options) {
  CheckNotWorking("SetOutputFile");
  auto* engine = static_cast<TFFmpeg*>(Tasks_.Items(taskIndex));
  // A two-pass task's outputs read the statistics of its first pass. The best class asks
  // for two passes where the output has a rate to meet.
  TOutputOptions secondPass;
  if (options && (options->TwoPass || TwoPass_.count(taskIndex) ||
                  QualityClassWantsTwoPasses(options->Quality, options->ExtraOptions))) {
    secondPass = SecondPassOptions(taskIndex, *engine, fileName, *options);
    options = &secondPass;
  }
  return AddTaskOutput(*engine, fileName, options);
}

bool TFFEncoder::AddTaskOutput(TFFmpeg& task, const std::string& fileName,
                               const TOutputOptions* options) {
  TFFmpeg* engine = &task;
  if (engine->OutputFileCount >= engine->MaxFiles) {
    char text[64];
    std::snprintf(text, sizeof text, "max output files %d reached", engine->MaxFiles);
    LastError_ = text;
    return false;
  }
  engine->StrictOptions = StrictOptions_;
  const int slot = engine->OutputFileCount;
  // A refused setting fails the task when it starts: it does not run without it.
  const auto refuse = [&](const std::string& message) {
    LastError_ = message;
    if (engine->SetupError.empty()) engine->SetupError = message;
    return false;
  };
  if (options)
    if (const std::string error = OutputOptionTextError(options->ExtraOptions); !error.empty())
      return refuse(error);
  try {
    TOutputOptions copy;
    std::unique_ptr<TOptionDefaults> defaults;
    bool join = false;
    if (options) {
      copy = *options;
      if (copy.FileName.empty()) copy.FileName = fileName;
      engine->SetOutputOptions(slot, copy);
      defaults = std::make_unique<TOptionDefaults>(copy);  // pass A
      const std::string target = TargetName(copy.TargetType);
      if (!target.empty())
        engine->SetTarget(target, NormName(copy.NormType), FallbackNormName(copy.FallbackNorm));
      for (const char* codec : {"acodec", "vcodec", "scodec"}) {
        const std::string value = defaults->Default(codec);
        if (!value.empty()) engine->ParseOption(codec, value);
      }
      ApplyQualityClass(*engine, copy.Quality);
      for (const char* preset : {"apre", "vpre", "spre"}) {
        const std::string value = defaults->Default(preset);
        if (!value.empty()) engine->ApplyPreset(preset, value);
      }
      engine->ParseOptions(copy.ExtraOptions, false);  // pass B
      ApplyOutputRecord(*engine, copy);
      if (const std::string size = defaults->Default("s"); !size.empty())
        engine->ParseOption("s", size);
      if (const std::string filters = defaults->Default("vf"); !filters.empty())
        engine->ParseOption("vf", filters);
      ConnectHookRelays(*engine, copy);
      engine->SetConverterPixelFormat(copy.HookBitsPerPixel);
      join = copy.Join;
    } else {
      engine->ClearOutputOptions(slot);
    }

    engine->IOTimeout = IOTimeout_;
    if (engine->AddOutputFile(fileName, join) < 0) {
      engine->ClearOutputOptions(slot);
      return refuse(engine->LastError);
    }
    if (options) {
      ApplyExtraStreams(*engine, copy.ExtraOptions, *defaults);  // pass C
      if (copy.Join) engine->JoinSetup();
    }
    return true;
  } catch (const FFmpegException& e) {
    return refuse(e.what());
  } catch (const EConvertError& e) {
    return refuse(e.what());
  } catch (const std::exception& e) {  // any other error is a result too, never an escape
    return refuse(e.what());
  }
}

void TFFEncoder::StartTask(int maxParallel) {
  CheckNotWorking("StartTask");
  {
    std::lock_guard lock(StartLock_);
    FinishedCount_ = 0;
    NextTask_ = 0;
    TasksToStart_ = Tasks_.Count();
  }
  AllTerminated_ = false;
  Threaded_ = maxParallel > 0;
  Working_ = true;
  Paused_ = false;
  while (TasksToStart_ > 0) {
    StartNextTask();
    if (Threaded_ && --maxParallel == 0) break;
  }
}

void TFFEncoder::StartNextTask() {
  TCustomFFmpeg* engine;
  int index;
  {
    std::lock_guard lock(StartLock_);
    if (TasksToStart_ <= 0) return;
    --TasksToStart_;
    index = NextTask_++;
    engine = Tasks_.Items(index);
  }
  engine->ProgressInterval = std::int64_t(ProgressInterval_) * 1000;
  // A two-pass task starts with its first pass; the task's own engine follows it.
  if (StartFirstPass(index)) return;
  // A refused start reports the task's end at once, through the termination relay.
  if (engine->Start(Threaded_, ThreadPriority)) {
    engine->Resume();
    // A task started while the batch is paused waits with the others.
    if (Paused_) engine->Pause();
  }
}

// Stop and ClearTasks wait on the owner's thread, and a wait there keeps serving the
// window's events: a handler run meanwhile may call ClearTasks, which would free the engines
// that the waiting call is using. Such a nested ClearTasks is done when the outermost call
// returns.
class TFFEncoder::TOwnerCall {
 public:
  explicit TOwnerCall(TFFEncoder& encoder) : Encoder_(encoder) {
    if (Encoder_.OwnerCallDepth_++ == 0) Encoder_.OwnerCallThread_ = std::this_thread::get_id();
  }
  ~TOwnerCall() {
    if (--Encoder_.OwnerCallDepth_ > 0) return;
    Encoder_.OwnerCallThread_ = std::thread::id();
    if (!Encoder_.ClearPending_) return;
    Encoder_.ClearPending_ = false;
    try {
      Encoder_.ClearTasks();
    } catch (const std::exception&) {
      // It was checked when it was asked for; nothing can have started since.
    }
  }
  static bool Nested(const TFFEncoder& encoder) {
    return encoder.OwnerCallDepth_ > 0 &&
           encoder.OwnerCallThread_.load() == std::this_thread::get_id();
  }

 private:
  TFFEncoder& Encoder_;
};

void TFFEncoder::Stop(bool wait) {
  TOwnerCall call(*this);
  {
    std::lock_guard lock(StartLock_);
    TasksToStart_ = 0;
  }
  if (!Working_) return;
  for (const auto& [index, task] : TwoPass_) StopFirstPass(index, wait);
  Tasks_.StopAll(wait);
}

void TFFEncoder::StopTask(int taskIndex, bool wait) {
  TOwnerCall call(*this);
  if (!Working_ || taskIndex < 0 || taskIndex >= Tasks_.Count()) return;
  StopFirstPass(taskIndex, wait);
  // A task not started yet ends at once: its Start is then refused without a second notice.
  Tasks_.Items(taskIndex)->Stop(wait);
}

void TFFEncoder::Pause() {
  if (Working_ && !Paused_) {
    Paused_ = true;  // before: a second pass starting now is paused as it starts
    PauseFirstPasses(true);
    Tasks_.PauseAll();
  }
}

void TFFEncoder::Resume() {
  if (Working_ && Paused_) {
    Paused_ = false;
    PauseFirstPasses(false);
    Tasks_.ResumeAll();
  }
}

void TFFEncoder::ClearTasks() {
  // A batch without tasks has nothing to wait for.
  const bool allEnded = AllTerminated_ || FinishedCount_ >= Tasks_.Count();
  if (Working_ && !allEnded) throw std::runtime_error("Cannot ClearTasks while working.");
  if (TOwnerCall::Nested(*this)) {
    ClearPending_ = true;
    return;
  }
  TOwnerCall call(*this);
  ClearTwoPassTasks();
  {
    // The last task's worker may still be on its way out of the termination relay; each
    // engine's destructor waits for its worker to return.
    std::lock_guard lock(TerminateLock_);
    Tasks_.Clear();
  }
  LastError_.clear();
  {
    std::lock_guard lock(StartLock_);
    FinishedCount_ = 0;
    NextTask_ = -1;
    TasksToStart_ = 0;
  }
  AllTerminated_ = false;
  Threaded_ = false;
  Working_ = false;
  Paused_ = false;
}

AVFormatContext* TFFEncoder::InputContext(int taskIndex, int inputIndex) const {
  TCustomFFmpeg* engine = Tasks_.Items(taskIndex);
  if (inputIndex < 0 || inputIndex >= engine->MaxFiles) return nullptr;
  return engine->InputFiles[std::size_t(inputIndex)];
}

TCustomFFmpeg* TFFEncoder::Task(int taskIndex) const {
  return Tasks_.Items(taskIndex);
}

int TFFEncoder::TaskCount() const {
  return Tasks_.Count();
}

}  // namespace tovamo
