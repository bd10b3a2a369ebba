// The player window with the installed MPlayer on a virtual X display that this program
// starts for itself (Xvfb): the converter's Preview plays a generated clip inside the
// window's video panel, fullscreen and back restore the window, and a file MPlayer cannot
// play fails and the next entry plays.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QSet>
#include <QTemporaryDir>
#include <QWindow>
#include <QtTest>

#include <sys/prctl.h>
#include <sys/stat.h>

#include <csignal>
#include <cstdio>

#include "Windows/MediaLength.h"
#include "Windows/PlayerLauncher.h"
#include "support/QtVirtualDisplay.h"

using namespace tovamo::player;

namespace {

const QString kMedia = QStringLiteral(TOVAMO_FIXTURE_DIR);

bool WaitFor(const std::function<bool()>& ACondition, int ATimeoutMs = 20000) {
  QElapsedTimer clock;
  clock.start();
  while (!ACondition()) {
    if (clock.elapsed() > ATimeoutMs) return false;
    QTest::qWait(20);
  }
  return true;
}

// The number of distinct colours in the video panel's X window: a picture has many.
int PanelColours(TMainForm& AForm, const QString& ASaveAs = {}) {
  const QPixmap shot = AForm.screen()->grabWindow(AForm.InnerPanel->winId());
  if (!ASaveAs.isEmpty()) shot.save(ASaveAs);
  return tovamo::test::DistinctColours(shot);
}

}  // namespace

class PlayerWindowMPlayerTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QTemporaryDir> Dir;
  std::unique_ptr<TPlayerWindows> Players;

  TPlayerWindows& MakePlayers() {
    // No "dc" in this folder: MPlayer from PATH; sound to MPlayer's null output.
    QFile ini(Dir->filePath("Vexa.ini"));
    if (ini.open(QIODevice::WriteOnly)) ini.write("[Vexa]\nAudioOut=null\n");
    ini.close();
    TMainFormOptions options;
    options.ProgramDir = Dir->path();
    Players = std::make_unique<TPlayerWindows>(options);
    return *Players;
  }

  QString Log() { return Players->Window().LogForm->Lines().join('\n'); }

 private slots:
  void init() {
    Dir = std::make_unique<QTemporaryDir>();
    QVERIFY(Dir->isValid());
  }

  void cleanup() {
    if (Players && Players->HasWindow()) {
      TMainForm& form = Players->Window();
      form.close();
      QVERIFY(WaitFor([&] { return !form.Core.IsRunning(); }));
    }
    Players.reset();
    Dir.reset();
  }

  void PreviewPlaysInsideTheWindow() {
    TPlayerWindows& players = MakePlayers();
    players.PreviewFile(kMedia + "/long_5s.mpg");
    TMainForm& form = players.Window();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QVERIFY2(WaitFor([&] {
               return form.Core.PlayerState == TPlayerState::Playing &&
                      form.Core.PositionSeconds >= 1;
             }),
             qPrintable(Log()));
    QVERIFY(form.InnerPanel->isVisible());
    QCOMPARE(form.InnerPanel->size(), QSize(160, 120));  // original size of the clip
    QCOMPARE(form.windowTitle(), QString("long_5s.mpg"));
    // A busy machine makes MPlayer drop the pictures it is late with ("-framedrop"): one
    // shown picture while the clip plays is what counts.
    int colours = 0;
    WaitFor([&] { return (colours = PanelColours(form)) > 8; }, 3500);
    PanelColours(form, qEnvironmentVariable("TOVAMO_PLAYER_SHOT"));
    QVERIFY2(colours > 8,
             qPrintable(QStringLiteral("only %1 colours in the video panel").arg(colours)));
    QVERIFY(form.LTime->text().endsWith(" / " + form.Core.DurationText));
    // MPlayer gives an MPEG program stream no length: the media libraries' is shown.
    QCOMPARE(form.Core.DurationText, QString("0:00:05"));
  }

  // An output of the converter's H.264 profile for pocket players (MP4, H.264 and AAC) plays
  // inside the window at its own size.
  void AnMp4OutputPlays() {
    QProcess convert;
    convert.start(QStringLiteral(TOVAMO_CONVERT),
                  {"--profile", "H264 FOR IPOD(320*240)", "--option", "t=3", "-o", Dir->path(),
                   kMedia + "/long_5s.mpg"});
    QVERIFY(convert.waitForFinished(60000));
    if (convert.exitCode() == 1 && convert.readAllStandardError().contains("no H.264 encoder"))
      QSKIP("no H.264 encoder in the media libraries");
    QCOMPARE(convert.exitCode(), 0);
    const QString output = Dir->filePath("long_5s.mp4");
    QVERIFY(QFile::exists(output));

    TPlayerWindows& players = MakePlayers();
    players.PreviewFile(output);
    TMainForm& form = players.Window();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QVERIFY2(WaitFor([&] {
               return form.Core.PlayerState == TPlayerState::Playing &&
                      form.Core.PositionSeconds >= 1;
             }),
             qPrintable(Log()));
    QCOMPARE(form.InnerPanel->size(), QSize(320, 240));
    int colours = 0;
    WaitFor([&] { return (colours = PanelColours(form)) > 8; }, 3500);
    QVERIFY2(colours > 8,
             qPrintable(QStringLiteral("only %1 colours in the video panel").arg(colours)));
    QCOMPARE(form.Core.DurationText, QString("0:00:03"));
  }

  // The libraries' length of a file, and none for what is not a readable media file.
  void MediaLengthFromTheLibraries() {
    const QString programDir = Dir->path() + "/";
    QCOMPARE(MediaLengthSeconds(kMedia + "/long_5s.mpg", programDir), std::int64_t(5));
    QCOMPARE(MediaLengthSeconds(kMedia + "/random.avi", programDir), std::int64_t(-1));
    QCOMPARE(MediaLengthSeconds(kMedia + "/missing.mpg", programDir), std::int64_t(-1));
    QCOMPARE(MediaLengthSeconds(kMedia, programDir), std::int64_t(-1));  // a folder
    const QByteArray fifo = QFile::encodeName(Dir->filePath("pipe.mpg"));
    QCOMPARE(mkfifo(fifo.constData(), 0600), 0);
    QCOMPARE(MediaLengthSeconds(QFile::decodeName(fifo), programDir), std::int64_t(-1));
  }

  // A DVD-size clip opened low on the screen: the window grows to the clip and moves up so
  // that all of it stays on the screen.
  void DvdSizeClipStaysOnScreen() {
    TPlayerWindows& players = MakePlayers();
    TMainForm& form = players.Window();
    const QRect area = form.screen()->availableGeometry();
    form.move(area.left() + 150, area.bottom() - 300);
    players.PreviewFile(kMedia + "/square_576.avi");
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QVERIFY2(WaitFor([&] { return form.Core.PlayerState == TPlayerState::Playing; }),
             qPrintable(Log()));
    QTRY_COMPARE(form.InnerPanel->size(), QSize(720, 576));
    QTRY_VERIFY(area.contains(form.frameGeometry()));
    form.TogglePlaylist();
    QTRY_VERIFY(area.contains(form.PlaylistForm->frameGeometry()));
    QTRY_VERIFY(area.contains(form.frameGeometry()));
  }

  void FullscreenAndBackRestoreTheGeometry() {
    TPlayerWindows& players = MakePlayers();
    players.PreviewFile(kMedia + "/long_5s.mpg");
    TMainForm& form = players.Window();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QVERIFY2(WaitFor([&] { return form.Core.PlayerState == TPlayerState::Playing; }),
             qPrintable(Log()));
    QTest::qWait(200);
    const QRect before = form.geometry();
    QTest::keyClick(&form, Qt::Key_Return, Qt::AltModifier);
    QVERIFY(form.Fullscreen);
    QTRY_COMPARE(form.geometry(), form.screen()->geometry());
    QVERIFY(!form.LEscape->isVisible());  // video plays
    QTRY_COMPARE(form.InnerPanel->height(), form.screen()->geometry().height());
    // Scaled to the screen, not at its own size in the middle: a corner holds picture too.
    // Polled, as above: a busy machine drops pictures.
    int cornerColours = 0;
    WaitFor(
        [&] {
          const QPixmap shot = form.screen()->grabWindow(form.InnerPanel->winId());
          cornerColours = tovamo::test::DistinctColours(shot.copy(0, shot.height() - 60, 80, 60));
          return cornerColours > 8;
        },
        3500);
    QVERIFY2(cornerColours > 8,
             qPrintable(QStringLiteral("a corner of %1 colours").arg(cornerColours)));
    QTest::keyClick(&form, Qt::Key_Escape);
    QVERIFY(!form.Fullscreen);
    QTRY_COMPARE(form.geometry(), before);
    QTRY_COMPARE(form.InnerPanel->size(), QSize(160, 120));
  }

  // After a clip has ended, a click on the picture leaves the window where it is; a drag
  // with the button held moves it (no window manager here: the window follows the pointer)
  // and the release ends the move, so that the pointer moves on alone.
  void DragMovesTheWindowOnlyWhileTheButtonIsHeld() {
    TPlayerWindows& players = MakePlayers();
    players.PreviewFile(kMedia + "/sample.avi");
    TMainForm& form = players.Window();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QVERIFY2(WaitFor([&] { return form.Core.PlayerState == TPlayerState::Playing; }),
             qPrintable(Log()));
    QVERIFY2(WaitFor([&] { return !form.Core.IsRunning(); }), qPrintable(Log()));
    form.move(100, 100);
    QTRY_COMPARE(form.pos(), QPoint(100, 100));
    QWindow* window = form.windowHandle();
    const QPoint start = form.OuterPanel->mapToGlobal(form.OuterPanel->rect().center());
    // Each step names the pointer on the screen; the window may have moved in between.
    auto at = [&](QPoint AOffset) { return window->mapFromGlobal(start + AOffset); };
    QTest::mouseClick(window, Qt::LeftButton, {}, at({}));
    QTest::mouseMove(window, at({60, 40}));
    QCOMPARE(form.pos(), QPoint(100, 100));

    QTest::mousePress(window, Qt::LeftButton, {}, at({}));
    QTest::mouseMove(window, at({30, 0}));
    QTest::mouseMove(window, at({80, 50}));
    QTRY_COMPARE(form.pos(), QPoint(180, 150));
    QTest::mouseRelease(window, Qt::LeftButton, {}, at({80, 50}));
    QTest::mouseMove(window, at({200, 120}));
    QCOMPARE(form.pos(), QPoint(180, 150));
    QTRY_COMPARE(form.frameGeometry().topLeft(), QPoint(180, 150));  // on the X server too
    const QString shot = qEnvironmentVariable("TOVAMO_PLAYER_DRAG_SHOT");
    if (!shot.isEmpty()) form.screen()->grabWindow(0).save(shot);
  }

  void UnplayableFileFailsAndTheNextPlays() {
    TPlayerWindows& players = MakePlayers();
    TMainForm& form = players.Window();
    form.FailureAdvanceMs = 300;
    form.Playlist.Add(kMedia + "/random.avi");
    form.Playlist.Add(kMedia + "/sample.avi");
    form.show();
    QVERIFY2(WaitFor([&] { return form.Core.PlayerState == TPlayerState::Failed; }),
             qPrintable(Log()));
    QCOMPARE(form.LStatus->text(), QString("ERROR"));
    QVERIFY(!form.LStatus->toolTip().isEmpty());
    QVERIFY2(WaitFor([&] {
               return form.Playlist.Current() == 1 &&
                      form.Core.PlayerState == TPlayerState::Playing;
             }),
             qPrintable(Log()));
    QCOMPARE(form.Playlist.Entry(0).State, TEntryState::Skipped);
  }
};

int main(int argc, char** argv) {
  tovamo::test::TVirtualDisplay display;
  QString error;
  bool listing = false;
  for (int i = 1; i < argc; ++i) listing |= QByteArray(argv[i]).startsWith("-functions");
  if (!listing && !display.Start(error)) {
    std::fprintf(stderr, "%s\n", qPrintable(error));
    return 1;
  }
  qputenv("QT_QPA_PLATFORM", "xcb");
  QApplication app(argc, argv);
  PlayerWindowMPlayerTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "PlayerWindowMPlayer_test.moc"
