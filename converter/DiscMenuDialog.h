// The DVD title menu before the image is made: whether the disc starts in it, the titles'
// names as the menu shows them (editable), and the menu's first page drawn as the disc
// will show it, redrawn as the names change.
#pragma once

#include <QDialog>
#include <QImage>
#include <vector>

#include "Authoring/DvdControl.h"
#include "Authoring/DvdMenu.h"

class QCheckBox;
class QLabel;
class QTableWidget;

namespace tovamo {

class TDiscMenuDialog : public QDialog {
 public:
  TDiscMenuDialog(QWidget* parent, std::vector<authoring::TDvdTitle> titles,
                  authoring::TDiscNorm norm, bool menu);

  bool MenuOn() const;
  // The titles with the names as edited; an emptied name goes back to the file's.
  std::vector<authoring::TDvdTitle> Titles() const;
  const QImage& PreviewImage() const { return Preview_; }

  QCheckBox* MenuBox = nullptr;
  QTableWidget* Names = nullptr;
  QLabel* PreviewLabel = nullptr;

 private:
  void Redraw();

  std::vector<authoring::TDvdTitle> Titles_;
  std::vector<authoring::TMenuThumbnail> Thumbnails_;
  authoring::TDiscNorm Norm_;
  QImage Preview_;
};

}  // namespace tovamo
