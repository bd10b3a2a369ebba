// The profile store, the "File Type" and "Aspect" boxes, and the side panel that shows the
// chosen profile's values.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QShowEvent>
#include <QTimer>

#include "ConverterWindow.h"
#include "FormatString.h"
#include "Profiles.h"

namespace tovamo {

void TForm1::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (Shown_) return;
  Shown_ = true;
  SizeColumnsFirstTime();
  FirstShow();
}

void TForm1::FirstShow() {
  // Files named on the command line come after the rest of the start-up, which may stop at
  // a store that cannot be opened; they are still added.
  if (!Options_.InitialFiles.isEmpty())
    QTimer::singleShot(0, this, [this] { AddFiles(Options_.InitialFiles); });
  OpenStore();
  FillProfileBox(Settings_.Read("type").trimmed());
  const QString path = Settings_.Read("path").trimmed();
  OfferedFolder_ = DefaultOutputFolder();
  Edit1->setText(path.isEmpty() ? OfferedFolder_ : path);
}

void TForm1::OpenStore() {
  Store_.Close();
  ListBox1.clear();
  ListBox2.clear();
  Store_.Open((Options_.ProgramDir + "/" + kProfileStoreFileName).toStdString());
  TStoreTable table;
  OpenProfileTable(Store_, table);
  for (const TProfile& profile : ReadProfiles(table)) {
    ListBox1.push_back(profile.Name);
    ListBox2.push_back(profile.FormatString);
  }
}

int TForm1::CurrentProfileIndex() const {
  const std::string name = ComboBox1->currentText().toStdString();
  for (std::size_t i = 0; i < ListBox1.size(); ++i)
    if (ListBox1[i] == name) return int(i);
  return -1;
}

void TForm1::FillProfileBox(const QString& rememberedName) {
  ComboBox1->clear();
  for (const std::string& name : ListBox1) ComboBox1->addItem(QString::fromStdString(name));
  if (ListBox1.empty()) {
    // Nothing to convert to: the side panel stays empty and Convert refuses (no profile).
    ShowFormatString({});
    FillAspectBox(Settings_.Read("aspect").trimmed());
    return;
  }
  std::vector<TProfile> profiles;
  for (std::size_t i = 0; i < ListBox1.size(); ++i) profiles.push_back({ListBox1[i], ListBox2[i]});
  const std::size_t chosen = *ChooseProfile(profiles, rememberedName.toStdString());
  ComboBox1->setCurrentIndex(int(chosen));
  if (ListBox1[chosen] != rememberedName.toStdString())
    Settings_.Write("type", ComboBox1->currentText());
  ShowFormatString(ListBox2[chosen]);
  FillAspectBox(Settings_.Read("aspect").trimmed());
}

void TForm1::FillAspectBox(const QString& value) {
  ComboBox2->clear();
  for (const std::string& item : AspectItemsFor(ComboBox1->currentText().toStdString()))
    ComboBox2->addItem(QString::fromStdString(item));
  if (!value.isEmpty()) {
    // A remembered value goes in as it is, even one the box does not list.
    if (ComboBox2->findText(value) < 0) ComboBox2->addItem(value);
    ComboBox2->setCurrentText(value);
  } else {
    ComboBox2->setCurrentIndex(0);
  }
  Settings_.Write("aspect", ComboBox2->currentText());
  AspectValue->setText(ComboBox2->currentText());
}

void TForm1::ShowFormatString(const std::string& formatString) {
  const TProfileValues values = ProfileValuesOf(formatString);
  VideoBitrateValue->setText(QString::fromStdString(values.VideoBitrate));
  WidthValue->setText(QString::fromStdString(values.Width));
  HeightValue->setText(QString::fromStdString(values.Height));
  FrameRateValue->setText(QString::fromStdString(values.FrameRate));
  VideoCodecValue->setText(QString::fromStdString(values.Codec));
  AudioBitrateValue->setText(QString::fromStdString(values.AudioBitrate));
  SampleRateValue->setText(QString::fromStdString(values.SampleRate));
  ChannelsValue->setText(QString::fromStdString(values.Channels));
}

void TForm1::ProfileBoxChanged() {
  const int index = CurrentProfileIndex();
  if (index >= 0) ShowFormatString(ListBox2[std::size_t(index)]);
  Settings_.Write("type", ComboBox1->currentText());
  FillAspectBox({});
}

void TForm1::AspectBoxChanged() {
  const QString text = ComboBox2->currentText();
  if (text != "4:3" && text != "16:9") {
    ComboBox2->setCurrentText("4:3");
    AspectValue->setText("4:3");
  } else {
    AspectValue->setText(text);
  }
  Settings_.Write("aspect", ComboBox2->currentText());
}

}  // namespace tovamo
