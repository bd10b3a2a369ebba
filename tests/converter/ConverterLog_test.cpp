// The converter window's Log tab: the lines of a conversion carry their time and the
// input's name, and the view follows the newest line unless the user scrolled up.
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTabWidget>
#include <QTextBlock>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include "ConverterTestPaths.h"
#include "ConverterWindow.h"
#include "ErrorDisplay.h"
#include "LogView.h"
#include "QtMainThread.h"
#include "Services/FFLoad.h"
#include "Services/FFLog.h"

using namespace tovamo;
using converter_test::Fixture;
using converter_test::StoreDir;

class ConverterLogTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir Work;

  std::unique_ptr<TForm1> MakeWindow() {
    auto window =
        std::make_unique<TForm1>(TForm1::TOptions{StoreDir(), Work.filePath("settings.ini"), {}});
    window->Confirm = [](const QString&) { return true; };
    window->ShowMessage = [](const QString&) {};
    window->show();
    return window;
  }

  // The lines of the Log tab that match `pattern`.
  static QStringList Matching(TForm1& window, const QString& pattern) {
    const QRegularExpression re(pattern);
    QStringList found;
    for (const QString& line : window.mmoLog->toPlainText().split('\n'))
      if (re.match(line).hasMatch()) found << line;
    return found;
  }

  void Convert(TForm1& window, const QString& input) {
    const QString out = Work.filePath("out");
    QDir().mkpath(out);
    window.Edit1->setText(out);
    window.ComboBox1->setCurrentText("MPEG1 FOR PAL VCD(352*288)");
    window.ProfileBoxChanged();
    window.AddFiles({input});
    window.ConvertClick();
    QVERIFY(QTest::qWaitFor([&] { return !window.Converting(); }, 60000));
    QCOMPARE(window.listview1->topLevelItem(0)->text(fcProgress), QString("Completed"));
  }

 private slots:
  void initTestCase() {
    QVERIFY(FFLoader().LoadLibs(kEncoderLibraries));
    SetErrorDisplayHandler([](const QString&) {});
  }

  void linesOfAConversionCarryTheTimeAndTheInputsName() {
    auto window = MakeWindow();
    Convert(*window, Fixture("sample.avi"));
    const QString stamp = R"(^\d\d:\d\d:\d\d\.\d\d\d )";
    QVERIFY2(!Matching(*window, stamp + "sample\\.avi: .").isEmpty(),
             qPrintable(window->mmoLog->toPlainText()));
    QVERIFY(Matching(*window, R"(^#\d+\.\d+: )").isEmpty());  // no thread without debug
    QVERIFY(Matching(*window, stamp + "#").isEmpty());
    if (const QString shot = qEnvironmentVariable("TOVAMO_LOG_SHOT"); !shot.isEmpty()) {
      window->Tabs->setCurrentWidget(window->mmoLog);
      window->grab().save(shot);
    }
  }

  void atDebugLevelTheThreadAndLevelComeToo() {
    auto window = MakeWindow();
    DefaultLogger()->SetLogLevel(llDebug);
    Convert(*window, Fixture("sample.avi"));
    DefaultLogger()->SetLogLevel(llInfo);
    QVERIFY2(!Matching(*window, R"(^\d\d:\d\d:\d\d\.\d\d\d #\d+\.[0-7] sample\.avi: .)").isEmpty(),
             qPrintable(window->mmoLog->toPlainText().left(4000)));
  }

  // Lines added while another tab shows leave the Log tab at the newest line; a user who
  // scrolled up keeps the place; back at the end, the view follows again.
  void theLogFollowsTheEndUnlessScrolledUp() {
    auto window = MakeWindow();
    QScrollBar* bar = window->mmoLog->verticalScrollBar();
    QVERIFY(window->Tabs->currentWidget() != window->mmoLog);
    for (int i = 0; i < 300; ++i) AppendLogLine(window->mmoLog, QString("line %1").arg(i));
    window->Tabs->setCurrentWidget(window->mmoLog);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QTRY_VERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());

    bar->triggerAction(QAbstractSlider::SliderToMinimum);  // the user scrolls up
    for (int i = 0; i < 50; ++i) AppendLogLine(window->mmoLog, QString("more %1").arg(i));
    QCOMPARE(bar->value(), 0);

    bar->triggerAction(QAbstractSlider::SliderToMaximum);
    for (int i = 0; i < 50; ++i) AppendLogLine(window->mmoLog, QString("last %1").arg(i));
    QCOMPARE(bar->value(), bar->maximum());
    QVERIFY(window->mmoLog->cursorForPosition({4, bar->height() - 30})
                .block()
                .text()
                .startsWith("last "));
  }
};

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  TConverterApplication app(argc, argv);
  InstallQtMainThreadBridge();
  ConverterLogTest test;
  return QTest::qExec(&test, argc, argv);
}
#include "ConverterLog_test.moc"
