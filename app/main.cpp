// Tovamo's program entry: the converter window, with the files named on the command line
// added to its list (the desktop's "Open with" passes them so).
#include <QCommandLineParser>
#include <QFileInfo>
#include <cstdio>

#include "ConverterWindow.h"
#include "ErrorDisplay.h"
#include "FramePreviewWindow.h"
#include "QtMainThread.h"
#include "Services/ProgramDir.h"

int main(int argc, char** argv) {
  using namespace tovamo;
  TConverterApplication app(argc, argv);
  QApplication::setApplicationName("Tovamo");
  QApplication::setApplicationVersion(TOVAMO_VERSION);
  QApplication::setWindowIcon(QIcon::fromTheme("tovamo", QIcon(":/tovamo.png")));
  InstallQtMainThreadBridge();
  InstallFramePreviewWindows();

  QCommandLineParser parser;
  parser.setApplicationDescription(
      "Batch video converter: every checked file becomes an MPEG file.");
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addPositionalArgument("files", "Video files to add to the list.", "[FILE...]");
  parser.process(app);

  QStringList files;
  for (const QString& file : parser.positionalArguments())
    files << QFileInfo(file).absoluteFilePath();

  TForm1 window({QString::fromStdString(ProgramDir()), QString(), files});
  window.show();
  return app.exec();
}
