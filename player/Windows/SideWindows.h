// The player window's companions: the docked playlist window, the stream
// information window and the log window, and the keyboard help window.
#pragma once

#include <QAbstractListModel>
#include <QCheckBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QListView>
#include <QListWidget>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <optional>

#include "Core/MediaInfo.h"
#include "Windows/InfoText.h"
#include "Windows/Playlist.h"

namespace tovamo::player {

class TMainForm;

// A tool window that docks beside the player: a move the program did not make undocks it,
// a double-click on its free area docks it again.
class TSideWindow : public QWidget {
 public:
  explicit TSideWindow(QWidget* AParent);

  bool Docked = true;
  // Moves the window as the program's own move.
  void PlaceAt(const QPoint& APos);
  std::function<void()> OnRedock;
  std::function<void(bool)> OnVisibleChanged;

 protected:
  void moveEvent(QMoveEvent* AEvent) override;
  void mouseDoubleClickEvent(QMouseEvent* AEvent) override;
  void showEvent(QShowEvent* AEvent) override;
  void hideEvent(QHideEvent* AEvent) override;

 private:
  std::optional<QPoint> ExpectedPos;
  QElapsedTimer SinceProgramMove;
};

// The playlist's rows: display names with an icon for the state.
class TPlaylistModel : public QAbstractListModel {
 public:
  explicit TPlaylistModel(TPlaylist& APlaylist, QObject* AParent = nullptr);
  int rowCount(const QModelIndex& AParent = {}) const override;
  QVariant data(const QModelIndex& AIndex, int ARole) const override;
  void Refresh();

 private:
  TPlaylist& Playlist;
  int Rows = 0;
};

class TPlaylistForm : public TSideWindow {
 public:
  TPlaylistForm(TMainForm& AMain, TPlaylist& APlaylist);

  QListView* PlaylistBox;
  QPushButton* BPlay;
  QPushButton* BAdd;
  QPushButton* BMoveUp;
  QPushButton* BMoveDown;
  QPushButton* BDelete;
  QPushButton* BSave;
  QPushButton* BClose;
  QCheckBox* CShuffle;
  QCheckBox* CLoop;

  void Refresh();
  // The list box's selection into the entries' Selected flags, and back.
  void SelectionToEntries();
  void EntriesToSelection();
  void SelectRow(int ARow);
  void PlaySelected();
  void MoveSelected(int ADirection);
  void DeleteSelected();
  void SaveAs(const QString& AFileName);
  // Where Save saves without asking (tests); empty asks with the dialog.
  QString SaveFileNameForTest;

 protected:
  bool eventFilter(QObject* AObject, QEvent* AEvent) override;
  void keyPressEvent(QKeyEvent* AEvent) override;
  void dragEnterEvent(QDragEnterEvent* AEvent) override;
  void dropEvent(QDropEvent* AEvent) override;
  void showEvent(QShowEvent* AEvent) override;

 private:
  TMainForm& Main;
  TPlaylist& Playlist;
  TPlaylistModel* Model;
};

class TInfoForm : public TSideWindow {
 public:
  explicit TInfoForm(QWidget* AParent);

  QListWidget* InfoBox;
  QPushButton* BClose;
  int LabelWidth = 0;  // the widest label of the current fill
  std::function<const TMediaInfo&()> Info;

  void RefreshInfo();
  QStringList Rows() const;

 protected:
  void showEvent(QShowEvent* AEvent) override;
};

class TLogForm : public QWidget {
 public:
  explicit TLogForm(QWidget* AParent);

  static constexpr int kMaxLines = 20000;

  QPlainTextEdit* TheLog;
  QLineEdit* Command;
  QPushButton* BClose;
  QStringList History;
  int HistoryPosition = 0;
  std::function<void(const QString&)> SendCommand;

  void Clear();
  void AddLogLine(const QString& ALine);
  QString LastLine() const;
  void ReplaceLastLine(const QString& ALine);
  QStringList Lines() const;
  void ScrollToEnd();
  void EnterCommand();

 protected:
  bool eventFilter(QObject* AObject, QEvent* AEvent) override;
  void showEvent(QShowEvent* AEvent) override;
};

class TKeyboardHelpForm : public QDialog {
 public:
  explicit TKeyboardHelpForm(QWidget* AParent);
  static QString HelpText();
};

}  // namespace tovamo::player
