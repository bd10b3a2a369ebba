#include "Services/Text.h"

namespace tovamo {
namespace {

bool IsBlankOrControl(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

// The C locale, made once; (locale_t)0 when it cannot be made (then nothing is switched).
locale_t CNumericLocale() {
  static const locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(0));
  return c;
}

}  // namespace

std::string TrimText(std::string_view text) {
  std::size_t b = 0, e = text.size();
  while (b < e && IsBlankOrControl(text[b])) ++b;
  while (e > b && IsBlankOrControl(text[e - 1])) --e;
  return std::string(text.substr(b, e - b));
}

std::string LowerCaseAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = LowerAscii(c);
  return out;
}

bool SameTextIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

TCNumericLocale::TCNumericLocale()
    : Previous_(CNumericLocale() ? uselocale(CNumericLocale()) : locale_t(0)) {}

TCNumericLocale::~TCNumericLocale() {
  if (Previous_) uselocale(Previous_);
}

}  // namespace tovamo
