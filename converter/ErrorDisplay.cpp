#include "ErrorDisplay.h"

#include <QMessageBox>
#include <exception>

namespace tovamo {

QString ErrorDisplayText(const QString& message) {
  if (!message.isEmpty() && message.back() > QChar('.')) return message + ".";
  return message;
}

namespace {
std::function<void(const QString&)>& Handler() {
  static std::function<void(const QString&)> handler;
  return handler;
}
}  // namespace

void SetErrorDisplayHandler(std::function<void(const QString& message)> handler) {
  Handler() = std::move(handler);
}

void ShowErrorDisplay(const QString& message) {
  if (Handler()) {
    Handler()(ErrorDisplayText(message));
    return;
  }
  QMessageBox box(QMessageBox::Critical, QApplication::applicationName(), ErrorDisplayText(message),
                  QMessageBox::Ok);
  box.exec();
}

TConverterApplication::TConverterApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TConverterApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& e) {
    ShowErrorDisplay(QString::fromUtf8(e.what()));
  } catch (...) {
    ShowErrorDisplay("Unknown error");
  }
  return false;
}

}  // namespace tovamo
