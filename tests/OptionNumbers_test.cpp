// Number conversions of option values.
#include "Engine/OptionNumbers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "Services/Exceptions.h"
#include "support/TestLocale.h"

namespace tovamo {
namespace {

template <typename T, typename F>
void Check(F convert, const std::string& text, std::optional<T> expected) {
  if (expected) {
    try {
      EXPECT_EQ(convert(text), *expected) << "'" << text << "'";
    } catch (const std::exception& e) {
      ADD_FAILURE() << "'" << text << "' raised " << e.what();
    }
  } else {
    EXPECT_THROW(convert(text), EConvertError) << "'" << text << "'";
  }
}

TEST(OptionNumbers, Int) {
  const struct {
    const char* Text;
    std::optional<int> Value;
  } cases[] = {
      {"0", 0},
      {"12", 12},
      {"-5", -5},
      {"+7", 7},
      {" 12", 12},
      {"\t3", 3},
      {"$1F", 31},
      {"$1f", 31},
      {"0x1f", 31},
      {"0X1F", 31},
      {"-$10", -16},
      {"2147483647", 2147483647},
      {"-2147483648", INT32_MIN},
      {"$FFFFFFFF", -1},
      {"2147483648", {}},
      {"12abc", {}},
      {"", {}},
      {"   ", {}},
      {"12 ", {}},
      {"1.5", {}},
      {"1e3", {}},
      {"0x", {}},
      {"$", {}},
      {"--1", {}},
      {"0x1g", {}},
      {"abc", {}},
  };
  for (const auto& c : cases) Check<int>(StrToInt, c.Text, c.Value);
}

TEST(OptionNumbers, Int64) {
  const struct {
    const char* Text;
    std::optional<std::int64_t> Value;
  } cases[] = {
      {"5000000000", 5000000000LL},
      {"-9223372036854775808", INT64_MIN},
      {"9223372036854775807", INT64_MAX},
      {"9223372036854775808", {}},
      {"$7FFFFFFFFFFFFFFF", INT64_MAX},
      {"0x10", 16},
      {" 42", 42},
      {"42k", {}},
      {"", {}},
  };
  for (const auto& c : cases) Check<std::int64_t>(StrToInt64, c.Text, c.Value);
}

TEST(OptionNumbers, Float) {
  const struct {
    const char* Text;
    std::optional<double> Value;
  } cases[] = {
      {"0.7", 0.7}, {"1e3", 1000.0}, {"-2.5E-1", -0.25}, {" 3 ", 3.0},  {"10", 10.0},
      {".5", 0.5},  {"1,5", {}},     {"", {}},           {"abc", {}},   {"1e999", {}},
      {"nan", {}},  {"inf", {}},     {"0x10", {}},       {"1.5.2", {}}, {"1e", {}},
  };
  for (const auto& c : cases) Check<double>(StrToFloat, c.Text, c.Value);
}

// Signs, exponents and the edges of double precision; run under a comma-decimal locale too.
TEST(OptionNumbers, FloatNotation) {
  const struct {
    const char* Text;
    std::optional<double> Value;
  } cases[] = {
      {"+0.5", 0.5},   {"-0.5", -0.5},     {"5.", 5.0},
      {"1E+2", 100.0}, {"1e-300", 1e-300}, {"1.7e308", 1.7e308},
      {"+-1", {}},     {"-+1", {}},        {"+", {}},
      {"-", {}},       {".", {}},          {"e5", {}},
      {"1e-400", {}},  {"0.5 0.5", {}},    {"\t2.5\t", 2.5},
  };
  for (const auto& c : cases) Check<double>(StrToFloat, c.Text, c.Value);
}

// A single-precision setting takes what it can hold: beyond its range is no number, and a
// value too small for it comes back as 0 for the caller's own range check.
TEST(OptionNumbers, Single) {
  const struct {
    const char* Text;
    std::optional<float> Value;
  } cases[] = {
      {"0.7", 0.7f}, {"-2.5", -2.5f},  {"3.4e38", 3.4e38f}, {"-3.4e38", -3.4e38f}, {"1e39", {}},
      {"-1e39", {}}, {"1e-300", 0.0f}, {"1,5", {}},         {"1e999", {}},         {"", {}},
  };
  for (const auto& c : cases) Check<float>(StrToSingle, c.Text, c.Value);

  float f = 9;
  for (double bad : {std::numeric_limits<double>::infinity(), std::nan(""), 1e39, -1e39})
    EXPECT_FALSE(ToSingle(bad, f)) << bad;
  EXPECT_EQ(f, 9.0f);
  EXPECT_TRUE(ToSingle(0.25, f));
  EXPECT_EQ(f, 0.25f);
}

TEST(OptionNumbers, TryFormsDoNotRaise) {
  int i = 99;
  EXPECT_FALSE(TryStrToInt("x", i));
  EXPECT_EQ(i, 99);
  EXPECT_TRUE(TryStrToInt("$A", i));
  EXPECT_EQ(i, 10);
  std::int64_t l = 0;
  EXPECT_FALSE(TryStrToInt64("", l));
  double d = 0;
  EXPECT_FALSE(TryStrToFloat("1,5", d));
  EXPECT_TRUE(TryStrToFloat("1.5", d));
  EXPECT_EQ(d, 1.5);
  float f = 7;
  EXPECT_FALSE(TryStrToSingle("1e39", f));
  EXPECT_EQ(f, 7.0f);
}

}  // namespace
}  // namespace tovamo
