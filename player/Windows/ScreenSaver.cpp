#include "Windows/ScreenSaver.h"

#ifdef TOVAMO_HAVE_QTDBUS
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#endif

namespace tovamo::player {

namespace {
#ifdef TOVAMO_HAVE_QTDBUS
const char* const kService = "org.freedesktop.ScreenSaver";
const char* const kPath = "/org/freedesktop/ScreenSaver";
const char* const kInterface = "org.freedesktop.ScreenSaver";

void UnInhibit(std::uint32_t ACookie) {
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "UnInhibit");
  call << ACookie;
  QDBusConnection::sessionBus().asyncCall(call);
}
#endif
}  // namespace

TScreenSaverInhibitor::TScreenSaverInhibitor() = default;

TScreenSaverInhibitor::~TScreenSaverInhibitor() {
#ifdef TOVAMO_HAVE_QTDBUS
  if (HeldCookie != 0) UnInhibit(HeldCookie);
#endif
}

bool TScreenSaverInhibitor::Available() {
#ifdef TOVAMO_HAVE_QTDBUS
  return QDBusConnection::sessionBus().isConnected();
#else
  return false;
#endif
}

void TScreenSaverInhibitor::SetInhibited(bool AOn) {
  if (AOn == WantedOn) return;
  WantedOn = AOn;
#ifdef TOVAMO_HAVE_QTDBUS
  if (!AOn) {
    if (HeldCookie != 0) UnInhibit(HeldCookie);
    HeldCookie = 0;
    return;  // a pending Inhibit is released when its answer arrives
  }
  if (Pending || HeldCookie != 0 || !Available()) return;
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "Inhibit");
  call << QStringLiteral("tovamo") << QStringLiteral("Playing a video in fullscreen");
  Pending = true;
  auto* watcher =
      new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call, 5000), this);
  QObject::connect(watcher, &QDBusPendingCallWatcher::finished, this,
                   [this](QDBusPendingCallWatcher* AWatcher) {
                     Pending = false;
                     QDBusPendingReply<std::uint32_t> reply = *AWatcher;
                     AWatcher->deleteLater();
                     if (reply.isError()) return;  // no screen saver service: nothing to hold
                     if (WantedOn)
                       HeldCookie = reply.value();
                     else
                       UnInhibit(reply.value());
                   });
#endif
}

}  // namespace tovamo::player
