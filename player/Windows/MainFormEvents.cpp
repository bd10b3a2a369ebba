// The player window's events: keys and mouse on its parts, show, hide, close, resize, move,
// wheel, drops, and the update timer's tick.
#include "Windows/MainForm.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHideEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QMoveEvent>
#include <QResizeEvent>
#include <QShowEvent>
#include <QUrl>
#include <QWheelEvent>
#include <QWindow>

#include "Windows/MainFormInternal.h"

namespace tovamo::player {

namespace {

constexpr qint64 kStaleResizeMs = 1000;

}  // namespace

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
      if ((widget == LStatus || widget == LReason) && mouse->button() == Qt::LeftButton) {
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
      if (DragWindow(mouse)) return true;
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
      return DragWindow(static_cast<QMouseEvent*>(AEvent));
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

bool TMainForm::DragWindow(QMouseEvent* AEvent) {
  const QPoint at = AEvent->globalPosition().toPoint();
  switch (AEvent->type()) {
    case QEvent::MouseButtonPress:
      if (!Fullscreen) Drag.Press(at, pos());
      return true;
    case QEvent::MouseButtonRelease:
      return AEvent->button() == Qt::LeftButton && Drag.Release();
    case QEvent::MouseMove:
      break;
    default:
      return false;
  }
  switch (Drag.Move(at, AEvent->buttons() & Qt::LeftButton, QApplication::startDragDistance())) {
    case TWindowDrag::TStep::None:
      return false;
    case TWindowDrag::TStep::StartMove:
      // The window manager moves the window; without one the window follows the mouse.
      if (StartSystemMove && StartSystemMove()) {
        Drag.HandedOver();
        return true;
      }
      Drag.FollowPointer();
      break;
    case TWindowDrag::TStep::Follow:
      break;
  }
  move(Drag.WindowPosition());
  return true;
}

void TMainForm::showEvent(QShowEvent* AEvent) {
  QMainWindow::showEvent(AEvent);
  if (AEvent->spontaneous()) return;  // a restore from the task bar, not a show
  KeepOnScreen();
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
}  // namespace tovamo::player
