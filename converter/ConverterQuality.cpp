// The "Quality" box: how much time the outputs' encoders may spend for better pictures. The
// choice is remembered ("quality") and goes with every task a batch starts.
#include <QComboBox>

#include "ConverterWindow.h"
#include "Engine/QualityClass.h"

namespace tovamo {
namespace {

struct TQualityItem {
  TQualityClass Class;
  const char* Text;
  const char* Tip;
};

constexpr TQualityItem kItems[] = {
    {TQualityClass::Fast, "Fast",
     "For previews and slow computers: about 0.7x the time of Standard, the pictures a "
     "little worse"},
    {TQualityClass::Standard, "Standard", "Good pictures at the usual speed"},
    {TQualityClass::Best, "Best",
     "The best pictures for the bit rate, in two passes: about 2-3x the time of Standard for "
     "MPEG, 2.5x for H.264"},
};

}  // namespace

QComboBox* TForm1::CreateQualityBox() {
  QualityBox = new QComboBox;
  for (const TQualityItem& item : kItems) {
    QualityBox->addItem(item.Text, QString(QualityClassInfo(item.Class).Name));
    QualityBox->setItemData(QualityBox->count() - 1, QString(item.Tip), Qt::ToolTipRole);
  }
  TQualityClass remembered = TQualityClass::Standard;
  if (!ParseQualityClass(Settings_.Read("quality").toStdString(), remembered))
    remembered = TQualityClass::Standard;
  QualityBox->setCurrentIndex(QualityBox->findData(QString(QualityClassInfo(remembered).Name)));
  QualityBox->setToolTip("How much time the conversion may take for better pictures");
  connect(QualityBox, &QComboBox::activated, this,
          [this] { Settings_.Write("quality", QualityBox->currentData().toString()); });
  return QualityBox;
}

std::string TForm1::ChosenQuality() const {
  return QualityBox ? QualityBox->currentData().toString().toStdString() : std::string();
}

}  // namespace tovamo
