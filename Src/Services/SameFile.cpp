#include "Services/SameFile.h"

#include <sys/stat.h>

#include <algorithm>
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

// The identity of an existing file (links followed), as std::filesystem::equivalent uses.
bool Identity(const std::string& name, std::pair<dev_t, ino_t>& identity) {
  struct stat st;
  if (stat(name.c_str(), &st) != 0) return false;
  identity = {st.st_dev, st.st_ino};
  return true;
}

}  // namespace

TSameFileIndex::TSameFileIndex(const std::vector<std::string>& names) {
  for (int i = 0; i < int(names.size()); ++i) {
    const std::string path = NormalPath(names[std::size_t(i)]).string();
    AllPaths_.try_emplace(path, i);
    std::pair<dev_t, ino_t> identity;
    if (Identity(names[std::size_t(i)], identity))
      Existing_.try_emplace(identity, i);
    else
      MissingPaths_.try_emplace(path, i);
  }
}

int TSameFileIndex::IndexOf(const std::string& name) const {
  const std::string path = NormalPath(name).string();
  auto found = [](const auto& map, const auto& key) {
    const auto it = map.find(key);
    return it == map.end() ? -1 : it->second;
  };
  std::pair<dev_t, ino_t> identity;
  if (!Identity(name, identity)) return found(AllPaths_, path);
  // An existing file: the same as an existing entry by identity, or a missing one by path.
  const int byIdentity = found(Existing_, identity);
  const int byPath = found(MissingPaths_, path);
  if (byIdentity < 0) return byPath;
  return byPath < 0 ? byIdentity : std::min(byIdentity, byPath);
}

bool IsSameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  if (fs::exists(a, ec) && fs::exists(b, ec)) {
    const bool same = fs::equivalent(a, b, ec);
    if (!ec) return same;
  }
  return NormalPath(a) == NormalPath(b);
}

}  // namespace tovamo
