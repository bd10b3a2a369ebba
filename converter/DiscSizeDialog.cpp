#include "DiscSizeDialog.h"

#include <QApplication>
#include <QComboBox>
#include <QStyle>
#include <QFontMetrics>

namespace tovamo {
namespace {

// The window manager's icon and buttons beside a title, on the usual desktops.
constexpr int kTitleButtonsWidth = 160;

}  // namespace

std::unique_ptr<QInputDialog> MakeDiscSizeDialog(QWidget* parent, const QStringList& sizes) {
  auto dialog = std::make_unique<QInputDialog>(parent);
  dialog->setWindowTitle("Make Disc Image");
  dialog->setLabelText("Disc size:");
  dialog->setComboBoxItems(sizes);
  dialog->setComboBoxEditable(false);
  // Title bars are drawn bold and often larger than the dialog's own text.
  QFont title = QApplication::font();
  title.setBold(true);
  const int width =
      QFontMetrics(title).horizontalAdvance(dialog->windowTitle()) * 6 / 5 + kTitleButtonsWidth;
  // The dialog's layout sets its own minimum from its contents: the list is made wider.
  if (auto* sizes = dialog->findChild<QComboBox*>()) {
    const QStyle* style = dialog->style();
    sizes->setMinimumWidth(width - style->pixelMetric(QStyle::PM_LayoutLeftMargin) -
                           style->pixelMetric(QStyle::PM_LayoutRightMargin));
  }
  return dialog;
}

}  // namespace tovamo
