#include "Engine/OptionNumbers.h"

#include <cfloat>
#include <charconv>
#include <climits>
#include <cmath>
#include <string_view>

#include "Services/Exceptions.h"

namespace tovamo {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

bool ParseInt64(const std::string& text, std::int64_t& value) {
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  int base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= text.size()) return false;
  std::uint64_t magnitude = 0;
  const char* first = text.data() + i;
  const char* last = text.data() + text.size();
  auto [end, ec] = std::from_chars(first, last, magnitude, base);
  if (ec != std::errc() || end != last) return false;
  if (base == 16 && !negative) {
    // Hexadecimal texts may spell a negative number in two's complement.
    value = std::int64_t(magnitude);
    return true;
  }
  if (negative) {
    if (magnitude > std::uint64_t(INT64_MAX) + 1) return false;
    value = magnitude == std::uint64_t(INT64_MAX) + 1 ? INT64_MIN : -std::int64_t(magnitude);
  } else {
    if (magnitude > std::uint64_t(INT64_MAX)) return false;
    value = std::int64_t(magnitude);
  }
  return true;
}

[[noreturn]] void NotAnInteger(const std::string& text) {
  throw EConvertError("'" + text + "' is not a valid integer value");
}

[[noreturn]] void NotAFloat(const std::string& text) {
  throw EConvertError("'" + text + "' is not a valid floating point value");
}

}  // namespace

bool TryStrToInt64(const std::string& text, std::int64_t& value) {
  return ParseInt64(text, value);
}

bool TryStrToInt(const std::string& text, int& value) {
  std::int64_t v = 0;
  if (!ParseInt64(text, v)) return false;
  const bool hex = text.find_first_of("$xX") != std::string::npos;
  if (hex && v >= 0 && v <= std::int64_t(UINT32_MAX)) {
    value = int(std::uint32_t(v));  // "$FFFFFFFF" is -1, as a 32-bit hexadecimal text
    return true;
  }
  if (v < INT_MIN || v > INT_MAX) return false;
  value = int(v);
  return true;
}

bool TryStrToFloat(const std::string& text, double& value) {
  std::size_t b = 0, e = text.size();
  while (b < e && IsBlank(text[b])) ++b;
  while (e > b && IsBlank(text[e - 1])) --e;
  // Only plain decimal notation: no hexadecimal floats, infinities or NaNs.
  const std::string_view core = std::string_view(text).substr(b, e - b);
  if (core.empty() || core.find_first_not_of("+-0123456789.eE") != std::string_view::npos)
    return false;
  // from_chars reads the C notation in every locale; it takes a minus sign but no plus.
  const char* first = core.data();
  const char* last = first + core.size();
  if (*first == '+' && ++first != last && (*first == '+' || *first == '-')) return false;
  double v = 0;
  const auto [end, ec] = std::from_chars(first, last, v, std::chars_format::general);
  if (ec != std::errc() || end != last || !std::isfinite(v)) return false;
  value = v;
  return true;
}

bool ToSingle(double value, float& result) {
  if (std::isnan(value) || std::fabs(value) > double(FLT_MAX)) return false;
  result = float(value);
  return true;
}

bool TryStrToSingle(const std::string& text, float& value) {
  double v = 0;
  return TryStrToFloat(text, v) && ToSingle(v, value);
}

int StrToInt(const std::string& text) {
  int v = 0;
  if (!TryStrToInt(text, v)) NotAnInteger(text);
  return v;
}

std::int64_t StrToInt64(const std::string& text) {
  std::int64_t v = 0;
  if (!TryStrToInt64(text, v)) NotAnInteger(text);
  return v;
}

double StrToFloat(const std::string& text) {
  double v = 0;
  if (!TryStrToFloat(text, v)) NotAFloat(text);
  return v;
}

float StrToSingle(const std::string& text) {
  float v = 0;
  if (!TryStrToSingle(text, v)) NotAFloat(text);
  return v;
}

}  // namespace tovamo
