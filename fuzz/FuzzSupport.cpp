#include "FuzzSupport.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "Services/FFLoad.h"

namespace tovamo::fuzz {

void LoadMediaLibraries() {
  TFFLoader& loader = FFLoader();
  loader.LibraryPath.clear();
  if (!loader.LoadLibs(kAllLibraries)) {
    std::fprintf(stderr, "The media libraries cannot be loaded: %s\n",
                 loader.LastErrorText().c_str());
    std::exit(2);
  }
}

namespace {

struct TScratch {
  std::string Path;
  TScratch() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tovamo-fuzz-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
      std::perror("mkdtemp");
      std::exit(2);
    }
    Path = pattern;
  }
  ~TScratch() {
    std::error_code ignored;
    std::filesystem::remove_all(Path, ignored);
  }
};

}  // namespace

const std::string& ScratchDir() {
  static TScratch scratch;
  return scratch.Path;
}

std::string WriteScratchFile(const std::string& name, std::string_view content) {
  const std::string path = ScratchDir() + "/" + name;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), std::streamsize(content.size()));
  return path;
}

}  // namespace tovamo::fuzz
