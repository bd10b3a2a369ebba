// The player: MPlayer's output, playlists and settings files.
#include <QDir>
#include <QFile>
#include <QString>

#include <cstdint>

#include "Core/LineSplitter.h"
#include "Core/PlayerCore.h"
#include "FuzzEntries.h"
#include "FuzzSupport.h"
#include "Windows/PlayerConfig.h"
#include "Windows/Playlist.h"

namespace tovamo::fuzz {

using namespace tovamo::player;

namespace {

// Takes the core's calls and keeps only the last log line (which the core reads back).
class TSilentWindow : public TPlayerWindow {
 public:
  std::uint64_t VideoPanelId() override { return 1; }
  void ShowPlayingControls() override {}
  void ShowStoppedControls(bool) override {}
  void ShowMediaLayout() override {}
  void UpdateStatusText() override {}
  void ShowStatusLine(const QString&) override {}
  void UpdateTimeText() override {}
  void UpdateSeekBar() override {}
  void UpdateCaption() override {}
  void ApplyVideoSize() override {}
  void QueryPosition() override {}
  void TrackMenuChanged(TTrackKind) override {}
  void PlayNext(int, TEntryState) override {}
  void RefreshInfo() override {}
  void ClearLog() override { Last.clear(); }
  void AddLogLine(const QString& ALine) override { Last = ALine; }
  QString LastLogLine() override { return Last; }
  void ReplaceLastLogLine(const QString& ALine) override { Last = ALine; }

 private:
  QString Last;
};

}  // namespace

// The bytes split into lines as the pipe's reads are, cut into two reads where the first
// byte says, and every line through the output parser.
void FeedPlayerOutput(std::string_view input) {
  TSilentWindow window;
  TPlayerCore core(window);
  core.PlayerState = TPlayerState::Opening;
  TLineSplitter splitter;
  const std::size_t cut = input.empty() ? 0 : std::uint8_t(input[0]) % (input.size() + 1);
  for (std::string_view read : {input.substr(0, cut), input.substr(cut)})
    for (const QByteArray& line :
         splitter.Feed(QByteArrayView(read.data(), qsizetype(read.size()))))
      core.ProcessOutputLine(QString::fromUtf8(line));
  for (const QByteArray& line : splitter.Finish()) core.ProcessOutputLine(QString::fromUtf8(line));
}

// The list lies in a folder of its own beside one clip and one sub-folder with a clip, so
// that relative lines find something to add.
void FeedM3uList(std::string_view input) {
  const QString dir = QString::fromStdString(ScratchDir()) + QStringLiteral("/list");
  if (!QFileInfo::exists(dir + QStringLiteral("/sub/other.mpg"))) {
    QDir().mkpath(dir + QStringLiteral("/sub"));
    for (const char* name : {"/clip.avi", "/sub/other.mpg"}) {
      QFile file(dir + QLatin1String(name));
      if (file.open(QIODevice::WriteOnly)) file.write("x");
    }
  }
  const std::string list = WriteScratchFile("list/list.m3u", input);
  TPlaylist playlist;
  playlist.Add(QString::fromStdString(list));
}

void FeedPlayerSettings(std::string_view input) {
  const std::string file = WriteScratchFile("Vexa.ini", input);
  TPlayerSettings settings;
  TWindowSettings window;
  QStringList notes;
  LoadSettings(QString::fromStdString(file), settings, window, notes);
}

}  // namespace tovamo::fuzz
