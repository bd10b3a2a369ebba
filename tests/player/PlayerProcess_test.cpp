// Process control with the stand-in player: starting, commands, stopping, killing,
// restarting, and every way a player can end or misbehave. No child may outlive a test.
#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <memory>

#include "Core/PlayerCore.h"
#include "Core/PlayerProgram.h"
#include "Core/PlayerText.h"
#include "PlayerTestSupport.h"

namespace tovamo::player {
namespace {

using test::ChildProcesses;
using test::TRecordingWindow;
using test::WaitUntil;

const QString kVideoSize = "say VO: [x11] 160x120 => 320x240 Planar YV12";

class PlayerProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Dir.isValid());
    Window.Core = Core.get();
    Core->ProgramDir = Dir.path() + '/';
    Core->PlayerProgram = QStringLiteral(TOVAMO_STANDIN_PLAYER);
    Core->Settings.AudioOut = 1;
    Core->Settings.Postproc = 0;
  }

  void TearDown() override {
    if (Core && Core->IsRunning()) {
      ADD_FAILURE() << "the player still runs at the end of the test";
      Core->ShutdownPlayer();
    }
    EXPECT_TRUE(ChildProcesses().empty()) << "a child process outlived the test";
  }

  // Writes a script as the media and starts the stand-in on it.
  void Play(const QStringList& AScript, const QString& AName = "script.txt") {
    QFile file(Dir.filePath(AName));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(AScript.join('\n').toUtf8() + '\n');
    file.close();
    Core->MediaArgument = TMediaArgument::FromName(file.fileName());
    Core->StartPlayer();
  }

  bool WaitForEnd() {
    return WaitUntil([&] { return !Core->IsRunning(); });
  }
  bool WaitForLog(const QString& ALine) {
    return WaitUntil([&] { return Window.Log.contains(ALine); });
  }
  // The commands the stand-in got, up to and including a marker command sent now.
  QStringList CommandsUpToMarker() {
    Core->SendPlayerCommand("marker");
    EXPECT_TRUE(WaitForLog("GOT marker"));
    QStringList got;
    for (const QString& line : Window.Log)
      if (line.startsWith("GOT ")) got << line.mid(4);
    return got;
  }

  QTemporaryDir Dir;
  TRecordingWindow Window;
  std::unique_ptr<TPlayerCore> Core = std::make_unique<TPlayerCore>(Window);
};

// A name with spaces, quotes, a leading "-" and non-ASCII letters, extra parameters with a
// quoted word, and a font path with a space: each reaches the player as one argument, and
// the player runs in the program folder.
TEST_F(PlayerProcess, ArgumentsReachThePlayerWhole) {
  Core->FontFile = "/fonts/Some Sans.ttf";
  Core->Settings.Params = "-title \"two words\"";
  const QString name = "-vo null \"q\" 'ü'.txt";
  QFile file(Dir.filePath(name));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("args\n");
  file.close();
  Core->MediaArgument = TMediaArgument::FromName(name);  // relative to the program folder
  Core->StartPlayer();
  ASSERT_TRUE(WaitForEnd());

  QStringList args;
  for (const QString& line : Window.Log)
    if (line.startsWith("ARG=")) args << line.mid(4);
  EXPECT_EQ(
      args,
      (QStringList{"-slave",   "-identify",     "-wid",       "4242",      "-colorkey",
                   "0x101010", "-nokeepaspect", "-framedrop", "-autosync", "100",
                   "-vf",      "screenshot",    "-zoom",      "-font",     "/fonts/Some Sans.ttf",
                   "-ao",      "null",          "-title",     "two words", "--",
                   name}));
  EXPECT_TRUE(Window.Log.contains("CWD=" + QDir(Dir.path()).canonicalPath()));

  // The log starts with the command line in its quoted form, cut at 72 columns.
  ASSERT_GE(Window.Log.size(), 3);
  EXPECT_EQ(Window.Log[0], "command line:");
  const QString expected =
      QString(TOVAMO_STANDIN_PLAYER) +
      " -slave -identify -wid 4242 -colorkey 0x101010 -nokeepaspect"
      " -framedrop -autosync 100 -vf screenshot -zoom -font \"/fonts/Some Sans.ttf\""
      " -ao null -title \"two words\" \"" +
      name + "\"";
  const qsizetype blank = Window.Log.indexOf("");
  ASSERT_GT(blank, 1);
  EXPECT_EQ(Window.Log.mid(1, blank - 1), WrapCommandLine(expected));
}

TEST_F(PlayerProcess, NormalEndAfterPlaybackAdvancesThePlaylist) {
  Core->TitleText = "clip";
  Play({"say ID_FILENAME=clip.avi", kVideoSize, "say ID_EXIT=EOF", "exit 0"});
  EXPECT_TRUE(Core->IsRunning());
  EXPECT_TRUE(Core->QuitAvailable);
  ASSERT_TRUE(WaitForEnd());
  EXPECT_EQ(Window.States(), (QStringList{"OPENING", "PLAYING", "STOPPED"}));
  EXPECT_EQ(Core->PlayerState, TPlayerState::Stopped);
  EXPECT_EQ(Core->PlayerExitCode, 0);
  EXPECT_EQ(Core->MediaInfo.FileName, "clip.avi");
  EXPECT_TRUE(Core->TitleText.isEmpty());
  EXPECT_FALSE(Core->FreshMedia);
  EXPECT_FALSE(Core->QuitAvailable);
  const QStringList tail = Window.Calls.mid(Window.Calls.indexOf("UpdateStatusText STOPPED"));
  EXPECT_EQ(tail, (QStringList{"UpdateStatusText STOPPED", "ShowStoppedControls 0", "UpdateCaption",
                               "PlayNext 1 2"}));
  EXPECT_EQ(Window.Log.last(), "ID_EXIT=EOF");
}

// The window's PlayNext opens the next entry from inside the end of the previous player,
// as a playlist does; every entry plays and each normal end advances.
TEST_F(PlayerProcess, PlaylistAdvancesThroughItsEntries) {
  QStringList entries;
  for (const char* name : {"one.txt", "two.txt", "three.txt"}) {
    QFile file(Dir.filePath(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write((kVideoSize + "\nsay playing " + name + "\n").toUtf8());
    entries << file.fileName();
  }
  QStringList played;
  Window.OnPlayNext = [&](int, TEntryState) {
    played << Window.Log.filter("playing ");
    Core->ShutdownPlayer();
    if (entries.isEmpty()) return;
    Core->FreshMedia = true;
    Core->MediaArgument = TMediaArgument::FromName(entries.takeFirst());
    Core->StartPlayer();
  };
  Window.OnPlayNext(0, TEntryState::Playing);
  ASSERT_TRUE(WaitUntil([&] { return entries.isEmpty() && !Core->IsRunning(); }));
  EXPECT_EQ(played, (QStringList{"playing one.txt", "playing two.txt", "playing three.txt"}));
  const QStringList once{"OPENING", "PLAYING", "STOPPED"};
  EXPECT_EQ(Window.States(), once + once + once);
}

// Each of these ends as Failed, says why in the log and does not advance the playlist.
TEST_F(PlayerProcess, FailedEnds) {
  const struct {
    const char* What;
    QStringList Script;
    int ExitCode;
    QString LogLine;
  } cases[] = {
      {"exit 0 before playback",
       {"say Failed to open x.avi.", "exit 0"},
       0,
       "MPlayer exited before playback started."},
      {"exit code", {kVideoSize, "exit 3"}, 3, "MPlayer exited with code 3."},
      {"crash while playing",
       {kVideoSize, "sleep 50", "crash"},
       128 + 11,
       "MPlayer crashed (signal 11)."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    Window.Calls.clear();
    Play(c.Script);
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(Core->PlayerState, TPlayerState::Failed);
    EXPECT_EQ(Core->PlayerExitCode, c.ExitCode);
    EXPECT_EQ(Window.Log.last(), c.LogLine);
    EXPECT_EQ(Window.Count("ShowStoppedControls 1"), 1);
    EXPECT_EQ(Window.Count("PlayNext 1 2"), 0);
  }
}

TEST_F(PlayerProcess, StopSendsQuitAndDoesNotAdvance) {
  Play({kVideoSize, "serve"});
  ASSERT_TRUE(WaitUntil([&] { return Core->PlayerState == TPlayerState::Playing; }));
  Core->StopPlayer();
  EXPECT_EQ(Core->PlayerState, TPlayerState::Closing);
  EXPECT_FALSE(Core->QuitAvailable);
  ASSERT_TRUE(WaitForEnd());
  EXPECT_TRUE(Window.Log.contains("GOT quit"));
  EXPECT_EQ(Core->PlayerState, TPlayerState::Stopped);
  EXPECT_EQ(Window.Count("ShowStoppedControls 1"), 1);
  EXPECT_EQ(Window.Count("PlayNext 1 2"), 0);
  EXPECT_FALSE(Core->StopRequested);
}

// A player that takes "quit" but goes on is killed a second later, or at once by a second
// stop; either way it ends as Failed, without advancing.
TEST_F(PlayerProcess, StopKillsAPlayerThatIgnoresQuit) {
  for (bool secondStop : {false, true}) {
    SCOPED_TRACE(secondStop ? "second stop" : "quit timeout");
    Play({kVideoSize, "until never"});
    ASSERT_TRUE(WaitUntil([&] { return Core->PlayerState == TPlayerState::Playing; }));
    Core->StopPlayer();
    ASSERT_TRUE(WaitForLog("GOT quit"));
    if (secondStop) Core->StopPlayer();
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(Window.Log.contains("MPlayer did not quit within 1000 ms."), !secondStop);
    EXPECT_EQ(Window.Log.last(), "MPlayer terminated.");
    EXPECT_EQ(Core->PlayerState, TPlayerState::Failed);
    EXPECT_EQ(Core->PlayerExitCode, -1);
    EXPECT_EQ(Window.Count("PlayNext 1 2"), 0);
  }
}

// ShutdownPlayer returns with the player gone and its end handled, whether the player obeys
// "quit" or has stopped reading altogether.
TEST_F(PlayerProcess, ShutdownEndsThePlayerBeforeReturning) {
  const struct {
    const char* What;
    QString Behaviour;
    TPlayerState End;
    QStringList LogTail;
  } cases[] = {
      {"obeys quit", "serve", TPlayerState::Stopped, {"GOT quit"}},
      {"deaf",
       "deaf",
       TPlayerState::Failed,
       {"MPlayer did not quit within 1000 ms.", "MPlayer terminated."}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    Window.Calls.clear();
    Play({kVideoSize, "say ready", c.Behaviour});
    ASSERT_TRUE(WaitForLog("ready"));
    Core->ShutdownPlayer();
    EXPECT_FALSE(Core->IsRunning());
    EXPECT_EQ(Core->PlayerState, c.End);
    EXPECT_EQ(Window.Log.mid(Window.Log.size() - c.LogTail.size()), c.LogTail);
    EXPECT_EQ(Window.Count("UpdateCaption"), 1);
    EXPECT_EQ(Window.Count("PlayNext 1 2"), 0);
    EXPECT_FALSE(Core->StopRequested);
  }
}

TEST_F(PlayerProcess, CommandsToAPlayerThatStopsReadingAreDropped) {
  Play({kVideoSize, "say ready", "deaf"});
  ASSERT_TRUE(WaitForLog("ready"));
  const QString command = "get_property " + QString(90, 'p');
  for (int i = 0; i < 5000; ++i) Core->SendPlayerCommand(command);  // 470 KB
  EXPECT_EQ(Window.Log.filter("does not read its commands").size(), 1);
  EXPECT_EQ(Window.Log.last(),
            "MPlayer does not read its commands: \"" + command + "\" and later ones dropped.");
  Core->StopPlayer();
  ASSERT_TRUE(WaitForEnd());
  EXPECT_EQ(Core->PlayerState, TPlayerState::Failed);
}

// A player that closed its input makes writes fail; the program must not die of it.
TEST_F(PlayerProcess, PlayerThatClosedItsInput) {
  Play({kVideoSize, "close-input", "say closed", "sleep 60000"});
  ASSERT_TRUE(WaitForLog("closed"));
  for (int i = 0; i < 100; ++i) {
    Core->SendPlayerCommand("get_percent_pos");
    test::RunEvents(1);
  }
  Core->ShutdownPlayer();
  EXPECT_FALSE(Core->IsRunning());
  EXPECT_EQ(Core->PlayerState, TPlayerState::Failed);
}

TEST_F(PlayerProcess, RestartKeepsPositionOsdAndTracks) {
  Play({"args", kVideoSize, "say ID_AUDIO_ID=1", "say ID_AUDIO_ID=2", "serve"});
  ASSERT_TRUE(WaitUntil([&] { return Core->AudioMenu.Items.size() == 2; }));
  Core->ProcessOutputLine("ANS_PERCENT_POSITION=37");
  Core->SetOsdLevel(2);
  Core->AudioTrack = 2;  // the window's audio menu choice
  Window.Calls.clear();
  Core->RestartPlayer();
  ASSERT_TRUE(Core->IsRunning());
  EXPECT_EQ(Window.States().mid(0, 2), (QStringList{"STOPPED", "OPENING"}));
  EXPECT_EQ(Window.Calls.last(), "QueryPosition");
  EXPECT_EQ(Window.Count("PlayNext 1 2"), 0);
  // The new player got the track and then the kept position and OSD level.
  ASSERT_TRUE(WaitForLog("GOT osd 2"));
  EXPECT_EQ(CommandsUpToMarker(), (QStringList{"seek 37 1", "osd 2", "marker"}));
  const qsizetype aid = Window.Log.indexOf("ARG=-aid");
  ASSERT_GE(aid, 0);
  EXPECT_EQ(Window.Log[aid + 1], "ARG=2");
  // Not fresh media: the menus and the chosen track stay.
  EXPECT_EQ(Core->AudioMenu.Items.size(), 2u);
  EXPECT_EQ(Core->AudioTrack, 2);
  EXPECT_EQ(Window.Count("TrackMenuChanged 0"), 0);
  Core->ShutdownPlayer();
}

// The volume the player gets at its start, by audio output and volume settings.
TEST_F(PlayerProcess, VolumeAtStart) {
  const struct {
    int AudioOut;
    bool SoftVol;
    bool Muted;
    int Volume;
    int SentBefore;
    QStringList Commands;
  } cases[] = {
      {3, false, false, 100, -1, {}},
      {3, false, false, 80, 80, {"volume 80 1"}},  // the device starts at 100 again
      {3, true, false, 250, 250, {"volume 25 1"}},
      {2, false, false, 70, 70, {}},
      {2, false, false, 60, 70, {"volume 60 1"}},
      {1, false, false, 50, -1, {}},
      {0, false, true, 50, -1, {}},
      {3, false, true, 80, -1, {"mute"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "AudioOut " << c.AudioOut << " volume " << c.Volume
                                    << (c.SoftVol ? " soft" : "") << (c.Muted ? " muted" : ""));
    Core->Settings.AudioOut = c.AudioOut;
    Core->Settings.SoftVol = c.SoftVol;
    Core->Muted = c.Muted;
    Core->Volume = c.Volume;
    Core->SentVolume = c.SentBefore;
    Play({"serve"});
    EXPECT_EQ(CommandsUpToMarker(), c.Commands + QStringList{"marker"});
    Core->ShutdownPlayer();
  }
}

TEST_F(PlayerProcess, VolumeAndOsdCommands) {
  Play({"serve"});
  Core->SetPlayerVolume(40);
  Core->Settings.SoftVol = true;
  Core->SetPlayerVolume(250);
  Core->Muted = true;
  Core->SetPlayerVolume(90);  // ignored while muted
  EXPECT_EQ(Core->SentVolume, 250);
  Core->SetOsdLevel(-1);  // 1 -> 2
  Core->SetOsdLevel(-1);
  Core->SetOsdLevel(-1);  // 3 -> 0
  Core->SetOsdLevel(5);
  EXPECT_EQ(Core->OsdLevel, 1);
  EXPECT_EQ(CommandsUpToMarker(), (QStringList{"volume 40 1", "volume 25 1", "osd 2", "osd 3",
                                               "osd 0", "osd 1", "marker"}));
  Core->ShutdownPlayer();
}

// Starting needs media and no running player; commands and stops need a player.
TEST_F(PlayerProcess, RefusedStartsAndCommandsWithoutAPlayer) {
  Core->StartPlayer();  // no media
  EXPECT_EQ(Core->PlayerState, TPlayerState::Idle);
  EXPECT_TRUE(Window.Calls.isEmpty());
  Core->SendPlayerCommand("pause");
  Core->StopPlayer();
  Core->ShutdownPlayer();
  Core->KillPlayer();
  Core->RestartPlayer();
  EXPECT_EQ(Core->PlayerState, TPlayerState::Idle);
  EXPECT_TRUE(Window.Calls.isEmpty());

  Play({"serve"});
  Core->StartPlayer();  // already running
  EXPECT_EQ(Window.Log.count("command line:"), 1);
  EXPECT_EQ(Window.Count("ShowPlayingControls"), 1);
  Core->ShutdownPlayer();
  // A shutdown without a player leaves no stop request behind: the next end advances.
  Core->ShutdownPlayer();
  Play({kVideoSize, "exit 0"});
  ASSERT_TRUE(WaitForEnd());
  EXPECT_EQ(Window.Count("PlayNext 1 2"), 1);
}

// No player to start: the log says why, the state is Failed and nothing advances.
TEST_F(PlayerProcess, PlayerThatCannotStart) {
  QFile notExecutable(Dir.filePath("not-a-program"));
  ASSERT_TRUE(notExecutable.open(QIODevice::WriteOnly));
  notExecutable.close();
  const test::TEnvironmentGuard path("PATH", Dir.path().toLocal8Bit());  // no mplayer there
  const struct {
    QString Program;
    QStringList Log;
  } cases[] = {
      {"",
       {"Error 2 while call codec:", "No such file or directory",
        "Please check if dc is installed in the same directory as Vexa, or mplayer on the PATH."}},
      {Dir.filePath("not-a-program"), {"Error 13 while call codec:", "Permission denied"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Program.toStdString());
    Window.Calls.clear();
    Core->PlayerProgram = c.Program;
    Play({"serve"});
    EXPECT_FALSE(Core->IsRunning());
    EXPECT_EQ(Core->PlayerState, TPlayerState::Failed);
    EXPECT_EQ(Window.Log.mid(Window.Log.indexOf("") + 1), c.Log);
    EXPECT_EQ(Window.States(), (QStringList{"OPENING", "ERROR"}));
    EXPECT_EQ(Window.Count("ShowStoppedControls 1"), 1);
    EXPECT_EQ(Window.Count("ShowPlayingControls"), 0);
    EXPECT_EQ(Window.Count("PlayNext 1 2"), 0);
  }
  // The logged command line names "dc" in the program folder.
  Core->PlayerProgram.clear();
  Play({"serve"});
  EXPECT_TRUE(Window.Log[1].startsWith(Dir.filePath("dc") + " -slave"))
      << Window.Log[1].toStdString();
}

TEST_F(PlayerProcess, RefusedOperatingSystem) {
  Core->OsCheck = 1;
  Play({"serve"});
  EXPECT_FALSE(Core->IsRunning());
  EXPECT_EQ(Window.Log, QStringList{"not executing MPlayer: invalid Operating System version"});
  EXPECT_EQ(Window.States(), (QStringList{"OPENING", "ERROR"}));
  EXPECT_EQ(Window.Count("ShowStoppedControls 1"), 1);
}

// The output path end to end: status lines, split and overlong lines, invalid UTF-8, the
// last line without an end, and a repeat run still open when the player ends.
TEST_F(PlayerProcess, OutputReachesTheParser) {
  Play({"raw A:   1.2 V:   1.2 \\r", "raw A:   2.0 V:   2.0 \\r\\nID_LEN", "sleep 20",
        "raw GTH=7.0\\n", "flood 3000000", "say ", "say bad \\xff\\xfe bytes", "say same",
        "say same", "raw same", "exit 0"});
  ASSERT_TRUE(WaitForEnd());
  EXPECT_EQ(Core->PositionSeconds, 2);
  EXPECT_EQ(Core->DurationText, "0:00:07");
  const QStringList output = Window.Log.mid(Window.Log.indexOf("") + 1);
  EXPECT_EQ(output, (QStringList{"ID_LENGTH=7.0", QString(4096, 'x'),
                                 QString::fromUtf8("bad \xef\xbf\xbd\xef\xbf\xbd bytes"), "same",
                                 "(last message repeated 2 times)",
                                 "MPlayer exited before playback started."}));
}

TEST_F(PlayerProcess, DestroyingTheCoreEndsThePlayer) {
  Play({"say ready", "deaf"});
  ASSERT_TRUE(WaitForLog("ready"));
  Core.reset();
  EXPECT_TRUE(ChildProcesses().empty());
}

TEST(PlayerProgram, LookupPrefersDcBesideTheProgramThenMPlayerOnPath) {
  QTemporaryDir program, bin;
  ASSERT_TRUE(program.isValid() && bin.isValid());
  const auto makeFile = [](const QString& path, bool executable) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("#!/bin/sh\n");
    f.close();
    if (executable) f.setPermissions(f.permissions() | QFile::ExeOwner);
  };
  const test::TEnvironmentGuard path("PATH", bin.path().toLocal8Bit());
  // A "dc" on PATH is the desk calculator, never the player.
  makeFile(bin.filePath("dc"), true);
  EXPECT_EQ(FindPlayerProgram(program.path()), "");
  makeFile(bin.filePath("mplayer"), true);
  EXPECT_EQ(FindPlayerProgram(program.path()), bin.filePath("mplayer"));
  makeFile(program.filePath("dc"), false);
  EXPECT_EQ(FindPlayerProgram(program.path()), bin.filePath("mplayer"));
  QFile::remove(program.filePath("dc"));
  makeFile(program.filePath("dc"), true);
  EXPECT_EQ(FindPlayerProgram(program.path() + "/"), program.filePath("dc"));
}

// The OSD font comes from fontconfig as a TrueType file, or is left to MPlayer; a machine
// without fontconfig's matcher gets no font and no wait.
TEST(PlayerProgram, FontIsATrueTypeFileOrNothing) {
  const QString font = FindPlayerFont();
  if (!font.isEmpty()) {
    EXPECT_TRUE(QFileInfo(font).isFile()) << font.toStdString();
    EXPECT_TRUE(font.endsWith(".ttf", Qt::CaseInsensitive) ||
                font.endsWith(".ttc", Qt::CaseInsensitive))
        << font.toStdString();
  }
  QTemporaryDir empty;
  const test::TEnvironmentGuard path("PATH", empty.path().toLocal8Bit());
  EXPECT_EQ(FindPlayerFont(), "");
}

}  // namespace
}  // namespace tovamo::player
