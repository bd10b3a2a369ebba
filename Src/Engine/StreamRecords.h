// The run-time records of a conversion job: one per input file, one per input stream and
// one per output stream. Each record is the single owner of what belongs to its stream (the
// codec context, frames, the bitstream filter chain, the pass-1 log file); the engine's
// lists of open encoders and decoders only point into them.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "Engine/EngineSettings.h"
#include "Services/Clock.h"
#include "Services/FFHeaders.h"
#include "Services/FFUtils.h"

namespace tovamo {

class TStageLane;

// Per input file, for the length of one run.
struct TInputFileRec {
  bool EofReached = false;
  int IstIndex = 0;   // the file's first entry in the input stream table
  int NbStreams = 0;  // streams of the file when the run was set up
};

// One stream of an input file. Made when the file is opened, so that the decoder chosen by
// name and the decoder settings of the open live with the stream.
struct TInputStream {
  TInputStream() = default;
  ~TInputStream();
  TInputStream(const TInputStream&) = delete;
  TInputStream& operator=(const TInputStream&) = delete;

  int FileIndex = 0;
  int Index = 0;  // stream index within its file
  AVStream* Stream = nullptr;
  const AVCodec* Decoder = nullptr;          // chosen by name when the file was opened
  AVCodecContext* DecoderContext = nullptr;  // owned; parameters and options of the open
  bool DecoderOpen = false;
  AVFrame* Frame = nullptr;  // owned; the decoder's output

  bool Discard = true;  // no output stream takes this stream
  bool DecodingNeeded = false;
  std::int64_t Start = 0;  // wall clock at the run's start, with rate emulation
  // The decoding side's clock, microseconds: the last frame's time and the next one's.
  std::int64_t NextPts = AV_NOPTS_VALUE;
  std::int64_t Pts = 0;
  // The reading side's clock, microseconds, from the packets alone: the last packet's time
  // and where the next one is due. The reader tells jumps and discontinuities by it, so
  // that they never depend on how far the decoder has got.
  std::int64_t ReadPts = AV_NOPTS_VALUE;
  std::int64_t ReadNextPts = AV_NOPTS_VALUE;
  TStageLane* Lane = nullptr;   // the stage that decodes the stream, when the job has stages
  std::int64_t JumpOffset = 0;  // microseconds: the jumps in this stream's times stepped over
  // Microseconds, in the times the packet loop hands on: where the stream's file begins.
  // Set before the loop and only read during it; the output paths fill no gap that starts
  // before it (copied timestamps far from zero).
  std::int64_t TimelineStart = 0;
  TTimestampCorrection PtsCorrection{};
  bool IsStart = true;
  bool ShowedMultiPacketWarning = false;
  bool IsPastRecordingTime = false;
  bool Flushed = false;
  int PictureCount = 0;
};

// One stream of an output file. Made when the stream is added to the output; the run's
// set-up completes it.
struct TOutputStream {
  TOutputStream() = default;
  ~TOutputStream();
  TOutputStream(const TOutputStream&) = delete;
  TOutputStream& operator=(const TOutputStream&) = delete;

  int FileIndex = 0;
  int Index = 0;  // stream index within its file
  AVStream* Stream = nullptr;
  const AVCodec* Encoder = nullptr;  // chosen by name when the stream was made, or null
  // The encoder's settings, and its open context when encoding. Owned unless the record
  // belongs to a later group of a joined output, which shares the first group's.
  AVCodecContext* EncoderContext = nullptr;
  bool OwnsEncoderContext = true;
  bool EncoderOpen = false;
  bool StreamCopy = false;
  // Join mode: the first group's record of the same stream, whose encoder and bitstream
  // filters every group uses; null in the first group.
  TOutputStream* Shared = nullptr;

  int SourceIndex = -1;  // entry of the input stream table
  bool EncodingNeeded = false;
  // Written by the stream's stage and read by the progress report on another thread.
  std::atomic<int> FrameNumber{0};
  TInputStream* SyncIst = nullptr;
  std::atomic<std::int64_t> SyncOpts{0};
  // Microseconds of the input's time that the output stepped over instead of filling: a gap
  // starting before the input's file does (copied timestamps far from zero), a jump back.
  std::int64_t SkippedMicros = 0;
  // Where the stream stands: the end of the last packet written, in microseconds. The
  // packet loop reads next from the input whose outputs lag most.
  std::atomic<std::int64_t> LastMuxTime{AV_NOPTS_VALUE};
  std::int64_t LastDts = AV_NOPTS_VALUE;  // of the last packet written, stream time base

  std::vector<TBitstreamFilterSpec> BitstreamFilterSpecs;  // as the options gave them
  std::vector<AVBSFContext*> BitstreamFilters;  // owned; built from the specs by the set-up

  std::vector<std::int64_t> ForcedKfPts;  // encoder time base
  int ForcedKfIndex = 0;

  // Encoding state (owned): the scaler and its picture, the resampler and its frame, and
  // the input format the resampler was made for.
  SwsContext* Scaler = nullptr;
  AVFrame* ScaledFrame = nullptr;
  AVFilterGraph* FilterGraph = nullptr;  // "vf" and deinterlacing, when in use
  AVFilterContext* FilterSource = nullptr;
  AVFilterContext* FilterSink = nullptr;
  AVFrame* FilteredFrame = nullptr;
  SwrContext* Resampler = nullptr;
  AVFrame* AudioFrame = nullptr;
  int AudioPending = 0;        // samples already in AudioFrame, waiting for a whole frame
  bool AudioClockSet = false;  // SyncOpts placed at the first samples' time
  int ResampleSampleFmt = -1;
  int ResampleSampleRate = 0;
  AVChannelLayout ResampleLayout{};
  AVPacket* EncodedPacket = nullptr;
  bool EncoderFlushed = false;  // drained; a joined input reopens it

  std::FILE* LogFile = nullptr;  // pass-1 statistics
  std::string LogFileName;
  int SavedCodecId = 0;
  bool InReport = false;
  TStageLane* MuxLane = nullptr;  // the stage whose packets the muxing thread writes, if any
  // The encoder's account of the last picture it coded, for the progress report: its
  // quality (lambda, FF_QP2LAMBDA per quantiser step) and, with PSNR, its squared error
  // per plane. NoteCodedPacket (Progress.cpp) takes them from a packet's quality stats.
  std::atomic<int> CodedQuality{0};
  std::atomic<std::uint64_t> CodedError[3] = {};
  void NoteCodedPacket(const AVPacket& packet);
};

}  // namespace tovamo
