#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
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

std::string FixtureOnRequest(const std::string& name) {
  const std::string path = Fixture(name);
  if (std::filesystem::exists(path)) return path;
  // Written aside in the same folder and moved into place, so that a suite running beside
  // this one never takes a half-written file.
  const std::filesystem::path aside =
      FixtureDir() + "/.on-request-" + std::to_string(getpid()) + "-" + name;
  const std::string command =
      "'" TOVAMO_FIXTUREGEN "' '" + aside.string() + "' '" + name + "' >/dev/null";
  const bool written = std::system(command.c_str()) == 0;
  std::error_code ec;
  if (written) std::filesystem::rename(aside / name, path, ec);
  std::error_code ignored;
  std::filesystem::remove_all(aside, ignored);
  if (!written) {
    ADD_FAILURE() << "the generator could not write " << name;
    return {};
  }
  if (ec) {
    ADD_FAILURE() << "cannot move " << name << " into " << FixtureDir() << ": " << ec.message();
    return {};
  }
  return path;
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

}  // namespace tovamo::test
