// Moving the player window by dragging its picture. A press only arms the drag: the move
// starts once the pointer has travelled the platform's drag distance with the button still
// held, and ends on the release. A click therefore never moves the window, and a move seen
// without the button (its release went elsewhere) ends the drag instead of carrying the
// window along.
#pragma once

#include <QPoint>

namespace tovamo::player {

class TWindowDrag {
 public:
  enum class TStep {
    None,       // nothing to do
    StartMove,  // the drag begins: hand it to the window manager, or Follow if it cannot
    Follow,     // put the window at WindowPosition()
  };

  void Press(QPoint AGlobal, QPoint AWindowPos);
  TStep Move(QPoint AGlobal, bool AButtonHeld, int ADragDistance);
  // The window manager took the move over: nothing more to do here until the next press.
  void HandedOver() { State = TState::Idle; }
  // No window manager move: the window follows the pointer from now on.
  void FollowPointer() { State = TState::Following; }
  // True when the release belonged to a drag (the window's, not a click's).
  bool Release();
  QPoint WindowPosition() const { return WindowOrigin + Pointer - Origin; }
  bool Following() const { return State == TState::Following; }

 private:
  enum class TState { Idle, Armed, Following };
  TState State = TState::Idle;
  QPoint Origin;
  QPoint WindowOrigin;
  QPoint Pointer;
};

}  // namespace tovamo::player
