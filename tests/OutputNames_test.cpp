// The output naming rules the converter window and tovamo-convert share: the name of an
// input's output, distinct names within a batch, and outputs that are an input.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "Components/OutputNames.h"
#include "support/TestSupport.h"

namespace tovamo {
namespace {

namespace fs = std::filesystem;

TEST(OutputNames, AnInputsOutputIsItsNameUpToTheFirstDotInTheFolder) {
  struct TCase {
    const char* Folder;
    const char* Input;
    const char* Output;
  };
  for (const TCase& c : {
           TCase{"/out", "clip.part1.avi", "/out/clip.mpg"},
           TCase{"/out", "/videos/holiday.2019/clip.avi", "/out/clip.mpg"},
           TCase{"/out/", "clip.avi", "/out/clip.mpg"},
           TCase{"/out", "noextension", "/out/noextension.mpg"},
           TCase{"/out", "clip.mpg", "/out/clip.mpg"},
           TCase{"/out", ".hidden.avi", "/out/.hidden.mpg"},
           TCase{"/out", "ñandú 視頻.avi", "/out/ñandú 視頻.mpg"},
           TCase{"", "dir/clip.avi", "clip.mpg"},
       }) {
    SCOPED_TRACE(c.Input);
    EXPECT_EQ(OutputPathIn(c.Folder, c.Input), c.Output);
  }
}

TEST(OutputNames, LaterInputsOfATakenNameGetTheFirstFreeNumber) {
  struct TCase {
    std::vector<std::string> Inputs;
    std::vector<std::string> Outputs;
    std::vector<std::string> Taken;
  };
  const std::vector<TCase> cases = {
      {{"a/clip.part1.avi", "b/clip.part2.avi", "c/clip.avi"},
       {"o/clip.mpg", "o/clip-2.mpg", "o/clip-3.mpg"},
       {"", "o/clip.mpg", "o/clip.mpg"}},
      // clip-2 is a later input's own name: the renamed one skips it.
      {{"clip.part1.avi", "clip.part2.avi", "clip-2.avi"},
       {"o/clip.mpg", "o/clip-3.mpg", "o/clip-2.mpg"},
       {"", "o/clip.mpg", ""}},
      {{"x.avi", "y.avi"}, {"o/x.mpg", "o/y.mpg"}, {"", ""}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Inputs[1]);
    const std::vector<TBatchOutputName> names = NameBatchOutputs("o", c.Inputs);
    ASSERT_EQ(names.size(), c.Inputs.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
      EXPECT_EQ(names[i].Path, c.Outputs[i]);
      EXPECT_EQ(names[i].TakenPath, c.Taken[i]);
    }
  }
}

TEST(OutputNames, ARenamedOutputIsNeverAnInput) {
  for (const std::string extension : {".mpg", ".mp4"}) {
    SCOPED_TRACE(extension);
    test::TTempDir dir;
    const std::string existing = dir.File("clip-2" + extension);
    test::WriteFile(existing, "an input");
    const auto names =
        NameBatchOutputs(dir.Path().string(), {"clip.a.avi", "clip.b.avi", existing}, extension);
    EXPECT_EQ(names[1].Path, dir.File("clip-3" + extension));
  }
}

// An H.264 profile's outputs end in ".mp4" under the same rules: the name up to the first
// dot, numbered names before the extension, an MP4 input named as its own output.
TEST(OutputNames, TheRulesHoldForTheMp4Extension) {
  EXPECT_EQ(OutputPathIn("/out", "clip.part1.avi", ".mp4"), "/out/clip.mp4");
  EXPECT_EQ(OutputPathIn("/out", ".hidden.avi", ".mp4"), "/out/.hidden.mp4");
  EXPECT_EQ(OutputPathIn("", "dir/noextension", ".mp4"), "noextension.mp4");
  const auto names =
      NameBatchOutputs("o", {"a/clip.part1.avi", "b/clip.mov", "clip-2.mkv"}, ".mp4");
  ASSERT_EQ(names.size(), 3u);
  EXPECT_EQ(names[0].Path, "o/clip.mp4");
  EXPECT_EQ(names[1].Path, "o/clip-3.mp4");
  EXPECT_EQ(names[1].TakenPath, "o/clip.mp4");
  EXPECT_EQ(names[2].Path, "o/clip-2.mp4");

  test::TTempDir dir;
  const std::string input = dir.File("movie.mp4");
  test::WriteFile(input, "an input");
  EXPECT_EQ(InputOverwrittenBy(OutputPathIn(dir.Path().string(), input, ".mp4"), {input}), 0);
}

TEST(OutputNames, TheSameFileIsFoundHoweverItsNameIsWritten) {
  test::TTempDir dir;
  const fs::path sub = dir.Path() / "sub";
  fs::create_directories(sub);
  const std::string file = (sub / "clip.mpg").string();
  test::WriteFile(file, "x");
  fs::create_symlink(file, dir.Path() / "link.mpg");
  fs::create_directory_symlink(sub, dir.Path() / "sublink");
  fs::create_hard_link(file, dir.Path() / "hard.mpg");
  test::WriteFile(dir.File("other.mpg"), "x");

  struct TCase {
    std::string Other;
    bool Same;
  };
  for (const TCase& c : {
           TCase{(sub / "./clip.mpg").string(), true},
           TCase{(sub / "../sub/clip.mpg").string(), true},
           TCase{dir.File("link.mpg"), true},
           TCase{(dir.Path() / "sublink/clip.mpg").string(), true},
           TCase{dir.File("hard.mpg"), true},
           TCase{dir.File("other.mpg"), false},
           TCase{(sub / "missing.mpg").string(), false},
       }) {
    SCOPED_TRACE(c.Other);
    EXPECT_EQ(IsSameFile(file, c.Other), c.Same);
    // The index of a list gives the same answers, both ways round.
    EXPECT_EQ(TSameFileIndex({dir.File("other.mpg"), c.Other}).IndexOf(file) == 1,
              c.Same && c.Other != dir.File("other.mpg"));
    EXPECT_EQ(TSameFileIndex({file}).IndexOf(c.Other), c.Same ? 0 : -1);
  }
  EXPECT_EQ(TSameFileIndex({(sub / "x/../new.mpg").string()}).IndexOf((sub / "new.mpg").string()),
            0);
  // Neither exists: the same path once normalised.
  EXPECT_TRUE(IsSameFile((sub / "new.mpg").string(), (sub / "x/../new.mpg").string()));
  // Relative to the working folder.
  const fs::path before = fs::current_path();
  fs::current_path(sub);
  EXPECT_TRUE(IsSameFile("clip.mpg", file));
  EXPECT_TRUE(IsSameFile("./clip.mpg", "../sub/clip.mpg"));
  fs::current_path(before);

  EXPECT_EQ(InputOverwrittenBy(dir.File("link.mpg"), {dir.File("other.mpg"), file}), 1);
  EXPECT_EQ(InputOverwrittenBy(dir.File("new.mpg"), {dir.File("other.mpg"), file}), -1);
}

}  // namespace
}  // namespace tovamo
