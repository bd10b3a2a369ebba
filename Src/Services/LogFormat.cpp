#include "Services/LogFormat.h"

#include <cstdio>
#include <ctime>

namespace tovamo {

std::string FormatLogLine(std::uint32_t threadId, TLogLevel level, const std::string& text,
                          const TLogOrigin& origin) {
  using namespace std::chrono;
  const std::time_t seconds = system_clock::to_time_t(origin.Time);
  const auto millis = duration_cast<milliseconds>(origin.Time.time_since_epoch()).count() % 1000;
  std::tm local{};
  localtime_r(&seconds, &local);
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min,
                local.tm_sec, int(millis));
  std::string line = stamp;
  if (origin.Threshold >= llDebug)
    line += " #" + std::to_string(threadId) + "." + std::to_string(int(level));
  // The file's own name: the folders are the same for a whole batch and crowd the text.
  const std::string& source = origin.Source;
  const std::size_t slash = source.find_last_of('/');
  const std::string name =
      slash == std::string::npos || slash + 1 == source.size() ? source : source.substr(slash + 1);
  if (!name.empty()) line += " " + name + ":";
  line += " ";
  line += text;
  return line;
}

std::string FormatLogLine(std::uint32_t threadId, TLogLevel level, const std::string& text) {
  return FormatLogLine(threadId, level, text, DeliveredLogOrigin());
}

}  // namespace tovamo
