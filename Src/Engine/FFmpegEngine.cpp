// The engine object: construction and defaults, the run (Start, Execute, DoTerminate), the
// job's clean-up, stop and pause, and the interrupt checks that cancel blocking I/O.
#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

#include "Components/FFDecode.h"
#include "Engine/FFmpeg.h"
#include "Engine/GuardedIO.h"
#include "Engine/StreamRecords.h"
#include "Services/FFBindings.h"
#include "Services/FFInterrupt.h"
#include "Services/FFLoad.h"
#include "Services/FFUtils.h"
#include "Services/FormatConverter.h"
#include "Services/MainThread.h"
#include "Services/Text.h"
#include "Services/UnicodeProtocol.h"

namespace tovamo {
namespace {

constexpr const char* kModule = "FFmpeg";
constexpr std::int64_t kNoIO = INT64_MAX;  // IOStartTime while no blocking call runs

bool LibrariesLoaded() {
  return FFLoader().LibsLoaded(kEncoderLibraries);
}

// The local file behind an output's URL, or an empty path for other protocols.
std::filesystem::path LocalFile(const char* url) {
  if (!url || !*url) return {};
  std::string name = FromFFmpegName(url);
  if (name.rfind("file:", 0) == 0) name.erase(0, 5);
  return std::filesystem::path(name);
}

// Deletes a regular file that holds no bytes: an output that received nothing.
void DeleteIfEmpty(const std::filesystem::path& path) {
  if (path.empty()) return;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return;
  if (std::filesystem::file_size(path, ec) == 0 && !ec) std::filesystem::remove(path, ec);
}

}  // namespace

// ---- Module locks ---------------------------------------------------------------------

std::mutex& CodecListLock() {
  static std::mutex lock;
  return lock;
}

// ---- Construction -----------------------------------------------------------------------

TCustomFFmpeg::TCustomFFmpeg(int maxFiles) : MaxFiles(maxFiles) {
  Assert(maxFiles >= 1 && maxFiles <= 512, "MaxFiles must be between 1 and 512", kModule);
  InputFiles.assign(MaxFiles, nullptr);
  InputTsOffsets.assign(MaxFiles, 0);
  InputTsScales.assign(MaxFiles, {});
  OutputFiles.assign(MaxFiles, nullptr);
  OutputStreamTables.resize(MaxFiles);
  InputFileNames.assign(MaxFiles, {});
  InputCustomIO.assign(MaxFiles, false);
  OutputFileNames.assign(MaxFiles, {});
  OutputCustomIO.assign(MaxFiles, false);
  HookConverter = std::make_unique<TFormatConverter>();
  PreviewConverter = std::make_unique<TFormatConverter>();
  StrictOptions = true;
  ProgressInterval = 500000;
  PreviewInterval = 100000;
  IOTimeout = 10000;
  InitDefaults();
}

// InitDefaults runs once, from the constructor, where the member initialisers have just
// given every option setting its default; what it adds is the part that needs the
// libraries (the option contexts) and a clean run state.
void TCustomFFmpeg::InitDefaults() {
  if (!LibrariesLoaded()) return;
  std::fill(InputFiles.begin(), InputFiles.end(), nullptr);
  std::fill(InputTsOffsets.begin(), InputTsOffsets.end(), 0);
  for (auto& scales : InputTsScales) scales.clear();
  std::fill(OutputFiles.begin(), OutputFiles.end(), nullptr);
  for (auto& table : OutputStreamTables) table.clear();
  InputFileCount = 0;
  OutputFileCount = 0;
  InputStreams.clear();
  StreamMaps.clear();
  MetadataMaps.clear();
  ChapterMaps.clear();
  StreamIdMap.clear();
  MetadataGlobalAutocopy = true;
  MetadataStreamsAutocopy = true;
  MetadataChaptersAutocopy = true;
  BitBufferSize = 262144;
  AllocOptionContexts(ScalerFlags);
  Thread = nullptr;
  OpenEncoders.clear();
  OpenDecoders.clear();
  LastPreviewTime = 0;
  PreviewFlags = 0;
  PreviewFlagsChanged = false;
  JoinMode = false;
  Running = false;
  StopRequested = false;
  Finished = false;
  Terminated = false;
  ErrorFlag = false;
  RequestedDuration = -1;
}

TCustomFFmpeg::~TCustomFFmpeg() {
  // A worker still on its way out of the run, or a pending termination notice, uses this
  // object until it signals its event; unless this is that notice freeing its engine.
  if (!FreedFromOwnNotice()) {
    if (Running) StopRunning(true);
    WaitServing(DoneEvent);
    WaitServing(TerminateEvent);
  }
  try {
    CloseFiles();
  } catch (const std::exception& e) {
    Log(llError, e.what());
  }
  // The hook pictures outlive jobs; they go with the engine.
  if (ff::av_frame_free) {
    ff::av_frame_free(&InputHookFrame);
    ff::av_frame_free(&OutputHookFrame);
  }
}

// ---- Run ----------------------------------------------------------------------------------

bool TCustomFFmpeg::HasWorker() const {
  std::lock_guard lock(StateLock_);
  return Thread != nullptr;
}

bool TCustomFFmpeg::WorkerStarted() const {
  std::lock_guard lock(StateLock_);
  const TConvertThread* thread = Thread;
  return thread && thread->Started();
}

bool TCustomFFmpeg::Start(bool useThread, TThreadPriority priority) {
  const char* refusal = nullptr;
  TConvertThread* thread = nullptr;
  {
    std::lock_guard lock(StateLock_);
    if (Running || Terminated || TerminateClaimed_) return false;
    if (OutputFileCount <= 0)
      refusal = "At least one output file must be specified";
    else if (InputFileCount <= 0)
      refusal = "At least one input file must be specified";
    if (refusal) {
      TerminateClaimed_ = true;  // this call delivers the end notice
    } else {
      Running = true;
      StopRequested = false;
      Finished = false;
      Terminated = false;
      if (useThread) {
        thread = new TConvertThread(this, priority);
        // Before anyone can see the thread: a Stop(true) that follows must find it reset.
        DoneEvent.Reset();
        Thread = thread;
      }
    }
  }
  if (refusal) {
    CloseFiles();
    RecordError(refusal);
    DoTerminate();
    return false;
  }
  if (!useThread) Execute();  // the end notice may free the engine: nothing follows
  return thread != nullptr;
}

void TCustomFFmpeg::RecordError(const std::string& message) {
  Log(llQuiet, message);
  ErrorFlag = true;
  ErrorMessage = message;
}

void TCustomFFmpeg::Execute() {
  // The libraries read and write numbers as text (options, dictionaries, codec opens) with
  // the C library, which follows the locale: the run works in the C locale throughout.
  TCNumericLocale numbers;
  const TThreadLogLevel jobLevel(JobLogLevel);
  // Every step runs even when an earlier one failed, so the clean-up and the end notice
  // always happen; the last failure is the one reported.
  auto guarded = [this](auto&& step) {
    try {
      step();
    } catch (const std::exception& e) {
      RecordError(e.what());
    } catch (...) {
      RecordError("Unknown error");
    }
  };
  guarded([this] { Finished = false; });
  guarded([this] { Transcode(); });
  // A run that failed inside the packet loop leaves its codecs in the open lists.
  guarded([this] { CloseCodecs(); });
  guarded([this] { CloseFiles(); });
  guarded([this] { DoTerminate(); });
}

void TCustomFFmpeg::DoTerminate() {
  // Terminated before Running drops, so that a Stop on another thread that sees the run
  // over never mistakes the engine for one that has not run.
  Terminated = true;
  Running = false;
  {
    std::lock_guard lock(StateLock_);
    Thread = nullptr;
  }
  if (EventsDetached_) return;
  // A copy: the handler may free the engine, and with it the slot it was called through.
  const TNotifyEvent handler = OnTerminate;
  if (handler) handler(this);
}

void TCustomFFmpeg::ForgetThread(TConvertThread* thread) {
  std::lock_guard lock(StateLock_);
  if (Thread == thread) Thread = nullptr;
}

void TCustomFFmpeg::WaitForRealTime(std::int64_t runStart, std::int64_t micros) {
  for (;;) {
    PausePoint();
    if (StopRequested) return;
    const std::int64_t elapsed = MonotonicMicros() - runStart - PausedMicros_;
    const std::int64_t ahead = micros - elapsed;
    if (ahead <= 1000) return;
    WaitSlice(std::min<std::int64_t>(ahead, 10000));
  }
}

void TCustomFFmpeg::WaitSlice(std::int64_t micros) {
  std::unique_lock lock(PauseLock_);
  PauseCond_.wait_for(lock, std::chrono::microseconds(micros),
                      [this] { return StopRequested || PauseRequested_; });
}

// ---- Clean-up -----------------------------------------------------------------------------

void TCustomFFmpeg::CloseFiles() {
  const bool libraries = LibrariesLoaded();
  std::string closeError;  // the first output that could not be finished on disk
  if (libraries) {
    // Outputs. A joined output sits in several slots: each context is closed once.
    std::vector<AVFormatContext*> closed;
    for (int i = 0; i < MaxFiles; ++i) {
      AVFormatContext* output = OutputFiles[i];
      OutputFiles[i] = nullptr;
      if (!output || std::find(closed.begin(), closed.end(), output) != closed.end()) {
        OutputCustomIO[i] = false;
        continue;
      }
      closed.push_back(output);
      const bool writesFile = !(output->oformat && (output->oformat->flags & AVFMT_NOFILE));
      std::filesystem::path file;
      if (writesFile) {
        file = LocalFile(output->url);
        const int ret = CloseOutputIO(i, output);
        if (ret < 0 && closeError.empty())
          closeError = ErrorText(FromFFmpegName(output->url ? output->url : ""), ret);
      }
      ff::avformat_free_context(output);
      if (writesFile) DeleteIfEmpty(file);
    }
  }
  for (auto& table : OutputStreamTables) table.clear();
  for (auto& name : OutputFileNames) name.clear();
  OutputFileCount = 0;

  InputsClosing();
  if (libraries) {
    for (int i = 0; i < MaxFiles; ++i) {
      AVFormatContext* input = InputFiles[i];
      if (!input) continue;
      // The library leaves an I/O context of the program's own open.
      AVIOContext* custom = InputCustomIO[i] ? input->pb : nullptr;
      ff::avformat_close_input(&InputFiles[i]);
      if (custom) CloseUnicodeIO(&custom);
    }
  }
  InputStreams.clear();
  for (auto& scales : InputTsScales) scales.clear();
  for (auto& name : InputFileNames) name.clear();
  std::fill(InputCustomIO.begin(), InputCustomIO.end(), false);
  InputFileCount = 0;

  IntraMatrix.reset();
  InterMatrix.reset();
  if (VstatsFile) {
    std::fclose(VstatsFile);
    VstatsFile = nullptr;
  }
  VstatsFileName.clear();
  StreamIdMap.clear();
  StreamMaps.clear();
  MetadataMaps.clear();
  ChapterMaps.clear();
  VideoCodecName.clear();
  AudioCodecName.clear();
  SubtitleCodecName.clear();
  VideoStandard.clear();
  RcOverride.clear();
  FrameHooks.reset();  // each hook's Release runs here, with the job's end
  UsingFrameHooks = false;
  if (libraries) {
    FreeOptionContexts();
    ff::avfilter_graph_free(&FilterGraph);
    ff::av_dict_free(&Metadata);
  }
  VideoBitstreamFilters.clear();
  AudioBitstreamFilters.clear();
  SubtitleBitstreamFilters.clear();
  if (!closeError.empty()) {
    // The file's end did not reach the disk: the job is not finished.
    Finished = false;
    throw FFmpegException(closeError);
  }
}

// ---- Stop and pause -----------------------------------------------------------------------

void TCustomFFmpeg::WaitServing(TEvent& event) {
  if (!IsMainThread()) {
    event.Wait();
    return;
  }
  while (!event.WaitFor(20)) ProcessPendingMainThreadWork();
  // What the run handed over without waiting (its last log lines) before it set the event.
  ProcessPendingMainThreadWork();
}

void TCustomFFmpeg::StopRunning(bool wait) {
  StopRequested = true;
  {
    // A stop also ends a pause. Notified under the lock: a waiter checks the flags under it.
    std::lock_guard lock(PauseLock_);
    PauseRequested_ = false;
    PauseCond_.notify_all();
  }
  TConvertThread* unstartable = nullptr;
  bool hasThread;
  {
    std::lock_guard lock(StateLock_);
    TConvertThread* thread = Thread;
    hasThread = thread != nullptr;
    if (thread && !thread->Started()) {
      try {
        thread->Resume();
      } catch (const std::exception&) {
        unstartable = thread;
        unstartable->Started_ = true;  // nobody else may start it now
      }
    }
  }
  if (unstartable) {
    // No thread could be made for the run: end it here, with the stop already requested.
    RecordError("Cannot start the conversion thread");
    unstartable->Priority_ = tpNormal;  // the caller's thread keeps its own priority
    unstartable->Run();
    return;
  }
  if (!hasThread) IOStartTime = 0;  // cancels a blocking call in progress (IOTimeoutCheck)
  // The thread may have let go of Thread already while it still delivers its end notice:
  // DoneEvent, reset from Start until the worker's very end, is what tells.
  if (wait) WaitServing(DoneEvent);
}

void TCustomFFmpeg::Stop(bool wait) {
  bool running;
  bool deliver = false;
  {
    // Decided under the lock that Start claims the run with, so that a Start racing with
    // this either is stopped or finds the end notice already claimed.
    std::lock_guard lock(StateLock_);
    running = Running;
    if (!running && !Terminated && !TerminateClaimed_) {
      TerminateClaimed_ = true;
      deliver = true;
      TerminateEvent.Reset();  // before the thread exists, so the wait below cannot miss it
    }
  }
  if (running) {
    StopRunning(wait);
    return;
  }
  if (deliver) TDoTerminateThread::Start(this);
  if (wait) {
    WaitServing(DoneEvent);  // a run that is just handing in its end notice
    WaitServing(TerminateEvent);
  }
}

void TCustomFFmpeg::Pause() {
  {
    std::lock_guard lock(StateLock_);
    if (!Thread) return;
  }
  std::lock_guard lock(PauseLock_);
  if (!StopRequested) PauseRequested_ = true;
}

void TCustomFFmpeg::Resume() {
  {
    std::lock_guard lock(PauseLock_);
    PauseRequested_ = false;
    PauseCond_.notify_all();
  }
  std::lock_guard lock(StateLock_);
  TConvertThread* thread = Thread;
  if (thread && !thread->Started()) thread->Resume();
}

bool TCustomFFmpeg::Paused() const {
  std::lock_guard lock(PauseLock_);
  return PauseRequested_;
}

void TCustomFFmpeg::PausePoint() {
  std::unique_lock lock(PauseLock_);
  if (!PauseRequested_ || StopRequested) return;
  const std::int64_t from = MonotonicMicros();
  PauseCond_.wait(lock, [this] { return !PauseRequested_ || StopRequested; });
  PausedMicros_ += MonotonicMicros() - from;
}

void TCustomFFmpeg::SetPreviewFlags(std::uint8_t flags) {
  PreviewFlags = flags;
  PreviewFlagsChanged = true;
}

void TCustomFFmpeg::SetPreviewFlag(std::uint8_t bit, bool enable) {
  if (enable)
    PreviewFlags.fetch_or(bit);
  else
    PreviewFlags.fetch_and(std::uint8_t(~bit));
  PreviewFlagsChanged = true;
}

// ---- Interrupt checks ---------------------------------------------------------------------

bool TCustomFFmpeg::IOTimeoutCheck(void* self, void* arg) {
  auto* engine = static_cast<TCustomFFmpeg*>(self);
  if (!engine || arg != self || engine->IOTimeout <= 0) return false;
  const std::int64_t start = engine->IOStartTime;
  const std::int64_t now = MonotonicMicros();
  if (!(now - start > std::int64_t(engine->IOTimeout) * 1000)) return false;
  const int note = start == 0 ? 1 : 2;
  if (IsMainThread()) {
    engine->Log(llInfo, note == 1 ? "connecting/reading/writing canceled"
                                  : "connecting/reading/writing timeout");
  } else {
    // The registry's lock is held here, and a log line may wait for the main thread, which
    // may be waiting for that lock: the line is written when the guard ends.
    int expected = 0;
    engine->IOTimeoutNote_.compare_exchange_strong(expected, note);
  }
  return true;
}

bool TCustomFFmpeg::StopCheck(void* self, void* arg) {
  auto* engine = static_cast<TCustomFFmpeg*>(self);
  return engine && arg == self && engine->StopRequested;
}

void TCustomFFmpeg::FlushIOTimeoutNote() {
  switch (IOTimeoutNote_.exchange(0)) {
    case 1:
      Log(llInfo, "connecting/reading/writing canceled");
      break;
    case 2:
      Log(llInfo, "connecting/reading/writing timeout");
      break;
    default:
      break;
  }
}

TGuardedIO::TGuardedIO(TCustomFFmpeg* engine) : Engine_(engine), ThreadId_(CurrentThreadId()) {
  Engine_->FlushIOTimeoutNote();
  Engine_->IOStartTime = kNoIO;
  InterruptCB()->AddCheck(ThreadId_, Engine_, {&TCustomFFmpeg::IOTimeoutCheck, Engine_});
  Arm();
}

TGuardedIO::~TGuardedIO() {
  End();
}

void TGuardedIO::Arm() {
  Engine_->IOStartTime = MonotonicMicros();
  // StopRunning writes StopRequested before it cancels through IOStartTime: either this
  // sees the request, or the cancel lands after the start time was stored.
  if (Engine_->StopRequested) Engine_->IOStartTime = 0;
}

void TGuardedIO::Restart() {
  if (!Active_) return;
  Engine_->FlushIOTimeoutNote();
  Arm();
}

void TGuardedIO::End() {
  if (!Active_) return;
  Active_ = false;
  Engine_->IOStartTime = kNoIO;
  InterruptCB()->RemoveCheck(ThreadId_, Engine_, {&TCustomFFmpeg::IOTimeoutCheck, Engine_});
  Engine_->FlushIOTimeoutNote();
}

// ---- Log ----------------------------------------------------------------------------------

void TCustomFFmpeg::Log(TLogLevel level, const std::string& text) {
  const TThreadLogLevel jobLevel(JobLogLevel);
  DefaultLogger()->Log(this, level, text);
}

void TCustomFFmpeg::LogFmt(TLogLevel level, const char* fmt, ...) {
  const TThreadLogLevel jobLevel(JobLogLevel);
  va_list args;
  va_start(args, fmt);
  DefaultLogger()->LogFmtV(this, level, fmt, args);
  va_end(args);
}

// ---- TFFmpeg ------------------------------------------------------------------------------

TFFmpeg::TFFmpeg(int maxFiles)
    : TCustomFFmpeg(maxFiles),
      Decoders_(maxFiles),
      InputOptions_(maxFiles),
      OutputOptions_(maxFiles) {}

TFFDecoder& TFFmpeg::GetDecoder(int index) {
  auto& decoder = Decoders_.at(index);
  if (!decoder) {
    decoder = std::make_unique<TFFDecoder>();
    decoder->SetOwnerEncoder(Encoder);
  }
  return *decoder;
}

void TFFmpeg::SetInputOptions(int index, const TInputOptions& options) {
  InputOptions_.at(index) = std::make_unique<TInputOptions>(options);
}

void TFFmpeg::SetOutputOptions(int index, const TOutputOptions& options) {
  OutputOptions_.at(index) = std::make_unique<TOutputOptions>(options);
}

void TFFmpeg::ClearOutputOptions(int index) {
  if (auto& stored = OutputOptions_.at(index)) InitOutputOptions(*stored);
}

const TInputOptions* TFFmpeg::InputOptions(int index) const {
  return InputOptions_.at(index).get();
}

const TOutputOptions* TFFmpeg::OutputOptions(int index) const {
  return OutputOptions_.at(index).get();
}

void TFFmpeg::InputsClosing() {
  for (auto& decoder : Decoders_)
    if (decoder) decoder->ReleaseContext();
}

TFFmpeg::~TFFmpeg() {
  // The owner is going away: a run that is stopped by the base destructor must not call
  // back into it. The slots themselves are only cleared once no run can read them.
  EventsDetached_ = true;
  if (!FreedFromOwnNotice()) {
    if (Running) StopRunning(true);
    WaitServing(DoneEvent);
    WaitServing(TerminateEvent);
  }
  OnTerminate = nullptr;
  OnProgress = nullptr;
  OnPreviewBitmap = nullptr;
  OnVideoInputHook = nullptr;
  OnVideoOutputHook = nullptr;
  OnAudioHook = nullptr;
  OnBeforeFindStreamInfo = nullptr;
}

}  // namespace tovamo
