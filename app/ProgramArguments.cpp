#include "ProgramArguments.h"

#include <QFileInfo>

namespace tovamo {

namespace {

bool IsPlayerSwitch(const QString& AArgument) {
  for (const char* start : {"-fs", "-compact", "-autoquit"})
    if (AArgument.compare(QLatin1String(start), Qt::CaseInsensitive) == 0) return true;
  return false;
}

// Qt reads these from the same command line; each takes the next argument as its value.
bool IsQtOptionWithValue(const QString& AArgument) {
  for (const char* option : {"-platform", "-style", "-display", "-qwindowgeometry"})
    if (AArgument == QLatin1String(option)) return true;
  return false;
}

}  // namespace

TProgramArguments ParseProgramArguments(const QStringList& AArguments) {
  using TAction = TProgramArguments::TAction;
  TProgramArguments result;
  bool optionsEnded = false;
  for (qsizetype i = 0; i < AArguments.size(); ++i) {
    const QString& argument = AArguments[i];
    if (optionsEnded || !argument.startsWith(QLatin1Char('-'))) {
      result.Files << QFileInfo(argument).absoluteFilePath();
    } else if (argument == "--") {
      optionsEnded = true;
    } else if (argument == "--help" || argument == "-h") {
      result.Action = TAction::Help;
      return result;
    } else if (argument == "--version") {
      result.Action = TAction::Version;
      return result;
    } else if (argument == "--preview") {
      result.Preview = true;
    } else if (IsPlayerSwitch(argument)) {
      // read by the player window itself
    } else if (IsQtOptionWithValue(argument) && i + 1 < AArguments.size()) {
      ++i;
    } else {
      result.Action = TAction::UsageError;
      result.Error = QStringLiteral("unknown option %1").arg(argument);
      return result;
    }
  }
  return result;
}

}  // namespace tovamo
