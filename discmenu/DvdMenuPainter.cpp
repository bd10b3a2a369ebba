#include "DvdMenuPainter.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>

#include "Authoring/DvdControl.h"
#include "Authoring/MenuVideo.h"
#include "Authoring/TitleThumbnail.h"
#include "MenuDrawing.h"

namespace tovamo::discmenu {

namespace {

using authoring::TMenuAction;
using authoring::TMenuBox;
using authoring::TMenuButton;
using authoring::TMenuPage;

const QColor kText(0xF4, 0xF6, 0xFA);
const QColor kFrame(0xB8, 0xC4, 0xDC);

int DisplayWidth(const TMenuPage& page) {
  return int(page.Height * (page.Wide ? 16.0 / 9 : 4.0 / 3) + 0.5);
}

// The name in at most two lines of the label's width, cut with "..." when longer.
void DrawName(QPainter& painter, const QRectF& rect, const QString& name) {
  const QFontMetricsF metrics(painter.font());
  QString text = name;
  if (metrics.horizontalAdvance(text) > rect.width() * 1.9)
    text = metrics.elidedText(text, Qt::ElideRight, rect.width() * 1.9);
  painter.drawText(rect, Qt::AlignHCenter | Qt::AlignTop | Qt::TextWrapAnywhere, text);
}

QImage ThumbnailImage(const authoring::TMenuThumbnail& thumb) {
  return QImage(thumb.Rgb.data(), thumb.Width, thumb.Height, thumb.Width * 3, QImage::Format_RGB888)
      .copy();
}

}  // namespace

QImage DrawMenuPage(const authoring::TMenuPageArt& art) {
  const TMenuPage& page = art.Page;
  const int width = DisplayWidth(page);
  const double sx = double(width) / page.Width;
  const auto rect = [sx](const TMenuBox& box) {
    return QRectF(box.X0 * sx, box.Y0, (box.X1 - box.X0) * sx, box.Y1 - box.Y0);
  };
  QImage image(width, page.Height, QImage::Format_RGB32);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  FillTopToBottom(painter, image.rect(), QColor(0x0E, 0x16, 0x2C), QColor(0x24, 0x38, 0x62));

  const double unit = page.Height / 576.0;
  painter.setPen(kText);
  painter.setFont(MenuFont(int(26 * unit), QFont::Bold));
  QString heading = QStringLiteral("Titles");
  if (page.Count > 1) heading += QString("   %1 / %2").arg(page.Number).arg(page.Count);
  painter.drawText(rect(page.Heading), Qt::AlignCenter, heading);

  for (const TMenuButton& button : page.Buttons) {
    const QRectF label = rect(button.Label);
    if (button.Action == TMenuAction::Title) {
      const QRectF box = rect(button.Picture);
      painter.fillRect(box, QColor(0x08, 0x0C, 0x18));
      const std::size_t t = std::size_t(button.Title);
      const authoring::TMenuThumbnail* thumb =
          t < art.Thumbnails.size() ? art.Thumbnails[t] : nullptr;
      if (thumb && !thumb->Empty()) {
        QSizeF size(thumb->Width, thumb->Height);
        size.scale(box.size(), Qt::KeepAspectRatio);
        const QRectF place(box.center().x() - size.width() / 2,
                           box.center().y() - size.height() / 2, size.width(), size.height());
        painter.drawImage(place, ThumbnailImage(*thumb));
      } else {
        painter.setFont(MenuFont(int(48 * unit), QFont::Bold));
        painter.drawText(box, Qt::AlignCenter, QString::number(button.Title + 1));
      }
      painter.setPen(QPen(kFrame, 2));
      painter.setBrush(Qt::NoBrush);
      painter.drawRect(box);
      painter.setPen(kText);
      painter.setFont(MenuFont(int(17 * unit), QFont::Normal));
      DrawName(painter, label, QString::fromStdString(button.Text));
    } else {
      painter.setPen(QPen(kFrame, 2));
      painter.setBrush(QColor(0x2E, 0x4A, 0x84));
      painter.drawRoundedRect(label, 8 * unit, 8 * unit);
      painter.setPen(kText);
      painter.setFont(MenuFont(int(20 * unit), QFont::Bold));
      QString text = QString::fromStdString(button.Text);
      if (button.Action == TMenuAction::Previous) text = QStringLiteral("\u25C0  ") + text;
      if (button.Action == TMenuAction::Next) text += QStringLiteral("  \u25B6");
      painter.drawText(label, Qt::AlignCenter, text);
    }
  }
  return image;
}

QImage DrawMenuMarks(const TMenuPage& page, bool select) {
  QImage image(page.Width, page.Height, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter painter(&image);  // no antialiasing: a subpicture has four colours at most
  const QColor inner = select ? QColor(0xFF, 0x30, 0x30) : QColor(0xFF, 0xE0, 0x00);
  for (const TMenuButton& button : page.Buttons) {
    const TMenuBox& b = button.Box;
    const auto frame = [&](int inset, int thickness, const QColor& color) {
      const int x0 = b.X0 + inset, y0 = b.Y0 + inset, x1 = b.X1 - inset, y1 = b.Y1 - inset;
      painter.fillRect(x0, y0, x1 - x0, thickness, color);
      painter.fillRect(x0, y1 - thickness, x1 - x0, thickness, color);
      painter.fillRect(x0, y0, thickness, y1 - y0, color);
      painter.fillRect(x1 - thickness, y0, thickness, y1 - y0, color);
    };
    frame(0, 2, Qt::black);
    frame(2, 4, inner);
    frame(6, 2, Qt::black);
  }
  return image;
}

bool PaintDvdMenuPage(const authoring::TMenuPageArt& art, std::string& error) {
  const QImage shown = DrawMenuPage(art);
  QImage stored =
      shown.scaled(art.Page.Width, art.Page.Height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
          .convertToFormat(QImage::Format_RGB888);
  // The pixels' shape, which the decoder reads from the file's pHYs as its sample aspect:
  // without it the stored picture would count as 5:4 and come out with bars at its sides.
  stored.setDotsPerMeterX((art.Page.Wide ? 16 : 4) * art.Page.Height);
  stored.setDotsPerMeterY((art.Page.Wide ? 9 : 3) * art.Page.Width);
  const struct {
    QImage Image;
    const std::string& Path;
  } files[] = {{stored, art.BackgroundPng},
               {DrawMenuMarks(art.Page, false), art.HighlightPng},
               {DrawMenuMarks(art.Page, true), art.SelectPng}};
  for (const auto& file : files)
    // Light compression: the files live only until the tools have read them.
    if (!file.Image.save(QString::fromStdString(file.Path), "PNG", 90)) {
      error = "cannot write \"" + file.Path + "\"";
      return false;
    }
  return true;
}

authoring::TMenuPainter DvdMenuPainter() {
  return PaintDvdMenuPage;
}

std::vector<authoring::TMenuThumbnail> TakeFirstPageThumbnails(
    const std::vector<authoring::TDvdTitle>& titles) {
  std::vector<authoring::TMenuThumbnail> thumbnails;
  for (std::size_t i = 0; i < titles.size() && i < authoring::kMenuTitlesPerPage; ++i) {
    std::string error;
    thumbnails.push_back(authoring::TakeThumbnail(titles[i].File, titles[i].Seconds,
                                                  authoring::kMenuThumbnailWidth,
                                                  authoring::kMenuThumbnailHeight, error));
  }
  return thumbnails;
}

QImage DrawFirstMenuPage(const std::vector<authoring::TDvdTitle>& titles,
                         const std::vector<authoring::TMenuThumbnail>& thumbnails,
                         authoring::TDiscNorm norm) {
  std::vector<std::string> names;
  for (const authoring::TDvdTitle& title : titles)
    names.push_back(authoring::MenuTitleName(title.Name, title.File));
  const bool wide = !titles.empty() && authoring::MpegFileWide(titles.front().File);
  authoring::TMenuPageArt art;
  art.Page = authoring::LayOutMenu(names, norm, wide).front();
  for (const authoring::TMenuThumbnail& thumbnail : thumbnails)
    art.Thumbnails.push_back(&thumbnail);
  return DrawMenuPage(art);
}

}  // namespace tovamo::discmenu
