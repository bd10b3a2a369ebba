// Assembles MPlayer's command line: the argument list the process receives and the text
// the log window shows, fragment by fragment in one fixed order.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>

#include "Core/MediaArgument.h"
#include "Core/PlayerSettings.h"

namespace tovamo::player {

struct TCommandLineInput {
  QString Program;             // the player executable
  std::uint64_t WindowId = 0;  // the video panel MPlayer draws into
  QString FontFile;            // the OSD font; empty leaves MPlayer's own
  TPlayerSettings Settings;
  bool VistaMode = false;  // OpenGL video output
  int AudioTrack = -1;
  int SubtitleTrack = -1;
  TMediaArgument Media;
};

struct TPlayerCommandLine {
  QString Program;
  QStringList Arguments;
  QString Text;  // the quoted form for the log: executable, then " " + each fragment
};

TPlayerCommandLine BuildCommandLine(const TCommandLineInput& AInput);

}  // namespace tovamo::player
