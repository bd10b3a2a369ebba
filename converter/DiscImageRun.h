// One disc image being made for the window: the authoring runs on its own thread, and its
// progress, the tools' lines and its end reach the window's thread as queued calls.
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <thread>

#include "Authoring/DiscAuthor.h"

namespace tovamo {

class TDiscImageRun : public QObject {
 public:
  TDiscImageRun(QObject* parent, authoring::TDiscRequest request);
  ~TDiscImageRun() override;  // a run still going is stopped and waited for

  // Called on the window's thread.
  std::function<void(const authoring::TAuthorProgress&)> OnProgress;
  std::function<void(const QString& tool, const QString& line)> OnToolLine;
  std::function<void(const authoring::TAuthorResult&)> OnEnded;

  void Start();
  void Stop() { Author_.Stop(); }
  const authoring::TDiscRequest& Request() const { return Request_; }

 private:
  authoring::TDiscRequest Request_;
  authoring::TDiscAuthor Author_;
  std::thread Thread_;
};

}  // namespace tovamo
