#include "Windows/WindowDrag.h"

namespace tovamo::player {

void TWindowDrag::Press(QPoint AGlobal, QPoint AWindowPos) {
  State = TState::Armed;
  Origin = AGlobal;
  Pointer = AGlobal;
  WindowOrigin = AWindowPos;
}

TWindowDrag::TStep TWindowDrag::Move(QPoint AGlobal, bool AButtonHeld, int ADragDistance) {
  if (State == TState::Idle) return TStep::None;
  if (!AButtonHeld) {  // the release was lost (another window or a grab took it)
    State = TState::Idle;
    return TStep::None;
  }
  Pointer = AGlobal;
  if (State == TState::Following) return TStep::Follow;
  if ((AGlobal - Origin).manhattanLength() < ADragDistance) return TStep::None;
  return TStep::StartMove;
}

bool TWindowDrag::Release() {
  const bool dragged = State == TState::Following;
  State = TState::Idle;
  return dragged;
}

}  // namespace tovamo::player
