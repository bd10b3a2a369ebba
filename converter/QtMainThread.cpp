#include "QtMainThread.h"

#include <QCoreApplication>
#include <QMetaObject>

#include "Services/MainThread.h"

namespace tovamo {

void InstallQtMainThreadBridge() {
  SetMainThread();
  SetMainThreadWakeHook([] {
    if (QCoreApplication* app = QCoreApplication::instance())
      QMetaObject::invokeMethod(
          app, [] { ServeMainThreadQueue(); }, Qt::QueuedConnection);
  });
  SetProcessMessagesHook([] { QCoreApplication::processEvents(); });
}

}  // namespace tovamo
