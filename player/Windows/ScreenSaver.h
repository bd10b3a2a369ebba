// Holds the desktop's screen saver off while a video plays in fullscreen: the standard
// org.freedesktop.ScreenSaver Inhibit / UnInhibit calls on the session bus. Without a
// session bus (or without Qt D-Bus in the build) it does nothing.
#pragma once

#include <QObject>
#include <QString>

#include <cstdint>

namespace tovamo::player {

class TScreenSaverInhibitor : public QObject {
 public:
  TScreenSaverInhibitor();
  ~TScreenSaverInhibitor() override;

  // On asks for the inhibition (once), off releases it.
  void SetInhibited(bool AOn);
  // What was asked last.
  bool Wanted() const { return WantedOn; }
  // The desktop's cookie while it holds the inhibition, else 0.
  std::uint32_t Cookie() const { return HeldCookie; }
  // Whether this build can speak to the desktop at all.
  static bool Available();

 private:
  bool WantedOn = false;
  bool Pending = false;
  std::uint32_t HeldCookie = 0;
};

}  // namespace tovamo::player
