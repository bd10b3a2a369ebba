// The player window's keyboard map: what each key does, also for the menus' key actions.
#include "Windows/MainForm.h"

namespace tovamo::player {

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
}  // namespace tovamo::player
