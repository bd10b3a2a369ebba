// Constants shared by the source files of the player window TMainForm (MainForm.h); only
// those files include this header.
#pragma once

namespace tovamo::player {

inline constexpr int kControlPanelHeight = 73;
inline constexpr int kStatusPanelHeight = 25;
inline constexpr int kFullscreenControlsMs = 3000;

}  // namespace tovamo::player
