// The preview player's core: the one MPlayer child process, its command line, the slave
// commands written to it, and its output parsed into the player's figures.
//
// One TPlayerCore serves the program's player window. It lives on the window thread and
// every member is used there only: MPlayer's output and its end arrive as Qt signals on
// that thread, so no locks are needed. The window learns of changes through
// TPlayerWindow and reads the public state below.
#pragma once

#include <QObject>
#include <QProcess>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <functional>

#include "Core/LineSplitter.h"
#include "Core/MediaArgument.h"
#include "Core/MediaInfo.h"
#include "Core/PlayerSettings.h"
#include "Core/PlayerTypes.h"
#include "Core/PlayerWindow.h"

namespace tovamo::player {

class TPlayerCore : public QObject {
 public:
  // How long a player may take to obey "quit" before it is killed.
  static constexpr int kQuitWaitMs = 1000;
  // Commands waiting for a player that does not read them, beyond what its pipe holds.
  static constexpr qint64 kMaxPendingCommandBytes = 64 * 1024;

  explicit TPlayerCore(TPlayerWindow& AWindow, QObject* AParent = nullptr);
  ~TPlayerCore() override;
  TPlayerCore(const TPlayerCore&) = delete;
  TPlayerCore& operator=(const TPlayerCore&) = delete;

  // The program's start-up: the program folder and the OSD font.
  void Startup();

  // Process control.
  void StartPlayer();
  void StopPlayer();
  void ShutdownPlayer();
  void KillPlayer();
  bool IsRunning() const { return Process != nullptr; }
  void SendPlayerCommand(const QString& ACommand);
  void SetPlayerVolume(int ALevel);
  void SetOsdLevel(int ALevel);
  void RestartPlayer();

  // Output parser: one complete line of MPlayer's output.
  void ProcessOutputLine(const QString& ALine);
  void AddTrackItem(TTrackKind AMenu, int AId, int ASelectedId);
  void SetTrackLanguage(TTrackKind AMenu, int AId, const QString& ALanguage);
  TTrackMenu& TrackMenu(TTrackKind AMenu);

  // Module state.
  TPlayerState PlayerState = TPlayerState::Idle;
  std::uint8_t OsCheck = 2;  // 0 ask, 1 refuse, 2 allowed; nothing is refused on Linux
  QString ProgramDir;        // the program folder, with a trailing "/"
  QString PlayerProgram;     // a player program to use instead of the lookup (tests)
  QString FontFile;          // the OSD font ("-font"); empty for MPlayer's own
  TMediaArgument MediaArgument;
  QString TitleText;
  bool VistaMode = false;
  bool FreshMedia = true;
  std::int32_t AudioTrack = -1;
  std::int32_t SubtitleTrack = -1;
  TPlayerSettings Settings;
  // The length in seconds of a local file, read by other means (the media libraries), for
  // media MPlayer gives no length for (MPEG program streams); -1 when unknown. Unset: no
  // lookup.
  std::function<std::int64_t(const QString& AFileName)> MediaLengthLookup;

  // Playback figures, reset at every start.
  bool HasAudio = true;
  bool HasVideo = true;
  int VideoWidth = 0;
  int VideoHeight = 0;
  int PositionPercent = 0;
  int PositionSeconds = -1;
  int OsdLevel = 1;
  QString DurationText = QStringLiteral("0:00:00");
  bool LengthReported = false;  // MPlayer gave a length above zero
  // Why the last player failed, in one line (the player's own error line where it gave
  // one); empty unless PlayerState is Failed.
  QString FailureReason;
  TMediaInfo MediaInfo;
  TTrackMenu AudioMenu;
  TTrackMenu SubtitleMenu;

  // Volume; kept from one start to the next.
  int Volume = 100;
  bool Muted = false;
  int SentVolume = -1;

  // Process.
  int PlayerExitCode = 0;  // -1 (0xFFFFFFFF) after KillPlayer, 128 + signal after a crash
  bool QuitAvailable = false;
  bool StopRequested = false;

  // The last output line that tells why the media cannot play.
  QString LastErrorLine;

  // Output collapsing.
  QString RepeatLine;
  int RepeatCount = 0;

 private:
  enum class TEnding { Exited, Crashed, Killed, StartFailed };

  void ResetPlaybackFigures();
  void StartFailed(int AErrorCode);
  void OnOutput(QProcess* AProcess);
  void OnFinished(QProcess* AProcess, int AExitCode, QProcess::ExitStatus AStatus);
  void OnPlayerExit();
  void HandleLines(const std::vector<QByteArray>& ALines);
  void AddLog(const QString& ALine);
  void FlushRepeat();
  void ClearTrackMenus();
  bool HandleLine(const QString& ALine);
  void SetStreamTitle(const QString& ATitle);

  TPlayerWindow& Window;
  QProcess* Process = nullptr;
  TLineSplitter Splitter;
  QTimer QuitTimer;              // kills a player that ignores the "quit" of StopPlayer
  std::uint64_t Generation = 0;  // counts player ends, so that a handler sees its own player go
  bool KillRequested = false;
  bool CommandsDropped = false;
  TEnding Ending = TEnding::Exited;
  int CrashSignal = 0;
};

}  // namespace tovamo::player
