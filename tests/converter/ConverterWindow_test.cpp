// The converter window with the real engine on generated clips: adding files, the control
// states, converting, stopping, pausing, the remembered settings, the close sequence, and
// the bad stores, folders and files a user can run into.
#include <QComboBox>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <atomic>
#include <memory>
#include <thread>
#include <unistd.h>

#include "BatchFigures.h"
#include "ConverterWindow.h"
#include "ErrorDisplay.h"
#include "FramePreviewWindow.h"
#include "Services/Bitmap.h"
#include "Profiles.h"
#include "QtMainThread.h"
#include "SampleClip.h"
#include "Services/FFLoad.h"
#include "TableStoreWriter.h"
#include "support/MediaProbe.h"

using namespace tovamo;

namespace {

QString Fixture(const char* name) {
  return QString(TOVAMO_FIXTURE_DIR) + "/" + name;
}

QString StoreDir() {
  const QString store = TOVAMO_PROFILE_STORE;
  return store.left(store.lastIndexOf('/'));
}

const char* const kVcd = "MPEG1 FOR PAL VCD(352*288)";

}  // namespace

class ConverterWindowTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir Work;
  QStringList Questions;  // every question the window asked
  QStringList Messages;   // every message it showed
  QStringList Errors;     // the error display's messages
  bool Answer = true;     // the answer to every question

  std::unique_ptr<TForm1> MakeWindow(const QString& programDir = StoreDir(),
                                     const QString& settings = {}) {
    auto window = std::make_unique<TForm1>(TForm1::TOptions{
        programDir, settings.isEmpty() ? Work.filePath("settings.ini") : settings, {}});
    window->Confirm = [this](const QString& question) {
      Questions << question;
      return Answer;
    };
    window->ShowMessage = [this](const QString& message) { Messages << message; };
    window->show();
    return window;
  }

  // A window ready to convert into a fresh output folder with the VCD profile.
  std::unique_ptr<TForm1> ConvertingWindow(const QString& outputDir) {
    auto window = MakeWindow();
    QDir().mkpath(outputDir);
    window->Edit1->setText(outputDir);
    window->ComboBox1->setCurrentText(kVcd);
    window->ProfileBoxChanged();
    // Figures every 100 ms: on a fast machine a clip converts in about a second.
    window->FFEncoder.SetProgressInterval(100);
    return window;
  }

  static QString Cell(TForm1& window, int row, int column) {
    return window.listview1->topLevelItem(row)->text(column);
  }

  // A generated clip long enough to be caught while it converts.
  QString LongClip(const QString& name, int seconds = 20) {
    const QString path = Work.filePath(name);
    if (!QFile::exists(path)) cli::WriteSampleClip(path.toStdString(), {640, 480, 25, seconds});
    return path;
  }

  bool WaitForReady(TForm1& window, int ms = 60000) {
    return QTest::qWaitFor([&] { return !window.Converting(); }, ms);
  }

 private slots:
  void initTestCase() {
    QVERIFY(FFLoader().LoadLibs(kEncoderLibraries));
    SetErrorDisplayHandler([this](const QString& message) { Errors << message; });
  }
  void init() {
    Questions.clear();
    Messages.clear();
    Errors.clear();
    Answer = true;
  }

  void batchFigures() {
    QCOMPARE(HoursMinutesSeconds(3725), std::string("01:02:05"));
    QCOMPARE(HoursMinutesSeconds(360000), std::string("100:00:00"));
    QCOMPARE(TotalTimeText(3725000000), std::string("01:02:05"));
    QCOMPARE(TotalTimeText(INT64_MIN), std::string("--:--:--"));  // length unknown
    QCOMPARE(ProgressCellText(500000, 2000000), std::string("25%"));
    QCOMPARE(ProgressCellText(3000000, 2000000), std::string("100%"));
    QCOMPARE(ProgressCellText(65000000, -1), std::string("00:01:05"));  // no percentage to tell
    QCOMPARE(ProgressCellText(-5, 0), std::string("00:00:00"));
    // Done rows count whole, a percentage row by its share, others not at all.
    QCOMPARE(OverallPercent({{1000, "Completed"}, {1000, "50%"}, {2000, ""}}), 37);
    QCOMPARE(OverallPercent({{1000, "Cancelled"}, {1000, "00:01:05"}}), 50);
    QCOMPARE(OverallPercent({{0, "50%"}}), -1);
  }

  void addingThreeFilesOfWhichTheSecondCannotBeOpened() {
    auto window = MakeWindow();
    const int logLines = window->mmoLog->document()->blockCount();
    window->AddFiles({Fixture("sample.avi"), Fixture("random.avi"), Fixture("sample.mp4")});
    QCOMPARE(window->listview1->topLevelItemCount(), 2);
    for (int row = 0; row < 2; ++row)
      QCOMPARE(window->listview1->topLevelItem(row)->checkState(fcInput), Qt::Checked);
    QCOMPARE(Cell(*window, 1, fcInput), Fixture("sample.mp4"));
    QVERIFY(Cell(*window, 0, fcTotalTime).startsWith("00:00:0"));
    QCOMPARE(Cell(*window, 0, fcFileSize),
             QString::number(QFileInfo(Fixture("sample.avi")).size()));
    // The window's own three lines: the error between two empty ones (the libraries' own
    // description of each opened input goes to the Log tab too).
    const QStringList log = window->mmoLog->toPlainText().split('\n').mid(logLines);
    const auto error =
        std::find_if(log.begin(), log.end(), [](const QString& l) { return l.startsWith("***"); });
    QVERIFY(error != log.end() && error != log.begin() && error + 1 != log.end());
    QVERIFY2(error->startsWith("***File open error: ") && error->contains("random.avi"),
             qPrintable(*error));
    QCOMPARE(*(error - 1), QString());
    QCOMPARE(*(error + 1), QString());
    QCOMPARE(
        std::count_if(log.begin(), log.end(), [](const QString& l) { return l.startsWith("***"); }),
        1);
  }

  void controlStatesOfBothStates() {
    auto window = MakeWindow();
    struct TExpect {
      const char* Name;
      bool Add, Remove, Clear, Preview, Convert, Select, Stop, Folder, List;
      const char* Status;
    };
    auto check = [&](const TExpect& e) {
      const auto& a = window->Actions;
      for (QAction* action : a.AddGroup) QVERIFY2(action->isEnabled() == e.Add, e.Name);
      for (QAction* action : a.RemoveGroup) QVERIFY2(action->isEnabled() == e.Remove, e.Name);
      for (QAction* action : a.ClearGroup) QVERIFY2(action->isEnabled() == e.Clear, e.Name);
      for (QAction* action : a.PreviewGroup) QVERIFY2(action->isEnabled() == e.Preview, e.Name);
      for (QAction* action : a.ConvertGroup) QVERIFY2(action->isEnabled() == e.Convert, e.Name);
      for (QAction* action : a.SelectGroup) QVERIFY2(action->isEnabled() == e.Select, e.Name);
      QVERIFY2(window->Button1->isEnabled() == e.Convert, e.Name);
      for (QPushButton* b : {window->Button5, window->Button6, window->Button7})
        QVERIFY2(b->isEnabled() == e.Stop, e.Name);
      for (QAction* action : {a.Stop, a.Pause, a.Resume})
        QVERIFY2(action->isEnabled() == e.Stop, e.Name);
      for (QWidget* w :
           std::initializer_list<QWidget*>{window->Edit1, window->ComboBox1, window->ComboBox2})
        QVERIFY2(w->isEnabled() == e.Folder, e.Name);
      QVERIFY2(window->listview1->isEnabled() == e.List, e.Name);
      QCOMPARE(window->StatusText->text(), QString(e.Status));
    };
    check({"empty", true, false, false, false, false, false, false, true, true, "Ready"});
    window->AddFiles({Fixture("sample.avi"), Fixture("sample.mp4")});
    window->listview1->clearSelection();
    check(
        {"rows, none selected", true, false, true, false, true, true, false, true, true, "Ready"});
    window->listview1->setCurrentItem(window->listview1->topLevelItem(0));
    check({"a row selected", true, true, true, true, true, true, false, true, true, "Ready"});
    window->SelectAllClick(false);
    check({"none checked", true, true, true, true, false, true, false, true, true, "Ready"});
    // Ticking a row's box by hand counts like "&Select".
    window->listview1->topLevelItem(1)->setCheckState(fcInput, Qt::Checked);
    check({"one ticked", true, true, true, true, true, true, false, true, true, "Ready"});
    window->ConvertingState();
    check({"converting", false, false, false, false, false, false, true, false, false,
           "Converting.."});
    window->PauseClick();
    window->ResumeClick();
    check({"after pause and resume", false, false, false, false, false, false, true, false, false,
           "Converting.."});
    window->ReadyState();
  }

  void convertingTwoOfFiveRowsRunsThemTogether() {
    const QString out = Work.filePath("two-of-five");
    auto window = ConvertingWindow(out);
    window->AddFiles({Fixture("sample.avi"), LongClip("long-a.avi", 8), Fixture("sample.flv"),
                      LongClip("long-b.mp4", 8), Fixture("sample.wmv")});
    QCOMPARE(window->listview1->topLevelItemCount(), 5);
    window->SelectAllClick(false);
    window->listview1->topLevelItem(1)->setCheckState(fcInput, Qt::Checked);
    window->listview1->topLevelItem(3)->setCheckState(fcInput, Qt::Checked);
    window->ConvertClick();
    QVERIFY(window->Converting());
    QCOMPARE(window->readyidListBox, (std::vector<int>{1, 3}));
    QCOMPARE(window->FFEncoder.TaskCount(), 2);
    QCOMPARE(int(window->FFEncoder.Task(0)->Running + window->FFEncoder.Task(1)->Running), 2);
    // Each row shows its own figures while it runs (sampled: either may end first).
    bool percent[2] = {false, false};
    bool overall = false;
    QTimer sample;
    connect(&sample, &QTimer::timeout, [&] {
      percent[0] |= Cell(*window, 1, fcProgress).endsWith('%');
      percent[1] |= Cell(*window, 3, fcProgress).endsWith('%');
      overall |= window->StatusText->text().startsWith("  Converting..");
    });
    sample.start(5);
    QVERIFY(WaitForReady(*window));
    sample.stop();
    QVERIFY(percent[0] && percent[1] && overall);
    for (int row : {1, 3}) QCOMPARE(Cell(*window, row, fcProgress), QString("Completed"));
    for (int row : {0, 2, 4}) QCOMPARE(Cell(*window, row, fcProgress), QString());
    QCOMPARE(Cell(*window, 1, fcUsedTime).isEmpty(), false);
    QCOMPARE(window->StatusText->text(), QString("Ready"));
    for (const char* name : {"long-a.mpg", "long-b.mpg"}) {
      const auto media = test::ProbeMedia((out + "/" + name).toStdString());
      QVERIFY2(media.Opened, name);
      QCOMPARE(media.Format, std::string("mpeg"));
      QVERIFY(media.StreamOfType(AVMEDIA_TYPE_VIDEO) >= 0);
    }
    QCOMPARE(QDir(out).entryList(QDir::Files).size(), 2);
  }

  void stopGivesCancelledRowsAndReadableOutputs() {
    const QString out = Work.filePath("stop");
    auto window = ConvertingWindow(out);
    window->AddFiles({LongClip("stop-a.avi"), LongClip("stop-b.avi")});
    window->ConvertClick();
    QVERIFY(QTest::qWaitFor([&] { return Cell(*window, 0, fcProgress).endsWith('%'); }, 30000));
    window->StopClick();
    QCOMPARE(Questions.last(), QString("Do you want to stop the conversion?"));
    QVERIFY(!window->Converting());
    QVERIFY(QTest::qWaitFor([&] { return window->FFEncoder.TaskCount() == 0; }, 10000));
    for (int row : {0, 1}) QCOMPARE(Cell(*window, row, fcProgress), QString("Cancelled"));
    for (const QString& file : QDir(out).entryList(QDir::Files)) {
      QVERIFY(QFileInfo(out + "/" + file).size() > 0);
      QVERIFY(test::ProbeMedia((out + "/" + file).toStdString()).Opened);
    }
    // A "No" leaves the conversion alone.
    window->ConvertClick();
    Answer = false;
    window->StopClick();
    QVERIFY(window->Converting());
    QVERIFY(WaitForReady(*window));
    QCOMPARE(Cell(*window, 0, fcProgress), QString("Completed"));
  }

  void pauseHoldsTheRowsAndResumeFinishes() {
    auto window = ConvertingWindow(Work.filePath("pause"));
    window->AddFiles({LongClip("pause.avi")});
    window->ConvertClick();
    QVERIFY(QTest::qWaitFor([&] { return Cell(*window, 0, fcProgress).endsWith('%'); }, 30000));
    window->PauseClick();
    QTest::qWait(700);  // a report under way may still come in
    const QString held = Cell(*window, 0, fcOutputSize);
    QTest::qWait(1200);
    QCOMPARE(Cell(*window, 0, fcOutputSize), held);
    QVERIFY(window->Button5->isEnabled() && window->Button6->isEnabled() &&
            window->Button7->isEnabled());
    window->ResumeClick();
    QVERIFY(WaitForReady(*window));
    QCOMPARE(Cell(*window, 0, fcProgress), QString("Completed"));
  }

  void settingsAreRememberedAcrossARestart() {
    const QString settings = Work.filePath("remembered.ini");
    {
      auto window = MakeWindow(StoreDir(), settings);
      window->ComboBox1->setCurrentText("MPEG2 FOR NTSC DVD(720*480)");
      window->ProfileBoxChanged();
      window->ComboBox2->setCurrentText("16:9");
      window->AspectBoxChanged();
      TConverterSettings(settings).Write("path", Work.path());
      // Proportions are kept unless the user says otherwise.
      QVERIFY(window->Actions.KeepProportions->isChecked());
      window->Actions.KeepProportions->setChecked(false);
    }
    auto window = MakeWindow(StoreDir(), settings);
    QCOMPARE(window->ComboBox1->currentText(), QString("MPEG2 FOR NTSC DVD(720*480)"));
    QCOMPARE(window->ComboBox2->currentText(), QString("16:9"));
    QCOMPARE(window->AspectValue->text(), QString("16:9"));
    QCOMPARE(window->Edit1->text(), Work.path());
    QCOMPARE(window->VideoCodecValue->text(), QString("mpeg2video"));
    QVERIFY(!window->Actions.KeepProportions->isChecked());

    // A profile that is no longer in the store: the first one, saved as the choice.
    TConverterSettings(settings).Write("type", "A PROFILE THAT WAS REMOVED");
    auto again = MakeWindow(StoreDir(), settings);
    QCOMPARE(again->ComboBox1->currentIndex(), 0);
    QCOMPARE(TConverterSettings(settings).Read("type"), again->ComboBox1->currentText());
    // The VCD profiles offer only 4:3.
    again->ComboBox1->setCurrentText(kVcd);
    again->ProfileBoxChanged();
    QCOMPARE(again->ComboBox2->count(), 1);
    QCOMPARE(again->ComboBox2->currentText(), QString("4:3"));
  }

  void closeSequenceAnswers() {
    auto window = ConvertingWindow(Work.filePath("close"));
    bool closed = false;
    window->OnClosed = [&] { closed = true; };
    window->AddFiles({LongClip("close.avi")});
    window->ConvertClick();
    // No: the window stays and the conversion goes on to its end, shown in the row.
    Answer = false;
    QVERIFY(!window->close());
    QCOMPARE(Questions.last(), QString("Do you want to exit ?"));
    // Yes while converting: refused.
    Answer = true;
    QVERIFY(!window->close());
    QCOMPARE(Messages.last(), QString("Please stop the current conversion!"));
    QVERIFY(WaitForReady(*window));
    QCOMPARE(Cell(*window, 0, fcProgress), QString("Completed"));
    QVERIFY(!closed);
    // Yes when ready: the window closes and the program would end.
    QVERIFY(window->close());
    QVERIFY(closed);
  }

  void badProfileStoresGiveTheErrorDisplay_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("error");
    QTest::newRow("missing") << "missing"
                             << "does not exist";
    QTest::newRow("empty") << "empty"
                           << "is empty";
    QTest::newRow("not SQLite") << "text"
                                << "no SQLite file";
    QTest::newRow("wrong password") << "password"
                                    << "Wrong password";
    QTest::newRow("no rows") << "norows"
                             << "";
    QTest::newRow("five fields") << "short"
                                 << "";
  }
  void badProfileStoresGiveTheErrorDisplay() {
    QFETCH(QString, kind);
    QFETCH(QString, error);
    const QString dir = Work.filePath("store-" + kind);
    QDir().mkpath(dir);
    const QString file = dir + "/data.dat";
    TTableContent table{kProfileTableName,
                        {kProfileNameField, kProfileFormatField},
                        kProfileIndexName,
                        {kProfileNameField},
                        {}};
    if (kind == "empty") QFile(file).open(QIODevice::WriteOnly);
    if (kind == "text") {
      QFile text(file);
      QVERIFY(text.open(QIODevice::WriteOnly));
      text.write("name|formatstring\nVCD|1150|352x288\n");
    }
    if (kind == "password") {
      table.Rows.push_back({kVcd, "1150|352x288|25|4:3|mpeg1video|224|44100|stereo|"});
      WriteTableStore(file.toStdString(), table, "not-the-password", 10);
    }
    if (kind == "short") table.Rows.push_back({"SHORT PROFILE", "512|320x240|25|4:3|mpeg1video"});
    if (kind == "norows" || kind == "short")
      WriteTableStore(file.toStdString(), table, kProfilePassword, 10);

    auto window = MakeWindow(dir);
    if (error.isEmpty()) {
      QVERIFY(Errors.isEmpty());
      QCOMPARE(window->ComboBox1->count(), kind == "short" ? 1 : 0);
    } else {
      QCOMPARE(Errors.size(), 1);
      QVERIFY2(Errors[0].contains(error), qPrintable(Errors[0]));
    }
    // The window still works: files are added, and Convert refuses without a profile.
    window->AddFiles({Fixture("sample.avi")});
    QCOMPARE(window->listview1->topLevelItemCount(), 1);
    window->Edit1->setText(Work.path());
    window->ConvertClick();
    QVERIFY(!window->Converting());
    if (kind == "short") {
      // Its audio values are missing: the error display says which, and nothing starts.
      QCOMPARE(Errors.size(), 1);
      QVERIFY2(Errors[0].contains("audio bit rate"), qPrintable(Errors[0]));
      QCOMPARE(Cell(*window, 0, fcProgress), QString());
    } else {
      QCOMPARE(Messages.size(), 1);
    }
  }

  void badOutputFoldersAndVanishedFiles() {
    auto window = ConvertingWindow(Work.filePath("folders"));
    const QString vanishing = Work.filePath("vanishing.avi");
    QVERIFY(QFile::copy(Fixture("sample.avi"), vanishing));
    window->AddFiles({Fixture("sample.avi"), vanishing});
    // A folder that is missing, or a file: refused before anything changes.
    for (const QString& folder : {Work.filePath("no-such-folder"), vanishing, QString("  ")}) {
      window->Edit1->setText(folder);
      window->ConvertClick();
      QVERIFY(!window->Converting());
      QCOMPARE(Messages.last(), QString("The output path does not exists!"));
    }
    // A file gone since it was added: its row is cancelled, the other converts.
    QVERIFY(QFile::remove(vanishing));
    window->Edit1->setText(Work.filePath("folders"));
    window->ConvertClick();
    QVERIFY(WaitForReady(*window));
    QCOMPARE(Cell(*window, 0, fcProgress), QString("Completed"));
    QCOMPARE(Cell(*window, 1, fcProgress), QString("Cancelled"));
    QVERIFY(window->mmoLog->toPlainText().contains("***File open error: "));
    QCOMPARE(QDir(Work.filePath("folders")).entryList(QDir::Files), QStringList({"sample.mpg"}));
  }

  // Its output is made when its task starts and holds nothing: the row is cancelled, says
  // why, and no empty file is left.
  void aFileThatGivesNothingToWriteSaysWhy() {
    const QString out = Work.filePath("nothing");
    auto window = ConvertingWindow(out);
    window->AddFiles(
        {QString(TOVAMO_HOSTILE_MEDIA) + "/completed_no_output.avi", Fixture("sample.avi")});
    window->ConvertClick();
    QVERIFY(WaitForReady(*window));
    QCOMPARE(Cell(*window, 0, fcProgress), QString("Cancelled"));
    QCOMPARE(Cell(*window, 1, fcProgress), QString("Completed"));
    const QString why = window->listview1->topLevelItem(0)->toolTip(fcProgress);
    QVERIFY2(why.startsWith("Nothing was written"), qPrintable(why));
    QVERIFY(window->mmoLog->toPlainText().contains("completed_no_output.avi: " + why));
    QCOMPARE(QDir(out).entryList(QDir::Files), QStringList({"sample.mpg"}));
  }

  void sameStemsAndAnInputInTheOutputFolder() {
    const QString out = Work.filePath("stems");
    auto window = ConvertingWindow(out);
    const QString part1 = Work.filePath("clip.part1.avi"), part2 = Work.filePath("clip.part2.avi");
    const QString inside = out + "/movie.mpg";  // would be its own output
    QVERIFY(QFile::copy(Fixture("sample.avi"), part1));
    QVERIFY(QFile::copy(Fixture("sample.mp4"), part2));
    QVERIFY(QFile::copy(Fixture("sample.mpg"), inside));
    const QByteArray original = [&] {
      QFile f(inside);
      f.open(QIODevice::ReadOnly);
      return f.readAll();
    }();
    window->AddFiles({part1, part2, inside});
    window->ConvertClick();
    QVERIFY(WaitForReady(*window));
    QCOMPARE(Cell(*window, 0, fcProgress), QString("Completed"));
    QCOMPARE(Cell(*window, 1, fcProgress), QString("Completed"));
    QCOMPARE(Cell(*window, 2, fcProgress), QString("Cancelled"));
    const QString log = window->mmoLog->toPlainText();
    QVERIFY2(log.contains("clip-2.mpg"), qPrintable(log));
    QVERIFY(log.contains("would overwrite an input"));
    QVERIFY(test::ProbeMedia((out + "/clip.mpg").toStdString()).Opened);
    QVERIFY(test::ProbeMedia((out + "/clip-2.mpg").toStdString()).Opened);
    QFile f(inside);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), original);  // the user's file untouched
  }

  void anInputOfUnknownLengthShowsNoFalseFigures() {
    auto window = ConvertingWindow(Work.filePath("unknown"));
    window->AddFiles({Fixture("no_duration.mkv")});
    QCOMPARE(Cell(*window, 0, fcTotalTime), QString("--:--:--"));
    QStringList seen;
    QTimer sample;
    connect(&sample, &QTimer::timeout, [&] { seen << Cell(*window, 0, fcProgress); });
    sample.start(5);
    window->ConvertClick();
    QVERIFY(WaitForReady(*window));
    for (const QString& text : seen)
      QVERIFY2(!text.startsWith('-') || text == "---", qPrintable(text));
    QCOMPARE(Cell(*window, 0, fcProgress), QString("Completed"));
  }

  void aHundredFilesAtOnceKeepTheWindowPainting() {
    auto window = MakeWindow();
    QStringList files;
    for (int i = 0; i < 100; ++i) {
      const QString link = Work.filePath(QString("many-%1.avi").arg(i));
      QFile::link(Fixture("sample.avi"), link);
      files << link;
    }
    QStringList statusSeen;
    QTimer sample;
    connect(&sample, &QTimer::timeout, [&] { statusSeen << window->StatusText->text(); });
    sample.start(20);
    QElapsedTimer clock;
    clock.start();
    window->AddFiles(files);
    qInfo("Adding 100 files took %lld ms", static_cast<long long>(clock.elapsed()));
    QCOMPARE(window->listview1->topLevelItemCount(), 100);
    // The timer ran while they were probed: the window's loop kept going and said how far.
    QVERIFY(std::any_of(statusSeen.begin(), statusSeen.end(),
                        [](const QString& s) { return s.startsWith("Adding "); }));
    QCOMPARE(window->StatusText->text(), QString("Ready"));
  }

  void filesDroppedOrNamedOnTheCommandLineAreAdded() {
    TForm1 window({StoreDir(), Work.filePath("settings.ini"), {Fixture("sample.avi")}});
    window.show();
    QVERIFY(QTest::qWaitFor([&] { return window.listview1->topLevelItemCount() == 1; }, 5000));
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(Fixture("sample.mp4")), QUrl::fromLocalFile(Work.path()),
                  QUrl::fromLocalFile(Fixture("random.avi"))});
    // Onto the list: the window takes the drop.
    QWidget* list = window.listview1->viewport();
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list, &drop);
    // The folder is no file; the random bytes cannot be opened; the clip is added.
    QVERIFY(QTest::qWaitFor([&] { return window.listview1->topLevelItemCount() == 2; }, 5000));
    QCOMPARE(window.listview1->topLevelItem(1)->text(fcInput), Fixture("sample.mp4"));
    QVERIFY(window.mmoLog->toPlainText().contains("***File open error: "));
  }

  void framePreviewWindowFollowsTheFramesUntilClosed() {
    // The engine's worker offers frames; the window is made for the first one.
    std::vector<TFramePreviewWindow*> windows;
    TPreviewer previewer([&](int width, int height) -> std::unique_ptr<TPreviewWindow> {
      auto window = std::make_unique<TFramePreviewWindow>(width, height);
      windows.push_back(window.get());
      return window;
    });
    TBitmap bitmap;
    bitmap.SetBitsPerPixel(24);
    bitmap.SetSize(160, 120);
    for (int y = 0; y < 120; ++y)
      for (int x = 0; x < 160; ++x) bitmap.ScanLine(y)[3 * x + 2] = 200;  // red
    // The window's thread keeps serving while the worker waits for its frame to be shown.
    auto offer = [&](std::int64_t pts) {
      std::atomic<bool> done{false};
      bool shown = false;
      std::thread worker([&] {
        shown = previewer.Preview(bitmap, pts);
        done = true;
      });
      QTest::qWaitFor([&] { return done.load(); }, 5000);
      worker.join();
      return shown;
    };
    QVERIFY(offer(3725000000));
    QCOMPARE(windows.size(), std::size_t(1));
    TFramePreviewWindow& window = *windows[0];
    QCOMPARE(window.windowTitle(), QString("01:02:05.000"));
    QCOMPARE(window.size(), QSize(160, 120));
    QVERIFY(window.windowFlags() & Qt::WindowStaysOnTopHint);
    QCOMPARE(QColor(window.grab().toImage().pixel(80, 60)).red(), 200);
    QVERIFY(offer(3726000000));
    QCOMPARE(window.windowTitle(), QString("01:02:06.000"));
    window.close();
    QVERIFY(!offer(3727000000));  // closed by the user: no further frames
    QCOMPARE(window.windowTitle(), QString("01:02:06.000"));
    QCOMPARE(windows.size(), std::size_t(1));
  }
};

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  TConverterApplication app(argc, argv);
  QApplication::setApplicationName("Tovamo");
  InstallQtMainThreadBridge();
  ConverterWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "ConverterWindow_test.moc"
