#include "DiscMenuDialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QPixmap>
#include <QTableWidget>
#include <QVBoxLayout>

#include "DvdMenuPainter.h"

namespace tovamo {

namespace {

constexpr int kPreviewWidth = 384;  // half the page's display width: it fits beside the list

}  // namespace

TDiscMenuDialog::TDiscMenuDialog(QWidget* parent, std::vector<authoring::TDvdTitle> titles,
                                 authoring::TDiscNorm norm, bool menu)
    : QDialog(parent), Titles_(std::move(titles)), Norm_(norm) {
  setWindowTitle("Make Disc Image");
  auto* layout = new QVBoxLayout(this);
  MenuBox = new QCheckBox("Start the disc in a title &menu");
  MenuBox->setChecked(menu);
  MenuBox->setToolTip(
      "A menu of the titles with a picture of each, \"Play All\", and pages of six;\n"
      "without it the first title plays when the disc goes in and each goes on to the next");
  layout->addWidget(MenuBox);

  Names = new QTableWidget(int(Titles_.size()), 2);
  Names->setHorizontalHeaderLabels({"File", "Name in the menu"});
  Names->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  Names->horizontalHeader()->setStretchLastSection(true);
  Names->verticalHeader()->hide();
  for (int i = 0; i < int(Titles_.size()); ++i) {
    const authoring::TDvdTitle& title = Titles_[std::size_t(i)];
    auto* file = new QTableWidgetItem(QFileInfo(QString::fromStdString(title.File)).fileName());
    file->setFlags(file->flags() & ~Qt::ItemIsEditable);
    Names->setItem(i, 0, file);
    Names->setItem(i, 1,
                   new QTableWidgetItem(
                       QString::fromStdString(authoring::MenuTitleName(title.Name, title.File))));
  }
  layout->addWidget(Names);

  PreviewLabel = new QLabel;
  PreviewLabel->setAlignment(Qt::AlignCenter);
  PreviewLabel->setToolTip("The menu's first page as the disc will show it");
  layout->addWidget(PreviewLabel);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  buttons->button(QDialogButtonBox::Ok)->setText("&Make Image");
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);

  Thumbnails_ = discmenu::TakeFirstPageThumbnails(Titles_);
  connect(Names, &QTableWidget::itemChanged, this, [this] { Redraw(); });
  connect(MenuBox, &QCheckBox::toggled, this, [this](bool on) {
    Names->setEnabled(on);
    PreviewLabel->setEnabled(on);
  });
  Names->setEnabled(menu);
  PreviewLabel->setEnabled(menu);
  Redraw();
}

bool TDiscMenuDialog::MenuOn() const {
  return MenuBox->isChecked();
}

std::vector<authoring::TDvdTitle> TDiscMenuDialog::Titles() const {
  std::vector<authoring::TDvdTitle> titles = Titles_;
  for (int i = 0; i < int(titles.size()); ++i) {
    const QTableWidgetItem* name = Names->item(i, 1);
    const QString text = name ? name->text().trimmed() : QString();
    titles[std::size_t(i)].Name = text.toStdString();
  }
  return titles;
}

void TDiscMenuDialog::Redraw() {
  Preview_ = discmenu::DrawFirstMenuPage(Titles(), Thumbnails_, Norm_);
  PreviewLabel->setPixmap(
      QPixmap::fromImage(Preview_.scaledToWidth(kPreviewWidth, Qt::SmoothTransformation)));
}

}  // namespace tovamo
