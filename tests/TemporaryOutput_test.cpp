// Outputs written under a temporary name and settled when their task ends: what takes the
// final name, what is removed, and that an earlier file survives a failure.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

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
  };
  for (const TCase& c : {
           TCase{"completed", TTaskEnd::Completed, "new", nullptr, "new"},
           TCase{"completed over an earlier file", TTaskEnd::Completed, "new", "old", "new"},
           TCase{"stopped: its readable part", TTaskEnd::Stopped, "part", "old", "part"},
           TCase{"failed: the earlier file stays", TTaskEnd::Failed, "broken", "old", "old"},
           TCase{"failed without an earlier file", TTaskEnd::Failed, "broken", nullptr, nullptr},
           TCase{"stopped before writing", TTaskEnd::Stopped, nullptr, "old", "old"},
           TCase{"completed with nothing written", TTaskEnd::Completed, "", "old", "old"},
       }) {
    SCOPED_TRACE(c.Name);
    test::TTempDir dir;
    const std::string final = dir.File("clip.mpg");
    const std::string temporary = TemporaryOutputPath(final);
    if (c.Earlier) test::WriteFile(final, c.Earlier);
    if (c.Written) test::WriteFile(temporary, c.Written);
    EXPECT_EQ(SettleTemporaryOutput(temporary, final, c.End), "");
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

}  // namespace
}  // namespace tovamo
