// Preview from the converter window, end to end: on a virtual X display of its own, a row of
// the file list is previewed and the installed MPlayer plays the clip inside the player
// window's video panel.
#include <QDir>
#include <QFile>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <cstdio>

#include "ConverterTestPaths.h"
#include "ConverterWindow.h"
#include "ErrorDisplay.h"
#include "PlayerPreview.h"
#include "QtMainThread.h"
#include "Services/FFLoad.h"
#include "support/QtVirtualDisplay.h"
#include "support/TestTime.h"

using namespace tovamo;

class ConverterPreviewTest : public QObject {
  Q_OBJECT

 private slots:
  void previewPlaysTheSelectedRowInThePlayerWindow() {
    QVERIFY(FFLoader().LoadLibs(kEncoderLibraries));
    QTemporaryDir dir;
    // MPlayer from the system, its sound to the null output.
    QFile ini(dir.filePath("Vexa.ini"));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write("[Vexa]\nAudioOut=null\n");
    ini.close();
    player::TMainFormOptions playerOptions;
    playerOptions.ProgramDir = dir.path();
    player::TPlayerWindows players(playerOptions);
    TPlayerPreview preview(players);

    TForm1 window({converter_test::StoreDir(), dir.filePath("settings.ini"), {}});
    window.SetPreviewPlayer(&preview);
    window.show();
    window.AddFiles({converter_test::Fixture("long_5s.mpg")});
    QCOMPARE(window.listview1->topLevelItemCount(), 1);
    window.listview1->setCurrentItem(window.listview1->topLevelItem(0));
    window.PreviewClick();

    player::TMainForm& form = players.Window();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QVERIFY(QTest::qWaitFor(
        [&] {
          return form.Core.PlayerState == player::TPlayerState::Playing &&
                 form.Core.PositionSeconds >= 1;
        },
        20000));
    const int colours = test::DistinctColours(form.screen()->grabWindow(form.InnerPanel->winId()));
    QVERIFY2(colours > 8, qPrintable(QString("only %1 colours in the video panel").arg(colours)));
    form.close();
    QVERIFY(
        QTest::qWaitFor([&] { return !form.Core.IsRunning(); }, tovamo::test::GenerousMs(10000)));
  }
};

int main(int argc, char** argv) {
  test::TVirtualDisplay display;
  QString error;
  if (!display.Start(error)) {
    std::fprintf(stderr, "%s\n", qPrintable(error));
    return 1;
  }
  qputenv("QT_QPA_PLATFORM", "xcb");
  TConverterApplication app(argc, argv);
  InstallQtMainThreadBridge();
  ConverterPreviewTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "ConverterPreview_test.moc"
