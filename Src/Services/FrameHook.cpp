#include "Services/FrameHook.h"

#include <dlfcn.h>
#include <link.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <new>

#define TOVAMO_FRAMEHOOK_HOST
#include "tovamo/framehook.h"

#include "Services/FFBindings.h"
#include "Services/FFLog.h"

namespace tovamo {

struct TFrameHookEntry {
  TFrameHookEntry* Next = nullptr;
  TovamoHookConfigure Configure = nullptr;
  TovamoHookProcess Process = nullptr;
  TovamoHookRelease Release = nullptr;
  void* Context = nullptr;  // what Configure stored
};

namespace {

// One error line through av_log (and so through the log bridge); before avutil is bound,
// straight to the bridge at the same level.
void HookError(const std::string& text) {
  if (ff::av_log)
    ff::av_log(nullptr, AV_LOG_ERROR, "%s\n", text.c_str());
  else
    DefaultLogger()->Log(nullptr, llError, text);
}

// The hook libraries of the whole program, by path; each is opened once and stays loaded
// until the program ends, so the entry points of every chain stay valid.
struct TLibraryCache {
  std::mutex Lock;
  std::map<std::string, void*> Handles;
};

TLibraryCache& LibraryCache() {
  static TLibraryCache cache;
  return cache;
}

// A path names the same library whatever the current folder and the links on the way:
// paths are kept resolved. A bare name is found through the system's search and kept as is.
std::string CacheKey(const std::string& path) {
  if (path.find('/') == std::string::npos) return path;
  std::unique_ptr<char, decltype(&std::free)> real(realpath(path.c_str(), nullptr), &std::free);
  return real ? std::string(real.get()) : path;
}

// The library's handle, loading it on first use; null with the reason in `error`.
void* LoadHookLibrary(const std::string& path, std::string& error) {
  if (path.empty()) {
    // dlopen would hand back the program itself.
    error = "Frame hook library name is empty";
    return nullptr;
  }
  const std::string key = CacheKey(path);
  TLibraryCache& cache = LibraryCache();
  std::lock_guard lock(cache.Lock);
  const auto it = cache.Handles.find(key);
  if (it != cache.Handles.end()) return it->second;
  // RTLD_NOW: a library with unresolved symbols is refused here, not when a picture
  // reaches it. RTLD_LOCAL: its names do not leak into other libraries.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = dlerror();
    error = why ? why : "Cannot load " + path;
    return nullptr;
  }
  cache.Handles.emplace(key, handle);
  return handle;
}

// The library's own export of that name: dlsym also searches the libraries it depends on,
// and a function of theirs that happens to share the name is no hook entry point.
void* OwnSymbol(void* handle, const char* name) {
  void* sym = dlsym(handle, name);
  if (!sym) return nullptr;
  link_map* library = nullptr;
  link_map* owner = nullptr;
  Dl_info info;
  if (dlinfo(handle, RTLD_DI_LINKMAP, &library) != 0 ||
      !dladdr1(sym, &info, reinterpret_cast<void**>(&owner), RTLD_DL_LINKMAP) || owner != library)
    return nullptr;
  return sym;
}

}  // namespace

TFrameHookChain::~TFrameHookChain() {
  ReleaseFrameHooks(*this);
}

int AddFrameHook(TFrameHookChain& chain, const std::vector<std::string>& args) {
  if (args.empty()) return AVERROR(ENOENT);
  const std::string& path = args[0];

  std::string loadError;
  void* library = LoadHookLibrary(path, loadError);
  if (!library) {
    HookError(loadError);
    return -1;
  }

  // Linked only once it is configured: a failure below leaves the chain as it was.
  std::unique_ptr<TFrameHookEntry> entry(new (std::nothrow) TFrameHookEntry);
  if (!entry) return AVERROR(ENOMEM);
  entry->Configure =
      reinterpret_cast<TovamoHookConfigure>(OwnSymbol(library, TOVAMO_HOOK_CONFIGURE));
  entry->Process = reinterpret_cast<TovamoHookProcess>(OwnSymbol(library, TOVAMO_HOOK_PROCESS));
  entry->Release = reinterpret_cast<TovamoHookRelease>(OwnSymbol(library, TOVAMO_HOOK_RELEASE));

  if (!entry->Process) {
    HookError("Failed to find Process entrypoint in " + path);
    return AVERROR(ENOENT);
  }
  if (!entry->Configure && args.size() > 1) {
    HookError("Failed to find Configure entrypoint in " + path);
    return AVERROR(ENOENT);
  }

  if (entry->Configure) {
    // The hook gets texts of its own, writable as main()'s argv, ending with a null.
    std::vector<std::string> texts;
    std::vector<char*> argv;
    try {
      texts = args;
      argv.reserve(texts.size() + 1);
      for (std::string& text : texts) argv.push_back(text.data());
      argv.push_back(nullptr);
    } catch (const std::bad_alloc&) {
      return AVERROR(ENOMEM);
    }
    if (entry->Configure(&entry->Context, int(texts.size()), argv.data()) != 0) {
      HookError("Failed to Configure " + path);
      // A context stored before refusing is the hook's to free.
      if (entry->Context && entry->Release) entry->Release(entry->Context);
      return AVERROR(EINVAL);
    }
  }

  TFrameHookEntry** last = &chain.First;
  while (*last) last = &(*last)->Next;
  *last = entry.release();
  return 0;
}

int ProcessFrameHooks(const TFrameHookChain* chain, AVFrame* picture, std::int64_t pts) {
  if (!chain || !chain->First) return 0;
  if (!picture || !picture->data[0] || picture->width <= 0 || picture->height <= 0 ||
      picture->hw_frames_ctx || !ff::av_pix_fmt_desc_get)
    return AVERROR(EINVAL);
  const AVPixFmtDescriptor* desc = ff::av_pix_fmt_desc_get(AVPixelFormat(picture->format));
  if (!desc || (desc->flags & AV_PIX_FMT_FLAG_HWACCEL)) return AVERROR(EINVAL);
  // Buffers shared with another reference are copied first; a picture without reference
  // counted buffers is its owner's own memory and taken as it is.
  if (picture->buf[0]) {
    const int ret = ff::av_frame_make_writable(picture);
    if (ret < 0) return ret;
  }
  for (const TFrameHookEntry* entry = chain->First; entry; entry = entry->Next) {
    // Every hook gets the frame's own planes, whatever an earlier hook did to its copy.
    TovamoHookPicture planes;
    for (int i = 0; i < 4; ++i) {
      planes.data[i] = picture->data[i];
      planes.linesize[i] = picture->linesize[i];
    }
    entry->Process(entry->Context, &planes, picture->format, picture->width, picture->height, pts);
  }
  return 0;
}

void ReleaseFrameHooks(TFrameHookChain& chain) {
  TFrameHookEntry* entry = chain.First;
  chain.First = nullptr;
  while (entry) {
    TFrameHookEntry* next = entry->Next;
    if (entry->Release) entry->Release(entry->Context);
    delete entry;
    entry = next;
  }
}

}  // namespace tovamo
