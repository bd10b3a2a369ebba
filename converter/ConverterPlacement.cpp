// The converter window's size and place and the file list's column widths: a first size
// that shows a typical path, remembered with the other settings, always brought back inside
// the screen.
#include <QApplication>
#include <QHeaderView>
#include <QScreen>
#include <QTreeWidget>

#include "ConverterWindow.h"
#include "WindowPlacement.h"

namespace tovamo {
namespace {

QRect AvailableArea(const QWidget* window) {
  QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
  return screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
}

}  // namespace

void TForm1::RestorePlacement() {
  const QRect area = AvailableArea(this);
  const QByteArray saved = QByteArray::fromBase64(Settings_.Read("geometry").toLatin1());
  if (saved.isEmpty() || !restoreGeometry(saved)) {
    QRect first(QPoint(), FirstWindowSize(area));
    first.moveCenter(area.center());
    setGeometry(FitOnScreen(first, area));
  } else {
    // Saved on another screen, or a larger one: brought back whole.
    setGeometry(FitOnScreen(geometry(), area));
  }
  const QByteArray columns = QByteArray::fromBase64(Settings_.Read("columns").toLatin1());
  if (!columns.isEmpty()) listview1->header()->restoreState(columns);
}

void TForm1::SizeColumnsFirstTime() {
  if (!Settings_.Read("columns").isEmpty()) return;
  QHeaderView* header = listview1->header();
  // The figures take what their widest usual text needs; the path takes the rest.
  const QFontMetrics metrics(listview1->font());
  const char* const widest[fcColumnCount] = {"",       "00:00:00", "0000000000", "Completed",
                                             "000.00", "00:00:00", "0000000000"};
  int figures = 0;
  for (int column = fcTotalTime; column < fcColumnCount; ++column) {
    // A failed row's Progress cell carries an icon before its text.
    const int icon = column == fcProgress ? listview1->iconSize().width() + 24 : 0;
    const int width = std::max(header->sectionSizeHint(column),
                               metrics.horizontalAdvance(widest[column]) + 16 + icon);
    header->resizeSection(column, width);
    figures += width;
  }
  // The list is not laid out yet when first shown: its width is told from the window's,
  // less the side panel, the margins and a scroll bar.
  constexpr int kBesideTheList = 190 + 48;
  header->resizeSection(fcInput, std::max(200, width() - kBesideTheList - figures));
}

void TForm1::SavePlacement() {
  if (!Shown_) return;
  Settings_.Write("geometry", QString::fromLatin1(saveGeometry().toBase64()));
  Settings_.Write("columns", QString::fromLatin1(listview1->header()->saveState().toBase64()));
}

}  // namespace tovamo
