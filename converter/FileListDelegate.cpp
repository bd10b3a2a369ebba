#include "FileListDelegate.h"

#include <QApplication>
#include <QPainter>
#include <algorithm>
#include <QStyleOptionProgressBar>

namespace tovamo {

int ProgressBarValue(const QString& progressText) {
  const QString text = progressText.trimmed();
  if (text == "Completed") return 100;
  if (!text.endsWith('%')) return -1;
  bool ok = false;
  const int percent = text.chopped(1).toInt(&ok);
  return ok ? std::clamp(percent, 0, 100) : -1;
}

TFileListDelegate::TFileListDelegate(int progressColumn, QObject* parent)
    : QStyledItemDelegate(parent), ProgressColumn_(progressColumn) {}

void TFileListDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
  const int value =
      index.column() == ProgressColumn_ ? ProgressBarValue(index.data().toString()) : -1;
  if (value < 0) {
    QStyledItemDelegate::paint(painter, option, index);
  } else {
    // The row's background and selection first, then the bar inside the cell.
    QStyleOptionViewItem background = option;
    initStyleOption(&background, index);
    background.text.clear();
    QStyle* style = option.widget ? option.widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &background, painter, option.widget);
    QStyleOptionProgressBar bar;
    bar.initFrom(option.widget);
    bar.state = option.state | QStyle::State_Horizontal;
    bar.rect = option.rect.adjusted(2, 2, -2, -2);
    bar.minimum = 0;
    bar.maximum = 100;
    bar.progress = value;
    bar.text = index.data().toString();
    bar.textVisible = true;
    bar.textAlignment = Qt::AlignCenter;
    style->drawControl(QStyle::CE_ProgressBar, &bar, painter, option.widget);
  }
  // Grid lines on the right and bottom edge of every cell.
  painter->save();
  painter->setPen(option.palette.color(QPalette::Midlight));
  painter->drawLine(option.rect.topRight(), option.rect.bottomRight());
  painter->drawLine(option.rect.bottomLeft(), option.rect.bottomRight());
  painter->restore();
}

}  // namespace tovamo
