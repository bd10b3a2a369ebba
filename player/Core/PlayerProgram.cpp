#include "Core/PlayerProgram.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace tovamo::player {

QString BesidePlayerPath(const QString& AProgramDir) {
  return QDir(AProgramDir).filePath(QStringLiteral("dc"));
}

QString FindPlayerProgram(const QString& AProgramDir) {
  const QFileInfo beside(BesidePlayerPath(AProgramDir));
  if (beside.isFile() && beside.isExecutable()) return beside.absoluteFilePath();
  return QStandardPaths::findExecutable(QStringLiteral("mplayer"));
}

QString FindPlayerFont() {
  QProcess match;
  match.start(QStringLiteral("fc-match"),
              {QStringLiteral("--format=%{file}"), QStringLiteral("Arial:fontformat=TrueType")});
  if (!match.waitForFinished(5000)) {
    match.kill();
    match.waitForFinished(1000);
    return {};
  }
  const QString file = QString::fromLocal8Bit(match.readAllStandardOutput()).trimmed();
  const QString suffix = QFileInfo(file).suffix().toLower();
  const bool trueType = suffix == QLatin1String("ttf") || suffix == QLatin1String("ttc");
  return trueType && QFileInfo(file).isFile() ? file : QString();
}

}  // namespace tovamo::player
