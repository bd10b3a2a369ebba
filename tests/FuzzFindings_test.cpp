// The inputs on which a fuzz target once failed (fuzz/findings/<target>/), fed again to the
// same entries the fuzz programs use (fuzz/FuzzEntries.h): each must now be handled, with a
// result or the error its entry point promises.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "FuzzEntries.h"
#include "support/TestSupport.h"

namespace tovamo {
namespace {

namespace fs = std::filesystem;

std::string ReadWhole(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The saved inputs of one target, in name order (none when it has found nothing yet).
std::vector<fs::path> Findings(const std::string& target) {
  std::vector<fs::path> files;
  const fs::path dir = fs::path(TOVAMO_FUZZ_FINDINGS) / target;
  if (fs::is_directory(dir))
    for (const fs::directory_entry& entry : fs::directory_iterator(dir))
      if (entry.is_regular_file()) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  return files;
}

TEST(FuzzFindings, EngineAndSetupHandleEverySavedInput) {
  test::LoadSystemLibraries();
  const struct {
    const char* Target;
    void (*Feed)(std::string_view);
  } targets[] = {
      {"option_parser", fuzz::FeedOption},
      {"option_text", fuzz::FeedOptionText},
      {"format_string", fuzz::FeedFormatString},
      {"table_store", fuzz::FeedTableStore},
  };
  for (const auto& t : targets)
    for (const fs::path& file : Findings(t.Target)) {
      SCOPED_TRACE(file.string());
      const std::string input = ReadWhole(file);
      EXPECT_NO_THROW(t.Feed(input));
    }
}

}  // namespace
}  // namespace tovamo
