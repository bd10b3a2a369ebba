// The converter window with the real engine on generated clips: adding files, the control
// states, converting, stopping, pausing, the remembered settings, the close sequence, and
// the bad stores, folders and files a user can run into.
#include <QComboBox>
#include <QDropEvent>
#include <QHeaderView>
#include <QMimeData>
#include <QUrl>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScrollBar>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <atomic>
#include <memory>
#include <thread>
#include <sys/wait.h>
#include <unistd.h>

#include "BatchFigures.h"
#include "ConverterTestPaths.h"
#include "ConverterWindow.h"
#include "ErrorDisplay.h"
#include "FileListDelegate.h"
#include "FramePreviewWindow.h"
#include "H264Profile.h"
#include "OpenFilter.h"
#include "WindowPlacement.h"
#include "Services/Bitmap.h"
#include "Profiles.h"
#include "QtMainThread.h"
#include "SampleClip.h"
#include "Services/FFLoad.h"
#include "TableStoreWriter.h"
#include "support/MediaProbe.h"
#include "support/TestTime.h"

using namespace tovamo;

namespace {

using converter_test::Fixture;
using converter_test::StoreDir;

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
  QStringList BatchEnds;  // "completed failed stopped folder" of every batch end told

  std::unique_ptr<TForm1> MakeWindow(const QString& programDir = StoreDir(),
                                     const QString& settings = {}) {
    auto window = std::make_unique<TForm1>(TForm1::TOptions{
        programDir, settings.isEmpty() ? Work.filePath("settings.ini") : settings, {}});
    window->Confirm = [this](const QString& question) {
      Questions << question;
      return Answer;
    };
    window->ShowMessage = [this](const QString& message) { Messages << message; };
    window->OnBatchEnded = [this](int completed, int failed, int stopped, const QString& folder) {
      BatchEnds << QString("%1 %2 %3 %4").arg(completed).arg(failed).arg(stopped).arg(folder);
    };
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
    return QTest::qWaitFor([&] { return !window.Converting(); }, tovamo::test::GenerousMs(ms));
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
    BatchEnds.clear();
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
    // The Progress cell's bar: a percentage or done; other texts draw no bar.
    const std::pair<const char*, int> bars[] = {
        {"0%", 0},   {"37%", 37}, {"100%", 100},    {"Completed", 100}, {"Cancelled", -1},
        {"---", -1}, {"", -1},    {"00:01:05", -1}, {"x%", -1}};
    for (const auto& [text, value] : bars) QVERIFY2(ProgressBarValue(text) == value, text);
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
      bool Add, Remove, Clear, Preview, Convert, Select, Stop, Pause, Resume, Folder, Checkable;
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
      QVERIFY2(window->Button5->isEnabled() == e.Stop && a.Stop->isEnabled() == e.Stop, e.Name);
      QVERIFY2(window->Button6->isEnabled() == e.Pause && a.Pause->isEnabled() == e.Pause, e.Name);
      QVERIFY2(window->Button7->isEnabled() == e.Resume && a.Resume->isEnabled() == e.Resume,
               e.Name);
      for (QWidget* w : std::initializer_list<QWidget*>{window->Edit1, window->ComboBox1,
                                                        window->ComboBox2, window->QualityBox})
        QVERIFY2(w->isEnabled() == e.Folder, e.Name);
      // The list itself always takes the wheel, the scroll bar and selections.
      QVERIFY2(window->listview1->isEnabled(), e.Name);
      for (int i = 0; i < window->listview1->topLevelItemCount(); ++i)
        QVERIFY2(bool(window->listview1->topLevelItem(i)->flags() & Qt::ItemIsUserCheckable) ==
                     e.Checkable,
                 e.Name);
      QCOMPARE(window->StatusText->text(), QString(e.Status));
    };
    check({"empty", true, false, false, false, false, false, false, false, false, true, true,
           "Ready"});
    window->AddFiles({Fixture("sample.avi"), Fixture("sample.mp4")});
    window->listview1->clearSelection();
    check({"rows, none selected", true, false, true, false, true, true, false, false, false, true,
           true, "Ready"});
    window->listview1->setCurrentItem(window->listview1->topLevelItem(0));
    check({"a row selected", true, true, true, true, true, true, false, false, false, true, true,
           "Ready"});
    window->SelectAllClick(false);
    check({"none checked", true, true, true, true, false, true, false, false, false, true, true,
           "Ready"});
    // Ticking a row's box by hand counts like "&Select".
    window->listview1->topLevelItem(1)->setCheckState(fcInput, Qt::Checked);
    check({"one ticked", true, true, true, true, true, true, false, false, false, true, true,
           "Ready"});
    window->ConvertingState();
    check({"converting", false, false, false, false, false, false, true, true, false, false, false,
           "Converting.."});
    window->ReadyState();
    check({"ready again", true, true, true, true, true, true, false, false, false, true, true,
           "Ready"});
  }

  // While a batch runs, 40 rows still scroll and select, but keep their checks and rows;
  // the status bar has the batch's overall bar.
  void theListFollowsABatchButKeepsItsRows() {
    auto window = MakeWindow();
    QStringList files;
    for (int i = 0; i < 40; ++i) {
      files << Work.filePath(QString("row-%1.avi").arg(i, 2, 10, QChar('0')));
      QFile::link(Fixture("sample.avi"), files.back());
    }
    window->AddFiles(files);
    QCOMPARE(window->listview1->topLevelItemCount(), 40);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QTreeWidget* list = window->listview1;
    QWidget* viewport = list->viewport();
    auto boxOf = [&](int row) {
      const QRect rect = list->visualItemRect(list->topLevelItem(row));
      return QPoint(rect.left() + 3 + list->style()->pixelMetric(QStyle::PM_IndicatorWidth) / 2,
                    rect.center().y());
    };
    // Ready: a click on a row's box unticks it (the box is where the test clicks).
    QTest::mouseClick(viewport, Qt::LeftButton, {}, boxOf(0));
    QCOMPARE(list->topLevelItem(0)->checkState(fcInput), Qt::Unchecked);
    window->ConvertingState();
    QVERIFY(window->OverallBar->isVisible());
    QVERIFY(window->BatchSummary->geometry().left() > window->OverallBar->geometry().right());
    // The wheel moves the list to its end.
    QScrollBar* bar = list->verticalScrollBar();
    QCOMPARE(bar->value(), 0);
    for (int turn = 0; turn < 20 && bar->value() < bar->maximum(); ++turn) {
      QWheelEvent wheel(QPointF(20, 20), viewport->mapToGlobal(QPointF(20, 20)), QPoint(),
                        QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
      QApplication::sendEvent(viewport, &wheel);
    }
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());
    // A click selects the last row; its box and the Delete key change nothing.
    QTest::mouseClick(viewport, Qt::LeftButton, {}, boxOf(39));
    QCOMPARE(list->currentItem(), list->topLevelItem(39));
    QVERIFY(list->topLevelItem(39)->isSelected());
    QCOMPARE(list->topLevelItem(39)->checkState(fcInput), Qt::Checked);
    QTest::keyClick(list, Qt::Key_Space);
    QCOMPARE(list->topLevelItem(39)->checkState(fcInput), Qt::Checked);
    QTest::keyClick(list, Qt::Key_Delete);
    window->RemoveClick();
    window->SelectAllClick(false);
    QCOMPARE(list->topLevelItemCount(), 40);
    QCOMPARE(list->topLevelItem(39)->checkState(fcInput), Qt::Checked);
    // Not a task of a batch: nothing to stop or play.
    QVERIFY(!window->Actions.StopRow->isEnabled() && !window->Actions.PlayOutput->isEnabled());
    window->ReadyState();
    QVERIFY(!window->OverallBar->isVisible());
    QTest::mouseClick(viewport, Qt::LeftButton, {}, boxOf(39));
    QCOMPARE(list->topLevelItem(39)->checkState(fcInput), Qt::Unchecked);
  }

  // The pop-up menu's "Stop" ends one row's task while the others go on; a completed row's
  // "Play Output" plays its output, and a double click still previews the input.
  void oneRowStopsAloneAndACompletedRowPlaysItsOutput() {
    struct TPlayer : TPreviewPlayer {
      QStringList Played;
      void PreviewFile(const QString& path) override { Played << path; }
    } player;
    const QString out = Work.filePath("one-row");
    auto window = ConvertingWindow(out);
    window->SetPreviewPlayer(&player);
    window->AddFiles({LongClip("row-stop.avi", 30), LongClip("row-go.avi", 4)});
    QTreeWidget* list = window->listview1;
    window->ConvertClick();
    QVERIFY(QTest::qWaitFor([&] { return Cell(*window, 0, fcProgress).endsWith('%'); },
                            tovamo::test::GenerousMs(30000)));
    // The whole batch's bar follows the rows.
    QVERIFY(QTest::qWaitFor([&] { return window->OverallBar->value() > 0; },
                            tovamo::test::GenerousMs(30000)));
    list->setCurrentItem(list->topLevelItem(0));
    QVERIFY(window->Actions.StopRow->isEnabled());
    QVERIFY(!window->Actions.PlayOutput->isEnabled());
    window->Actions.StopRow->trigger();
    QVERIFY(QTest::qWaitFor([&] { return Cell(*window, 0, fcProgress) == "Cancelled"; },
                            tovamo::test::GenerousMs(30000)));
    QVERIFY(!window->Actions.StopRow->isEnabled());
    QVERIFY(WaitForReady(*window));
    QCOMPARE(Cell(*window, 1, fcProgress), QString("Completed"));
    QCOMPARE(window->BatchSummary->text(), QString("1 completed, 0 failed, 1 stopped"));
    QCOMPARE(Questions, QStringList());
    QVERIFY(player.Played.isEmpty());

    list->setCurrentItem(list->topLevelItem(0));
    QVERIFY(!window->Actions.PlayOutput->isEnabled());
    list->setCurrentItem(list->topLevelItem(1));
    QVERIFY(window->Actions.PlayOutput->isEnabled());
    QVERIFY(!window->Actions.StopRow->isEnabled());
    window->Actions.PlayOutput->trigger();
    QCOMPARE(player.Played, QStringList{out + "/row-go.mpg"});
    QVERIFY(test::ProbeMedia((out + "/row-go.mpg").toStdString()).Opened);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    const QPoint second = list->visualItemRect(list->topLevelItem(1)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, second);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, second);
    QCOMPARE(player.Played.last(), LongClip("row-go.avi", 4));
    // An output gone since: said, not played.
    QVERIFY(QFile::remove(out + "/row-go.mpg"));
    window->Actions.PlayOutput->trigger();
    QCOMPARE(player.Played.size(), 2);
    QVERIFY2(Messages.last().contains("row-go.mpg"), qPrintable(Messages.last()));
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
    QVERIFY(QTest::qWaitFor([&] { return Cell(*window, 0, fcProgress).endsWith('%'); },
                            tovamo::test::GenerousMs(30000)));
    window->StopClick();
    QCOMPARE(Questions.last(), QString("Do you want to stop the conversion?"));
    QVERIFY(!window->Converting());
    QVERIFY(QTest::qWaitFor([&] { return window->FFEncoder.TaskCount() == 0; },
                            tovamo::test::GenerousMs(10000)));
    for (int row : {0, 1}) QCOMPARE(Cell(*window, row, fcProgress), QString("Cancelled"));
    // Stopped rows are no failures: no mark, and the end of the batch counts them apart.
    for (int row : {0, 1}) {
      const QTreeWidgetItem* item = window->listview1->topLevelItem(row);
      QVERIFY2(item->icon(fcProgress).isNull(), qPrintable(item->toolTip(fcProgress)));
    }
    QVERIFY(QTest::qWaitFor([&] { return !BatchEnds.isEmpty(); }, tovamo::test::GenerousMs(10000)));
    QCOMPARE(BatchEnds, QStringList({"0 0 2 " + out}));
    QCOMPARE(window->BatchSummary->text(), QString("0 completed, 0 failed, 2 stopped"));
    // The parts written take their own names; no temporary file is left.
    for (const QString& file : QDir(out).entryList(QDir::Files | QDir::Hidden))
      QVERIFY2(!file.startsWith('.'), qPrintable(file));
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

  // Yes to overwrite, then Stop: the part written so far never replaces the complete
  // earlier file, and the row says so. What a run that ended abruptly left is removed.
  void aStoppedOverwriteKeepsTheEarlierFile() {
    const QString out = Work.filePath("keep");
    auto window = ConvertingWindow(out);
    QFile earlier(out + "/stop-a.mpg");
    QVERIFY(earlier.open(QIODevice::WriteOnly) && earlier.write("earlier") == 7);
    earlier.close();
    const pid_t gone = fork();
    if (gone == 0) _exit(0);
    waitpid(gone, nullptr, 0);
    const QString leftover = out + QString("/.old.mpg.part-%1.mpg").arg(gone);
    QFile left(leftover);
    QVERIFY(left.open(QIODevice::WriteOnly) && left.write("part") == 4);
    left.close();
    window->AddFiles({LongClip("stop-a.avi")});
    window->ConvertClick();
    QVERIFY(QTest::qWaitFor([&] { return Cell(*window, 0, fcProgress).endsWith('%'); },
                            tovamo::test::GenerousMs(30000)));
    window->StopClick();
    QVERIFY(QTest::qWaitFor([&] { return window->FFEncoder.TaskCount() == 0; },
                            tovamo::test::GenerousMs(10000)));
    QCOMPARE(Cell(*window, 0, fcProgress), QString("Cancelled"));
    const QTreeWidgetItem* row = window->listview1->topLevelItem(0);
    QCOMPARE(row->toolTip(fcProgress), QString("Cancelled; the earlier file was kept"));
    QVERIFY(row->icon(fcProgress).isNull());
    QVERIFY(earlier.open(QIODevice::ReadOnly));
    QCOMPARE(earlier.readAll(), QByteArray("earlier"));
    QCOMPARE(QDir(out).entryList(QDir::Files | QDir::Hidden), QStringList({"stop-a.mpg"}));
  }

  void pauseHoldsTheRowsAndResumeFinishes() {
    auto window = ConvertingWindow(Work.filePath("pause"));
    // A row as large left out of the batch: the overall figure is the batch's alone.
    window->AddFiles({LongClip("pause.avi"), LongClip("pause-not.avi")});
    window->listview1->topLevelItem(1)->setCheckState(fcInput, Qt::Unchecked);
    window->ConvertClick();
    auto percent = [&] { return ProgressBarValue(Cell(*window, 0, fcProgress)); };
    QVERIFY(QTest::qWaitFor([&] { return percent() >= 4; }, tovamo::test::GenerousMs(30000)));
    const int reached = percent();
    window->PauseClick();
    const QString figure = window->StatusText->text().section("..", 1).section(' ', 0, 0);
    // (Figures are whole percents, rounded down.)
    QVERIFY2(figure.toInt() >= reached - 1, qPrintable(window->StatusText->text()));
    QTest::qWait(700);  // a report under way may still come in
    const QString held = Cell(*window, 0, fcOutputSize);
    QTest::qWait(1200);
    QCOMPARE(Cell(*window, 0, fcOutputSize), held);
    // The status bar says it is paused, with the figure reached, and not "Converting".
    const QString paused = window->StatusText->text();
    QVERIFY2(paused.startsWith("  Paused..") && paused.endsWith(" % Completed"),
             qPrintable(paused));
    // Paused: Resume applies, Pause does not.
    QVERIFY(window->Button5->isEnabled() && !window->Button6->isEnabled() &&
            window->Button7->isEnabled());
    QVERIFY(!window->Actions.Pause->isEnabled() && window->Actions.Resume->isEnabled());
    window->ResumeClick();
    QVERIFY2(window->StatusText->text().startsWith("  Converting.."),
             qPrintable(window->StatusText->text()));
    QVERIFY(window->Button5->isEnabled() && window->Button6->isEnabled() &&
            !window->Button7->isEnabled());
    QVERIFY(window->Actions.Pause->isEnabled() && !window->Actions.Resume->isEnabled());
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
      // A folder typed into the box is the choice as much as one picked in the dialog.
      window->Edit1->setText(Work.path());
      emit window->Edit1->editingFinished();
      // Proportions are kept unless the user says otherwise.
      QVERIFY(window->Actions.KeepProportions->isChecked());
      window->Actions.KeepProportions->setChecked(false);
      // The quality class starts at Standard.
      QCOMPARE(window->QualityBox->currentText(), QString("Standard"));
      window->QualityBox->setCurrentText("Best");
      emit window->QualityBox->activated(window->QualityBox->currentIndex());
    }
    auto window = MakeWindow(StoreDir(), settings);
    QCOMPARE(window->QualityBox->currentText(), QString("Best"));
    QCOMPARE(TConverterSettings(settings).Read("quality"), QString("best"));
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

  // Without the H.264 encoder its profiles are listed, disabled, with the reason; never
  // chosen for the user; Convert with one refuses with the reason.
  void h264ProfilesAreDisabledWithTheReasonWithoutTheEncoder() {
    const QString settings = Work.filePath("noh264.ini");
    TConverterSettings(settings).Write("type", "H264 FOR PHONES(1280*720)");
    SetH264EncoderCheck(+[] { return false; });
    struct TRestore {
      ~TRestore() { SetH264EncoderCheck(nullptr); }
    } restore;
    auto window = MakeWindow(StoreDir(), settings);
    auto* model = qobject_cast<QStandardItemModel*>(window->ComboBox1->model());
    QVERIFY(model);
    int disabled = 0, phone = -1;
    for (int i = 0; i < window->ComboBox1->count(); ++i) {
      const QStandardItem* item = model->item(i);
      const bool h264 = item->text().startsWith("H264 ");
      QCOMPARE(item->isEnabled(), !h264);
      if (!h264) continue;
      ++disabled;
      QCOMPARE(item->toolTip(), QString(kNoH264EncoderReason));
      if (item->text() == "H264 FOR PHONES(1280*720)") phone = i;
    }
    QCOMPARE(disabled, 4);
    QVERIFY2(!window->ComboBox1->currentText().startsWith("H264 "),
             qPrintable(window->ComboBox1->currentText()));
    QCOMPARE(TConverterSettings(settings).Read("type"), window->ComboBox1->currentText());

    window->AddFiles({Fixture("sample.avi")});
    window->Edit1->setText(Work.filePath("noh264"));
    window->ComboBox1->setCurrentIndex(phone);
    window->ProfileBoxChanged();
    Messages.clear();
    window->ConvertClick();
    QVERIFY2(!Messages.isEmpty() && Messages.last() == kNoH264EncoderReason,
             qPrintable(Messages.join(" | ")));
    QVERIFY(!window->Converting());
    QVERIFY(QDir(Work.filePath("noh264")).entryList(QDir::Files).isEmpty());
  }

  // With the encoder an H.264 profile offers the input's own shape first and converts to
  // an MP4 named after the input.
  void anH264ProfileConvertsToMp4() {
    const QString out = Work.filePath("mp4");
    auto window = ConvertingWindow(out);
    window->ComboBox1->setCurrentText("H264 FOR IPOD(320*240)");
    window->ProfileBoxChanged();
    QCOMPARE(window->ComboBox2->count(), 3);
    QCOMPARE(window->ComboBox2->currentText(), QString("Auto"));
    window->AspectBoxChanged();
    QCOMPARE(window->AspectValue->text(), QString("Auto"));
    window->AddFiles({Fixture("sample_16x9.mp4")});
    window->ConvertClick();
    QVERIFY(WaitForReady(*window));
    QCOMPARE(Cell(*window, 0, fcProgress), QString("Completed"));
    const test::TMediaInfo media = test::ProbeMedia((out + "/sample_16x9.mp4").toStdString());
    QVERIFY(media.Opened);
    const int video = media.StreamOfType(0);
    QVERIFY(video >= 0);
    QCOMPARE(media.Streams[std::size_t(video)].Codec, std::string("h264"));
    QCOMPARE(media.Streams[std::size_t(video)].Width, 320);
    QCOMPARE(media.Streams[std::size_t(video)].Height, 180);
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
    // A folder that is missing, or a file: refused before anything changes, in one dialog.
    // Only a name that is nothing yet is offered as a new folder; here the user says no.
    Answer = false;
    const QString missing = Work.filePath("no-such-folder");
    struct TCase {
      QString Folder, Question, Message;
    };
    for (const TCase& c : {
             TCase{missing,
                   "The output folder " + missing + " does not exist.\n\nDo you want to create it?",
                   ""},
             TCase{vanishing, "", "The output folder " + vanishing + " is a file, not a folder."},
             TCase{"  ", "", "Choose the output folder first."},
         }) {
      Questions.clear();
      Messages.clear();
      window->Edit1->setText(c.Folder);
      window->ConvertClick();
      QVERIFY(!window->Converting());
      QCOMPARE(Questions, c.Question.isEmpty() ? QStringList() : QStringList{c.Question});
      QCOMPARE(Messages, c.Message.isEmpty() ? QStringList() : QStringList{c.Message});
      QVERIFY(!QFileInfo::exists(missing));
    }
    Answer = true;
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
    // The failed row is marked; the completed one is not.
    QVERIFY(!window->listview1->topLevelItem(0)->icon(fcProgress).isNull());
    QVERIFY(window->listview1->topLevelItem(1)->icon(fcProgress).isNull());
    QCOMPARE(window->BatchSummary->text(), QString("1 completed, 1 failed, 0 stopped"));
    QCOMPARE(BatchEnds, QStringList({"1 1 0 " + out}));
    // Each batch is told once at its end: here the completed row alone, over its output.
    window->listview1->topLevelItem(0)->setCheckState(fcInput, Qt::Unchecked);
    window->ConvertClick();
    QVERIFY(WaitForReady(*window));
    QCOMPARE(BatchEnds.size(), 2);
    QCOMPARE(BatchEnds.last(), "1 0 0 " + out);
    // A file whose video cannot be decoded gives its sound alone: the row says so.
    window->listview1->topLevelItem(1)->setCheckState(fcInput, Qt::Unchecked);
    window->AddFiles({QString(TOVAMO_HOSTILE_MEDIA) + "/video_undecodable.avi"});
    window->ConvertClick();
    QVERIFY(WaitForReady(*window));
    QCOMPARE(Cell(*window, 2, fcProgress), QString("Completed without the video"));
    QVERIFY(window->mmoLog->toPlainText().contains("completed without the video"));
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
    window.ShowMessage = [this](const QString& message) { Messages << message; };
    window.show();
    QVERIFY(QTest::qWaitFor([&] { return window.listview1->topLevelItemCount() == 1; },
                            tovamo::test::GenerousMs(5000)));
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
    QVERIFY(QTest::qWaitFor([&] { return window.listview1->topLevelItemCount() == 2; },
                            tovamo::test::GenerousMs(5000)));
    QCOMPARE(window.listview1->topLevelItem(1)->text(fcInput), Fixture("sample.mp4"));
    QVERIFY(window.mmoLog->toPlainText().contains("***File open error: "));
    QCOMPARE(Messages.size(), 1);
    QVERIFY2(Messages[0].contains("random.avi"), qPrintable(Messages[0]));
  }

  // A dropped folder adds the videos in it and its sub-folders, in name order, and says
  // how many other files it held.
  void aDroppedFolderAddsItsVideosInNameOrder() {
    auto window = MakeWindow();
    const QString folder = Work.filePath("dropped");
    QDir().mkpath(folder + "/Extras");
    QDir().mkpath(folder + "/.cache");
    const std::pair<const char*, const char*> files[] = {
        {"clip 10.avi", "sample.avi"}, {"clip 2.AVI", "sample.avi"}, {"Extras/a.mp4", "sample.mp4"},
        {"notes.txt", "sample.avi"},   {"cover.jpg", "sample.avi"},  {".cache/b.avi", "sample.avi"},
        {"broken.mkv", "random.avi"}};
    for (const auto& [name, source] : files)
      QVERIFY(QFile::link(Fixture(source), folder + "/" + name));
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(folder), QUrl::fromLocalFile(Fixture("sample.flv"))});
    QWidget* list = window->listview1->viewport();
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list, &drop);
    QVERIFY(QTest::qWaitFor([&] { return !Messages.isEmpty(); }, tovamo::test::GenerousMs(10000)));
    QStringList rows;
    for (int i = 0; i < window->listview1->topLevelItemCount(); ++i)
      rows << Cell(*window, i, fcInput);
    QCOMPARE(rows, (QStringList{folder + "/clip 2.AVI", folder + "/clip 10.avi",
                                folder + "/Extras/a.mp4", Fixture("sample.flv")}));
    // One message: the video that could not be opened, and the files left out.
    QCOMPARE(Messages.size(), 1);
    QVERIFY2(Messages[0].contains("broken.mkv"), qPrintable(Messages[0]));
    QVERIFY2(Messages[0].contains("2 files of the folder " + folder +
                                  " are not videos and were skipped."),
             qPrintable(Messages[0]));
    // A folder without videos says so.
    Messages.clear();
    QDir().mkpath(Work.filePath("no-videos"));
    window->AddDroppedPaths({Work.filePath("no-videos")});
    QCOMPARE(Messages,
             QStringList{"The folder " + Work.filePath("no-videos") + " holds no videos."});
  }

  // The About box names both kinds of output; the title stays.
  void theAboutBoxNamesMpegAndMp4() {
    auto window = MakeWindow();
    QString text;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return;
      text = box->text();
      box->accept();
    });
    window->AboutClick();
    QVERIFY2(text.contains("MPEG") && text.contains("MP4 file (H.264 and AAC)"), qPrintable(text));
    QCOMPARE(window->windowTitle(), QString("Tovamo For iPod"));
  }

  void windowsAreKeptOnTheScreen() {
    const QRect laptop(0, 0, 1366, 740), large(0, 0, 1600, 960), small(0, 0, 800, 560);
    const QRect right(1600, 30, 1366, 738);  // a second screen beside the first
    QCOMPARE(FirstWindowSize(laptop), QSize(960, 600));
    QCOMPARE(FirstWindowSize(large), QSize(960, 600));
    QCOMPARE(FirstWindowSize(small), QSize(800, 560));
    struct TCase {
      const char* Name;
      QRect Window, Screen, Expected;
    };
    for (const TCase& c : {
             TCase{"inside stays", QRect(100, 50, 960, 600), laptop, QRect(100, 50, 960, 600)},
             TCase{"past the bottom", QRect(100, 400, 960, 600), laptop, QRect(100, 140, 960, 600)},
             TCase{"past the right", QRect(900, 0, 960, 600), laptop, QRect(406, 0, 960, 600)},
             TCase{"above and left", QRect(-50, -20, 640, 480), laptop, QRect(0, 0, 640, 480)},
             TCase{"larger than the screen", QRect(10, 10, 1600, 1000), laptop, laptop},
             TCase{"on a screen now gone", QRect(2000, 900, 960, 600), large,
                   QRect(640, 360, 960, 600)},
             TCase{"on the second screen", QRect(1700, 100, 960, 600), right,
                   QRect(1700, 100, 960, 600)},
             TCase{"below the second screen", QRect(1700, 700, 960, 600), right,
                   QRect(1700, 168, 960, 600)},
         })
      QVERIFY2(FitOnScreen(c.Window, c.Screen) == c.Expected, c.Name);
    // Frame previews: each lower and further right than the last, always on the screen,
    // none at the screen's middle where the converter's buttons are.
    QPoint last(-1, -1);
    for (int n = 0; n < 40; ++n) {
      const QPoint at = CascadedPosition(n, QSize(352, 288), laptop);
      QVERIFY(laptop.contains(QRect(at, QSize(352, 288))));
      if (at.x() > last.x()) QVERIFY(at.y() > last.y());
      last = at;
    }
    QVERIFY(CascadedPosition(0, QSize(352, 288), laptop) !=
            CascadedPosition(1, QSize(352, 288), laptop));
    QVERIFY(laptop.contains(QRect(CascadedPosition(3, QSize(1400, 900), laptop), QSize(1, 1))));
  }

  void selectedRowsAndProgressBarsFollowThePalette() {
    auto window = MakeWindow();
    window->AddFiles({Fixture("sample.avi"), Fixture("sample.mp4")});
    QTreeWidget* list = window->listview1;
    list->topLevelItem(1)->setText(fcProgress, "50%");
    list->setCurrentItem(list->topLevelItem(0));
    QApplication::processEvents();
    const QImage shot = list->viewport()->grab().toImage();
    // An empty cell of the selected row shows the highlight colour, as other lists do.
    const QRect fps = list->visualItemRect(list->topLevelItem(0))
                          .intersected(QRect(list->header()->sectionViewportPosition(fcFPS), 0,
                                             list->header()->sectionSize(fcFPS), 100000));
    const QColor selected = shot.pixelColor(fps.center() * shot.devicePixelRatio());
    const QPalette palette = list->palette();
    QVERIFY2(selected == palette.color(QPalette::Active, QPalette::Highlight) ||
                 selected == palette.color(QPalette::Inactive, QPalette::Highlight),
             qPrintable(selected.name()));
    // A row at 50 %: a bar, filled on its left, empty on its right.
    const QRect cell = list->visualItemRect(list->topLevelItem(1))
                           .intersected(QRect(list->header()->sectionViewportPosition(fcProgress),
                                              0, list->header()->sectionSize(fcProgress), 100000));
    const int y = cell.center().y();
    const QColor filled = shot.pixelColor(cell.left() + cell.width() / 8, y);
    const QColor empty = shot.pixelColor(cell.right() - cell.width() / 8, y);
    QVERIFY2(filled != empty, qPrintable(filled.name() + " " + empty.name()));
  }

  void placeAndColumnsAreRememberedAcrossARestart() {
    const QString settings = Work.filePath("placement.ini");
    QRect available;
    {
      auto window = MakeWindow(StoreDir(), settings);
      available = window->screen()->availableGeometry();
      // The first size shows a path, and never more than the screen.
      QCOMPARE(window->size(), FirstWindowSize(available));
      QVERIFY(available.contains(window->geometry()));
      // The path takes what the figures leave.
      QHeaderView* header = window->listview1->header();
      QVERIFY(header->sectionSize(fcInput) >= 200);
      QVERIFY(header->sectionSize(fcInput) > header->sectionSize(fcFileSize));
      QVERIFY(header->length() <= window->width());
      window->setGeometry(QRect(available.topLeft() + QPoint(20, 30), QSize(700, 450)));
      window->listview1->header()->resizeSection(fcInput, 333);
      window->listview1->header()->resizeSection(fcFPS, 91);
    }
    auto window = MakeWindow(StoreDir(), settings);
    QCOMPARE(window->size(), QSize(700, 450));
    QCOMPARE(window->listview1->header()->sectionSize(fcInput), 333);
    QCOMPARE(window->listview1->header()->sectionSize(fcFPS), 91);
    {
      // Left far off the screen (a screen since unplugged): brought back whole.
      auto away = MakeWindow(StoreDir(), settings);
      away->move(available.topLeft() + QPoint(4000, 3000));
    }
    auto back = MakeWindow(StoreDir(), settings);
    QVERIFY2(available.contains(back->geometry()),
             qPrintable(QString("%1,%2").arg(back->x()).arg(back->y())));
    QCOMPARE(back->size(), QSize(700, 450));
    // A row's whole path is its tooltip; a long one is cut in its middle.
    window->AddFiles({Fixture("sample.avi")});
    QCOMPARE(window->listview1->topLevelItem(0)->toolTip(fcInput), Fixture("sample.avi"));
    QCOMPARE(window->listview1->textElideMode(), Qt::ElideMiddle);
  }

  void theAddDialogOffersEveryContainerTheLibrariesOpen() {
    const std::vector<std::string> fromLibraries = DemuxerExtensions();
    for (const char* extension : {"mkv", "webm", "avi", "nut", "y4m"})
      QVERIFY2(
          std::find(fromLibraries.begin(), fromLibraries.end(), extension) != fromLibraries.end(),
          extension);
    const QString filter = OpenFileFilter(fromLibraries);
    const QString all = filter.section(";;", 0, 0);
    QVERIFY(all.startsWith("All Supported Files ("));
    for (const std::string& extension : fromLibraries)
      QVERIFY2(all.contains(" *." + QString::fromStdString(extension)) ||
                   all.contains("(*." + QString::fromStdString(extension)),
               extension.c_str());
    // The usual containers are there by name even without the libraries, and any file.
    const QString plain = OpenFileFilter({});
    for (const char* pattern : {"*.mkv", "*.webm", "*.m4v", "*.ts", "*.m2ts", "*.mts", "*.ogv",
                                "*.vob", "*.mpeg", "*.rmvb"})
      QVERIFY2(plain.section(";;", 0, 0).contains(pattern), pattern);
    QVERIFY(plain.endsWith(";;All Files (*)"));
    QCOMPARE(plain.count("*.mkv"), 2);  // in the whole list and in its own group
  }

  void addingTellsTheRefusedFilesAndShowsListedOnes() {
    auto window = MakeWindow();
    const QString missing = Work.filePath("missing.avi");
    window->AddFiles({Fixture("sample.avi"), Fixture("random.avi"), Fixture("empty.avi"), missing});
    QCOMPARE(window->listview1->topLevelItemCount(), 1);
    // One message for the whole Add, naming every refused file.
    QCOMPARE(Messages.size(), 1);
    for (const QString& refused : {Fixture("random.avi"), Fixture("empty.avi"), missing})
      QVERIFY2(Messages[0].contains(refused), qPrintable(Messages[0]));
    QVERIFY(!Messages[0].contains(Fixture("sample.avi")));
    // A file already listed, however its path is written: its row is shown, not added again.
    window->AddFiles({Fixture("sample.mp4")});
    window->listview1->setCurrentItem(window->listview1->topLevelItem(1));
    window->AddFiles({QString(TOVAMO_FIXTURE_DIR) + "/./sample.avi"});
    QCOMPARE(window->listview1->topLevelItemCount(), 2);
    QCOMPARE(window->listview1->currentItem(), window->listview1->topLevelItem(0));
    QCOMPARE(Messages.size(), 1);
  }

  void existingOutputsAreAskedAboutOnceAndAFailureKeepsThem() {
    const QString out = Work.filePath("overwrite");
    auto window = ConvertingWindow(out);
    auto write = [](const QString& path, const QByteArray& text) {
      QFile file(path);
      return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
    };
    auto read = [](const QString& path) {
      QFile file(path);
      return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    QVERIFY(write(out + "/sample.mpg", "earlier"));
    QVERIFY(write(out + "/completed_no_output.mpg", "kept"));
    window->AddFiles(
        {Fixture("sample.avi"), QString(TOVAMO_HOSTILE_MEDIA) + "/completed_no_output.avi"});
    // No: nothing starts, nothing changes.
    Answer = false;
    window->ConvertClick();
    QVERIFY(!window->Converting());
    QCOMPARE(Questions.size(), 1);
    for (const char* name : {"sample.mpg", "completed_no_output.mpg"})
      QVERIFY2(Questions[0].contains(name), qPrintable(Questions[0]));
    QCOMPARE(Cell(*window, 0, fcProgress), QString());
    QCOMPARE(read(out + "/sample.mpg"), QByteArray("earlier"));
    // Yes: the completed file replaces its earlier output; the failed one leaves its alone.
    Answer = true;
    window->ConvertClick();
    QVERIFY(WaitForReady(*window));
    QCOMPARE(Questions.size(), 2);
    QCOMPARE(Cell(*window, 0, fcProgress), QString("Completed"));
    QCOMPARE(Cell(*window, 1, fcProgress), QString("Cancelled"));
    QVERIFY(test::ProbeMedia((out + "/sample.mpg").toStdString()).Opened);
    QCOMPARE(read(out + "/completed_no_output.mpg"), QByteArray("kept"));
    QCOMPARE(QDir(out).entryList(QDir::Files | QDir::Hidden, QDir::Name),
             QStringList({"completed_no_output.mpg", "sample.mpg"}));
    // Without outputs in the way, no question.
    QVERIFY(QFile::remove(out + "/sample.mpg"));
    window->listview1->topLevelItem(1)->setCheckState(fcInput, Qt::Unchecked);
    window->ConvertClick();
    QVERIFY(WaitForReady(*window));
    QCOMPARE(Questions.size(), 2);
  }

  void theVideosFolderIsTheFirstOutputFolder() {
    const QByteArray before = qgetenv("XDG_CONFIG_HOME");
    const QString config = Work.filePath("xdg-config"), videos = Work.filePath("My Videos");
    QDir().mkpath(config);
    QFile dirs(config + "/user-dirs.dirs");
    QVERIFY(dirs.open(QIODevice::WriteOnly));
    dirs.write(("XDG_VIDEOS_DIR=\"" + videos + "\"\n").toUtf8());
    dirs.close();
    qputenv("XDG_CONFIG_HOME", config.toUtf8());
    auto window = MakeWindow(StoreDir(), Work.filePath("first-run.ini"));
    qputenv("XDG_CONFIG_HOME", before);
    QCOMPARE(window->Edit1->text(), videos + "/Tovamo");
    QVERIFY(!QFileInfo::exists(videos + "/Tovamo"));  // not before it is needed
    window->ComboBox1->setCurrentText(kVcd);
    window->ProfileBoxChanged();
    window->AddFiles({Fixture("sample.avi")});
    window->ConvertClick();
    QVERIFY(WaitForReady(*window));
    QCOMPARE(Questions, QStringList());
    QCOMPARE(Cell(*window, 0, fcProgress), QString("Completed"));
    QVERIFY(QFileInfo::exists(videos + "/Tovamo/sample.mpg"));
    // A folder chosen by the user that is missing is offered, and made on Yes.
    const QString chosen = Work.filePath("chosen/deeper");
    window->Edit1->setText(chosen);
    Messages.clear();
    window->ConvertClick();
    QCOMPARE(Messages, QStringList());
    QCOMPARE(Questions, QStringList{"The output folder " + chosen +
                                    " does not exist.\n\nDo you want to create it?"});
    QVERIFY(WaitForReady(*window));
    QVERIFY(QFileInfo::exists(chosen + "/sample.mpg"));
    // The folder a batch went to is the next start's; the offered one never was remembered.
    auto next = MakeWindow(StoreDir(), Work.filePath("first-run.ini"));
    QCOMPARE(next->Edit1->text(), chosen);
  }

  void keysRunTheirCommands() {
    auto window = MakeWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    window->AddFiles({Fixture("sample.avi"), Fixture("sample.mp4")});
    QTreeWidget* list = window->listview1;
    // Ctrl+O opens the Add dialog (a modal dialog: only its key is checked here).
    QCOMPARE(window->Actions.Add->shortcut(), QKeySequence(QKeySequence::Open));
    // Delete removes the selected row, as "Remove" does.
    list->setFocus();
    list->setCurrentItem(list->topLevelItem(1));
    QTest::keyClick(list, Qt::Key_Delete);
    QCOMPARE(list->topLevelItemCount(), 1);
    QCOMPARE(list->topLevelItem(0)->text(fcInput), Fixture("sample.avi"));
    // In the output path box Delete edits the text and removes no row.
    window->Edit1->setText(Work.filePath("no-folder-here"));
    window->Edit1->setFocus();
    window->Edit1->setCursorPosition(0);
    list->setCurrentItem(list->topLevelItem(0));
    QTest::keyClick(window->Edit1, Qt::Key_Delete);
    QCOMPARE(list->topLevelItemCount(), 1);
    QCOMPARE(window->Edit1->text(), Work.filePath("no-folder-here").mid(1));
    // Ctrl+Return converts: here the missing folder is refused and not made.
    Answer = false;
    QTest::keyClick(list, Qt::Key_Return, Qt::ControlModifier);
    QVERIFY2(Questions.last().startsWith("The output folder " + window->Edit1->text() + " "),
             qPrintable(Questions.last()));
    QVERIFY(!QFileInfo::exists(window->Edit1->text()));
    // Escape asks to stop while converting, and does nothing when ready.
    Questions.clear();
    QTest::keyClick(window.get(), Qt::Key_Escape);
    QCOMPARE(Questions, QStringList());
    window->ConvertingState();
    QTest::keyClick(window.get(), Qt::Key_Escape);
    QCOMPARE(Questions, QStringList({"Do you want to stop the conversion?"}));
    QVERIFY(window->Converting());
    window->ReadyState();
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
      (void)QTest::qWaitFor([&] { return done.load(); },
                            tovamo::test::GenerousMs(5000));  // joined below either way
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
