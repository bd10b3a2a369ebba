#include "SubtitlePicture.h"

#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QStringList>
#include <algorithm>

namespace tovamo::discmenu {

namespace {

// The lines of `text`, each wrapped at word boundaries to `maxWidth`; a word wider than
// that (a line of Chinese or Japanese has no spaces) is broken between its characters.
QStringList WrappedLines(const QString& text, const QFontMetrics& metrics, int maxWidth) {
  QStringList lines;
  for (const QString& paragraph : text.split('\n')) {
    QString line;
    for (const QString& word : paragraph.split(' ', Qt::SkipEmptyParts)) {
      const QString longer = line.isEmpty() ? word : line + ' ' + word;
      if (metrics.horizontalAdvance(longer) <= maxWidth) {
        line = longer;
        continue;
      }
      if (!line.isEmpty()) lines << line;
      line.clear();
      for (const QChar c : word) {
        if (!line.isEmpty() && !c.isLowSurrogate() &&
            metrics.horizontalAdvance(line + c) > maxWidth) {
          lines << line;
          line.clear();
        }
        line += c;
      }
    }
    if (!line.isEmpty()) lines << line;
  }
  return lines;
}

}  // namespace

bool DrawSubtitlePicture(const std::string& text, int width, int height, double pixelAspect,
                         const std::string& path) {
  if (width <= 0 || height <= 0) return false;
  if (!(pixelAspect > 0.25 && pixelAspect < 4)) pixelAspect = 1;
  // Laid out on the screen's square grid, then squeezed onto the stored pixels.
  const int screenWidth = int(width * pixelAspect);
  QImage image(width, height, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QFont font("DejaVu Sans");
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(std::max(12, height / 18));
  font.setBold(true);
  const QFontMetrics metrics(font);
  const QStringList lines =
      WrappedLines(QString::fromStdString(text), metrics, screenWidth * 85 / 100);
  const int outline = std::max(2, height / 160);
  const int lineHeight = metrics.height();
  // The foot of the text stays inside the area every television shows.
  int baseline = height - height / 12 - (int(lines.size()) - 1) * lineHeight - metrics.descent();
  QPainterPath shapes;
  for (const QString& line : lines) {
    const int x = (screenWidth - metrics.horizontalAdvance(line)) / 2;
    shapes.addText(x, baseline, font, line);
    baseline += lineHeight;
  }
  {
    QPainter painter(&image);
    // Without blending: every pixel is the fill, the outline or transparent.
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setRenderHint(QPainter::TextAntialiasing, false);
    painter.scale(1 / pixelAspect, 1);
    painter.strokePath(shapes,
                       QPen(Qt::black, outline * 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.fillPath(shapes, Qt::white);
  }
  return image.save(QString::fromStdString(path), "PNG");
}

}  // namespace tovamo::discmenu
