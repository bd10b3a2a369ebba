// Convert, stop, pause and resume; the encoder's notifications shown in the list, the status
// bar and the Log tab; the control states; closing the window.
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStyle>
#include <QTextBlock>
#include <QTreeWidget>

#include "BatchFigures.h"
#include "Components/CodecThreads.h"
#include "Components/Leftovers.h"
#include "Components/OutputNames.h"
#include "ConverterWindow.h"
#include "ErrorDisplay.h"
#include "H264Profile.h"
#include "ProfileOptions.h"
#include "Services/LogFormat.h"

namespace tovamo {
namespace {

// The output a row's last conversion completed, for "Play Output".
constexpr int kOutputFileRole = Qt::UserRole + 50;

void Enable(const std::vector<QAction*>& actions, bool on) {
  for (QAction* action : actions) action->setEnabled(on);
}

}  // namespace

// ---- Handlers ----------------------------------------------------------------------------

void TForm1::AttachHandlers() {
  FFEncoder.OnProgress = [this](TFFEncoder*, TProgressInfo* info) { FFEncoderProgress(*info); };
  // Termination notices come on delivery threads: each is handed to the window's thread,
  // tagged with its batch so that a late notice never touches the rows of a newer batch.
  const int batch = Batch_;
  FFEncoder.OnTerminate = [this, batch](TFFEncoder*, const TTerminateInfo& info) {
    QMetaObject::invokeMethod(
        this, [this, batch, info] { FFEncoderTerminate(batch, info); }, Qt::QueuedConnection);
  };
  // The video input hook is connected to nothing the window does.
  DefaultLogger()->SetOnLog(
      [this](void*, std::uint32_t threadId, TLogLevel level, const std::string& message) {
        FFLoggerLog(threadId, level, message);
      });
}

void TForm1::DetachHandlers() {
  FFEncoder.DetachHandlers();
  DefaultLogger()->SetOnLog(nullptr);
}

void TForm1::FFLoggerLog(std::uint32_t threadId, TLogLevel level, const std::string& message) {
  LogLine(QString::fromStdString(FormatLogLine(threadId, level, message)));
}

QTreeWidgetItem* TForm1::RowOfTask(int taskIndex) const {
  if (taskIndex < 0 || std::size_t(taskIndex) >= TaskRows_.size()) return nullptr;
  return listview1->topLevelItem(TaskRows_[std::size_t(taskIndex)]);
}

void TForm1::FFEncoderProgress(const TProgressInfo& info) {
  QTreeWidgetItem* row = RowOfTask(info.TaskIndex);
  if (!row) return;
  row->setText(fcProgress,
               QString::fromStdString(ProgressCellText(info.CurrentDuration, info.TotalDuration)));
  if (info.FPS > 0) row->setText(fcFPS, QString::number(info.FPS));
  row->setText(fcUsedTime, QString::fromStdString(HoursMinutesSeconds(ElapsedSeconds_)));
  row->setText(fcOutputSize, QString::number(info.CurrentSize));
  ShowOverallProgress();
}

int TForm1::OverallFigure() const {
  // The rows of the batch alone: an unchecked row never moves, and would hold it back.
  std::vector<TRowFigure> rows;
  for (const int index : readyidListBox)
    if (const QTreeWidgetItem* row = listview1->topLevelItem(index))
      rows.push_back({row->text(fcFileSize).toLongLong(), row->text(fcProgress).toStdString()});
  return OverallPercent(rows);
}

void TForm1::ShowOverallProgress() {
  // While paused the status bar keeps saying so; a report under way does not undo it.
  if (FFEncoder.Paused()) return;
  const int percent = OverallFigure();
  if (percent < 0) return;
  StatusText->setText(QString("  Converting..%1 % Completed").arg(percent));
  OverallBar->setValue(percent);
}

void TForm1::MarkFailedRow(QTreeWidgetItem* row, const QString& reason) {
  row->setIcon(fcProgress, style()->standardIcon(QStyle::SP_MessageBoxCritical));
  row->setToolTip(fcProgress, reason);
}

void TForm1::ShowBatchSummary() {
  if (BatchTold_ || BatchCompleted_ + BatchFailed_ + BatchStopped_ < BatchRows_) return;
  BatchTold_ = true;
  BatchSummary->setText(QString("%1 completed, %2 failed, %3 stopped")
                            .arg(BatchCompleted_)
                            .arg(BatchFailed_)
                            .arg(BatchStopped_));
  if (OnBatchEnded)
    OnBatchEnded(BatchCompleted_, BatchFailed_, BatchStopped_, Edit1->text().trimmed());
}

void TForm1::FFEncoderTerminate(int batch, const TTerminateInfo& info) {
  if (batch != Batch_) return;
  if (info.TaskIndex < 0) {
    FFEncoder.ClearTasks();
    ReadyState();
    TellDiscFill();
    ShowBatchSummary();
    return;
  }
  if (QTreeWidgetItem* row = RowOfTask(info.TaskIndex)) {
    // A completed job that left a stream out says so: a file with sound alone is not what
    // was asked for.
    const QString leftOut = QString::fromStdString(info.LeftOut);
    row->setText(fcProgress, !info.Finished      ? QString("Cancelled")
                             : leftOut.isEmpty() ? QString("Completed")
                                                 : "Completed without " + leftOut);
    if (info.Finished && !leftOut.isEmpty())
      LogLine(QString("***%1: completed without %2: none of it could be converted")
                  .arg(row->text(fcInput), leftOut));
    const TTaskEnd end = info.Failed     ? TTaskEnd::Failed
                         : info.Finished ? TTaskEnd::Completed
                                         : TTaskEnd::Stopped;
    bool earlierKept = false;
    const QString settleError = SettleOutput(info.TaskIndex, end, &earlierKept);
    // Outputs are made when their task starts: a failure there, or a job that wrote
    // nothing, is only known now, and the row says why.
    QString reason;
    if (info.Failed) {
      std::string message = info.ErrorMessage;
      if (!info.LibraryError.empty()) message += " (" + info.LibraryError + ")";
      // The engine knows the output by its temporary name; the user by the final one.
      if (std::size_t(info.TaskIndex) < TaskOutputs_.size())
        message = NameFinalOutput(message, TaskOutputs_[std::size_t(info.TaskIndex)].Temporary,
                                  TaskOutputs_[std::size_t(info.TaskIndex)].Final);
      reason = QString::fromStdString(message);
    } else if (!settleError.isEmpty()) {
      reason = settleError;
    }
    if (reason.isEmpty() && end == TTaskEnd::Completed)
      row->setData(fcInput, kOutputFileRole,
                   QString::fromStdString(TaskOutputs_[std::size_t(info.TaskIndex)].Final));
    const bool failed = !reason.isEmpty();
    // A stop or a failure never replaces an earlier output: the row says it is still there.
    if (earlierKept) reason += QString(failed ? "\n" : "") + "Cancelled; the earlier file was kept";
    if (failed) {
      MarkFailedRow(row, reason);
      LogLine(QString("***%1: %2").arg(row->text(fcInput), reason));
      ++BatchFailed_;
    } else {
      row->setToolTip(fcProgress, reason);
      if (earlierKept) LogLine(QString("%1: %2").arg(row->text(fcInput), reason));
      ++(end == TTaskEnd::Completed ? BatchCompleted_ : BatchStopped_);
    }
    ShowBatchSummary();
  }
  if (RemainingTasks_ > 0 && --RemainingTasks_ == 0) {
    QApplication::processEvents();
    ReadyState();
  }
  ApplyRowStates();
}

// ---- Convert -----------------------------------------------------------------------------

void TForm1::ConvertClick() {
  if (Converting_) return;
  const QString folder = Edit1->text().trimmed();
  if (!OutputFolderReady(folder)) return;
  RememberOutputFolder();
  if (CurrentProfileIndex() < 0) {
    ShowMessage("There is no output profile to convert to.");
    return;
  }
  if (const QString reason = ProfileUnusableReason(CurrentProfileIndex()); !reason.isEmpty()) {
    ShowMessage(reason);
    return;
  }
  // A profile whose values cannot become options stops here, before anything changes.
  try {
    ProfileOptions("input.avi");
  } catch (const std::exception& e) {
    ShowErrorDisplay(QString::fromUtf8(e.what()));
    return;
  }
  if (DiscRun_ || !BeginDiscBatch()) return;

  // The batch's outputs are known before anything changes: existing ones are asked about.
  std::vector<std::string> inputs;
  for (int i = 0; i < listview1->topLevelItemCount(); ++i)
    if (listview1->topLevelItem(i)->checkState(fcInput) == Qt::Checked)
      inputs.push_back(listview1->topLevelItem(i)->text(fcInput).toStdString());
  const std::vector<TBatchOutputName> outputs = NameBatchOutputs(
      folder.toStdString(), inputs, OutputExtensionForCodec(VideoCodecValue->text().toStdString()));
  if (!ConfirmOverwrites(outputs, inputs)) return;

  ConvertingState();
  // A stopped batch whose last notices never came: what its tasks wrote is settled now.
  SettleAllOutputs();
  // What runs that ended abruptly left in the folder: their owners are gone.
  for (const std::string& path : RemoveLeftovers(folder.toStdString()))
    LogLine(
        QString("Removed %1, left by a run that ended abruptly").arg(QString::fromStdString(path)));
  FFEncoder.ClearTasks();
  ++Batch_;
  AttachHandlers();
  readyListBox.clear();
  readyidListBox.clear();
  TaskRows_.clear();
  TaskOutputs_.clear();
  for (int i = 0; i < listview1->topLevelItemCount(); ++i) {
    QTreeWidgetItem* row = listview1->topLevelItem(i);
    if (row->checkState(fcInput) != Qt::Checked) continue;
    row->setText(fcProgress, "---");
    row->setIcon(fcProgress, QIcon());
    row->setToolTip(fcProgress, QString());
    row->setData(fcInput, kOutputFileRole, QVariant());
    for (int column : {fcFPS, fcUsedTime, fcOutputSize}) row->setText(column, QString());
    readyListBox.push_back(row->text(fcInput).toStdString());
    readyidListBox.push_back(i);
  }
  ElapsedSeconds_ = 0;
  BatchRows_ = int(readyListBox.size());
  BatchCompleted_ = BatchFailed_ = BatchStopped_ = 0;
  BatchTold_ = false;
  BatchSummary->clear();

  // Every task of the batch runs at once: spare cores go to their codecs and stages.
  const int threads = CodecThreadsPerTask(ProcessorCores(), int(readyListBox.size()), false);
  TaskThreadOptions_ = threads > 0 ? "threads=" + std::to_string(threads) + "\n" : std::string();
  for (std::size_t entry = 0; entry < readyListBox.size(); ++entry) {
    if (!outputs[entry].TakenPath.empty())
      LogLine(QString("%1: %2 is the output of another file of this batch; writing %3 instead.")
                  .arg(QString::fromStdString(readyListBox[entry]),
                       QString::fromStdString(outputs[entry].TakenPath),
                       QString::fromStdString(outputs[entry].Path)));
    const int logLines = mmoLog->document()->blockCount();
    if (!PrepareTask(entry, outputs[entry].Path)) {
      QTreeWidgetItem* row = listview1->topLevelItem(readyidListBox[entry]);
      row->setText(fcProgress, "Cancelled");
      // The reason is the last line the preparation wrote to the Log tab.
      QString reason;
      for (int line = mmoLog->document()->blockCount() - 1; line >= logLines && reason.isEmpty();
           --line)
        reason = mmoLog->document()->findBlockByNumber(line).text().trimmed();
      MarkFailedRow(row, reason.startsWith("***") ? reason.mid(3) : reason);
      ++BatchFailed_;
    }
  }

  RemainingTasks_ = int(TaskRows_.size());
  QApplication::processEvents();
  if (TaskRows_.empty()) {
    FFEncoder.ClearTasks();
    ReadyState();
    ShowBatchSummary();
    return;
  }
  FFEncoder.StartTask(int(TaskRows_.size()));
}

TOutputOptions TForm1::ProfileOptions(const std::string& inputPath) const {
  TProfileValues values;
  values.VideoBitrate = VideoBitrateValue->text().toStdString();
  values.Width = WidthValue->text().toStdString();
  values.Height = HeightValue->text().toStdString();
  values.FrameRate = FrameRateValue->text().toStdString();
  values.Codec = VideoCodecValue->text().toStdString();
  values.AudioBitrate = AudioBitrateValue->text().toStdString();
  values.SampleRate = SampleRateValue->text().toStdString();
  values.Channels = ChannelsValue->text().toStdString();
  return ProfileToOutputOptions(values, ComboBox1->currentText().toStdString(),
                                ComboBox2->currentText().toStdString(),
                                Edit1->text().trimmed().toStdString(), inputPath);
}

bool TForm1::PrepareTask(std::size_t entry, const std::string& outputPath) {
  const std::string& input = readyListBox[entry];
  const TThreadLogSource source(input);  // the engine's lines about its settings
  if (!LoadLibraries()) return false;
  if (InputOverwrittenBy(outputPath, readyListBox) >= 0) {
    LogLine(QString("***%1: the output %2 would overwrite an input of this batch; the file is "
                    "not converted.")
                .arg(QString::fromStdString(input), QString::fromStdString(outputPath)));
    return false;
  }
  TInputOptions inputOptions;
  inputOptions.FileName = input;
  inputOptions.ExtraOptions = TaskThreadOptions_;  // the decoder takes its threads at the open
  const int task = FFEncoder.AddTask(input, &inputOptions);
  if (task < 0) {
    LogLine("");
    LogLine("***File open error: " + QString::fromStdString(FFEncoder.LastError()));
    LogLine("");
    return false;
  }
  // Written under a temporary name until the task ends: a failure never destroys an
  // earlier output of the same name.
  const std::string temporary = OutputWritePath(outputPath);
  TOutputOptions options = ProfileOptions(input);
  options.FileName = temporary;
  options.Quality = ChosenQuality();
  if (!Actions.KeepProportions->isChecked()) options.ExtraOptions += "fit=stretch\n";
  options.ExtraOptions += DiscFitOptions_;
  // A fitted rate is met in two passes, or easy pictures leave the disc part empty.
  options.TwoPass = options.TwoPass || !DiscFitOptions_.empty();
  if (const int norm = DiscBatchNorm(task, input)) options.NormType = norm;
  options.ExtraOptions += TaskThreadOptions_;
  ChooseDiscTracks(task, readyidListBox[entry], input, options);
  NoteDiscOutput(readyidListBox[entry], outputPath);
  // A task without its output fails when it starts, and its row says so; the reason is here.
  if (!FFEncoder.SetOutputFile(task, temporary, &options))
    LogLine(QString("***%1: %2")
                .arg(QString::fromStdString(outputPath),
                     QString::fromStdString(
                         NameFinalOutput(FFEncoder.LastError(), temporary, outputPath))));
  TaskRows_.push_back(readyidListBox[entry]);
  TaskOutputs_.push_back({temporary, outputPath, false});
  return true;
}

void TForm1::StopClick() {
  if (!Confirm("Do you want to stop the conversion?")) return;
  StopDiscImage();
  FFEncoder.Stop(true);
  ReadyState();
}

void TForm1::PauseClick() {
  if (FFEncoder.Paused()) return;  // the figure and the text a Resume brings back are kept
  FFEncoder.Pause();
  ApplyRunStates();
  if (!Converting_ || !FFEncoder.Paused()) return;
  BeforePause_ = StatusText->text();
  StatusText->setText(QString("  Paused..%1 % Completed").arg(std::max(OverallFigure(), 0)));
}

void TForm1::ResumeClick() {
  const bool wasPaused = FFEncoder.Paused();
  FFEncoder.Resume();
  ApplyRunStates();
  if (Converting_ && wasPaused) StatusText->setText(BeforePause_);
}

// ---- One row -------------------------------------------------------------------------------

int TForm1::RunningTaskOfRow(int row) const {
  if (!Converting_ || row < 0) return -1;
  for (std::size_t task = 0; task < TaskRows_.size(); ++task)
    if (TaskRows_[task] == row && task < TaskOutputs_.size() && !TaskOutputs_[task].Settled)
      return int(task);
  return -1;
}

void TForm1::StopRowClick() {
  QTreeWidgetItem* row = listview1->currentItem();
  if (!row || !row->isSelected()) return;
  const int task = RunningTaskOfRow(listview1->indexOfTopLevelItem(row));
  if (task < 0) return;
  // Its end comes as every task's does: the row says "Cancelled", the others go on.
  FFEncoder.StopTask(task, false);
  LogLine("Stopped by the user: " + row->text(fcInput));
}

void TForm1::PlayOutputClick() {
  const QTreeWidgetItem* row = listview1->currentItem();
  if (!row || !row->isSelected()) return;
  const QString output = row->data(fcInput, kOutputFileRole).toString();
  if (output.isEmpty() || row->text(fcProgress) != "Completed") return;
  if (!QFileInfo(output).isFile()) {
    ShowMessage(QString("The converted file %1 is no longer there.").arg(output));
    return;
  }
  if (PreviewPlayer_) {
    PreviewPlayer_->PreviewFile(output);
  } else {
    LogLine("The preview player is not available.");
  }
}

void TForm1::ApplyRowStates() {
  QTreeWidgetItem* row = listview1->currentItem();
  const bool selected = row && row->isSelected();
  Actions.StopRow->setEnabled(selected &&
                              RunningTaskOfRow(listview1->indexOfTopLevelItem(row)) >= 0);
  Actions.PlayOutput->setEnabled(selected && row->text(fcProgress) == "Completed" &&
                                 !row->data(fcInput, kOutputFileRole).toString().isEmpty());
}

// ---- Control states ------------------------------------------------------------------------

void TForm1::ReadyState() {
  Converting_ = false;
  SetRowsCheckable(true);
  ApplyControlStates();
  OverallBar->hide();
  StatusText->setText("Ready");
}

void TForm1::ConvertingState() {
  Converting_ = true;
  SetRowsCheckable(false);
  ApplyControlStates();
  OverallBar->setValue(0);
  OverallBar->setToolTip("The whole batch");
  OverallBar->show();
  StatusText->setText("Converting..");
}

void TForm1::SetRowsCheckable(bool checkable) {
  // The boxes stay drawn as they are; the rows only stop taking clicks and keys on them.
  const QSignalBlocker quiet(listview1);
  for (int i = 0; i < listview1->topLevelItemCount(); ++i) {
    QTreeWidgetItem* row = listview1->topLevelItem(i);
    row->setFlags(checkable ? row->flags() | Qt::ItemIsUserCheckable
                            : row->flags() & ~Qt::ItemIsUserCheckable);
  }
}

void TForm1::ApplyRunStates() {
  // A disc image can be stopped, not paused.
  const bool batch = Converting_ && !DiscRun_;
  const bool paused = batch && FFEncoder.Paused();
  Actions.Stop->setEnabled(Converting_);
  Button5->setEnabled(Converting_);
  Actions.Pause->setEnabled(batch && !paused);
  Button6->setEnabled(batch && !paused);
  Actions.Resume->setEnabled(paused);
  Button7->setEnabled(paused);
}

void TForm1::ApplyControlStates() {
  const bool ready = !Converting_;
  const bool rows = listview1->topLevelItemCount() > 0;
  const QTreeWidgetItem* current = listview1->currentItem();
  const bool selected = current && current->isSelected();
  bool checked = false;
  for (int i = 0; i < listview1->topLevelItemCount() && !checked; ++i)
    checked = listview1->topLevelItem(i)->checkState(fcInput) == Qt::Checked;

  Enable(Actions.AddGroup, ready);
  Enable(Actions.RemoveGroup, ready && rows && selected);
  Enable(Actions.ClearGroup, ready && rows);
  Enable(Actions.PreviewGroup, ready && rows && selected);
  Enable(Actions.ConvertGroup, ready && rows && checked);
  Button1->setEnabled(ready && rows && checked);
  Enable(Actions.SelectGroup, ready && rows);
  ApplyRunStates();
  for (QWidget* control : {static_cast<QWidget*>(Edit1), static_cast<QWidget*>(ComboBox1),
                           static_cast<QWidget*>(ComboBox2), static_cast<QWidget*>(FolderButton),
                           static_cast<QWidget*>(LaunchButton)})
    control->setEnabled(ready);
  Actions.MakeDiscImage->setEnabled(ready && DiscImageReady());
  FitBox->setEnabled(ready);
  if (QualityBox) QualityBox->setEnabled(ready);  // a batch keeps the class it started with
  ApplyRowStates();
}

// ---- Closing -------------------------------------------------------------------------------

void TForm1::closeEvent(QCloseEvent* event) {
  // Asked first: a "No" leaves a running conversion running and the window as it was.
  if (!Confirm("Do you want to exit ?")) {
    event->ignore();
    return;
  }
  if (Converting_) {
    ShowMessage("Please stop the current conversion!");
    event->ignore();
    return;
  }
  DetachHandlers();
  FFEncoder.Stop(true);
  SettleAllOutputs();
  Store_.Close();
  SavePlacement();
  event->accept();
  if (OnClosed) OnClosed();
}

}  // namespace tovamo
