// The player window's logic with the stand-in player, on Qt's offscreen
// platform: the keyboard map as a table of key and command sent, the enabling of the
// controls in every player state, the size modes' geometry, fullscreen and compact modes,
// the settings files' effect on the command line, the log window's typed commands, the
// launcher, and what happens when the media cannot be played.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest>

#include "Core/PlayerText.h"
#include "Windows/MainForm.h"
#include "Windows/PlayerLauncher.h"
#include "Windows/ScreenPlacement.h"

using namespace tovamo::player;

namespace {

const QString kVideoSize = QStringLiteral("say VO: [x11] 160x120 => 320x240 Planar YV12");
const QString kStarting = QStringLiteral("say Starting playback...");

// Runs the event loop until the condition holds or the time is up.
bool WaitFor(const std::function<bool()>& ACondition, int ATimeoutMs = 15000) {
  QElapsedTimer clock;
  clock.start();
  while (!ACondition()) {
    if (clock.elapsed() > ATimeoutMs) return false;
    QTest::qWait(10);
  }
  return true;
}

QStringList FileNamesOf(const TPlaylist& AList) {
  QStringList names;
  for (int i = 0; i < AList.Count(); ++i) names << AList.Entry(i).FileName;
  return names;
}

}  // namespace

class PlayerWindowTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QTemporaryDir> Dir;
  std::unique_ptr<TMainForm> Form;
  int Marker = 0;

  TMainForm& MakeForm(const QStringList& AArguments = {}) {
    TMainFormOptions options;
    options.ProgramDir = Dir->path();
    options.PlayerProgram = QStringLiteral(TOVAMO_STANDIN_PLAYER);
    options.Arguments = AArguments;
    Form = std::make_unique<TMainForm>(options);
    Form->UpdateTimer.stop();  // no position polling in between the commands under test
    Form->AskOpenFiles = [](bool) { return QStringList(); };
    Form->AskUrl = [](const QString&) { return QString(); };
    return *Form;
  }

  QString Script(const QString& AName, const QStringList& ALines) {
    const QString path = Dir->filePath(AName);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return {};
    file.write(ALines.join('\n').toUtf8() + '\n');
    return path;
  }

  // Plays a stand-in that shows a video and then serves commands.
  bool PlayServing(TMainForm& AForm, const QStringList& AExtra = {}) {
    QStringList lines = AExtra;
    lines << kVideoSize << kStarting << "serve";
    AForm.OpenSingleFile(Script("serve.txt", lines));
    return WaitFor([&] { return AForm.Core.PlayerState == TPlayerState::Playing; });
  }

  QStringList LogLines() { return Form->LogForm->Lines(); }

  // The commands the player got since the last marker, up to a new one.
  QStringList CommandsSinceLastMarker() {
    const QString marker = QStringLiteral("marker %1").arg(++Marker);
    Form->Core.SendPlayerCommand(marker);
    if (!WaitFor([&] { return LogLines().contains("GOT " + marker); })) return {"<no marker>"};
    const QStringList lines = LogLines();
    const qsizetype end = lines.indexOf("GOT " + marker);
    qsizetype begin = 0;
    for (qsizetype i = end - 1; i >= 0; --i)
      if (lines[i].startsWith("GOT marker")) {
        begin = i + 1;
        break;
      }
    QStringList got;
    for (qsizetype i = begin; i < end; ++i) {
      if (lines[i].startsWith("GOT ")) got << lines[i].mid(4);
      if (lines[i].startsWith("(last message repeated")) got << lines[i];
    }
    return got;
  }

  void StopAndWait() {
    if (!Form) return;
    if (Form->Core.IsRunning()) {
      Form->StopClick();
      QVERIFY(WaitFor([&] { return !Form->Core.IsRunning(); }));
    }
  }

 private slots:
  void init() {
    Dir = std::make_unique<QTemporaryDir>();
    QVERIFY(Dir->isValid());
    Marker = 0;
  }

  void cleanup() {
    StopAndWait();
    Form.reset();
    Dir.reset();
  }

  // --- the window as it starts ---
  void StartsAsThePartSays() {
    TMainForm& form = MakeForm();
    QCOMPARE(form.windowTitle(), QString("FLV Player"));
    QVERIFY(form.OnTop());
    QVERIFY(!form.MView->menuAction()->isVisible());
    QVERIFY(!form.MExtra->menuAction()->isVisible());
    QVERIFY(!form.MHelp->menuAction()->isVisible());
    QVERIFY(form.MFile->menuAction()->isVisible());
    QVERIFY(form.MSeek->menuAction()->isVisible());
    QVERIFY(form.ASizeOriginal->isChecked());
    QCOMPARE(form.ControlPanel->height(), 73);
    QCOMPARE(form.PStatus->height(), 25);
    QVERIFY(!form.BPlay->isEnabled());
    QVERIFY(!form.BStop->isEnabled());
    QVERIFY(!form.BPause->isEnabled());
    QVERIFY(form.InnerPanel->isHidden());
    QVERIFY(form.InnerPanel->testAttribute(Qt::WA_NativeWindow));
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.size(), QSize(370, 296));
    QCOMPARE(form.Core.PlayerState, TPlayerState::Idle);  // an empty list plays nothing
    QVERIFY(form.Logo->isVisible());
  }

  void StartSwitches() {
    TMainForm& form = MakeForm({"-FS", "-autoquit", "-compact", "file.avi", "-fs"});
    QVERIFY(form.FullscreenOnStart);
    QVERIFY(form.AutoQuit);
    QVERIFY(form.CompactOnStart);
    QVERIFY(form.Compact);
    TMainForm& other = MakeForm({"file.avi", "-fs"});  // the scan stops at the first other one
    QVERIFY(!other.FullscreenOnStart);
  }

  // --- the keyboard map ---
  void KeyboardMap_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QStringList>("commands");
    const int none = Qt::NoModifier;
    const int kp = Qt::KeypadModifier;
    const QString query = "get_percent_pos";
    QTest::newRow("Right") << int(Qt::Key_Right) << none << QStringList{"seek +10", query};
    QTest::newRow("Shift+Right") << int(Qt::Key_Right) << int(Qt::ShiftModifier)
                                 << QStringList{"seek +10", query};
    QTest::newRow("Left") << int(Qt::Key_Left) << none << QStringList{"seek -10", query};
    QTest::newRow("Up") << int(Qt::Key_Up) << none << QStringList{"seek +60", query};
    QTest::newRow("Down") << int(Qt::Key_Down) << none << QStringList{"seek -60", query};
    QTest::newRow("PageUp") << int(Qt::Key_PageUp) << none << QStringList{"seek +600", query};
    QTest::newRow("PageDown") << int(Qt::Key_PageDown) << none << QStringList{"seek -600", query};
    QTest::newRow("1") << int(Qt::Key_1) << none << QStringList{"contrast -1"};
    QTest::newRow("2") << int(Qt::Key_2) << none << QStringList{"contrast +1"};
    QTest::newRow("3") << int(Qt::Key_3) << none << QStringList{"brightness -1"};
    QTest::newRow("4") << int(Qt::Key_4) << none << QStringList{"brightness +1"};
    QTest::newRow("5") << int(Qt::Key_5) << none << QStringList{"hue -1"};
    QTest::newRow("6") << int(Qt::Key_6) << none << QStringList{"hue +1"};
    QTest::newRow("7") << int(Qt::Key_7) << none << QStringList{"saturation -1"};
    QTest::newRow("8") << int(Qt::Key_8) << none << QStringList{"saturation +1"};
    QTest::newRow("9") << int(Qt::Key_9) << none << QStringList{"volume 97 1"};
    QTest::newRow("0 at 100") << int(Qt::Key_0) << none << QStringList{"volume 100 1"};
    QTest::newRow("keypad *") << int(Qt::Key_Asterisk) << kp << QStringList{"volume 100 1"};
    QTest::newRow("keypad /") << int(Qt::Key_Slash) << kp << QStringList{"volume 97 1"};
    QTest::newRow("keypad +") << int(Qt::Key_Plus) << kp << QStringList{"audio_delay -0.100"};
    QTest::newRow("keypad -") << int(Qt::Key_Minus) << kp << QStringList{"audio_delay 0.100"};
    QTest::newRow("D") << int(Qt::Key_D) << none << QStringList{"frame_drop"};
    QTest::newRow("S") << int(Qt::Key_S) << none << QStringList{"screenshot"};
    QTest::newRow("O") << int(Qt::Key_O) << none << QStringList{"osd 2"};
    QTest::newRow("M") << int(Qt::Key_M) << none << QStringList{"mute"};
    QTest::newRow("Space") << int(Qt::Key_Space) << none << QStringList{"pause"};
    QTest::newRow("P") << int(Qt::Key_P) << none << QStringList{"pause"};
    QTest::newRow("Ctrl+0") << int(Qt::Key_0) << int(Qt::ControlModifier)
                            << QStringList{"speed_set 1.0"};
    QTest::newRow("Ctrl+keypad *")
        << int(Qt::Key_Asterisk) << int(Qt::ControlModifier | Qt::KeypadModifier)
        << QStringList{"speed_mult 1.1"};
    QTest::newRow("Ctrl+keypad /")
        << int(Qt::Key_Slash) << int(Qt::ControlModifier | Qt::KeypadModifier)
        << QStringList{"speed_mult 0.9090909"};
    QTest::newRow("/ without tracks") << int(Qt::Key_Slash) << none << QStringList{};
    QTest::newRow("Escape") << int(Qt::Key_Escape) << none << QStringList{};
    QTest::newRow("Enter while playing") << int(Qt::Key_Return) << none << QStringList{};
    QTest::newRow("keypad 5 is no key") << int(Qt::Key_5) << kp << QStringList{};
    QTest::newRow("Ctrl+Alt+1 is no key")
        << int(Qt::Key_1) << int(Qt::ControlModifier | Qt::AltModifier) << QStringList{};
  }

  void KeyboardMap() {
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QStringList, commands);
    TMainForm& form = MakeForm();
    form.show();
    QVERIFY(PlayServing(form));
    CommandsSinceLastMarker();  // whatever the start sent
    QTest::keyClick(&form, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(CommandsSinceLastMarker(), commands);
  }

  void KeysReachTheWindowFromItsControls() {
    TMainForm& form = MakeForm();
    form.show();
    QVERIFY(PlayServing(form));
    CommandsSinceLastMarker();
    QTest::keyClick(form.BPlaylist, Qt::Key_Space);  // not the button's own click
    QCOMPARE(CommandsSinceLastMarker(), QStringList{"pause"});
    QVERIFY(!form.PlaylistForm->isVisible());
  }

  void MenuEntriesSimulateTheirKeys() {
    TMainForm& form = MakeForm();
    form.show();
    QVERIFY(PlayServing(form));
    CommandsSinceLastMarker();
    for (QAction* a : form.MSeek->actions())
      if (a->text().startsWith("Backward 1min")) a->trigger();
    QCOMPARE(CommandsSinceLastMarker(), QStringList({"seek -60", "get_percent_pos"}));
    QCOMPARE(form.AQuit->data().toInt(), int(Qt::Key_Q));
  }

  void PauseWhilePausedStepsAFrame() {
    TMainForm& form = MakeForm();
    form.show();
    QVERIFY(PlayServing(form));
    CommandsSinceLastMarker();
    form.PauseClick();
    QCOMPARE(form.Core.PlayerState, TPlayerState::Paused);
    QCOMPARE(form.LStatus->text(), QString("PAUSED"));
    form.PauseClick();
    QCOMPARE(form.Core.PlayerState, TPlayerState::Paused);
    QVERIFY(form.BPause->isChecked());
    QCOMPARE(CommandsSinceLastMarker(), QStringList({"pause", "frame_step"}));
    // Space while paused plays on ("pause" again) and clears the pause.
    QTest::keyClick(&form, Qt::Key_Space);
    QCOMPARE(form.Core.PlayerState, TPlayerState::Playing);
    QVERIFY(!form.BPause->isChecked());
  }

  void SlashCyclesAudioTracks() {
    TMainForm& form = MakeForm();
    form.show();
    QVERIFY(PlayServing(form, {"say ID_AUDIO_ID=0", "say ID_AID_0_LANG=eng", "say ID_AUDIO_ID=3"}));
    QCOMPARE(form.MAudio->actions().size(), 2);
    QCOMPARE(form.MAudio->actions()[0]->text(), QString("0 (eng)"));
    QVERIFY(form.MAudio->isEnabled());
    CommandsSinceLastMarker();
    QTest::keyClick(&form, Qt::Key_Slash);
    QCOMPARE(CommandsSinceLastMarker(), QStringList{"switch_audio"});
    QCOMPARE(form.Core.AudioTrack, 3);
    QVERIFY(form.MAudio->actions()[1]->isChecked());
    QTest::keyClick(&form, Qt::Key_Question);  // wraps round
    QCOMPARE(form.Core.AudioTrack, 0);
  }

  void VolumeWithAndWithoutSoftVol() {
    TMainForm& form = MakeForm();
    form.ChangeVolume(+3);
    QCOMPARE(form.Core.Volume, 100);
    form.Core.Settings.SoftVol = true;
    form.ChangeVolume(+3);
    QCOMPARE(form.Core.Volume, 110);
    QVERIFY(!form.VolBoost->isHidden());
    QCOMPARE(form.VolBoost->text(), QString("110%"));
    form.ChangeVolume(-3);
    QCOMPARE(form.Core.Volume, 100);
    QVERIFY(form.VolBoost->isHidden());
    form.Core.Volume = 9990;
    form.ChangeVolume(+30);
    QCOMPARE(form.Core.Volume, 9999);
    form.Core.Volume = 2;
    form.ChangeVolume(-3);
    QCOMPARE(form.Core.Volume, 0);
  }

  void SoftVolSendsATenth() {
    TMainForm& form = MakeForm();
    form.Core.Settings.SoftVol = true;
    form.show();
    QVERIFY(PlayServing(form));
    CommandsSinceLastMarker();
    form.Core.Volume = 240;
    form.ChangeVolume(+3);  // 240 + 10
    QCOMPARE(CommandsSinceLastMarker(), QStringList{"volume 25 1"});
    form.VolBoostClick();
    QCOMPARE(form.Core.Volume, 100);
    QCOMPARE(CommandsSinceLastMarker(), QStringList{"volume 10 1"});
  }

  void SeekSliderAndFrame() {
    TMainForm& form = MakeForm();
    form.show();
    QVERIFY(PlayServing(form));
    CommandsSinceLastMarker();
    TSliderFrame* frame = form.SeekBarFrame;
    const int range = frame->Range();
    // A press on the bar at its middle seeks to 50 %.
    QTest::mousePress(frame, Qt::LeftButton, {}, QPoint(range / 2 + 6, 9));
    QCOMPARE(CommandsSinceLastMarker(), QStringList({"seek 50 1", "get_percent_pos"}));
    // The answer moves the slider.
    form.Core.ProcessOutputLine("ANS_PERCENT_POSITION=100");
    QCOMPARE(frame->Slider->x(), range);
  }

  // --- the controls in each player state ---
  void ControlsWhileOpeningPlayingPausedStoppedFailed() {
    TMainForm& form = MakeForm();
    form.show();
    const QString script = Script("wait.txt", {"until go", kVideoSize, kStarting, "serve"});
    form.Playlist.Add(script);
    form.Playlist.Add(Script("second.txt", {"exit 0"}));
    form.PlayEntry(0);
    // Opening.
    QCOMPARE(form.Core.PlayerState, TPlayerState::Opening);
    QCOMPARE(form.LStatus->text(), QString("OPENING"));
    QVERIFY(form.BPlay->isEnabled() && form.BPlay->isChecked());
    QVERIFY(form.BStop->isEnabled());
    QVERIFY(form.BPause->isEnabled() && !form.BPause->isChecked());
    QVERIFY(form.BStreamInfo->isEnabled());
    QVERIFY(!form.SeekBarFrame->Slider->isHidden());
    QVERIFY(!form.BPrev->isEnabled());
    QVERIFY(form.BNext->isEnabled());
    QVERIFY(form.InnerPanel->isHidden());
    QVERIFY(form.LTime->text().isEmpty());
    // Playing.
    form.Core.SendPlayerCommand("go");
    QVERIFY(WaitFor([&] { return form.Core.PlayerState == TPlayerState::Playing; }));
    QCOMPARE(form.LStatus->text(), QString("PLAYING"));
    QVERIFY(!form.InnerPanel->isHidden());
    QVERIFY(form.Logo->isHidden());
    QCOMPARE(form.LTime->text(), QString("0:00:00 / 0:00:00"));
    form.Core.ProcessOutputLine("A:   3.1 V:   3.1 A-V:  0.000");
    QCOMPARE(form.LTime->text(), QString("0:00:03 / 0:00:00"));
    // Paused.
    form.PauseClick();
    QCOMPARE(form.LStatus->text(), QString("PAUSED"));
    QVERIFY(form.BPause->isChecked());
    QVERIFY(!form.Polling);
    // Stopped: the Stop button marks the entry skipped and does not advance.
    form.StopClick();
    QCOMPARE(form.LStatus->text(), QString("CLOSING"));
    QVERIFY(WaitFor([&] { return !form.Core.IsRunning(); }));
    QTest::qWait(50);
    QCOMPARE(form.Core.PlayerState, TPlayerState::Stopped);
    QCOMPARE(form.LStatus->text(), QString("STOPPED"));
    QCOMPARE(form.Playlist.Entry(0).State, TEntryState::Skipped);
    QCOMPARE(form.Playlist.Entry(1).State, TEntryState::NotPlayed);
    QVERIFY(form.BPlay->isEnabled() && !form.BPlay->isChecked());
    QVERIFY(!form.BStop->isEnabled());
    QVERIFY(!form.BPause->isEnabled());
    QVERIFY(!form.BStreamInfo->isEnabled());
    QVERIFY(form.SeekBarFrame->Slider->isHidden());
    QVERIFY(form.InnerPanel->isHidden());
    QVERIFY(!form.BPrev->isEnabled() && !form.BNext->isEnabled());
    QVERIFY(form.LTime->text().isEmpty());
    // Failed: the status opens the log; previous and next stay usable.
    form.Playlist.Clear();
    form.Playlist.Add(Script("ok.txt", {"exit 0"}));
    form.Playlist.Add(Script("fails.txt", {kVideoSize, "exit 3"}));
    form.Playlist.Add(Script("third.txt", {"exit 0"}));
    form.FailureAdvanceMs = 60000;  // look at the failed state first
    form.PlayEntry(1);
    QVERIFY(WaitFor([&] { return form.Core.PlayerState == TPlayerState::Failed; }));
    QCOMPARE(form.LStatus->text(), QString("ERROR"));
    QCOMPARE(form.LStatus->cursor().shape(), Qt::PointingHandCursor);
    // Without an error line of the player's own, the reason is how it ended.
    QCOMPARE(form.LStatus->toolTip(), QString("MPlayer exited with code 3."));
    QVERIFY(form.LReason->isVisibleTo(&form));
    QCOMPARE(form.LReason->text().trimmed(), QString("MPlayer exited with code 3."));
    QVERIFY(form.BPrev->isEnabled());
    QVERIFY(form.BNext->isEnabled());
    QVERIFY(form.BPlay->isEnabled());
    QVERIFY(!form.BStop->isEnabled());
    QVERIFY(form.LogForm->Lines().contains("MPlayer exited with code 3."));
    QTest::mouseClick(form.LStatus, Qt::LeftButton);
    QVERIFY(form.LogForm->isVisible());
    QVERIFY(form.AdvanceTimer.isActive());
    form.AdvanceTimer.stop();
  }

  // The reason beside "ERROR" and in its tooltip: the player's own error line when it gave
  // one (its remote control notice is none), else how it ended; gone once a media plays.
  void FailureReasonShowsBesideError() {
    TMainForm& form = MakeForm();
    form.FailureAdvanceMs = 60000;
    const struct {
      QStringList Script;
      QString Reason;
    } cases[] = {
        {{"say Failed to open LIRC support. You will not be able to use your remote control.",
          "say File not found: '/v/missing.mpg'", "say Failed to open /v/missing.mpg.",
          "say Exiting... (End of file)", "exit 1"},
         "Failed to open /v/missing.mpg."},
        {{"say Failed to open LIRC support.", "say Exiting... (End of file)", "exit 0"},
         "MPlayer exited before playback started."},
        {{"crash"}, "MPlayer crashed (signal 11)."},
    };
    for (const auto& c : cases) {
      form.OpenSingleFile(Script("fails.txt", c.Script));
      QVERIFY(WaitFor([&] { return form.Core.PlayerState == TPlayerState::Failed; }));
      QCOMPARE(form.LStatus->text(), QString("ERROR"));
      QCOMPARE(form.LStatus->toolTip(), c.Reason);
      QCOMPARE(form.LReason->toolTip(), c.Reason);
      QCOMPARE(form.LReason->text().trimmed(), c.Reason);
      QVERIFY(form.LReason->isVisibleTo(&form));
      form.AdvanceTimer.stop();
    }
    QVERIFY(PlayServing(form));
    QCOMPARE(form.LStatus->text(), QString("PLAYING"));
    QVERIFY(form.LStatus->toolTip().isEmpty());
    QVERIFY(!form.LReason->isVisibleTo(&form));
  }

  void NormalEndAdvancesAndAutoQuitCloses() {
    TMainForm& form = MakeForm({"-autoquit"});
    bool closed = false;
    form.OnClosed = [&] { closed = true; };
    form.Playlist.Add(Script("a.txt", {kVideoSize, kStarting, "sleep 100"}));
    form.Playlist.Add(Script("b.txt", {kVideoSize, kStarting, "sleep 100"}));
    form.show();  // plays the first
    QVERIFY(WaitFor([&] { return closed; }));
    QCOMPARE(form.Playlist.Count(), 0);  // closing empties the list
    QVERIFY(!form.isVisible());
  }

  void UnplayableEntryFailsAndTheNextPlays() {
    TMainForm& form = MakeForm();
    form.show();
    QVERIFY(QFile::copy(QStringLiteral(TOVAMO_STANDIN_PLAYER), Dir->filePath("binary.avi")));
    form.Playlist.Add(Dir->filePath("binary.avi"));  // no script: ends while opening
    form.Playlist.Add(Script("good.txt", {kVideoSize, kStarting, "until quit"}));
    form.PlayEntry(0);
    QVERIFY(WaitFor([&] { return form.Core.PlayerState == TPlayerState::Failed; }));
    QVERIFY(WaitFor([&] { return form.Core.PlayerState == TPlayerState::Playing; }, 5000));
    QCOMPARE(form.Playlist.Entry(0).State, TEntryState::Skipped);
    QCOMPARE(form.Playlist.Current(), 1);
  }

  void ListWhereNothingPlaysIsNotGoneRoundForever() {
    TMainForm& form = MakeForm();
    form.show();
    form.FailureAdvanceMs = 50;
    form.Playlist.Loop = true;
    for (int i = 0; i < 3; ++i)
      form.Playlist.Add(Script(QStringLiteral("bad%1.txt").arg(i), {"exit 1"}));
    int starts = 0;
    QObject::connect(&form.AdvanceTimer, &QTimer::timeout, [&] { ++starts; });
    form.PlayEntry(0);
    QTest::qWait(1500);
    QCOMPARE(starts, 2);  // the two others once each, then it stops
    QVERIFY(!form.AdvanceTimer.isActive());
    QVERIFY(!form.Core.IsRunning());
    QCOMPARE(form.Core.PlayerState, TPlayerState::Failed);
    QVERIFY(form.LogForm->Lines().contains("No entry of the playlist could be played."));
  }

  void MissingPlayerProgramFailsWithoutLooping() {
    TMainFormOptions options;
    options.ProgramDir = Dir->path();
    options.PlayerProgram = Dir->filePath("no-such-player");
    Form = std::make_unique<TMainForm>(options);
    Form->FailureAdvanceMs = 20;
    Form->Playlist.Loop = true;
    Form->Playlist.Add(Dir->filePath("a.avi"));
    Form->Playlist.Add(Dir->filePath("b.avi"));
    Form->show();
    QTest::qWait(500);
    QCOMPARE(Form->Core.PlayerState, TPlayerState::Failed);
    QVERIFY(!Form->AdvanceTimer.isActive());
    QVERIFY(Form->FailuresInARow <= 2);
  }

  // --- settings files and the command line ---
  void SettingsFilesShapeTheCommandLine() {
    QFile a(Dir->filePath("autorun.inf"));
    QVERIFY(a.open(QIODevice::WriteOnly));
    a.write("[Vexa]\nAudioOut=nosound\nReIndex=1\nFullscreen=1\nAspect=4:3\n");
    a.close();
    QFile v(Dir->filePath("Vexa.ini"));
    QVERIFY(v.open(QIODevice::WriteOnly));
    v.write(
        "[Vexa]\nAudioOut=DSOUND\nAudioDev=2\nSoftVol=1\nPostproc=off\nDeinterlace=simple\n"
        "Params=-title \"two words\"\nAutoQuit=1\nLanguage=german\nAudioDev=77\n");
    v.close();
    TMainForm& form = MakeForm();
    QVERIFY(form.FullscreenOnStart);
    QVERIFY(form.AutoQuit);
    QVERIFY(form.SettingsNotes.join('\n').contains("Language=german"));
    QVERIFY(form.SettingsNotes.join('\n').contains("AudioDev=77"));
    QVERIFY(form.LogForm->Lines().join('\n').contains("Language=german"));
    form.OpenSingleFile(Script("args.txt", {"args", "until quit"}));
    QVERIFY(WaitFor([&] { return form.LogForm->Lines().join('\n').contains("CWD="); }));
    QStringList args;
    for (const QString& line : form.LogForm->Lines())
      if (line.startsWith("ARG=")) args << line.mid(4);
    const QString joined = args.join(' ');
    QVERIFY2(joined.contains("-idx -softvol -softvol-max 1000 -ao alsa:device=hw=2 -aspect 4:3 "
                             "-vf-add lavcdeint -title two words --"),
             qPrintable(joined));
    QVERIFY(!joined.contains("-autoq"));
    QVERIFY(args.contains("two words"));
  }

  // --- log window ---
  void TypedCommandsGoToThePlayerAndTheHistory() {
    TMainForm& form = MakeForm();
    form.show();
    QVERIFY(PlayServing(form));
    CommandsSinceLastMarker();
    form.LogForm->show();
    QTest::keyClicks(form.LogForm->Command, "pause");
    QTest::keyClick(form.LogForm->Command, Qt::Key_Return);
    QVERIFY(form.LogForm->Lines().contains("> pause"));
    QCOMPARE(CommandsSinceLastMarker(), QStringList{"pause"});
    QVERIFY(form.LogForm->Command->text().isEmpty());
    QTest::keyClicks(form.LogForm->Command, "osd 3");
    QTest::keyClick(form.LogForm->Command, Qt::Key_Return);
    QTest::keyClick(form.LogForm->Command, Qt::Key_Up);
    QCOMPARE(form.LogForm->Command->text(), QString("osd 3"));
    QTest::keyClick(form.LogForm->Command, Qt::Key_Up);
    QCOMPARE(form.LogForm->Command->text(), QString("pause"));
    QTest::keyClick(form.LogForm->Command, Qt::Key_Up);
    QCOMPARE(form.LogForm->Command->text(), QString("pause"));
    QTest::keyClick(form.LogForm->Command, Qt::Key_Down);
    QCOMPARE(form.LogForm->Command->text(), QString("osd 3"));
    QTest::keyClick(form.LogForm->Command, Qt::Key_Down);
    QVERIFY(form.LogForm->Command->text().isEmpty());
  }

  void StreamInfoWindowShowsMediaInfo() {
    TMainForm& form = MakeForm();
    form.show();
    QVERIFY(PlayServing(
        form, {"say ID_VIDEO_WIDTH=160", "say ID_VIDEO_HEIGHT=120", "say ID_VIDEO_ASPECT=1.3333",
               "say ID_AUDIO_RATE=44100", "say MPEG-PS file format detected."}));
    form.ToggleInfo();
    QVERIFY(form.BStreamInfo->isChecked());
    QVERIFY(form.AStreamInfo->isChecked());
    const QStringList rows = form.InfoForm->Rows();
    QVERIFY2(rows.contains("SIZE\t160 x 120"), qPrintable(rows.join('|')));
    QVERIFY(rows.contains("ASPECT\t4:3"));
    QVERIFY(rows.contains("FILE_FORMAT\tMPEG-PS"));
    QVERIFY(rows.contains("!AUDIO"));
    QVERIFY(form.InfoForm->LabelWidth > 0);
    form.InfoForm->hide();
    QVERIFY(!form.BStreamInfo->isChecked());
  }

  // --- sizes and modes ---
  void SizeModes_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<QSize>("video");
    QTest::addColumn<QSize>("display");  // the outer panel; empty: the window keeps its size
    QTest::addColumn<QRect>("picture");  // the video panel within it
    QTest::newRow("original 320x240")
        << 2 << QSize(320, 240) << QSize(320, 240) << QRect(0, 0, 320, 240);
    QTest::newRow("double 320x240")
        << 3 << QSize(320, 240) << QSize(640, 480) << QRect(0, 0, 640, 480);
    // The window's minimum width holds the half size's panel; the picture is centred.
    QTest::newRow("half 320x240") << 1 << QSize(320, 240) << QSize(296, 120)
                                  << QRect(68, 0, 160, 120);
    QTest::newRow("original 640x360")
        << 2 << QSize(640, 360) << QSize(640, 360) << QRect(0, 0, 640, 360);
    QTest::newRow("half 720x576") << 1 << QSize(720, 576) << QSize(360, 288)
                                  << QRect(0, 0, 360, 288);
    QTest::newRow("any 320x240") << 0 << QSize(320, 240) << QSize() << QRect();
    QTest::newRow("unknown size") << 2 << QSize(0, 0) << QSize() << QRect();
  }

  void SizeModes() {
    QFETCH(int, mode);
    QFETCH(QSize, video);
    QFETCH(QSize, display);
    QFETCH(QRect, picture);
    TMainForm& form = MakeForm();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const QSize before = form.OuterPanel->size();
    form.InnerPanel->show();  // as "Starting playback..." shows it
    form.Core.VideoWidth = video.width();
    form.Core.VideoHeight = video.height();
    form.SetSizeMode(TMainForm::TSizeMode(mode));
    if (display.isEmpty()) {
      QTest::qWait(50);
      QCOMPARE(form.OuterPanel->size(), before);
      if (video.isEmpty()) {
        QCOMPARE(form.InnerPanel->geometry(), QRect(QPoint(0, 0), before));
      } else {
        const int h = before.height();
        const int w = h * video.width() / video.height();
        QCOMPARE(form.InnerPanel->geometry(), QRect((before.width() - w) / 2, 0, w, h));
      }
    } else {
      QTRY_COMPARE(form.OuterPanel->size(), display);
      QTRY_COMPARE(form.InnerPanel->geometry(), picture);
    }
    QCOMPARE(int(form.SizeMode()), mode);  // the program's own resize keeps the choice
  }

  void FourByThreeInWideAreaHasEqualBars() {
    TMainForm& form = MakeForm();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.InnerPanel->show();
    form.Core.VideoWidth = 640;
    form.Core.VideoHeight = 360;
    form.SetSizeMode(TMainForm::TSizeMode::Original);
    QTRY_COMPARE(form.OuterPanel->size(), QSize(640, 360));
    form.Core.VideoWidth = 320;
    form.Core.VideoHeight = 240;
    form.SetSizeMode(TMainForm::TSizeMode::Any);
    QCOMPARE(form.InnerPanel->geometry(), QRect(80, 0, 480, 360));
  }

  void UserResizeChoosesAnySize() {
    TMainForm& form = MakeForm();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.InnerPanel->show();
    form.Core.VideoWidth = 320;
    form.Core.VideoHeight = 240;
    form.ApplyVideoSize();
    QTRY_COMPARE(form.OuterPanel->size(), QSize(320, 240));
    QTest::qWait(20);
    QVERIFY(form.ASizeOriginal->isChecked());
    form.resize(500, 420);  // as the user drags the border
    QTRY_VERIFY(form.ASizeAny->isChecked());
    QTRY_COMPARE(form.size(), QSize(500, 420));
    form.Core.VideoWidth = 640;
    form.Core.VideoHeight = 480;
    form.ApplyVideoSize();  // a new video no longer resizes the window
    QTest::qWait(50);
    QCOMPARE(form.size(), QSize(500, 420));
  }

  void FullscreenAndBack() {
    TMainForm& form = MakeForm();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.move(40, 50);
    QTest::qWait(20);
    const QRect before = form.geometry();
    QTest::keyClick(&form, Qt::Key_F);
    QVERIFY(form.Fullscreen);
    QVERIFY(form.BFullscreen->isChecked());
    const QRect screen = form.screen()->geometry();
    QTRY_COMPARE(form.geometry(), screen);
    QVERIFY(form.MenuBar->isHidden());
    QVERIFY(form.ControlPanel->isHidden());
    QTRY_COMPARE(form.OuterPanel->size(), screen.size());
    QVERIFY(form.LEscape->isVisible());  // no video plays
    QCOMPARE(form.OuterPanel->cursor().shape(), Qt::BlankCursor);
    // Tab shows the controls without the status line, and they stay; again hides them.
    QTest::keyClick(&form, Qt::Key_Tab);
    QVERIFY(form.FullscreenControls);
    QVERIFY(!form.ControlPanel->isHidden());
    QVERIFY(form.PStatus->isHidden());
    QTRY_COMPARE(form.OuterPanel->height(), screen.height() - (73 - 25));
    QTest::keyClick(&form, Qt::Key_Tab);
    QVERIFY(!form.FullscreenControls);
    // A mouse move near the bottom of the picture shows them; they hide again by themselves.
    form.FullscreenControlsHideAt = 0;
    QMouseEvent move(QEvent::MouseMove, QPointF(10, form.OuterPanel->height() - 3),
                     form.OuterPanel->mapToGlobal(QPointF(10, form.OuterPanel->height() - 3)),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(form.OuterPanel, &move);
    QVERIFY(form.FullscreenControls);
    QVERIFY(!form.FullscreenControlsSticky);
    form.FullscreenControlsHideAt = 0;
    form.UpdateTimer.start(10);
    QTRY_VERIFY(!form.FullscreenControls);
    form.UpdateTimer.stop();
    // Always on top toggled in fullscreen applies on leaving.
    QTest::keyClick(&form, Qt::Key_T);
    QVERIFY(form.OnTop());
    // Escape leaves fullscreen: the exact earlier rectangle.
    QTest::keyClick(&form, Qt::Key_Escape);
    QVERIFY(!form.Fullscreen);
    QTRY_COMPARE(form.geometry(), before);
    QVERIFY(!form.OnTop());
    QVERIFY(!form.MenuBar->isHidden());
    QVERIFY(!form.ControlPanel->isHidden());
    QCOMPARE(form.ControlPanel->height(), 73);
    QVERIFY(form.LEscape->isHidden());
  }

  void CompactAndBack() {
    TMainForm& form = MakeForm();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.move(60, 70);
    QTest::qWait(20);
    const QRect before = form.geometry();
    const QRect display(form.OuterPanel->mapTo(&form, QPoint(0, 0)) + before.topLeft(),
                        form.OuterPanel->size());
    QTest::keyClick(&form, Qt::Key_C);
    QVERIFY(form.Compact);
    QVERIFY(form.MenuBar->isHidden());
    QVERIFY(form.ControlPanel->isHidden());
    QTRY_COMPARE(form.geometry(), display);  // the picture stays where it was
    QVERIFY(form.windowFlags() & Qt::FramelessWindowHint);
    // Fullscreen leaves compact mode first; Escape then leaves fullscreen.
    QTest::keyClick(&form, Qt::Key_F);
    QVERIFY(form.Fullscreen);
    QVERIFY(!form.Compact);
    QTest::keyClick(&form, Qt::Key_Escape);
    QVERIFY(!form.Fullscreen);
    QTRY_COMPARE(form.geometry(), before);
    QTest::keyClick(&form, Qt::Key_C);
    QTRY_COMPARE(form.geometry(), display);
    QTest::keyClick(&form, Qt::Key_Escape);
    QVERIFY(!form.Compact);
    QTRY_COMPARE(form.geometry(), before);
    QVERIFY(!(form.windowFlags() & Qt::FramelessWindowHint));
    QTest::keyClick(&form, Qt::Key_Escape);  // nothing to leave
    QVERIFY(!form.Compact && !form.Fullscreen);
  }

  void FsSwitchTakesTheVideoSizeThenFullscreen() {
    TMainForm& form = MakeForm({"-fs"});
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.InnerPanel->show();
    form.Core.VideoWidth = 320;
    form.Core.VideoHeight = 240;
    form.ApplyVideoSize();
    QVERIFY(form.Fullscreen);
    QVERIFY(!form.FullscreenOnStart);
    QCOMPARE(form.SavedGeometry.width(), 320);
    QTest::keyClick(&form, Qt::Key_Escape);
    QTRY_COMPARE(form.OuterPanel->size(), QSize(320, 240));

    TMainForm& any = MakeForm({"-fs"});
    any.show();
    any.SetSizeMode(TMainForm::TSizeMode::Any);
    any.Core.VideoWidth = 320;
    any.Core.VideoHeight = 240;
    any.ApplyVideoSize();
    QVERIFY(!any.Fullscreen);  // with "Any size" the switch does nothing
  }

  void OnTopToggles() {
    TMainForm& form = MakeForm();
    form.show();
    QVERIFY(form.OnTop());
    QTest::keyClick(&form, Qt::Key_T);
    QVERIFY(!form.OnTop());
    QVERIFY(!(form.windowFlags() & Qt::WindowStaysOnTopHint));
    QVERIFY(form.isVisible());  // the flag changes without hiding the window
    QTest::keyClick(&form, Qt::Key_T);
    QVERIFY(form.windowFlags() & Qt::WindowStaysOnTopHint);
  }

  // Where a window goes on screens of a few sizes: the least move that brings it inside,
  // the top-left corner kept within reach when it is larger, cut to the area on request.
  void ScreenPlacementRule_data() {
    QTest::addColumn<QRect>("area");
    QTest::addColumn<QRect>("window");
    QTest::addColumn<QRect>("moved");
    QTest::addColumn<QRect>("fitted");
    const QRect laptop(0, 0, 1366, 768);
    const QRect panelBelow(0, 0, 1366, 740);  // a 28-pixel panel at the bottom
    const QRect panelLeft(64, 24, 1856, 1056);
    QTest::newRow("inside stays") << laptop << QRect(100, 100, 400, 300)
                                  << QRect(100, 100, 400, 300) << QRect(100, 100, 400, 300);
    QTest::newRow("DVD size past the bottom")
        << laptop << QRect(323, 96, 720, 690) << QRect(323, 78, 720, 690)
        << QRect(323, 78, 720, 690);
    QTest::newRow("past the bottom panel") << panelBelow << QRect(323, 96, 720, 690)
                                           << QRect(323, 50, 720, 690) << QRect(323, 50, 720, 690);
    QTest::newRow("past the right edge") << laptop << QRect(1200, 10, 400, 300)
                                         << QRect(966, 10, 400, 300) << QRect(966, 10, 400, 300);
    QTest::newRow("above and left") << panelLeft << QRect(-50, -20, 400, 300)
                                    << QRect(64, 24, 400, 300) << QRect(64, 24, 400, 300);
    QTest::newRow("taller than the screen") << laptop << QRect(100, 200, 720, 900)
                                            << QRect(100, 0, 720, 900) << QRect(100, 0, 720, 768);
    QTest::newRow("larger both ways") << QRect(0, 0, 800, 600) << QRect(-10, 50, 1440, 1200)
                                      << QRect(0, 0, 1440, 1200) << QRect(0, 0, 800, 600);
    QTest::newRow("second screen") << QRect(1366, 0, 1920, 1080) << QRect(3000, 900, 400, 300)
                                   << QRect(2886, 780, 400, 300) << QRect(2886, 780, 400, 300);
    QTest::newRow("no area known")
        << QRect() << QRect(-5, -5, 10, 10) << QRect(-5, -5, 10, 10) << QRect(-5, -5, 10, 10);
  }

  void ScreenPlacementRule() {
    QFETCH(QRect, area);
    QFETCH(QRect, window);
    QFETCH(QRect, moved);
    QFETCH(QRect, fitted);
    QCOMPARE(MovedInside(window, area), moved);
    QCOMPARE(FittedInside(window, area), fitted);
  }

  // Dragging the picture, as steps from the press point: "p" left press, "m X,Y" a move
  // with the button held, "f X,Y" a move without it, "r" the release. A move starts only
  // past the drag distance with the button held; with a window manager it takes the move
  // over, without one the window follows the pointer until the release.
  void WindowDragRule_data() {
    QTest::addColumn<QString>("steps");
    QTest::addColumn<bool>("manager");
    QTest::addColumn<int>("asked");
    QTest::addColumn<QPoint>("moved");
    const int far = QApplication::startDragDistance() + 10;
    const QString farX = QStringLiteral("%1,0").arg(far);
    QTest::newRow("click") << "p r" << true << 0 << QPoint();
    QTest::newRow("click then free moves") << "p r f40,40 f80,0" << true << 0 << QPoint();
    QTest::newRow("within the drag distance") << "p m1,1 m2,0 r" << true << 0 << QPoint();
    QTest::newRow("drag, manager") << "p m" + farX + " r f90,90" << true << 1 << QPoint();
    QTest::newRow("drag, no manager") << "p m" + farX + " m40,25 r" << false << 1 << QPoint(40, 25);
    QTest::newRow("no manager, free moves after the release")
        << "p m" + farX + " r f90,90 m120,0" << false << 1 << QPoint(far, 0);
    QTest::newRow("release lost") << "p m" + farX + " f60,0 m80,0" << false << 1 << QPoint(far, 0);
    QTest::newRow("press, free move, held move") << "p f40,0 m80,0" << true << 0 << QPoint();
  }

  void WindowDragRule() {
    QFETCH(QString, steps);
    QFETCH(bool, manager);
    QFETCH(int, asked);
    QFETCH(QPoint, moved);
    TMainForm& form = MakeForm();
    int systemMoves = 0;
    form.StartSystemMove = [&] {
      ++systemMoves;
      return manager;
    };
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.move(100, 100);
    QTRY_COMPARE(form.pos(), QPoint(100, 100));
    QWidget* picture = form.OuterPanel;
    const QPoint local = picture->rect().center();
    const QPoint origin = picture->mapToGlobal(local);
    Qt::MouseButtons held;
    for (const QString& step : steps.split(' ')) {
      const QStringList xy = step.mid(1).split(',');
      const QPoint at = origin + (xy.size() == 2 ? QPoint(xy[0].toInt(), xy[1].toInt()) : QPoint());
      const QChar kind = step[0];
      if (kind == 'p') held = Qt::LeftButton;
      if (kind == 'r' || kind == 'f') held = Qt::NoButton;
      const QEvent::Type type = kind == 'p'   ? QEvent::MouseButtonPress
                                : kind == 'r' ? QEvent::MouseButtonRelease
                                              : QEvent::MouseMove;
      const Qt::MouseButton button = kind == 'p' || kind == 'r' ? Qt::LeftButton : Qt::NoButton;
      QMouseEvent event(type, local, at, button, held, Qt::NoModifier);
      QApplication::sendEvent(picture, &event);
    }
    QCOMPARE(systemMoves, asked);
    QCoreApplication::processEvents();  // the platform's geometry changes
    QCOMPARE(form.pos(), QPoint(100, 100) + moved);
  }

  // A video larger than the room below the window, and the playlist docked under it: both
  // end up on the screen.
  void LargeVideoAndDockedPlaylistStayOnScreen() {
    TMainForm& form = MakeForm();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const QRect area = form.ScreenArea();
    form.move(area.right() - 200, area.bottom() - 100);
    form.InnerPanel->show();
    form.Core.VideoWidth = 720;
    form.Core.VideoHeight = 576;
    form.SetSizeMode(TMainForm::TSizeMode::Original);
    QTRY_VERIFY2(area.contains(form.frameGeometry()),
                 qPrintable(QStringLiteral("window %1,%2 %3x%4")
                                .arg(form.frameGeometry().x())
                                .arg(form.frameGeometry().y())
                                .arg(form.frameGeometry().width())
                                .arg(form.frameGeometry().height())));
    // Smaller again, then the playlist: the pair moves up to make room below.
    form.Core.VideoWidth = 320;
    form.Core.VideoHeight = 180;
    form.SetSizeMode(TMainForm::TSizeMode::Original);
    form.move(area.left() + 20, area.bottom() - 150);
    form.TogglePlaylist();
    QVERIFY(form.PlaylistForm->Docked);
    QTRY_VERIFY(area.contains(form.frameGeometry()));
    QTRY_VERIFY(area.contains(form.PlaylistForm->frameGeometry()));
    QTRY_COMPARE(form.PlaylistForm->pos(),
                 QPoint(form.frameGeometry().left(), form.frameGeometry().bottom() + 1));
    // Compact and back keep it there too.
    form.SetCompact(true);
    form.SetCompact(false);
    QTRY_VERIFY(area.contains(form.frameGeometry()));
    QTRY_VERIFY(area.contains(form.PlaylistForm->frameGeometry()));
  }

  void SideWindowsDockAndUndock() {
    TMainForm& form = MakeForm();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.resize(form.minimumSize());  // room below it for the playlist on a small screen
    form.move(0, 0);
    QTest::keyClick(&form, Qt::Key_L);
    QVERIFY(form.PlaylistForm->isVisible());
    QVERIFY(form.BPlaylist->isChecked());
    form.ToggleInfo();
    const QRect frame = form.frameGeometry();
    QTRY_COMPARE(form.PlaylistForm->pos(), QPoint(frame.left(), frame.bottom() + 1));
    QTRY_COMPARE(form.InfoForm->pos(), QPoint(frame.right() + 1, frame.top()));
    // The player moves: docked windows follow.
    form.move(form.pos() + QPoint(30, 20));
    QTRY_COMPARE(form.PlaylistForm->pos(),
                 QPoint(form.frameGeometry().left(), form.frameGeometry().bottom() + 1));
    // A move of its own undocks; a double-click docks it again.
    QTest::qWait(600);
    form.PlaylistForm->move(5, 5);
    QTRY_VERIFY(!form.PlaylistForm->Docked);
    form.move(form.pos() + QPoint(10, 10));
    QTest::qWait(20);
    QCOMPARE(form.PlaylistForm->pos(), QPoint(5, 5));
    QTest::mouseDClick(form.PlaylistForm, Qt::LeftButton);
    QVERIFY(form.PlaylistForm->Docked);
    QTRY_COMPARE(form.PlaylistForm->pos(),
                 QPoint(form.frameGeometry().left(), form.frameGeometry().bottom() + 1));
    // "L" in the playlist window hides it.
    QTest::keyClick(form.PlaylistForm->PlaylistBox, Qt::Key_L);
    QVERIFY(!form.PlaylistForm->isVisible());
    QVERIFY(!form.BPlaylist->isChecked());
  }

  void PlaylistWindowButtons() {
    TMainForm& form = MakeForm();
    form.show();
    for (int i = 0; i < 4; ++i) form.Playlist.Add(Dir->filePath(QStringLiteral("c%1.avi").arg(i)));
    form.TogglePlaylist();
    TPlaylistForm& pl = *form.PlaylistForm;
    QCOMPARE(pl.PlaylistBox->model()->rowCount(), 4);
    pl.SelectRow(2);
    pl.BMoveUp->click();
    QCOMPARE(form.Playlist.Entry(1).FileName, Dir->filePath("c2.avi"));
    QVERIFY(pl.PlaylistBox->selectionModel()->isSelected(pl.PlaylistBox->model()->index(1, 0)));
    pl.BMoveDown->click();
    pl.BMoveDown->click();
    QCOMPARE(form.Playlist.Entry(3).FileName, Dir->filePath("c2.avi"));
    pl.BDelete->click();
    QCOMPARE(form.Playlist.Count(), 3);
    QCOMPARE(pl.PlaylistBox->model()->rowCount(), 3);
    pl.CShuffle->setChecked(true);
    pl.CLoop->setChecked(true);
    QVERIFY(form.Playlist.Shuffle && form.Playlist.Loop);
    pl.SaveFileNameForTest = Dir->filePath("saved list.m3u");
    pl.BSave->click();
    QVERIFY(QFile::exists(Dir->filePath("saved list.m3u")));
    // Play plays the selected row.
    form.Playlist.Entry(1).FileName = Script("row.txt", {kVideoSize, kStarting, "until quit"});
    pl.SelectRow(1);
    pl.BPlay->click();
    QVERIFY(WaitFor([&] { return form.Core.PlayerState == TPlayerState::Playing; }));
    QCOMPARE(form.Playlist.Current(), 1);
    // Closing the window stops the player, empties the list and only hides.
    form.close();
    QVERIFY(!form.isVisible());
    QCOMPARE(form.Playlist.Count(), 0);
    QVERIFY(WaitFor([&] { return !form.Core.IsRunning(); }));
    QCOMPARE(form.Core.PlayerState, TPlayerState::Stopped);
  }

  // --- the converter's Preview and the launcher ---
  void PreviewPlaysTheLastEntry() {
    TMainFormOptions options;
    options.ProgramDir = Dir->path();
    options.PlayerProgram = QStringLiteral(TOVAMO_STANDIN_PLAYER);
    TPlayerWindows players(options);
    QVERIFY(!players.HasWindow());
    const QString first = Script("first.txt", {kVideoSize, kStarting, "until quit"});
    const QString second = Script("second.txt", {kVideoSize, kStarting, "until quit"});
    players.PreviewFile(first);
    TMainForm& form = players.Window();
    QVERIFY(form.isVisible());
    QVERIFY(!form.Core.IsRunning());  // 100 ms later
    QVERIFY(WaitFor([&] { return form.Core.PlayerState == TPlayerState::Playing; }));
    QCOMPARE(form.Playlist.Current(), 0);
    players.PreviewFile(second);
    QVERIFY(WaitFor([&] { return form.Playlist.Current() == 1; }));
    QCOMPARE(form.Playlist.Entry(0).State, TEntryState::Skipped);
    QVERIFY(WaitFor([&] { return form.Core.PlayerState == TPlayerState::Playing; }));
    QCOMPARE(form.windowTitle(), QString("second.txt"));
    form.StopClick();
    QVERIFY(WaitFor([&] { return !form.Core.IsRunning(); }));
  }

  void DroppedFilesReplaceTheList() {
    TMainForm& form = MakeForm();
    form.show();
    form.Playlist.Add(Dir->filePath("old.avi"));
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(Script("d1.txt", {kVideoSize, kStarting, "until quit"})),
                  QUrl::fromLocalFile(Dir->filePath("d2.avi"))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&form, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&form, &drop);
    QVERIFY(form.acceptDrops());
    QCOMPARE(FileNamesOf(form.Playlist),
             QStringList({Dir->filePath("d1.txt"), Dir->filePath("d2.avi")}));
    QVERIFY(WaitFor([&] { return form.Core.PlayerState == TPlayerState::Playing; }));
    QCOMPARE(form.Playlist.Current(), 0);
  }
};

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  PlayerWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "PlayerWindow_test.moc"
