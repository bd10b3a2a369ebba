// tovamo-convert end to end: the built command run as a child process on generated media,
// judged by its exit status, what it prints and the files it leaves.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "FormatString.h"
#include "ProfileOptions.h"
#include "Profiles.h"
#include "TableStoreWriter.h"
#include "support/MediaProbe.h"
#include "support/TestSupport.h"
#include "support/TestTime.h"

extern char** environ;

namespace tovamo {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::ProbeMedia;
using test::TMediaInfo;

constexpr int kVideo = 0;  // AVMEDIA_TYPE_VIDEO
constexpr int kAudio = 1;  // AVMEDIA_TYPE_AUDIO

struct TRunResult {
  int ExitCode = -1;
  std::string Out;
  std::string Err;
};

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A running tovamo-convert with its output and error text going to files.
class TCommand {
 public:
  TCommand(const fs::path& logDir, const std::vector<std::string>& args,
           const fs::path& workDir = {}, const fs::path& program = TOVAMO_CONVERT)
      : OutPath_(logDir / "stdout.txt"), ErrPath_(logDir / "stderr.txt") {
    std::vector<std::string> argv = {program.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv;
    for (std::string& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, OutPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, ErrPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    if (!workDir.empty()) posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
    const int error = posix_spawn(&Pid_, cargv[0], &actions, nullptr, cargv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) Pid_ = -1;
  }
  ~TCommand() {
    if (Pid_ > 0) {
      kill(Pid_, SIGKILL);
      waitpid(Pid_, nullptr, 0);
    }
  }

  void Signal(int signal) const { kill(Pid_, signal); }

  // Waits for the end (killing the child after five minutes, which fails the test).
  TRunResult Wait() {
    TRunResult result;
    if (Pid_ <= 0) return result;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + test::Generous(300s);
    while (waitpid(Pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        ADD_FAILURE() << "tovamo-convert did not end within five minutes";
        kill(Pid_, SIGKILL);
        waitpid(Pid_, &status, 0);
        break;
      }
      std::this_thread::sleep_for(20ms);
    }
    Pid_ = -1;
    result.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.Out = ReadText(OutPath_);
    result.Err = ReadText(ErrPath_);
    return result;
  }

 private:
  fs::path OutPath_, ErrPath_;
  pid_t Pid_ = -1;
};

class ConvertCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    test::LoadSystemLibraries();
    fs::create_directories(Out());
    fs::create_directories(Logs());
  }

  fs::path Out() const { return Dir.Path() / "out"; }
  fs::path Logs() const { return Dir.Path() / "logs"; }

  TRunResult Run(const std::vector<std::string>& args, const fs::path& workDir = {},
                 const fs::path& program = TOVAMO_CONVERT) {
    return TCommand(Logs(), args, workDir, program).Wait();
  }

  // A generated fixture copied under another name (in the temp folder unless a path).
  std::string Copy(const std::string& fixture, const fs::path& to) {
    const fs::path target = to.is_absolute() ? to : Dir.Path() / to;
    fs::create_directories(target.parent_path());
    fs::copy_file(test::Fixture(fixture), target, fs::copy_options::overwrite_existing);
    return target.string();
  }

  static std::vector<std::string> Files(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
      if (entry.is_regular_file()) names.push_back(fs::relative(entry.path(), dir).string());
    std::sort(names.begin(), names.end());
    return names;
  }

  test::TTempDir Dir;
};

// An MPEG program stream with a video stream and at least `minPackets` packets of it.
void ExpectPlayableMpeg(const std::string& path, std::size_t minPackets = 10) {
  SCOPED_TRACE(path);
  const TMediaInfo info = ProbeMedia(path);
  ASSERT_TRUE(info.Opened);
  EXPECT_EQ(info.Format, "mpeg");
  const int video = info.StreamOfType(kVideo);
  ASSERT_GE(video, 0);
  EXPECT_GE(info.PacketsOf(video).size(), minPackets);
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Whether more than 20000 bytes of an output are written: a running task writes under a
// hidden temporary name beside the final one (".a.mpg.part-<pid>.mpg").
bool WrittenSoFar(const fs::path& folder, const std::string& name) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    const std::string file = entry.path().filename().string();
    if (file != name && file.rfind("." + name + ".part-", 0) != 0) continue;
    if (fs::file_size(entry.path(), ec) > 20000 && !ec) return true;
  }
  return false;
}

TEST_F(ConvertCommand, BadInputsAreReportedWhileTheOthersConvert) {
  const std::string good1 = Copy("sample.avi", "in/first.avi");
  const std::string bad1 = Copy("random.avi", "in/noise.avi");
  const std::string good2 = Copy("long_5s.mpg", "in/second.mpg");
  const std::string bad2 = Copy("empty.avi", "in/empty.avi");
  const std::string missing = (Dir.Path() / "in/missing.avi").string();
  const TRunResult run = Run({"-o", Out().string(), good1, bad1, good2, bad2, missing});

  EXPECT_EQ(run.ExitCode, 1) << run.Out << run.Err;
  ExpectPlayableMpeg((Out() / "first.mpg").string());
  ExpectPlayableMpeg((Out() / "second.mpg").string(), 100);
  EXPECT_EQ(Files(Out()), (std::vector<std::string>{"first.mpg", "second.mpg"}))
      << "no output, not even an empty one, for an input that cannot be opened";
  EXPECT_TRUE(Contains(run.Out, good1 + " -> " + (Out() / "first.mpg").string() + ": Completed"))
      << run.Out;
  // Each finished file's line ends with its time, average rate and output size.
  const std::regex figures(
      ": Completed in [0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9], [0-9]+\\.[0-9] fps, "
      "[0-9.]+ (B|KiB|MiB)\n");
  EXPECT_EQ(std::distance(std::sregex_iterator(run.Out.begin(), run.Out.end(), figures),
                          std::sregex_iterator()),
            2)
      << run.Out;
  for (const std::string& bad : {bad1, bad2, missing}) {
    EXPECT_TRUE(Contains(run.Out, bad + " -> ")) << run.Out;
    EXPECT_TRUE(Contains(run.Err, bad)) << run.Err;
  }
  EXPECT_TRUE(Contains(run.Out, "noise.mpg: Cancelled (cannot open")) << run.Out;
  EXPECT_EQ(fs::file_size(bad1), fs::file_size(test::Fixture("random.avi")));
}

struct TStopCase {
  int Signal;
  int ExitCode;
  const char* Reason;
};

// Two conversions running at the pace of their input (rate emulation) and a third waiting
// for a slot: the signal finishes the two started outputs so that they play, the third
// never starts and leaves no file.
TEST_F(ConvertCommand, StopSignalFinishesTheStartedOutputs) {
  for (const TStopCase& c : {TStopCase{SIGINT, 130, "stopped by Ctrl-C"},
                             TStopCase{SIGTERM, 143, "stopped by SIGTERM"}}) {
    SCOPED_TRACE(c.Reason);
    fs::remove_all(Out());
    fs::create_directories(Out());
    const std::string a = Copy("long_5s.mpg", "in/a.mpg");
    const std::string b = Copy("long_5s.mpg", "in/b.mpg");
    const std::string waiting = Copy("sample.avi", "in/waiting.avi");
    TCommand command(Logs(), {"-j", "2", "--option", "re=1", "-o", Out().string(), a, b, waiting});
    // Stop once both outputs have received some data.
    const auto deadline = std::chrono::steady_clock::now() + test::Generous(120s);
    auto written = [&](const char* name) { return WrittenSoFar(Out(), name); };
    while (!(written("a.mpg") && written("b.mpg")) && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(50ms);
    command.Signal(c.Signal);
    const TRunResult run = command.Wait();

    EXPECT_EQ(run.ExitCode, c.ExitCode) << run.Out << run.Err;
    for (const char* name : {"a.mpg", "b.mpg"}) {
      ExpectPlayableMpeg((Out() / name).string(), 5);
      EXPECT_TRUE(Contains(run.Out, std::string(name) + ": Cancelled (" + c.Reason + ")"))
          << run.Out;
    }
    EXPECT_TRUE(Contains(run.Out, "waiting.mpg: Cancelled (not started")) << run.Out;
    EXPECT_FALSE(fs::exists(Out() / "waiting.mpg"));
  }
}

TEST_F(ConvertCommand, InputsOfOneStemGetDistinctNames) {
  // clip-2.avi has "clip-2.mpg" as its own name, so the second clip.* becomes clip-3.mpg.
  const std::string part1 = Copy("sample.avi", "in/clip.part1.avi");
  const std::string part2 = Copy("sample.mpg", "in/other/clip.part2.mpg");
  const std::string own = Copy("sample.mp4", "in/clip-2.avi");
  const TRunResult run = Run({"-o", Out().string(), part1, part2, own});

  EXPECT_EQ(run.ExitCode, 0) << run.Out << run.Err;
  EXPECT_EQ(Files(Out()), (std::vector<std::string>{"clip-2.mpg", "clip-3.mpg", "clip.mpg"}));
  const std::string renamed = part2 + " -> " + (Out() / "clip-3.mpg").string();
  EXPECT_TRUE(Contains(run.Out, renamed + " (" + (Out() / "clip.mpg").string() + " is taken"))
      << run.Out;
  EXPECT_TRUE(Contains(run.Out, renamed + ": Completed")) << run.Out;
  EXPECT_TRUE(Contains(run.Out, part1 + " -> " + (Out() / "clip.mpg").string() + ": Completed"));
  for (const char* name : {"clip.mpg", "clip-2.mpg", "clip-3.mpg"})
    ExpectPlayableMpeg((Out() / name).string());
}

TEST_F(ConvertCommand, UsageErrorsStartNothing) {
  const std::string input = Copy("sample.avi", "in/clip.avi");
  const std::string out = Out().string();
  const std::vector<std::vector<std::string>> cases = {
      {"--bogus", input},
      {"-x", input},
      {"--target", "bluray", input},
      {"--target=", input},
      {"--norm", "secam", input},
      {"--aspect", "5:4", input},
      {"--fit", "zoom", input},
      {"--quality", "better", input},
      {"--quality=", input},
      {"-j", "0", input},
      {"-j", "two", input},
      {"-j", "2x", input},
      {"-o"},
      {input, "-o"},
      {"--option", "bitrate", input},
      {"--option", "=1", input},
      {"--option", "b=1000k\nvcodec=rawvideo", input},
      {"--option", "b=1000k<CRLF>f=avi", input},
      {"--option", "no_such_option=1", input},  // refused by the engine, before any start
      {"--option", "threads=many", input},
      // Lines the engine only takes once the output has its streams are checked too.
      {"--target", "none", "--option", "s=320x240", "--option", "newvideo=1", "--option",
       "newvideo=1", "--option", "s=bogus", input},
      {"--option", "vcodec=no_such_codec", input},
      {"--option", "vf=", "--option", "vpre=no_such_preset", input},
      {"", input},
      {"-"},  // standard input is not read
      {"--log=", input},
      // A disc image of a target that has none, or under a name of the other kind of disc.
      {"--target", "none", "--disc", "x.iso", input},
      {"--target", "dvd", "--disc", "x.cue", input},
      {"--target", "vcd", "--disc", "x.iso", input},
      {"--target", "svcd", "--disc", "x", input},
      {"--disc=", input},
      {"--disc-size", "5T", input},
      {"--disc-size", "1M", input},
      {"--disc-size", "4.7", input},
      {"--target", "dvd", "--disc-size", "700M", input},
      {"--target", "svcd", "--disc-size", "4.7G", input},
      // The fitted rate and a rate of the user's own would fight.
      {"--target", "svcd", "--disc-size", "700M", "--option", "b=2000k", input},
      {"--target", "dvd", "--disc-size", "8.5G", "--option", "vb=5M", input},
      // MP4 has no TV norm and no disc.
      {"--target", "mp4", "--norm", "pal", input},
      {"--target", "mp4", "--disc", "x.iso", input},
      // A menu name needs a name, and a file to go with.
      {"--title=", input},
      {"--title", "one", "--title", "two", input},
  };
  for (std::vector<std::string> args : cases) {
    args.insert(args.begin(), {"-o", out});
    std::string shown;
    for (const std::string& a : args) shown += "[" + a + "] ";
    SCOPED_TRACE(shown);
    const TRunResult run = Run(args);
    EXPECT_EQ(run.ExitCode, 2) << run.Out << run.Err;
    EXPECT_TRUE(Contains(run.Err, "Usage: tovamo-convert")) << run.Err;
    EXPECT_EQ(run.Out, "");
    EXPECT_TRUE(Files(Out()).empty());
  }
}

TEST_F(ConvertCommand, AnOutputFolderThatCannotTakeFilesStopsEverythingFirst) {
  const std::string input = Copy("sample.avi", "in/clip.avi");
  const std::string file = Copy("sample.avi", "not_a_folder.avi");
  fs::create_directories(Dir.Path() / "locked");
  fs::permissions(Dir.Path() / "locked", fs::perms::owner_read | fs::perms::owner_exec);
  // Root may write anywhere the permissions forbid; a kernel file system refuses even root.
  const std::string unwritable = geteuid() == 0 ? "/proc" : (Dir.Path() / "locked").string();
  struct TCase {
    std::string Folder;
    const char* Message;
  };
  for (const TCase& c :
       {TCase{(Dir.Path() / "nowhere").string(), "does not exist"},
        TCase{(Dir.Path() / "nowhere/deeper").string(), "does not exist"},
        TCase{file, "is not a folder"}, TCase{unwritable, "cannot write into the output folder"}}) {
    SCOPED_TRACE(c.Folder);
    const TRunResult run = Run({"-o", c.Folder, input});
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_TRUE(Contains(run.Err, c.Message)) << run.Err;
    EXPECT_TRUE(Contains(run.Err, c.Folder)) << run.Err;
    EXPECT_EQ(run.Out, "") << "nothing started";
  }
  fs::permissions(Dir.Path() / "locked", fs::perms::owner_all);
  EXPECT_TRUE(fs::is_empty(Dir.Path() / "locked"));
  EXPECT_EQ(fs::file_size(file), fs::file_size(test::Fixture("sample.avi")));
}

TEST_F(ConvertCommand, AwkwardFileNamesConvert) {
  struct TCase {
    std::string Input;
    std::string Output;
  };
  const std::vector<TCase> cases = {
      {"with space.avi", "with space.mpg"},
      {"it's \"quoted\".avi", "it's \"quoted\".mpg"},
      {"-starts-with-dash.avi", "-starts-with-dash.mpg"},
      {"ñandú 視頻.avi", "ñandú 視頻.mpg"},
      {"$(touch injected).avi", "$(touch injected).mpg"},
      // Past the 2047 bytes of old name buffers, within the 4095 Linux allows.
      {"deep/" + std::string(250, 'd') + "/" + std::string(250, 'e') + "/" + std::string(250, 'f') +
           "/" + std::string(250, 'g') + "/" + std::string(250, 'h') + "/" + std::string(250, 'i') +
           "/" + std::string(250, 'j') + "/" + std::string(250, 'k') + "/" + std::string(200, 'l') +
           ".avi",
       std::string(200, 'l') + ".mpg"},
  };
  std::vector<std::string> args = {"-o", Out().string(), "--"};
  for (const TCase& c : cases) args.push_back(Copy("sample.avi", fs::path("in") / c.Input));
  const TRunResult run = Run(args);
  EXPECT_EQ(run.ExitCode, 0) << run.Out << run.Err;
  for (const TCase& c : cases) ExpectPlayableMpeg((Out() / c.Output).string());
  EXPECT_EQ(Files(Out()).size(), cases.size());

  // In the working folder, a name beginning with "-" also passes as "./-name".
  const TRunResult relative = Run({"-o", "../out", "./-starts-with-dash.avi"}, Dir.Path() / "in");
  EXPECT_EQ(relative.ExitCode, 0) << relative.Out << relative.Err;
}

TEST_F(ConvertCommand, AnOutputThatWouldOverwriteAnInputIsRefused) {
  // The input sits in the output folder under its own output name, reached through
  // different spellings of the folder and a symbolic link.
  const std::string inside = Copy("sample.mpg", Out() / "clip.mpg");
  fs::create_directory_symlink(Out(), Dir.Path() / "link");
  const std::string other = Copy("sample.avi", "in/other.avi");
  for (const std::string& folder :
       {Out().string(), (Dir.Path() / "link").string(), (Out() / "../out/.").string()}) {
    SCOPED_TRACE(folder);
    const TRunResult run = Run({"-o", folder, inside, other});
    EXPECT_EQ(run.ExitCode, 1) << run.Out << run.Err;
    EXPECT_TRUE(Contains(run.Out, inside + " -> ")) << run.Out;
    EXPECT_TRUE(Contains(run.Out, "Cancelled (refused: its output")) << run.Out;
    EXPECT_EQ(ReadText(inside), ReadText(test::Fixture("sample.mpg")));
    ExpectPlayableMpeg((Out() / "other.mpg").string());
  }
}

// --disc: the outputs made into a disc image after converting, the fitted rate shown first
// and the image's size against the disc's at the end; nothing else left in the folder.
TEST_F(ConvertCommand, TheOutputsBecomeADiscImage) {
  const std::string a = Copy("sample.mpg", "in/a.mpg");
  const std::string b = Copy("long_5s.mpg", "in/b.mpg");
  const struct {
    const char* Target;
    const char* Image;
    const char* Size;
    const char* Fit;  // the line before converting
    const char* Sized;
    std::vector<std::string> Files;
  } cases[] = {
      {"dvd",
       "film.iso",
       "4.7G",
       "Fit to disc: video at 8861 kbit/s with sound at 448 kbit/s",
       "of the 4.7G DVD's 4700 MB",
       {"a.mpg", "b.mpg", "film.iso"}},
      {"svcd",
       "film.cue",
       "800M",
       "Fit to disc: video at 2185 kbit/s with sound at 224 kbit/s",
       "sectors of the 800M CD's 405000",
       {"a.mpg", "b.mpg", "film.bin", "film.cue"}},
      {"vcd",
       "film.cue",
       "",
       nullptr,
       "sectors of the 700M CD's 360000",
       {"a.mpg", "b.mpg", "film.bin", "film.cue"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Target);
    fs::remove_all(Out());
    fs::create_directories(Out());
    const std::string image = (Out() / c.Image).string();
    std::vector<std::string> args = {"--target", c.Target,       "--norm", "pal",
                                     "-o",       Out().string(), "--disc", image};
    if (*c.Size) args.insert(args.end(), {"--disc-size", c.Size});
    args.insert(args.end(), {a, b});
    const TRunResult run = Run(args);
    ASSERT_EQ(run.ExitCode, 0) << run.Out << run.Err;
    if (c.Fit) {
      EXPECT_EQ(run.Out.rfind(c.Fit, 0), 0u) << run.Out;
    } else {
      EXPECT_FALSE(Contains(run.Out, "Fit to disc")) << run.Out;
    }
    EXPECT_TRUE(Contains(run.Out, "Making the disc image: 100%")) << run.Out;
    EXPECT_TRUE(Contains(run.Out, "Disc image: " + image)) << run.Out;
    EXPECT_TRUE(Contains(run.Out, c.Sized)) << run.Out;
    EXPECT_EQ(Files(Out()), c.Files);
    std::vector<std::string> hidden;
    for (const auto& entry : fs::directory_iterator(Out()))
      if (entry.path().filename().string()[0] == '.') hidden.push_back(entry.path().string());
    EXPECT_TRUE(hidden.empty());
  }
}

// A DVD starts in its title menu, with the names given by --title and the file names for
// the rest; --no-menu makes it as before, without one.
TEST_F(ConvertCommand, ADvdStartsInItsTitleMenuUnlessToldNot) {
  const std::string a = Copy("sample.mpg", "in/a.mpg");
  const std::string b = Copy("long_5s.mpg", "in/b.part2.mpg");
  for (const bool menu : {true, false}) {
    SCOPED_TRACE(menu ? "menu" : "no menu");
    fs::remove_all(Out());
    fs::create_directories(Out());
    const std::string image = (Out() / "film.iso").string(), log = Dir.File("menu.log");
    std::vector<std::string> args = {"--target", "dvd", "-o",    Out().string(),
                                     "--disc",   image, "--log", log};
    if (menu)
      args.insert(args.end(), {"--title", "Première & \"1\""});
    else
      args.insert(args.end(), {"--title", "unused", "--no-menu"});
    args.insert(args.end(), {a, b});
    const TRunResult run = Run(args);
    ASSERT_EQ(run.ExitCode, 0) << run.Out << run.Err;
    EXPECT_EQ(Contains(run.Out, "(menu)"), menu) << run.Out;
    EXPECT_EQ(Contains(ReadText(log), "menu: page 1 of 1: [Première & \"1\"] [b.part2]"), menu);
    const TRunResult listing = Run({"-indev", image, "-find", "/VIDEO_TS"}, {}, "/usr/bin/xorriso");
    ASSERT_EQ(listing.ExitCode, 0) << listing.Err;
    // The title set's menus are its VOB number 0.
    EXPECT_EQ(Contains(listing.Out, "VTS_01_0.VOB"), menu) << listing.Out;
    fs::remove(log);
  }
}

// A small disc of the user's size, filled in two passes: the image lands within 2 % under
// what the disc holds (a VCD's rates are fixed: it only fits), told after converting, and
// no statistics file stays behind. A menu's room is an estimate per page, which on a disc
// of a few megabytes leaves a visible gap: with one the image only has to fit.
TEST_F(ConvertCommand, AFittedBatchFillsASmallDisc) {
  const std::string a = Copy("long_5s.mpg", "in/a.mpg");
  const std::string b = Copy("sample.mpeg", "in/b.mpeg");
  const struct {
    const char* Target;
    const char* Image;
    const char* Size;
    bool Menu;
  } cases[] = {{"dvd", "small.iso", "3M", false},
               {"svcd", "small.cue", "3M", false},
               {"vcd", "small.cue", "4M", false},
               {"dvd", "menu.iso", "4M", true},
               {"svcd", "menu.cue", "4M", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Target) + (c.Menu ? " with a menu" : ""));
    fs::remove_all(Out());
    fs::create_directories(Out());
    const std::string image = (Out() / c.Image).string();
    const TRunResult run = Run({"--target", c.Target, "-o", Out().string(), "--disc", image,
                                "--disc-size", c.Size, c.Menu ? "--menu" : "--no-menu", a, b});
    ASSERT_EQ(run.ExitCode, 0) << run.Out << run.Err;
    const bool vcd = std::string(c.Target) == "vcd";
    EXPECT_TRUE(Contains(run.Out, vcd ? "fits on one" : "each file in two passes")) << run.Out;
    const std::size_t told = run.Out.find("Disc image: ");
    ASSERT_NE(told, std::string::npos) << run.Out;
    const std::size_t open = run.Out.find('(', told);
    ASSERT_NE(open, std::string::npos) << run.Out;
    const double percent = std::stod(run.Out.substr(open + 1));
    EXPECT_LE(percent, 100.0) << run.Out;
    if (!vcd && !c.Menu) {
      EXPECT_GE(percent, 98.0) << run.Out;
    }
    for (const auto& entry : fs::directory_iterator(Out()))
      EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
  }
}

// PAL and NTSC inputs for one disc with the norm left to them: every title takes the first
// file's norm, said before converting, and the image is made without a tool's warning.
TEST_F(ConvertCommand, ADiscsTitlesShareTheFirstFilesNorm) {
  const std::string pal = Copy("sample.mpg", "in/pal.mpg");
  const std::string ntsc = Copy("ntsc_29_97.mpg", "in/ntsc.mpg");
  const struct {
    const char* Target;
    const char* Image;
    std::vector<std::string> Inputs;
    const char* Norm;
    int Height;
  } cases[] = {
      {"dvd", "mixed.iso", {pal, ntsc}, "PAL", 576},
      {"vcd", "mixed.cue", {ntsc, pal}, "NTSC", 240},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Target);
    fs::remove_all(Out());
    fs::create_directories(Out());
    std::vector<std::string> args = {
        "--target", c.Target,       "--norm", "auto",
        "-o",       Out().string(), "--disc", (Out() / c.Image).string()};
    args.insert(args.end(), c.Inputs.begin(), c.Inputs.end());
    const TRunResult run = Run(args);
    ASSERT_EQ(run.ExitCode, 0) << run.Out << run.Err;
    const std::string line = std::string("Disc norm: ") + c.Norm +
                             " for every title, the first file's (" + c.Inputs[0] +
                             "); converted to " + c.Norm + " as well: " + c.Inputs[1] + "\n";
    EXPECT_EQ(run.Out.rfind(line, 0), 0u) << run.Out;
    EXPECT_TRUE(Contains(run.Out, "Disc image: ")) << run.Out;
    for (const char* output : {"pal.mpg", "ntsc.mpg"}) {
      const TMediaInfo media = ProbeMedia((Out() / output).string());
      const int v = media.StreamOfType(kVideo);
      ASSERT_GE(v, 0) << output;
      EXPECT_EQ(media.Streams[v].Height, c.Height) << output;
    }
    if (std::string(c.Target) == "vcd") {
      // The disc starts on its selection screen, a still of the disc's norm.
      const TRunResult info =
          Run({"-B", "-I", "-p", "-c", (Out() / c.Image).string()}, {}, "/usr/bin/vcd-info");
      EXPECT_TRUE(Contains(info.Out, "video: NTSC still")) << info.Out;
      EXPECT_TRUE(Contains(info.Out, "selection list descriptor\n  Flags: 0x00 | NOS: 2 | BSN: 1"))
          << info.Out;
    }
  }
}

// The authoring tools missing or failing: the conversion is not started when a tool is
// missing, and a tool's failure after converting exits 1 with its reason and no image.
TEST_F(ConvertCommand, DiscToolsMissingOrFailingAreReported) {
  const std::string clip = Copy("sample.mpg", "in/clip.mpg");
  const fs::path tools = Dir.Path() / "tools";
  fs::create_directories(tools);
  const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin";

  setenv("PATH", tools.c_str(), 1);  // no tools at all
  const TRunResult missing =
      Run({"--target", "svcd", "-o", Out().string(), "--disc", (Out() / "x.cue").string(), clip});
  EXPECT_EQ(missing.ExitCode, 1) << missing.Out << missing.Err;
  EXPECT_TRUE(Contains(missing.Err,
                       "--disc: vcdimager is not installed (install the package \"vcdimager\")"))
      << missing.Err;
  EXPECT_TRUE(Files(Out()).empty());
  setenv("PATH", path.c_str(), 1);

  // An image whose .bin would be one of the inputs is refused before anything starts.
  const std::string bin = Copy("sample.mpg", "in/clip.bin");
  const TRunResult overwrite = Run({"--target", "vcd", "-o", Out().string(), "--disc",
                                    (Dir.Path() / "in/clip.cue").string(), clip, bin});
  EXPECT_EQ(overwrite.ExitCode, 1) << overwrite.Out << overwrite.Err;
  EXPECT_TRUE(Contains(overwrite.Err, "--disc: the image " + (Dir.Path() / "in/clip.bin").string() +
                                          " would overwrite the input " + bin))
      << overwrite.Err;
  EXPECT_EQ(ReadText(bin), ReadText(test::Fixture("sample.mpg")));
  EXPECT_TRUE(Files(Out()).empty());

  // A dvdauthor that fails the way the real one does, before the real tools.
  test::WriteFile((tools / "dvdauthor").string(),
                  "#!/bin/sh\necho 'INFO: dvdauthor creating VTS'\n"
                  "echo 'ERR:  cannot write the title set: disk full' >&2\nexit 1\n");
  fs::permissions(tools / "dvdauthor", fs::perms::owner_all);
  setenv("PATH", (tools.string() + ":" + path).c_str(), 1);
  const TRunResult failed =
      Run({"--target", "dvd", "-o", Out().string(), "--disc", (Out() / "x.iso").string(), clip});
  setenv("PATH", path.c_str(), 1);
  EXPECT_EQ(failed.ExitCode, 1) << failed.Out << failed.Err;
  EXPECT_TRUE(Contains(failed.Err,
                       "no disc image: dvdauthor failed (exit status 1): ERR:  cannot write the "
                       "title set: disk full"))
      << failed.Err;
  EXPECT_EQ(Files(Out()), std::vector<std::string>{"clip.mpg"});
  ExpectPlayableMpeg((Out() / "clip.mpg").string());
}

// Fitting needs every input's length: an input without one stops the run before converting.
TEST_F(ConvertCommand, FitToDiscNeedsEveryLength) {
  const std::string known = Copy("sample.mpg", "in/known.mpg");
  const std::string unknown = Copy("no_duration.mkv", "in/unknown.mkv");
  const TRunResult run =
      Run({"--target", "dvd", "--disc-size", "4.7G", "-o", Out().string(), known, unknown});
  EXPECT_EQ(run.ExitCode, 1) << run.Out << run.Err;
  EXPECT_TRUE(Contains(run.Err, "--disc-size: the length of " + unknown + " is not known"))
      << run.Err;
  EXPECT_TRUE(Files(Out()).empty());
}

TEST_F(ConvertCommand, FitKeepsAWidePicturesProportionsUnlessToldToStretch) {
  const std::string input = Copy("sample_16x9.mp4", "in/wide.mp4");
  struct TCase {
    std::vector<std::string> Fit;
    bool Bars;
  };
  for (const TCase& c : {TCase{{}, true}, TCase{{"--fit", "pad"}, true},
                         TCase{{"--fit=stretch"}, false}, TCase{{"--fit", "crop"}, false}}) {
    std::vector<std::string> args = {"-o", Out().string(), "--target", "vcd", "--norm", "pal"};
    args.insert(args.end(), c.Fit.begin(), c.Fit.end());
    args.push_back(input);
    SCOPED_TRACE(c.Fit.empty() ? "default" : c.Fit.back());
    const TRunResult run = Run(args);
    ASSERT_EQ(run.ExitCode, 0) << run.Out << run.Err;
    const test::TLumaPicture picture = test::DecodeLuma((Out() / "wide.mpg").string(), 0);
    ASSERT_EQ(picture.Height, 288);
    // Black bars above and below a 16:9 picture in a 4:3 frame, or picture to the edge.
    if (c.Bars)
      EXPECT_LT(picture.Mean(0, 0, 352, 24), 24);
    else
      EXPECT_GT(picture.Mean(0, 0, 352, 24), 60);
  }
}

TEST_F(ConvertCommand, WithoutFilesItConvertsAGeneratedSample) {
  const TRunResult run = Run({"-o", Out().string()});
  EXPECT_EQ(run.ExitCode, 0) << run.Out << run.Err;
  EXPECT_TRUE(Contains(run.Out, "No file given")) << run.Out;
  EXPECT_TRUE(Contains(run.Out, "tovamo-sample.mpg: Completed")) << run.Out;
  ExpectPlayableMpeg((Out() / "tovamo-sample.mpg").string(), 50);
  EXPECT_EQ(Files(Out()), std::vector<std::string>{"tovamo-sample.mpg"});
}

// --quality: standard (the default) and best code B-pictures on a disc target, fast none;
// an option given wins over the class.
TEST_F(ConvertCommand, TheQualityClassChoosesTheEncodersDecisions) {
  const std::string input = Copy("sample.avi", "in/clip.avi");
  struct TCase {
    std::vector<std::string> Args;
    bool BPictures;
  };
  const TCase cases[] = {
      {{}, true},
      {{"--quality", "best"}, true},
      {{"--quality", "fast"}, false},
      {{"--quality", "fast", "--option", "bf=2"}, true},
  };
  for (const TCase& c : cases) {
    std::vector<std::string> args = {"--target", "dvd", "--option", "t=1", "-o", Out().string()};
    args.insert(args.end(), c.Args.begin(), c.Args.end());
    args.push_back(input);
    SCOPED_TRACE(::testing::PrintToString(args));
    const TRunResult run = Run(args);
    ASSERT_EQ(run.ExitCode, 0) << run.Out << run.Err;
    const std::string types = test::PictureTypes((Out() / "clip.mpg").string());
    EXPECT_GE(types.size(), 20u);
    EXPECT_EQ(types.find('B') != std::string::npos, c.BPictures) << types;
  }
  EXPECT_TRUE(Contains(Run({"--help"}).Out, "--quality CLASS"));
}

TEST_F(ConvertCommand, VersionNamesTheLoadedLibraries) {
  const TRunResult run = Run({"--version"});
  EXPECT_EQ(run.ExitCode, 0) << run.Err;
  EXPECT_TRUE(Contains(run.Out, "tovamo-convert ")) << run.Out;
  EXPECT_TRUE(Contains(run.Out, "libavcodec     59.")) << run.Out;
}

// The README's recipe for a folder tree, on this machine with two job slots instead of
// several machines: every file converted into the same place in the output tree, a folder
// with a bad file reported as failed, and a second run after the file is mended doing only
// that folder again.
TEST_F(ConvertCommand, GnuParallelRecipeConvertsAFolderTreeAndResumesTheFailed) {
  if (std::system("parallel --version >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "GNU parallel is not installed (scripts/install-deps.sh installs it)";
  const fs::path tree = Dir.Path() / "tree", converted = Dir.Path() / "converted";
  Copy("sample.avi", "tree/a/one.avi");
  Copy("sample.mpg", "tree/a/b/two.mpg");
  Copy("sample.mp4", "tree/c d/clip.part1.mp4");
  Copy("sample.avi", "tree/c d/clip.part2.avi");
  const std::string broken = Copy("random.avi", "tree/e/broken.avi");
  const std::string bin = fs::path(TOVAMO_CONVERT).parent_path().string();
  const std::string recipe =
      "export PATH='" + bin + "':\"$PATH\" && cd '" + tree.string() +
      "' && find . -type d | parallel -j2 --wd '" + tree.string() + "' -I@@ --joblog '" +
      (Dir.Path() / "convert.joblog").string() + "' --resume-failed 'mkdir -p \"" +
      converted.string() +
      "\"/@@ && cd @@ && find . -maxdepth 1 -type f -print0 | sort -z | xargs -0r "
      "tovamo-convert -o \"" +
      converted.string() + "\"/@@ --' >/dev/null 2>&1";
  const std::vector<std::string> good = {"a/b/two.mpg", "a/one.mpg", "c d/clip-2.mpg",
                                         "c d/clip.mpg"};

  EXPECT_NE(std::system(recipe.c_str()), 0) << "a folder failed";
  EXPECT_EQ(Files(converted), good);
  for (const std::string& name : good) ExpectPlayableMpeg((converted / name).string());
  const auto firstWrite = fs::last_write_time(converted / "a/one.mpg");

  Copy("sample.avi", broken);
  EXPECT_EQ(std::system(recipe.c_str()), 0);
  std::vector<std::string> all = good;
  all.insert(all.begin() + 4, "e/broken.mpg");
  EXPECT_EQ(Files(converted), all);
  ExpectPlayableMpeg((converted / "e/broken.mpg").string());
  EXPECT_EQ(fs::last_write_time(converted / "a/one.mpg"), firstWrite)
      << "a folder that had converted was not done again";
}

std::vector<TProfile> BuiltProfiles() {
  return LoadProfiles(TOVAMO_PROFILE_STORE);
}

TEST_F(ConvertCommand, ListProfilesPrintsTheStoresNamesAndConvertsNothing) {
  const std::string input = Copy("sample.avi", "in/clip.avi");
  const TRunResult run = Run({"--list-profiles", "-o", Out().string(), input});
  EXPECT_EQ(run.ExitCode, 0) << run.Err;
  std::string names;
  for (const TProfile& profile : BuiltProfiles()) names += profile.Name + "\n";
  EXPECT_EQ(run.Out, names);
  EXPECT_EQ(run.Err, "");
  EXPECT_TRUE(Files(Out()).empty());
}

std::string RateText(int num, int den) {
  return den == 1 ? std::to_string(num) : std::to_string(num) + "/" + std::to_string(den);
}

// The output of --profile carries what the window's options for that profile ask for. The
// input (25 fps, 44.1 kHz) differs from both profiles, so a profile left unused shows.
TEST_F(ConvertCommand, AProfileGivesTheStreamsItsOptionsAskFor) {
  const std::vector<TProfile> profiles = BuiltProfiles();
  const std::string input = Copy("sample.avi", "in/clip.avi");
  for (const std::string name : {"MPEG1 FOR NTSC VCD(352*240)", "MPEG2 FOR PLAYERS(640*480)"}) {
    SCOPED_TRACE(name);
    fs::remove_all(Out());
    fs::create_directories(Out());
    const auto index = FindProfile(profiles, name);
    ASSERT_TRUE(index);
    const TProfileValues values = ProfileValuesOf(profiles[*index].FormatString);
    const TOutputOptions wanted =
        ProfileToOutputOptions(values, name, AspectItemsFor(name).front(), Out().string(), input);

    const TRunResult run = Run({"--profile", name, "-o", Out().string(), input});
    EXPECT_EQ(run.ExitCode, 0) << run.Out << run.Err;
    const TMediaInfo info = ProbeMedia((Out() / "clip.mpg").string());
    ASSERT_TRUE(info.Opened);
    const int video = info.StreamOfType(kVideo), audio = info.StreamOfType(kAudio);
    ASSERT_GE(video, 0);
    ASSERT_GE(audio, 0);
    const test::TStreamInfo& v = info.Streams[std::size_t(video)];
    const test::TStreamInfo& a = info.Streams[std::size_t(audio)];
    // A disc target picks its codec itself; the profile shows the one it picks.
    EXPECT_EQ(v.Codec, wanted.VideoCodec.empty() ? values.Codec : wanted.VideoCodec);
    EXPECT_EQ(std::to_string(v.Width) + "x" + std::to_string(v.Height), wanted.FrameSize);
    EXPECT_EQ(RateText(v.RateNum, v.RateDen), wanted.FrameRate);
    EXPECT_NEAR(v.DisplayAspect(), 4.0 / 3.0, 0.02) << wanted.AspectRatio;
    EXPECT_EQ(a.SampleRate, wanted.AudioSampleRate);
    EXPECT_EQ(a.Channels, wanted.AudioChannels);
  }
}

// --target mp4 and the H.264 profiles write ".mp4" files: H.264 and AAC in MP4, the picture
// in its own shape inside the profile's size.
TEST_F(ConvertCommand, Mp4TargetAndH264ProfilesWriteMp4Files) {
  const std::string input = Copy("sample.avi", "in/clip.part1.avi");  // 160x120, 4:3
  struct TCase {
    std::vector<std::string> Args;
    int Width, Height;
  };
  const std::vector<TCase> cases = {
      {{"--target", "mp4"}, 960, 720},
      {{"--target", "mp4", "--aspect", "16:9"}, 1280, 720},
      {{"--profile", "H264 FOR IPOD(320*240)"}, 320, 240},
  };
  for (TCase c : cases) {
    SCOPED_TRACE(c.Args.back());
    fs::remove_all(Out());
    fs::create_directories(Out());
    // A part of the input: the 720p encoding is the slow part of this suite.
    c.Args.insert(c.Args.end(), {"--option", "t=0.5", "-o", Out().string(), input});
    const TRunResult run = Run(c.Args);
    ASSERT_EQ(run.ExitCode, 0) << run.Out << run.Err;
    EXPECT_EQ(Files(Out()), (std::vector<std::string>{"clip.mp4"}));
    const TMediaInfo info = ProbeMedia((Out() / "clip.mp4").string());
    ASSERT_TRUE(info.Opened);
    EXPECT_EQ(info.Format.substr(0, 3), "mov");
    const int video = info.StreamOfType(kVideo), audio = info.StreamOfType(kAudio);
    ASSERT_GE(video, 0);
    ASSERT_GE(audio, 0);
    EXPECT_EQ(info.Streams[std::size_t(video)].Codec, "h264");
    EXPECT_EQ(info.Streams[std::size_t(video)].Width, c.Width);
    EXPECT_EQ(info.Streams[std::size_t(video)].Height, c.Height);
    EXPECT_EQ(info.Streams[std::size_t(audio)].Codec, "aac");
    EXPECT_EQ(info.Streams[std::size_t(audio)].SampleRate, 48000);
  }
}

TEST_F(ConvertCommand, ProfileUsageErrorsStartNothing) {
  const std::string input = Copy("sample.avi", "in/clip.avi");
  const std::string vcd = "MPEG1 FOR PAL VCD(352*288)";
  struct TCase {
    std::vector<std::string> Args;
    std::string Message;
  };
  const std::vector<TCase> cases = {
      {{"--profile", "MPEG1 FOR PAL VCD", input}, "MPEG2 FOR PLAYERS(640*480)"},  // lists names
      {{"--profile", vcd, "--target", "dvd", input}, "cannot go with --target or --norm"},
      {{"--norm=ntsc", "--profile", vcd, input}, "cannot go with --target or --norm"},
      {{"--profile=", input}, "--profile needs a profile name"},
      {{"--profile", "H264 FOR IPOD(320*240)", "--target", "mp4", input},
       "cannot go with --target or --norm"},
  };
  for (TCase c : cases) {
    SCOPED_TRACE(c.Args[1]);
    c.Args.insert(c.Args.begin(), {"-o", Out().string()});
    const TRunResult run = Run(c.Args);
    EXPECT_EQ(run.ExitCode, 2) << run.Out << run.Err;
    EXPECT_TRUE(Contains(run.Err, c.Message)) << run.Err;
    EXPECT_EQ(run.Out, "");
    EXPECT_TRUE(Files(Out()).empty());
  }
}

// The command copied into a folder of its own, beside a store that is missing, broken, or
// holds a profile whose bit rate is no number: the profile options stop with one line before
// anything starts, and a run without them does not read the store at all.
TEST_F(ConvertCommand, AStoreOrProfileThatCannotBeUsedStopsFirst) {
  const fs::path bin = Dir.Path() / "bin", program = bin / "tovamo-convert";
  fs::create_directories(bin);
  fs::copy_file(TOVAMO_CONVERT, program);
  const fs::path store = bin / kProfileStoreFileName;
  const std::string input = Copy("sample.avi", "in/clip.avi");
  const std::string bad = "MPEG1 FOR BAD PLAYERS";
  struct TCase {
    const char* Store;
    std::vector<std::string> Args;
    std::string Message;
  };
  const std::vector<TCase> cases = {
      {"missing", {"--list-profiles"}, "does not exist"},
      {"missing", {"--profile", "MPEG1 FOR PAL VCD(352*288)", input}, "does not exist"},
      {"broken", {"--list-profiles"}, "is not a table store"},
      {"broken", {"--profile", "MPEG1 FOR PAL VCD(352*288)", input}, "is not a table store"},
      {"bad profile", {"--profile", bad, input}, "is not a whole number of kbit/s"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.Store) + " " + c.Args[0]);
    fs::remove(store);
    if (c.Store == std::string("broken")) std::ofstream(store) << "not a store";
    if (c.Store == std::string("bad profile"))
      WriteTableStore(store.string(),
                      {kProfileTableName,
                       {kProfileNameField, kProfileFormatField},
                       kProfileIndexName,
                       {kProfileNameField},
                       {{bad, "fast|352x288|25|Auto|mpeg1video|192|44100|stereo|"}}},
                      kProfilePassword, 1);
    std::vector<std::string> args = c.Args;
    args.insert(args.begin(), {"-o", Out().string()});
    const TRunResult run = Run(args, {}, program);
    EXPECT_EQ(run.ExitCode, 2) << run.Out << run.Err;
    EXPECT_TRUE(Contains(run.Err, c.Message)) << run.Err;
    EXPECT_EQ(std::count(run.Err.begin(), run.Err.end(), '\n'), 1) << run.Err;
    EXPECT_EQ(run.Out, "");
    EXPECT_TRUE(Files(Out()).empty());
  }

  fs::remove(store);
  const TRunResult plain = Run({"-o", Out().string(), input}, {}, program);
  EXPECT_EQ(plain.ExitCode, 0) << plain.Out << plain.Err;
  ExpectPlayableMpeg((Out() / "clip.mpg").string());
}

// Inputs are set up long before their turn: they hold no descriptor meanwhile and their
// outputs are made only when they start, so a batch far larger than the descriptor limit
// converts whole, whatever the limit. The limits are set low, so that the batches stay
// small enough for a busy machine.
TEST_F(ConvertCommand, BatchesLargerThanTheDescriptorLimitConvertWhole) {
  struct TCase {
    int Files;
    rlim_t Limit;
  };
  for (const TCase& c : {TCase{500, 160}, TCase{300, 48}}) {
    SCOPED_TRACE(std::to_string(c.Files) + " files, limit " + std::to_string(c.Limit));
    fs::remove_all(Out());
    fs::remove_all(Dir.Path() / "many");
    fs::create_directories(Out());
    fs::create_directories(Dir.Path() / "many");
    std::vector<std::string> args = {"-o", Out().string(), "--option", "t=0.04"};
    for (int i = 0; i < c.Files; ++i) {
      const fs::path link = Dir.Path() / "many" / ("c" + std::to_string(i) + ".mpg");
      fs::create_symlink(test::Fixture("sample.mpg"), link);
      args.push_back(link.string());
    }
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit low = saved;
    low.rlim_cur = c.Limit;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);  // the child inherits it
    TCommand command(Logs(), args);
    setrlimit(RLIMIT_NOFILE, &saved);
    const TRunResult run = command.Wait();
    EXPECT_EQ(run.ExitCode, 0) << run.Err.substr(0, 2000);
    std::size_t completed = 0;
    for (std::size_t at = 0; (at = run.Out.find(": Completed in ", at)) != std::string::npos; ++at)
      ++completed;
    EXPECT_EQ(completed, std::size_t(c.Files));
    EXPECT_EQ(Files(Out()).size(), std::size_t(c.Files));
  }
}

// A rerun stopped during its first file: the outputs an earlier run left for the files that
// never started are as they were.
TEST_F(ConvertCommand, AStopLeavesTheOutputsOfFilesNotStartedAlone) {
  const std::string first = Copy("long_5s.mpg", "in/first.mpg");
  std::vector<std::string> later;
  for (const char* name : {"second", "third", "fourth"}) {
    later.push_back(Copy("sample.avi", fs::path("in") / (std::string(name) + ".avi")));
    test::WriteFile((Out() / (std::string(name) + ".mpg")).string(), std::string(name) + " kept");
  }
  std::vector<std::string> args = {"-j", "1", "--option", "re=1", "-o", Out().string(), first};
  args.insert(args.end(), later.begin(), later.end());
  TCommand command(Logs(), args);
  const auto deadline = std::chrono::steady_clock::now() + test::Generous(120s);
  while (!WrittenSoFar(Out(), "first.mpg") && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(50ms);
  command.Signal(SIGINT);
  const TRunResult run = command.Wait();
  EXPECT_EQ(run.ExitCode, 130) << run.Out << run.Err;
  ExpectPlayableMpeg((Out() / "first.mpg").string(), 5);
  for (const char* name : {"second", "third", "fourth"}) {
    EXPECT_EQ(ReadText(Out() / (std::string(name) + ".mpg")), std::string(name) + " kept");
    EXPECT_TRUE(Contains(run.Out, std::string(name) + ".mpg: Cancelled (not started")) << run.Out;
  }
}

// Supervisors send the stop signal more than once at a time: `timeout` to the command and
// again to its group, others TERM twice in a row. That is one stop, which finishes the
// started outputs, not an abrupt end that leaves them unplayable.
TEST_F(ConvertCommand, StopSignalsArrivingTogetherAreOneStop) {
  const std::string a = Copy("long_5s.mpg", "in/a.mpg");
  const std::string b = Copy("long_5s.mpg", "in/b.mpg");
  const std::vector<std::string> convert = {"-j",           "2", "--option", "re=1", "-o",
                                            Out().string(), a,   b};
  auto written = [&](const char* name) { return WrittenSoFar(Out(), name); };
  {
    SCOPED_TRACE("two SIGTERMs back to back");
    TCommand command(Logs(), convert);
    const auto deadline = std::chrono::steady_clock::now() + test::Generous(120s);
    while (!(written("a.mpg") && written("b.mpg")) && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(50ms);
    command.Signal(SIGTERM);
    command.Signal(SIGTERM);
    const TRunResult run = command.Wait();
    EXPECT_EQ(run.ExitCode, 143) << run.Out << run.Err;
    for (const char* name : {"a.mpg", "b.mpg"}) {
      ExpectPlayableMpeg((Out() / name).string(), 5);
      EXPECT_TRUE(Contains(run.Out, std::string(name) + ": Cancelled (stopped by SIGTERM)"))
          << run.Out;
    }
  }
  {
    SCOPED_TRACE("timeout");
    fs::remove_all(Out());
    fs::create_directories(Out());
    std::vector<std::string> timed = {"--preserve-status", "3", TOVAMO_CONVERT};
    timed.insert(timed.end(), convert.begin(), convert.end());
    const TRunResult run = Run(timed, {}, "/usr/bin/timeout");
    EXPECT_EQ(run.ExitCode, 143) << run.Out << run.Err;
    for (const char* name : {"a.mpg", "b.mpg"}) {
      ExpectPlayableMpeg((Out() / name).string(), 5);
      EXPECT_TRUE(Contains(run.Out, std::string(name) + ": Cancelled (stopped by SIGTERM)"))
          << run.Out;
    }
  }
}

// A stop while an input is still being opened (a named pipe nobody writes to) cancels the
// open at once instead of waiting for the time-out; the log says which of the two it was.
TEST_F(ConvertCommand, AStopCancelsAnOpenThatWaits) {
  const fs::path pipe = Dir.Path() / "feed.mpg";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  TCommand command(Logs(), {"-v", "-o", Out().string(), pipe.string()});
  // A writer can join only once the command reads the pipe; it then holds it open without
  // writing, so the command's probe waits for data.
  int writer = -1;
  const auto deadline = std::chrono::steady_clock::now() + test::Generous(120s);
  while (writer < 0 && std::chrono::steady_clock::now() < deadline) {
    writer = open(pipe.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (writer < 0) std::this_thread::sleep_for(20ms);
  }
  ASSERT_GE(writer, 0) << "the command never opened the pipe";
  command.Signal(SIGTERM);
  const TRunResult run = command.Wait();
  close(writer);
  EXPECT_EQ(run.ExitCode, 143) << run.Out << run.Err;
  EXPECT_TRUE(Contains(run.Err, "connecting/reading/writing canceled")) << run.Err;
  EXPECT_FALSE(Contains(run.Err, "connecting/reading/writing timeout")) << run.Err;
  EXPECT_FALSE(fs::exists(Out() / "feed.mpg"));
}

// A job that writes no media is not a conversion: the command says why, exits 1 and
// leaves no output; a name in the way (a folder) is reported as what it is.
TEST_F(ConvertCommand, AFileThatGivesNothingToWriteIsNotCompleted) {
  const std::string sample = Copy("sample.avi", "in/clip.avi");
  fs::create_directories(Dir.Path() / "in/taken");
  const std::string taken = Copy("sample.avi", "in/taken/folder.avi");
  fs::create_directories(Out() / "folder.mpg");
  struct TCase {
    std::vector<std::string> Args;
    std::string Reason;
  };
  std::vector<TCase> cases = {
      {{"--option", "ss=100", sample}, "Nothing was written: the start time (ss)"},
      {{"--option", "t=0", sample}, "Nothing was written: the recording time (t) is 0"},
      {{taken}, "folder.mpg: Is a directory"},
  };
  for (const char* name :
       {"completed_no_output.mkv", "completed_no_output.asf", "completed_no_output.avi"})
    cases.push_back({{std::string(TOVAMO_HOSTILE_MEDIA) + "/" + name}, "Nothing was written"});
  for (TCase& c : cases) {
    SCOPED_TRACE(c.Args.back() + " " + c.Reason);
    c.Args.insert(c.Args.begin(), {"-o", Out().string()});
    const TRunResult run = Run(c.Args);
    EXPECT_EQ(run.ExitCode, 1) << run.Out << run.Err;
    EXPECT_TRUE(Contains(run.Out, ": Cancelled (")) << run.Out;
    EXPECT_TRUE(Contains(run.Out, c.Reason)) << run.Out;
    EXPECT_FALSE(Contains(run.Out, "Completed")) << run.Out;
    EXPECT_EQ(Files(Out()), std::vector<std::string>{}) << "no output is left";
  }
  EXPECT_TRUE(fs::is_directory(Out() / "folder.mpg"));
}

// An output is written under a temporary name and takes its own when the task ends: a
// failed run leaves the earlier output as it was, a completed one replaces it.
TEST_F(ConvertCommand, AFailedTaskLeavesTheEarlierOutputAlone) {
  const std::string sample = Copy("sample.avi", "in/clip.avi");
  test::WriteFile((Out() / "clip.mpg").string(), "earlier output");
  const TRunResult failed = Run({"-o", Out().string(), "--option", "ss=100", sample});
  EXPECT_EQ(failed.ExitCode, 1) << failed.Out << failed.Err;
  EXPECT_EQ(ReadText(Out() / "clip.mpg"), "earlier output");
  EXPECT_EQ(Files(Out()), std::vector<std::string>{"clip.mpg"}) << "no temporary file is left";

  const TRunResult completed = Run({"-o", Out().string(), sample});
  EXPECT_EQ(completed.ExitCode, 0) << completed.Out << completed.Err;
  ExpectPlayableMpeg((Out() / "clip.mpg").string());
  EXPECT_EQ(Files(Out()), std::vector<std::string>{"clip.mpg"});
}

// What went wrong can be read: the log (--log, -v) has the engine's and the libraries'
// lines, a failure carries the libraries' last error line, and an input that ended early
// or whose video could not be decoded says so on its closing line and fails under --strict.
TEST_F(ConvertCommand, TheCommandTellsWhatHappened) {
  const std::string truncated = Copy("truncated.mpg", "in/truncated.mpg");
  const std::string log = (Dir.Path() / "run.log").string();
  const TRunResult early = Run({"-o", Out().string(), "--log", log, truncated});
  EXPECT_EQ(early.ExitCode, 0) << early.Out << early.Err;
  EXPECT_TRUE(Contains(early.Out, "truncated.mpg: Completed (input ended early)")) << early.Out;
  const std::string logged = ReadText(log);
  EXPECT_TRUE(Contains(logged, "ended early")) << logged;
  EXPECT_TRUE(Contains(logged, "Stream mapping")) << logged;

  const TRunResult strict = Run({"-o", Out().string(), "--strict", "-v", truncated});
  EXPECT_EQ(strict.ExitCode, 1) << strict.Out << strict.Err;
  EXPECT_TRUE(Contains(strict.Out, "truncated.mpg: Completed (input ended early)")) << strict.Out;
  EXPECT_TRUE(Contains(strict.Err, "ended early")) << "-v shows the log: " << strict.Err;

  // A video stream that no packet of decodes ("unspecified pixel format") leaves sound
  // alone: the line says so, and --strict fails it.
  const std::string soundOnly = std::string(TOVAMO_HOSTILE_MEDIA) + "/video_undecodable.avi";
  for (const bool strictly : {false, true}) {
    std::vector<std::string> args = {"-o", Out().string(), soundOnly};
    if (strictly) args.insert(args.begin(), "--strict");
    const TRunResult partial = Run(args);
    EXPECT_EQ(partial.ExitCode, strictly ? 1 : 0) << partial.Out << partial.Err;
    EXPECT_TRUE(Contains(partial.Out, "video_undecodable.mpg: Completed without the video ("))
        << partial.Out;
  }

  // MPEG-1 video takes no 1 frame per second: the engine only says the encoder did not open,
  // the library says why.
  const std::string clip = Copy("sample.avi", "in/clip.avi");
  const TRunResult failed =
      Run({"-o", Out().string(), "--target", "none", "--option", "r=1", clip});
  EXPECT_EQ(failed.ExitCode, 1) << failed.Out << failed.Err;
  EXPECT_TRUE(Contains(failed.Out, "the media libraries said: ")) << failed.Out;
  EXPECT_TRUE(Contains(failed.Out, "fps")) << failed.Out;

  // A codec the libraries do not know is named by the tag the file gives it.
  std::string unknown = ReadText(test::Fixture("sample.avi"));
  for (std::size_t at; (at = unknown.substr(0, 4096).find("FMP4")) != std::string::npos;)
    unknown.replace(at, 4, "ZQZQ");
  const std::string strange = (Dir.Path() / "in/strange.avi").string();
  test::WriteFile(strange, unknown);
  const TRunResult undecodable = Run({"-o", Out().string(), "--target", "none", strange});
  EXPECT_EQ(undecodable.ExitCode, 1) << undecodable.Out << undecodable.Err;
  EXPECT_TRUE(Contains(undecodable.Out, "No decoder for the unknown codec (tag \"ZQZQ\")"))
      << undecodable.Out;

  // Sound alone has no frame rate to tell the norm by: the default norm serves, rather than
  // a failure that speaks of an invalid frame rate.
  const std::string sound = Copy("audio_only.wav", "in/sound.wav");
  const TRunResult audio = Run({"-o", Out().string(), sound});
  EXPECT_EQ(audio.ExitCode, 0) << audio.Out << audio.Err;
  EXPECT_TRUE(Contains(audio.Out, "sound.mpg: Completed")) << audio.Out;
  EXPECT_GE(ProbeMedia((Out() / "sound.mpg").string()).StreamOfType(kAudio), 0);
}

// A line break or an escape sequence in a name would break the progress lines (and the
// terminal's redraw): they are shown escaped there.
TEST_F(ConvertCommand, ProgressLinesShowControlCharactersEscaped) {
  const std::string input = Copy("sample.mpg", "in/two\nlines\x1b[2J.mpg");
  const TRunResult run = Run({"-o", Out().string(), input});
  EXPECT_EQ(run.ExitCode, 0) << run.Out << run.Err;
  // Progress goes to standard error; standard output keeps the result lines alone.
  EXPECT_TRUE(Contains(run.Err, "two\\nlines\\x1b[2J.mpg: ")) << run.Err;
  EXPECT_TRUE(Contains(run.Err, "overall ")) << run.Err;
  EXPECT_FALSE(Contains(run.Out, "overall ")) << run.Out;
  EXPECT_FALSE(Contains(run.Out, "two\\nlines")) << run.Out;
  ExpectPlayableMpeg((Out() / "two\nlines\x1b[2J.mpg").string());
}

// --log takes a file of its own: one of the run's inputs, outputs or image (someone taking
// --log for a switch) is refused before anything starts, as is a file that is not a text
// log; a log of earlier runs is added to, one header line per run, never emptied.
TEST_F(ConvertCommand, TheLogNeverWritesOverAFileOfTheRunAndIsAddedTo) {
  const std::string input = Copy("sample.avi", "in/clip.avi");
  const std::string video = Copy("sample.mpg", "in/movie.mpg");
  const std::string earlier = (Out() / "clip.mpg").string();
  test::WriteFile(earlier, std::string("earlier\0output", 14));
  struct TCase {
    std::vector<std::string> Args;
    std::string Reason;
  };
  const std::vector<TCase> cases = {
      {{"--log", input, input}, "one of the files to convert"},
      {{"--log", video}, "not a text log"},  // no file: the generated sample is converted
      {{"--log", video, input}, "not a text log"},
      {{"--log", earlier, input}, "one of the outputs"},
      {{"--log", (Dir.Path() / "in/../out/clip.mpg").string(), input}, "one of the outputs"},
      {{"--log", (Out() / "tovamo-sample.mpg").string()}, "one of the outputs"},
      {{"--target", "dvd", "--disc", (Dir.Path() / "d.iso").string(), "--log",
        (Dir.Path() / "d.iso").string(), input},
       "the disc image"},
      {{"--target", "vcd", "--disc", (Dir.Path() / "v.cue").string(), "--log",
        (Dir.Path() / "v.bin").string(), input},
       "the disc image"},
  };
  const std::string inputBytes = ReadText(input), videoBytes = ReadText(video);
  for (TCase c : cases) {
    SCOPED_TRACE(c.Reason + " " + c.Args[c.Args.size() - 1]);
    c.Args.insert(c.Args.begin(), {"-o", Out().string()});
    const TRunResult run = Run(c.Args);
    EXPECT_EQ(run.ExitCode, 2) << run.Out << run.Err;
    EXPECT_TRUE(Contains(run.Err, "--log ")) << run.Err;
    EXPECT_TRUE(Contains(run.Err, c.Reason)) << run.Err;
    EXPECT_EQ(run.Out, "");
    EXPECT_EQ(ReadText(input), inputBytes);
    EXPECT_EQ(ReadText(video), videoBytes);
    EXPECT_EQ(ReadText(earlier), std::string("earlier\0output", 14));
    EXPECT_EQ(Files(Out()), std::vector<std::string>{"clip.mpg"});
  }

  const std::string log = (Dir.Path() / "runs.log").string();
  test::WriteFile(log, "a line of an earlier run\n");
  for (int run = 0; run < 2; ++run) {
    const TRunResult converted = Run({"-o", Out().string(), "--log", log, input});
    EXPECT_EQ(converted.ExitCode, 0) << converted.Out << converted.Err;
  }
  const std::string logged = ReadText(log);
  EXPECT_EQ(logged.rfind("a line of an earlier run\n==== ", 0), 0u) << logged;
  const std::regex header(
      "\n?==== \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d [-+]\\d{4} "
      "tovamo-convert -o \\S+ --log \\S+ \\S+\n");
  const auto headers = std::distance(std::sregex_iterator(logged.begin(), logged.end(), header),
                                     std::sregex_iterator());
  EXPECT_EQ(headers, 2) << logged;
  EXPECT_TRUE(Contains(logged, "Stream mapping")) << logged;
}

// A stop (here SIGHUP, a closed terminal) never replaces a complete earlier output with the
// part written so far; where there was no earlier file, the playable part takes the name.
TEST_F(ConvertCommand, AStoppedRerunKeepsTheEarlierOutput) {
  const std::string a = Copy("long_5s.mpg", "in/a.mpg");
  const std::string b = Copy("long_5s.mpg", "in/b.mpg");
  test::WriteFile((Out() / "a.mpg").string(), "complete earlier output");
  TCommand command(Logs(), {"-j", "2", "--option", "re=1", "-o", Out().string(), a, b});
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  auto written = [&](const char* name) { return WrittenSoFar(Out(), name); };
  while (!(written("a.mpg") && written("b.mpg")) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(50ms);
  command.Signal(SIGHUP);
  const TRunResult run = command.Wait();
  EXPECT_EQ(run.ExitCode, 129) << run.Out << run.Err;
  EXPECT_EQ(ReadText(Out() / "a.mpg"), "complete earlier output");
  EXPECT_TRUE(Contains(run.Out, "a.mpg: Cancelled (stopped by SIGHUP)")) << run.Out;
  EXPECT_TRUE(Contains(run.Out, "; the earlier file was kept")) << run.Out;
  ExpectPlayableMpeg((Out() / "b.mpg").string(), 5);
  const std::size_t bLine = run.Out.find("b.mpg: Cancelled (stopped by SIGHUP)");
  ASSERT_NE(bLine, std::string::npos) << run.Out;
  EXPECT_FALSE(Contains(run.Out.substr(bLine, run.Out.find('\n', bLine) - bLine), "earlier"));
  EXPECT_EQ(Files(Out()), (std::vector<std::string>{"a.mpg", "b.mpg"}));
}

// A run that ended abruptly (SIGKILL, the OOM killer, a crash) leaves its hidden temporary;
// the next run writing into the folder removes it, and only it.
TEST_F(ConvertCommand, TheNextRunRemovesWhatAKilledRunLeft) {
  const std::string a = Copy("long_5s.mpg", "in/a.mpg");
  test::WriteFile((Out() / ".other.mpg.part-x.mpg").string(), "not ours");
  {
    TCommand command(Logs(), {"--option", "re=1", "-o", Out().string(), a});
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!WrittenSoFar(Out(), "a.mpg") && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(50ms);
    command.Signal(SIGKILL);
    EXPECT_EQ(command.Wait().ExitCode, 128 + SIGKILL);
  }
  ASSERT_EQ(Files(Out()).size(), 2u) << "the killed run leaves its temporary";
  const TRunResult run = Run({"-o", Out().string(), a});
  EXPECT_EQ(run.ExitCode, 0) << run.Out << run.Err;
  EXPECT_TRUE(Contains(run.Out, "left by a run that ended abruptly")) << run.Out;
  EXPECT_EQ(Files(Out()), (std::vector<std::string>{".other.mpg.part-x.mpg", "a.mpg"}));
}

// Outputs are known by the names asked for: a name that fits the folder converts however
// long, and a write failure (here a file size limit) names the output, not its temporary.
TEST_F(ConvertCommand, OutputsAreKnownByTheirOwnNames) {
  const std::string stem(NAME_MAX - 4, 'n');
  const std::string longName = Copy("sample.avi", "in/" + stem + ".avi");
  const TRunResult run = Run({"-o", Out().string(), longName});
  EXPECT_EQ(run.ExitCode, 0) << run.Out << run.Err;
  ExpectPlayableMpeg((Out() / (stem + ".mpg")).string());

  const std::string clip = Copy("long_5s.mpg", "in/clip.mpg");
  const TRunResult limited = Run({"-c", "trap '' XFSZ; ulimit -f 64; exec \"$0\" \"$@\"",
                                  TOVAMO_CONVERT, "-o", Out().string(), clip},
                                 {}, "/bin/sh");
  EXPECT_EQ(limited.ExitCode, 1) << limited.Out << limited.Err;
  EXPECT_TRUE(Contains(limited.Out, (Out() / "clip.mpg").string() + ": File too large"))
      << limited.Out;
  EXPECT_FALSE(Contains(limited.Out + limited.Err, ".part-")) << limited.Out << limited.Err;
  EXPECT_FALSE(fs::exists(Out() / "clip.mpg"));
}

}  // namespace
}  // namespace tovamo
