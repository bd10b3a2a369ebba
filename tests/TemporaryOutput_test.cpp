// Outputs written under a temporary name and settled when their task ends: what takes the
// final name, what is removed, that an earlier file survives a failure or a stop, and what
// a run that ended abruptly leaves for the next one to remove.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "Authoring/DiscAuthor.h"
#include "Authoring/ToolProcess.h"
#include "Components/Leftovers.h"
#include "Components/TemporaryOutput.h"
#include "support/TestSupport.h"

namespace tovamo {
namespace {

namespace fs = std::filesystem;

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(TemporaryOutput, TheTemporaryNameIsHiddenBesideTheFinalOneWithItsExtension) {
  const fs::path temporary = TemporaryOutputPath("/out/clip.mpg");
  EXPECT_EQ(temporary.parent_path(), fs::path("/out"));
  EXPECT_EQ(temporary.extension(), ".mpg");
  EXPECT_EQ(temporary.filename().string().rfind(".clip.mpg.part-", 0), 0u) << temporary;
  EXPECT_EQ(fs::path(TemporaryOutputPath("clip.mpg")).parent_path(), fs::path());
}

TEST(TemporaryOutput, ATaskWritesUnderATemporaryNameOnlyWhereAFileWouldBeReplaced) {
  test::TTempDir dir;
  fs::create_directories(dir.Path() / "folder.mpg");
  test::WriteFile(dir.File("earlier.mpg"), "earlier");
  ASSERT_EQ(::mkfifo(dir.File("pipe.mpg").c_str(), 0600), 0);
  EXPECT_EQ(OutputWritePath(dir.File("new.mpg")), TemporaryOutputPath(dir.File("new.mpg")));
  EXPECT_EQ(OutputWritePath(dir.File("earlier.mpg")), TemporaryOutputPath(dir.File("earlier.mpg")));
  // Written as they are: the engine refuses the folder with its reason, the pipe is read.
  EXPECT_EQ(OutputWritePath(dir.File("folder.mpg")), dir.File("folder.mpg"));
  EXPECT_EQ(OutputWritePath(dir.File("pipe.mpg")), dir.File("pipe.mpg"));
  EXPECT_EQ(SettleTemporaryOutput(dir.File("pipe.mpg"), dir.File("pipe.mpg"), TTaskEnd::Failed),
            "");
  EXPECT_TRUE(fs::is_fifo(dir.File("pipe.mpg")));
}

TEST(TemporaryOutput, HowATaskEndedDecidesWhatTakesTheFinalName) {
  struct TCase {
    const char* Name;
    TTaskEnd End;
    const char* Written;  // nullptr: the task made no file
    const char* Earlier;  // nullptr: no earlier file of the final name
    const char* After;    // the final file afterwards; nullptr: none
    bool EarlierKept;     // reported: the earlier file stayed in place of the task's
  };
  for (const TCase& c : {
           TCase{"completed", TTaskEnd::Completed, "new", nullptr, "new", false},
           TCase{"completed over an earlier file", TTaskEnd::Completed, "new", "old", "new", false},
           TCase{"stopped: its readable part", TTaskEnd::Stopped, "part", nullptr, "part", false},
           TCase{"stopped: the earlier file stays", TTaskEnd::Stopped, "part", "old", "old", true},
           TCase{"failed: the earlier file stays", TTaskEnd::Failed, "broken", "old", "old", true},
           TCase{"failed without an earlier file", TTaskEnd::Failed, "broken", nullptr, nullptr,
                 false},
           TCase{"stopped before writing", TTaskEnd::Stopped, nullptr, "old", "old", true},
           TCase{"completed with nothing written", TTaskEnd::Completed, "", "old", "old", true},
       }) {
    SCOPED_TRACE(c.Name);
    test::TTempDir dir;
    const std::string final = dir.File("clip.mpg");
    const std::string temporary = TemporaryOutputPath(final);
    if (c.Earlier) test::WriteFile(final, c.Earlier);
    if (c.Written) test::WriteFile(temporary, c.Written);
    bool earlierKept = !c.EarlierKept;
    EXPECT_EQ(SettleTemporaryOutput(temporary, final, c.End, &earlierKept), "");
    EXPECT_EQ(earlierKept, c.EarlierKept);
    EXPECT_FALSE(fs::exists(temporary));
    if (c.After)
      EXPECT_EQ(ReadText(final), c.After);
    else
      EXPECT_FALSE(fs::exists(final));
  }
}

TEST(TemporaryOutput, AFailedRenameKeepsTheConvertedFileAndSaysWhere) {
  test::TTempDir dir;
  const std::string final = dir.File("taken.mpg");
  fs::create_directories(fs::path(final) / "inside");  // a folder not empty: no rename
  const std::string temporary = TemporaryOutputPath(final);
  test::WriteFile(temporary, "converted");
  const std::string error = SettleTemporaryOutput(temporary, final, TTaskEnd::Completed);
  EXPECT_NE(error.find("the output is kept as " + temporary), std::string::npos) << error;
  EXPECT_EQ(ReadText(temporary), "converted");
}

// Every final name that fits in a folder has a temporary that fits too: long names (the
// limit is in bytes, so also long in UTF-8) get a shorter, still hidden and recognisable one.
TEST(TemporaryOutput, EveryNameThatFitsHasATemporaryThatFits) {
  test::TTempDir dir;
  std::string cjk;
  while (cjk.size() + 3 + 4 <= NAME_MAX) cjk += "\xe6\x98\xa0";  // 3 bytes each
  for (const std::string& name :
       {std::string("clip.mpg"), std::string(236 - 4, 'a') + ".mpg",
        std::string(NAME_MAX - 4, 'b') + ".mpg", std::string(NAME_MAX - 5, 'b') + "x.mp4",
        cjk + ".mpg", std::string(NAME_MAX, 'c')}) {
    if (name.size() > NAME_MAX) continue;
    SCOPED_TRACE(std::to_string(name.size()) + " bytes: " + name.substr(0, 20));
    const std::string final = dir.File(name);
    const fs::path temporary = TemporaryOutputPath(final);
    EXPECT_LE(temporary.filename().string().size(), std::size_t(NAME_MAX));
    EXPECT_EQ(temporary.parent_path(), dir.Path());
    if (fs::path(name).has_extension()) {
      EXPECT_EQ(temporary.extension(), fs::path(name).extension());
    }
    EXPECT_EQ(TemporaryOutputOwner(temporary.filename().string()), ::getpid());
    test::WriteFile(temporary.string(), "part");
    ASSERT_TRUE(fs::exists(temporary)) << "the temporary cannot be made";
    EXPECT_EQ(SettleTemporaryOutput(temporary.string(), final, TTaskEnd::Completed), "");
    EXPECT_EQ(ReadText(final), "part");
  }
  // Two long names alike in their first bytes do not share a temporary.
  const std::string stem(NAME_MAX - 10, 'd');
  EXPECT_NE(TemporaryOutputPath(dir.File(stem + "1.mpg")),
            TemporaryOutputPath(dir.File(stem + "2.mpg")));
}

TEST(TemporaryOutput, MessagesNameTheFinalOutput) {
  const std::string temporary = TemporaryOutputPath("/out/clip.mpg");
  const std::string name = fs::path(temporary).filename().string();
  EXPECT_EQ(NameFinalOutput(temporary + ": No space left on device", temporary, "/out/clip.mpg"),
            "/out/clip.mpg: No space left on device");
  EXPECT_EQ(NameFinalOutput("writing " + name + " failed", temporary, "/out/clip.mpg"),
            "writing clip.mpg failed");
  EXPECT_EQ(NameFinalOutput("/dev/stdout: Broken pipe", "/dev/stdout", "/dev/stdout"),
            "/dev/stdout: Broken pipe");
}

// A process that has ended (and been reaped): its id names no process.
pid_t EndedProcess() {
  const pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);
  return child;
}

TEST(AbruptEnds, ALaterRunRemovesWhatEndedRunsLeftAndNothingElse) {
  test::TTempDir dir;
  const std::string gone = std::to_string(EndedProcess());
  const std::string alive = std::to_string(::getpid());
  const std::vector<std::string> removed = {
      ".clip.mpg.part-" + gone + ".mpg",
      ".clip.part-" + gone,
      ".disc.iso.authoring-" + gone + "-aB3xYz",
  };
  const std::vector<std::string> kept = {
      ".clip.mpg.part-" + alive + ".mpg",          // a run still going
      ".disc.iso.authoring-" + alive + "-aB3xYz",  // its work folder
      "clip.mpg.part-" + gone + ".mpg",            // not hidden: not ours
      ".clip.mpg.part-" + gone + ".avi",           // another extension than the name's
      ".clip.mpg.part-x" + gone + ".mpg",          // no process id
      ".clip.mpg.part-" + gone + ".mpg.bak",       // something after the extension
      ".disc.iso.authoring-aB3xYz",                // an older run's, whose owner is unknown
      ".disc.iso.authoring-" + gone + "-aB3",      // not mkdtemp's letters
      ".link.mpg.part-" + gone + ".mpg",           // a symbolic link, below
      ".file.iso.authoring-" + gone + "-aB3xYz",   // a file, not a folder
      "clip.mpg",
  };
  for (const std::string& name : removed) {
    if (name.find(".authoring-") != std::string::npos) {
      fs::create_directories(dir.Path() / name / "dvd");
      test::WriteFile((dir.Path() / name / "dvd" / "VTS_01_1.VOB").string(), "title");
    } else {
      test::WriteFile(dir.File(name), "part");
    }
  }
  for (const std::string& name : kept) {
    if (name.rfind(".link", 0) == 0)
      fs::create_symlink(dir.File("clip.mpg"), dir.Path() / name);
    else if (name.find(".authoring-") != std::string::npos && name.rfind(".file", 0) != 0)
      fs::create_directories(dir.Path() / name);
    else
      test::WriteFile(dir.File(name), "keep");
  }
  std::vector<std::string> said = RemoveLeftovers(dir.Path().string());
  std::vector<std::string> expected;
  for (const std::string& name : removed) expected.push_back(dir.File(name));
  std::sort(said.begin(), said.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(said, expected);
  for (const std::string& name : removed) EXPECT_FALSE(fs::exists(dir.Path() / name)) << name;
  for (const std::string& name : kept)
    EXPECT_TRUE(fs::exists(fs::symlink_status(dir.Path() / name))) << name;
  // The names this process gives carry its id, so that a later run can tell.
  EXPECT_EQ(WorkFolderOwner(".disc.iso" + WorkFolderTag() + "Qw9Rt1"), ::getpid());
}

// Making an image clears the work folders ended runs left beside it, even when the request
// itself is refused.
TEST(AbruptEnds, AnImageRunRemovesTheWorkFoldersOfEndedRuns) {
  test::TTempDir dir;
  const fs::path leftover =
      dir.Path() / (".d.iso.authoring-" + std::to_string(EndedProcess()) + "-Zx81Kq");
  fs::create_directories(leftover / "dvd");
  authoring::TDiscRequest request;
  request.ImagePath = dir.File("d.iso");
  request.Titles = {{dir.File("missing.mpg"), 1}};
  EXPECT_FALSE(authoring::TDiscAuthor().Run(request).Completed);
  EXPECT_FALSE(fs::exists(leftover));
}

// An owner ending abruptly (a second, late Ctrl-C) takes its running tools with it: they
// run in process groups of their own, which no terminal signal reaches.
TEST(AbruptEnds, RunningToolsCanBeEndedFromASignalHandler) {
  authoring::TToolProcess tool;
  ASSERT_TRUE(tool.Start({"sleep", "20"})) << tool.Error();
  authoring::KillRunningTools();
  while (tool.ReadLines(-1, [](const std::string&) {})) {
  }
  EXPECT_EQ(tool.Wait(), 128 + SIGKILL);
}

}  // namespace
}  // namespace tovamo
