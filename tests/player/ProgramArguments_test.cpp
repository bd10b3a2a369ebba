// The program's arguments: options, files, "--" and what is refused.
#include <gtest/gtest.h>

#include <QDir>

#include "ProgramArguments.h"

namespace tovamo {
namespace {

using TAction = TProgramArguments::TAction;

QString Absolute(const QString& AName) {
  return QDir::current().absoluteFilePath(AName);
}

TEST(ProgramArguments, ReadsOptionsAndFiles) {
  const struct {
    QStringList Arguments;
    TAction Action;
    bool Preview;
    QStringList Files;
  } cases[] = {
      {{}, TAction::Run, false, {}},
      {{"a.mpg", "/v/b.avi"}, TAction::Run, false, {Absolute("a.mpg"), "/v/b.avi"}},
      {{"--preview", "a.mpg"}, TAction::Run, true, {Absolute("a.mpg")}},
      {{"-fs", "--preview", "-AUTOQUIT", "-compact", "a.mpg"},
       TAction::Run,
       true,
       {Absolute("a.mpg")}},
      // "--" lets a name that begins with "-" through, and a second "--" is a name then.
      {{"--preview", "--", "-dash.mpg"}, TAction::Run, true, {Absolute("-dash.mpg")}},
      {{"--preview", "--", "--", "-fs"}, TAction::Run, true, {Absolute("--"), Absolute("-fs")}},
      {{"a.mpg", "--", "--help"}, TAction::Run, false, {Absolute("a.mpg"), Absolute("--help")}},
      {{"-platform", "offscreen", "a.mpg"}, TAction::Run, false, {Absolute("a.mpg")}},
      {{"--help", "--bogus"}, TAction::Help, false, {}},
      {{"-h"}, TAction::Help, false, {}},
      {{"--version"}, TAction::Version, false, {}},
      // Anything else that looks like an option is refused rather than taken for a file.
      {{"--preview", "-dash.mpg"}, TAction::UsageError, true, {}},
      {{"--bogus", "a.mpg"}, TAction::UsageError, false, {}},
      {{"-"}, TAction::UsageError, false, {}},
      {{"a.mpg", "-platform"}, TAction::UsageError, false, {Absolute("a.mpg")}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Arguments.join(' ').toStdString());
    const TProgramArguments parsed = ParseProgramArguments(c.Arguments);
    EXPECT_EQ(parsed.Action, c.Action);
    EXPECT_EQ(parsed.Preview, c.Preview);
    EXPECT_EQ(parsed.Files, c.Files);
    EXPECT_EQ(parsed.Error.isEmpty(), c.Action != TAction::UsageError);
  }
}

TEST(ProgramArguments, UsageErrorNamesTheOption) {
  EXPECT_EQ(ParseProgramArguments({"--preview", "-dash.mpg"}).Error, "unknown option -dash.mpg");
}

}  // namespace
}  // namespace tovamo
