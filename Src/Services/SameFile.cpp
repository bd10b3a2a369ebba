#include "Services/SameFile.h"

#include <filesystem>
#include <system_error>

namespace tovamo {

namespace fs = std::filesystem;

namespace {

// Absolute, with links of its existing part resolved and "." and ".." taken out.
fs::path NormalPath(const std::string& path) {
  std::error_code ec;
  fs::path absolute = fs::absolute(path, ec);
  if (ec) absolute = path;
  fs::path normal = fs::weakly_canonical(absolute, ec);
  return ec ? absolute.lexically_normal() : normal;
}

}  // namespace

bool IsSameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  if (fs::exists(a, ec) && fs::exists(b, ec)) {
    const bool same = fs::equivalent(a, b, ec);
    if (!ec) return same;
  }
  return NormalPath(a) == NormalPath(b);
}

}  // namespace tovamo
