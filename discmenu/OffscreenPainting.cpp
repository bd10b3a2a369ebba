#include "OffscreenPainting.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QGuiApplication>
#include <cstdlib>
#include <memory>
#include <string>

namespace tovamo::discmenu {
namespace {

// Without a session (a shell over ssh, a container, cron) there is no XDG_RUNTIME_DIR, and
// Qt warns on standard error before taking /tmp/runtime-<user>. The command takes that same
// folder quietly, when it is ours and private or can be made so.
void QuietRuntimeFolder() {
  const char* given = std::getenv("XDG_RUNTIME_DIR");
  if (given != nullptr && *given != '\0') return;
  const std::string folder = "/tmp/runtime-" + std::to_string(getuid());
  mkdir(folder.c_str(), 0700);
  struct stat info {};
  if (lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != getuid() ||
      (info.st_mode & 077) != 0)
    return;  // someone else's, or open to others: Qt says so itself
  setenv("XDG_RUNTIME_DIR", folder.c_str(), 0);
}

}  // namespace

void EnsureGuiForPainting() {
  if (QCoreApplication::instance() != nullptr) return;
  QuietRuntimeFolder();
  // Lives to the end of the process: fonts and the platform stay valid for later pictures.
  static int argc = 3;
  static char arg0[] = "tovamo";
  static char arg1[] = "-platform";
  static char arg2[] = "offscreen";
  static char* argv[] = {arg0, arg1, arg2, nullptr};
  static std::unique_ptr<QGuiApplication> app = std::make_unique<QGuiApplication>(argc, argv);
}

}  // namespace tovamo::discmenu

#if defined(__SANITIZE_ADDRESS__)
// Fontconfig keeps its caches of the fonts drawing found for the whole process, and frees
// them only when told to, which Qt does not: under LeakSanitizer that is a report of the
// library's own allocations in every process that drew text, not a leak of ours.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}
#endif
