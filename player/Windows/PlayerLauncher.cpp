#include "Windows/PlayerLauncher.h"

namespace tovamo::player {

TMainForm::TOptions TPlayerWindows::DefaultOptions() {
  TMainForm::TOptions options;
  // The player's start switches, wherever they stand among the program's other arguments
  // ("tovamo --preview -fs FILE" and "tovamo -fs --preview FILE" alike); after "--" come
  // only file names.
  for (const QString& argument : QCoreApplication::arguments().mid(1)) {
    if (argument == QLatin1String("--")) break;
    for (const char* start : {"-fs", "-compact", "-autoquit"})
      if (argument.compare(QLatin1String(start), Qt::CaseInsensitive) == 0)
        options.Arguments << argument;
  }
  return options;
}

TPlayerWindows::TPlayerWindows(TMainForm::TOptions AOptions) : Options(std::move(AOptions)) {}

TPlayerWindows::~TPlayerWindows() = default;

TMainForm& TPlayerWindows::Window() {
  if (!Form) Form = std::make_unique<TMainForm>(Options);
  return *Form;
}

void TPlayerWindows::PreviewFile(const QString& AFileName, bool AVistaMode) {
  Window().Preview(AFileName, AVistaMode);
}

int RunPreviewOnly(QApplication& AApp, const QStringList& AFiles) {
  TPlayerWindows players;
  TMainForm& form = players.Window();
  const bool quitOnLast = AApp.quitOnLastWindowClosed();
  AApp.setQuitOnLastWindowClosed(false);
  form.OnClosed = [&AApp] { AApp.quit(); };
  for (const QString& file : AFiles) {
    form.Playlist.Add(file);
    for (const QString& note : form.Playlist.Notes) form.AddLogLine(note);
  }
  form.show();  // plays the first entry
  const int code = AApp.exec();
  AApp.setQuitOnLastWindowClosed(quitOnLast);
  return code;
}

}  // namespace tovamo::player
