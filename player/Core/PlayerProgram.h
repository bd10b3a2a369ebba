// Where the player program and its OSD font come from.
#pragma once

#include <QString>

namespace tovamo::player {

// "dc" in the program folder (the build links it to MPlayer), else "mplayer" on PATH;
// never a "dc" from PATH, which is the desk calculator. Empty when neither is there.
QString FindPlayerProgram(const QString& AProgramDir);

// The path "dc" has in the program folder; what the log names when no player is found.
QString BesidePlayerPath(const QString& AProgramDir);

// A TrueType font for the OSD as fontconfig matches Arial; empty when there is none.
QString FindPlayerFont();

}  // namespace tovamo::player
