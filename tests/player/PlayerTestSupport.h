// Shared pieces of the player core's tests: a window that records what the core tells it,
// waiting with the event loop running, and a look at this process's children.
#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <gtest/gtest.h>

#include "../support/TestTime.h"

#include <functional>
#include <ostream>
#include <vector>

#include "Core/PlayerCore.h"
#include "Core/PlayerWindow.h"

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& AText, std::ostream* AOut) {
  *AOut << '"' << AText.toStdString() << '"';
}
inline void PrintTo(const QStringList& AList, std::ostream* AOut) {
  *AOut << '{';
  for (const QString& s : AList) *AOut << '"' << s.toStdString() << "\" ";
  *AOut << '}';
}
QT_END_NAMESPACE

namespace tovamo::player::test {

// The window side of the core, recorded. Calls are kept as short texts in order, with the
// core's state where it matters ("UpdateStatusText OPENING", "PlayNext 1 2").
class TRecordingWindow : public TPlayerWindow {
 public:
  TPlayerCore* Core = nullptr;
  std::uint64_t PanelId = 4242;
  QStringList Log;
  QStringList Calls;
  QString StatusLine;
  std::function<void(int, TEntryState)> OnPlayNext;

  int Count(const QString& ACall) const { return int(Calls.count(ACall)); }
  QStringList States() const {
    QStringList states;
    for (const QString& call : Calls)
      if (call.startsWith(QLatin1String("UpdateStatusText "))) states << call.mid(17);
    return states;
  }

  std::uint64_t VideoPanelId() override { return PanelId; }
  void ShowPlayingControls() override { Calls << "ShowPlayingControls"; }
  void ShowStoppedControls(bool ADelayLogo) override {
    Calls << QStringLiteral("ShowStoppedControls %1").arg(int(ADelayLogo));
  }
  void ShowMediaLayout() override { Calls << "ShowMediaLayout"; }
  void UpdateStatusText() override {
    Calls << QStringLiteral("UpdateStatusText ") + PlayerStateText(Core->PlayerState);
  }
  void ShowStatusLine(const QString& ALine) override {
    StatusLine = ALine;
    Calls << "ShowStatusLine";
  }
  void UpdateTimeText() override { Calls << "UpdateTimeText"; }
  void UpdateSeekBar() override { Calls << "UpdateSeekBar"; }
  void UpdateCaption() override { Calls << "UpdateCaption"; }
  void ApplyVideoSize() override { Calls << "ApplyVideoSize"; }
  void QueryPosition() override { Calls << "QueryPosition"; }
  void TrackMenuChanged(TTrackKind AMenu) override {
    Calls << QStringLiteral("TrackMenuChanged %1").arg(int(AMenu));
  }
  void PlayNext(int ADirection, TEntryState AExitState) override {
    Calls << QStringLiteral("PlayNext %1 %2").arg(ADirection).arg(int(AExitState));
    if (OnPlayNext) OnPlayNext(ADirection, AExitState);
  }
  void RefreshInfo() override { Calls << "RefreshInfo"; }
  void ClearLog() override { Log.clear(); }
  void AddLogLine(const QString& ALine) override { Log << ALine; }
  QString LastLogLine() override { return Log.isEmpty() ? QString() : Log.last(); }
  void ReplaceLastLogLine(const QString& ALine) override {
    if (!Log.isEmpty()) Log.last() = ALine;
  }
};

// Runs the event loop for a while.
inline void RunEvents(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

// Runs the event loop until done() holds; false when it did not within the time.
inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 20000) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > tovamo::test::GenerousMs(timeoutMs)) return false;
    RunEvents(10);
  }
  return true;
}

// Sets an environment variable for the guard's life.
class TEnvironmentGuard {
 public:
  TEnvironmentGuard(const char* AName, const QByteArray& AValue)
      : Name(AName), Had(qEnvironmentVariableIsSet(AName)), Old(qgetenv(AName)) {
    qputenv(AName, AValue);
  }
  ~TEnvironmentGuard() {
    if (Had)
      qputenv(Name, Old);
    else
      qunsetenv(Name);
  }
  TEnvironmentGuard(const TEnvironmentGuard&) = delete;
  TEnvironmentGuard& operator=(const TEnvironmentGuard&) = delete;

 private:
  const char* Name;
  bool Had;
  QByteArray Old;
};

// The ids of this process's child processes, zombies included.
inline std::vector<int> ChildProcesses() {
  std::vector<int> children;
  const QString self = QString::number(QCoreApplication::applicationPid());
  for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) continue;
    // pid (comm) state ppid ...: the command may hold spaces, so read after its ")".
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() > 1 && fields[1] == self.toLatin1()) children.push_back(pid.toInt());
  }
  return children;
}

}  // namespace tovamo::player::test
