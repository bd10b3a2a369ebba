// The transcoding engine: one TCustomFFmpeg object is one conversion job. Every setting a
// command-line transcoder keeps in globals is a member here, so any number of jobs live
// side by side in one process. The class spans several source files split by concern:
//   FFmpegEngine.cpp      construction, defaults, destructors, preview switches, log
//   EngineRun.cpp         Start, Execute, DoTerminate and the real-time waits
//   EngineCleanup.cpp     CloseFiles: the job's outputs, inputs and settings released
//   EngineStop.cpp        stop and pause
//   EngineInterrupts.cpp  the I/O time-out and stop checks, TGuardedIO
//   FFmpegThreads.cpp     TConvertThread, TDoTerminateThread, TFFmpegList, TEvent
//   FFmpegOptions.cpp     ParseOption and the option table, ParseOptions
//   GenericOptions.cpp    the library's option system: SetGenericOption, ApplyGenericOptions
//   Presets.cpp           ApplyPreset and the built-in presets
//   ParameterParsers.cpp  option handlers that parse a structured value
//   Targets.cpp           the vcd, svcd, dvd, dv and dv50 targets
//   DirectSetters.cpp     setters the encoder component calls instead of option texts
//   InputFiles.cpp        OpenInputFile, FindCodec, CheckInputStreams
//   OutputFiles.cpp       AddOutputFile, the new-stream operations, JoinSetup
//   TranscodeSetup.cpp    the run's tables, stream choice, codec opening and clean-up
//   OutputHeaders.cpp     metadata and chapter maps, output headers, the stream mapping
//   PacketLoop.cpp        the packet loop, decoding, stream copy, writing, end of job
//   Encoding.cpp          the video, audio and subtitle encoding paths
//   Progress.cpp          the progress report and the final statistics
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Engine/EngineSettings.h"
#include "Engine/HookInfo.h"
#include "Engine/TaskOptions.h"
#include "Services/Exceptions.h"
#include "Services/FFHeaders.h"
#include "Services/FFLog.h"

namespace tovamo {

class TCustomFFmpeg;
class TFFmpeg;
class TFormatConverter;
struct TProgressInfo;
struct THookInfo;
struct TFrameHookChain;
struct TOutputStream;  // an output stream record (StreamRecords.h)
struct TInputStream;   // an input stream record (StreamRecords.h)
struct TTranscodeRun;  // the tables of one run (TranscodeRun.h)
class TFFDecoder;
struct TInputOptions;
struct TOutputOptions;
class TFFEncoder;

// A manual-reset event: Set wakes every waiter and stays set until Reset.
class TEvent {
 public:
  explicit TEvent(bool initiallySet) : Set_(initiallySet) {}
  void Set();
  void Reset();
  bool IsSet() const;
  void Wait();
  bool WaitFor(int milliseconds);  // true when set

 private:
  mutable std::mutex Lock_;
  std::condition_variable Cond_;
  bool Set_;
};

// The end-of-job record the owner receives (TaskIndex -1: all tasks of a batch ended).
struct TTerminateInfo {
  int TaskIndex = -1;
  bool Finished = false;
  bool Failed = false;       // the job ended on an error; ErrorMessage says which
  std::string ErrorMessage;  // empty when the job did not fail
  // The media libraries' last error line of the job, when it says more than ErrorMessage.
  std::string LibraryError;
  // An input ended before its stated length, or its rest could not be read: a finished
  // job's output is shorter than the input said.
  bool InputEndedEarly = false;
  // What a finished job's output lacks of what was mapped into it ("the video"), because
  // nothing of it could be converted (its input stream did not decode); empty when whole.
  std::string LeftOut;
};

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// Runs one engine's Execute. Only the engine makes and starts one (the owner calls the
// engine's Resume); it deletes itself when the run ends, so nobody else holds it.
class TConvertThread {
 private:
  friend class TCustomFFmpeg;
  TConvertThread(TCustomFFmpeg* engine, TThreadPriority priority);
  void Resume();  // starts the thread the first time; later calls do nothing
  bool Started() const { return Started_; }
  void Run();
  TCustomFFmpeg* Engine_;
  TThreadPriority Priority_;
  std::atomic<bool> Started_{false};
};

// Delivers the end notice of a job that never ran, from a thread of its own. Starts at
// once and deletes itself when done.
class TDoTerminateThread {
 public:
  static void Start(TCustomFFmpeg* engine);
};

using TNotifyEvent = std::function<void(TCustomFFmpeg* sender)>;
using TProgressEvent = std::function<void(TCustomFFmpeg* sender, TProgressInfo* info)>;
using THookEvent = std::function<void(TCustomFFmpeg* sender, THookInfo* info)>;
using TAudioHookEvent =
    std::function<void(TCustomFFmpeg* sender, std::int64_t pts, void* samples, int size,
                       int sampleRate, int channels, int sampleFormat)>;
using TPreviewBitmapEvent = std::function<void(TCustomFFmpeg* sender, void* bitmap, int frameNumber,
                                               std::int64_t pts, bool& update)>;
using TBeforeFindStreamInfoEvent =
    std::function<void(TCustomFFmpeg* sender, AVFormatContext* context)>;

// The library's option system state of one engine: the accepted generic options and the
// default contexts they were set on.
struct TOptionContexts {
  std::vector<std::string> OptionNames;
  std::vector<std::string> OptionValues;  // only for options that a private class knows
  // Per option: known only to a codec's or format's own class, and whether a context of
  // this job took it (so that an option no part of the job used can be reported).
  std::vector<bool> Private;
  std::vector<bool> PrivateUsed;
  AVCodecContext* CodecDefaults[kMediaTypeCount] = {};
  AVFormatContext* FormatDefaults = nullptr;
  SwsContext* ScalerDefaults = nullptr;
  bool Allocated() const { return FormatDefaults != nullptr; }
};

class TCustomFFmpeg : public TEngineSettings {
 public:
  static constexpr int kMaxStreams = 20;  // highest stream index + 1 of "itsscale"

  explicit TCustomFFmpeg(int maxFiles);
  virtual ~TCustomFFmpeg();
  TCustomFFmpeg(const TCustomFFmpeg&) = delete;
  TCustomFFmpeg& operator=(const TCustomFFmpeg&) = delete;

  // ---- Run lifecycle ----------------------------------------------------------------
  // True when the job waits on a worker thread of its own, not yet running: Resume starts
  // it. False when the job ran on the calling thread, was refused, or failed its checks.
  bool Start(bool useThread, TThreadPriority priority = tpNormal);
  // A worker thread was made for the run and has not ended; and whether it was started.
  bool HasWorker() const;
  bool WorkerStarted() const;
  void StopRunning(bool wait);
  void Stop(bool wait);
  // Cooperative pause: the worker waits at its loop's safe points until Resume or Stop.
  void Pause();
  void Resume();
  bool Paused() const;
  // Preview switches may change on any thread while the worker previews: they are atomic,
  // and no lock is held while the worker hands a picture to the main thread.
  void SetPreviewFlags(std::uint8_t flags);
  void SetPreviewFlag(std::uint8_t bit, bool enable);

  // Interrupt checks registered per thread with the interrupt registry; arg is the engine.
  static bool IOTimeoutCheck(void* self, void* arg);
  // For a process that is stopping: every open or probe waiting now, and every later one,
  // ends as cancelled, on any thread. Running jobs' reads and writes are left alone (their
  // trailers must still be written). Async-signal-safe.
  static void CancelAllOpens() noexcept;
  static bool StopCheck(void* self, void* arg);

  // Execute's body: runs on the worker (or the caller with useThread false).
  void Execute();
  void DoTerminate();
  void CloseFiles();

  // ---- Options ----------------------------------------------------------------------
  // One option by name (lower case, no dash). Raises FFmpegException, or EConvertError for
  // a value that is no number.
  void ParseOption(const std::string& name, const std::string& value);
  bool SetGenericOption(const std::string& name, const std::string& value);
  bool SetGenericOptionInt(const std::string& name, std::int64_t value);
  // Copies the accepted generic options into a fresh codec or format context.
  void ApplyGenericOptions(void* context, void* defaultsContext, int flags, const AVCodec* codec);
  void AllocOptionContexts(int scalerFlags);
  // The recorded options that only a codec's or format's own class knows, for an open
  // call's dictionary; MarkPrivateOptionsUsed notes those the call took (absent from
  // what it left).
  void AddPrivateOptions(AVDictionary** options) const;
  void MarkPrivateOptionsUsed(const AVDictionary* leftover);
  // Logs each such option that no codec or format of the job took.
  void ReportUnusedOptions();
  void FreeOptionContexts();
  // kind "apre", "vpre", "spre" or "fpre" (only the first letter counts).
  void ApplyPreset(const std::string& kind, const std::string& presetName);

  // ---- Direct setters for the encoder component ---------------------------------------
  void SetMetadata(const std::string& key, const std::string& value);
  void SetTarget(const std::string& target, const std::string& norm,
                 const std::string& defaultNorm);
  void SetRecordingTime(std::int64_t microseconds);
  void SetInputStartTime(std::int64_t microseconds);
  void SetInputProgramId(int id);
  void SetAudioVolume(int volume);
  void SetAudioSyncMethod(int method);
  void SetVideoSyncMethod(int method);
  void SetMuxMaxDelay(double seconds);
  void SetMuxPreload(double seconds);
  void SetConverterPixelFormat(int bits);

  // Adds a stream of the option's kind to the last output ("newvideo", ...).
  void NewStream(const std::string& kind);

  // ---- Inputs and outputs -----------------------------------------------------------
  // Opens the next input. False: LastError says why and the tables are as before.
  bool OpenInputFile(const std::string& fileName);
  // Looks a codec up by name; on failure LastError says why. An empty name gives id 0.
  bool FindCodec(const std::string& name, AVMediaType type, bool encoder, int strictness,
                 AVCodecID& id);
  struct TInputStreamKinds {
    bool HasVideo = false;
    bool HasAudio = false;
    bool HasSubtitle = false;
  };
  TInputStreamKinds CheckInputStreams(bool firstOnly);
  // Adds an output; returns the new OutputFileCount, or -1 with LastError.
  int AddOutputFile(const std::string& fileName, bool join);
  void NewVideoStream(AVFormatContext* output, int outputIndex);
  void NewAudioStream(AVFormatContext* output, int outputIndex);
  void NewSubtitleStream(AVFormatContext* output, int outputIndex);
  // Writes every input, one after another, into the single output (after AddOutputFile
  // with join true and more than one input).
  void JoinSetup();

  // ---- Option handlers (name is the option as given, value its text) ----------------
  void OptLogLevel(const std::string& name, const std::string& value);
  void OptTimeLimit(const std::string& name, const std::string& value);
  void OptMap(const std::string& name, const std::string& value);
  void OptMapMetaData(const std::string& name, const std::string& value);
  void OptMapChapters(const std::string& name, const std::string& value);
  void OptTime(const std::string& name, const std::string& value);  // t, ss, itsoffset, timestamp
  void OptInputTsScale(const std::string& name, const std::string& value);
  void OptMetadata(const std::string& name, const std::string& value);
  void OptTarget(const std::string& name, const std::string& value);
  void OptThreads(const std::string& name, const std::string& value);
  void OptBitrate(const std::string& name, const std::string& value);  // b, vb, ab
  void OptFrameRate(const std::string& name, const std::string& value);
  void OptFrameRateMax(const std::string& name, const std::string& value);
  void OptFrameSize(const std::string& name, const std::string& value);
  void OptFrameAspectRatio(const std::string& name, const std::string& value);
  void OptPictureFit(const std::string& name, const std::string& value);
  void OptFramePixFmt(const std::string& name, const std::string& value);
  void OptAutoRotate(const std::string& name, const std::string& value);
  void OptSampleFmt(const std::string& name, const std::string& value);
  void OptQscale(const std::string& name, const std::string& value);
  void OptRcOverride(const std::string& name, const std::string& value);
  void OptCodec(const std::string& name, const std::string& value);  // vcodec, acodec, scodec
  void OptPass(const std::string& name, const std::string& value);
  void OptVstats(const std::string& name, const std::string& value);
  void OptVstatsFile(const std::string& name, const std::string& value);
  void OptVideoHook(const std::string& name, const std::string& value);
  void OptVideoFilters(const std::string& name, const std::string& value);  // vfilters, vf
  void OptMatrix(const std::string& name, const std::string& value);        // intra_, inter_matrix
  void OptCodecTag(const std::string& name, const std::string& value);      // vtag, atag, stag
  void OptNewStream(const std::string& name, const std::string& value);
  void OptStreamId(const std::string& name, const std::string& value);
  void OptAudioRate(const std::string& name, const std::string& value);
  void OptAudioChannels(const std::string& name, const std::string& value);
  void OptVideoStandard(const std::string& name, const std::string& value);
  void OptBitstreamFilter(const std::string& name, const std::string& value);  // vbsf, ...
  void OptPreset(const std::string& name, const std::string& value);           // apre, vpre, ...

  // Logs through the log bridge with the engine as sender.
  void Log(TLogLevel level, const std::string& text);
  void LogFmt(TLogLevel level, const char* fmt, ...) __attribute__((format(printf, 3, 4)));

  // ---- 1. Limits --------------------------------------------------------------------
  const int MaxFiles;

  // ---- 2. Input tables ----------------------------------------------------------------
  std::vector<AVFormatContext*> InputFiles;        // MaxFiles slots
  std::vector<std::int64_t> InputTsOffsets;        // MaxFiles slots
  std::vector<std::vector<double>> InputTsScales;  // MaxFiles slots, by stream
  std::vector<std::string> InputFileNames;         // MaxFiles slots, the names as given
  // MaxFiles slots: the slot's I/O context is the program's own (OpenUnicodeIO), which the
  // library leaves open, so the engine closes it.
  std::vector<bool> InputCustomIO;
  // Every stream of every open input, in file order and within a file in stream order.
  std::vector<std::unique_ptr<TInputStream>> InputStreams;
  int InputFileCount = 0;

  // ---- 3. Output tables ---------------------------------------------------------------
  std::vector<AVFormatContext*> OutputFiles;  // MaxFiles slots
  std::vector<std::string> OutputFileNames;   // MaxFiles slots, the names as given
  std::vector<bool> OutputCustomIO;           // MaxFiles slots, as InputCustomIO
  // MaxFiles slots: the run created the slot's file (OpenOutputFiles), and how many media
  // packets it handed to the slot's muxer. A created file that got none is removed.
  std::vector<bool> OutputCreated;
  std::vector<std::int64_t> OutputMediaPackets;
  int OutputFileCount = 0;
  // MaxFiles slots: the stream records of each output, in stream order.
  std::vector<std::vector<std::unique_ptr<TOutputStream>>> OutputStreamTables;

  // ---- 6. Generic option contexts -----------------------------------------------------
  TOptionContexts OptionContexts;

  // ---- 7. Filter members --------------------------------------------------------------
  bool VideoFiltersGiven = false;  // a chain was given when the current output was added
  AVFilterGraph* FilterGraph = nullptr;

  // ---- 8. Work buffers ----------------------------------------------------------------
  std::FILE* VstatsFile = nullptr;
  bool UsingFrameHooks = false;
  // The "vhook" hooks, in the order added (ProcessFrameHooks takes FrameHooks.get());
  // empty until the first one. Dropping it releases them.
  std::shared_ptr<TFrameHookChain> FrameHooks;

  // ---- 9. Hook and preview members ---------------------------------------------------
  std::unique_ptr<TFormatConverter> HookConverter;
  std::unique_ptr<TFormatConverter> PreviewConverter;
  // Copies that the hooks draw on, so that they never touch the decoder's or the filter's
  // buffers; they only grow.
  AVFrame* InputHookFrame = nullptr;
  AVFrame* OutputHookFrame = nullptr;
  std::unique_ptr<TPreviewSink> Previewer;  // made on first use of preview bit 0
  std::int64_t LastPreviewTime = 0;
  std::atomic<std::uint8_t> PreviewFlags{0};  // bit 0 internal preview, bit 1 bitmap event
  std::atomic<bool> PreviewFlagsChanged{false};

  // ---- 10. Open-codec lists (guarded by CodecListLock()) ------------------------------
  // They point into the stream records; whoever cleans up closes exactly these codecs.
  std::vector<TOutputStream*> OpenEncoders;
  std::vector<TInputStream*> OpenDecoders;
  std::int64_t ExtraSize = 0;  // bytes of the encoders' global headers
  // Counted by the stages of a job, read by its progress reports on another thread.
  std::atomic<std::int64_t> VideoSize{0};   // bytes of video written
  std::atomic<std::int64_t> AudioSize{0};   // bytes of audio written
  std::atomic<int> FramesDuplicated{0};     // video frames repeated by the sync method
  std::atomic<int> FramesDropped{0};        // video frames dropped by the sync method
  // The duplicate and drop counts the log last showed, packed: the counts change on the
  // encoding stage's thread while the report runs on another, so a change is told by value.
  std::atomic<std::int64_t> LoggedDupDrop{-1};
  // Quantisers of the reported video stream's pictures, one count per rounded quantiser
  // ("qphist"); kept for the engine's life.
  std::array<int, 52> QpHistogramCounts{};

  // ---- 11. Run state ------------------------------------------------------------------
  TEvent DoneEvent{true};
  TEvent TerminateEvent{true};
  bool JoinMode = false;
  std::atomic<bool> Running{false};
  std::atomic<bool> StopRequested{false};
  // Set while the packet loop reads or opens an input: only then may a stop cut its I/O
  // short. A write cut short would fail the output the stop is finishing.
  std::atomic<bool> LoopInputIO{false};
  std::atomic<bool> Finished{false};
  std::atomic<bool> Terminated{false};
  std::atomic<bool> RunStarted{false};          // Start let the run begin (it may have ended since)
  std::atomic<std::int64_t> RunStartMicros{0};  // when it did (MonotonicMicros)
  int IOTimeout = 10000;                        // milliseconds; 0 or less: no time-out
  std::atomic<std::int64_t> IOStartTime{INT64_MAX};
  bool ErrorFlag = false;
  std::string ErrorMessage;
  std::string LibraryError;      // the libraries' last error line before the failure, if any
  bool InputEndedEarly = false;  // an input ended before its stated length or could not be read
  std::string LeftOut;           // as TTerminateInfo::LeftOut, for the last run
  // Set when an output's set-up was refused after the job was registered: Start then ends
  // the job at once with this message instead of running it without what was asked.
  std::string SetupError;
  std::int64_t RequestedDuration = -1;
  std::string LastError;
  bool StrictOptions = true;
  std::int64_t ProgressInterval = 500000;
  std::int64_t PreviewInterval = 100000;

  // ---- 12. Event slots ----------------------------------------------------------------
  TNotifyEvent OnTerminate;
  TProgressEvent OnProgress;
  TPreviewBitmapEvent OnPreviewBitmap;
  THookEvent OnVideoInputHook;
  THookEvent OnVideoOutputHook;
  TAudioHookEvent OnAudioHook;
  TBeforeFindStreamInfoEvent OnBeforeFindStreamInfo;

 protected:
  void InitDefaults();
  // The worker's safe point: returns at once unless paused; while paused waits until
  // Resume or a stop request.
  void PausePoint();
  // A stage's safe point: waits while paused as PausePoint does, without counting the time
  // (the reader's PausePoint counts it once for the job).
  void HoldWhilePaused();
  // The transcode of the output files from the inputs (run step 2): set-up, packet loop,
  // end of job and clean-up.
  void Transcode();
  // The progress report; `last` for the final one, fileIndex the input just read or -1.
  virtual void Report(TTranscodeRun& run, bool last, int fileIndex);
  // False once the owner is being destroyed: the event slots must not be called any more.
  bool EventsAttached() const { return !EventsDetached_; }
  // Called by CloseFiles before the inputs' contexts are closed.
  virtual void InputsClosing() {}

 private:
  friend class TConvertThread;
  friend class TDoTerminateThread;
  friend class TGuardedIO;
  friend class TFFmpeg;
  friend class TJobPipeline;

  // Waits for an event; on the main thread in 20 ms slices that serve the main thread's
  // queue, so that a run handing a call to the main thread cannot deadlock the wait.
  static void WaitServing(TEvent& event);
  // The destructors' first step: a run still going is stopped and its end notice waited
  // for, unless the calling thread is delivering that notice.
  void EndRunBeforeFreeing();
  // Sleeps up to `micros` on the worker, returning early on a stop or pause request.
  void WaitSlice(std::int64_t micros);
  // Holds the worker back until the packet time `micros` (from the start of the run,
  // paused time excluded) is due.
  void WaitForRealTime(std::int64_t runStart, std::int64_t micros);
  // Logs a time-out or cancel noted by IOTimeoutCheck on a thread other than the main
  // thread (checks run under the interrupt registry's lock, where logging could block).
  void FlushIOTimeoutNote();
  // Records an error of a run step (logged at llQuiet; the last one wins).
  void RecordError(const std::string& message);
  void ForgetThread(TConvertThread* thread);

  // ---- Inputs and outputs (InputFiles.cpp, OutputFiles.cpp) ----
  struct TForcedDecoders {
    const AVCodec* Video = nullptr;
    const AVCodec* Audio = nullptr;
    const AVCodec* Subtitle = nullptr;
  };
  void MakeInputStreamRecords(int fileIndex, const TForcedDecoders& forced);
  void ResetInputOpenSettings();
  void StartNewStream(AVFormatContext* output, int outputIndex, AVMediaType type,
                      TOutputStream*& record);
  void FinishStreamLanguage(AVStream* stream, std::string& language);
  void DiscardOutput(int slot, AVFormatContext*& context, bool registered);
  // Creates the file of every output that writes one; run when the job starts.
  void OpenOutputFiles();
  // The one rule for an output that holds nothing: the file the run created for the slot
  // (`file`, its local path) is removed when no media packet reached it. True if removed.
  bool RemoveOutputWithoutMedia(int slot, const std::string& file);
  // Why the run wrote no media to an output, or "" when every output received some.
  std::string NoMediaReason(const TTranscodeRun& run) const;
  // The kinds of stream that got no packet while others did ("the video"), or "".
  std::string LeftOutMedia(const TTranscodeRun& run) const;
  // Closes an output's file; a negative result is the close's error.
  int CloseOutputIO(int slot, AVFormatContext* context);

  // ---- The run (TranscodeSetup.cpp, OutputHeaders.cpp, PacketLoop.cpp) ----
  void SetupTranscode(TTranscodeRun& run);
  void CleanupTranscode(TTranscodeRun& run);
  void ChooseSources(TTranscodeRun& run);
  void PrepareStreamCopy(TTranscodeRun& run, TOutputStream& ost, TInputStream& ist);
  void PrepareEncoding(TTranscodeRun& run, TOutputStream& ost, TInputStream& ist);
  void InitBitstreamFilters(TOutputStream& ost);
  void OpenAllEncoders(TTranscodeRun& run);
  void OpenAllDecoders(TTranscodeRun& run);
  void CloseCodecs();
  void ApplyMetadataMaps(TTranscodeRun& run);
  void CopyChapterMaps(TTranscodeRun& run);
  void CopyChapters(int inputIndex, int outputIndex);
  void WriteHeaders(TTranscodeRun& run);
  void PrintStreamMapping(TTranscodeRun& run);
  // A set-up error the log explains: the stream mapping, the message at llError, then the
  // exception with it.
  [[noreturn]] void FailWithMapping(TTranscodeRun& run, const std::string& message);
  void RunPacketLoop(TTranscodeRun& run);
  // The size an output may reach, and the check that ends a job whose output outgrows it
  // (OutputBounds.cpp).
  std::int64_t OutputSizeBound(const TTranscodeRun& run, int file) const;
  void CheckOutputSizes(const TTranscodeRun& run);
  int ChooseInputFile(TTranscodeRun& run);
  void SwitchJoinedInput(TTranscodeRun& run, int file);
  int ProcessPacket(TTranscodeRun& run, TInputStream& ist, const AVPacket* packet);
  // ProcessPacket for a demuxed packet, with its decoding error raised (exit_on_error) or
  // logged; false when the packet could not be decoded.
  bool DecodeAndDeliver(TTranscodeRun& run, TInputStream& ist, const AVPacket* packet);
  // Drains the encoders that the stream feeds, at the end of its input.
  void FlushEncodersOf(TTranscodeRun& run, TInputStream& ist);
  void CopyPacket(TTranscodeRun& run, TOutputStream& ost, TInputStream& ist,
                  const AVPacket& packet);
  void WritePacket(TTranscodeRun& run, TOutputStream& ost, AVPacket* packet);
  void FilterPacket(TTranscodeRun& run, TOutputStream& ost, std::size_t filter, AVPacket* packet);
  // Hands an encoded packet to the muxer: at once, or through the stages' muxing thread.
  void MuxPacket(TTranscodeRun& run, TOutputStream& ost, AVPacket* packet);
  void WriteMuxPacket(TOutputStream& ost, AVPacket* packet);
  void EndOfJob(TTranscodeRun& run);
  // The cover picture that stands for the video (StillPicture.cpp): chosen at the set-up,
  // fed up to `upTo` (microseconds) as the reading goes on, and up to the end of the
  // other streams at the end.
  void SetupStillPicture(TTranscodeRun& run);
  void FeedStillPicture(TTranscodeRun& run, std::int64_t upTo);
  void FinishStillPicture(TTranscodeRun& run);
  void DispatchDecoded(TTranscodeRun& run, TInputStream& ist, AVFrame* frame, AVSubtitle* subtitle,
                       std::int64_t packetPts);
  // The encoding paths (Encoding.cpp): one decoded frame to one encoded output stream.
  // `pts` is the picture's input time in microseconds.
  void EncodeVideoFrame(TTranscodeRun& run, TOutputStream& ost, TInputStream& ist, AVFrame* frame,
                        std::int64_t pts);
  // The video path's steps (VideoOutput.cpp).
  void PreprocessPicture(TInputStream& ist, AVFrame*& picture);
  bool CallVideoHook(const THookEvent& handler, TFormatConverter& converter, AVFrame* picture,
                     std::int64_t pts, int frameNumber, bool& detach);
  void ConfigureFilters(TOutputStream& ost, TInputStream& ist);
  // The filters that fit the input's pictures into the output's frame keeping their
  // proportions; empty when a plain scale does.
  std::string FitChain(const TOutputStream& ost, const TInputStream& ist) const;
  // The clockwise turn the stream's pictures get on their way to the outputs.
  int PictureTurn(const TInputStream& ist) const;
  unsigned CurrentScalerFlags() const;  // "sws_flags" as the options now give them
  // The display aspect an output's pictures get: the one asked for, or for a disc target
  // the one its standard allows nearest to it (Targets.cpp).
  double OutputDisplayAspect() const;
  void VideoOut(TTranscodeRun& run, TOutputStream& ost, TInputStream& ist, AVFrame* picture,
                std::int64_t pts);
  void PreviewFrame(AVFrame* picture, std::int64_t pts, int frameNumber, bool converted);
  void WriteVideoStatistics(TOutputStream& ost, int frameSize, char pictureType, int quality);
  void EncodeAudioFrame(TTranscodeRun& run, TOutputStream& ost, TInputStream& ist, AVFrame* frame);
  void EncodeSubtitle(TTranscodeRun& run, TOutputStream& ost, TInputStream& ist,
                      AVSubtitle* subtitle, std::int64_t packetPts);
  void FlushEncoder(TTranscodeRun& run, TOutputStream& ost);
  // Sends one frame (or none, to drain) to the stream's encoder and writes every packet it
  // gives, counting their bytes; `failure` is the message of an encoder error.
  void EncodeFrame(TTranscodeRun& run, TOutputStream& ost, AVFrame* frame, const char* failure,
                   std::atomic<std::int64_t>& byteCounter);
  // Encodes what the stream's resampler holds in whole frames; `last` sends the rest too.
  // `flush` empties the resampler's filter too (before it is replaced).
  void DrainResampler(TTranscodeRun& run, TOutputStream& ost, bool last, bool flush = false);

  std::atomic<TConvertThread*> Thread{nullptr};
  // The thread that delivers an end notice marks it here, so that an owner that frees the
  // engine from its own notice neither waits for itself nor has the thread touch the
  // engine afterwards.
  struct TNoticeScope {
    TCustomFFmpeg* Engine = nullptr;
    bool EngineGone = false;
    TNoticeScope* Previous = nullptr;
    explicit TNoticeScope(TCustomFFmpeg* engine);
    ~TNoticeScope();
  };
  static thread_local TNoticeScope* CurrentNotice_;
  // True (and noted) when the calling thread is delivering this engine's end notice.
  bool FreedFromOwnNotice();
  mutable std::mutex PauseLock_;
  std::condition_variable PauseCond_;
  bool PauseRequested_ = false;
  std::atomic<std::int64_t> PausedMicros_{0};  // time the worker spent waiting in PausePoint

  // Guards Thread against the worker deleting its thread object, and the claims of Start
  // and Stop. Never held while an event slot runs or while waiting.
  mutable std::recursive_mutex StateLock_;
  std::atomic<bool> TerminateClaimed_{false};  // a TDoTerminateThread was started
  std::atomic<bool> EventsDetached_{false};
  std::atomic<int> IOTimeoutNote_{0};  // 0 none, 1 canceled, 2 timeout (not yet logged)
};

// The process-wide locks of the engine module.
std::mutex& CodecListLock();  // guards every engine's open-codec lists

// The process-wide text of the last rejected generic option.
std::string LastOptionError();
void SetLastOptionError(const std::string& text);

// The message of the generic option that was last rejected on the calling thread. An
// engine's options are applied from one thread, so this is the error of that engine's own
// failed call even while other engines reject options on other threads (the process-wide
// LastOptionError() may already hold theirs).
std::string ThreadLastOptionError();
void SetThreadLastOptionError(const std::string& text);

// The engine the encoder component uses: per-slot decoder objects and option records,
// the option-text parser and the owner back-reference.
class TFFmpeg : public TCustomFFmpeg {
 public:
  explicit TFFmpeg(int maxFiles);
  ~TFFmpeg() override;

  // Turns an option text into ParseOption calls; codec lines only with withCodecs.
  void ParseOptions(const std::string& text, bool withCodecs);

  // The file-information object of an input slot, made on first use with the owner set.
  TFFDecoder& GetDecoder(int index);
  // Copies of the owner's records, per slot; null when none is stored.
  void SetInputOptions(int index, const TInputOptions& options);
  void SetOutputOptions(int index, const TOutputOptions& options);
  void ClearOutputOptions(int index);  // back to the unset values, if a copy exists
  const TInputOptions* InputOptions(int index) const;
  const TOutputOptions* OutputOptions(int index) const;

  TFFEncoder* Encoder = nullptr;  // the owner, not owned

 protected:
  void InputsClosing() override;

 private:
  std::vector<std::unique_ptr<TFFDecoder>> Decoders_;
  std::vector<std::unique_ptr<TInputOptions>> InputOptions_;
  std::vector<std::unique_ptr<TOutputOptions>> OutputOptions_;
};

// The owner's ordered list of engines; owns them.
class TFFmpegList {
 public:
  ~TFFmpegList();
  int Add(TCustomFFmpeg* engine);  // takes ownership, returns the index
  void Clear();                    // frees every engine
  TCustomFFmpeg* Items(int index) const;
  int IndexOf(const TCustomFFmpeg* engine) const;
  int Count() const;
  void PauseAll();
  void ResumeAll();
  void StopAll(bool wait);
  void SetPreview(bool enable);
  void SetPreviewBitmap(bool enable);

 private:
  std::vector<std::unique_ptr<TCustomFFmpeg>> Items_;
};

}  // namespace tovamo
