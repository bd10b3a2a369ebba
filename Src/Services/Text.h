// Locale-free text helpers shared by the whole code base. Option texts, preset files, level
// names and the numbers in them are the same text whatever language the desktop runs in, so
// nothing here depends on the process locale.
#pragma once

#include <locale.h>

#include <string>
#include <string_view>

namespace tovamo {

// Blanks and control characters (every byte up to the space) removed from both ends.
std::string TrimText(std::string_view text);

// ASCII letters lowered; every other byte unchanged.
std::string LowerCaseAscii(std::string_view text);

// Equal when lowered as LowerCaseAscii lowers them.
bool SameTextIgnoringCase(std::string_view a, std::string_view b);

// While it lives, the calling thread reads and writes numbers as the C locale does (a decimal
// point, no grouping), whatever the process locale is. The media libraries parse option
// values and print numbers with the C library (strtod, snprintf), which follow the locale;
// hold one around calls that hand them numbers as text or take numbers back as text. Other
// threads are not affected. Nests.
class TCNumericLocale {
 public:
  TCNumericLocale();
  ~TCNumericLocale();
  TCNumericLocale(const TCNumericLocale&) = delete;
  TCNumericLocale& operator=(const TCNumericLocale&) = delete;

 private:
  locale_t Previous_;
};

}  // namespace tovamo
