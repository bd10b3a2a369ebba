#include "ConverterWindow.h"

#include "DesktopNotice.h"
#include "ElidedLabel.h"
#include "FileListDelegate.h"
#include "LogView.h"
#include "WindowPlacement.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace tovamo {
namespace {

QIcon ThemeIcon(const char* name, QStyle::StandardPixmap fallback) {
  return QIcon::fromTheme(name, QApplication::style()->standardIcon(fallback));
}

QAction* MakeAction(QObject* parent, const QString& text, const QString& hint,
                    std::function<void()> run) {
  auto* action = new QAction(text, parent);
  if (!hint.isEmpty()) {
    action->setToolTip(hint);
    action->setStatusTip(hint);
  }
  QObject::connect(action, &QAction::triggered, parent, [run = std::move(run)] { run(); });
  return action;
}

}  // namespace

TForm1::TForm1(TOptions options, QWidget* parent)
    : QMainWindow(parent), Options_(std::move(options)), Settings_(Options_.SettingsFile) {
  Confirm = [this](const QString& question) {
    return QMessageBox::question(this, QApplication::applicationName(), question,
                                 QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
  };
  ShowMessage = [this](const QString& message) {
    QMessageBox::information(this, QApplication::applicationName(), message);
  };
  auto* notice = new TDesktopNotice(this);
  OnBatchEnded = [notice](int completed, int failed, int stopped, const QString& folder) {
    notice->ShowBatchEnd(completed, failed, stopped, folder);
  };
  setWindowTitle("Tovamo For iPod");
  setAcceptDrops(true);
  CreateControls();
  CreateMenus();
  CreateToolBar();
  CreatePopupMenu();
  RestorePlacement();
  mmoLog->setPlainText("Info:");
  AttachHandlers();
  ReadyState();
}

TForm1::~TForm1() {
  SavePlacement();
  DetachHandlers();
  FFEncoder.Stop(true);
  SettleAllOutputs();
}

void TForm1::CreateControls() {
  listview1 = new QTreeWidget;
  listview1->setColumnCount(fcColumnCount);
  listview1->setHeaderLabels(
      {"Input", "Total Time", "File Size", "Progress", "FPS", "Used Time", "File Size"});
  listview1->setRootIsDecorated(false);
  listview1->setSelectionMode(QAbstractItemView::SingleSelection);
  listview1->setSelectionBehavior(QAbstractItemView::SelectRows);
  listview1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  listview1->setAlternatingRowColors(true);
  listview1->setCursor(Qt::PointingHandCursor);
  listview1->setToolTip("Double click to preview the selected file");
  listview1->setContextMenuPolicy(Qt::CustomContextMenu);
  // Files dropped on the list reach the window, which adds them.
  listview1->setAcceptDrops(false);
  listview1->viewport()->setAcceptDrops(false);
  listview1->header()->setStretchLastSection(false);
  listview1->header()->setMinimumSectionSize(40);
  // The user sizes every column; the widths are remembered with the window's place.
  listview1->header()->setSectionResizeMode(QHeaderView::Interactive);
  // Paths are long: the folder's start and the file's own name tell rows apart, the
  // whole path is the row's tooltip.
  listview1->setTextElideMode(Qt::ElideMiddle);
  listview1->setItemDelegate(new TFileListDelegate(fcProgress, listview1));
  connect(listview1, &QTreeWidget::itemDoubleClicked, this, [this] { PreviewClick(); });
  // While a batch runs the list still scrolls and selects: the row entries follow.
  connect(listview1, &QTreeWidget::itemSelectionChanged, this, [this] {
    if (!Converting_) ApplyControlStates();
    ApplyRowStates();
  });
  // Every change of a check box counts, however the row was ticked.
  connect(listview1, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem*, int column) {
    if (column != fcInput || Converting_) return;
    ApplyControlStates();
    RefreshDiscFit();
  });

  mmoLog = new QPlainTextEdit;
  mmoLog->setReadOnly(true);
  mmoLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  FollowLogEnd(mmoLog);

  Tabs = new QTabWidget;
  Tabs->addTab(listview1, "   Files   ");
  Tabs->addTab(mmoLog, "   Log   ");

  auto* splitter = new QSplitter(Qt::Vertical);
  splitter->addWidget(Tabs);
  splitter->addWidget(CreateBottomPanel());
  splitter->setStretchFactor(0, 1);
  splitter->setCollapsible(1, false);

  auto* central = new QWidget;
  auto* layout = new QHBoxLayout(central);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addWidget(CreateSidePanel());
  layout->addWidget(splitter, 1);
  setCentralWidget(central);

  // Texts that change never move or overlap their neighbours: each is cut to its place.
  StatusText = new TElidedLabel(300);
  StatusText->setText("Ready");
  StatusText->setMinimumWidth(180);
  statusBar()->addWidget(StatusText);
  OverallBar = new QProgressBar;
  OverallBar->setRange(0, 100);
  OverallBar->setFixedWidth(160);
  OverallBar->setMaximumHeight(StatusText->sizeHint().height() + 4);
  OverallBar->setToolTip("The whole batch");
  OverallBar->hide();
  statusBar()->addWidget(OverallBar);
  BatchSummary = new TElidedLabel(200);
  BatchSummary->setIndent(8);
  statusBar()->addWidget(BatchSummary, 1);

  countTimer = new QTimer(this);
  countTimer->setInterval(1000);
  connect(countTimer, &QTimer::timeout, this, [this] { ++ElapsedSeconds_; });
  countTimer->start();
  playTimer = new QTimer(this);
  playTimer->setSingleShot(true);
  playTimer->setInterval(100);
}

QWidget* TForm1::CreateSidePanel() {
  auto value = [] {
    auto* label = new QLabel;
    label->setMinimumWidth(70);
    label->setStyleSheet("font-weight: bold");
    return label;
  };
  auto* video = new QGroupBox("Output Video Format");
  auto* videoRows = new QFormLayout(video);
  videoRows->addRow("Codec", VideoCodecValue = value());
  videoRows->addRow("Bit Rate", VideoBitrateValue = value());
  videoRows->addRow("Width", WidthValue = value());
  videoRows->addRow("Height", HeightValue = value());
  videoRows->addRow("Frame Rate", FrameRateValue = value());
  videoRows->addRow("Aspect", AspectValue = value());
  auto* audio = new QGroupBox("Output Audio Format");
  auto* audioRows = new QFormLayout(audio);
  audioRows->addRow("Bit Rate", AudioBitrateValue = value());
  audioRows->addRow("Sample Rate", SampleRateValue = value());
  audioRows->addRow("Channels", ChannelsValue = value());

  auto* panel = new QWidget;
  auto* layout = new QVBoxLayout(panel);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(video);
  layout->addWidget(audio);
  layout->addStretch(1);
  panel->setFixedWidth(190);
  return panel;
}

QWidget* TForm1::CreateBottomPanel() {
  auto* panel = new QWidget;
  panel->setMinimumHeight(125);
  panel->setMaximumHeight(150);
  auto* grid = new QGridLayout(panel);
  grid->setContentsMargins(4, 4, 4, 4);

  Edit1 = new QLineEdit;
  FolderButton = new QPushButton("..");
  FolderButton->setToolTip("Select the output directory");
  FolderButton->setMaximumWidth(32);
  LaunchButton = new QPushButton("Launch");
  LaunchButton->setToolTip("Launch the output directory");
  ComboBox1 = new QComboBox;
  ComboBox1->setEditable(false);
  ComboBox2 = new QComboBox;
  ComboBox2->addItems({"4:3", "16:9"});
  ComboBox2->setCurrentText("4:3");

  Button1 = new QPushButton("Convert");
  Button1->setToolTip("Start the conversion");
  Button5 = new QPushButton("Stop");
  Button5->setToolTip("Stop the conversion");
  Button6 = new QPushButton("Pause");
  Button6->setToolTip("Pause the conversion");
  Button7 = new QPushButton("Resume");
  Button7->setToolTip("Resume the conversion");

  grid->addWidget(new QLabel("Output Path:"), 0, 0);
  grid->addWidget(Edit1, 0, 1, 1, 2);
  grid->addWidget(FolderButton, 0, 3);
  grid->addWidget(LaunchButton, 0, 4);
  grid->addWidget(new QLabel("File Type:"), 1, 0);
  grid->addWidget(ComboBox1, 1, 1, 1, 4);
  grid->addWidget(new QLabel("Aspect:"), 2, 0);
  grid->addWidget(ComboBox2, 2, 1);
  grid->addWidget(CreateDiscFitBox(), 2, 2, 1, 3);
  grid->addWidget(new QLabel("Quality:"), 3, 0);
  grid->addWidget(CreateQualityBox(), 3, 1);
  auto* buttons = new QHBoxLayout;
  for (QPushButton* b : {Button1, Button5, Button6, Button7}) buttons->addWidget(b);
  grid->addLayout(buttons, 4, 0, 1, 5);
  // The aspect box needs little room: the fit to disc beside it takes the rest.
  grid->setColumnStretch(1, 0);
  grid->setColumnStretch(2, 1);

  connect(Edit1, &QLineEdit::editingFinished, this, [this] { RememberOutputFolder(); });
  connect(FolderButton, &QPushButton::clicked, this, [this] { ChooseFolderClick(); });
  connect(LaunchButton, &QPushButton::clicked, this, [this] { LaunchClick(); });
  connect(Button1, &QPushButton::clicked, this, [this] { ConvertClick(); });
  connect(Button5, &QPushButton::clicked, this, [this] { StopClick(); });
  connect(Button6, &QPushButton::clicked, this, [this] { PauseClick(); });
  connect(Button7, &QPushButton::clicked, this, [this] { ResumeClick(); });
  connect(ComboBox1, &QComboBox::activated, this, [this] { ProfileBoxChanged(); });
  connect(ComboBox2, &QComboBox::activated, this, [this] { AspectBoxChanged(); });
  return panel;
}

void TForm1::CreateMenus() {
  TActions& a = Actions;
  a.Add = MakeAction(this, "&Add", "Add the input files", [this] { AddClick(); });
  a.Remove = MakeAction(this, "&Remove", "Remove the selected files", [this] { RemoveClick(); });
  a.Clear = MakeAction(this, "&Clear", "Clear all files", [this] { ClearClick(); });
  a.Select = MakeAction(this, "&Select", "", [this] { SelectClick(true); });
  a.Unselect = MakeAction(this, "&Unselect", "", [this] { SelectClick(false); });
  a.SelectAll = MakeAction(this, "Select &All", "", [this] { SelectAllClick(true); });
  a.UnselectAll = MakeAction(this, "Unselect All", "", [this] { SelectAllClick(false); });
  a.Exit = MakeAction(this, "&Exit", "", [this] { close(); });
  a.Convert = MakeAction(this, "&Convert", "Start the Conversion", [this] { ConvertClick(); });
  a.Stop = MakeAction(this, "&Stop", "Stop the conversion", [this] { StopClick(); });
  // Only the menus' entries carry keys: the same key on two actions would be ambiguous.
  a.Add->setShortcut(QKeySequence::Open);
  a.Remove->setShortcut(QKeySequence::Delete);
  a.Convert->setShortcuts(
      {QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)});
  a.Stop->setShortcut(Qt::Key_Escape);
  a.Pause = MakeAction(this, "Pause", "Pause the conversion", [this] { PauseClick(); });
  a.Resume = MakeAction(this, "&Resume", "Resume the conversion", [this] { ResumeClick(); });
  a.Preview = MakeAction(this, "&Preview", "Preview the selected file", [this] { PreviewClick(); });
  a.Content = MakeAction(this, "&Content", "", [] {});
  a.Content->setEnabled(false);
  a.About = MakeAction(this, "&About", "", [this] { AboutClick(); });
  // Shows the frames being converted in a small floating window.
  a.PreviewFrames = MakeAction(this, "Preview &Frames", "Show the frames while converting", [] {});
  a.PreviewFrames->setCheckable(true);
  connect(a.PreviewFrames, &QAction::toggled, this, [this](bool on) { FFEncoder.SetPreview(on); });

  // On unless the user turned it off, and remembered like the profile choices.
  a.KeepProportions =
      MakeAction(this, "&Keep Proportions",
                 "Black bars keep a picture's proportions; off: it is stretched", [] {});
  a.KeepProportions->setCheckable(true);
  a.KeepProportions->setChecked(Settings_.Read("proportions").trimmed() != "0");
  connect(a.KeepProportions, &QAction::toggled, this,
          [this](bool on) { Settings_.Write("proportions", on ? "1" : "0"); });

  QMenu* file = menuBar()->addMenu("   &File   ");
  file->addActions({a.Add, a.Remove, a.Clear});
  file->addSeparator();
  file->addActions({a.Select, a.Unselect, a.SelectAll, a.UnselectAll});
  file->addSeparator();
  file->addAction(a.Exit);
  QMenu* action = menuBar()->addMenu("   &Action   ");
  action->addActions({a.Convert, a.Stop, a.Pause, a.Resume});
  action->addSeparator()->setVisible(false);
  action->addAction(a.Preview);
  action->addSeparator();
  action->addAction(a.PreviewFrames);
  action->addAction(a.KeepProportions);
  action->addSeparator();
  CreateDiscActions();
  action->addAction(a.MakeDiscImage);
  QMenu* help = menuBar()->addMenu("   &Help   ");
  help->addAction(a.Content);
  help->addSeparator();
  help->addAction(a.About);

  a.AddGroup = {a.Add};
  a.RemoveGroup = {a.Remove};
  a.ClearGroup = {a.Clear};
  a.PreviewGroup = {a.Preview};
  a.ConvertGroup = {a.Convert};
  a.SelectGroup = {a.Select, a.Unselect, a.SelectAll, a.UnselectAll};
}

void TForm1::CreateToolBar() {
  QToolBar* bar = addToolBar("Tools");
  bar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  bar->setMovable(false);
  auto button = [&](const char* text, const char* hint, const char* icon,
                    QStyle::StandardPixmap fallback, std::function<void()> run) {
    QAction* action = MakeAction(this, text, hint, std::move(run));
    action->setIcon(ThemeIcon(icon, fallback));
    bar->addAction(action);
    return action;
  };
  TActions& a = Actions;
  a.AddGroup.push_back(button("Add", "Add the input files", "list-add",
                              QStyle::SP_FileDialogNewFolder, [this] { AddClick(); }));
  a.RemoveGroup.push_back(button("Remove", "Remove the selected files", "list-remove",
                                 QStyle::SP_DialogDiscardButton, [this] { RemoveClick(); }));
  a.ClearGroup.push_back(button("Clear", "Clear all files", "edit-clear",
                                QStyle::SP_DialogResetButton, [this] { ClearClick(); }));
  bar->addSeparator();
  a.PreviewGroup.push_back(button("Preview", "Preview the selected file", "media-playback-start",
                                  QStyle::SP_MediaPlay, [this] { PreviewClick(); }));
  bar->addSeparator();
  a.ConvertGroup.push_back(button("    Convert    ", "Start the Conversion", "system-run",
                                  QStyle::SP_DialogApplyButton, [this] { ConvertClick(); }));
  QAction* stop = button("Stop", "", "process-stop", QStyle::SP_BrowserStop, [] {});
  stop->setVisible(false);
}

void TForm1::CreatePopupMenu() {
  auto* popup = new QMenu(this);
  TActions& a = Actions;
  auto entry = [&](const char* text, std::function<void()> run) {
    QAction* action = MakeAction(this, text, "", std::move(run));
    popup->addAction(action);
    return action;
  };
  a.AddGroup.push_back(entry("Add", [this] { AddClick(); }));
  a.RemoveGroup.push_back(entry("Remove", [this] { RemoveClick(); }));
  a.ClearGroup.push_back(entry("Clear", [this] { ClearClick(); }));
  popup->addSeparator();
  a.SelectGroup.push_back(entry("Select All", [this] { SelectAllClick(true); }));
  a.SelectGroup.push_back(entry("Unselect All", [this] { SelectAllClick(false); }));
  popup->addSeparator();
  a.ConvertGroup.push_back(entry("Convert", [this] { ConvertClick(); }));
  a.PreviewGroup.push_back(entry("Preview", [this] { PreviewClick(); }));
  popup->addSeparator();
  a.StopRow = entry("Stop", [this] { StopRowClick(); });
  a.StopRow->setStatusTip("Stop this file's conversion; the others go on");
  a.PlayOutput = entry("Play Output", [this] { PlayOutputClick(); });
  a.PlayOutput->setStatusTip("Play the converted file in the player");
  connect(listview1, &QWidget::customContextMenuRequested, this, [this, popup](const QPoint& at) {
    // The menu is about the row under the pointer.
    if (QTreeWidgetItem* row = listview1->itemAt(at)) listview1->setCurrentItem(row);
    ApplyRowStates();
    popup->popup(listview1->viewport()->mapToGlobal(at));
  });
}

}  // namespace tovamo
