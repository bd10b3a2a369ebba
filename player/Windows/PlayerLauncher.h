// The entry points the program uses for the preview player.
//
//   tovamo::player::TPlayerWindows players;           // owned by the caller (converter)
//   players.PreviewFile(path);                        // the converter's Preview
//   players.Window();                                 // the "FLV Player" window, created lazily
//
//   int main(...) { QApplication app(...); ... if (preview) return RunPreviewOnly(app, files); }
//
// The player window reads its settings files ("autorun.inf", "Vexa.ini") beside the
// program and its start switches ("-fs", "-compact", "-autoquit") from the program's
// parameters, scanned from the first until one that is none of them.
#pragma once

#include <QApplication>
#include <QString>
#include <QStringList>

#include <memory>

#include "Windows/MainForm.h"

namespace tovamo::player {

class TPlayerWindows {
 public:
  // Options for the window: by default the program's parameters (without its name), the
  // program's folder and the player found there ("dc", else mplayer on PATH).
  static TMainForm::TOptions DefaultOptions();

  explicit TPlayerWindows(TMainForm::TOptions AOptions = DefaultOptions());
  ~TPlayerWindows();
  TPlayerWindows(const TPlayerWindows&) = delete;
  TPlayerWindows& operator=(const TPlayerWindows&) = delete;

  // The player window with its playlist, stream information, log and keyboard help
  // windows; created on first use, destroyed with this object (which ends its player).
  TMainForm& Window();
  bool HasWindow() const { return Form != nullptr; }

  // What the converter's Preview does: the file is added to the playlist, the window is
  // shown, and 100 ms later the last playlist entry (this file) plays.
  void PreviewFile(const QString& AFileName, bool AVistaMode = false);

 private:
  TMainForm::TOptions Options;
  std::unique_ptr<TMainForm> Form;
};

// "tovamo --preview FILE...": the player window alone on the files (the converter window is
// never created); closing the player window, or -autoquit at the end of the list, ends the
// program. Runs the application's event loop and returns its exit code.
int RunPreviewOnly(QApplication& AApp, const QStringList& AFiles);

}  // namespace tovamo::player
