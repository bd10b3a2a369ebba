// The profile store, the "File Type" and "Aspect" boxes, and the side panel that shows the
// chosen profile's values.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QShowEvent>
#include <QStandardItemModel>
#include <QTimer>
#include <algorithm>

#include "ConverterWindow.h"
#include "FormatString.h"
#include "H264Profile.h"
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
  std::size_t chosen = *ChooseProfile(profiles, rememberedName.toStdString());
  // A profile that cannot be used here is listed, disabled, with the reason as its tip; it
  // is never the one chosen while another can be.
  auto* model = qobject_cast<QStandardItemModel*>(ComboBox1->model());
  std::vector<bool> usable(ListBox1.size(), true);
  for (std::size_t i = 0; i < ListBox1.size(); ++i) {
    const QString reason = ProfileUnusableReason(int(i));
    if (reason.isEmpty() || !model) continue;
    usable[i] = false;
    QStandardItem* item = model->item(int(i));
    item->setEnabled(false);
    item->setToolTip(reason);
  }
  if (!usable[chosen])
    if (const auto first = std::find(usable.begin(), usable.end(), true); first != usable.end())
      chosen = std::size_t(first - usable.begin());
  ComboBox1->setCurrentIndex(int(chosen));
  if (ListBox1[chosen] != rememberedName.toStdString())
    Settings_.Write("type", ComboBox1->currentText());
  ShowFormatString(ListBox2[chosen]);
  FillAspectBox(Settings_.Read("aspect").trimmed());
  RefreshDiscFit();
}

QString TForm1::ProfileUnusableReason(int index) {
  if (index < 0 || std::size_t(index) >= ListBox2.size()) return {};
  if (!IsH264Codec(ProfileValuesOf(ListBox2[std::size_t(index)]).Codec)) return {};
  // Without the libraries nothing converts, and adding a file says why.
  if (!LoadLibraries()) return {};
  return HasH264Encoder() ? QString() : QString(kNoH264EncoderReason);
}

void TForm1::FillAspectBox(const QString& value) {
  ComboBox2->clear();
  for (const std::string& item : AspectItemsFor(ComboBox1->currentText().toStdString(),
                                                VideoCodecValue->text().toStdString()))
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
  RefreshDiscFit();
}

void TForm1::AspectBoxChanged() {
  const QString text = ComboBox2->currentText();
  const bool autoOffered = ComboBox2->findText("Auto") == 0;
  if (text != "4:3" && text != "16:9" && !(text == "Auto" && autoOffered)) {
    ComboBox2->setCurrentText("4:3");
    AspectValue->setText("4:3");
  } else {
    AspectValue->setText(text);
  }
  Settings_.Write("aspect", ComboBox2->currentText());
  RefreshDiscFit();
}

}  // namespace tovamo
