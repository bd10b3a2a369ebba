// Takes the README's picture of the converter window in the middle of a conversion: writes
// a few generated clips, adds them, converts them with the named profile (one of them was
// moved away after it was added, so its row shows a failure), pauses once every converting
// row shows its progress and speed, and saves the window as a PNG.
//   tovamo-screenshot OUT.png [PROFILE] [--rows N] [--fit SIZE]
// --rows N lists N rows (the clips again under other names) and shows the end of the list;
// --fit SIZE chooses "Fit to Disc" for that disc size first.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>

#include "ConverterWindow.h"
#include "QtMainThread.h"
#include "SampleClip.h"
#include "Services/FFLoad.h"
#include "Services/ProgramDir.h"

int main(int argc, char** argv) {
  using namespace tovamo;
  QApplication app(argc, argv);
  QApplication::setApplicationName("Tovamo");
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s OUT.png [PROFILE]\n", argv[0]);
    return 2;
  }
  InstallQtMainThreadBridge();
  QString profile = "MPEG2 FOR PAL DVD(720*576)", fit;
  int rows = 0;
  for (int i = 2; i < argc; ++i) {
    const QString arg = QString::fromLocal8Bit(argv[i]);
    if (arg == "--rows" && i + 1 < argc)
      rows = QString(argv[++i]).toInt();
    else if (arg == "--fit" && i + 1 < argc)
      fit = QString::fromLocal8Bit(argv[++i]);
    else
      profile = arg;
  }
  QTemporaryDir work;
  const QString outputDir = work.filePath("out");
  QDir().mkpath(outputDir);
  if (!FFLoader().LoadLibs(kEncoderLibraries)) {
    std::fprintf(stderr, "%s\n", FFLoader().LastErrorText().c_str());
    return 1;
  }
  // Long enough that the conversion is still running when the picture is taken.
  QStringList files;
  for (const char* name : {"Holiday at the sea.avi", "Birthday party.mp4", "Garden.mov",
                           "Lecture notes.flv", "Concert.wmv", "Moved away.avi"}) {
    files << work.filePath(name);
    cli::WriteSampleClip(files.back().toStdString(), {640, 480, 25, 20});
  }
  // More rows: the same clips under numbered names, before the one moved away.
  const int clips = int(files.size()) - 1;
  for (int n = int(files.size()); n < rows; ++n) {
    const QString& clip = files[(n - 1) % clips];
    const QString copy = work.filePath(
        QString("Part %1 - %2").arg(n, 2, 10, QChar('0')).arg(QFileInfo(clip).fileName()));
    QFile::link(clip, copy);
    files.insert(files.size() - 1, copy);
  }
  TForm1 window({QString::fromStdString(ProgramDir()), work.filePath("settings.ini"), {}});
  window.Confirm = [](const QString&) { return true; };
  window.ShowMessage = [](const QString& message) {
    std::fprintf(stderr, "%s\n", qPrintable(message));
  };
  window.OnBatchEnded = nullptr;  // no desktop notice from a picture
  window.show();
  QApplication::processEvents();
  window.AddFiles(files);
  QFile::remove(files.back());
  window.Edit1->setText(outputDir);
  window.ComboBox1->setCurrentText(profile);
  window.ProfileBoxChanged();
  if (window.listview1->topLevelItemCount() > 1)  // one row left out, as a user would
    window.listview1->topLevelItem(1)->setCheckState(fcInput, Qt::Unchecked);
  if (!fit.isEmpty()) {
    window.FitBox->setCurrentText(fit);
    window.FitToDiscChanged();
  }
  window.ConvertClick();
  if (rows > 0) {
    window.listview1->setCurrentItem(
        window.listview1->topLevelItem(window.listview1->topLevelItemCount() - 2));
    window.listview1->scrollToBottom();
  }

  int exitCode = 1;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    int running = 0, checked = 0;
    for (int i = 0; i < window.listview1->topLevelItemCount(); ++i) {
      const QTreeWidgetItem* row = window.listview1->topLevelItem(i);
      if (row->checkState(fcInput) != Qt::Checked || row->text(fcProgress) == "Cancelled") continue;
      ++checked;
      const QString progress = row->text(fcProgress);
      if (progress.endsWith('%') && progress != "0%" && !row->text(fcFPS).isEmpty()) ++running;
    }
    if (running < checked && window.Converting()) return;
    window.PauseClick();
    QApplication::processEvents();
    exitCode = window.grab().save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
    window.ResumeClick();
    poll.stop();
    QTimer::singleShot(0, [&] {
      window.FFEncoder.Stop(true);
      QApplication::quit();
    });
  });
  poll.start(10);
  QTimer::singleShot(rows > 0 ? 600000 : 120000, [&] { QApplication::quit(); });
  app.exec();
  return exitCode;
}
