// The engine object: construction and defaults, the destructors, the module locks, the
// preview switches and the log. The run, its clean-up, stop and pause and the interrupt
// checks are in EngineRun.cpp, EngineCleanup.cpp, EngineStop.cpp and EngineInterrupts.cpp.
#include <algorithm>
#include <cstdarg>
#include <exception>
#include <memory>

#include "Components/FFDecode.h"
#include "Engine/FFmpeg.h"
#include "Engine/StreamRecords.h"
#include "Services/FFBindings.h"
#include "Services/FFLoad.h"
#include "Services/FFUtils.h"
#include "Services/FormatConverter.h"

namespace tovamo {
namespace {

constexpr const char* kModule = "FFmpeg";

bool LibrariesLoaded() {
  return FFLoader().LibsLoaded(kEncoderLibraries);
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
  OutputCreated.assign(MaxFiles, false);
  OutputMediaPackets.assign(MaxFiles, 0);
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
  EndRunBeforeFreeing();
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
  EndRunBeforeFreeing();
  OnTerminate = nullptr;
  OnProgress = nullptr;
  OnPreviewBitmap = nullptr;
  OnVideoInputHook = nullptr;
  OnVideoOutputHook = nullptr;
  OnAudioHook = nullptr;
  OnBeforeFindStreamInfo = nullptr;
}

}  // namespace tovamo
