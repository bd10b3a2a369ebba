// Where a batch writes: the output folder (the user's videos folder by default, created on
// request), the one question before existing outputs are replaced, and each output written
// under a temporary name that takes the final one when its task ends.
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QStandardPaths>

#include "ConverterWindow.h"

namespace tovamo {

QString DefaultOutputFolder() {
  QString videos = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
  if (videos.isEmpty()) videos = QDir::homePath();
  return QDir::cleanPath(videos + "/Tovamo");
}

bool TForm1::OutputFolderReady(const QString& folder) {
  if (!folder.isEmpty() && QFileInfo(folder).isDir()) return true;
  // The folder offered at first is made without asking when the first batch starts.
  if (!folder.isEmpty() && folder == OfferedFolder_ && QDir().mkpath(folder)) return true;
  if (folder.isEmpty()) {
    ShowMessage("Choose the output folder first.");
    return false;
  }
  // Only a name that is nothing yet can become a folder; a file of that name stays.
  if (QFileInfo::exists(folder)) {
    ShowMessage(QString("The output folder %1 is a file, not a folder.").arg(folder));
    return false;
  }
  if (!Confirm(
          QString("The output folder %1 does not exist.\n\nDo you want to create it?").arg(folder)))
    return false;
  if (QDir().mkpath(folder) && QFileInfo(folder).isDir()) return true;
  ShowMessage(QString("The folder %1 cannot be created.").arg(folder));
  return false;
}

bool TForm1::ConfirmOverwrites(const std::vector<TBatchOutputName>& outputs,
                               const std::vector<std::string>& inputs) {
  QStringList existing;
  for (const TBatchOutputName& output : outputs) {
    // An output that is one of the inputs is refused later, never overwritten.
    if (InputOverwrittenBy(output.Path, inputs) >= 0) continue;
    if (QFileInfo(QString::fromStdString(output.Path)).isFile())
      existing << QFileInfo(QString::fromStdString(output.Path)).fileName();
  }
  if (existing.isEmpty()) return true;
  constexpr int kNamesShown = 10;
  QString names = existing.mid(0, kNamesShown).join("\n");
  if (existing.size() > kNamesShown)
    names += QString("\n... and %1 more").arg(existing.size() - kNamesShown);
  return Confirm(QString("These output files already exist in the output folder:\n\n%1\n\n"
                         "Do you want to overwrite them all?")
                     .arg(names));
}

QString TForm1::SettleOutput(int taskIndex, TTaskEnd end, bool* earlierKept) {
  if (earlierKept) *earlierKept = false;
  if (taskIndex < 0 || std::size_t(taskIndex) >= TaskOutputs_.size()) return {};
  TTaskOutput& output = TaskOutputs_[std::size_t(taskIndex)];
  if (output.Settled) return {};
  output.Settled = true;
  return QString::fromStdString(
      SettleTemporaryOutput(output.Temporary, output.Final, end, earlierKept));
}

void TForm1::SettleAllOutputs() {
  // Tasks whose end notice never came have stopped: their readable part takes its name.
  for (std::size_t task = 0; task < TaskOutputs_.size(); ++task)
    if (const QString error = SettleOutput(int(task), TTaskEnd::Stopped); !error.isEmpty())
      LogLine("***" + error);
}

}  // namespace tovamo
