// The player window's helpers, the slider frame, and the window's creation: controls,
// menus and the start-up settings and switches.
#include "Windows/MainForm.h"

#include <QApplication>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>

#include "Windows/MainFormInternal.h"
#include "Windows/MediaLength.h"

namespace tovamo::player {

namespace {

constexpr int kSeekFrameHeight = 19;

const char* const kOpenFilter =
    "All Supported Video (*.avi *.mpeg *.mpg *.dat *.asf *.wmv *.mov *.qt *.flv *.mp4 *.3gp);;"
    "iPod Video (*.mp4)";
// The playlist's Add takes M3U playlists too (their entries are added).
const char* const kPlaylistAddFilter =
    "All Supported Video and Playlists (*.avi *.mpeg *.mpg *.dat *.asf *.wmv *.mov *.qt *.flv "
    "*.mp4 *.3gp *.m3u);;M3U Playlist (*.m3u);;iPod Video (*.mp4);;All Files (*)";

QPixmap LogoPixmap() {
  QPixmap pixmap(120, 100);
  pixmap.fill(Qt::black);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(70, 70, 70), 2));
  p.setBrush(QColor(24, 24, 24));
  p.drawRoundedRect(QRectF(6, 6, 108, 88), 10, 10);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(200, 120, 20));
  p.drawPolygon(QPolygonF({QPointF(46, 22), QPointF(78, 42), QPointF(46, 62)}));
  QFont font = p.font();
  font.setBold(true);
  font.setPointSize(9);
  p.setFont(font);
  p.setPen(QColor(220, 220, 220));
  p.drawText(QRect(6, 66, 108, 22), Qt::AlignCenter, QStringLiteral("FLV Player"));
  return pixmap;
}

void SetMouseTrackingTree(QWidget* AWidget) {
  AWidget->setMouseTracking(true);
  for (QWidget* child : AWidget->findChildren<QWidget*>()) child->setMouseTracking(true);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// TSliderFrame

TSliderFrame::TSliderFrame(QWidget* AParent, int ASliderWidth, bool ABar) : QFrame(AParent) {
  Bar = new QFrame(this);
  Bar->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  Bar->setLineWidth(1);
  Bar->setAttribute(Qt::WA_TransparentForMouseEvents);
  Bar->setProperty("thin", ABar);
  Slider = new QFrame(this);
  Slider->setFrameStyle(QFrame::Panel | QFrame::Raised);
  Slider->setLineWidth(2);
  Slider->setAutoFillBackground(true);
  Slider->setBackgroundRole(QPalette::Button);
  Slider->setCursor(Qt::PointingHandCursor);
  Slider->resize(ASliderWidth, 10);
  Slider->installEventFilter(this);
}

void TSliderFrame::SetSliderLeft(int ALeft) {
  Slider->move(std::clamp(ALeft, 0, Range()), 0);
}

void TSliderFrame::resizeEvent(QResizeEvent* AEvent) {
  QFrame::resizeEvent(AEvent);
  if (Bar->property("thin").toBool())
    Bar->setGeometry(0, (height() - 4) / 2, width(), 4);
  else
    Bar->setGeometry(0, 0, width(), height());
  Slider->resize(Slider->width(), height());
}

bool TSliderFrame::eventFilter(QObject* AObject, QEvent* AEvent) {
  if (AObject != Slider) return QFrame::eventFilter(AObject, AEvent);
  if (AEvent->type() == QEvent::MouseButtonPress) {
    auto* mouse = static_cast<QMouseEvent*>(AEvent);
    if (mouse->button() != Qt::LeftButton) return true;
    Dragging = true;
    OriginX = int(mouse->globalPosition().x());
    OriginLeft = Slider->x();
    Slider->setFrameShadow(QFrame::Sunken);
    if (OnSliderPress) OnSliderPress();
    return true;
  }
  if (AEvent->type() == QEvent::MouseMove) {
    auto* mouse = static_cast<QMouseEvent*>(AEvent);
    if (!Dragging || !(mouse->buttons() & Qt::LeftButton)) return false;
    const int left =
        std::clamp(OriginLeft + int(mouse->globalPosition().x()) - OriginX, 0, Range());
    Slider->move(left, 0);
    if (OnSliderMove) OnSliderMove(left);
    return true;
  }
  if (AEvent->type() == QEvent::MouseButtonRelease) {
    auto* mouse = static_cast<QMouseEvent*>(AEvent);
    if (mouse->button() != Qt::LeftButton || !Dragging) return true;
    Dragging = false;
    Slider->setFrameShadow(QFrame::Raised);
    if (OnSliderRelease) OnSliderRelease(Slider->x());
    return true;
  }
  return QFrame::eventFilter(AObject, AEvent);
}

void TSliderFrame::mousePressEvent(QMouseEvent* AEvent) {
  if (AEvent->button() == Qt::LeftButton && OnFramePress) OnFramePress(int(AEvent->position().x()));
}

// ---------------------------------------------------------------------------------------
// Creation

TMainForm::TMainForm(const TOptions& AOptions, QWidget* AParent) : QMainWindow(AParent) {
  Clock.start();
  SinceProgramResize.start();
  setObjectName(QStringLiteral("MainForm"));
  setWindowTitle(QStringLiteral("FLV Player"));
  setWindowFlag(Qt::WindowStaysOnTopHint, true);
  setWindowFlag(Qt::WindowMaximizeButtonHint, false);
  CreateControls();
  CreateMenus();

  PlaylistForm = new TPlaylistForm(*this, Playlist);
  InfoForm = new TInfoForm(this);
  InfoForm->Info = [this]() -> const TMediaInfo& { return Core.MediaInfo; };
  LogForm = new TLogForm(this);
  LogForm->SendCommand = [this](const QString& ACommand) { Core.SendPlayerCommand(ACommand); };
  HelpForm = new TKeyboardHelpForm(this);
  PlaylistForm->OnRedock = [this] { KeepOnScreen(); };
  InfoForm->OnRedock = [this] { KeepOnScreen(); };
  PlaylistForm->OnVisibleChanged = [this](bool AOn) {
    AShowPlaylist->setChecked(AOn);
    BPlaylist->setChecked(AOn);
  };
  InfoForm->OnVisibleChanged = [this](bool AOn) {
    AStreamInfo->setChecked(AOn);
    BStreamInfo->setChecked(AOn);
  };
  Playlist.OnChanged = [this] { PlaylistChanged(); };

  StartSystemMove = [this] { return windowHandle() && windowHandle()->startSystemMove(); };
  AskOpenFiles = [this](bool AMultiple) {
    if (AMultiple)
      return QFileDialog::getOpenFileNames(this, QStringLiteral("Open"), {},
                                           QString::fromLatin1(kPlaylistAddFilter));
    const QString name = QFileDialog::getOpenFileName(this, QStringLiteral("Open"), {},
                                                      QString::fromLatin1(kOpenFilter));
    return name.isEmpty() ? QStringList() : QStringList{name};
  };

  UpdateTimer.setInterval(1000);
  QObject::connect(&UpdateTimer, &QTimer::timeout, this, [this] { UpdateTimerTick(); });
  UpdateTimer.start();
  AdvanceTimer.setSingleShot(true);
  QObject::connect(&AdvanceTimer, &QTimer::timeout, this,
                   [this] { PlayNext(+1, TEntryState::Skipped); });
  PreviewTimer.setSingleShot(true);
  QObject::connect(&PreviewTimer, &QTimer::timeout, this, [this] { PlayLastEntry(); });

  // The client area of the window's design, centred on the screen; the program's own size.
  ExpectedSize = QSize(370, 296);
  resize(ExpectedSize);
  setMinimumSize(296, 119);
  if (QScreen* s = QGuiApplication::primaryScreen())
    move(s->availableGeometry().center() - QPoint(185, 148));

  Startup(AOptions);
  qApp->installEventFilter(this);
}

TMainForm::~TMainForm() {
  qApp->removeEventFilter(this);
  AdvanceTimer.stop();
  PreviewTimer.stop();
  Playlist.OnChanged = nullptr;
  Core.ShutdownPlayer();
  ScreenSaver.SetInhibited(false);
}

QToolButton* TMainForm::MakeButton(const QString& AText, const QString& ATip, bool ACheckable) {
  auto* button = new QToolButton(ControlPanel);
  button->setText(AText);
  button->setToolTip(ATip);
  button->setCheckable(ACheckable);
  button->setFocusPolicy(Qt::NoFocus);
  button->setAutoRaise(false);
  button->setFixedHeight(24);
  return button;
}

void TMainForm::CreateControls() {
  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  setCentralWidget(central);

  OuterPanel = new QWidget(central);
  OuterPanel->setObjectName(QStringLiteral("OuterPanel"));
  OuterPanel->setAutoFillBackground(true);
  QPalette black = OuterPanel->palette();
  black.setColor(QPalette::Window, Qt::black);
  OuterPanel->setPalette(black);
  OuterPanel->setCursor(Qt::PointingHandCursor);
  OuterPanel->installEventFilter(this);
  layout->addWidget(OuterPanel, 1);

  Logo = new QLabel(OuterPanel);
  Logo->setPixmap(LogoPixmap());
  Logo->resize(120, 100);
  LEscape = new QLabel(QStringLiteral("Press Esc to leave fullscreen"), OuterPanel);
  QFont bold = LEscape->font();
  bold.setBold(true);
  LEscape->setFont(bold);
  QPalette white = LEscape->palette();
  white.setColor(QPalette::WindowText, Qt::white);
  LEscape->setPalette(white);
  LEscape->adjustSize();
  LEscape->hide();

  // The video panel: a native window of its own, in the player's colour key.
  InnerPanel = new QWidget(OuterPanel);
  InnerPanel->setObjectName(QStringLiteral("InnerPanel"));
  InnerPanel->setAttribute(Qt::WA_NativeWindow);
  InnerPanel->setAttribute(Qt::WA_DontCreateNativeAncestors);
  InnerPanel->setAutoFillBackground(true);
  QPalette key = InnerPanel->palette();
  key.setColor(QPalette::Window, QColor(0x10, 0x10, 0x10));
  InnerPanel->setPalette(key);
  InnerPanel->hide();

  ControlPanel = new QWidget(central);
  ControlPanel->setObjectName(QStringLiteral("ControlPanel"));
  ControlPanel->setFixedHeight(kControlPanelHeight);
  layout->addWidget(ControlPanel);
  auto* controls = new QVBoxLayout(ControlPanel);
  controls->setContentsMargins(0, 0, 0, 0);
  controls->setSpacing(0);

  SeekBarFrame = new TSliderFrame(ControlPanel, 12, true);
  SeekBarFrame->setFixedHeight(kSeekFrameHeight);
  SeekBarFrame->Slider->hide();
  auto* seekRow = new QHBoxLayout;
  seekRow->setContentsMargins(4, 0, 4, 0);
  seekRow->addWidget(SeekBarFrame);
  controls->addLayout(seekRow);

  auto* buttonRow = new QHBoxLayout;
  buttonRow->setContentsMargins(4, 2, 4, 3);
  buttonRow->setSpacing(2);
  QStyle* st = style();
  BPlay = MakeButton(QStringLiteral("Play"), QStringLiteral("Play"), true);
  BPlay->setIcon(st->standardIcon(QStyle::SP_MediaPlay));
  BPause = MakeButton(QStringLiteral("Pause"), QStringLiteral("Pause"), true);
  BPause->setIcon(st->standardIcon(QStyle::SP_MediaPause));
  BStop = MakeButton(QStringLiteral("Stop"), QStringLiteral("Stop"), false);
  BStop->setIcon(st->standardIcon(QStyle::SP_MediaStop));
  BPrev = MakeButton(QStringLiteral("Previous"), QStringLiteral("Previous"), false);
  BPrev->setIcon(st->standardIcon(QStyle::SP_MediaSkipBackward));
  BNext = MakeButton(QStringLiteral("Next"), QStringLiteral("Next"), false);
  BNext->setIcon(st->standardIcon(QStyle::SP_MediaSkipForward));
  BStreamInfo = MakeButton(QStringLiteral("Info"), QStringLiteral("Stream info"), true);
  BStreamInfo->hide();
  BPlaylist = MakeButton(QStringLiteral("Play List"), QStringLiteral("Show playlist"), true);
  BPlaylist->setToolButtonStyle(Qt::ToolButtonTextOnly);
  BCompact = MakeButton(QStringLiteral("Compact"), QStringLiteral("Compact"), true);
  BCompact->hide();
  BFullscreen = MakeButton(QStringLiteral("Fullscreen"), QStringLiteral("Fullscreen"), true);
  BFullscreen->hide();
  BMute = MakeButton(QStringLiteral("Mute"), QStringLiteral("Mute"), true);
  BMute->setIcon(st->standardIcon(QStyle::SP_MediaVolume));
  for (QToolButton* b : {BPlay, BPause, BStop, BPrev, BNext, BMute}) {
    b->setToolButtonStyle(Qt::ToolButtonIconOnly);
    b->setFixedWidth(28);
  }
  BPrev->setProperty("tag", -1);
  BNext->setProperty("tag", 1);
  BCompact->setProperty("tag", int(Qt::Key_C));
  BFullscreen->setProperty("tag", int(Qt::Key_F));
  for (QToolButton* b :
       {BPlay, BPause, BStop, BPrev, BNext, BStreamInfo, BPlaylist, BCompact, BFullscreen})
    buttonRow->addWidget(b);
  buttonRow->addStretch(1);
  buttonRow->addWidget(BMute);
  VolFrame = new TSliderFrame(ControlPanel, 9, false);
  VolFrame->setFixedSize(43, 22);
  buttonRow->addWidget(VolFrame);
  VolBoost = new QLabel(QStringLiteral("100%"), ControlPanel);
  VolBoost->setCursor(Qt::PointingHandCursor);
  VolBoost->setToolTip(QStringLiteral("Back to 100 %"));
  VolBoost->hide();
  VolBoost->installEventFilter(this);
  buttonRow->addWidget(VolBoost);
  controls->addLayout(buttonRow, 1);

  PStatus = new QWidget(ControlPanel);
  PStatus->setObjectName(QStringLiteral("PStatus"));
  PStatus->setFixedHeight(kStatusPanelHeight);
  PStatus->setAutoFillBackground(true);
  QPalette status = PStatus->palette();
  status.setColor(QPalette::Window, Qt::black);
  status.setColor(QPalette::WindowText, Qt::white);
  PStatus->setPalette(status);
  auto* statusRow = new QHBoxLayout(PStatus);
  statusRow->setContentsMargins(6, 0, 6, 0);
  LStatus = new QLabel(PStatus);
  LStatus->installEventFilter(this);
  LReason = new QLabel(PStatus);
  LReason->installEventFilter(this);
  LReason->setMinimumWidth(0);
  LReason->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  LTime = new QLabel(PStatus);
  LTime->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  statusRow->addWidget(LStatus);
  statusRow->addWidget(LReason, 1);
  statusRow->addWidget(LTime);
  controls->addWidget(PStatus);

  QObject::connect(BPlay, &QToolButton::clicked, this, [this] { PlayClick(); });
  QObject::connect(BPause, &QToolButton::clicked, this, [this] { PauseClick(); });
  QObject::connect(BStop, &QToolButton::clicked, this, [this] { StopClick(); });
  QObject::connect(BPrev, &QToolButton::clicked, this, [this] {
    FailuresInARow = 0;
    PlayNext(-1, TEntryState::Skipped);
  });
  QObject::connect(BNext, &QToolButton::clicked, this, [this] {
    FailuresInARow = 0;
    PlayNext(+1, TEntryState::Skipped);
  });
  QObject::connect(BStreamInfo, &QToolButton::clicked, this, [this] { ToggleInfo(); });
  QObject::connect(BPlaylist, &QToolButton::clicked, this, [this] { TogglePlaylist(); });
  QObject::connect(BCompact, &QToolButton::clicked, this, [this] { SimulateKey(Qt::Key_C); });
  QObject::connect(BFullscreen, &QToolButton::clicked, this, [this] { SimulateKey(Qt::Key_F); });
  QObject::connect(BMute, &QToolButton::clicked, this, [this] { MuteClick(true); });

  SeekBarFrame->OnSliderPress = [this] { Seeking = true; };
  SeekBarFrame->OnSliderRelease = [this](int ALeft) {
    Seeking = false;
    const int range = SeekBarFrame->Range();
    Core.SendPlayerCommand(QStringLiteral("seek %1 1").arg((ALeft * 100 + range / 2) / range));
    QueryPosition();
    ClearPauseState();
  };
  SeekBarFrame->OnFramePress = [this](int AX) {
    if (!SeekBarFrame->Slider->isVisible()) return;
    const int range = SeekBarFrame->Range();
    const int percent = ((AX - SeekBarFrame->Slider->width() / 2) * 100 + range / 2) / range;
    Core.SendPlayerCommand(QStringLiteral("seek %1 1").arg(percent));
    QueryPosition();
    ClearPauseState();
  };
  VolFrame->OnSliderMove = [this](int ALeft) {
    const int range = VolFrame->Range();
    const int volume = (ALeft * 100 + range / 2) / range;
    if (volume == Core.Volume) return;
    Core.Volume = volume;
    VolBoost->hide();
    Core.SetPlayerVolume(volume);
    ClearPauseState();
  };
  VolFrame->SetSliderLeft(VolFrame->Range());

  BPlay->setEnabled(false);
  BStop->setEnabled(false);
  BPause->setEnabled(false);
  BPrev->setEnabled(false);
  BNext->setEnabled(false);
  BStreamInfo->setEnabled(false);
  SetMouseTrackingTree(OuterPanel);
  SetMouseTrackingTree(ControlPanel);
}

QAction* TMainForm::KeyAction(QMenu* AMenu, const QString& AText, int AKey,
                              const QString& AKeyText) {
  QAction* action =
      AMenu->addAction(AKeyText.isEmpty() ? AText : AText + QLatin1Char('\t') + AKeyText);
  action->setData(AKey);
  QObject::connect(action, &QAction::triggered, this, [this, AKey] { SimulateKey(AKey); });
  return action;
}

void TMainForm::CreateMenus() {
  MenuBar = menuBar();
  MFile = MenuBar->addMenu(QStringLiteral("File"));
  MView = MenuBar->addMenu(QStringLiteral("View"));
  MSeek = MenuBar->addMenu(QStringLiteral("Seek"));
  MExtra = MenuBar->addMenu(QStringLiteral("Extra"));
  MHelp = MenuBar->addMenu(QStringLiteral("Help"));
  MView->menuAction()->setVisible(false);
  MExtra->menuAction()->setVisible(false);
  MHelp->menuAction()->setVisible(false);

  // File.
  AOpenFile =
      MFile->addAction(QStringLiteral("Open file\tCtrl+O"), this, [this] { OpenFileDialog(); });
  AOpenUrl = MFile->addAction(QStringLiteral("Open URL\tCtrl+L"), this, [this] { OpenUrl(); });
  AOpenUrl->setVisible(false);
  MOpenDrive = MFile->addMenu(QStringLiteral("Open drive"));
  MOpenDrive->menuAction()->setVisible(false);
  QObject::connect(MOpenDrive, &QMenu::aboutToShow, this, [this] { BuildDriveMenu(); });
  AClose = MFile->addAction(QStringLiteral("Close\tCtrl+W"), this, [this] { ClosePlayer(); });
  MFile->addSeparator();
  AQuit = KeyAction(MFile, QStringLiteral("Exit"), Qt::Key_Q, QStringLiteral("Q"));

  // View (hidden).
  SizeGroup = new QActionGroup(this);
  ASizeAny = MView->addAction(QStringLiteral("Any size\tAlt+0"));
  ASizeHalf = MView->addAction(QStringLiteral("Half size\tAlt+1"));
  ASizeOriginal = MView->addAction(QStringLiteral("Original size\tAlt+2"));
  ASizeDouble = MView->addAction(QStringLiteral("Double size\tAlt+3"));
  const TSizeMode modes[] = {TSizeMode::Any, TSizeMode::Half, TSizeMode::Original,
                             TSizeMode::Double};
  int m = 0;
  for (QAction* a : {ASizeAny, ASizeHalf, ASizeOriginal, ASizeDouble}) {
    a->setCheckable(true);
    SizeGroup->addAction(a);
    const TSizeMode mode = modes[m++];
    QObject::connect(a, &QAction::triggered, this, [this, mode] { SetSizeMode(mode); });
  }
  ASizeOriginal->setChecked(true);
  MView->addSeparator();
  AFullscreen = KeyAction(MView, QStringLiteral("Fullscreen"), Qt::Key_F, QStringLiteral("F"));
  ACompact = KeyAction(MView, QStringLiteral("Compact"), Qt::Key_C, QStringLiteral("C"));
  AOnTop = KeyAction(MView, QStringLiteral("Always on top"), Qt::Key_T, QStringLiteral("T"));
  AOsd = KeyAction(MView, QStringLiteral("OSD"), Qt::Key_O, QStringLiteral("O"));
  for (QAction* a : {AFullscreen, ACompact, AOnTop}) a->setCheckable(true);

  // Seek.
  APlay = MSeek->addAction(QStringLiteral("Play"), this, [this] { PlayClick(); });
  APause = MSeek->addAction(QStringLiteral("Pause"), this, [this] { PauseMenuClick(); });
  AStop = MSeek->addAction(QStringLiteral("Stop"), this, [this] { StopClick(); });
  APrev = MSeek->addAction(QStringLiteral("Previous"), this, [this] { BPrev->click(); });
  ANext = MSeek->addAction(QStringLiteral("Next"), this, [this] { BNext->click(); });
  APlay->setCheckable(true);
  APause->setCheckable(true);
  MSeek->addSeparator();
  AShowPlaylist =
      MSeek->addAction(QStringLiteral("Show playlist\tL"), this, [this] { TogglePlaylist(); });
  AShowPlaylist->setCheckable(true);
  AMute = MSeek->addAction(QStringLiteral("Mute\tM"), this, [this] { MuteClick(false); });
  AMute->setCheckable(true);
  MSeek->addSeparator();
  KeyAction(MSeek, QStringLiteral("Forward 10s"), Qt::Key_Right, QStringLiteral("Right"));
  KeyAction(MSeek, QStringLiteral("Backward 10s"), Qt::Key_Left, QStringLiteral("Left"));
  KeyAction(MSeek, QStringLiteral("Forward 1min"), Qt::Key_Up, QStringLiteral("Up"));
  KeyAction(MSeek, QStringLiteral("Backward 1min"), Qt::Key_Down, QStringLiteral("Down"));
  KeyAction(MSeek, QStringLiteral("Forward 10min"), Qt::Key_PageUp, QStringLiteral("PgUp"));
  KeyAction(MSeek, QStringLiteral("Backward 10min"), Qt::Key_PageDown, QStringLiteral("PgDown"));

  // Extra (hidden).
  MAudio = MExtra->addMenu(QStringLiteral("Audio"));
  MSubtitle = MExtra->addMenu(QStringLiteral("Subtitle"));
  MAudio->setEnabled(false);
  MSubtitle->setEnabled(false);
  QMenu* aspect = MExtra->addMenu(QStringLiteral("Aspect"));
  AspectGroup = new QActionGroup(this);
  int tag = 0;
  for (const char* name : {"Auto", "4:3", "16:9", "2.35:1"}) {
    QAction* a = aspect->addAction(QString::fromLatin1(name));
    a->setCheckable(true);
    a->setData(tag);
    AspectGroup->addAction(a);
    QObject::connect(a, &QAction::triggered, this, [this, tag] {
      Core.Settings.Aspect = tag;
      Core.RestartPlayer();
    });
    ++tag;
  }
  QMenu* deinterlace = MExtra->addMenu(QStringLiteral("Deinterlace"));
  DeinterlaceGroup = new QActionGroup(this);
  tag = 0;
  for (const char* name : {"Off", "Simple", "Adaptive"}) {
    QAction* a = deinterlace->addAction(QString::fromLatin1(name));
    a->setCheckable(true);
    a->setData(tag);
    DeinterlaceGroup->addAction(a);
    QObject::connect(a, &QAction::triggered, this, [this, tag] {
      Core.Settings.Deinterlace = tag;
      Core.RestartPlayer();
    });
    ++tag;
  }
  MExtra->addSeparator();
  AStreamInfo = MExtra->addAction(QStringLiteral("Stream info"), this, [this] { ToggleInfo(); });
  AStreamInfo->setCheckable(true);
  AShowOutput = MExtra->addAction(QStringLiteral("Show output"), this, [this] {
    LogForm->show();
    LogForm->raise();
  });

  // Help (hidden).
  AKeyboardHelp = MHelp->addAction(QStringLiteral("Keybord help"), this,
                                   [this] { HelpForm->setVisible(!HelpForm->isVisible()); });
  AKeyboardHelp->setCheckable(true);
  MHelp->addAction(QStringLiteral("About"), this, [this] {
    QMessageBox::about(
        this, QStringLiteral("About"),
        QStringLiteral("FLV Player\n\nTovamo's preview player, a front-end for MPlayer."));
  });

  for (QMenu* menu : {MFile, MView, MSeek, MExtra, MHelp})
    QObject::connect(menu, &QMenu::aboutToShow, this, [this] { MirrorMenus(); });

  // The popup menu of the picture.
  MPopup = new QMenu(this);
  MPopup->addAction(QStringLiteral("Play"), this, [this] { PlayClick(); })->setObjectName("PPlay");
  MPopup->addAction(QStringLiteral("Pause"), this, [this] { PauseMenuClick(); })
      ->setObjectName("PPause");
  MPopup->addAction(QStringLiteral("Stop"), this, [this] { StopClick(); })->setObjectName("PStop");
  MPopup->addAction(QStringLiteral("Previous"), this, [this] { BPrev->click(); })
      ->setObjectName("PPrev");
  MPopup->addAction(QStringLiteral("Next"), this, [this] { BNext->click(); })
      ->setObjectName("PNext");
  MPopup->addSeparator();
  PFullscreen = KeyAction(MPopup, QStringLiteral("Fullscreen"), Qt::Key_F, QStringLiteral("F"));
  PFullscreenControls =
      KeyAction(MPopup, QStringLiteral("Fullscreen controls"), Qt::Key_Tab, QStringLiteral("Tab"));
  PCompact = KeyAction(MPopup, QStringLiteral("Compact"), Qt::Key_C, QStringLiteral("C"));
  POnTop = KeyAction(MPopup, QStringLiteral("Always on top"), Qt::Key_T, QStringLiteral("T"));
  for (QAction* a : {PFullscreen, PFullscreenControls, PCompact, POnTop}) a->setCheckable(true);
  POsd = MPopup->addMenu(QStringLiteral("OSD"));
  auto* osdGroup = new QActionGroup(this);
  tag = 0;
  for (const char* name : {"None", "Default", "Time", "Full"}) {
    QAction* a = POsd->addAction(QString::fromLatin1(name));
    a->setCheckable(true);
    a->setData(tag);
    osdGroup->addAction(a);
    QObject::connect(a, &QAction::triggered, this, [this, tag] {
      Core.SetOsdLevel(tag);
      ClearPauseState();
    });
    ++tag;
  }
  MPopup->addSeparator();
  KeyAction(MPopup, QStringLiteral("Quit"), Qt::Key_Q, QStringLiteral("Q"));
  QObject::connect(MPopup, &QMenu::aboutToShow, this, [this] { MirrorPopup(); });
}

void TMainForm::Startup(const TOptions& AOptions) {
  FullscreenOnStart = CompactOnStart = AutoQuit = false;
  Core.Startup();
  if (!AOptions.ProgramDir.isEmpty())
    Core.ProgramDir = AOptions.ProgramDir.endsWith(QLatin1Char('/'))
                          ? AOptions.ProgramDir
                          : AOptions.ProgramDir + QLatin1Char('/');
  Core.PlayerProgram = AOptions.PlayerProgram;
  Core.MediaLengthLookup = [this](const QString& AFileName) {
    return MediaLengthSeconds(AFileName, Core.ProgramDir);
  };
  if (AOptions.ReadSettings) {
    for (const QString& name : SettingsFileNames())
      LoadSettings(Core.ProgramDir + name, Core.Settings, WindowSettings, SettingsNotes);
  }
  for (const QString& note : SettingsNotes) {
    AddLogLine(note);
    qWarning("player settings: %s", qPrintable(note));
  }
  FullscreenOnStart = WindowSettings.Fullscreen;
  AutoQuit = WindowSettings.AutoQuit;
  BuildDriveMenu();
  for (const QString& arg : AOptions.Arguments) {
    if (arg.compare(QLatin1String("-fs"), Qt::CaseInsensitive) == 0)
      FullscreenOnStart = true;
    else if (arg.compare(QLatin1String("-compact"), Qt::CaseInsensitive) == 0)
      CompactOnStart = true;
    else if (arg.compare(QLatin1String("-autoquit"), Qt::CaseInsensitive) == 0)
      AutoQuit = true;
    else
      break;
  }
  Fullscreen = Compact = FullscreenControls = false;
  IgnoreResize = true;
  ShowLogoAt = 0;
  if (CompactOnStart) SetCompact(true);
}
}  // namespace tovamo::player
