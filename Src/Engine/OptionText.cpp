#include "Engine/OptionText.h"

#include <string_view>

#include "Engine/OptionTable.h"
#include "Services/Text.h"

namespace tovamo {

std::vector<TOptionLine> SplitOptionText(const std::string& text) {
  const std::string normalized = NormalizeLineBreaks(TrimText(text));
  std::string rest;
  rest.reserve(normalized.size());
  static constexpr std::string_view kLiteralBreak = "<CRLF>";
  for (std::size_t i = 0; i < normalized.size();) {
    if (normalized.compare(i, kLiteralBreak.size(), kLiteralBreak) == 0) {
      rest += '\n';
      i += kLiteralBreak.size();
    } else {
      rest += normalized[i++];
    }
  }

  std::vector<TOptionLine> lines;
  std::size_t start = 0;
  while (start < rest.size()) {
    std::size_t end = rest.find('\n', start);
    if (end == std::string::npos) end = rest.size();
    const std::string line = rest.substr(start, end - start);
    start = end + 1;
    // Empty lines (two separators in a row, a trailing separator) carry no option.
    if (TrimText(line).empty()) continue;
    const std::size_t eq = line.find('=');
    lines.push_back({LowerCaseAscii(line.substr(0, eq)),
                     eq == std::string::npos ? std::string() : line.substr(eq + 1)});
  }
  return lines;
}

}  // namespace tovamo
