// Run-time loading of the FFmpeg libraries and binding of their entry points by name.
#pragma once

#include <cstdint>
#include <string>

#include "Services/FFBindings.h"

namespace tovamo {

// Library indexes, in dependency order: a set is loaded from the lowest index up, so a
// library placed in LibraryPath finds its siblings already loaded.
enum TLibrary : int {
  libAVUtil = 0,
  libSwResample,
  libSwScale,
  libAVCodec,
  libAVFormat,
  libAVFilter,
  libAVDevice,
  kLibraryCount
};

using TLibrarySet = std::uint8_t;  // bit i = library i
constexpr TLibrarySet LibBit(TLibrary lib) {
  return TLibrarySet(1u << lib);
}
constexpr TLibrarySet kAllLibraries = (1u << kLibraryCount) - 1;
// What the encoder component loads: everything but avdevice.
constexpr TLibrarySet kEncoderLibraries = kAllLibraries & ~LibBit(libAVDevice);

struct TLibraryItem {
  TLibrary Index;
  const char* BaseName;  // "avcodec"
  int Version;           // major version the headers were written for
  TBindTable (*Table)();
};

const TLibraryItem& LibraryItem(TLibrary lib);

class TFFLoader {
 public:
  TFFLoader() = default;
  ~TFFLoader();
  TFFLoader(const TFFLoader&) = delete;
  TFFLoader& operator=(const TFFLoader&) = delete;

  // The folder tried first ("lib" beside the program); empty = system search path only.
  std::string LibraryPath;
  // Install the log bridge into avutil when it is bound.
  bool InstallLogBridge = true;

  const std::string& LastErrorText() const { return LastError_; }

  // "lib" + base name + ".so." + major version, e.g. "libavcodec.so.59".
  static std::string LibFileName(TLibrary lib);

  bool LoadLib(TLibrary lib);
  bool LoadLibs(TLibrarySet set);  // all or none
  bool LibLoaded(TLibrary lib) const;
  bool LibsLoaded(TLibrarySet set) const;
  void UnloadLib(TLibrary lib);
  void UnloadLibs(TLibrarySet set);

  // The file a loaded library was taken from (empty when not loaded).
  std::string LibFilePath(TLibrary lib) const;
  // "major.minor.micro" that the bound library reports (empty when not bound).
  std::string LibVersionText(TLibrary lib) const;

  // Set when the program ends: the codec lock then does nothing.
  bool Closing = false;

 private:
  void* LoadModule(const std::string& dir, const std::string& name);
  void BindProc(TLibrary lib, const std::string& fileName, void* handle);
  static void UnbindProc(TLibrary lib);
  void RunHook(TLibrary lib);

  struct TLibraryStatus {
    void* Handle = nullptr;
    bool Bound = false;
  };
  TLibraryStatus Status_[kLibraryCount];
  std::string LastError_;
};

// The program's one loader.
TFFLoader& FFLoader();

}  // namespace tovamo
