#include "DiscImageRun.h"

namespace tovamo {

TDiscImageRun::TDiscImageRun(QObject* parent, authoring::TDiscRequest request)
    : QObject(parent), Request_(std::move(request)) {}

TDiscImageRun::~TDiscImageRun() {
  Author_.Stop();
  if (Thread_.joinable()) Thread_.join();
}

void TDiscImageRun::Start() {
  // Queued on this object: calls still on their way when it goes are dropped with it.
  Author_.OnProgress = [this](const authoring::TAuthorProgress& progress) {
    QMetaObject::invokeMethod(
        this,
        [this, progress] {
          if (OnProgress) OnProgress(progress);
        },
        Qt::QueuedConnection);
  };
  Author_.OnToolLine = [this](const std::string& tool, const std::string& line) {
    QMetaObject::invokeMethod(
        this,
        [this, tool = QString::fromStdString(tool), line = QString::fromStdString(line)] {
          if (OnToolLine) OnToolLine(tool, line);
        },
        Qt::QueuedConnection);
  };
  Thread_ = std::thread([this] {
    const authoring::TAuthorResult result = Author_.Run(Request_);
    QMetaObject::invokeMethod(
        this,
        [this, result] {
          if (Thread_.joinable()) Thread_.join();
          if (OnEnded) OnEnded(result);
        },
        Qt::QueuedConnection);
  });
}

}  // namespace tovamo
