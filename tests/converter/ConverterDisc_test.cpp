// The converter window's disc image: "Fit to Disc" beside the profile box, and "Make Disc
// Image..." on the completed rows of the last batch, with the real engine and the real
// authoring tools (and stand-ins for a tool that fails or has to be stopped).
#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>

#include "ConverterTestPaths.h"
#include "ConverterWindow.h"
#include "DiscMenuDialog.h"
#include "DiscSizeDialog.h"
#include "ErrorDisplay.h"
#include "Profiles.h"
#include "QtMainThread.h"
#include "Services/FFLoad.h"
#include "TableStoreWriter.h"
#include "support/TestTime.h"

using namespace tovamo;

namespace {

using converter_test::Fixture;
using converter_test::StoreDir;

const char* const kDvd = "MPEG2 FOR PAL DVD(720*576)";
const char* const kSvcd = "MPEG2 FOR PAL SVCD(480*576)";
const char* const kVcd = "MPEG1 FOR PAL VCD(352*288)";
const char* const kPlayers = "MPEG1 FOR PLAYERS(352*288)";

// A stand-in for an authoring tool, found on PATH before the real ones while it lives.
class TToolStandIn {
 public:
  TToolStandIn(const QString& folder, const QString& tool, const QByteArray& script)
      : Path_(qgetenv("PATH")) {
    QDir().mkpath(folder);
    QFile file(folder + "/" + tool);
    file.open(QIODevice::WriteOnly);
    file.write("#!/bin/sh\n" + script);
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("PATH", (folder + ":").toUtf8() + Path_);
  }
  ~TToolStandIn() { qputenv("PATH", Path_); }

 private:
  QByteArray Path_;
};

}  // namespace

class ConverterDiscTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir Work;
  QStringList Messages;
  QStringList AskedPaths;  // the names the window suggested for the image
  // Answers the DVD menu's question; unset: as the window offers it.
  std::function<bool(TForm1::TDiscMenuChoice&)> MenuAnswer;

  std::unique_ptr<TForm1> MakeWindow(const QString& out, const char* profile,
                                     const QString& programDir = StoreDir()) {
    auto window =
        std::make_unique<TForm1>(TForm1::TOptions{programDir, Work.filePath("settings.ini"), {}});
    window->Confirm = [](const QString&) { return true; };
    window->ShowMessage = [this](const QString& message) { Messages << message; };
    window->show();
    QDir().mkpath(out);
    window->Edit1->setText(out);
    window->ComboBox1->setCurrentText(profile);
    window->ProfileBoxChanged();
    return window;
  }

  static void ChooseFit(TForm1& window, const QString& size) {
    window.FitBox->setCurrentText(size);
    window.FitToDiscChanged();
  }

  // Converts the rows and waits for the batch to end.
  static bool Convert(TForm1& window) {
    window.ConvertClick();
    return QTest::qWaitFor([&] { return !window.Converting(); }, tovamo::test::GenerousMs(120000));
  }

  // "Make Disc Image..." answered with `name` and `size`; waits for its end.
  bool MakeImage(TForm1& window, const QString& name, const QString& size) {
    window.AskImagePath = [this, name](const QString& suggested, const QString&) {
      AskedPaths << suggested;
      return name;
    };
    window.AskDiscSize = [size](const QStringList&) { return size; };
    window.AskDiscMenu = [this](TForm1::TDiscMenuChoice& choice) {
      return MenuAnswer ? MenuAnswer(choice) : true;
    };
    window.Actions.MakeDiscImage->trigger();
    return QTest::qWaitFor([&] { return !window.MakingDiscImage(); },
                           tovamo::test::GenerousMs(120000));
  }

  static QStringList Entries(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot,
                                  QDir::Name);
  }

 private slots:
  void initTestCase() {
    QVERIFY(FFLoader().LoadLibs(kEncoderLibraries));
    SetErrorDisplayHandler([](const QString&) {});
  }
  void init() {
    Messages.clear();
    AskedPaths.clear();
    MenuAnswer = nullptr;
  }

  // The figure for the checked rows as the choice changes; a batch that cannot fit is not
  // started.
  void fitToDiscGivesTheRateForTheCheckedRows() {
    const QString out = Work.filePath("fit");
    auto window = MakeWindow(out, kDvd);
    window->AddFiles({Fixture("sample.mpg"), Fixture("long_5s.mpg")});
    QCOMPARE(window->FitBox->currentText(), QString("Off"));
    ChooseFit(*window, "4.7G");
    QVERIFY2(window->FitText->text().startsWith("Fit to disc: video at 8861 kbit/s"),
             qPrintable(window->FitText->text()));
    ChooseFit(*window, "700M");
    QVERIFY2(window->FitText->text().contains("does not go on a 700M CD"),
             qPrintable(window->FitText->text()));
    window->ConvertClick();
    QVERIFY(!window->Converting());
    QCOMPARE(Messages.size(), 1);
    QVERIFY2(Messages[0].endsWith("Nothing was converted."), qPrintable(Messages[0]));
    QVERIFY(Entries(out).isEmpty());

    window->ComboBox1->setCurrentText(kVcd);
    window->ProfileBoxChanged();
    ChooseFit(*window, "700M");
    QVERIFY2(window->FitText->text().contains("fits on one 700M VCD"),
             qPrintable(window->FitText->text()));
    window->ComboBox1->setCurrentText(kPlayers);
    window->ProfileBoxChanged();
    ChooseFit(*window, "4.7G");
    QVERIFY2(window->FitText->text().contains("needs a VCD, SVCD or DVD profile"),
             qPrintable(window->FitText->text()));
    ChooseFit(*window, "Off");
    QCOMPARE(window->FitText->text(), QString());
  }

  // A DVD takes every sound track of its inputs and the fit leaves them their room: with a
  // second language the video's ceiling on a large disc is lower, as the command gives it
  // (it once counted one track, and a fitted batch could overrun its disc).
  void fitToDiscCountsEverySoundTrackOfADvd() {
    auto window = MakeWindow(Work.filePath("fit-tracks"), kDvd);
    window->AddFiles({Fixture("two_languages.mkv")});
    ChooseFit(*window, "4.7G");
    QVERIFY2(
        window->FitText->text().startsWith("Fit to disc: video at 8449 kbit/s with sound at 896"),
        qPrintable(window->FitText->text()));
    window->AddFiles({Fixture("sample.mpg")});
    window->listview1->topLevelItem(0)->setCheckState(fcInput, Qt::Unchecked);
    window->RefreshDiscFit();
    QVERIFY2(window->FitText->text().startsWith("Fit to disc: video at 8861 kbit/s"),
             qPrintable(window->FitText->text()));
  }

  // The fit's text and bar keep their places and never widen the window; they follow every
  // change of the files, the checks, the profile and the aspect, not only of the box.
  void fitToDiscStaysInPlaceAndFollowsEveryChange() {
    auto window = MakeWindow(Work.filePath("follow"), kVcd);
    window->resize(960, 600);
    window->AddFiles({Fixture("sample.mpg")});
    QApplication::processEvents();
    const int width = window->width();
    const QPoint box = window->FitBox->mapTo(window.get(), QPoint());
    ChooseFit(*window, "700M");
    QVERIFY2(window->FitText->text().contains("fits on one 700M VCD"),
             qPrintable(window->FitText->text()));
    QVERIFY(window->FitBar->isVisible());
    // A clip of a second or two: a sliver of the CD.
    const int emptyish = window->FitBar->value();
    QVERIFY2(emptyish > 0 && emptyish < 100, qPrintable(QString::number(emptyish)));
    QVERIFY2(window->FitBar->text().endsWith(" % of 700M"), qPrintable(window->FitBar->text()));
    // The longest texts: cut to their place, whole in the tooltip; nothing moves.
    for (const char* profile : {kDvd, kSvcd, kVcd}) {
      window->ComboBox1->setCurrentText(profile);
      window->ProfileBoxChanged();
      QApplication::processEvents();
      QCOMPARE(window->width(), width);
      QCOMPARE(window->FitBox->mapTo(window.get(), QPoint()), box);
      QCOMPARE(window->FitText->toolTip(), window->FitText->text());
    }
    QVERIFY2(window->FitText->text().contains("fits on one 700M VCD"),
             qPrintable(window->FitText->text()));

    struct TChange {
      const char* Name;
      std::function<void()> Make;
    };
    const TChange changes[] = {
        {"a file added", [&] { window->AddFiles({Fixture("long_5s.mpg")}); }},
        {"a row unchecked",
         [&] { window->listview1->topLevelItem(1)->setCheckState(fcInput, Qt::Unchecked); }},
        {"a row checked",
         [&] { window->listview1->topLevelItem(1)->setCheckState(fcInput, Qt::Checked); }},
        {"the aspect", [&] { window->AspectBoxChanged(); }},
        {"a row removed",
         [&] {
           window->listview1->setCurrentItem(window->listview1->topLevelItem(1));
           window->RemoveClick();
         }},
        {"the profile",
         [&] {
           window->ComboBox1->setCurrentText(kDvd);
           window->ProfileBoxChanged();
         }},
    };
    QString before = window->FitText->text();
    int fill = window->FitBar->value();
    for (const TChange& change : changes) {
      window->FitText->setText("stale");
      change.Make();
      QVERIFY2(window->FitText->text().startsWith("Fit to disc: "), change.Name);
      qInfo("%s: %s, bar %d", change.Name, qPrintable(window->FitText->text()),
            window->FitBar->value());
      if (QString(change.Name) == "a file added") {
        QVERIFY2(window->FitText->text() != before, change.Name);
        QVERIFY2(window->FitBar->value() > fill, change.Name);
      }
      before = window->FitText->text();
      fill = window->FitBar->value();
    }
    // A DVD image on a CD: no figure, no bar, and the reason.
    QVERIFY2(window->FitText->text().contains("does not go on a 700M CD"),
             qPrintable(window->FitText->text()));
    QVERIFY(!window->FitBar->isVisible());
    ChooseFit(*window, "Off");
    QCOMPARE(window->FitText->text(), QString());
    QVERIFY(!window->FitBar->isVisible());
    QCOMPARE(window->width(), width);
  }

  // The disc size question shows its whole title.
  void discSizeDialogShowsItsTitle() {
    auto dialog = MakeDiscSizeDialog(nullptr, {"4.7G", "8.5G"});
    dialog->show();
    QApplication::processEvents();
    QFont bold = QApplication::font();
    bold.setBold(true);
    QCOMPARE(dialog->windowTitle(), QString("Make Disc Image"));
    QVERIFY2(dialog->width() >= QFontMetrics(bold).horizontalAdvance(dialog->windowTitle()) + 150,
             qPrintable(QString::number(dialog->width())));
    QCOMPARE(dialog->comboBoxItems(), (QStringList{"4.7G", "8.5G"}));
  }

  // After a DVD batch with the fit chosen: the image of its completed rows, the tools' lines
  // in the Log tab, the message naming the image and its size against the disc's.
  void makeDiscImageFromTheCompletedRows() {
    const QString out = Work.filePath("dvd");
    auto window = MakeWindow(out, kDvd);
    window->AddFiles({Fixture("sample.mpg"), Fixture("long_5s.mpg"), Fixture("sample.avi")});
    window->listview1->topLevelItem(2)->setCheckState(fcInput, Qt::Unchecked);
    QVERIFY(!window->Actions.MakeDiscImage->isEnabled());
    ChooseFit(*window, "4.7G");
    QVERIFY(Convert(*window));
    QVERIFY(window->mmoLog->toPlainText().contains("Fit to disc: video at 8861 kbit/s"));
    // Every file in two passes, and how full the disc is after them.
    QVERIFY(window->mmoLog->toPlainText().contains("each file in two passes"));
    QVERIFY2(window->FitText->text().startsWith("Fit to disc: the files make an image of about "),
             qPrintable(window->FitText->text()));
    QVERIFY2(window->FitText->text().contains(" MB of the 4.7G DVD's 4700 MB ("),
             qPrintable(window->FitText->text()));
    QVERIFY(window->mmoLog->toPlainText().contains(window->FitText->text()));
    QVERIFY(window->Actions.MakeDiscImage->isEnabled());

    QVERIFY(MakeImage(*window, out + "/holiday", "4.7G"));  // ".iso" is added
    QCOMPARE(AskedPaths, QStringList{out + "/disc.iso"});
    QCOMPARE(Messages.size(), 1);
    QVERIFY2(Messages[0].startsWith("The disc image is made: " + out + "/holiday.iso\n"),
             qPrintable(Messages[0]));
    QVERIFY2(Messages[0].contains("of the 4.7G DVD's 4700 MB"), qPrintable(Messages[0]));
    const QString log = window->mmoLog->toPlainText();
    QVERIFY(log.contains("dvdauthor: "));
    QVERIFY(log.contains("genisoimage: "));
    QCOMPARE(Entries(out), (QStringList{"holiday.iso", "long_5s.mpg", "sample.mpg"}));
    QCOMPARE(window->StatusText->text(), QString("Ready"));
    QVERIFY(window->Actions.MakeDiscImage->isEnabled());

    // A batch of a profile without a disc leaves nothing to make an image of.
    window->ComboBox1->setCurrentText(kPlayers);
    window->ProfileBoxChanged();
    ChooseFit(*window, "Off");
    QVERIFY(Convert(*window));
    QVERIFY(!window->Actions.MakeDiscImage->isEnabled());
  }

  // A tool that fails gives its reason; one stopped part way leaves nothing; a missing one
  // is named with its package before anything is asked.
  void discToolsThatFailAreStoppedOrMissing() {
    // An SVCD with its selection screen is built by vcdxbuild.
    const QString out = Work.filePath("svcd");
    auto window = MakeWindow(out, kSvcd);
    window->AddFiles({Fixture("sample.mpg")});
    QVERIFY(Convert(*window));
    QVERIFY(window->Actions.MakeDiscImage->isEnabled());
    {
      TToolStandIn tool(Work.filePath("failing"), "vcdxbuild",
                        "echo '**ERROR: the stream is not fit for a disc'\nexit 1\n");
      QVERIFY(MakeImage(*window, out + "/disc.cue", "700M"));
    }
    QCOMPARE(Messages.size(), 1);
    QCOMPARE(Messages[0], QString("The disc image could not be made:\nvcdxbuild failed (exit "
                                  "status 1): **ERROR: the stream is not fit for a disc"));
    QCOMPARE(Entries(out), QStringList{"sample.mpg"});

    {
      TToolStandIn tool(Work.filePath("slow"), "vcdxbuild", "echo started\nexec sleep 120\n");
      window->AskImagePath = [&](const QString&, const QString&) { return out + "/disc.cue"; };
      window->AskDiscSize = [](const QStringList&) { return QString("700M"); };
      window->MakeDiscImageClick();
      QVERIFY(window->MakingDiscImage());
      QVERIFY(window->Converting());
      QVERIFY(QTest::qWaitFor(
          [&] { return window->mmoLog->toPlainText().contains("vcdxbuild: started"); },
          tovamo::test::GenerousMs(60000)));
      QVERIFY(window->StatusText->text().startsWith("  Making the disc image.."));
      // Its progress has a bar of its own between the status and the last batch's summary,
      // none of them running into another; it can be stopped, not paused.
      QVERIFY(window->OverallBar->isVisible());
      QCOMPARE(window->OverallBar->toolTip(), QString("The disc image"));
      window->StatusText->setText(window->StatusText->text() + " (genisoimage) " +
                                  QString(80, 'x'));
      window->BatchSummary->setText("1 completed, 0 failed, 0 stopped " + QString(80, 'y'));
      QApplication::processEvents();
      const QRect status = window->StatusText->geometry(), bar = window->OverallBar->geometry(),
                  summary = window->BatchSummary->geometry();
      QVERIFY2(status.right() < bar.left() && bar.right() < summary.left(),
               qPrintable(QString("%1-%2 %3-%4 %5-%6")
                              .arg(status.left())
                              .arg(status.right())
                              .arg(bar.left())
                              .arg(bar.right())
                              .arg(summary.left())
                              .arg(summary.right())));
      QVERIFY(window->width() <= 960);
      QVERIFY(window->Button5->isEnabled());
      QVERIFY(!window->Button6->isEnabled() && !window->Button7->isEnabled());
      QVERIFY(!window->Actions.Pause->isEnabled() && !window->Actions.Resume->isEnabled());
      window->StopClick();
      QVERIFY(QTest::qWaitFor([&] { return !window->MakingDiscImage(); },
                              tovamo::test::GenerousMs(60000)));
    }
    QVERIFY(window->mmoLog->toPlainText().contains("The disc image was stopped"));
    QCOMPARE(Messages.size(), 1);
    QCOMPARE(Entries(out), QStringList{"sample.mpg"});

    // A .bin that would replace a file of the list is refused before the disc size is asked.
    QFile::copy(Fixture("sample.mpg"), out + "/clip.bin");
    window->AddFiles({out + "/clip.bin"});
    window->AskImagePath = [&](const QString&, const QString&) { return out + "/clip.cue"; };
    bool sized = false;
    window->AskDiscSize = [&](const QStringList&) {
      sized = true;
      return QString("700M");
    };
    window->MakeDiscImageClick();
    QVERIFY(!sized);
    QCOMPARE(Messages.last(), QString("The image %1/clip.bin would overwrite %1/clip.bin of the "
                                      "file list.")
                                  .arg(out));
    QVERIFY(!window->MakingDiscImage());

    const QByteArray path = qgetenv("PATH");
    QDir().mkpath(Work.filePath("empty"));
    qputenv("PATH", Work.filePath("empty").toUtf8());
    bool asked = false;
    window->AskImagePath = [&](const QString&, const QString&) {
      asked = true;
      return QString();
    };
    window->MakeDiscImageClick();
    qputenv("PATH", path);
    QVERIFY(!asked);
    QCOMPARE(Messages.last(),
             QString("vcdimager is not installed (install the package \"vcdimager\")"));
    QVERIFY(!window->MakingDiscImage());
  }

  // A DVD profile that leaves the norm to the inputs, on a PAL and an NTSC file: every row
  // takes the first one's norm, said in the Log tab before converting, and the image is made
  // (dvdauthor would skip the NTSC title's format in a PAL title set).
  void aDiscBatchTakesTheFirstFilesNorm() {
    const QString program = Work.filePath("store");
    QDir().mkpath(program);
    const char* const profile = "MPEG2 FOR DVD(720*576)";
    WriteTableStore((program + "/data.dat").toStdString(),
                    {kProfileTableName,
                     {kProfileNameField, kProfileFormatField},
                     kProfileIndexName,
                     {kProfileNameField},
                     {{profile, "6000|720x576|Auto|Auto|mpeg2video|448|48000|stereo|"}}},
                    kProfilePassword, 1);
    const QString out = Work.filePath("norm");
    auto window = MakeWindow(out, profile, program);
    window->AddFiles({Fixture("sample.mpg"), Fixture("ntsc_29_97.mpg")});
    QVERIFY(Convert(*window));
    const QString log = window->mmoLog->toPlainText();
    QVERIFY2(log.contains("Disc norm: PAL for every file of this batch, the first file's (" +
                          Fixture("sample.mpg") + ")"),
             qPrintable(log));
    QVERIFY2(log.contains(Fixture("ntsc_29_97.mpg") +
                          " is NTSC: converted to PAL, the norm of this batch's disc"),
             qPrintable(log));
    QVERIFY(MakeImage(*window, out + "/disc.iso", "4.7G"));
    QCOMPARE(Messages.size(), 1);
    QVERIFY2(Messages[0].startsWith("The disc image is made: " + out + "/disc.iso\n"),
             qPrintable(Messages[0]));
    QVERIFY(!window->mmoLog->toPlainText().contains("WARN"));
  }

  // A DVD's title menu: on by default, the names editable with the first page redrawn as
  // they change, the edited names on the disc; turned off, it is remembered.
  void theDvdMenuIsNamedAndPreviewedAndItsChoiceRemembered() {
    const QString out = Work.filePath("menu");
    auto window = MakeWindow(out, kDvd);
    window->AddFiles({Fixture("sample.mpg"), Fixture("dark_start.mpg")});
    QVERIFY(Convert(*window));
    bool offered = false, redrawn = false;
    QStringList names;
    QImage preview;
    MenuAnswer = [&](TForm1::TDiscMenuChoice& choice) {
      TDiscMenuDialog dialog(window.get(), choice.Titles, choice.Norm, choice.Menu);
      offered = dialog.MenuOn();
      for (int i = 0; i < dialog.Names->rowCount(); ++i) names << dialog.Names->item(i, 1)->text();
      const QImage before = dialog.PreviewImage();
      dialog.Names->item(1, 1)->setText("東京 & \"night\"");
      preview = dialog.PreviewImage();
      redrawn = !preview.isNull() && preview != before;
      choice.Menu = dialog.MenuOn();
      choice.Titles = dialog.Titles();
      return true;
    };
    QVERIFY(MakeImage(*window, out + "/menu.iso", "4.7G"));
    QVERIFY(offered);
    QCOMPARE(names, (QStringList{"sample", "dark_start"}));
    QVERIFY(redrawn);
    QCOMPARE(preview.size(), QSize(768, 576));  // a PAL page at its 4:3 display shape
    QCOMPARE(Messages.size(), 1);
    QVERIFY2(Messages[0].startsWith("The disc image is made: " + out + "/menu.iso\n"),
             qPrintable(Messages[0]));
    QVERIFY(
        window->mmoLog->toPlainText().contains("menu: page 1 of 1: [sample] [東京 & \"night\"]"));

    // Off for one image: made without a menu, and offered off the next time.
    MenuAnswer = [&](TForm1::TDiscMenuChoice& choice) {
      choice.Menu = false;
      return true;
    };
    window->mmoLog->clear();
    QVERIFY(MakeImage(*window, out + "/plain.iso", "4.7G"));
    QVERIFY(!window->mmoLog->toPlainText().contains("menu: page"));
    MenuAnswer = [&](TForm1::TDiscMenuChoice& choice) {
      offered = choice.Menu;
      return false;  // cancelled: nothing is made
    };
    QVERIFY(MakeImage(*window, out + "/never.iso", "4.7G"));
    QVERIFY(!offered);
    QVERIFY(!QFile::exists(out + "/never.iso"));
  }

  // Every sound track of a DVD row goes onto the image with its language, and its SubRip
  // stream as a selectable subpicture stream.
  void aDvdRowKeepsEveryLanguageAndItsSubtitles() {
    const QString out = Work.filePath("tracks");
    QDir().mkpath(Work.filePath("tracks_in"));
    const QString input = Work.filePath("tracks_in/clip.mkv");
    QVERIFY(QFile::copy(Fixture("languages_subs.mkv"), input));
    auto window = MakeWindow(out, kDvd);
    window->AddFiles({input});
    QVERIFY(Convert(*window));
    QVERIFY(MakeImage(*window, out + "/tracks.iso", "4.7G"));
    const QString log = window->mmoLog->toPlainText();
    QVERIFY2(log.contains(input + ": 2 sound tracks (ja, en)"), qPrintable(log));
    QVERIFY2(Messages.size() == 1 && Messages[0].startsWith("The disc image is made"),
             qPrintable(Messages.join("\n")));
    std::string listing;
    if (FILE* pipe = popen(("lsdvd -a -s '" + out + "/tracks.iso' 2>/dev/null").toUtf8(), "r")) {
      char buffer[4096];
      for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        listing.append(buffer, n);
      pclose(pipe);
    }
    for (const char* line : {"Audio streams: 02, Subpictures: 01", "Audio: 1, Language: ja",
                             "Audio: 2, Language: en", "Subtitle: 01, Language: fr"})
      QVERIFY2(listing.find(line) != std::string::npos,
               qPrintable(QString(line) + "\n" + QString::fromStdString(listing)));
  }
};

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  TConverterApplication app(argc, argv);
  InstallQtMainThreadBridge();
  ConverterDiscTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "ConverterDisc_test.moc"
