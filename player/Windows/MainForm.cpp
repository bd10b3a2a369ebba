#include "Windows/MainForm.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QScreen>
#include <QStorageInfo>
#include <QStyle>
#include <QVBoxLayout>
#include <QWindow>

#include "Core/PlayerText.h"

namespace tovamo::player {

namespace {

constexpr int kControlPanelHeight = 73;
constexpr int kStatusPanelHeight = 25;
constexpr int kSeekFrameHeight = 19;
constexpr int kFullscreenControlsMs = 3000;
constexpr int kLogoDelayMs = 1500;
constexpr qint64 kStaleResizeMs = 1000;

const char* const kOpenFilter =
    "All Supported Video (*.avi *.mpeg *.mpg *.dat *.asf *.wmv *.mov *.qt *.flv *.mp4 *.3gp);;"
    "iPod Video (*.mp4)";

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
  PlaylistForm->OnRedock = [this] { PlaceSideWindows(); };
  InfoForm->OnRedock = [this] { PlaceSideWindows(); };
  PlaylistForm->OnVisibleChanged = [this](bool AOn) {
    AShowPlaylist->setChecked(AOn);
    BPlaylist->setChecked(AOn);
  };
  InfoForm->OnVisibleChanged = [this](bool AOn) {
    AStreamInfo->setChecked(AOn);
    BStreamInfo->setChecked(AOn);
  };
  Playlist.OnChanged = [this] { PlaylistChanged(); };

  AskOpenFiles = [this](bool AMultiple) {
    if (AMultiple)
      return QFileDialog::getOpenFileNames(this, QStringLiteral("Open"), {},
                                           QString::fromLatin1(kOpenFilter));
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
  LTime = new QLabel(PStatus);
  LTime->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  statusRow->addWidget(LStatus, 1);
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

// ---------------------------------------------------------------------------------------
// TPlayerWindow

std::uint64_t TMainForm::VideoPanelId() {
  return std::uint64_t(InnerPanel->winId());
}

void TMainForm::UpdateNextPrevEnabled() {
  const int current = Playlist.Current();
  BPrev->setEnabled(current > 0 || Playlist.Shuffle);
  BNext->setEnabled(current + 1 < Playlist.Count() || Playlist.Shuffle);
}

void TMainForm::ShowPlayingControls() {
  BPlay->setEnabled(true);
  BPlay->setChecked(true);
  BStop->setEnabled(true);
  SeekBarFrame->Slider->show();
  SeekBarFrame->SetSliderLeft(0);
  Polling = true;
  BPause->setEnabled(true);
  BPause->setChecked(false);
  BStreamInfo->setEnabled(true);
  UpdateNextPrevEnabled();
  UpdateScreenSaver();
}

void TMainForm::ShowStoppedControls(bool ADelayLogo) {
  BPlay->setChecked(false);
  BPlay->setEnabled(Playlist.Count() > 0);
  BStop->setEnabled(false);
  SeekBarFrame->Slider->hide();
  Polling = false;
  InnerPanel->hide();
  BPause->setEnabled(false);
  BPause->setChecked(false);
  BStreamInfo->setEnabled(false);
  if (ADelayLogo) ShowLogoAt = Clock.elapsed() + kLogoDelayMs;
  LEscape->setVisible(Fullscreen);
  if (Core.PlayerState == TPlayerState::Failed) {
    UpdateNextPrevEnabled();
  } else {
    BPrev->setEnabled(false);
    BNext->setEnabled(false);
  }
  // A media that cannot be played: the next entry plays after a pause, but a list in which
  // nothing plays is not gone round again and again.
  if (Core.PlayerState == TPlayerState::Failed && !Core.StopRequested && Playlist.Current() >= 0) {
    ++FailuresInARow;
    if (FailuresInARow < Playlist.Count())
      AdvanceTimer.start(FailureAdvanceMs);
    else if (Playlist.Count() > 1)
      AddLogLine(QStringLiteral("No entry of the playlist could be played."));
  }
  UpdateScreenSaver();
}

void TMainForm::ShowMediaLayout() {
  InnerPanel->setVisible(Core.HasVideo);
  Logo->setVisible(!Core.HasVideo);
  LEscape->setVisible(!Core.HasVideo && Fullscreen);
  Seeking = false;
  if (Core.HasVideo) FitVideo();
  BMute->setEnabled(Core.HasAudio);
  BPause->setEnabled(true);
  UpdateTimeText();
  RefreshInfo();
  UpdateScreenSaver();
}

void TMainForm::UpdateStatusText() {
  LStatus->setText(PlayerStateText(Core.PlayerState));
  LStatus->setCursor(Core.PlayerState == TPlayerState::Failed ? Qt::PointingHandCursor
                                                              : Qt::ArrowCursor);
  if (Core.PlayerState == TPlayerState::Playing) FailuresInARow = 0;
  if (Core.PlayerState != TPlayerState::Playing && Core.PlayerState != TPlayerState::Paused)
    LTime->clear();
}

void TMainForm::ShowStatusLine(const QString& ALine) {
  LStatus->setText(ALine);
}

void TMainForm::UpdateTimeText() {
  if (Core.PlayerState == TPlayerState::Playing || Core.PlayerState == TPlayerState::Paused)
    LTime->setText(FormatSeconds(Core.PositionSeconds) + QStringLiteral(" / ") + Core.DurationText);
  else
    LTime->clear();
}

void TMainForm::UpdateSeekBar() {
  if (Seeking) return;
  SeekBarFrame->SetSliderLeft(SeekBarFrame->Range() * Core.PositionPercent / 100);
}

void TMainForm::UpdateCaption() {
  if (!Core.TitleText.isEmpty()) setWindowTitle(Core.TitleText);
}

void TMainForm::QueryPosition() {
  Core.SendPlayerCommand(QStringLiteral("get_percent_pos"));
  ClearPauseState();
}

void TMainForm::TrackMenuChanged(TTrackKind AKind) {
  BuildTrackMenu(AKind);
}

void TMainForm::BuildTrackMenu(TTrackKind AKind) {
  QMenu* menu = AKind == TTrackKind::Audio ? MAudio : MSubtitle;
  const TTrackMenu& items = Core.TrackMenu(AKind);
  menu->clear();
  auto* group = new QActionGroup(menu);
  for (const TTrackItem& item : items.Items) {
    QAction* a = menu->addAction(item.Caption);
    a->setCheckable(true);
    a->setChecked(item.Checked);
    a->setData(item.Id);
    group->addAction(a);
    const int id = item.Id;
    QObject::connect(a, &QAction::triggered, this, [this, AKind, id] { TrackClick(AKind, id); });
  }
  menu->setEnabled(items.Enabled);
}

void TMainForm::TrackClick(TTrackKind AKind, int AId) {
  (AKind == TTrackKind::Audio ? Core.AudioTrack : Core.SubtitleTrack) = AId;
  for (TTrackItem& item : Core.TrackMenu(AKind).Items) item.Checked = item.Id == AId;
  BuildTrackMenu(AKind);
  Core.RestartPlayer();
}

void TMainForm::CycleAudioTrack() {
  auto& items = Core.AudioMenu.Items;
  if (items.size() < 2) return;
  int last = -1;
  for (int i = 0; i < int(items.size()); ++i)
    if (items[std::size_t(i)].Checked) last = i;
  if (last < 0) return;
  const int next = (last + 1) % int(items.size());
  for (int i = 0; i < int(items.size()); ++i) items[std::size_t(i)].Checked = i == next;
  Core.AudioTrack = items[std::size_t(next)].Id;
  BuildTrackMenu(TTrackKind::Audio);
  SendAndClear(QStringLiteral("switch_audio"));
}

void TMainForm::PlayNext(int ADirection, TEntryState AExitState) {
  AdvanceTimer.stop();
  Core.ShutdownPlayer();
  const int index = Playlist.GetNext(AExitState, ADirection);
  if (index >= 0) {
    Playlist.SetPlaying(index);
    OpenMedia(Playlist.Entry(index).FileName);
  } else if (AutoQuit) {
    close();
  }
}

void TMainForm::RefreshInfo() {
  InfoForm->RefreshInfo();
}

void TMainForm::ClearLog() {
  LogForm->Clear();
}

void TMainForm::AddLogLine(const QString& ALine) {
  LogForm->AddLogLine(ALine);
}

QString TMainForm::LastLogLine() {
  return LogForm->LastLine();
}

void TMainForm::ReplaceLastLogLine(const QString& ALine) {
  LogForm->ReplaceLastLine(ALine);
}

// ---------------------------------------------------------------------------------------
// Opening and playing

void TMainForm::OpenMedia(const QString& AName) {
  // The core handles the old player's end inside ShutdownPlayer, so no pause is needed
  // before the new start.
  Core.ShutdownPlayer();
  const TResolvedMedia media = ResolveMedia(AName);
  Core.MediaArgument = media.Argument;
  Core.TitleText = media.Title;
  Core.VistaMode = VistaMode;
  UpdateCaption();
  Core.FreshMedia = true;
  Core.StartPlayer();
}

void TMainForm::OpenSingleFile(const QString& AName) {
  FailuresInARow = 0;
  Playlist.Clear();
  Playlist.Add(AName);
  for (const QString& note : Playlist.Notes) AddLogLine(note);
  PlayNext(0, TEntryState::Playing);
}

void TMainForm::PlayLastEntry() {
  AdvanceTimer.stop();
  FailuresInARow = 0;
  Core.ShutdownPlayer();
  const int count = Playlist.Count();
  if (count >= 2) Playlist.GetNext(TEntryState::Skipped, 0);
  if (count >= 1) {
    Playlist.SetPlaying(count - 1);
    OpenMedia(Playlist.Entry(count - 1).FileName);
  } else if (AutoQuit) {
    close();
  }
}

void TMainForm::Preview(const QString& AFileName, bool AVistaMode) {
  Playlist.Add(AFileName);
  for (const QString& note : Playlist.Notes) AddLogLine(note);
  VistaMode = AVistaMode;
  // The show handling would start the first entry only for PlayLastEntry to end it again.
  SuppressShowPlay = true;
  show();
  SuppressShowPlay = false;
  raise();
  activateWindow();
  PreviewTimer.start(100);
}

void TMainForm::PlayEntry(int AIndex) {
  if (AIndex < 0 || AIndex >= Playlist.Count()) return;
  AdvanceTimer.stop();
  FailuresInARow = 0;
  Core.ShutdownPlayer();
  Playlist.GetNext(TEntryState::Skipped, 0);
  Playlist.SetPlaying(AIndex);
  OpenMedia(Playlist.Entry(AIndex).FileName);
}

void TMainForm::SendAndClear(const QString& ACommand, bool AQuery) {
  Core.SendPlayerCommand(ACommand);
  ClearPauseState();
  if (AQuery) QueryPosition();
}

void TMainForm::ClearPauseState() {
  BPause->setChecked(false);
  Polling = Core.IsRunning();
  if (Core.PlayerState == TPlayerState::Paused) {
    Core.PlayerState = TPlayerState::Playing;
    UpdateStatusText();
  }
}

void TMainForm::PlayClick() {
  AdvanceTimer.stop();
  FailuresInARow = 0;
  BPlay->setChecked(Core.IsRunning());
  if (Core.IsRunning() && BPause->isChecked()) SendAndClear(QStringLiteral("pause"));
  if (!Core.IsRunning()) PlayNext(0, TEntryState::Playing);
}

void TMainForm::PauseClick() {
  if (!Core.IsRunning()) {
    BPause->setChecked(false);
    return;
  }
  BPause->setChecked(true);
  Polling = false;
  if (Core.PlayerState == TPlayerState::Paused) {
    Core.SendPlayerCommand(QStringLiteral("frame_step"));
  } else {
    Core.SendPlayerCommand(QStringLiteral("pause"));
    Core.PlayerState = TPlayerState::Paused;
    UpdateStatusText();
  }
}

void TMainForm::PauseMenuClick() {
  PauseClick();
}

void TMainForm::StopClick() {
  AdvanceTimer.stop();
  Core.StopPlayer();
  Playlist.GetNext(TEntryState::Skipped, 0);
}

void TMainForm::ClosePlayer() {
  AdvanceTimer.stop();
  Core.StopPlayer();
  Core.MediaArgument = {};
  BPlay->setEnabled(false);
}

void TMainForm::MuteClick(bool AFromButton) {
  if (AFromButton) {
    Core.Muted = BMute->isChecked();
  } else {
    Core.Muted = !Core.Muted;
    BMute->setChecked(Core.Muted);
  }
  BMute->setIcon(
      style()->standardIcon(Core.Muted ? QStyle::SP_MediaVolumeMuted : QStyle::SP_MediaVolume));
  if (BMute->isChecked())
    Core.SendPlayerCommand(QStringLiteral("mute"));
  else
    Core.SetPlayerVolume(Core.Volume);
  ClearPauseState();
}

void TMainForm::VolBoostClick() {
  if (Core.Volume <= 100) return;
  Core.SetPlayerVolume(100);
  Core.Volume = 100;
  ClearPauseState();
  VolBoost->setText(QStringLiteral("100%"));
  UpdateVolumeControls();
}

void TMainForm::StatusClick() {
  if (Core.PlayerState != TPlayerState::Failed) return;
  LogForm->show();
  LogForm->raise();
  LogForm->ScrollToEnd();
  LogForm->activateWindow();
  LogForm->Command->setFocus();
}

void TMainForm::ChangeVolume(int AStep) {
  int& volume = Core.Volume;
  if (volume > 100 || (volume == 100 && AStep > 0)) AStep = AStep * 10 / 3;
  volume += AStep;
  if (volume < 0) volume = 0;
  if (!Core.Settings.SoftVol && volume > 100) volume = 100;
  if (volume > 9999) volume = 9999;
  Core.SetPlayerVolume(volume);
  ClearPauseState();
  UpdateVolumeControls();
}

void TMainForm::UpdateVolumeControls() {
  if (Core.Volume <= 100) {
    VolBoost->hide();
    VolFrame->SetSliderLeft(VolFrame->Range() * Core.Volume / 100);
  } else {
    VolBoost->setText(QStringLiteral("%1%").arg(Core.Volume));
    VolBoost->show();
    VolFrame->SetSliderLeft(VolFrame->Range());
  }
}

void TMainForm::TogglePlaylist() {
  if (PlaylistForm->isVisible()) {
    PlaylistForm->hide();
  } else {
    PlaceSideWindows();
    PlaylistForm->show();
    PlaceSideWindows();
  }
}

void TMainForm::ToggleInfo() {
  if (InfoForm->isVisible()) {
    InfoForm->hide();
  } else {
    PlaceSideWindows();
    InfoForm->show();
    PlaceSideWindows();
  }
}

void TMainForm::PlaylistChanged() {
  PlaylistForm->Refresh();
  if (Playlist.Count() == 0 && !Core.IsRunning()) BPlay->setEnabled(false);
  if (PlaylistForm->isVisible() && Core.IsRunning()) UpdateNextPrevEnabled();
}

void TMainForm::OpenFileDialog() {
  const QStringList names = AskOpenFiles(false);
  if (!names.isEmpty()) OpenSingleFile(names.first());
}

void TMainForm::OpenUrl() {
  QString offer = QGuiApplication::clipboard()->text().trimmed();
  if (offer.contains(QLatin1Char('\r')) || offer.contains(QLatin1Char('\n')) ||
      offer.contains(QLatin1Char('\t')) ||
      !(offer.contains(QLatin1String("//")) || offer.contains(QLatin1String("\\\\")) ||
        offer.contains(QLatin1Char(':'))))
    offer.clear();
  QString url;
  if (AskUrl) {
    url = AskUrl(offer);
  } else {
    bool ok = false;
    url = QInputDialog::getText(this, QStringLiteral("URL"), QStringLiteral("URL?"),
                                QLineEdit::Normal, offer, &ok);
    if (!ok) url.clear();
  }
  if (!url.trimmed().isEmpty()) OpenSingleFile(url.trimmed());
}

void TMainForm::BuildDriveMenu() {
  MOpenDrive->clear();
  for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
    const QString root = volume.rootPath();
    if (!(root.startsWith(QLatin1String("/media/")) || root.startsWith(QLatin1String("/mnt/")) ||
          root.startsWith(QLatin1String("/run/media/"))))
      continue;
    MOpenDrive->addAction(root, this, [this, root] { OpenSingleFile(root); });
  }
  MOpenDrive->setEnabled(!MOpenDrive->isEmpty());
}

void TMainForm::DropDown(QMenu* AMenu) {
  QAction* action = AMenu->menuAction();
  if (MenuBar->isVisible() && action->isVisible()) {
    MenuBar->setActiveAction(action);
  } else {
    const QPoint where = MenuBar->isVisible() ? MenuBar->mapToGlobal(QPoint(0, MenuBar->height()))
                                              : OuterPanel->mapToGlobal(QPoint(0, 0));
    AMenu->popup(where);
  }
}

void TMainForm::MirrorMenus() {
  for (QAction* a : AspectGroup->actions())
    a->setChecked(a->data().toInt() == Core.Settings.Aspect);
  for (QAction* a : DeinterlaceGroup->actions())
    a->setChecked(a->data().toInt() == Core.Settings.Deinterlace);
  AKeyboardHelp->setChecked(HelpForm->isVisible());
  APlay->setEnabled(BPlay->isEnabled());
  APause->setEnabled(BPause->isEnabled());
  AStop->setEnabled(BStop->isEnabled());
  APrev->setEnabled(BPrev->isEnabled());
  ANext->setEnabled(BNext->isEnabled());
  APlay->setChecked(BPlay->isChecked());
  APause->setChecked(BPause->isChecked());
  AOnTop->setChecked(TopMost);
  AMute->setChecked(BMute->isChecked());
  AFullscreen->setChecked(Fullscreen);
  ACompact->setChecked(Compact);
  AShowPlaylist->setChecked(PlaylistForm->isVisible());
  AStreamInfo->setChecked(InfoForm->isVisible());
}

void TMainForm::MirrorPopup() {
  auto find = [this](const char* AName) {
    return MPopup->findChild<QAction*>(QLatin1String(AName));
  };
  for (QAction* a : MPopup->actions()) {
    if (a->objectName() == "PPlay") {
      a->setEnabled(BPlay->isEnabled());
      a->setCheckable(true);
      a->setChecked(BPlay->isChecked());
    } else if (a->objectName() == "PPause") {
      a->setEnabled(BPause->isEnabled());
      a->setCheckable(true);
      a->setChecked(BPause->isChecked());
    } else if (a->objectName() == "PStop") {
      a->setEnabled(BStop->isEnabled());
    } else if (a->objectName() == "PPrev") {
      a->setEnabled(BPrev->isEnabled());
    } else if (a->objectName() == "PNext") {
      a->setEnabled(BNext->isEnabled());
    }
  }
  (void)find;
  PFullscreen->setChecked(Fullscreen);
  PFullscreenControls->setEnabled(Fullscreen);
  PFullscreenControls->setChecked(FullscreenControls);
  PCompact->setChecked(Compact);
  POnTop->setChecked(Fullscreen ? SavedTopMost : TopMost);
  POsd->setEnabled(Core.IsRunning() && Core.HasVideo);
  for (QAction* a : POsd->actions()) a->setChecked(a->data().toInt() == Core.OsdLevel);
}

// ---------------------------------------------------------------------------------------
// Keyboard

void TMainForm::SimulateKey(int AKey) {
  FormKeyDown(AKey, Qt::NoModifier);
}

bool TMainForm::FormKeyDown(int AKey, Qt::KeyboardModifiers AModifiers) {
  const bool keypad = AModifiers & Qt::KeypadModifier;
  const bool ctrl = AModifiers & Qt::ControlModifier;
  const bool alt = AModifiers & Qt::AltModifier;
  if (AKey == Qt::Key_Escape && !ctrl && !alt) {
    if (Fullscreen)
      AKey = Qt::Key_F;
    else if (Compact)
      AKey = Qt::Key_C;
    else
      return true;
  }
  if (ctrl && !alt) {
    switch (AKey) {
      case Qt::Key_0:
        if (!keypad) SendAndClear(QStringLiteral("speed_set 1.0"));
        return true;
      case Qt::Key_L:
        OpenUrl();
        return true;
      case Qt::Key_O:
        OpenFileDialog();
        return true;
      case Qt::Key_W:
        ClosePlayer();
        return true;
      case Qt::Key_Asterisk:
        if (keypad) SendAndClear(QStringLiteral("speed_mult 1.1"));
        return true;
      case Qt::Key_Slash:
        if (keypad) SendAndClear(QStringLiteral("speed_mult 0.9090909"));
        return true;
      default:
        return false;
    }
  }
  if (alt && !ctrl) {
    switch (AKey) {
      case Qt::Key_Return:
      case Qt::Key_Enter:
        SetFullscreen(!Fullscreen);
        return true;
      case Qt::Key_0:
        SetSizeMode(TSizeMode::Any);
        return true;
      case Qt::Key_1:
        SetSizeMode(TSizeMode::Half);
        return true;
      case Qt::Key_2:
        SetSizeMode(TSizeMode::Original);
        return true;
      case Qt::Key_3:
        SetSizeMode(TSizeMode::Double);
        return true;
      case Qt::Key_4:
        DropDown(MFile);
        return true;
      case Qt::Key_5:
        DropDown(MView);
        return true;
      case Qt::Key_6:
        DropDown(MSeek);
        return true;
      case Qt::Key_7:
        DropDown(MExtra);
        return true;
      case Qt::Key_8:
        DropDown(MHelp);
        return true;
      case Qt::Key_F4:
        close();
        return true;
      default:
        return false;
    }
  }
  if (ctrl || alt) return false;

  // No modifier, or Shift alone.
  if (keypad) {
    switch (AKey) {
      case Qt::Key_Asterisk:
        ChangeVolume(+3);
        return true;
      case Qt::Key_Slash:
        ChangeVolume(-3);
        return true;
      case Qt::Key_Plus:
        SendAndClear(QStringLiteral("audio_delay -0.100"));
        return true;
      case Qt::Key_Minus:
        SendAndClear(QStringLiteral("audio_delay 0.100"));
        return true;
      case Qt::Key_Enter:
      case Qt::Key_Return:
        PlayClick();
        return true;
      default:
        break;
    }
    // Keypad arrows and pages (NumLock off) act as the others; its digits are no keys here.
    if (AKey >= Qt::Key_0 && AKey <= Qt::Key_9) return false;
  }
  switch (AKey) {
    case Qt::Key_Tab:
      if (Fullscreen) ShowFullscreenControls(!FullscreenControls, true);
      return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      PlayClick();
      return true;
    case Qt::Key_Space:
    case Qt::Key_P:
      if (BPause->isChecked())
        PlayClick();
      else
        PauseMenuClick();
      return true;
    case Qt::Key_Right:
      SendAndClear(QStringLiteral("seek +10"), true);
      return true;
    case Qt::Key_Left:
      SendAndClear(QStringLiteral("seek -10"), true);
      return true;
    case Qt::Key_Up:
      SendAndClear(QStringLiteral("seek +60"), true);
      return true;
    case Qt::Key_Down:
      SendAndClear(QStringLiteral("seek -60"), true);
      return true;
    case Qt::Key_PageUp:
      SendAndClear(QStringLiteral("seek +600"), true);
      return true;
    case Qt::Key_PageDown:
      SendAndClear(QStringLiteral("seek -600"), true);
      return true;
    case Qt::Key_0:
      ChangeVolume(+3);
      return true;
    case Qt::Key_9:
      ChangeVolume(-3);
      return true;
    case Qt::Key_1:
      SendAndClear(QStringLiteral("contrast -1"));
      return true;
    case Qt::Key_2:
      SendAndClear(QStringLiteral("contrast +1"));
      return true;
    case Qt::Key_3:
      SendAndClear(QStringLiteral("brightness -1"));
      return true;
    case Qt::Key_4:
      SendAndClear(QStringLiteral("brightness +1"));
      return true;
    case Qt::Key_5:
      SendAndClear(QStringLiteral("hue -1"));
      return true;
    case Qt::Key_6:
      SendAndClear(QStringLiteral("hue +1"));
      return true;
    case Qt::Key_7:
      SendAndClear(QStringLiteral("saturation -1"));
      return true;
    case Qt::Key_8:
      SendAndClear(QStringLiteral("saturation +1"));
      return true;
    case Qt::Key_C:
      SetCompact(!Compact);
      return true;
    case Qt::Key_F:
      SetFullscreen(!Fullscreen);
      return true;
    case Qt::Key_D:
      SendAndClear(QStringLiteral("frame_drop"));
      return true;
    case Qt::Key_S:
      SendAndClear(QStringLiteral("screenshot"));
      return true;
    case Qt::Key_L:
      TogglePlaylist();
      return true;
    case Qt::Key_M:
      MuteClick(false);
      return true;
    case Qt::Key_O:
      Core.SetOsdLevel(-1);
      ClearPauseState();
      return true;
    case Qt::Key_Q:
      close();
      return true;
    case Qt::Key_T:
      ToggleOnTop();
      return true;
    case Qt::Key_MediaNext:
      if (BNext->isEnabled()) BNext->click();
      return true;
    case Qt::Key_MediaPrevious:
      if (BPrev->isEnabled()) BPrev->click();
      return true;
    case Qt::Key_MediaStop:
      if (BStop->isEnabled()) StopClick();
      return true;
    case Qt::Key_MediaTogglePlayPause:
    case Qt::Key_MediaPlay:
    case Qt::Key_MediaPause:
      if (Core.IsRunning())
        PauseMenuClick();
      else
        PlayClick();
      return true;
    case Qt::Key_Slash:
    case Qt::Key_Question:
      CycleAudioTrack();
      return true;
    default:
      return false;
  }
}

// ---------------------------------------------------------------------------------------
// Window events

bool TMainForm::eventFilter(QObject* AObject, QEvent* AEvent) {
  if (AObject == OuterPanel && AEvent->type() == QEvent::Resize) {
    LayoutOuterPanel();
    return false;
  }
  auto* widget = qobject_cast<QWidget*>(AObject);
  if (!widget || widget->window() != this) return false;
  const bool display =
      widget == OuterPanel || widget == Logo || widget == InnerPanel || widget == LEscape;
  switch (AEvent->type()) {
    case QEvent::KeyPress: {
      auto* key = static_cast<QKeyEvent*>(AEvent);
      FormKeyDown(key->key(), key->modifiers());
      return true;  // every key is the window's
    }
    case QEvent::ShortcutOverride:
      AEvent->accept();
      return true;
    case QEvent::MouseButtonPress: {
      auto* mouse = static_cast<QMouseEvent*>(AEvent);
      if (widget == LStatus && mouse->button() == Qt::LeftButton) {
        StatusClick();
        return true;
      }
      if (widget == VolBoost && mouse->button() == Qt::LeftButton) {
        VolBoostClick();
        return true;
      }
      if (display && mouse->button() == Qt::LeftButton) {
        DragWindow(mouse);
        return true;
      }
      return false;
    }
    case QEvent::MouseMove: {
      auto* mouse = static_cast<QMouseEvent*>(AEvent);
      if (DraggingWindow && (mouse->buttons() & Qt::LeftButton)) {
        move(DragWindowOrigin + mouse->globalPosition().toPoint() - DragOrigin);
        return true;
      }
      if (Fullscreen) {
        if (display) {
          const QPoint at = OuterPanel->mapFromGlobal(mouse->globalPosition().toPoint());
          if (at.y() >= OuterPanel->height() - 8) ShowFullscreenControls(true);
        } else if (FullscreenControls &&
                   (widget == ControlPanel || ControlPanel->isAncestorOf(widget))) {
          FullscreenControlsHideAt = Clock.elapsed() + kFullscreenControlsMs;
        }
      }
      return false;
    }
    case QEvent::MouseButtonRelease:
      if (DraggingWindow) {
        DraggingWindow = false;
        return true;
      }
      return false;
    case QEvent::MouseButtonDblClick:
      return display;
    case QEvent::ContextMenu:
      if (display) {
        MPopup->popup(static_cast<QContextMenuEvent*>(AEvent)->globalPos());
        return true;
      }
      return false;
    default:
      return false;
  }
}

void TMainForm::DragWindow(QMouseEvent* AEvent) {
  if (Fullscreen) return;
  // The window manager moves the window; without one the window follows the mouse.
  if (windowHandle() && windowHandle()->startSystemMove()) return;
  DraggingWindow = true;
  DragOrigin = AEvent->globalPosition().toPoint();
  DragWindowOrigin = pos();
}

void TMainForm::showEvent(QShowEvent* AEvent) {
  QMainWindow::showEvent(AEvent);
  if (AEvent->spontaneous()) return;  // a restore from the task bar, not a show
  PlaceSideWindows();
  setAcceptDrops(true);
  if (Core.IsRunning() && BPause->isChecked()) SendAndClear(QStringLiteral("pause"));
  if (!Core.IsRunning() && !SuppressShowPlay) PlayNext(0, TEntryState::Playing);
}

void TMainForm::hideEvent(QHideEvent* AEvent) {
  QMainWindow::hideEvent(AEvent);
  if (!AEvent->spontaneous()) setAcceptDrops(false);
}

void TMainForm::closeEvent(QCloseEvent* AEvent) {
  AdvanceTimer.stop();
  PreviewTimer.stop();
  if (Fullscreen) SetFullscreen(false);
  Core.StopPlayer();
  Core.MediaArgument = {};
  BPlay->setEnabled(false);
  Playlist.Clear();
  for (QWidget* side : {static_cast<QWidget*>(PlaylistForm), static_cast<QWidget*>(InfoForm),
                        static_cast<QWidget*>(HelpForm)})
    side->hide();
  ScreenSaver.SetInhibited(false);
  AEvent->accept();
  if (OnClosed) QTimer::singleShot(0, this, [this] { OnClosed(); });
}

void TMainForm::resizeEvent(QResizeEvent* AEvent) {
  QMainWindow::resizeEvent(AEvent);
  UpdateSeekBar();
  if (IgnoreResize) {
    if (size() == ExpectedSize) {
      IgnoreResize = false;
    } else if (SinceProgramResize.elapsed() > kStaleResizeMs) {
      IgnoreResize = false;
      if (!Fullscreen && isVisible()) ASizeAny->setChecked(true);
    }
  } else if (!Fullscreen && isVisible()) {
    ASizeAny->setChecked(true);  // the user's own size
  }
  PlaceSideWindows();
}

void TMainForm::moveEvent(QMoveEvent* AEvent) {
  QMainWindow::moveEvent(AEvent);
  PlaceSideWindows();
}

void TMainForm::wheelEvent(QWheelEvent* AEvent) {
  const int step = AEvent->angleDelta().y() / 40;
  if (step != 0) ChangeVolume(step);
  AEvent->accept();
}

void TMainForm::dragEnterEvent(QDragEnterEvent* AEvent) {
  if (AEvent->mimeData()->hasUrls()) AEvent->acceptProposedAction();
}

void TMainForm::dropEvent(QDropEvent* AEvent) {
  const QList<QUrl> urls = AEvent->mimeData()->urls();
  if (urls.isEmpty()) return;
  AEvent->acceptProposedAction();
  FailuresInARow = 0;
  Playlist.Clear();
  for (const QUrl& url : urls) {
    const QString name = url.isLocalFile() ? url.toLocalFile() : url.toString();
    Playlist.Add(name.left(1024));
    for (const QString& note : Playlist.Notes) AddLogLine(note);
  }
  if (DropPending) return;
  DropPending = true;
  QTimer::singleShot(0, this, [this] {
    DropPending = false;
    PlayNext(0, TEntryState::Playing);
  });
}

void TMainForm::UpdateTimerTick() {
  if (Polling) QueryPosition();
  if (FullscreenControls && !FullscreenControlsSticky &&
      Clock.elapsed() >= FullscreenControlsHideAt)
    ShowFullscreenControls(false);
  UpdateScreenSaver();
  if (!Core.IsRunning() && Clock.elapsed() >= ShowLogoAt && !Logo->isVisible()) Logo->show();
}

void TMainForm::UpdateScreenSaver() {
  ScreenSaver.SetInhibited(Fullscreen && Core.IsRunning() && Core.HasVideo && isVisible());
}

// ---------------------------------------------------------------------------------------
// Sizes and modes

TMainForm::TSizeMode TMainForm::SizeMode() const {
  if (ASizeAny->isChecked()) return TSizeMode::Any;
  if (ASizeHalf->isChecked()) return TSizeMode::Half;
  if (ASizeDouble->isChecked()) return TSizeMode::Double;
  return TSizeMode::Original;
}

void TMainForm::SetSizeMode(TSizeMode AMode) {
  if (Fullscreen) return;
  switch (AMode) {
    case TSizeMode::Any:
      ASizeAny->setChecked(true);
      break;
    case TSizeMode::Half:
      ASizeHalf->setChecked(true);
      break;
    case TSizeMode::Original:
      ASizeOriginal->setChecked(true);
      break;
    case TSizeMode::Double:
      ASizeDouble->setChecked(true);
      break;
  }
  ApplyVideoSize();
}

void TMainForm::FitVideo() {
  if (!InnerPanel->isVisibleTo(OuterPanel)) return;
  const int cw = OuterPanel->width();
  const int ch = OuterPanel->height();
  const int vw = Core.VideoWidth;
  const int vh = Core.VideoHeight;
  if (vw <= 0 || vh <= 0) {
    InnerPanel->setGeometry(0, 0, cw, ch);
    return;
  }
  qint64 width = qint64(ch) * vw / vh;
  qint64 height = ch;
  if (width > cw) {
    width = cw;
    height = width * vh / vw;
  }
  InnerPanel->setGeometry(int((cw - width) / 2), int((ch - height) / 2), int(width), int(height));
}

void TMainForm::LayoutOuterPanel() {
  FitVideo();
  const int cw = OuterPanel->width();
  const int ch = OuterPanel->height();
  Logo->setGeometry((cw - 120) / 2, (ch - 100) / 2, 120, 100);
  LEscape->adjustSize();
  LEscape->move((cw - LEscape->width()) / 2, std::max(Logo->geometry().bottom() + 1, ch * 3 / 4));
}

void TMainForm::ApplyVideoSize() {
  const TSizeMode mode = SizeMode();
  if (mode == TSizeMode::Any || Core.VideoWidth <= 0 || Core.VideoHeight <= 0 || Fullscreen) {
    FitVideo();
    return;
  }
  int width = Core.VideoWidth;
  int height = Core.VideoHeight;
  if (mode == TSizeMode::Half) {
    width /= 2;
    height /= 2;
  } else if (mode == TSizeMode::Double) {
    width *= 2;
    height *= 2;
  }
  InnerPanel->show();
  // What the window holds besides its display area: the menu bar and the control panel
  // while they are shown (computed, so that a layout still pending does not matter).
  int extra = 0;
  if (!MenuBar->isHidden())
    extra += MenuBar->heightForWidth(width) > 0 ? MenuBar->heightForWidth(width)
                                                : MenuBar->sizeHint().height();
  if (!ControlPanel->isHidden()) extra += ControlPanel->height();
  SetProgramGeometry(QRect(geometry().topLeft(), QSize(width, height + extra)));
  FitVideo();
  if (FullscreenOnStart) {
    FullscreenOnStart = false;
    SetFullscreen(true);
  }
}

void TMainForm::SetProgramGeometry(const QRect& ARect) {
  const QSize size = ARect.size().expandedTo(minimumSize()).boundedTo(maximumSize());
  if (size != this->size()) {
    IgnoreResize = true;
    ExpectedSize = size;
    SinceProgramResize.restart();
  }
  setGeometry(QRect(ARect.topLeft(), size));
}

void TMainForm::SetTopMostFlag(bool AOn) {
  TopMost = AOn;
  const Qt::WindowFlags flags =
      AOn ? windowFlags() | Qt::WindowStaysOnTopHint : windowFlags() & ~Qt::WindowStaysOnTopHint;
  if (flags == windowFlags()) return;
  if (QWindow* window = windowHandle()) {
    // Told to the window as it is: a QWidget flag change would hide and show it again.
    overrideWindowFlags(flags);
    window->setFlags(flags);
  } else {
    setWindowFlags(flags);
  }
}

void TMainForm::SetFrameless(bool AOn) {
  const Qt::WindowFlags flags =
      AOn ? windowFlags() | Qt::FramelessWindowHint : windowFlags() & ~Qt::FramelessWindowHint;
  if (flags == windowFlags()) return;
  if (QWindow* window = windowHandle()) {
    overrideWindowFlags(flags);
    window->setFlags(flags);
  } else {
    setWindowFlags(flags);
  }
}

void TMainForm::SetFullscreen(bool AOn) {
  if (AOn == Fullscreen) return;
  if (AOn && Compact && !ModeSwitching) {
    ModeSwitching = true;
    SetCompact(false);
    ModeSwitching = false;
  }
  if (isMinimized() || isMaximized()) showNormal();
  Fullscreen = AOn;
  ShowFullscreenControls(false);
  FullscreenControls = false;
  BFullscreen->setChecked(AOn);
  if (AOn) {
    SavedGeometry = geometry();
    SavedTopMost = TopMost;
    QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
    const QRect area = s ? s->geometry() : QRect(0, 0, 1024, 768);
    MenuBar->hide();
    ControlPanel->hide();
    setMinimumSize(1, 1);
    SetFrameless(true);
    SetTopMostFlag(true);
    SetProgramGeometry(area);
    OuterPanel->setCursor(Qt::BlankCursor);
    LEscape->setVisible(!(Core.IsRunning() && Core.HasVideo));
  } else {
    LEscape->hide();
    OuterPanel->setCursor(Qt::PointingHandCursor);
    PStatus->show();
    ControlPanel->setFixedHeight(kControlPanelHeight);
    MenuBar->show();
    ControlPanel->show();
    SetFrameless(false);
    SetTopMostFlag(SavedTopMost);
    setMinimumSize(296, 119);
    SetProgramGeometry(SavedGeometry);
  }
  UpdateScreenSaver();
}

void TMainForm::ShowFullscreenControls(bool AOn, bool ASticky) {
  if (!Fullscreen) AOn = false;
  if (AOn == FullscreenControls) {
    if (AOn) FullscreenControlsSticky = ASticky;
    return;
  }
  FullscreenControls = AOn;
  FullscreenControlsSticky = AOn && ASticky;
  if (AOn) {
    PStatus->hide();
    ControlPanel->setFixedHeight(kControlPanelHeight - kStatusPanelHeight);
    ControlPanel->show();
    OuterPanel->setCursor(Qt::PointingHandCursor);
    FullscreenControlsHideAt = Clock.elapsed() + kFullscreenControlsMs;
  } else {
    ControlPanel->hide();
    PStatus->show();
    ControlPanel->setFixedHeight(kControlPanelHeight);
    if (Fullscreen) OuterPanel->setCursor(Qt::BlankCursor);
  }
}

void TMainForm::ToggleOnTop() {
  if (Fullscreen)
    SavedTopMost = !SavedTopMost;
  else
    SetTopMostFlag(!TopMost);
}

void TMainForm::SetCompact(bool AOn) {
  if (AOn == Compact) return;
  if (AOn && Fullscreen && !ModeSwitching) {
    ModeSwitching = true;
    SetFullscreen(false);
    ModeSwitching = false;
  }
  if (isMinimized() || isMaximized()) showNormal();
  Compact = AOn;
  BCompact->setChecked(AOn);
  const QRect g = geometry();
  if (AOn) {
    const int menu = MenuBar->isHidden() ? 0 : MenuBar->height();
    const int controls = ControlPanel->isHidden() ? 0 : ControlPanel->height();
    MenuBar->hide();
    ControlPanel->hide();
    setMinimumSize(1, 1);
    SetFrameless(true);
    SetProgramGeometry(
        QRect(g.left(), g.top() + menu, g.width(), std::max(16, g.height() - menu - controls)));
  } else {
    MenuBar->show();
    ControlPanel->show();
    const int menu = MenuBar->heightForWidth(g.width()) > 0 ? MenuBar->heightForWidth(g.width())
                                                            : MenuBar->sizeHint().height();
    SetFrameless(false);
    setMinimumSize(296, 119);
    SetProgramGeometry(
        QRect(g.left(), g.top() - menu, g.width(), g.height() + menu + kControlPanelHeight));
  }
}

void TMainForm::PlaceSideWindows() {
  if (Fullscreen) return;
  const QRect frame = frameGeometry();
  if (PlaylistForm && PlaylistForm->Docked)
    PlaylistForm->PlaceAt(QPoint(frame.left(), frame.bottom() + 1));
  if (InfoForm && InfoForm->Docked) InfoForm->PlaceAt(QPoint(frame.right() + 1, frame.top()));
}

}  // namespace tovamo::player
