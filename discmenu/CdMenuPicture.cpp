#include "CdMenuPicture.h"

#include <QBuffer>
#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QString>
#include <algorithm>
#include <fstream>

#include "MenuDrawing.h"

namespace tovamo::discmenu {

namespace {

// Sizes at a picture 576 pixels high; the still made from it has half as many lines, so
// nothing thinner than two pixels here.
constexpr double kBaseHeight = 576;

// A name on one line: a file name may hold line breaks and tabs.
QString OneLine(const std::string& text) {
  QString line = QString::fromStdString(text);
  for (QChar& c : line)
    if (c.category() == QChar::Other_Control) c = u' ';
  return line;
}

}  // namespace

QImage CdMenuPicture(const authoring::TCdMenuPage& page) {
  QImage image(page.Width, page.Height, QImage::Format_RGB32);
  const double unit = page.Height / kBaseHeight;
  const QRectF safe(page.Width * 0.1, page.Height * 0.08, page.Width * 0.8, page.Height * 0.84);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::TextAntialiasing);

  FillTopToBottom(painter, image.rect(), QColor(18, 32, 72), QColor(6, 10, 28));

  // The disc's name, the page on the right when there are several, and a rule under them.
  const QRectF head(safe.left(), safe.top(), safe.width(), 56 * unit);
  const QFont smallFont = MenuFont(22 * unit, QFont::DemiBold);
  const QColor quiet(200, 210, 235);
  double pageWidth = 0;
  if (page.Pages > 1) {
    const QString text = QString("Page %1 of %2").arg(page.Page).arg(page.Pages);
    painter.setFont(smallFont);
    painter.setPen(quiet);
    painter.drawText(head, Qt::AlignRight | Qt::AlignVCenter, text);
    pageWidth = QFontMetrics(smallFont).horizontalAdvance(text) + 20 * unit;
  }
  painter.setFont(MenuFont(38 * unit, QFont::Bold));
  painter.setPen(Qt::white);
  painter.drawText(
      head, Qt::AlignLeft | Qt::AlignVCenter,
      QFontMetrics(painter.font())
          .elidedText(OneLine(page.DiscName), Qt::ElideRight, int(head.width() - pageWidth)));
  painter.fillRect(QRectF(safe.left(), head.bottom() + 4 * unit, safe.width(), 3 * unit),
                   QColor(240, 190, 60));

  // The tracks: a number in its box, then the name, cut short where it does not fit.
  const QRectF list(safe.left(), head.bottom() + 20 * unit, safe.width(),
                    safe.bottom() - head.bottom() - 70 * unit);
  const double rowHeight = list.height() / std::max(1, page.Rows);
  const double columnWidth = list.width() / std::max(1, page.Columns);
  const QFont numberFont = MenuFont(rowHeight * 0.55, QFont::Bold);
  const QFont nameFont = MenuFont(rowHeight * 0.6, QFont::DemiBold);
  const double box = rowHeight * 0.8;
  const double numberWidth =
      box * (page.Entries.empty() || page.Entries.back().Number < 10 ? 1.0 : 1.35);
  for (std::size_t i = 0; i < page.Entries.size(); ++i) {
    const int column = int(i) / std::max(1, page.Rows), row = int(i) % std::max(1, page.Rows);
    const double x = list.left() + column * columnWidth;
    const double y = list.top() + row * rowHeight;
    const QRectF number(x, y + (rowHeight - box) / 2, numberWidth, box);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(240, 190, 60));
    painter.drawRoundedRect(number, box * 0.2, box * 0.2);
    painter.setFont(numberFont);
    painter.setPen(QColor(10, 16, 40));
    painter.drawText(number, Qt::AlignCenter, QString::number(page.Entries[i].Number));
    const QRectF name(number.right() + box * 0.4, y, columnWidth - numberWidth - box * 0.9,
                      rowHeight);
    painter.setFont(nameFont);
    painter.setPen(Qt::white);
    painter.drawText(name, Qt::AlignLeft | Qt::AlignVCenter,
                     QFontMetrics(nameFont).elidedText(OneLine(page.Entries[i].Name),
                                                       Qt::ElideRight, int(name.width())));
  }

  // How to choose, and where the other tracks are.
  const QRectF foot(safe.left(), safe.bottom() - 40 * unit, safe.width(), 40 * unit);
  painter.setFont(smallFont);
  painter.setPen(quiet);
  painter.drawText(foot, Qt::AlignLeft | Qt::AlignVCenter, "Press a number to play");
  if (page.Pages > 1)
    painter.drawText(foot, Qt::AlignRight | Qt::AlignVCenter,
                     page.Page < page.Pages ? "NEXT: more" : "PREVIOUS: back");
  painter.end();
  return image;
}

authoring::TCdMenuDrawer CdMenuDrawer() {
  return [](const authoring::TCdMenuPage& page, const std::string& pngPath) {
    // Written by bytes: the path need not be UTF-8, which a QString would assume.
    QByteArray png;
    QBuffer buffer(&png);
    if (!buffer.open(QIODevice::WriteOnly) || !CdMenuPicture(page).save(&buffer, "PNG"))
      return false;
    std::ofstream out(pngPath, std::ios::binary);
    out.write(png.constData(), png.size());
    return bool(out.flush());
  };
}

}  // namespace tovamo::discmenu
