// Runs a test program under the locale that TOVAMO_TEST_LOCALE names, as a desktop session
// in that language makes it the process locale. CTest registers the option parser suites a
// second time with a comma-decimal locale there; every test of such a run is skipped when
// the machine cannot set that locale. Include this header once in a suite's source file.
#pragma once

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace tovamo::test {

class TLocaleEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    const char* name = std::getenv("TOVAMO_TEST_LOCALE");
    if (!name || !*name) return;
    std::string reason;
    if (!std::setlocale(LC_ALL, name))
      reason = "is not available";
    else if (std::string(std::localeconv()->decimal_point) == ".")
      reason = "writes a decimal point";  // it would not test what this run is for
    if (reason.empty()) return;
    // Skipped in the environment, gtest marks no test; this line lets CTest report the skip.
    std::printf("[  SKIPPED ] locale %s %s\n", name, reason.c_str());
    GTEST_SKIP() << "locale " << name << " " << reason;
  }
};

inline const ::testing::Environment* const kLocaleEnvironment =
    ::testing::AddGlobalTestEnvironment(new TLocaleEnvironment);

}  // namespace tovamo::test
