#include "ConvertRun.h"

#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "Authoring/DiscAuthor.h"
#include "BatchPlan.h"
#include "Components/CodecThreads.h"
#include "CommandLog.h"
#include "CommandProfile.h"
#include "H264Profile.h"
#include "Components/FFEncode.h"
#include "Components/OutputOptionPasses.h"
#include "Components/Leftovers.h"
#include "Components/TemporaryOutput.h"
#include "DiscStep.h"
#include "Engine/InputNorm.h"
#include "OutputFolder.h"
#include "ProfileOptions.h"
#include "ProgressDisplay.h"
#include "SampleClip.h"
#include "Services/Clock.h"
#include "Services/FFLog.h"
#include "Services/MainThread.h"
#include "Services/Text.h"
#include "StopSignals.h"
#include "TitleTracks.h"
#include "Version.h"

namespace tovamo::cli {

namespace {

namespace fs = std::filesystem;

void PrintError(const std::string& message) {
  std::fprintf(stderr, "tovamo-convert: %s\n", message.c_str());
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

std::string SignalName(int signal) {
  return signal == SIGINT ? "Ctrl-C" : signal == SIGHUP ? "SIGHUP" : "SIGTERM";
}

// The outcome of one input, for its closing line.
struct TOutcome {
  bool Completed = false;
  bool EndedEarly = false;   // completed, from an input shorter than it said
  std::string Reason;        // why it was cancelled
  std::string Figures;       // its time, rate and output size, once it ran
  bool EarlierKept = false;  // not completed, and an earlier output of its name stays
  std::string LeftOut = {};  // completed without this ("the video"): none of it converted
};

class TConvertRun {
 public:
  explicit TConvertRun(const TConvertArgs& args) : Args_(args) {}

  int Run() {
    if (!Args_.Profile.empty() && !ChooseProfile()) return 2;
    if (Args_.Mp4Target) {
      TCommandProfile phone{kPhone720ProfileName, ProfileValuesOf(kPhone720FormatString),
                            Args_.AspectRatio.empty() ? "Auto" : Args_.AspectRatio};
      Profile_ = std::move(phone);
    }
    TargetType_ = Profile_ ? TargetTypeOfProfile(Profile_->Name) : Args_.TargetType;
    if (const std::string problem = DiscOptionsProblem(Args_, TargetType_); !problem.empty()) {
      PrintError(problem);
      std::fputs(UsageText().c_str(), stderr);
      return 2;
    }
    if (const std::string problem = LogProblem(); !problem.empty()) {
      PrintError(problem);
      std::fputs(UsageText().c_str(), stderr);
      return 2;
    }
    if (const std::string problem = OutputFolderProblem(Args_.OutputFolder); !problem.empty()) {
      PrintError(problem);
      return 1;
    }
    if (const std::string problem = Log_.Start(Args_.LogFile, Args_.Verbose, Args_.Arguments);
        !problem.empty()) {
      PrintError(problem);
      return 1;
    }
    SetMainThread();
    if (!Encoder_.LoadLibraries(MediaLibraryFolder())) {
      PrintError("cannot load the media libraries: " + Encoder_.LastError());
      return 1;
    }
    if (Profile_)
      if (const std::string problem = H264EncoderProblem(Profile_->Name, Profile_->Values.Codec);
          !problem.empty()) {
        PrintError(problem + "; nothing was converted");
        return 1;
      }
    if (const std::string error = OutputOptionTextError(JoinLines(Args_.Options)); !error.empty()) {
      PrintError("--option: " + error);
      std::fputs(UsageText().c_str(), stderr);
      return 2;
    }
    // Checked before converting: finding out only after an hour of it would waste the hour.
    if (const std::string problem = DiscImageProblem(Args_, TargetType_); !problem.empty()) {
      PrintError("--disc: " + problem);
      return 1;
    }
    std::vector<std::string> inputs = Args_.Files;
    if (inputs.empty()) {
      try {
        Sample_ = std::make_unique<TGeneratedSample>();
      } catch (const std::exception& e) {
        PrintError(std::string("cannot make the sample: ") + e.what());
        return 1;
      }
      inputs.push_back(Sample_->Path());
    }
    Plan_ = PlanOutputs(Args_.OutputFolder, inputs, OutputExtension());
    Outcomes_.resize(Plan_.size());
    if (Sample_)
      std::printf("No file given: converting a generated %d-second sample into %s\n",
                  TSampleSpec{}.Seconds, Plan_[0].Output.c_str());
    for (const TPlannedInput& item : Plan_)
      if (!item.TakenOutput.empty())
        std::printf("%s -> %s (%s is taken by an earlier input)\n", item.Input.c_str(),
                    item.Output.c_str(), item.TakenOutput.c_str());
    RemoveLeftoversOfEndedRuns();
    std::fflush(stdout);

    if (!AddTasks()) return 1;
    if (!Tasks_.empty() && !ReceivedStopSignal()) RunBatch();
    const int status = Finish();
    if (Args_.DiscImage.empty()) {
      // Without an image the fill is told from the files; with one, by the image itself.
      if (status == 0 && !Args_.DiscSize.empty()) {
        std::vector<std::string> outputs;
        for (const TPlannedInput& item : Plan_) outputs.push_back(item.Output);
        std::printf("%s\n", DescribeOutputsFill(Args_, TargetType_, outputs).c_str());
        std::fflush(stdout);
      }
      return status;
    }
    if (status != 0) {
      if (status == 1) PrintError("no disc image: not every file was converted");
      return status;
    }
    std::vector<authoring::TDvdTitle> titles;
    for (std::size_t i = 0; i < Plan_.size(); ++i)
      titles.push_back(
          {Plan_[i].Output, InputSeconds_[i],
           authoring::MenuTitleName(i < Args_.Titles.size() ? Args_.Titles[i] : "", Plan_[i].Input),
           TitleTracks_[i].AudioLanguages, TitleTracks_[i].Subtitles});
    return MakeDiscImage(Args_, TargetType_, titles, DiscNorm_, ExpectedShare_);
  }

 private:
  std::string OutputExtension() const {
    return Profile_ ? OutputExtensionForCodec(Profile_->Values.Codec) : ".mpg";
  }

  // Why --log names a file the log must not go to, checked before anything is written.
  std::string LogProblem() const {
    if (Args_.LogFile.empty()) return {};
    // Without files the generated sample is converted: its output is named like the others.
    const std::vector<std::string> inputs =
        Args_.Files.empty() ? std::vector<std::string>{"tovamo-sample.nut"} : Args_.Files;
    std::vector<std::string> outputs;
    for (const TPlannedInput& item : PlanOutputs(Args_.OutputFolder, inputs, OutputExtension()))
      outputs.push_back(item.Output);
    std::vector<std::string> images;
    if (!Args_.DiscImage.empty()) {
      images.push_back(Args_.DiscImage);
      if (LowerCaseAscii(fs::path(Args_.DiscImage).extension().string()) == ".cue")
        images.push_back(authoring::BinPathOf(Args_.DiscImage));
    }
    return LogFileRefusal(Args_.LogFile, Args_.Files, outputs, images);
  }

  // What runs that ended abruptly (killed, a crash, a lost terminal) left in the folders
  // this run writes to: their owners are gone, so nothing else will remove them.
  void RemoveLeftoversOfEndedRuns() {
    std::set<std::string> folders;
    for (const TPlannedInput& item : Plan_) folders.insert(fs::path(item.Output).parent_path());
    for (const std::string& folder : folders)
      for (const std::string& path : RemoveLeftovers(folder))
        std::printf("Removed %s, left by a run that ended abruptly\n", path.c_str());
  }

  // The --profile of the store beside the program; false (after saying why) when the store
  // cannot be read, the name is unknown or its values cannot become options.
  bool ChooseProfile() {
    const TStoreRead store = ReadProfileStore(ProfileStorePath());
    if (!store.Error.empty()) {
      PrintError(store.Error);
      return false;
    }
    TProfileChoice choice =
        ChooseCommandProfile(store.Profiles, Args_.Profile, Args_.AspectRatio, Args_.OutputFolder);
    if (!choice.Profile) {
      PrintError(choice.Error);
      return false;
    }
    Profile_ = std::move(choice.Profile);
    return true;
  }

  // False when the batch must not start: with --disc-size, it does not fit on the disc.
  bool AddTasks() {
    int convertible = 0;
    for (const TPlannedInput& item : Plan_) convertible += item.Refusal.empty();
    const int cores = ProcessorCores();
    Running_ = TasksAtOnce(Args_.Jobs, cores, convertible);
    const int threads =
        CodecThreadsPerTask(cores, Running_, OptionValue(Args_.Options, "threads").has_value());

    // The decoder is opened with the input, so the threads go into the input's options too;
    // the user's own "threads" line reaches both the same way.
    TInputOptions inputOptions;
    if (threads > 0)
      inputOptions.ExtraOptions = "threads=" + std::to_string(threads);
    else if (const auto user = OptionValue(Args_.Options, "threads"))
      inputOptions.ExtraOptions = "threads=" + *user;
    std::vector<std::string> optionLines = Args_.Options;
    if (threads > 0) optionLines.push_back("threads=" + std::to_string(threads));

    // Every input is opened first: fitting the bit rate to a disc needs all their lengths.
    std::vector<std::pair<std::size_t, int>> opened;  // input, encoder task
    InputSeconds_.assign(Plan_.size(), 0);
    double totalSeconds = 0;
    int soundTracks = 1;  // of the title with the most
    for (std::size_t i = 0; i < Plan_.size(); ++i) {
      const TPlannedInput& item = Plan_[i];
      if (!item.Refusal.empty()) {
        Cancel(i, "refused: " + item.Refusal);
        continue;
      }
      const TThreadLogSource source(item.Input);  // the lines about its open
      const int task = Encoder_.AddTask(item.Input, &inputOptions);
      if (task < 0) {
        Cancel(i, "cannot open: " + Encoder_.LastError());
        continue;
      }
      opened.push_back({i, task});
      const AVFormatContext* context = Encoder_.InputContext(task, 0);
      InputSeconds_[i] = context && context->duration > 0 ? double(context->duration) / 1e6 : 0;
      totalSeconds += InputSeconds_[i];
      if (context)
        soundTracks = std::max(soundTracks, OutputSoundTracks(*context, Args_, TargetType_));
    }
    if (!Args_.DiscSize.empty()) {
      for (const auto& [i, task] : opened)
        if (InputSeconds_[i] <= 0) {
          PrintError("--disc-size: the length of " + Label(i) +
                     " is not known, so the batch cannot be fitted to the disc");
          return false;
        }
      const TDiscFitPlan fit =
          PlanDiscFit(Args_, TargetType_, totalSeconds, int(opened.size()), soundTracks);
      std::printf("%s\n", fit.Line.c_str());
      std::fflush(stdout);
      if (!fit.Fits) {
        PrintError("nothing converted: the batch does not fit on the disc");
        return false;
      }
      optionLines.insert(optionLines.begin(), fit.OptionLines.begin(), fit.OptionLines.end());
      TwoPass_ = fit.TwoPass;
      ExpectedShare_ = fit.ImageShare;
    }
    PlanNorm(opened);

    for (const auto& [i, task] : opened) {
      const TPlannedInput& item = Plan_[i];
      const TThreadLogSource source(item.Input);  // the engine's lines about its settings
      TOutputOptions options;
      if (Profile_) {
        options = ProfileTaskOptions(*Profile_, Args_.OutputFolder, item.Input, item.Output);
      } else {
        options.TargetType = Args_.TargetType;
        options.NormType = Args_.NormType;
        options.AspectRatio = Args_.AspectRatio;
      }
      if (DiscNorm_) options.NormType = DiscNorm_;
      options.Quality = Args_.Quality;
      options.ExtraOptions += JoinLines(optionLines);
      if (const AVFormatContext* context = Encoder_.InputContext(task, 0))
        TitleTracks_[i] = ChooseTitleTracks(
            *context, item.Input, Args_, TargetType_,
            !options.AudioCodec.empty() ? options.AudioCodec
                                        : OptionValue(Args_.Options, "acodec").value_or("ac3"));
      options.ExtraOptions += JoinLines(TitleTracks_[i].OptionLines);
      options.TwoPass = options.TwoPass || TwoPass_;
      TaskInput_[task] = i;
      TTaskState state;
      state.Input = Label(i);
      state.Output = item.Output;
      Tasks_.push_back(std::move(state));
      // Written under a temporary name until the task ends, so that a failure never
      // destroys an earlier output. A refused output fails its task when the task starts.
      const std::string temporary = OutputWritePath(item.Output);
      if (!options.FileName.empty()) options.FileName = temporary;
      Temporaries_[task] = temporary;
      Encoder_.SetOutputFile(task, temporary, &options);
    }
    return true;
  }

  // The one norm of a disc's titles, told before converting.
  void PlanNorm(const std::vector<std::pair<std::size_t, int>>& opened) {
    std::vector<TInputNorm> norms;
    for (const auto& [i, task] : opened)
      norms.push_back({Label(i), InputNormType(Encoder_.InputContext(task, 0))});
    const TDiscNormPlan plan = PlanDiscNorm(
        Args_, TargetType_, Profile_ ? NormTypeOfProfile(Profile_->Name) : Args_.NormType, norms);
    DiscNorm_ = plan.NormType;
    if (plan.Line.empty()) return;
    std::printf("%s\n", plan.Line.c_str());
    std::fflush(stdout);
  }

  void RunBatch() {
    // Progress on standard error, as other Unix tools show it: standard output carries the
    // result lines alone, for a pipe or a file to take.
    Display_ = MakeProgressDisplay(stderr);
    Encoder_.OnProgress = [this](TFFEncoder*, TProgressInfo* info) {
      if (info->TaskIndex < 0 || info->TaskIndex >= int(Tasks_.size())) return;
      TTaskState& task = Tasks_[std::size_t(info->TaskIndex)];
      // A report without a picture count (the sound's, or one before the first picture is
      // out) keeps the count already known: the closing rate is worked out from it.
      const int frames = task.HasProgress ? task.Progress.FrameNumber : -1;
      task.Progress = *info;
      if (task.Progress.FrameNumber < 0) task.Progress.FrameNumber = frames;
      task.HasProgress = true;
    };
    // Termination notices come on delivery threads: everything about them is done on the
    // main thread, in the order they were queued.
    Encoder_.OnTerminate = [this](TFFEncoder*, const TTerminateInfo& info) {
      PostToMainThread([this, info] { TaskEnded(info); });
    };

    Encoder_.StartTask(Running_);

    while (!BatchDone()) {
      WaitAndServeMainThreadQueue(100);
      NoteStartedTasks();
      if (const int signal = ReceivedStopSignal(); signal && !Stopped_) {
        Stopped_ = signal;
        Display_->Finish();
        std::fprintf(stderr, "tovamo-convert: stopping, finishing the outputs already started%s\n",
                     signal == SIGINT ? " (Ctrl-C again, a second from now, ends at once)" : "");
        Encoder_.Stop(true);
      }
      Display_->Show(Tasks_, MonotonicMicros());
    }
    Display_->Finish();
    // The handlers stay: a delivery thread may still be returning from one, and the
    // encoder clears them itself, safely, when it goes.
    try {
      Encoder_.ClearTasks();
    } catch (const std::exception&) {
      // Still winding down: the encoder frees its tasks when it goes.
    }
  }

  // The encoder starts each task when a slot frees: the display learns it from the task.
  void NoteStartedTasks() {
    const std::int64_t now = MonotonicMicros();
    for (std::size_t i = 0; i < Tasks_.size(); ++i) {
      TTaskState& task = Tasks_[i];
      if (task.Started) continue;
      // The task's own start (its first pass's, in two passes): it may begin and end
      // between two looks.
      const std::int64_t started = Encoder_.TaskStartMicros(int(i));
      if (started <= 0) continue;
      task.Started = true;
      task.StartMicros = std::min<std::int64_t>(started, now);
    }
  }

  void TaskEnded(const TTerminateInfo& info) {
    if (info.TaskIndex < 0) {
      BatchEndAnnounced_ = true;
      return;
    }
    if (info.TaskIndex >= int(Tasks_.size())) return;
    NoteStartedTasks();
    TTaskState& task = Tasks_[std::size_t(info.TaskIndex)];
    task.Ended = true;
    task.EndMicros = MonotonicMicros();
    task.Completed = info.Finished && !info.Failed;
    task.Failed = info.Failed;
    ++EndedCount_;
    EndedEarly_[info.TaskIndex] = info.InputEndedEarly;
    LeftOut_[info.TaskIndex] = info.Finished ? info.LeftOut : std::string();
    std::string& reason = Reasons_[info.TaskIndex];
    if (info.Failed) {
      reason = info.ErrorMessage.empty() ? "failed" : info.ErrorMessage;
      if (!info.LibraryError.empty()) reason += "; the media libraries said: " + info.LibraryError;
      // The engine knows the output by its temporary name; the user by the final one.
      if (const auto temporary = Temporaries_.find(info.TaskIndex); temporary != Temporaries_.end())
        reason =
            NameFinalOutput(reason, temporary->second, Plan_[TaskInput_[info.TaskIndex]].Output);
    } else if (!info.Finished && Stopped_) {
      reason = (task.Started ? "stopped by " : "not started: stopped by ") + SignalName(Stopped_);
    } else if (!info.Finished) {
      reason = "stopped";
    }
    SettleOutput(info.TaskIndex, info.Failed     ? TTaskEnd::Failed
                                 : info.Finished ? TTaskEnd::Completed
                                                 : TTaskEnd::Stopped);
  }

  void SettleOutput(int task, TTaskEnd end) {
    const auto temporary = Temporaries_.find(task);
    if (temporary == Temporaries_.end()) return;
    bool earlierKept = false;
    const std::string error =
        SettleTemporaryOutput(temporary->second, Plan_[TaskInput_[task]].Output, end, &earlierKept);
    Temporaries_.erase(temporary);
    EarlierKept_[task] = earlierKept;
    if (error.empty()) return;
    if (Display_) Display_->Finish();  // the message goes where the live lines were
    PrintError(Label(TaskInput_[task]) + ": " + error);
    if (end != TTaskEnd::Failed) Tasks_[std::size_t(task)].Completed = false;
    Reasons_[task] = error;
  }

  // The end of the batch is announced after the last task's notice; the count guards the
  // order anyway, and a notice that never comes does not hang the command.
  bool BatchDone() {
    if (!BatchEndAnnounced_) return false;
    if (EndedCount_ >= int(Tasks_.size())) return true;
    if (!AnnouncedAt_) AnnouncedAt_ = MonotonicMicros();
    return MonotonicMicros() - AnnouncedAt_ > 5000000;
  }

  void Cancel(std::size_t input, const std::string& reason) {
    Outcomes_[input] = {false, false, reason, {}};
    PrintError(Label(input) + ": " + reason);
  }

  // How an input is shown: the generated sample lives in a temporary folder that is gone
  // when the command ends, so it is not shown by that path.
  std::string Label(std::size_t input) const {
    return Sample_ ? "generated sample" : Plan_[input].Input;
  }

  int Finish() {
    const int signal = ReceivedStopSignal();
    // A task without an end notice has stopped: what it wrote takes its name all the same.
    while (!Temporaries_.empty()) SettleOutput(Temporaries_.begin()->first, TTaskEnd::Stopped);
    for (const auto& [task, input] : TaskInput_) {
      const TTaskState& state = Tasks_[std::size_t(task)];
      TOutcome& outcome = Outcomes_[input];
      outcome.Completed = state.Completed;
      outcome.EndedEarly = EndedEarly_[task];
      outcome.EarlierKept = !state.Completed && EarlierKept_[task];
      outcome.LeftOut = LeftOut_[task];
      outcome.Reason = Reasons_[task];
      // A failed task's reason is the news; how fast it went until then is not.
      if (!state.Failed) outcome.Figures = FinalFigures(state);
      if (!state.Ended)
        outcome.Reason = signal ? "not started: stopped by " + SignalName(signal)
                                : "no end notice from the encoder";
    }
    bool allCompleted = true;
    for (std::size_t i = 0; i < Plan_.size(); ++i) {
      const TOutcome& outcome = Outcomes_[i];
      const bool early = outcome.Completed && outcome.EndedEarly;
      const bool partial = outcome.Completed && !outcome.LeftOut.empty();
      allCompleted = allCompleted && outcome.Completed && !((early || partial) && Args_.Strict);
      std::string result = !outcome.Completed ? "Cancelled (" + outcome.Reason + ")"
                           : partial          ? "Completed without " + outcome.LeftOut +
                                           " (none of it could be converted" +
                                           (early ? "; input ended early)" : ")")
                           : early ? "Completed (input ended early)"
                                   : "Completed";
      if (!outcome.Figures.empty())
        result += (outcome.Completed ? " in " : " after ") + outcome.Figures;
      if (outcome.EarlierKept) result += "; the earlier file was kept";
      std::printf("%s -> %s: %s\n", Label(i).c_str(), Plan_[i].Output.c_str(), result.c_str());
    }
    std::fflush(stdout);
    if (signal) return 128 + signal;
    return allCompleted ? 0 : 1;
  }

  const TConvertArgs& Args_;
  TCommandLog Log_;  // before the encoder: it outlives every line the encoder logs
  std::optional<TCommandProfile> Profile_;
  TFFEncoder Encoder_;
  std::unique_ptr<TGeneratedSample> Sample_;
  std::vector<TPlannedInput> Plan_;
  std::vector<TOutcome> Outcomes_;        // per input
  std::vector<TTaskState> Tasks_;         // per encoder task
  std::map<int, std::size_t> TaskInput_;  // encoder task -> input
  std::map<int, std::string> Reasons_;
  std::map<int, std::string> Temporaries_;  // encoder task -> its output's temporary name
  std::map<int, bool> EndedEarly_;
  std::map<int, bool> EarlierKept_;  // encoder task -> its stop or failure left the earlier file
  std::map<int, std::string> LeftOut_;
  std::unique_ptr<TProgressDisplay> Display_;
  int Running_ = 1;
  int TargetType_ = 0;                // of every output: the target's or the profile's
  int DiscNorm_ = 0;                  // of every output, chosen for its disc; 0: each its own
  bool TwoPass_ = false;              // every output in two passes (fitted to a disc)
  double ExpectedShare_ = 0;          // of the disc, by the fit
  std::vector<double> InputSeconds_;  // per input, 0 when not known
  std::map<std::size_t, TTitleTracks> TitleTracks_;  // per input: its sound tracks and subtitles
  int EndedCount_ = 0;
  int Stopped_ = 0;  // the signal that stopped the batch
  bool BatchEndAnnounced_ = false;
  std::int64_t AnnouncedAt_ = 0;
};

}  // namespace

int RunConvert(const TConvertArgs& args) {
  return TConvertRun(args).Run();
}

}  // namespace tovamo::cli
