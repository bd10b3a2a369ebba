// Collects the log bridge's lines while it lives (the default logger's OnLog handler).
#pragma once

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Services/FFLog.h"

namespace tovamo::test {

struct TLogLine {
  void* Sender;
  TLogLevel Level;
  std::string Text;
  std::thread::id Thread;  // the thread the line was delivered on
};

class TLogCapture {
 public:
  // onMainThread: deliver through the main thread (the test must serve its queue).
  explicit TLogCapture(bool onMainThread = false, TLogLevel level = llDebug);
  ~TLogCapture();
  TLogCapture(const TLogCapture&) = delete;
  TLogCapture& operator=(const TLogCapture&) = delete;

  std::vector<TLogLine> Lines() const;
  void Clear();

  // Lines whose text equals text exactly.
  std::vector<TLogLine> Find(const std::string& text) const;
  int Count(TLogLevel level, const std::string& text) const;
  bool Has(TLogLevel level, const std::string& text) const;
  // Lines of one level whose text contains part.
  bool HasPart(TLogLevel level, const std::string& part) const;
  // Texts of one level that start with prefix, and texts of any level that contain part.
  std::vector<std::string> StartingWith(TLogLevel level, const std::string& prefix) const;
  std::vector<std::string> Containing(const std::string& part) const;

 private:
  mutable std::mutex Lock_;
  std::vector<TLogLine> Lines_;
};

}  // namespace tovamo::test
