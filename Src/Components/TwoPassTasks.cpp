// Tasks encoded in two passes. The task's own engine makes the real output in the second
// pass; the first pass is an engine of its own, made when the task starts from the same
// input and outputs, that writes only the statistics (to the null muxer). The owner sees
// one task throughout: one progress from the start of the first pass to the end of the
// second, one end notice (the second pass's, or the first's when that one failed or was
// stopped), stop and pause in either pass.
#include <algorithm>

#include "Components/FFEncode.h"
#include "Components/PassStats.h"
#include "Components/TwoPassTask.h"
#include "Engine/QualityClass.h"
#include "Engine/StreamRecords.h"

namespace tovamo {

namespace {

// The first pass's share of the progress: it encodes every picture as the second does.
constexpr double kFirstPassShare = 0.5;

// The name of the encoder of a task's first encoded video stream, or empty.
std::string VideoEncoderName(const TCustomFFmpeg& engine) {
  for (const auto& table : engine.OutputStreamTables)
    for (const auto& ost : table)
      if (ost && !ost->StreamCopy && ost->Encoder && ost->Encoder->type == AVMEDIA_TYPE_VIDEO)
        return ost->Encoder->name;
  return {};
}

}  // namespace

TOutputOptions TFFEncoder::SecondPassOptions(int taskIndex, const TFFmpeg& engine,
                                             const std::string& fileName,
                                             const TOutputOptions& options) {
  std::unique_ptr<TTwoPassTask>& task = TwoPass_[taskIndex];
  if (!task) {
    task = std::make_unique<TTwoPassTask>();
    task->StatsPrefix = PassStatsPrefix(options.FileName.empty() ? fileName : options.FileName);
    task->InputName = engine.InputFileCount > 0 ? engine.InputFileNames[0] : std::string();
    if (const TInputOptions* input = engine.InputOptions(0))
      task->Input = std::make_unique<TInputOptions>(*input);
  }
  TOutputOptions first = options;
  first.TwoPass = false;
  task->Outputs.push_back({fileName, first});
  TOutputOptions second = options;
  second.TwoPass = false;
  second.ExtraOptions += "\npass=2\npasslogfile=" + task->StatsPrefix + "\n";
  return second;
}

bool TFFEncoder::StartFirstPass(int taskIndex) {
  const auto found = TwoPass_.find(taskIndex);
  if (found == TwoPass_.end()) return false;
  TTwoPassTask& task = *found->second;
  auto* engine = static_cast<TFFmpeg*>(Tasks_.Items(taskIndex));
  // A task refused at its set-up is refused as it is, without a first pass.
  if (!engine->SetupError.empty()) return false;

  task.TrellisByFirstPass = !task.Outputs.empty();
  for (const auto& [fileName, options] : task.Outputs)
    task.TrellisByFirstPass = task.TrellisByFirstPass &&
                              QualityClassTrellisByFirstPass(
                                  options.Quality, VideoEncoderName(*engine), options.ExtraOptions);
  std::string failure;
  std::unique_ptr<TFFmpeg> first = OpenTaskInput(task.InputName, task.Input.get());
  if (!first) failure = LastError_;
  for (std::size_t slot = 0; slot < task.Outputs.size(); ++slot) {
    if (!first) break;
    const auto& [fileName, options] = task.Outputs[slot];
    TOutputOptions record = options;
    // The first pass must see the pictures the second will: the null muxer would take them
    // at a variable rate, where the real output repeats pictures over a gap in the input,
    // and the second pass would then have more pictures than the statistics.
    if (record.VideoSync < 0 && slot < engine->OutputFiles.size() && engine->OutputFiles[slot] &&
        engine->OutputFiles[slot]->oformat)
      record.VideoSync = engine->OutputFiles[slot]->oformat->flags & AVFMT_VARIABLE_FPS ? 2 : 1;
    // No file and no hooks: the first pass only watches the pictures go by.
    record.FileName.clear();
    record.FileFormat = "null";
    record.AudioHook = record.VideoInputHook = record.VideoOutputHook = false;
    record.ExtraOptions += "\npass=1\npasslogfile=" + task.StatsPrefix + "\n";
    // Measured without trellis quantisation: a fifth less time, and the second pass's plan
    // from it gave a pan 0.1 dB more.
    if (task.TrellisByFirstPass) record.ExtraOptions += "trellis=0\n";
    if (!AddTaskOutput(*first, task.StatsPrefix + ".null", &record) || !first->SetupError.empty())
      failure = first->SetupError.empty() ? LastError_ : first->SetupError;
  }
  if (!failure.empty()) {
    engine->SetupError = "the first of two passes could not be set up: " + failure;
    return false;  // the task's own start is refused with that
  }
  // The second pass tells of an option no part of the task used; the null muxer of the first
  // takes none of a disc muxer's ("muxrate"), which is no news.
  std::fill(first->OptionContexts.PrivateUsed.begin(), first->OptionContexts.PrivateUsed.end(),
            true);
  first->SetPreviewFlags(0);
  first->ProgressInterval = std::int64_t(ProgressInterval_) * 1000;
  first->OnProgress = [this, taskIndex](TCustomFFmpeg*, TProgressInfo* info) {
    TProgressInfo shown = *info;
    ShowPassProgress(shown, 1);
    std::lock_guard lock(ProgressLock_);
    if (!OnProgress) return;
    ProgressInfo_ = shown;
    ProgressInfo_.TaskIndex = taskIndex;
    DeliverProgress();
  };
  first->OnTerminate = [this, taskIndex](TCustomFFmpeg* sender) {
    FirstPassEnded(taskIndex, sender);
  };
  TFFmpeg* started = first.get();
  {
    std::lock_guard lock(task.Lock);
    if (task.StopAsked) {
      first.reset();
      engine->Stop(false);  // its end notice, unless the stop gave it already
      return true;
    }
    task.FirstPass = std::move(first);
  }
  if (started->Start(Threaded_, ThreadPriority)) {
    started->Resume();
    if (Paused_) started->Pause();
  }
  return true;
}

void TFFEncoder::FirstPassEnded(int taskIndex, TCustomFFmpeg* firstPass) {
  TTwoPassTask& task = *TwoPass_.at(taskIndex);
  TCustomFFmpeg* engine = Tasks_.Items(taskIndex);
  bool stopped;
  {
    std::lock_guard lock(task.Lock);
    stopped = task.StopAsked;
  }
  if (firstPass->ErrorFlag) {
    RemovePassStats(task.StatsPrefix);
    std::string reason = "the first of two passes failed: " + firstPass->ErrorMessage;
    if (!firstPass->LibraryError.empty())
      reason += "; the media libraries said: " + firstPass->LibraryError;
    engine->SetupError = reason;
    engine->Start(Threaded_, ThreadPriority);  // refused: reports the task's end with it
    return;
  }
  if (stopped || !firstPass->Finished) {
    RemovePassStats(task.StatsPrefix);
    engine->Stop(false);  // ends the task unstarted: nothing was written
    return;
  }
  if (task.TrellisByFirstPass) LeaveTrellisToFirstPass(task, *engine);
  // Without threads the second pass runs in this call, and its end notice may free the task:
  // nothing follows it then.
  const bool threaded = Threaded_;
  if (engine->Start(threaded, ThreadPriority)) {
    engine->Resume();
    if (Paused_) engine->Pause();
  } else if (threaded && engine->Terminated) {
    RemovePassStats(task.StatsPrefix);  // stopped in between: it will not read them
  }
}

void TFFEncoder::LeaveTrellisToFirstPass(const TTwoPassTask& task, TCustomFFmpeg& secondPass) {
  const double quantiser = MeanPassQuantiser(task.StatsPrefix);
  if (quantiser <= 0 || TrellisSuitsQuantiser(quantiser)) return;
  for (const auto& table : secondPass.OutputStreamTables)
    for (const auto& ost : table)
      if (ost && ost->EncoderContext && !ost->StreamCopy &&
          ost->EncoderContext->codec_type == AVMEDIA_TYPE_VIDEO)
        ost->EncoderContext->trellis = 0;
  secondPass.LogFmt(llVerbose,
                    "Quality best: trellis=0 (the first pass's mean quantiser %.2f is fine enough "
                    "for the rate; trellis would leave part of it unspent)",
                    quantiser);
}

void TFFEncoder::ShowPassProgress(TProgressInfo& info, int pass) const {
  info.Pass = pass;
  if (pass == 0 || info.TotalDuration <= 0) return;
  const double total = double(info.TotalDuration);
  const double done = std::clamp(double(info.CurrentDuration), 0.0, total);
  const double share =
      pass == 1 ? done * kFirstPassShare : total * kFirstPassShare + done * (1 - kFirstPassShare);
  info.CurrentDuration = std::int64_t(share);
}

void TFFEncoder::StopFirstPass(int taskIndex, bool wait) {
  const auto found = TwoPass_.find(taskIndex);
  if (found == TwoPass_.end()) return;
  TTwoPassTask& task = *found->second;
  TFFmpeg* first;
  {
    std::lock_guard lock(task.Lock);
    task.StopAsked = true;
    first = task.FirstPass.get();
  }
  // Its end notice, on whichever thread, ends the task without a second pass.
  if (first) first->Stop(wait);
}

void TFFEncoder::PauseFirstPasses(bool pause) {
  for (auto& [index, task] : TwoPass_) {
    std::lock_guard lock(task->Lock);
    if (!task->FirstPass) continue;
    if (pause)
      task->FirstPass->Pause();
    else
      task->FirstPass->Resume();
  }
}

void TFFEncoder::ClearTwoPassTasks() {
  for (auto& [index, task] : TwoPass_) {
    std::unique_ptr<TFFmpeg> first;
    {
      std::lock_guard lock(task->Lock);
      first = std::move(task->FirstPass);
    }
    first.reset();  // waits for a first pass still winding down
    RemovePassStats(task->StatsPrefix);
  }
  TwoPass_.clear();
}

std::int64_t TFFEncoder::TaskStartMicros(int taskIndex) const {
  if (const auto found = TwoPass_.find(taskIndex); found != TwoPass_.end()) {
    std::lock_guard lock(found->second->Lock);
    if (const TFFmpeg* first = found->second->FirstPass.get(); first && first->RunStarted)
      return first->RunStartMicros;
  }
  const TCustomFFmpeg* engine = Tasks_.Items(taskIndex);
  return engine->RunStarted ? engine->RunStartMicros.load() : 0;
}

}  // namespace tovamo
