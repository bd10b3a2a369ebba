// The player window's answers to the player core (TPlayerWindow), and opening, playing,
// the volume, the side windows and the menus' state.
#include "Windows/MainForm.h"

#include <QActionGroup>
#include <QClipboard>
#include <QGuiApplication>
#include <QInputDialog>
#include <QStorageInfo>
#include <QStyle>

#include <cstdint>

#include "Core/PlayerText.h"

namespace tovamo::player {

namespace {

constexpr int kLogoDelayMs = 1500;

}  // namespace

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
  const bool failed = Core.PlayerState == TPlayerState::Failed;
  LStatus->setText(PlayerStateText(Core.PlayerState));
  LStatus->setCursor(failed ? Qt::PointingHandCursor : Qt::ArrowCursor);
  // The reason shows at once beside the status, whole in the tooltip; a click on either
  // opens the log.
  const QString reason = failed ? Core.FailureReason : QString();
  LStatus->setToolTip(reason);
  LReason->setToolTip(reason);
  LReason->setCursor(LStatus->cursor());
  LReason->setText(reason.isEmpty() ? QString() : QStringLiteral("  ") + reason);
  LReason->setVisible(!reason.isEmpty());
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
    KeepOnScreen();
  }
}

void TMainForm::ToggleInfo() {
  if (InfoForm->isVisible()) {
    InfoForm->hide();
  } else {
    PlaceSideWindows();
    InfoForm->show();
    KeepOnScreen();
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
}  // namespace tovamo::player
