// Disc images from the converted files: "Fit to Disc" beside the profile box chooses the
// video bit rate that fills a disc with the checked rows; "Make Disc Image..." makes the
// completed rows of the last batch into a DVD ISO or a VCD/SVCD .cue + .bin image.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTreeWidget>
#include <cmath>
#include <memory>
#include <sstream>

#include "Authoring/DiscFit.h"
#include "Components/DiscTracks.h"
#include "Components/TitleTrackChoice.h"
#include "CdMenuPicture.h"
#include "DvdMenuPainter.h"
#include "ConverterWindow.h"
#include "DiscImageRun.h"
#include "DiscMenuDialog.h"
#include "DiscSizeDialog.h"
#include "ElidedLabel.h"
#include "Engine/InputNorm.h"
#include "ProfileOptions.h"
#include "Services/SameFile.h"
#include "SubtitleDrawer.h"

Q_DECLARE_METATYPE(std::shared_ptr<const tovamo::TTitleTracks>)

namespace tovamo {
namespace {

// What a row converted in a batch remembers for the disc image: its output and the profile.
constexpr int kDiscOutputRole = Qt::UserRole + 40;
constexpr int kDiscProfileRole = Qt::UserRole + 41;
constexpr int kDiscTracksRole = Qt::UserRole + 42;  // its sound track languages and subtitles
constexpr int kDvdSoundTracksRole = Qt::UserRole + 43;  // how many its DVD output carries
constexpr int kDvdTarget = 3;

const QString kFitOff = "Off";
constexpr int kFitBarSteps = 10000;

std::optional<authoring::TDiscKind> KindOfProfile(const QString& profile) {
  return authoring::DiscKindOfTarget(TargetTypeOfProfile(profile.toStdString()));
}

// "HH:MM:SS" of the Total Time column; 0 when the length is not known.
double RowSeconds(const QTreeWidgetItem* row) {
  const QStringList parts = row->text(fcTotalTime).split(':');
  if (parts.size() != 3) return 0;
  double seconds = 0;
  for (const QString& part : parts) {
    bool ok = false;
    const int value = part.toInt(&ok);
    if (!ok) return 0;
    seconds = seconds * 60 + value;
  }
  return seconds;
}

QStringList DiscSizesFor(authoring::TDiscKind kind) {
  if (kind == authoring::TDiscKind::Dvd) return {"4.7G", "8.5G"};
  return {"700M", "800M"};
}

// How full the disc will be, by the fit's estimate against what the disc holds of it.
double FillShare(const authoring::TFitResult& fit, authoring::TDiscSize size,
                 authoring::TDiscKind kind) {
  const authoring::TDiscSizeInfo& disc = authoring::DiscSizeInfo(size);
  // A VCD's estimate counts whole raw sectors; an SVCD's the MPEG bytes a sector carries.
  const double capacity = kind == authoring::TDiscKind::Dvd   ? double(disc.CapacityBytes)
                          : kind == authoring::TDiscKind::Vcd ? double(disc.Sectors) * 2352
                                                              : double(disc.Sectors) * 2324;
  if (fit.EstimatedBytes <= 0 || capacity <= 0) return -1;
  return double(fit.EstimatedBytes) / capacity;
}

}  // namespace

QWidget* TForm1::CreateDiscFitBox() {
  auto* box = new QWidget;
  auto* layout = new QHBoxLayout(box);
  layout->setContentsMargins(0, 0, 0, 0);
  FitBox = new QComboBox;
  FitBox->addItems({kFitOff, "4.7G", "8.5G", "700M", "800M"});
  FitBox->setToolTip(
      "Choose the video bit rate that fills a disc of this size with the checked files");
  // The bar and the text keep their places whatever they say: the box never moves.
  FitBar = new QProgressBar;
  FitBar->setRange(0, kFitBarSteps);
  FitBar->setFixedWidth(110);
  QSizePolicy barPolicy = FitBar->sizePolicy();
  barPolicy.setRetainSizeWhenHidden(true);
  FitBar->setSizePolicy(barPolicy);
  FitBar->hide();
  FitText = new TElidedLabel(160);
  layout->addWidget(new QLabel("Fit to Disc:"));
  layout->addWidget(FitBox);
  layout->addWidget(FitBar);
  layout->addWidget(FitText, 1);
  connect(FitBox, &QComboBox::activated, this, [this] { FitToDiscChanged(); });
  return box;
}

void TForm1::CreateDiscActions() {
  Actions.MakeDiscImage = new QAction("Make &Disc Image...", this);
  Actions.MakeDiscImage->setStatusTip("Make the converted files into a disc image");
  Actions.MakeDiscImage->setEnabled(false);
  connect(Actions.MakeDiscImage, &QAction::triggered, this, [this] { MakeDiscImageClick(); });
  if (!AskImagePath)
    AskImagePath = [this](const QString& suggested, const QString& filter) {
      return QFileDialog::getSaveFileName(this, "Make Disc Image", suggested, filter);
    };
  if (!AskDiscSize)
    AskDiscSize = [this](const QStringList& sizes) {
      std::unique_ptr<QInputDialog> dialog = MakeDiscSizeDialog(this, sizes);
      return dialog->exec() == QDialog::Accepted ? dialog->textValue() : QString();
    };
  if (!AskDiscMenu)
    AskDiscMenu = [this](TDiscMenuChoice& choice) {
      TDiscMenuDialog dialog(this, choice.Titles, choice.Norm, choice.Menu);
      if (dialog.exec() != QDialog::Accepted) return false;
      choice.Menu = dialog.MenuOn();
      choice.Titles = dialog.Titles();
      return true;
    };
}

// ---- Fit to disc -------------------------------------------------------------------------

TForm1::TDiscFitFigure TForm1::DiscFitForCheckedRows() const {
  TDiscFitFigure figure;
  const QString size = FitBox ? FitBox->currentText() : kFitOff;
  if (size == kFitOff) return figure;
  figure.On = true;
  const auto kind = KindOfProfile(ComboBox1->currentText());
  if (!kind) {
    figure.Problem = "Fit to Disc needs a VCD, SVCD or DVD profile.";
    return figure;
  }
  double seconds = 0;
  int titles = 0;
  int soundTracks = 1;  // of the title with the most
  for (int i = 0; i < listview1->topLevelItemCount(); ++i) {
    const QTreeWidgetItem* row = listview1->topLevelItem(i);
    if (row->checkState(fcInput) != Qt::Checked) continue;
    if (*kind == authoring::TDiscKind::Dvd)
      soundTracks = std::max(soundTracks, row->data(fcInput, kDvdSoundTracksRole).toInt());
    const double length = RowSeconds(row);
    if (length <= 0) {
      figure.Problem = "Fit to Disc needs the length of every checked file; " + row->text(fcInput) +
                       " has none.";
      return figure;
    }
    seconds += length;
    ++titles;
  }
  if (titles == 0) {
    figure.Problem = "Fit to Disc: no file is checked.";
    return figure;
  }
  const auto disc = *authoring::ParseDiscSize(size.toStdString());
  // The image gets a menu unless a DVD's was turned off (the disc image dialog remembers it).
  const bool menu = *kind != authoring::TDiscKind::Dvd || Settings_.Read("discmenu") != "off";
  // A DVD takes every sound track of its inputs: each takes its share of the disc.
  const std::int64_t audio =
      soundTracks > 1 ? authoring::TargetAudioBitRate(*kind) * soundTracks : 0;
  const authoring::TFitResult fit = authoring::FitToDisc(disc, seconds, titles, *kind, audio, menu);
  figure.Text = QString::fromStdString(authoring::DescribeFit(fit, disc, *kind));
  if (fit.Problem.empty()) figure.FillShare = FillShare(fit, disc, *kind);
  if (!fit.Problem.empty() || !fit.Fits) {
    figure.Problem = figure.Text;
    return figure;
  }
  for (const std::string& line : authoring::FitOptionLines(fit, *kind))
    figure.OptionText += QString::fromStdString(line) + "\n";
  return figure;
}

void TForm1::FitToDiscChanged() {
  RefreshDiscFit();
  if (!FitText->text().isEmpty()) LogLine(FitText->text());
}

void TForm1::RefreshDiscFit() {
  if (!FitBox) return;
  const TDiscFitFigure figure = DiscFitForCheckedRows();
  const QString text = figure.Problem.isEmpty() ? figure.Text : figure.Problem;
  FitText->setText(text);
  FitText->setToolTip(text);
  if (figure.FillShare < 0) {
    FitBar->hide();
    return;
  }
  // In hundredths of a percent, so that a short batch still shows on a large disc.
  FitBar->setValue(int(std::lround(std::min(figure.FillShare, 1.0) * kFitBarSteps)));
  const QString percent = figure.FillShare > 0 && figure.FillShare < 0.01
                              ? QString("< 1")
                              : QString::number(std::lround(figure.FillShare * 100));
  FitBar->setFormat(QString("%1 % of %2").arg(percent, FitBox->currentText()));
  FitBar->setToolTip(QString("The disc will be %1 % full").arg(percent));
  FitBar->show();
}

bool TForm1::BeginDiscBatch() {
  DiscFitOptions_.clear();
  const TDiscFitFigure figure = DiscFitForCheckedRows();
  if (!figure.Problem.isEmpty()) {
    FitText->setText(figure.Problem);
    ShowMessage(figure.Problem + "\nNothing was converted.");
    return false;
  }
  if (figure.On) {
    FitText->setText(figure.Text);
    LogLine(figure.Text);
  }
  DiscFitOptions_ = figure.OptionText.toStdString();
  DiscFitSize_ = figure.On && !DiscFitOptions_.empty() ? FitBox->currentText() : QString();
  DiscBatchProfile_ = ComboBox1->currentText();
  const std::string profile = DiscBatchProfile_.toStdString();
  DiscBatchNorm_ = KindOfProfile(DiscBatchProfile_) && NormTypeOfProfile(profile) == 0 ? -1 : 0;
  return true;
}

void TForm1::TellDiscFill() {
  const auto kind = KindOfProfile(DiscBatchProfile_);
  const auto size = authoring::ParseDiscSize(DiscFitSize_.toStdString());
  if (!kind || !size) return;
  std::int64_t bytes = 0;
  const std::vector<authoring::TDvdTitle> titles = DiscTitles();
  for (const authoring::TDvdTitle& title : titles)
    bytes += QFileInfo(QString::fromStdString(title.File)).size();
  if (titles.empty()) return;
  const QString text =
      QString::fromStdString(authoring::DescribeFill(*size, *kind, bytes, int(titles.size())));
  FitText->setText(text);
  FitText->setToolTip(text);
  LogLine(text);
}

int TForm1::DiscBatchNorm(int task, const std::string& input) {
  if (DiscBatchNorm_ == 0) return 0;
  const int own = InputNormType(FFEncoder.InputContext(task, 0)) == 2 ? 2 : 1;
  const QString name = own == 2 ? "NTSC" : "PAL";
  const QString file = QString::fromStdString(input);
  if (DiscBatchNorm_ < 0) {
    // An input whose rate names no norm is made PAL, as the target does on its own.
    DiscBatchNorm_ = own;
    LogLine(QString("Disc norm: %1 for every file of this batch, the first file's (%2)")
                .arg(name, file));
  } else if (own != DiscBatchNorm_) {
    LogLine(QString("%1 is %2: converted to %3, the norm of this batch's disc")
                .arg(file, name, DiscBatchNorm_ == 2 ? "NTSC" : "PAL"));
  }
  return DiscBatchNorm_;
}

void TForm1::NoteDvdSoundTracks(QTreeWidgetItem* row, const AVFormatContext& input) {
  const TDiscTrackPlan plan = PlanDiscTracks(input);
  const bool every = !DiscTrackOptionLines(plan, "ac3").empty();
  row->setData(fcInput, kDvdSoundTracksRole, every ? int(plan.Audio.size()) : 1);
}

void TForm1::ChooseDiscTracks(int task, int row, const std::string& input,
                              TOutputOptions& options) {
  QTreeWidgetItem* item = listview1->topLevelItem(row);
  const AVFormatContext* context = FFEncoder.InputContext(task, 0);
  if (!item) return;
  item->setData(fcInput, kDiscTracksRole, QVariant());
  if (options.TargetType != kDvdTarget || !context) return;
  std::vector<std::string> lines;
  std::istringstream text(options.ExtraOptions);
  for (std::string line; std::getline(text, line);) lines.push_back(line);
  const auto note = [this](bool warning, const std::string& line) {
    LogLine(QString::fromStdString((warning ? "***" : "") + line));
  };
  auto tracks = std::make_shared<const TTitleTracks>(
      ChooseInputTracks(*context, input, !OptionsChooseStreams(lines), TSubtitleUse::Disc,
                        OptionSeconds(OptionLineValue(lines, "ss")),
                        options.AudioCodec.empty() ? "ac3" : options.AudioCodec, note));
  for (const std::string& line : tracks->OptionLines) {
    if (!options.ExtraOptions.empty() && options.ExtraOptions.back() != '\n')
      options.ExtraOptions += '\n';
    options.ExtraOptions += line + "\n";
  }
  item->setData(fcInput, kDiscTracksRole, QVariant::fromValue(tracks));
}

void TForm1::NoteDiscOutput(int row, const std::string& outputPath) {
  QTreeWidgetItem* item = listview1->topLevelItem(row);
  if (!item) return;
  item->setData(fcInput, kDiscOutputRole, QString::fromStdString(outputPath));
  item->setData(fcInput, kDiscProfileRole, DiscBatchProfile_);
}

// ---- Disc image --------------------------------------------------------------------------

std::vector<authoring::TDvdTitle> TForm1::DiscTitles() const {
  std::vector<authoring::TDvdTitle> titles;
  if (!KindOfProfile(DiscBatchProfile_)) return titles;
  for (int i = 0; i < listview1->topLevelItemCount(); ++i) {
    const QTreeWidgetItem* row = listview1->topLevelItem(i);
    if (row->text(fcProgress) != "Completed" ||
        row->data(fcInput, kDiscProfileRole).toString() != DiscBatchProfile_)
      continue;
    const QString output = row->data(fcInput, kDiscOutputRole).toString();
    // The menu shows the input's name without its extension.
    if (output.isEmpty()) continue;
    authoring::TDvdTitle title{output.toStdString(), RowSeconds(row),
                               QFileInfo(row->text(fcInput)).completeBaseName().toStdString()};
    if (const auto tracks =
            row->data(fcInput, kDiscTracksRole).value<std::shared_ptr<const TTitleTracks>>()) {
      title.AudioLanguages = tracks->AudioLanguages;
      title.Subtitles = tracks->Subtitles;
    }
    titles.push_back(std::move(title));
  }
  return titles;
}

bool TForm1::DiscImageReady() const {
  return !DiscRun_ && !DiscTitles().empty();
}

void TForm1::MakeDiscImageClick() {
  if (Converting_ || DiscRun_) return;
  const std::vector<authoring::TDvdTitle> titles = DiscTitles();
  const auto kind = KindOfProfile(DiscBatchProfile_);
  if (titles.empty() || !kind) {
    ShowMessage("There are no converted VCD, SVCD or DVD files to make a disc image of.");
    return;
  }
  if (const std::string missing = authoring::MissingToolsMessage(*kind); !missing.empty()) {
    ShowMessage(QString::fromStdString(missing));
    return;
  }
  const bool dvd = *kind == authoring::TDiscKind::Dvd;
  const QString extension = dvd ? ".iso" : ".cue";
  const QString folder = Edit1->text().trimmed();
  QString path = AskImagePath(QDir(folder.isEmpty() ? "." : folder).filePath("disc" + extension),
                              dvd ? "DVD image (*.iso)" : "CD image (*.cue)");
  if (path.isEmpty()) return;
  if (!path.endsWith(extension, Qt::CaseInsensitive)) path += extension;
  // The .bin beside a .cue is never asked for: it must not replace a file of the list.
  std::vector<std::string> inputs;
  for (int i = 0; i < listview1->topLevelItemCount(); ++i)
    inputs.push_back(listview1->topLevelItem(i)->text(fcInput).toStdString());
  const TSameFileIndex listed(inputs);
  for (const std::string& image :
       {path.toStdString(), dvd ? std::string() : authoring::BinPathOf(path.toStdString())})
    if (!image.empty())
      if (const int row = listed.IndexOf(image); row >= 0) {
        ShowMessage(QString("The image %1 would overwrite %2 of the file list.")
                        .arg(QString::fromStdString(image),
                             QString::fromStdString(inputs[std::size_t(row)])));
        return;
      }
  const QString size = AskDiscSize(DiscSizesFor(*kind));
  if (size.isEmpty() || !authoring::ParseDiscSize(size.toStdString())) return;

  authoring::TDiscRequest request;
  request.Kind = *kind;
  int norm = NormTypeOfProfile(DiscBatchProfile_.toStdString());
  if (norm == 0 && DiscBatchNorm_ > 0) norm = DiscBatchNorm_;
  request.Norm = norm == 1   ? authoring::TDiscNorm::Pal
                 : norm == 2 ? authoring::TDiscNorm::Ntsc
                             : authoring::TDiscNorm::Auto;
  request.Titles = titles;
  request.ImagePath = path.toStdString();
  if (dvd) {
    TDiscMenuChoice choice;
    choice.Menu = Settings_.Read("discmenu") != "off";
    choice.Titles = titles;
    choice.Norm = request.Norm != authoring::TDiscNorm::Auto
                      ? request.Norm
                      : authoring::MpegFileNorm(titles.front().File);
    if (!AskDiscMenu(choice)) return;
    Settings_.Write("discmenu", choice.Menu ? "on" : "off");
    request.Titles = choice.Titles;
    request.WithMenu = choice.Menu;
    request.DrawSubtitle = discmenu::SubtitleDrawerFor(request.Titles);
    if (choice.Menu) request.PaintMenu = discmenu::DvdMenuPainter();
  } else {
    request.DrawCdMenu = discmenu::CdMenuDrawer();
  }

  DiscRun_ = new TDiscImageRun(this, std::move(request));
  DiscRun_->OnProgress = [this](const authoring::TAuthorProgress& progress) {
    StatusText->setText(QString("  Making the disc image..%1 %%2")
                            .arg(progress.Percent, 0, 'f', 0)
                            .arg(progress.Tool.empty()
                                     ? QString()
                                     : " (" + QString::fromStdString(progress.Tool) + ")"));
    OverallBar->setValue(int(std::lround(progress.Percent)));
  };
  DiscRun_->OnToolLine = [this](const QString& tool, const QString& line) {
    LogLine(tool + ": " + line);
  };
  const QString disc = size;
  DiscRun_->OnEnded = [this, disc](const authoring::TAuthorResult& result) {
    DiscImageEnded(result, disc);
  };
  ConvertingState();
  OverallBar->setToolTip("The disc image");
  StatusText->setText("  Making the disc image..0 %");
  LogLine("Making the disc image " + path);
  DiscRun_->Start();
}

void TForm1::StopDiscImage() {
  if (DiscRun_) DiscRun_->Stop();
}

void TForm1::DiscImageEnded(const authoring::TAuthorResult& result, const QString& size) {
  const QString path = QString::fromStdString(DiscRun_->Request().ImagePath);
  DiscRun_->deleteLater();
  DiscRun_ = nullptr;
  ReadyState();
  if (result.Stopped) {
    LogLine("The disc image was stopped; nothing was written to " + path);
    return;
  }
  if (!result.Completed) {
    const QString reason = QString::fromStdString(result.Reason);
    LogLine("***The disc image could not be made: " + reason);
    ShowMessage("The disc image could not be made:\n" + reason);
    return;
  }
  const authoring::TImageMeasure measure =
      authoring::MeasureImage(result, *authoring::ParseDiscSize(size.toStdString()));
  QString message =
      "The disc image is made: " + path + "\n" + QString::fromStdString(measure.Text) + ".";
  if (measure.TooLarge) message += "\nIt is larger than one disc holds.";
  LogLine(message);
  StatusText->setText("Ready");
  ShowMessage(message);
}

}  // namespace tovamo
