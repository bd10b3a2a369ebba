// The preview player's window "FLV Player": MPlayer draws into its
// video panel by window id; the window owns the controls, the keyboard map, the menus, the
// sizes and the fullscreen and compact modes, and turns what the user does into slave
// commands and player restarts through the player core. It also owns
// the playlist and its window, the stream information and log windows
// and the keyboard help window. The window spans several source files:
//   MainForm.cpp         the slider frame; creation: controls, menus, start-up
//   MainFormPlaying.cpp  the core's callbacks; opening, playing, volume, the menus' state
//   MainFormKeys.cpp     the keyboard map
//   MainFormEvents.cpp   window events, drops, the update timer
//   MainFormSizes.cpp    sizes, fullscreen, compact, on top, side windows' places
// MainFormInternal.h holds the constants these files share.
#pragma once

#include <QAction>
#include <QActionGroup>
#include <QElapsedTimer>
#include <QFrame>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QTimer>
#include <QToolButton>

#include <functional>
#include <memory>

#include "Core/PlayerCore.h"
#include "Core/PlayerWindow.h"
#include "Windows/PlayerConfig.h"
#include "Windows/Playlist.h"
#include "Windows/ScreenSaver.h"
#include "Windows/SideWindows.h"
#include "Windows/WindowDrag.h"

namespace tovamo::player {

// A frame with a slider that the mouse drags (the seek bar and the volume control).
class TSliderFrame : public QFrame {
 public:
  TSliderFrame(QWidget* AParent, int ASliderWidth, bool ABar);

  QFrame* Bar = nullptr;  // the thin bar of the seek slider
  QFrame* Slider;
  int Range() const { return std::max(1, width() - Slider->width()); }
  void SetSliderLeft(int ALeft);

  std::function<void()> OnSliderPress;
  std::function<void(int)> OnSliderMove;     // the new left, within 0..Range()
  std::function<void(int)> OnSliderRelease;  // the final left
  std::function<void(int)> OnFramePress;     // x in the frame

 protected:
  bool eventFilter(QObject* AObject, QEvent* AEvent) override;
  void mousePressEvent(QMouseEvent* AEvent) override;
  void resizeEvent(QResizeEvent* AEvent) override;

 private:
  int OriginX = 0;
  int OriginLeft = 0;
  bool Dragging = false;
};

struct TMainFormOptions {
  QStringList Arguments;  // the program's parameters, without the program name
  QString ProgramDir;     // empty: the program's folder
  QString PlayerProgram;  // empty: "dc" beside the program, else mplayer on PATH
  bool ReadSettings = true;
};

class TMainForm : public QMainWindow, public TPlayerWindow {
 public:
  using TOptions = TMainFormOptions;

  explicit TMainForm(const TOptions& AOptions = TOptions(), QWidget* AParent = nullptr);
  ~TMainForm() override;

  // --- TPlayerWindow (called by the core) ---
  std::uint64_t VideoPanelId() override;
  void ShowPlayingControls() override;
  void ShowStoppedControls(bool ADelayLogo) override;
  void ShowMediaLayout() override;
  void UpdateStatusText() override;
  void ShowStatusLine(const QString& ALine) override;
  void UpdateTimeText() override;
  void UpdateSeekBar() override;
  void UpdateCaption() override;
  void ApplyVideoSize() override;
  void QueryPosition() override;
  void TrackMenuChanged(TTrackKind AMenu) override;
  void PlayNext(int ADirection, TEntryState AExitState) override;
  void RefreshInfo() override;
  void ClearLog() override;
  void AddLogLine(const QString& ALine) override;
  QString LastLogLine() override;
  void ReplaceLastLogLine(const QString& ALine) override;

  // --- Operations ---
  void OpenMedia(const QString& AName);
  void OpenSingleFile(const QString& AName);
  void PlayLastEntry();
  // The converter's Preview: Add, show, PlayLastEntry 100 ms later.
  void Preview(const QString& AFileName, bool AVistaMode = false);
  void PlayEntry(int AIndex);  // the playlist window's Play and double-click
  void ClearPauseState();
  void ChangeVolume(int AStep);
  void SimulateKey(int AKey);
  // The keyboard map; true when the key was one of the map's.
  bool FormKeyDown(int AKey, Qt::KeyboardModifiers AModifiers);
  void CycleAudioTrack();
  void ClosePlayer();  // File > Close (Ctrl+W): the playlist stays

  // Buttons.
  void PlayClick();
  void PauseClick();
  void PauseMenuClick();
  void StopClick();
  void MuteClick(bool AFromButton);
  void VolBoostClick();
  void StatusClick();
  void TogglePlaylist();
  void ToggleInfo();

  // --- Geometry ---
  enum class TSizeMode { Any, Half, Original, Double };
  void FitVideo();
  void SetSizeMode(TSizeMode AMode);
  TSizeMode SizeMode() const;
  void SetFullscreen(bool AOn);
  void SetCompact(bool AOn);
  void ShowFullscreenControls(bool AOn, bool ASticky = false);
  void ToggleOnTop();
  bool OnTop() const { return TopMost; }
  void PlaceSideWindows();
  // Moves the window, with the side windows docked to it, into the screen's available
  // area (shrinking the window where it alone is larger): after a resize of the program's
  // own and after docking.
  void KeepOnScreen();
  QRect ScreenArea() const;

  // --- state (the form's fields, public for the program's other windows and the tests) ---
  TPlayerCore Core{*this};
  TPlaylist Playlist;
  TWindowSettings WindowSettings;
  QStringList SettingsNotes;  // what the settings files ignored
  bool Fullscreen = false;
  bool Compact = false;
  bool FullscreenControls = false;
  bool FullscreenControlsSticky = false;
  qint64 FullscreenControlsHideAt = 0;
  qint64 ShowLogoAt = 0;
  bool Polling = false;
  bool Seeking = false;
  bool IgnoreResize = true;
  bool FullscreenOnStart = false;
  bool CompactOnStart = false;
  bool AutoQuit = false;
  bool VistaMode = false;
  bool TopMost = true;
  // Saved before fullscreen.
  QRect SavedGeometry;
  bool SavedTopMost = true;
  // Unplayable entries in a row: the playlist moves on after a failure, but never round and
  // round a list where nothing plays.
  int FailuresInARow = 0;
  int FailureAdvanceMs = 1500;  // the pause before the next entry after a failure

  // Controls (named as the window's design names them).
  QMenuBar* MenuBar;
  QMenu* MFile;
  QMenu* MView;
  QMenu* MSeek;
  QMenu* MExtra;
  QMenu* MHelp;
  QMenu* MPopup;
  QMenu* MAudio;
  QMenu* MSubtitle;
  QMenu* MOpenDrive;
  QWidget* OuterPanel;
  QLabel* Logo;
  QLabel* LEscape;
  QWidget* InnerPanel;
  QWidget* ControlPanel;
  TSliderFrame* SeekBarFrame;
  QToolButton* BPlay;
  QToolButton* BPause;
  QToolButton* BStop;
  QToolButton* BPrev;
  QToolButton* BNext;
  QToolButton* BStreamInfo;
  QToolButton* BPlaylist;
  QToolButton* BCompact;
  QToolButton* BFullscreen;
  QToolButton* BMute;
  TSliderFrame* VolFrame;
  QLabel* VolBoost;
  QWidget* PStatus;
  QLabel* LStatus;
  QLabel* LReason;  // beside "ERROR": why the media failed, cut to the room there
  QLabel* LTime;
  QTimer UpdateTimer;
  QTimer AdvanceTimer;  // the next entry after a failure
  QTimer PreviewTimer;  // the converter's Preview: PlayLastEntry 100 ms after showing

  // Menu entries the tests and the menus' mirroring use.
  QAction* AOpenFile;
  QAction* AOpenUrl;
  QAction* AClose;
  QAction* AQuit;
  QAction* ASizeAny;
  QAction* ASizeHalf;
  QAction* ASizeOriginal;
  QAction* ASizeDouble;
  QAction* AFullscreen;
  QAction* ACompact;
  QAction* AOnTop;
  QAction* AOsd;
  QAction* APlay;
  QAction* APause;
  QAction* AStop;
  QAction* APrev;
  QAction* ANext;
  QAction* AShowPlaylist;
  QAction* AMute;
  QAction* AStreamInfo;
  QAction* AShowOutput;
  QAction* AKeyboardHelp;
  QActionGroup* AspectGroup;
  QActionGroup* DeinterlaceGroup;
  QActionGroup* SizeGroup;
  QAction* PFullscreen;
  QAction* PFullscreenControls;
  QAction* PCompact;
  QAction* POnTop;
  QMenu* POsd;

  // Side windows.
  TPlaylistForm* PlaylistForm;
  TInfoForm* InfoForm;
  TLogForm* LogForm;
  TKeyboardHelpForm* HelpForm;

  // The Open URL box's text (tests); empty asks with an input box.
  std::function<QString(const QString&)> AskUrl;
  // The open dialog (tests replace it); returns the chosen names.
  std::function<QStringList(bool AMultiple)> AskOpenFiles;
  // Called when the window closes (the launcher ends a preview-only program).
  std::function<void()> OnClosed;
  // Hands a drag of the window to the window manager; false when there is none (tests
  // replace it to see when a move is asked for).
  std::function<bool()> StartSystemMove;

  TScreenSaverInhibitor ScreenSaver;
  void UpdateScreenSaver();

 protected:
  bool eventFilter(QObject* AObject, QEvent* AEvent) override;
  void showEvent(QShowEvent* AEvent) override;
  void hideEvent(QHideEvent* AEvent) override;
  void closeEvent(QCloseEvent* AEvent) override;
  void resizeEvent(QResizeEvent* AEvent) override;
  void moveEvent(QMoveEvent* AEvent) override;
  void wheelEvent(QWheelEvent* AEvent) override;
  void dragEnterEvent(QDragEnterEvent* AEvent) override;
  void dropEvent(QDropEvent* AEvent) override;

 private:
  void CreateControls();
  void CreateMenus();
  void Startup(const TOptions& AOptions);
  QToolButton* MakeButton(const QString& AText, const QString& ATip, bool ACheckable);
  QAction* KeyAction(QMenu* AMenu, const QString& AText, int AKey, const QString& AKeyText);
  void MirrorMenus();
  void MirrorPopup();
  void BuildTrackMenu(TTrackKind AKind);
  void TrackClick(TTrackKind AKind, int AId);
  void OpenFileDialog();
  void OpenUrl();
  void BuildDriveMenu();
  void DropDown(QMenu* AMenu);
  void SendAndClear(const QString& ACommand, bool AQuery = false);
  void UpdateTimerTick();
  void UpdateVolumeControls();
  void LayoutOuterPanel();
  void SetProgramGeometry(const QRect& ARect);
  void SetTopMostFlag(bool AOn);
  void SetFrameless(bool AOn);
  // Sets or clears one window flag on the shown window in place.
  void ChangeWindowFlag(Qt::WindowType AFlag, bool AOn);
  void UpdateNextPrevEnabled();
  void PlaylistChanged();
  // A press, move or release on the picture; true when the drag used it.
  bool DragWindow(QMouseEvent* AEvent);

  bool ModeSwitching = false;
  QSize ExpectedSize;
  QElapsedTimer SinceProgramResize;
  TWindowDrag Drag;
  bool SuppressShowPlay = false;
  bool DropPending = false;
  QElapsedTimer Clock;
};

}  // namespace tovamo::player
