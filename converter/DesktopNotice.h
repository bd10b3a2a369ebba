// The desktop notice at the end of a batch: the freedesktop notification service on the
// session bus says how many files completed and failed, with an "Open Folder" action.
// Without a session bus or a notification service nothing is shown and nothing fails.
#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <functional>

namespace tovamo {

class TDesktopNotice : public QObject {
  Q_OBJECT

 public:
  explicit TDesktopNotice(QObject* parent = nullptr);

  // The notice's text for a batch's figures.
  static QString BatchEndBody(int completed, int failed, int stopped);

  void ShowBatchEnd(int completed, int failed, int stopped, const QString& folder);

  // Opens a folder when the user picks "Open Folder"; the file manager by default.
  std::function<void(const QString& folder)> OpenFolder;
  // Told whether the service took the notice (tests wait for it).
  std::function<void(bool shown)> OnAnswered;

 private slots:
  void ActionInvoked(uint id, const QString& action);
  void NotificationClosed(uint id, uint reason);

 private:
  bool Listening_ = false;
  QHash<uint, QString> Folders_;  // the folder of every notice still shown
};

}  // namespace tovamo
