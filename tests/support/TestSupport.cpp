#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <random>

#include "Services/FFLoad.h"

namespace tovamo::test {

TTempDir::TTempDir() {
  std::random_device rd;
  Path_ = std::filesystem::temp_directory_path() /
          ("tovamo-test-" + std::to_string(getpid()) + "-" + std::to_string(rd()));
  std::filesystem::create_directories(Path_);
}

TTempDir::~TTempDir() {
  std::error_code ec;
  std::filesystem::remove_all(Path_, ec);
}

void LoadSystemLibraries() {
  TFFLoader& loader = FFLoader();
  loader.LibraryPath.clear();
  ASSERT_TRUE(loader.LoadLibs(kAllLibraries)) << loader.LastErrorText();
}

std::string FixtureDir() {
  return TOVAMO_FIXTURE_DIR;
}

std::string Fixture(const std::string& name) {
  return FixtureDir() + "/" + name;
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

}  // namespace tovamo::test
