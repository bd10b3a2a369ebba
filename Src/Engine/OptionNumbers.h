// Number conversions of option values. A text that is no number raises EConvertError
// (the general conversion error), never FFmpegException.
#pragma once

#include <cstdint>
#include <string>

namespace tovamo {

// Decimal, or hexadecimal with a "$" or "0x" prefix; leading blanks allowed; the whole
// rest must be the number. Out of range raises EConvertError too.
int StrToInt(const std::string& text);
std::int64_t StrToInt64(const std::string& text);
// Decimal with an optional exponent; "." is the decimal separator (the C locale), and
// leading and trailing blanks are allowed.
double StrToFloat(const std::string& text);

// Non-raising forms: false when the text is no number.
bool TryStrToInt(const std::string& text, int& value);
bool TryStrToInt64(const std::string& text, std::int64_t& value);
bool TryStrToFloat(const std::string& text, double& value);

}  // namespace tovamo
