// The program's own arguments, read before the application exists (so that --help and
// --version need no display).
#pragma once

#include <QString>
#include <QStringList>

namespace tovamo {

struct TProgramArguments {
  enum class TAction { Run, Help, Version, UsageError };
  TAction Action = TAction::Run;
  bool Preview = false;
  QStringList Files;  // absolute paths, in the order given
  QString Error;      // for UsageError: what was wrong, as the user typed it
};

// "--" ends the options: every argument after it is a file, even one that begins with "-".
// Before it, an argument beginning with "-" that is neither ours nor one of Qt's own
// window-system options is a usage error rather than a file name.
TProgramArguments ParseProgramArguments(const QStringList& AArguments);

}  // namespace tovamo
