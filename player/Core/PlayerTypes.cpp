#include "Core/PlayerTypes.h"

namespace tovamo::player {

QString PlayerStateText(TPlayerState AState) {
  switch (AState) {
    case TPlayerState::Idle:
      return {};
    case TPlayerState::Opening:
      return QStringLiteral("OPENING");
    case TPlayerState::Closing:
      return QStringLiteral("CLOSING");
    case TPlayerState::Playing:
      return QStringLiteral("PLAYING");
    case TPlayerState::Paused:
      return QStringLiteral("PAUSED");
    case TPlayerState::Stopped:
      return QStringLiteral("STOPPED");
    case TPlayerState::Failed:
      return QStringLiteral("ERROR");
  }
  return {};
}

}  // namespace tovamo::player
