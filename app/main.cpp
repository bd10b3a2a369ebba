// Tovamo's program entry. For now it loads the media libraries the way the converter
// will (the "lib" folder beside the program first, then the system) and reports them.
#include <cstdio>

#include "Services/FFLoad.h"
#include "Services/ProgramDir.h"

int main() {
  using namespace tovamo;
  TFFLoader& loader = FFLoader();
  loader.LibraryPath = ProgramDir() + "/lib";
  if (!loader.LoadLibs(kAllLibraries)) {
    std::fprintf(stderr, "%s\n", loader.LastErrorText().c_str());
    return 1;
  }
  std::printf("Media libraries loaded:\n");
  for (int i = 0; i < kLibraryCount; ++i) {
    const auto lib = TLibrary(i);
    std::printf("  %-20s %-10s %s\n", TFFLoader::LibFileName(lib).c_str(),
                loader.LibVersionText(lib).c_str(), loader.LibFilePath(lib).c_str());
  }
  return 0;
}
