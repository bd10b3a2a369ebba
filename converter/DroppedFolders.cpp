#include "DroppedFolders.h"

#include <QDir>
#include <QDirIterator>
#include <QRegularExpression>
#include <algorithm>

namespace tovamo {

int CompareNames(const QString& a, const QString& b) {
  // Runs of digits compare by their value, the rest without regard to case; the collator's
  // numeric mode is not there in every locale.
  qsizetype i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (a[i].isDigit() && b[j].isDigit()) {
      qsizetype endA = i, endB = j;
      while (endA < a.size() && a[endA].isDigit()) ++endA;
      while (endB < b.size() && b[endB].isDigit()) ++endB;
      // Leading zeros do not count; then the longer run is the larger number.
      QStringView digitsA = QStringView(a).mid(i, endA - i),
                  digitsB = QStringView(b).mid(j, endB - j);
      while (digitsA.size() > 1 && digitsA[0] == u'0') digitsA = digitsA.mid(1);
      while (digitsB.size() > 1 && digitsB[0] == u'0') digitsB = digitsB.mid(1);
      if (digitsA.size() != digitsB.size()) return digitsA.size() < digitsB.size() ? -1 : 1;
      if (const int order = digitsA.compare(digitsB); order != 0) return order;
      i = endA;
      j = endB;
      continue;
    }
    const QChar left = a[i].toCaseFolded(), right = b[j].toCaseFolded();
    if (left != right) return left < right ? -1 : 1;
    ++i;
    ++j;
  }
  if (i < a.size() || j < b.size()) return i < a.size() ? 1 : -1;
  return a.compare(b);  // the same but for case or zeros: still one order
}

TFolderVideos VideosInFolder(const QString& folder, const QStringList& patterns) {
  std::vector<QRegularExpression> videos;
  for (const QString& pattern : patterns)
    videos.emplace_back(QRegularExpression::wildcardToRegularExpression(pattern),
                        QRegularExpression::CaseInsensitiveOption);
  TFolderVideos found;
  const QDir base(folder);
  QStringList relative;
  QDirIterator it(folder, QDir::Files | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString path = it.next();
    const QString name = it.fileName();
    if (std::any_of(videos.begin(), videos.end(),
                    [&](const QRegularExpression& video) { return video.match(name).hasMatch(); }))
      relative << base.relativeFilePath(path);
    else
      ++found.Skipped;
  }
  // As a file manager lists them, folder by folder.
  std::sort(relative.begin(), relative.end(), [](const QString& a, const QString& b) {
    const QStringList left = a.split('/'), right = b.split('/');
    for (qsizetype i = 0; i < std::min(left.size(), right.size()); ++i)
      if (const int order = CompareNames(left[i], right[i]); order != 0) return order < 0;
    return left.size() < right.size();
  });
  for (const QString& path : relative) found.Files << base.filePath(path);
  return found;
}

}  // namespace tovamo
