// The program's error display: an exception that no window code caught is shown in a
// message box with the application's title and an error icon, and the program goes on.
#pragma once

#include <QApplication>
#include <QString>
#include <functional>

namespace tovamo {

// The message as shown: a "." is added when the text's last character sorts after ".".
QString ErrorDisplayText(const QString& message);

// Shows the error display for a message.
void ShowErrorDisplay(const QString& message);

// Replaces the message box (tests record the messages instead); empty restores it.
void SetErrorDisplayHandler(std::function<void(const QString& message)> handler);

class TConverterApplication : public QApplication {
 public:
  TConverterApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace tovamo
