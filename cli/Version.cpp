#include "Version.h"

#include <cstdio>

#include "Services/FFLoad.h"
#include "Services/ProgramDir.h"

#ifndef TOVAMO_VERSION
#define TOVAMO_VERSION "unknown"
#endif

namespace tovamo::cli {

std::string MediaLibraryFolder() {
  return ProgramDir() + "/lib";
}

int PrintVersion() {
  std::printf("tovamo-convert %s\n", TOVAMO_VERSION);
  TFFLoader& loader = FFLoader();
  loader.LibraryPath = MediaLibraryFolder();
  if (!loader.LoadLibs(kEncoderLibraries)) {
    std::printf("media libraries: not loaded (%s)\n", loader.LastErrorText().c_str());
    return 1;
  }
  for (int i = 0; i < kLibraryCount; ++i) {
    const auto lib = TLibrary(i);
    if (!(kEncoderLibraries & LibBit(lib))) continue;
    std::printf("%-14s %-10s %s\n", ("lib" + std::string(LibraryItem(lib).BaseName)).c_str(),
                loader.LibVersionText(lib).c_str(), loader.LibFilePath(lib).c_str());
  }
  return 0;
}

}  // namespace tovamo::cli
