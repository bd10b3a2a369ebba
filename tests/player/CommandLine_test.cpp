// MPlayer's command line: the fragments, their order and conditions, and the logged form.
#include <gtest/gtest.h>

#include <QProcess>

#include "Core/CommandLine.h"
#include "PlayerTestSupport.h"

namespace tovamo::player {
namespace {

TCommandLineInput BaseInput() {
  TCommandLineInput in;
  in.Program = "/opt/tovamo/dc";
  in.WindowId = 77594625;
  in.Media = TMediaArgument::FromName("/v/clip.avi");
  return in;
}

const QString kFixed =
    "/opt/tovamo/dc -slave -identify -wid 77594625 -colorkey 0x101010"
    " -nokeepaspect -framedrop -autosync 100 -vf screenshot -zoom";
const QStringList kFixedArgs = {"-slave",   "-identify",     "-wid",       "77594625",  "-colorkey",
                                "0x101010", "-nokeepaspect", "-framedrop", "-autosync", "100",
                                "-vf",      "screenshot",    "-zoom"};

// Each row changes the defaults (MPlayer's own audio output, automatic postprocessing) in one
// respect.
TEST(CommandLine, FragmentsFollowTheSettingsInTheirOrder) {
  const struct {
    const char* What;
    std::function<void(TCommandLineInput&)> Change;
    QString Middle;  // the text between the fixed part and the media
  } cases[] = {
      {"defaults", [](auto&) {}, " -autoq 10 -vf-add pp"},
      {"font", [](auto& in) { in.FontFile = "/usr/share/fonts/Liberation Sans.ttf"; },
       " -font \"/usr/share/fonts/Liberation Sans.ttf\" -autoq 10 -vf-add pp"},
      {"reindex", [](auto& in) { in.Settings.ReIndex = true; }, " -idx -autoq 10 -vf-add pp"},
      {"soft volume", [](auto& in) { in.Settings.SoftVol = true; },
       " -softvol -softvol-max 1000 -autoq 10 -vf-add pp"},
      {"no priority option", [](auto& in) { in.Settings.PriorityBoost = false; },
       " -autoq 10 -vf-add pp"},
      {"opengl", [](auto& in) { in.VistaMode = true; }, " -vo gl -autoq 10 -vf-add pp"},
      {"no sound", [](auto& in) { in.Settings.AudioOut = 0; }, " -nosound -autoq 10 -vf-add pp"},
      {"null audio", [](auto& in) { in.Settings.AudioOut = 1; }, " -ao null -autoq 10 -vf-add pp"},
      {"system output", [](auto& in) { in.Settings.AudioOut = 2; }, " -autoq 10 -vf-add pp"},
      {"alsa card 1", [](auto& in) { in.Settings.AudioDev = 1; },
       " -ao alsa:device=hw=1 -autoq 10 -vf-add pp"},
      {"alsa card 2", [](auto& in) { in.Settings.AudioDev = 2; },
       " -ao alsa:device=hw=2 -autoq 10 -vf-add pp"},
      {"audio track", [](auto& in) { in.AudioTrack = 3; }, " -aid 3 -autoq 10 -vf-add pp"},
      {"audio track without sound",
       [](auto& in) {
         in.AudioTrack = 3;
         in.Settings.AudioOut = 0;
       },
       " -nosound -autoq 10 -vf-add pp"},
      {"subtitle track without sound",
       [](auto& in) {
         in.SubtitleTrack = 0;
         in.Settings.AudioOut = 0;
       },
       " -nosound -sid 0 -autoq 10 -vf-add pp"},
      {"aspect 4:3", [](auto& in) { in.Settings.Aspect = 1; }, " -aspect 4:3 -autoq 10 -vf-add pp"},
      {"aspect 16:9", [](auto& in) { in.Settings.Aspect = 2; },
       " -aspect 16:9 -autoq 10 -vf-add pp"},
      {"aspect 2.35", [](auto& in) { in.Settings.Aspect = 3; },
       " -aspect 2.35 -autoq 10 -vf-add pp"},
      {"no postprocessing", [](auto& in) { in.Settings.Postproc = 0; }, ""},
      {"strong postprocessing", [](auto& in) { in.Settings.Postproc = 2; }, " -vf-add pp=hb/vb/dr"},
      {"simple deinterlace", [](auto& in) { in.Settings.Deinterlace = 1; },
       " -autoq 10 -vf-add pp -vf-add lavcdeint"},
      {"adaptive deinterlace", [](auto& in) { in.Settings.Deinterlace = 2; },
       " -autoq 10 -vf-add pp -vf-add kerndeint"},
      {"extra parameters", [](auto& in) { in.Settings.Params = "-cache 8192 -title \"a b\""; },
       " -autoq 10 -vf-add pp -cache 8192 -title \"a b\""},
  };
  for (const auto& c : cases) {
    TCommandLineInput in = BaseInput();
    c.Change(in);
    const TPlayerCommandLine line = BuildCommandLine(in);
    EXPECT_EQ(line.Text, kFixed + c.Middle + " /v/clip.avi") << c.What;
    EXPECT_EQ(line.Program, "/opt/tovamo/dc");
    // The argument list is the logged text split at its fragments' spaces, quotes removed.
    QStringList expected = kFixedArgs + QProcess::splitCommand(c.Middle);
    expected << "--"
             << "/v/clip.avi";
    EXPECT_EQ(line.Arguments, expected) << c.What;
  }
}

TEST(CommandLine, EverythingAtOnceInTableOrder) {
  TCommandLineInput in = BaseInput();
  in.FontFile = "/f.ttf";
  in.Settings = {.AudioOut = 3,
                 .AudioDev = 1,
                 .Postproc = 2,
                 .Deinterlace = 2,
                 .Aspect = 3,
                 .ReIndex = true,
                 .SoftVol = true,
                 .PriorityBoost = true,
                 .Params = "-fs"};
  in.VistaMode = true;
  in.AudioTrack = 2;
  in.SubtitleTrack = 1;
  EXPECT_EQ(BuildCommandLine(in).Text,
            kFixed +
                " -font /f.ttf -idx -softvol -softvol-max 1000 -vo gl -ao alsa:device=hw=1"
                " -aid 2 -sid 1 -aspect 2.35 -vf-add pp=hb/vb/dr -vf-add kerndeint -fs"
                " /v/clip.avi");
}

// Spaces, quotes, a leading "-" and non-ASCII letters: the log shows the quoted form, the
// process gets each path whole.
TEST(CommandLine, PathsStayWhole) {
  TCommandLineInput in = BaseInput();
  in.Program = "/opt/my player/dc";
  in.Settings.Postproc = 0;
  in.Settings.AudioOut = 1;
  in.Media = TMediaArgument::FromName("-Größe \"x\" 'y'.avi");
  const TPlayerCommandLine line = BuildCommandLine(in);
  EXPECT_EQ(line.Program, "/opt/my player/dc");
  EXPECT_TRUE(line.Text.startsWith("\"/opt/my player/dc\" -slave"));
  EXPECT_TRUE(line.Text.endsWith(" -ao null \"-Größe \"x\" 'y'.avi\""));
  EXPECT_EQ(line.Arguments.mid(line.Arguments.size() - 2),
            (QStringList{"--", "-Größe \"x\" 'y'.avi"}));
}

}  // namespace
}  // namespace tovamo::player
