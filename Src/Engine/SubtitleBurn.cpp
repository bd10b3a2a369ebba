#include "Engine/SubtitleBurn.h"

namespace tovamo {

std::string BurnSubtitleFilter(const std::string& value) {
  const std::size_t colon = value.find(':');
  if (colon == 0 || colon == std::string::npos || colon + 1 == value.size()) return {};
  for (std::size_t i = 0; i < colon; ++i)
    if (value[i] < '0' || value[i] > '9') return {};
  const std::string index = value.substr(0, colon), path = value.substr(colon + 1);
  // The option value quoted for the filter's own options ("'" closes, "\'" is a quote)...
  std::string quoted = "'";
  for (const char c : path) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  quoted += "'";
  // ...and that escaped once more for the graph, which splits at ",", ";" and brackets.
  std::string escaped;
  for (const char c : quoted) {
    if (c == '\\' || c == '\'' || c == '[' || c == ']' || c == ',' || c == ';') escaped += '\\';
    escaped += c;
  }
  return "subtitles=filename=" + escaped + ":stream_index=" + index;
}

}  // namespace tovamo
