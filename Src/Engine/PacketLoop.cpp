// The packet loop: choosing the input to read, reading, timestamp offsets and scales,
// discontinuities, the recording time, decoding where an encoded output needs it, stream
// copy with its key-frame rule, bitstream filters and interleaved writing; then draining,
// trailers and the final report. Join mode plays the inputs one after another into one
// output with continuing timestamps.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "Engine/EncodeStep.h"
#include "Engine/FFmpeg.h"
#include "Engine/JobPipeline.h"
#include "Engine/TimestampLimits.h"
#include "Engine/TranscodeRun.h"
#include "Services/SafeMath.h"
#include "Services/FFBindings.h"
#include "Services/FFCodecLock.h"
#include "Services/FFInterrupt.h"
#include "Services/FFUtils.h"
#include "Services/MainThread.h"
#include "Services/UnicodeProtocol.h"

namespace tovamo {
namespace {

// Registers the engine's stop check for the calling thread while the loop runs, so that a
// stop request cuts a blocking read short (the check holds only while LoopInputIO is set:
// the same thread also writes the outputs, and those writes must go through). It is gone
// before the trailers are written.
class TLoopStopCheck {
 public:
  explicit TLoopStopCheck(TCustomFFmpeg* engine) : Engine_(engine), Thread_(CurrentThreadId()) {
    if (!IsMainThread())
      InterruptCB()->AddCheck(Thread_, Engine_, Check());
    else
      Engine_ = nullptr;
  }
  ~TLoopStopCheck() {
    if (Engine_) InterruptCB()->RemoveCheck(Thread_, Engine_, Check());
  }
  TLoopStopCheck(const TLoopStopCheck&) = delete;
  TLoopStopCheck& operator=(const TLoopStopCheck&) = delete;

 private:
  TInterruptCheck Check() const { return {&TCustomFFmpeg::StopCheck, Engine_}; }
  TCustomFFmpeg* Engine_;
  std::uint32_t Thread_;
};

int MaxFramesIndex(int type) {
  switch (type) {
    case AVMEDIA_TYPE_VIDEO:
      return 0;
    case AVMEDIA_TYPE_AUDIO:
      return 1;
    case AVMEDIA_TYPE_SUBTITLE:
      return 3;
    default:
      return 2;
  }
}

std::int64_t ToMicros(std::int64_t ts, AVRational timeBase) {
  return ff::av_rescale_q(ts, timeBase, AV_TIME_BASE_Q);
}

// Duration of one frame of a stream in microseconds, from the packet or the stream's rate.
std::int64_t FrameDuration(const TInputStream& ist, const AVPacket* packet) {
  const AVStream* st = ist.Stream;
  const AVCodecParameters* par = st->codecpar;
  if (packet && packet->duration > 0) return ToMicros(packet->duration, st->time_base);
  if (par->codec_type == AVMEDIA_TYPE_AUDIO && par->sample_rate > 0 && par->frame_size > 0)
    return std::int64_t(AV_TIME_BASE) * par->frame_size / par->sample_rate;
  if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
    AVRational rate = st->avg_frame_rate.num ? st->avg_frame_rate : st->r_frame_rate;
    if (rate.num && rate.den) return ff::av_rescale_q(1, av_inv_q(rate), AV_TIME_BASE_Q);
  }
  return 0;
}

// Where the other sound and picture streams of `ist`'s file have got to in their reading
// (AV_NOPTS_VALUE when none has yet); `others` tells whether the file has any. Cover
// pictures have no timeline.
std::int64_t OthersReach(const TTranscodeRun& run, const TInputStream& ist, bool& others) {
  const TInputFileRec& rec = run.Files[ist.FileIndex];
  std::int64_t reach = AV_NOPTS_VALUE;
  others = false;
  for (int k = 0; k < rec.NbStreams; ++k) {
    const TInputStream* other = run.InputStreams[rec.IstIndex + k];
    const AVMediaType type = other->Stream->codecpar->codec_type;
    if (other == &ist || (type != AVMEDIA_TYPE_VIDEO && type != AVMEDIA_TYPE_AUDIO) ||
        (other->Stream->disposition & AV_DISPOSITION_ATTACHED_PIC))
      continue;
    others = true;
    reach = std::max(reach, other->ReadNextPts);  // AV_NOPTS_VALUE is the smallest
  }
  return reach;
}

// The end of the stream's timeline as its file states it: the container's or the stream's
// length from the file's start; AV_NOPTS_VALUE when the file states none.
std::int64_t StatedEnd(const TInputStream& ist, const AVFormatContext* input) {
  std::int64_t length = input->duration > 0 ? input->duration : 0;
  if (ist.Stream->duration > 0)
    length = std::max(length, ToMicros(ist.Stream->duration, ist.Stream->time_base));
  return length > 0 ? ist.TimelineStart + length : AV_NOPTS_VALUE;
}

// The reader's clock: where this packet is, and where the stream's next one is due.
void AdvanceReaderClock(TInputStream& ist, const AVPacket* packet) {
  if (packet->dts != AV_NOPTS_VALUE)
    ist.ReadPts = ToMicros(packet->dts, ist.Stream->time_base);
  else if (ist.ReadNextPts != AV_NOPTS_VALUE)
    ist.ReadPts = ist.ReadNextPts;
  if (ist.ReadPts != AV_NOPTS_VALUE) ist.ReadNextPts = ist.ReadPts + FrameDuration(ist, packet);
}

// True when the reading has got to the file's last part (the last 64 KiB or 2 %).
bool NearTheEnd(AVFormatContext* input) {
  if (!input->pb) return false;
  const std::int64_t size = ff::avio_size(input->pb);
  if (size <= 0) return false;
  const std::int64_t position = ff::avio_seek(input->pb, 0, SEEK_CUR);
  return position >= size - std::max<std::int64_t>(65536, size / 50);
}

}  // namespace

void TCustomFFmpeg::RunPacketLoop(TTranscodeRun& run) {
  run.TimerStart = MonotonicMicros();
  run.LastReportTime = run.TimerStart;
  std::fill(run.NoPacket.begin(), run.NoPacket.end(), false);
  run.NoPacketCount = 0;
  run.CurrentInput = 0;
  PausedMicros_ = 0;
  LoopInputIO = false;
  TLoopStopCheck stopCheck(this);
  AVPacket* packet = run.Packet;
  run.Pipeline = TJobPipeline::ForRun(*this, run);

  while (!StopRequested) {
    PausePoint();
    if (StopRequested) break;

    const int file = ChooseInputFile(run);
    if (file < 0) {
      if (JoinMode || run.NoPacketCount == 0) break;
      std::fill(run.NoPacket.begin(), run.NoPacket.end(), false);
      run.NoPacketCount = 0;
      WaitSlice(10000);
      continue;
    }
    if (LimitFileSize > 0 && OutputFiles[0]->pb &&
        ff::avio_seek(OutputFiles[0]->pb, 0, SEEK_CUR) >= LimitFileSize)
      break;
    if (!run.Pipeline) CheckOutputSizes(run);  // else the muxing thread checks

    AVFormatContext* input = InputFiles[file];
    LoopInputIO = true;
    const int ret = ff::av_read_frame(input, packet);
    LoopInputIO = false;
    if (ret == AVERROR(EAGAIN)) {
      run.NoPacket[file] = true;
      ++run.NoPacketCount;
      continue;
    }
    if (ret < 0) {
      if (StopRequested) break;  // the stop check cut the read short
      TInputFileRec& rec = run.Files[file];
      rec.EofReached = true;
      const std::int64_t duration = input->duration;
      const std::int64_t reached = run.FurthestTime[file];
      if (ret != AVERROR_EOF) {
        InputEndedEarly = true;
        Log(llWarning,
            ErrorText(InputFileNames[file].empty() ? std::string(input->url) : InputFileNames[file],
                      ret) +
                " (the rest of the file cannot be read)");
      } else if (run.LastPacketCut[file] ||
                 (duration != AV_NOPTS_VALUE && reached != AV_NOPTS_VALUE &&
                  reached < duration - std::max<std::int64_t>(AV_TIME_BASE, duration / 10))) {
        InputEndedEarly = true;
        LogFmt(
            llWarning, "%s: the file ended early, at %s of %s",
            (InputFileNames[file].empty() ? std::string(input->url) : InputFileNames[file]).c_str(),
            FormatTimestamp(reached).c_str(), FormatTimestamp(duration).c_str());
      }
      if (Shortest && !JoinMode) break;
      if (JoinMode) {
        LoopInputIO = true;
        SwitchJoinedInput(run, file);
        LoopInputIO = false;
        if (run.CurrentInput == file) break;  // that was the last input
      }
      continue;
    }
    std::fill(run.NoPacket.begin(), run.NoPacket.end(), false);
    run.NoPacketCount = 0;
    ++run.PacketsRead;
    // The demuxer marks a packet that the end of the file cut short; a parser may still
    // hand out whole packets after it, so a cut near the end counts until the end.
    if ((packet->flags & AV_PKT_FLAG_CORRUPT) && NearTheEnd(input)) run.LastPacketCut[file] = true;
    if (PacketDump)
      ff::av_pkt_dump_log2(nullptr, AV_LOG_DEBUG, packet, HexDump,
                           input->streams[packet->stream_index]);

    const TInputFileRec& rec = run.Files[file];
    if (packet->stream_index < 0 || packet->stream_index >= rec.NbStreams) {
      ff::av_packet_unref(packet);  // a stream that appeared after the set-up
      continue;
    }
    TInputStream& ist = *run.InputStreams[rec.IstIndex + packet->stream_index];
    const AVMediaType type = ist.Stream->codecpar->codec_type;
    const bool timed = type == AVMEDIA_TYPE_VIDEO || type == AVMEDIA_TYPE_AUDIO;
    // A sound or picture stream no output takes still keeps its clock: its times vouch for
    // the gaps of the others.
    if (ist.Discard && !timed) {
      ff::av_packet_unref(packet);
      continue;
    }

    // Offsets and scales.
    const AVRational tb = ist.Stream->time_base;
    const std::int64_t offset = ff::av_rescale_q(InputTsOffsets[file], AV_TIME_BASE_Q, tb);
    if (packet->dts != AV_NOPTS_VALUE) packet->dts += offset;
    if (packet->pts != AV_NOPTS_VALUE) packet->pts += offset;
    const auto& scales = InputTsScales[file];
    if (ist.Index < int(scales.size()) && scales[ist.Index] != 0) {
      const double scale = scales[ist.Index];
      if (packet->pts != AV_NOPTS_VALUE) packet->pts = std::llround(packet->pts * scale);
      if (packet->dts != AV_NOPTS_VALUE) packet->dts = std::llround(packet->dts * scale);
    }

    // Discontinuities in formats that allow them.
    if (!ist.Discard && packet->dts != AV_NOPTS_VALUE && ist.ReadNextPts != AV_NOPTS_VALUE &&
        (input->iformat->flags & AVFMT_TS_DISCONT) && !CopyTs) {
      const std::int64_t dts = ToMicros(packet->dts, tb);
      const std::int64_t delta = dts - ist.ReadNextPts;
      // A step back of a few frames is reordering, or a muxer's careless decoding times
      // (VCD tracks have them): taking it for a discontinuity would push the rest of the
      // file later every time, stretching the output.
      if (std::abs(double(delta)) > double(DtsDeltaThreshold) * AV_TIME_BASE ||
          dts + AV_TIME_BASE / 10 < ist.ReadPts) {
        InputTsOffsets[file] -= delta;
        if (Verbose > 2)
          LogFmt(llVerbose, "timestamp discontinuity %lld, new offset= %lld",
                 static_cast<long long>(delta), static_cast<long long>(InputTsOffsets[file]));
        const std::int64_t shift = ff::av_rescale_q(delta, AV_TIME_BASE_Q, tb);
        packet->dts -= shift;
        if (packet->pts != AV_NOPTS_VALUE) packet->pts -= shift;
      }
    }

    // The input's own timeline is kept: a gap in one stream's times is filled (repeated
    // pictures, silence) when the file vouches for it, that is when its other streams have
    // got as far, or, for a stream alone in its file, when it lies within the length the
    // file states. A jump nothing in the file explains (forward beyond that, or backward)
    // is stepped over, in any format. Subtitles are sparse.
    if (timed) {
      // A presentation time further from its decoding time than any reordering is damaged;
      // the decoding time stands for it.
      if (packet->pts != AV_NOPTS_VALUE && packet->dts != AV_NOPTS_VALUE &&
          std::abs(double(ToMicros(packet->pts, tb) - ToMicros(packet->dts, tb))) >
              double(kLongestFilledGapMicros))
        packet->pts = AV_NOPTS_VALUE;
      // No packet lasts longer than its file (a damaged rate in a header would make it).
      if (input->duration > 0 && packet->duration > 0 &&
          ToMicros(packet->duration, tb) > input->duration)
        packet->duration = ff::av_rescale_q(input->duration, AV_TIME_BASE_Q, tb);
      const std::int64_t shift = ff::av_rescale_q(ist.JumpOffset, AV_TIME_BASE_Q, tb);
      if (packet->dts != AV_NOPTS_VALUE) packet->dts += shift;
      if (packet->pts != AV_NOPTS_VALUE) packet->pts += shift;
      const std::int64_t ts = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
      if (ts != AV_NOPTS_VALUE) {
        const std::int64_t at = ToMicros(ts, tb);
        bool others = false;
        const std::int64_t reach = OthersReach(run, ist, others);
        // A stream's first packet is measured from where its file has got to.
        const bool first = ist.ReadNextPts == AV_NOPTS_VALUE;
        const std::int64_t from = first ? reach : ist.ReadNextPts;
        const std::int64_t vouched = others ? reach : StatedEnd(ist, input);
        const std::int64_t delta = from == AV_NOPTS_VALUE ? 0 : at - from;
        const bool unexplained =
            delta > kLongestFilledGapMicros &&
            (vouched == AV_NOPTS_VALUE || at > SaturatingAdd(vouched, kLongestFilledGapMicros));
        if (unexplained || (!first && delta < -kLongestFilledGapMicros)) {
          ist.JumpOffset -= delta;
          if (!ist.Discard)
            LogFmt(llWarning,
                   "Input stream #%d.%d: its timestamps jump by %s at %s, beyond what the file "
                   "holds; stepped over",
                   ist.FileIndex, ist.Index,
                   (delta < 0 ? "-" + FormatTimestamp(-delta) : FormatTimestamp(delta)).c_str(),
                   FormatTimestamp(from).c_str());
          const std::int64_t back = ff::av_rescale_q(delta, AV_TIME_BASE_Q, tb);
          if (packet->dts != AV_NOPTS_VALUE) packet->dts -= back;
          if (packet->pts != AV_NOPTS_VALUE) packet->pts -= back;
        }
      }
    }
    if (ist.Discard) {
      AdvanceReaderClock(ist, packet);
      ff::av_packet_unref(packet);
      continue;
    }

    // Where the file has got to, to tell a file that ends before its stated length.
    {
      const std::int64_t ts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
      if (ts != AV_NOPTS_VALUE) {
        const std::int64_t end = ToMicros(ts, tb) + FrameDuration(ist, packet) -
                                 InputTsOffsets[file] - ist.JumpOffset -
                                 (input->start_time != AV_NOPTS_VALUE ? input->start_time : 0);
        if (run.FurthestTime[file] == AV_NOPTS_VALUE || end > run.FurthestTime[file])
          run.FurthestTime[file] = end;
        // What has been read, in the times handed on: joined clips add up.
        const std::int64_t at = ToMicros(ts, tb);
        if (run.FirstTime[file] == AV_NOPTS_VALUE || at < run.FirstTime[file])
          run.FirstTime[file] = at;
        run.LastEnd[file] = std::max(run.LastEnd[file], at + FrameDuration(ist, packet));
        run.ReadSpan[file].store(run.LastEnd[file] - run.FirstTime[file],
                                 std::memory_order_relaxed);
      }
    }

    // The recording time.
    if (RecordingTime != INT64_MAX) {
      const std::int64_t ts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
      if (ts != AV_NOPTS_VALUE &&
          ff::av_compare_ts(ts, tb, SaturatingAdd(RecordingTime, StartTime), AV_TIME_BASE_Q) >= 0) {
        ist.IsPastRecordingTime = true;
        ff::av_packet_unref(packet);
        continue;
      }
    }

    AdvanceReaderClock(ist, packet);

    if (run.Still && &ist != run.Still) FeedStillPicture(run, ist.ReadPts);
    if (run.Pipeline) {
      bool going = false;
      try {
        going = run.Pipeline->Submit(ist, packet);
      } catch (const TStageAborted&) {
      }
      ff::av_packet_unref(packet);
      if (!going) break;  // a stage failed: the end of the job reports it
      continue;           // the muxing thread reports the progress
    }
    const bool decoded = DecodeAndDeliver(run, ist, packet);
    ff::av_packet_unref(packet);
    if (!decoded) continue;

    const std::int64_t now = MonotonicMicros();
    if (now - run.LastReportTime > ProgressInterval) {
      run.LastReportTime = now;
      Report(run, false, file);
    }
  }
}

int TCustomFFmpeg::ChooseInputFile(TTranscodeRun& run) {
  if (InputFileCount == 1 && !JoinMode) {
    // One input: nothing to weigh, and the stages' clocks are theirs alone.
    int file = -1;
    for (const TOutputStream* ost : run.OutputStreams) {
      const TInputStream* ist = run.InputStreams[ost->SourceIndex];
      if (ist->IsPastRecordingTime || run.NoPacket[ist->FileIndex]) continue;
      if (!run.Files[ist->FileIndex].EofReached) file = ist->FileIndex;
      if (ost->FrameNumber >= MaxFrames[MaxFramesIndex(ost->Stream->codecpar->codec_type)])
        return -1;
    }
    return file;
  }
  if (JoinMode) {
    const int c = run.CurrentInput;
    const int from = c * run.GroupSize;
    const int to = std::min<int>((c + 1) * run.GroupSize, int(run.OutputStreams.size()));
    for (int k = from; k < to; ++k) {
      const TOutputStream* ost = run.OutputStreams[k];
      if (ost->FrameNumber >= MaxFrames[MaxFramesIndex(ost->Stream->codecpar->codec_type)])
        return -1;
    }
    return c;
  }
  int file = -1;
  double iptsMin = 1e100;
  double optsMin = 1e100;
  for (const TOutputStream* ost : run.OutputStreams) {
    const TInputStream* ist = run.InputStreams[ost->SourceIndex];
    if (ist->IsPastRecordingTime || run.NoPacket[ist->FileIndex]) continue;
    const double opts = double(ost->LastMuxTime);
    const double ipts = double(ist->Pts);
    if (!run.Files[ist->FileIndex].EofReached) {
      if (ipts < iptsMin) {
        iptsMin = ipts;
        if (InputSync) file = ist->FileIndex;
      }
      if (opts < optsMin) {
        optsMin = opts;
        if (!InputSync) file = ist->FileIndex;
      }
    }
    if (ost->FrameNumber >= MaxFrames[MaxFramesIndex(ost->Stream->codecpar->codec_type)]) return -1;
  }
  return file;
}

void TCustomFFmpeg::SwitchJoinedInput(TTranscodeRun& run, int c) {
  for (TInputStream* ist : run.InputStreams) {
    if (ist->FileIndex != c || !ist->DecodingNeeded) continue;
    ProcessPacket(run, *ist, nullptr);
    if (ist->DecoderOpen) ff::avcodec_flush_buffers(ist->DecoderContext);
    ist->Flushed = true;
  }
  const bool last = c + 1 >= InputFileCount;
  const int group = run.GroupSize;
  for (int k = 0; k < group && k < int(run.OutputStreams.size()); ++k) {
    TOutputStream* ost = run.OutputStreams[k];
    if (!ost->EncodingNeeded || !ost->EncoderOpen) continue;
    if (last) continue;  // the end of the job drains the encoders
    // The encoder is drained and opened afresh, so the next input starts clean.
    FlushEncoder(run, *ost);
    AVCodecContext* codec = ost->EncoderContext;
    const AVCodec* encoder =
        ost->Encoder ? ost->Encoder : ff::avcodec_find_encoder(AVCodecID(ost->SavedCodecId));
    char text[256];
    const std::string type = MediaTypeName(codec->codec_type);
    if (!encoder) {
      std::snprintf(text, sizeof text, "Unsupported codec for output stream #%d.%d (%s)",
                    ost->FileIndex, ost->Index, type.c_str());
      throw FFmpegException(text);
    }
    {
      std::lock_guard lock(CodecListLock());
      OpenEncoders.erase(std::remove(OpenEncoders.begin(), OpenEncoders.end(), ost),
                         OpenEncoders.end());
      ost->EncoderOpen = false;
    }
    int ret;
    {
      TCodecLockGuard guard;
      ff::avcodec_close(codec);
      codec->codec_id = AVCodecID(ost->SavedCodecId);
      ret = ff::avcodec_open2(codec, encoder, nullptr);
    }
    if (ret < 0) {
      std::snprintf(text, sizeof text,
                    "Error while opening codec for output stream #%d.%d (%s) - maybe incorrect "
                    "parameters such as bit_rate, rate, width or height",
                    ost->FileIndex, ost->Index, type.c_str());
      throw FFmpegException(text);
    }
    std::lock_guard lock(CodecListLock());
    ost->EncoderOpen = true;
    ost->EncoderFlushed = false;
    OpenEncoders.push_back(ost);
  }

  const int total = int(run.OutputStreams.size());
  for (int k = (c + 1) * group; k < total; ++k) {
    run.OutputStreams[k]->SyncOpts = run.OutputStreams[k - group]->SyncOpts.load();
    run.OutputStreams[k]->FrameNumber = run.OutputStreams[k - group]->FrameNumber.load();
    run.OutputStreams[k]->LastDts = run.OutputStreams[k - group]->LastDts;
  }
  std::int64_t maxEnd = 0;
  if ((c + 1) * group < total) {
    for (int k = c * group; k < (c + 1) * group; ++k) {
      TOutputStream* ost = run.OutputStreams[k];
      maxEnd = std::max(maxEnd, ost->LastMuxTime.load());
      ost->InReport = false;
    }
  }
  if (last) return;
  InputTsOffsets[c + 1] += maxEnd;
  run.CurrentInput = c + 1;
}

bool TCustomFFmpeg::DecodeAndDeliver(TTranscodeRun& run, TInputStream& ist,
                                     const AVPacket* packet) {
  if (ProcessPacket(run, ist, packet) >= 0) return true;
  char text[160];
  std::snprintf(text, sizeof text, "Error while decoding stream #%d.%d (%s)", ist.FileIndex,
                ist.Index, MediaTypeName(ist.Stream->codecpar->codec_type).c_str());
  if (ExitOnError) throw FFmpegException(text);
  if (Verbose >= 0) Log(llVerbose, text);
  return false;
}

void TCustomFFmpeg::FlushEncodersOf(TTranscodeRun& run, TInputStream& ist) {
  for (TOutputStream* ost : run.OutputStreams)
    if (ost->EncodingNeeded && !ost->Shared && run.InputStreams[ost->SourceIndex] == &ist)
      FlushEncoder(run, *ost);
}

int TCustomFFmpeg::ProcessPacket(TTranscodeRun& run, TInputStream& ist, const AVPacket* packet) {
  const AVRational tb = ist.Stream->time_base;
  if (ist.NextPts == AV_NOPTS_VALUE) ist.NextPts = ist.Pts;
  std::int64_t packetPts = AV_NOPTS_VALUE;
  if (packet) {
    if (packet->dts != AV_NOPTS_VALUE) ist.NextPts = ist.Pts = ToMicros(packet->dts, tb);
    if (packet->pts != AV_NOPTS_VALUE) packetPts = ToMicros(packet->pts, tb);
  }

  // Stream copies take the packet as it is.
  if (packet) {
    ist.Pts = ist.NextPts;
    if (!ist.DecodingNeeded) ist.NextPts += FrameDuration(ist, packet);
    if (RateEmulation) WaitForRealTime(ist.Start, ist.Pts);
    if (StartTime == 0 || ist.Pts >= StartTime)
      for (TOutputStream* ost : run.OutputStreams)
        if (ost->StreamCopy && run.InputStreams[ost->SourceIndex] == &ist)
          CopyPacket(run, *ost, ist, *packet);
  }
  if (!ist.DecodingNeeded || !ist.DecoderOpen) return 0;

  AVCodecContext* dec = ist.DecoderContext;
  if (dec->codec_type == AVMEDIA_TYPE_SUBTITLE) {
    if (!packet) return 0;
    AVSubtitle subtitle{};
    int got = 0;
    AVPacket* work = ff::av_packet_clone(packet);
    if (!work) return -1;
    const int ret = ff::avcodec_decode_subtitle2(dec, &subtitle, &got, work);
    ff::av_packet_free(&work);
    if (ret < 0) return -1;
    if (got) {
      DispatchDecoded(run, ist, nullptr, &subtitle, packetPts);
      ff::avsubtitle_free(&subtitle);
    }
    return 0;
  }

  if (packet && packet->size > 0) {
    const int ret = ff::avcodec_send_packet(dec, packet);
    if (ret < 0 && ret != AVERROR(EAGAIN) && ret != AVERROR_EOF) return -1;
  } else if (!packet) {
    ff::avcodec_send_packet(dec, nullptr);
  }
  AVFrame* frame = ist.Frame;
  for (;;) {
    const int ret = ff::avcodec_receive_frame(dec, frame);
    if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) break;
    if (ret < 0) return -1;
    std::int64_t ts = frame->best_effort_timestamp != AV_NOPTS_VALUE
                          ? ToMicros(frame->best_effort_timestamp, tb)
                          : ist.NextPts;
    // The packet's decoding time, which the reader has checked, stands for a guess far from
    // it (a damaged presentation time the decoder kept).
    if (frame->pkt_dts != AV_NOPTS_VALUE && ts != AV_NOPTS_VALUE &&
        std::abs(double(ts - ToMicros(frame->pkt_dts, tb))) > double(kLongestFilledGapMicros))
      ts = ToMicros(frame->pkt_dts, tb);
    if (ts != AV_NOPTS_VALUE) ist.Pts = ts;
    if (dec->codec_type == AVMEDIA_TYPE_AUDIO && frame->sample_rate > 0)
      ist.NextPts = ist.Pts + std::int64_t(AV_TIME_BASE) * frame->nb_samples / frame->sample_rate;
    else if (frame->pkt_duration > 0)
      ist.NextPts = ist.Pts + ToMicros(frame->pkt_duration, tb);
    else
      ist.NextPts = ist.Pts + FrameDuration(ist, nullptr);

    if (dec->codec_type == AVMEDIA_TYPE_AUDIO) {
      if (OnAudioHook && EventsAttached() && frame->data[0]) {
        const int bytes =
            ff::av_samples_get_buffer_size(nullptr, frame->ch_layout.nb_channels, frame->nb_samples,
                                           AVSampleFormat(frame->format), 1);
        OnAudioHook(this, ist.Pts, frame->data[0], bytes, frame->sample_rate,
                    frame->ch_layout.nb_channels, frame->format);
      }
      if (AudioVolume != 256 && !ApplyVolume(frame, AudioVolume))
        Log(llError, "Cannot change the volume of a decoded audio frame");
    }
    AVFrame* picture = frame;
    if (dec->codec_type == AVMEDIA_TYPE_VIDEO) PreprocessPicture(ist, picture);
    if (StartTime == 0 || ist.Pts >= StartTime)
      DispatchDecoded(run, ist, picture, nullptr, packetPts);
    ff::av_frame_unref(frame);
  }
  if (!packet) {
    // Drained: encoders fed by this stream are drained as well.
    if (ist.Lane && ist.Lane->EncodesApart())
      ist.Lane->HandOnDrain();
    else
      FlushEncodersOf(run, ist);
  }
  return 0;
}

void TCustomFFmpeg::DispatchDecoded(TTranscodeRun& run, TInputStream& ist, AVFrame* frame,
                                    AVSubtitle* subtitle, std::int64_t packetPts) {
  for (TOutputStream* ost : run.OutputStreams) {
    if (!ost->EncodingNeeded || run.InputStreams[ost->SourceIndex] != &ist) continue;
    if (JoinMode && ost->FileIndex != run.CurrentInput) continue;
    switch (ost->EncoderContext->codec_type) {
      case AVMEDIA_TYPE_VIDEO:
        if (!frame) break;
        if (ist.Lane && ist.Lane->EncodesApart())
          ist.Lane->HandOnPicture(*ost, frame, ist.Pts);
        else
          EncodeVideoFrame(run, *ost, ist, frame, ist.Pts);
        break;
      case AVMEDIA_TYPE_AUDIO:
        if (frame) EncodeAudioFrame(run, *ost, ist, frame);
        break;
      case AVMEDIA_TYPE_SUBTITLE:
        if (subtitle) EncodeSubtitle(run, *ost, ist, subtitle, packetPts);
        break;
      default:
        throw FFmpegException("invalid codec_type");
    }
  }
}

void TCustomFFmpeg::CopyPacket(TTranscodeRun& run, TOutputStream& ost, TInputStream& ist,
                               const AVPacket& packet) {
  if (ost.FrameNumber == 0 && !(packet.flags & AV_PKT_FLAG_KEY) && !CopyInitialNonKeyframes &&
      ist.Stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
    return;
  AVPacket* out = run.OutPacket;
  if (ff::av_packet_ref(out, &packet) < 0) throw FFmpegException("av_packet_ref failed");
  const AVRational inTb = ist.Stream->time_base;
  const AVRational outTb = ost.Stream->time_base;
  const std::int64_t startOffset = ff::av_rescale_q(StartTime, AV_TIME_BASE_Q, outTb);
  const auto rescale = [&](std::int64_t ts) {
    return ff::av_rescale_q_rnd(ts, inTb, outTb,
                                AVRounding(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
  };
  out->pts = packet.pts != AV_NOPTS_VALUE ? rescale(packet.pts) - startOffset : AV_NOPTS_VALUE;
  out->dts = (packet.dts != AV_NOPTS_VALUE ? rescale(packet.dts)
                                           : ff::av_rescale_q(ist.Pts, AV_TIME_BASE_Q, outTb)) -
             startOffset;
  out->duration = ff::av_rescale_q(packet.duration, inTb, outTb);
  out->stream_index = ost.Index;
  out->time_base = outTb;
  if (ist.Stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
    AudioSize += packet.size;
  else if (ist.Stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
    VideoSize += packet.size;
    ++ost.SyncOpts;
  }
  WritePacket(run, ost, out);
  ++ost.FrameNumber;
}

void TCustomFFmpeg::WritePacket(TTranscodeRun& run, TOutputStream& ost, AVPacket* packet) {
  FilterPacket(run, ost, 0, packet);
}

void TCustomFFmpeg::FilterPacket(TTranscodeRun& run, TOutputStream& ost, std::size_t index,
                                 AVPacket* packet) {
  TOutputStream& owner = ost.Shared ? *ost.Shared : ost;
  if (index >= owner.BitstreamFilters.size()) {
    MuxPacket(run, ost, packet);
    return;
  }
  AVBSFContext* filter = owner.BitstreamFilters[index];
  auto report = [&](int ret) {
    char text[256];
    std::snprintf(text, sizeof text, "%s failed for stream %d, codec %s", filter->filter->name,
                  ost.Index,
                  owner.StreamCopy
                      ? "copy"
                      : (owner.EncoderContext->codec ? owner.EncoderContext->codec->name : "copy"));
    const std::string message = std::string(text) + ": " + ErrorText("", ret).substr(2);
    if (ExitOnError) throw FFmpegException(message);
    Log(llError, message);
  };
  AVPacket* keep = ff::av_packet_clone(packet);
  int ret = ff::av_bsf_send_packet(filter, packet);  // takes the packet's reference
  if (ret < 0) {
    report(ret);
    ff::av_packet_unref(packet);
    if (keep) {
      FilterPacket(run, ost, index + 1, keep);  // the packet goes on unchanged
      ff::av_packet_free(&keep);
    }
    return;
  }
  ff::av_packet_free(&keep);
  AVPacket* filtered = ff::av_packet_alloc();
  if (!filtered) throw FFmpegException("av_packet_alloc failed");
  for (;;) {
    ret = ff::av_bsf_receive_packet(filter, filtered);
    if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) break;
    if (ret < 0) {
      report(ret);
      break;
    }
    try {
      FilterPacket(run, ost, index + 1, filtered);
    } catch (...) {
      ff::av_packet_free(&filtered);
      throw;
    }
    ff::av_packet_unref(filtered);
  }
  ff::av_packet_free(&filtered);
}

void TCustomFFmpeg::MuxPacket(TTranscodeRun&, TOutputStream& ost, AVPacket* packet) {
  if (ost.MuxLane)
    ost.MuxLane->Emit(ost, packet);
  else
    WriteMuxPacket(ost, packet);
}

void TCustomFFmpeg::WriteMuxPacket(TOutputStream& ost, AVPacket* packet) {
  AVFormatContext* output = OutputFiles[ost.FileIndex];
  TOutputStream& owner = ost.Shared ? *ost.Shared : ost;
  packet->stream_index = ost.Index;
  // Muxers refuse decoding times that go backwards; damaged and joined inputs have them.
  if (packet->dts != AV_NOPTS_VALUE && owner.LastDts != AV_NOPTS_VALUE &&
      !(output->oformat->flags & AVFMT_TS_NONSTRICT) && packet->dts <= owner.LastDts) {
    const std::int64_t fixed = owner.LastDts + 1;
    if (Verbose > 1)
      LogFmt(llVerbose, "Non-monotonic timestamp in stream %d: %lld after %lld, changed to %lld",
             ost.Index, static_cast<long long>(packet->dts), static_cast<long long>(owner.LastDts),
             static_cast<long long>(fixed));
    if (packet->pts != AV_NOPTS_VALUE && packet->pts >= packet->dts)
      packet->pts = std::max(packet->pts, fixed);
    packet->dts = fixed;
  }
  if (packet->pts != AV_NOPTS_VALUE && packet->dts != AV_NOPTS_VALUE && packet->pts < packet->dts)
    packet->pts = packet->dts;
  if (packet->dts != AV_NOPTS_VALUE) {
    owner.LastDts = packet->dts;
    const AVRational tb = ost.Stream->time_base;
    const std::int64_t end = ff::av_rescale_q(
        packet->dts + std::max<std::int64_t>(packet->duration, 0), tb, AV_TIME_BASE_Q);
    ost.LastMuxTime = std::max(ost.LastMuxTime.load(), end);
  }
  const int ret = ff::av_interleaved_write_frame(output, packet);
  if (ret < 0)
    throw FFmpegException("av_interleaved_write_frame(): " + ErrorText("", ret).substr(2));
  ++OutputMediaPackets[JoinMode ? 0 : ost.FileIndex];
}

std::string TCustomFFmpeg::NoMediaReason(const TTranscodeRun& run) const {
  const int files = JoinMode ? std::min(OutputFileCount, 1) : OutputFileCount;
  bool empty = false;
  for (int i = 0; i < files; ++i) empty = empty || OutputMediaPackets[i] == 0;
  if (!empty) return {};
  std::int64_t furthest = AV_NOPTS_VALUE;
  for (const std::int64_t reached : run.FurthestTime)
    if (reached != AV_NOPTS_VALUE) furthest = std::max(furthest, reached);
  std::string why;
  if (RecordingTime <= 0)
    why = "the recording time (t) is 0";
  else if (run.PacketsRead == 0)
    why = "the input holds no frames";
  else if (StartTime > 0 && (furthest == AV_NOPTS_VALUE || furthest <= StartTime))
    why = "the start time (ss) " + FormatTimestamp(StartTime) +
          " is at or after the end of the input" +
          (furthest == AV_NOPTS_VALUE ? "" : " (" + FormatTimestamp(furthest) + ")");
  else
    why = "no frame of the input could be decoded and encoded (see the log)";
  return "Nothing was written: " + why;
}

void TCustomFFmpeg::EndOfJob(TTranscodeRun& run) {
  FinishStillPicture(run);
  if (run.Pipeline) {
    // The drains go through the stages like the packets, then every stage finishes; the
    // first failure of any of them ends the job here.
    try {
      for (TInputStream* ist : run.InputStreams)
        if (ist->DecodingNeeded && !ist->Flushed && !run.Pipeline->Submit(*ist, nullptr)) break;
    } catch (const TStageAborted&) {
    }
    run.Pipeline->Finish();
    run.Pipeline.reset();
  } else {
    for (TInputStream* ist : run.InputStreams)
      if (ist->DecodingNeeded && !ist->Flushed) ProcessPacket(run, *ist, nullptr);
  }

  const int files = JoinMode ? std::min(OutputFileCount, 1) : OutputFileCount;
  for (int i = 0; i < files; ++i) {
    const int ret = ff::av_write_trailer(OutputFiles[i]);
    if (ret < 0)
      throw FFmpegException("Could not write trailer for output file #" + std::to_string(i) + ": " +
                            ErrorText("", ret).substr(2));
    if (OutputFiles[i]->pb && OutputFiles[i]->pb->error < 0)
      throw FFmpegException(
          ErrorText(FromFFmpegName(OutputFileNames[i]), OutputFiles[i]->pb->error));
  }
  Report(run, true, -1);
  CloseCodecs();
  // An output without media is no result, whatever else went well.
  if (!StopRequested)
    if (const std::string reason = NoMediaReason(run); !reason.empty())
      throw FFmpegException(reason);
  if (!StopRequested) LeftOut = LeftOutMedia(run);
  Finished = !StopRequested;
}

}  // namespace tovamo
