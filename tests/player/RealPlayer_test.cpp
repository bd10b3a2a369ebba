// The installed MPlayer, for real: it plays generated clips into a real window, given by its
// id, on a virtual X display that this test program starts for itself (Xvfb), so that the
// tests run where there is no display at all.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <sys/prctl.h>

#include <csignal>
#include <cstdio>
#include <set>

#include "Core/PlayerCore.h"
#include "PlayerTestSupport.h"

namespace tovamo::player {
namespace {

using test::ChildProcesses;
using test::TRecordingWindow;
using test::WaitUntil;

const QString kMedia = QStringLiteral(TOVAMO_FIXTURE_DIR);

// A plain X window standing in for the player window's video panel.
class TVideoPanel {
 public:
  TVideoPanel() {
    Display_ = XOpenDisplay(nullptr);
    if (!Display_) return;
    const int screen = DefaultScreen(Display_);
    Window_ = XCreateSimpleWindow(Display_, RootWindow(Display_, screen), 0, 0, 320, 240, 0,
                                  BlackPixel(Display_, screen), BlackPixel(Display_, screen));
    XSelectInput(Display_, Window_, StructureNotifyMask);
    XMapWindow(Display_, Window_);
    for (XEvent event; XNextEvent(Display_, &event) == 0 && event.type != MapNotify;) {
    }
  }
  ~TVideoPanel() {
    if (!Display_) return;
    XDestroyWindow(Display_, Window_);
    XCloseDisplay(Display_);
  }
  TVideoPanel(const TVideoPanel&) = delete;
  TVideoPanel& operator=(const TVideoPanel&) = delete;

  bool IsOpen() const { return Display_ != nullptr; }
  std::uint64_t Id() const { return Window_; }

  // The number of distinct colours in the panel: a picture has many, an empty panel one.
  int Colours() {
    XImage* image = XGetImage(Display_, Window_, 0, 0, 320, 240, AllPlanes, ZPixmap);
    if (!image) return 0;
    std::set<unsigned long> colours;
    for (int y = 0; y < 240; y += 4)
      for (int x = 0; x < 320; x += 4) colours.insert(XGetPixel(image, x, y));
    XDestroyImage(image);
    return int(colours.size());
  }

 private:
  Display* Display_ = nullptr;
  Window Window_ = 0;
};

class RealPlayer : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Dir.isValid());
    ASSERT_TRUE(Panel.IsOpen()) << "no X display";
    Window.Core = &Core;
    Window.PanelId = Panel.Id();
    // The program's start-up finds the OSD font as the product does.
    Core.Startup();
    // No "dc" in this folder: the player is MPlayer from PATH, as on a machine without the
    // link. Sound goes to MPlayer's null output, so that volume works without a device.
    Core.ProgramDir = Dir.path() + '/';
    Core.Settings.AudioOut = 1;
  }

  void TearDown() override {
    if (Core.IsRunning()) {
      ADD_FAILURE() << "MPlayer still runs at the end of the test";
      Core.ShutdownPlayer();
    }
    EXPECT_EQ(ChildProcesses().size(), 1u) << "only the X server may be left";
  }

  bool WaitForLogStart(const QString& APrefix) {
    return WaitUntil([&] {
      for (const QString& line : Window.Log)
        if (line.startsWith(APrefix)) return true;
      return false;
    });
  }

  QTemporaryDir Dir;
  TVideoPanel Panel;
  TRecordingWindow Window;
  TPlayerCore Core{Window};
};

TEST_F(RealPlayer, PlaysIntoTheWindowAndObeysCommands) {
  Core.MediaArgument = TMediaArgument::FromName(kMedia + "/long_5s.mpg");
  Core.StartPlayer();
  ASSERT_TRUE(Core.IsRunning()) << Window.Log.join('\n').toStdString();
  ASSERT_TRUE(WaitUntil([&] { return Core.PlayerState == TPlayerState::Playing; }))
      << Window.Log.join('\n').toStdString();
  EXPECT_EQ(Core.VideoWidth, 160);
  EXPECT_EQ(Core.VideoHeight, 120);
  EXPECT_EQ(Core.MediaInfo.FileFormat, "MPEG-PS");

  // Position lines arrive; the picture is in the panel.
  ASSERT_TRUE(WaitUntil([&] { return Core.PositionSeconds >= 1; }));
  EXPECT_GT(Panel.Colours(), 8);

  // "pause" holds playback.
  Core.SendPlayerCommand("pause");
  Core.SendPlayerCommand("pausing_keep_force get_property pause");
  ASSERT_TRUE(WaitForLogStart("ANS_pause=yes")) << Window.Log.join('\n').toStdString();

  // An absolute seek back to the start: the position falls to 0.
  Core.SendPlayerCommand("seek 0 1");
  ASSERT_TRUE(WaitUntil([&] { return Core.PositionSeconds == 0; }));
  Window.QueryPosition();  // the window's query: "get_percent_pos"
  Core.SendPlayerCommand("get_percent_pos");
  ASSERT_TRUE(WaitUntil([&] { return Window.Count("UpdateSeekBar") > 0; }));
  EXPECT_LT(Core.PositionPercent, 50);

  // "volume" sets MPlayer's volume.
  Core.SetPlayerVolume(30);
  Core.SendPlayerCommand("get_property volume");
  ASSERT_TRUE(WaitForLogStart("ANS_volume=")) << Window.Log.join('\n').toStdString();
  EXPECT_TRUE(Window.Log.filter("ANS_volume=").first().startsWith("ANS_volume=30"));

  // "quit" ends it with exit code 0; a stopped player does not advance.
  Core.StopPlayer();
  ASSERT_TRUE(WaitUntil([&] { return !Core.IsRunning(); }));
  EXPECT_EQ(Core.PlayerExitCode, 0);
  EXPECT_EQ(Core.PlayerState, TPlayerState::Stopped);
  EXPECT_EQ(Window.Count("PlayNext 1 2"), 0);
  EXPECT_TRUE(Window.Log.contains("ID_EXIT=QUIT"));
}

// A file name with spaces, quotes, a leading "-" and non-ASCII letters, given relative to
// the player's working folder, plays to its end and advances the playlist.
TEST_F(RealPlayer, PlaysAFileWithAnAwkwardName) {
  const QString name = "-ao null 'it''s' \"x\" Größe.avi";
  ASSERT_TRUE(QFile::copy(kMedia + "/sample.avi", Dir.filePath(name)));
  Core.MediaArgument = TMediaArgument::FromName(name);
  Core.StartPlayer();
  ASSERT_TRUE(Core.IsRunning());
  ASSERT_TRUE(WaitUntil([&] { return !Core.IsRunning(); }));
  EXPECT_EQ(Core.PlayerState, TPlayerState::Stopped) << Window.Log.join('\n').toStdString();
  EXPECT_EQ(Core.MediaInfo.FileName, name);
  EXPECT_EQ(Core.DurationText, "0:00:02");
  EXPECT_EQ(Core.VideoWidth, 160);
  // Played to its end. MPlayer's status lines (the position) are not a sign of that: on a
  // busy machine it may print none for a clip this short.
  EXPECT_TRUE(Window.Log.contains(QStringLiteral("ID_EXIT=EOF")))
      << Window.Log.join(QLatin1Char('\n')).toStdString();
  EXPECT_EQ(Window.Count("PlayNext 1 2"), 1);
}

// A virtual X display for this process: Xvfb picks a free display number and tells it.
class TVirtualDisplay {
 public:
  bool Start(QString& AError) {
    Server.setProgram(QStringLiteral("Xvfb"));
    Server.setArguments({"-displayfd", "1", "-screen", "0", "640x480x24", "-nolisten", "tcp"});
    Server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    Server.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    Server.start();
    if (!Server.waitForStarted(10000)) {
      AError = "Xvfb did not start: " + Server.errorString();
      return false;
    }
    QByteArray number;
    while (!number.endsWith('\n') && Server.waitForReadyRead(20000)) number += Server.readAll();
    if (!number.endsWith('\n')) {
      AError = "Xvfb did not tell its display";
      return false;
    }
    qputenv("DISPLAY", ":" + number.trimmed());
    return true;
  }
  ~TVirtualDisplay() {
    Server.terminate();
    if (!Server.waitForFinished(5000)) Server.kill();
    Server.waitForFinished(5000);
  }

 private:
  QProcess Server;
};

}  // namespace
}  // namespace tovamo::player

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
  tovamo::player::TVirtualDisplay display;
  QString error;
  if (!display.Start(error)) {
    std::fprintf(stderr, "%s\n", qPrintable(error));
    return 1;
  }
  QCoreApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
