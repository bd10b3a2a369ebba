// For Qt tests that need a real X server (MPlayer draws into a window by its X id): a
// virtual display of their own, started before the QApplication, and a way to tell that a
// window shows a picture. Header only: the support library itself has no Qt.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QSet>
#include <QString>
#include <sys/prctl.h>

#include <csignal>

namespace tovamo::test {

// Xvfb picks a free display number and tells it; DISPLAY is set to it.
class TVirtualDisplay {
 public:
  bool Start(QString& error) {
    Server_.setProgram(QStringLiteral("Xvfb"));
    Server_.setArguments({"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
    Server_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    Server_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    Server_.start();
    if (!Server_.waitForStarted(10000)) {
      error = "Xvfb did not start: " + Server_.errorString();
      return false;
    }
    QByteArray number;
    while (!number.endsWith('\n') && Server_.waitForReadyRead(20000)) number += Server_.readAll();
    if (!number.endsWith('\n')) {
      error = "Xvfb did not tell its display";
      return false;
    }
    qputenv("DISPLAY", ":" + number.trimmed());
    return true;
  }
  ~TVirtualDisplay() {
    Server_.terminate();
    if (!Server_.waitForFinished(5000)) Server_.kill();
    Server_.waitForFinished(5000);
  }

 private:
  QProcess Server_;
};

// The number of distinct colours in a picture, sampled every third pixel: a video frame has
// many, a black or blank window one or two.
inline int DistinctColours(const QPixmap& shot) {
  const QImage image = shot.toImage();
  QSet<QRgb> colours;
  for (int y = 0; y < image.height(); y += 3)
    for (int x = 0; x < image.width(); x += 3) colours.insert(image.pixel(x, y));
  return int(colours.size());
}

}  // namespace tovamo::test
