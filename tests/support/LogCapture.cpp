#include "support/LogCapture.h"

namespace tovamo::test {

TLogCapture::TLogCapture(bool onMainThread, TLogLevel level) {
  TFFLogger* logger = DefaultLogger();
  logger->TriggerEventInMainThread = onMainThread;
  logger->SetLogLevel(level);
  logger->SetOnLog(
      [this](void* sender, std::uint32_t, TLogLevel lineLevel, const std::string& msg) {
        std::lock_guard lock(Lock_);
        Lines_.push_back({sender, lineLevel, msg, std::this_thread::get_id()});
      });
}

TLogCapture::~TLogCapture() {
  DefaultLogger()->SetOnLog(nullptr);
}

std::vector<TLogLine> TLogCapture::Lines() const {
  std::lock_guard lock(Lock_);
  return Lines_;
}

void TLogCapture::Clear() {
  std::lock_guard lock(Lock_);
  Lines_.clear();
}

std::vector<TLogLine> TLogCapture::Find(const std::string& text) const {
  std::vector<TLogLine> found;
  for (const TLogLine& line : Lines())
    if (line.Text == text) found.push_back(line);
  return found;
}

int TLogCapture::Count(TLogLevel level, const std::string& text) const {
  int n = 0;
  for (const TLogLine& line : Lines())
    if (line.Level == level && line.Text == text) ++n;
  return n;
}

bool TLogCapture::Has(TLogLevel level, const std::string& text) const {
  return Count(level, text) > 0;
}

bool TLogCapture::HasPart(TLogLevel level, const std::string& part) const {
  for (const TLogLine& line : Lines())
    if (line.Level == level && line.Text.find(part) != std::string::npos) return true;
  return false;
}

std::vector<std::string> TLogCapture::StartingWith(TLogLevel level,
                                                   const std::string& prefix) const {
  std::vector<std::string> out;
  for (const TLogLine& line : Lines())
    if (line.Level == level && line.Text.compare(0, prefix.size(), prefix) == 0)
      out.push_back(line.Text);
  return out;
}

std::vector<std::string> TLogCapture::Containing(const std::string& part) const {
  std::vector<std::string> out;
  for (const TLogLine& line : Lines())
    if (line.Text.find(part) != std::string::npos) out.push_back(line.Text);
  return out;
}

}  // namespace tovamo::test
