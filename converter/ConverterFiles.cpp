// Adding, removing and selecting files; preview; the output folder and its launch.
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>

#include "BatchFigures.h"
#include "ConverterWindow.h"
#include "DroppedFolders.h"
#include "LogView.h"
#include "OpenFilter.h"

namespace tovamo {

bool TForm1::LoadLibraries() {
  if (FFEncoder.LoadLibraries((Options_.ProgramDir + "/lib").toStdString())) return true;
  LogLine(QString::fromStdString(FFEncoder.LastError()));
  return false;
}

void TForm1::AddClick() {
  if (!LoadLibraries()) return;
  const QStringList files =
      QFileDialog::getOpenFileNames(this, "Open", QString(), OpenFileFilter(DemuxerExtensions()));
  if (files.isEmpty()) return;
  AddFiles(files);
}

void TForm1::AddFiles(const QStringList& files) {
  if (Converting_ || (files.isEmpty() && AddNote_.isEmpty())) return;
  if (!LoadLibraries()) return;
  // Probing a file takes a moment: the window keeps painting and tells how far it got.
  const QString before = StatusText->text();
  RefusedFiles_.clear();
  for (int i = 0; i < files.size(); ++i) {
    if (files.size() > 1)
      StatusText->setText(QString("Adding %1 of %2...").arg(i + 1).arg(files.size()));
    AddOneFile(files[i]);
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  }
  StatusText->setText(before);
  ReadyState();
  RefreshDiscFit();
  // Said once for the whole Add, not only in the Log tab where nobody looks.
  QStringList told;
  if (!RefusedFiles_.isEmpty())
    told << QString("These files were not added:\n\n%1").arg(RefusedFiles_.join("\n"));
  if (!AddNote_.isEmpty()) told << AddNote_;
  if (!told.isEmpty()) ShowMessage(told.join("\n\n"));
  RefusedFiles_.clear();
  AddNote_.clear();
}

QTreeWidgetItem* TForm1::RowOfFile(const QString& file) const {
  const QString wanted = QDir::cleanPath(QFileInfo(file).absoluteFilePath());
  for (int i = 0; i < listview1->topLevelItemCount(); ++i) {
    QTreeWidgetItem* row = listview1->topLevelItem(i);
    if (QDir::cleanPath(QFileInfo(row->text(fcInput)).absoluteFilePath()) == wanted) return row;
  }
  return nullptr;
}

bool TForm1::AddOneFile(const QString& file) {
  if (!LoadLibraries()) return false;
  // A file already listed is not listed twice: its row is shown instead.
  if (QTreeWidgetItem* row = RowOfFile(file)) {
    listview1->setCurrentItem(row);
    listview1->scrollToItem(row);
    return true;
  }
  TInputOptions options;
  options.FileName = file.toStdString();
  // A stopped batch whose end notice is still on its way is over: its tasks can go now.
  if (FFEncoder.Working() && FFEncoder.AllTerminated()) FFEncoder.ClearTasks();
  const int task = FFEncoder.AddTask(file.toStdString(), &options);
  if (task < 0) {
    LogLine("");
    LogLine("***File open error: " + QString::fromStdString(FFEncoder.LastError()));
    LogLine("");
    RefusedFiles_ << QString::fromStdString(FFEncoder.LastError());
    return false;
  }
  const AVFormatContext* context = FFEncoder.InputContext(task, 0);
  const std::int64_t duration = context ? context->duration : -1;
  const std::int64_t size = static_cast<TFFmpeg*>(FFEncoder.Task(task))->GetDecoder(0).FileSize();
  auto* row = new QTreeWidgetItem;
  if (context) NoteDvdSoundTracks(row, *context);
  // The task only served to read the file's information: its input is closed at once, so
  // that a long list holds no open files.
  FFEncoder.ClearTasks();
  row->setText(fcInput, file);
  row->setToolTip(fcInput, file);
  row->setText(fcTotalTime, QString::fromStdString(TotalTimeText(duration)));
  row->setText(fcFileSize, size >= 0 ? QString::number(size) : QString());
  row->setFlags(row->flags() | Qt::ItemIsUserCheckable);
  row->setCheckState(fcInput, Qt::Checked);
  for (int column : {fcTotalTime, fcFileSize, fcProgress, fcFPS, fcUsedTime, fcOutputSize})
    row->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
  listview1->addTopLevelItem(row);
  return true;
}

// While a batch runs its rows stay as they are: no removal, no check changes.
void TForm1::RemoveClick() {
  if (Converting_) return;
  if (QTreeWidgetItem* row = listview1->currentItem(); row && row->isSelected()) delete row;
  ReadyState();
  RefreshDiscFit();
}

void TForm1::ClearClick() {
  if (Converting_ || !Confirm("Do you want to stop the conversion?")) return;
  listview1->clear();
  ReadyState();
  RefreshDiscFit();
}

void TForm1::SelectClick(bool check) {
  if (Converting_) return;
  if (QTreeWidgetItem* row = listview1->currentItem(); row && row->isSelected())
    row->setCheckState(fcInput, check ? Qt::Checked : Qt::Unchecked);
  ReadyState();
}

void TForm1::SelectAllClick(bool check) {
  if (Converting_ || listview1->topLevelItemCount() == 0) return;
  for (int i = 0; i < listview1->topLevelItemCount(); ++i)
    listview1->topLevelItem(i)->setCheckState(fcInput, check ? Qt::Checked : Qt::Unchecked);
  ReadyState();
}

void TForm1::PreviewClick() {
  QTreeWidgetItem* row = listview1->currentItem();
  if (!row || !row->isSelected() || Converting_) return;
  if (PreviewPlayer_) {
    PreviewPlayer_->PreviewFile(row->text(fcInput));
  } else {
    LogLine("The preview player is not available.");
  }
}

void TForm1::ChooseFolderClick() {
  const QString folder = QFileDialog::getExistingDirectory(this, "Select Directory", Edit1->text());
  if (folder.isEmpty()) return;
  Edit1->setText(folder);
  RememberOutputFolder();
}

void TForm1::RememberOutputFolder() {
  const QString folder = Edit1->text().trimmed();
  // The folder offered at first is no choice: a later videos folder is offered instead.
  if (folder.isEmpty() || (folder == OfferedFolder_ && Settings_.Read("path").isEmpty())) return;
  if (Settings_.Read("path") != folder) Settings_.Write("path", folder);
}

void TForm1::LaunchClick() {
  const QString path = Edit1->text().trimmed();
  if (path.isEmpty() || !QFileInfo(path).isDir()) {
    ShowMessage(QString("The output folder %1 does not exist.").arg(path));
    return;
  }
  QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void TForm1::AboutClick() {
  QMessageBox::about(
      this, "About Tovamo",
      QString("<b>Tovamo</b> %1<br>Batch video converter: every checked file becomes an MPEG "
              "file with VCD, SVCD or DVD settings, or an MP4 file (H.264 and AAC) for pocket "
              "players and phones, all files at once.<br><br>Conversion by the FFmpeg "
              "libraries, previews by MPlayer.")
          .arg(QApplication::applicationVersion()));
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
  if (!Converting_ && event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
  QStringList paths;
  for (const QUrl& url : event->mimeData()->urls())
    if (url.isLocalFile()) paths << url.toLocalFile();
  event->acceptProposedAction();
  // Added after the drop returns, so that the dragging program is not held up.
  QTimer::singleShot(0, this, [this, paths] { AddDroppedPaths(paths); });
}

void TForm1::AddDroppedPaths(const QStringList& paths) {
  if (Converting_) return;
  QStringList files, notes;
  for (const QString& path : paths) {
    const QFileInfo info(path);
    if (info.isFile()) {
      files << path;
      continue;
    }
    if (!info.isDir()) continue;
    const TFolderVideos found = VideosInFolder(path, VideoFilePatterns());
    files << found.Files;
    if (found.Files.isEmpty()) notes << QString("The folder %1 holds no videos.").arg(path);
    if (found.Skipped > 0)
      notes << QString("%1 %2 of the folder %3 %4 not videos and %5 skipped.")
                   .arg(found.Skipped)
                   .arg(found.Skipped == 1 ? "file" : "files", path,
                        found.Skipped == 1 ? "is" : "are", found.Skipped == 1 ? "was" : "were");
  }
  AddNote_ = notes.join("\n");
  AddFiles(files);
}

void TForm1::LogLine(const QString& line) {
  AppendLogLine(mmoLog, line);
}

}  // namespace tovamo
