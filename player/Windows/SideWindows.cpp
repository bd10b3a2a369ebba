#include "Windows/SideWindows.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTextBlock>
#include <QTextCursor>
#include <QVBoxLayout>

#include "Windows/MainForm.h"

namespace tovamo::player {

namespace {

// A move within this time of a program move counts as the program's (the window manager
// settling the window).
constexpr qint64 kProgramMoveMs = 500;

// The state icons: playing, played, skipped.
QIcon StateIcon(TEntryState AState) {
  static QIcon icons[4];
  const int i = int(AState);
  if (i == 0) return {};
  if (icons[i].isNull()) {
    QPixmap pixmap(12, 12);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    if (AState == TEntryState::Playing) {
      p.setBrush(QColor(0, 160, 0));
      p.setPen(Qt::NoPen);
      p.drawPolygon(QPolygon({QPoint(2, 1), QPoint(11, 6), QPoint(2, 11)}));
    } else if (AState == TEntryState::Played) {
      p.setPen(QPen(QColor(0, 90, 200), 2));
      p.drawPolyline(QPolygon({QPoint(1, 6), QPoint(4, 10), QPoint(11, 2)}));
    } else {
      p.setPen(QPen(QColor(150, 150, 150), 2));
      p.drawLine(2, 2, 10, 10);
      p.drawLine(10, 2, 2, 10);
    }
    icons[i] = QIcon(pixmap);
  }
  return icons[i];
}

// The info rows: group titles bold on the button face, labels and values in two columns.
class TInfoDelegate : public QStyledItemDelegate {
 public:
  explicit TInfoDelegate(TInfoForm& AForm) : QStyledItemDelegate(&AForm), Form(AForm) {}
  void paint(QPainter* APainter, const QStyleOptionViewItem& AOption,
             const QModelIndex& AIndex) const override {
    const QString text = AIndex.data().toString();
    const QRect r = AOption.rect;
    APainter->save();
    if (text.startsWith(QLatin1Char('!'))) {
      APainter->fillRect(r, AOption.palette.button());
      QFont bold = AOption.font;
      bold.setBold(true);
      APainter->setFont(bold);
      APainter->setPen(AOption.palette.buttonText().color());
      APainter->drawText(r.adjusted(2, 1, 0, 0), Qt::AlignLeft | Qt::AlignTop, text.mid(1));
    } else {
      APainter->fillRect(r, AOption.palette.base());
      APainter->setPen(AOption.palette.text().color());
      const qsizetype tab = text.indexOf(QLatin1Char('\t'));
      APainter->drawText(r.adjusted(2, 1, 0, 0), Qt::AlignLeft | Qt::AlignTop, text.left(tab));
      if (tab >= 0)
        APainter->drawText(r.adjusted(Form.LabelWidth + 10, 1, 0, 0), Qt::AlignLeft | Qt::AlignTop,
                           text.mid(tab + 1));
    }
    APainter->restore();
  }
  QSize sizeHint(const QStyleOptionViewItem& AOption, const QModelIndex& AIndex) const override {
    return {AOption.rect.width(), 16};
  }

 private:
  TInfoForm& Form;
};

}  // namespace

// ---------------------------------------------------------------------------------------
// TSideWindow

TSideWindow::TSideWindow(QWidget* AParent) : QWidget(AParent, Qt::Tool) {
  SinceProgramMove.start();
}

void TSideWindow::PlaceAt(const QPoint& APos) {
  if (pos() == APos) return;
  ExpectedPos = APos;
  SinceProgramMove.restart();
  move(APos);
}

void TSideWindow::moveEvent(QMoveEvent* AEvent) {
  QWidget::moveEvent(AEvent);
  if (ExpectedPos && pos() == *ExpectedPos) {
    ExpectedPos.reset();
    return;
  }
  if (ExpectedPos && SinceProgramMove.elapsed() < kProgramMoveMs) return;
  ExpectedPos.reset();
  if (isVisible()) Docked = false;
}

void TSideWindow::mouseDoubleClickEvent(QMouseEvent* AEvent) {
  Docked = true;
  if (OnRedock) OnRedock();
}

void TSideWindow::showEvent(QShowEvent* AEvent) {
  QWidget::showEvent(AEvent);
  if (OnVisibleChanged) OnVisibleChanged(true);
}

void TSideWindow::hideEvent(QHideEvent* AEvent) {
  QWidget::hideEvent(AEvent);
  if (OnVisibleChanged) OnVisibleChanged(false);
}

// ---------------------------------------------------------------------------------------
// TPlaylistModel

TPlaylistModel::TPlaylistModel(TPlaylist& APlaylist, QObject* AParent)
    : QAbstractListModel(AParent), Playlist(APlaylist) {}

int TPlaylistModel::rowCount(const QModelIndex& AParent) const {
  return AParent.isValid() ? 0 : Rows;
}

QVariant TPlaylistModel::data(const QModelIndex& AIndex, int ARole) const {
  if (!AIndex.isValid() || AIndex.row() >= Playlist.Count()) return {};
  const TPlaylistEntry& entry = Playlist.Entry(AIndex.row());
  if (ARole == Qt::DisplayRole) return entry.DisplayName;
  if (ARole == Qt::ToolTipRole) return entry.FileName;
  if (ARole == Qt::DecorationRole) return StateIcon(entry.State);
  return {};
}

void TPlaylistModel::Refresh() {
  if (Rows != Playlist.Count()) {
    beginResetModel();
    Rows = Playlist.Count();
    endResetModel();
  } else if (Rows > 0) {
    emit dataChanged(index(0), index(Rows - 1));
  }
}

// ---------------------------------------------------------------------------------------
// TPlaylistForm

TPlaylistForm::TPlaylistForm(TMainForm& AMain, TPlaylist& APlaylist)
    : TSideWindow(&AMain), Main(AMain), Playlist(APlaylist) {
  setWindowTitle(QStringLiteral("Play List"));
  setObjectName(QStringLiteral("PlaylistForm"));
  setMinimumSize(348, 215);
  resize(370, 261);
  setAcceptDrops(true);

  Model = new TPlaylistModel(Playlist, this);
  PlaylistBox = new QListView(this);
  PlaylistBox->setModel(Model);
  PlaylistBox->setSelectionMode(QAbstractItemView::ExtendedSelection);
  PlaylistBox->setUniformItemSizes(true);
  PlaylistBox->setIconSize(QSize(12, 12));
  PlaylistBox->setEditTriggers(QAbstractItemView::NoEditTriggers);
  PlaylistBox->installEventFilter(this);
  QObject::connect(PlaylistBox, &QListView::doubleClicked, this, [this](const QModelIndex& AIndex) {
    SelectRow(AIndex.row());
    PlaySelected();
  });

  BPlay = new QPushButton(QStringLiteral("Play"), this);
  BAdd = new QPushButton(QStringLiteral("Add"), this);
  BMoveUp = new QPushButton(QStringLiteral("Move up"), this);
  BMoveDown = new QPushButton(QStringLiteral("Move down"), this);
  BDelete = new QPushButton(QStringLiteral("Delete"), this);
  BSave = new QPushButton(QStringLiteral("Save"), this);
  BClose = new QPushButton(QStringLiteral("Close"), this);
  CShuffle = new QCheckBox(QStringLiteral("Shuffle"), this);
  CLoop = new QCheckBox(QStringLiteral("Repeat"), this);
  for (QPushButton* b : {BPlay, BAdd, BMoveUp, BMoveDown, BDelete, BSave, BClose}) {
    b->setAutoDefault(false);
    b->setFocusPolicy(Qt::TabFocus);
  }

  auto* buttons = new QGridLayout;
  buttons->addWidget(BPlay, 0, 0);
  buttons->addWidget(BAdd, 0, 1);
  buttons->addWidget(BMoveUp, 0, 2);
  buttons->addWidget(BMoveDown, 0, 3);
  buttons->addWidget(BDelete, 1, 0);
  buttons->addWidget(BSave, 1, 1);
  buttons->addWidget(CShuffle, 1, 2);
  buttons->addWidget(CLoop, 1, 3);
  buttons->addWidget(BClose, 1, 4);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addWidget(PlaylistBox, 1);
  layout->addLayout(buttons);

  QObject::connect(BPlay, &QPushButton::clicked, this, [this] { PlaySelected(); });
  QObject::connect(BAdd, &QPushButton::clicked, this, [this] {
    const QStringList names = Main.AskOpenFiles(true);
    for (const QString& name : names) Playlist.Add(name);
    for (const QString& note : Playlist.Notes) Main.AddLogLine(note);
  });
  QObject::connect(BMoveUp, &QPushButton::clicked, this, [this] { MoveSelected(-1); });
  QObject::connect(BMoveDown, &QPushButton::clicked, this, [this] { MoveSelected(+1); });
  QObject::connect(BDelete, &QPushButton::clicked, this, [this] { DeleteSelected(); });
  QObject::connect(BSave, &QPushButton::clicked, this, [this] {
    QString name = SaveFileNameForTest;
    if (name.isEmpty()) {
      QFileDialog dialog(this, QStringLiteral("Save Playlist ..."));
      dialog.setAcceptMode(QFileDialog::AcceptSave);
      dialog.setNameFilters(
          {QStringLiteral("M3U Playlist (*.m3u)"), QStringLiteral("All Files (*)")});
      dialog.setDefaultSuffix(QStringLiteral("m3u"));
      if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
      name = dialog.selectedFiles().first();
    }
    SaveAs(name);
  });
  QObject::connect(BClose, &QPushButton::clicked, this, &QWidget::hide);
  QObject::connect(CShuffle, &QCheckBox::toggled, this, [this](bool AOn) {
    Playlist.Shuffle = AOn;
    Main.PlaylistForm->Refresh();
    Main.UpdateTimeText();  // nothing to show; the buttons follow below
    if (Main.Core.IsRunning()) Main.ShowPlayingControls();
  });
  QObject::connect(CLoop, &QCheckBox::toggled, this, [this](bool AOn) { Playlist.Loop = AOn; });
}

void TPlaylistForm::Refresh() {
  Model->Refresh();
  const int current = Playlist.Current();
  if (current >= 0 && !PlaylistBox->selectionModel()->isSelected(Model->index(current)))
    SelectRow(current);
}

void TPlaylistForm::SelectRow(int ARow) {
  if (ARow < 0 || ARow >= Model->rowCount()) return;
  PlaylistBox->selectionModel()->select(Model->index(ARow), QItemSelectionModel::ClearAndSelect);
  PlaylistBox->selectionModel()->setCurrentIndex(Model->index(ARow), QItemSelectionModel::NoUpdate);
  PlaylistBox->scrollTo(Model->index(ARow));
}

void TPlaylistForm::SelectionToEntries() {
  for (int i = 0; i < Playlist.Count(); ++i)
    Playlist.Entry(i).Selected =
        i < Model->rowCount() && PlaylistBox->selectionModel()->isSelected(Model->index(i));
}

void TPlaylistForm::EntriesToSelection() {
  QItemSelection selection;
  for (int i = 0; i < Playlist.Count() && i < Model->rowCount(); ++i)
    if (Playlist.Entry(i).Selected) selection.select(Model->index(i), Model->index(i));
  PlaylistBox->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
}

void TPlaylistForm::PlaySelected() {
  const QModelIndexList rows = PlaylistBox->selectionModel()->selectedRows();
  if (rows.isEmpty()) return;
  int row = PlaylistBox->currentIndex().isValid() &&
                    PlaylistBox->selectionModel()->isSelected(PlaylistBox->currentIndex())
                ? PlaylistBox->currentIndex().row()
                : rows.first().row();
  Main.PlayEntry(row);
}

void TPlaylistForm::MoveSelected(int ADirection) {
  SelectionToEntries();
  if (ADirection < 0)
    Playlist.MoveUp();
  else
    Playlist.MoveDown();
  EntriesToSelection();
  PlaylistBox->viewport()->update();
}

void TPlaylistForm::DeleteSelected() {
  SelectionToEntries();
  Playlist.DeleteSelected();
  PlaylistBox->clearSelection();
}

void TPlaylistForm::SaveAs(const QString& AFileName) {
  if (!Playlist.Save(AFileName))
    Main.AddLogLine(QStringLiteral("Cannot save the playlist %1").arg(AFileName));
}

bool TPlaylistForm::eventFilter(QObject* AObject, QEvent* AEvent) {
  if (AObject == PlaylistBox && AEvent->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(AEvent);
    if (key->key() == Qt::Key_L && !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
      hide();
      return true;
    }
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
      PlaySelected();
      return true;
    }
    if (key->key() == Qt::Key_Delete) {
      DeleteSelected();
      return true;
    }
  }
  return TSideWindow::eventFilter(AObject, AEvent);
}

void TPlaylistForm::keyPressEvent(QKeyEvent* AEvent) {
  if (AEvent->key() == Qt::Key_L) {
    hide();
    return;
  }
  TSideWindow::keyPressEvent(AEvent);
}

void TPlaylistForm::dragEnterEvent(QDragEnterEvent* AEvent) {
  if (AEvent->mimeData()->hasUrls()) AEvent->acceptProposedAction();
}

void TPlaylistForm::dropEvent(QDropEvent* AEvent) {
  for (const QUrl& url : AEvent->mimeData()->urls()) {
    const QString name = url.isLocalFile() ? url.toLocalFile() : url.toString();
    Playlist.Add(name.left(1024));
  }
  Main.BPlay->setEnabled(Playlist.Count() > 0);
  AEvent->acceptProposedAction();
}

void TPlaylistForm::showEvent(QShowEvent* AEvent) {
  TSideWindow::showEvent(AEvent);
  Refresh();
}

// ---------------------------------------------------------------------------------------
// TInfoForm

TInfoForm::TInfoForm(QWidget* AParent) : TSideWindow(AParent) {
  setWindowTitle(QStringLiteral("Stream info"));
  setObjectName(QStringLiteral("InfoForm"));
  resize(300, 296);
  InfoBox = new QListWidget(this);
  InfoBox->setItemDelegate(new TInfoDelegate(*this));
  InfoBox->setUniformItemSizes(true);
  InfoBox->setSelectionMode(QAbstractItemView::NoSelection);
  InfoBox->setFocusPolicy(Qt::NoFocus);
  BClose = new QPushButton(QStringLiteral("Close"), this);
  BClose->setAutoDefault(false);
  QObject::connect(BClose, &QPushButton::clicked, this, &QWidget::hide);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addWidget(InfoBox, 1);
  auto* row = new QHBoxLayout;
  row->addStretch(1);
  row->addWidget(BClose);
  layout->addLayout(row);
}

void TInfoForm::RefreshInfo() {
  if (!isVisible() || !Info) return;
  InfoBox->clear();
  LabelWidth = 0;
  const QFontMetrics metrics(InfoBox->font());
  for (const QString& row : BuildInfoRows(Info())) {
    const qsizetype tab = row.indexOf(QLatin1Char('\t'));
    if (tab >= 0) LabelWidth = std::max(LabelWidth, metrics.horizontalAdvance(row.left(tab)));
    InfoBox->addItem(row);
  }
}

QStringList TInfoForm::Rows() const {
  QStringList rows;
  for (int i = 0; i < InfoBox->count(); ++i) rows << InfoBox->item(i)->text();
  return rows;
}

void TInfoForm::showEvent(QShowEvent* AEvent) {
  TSideWindow::showEvent(AEvent);
  RefreshInfo();
}

// ---------------------------------------------------------------------------------------
// TLogForm

TLogForm::TLogForm(QWidget* AParent) : QWidget(AParent, Qt::Window) {
  setWindowTitle(QStringLiteral("Output"));
  setObjectName(QStringLiteral("LogForm"));
  resize(560, 360);
  TheLog = new QPlainTextEdit(this);
  TheLog->setReadOnly(true);
  TheLog->setLineWrapMode(QPlainTextEdit::NoWrap);
  TheLog->setMaximumBlockCount(kMaxLines);
  TheLog->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  Command = new QLineEdit(this);
  Command->setPlaceholderText(QStringLiteral("slave command, Enter sends it"));
  Command->installEventFilter(this);
  BClose = new QPushButton(QStringLiteral("Close"), this);
  BClose->setAutoDefault(false);
  QObject::connect(BClose, &QPushButton::clicked, this, &QWidget::hide);
  QObject::connect(Command, &QLineEdit::returnPressed, this, [this] { EnterCommand(); });
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addWidget(TheLog, 1);
  auto* row = new QHBoxLayout;
  row->addWidget(Command, 1);
  row->addWidget(BClose);
  layout->addLayout(row);
}

void TLogForm::Clear() {
  TheLog->clear();
}

void TLogForm::AddLogLine(const QString& ALine) {
  TheLog->appendPlainText(ALine);
  if (isVisible()) ScrollToEnd();
}

QString TLogForm::LastLine() const {
  if (TheLog->document()->isEmpty()) return {};
  return TheLog->document()->lastBlock().text();
}

void TLogForm::ReplaceLastLine(const QString& ALine) {
  if (TheLog->document()->isEmpty()) return;
  QTextCursor cursor(TheLog->document()->lastBlock());
  cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
  cursor.insertText(ALine);
}

QStringList TLogForm::Lines() const {
  if (TheLog->document()->isEmpty()) return {};
  return TheLog->toPlainText().split(QLatin1Char('\n'));
}

void TLogForm::ScrollToEnd() {
  TheLog->verticalScrollBar()->setValue(TheLog->verticalScrollBar()->maximum());
}

void TLogForm::EnterCommand() {
  const QString command = Command->text();
  AddLogLine(QStringLiteral("> ") + command);
  if (SendCommand) SendCommand(command);
  History << command;
  HistoryPosition = int(History.size());
  Command->clear();
}

bool TLogForm::eventFilter(QObject* AObject, QEvent* AEvent) {
  if (AObject == Command && AEvent->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(AEvent);
    if (key->key() == Qt::Key_Up) {
      if (HistoryPosition > 0) Command->setText(History[--HistoryPosition]);
      return true;
    }
    if (key->key() == Qt::Key_Down) {
      if (HistoryPosition < History.size()) {
        ++HistoryPosition;
        if (HistoryPosition < History.size())
          Command->setText(History[HistoryPosition]);
        else
          Command->clear();
      }
      return true;
    }
  }
  return QWidget::eventFilter(AObject, AEvent);
}

void TLogForm::showEvent(QShowEvent* AEvent) {
  QWidget::showEvent(AEvent);
  ScrollToEnd();
}

// ---------------------------------------------------------------------------------------
// TKeyboardHelpForm

TKeyboardHelpForm::TKeyboardHelpForm(QWidget* AParent) : QDialog(AParent) {
  setWindowTitle(QStringLiteral("Keyboard help"));
  setObjectName(QStringLiteral("HelpForm"));
  resize(420, 520);
  auto* text = new QPlainTextEdit(this);
  text->setReadOnly(true);
  text->setPlainText(HelpText());
  auto* close = new QPushButton(QStringLiteral("Close"), this);
  QObject::connect(close, &QPushButton::clicked, this, &QWidget::hide);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(text, 1);
  auto* row = new QHBoxLayout;
  row->addStretch(1);
  row->addWidget(close);
  layout->addLayout(row);
}

QString TKeyboardHelpForm::HelpText() {
  return QStringLiteral(
      "Enter\tplay\n"
      "Space, P\tpause / resume; while paused: next frame\n"
      "Right / Left\tseek 10 s forward / back\n"
      "Up / Down\tseek 1 min forward / back\n"
      "Page Up / Down\tseek 10 min forward / back\n"
      "0, keypad *\tvolume up\n"
      "9, keypad /\tvolume down\n"
      "M\tmute\n"
      "1 / 2\tcontrast down / up\n"
      "3 / 4\tbrightness down / up\n"
      "5 / 6\thue down / up\n"
      "7 / 8\tsaturation down / up\n"
      "keypad + / -\taudio delay -0.1 s / +0.1 s\n"
      "/\tnext audio track\n"
      "D\tframe dropping\n"
      "S\tscreenshot\n"
      "O\ton-screen display level\n"
      "F, Alt+Enter\tfullscreen\n"
      "Tab\tcontrols in fullscreen\n"
      "C\tcompact mode\n"
      "Escape\tleave fullscreen or compact mode\n"
      "T\talways on top\n"
      "L\tplaylist\n"
      "Q, Alt+F4\tclose\n"
      "Ctrl+O\topen file\n"
      "Ctrl+L\topen URL\n"
      "Ctrl+W\tclose the media\n"
      "Ctrl+0\tnormal speed\n"
      "Ctrl+keypad * / /\tfaster / slower\n"
      "Alt+0 .. Alt+3\tany, half, original, double size\n"
      "Alt+4 .. Alt+8\tFile, View, Seek, Extra, Help menu\n");
}

}  // namespace tovamo::player
