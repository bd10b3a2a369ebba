// The player's settings files: "autorun.inf", then "Vexa.ini", beside the
// program, section [Vexa]. Read in that order, a later file overriding an earlier one, and
// never written. A key that is unknown or a value that is not allowed keeps what was there,
// and a note says what was ignored.
#pragma once

#include <QString>
#include <QStringList>

#include "Core/PlayerSettings.h"

namespace tovamo::player {

// What the settings files set on the player window.
struct TWindowSettings {
  bool Fullscreen = false;  // FullscreenOnStart
  bool AutoQuit = false;
};

// The files read at start-up, in order.
QStringList SettingsFileNames();

// Reads one settings file; false when there is none. Notes get one line for each key or
// value that was ignored.
bool LoadSettings(const QString& AFileName, TPlayerSettings& ASettings, TWindowSettings& AWindow,
                  QStringList& ANotes);

// The largest settings file read; the rest of a longer one is ignored.
constexpr qint64 kMaxSettingsFileBytes = 1024 * 1024;

}  // namespace tovamo::player
