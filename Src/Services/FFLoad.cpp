#include "Services/FFLoad.h"

#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>

#include <cstdio>

#include "Services/Exceptions.h"
#include "Services/FFLoadHooks.h"

namespace tovamo {
namespace {

constexpr const char* kModule = "FFLoad";

std::string Format(const char* fmt, const std::string& a, const std::string& b) {
  char buf[4096];
  std::snprintf(buf, sizeof buf, fmt, a.c_str(), b.c_str());
  return buf;
}

std::string DlErrorText() {
  const char* e = dlerror();
  return e ? e : "unknown error";
}

bool IsRegularFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

class TBindError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace

TFFLoader::~TFFLoader() {
  Closing = true;
  UnloadLibs(kAllLibraries);
}

TFFLoader& FFLoader() {
  static TFFLoader loader;
  return loader;
}

std::string TFFLoader::LibFileName(TLibrary lib) {
  const TLibraryItem& item = LibraryItem(lib);
  std::string name = std::string("lib") + item.BaseName + ".so";
  if (item.Version >= 0) name += "." + std::to_string(item.Version);
  return name;
}

void* TFFLoader::LoadModule(const std::string& dir, const std::string& name) {
  // RTLD_GLOBAL so that a library loaded from `dir` satisfies its siblings' dependencies by
  // soname; the search path cannot be changed for a running process as on other systems.
  // RTLD_NODELETE keeps the code mapped after unloading: the libraries keep process-wide
  // state (tables, thread-local destructors) that must not vanish under a running thread,
  // so unloading releases the binding and the handle, not the mapping.
  const int flags = RTLD_NOW | RTLD_GLOBAL | RTLD_NODELETE;
  if (!dir.empty() && IsRegularFile(dir + name)) return dlopen((dir + name).c_str(), flags);
  return dlopen(name.c_str(), flags);
}

void TFFLoader::BindProc(TLibrary lib, const std::string& fileName, void* handle) {
  const TBindTable table = LibraryItem(lib).Table();
  for (std::size_t i = 0; i < table.Count; ++i) {
    const TBindEntry& e = table.Entries[i];
    dlerror();
    void* sym = dlsym(handle, e.Name);
    if (!sym && e.Required) {
      const std::string why = DlErrorText();
      UnbindProc(lib);
      char buf[4096];
      std::snprintf(buf, sizeof buf, "Load function %s@%s error: %s", e.Name, fileName.c_str(),
                    why.c_str());
      throw TBindError(buf);
    }
    *e.Slot = sym;
  }
}

void TFFLoader::UnbindProc(TLibrary lib) {
  const TBindTable table = LibraryItem(lib).Table();
  for (std::size_t i = 0; i < table.Count; ++i) *table.Entries[i].Slot = nullptr;
}

void TFFLoader::RunHook(TLibrary lib) {
  switch (lib) {
    case libAVCodec:
      CodecLockInstall();
      break;
    case libAVUtil:
      if (InstallLogBridge) HookLog();
      break;
    case libAVFormat:
      RegisterUnicodeProtocol();
      break;
    default:
      break;
  }
}

bool TFFLoader::LoadLib(TLibrary lib) {
  TLibraryStatus& st = Status_[lib];
  if (!st.Handle) {
    const std::string name = LibFileName(lib);
    std::string dir = LibraryPath;
    if (!dir.empty() && dir.back() != '/') dir += '/';
    st.Handle = LoadModule(dir, name);
    if (!st.Handle) {
      LastError_ = Format("Load library %s error: %s", dir + name, DlErrorText());
      return false;
    }
  }
  if (!st.Bound) {
    try {
      BindProc(lib, LibFileName(lib), st.Handle);
      st.Bound = true;
    } catch (const TBindError& e) {
      LastError_ = e.what();
    }
  }
  if (!st.Bound) {
    UnloadLib(lib);
    return false;
  }
  RunHook(lib);
  return true;
}

bool TFFLoader::LoadLibs(TLibrarySet set) {
  Assert(set != 0, "Library set must not be empty", kModule);
  for (int i = 0; i < kLibraryCount; ++i) {
    if (!(set & (1u << i))) continue;
    if (!LoadLib(TLibrary(i))) {
      UnloadLibs(set);
      return false;
    }
  }
  return true;
}

bool TFFLoader::LibLoaded(TLibrary lib) const {
  return Status_[lib].Handle != nullptr && Status_[lib].Bound;
}

bool TFFLoader::LibsLoaded(TLibrarySet set) const {
  Assert(set != 0, "Library set must not be empty", kModule);
  for (int i = 0; i < kLibraryCount; ++i)
    if ((set & (1u << i)) && !LibLoaded(TLibrary(i))) return false;
  return true;
}

void TFFLoader::UnloadLib(TLibrary lib) {
  TLibraryStatus& st = Status_[lib];
  if (st.Bound) {
    if (lib == libAVCodec) CodecLockUninstall();
    UnbindProc(lib);
    st.Bound = false;
  }
  if (st.Handle) {
    dlclose(st.Handle);
    st.Handle = nullptr;
  }
}

void TFFLoader::UnloadLibs(TLibrarySet set) {
  Assert(set != 0, "Library set must not be empty", kModule);
  // Dependents first, so no library is freed under one that still uses it.
  for (int i = kLibraryCount - 1; i >= 0; --i)
    if (set & (1u << i)) UnloadLib(TLibrary(i));
}

std::string TFFLoader::LibFilePath(TLibrary lib) const {
  if (!Status_[lib].Handle) return {};
  struct link_map* map = nullptr;
  if (dlinfo(Status_[lib].Handle, RTLD_DI_LINKMAP, &map) != 0 || !map) return {};
  return map->l_name ? map->l_name : "";
}

std::string TFFLoader::LibVersionText(TLibrary lib) const {
  if (!LibLoaded(lib)) return {};
  unsigned v = 0;
  switch (lib) {
    case libAVUtil:
      v = ff::avutil_version();
      break;
    case libSwResample:
      v = ff::swresample_version();
      break;
    case libSwScale:
      v = ff::swscale_version();
      break;
    case libAVCodec:
      v = ff::avcodec_version();
      break;
    case libAVFormat:
      v = ff::avformat_version();
      break;
    case libAVFilter:
      v = ff::avfilter_version();
      break;
    case libAVDevice:
      v = ff::avdevice_version();
      break;
    default:
      return {};
  }
  return std::to_string(v >> 16) + "." + std::to_string((v >> 8) & 0xFF) + "." +
         std::to_string(v & 0xFF);
}

}  // namespace tovamo
