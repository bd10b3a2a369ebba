#include "DesktopNotice.h"

#include <QApplication>
#include <QDesktopServices>
#include <QUrl>

#ifdef TOVAMO_HAVE_QTDBUS
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#endif

namespace tovamo {
namespace {

const char* const kService = "org.freedesktop.Notifications";
const char* const kPath = "/org/freedesktop/Notifications";
const char* const kInterface = "org.freedesktop.Notifications";
const char* const kOpenFolderAction = "open-folder";

}  // namespace

TDesktopNotice::TDesktopNotice(QObject* parent) : QObject(parent) {
  OpenFolder = [](const QString& folder) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
  };
}

QString TDesktopNotice::BatchEndBody(int completed, int failed, int stopped) {
  QString body = QString("%1 %2 completed, %3 failed")
                     .arg(completed)
                     .arg(completed == 1 ? "file" : "files")
                     .arg(failed);
  if (stopped > 0) body += QString(", %1 stopped").arg(stopped);
  return body + ".";
}

void TDesktopNotice::ShowBatchEnd(int completed, int failed, int stopped, const QString& folder) {
#ifdef TOVAMO_HAVE_QTDBUS
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    if (OnAnswered) OnAnswered(false);
    return;
  }
  if (!Listening_) {
    bus.connect(kService, kPath, kInterface, "ActionInvoked", this,
                SLOT(ActionInvoked(uint, QString)));
    bus.connect(kService, kPath, kInterface, "NotificationClosed", this,
                SLOT(NotificationClosed(uint, uint)));
    Listening_ = true;
  }
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "Notify");
  call << QApplication::applicationName() << 0u << QString("video-x-generic")
       << QString("Conversion finished") << BatchEndBody(completed, failed, stopped)
       << QStringList{kOpenFolderAction, "Open Folder"} << QVariantMap() << -1;
  // Asked without waiting: a missing service answers with an error, which is the end of it.
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this,
          [this, folder](QDBusPendingCallWatcher* answer) {
            QDBusPendingReply<uint> reply = *answer;
            answer->deleteLater();
            if (!reply.isError()) Folders_.insert(reply.value(), folder);
            if (OnAnswered) OnAnswered(!reply.isError());
          });
#else
  (void)completed, (void)failed, (void)stopped, (void)folder;
  if (OnAnswered) OnAnswered(false);
#endif
}

void TDesktopNotice::ActionInvoked(uint id, const QString& action) {
  const auto folder = Folders_.constFind(id);
  if (folder == Folders_.constEnd() || action != kOpenFolderAction) return;
  if (OpenFolder) OpenFolder(*folder);
}

void TDesktopNotice::NotificationClosed(uint id, uint) {
  Folders_.remove(id);
}

}  // namespace tovamo
