// Process control: starting, commanding and ending the MPlayer child process.
#include "Core/PlayerCore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "Core/CommandLine.h"
#include "Core/PlayerProgram.h"
#include "Core/PlayerText.h"

namespace tovamo::player {

namespace {

// How long to wait for a killed player to be reaped.
constexpr int kKillWaitMs = 10000;
// How long fork and exec may take before a start counts as failed.
constexpr int kStartWaitMs = 10000;

// The errno that best explains why a start failed: QProcess reports only a text.
int StartErrorCode(const QString& AProgram, const QString& AWorkingDir) {
  if (::access(QFile::encodeName(AProgram).constData(), X_OK) != 0) return errno;
  if (!QFileInfo(AWorkingDir).isDir()) return ENOENT;
  return ENOEXEC;
}

}  // namespace

TPlayerCore::TPlayerCore(TPlayerWindow& AWindow, QObject* AParent)
    : QObject(AParent), Window(AWindow) {
  QuitTimer.setSingleShot(true);
  QObject::connect(&QuitTimer, &QTimer::timeout, this, [this] {
    if (!Process) return;
    AddLog(QStringLiteral("MPlayer did not quit within %1 ms.").arg(kQuitWaitMs));
    KillPlayer();
  });
}

TPlayerCore::~TPlayerCore() {
  // The window is going away: end the player without telling it.
  if (Process) {
    Process->disconnect(this);
    Process->kill();
    Process->waitForFinished(kKillWaitMs);
  }
}

void TPlayerCore::Startup() {
  OsCheck = 2;
  ProgramDir = QCoreApplication::applicationDirPath() + QLatin1Char('/');
  FontFile = FindPlayerFont();
}

void TPlayerCore::StartPlayer() {
  if (IsRunning() || MediaArgument.IsEmpty()) return;
  if (FreshMedia) {
    ClearTrackMenus();
    AudioTrack = SubtitleTrack = -1;
  }
  PlayerState = TPlayerState::Opening;
  Window.UpdateStatusText();

  // There is no operating system to refuse here (OsCheck is 2); a 0 (ask) goes on.
  if (OsCheck == 1) {
    Window.ClearLog();
    Window.AddLogLine(QStringLiteral("not executing MPlayer: invalid Operating System version"));
    PlayerState = TPlayerState::Failed;
    FailureReason = QStringLiteral("invalid Operating System version");
    Window.UpdateStatusText();
    Window.ShowStoppedControls(true);
    return;
  }

  QuitAvailable = true;
  StopRequested = false;
  const QString program = PlayerProgram.isEmpty() ? FindPlayerProgram(ProgramDir) : PlayerProgram;
  TCommandLineInput input;
  input.Program = program.isEmpty() ? BesidePlayerPath(ProgramDir) : program;
  input.WindowId = Window.VideoPanelId();
  input.FontFile = FontFile;
  input.Settings = Settings;
  input.VistaMode = VistaMode;
  input.AudioTrack = AudioTrack;
  input.SubtitleTrack = SubtitleTrack;
  input.Media = MediaArgument;
  const TPlayerCommandLine line = BuildCommandLine(input);

  Window.ClearLog();
  Window.AddLogLine(QStringLiteral("command line:"));
  for (const QString& piece : WrapCommandLine(line.Text)) Window.AddLogLine(piece);
  Window.AddLogLine(QString());

  ResetPlaybackFigures();
  if (program.isEmpty()) {
    StartFailed(ENOENT);
    return;
  }

  auto* process = new QProcess(this);
  process->setProgram(line.Program);
  process->setArguments(line.Arguments);
  process->setWorkingDirectory(ProgramDir);
  process->setProcessChannelMode(QProcess::MergedChannels);
  // The player goes with the program, even when the program dies without cleaning up.
  process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
  QObject::connect(process, &QProcess::readyReadStandardOutput, this,
                   [this, process] { OnOutput(process); });
  QObject::connect(process, &QProcess::finished, this,
                   [this, process](int code, QProcess::ExitStatus status) {
                     OnFinished(process, code, status);
                   });
  process->start();
  if (!process->waitForStarted(kStartWaitMs)) {
    const int code = StartErrorCode(line.Program, ProgramDir);
    process->disconnect(this);
    delete process;  // kills and reaps it if it got as far as running
    StartFailed(code);
    return;
  }

  Process = process;
  KillRequested = false;
  CommandsDropped = false;
  Window.ShowPlayingControls();
  if (Settings.AudioOut == 2 || Settings.AudioOut == 3) {
    if (Settings.AudioOut == 3) SentVolume = 100;
    if (Settings.SoftVol) SentVolume = -1;
    if (Volume != SentVolume) SetPlayerVolume(Volume);
    if (Muted) SendPlayerCommand(QStringLiteral("mute"));
  }
}

void TPlayerCore::StartFailed(int AErrorCode) {
  Window.AddLogLine(QStringLiteral("Error %1 while call codec:").arg(AErrorCode));
  const QString reason = QString::fromLocal8Bit(std::strerror(AErrorCode)).left(1023);
  Window.AddLogLine(reason);
  LastErrorLine = QStringLiteral("MPlayer could not be started: %1").arg(reason);
  if (AErrorCode == ENOENT)
    Window.AddLogLine(QStringLiteral(
        "Please check if dc is installed in the same directory as Vexa, or mplayer on the PATH."));
  Ending = TEnding::StartFailed;
  OnPlayerExit();
}

void TPlayerCore::ResetPlaybackFigures() {
  HasAudio = HasVideo = true;
  VideoWidth = VideoHeight = 0;
  PositionPercent = 0;
  PositionSeconds = -1;
  OsdLevel = 1;
  DurationText = QStringLiteral("0:00:00");
  FailureReason.clear();
  LengthReported = false;
  LastErrorLine.clear();
  ClearMediaInfo(MediaInfo);
  MediaInfo.FileName = MediaArgument.Text();
  RepeatLine.clear();
  RepeatCount = 0;
  Splitter.Reset();
}

void TPlayerCore::StopPlayer() {
  if (!Process) return;
  PlayerState = TPlayerState::Closing;
  Window.UpdateStatusText();
  StopRequested = true;
  if (QuitAvailable) {
    SendPlayerCommand(QStringLiteral("quit"));
    QuitAvailable = false;
    QuitTimer.start(kQuitWaitMs);
  } else {
    KillPlayer();
  }
}

void TPlayerCore::ShutdownPlayer() {
  // Nothing runs, or the player's end is being handled right now.
  if (!Process || Process->state() == QProcess::NotRunning) return;
  const std::uint64_t generation = Generation;
  StopRequested = true;
  if (QuitAvailable) {
    SendPlayerCommand(QStringLiteral("quit"));
    QuitAvailable = false;
    // The player's end is handled inside the wait, through QProcess::finished.
    if (Process->waitForFinished(kQuitWaitMs) || Generation != generation) return;
    AddLog(QStringLiteral("MPlayer did not quit within %1 ms.").arg(kQuitWaitMs));
  }
  if (Generation != generation || !Process) return;
  KillPlayer();
  Process->waitForFinished(kKillWaitMs);
}

void TPlayerCore::AddLog(const QString& ALine) {
  FlushRepeat();
  RepeatLine.clear();
  Window.AddLogLine(ALine);
}

void TPlayerCore::KillPlayer() {
  if (!Process) return;
  KillRequested = true;
  Process->kill();
}

void TPlayerCore::SendPlayerCommand(const QString& ACommand) {
  if (!Process || Process->state() != QProcess::Running) return;
  // A player that stopped reading would make the queue grow with every command.
  if (Process->bytesToWrite() > kMaxPendingCommandBytes) {
    if (!CommandsDropped)
      AddLog(QStringLiteral("MPlayer does not read its commands: \"%1\" and later ones dropped.")
                 .arg(ACommand));
    CommandsDropped = true;
    return;
  }
  Process->write(ACommand.toUtf8() + '\n');
}

void TPlayerCore::SetPlayerVolume(int ALevel) {
  if (Muted) return;
  SentVolume = ALevel;
  SendPlayerCommand(QStringLiteral("volume %1 1").arg(Settings.SoftVol ? ALevel / 10 : ALevel));
}

void TPlayerCore::SetOsdLevel(int ALevel) {
  if (ALevel < 0) ALevel = OsdLevel + 1;
  OsdLevel = ALevel & 3;
  SendPlayerCommand(QStringLiteral("osd %1").arg(OsdLevel));
}

void TPlayerCore::RestartPlayer() {
  if (!IsRunning()) return;
  const int percent = PositionPercent;
  const int osd = OsdLevel;
  // The old player's end is handled before ShutdownPlayer returns, so the start below is
  // not refused.
  ShutdownPlayer();
  StartPlayer();
  SendPlayerCommand(QStringLiteral("seek %1 1").arg(percent));
  SetOsdLevel(osd);
  Window.QueryPosition();
}

void TPlayerCore::OnOutput(QProcess* AProcess) {
  if (AProcess != Process) return;
  constexpr qint64 kReadBytes = 64 * 1024;
  const std::uint64_t generation = Generation;
  while (AProcess->bytesAvailable() > 0) {
    for (const QByteArray& line : Splitter.Feed(AProcess->read(kReadBytes))) {
      ProcessOutputLine(QString::fromUtf8(line));
      if (Generation != generation) return;  // a handler ended this player
    }
  }
}

void TPlayerCore::OnFinished(QProcess* AProcess, int AExitCode, QProcess::ExitStatus AStatus) {
  if (AProcess != Process) return;
  const std::uint64_t generation = Generation;
  OnOutput(AProcess);
  if (Generation != generation) return;
  // The last words of a player that ended without a line break still count.
  for (const QByteArray& line : Splitter.Finish()) {
    ProcessOutputLine(QString::fromUtf8(line));
    if (Generation != generation) return;
  }
  FlushRepeat();

  if (AStatus == QProcess::NormalExit) {
    Ending = TEnding::Exited;
    PlayerExitCode = AExitCode;
  } else if (KillRequested) {
    Ending = TEnding::Killed;
    PlayerExitCode = -1;
  } else {
    Ending = TEnding::Crashed;
    CrashSignal = AExitCode;
    PlayerExitCode = 128 + AExitCode;
  }
  OnPlayerExit();
}

void TPlayerCore::OnPlayerExit() {
  if (Process) {
    Process->disconnect(this);
    Process->deleteLater();
    Process = nullptr;
  }
  ++Generation;
  QuitTimer.stop();
  QuitAvailable = false;
  Splitter.Reset();
  FreshMedia = false;

  const bool wasOpening = PlayerState == TPlayerState::Opening;
  const bool failed = wasOpening || PlayerExitCode != 0 || Ending == TEnding::StartFailed;
  PlayerState = failed ? TPlayerState::Failed : TPlayerState::Stopped;
  QString ending;
  switch (Ending) {
    case TEnding::StartFailed:
      break;  // told already
    case TEnding::Killed:
      ending = QStringLiteral("MPlayer terminated.");
      break;
    case TEnding::Crashed:
      ending = QStringLiteral("MPlayer crashed (signal %1).").arg(CrashSignal);
      break;
    case TEnding::Exited:
      if (PlayerExitCode != 0)
        ending = QStringLiteral("MPlayer exited with code %1.").arg(PlayerExitCode);
      else if (wasOpening)
        ending = QStringLiteral("MPlayer exited before playback started.");
      break;
  }
  if (!ending.isEmpty()) Window.AddLogLine(ending);
  FailureReason = !failed ? QString() : !LastErrorLine.isEmpty() ? LastErrorLine : ending;
  TitleText.clear();

  const bool noAdvance = StopRequested || PlayerState == TPlayerState::Failed;
  Window.UpdateStatusText();
  Window.ShowStoppedControls(noAdvance);
  Window.UpdateCaption();
  StopRequested = false;
  if (!noAdvance) Window.PlayNext(+1, TEntryState::Played);
}

}  // namespace tovamo::player
