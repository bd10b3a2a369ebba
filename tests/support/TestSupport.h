// Shared helpers for the tests: temporary folders, test media and loading the libraries.
#pragma once

#include <filesystem>
#include <string>

#include "Services/Exceptions.h"

namespace tovamo::test {

// A fresh folder under the system temp dir, removed with its contents on destruction.
class TTempDir {
 public:
  TTempDir();
  ~TTempDir();
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;
  const std::filesystem::path& Path() const { return Path_; }
  std::string File(const std::string& name) const { return (Path_ / name).string(); }

 private:
  std::filesystem::path Path_;
};

// Loads every media library from the system search path; fails the test when it cannot.
void LoadSystemLibraries();

// The folder of generated test media, and one file in it.
std::string FixtureDir();
std::string Fixture(const std::string& name);
// A large fixture that the generator writes only when named: written into the folder of
// test media on first use and kept there. Empty, with the test failed, when it cannot be.
std::string FixtureOnRequest(const std::string& name);

// Writes text to a file (creating or truncating it).
void WriteFile(const std::string& path, const std::string& text);

// Runs fn and returns the message of the FFmpegException it raised ("" when none).
template <typename F>
std::string RaisedMessage(F&& fn) {
  try {
    fn();
  } catch (const FFmpegException& e) {
    return e.what();
  }
  return "";
}

}  // namespace tovamo::test
