// Number conversions of option values. A text that is no number raises EConvertError
// (the general conversion error), never FFmpegException. Option texts are the same whatever
// the process locale is: nothing here follows it.
#pragma once

#include <cstdint>
#include <string>

namespace tovamo {

// Decimal, or hexadecimal with a "$" or "0x" prefix; leading blanks allowed; the whole
// rest must be the number. Out of range raises EConvertError too.
int StrToInt(const std::string& text);
std::int64_t StrToInt64(const std::string& text);
// Decimal with an optional exponent; "." is the decimal separator in every locale, and
// leading and trailing blanks are allowed. A value beyond double precision is no number.
double StrToFloat(const std::string& text);
// The same for a setting held in single precision: a value beyond its range (which would
// become infinity) is no number either.
float StrToSingle(const std::string& text);

// Non-raising forms: false when the text is no number.
bool TryStrToInt(const std::string& text, int& value);
bool TryStrToInt64(const std::string& text, std::int64_t& value);
bool TryStrToFloat(const std::string& text, double& value);
bool TryStrToSingle(const std::string& text, float& value);

// A double as a single-precision setting: false for NaN and for a value beyond the range of
// single precision. A value too small for it becomes 0 (or the nearest denormal), so callers
// check their own ranges on the result, not on the double.
bool ToSingle(double value, float& result);

}  // namespace tovamo
