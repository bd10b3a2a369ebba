#include "Engine/JobPipeline.h"

#include <pthread.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <set>

#include "Engine/FFmpeg.h"
#include "Engine/TranscodeRun.h"
#include "Services/Clock.h"
#include "Services/FFBindings.h"
#include "Services/FFLog.h"
#include "Services/Text.h"

namespace tovamo {
namespace {

// Slots per queue. Packets are small, so the reader may run well ahead of the slowest
// stage and the others never wait for it; pictures are large, so only a few wait. The
// bytes held bound each queue as well: a damaged header or a camera's 24-megapixel
// pictures must not make a few slots into hundreds of megabytes (a queue always takes one
// item, however large).
constexpr std::size_t kPacketSlots = 64;
constexpr std::size_t kPictureSlots = 4;
constexpr std::size_t kMuxSlots = 256;
constexpr std::size_t kPacketBytes = std::size_t(16) << 20;
constexpr std::size_t kPictureBytes = std::size_t(24) << 20;
constexpr std::size_t kMuxBytes = std::size_t(16) << 20;

}  // namespace

TStagePolicy StagePolicy() {
  static const TStagePolicy policy = [] {
    const char* value = std::getenv("TOVAMO_STAGES");
    if (value && std::strcmp(value, "on") == 0) return TStagePolicy::kOn;
    if (value && std::strcmp(value, "off") == 0) return TStagePolicy::kOff;
    return TStagePolicy::kAuto;
  }();
  return policy;
}

// ---- Items and lanes ------------------------------------------------------------------------

TStageItem::~TStageItem() {
  if (Packet) ff::av_packet_free(&Packet);
  if (Picture) ff::av_frame_free(&Picture);
}

TStageItem& TStageItem::operator=(TStageItem&& other) noexcept {
  if (this == &other) return *this;
  if (Packet) ff::av_packet_free(&Packet);
  if (Picture) ff::av_frame_free(&Picture);
  Kind = other.Kind;
  Packet = std::exchange(other.Packet, nullptr);
  Picture = std::exchange(other.Picture, nullptr);
  Output = other.Output;
  Pts = other.Pts;
  return *this;
}

std::size_t StageItemBytes(const TStageItem& item) {
  std::size_t bytes = item.Packet ? std::size_t(std::max(item.Packet->size, 0)) : 0;
  if (const AVFrame* picture = item.Picture) {
    for (const AVBufferRef* buffer : picture->buf)
      if (buffer) bytes += buffer->size;
    for (int i = 0; i < picture->nb_extended_buf; ++i) bytes += picture->extended_buf[i]->size;
  }
  return bytes;
}

TStageLane::TStageLane(TInputStream* input, bool encodesApart, int index)
    : Input_(input),
      EncodesApart_(encodesApart),
      Index_(index),
      Packets_(kPacketSlots, kPacketBytes),
      Pictures_(kPictureSlots, kPictureBytes),
      Muxed_(kMuxSlots, kMuxBytes) {}

void TStageLane::HandOnPicture(TOutputStream& output, const AVFrame* picture, std::int64_t pts) {
  TStageItem item(TStageItem::kPicture);
  item.Picture = ff::av_frame_clone(picture);
  if (!item.Picture) throw FFmpegException("av_frame_clone failed");
  item.Output = &output;
  item.Pts = pts;
  if (!Pictures_.Push(std::move(item))) throw TStageAborted();
}

void TStageLane::HandOnDrain() {
  if (!Pictures_.Push(TStageItem(TStageItem::kDrainEncoders))) throw TStageAborted();
}

void TStageLane::Emit(TOutputStream& output, AVPacket* packet) {
  TStageItem item(TStageItem::kPacket);
  item.Packet = ff::av_packet_alloc();
  if (!item.Packet) throw FFmpegException("av_packet_alloc failed");
  // As the muxer would: the packet's reference is taken, the caller's packet left blank.
  ff::av_packet_move_ref(item.Packet, packet);
  item.Output = &output;
  if (!Muxed_.Push(std::move(item))) throw TStageAborted();
}

// ---- The pipeline ---------------------------------------------------------------------------

std::unique_ptr<TJobPipeline> TJobPipeline::ForRun(TCustomFFmpeg& engine, TTranscodeRun& run) {
  const TStagePolicy policy = engine.Stages != TStagePolicy::kAuto ? engine.Stages : StagePolicy();
  if (policy == TStagePolicy::kOff) return nullptr;
  if (policy == TStagePolicy::kAuto && engine.ThreadCount == 1) return nullptr;
  if (engine.InputFileCount != 1 || engine.JoinMode || engine.RateEmulation ||
      engine.LimitFileSize > 0)
    return nullptr;
  for (const int limit : engine.MaxFrames)
    if (limit != INT32_MAX) return nullptr;
  int video = 0, audio = 0;
  for (const TInputStream* ist : run.InputStreams) {
    if (!ist->DecodingNeeded || !ist->DecoderOpen) continue;
    const AVMediaType type = ist->DecoderContext->codec_type;
    video += type == AVMEDIA_TYPE_VIDEO;
    audio += type == AVMEDIA_TYPE_AUDIO;
  }
  // The hooks and previews draw on buffers of the engine's own: one video stream at most.
  if (video > 1 || video + audio == 0) return nullptr;
  auto pipeline = std::make_unique<TJobPipeline>(engine, run);
  pipeline->Start();
  return pipeline;
}

TJobPipeline::TJobPipeline(TCustomFFmpeg& engine, TTranscodeRun& run)
    : Engine_(engine), Run_(run), Order_(0) {}

TJobPipeline::~TJobPipeline() {
  AbortAll();
  JoinAll();
  for (TInputStream* ist : Run_.InputStreams) ist->Lane = nullptr;
  for (TOutputStream* ost : Run_.OutputStreams) ost->MuxLane = nullptr;
}

void TJobPipeline::Start() {
  Lanes_.push_back(std::make_unique<TStageLane>(nullptr, false, 0));
  for (TInputStream* ist : Run_.InputStreams) {
    if (!ist->DecodingNeeded || !ist->DecoderOpen) continue;
    const AVMediaType type = ist->DecoderContext->codec_type;
    if (type != AVMEDIA_TYPE_VIDEO && type != AVMEDIA_TYPE_AUDIO) continue;
    Lanes_.push_back(
        std::make_unique<TStageLane>(ist, type == AVMEDIA_TYPE_VIDEO, int(Lanes_.size())));
    ist->Lane = Lanes_.back().get();
  }
  for (TOutputStream* ost : Run_.OutputStreams) {
    TInputStream* source = Run_.InputStreams[ost->SourceIndex];
    ost->MuxLane = !ost->StreamCopy && source->Lane ? source->Lane : Lanes_[0].get();
  }
  try {
    Threads_.emplace_back([this] { RunStage("tovamo-mux", [this] { MuxStage(); }); });
    for (std::size_t i = 1; i < Lanes_.size(); ++i) {
      TStageLane& lane = *Lanes_[i];
      Threads_.emplace_back([this, &lane] {
        RunStage(lane.EncodesApart() ? "tovamo-vdecode" : "tovamo-audio",
                 [this, &lane] { DecodeStage(lane); });
      });
      if (lane.EncodesApart())
        Threads_.emplace_back(
            [this, &lane] { RunStage("tovamo-vencode", [this, &lane] { EncodeStage(lane); }); });
    }
  } catch (...) {
    AbortAll();
    JoinAll();
    throw;
  }
}

bool TJobPipeline::Submit(TInputStream& input, AVPacket* packet) {
  if (Failed_) return false;
  TStageLane* lane = input.Lane;
  if (!lane) {
    // Handled on this thread; its packets still reach the muxer in their turn.
    if (!Order_.Push(0)) return false;
    if (packet)
      Engine_.DecodeAndDeliver(Run_, input, packet);
    else
      Engine_.ProcessPacket(Run_, input, nullptr);
    return Lanes_[0]->Muxed_.Push(TStageItem(TStageItem::kEnd));
  }
  TStageItem item(packet ? TStageItem::kPacket : TStageItem::kDrain);
  if (packet) {
    item.Packet = ff::av_packet_alloc();
    if (!item.Packet) throw FFmpegException("av_packet_alloc failed");
    ff::av_packet_move_ref(item.Packet, packet);
  }
  return Order_.Push(lane->Index_) && lane->Packets_.Push(std::move(item));
}

void TJobPipeline::Finish() {
  Order_.Close();
  for (auto& lane : Lanes_) lane->Packets_.Close();
  Lanes_[0]->Muxed_.Close();
  JoinAll();
  std::lock_guard lock(ErrorLock_);
  if (Error_) {
    if (!ErrorLibraryLine_.empty()) SetThreadLastLibraryError(ErrorLibraryLine_);
    std::rethrow_exception(Error_);
  }
  // A stage that ended early without a failure of its own cannot happen; should the muxer
  // have missed packets, the run must not pass for complete.
  if (Failed_) throw FFmpegException("The conversion's stages ended early");
}

void TJobPipeline::Fail(std::exception_ptr error) {
  {
    std::lock_guard lock(ErrorLock_);
    if (!Error_) {
      Error_ = error;
      ErrorLibraryLine_ = ThreadLastLibraryError();
    }
  }
  AbortAll();
}

void TJobPipeline::AbortAll() {
  Failed_ = true;
  Order_.Abort();
  for (auto& lane : Lanes_) {
    lane->Packets_.Abort();
    lane->Pictures_.Abort();
    lane->Muxed_.Abort();
  }
}

void TJobPipeline::JoinAll() {
  for (std::thread& thread : Threads_)
    if (thread.joinable()) thread.join();
  Threads_.clear();
}

template <class F>
void TJobPipeline::RunStage(const char* name, F&& work) {
  pthread_setname_np(pthread_self(), name);  // for top -H and profilers
  // The job's own settings for the libraries' text and log lines hold on every stage.
  TCNumericLocale numbers;
  const TThreadLogLevel level(Engine_.JobLogLevel);
  const TThreadLogSource source(Engine_.InputFileNames.empty() ? std::string()
                                                               : Engine_.InputFileNames[0]);
  ClearThreadLastLibraryError();
  try {
    work();
  } catch (const TStageAborted&) {
    // Another stage failed first; its failure is the one reported.
  } catch (...) {
    Fail(std::current_exception());
  }
}

void TJobPipeline::DecodeStage(TStageLane& lane) {
  TStageQueue<TStageItem>& next = lane.EncodesApart() ? lane.Pictures_ : lane.Muxed_;
  while (std::optional<TStageItem> item = lane.Packets_.Pop()) {
    Engine_.HoldWhilePaused();  // a pause holds every stage, not only the reader
    if (Engine_.StopRequested) break;
    if (item->Kind == TStageItem::kPacket)
      Engine_.DecodeAndDeliver(Run_, *lane.Input_, item->Packet);
    else
      Engine_.ProcessPacket(Run_, *lane.Input_, nullptr);
    item.reset();
    if (!next.Push(TStageItem(TStageItem::kEnd))) throw TStageAborted();
  }
  if (Engine_.StopRequested) {
    // A stop drops the packets that wait; what is encoded is finished.
    lane.Packets_.Discard();
    if (!lane.EncodesApart()) Engine_.FlushEncodersOf(Run_, *lane.Input_);
  }
  next.Close();
}

void TJobPipeline::EncodeStage(TStageLane& lane) {
  while (std::optional<TStageItem> item = lane.Pictures_.Pop()) {
    Engine_.HoldWhilePaused();
    if (Engine_.StopRequested) break;
    switch (item->Kind) {
      case TStageItem::kPicture:
        Engine_.EncodeVideoFrame(Run_, *item->Output, *lane.Input_, item->Picture, item->Pts);
        break;
      case TStageItem::kDrainEncoders:
        Engine_.FlushEncodersOf(Run_, *lane.Input_);
        break;
      default:
        if (!lane.Muxed_.Push(TStageItem(TStageItem::kEnd))) throw TStageAborted();
        break;
    }
  }
  if (Engine_.StopRequested) {
    lane.Pictures_.Discard();
    Engine_.FlushEncodersOf(Run_, *lane.Input_);
  }
  lane.Muxed_.Close();
}

void TJobPipeline::MuxStage() {
  while (std::optional<int> index = Order_.Pop()) {
    Engine_.HoldWhilePaused();
    TStageLane& lane = *Lanes_[std::size_t(*index)];
    for (;;) {
      std::optional<TStageItem> item = lane.Muxed_.Pop();
      if (!item) {
        if (Failed_) return;  // aborted: the failure is reported
        // A stop: the first stage that ended early is where every stream ends.
        if (Engine_.StopRequested) return MuxAfterStop(&lane);
        Fail(std::make_exception_ptr(FFmpegException("A conversion stage ended early")));
        return;
      }
      if (item->Kind == TStageItem::kEnd) break;
      Write(*item);
    }
    Engine_.CheckOutputSizes(Run_);
    const std::int64_t now = MonotonicMicros();
    if (now - Run_.LastReportTime > Engine_.ProgressInterval) {
      Run_.LastReportTime = now;
      Engine_.Report(Run_, false, 0);
    }
  }
  MuxAfterStop(nullptr);  // the encoders' last packets, should a stop come after the last read
}

void TJobPipeline::MuxAfterStop(const TStageLane* cut) {
  // The lane that ended first ends the output: the others, which did more, add what
  // begins before its end, the start of what they hold and so without a gap; their
  // encoders' last packets among it when those are early enough (libx264 holds pictures
  // back). Without such a lane everything was muxed in turn: what is left are the last
  // packets of encoders drained by the stop.
  std::int64_t until = INT64_MAX;
  if (cut) {
    until = INT64_MIN;
    for (const auto& [ost, end] : ShownUntil_)
      if (ost->MuxLane == cut) until = std::max(until, end);
  }
  // In decoding order: a picture after one that is left out may refer to it.
  std::set<const TOutputStream*> ended;
  for (auto& lane : Lanes_) {
    while (std::optional<TStageItem> item = lane->Muxed_.Pop()) {
      if (item->Kind != TStageItem::kPacket || ended.count(item->Output)) continue;
      if (ShownFrom(*item) >= until) {
        ended.insert(item->Output);
        continue;
      }
      Write(*item);
    }
    if (Failed_) return;
  }
}

std::int64_t TJobPipeline::ShownFrom(const TStageItem& item) {
  const AVPacket* packet = item.Packet;
  const std::int64_t time = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
  if (time == AV_NOPTS_VALUE) return INT64_MIN;
  return ff::av_rescale_q(time, item.Output->Stream->time_base, AV_TIME_BASE_Q);
}

void TJobPipeline::Write(TStageItem& item) {
  const std::int64_t from = ShownFrom(item);
  if (from != INT64_MIN) {
    const std::int64_t duration = ff::av_rescale_q(std::max<std::int64_t>(item.Packet->duration, 0),
                                                   item.Output->Stream->time_base, AV_TIME_BASE_Q);
    auto [at, added] = ShownUntil_.try_emplace(item.Output, from + duration);
    if (!added) at->second = std::max(at->second, from + duration);
  }
  Engine_.WriteMuxPacket(*item.Output, item.Packet);
}

}  // namespace tovamo
