// What the player core needs of the player window, its log window and its stream
// information window. The core calls these on the window thread only, the thread that owns
// the core. The window reads the figures it shows (state, position, sizes, track menus,
// media information) from the core when told to update.
#pragma once

#include <QString>

#include <cstdint>

#include "Core/PlayerTypes.h"

namespace tovamo::player {

class TPlayerWindow {
 public:
  virtual ~TPlayerWindow() = default;

  // The native id of the video panel MPlayer draws into ("-wid").
  virtual std::uint64_t VideoPanelId() = 0;

  // Player window.
  virtual void ShowPlayingControls() = 0;
  virtual void ShowStoppedControls(bool ADelayLogo) = 0;
  virtual void ShowMediaLayout() = 0;
  virtual void UpdateStatusText() = 0;
  virtual void ShowStatusLine(const QString& ALine) = 0;  // a line shown as is (cache fill)
  virtual void UpdateTimeText() = 0;
  virtual void UpdateSeekBar() = 0;
  virtual void UpdateCaption() = 0;
  virtual void ApplyVideoSize() = 0;
  virtual void QueryPosition() = 0;
  virtual void TrackMenuChanged(TTrackKind AMenu) = 0;
  virtual void PlayNext(int ADirection, TEntryState AExitState) = 0;

  // Stream information window.
  virtual void RefreshInfo() = 0;

  // Log window.
  virtual void ClearLog() = 0;
  virtual void AddLogLine(const QString& ALine) = 0;
  virtual QString LastLogLine() = 0;
  virtual void ReplaceLastLogLine(const QString& ALine) = 0;
};

}  // namespace tovamo::player
