// The desktop notice at the end of a batch, on a session bus of its own (dbus-run-session)
// with a stand-in notification service: what the notice says, its "Open Folder" action, and
// nothing at all when no service is there.
#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QTest>

#include "DesktopNotice.h"
#include "../support/TestTime.h"

using namespace tovamo;

namespace {

const char* const kPath = "/org/freedesktop/Notifications";
const char* const kInterface = "org.freedesktop.Notifications";

}  // namespace

// What a desktop's notification service does with a Notify call: keeps it and answers with
// the notice's id.
class TNotificationStandIn : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

 public:
  struct TNotice {
    QString App, Summary, Body;
    QStringList Actions;
  };
  QList<TNotice> Notices;

 public slots:
  uint Notify(const QString& app, uint, const QString&, const QString& summary, const QString& body,
              const QStringList& actions, const QVariantMap&, int) {
    Notices.append({app, summary, body, actions});
    return uint(Notices.size()) + 100;
  }
};

class DesktopNoticeTest : public QObject {
  Q_OBJECT

 private:
  // The notice, the answers it got, and the folders it asked to open.
  struct TWatched {
    TDesktopNotice Notice;
    QList<bool> Answers;
    QStringList Opened;
    TWatched() {
      Notice.OnAnswered = [this](bool shown) { Answers << shown; };
      Notice.OpenFolder = [this](const QString& folder) { Opened << folder; };
    }
  };

  static void Emit(QDBusConnection& bus, const char* name, const QVariantList& arguments) {
    QDBusMessage signal = QDBusMessage::createSignal(kPath, kInterface, name);
    signal.setArguments(arguments);
    QVERIFY(bus.send(signal));
  }

 private slots:
  void init() {
    if (!QDBusConnection::sessionBus().isConnected())
      QSKIP("no session bus (the test runs under dbus-run-session)");
  }

  void theNoticeSaysHowTheBatchEnded() {
    struct TCase {
      int Completed, Failed, Stopped;
      const char* Body;
    };
    for (const TCase& c : {TCase{3, 1, 0, "3 files completed, 1 failed."},
                           TCase{1, 0, 0, "1 file completed, 0 failed."},
                           TCase{0, 2, 4, "0 files completed, 2 failed, 4 stopped."}})
      QCOMPARE(TDesktopNotice::BatchEndBody(c.Completed, c.Failed, c.Stopped), QString(c.Body));
  }

  void withoutAServiceNothingIsShown() {
    QVERIFY(!QDBusConnection::sessionBus().interface()->isServiceRegistered(kInterface));
    TWatched watched;
    watched.Notice.ShowBatchEnd(1, 0, 0, "/videos");
    QVERIFY(QTest::qWaitFor([&] { return !watched.Answers.isEmpty(); },
                            tovamo::test::GenerousMs(10000)));
    QCOMPARE(watched.Answers, QList<bool>{false});
    QVERIFY(watched.Opened.isEmpty());
  }

  void theNoticeIsShownAndOpensItsFolder() {
    // The stand-in has a connection of its own, as a real service would.
    QDBusConnection service =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, "stand-in");
    TNotificationStandIn standIn;
    QVERIFY(service.registerObject(kPath, &standIn, QDBusConnection::ExportAllSlots));
    QVERIFY(service.registerService(kInterface));

    TWatched watched;
    watched.Notice.ShowBatchEnd(3, 1, 0, "/videos/first");
    watched.Notice.ShowBatchEnd(2, 0, 0, "/videos/second");
    QVERIFY(QTest::qWaitFor([&] { return watched.Answers.size() == 2; },
                            tovamo::test::GenerousMs(10000)));
    QCOMPARE(watched.Answers, (QList<bool>{true, true}));
    QCOMPARE(standIn.Notices.size(), 2);
    QCOMPARE(standIn.Notices[0].App, QApplication::applicationName());
    QCOMPARE(standIn.Notices[0].Summary, QString("Conversion finished"));
    QCOMPARE(standIn.Notices[0].Body, QString("3 files completed, 1 failed."));
    QCOMPARE(standIn.Notices[0].Actions, (QStringList{"open-folder", "Open Folder"}));

    // The user picks "Open Folder" on the second notice: its folder opens.
    Emit(service, "ActionInvoked", {102u, QString("open-folder")});
    QVERIFY(QTest::qWaitFor([&] { return !watched.Opened.isEmpty(); },
                            tovamo::test::GenerousMs(10000)));
    QCOMPARE(watched.Opened, QStringList{"/videos/second"});
    // Another action, an unknown notice, or one closed since: nothing opens. The last
    // signal is a known one, so that its arrival shows the others were passed over.
    Emit(service, "ActionInvoked", {101u, QString("default")});
    Emit(service, "ActionInvoked", {7u, QString("open-folder")});
    Emit(service, "NotificationClosed", {102u, 2u});
    Emit(service, "ActionInvoked", {102u, QString("open-folder")});
    Emit(service, "ActionInvoked", {101u, QString("open-folder")});
    QVERIFY(QTest::qWaitFor([&] { return watched.Opened.size() == 2; },
                            tovamo::test::GenerousMs(10000)));
    QCOMPARE(watched.Opened, (QStringList{"/videos/second", "/videos/first"}));

    service.unregisterService(kInterface);
    QDBusConnection::disconnectFromBus("stand-in");
  }
};

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setApplicationName("Tovamo");
  DesktopNoticeTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "DesktopNotice_test.moc"
