// How the file list paints its cells: grid lines between cells, and the Progress cell as a
// bar with its text on it while a task runs. Selected rows keep the palette's highlight
// colours, so they read as every other list of the desktop does.
#pragma once

#include <QStyledItemDelegate>

namespace tovamo {

// The bar's fill for a Progress cell's text: 0..100 for "NN%", 100 for "Completed", -1 for
// any other text (no bar: "---", "Cancelled", a time, nothing).
int ProgressBarValue(const QString& progressText);

class TFileListDelegate : public QStyledItemDelegate {
 public:
  TFileListDelegate(int progressColumn, QObject* parent);

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;

 private:
  int ProgressColumn_;
};

}  // namespace tovamo
