// An option text: lines of name=value. The text is trimmed, its line breaks become LF and
// every literal "<CRLF>" is a line break too; each line splits at its first "=" and the
// name is compared in lower case.
#pragma once

#include <string>
#include <vector>

namespace tovamo {

struct TOptionLine {
  std::string Name;  // lower case
  std::string Value;
};

// The lines in text order; blank lines carry no option and are left out.
std::vector<TOptionLine> SplitOptionText(const std::string& text);

}  // namespace tovamo
