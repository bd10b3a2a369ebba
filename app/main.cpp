// Tovamo's program entry. Start-up order: the main-thread hand-over and the frame previewer,
// then the converter window (the main window) and the player's windows; only the converter
// window is shown, and closing it ends the program.
//   tovamo [FILE...]            the converter, with the files added to its list
//   tovamo --preview FILE...    the player window alone on the files
//   --                          ends the options: a name after it may begin with "-"
//   -fs, -compact, -autoquit    start switches of the player window
#include <cstdio>

#include "ConverterWindow.h"
#include "ErrorDisplay.h"
#include "FramePreviewWindow.h"
#include "PlayerPreview.h"
#include "ProgramArguments.h"
#include "QtMainThread.h"
#include "Services/ProgramDir.h"
#include "Windows/PlayerLauncher.h"

namespace {

const char* const kUsage =
    "Usage: tovamo [OPTION...] [--] [FILE...]\n"
    "       tovamo --preview [OPTION...] [--] FILE...\n"
    "\n"
    "Opens the converter window; the files are added to its list as by Add.\n"
    "\n"
    "  --preview     play the files in the player window instead (closing it ends the program)\n"
    "  -fs           the player window starts in full screen\n"
    "  -compact      the player window starts in compact mode\n"
    "  -autoquit     the player window closes at the end of its list\n"
    "  --version     print the program's version\n"
    "  --help        print this text\n"
    "  --            the arguments after it are files, even those beginning with \"-\"\n";

}  // namespace

int main(int argc, char** argv) {
  using namespace tovamo;
  // The arguments are read before the application exists, so that --help and --version
  // work without a display.
  QStringList arguments;
  for (int i = 1; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  const TProgramArguments parsed = ParseProgramArguments(arguments);
  switch (parsed.Action) {
    case TProgramArguments::TAction::Help:
      std::fputs(kUsage, stdout);
      return 0;
    case TProgramArguments::TAction::Version:
      std::printf("tovamo %s\n", TOVAMO_VERSION);
      return 0;
    case TProgramArguments::TAction::UsageError:
      std::fprintf(stderr, "tovamo: %s\n\n%s", qPrintable(parsed.Error), kUsage);
      return 2;
    case TProgramArguments::TAction::Run:
      break;
  }
  const bool preview = parsed.Preview;
  const QStringList& files = parsed.Files;

  TConverterApplication app(argc, argv);
  QApplication::setApplicationName("Tovamo");
  QApplication::setApplicationVersion(TOVAMO_VERSION);
  QApplication::setWindowIcon(QIcon::fromTheme("tovamo"));
  InstallQtMainThreadBridge();
  InstallFramePreviewWindows();
  if (preview) return player::RunPreviewOnly(app, files);

  TForm1 window({QString::fromStdString(ProgramDir()), QString(), files});
  player::TPlayerWindows players;
  players.Window();  // the player's windows exist from the start, hidden
  TPlayerPreview playerPreview(players);
  window.SetPreviewPlayer(&playerPreview);
  window.OnClosed = [&app] { app.quit(); };
  window.show();
  return app.exec();
}
