// The small types the preview player's parts share: the player state, the playlist exit
// state that ends a playback, and the two track menus.
#pragma once

#include <QString>

#include <cstdint>
#include <vector>

namespace tovamo::player {

// The player state the window shows in its status label.
enum class TPlayerState : std::uint8_t {
  Idle = 0,
  Opening = 1,
  Closing = 2,
  Playing = 3,
  Paused = 4,
  Stopped = 5,
  Failed = 6,
};

// The status label text of a state (empty for Idle).
QString PlayerStateText(TPlayerState AState);

// How a playlist entry ended; the window's PlayNext marks the current entry with it.
enum class TEntryState : std::uint8_t {
  NotPlayed = 0,
  Playing = 1,
  Played = 2,
  Skipped = 3,
};

enum class TTrackKind : std::uint8_t { Audio, Subtitle };

// One item of the audio or subtitle menu: a radio item tagged with the track id.
struct TTrackItem {
  int Id = 0;
  QString Caption;
  bool Checked = false;

  bool operator==(const TTrackItem&) const = default;
};

struct TTrackMenu {
  std::vector<TTrackItem> Items;
  bool Enabled = false;
};

}  // namespace tovamo::player
