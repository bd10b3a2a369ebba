// The player window's sizes and modes: the size modes, the video's fit, fullscreen with its
// controls, compact, always on top, and the docked side windows' places.
#include "Windows/MainForm.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

#include <algorithm>

#include "Windows/MainFormInternal.h"
#include "Windows/ScreenPlacement.h"

namespace tovamo::player {

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
  KeepOnScreen();
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
  ChangeWindowFlag(Qt::WindowStaysOnTopHint, AOn);
}

void TMainForm::SetFrameless(bool AOn) {
  ChangeWindowFlag(Qt::FramelessWindowHint, AOn);
}

void TMainForm::ChangeWindowFlag(Qt::WindowType AFlag, bool AOn) {
  const Qt::WindowFlags flags = AOn ? windowFlags() | AFlag : windowFlags() & ~AFlag;
  if (flags == windowFlags()) return;
  if (QWindow* window = windowHandle()) {
    // Told to the window as it is: a QWidget flag change would hide and show it again, and
    // the video panel's window id, which the player draws into, would change.
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
    // The strip's place is display area again: paint it now, not at the player's next frame
    // (a paused player draws none).
    OuterPanel->update();
    InnerPanel->update();
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
  KeepOnScreen();
}

QRect TMainForm::ScreenArea() const {
  QScreen* s = QGuiApplication::screenAt(frameGeometry().center());
  if (!s) s = screen() ? screen() : QGuiApplication::primaryScreen();
  return s ? s->availableGeometry() : QRect();
}

namespace {

// Where a docked side window goes: `APlace` kept on the screen with the window's frame.
QPoint OnScreen(const QWidget& ASide, const QPoint& APlace, const QRect& AArea) {
  return MovedInside(QRect(APlace, ASide.frameGeometry().size()), AArea).topLeft();
}

}  // namespace

void TMainForm::PlaceSideWindows() {
  if (Fullscreen) return;
  const QRect frame = frameGeometry();
  const QRect area = ScreenArea();
  if (PlaylistForm && PlaylistForm->Docked)
    PlaylistForm->PlaceAt(OnScreen(*PlaylistForm, QPoint(frame.left(), frame.bottom() + 1), area));
  if (InfoForm && InfoForm->Docked)
    InfoForm->PlaceAt(OnScreen(*InfoForm, QPoint(frame.right() + 1, frame.top()), area));
}

void TMainForm::KeepOnScreen() {
  if (Fullscreen || isMinimized() || isMaximized()) return;
  const QRect area = ScreenArea();
  if (!area.isValid()) return;
  // The window first, cut to the area when it alone is larger.
  const QRect frame = frameGeometry();
  const QRect fitted = FittedInside(frame, area);
  if (fitted.size() != frame.size())
    SetProgramGeometry(QRect(geometry().topLeft(), size() - (frame.size() - fitted.size())));
  // Then the group of it and the visible docked windows, moved as one while it fits.
  QRect group = frameGeometry();
  const QRect player = group;
  if (PlaylistForm && PlaylistForm->Docked && PlaylistForm->isVisible())
    group |=
        QRect(QPoint(player.left(), player.bottom() + 1), PlaylistForm->frameGeometry().size());
  if (InfoForm && InfoForm->Docked && InfoForm->isVisible())
    group |= QRect(QPoint(player.right() + 1, player.top()), InfoForm->frameGeometry().size());
  QPoint shift = MovedInside(group, area).topLeft() - group.topLeft();
  // A group taller or wider than the area: the window alone is kept inside.
  if (group.width() > area.width() || group.height() > area.height())
    shift = MovedInside(player, area).topLeft() - player.topLeft();
  if (!shift.isNull()) move(pos() + shift);
  PlaceSideWindows();
}

}  // namespace tovamo::player
