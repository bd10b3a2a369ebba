#include "Services/ProgramDir.h"

#include <unistd.h>

#include <climits>

namespace tovamo {

std::string ProgramDir() {
  char buf[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  std::string path(buf, std::size_t(n));
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

}  // namespace tovamo
