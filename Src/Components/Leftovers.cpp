#include "Components/Leftovers.h"

#include "Components/PassStats.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>
#include <utility>

namespace tovamo {

namespace fs = std::filesystem;

namespace {

// A process id written in decimal, or 0.
pid_t ParseOwner(const std::string& digits) {
  if (digits.empty() || digits.size() > 9 || digits[0] == '0') return 0;
  pid_t pid = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return 0;
    pid = pid * 10 + (c - '0');
  }
  return pid;
}

bool ProcessGone(pid_t pid) {
  return pid > 1 && pid != ::getpid() && ::kill(pid, 0) != 0 && errno == ESRCH;
}

bool IsNameCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

}  // namespace

std::string WorkFolderTag() {
  return ".authoring-" + std::to_string(::getpid()) + "-";
}

pid_t TemporaryOutputOwner(const std::string& name) {
  // "." + final name + ".part-" + id + the final name's extension (or nothing).
  static const std::string kMark = ".part-";
  const std::size_t mark = name.rfind(kMark);
  if (name.empty() || name[0] != '.' || mark == std::string::npos || mark < 2) return 0;
  const std::size_t digitsEnd = name.find('.', mark + kMark.size());
  const std::string digits = name.substr(mark + kMark.size(), digitsEnd - (mark + kMark.size()));
  const std::string ext = digitsEnd == std::string::npos ? "" : name.substr(digitsEnd);
  if (ext.find('.', 1) != std::string::npos) return 0;
  const std::string finalName = name.substr(1, mark - 1);
  if (finalName.size() < ext.size() ||
      finalName.compare(finalName.size() - ext.size(), ext.size(), ext) != 0)
    return 0;
  return ParseOwner(digits);
}

pid_t WorkFolderOwner(const std::string& name) {
  // "." + image name + ".authoring-" + id + "-" + the six letters mkdtemp chose.
  static const std::string kMark = ".authoring-";
  const std::size_t mark = name.rfind(kMark);
  if (name.empty() || name[0] != '.' || mark == std::string::npos || mark < 1) return 0;
  const std::string rest = name.substr(mark + kMark.size());
  const std::size_t dash = rest.find('-');
  if (dash == std::string::npos || rest.size() - dash - 1 != 6) return 0;
  for (std::size_t i = dash + 1; i < rest.size(); ++i)
    if (!IsNameCharacter(rest[i])) return 0;
  return ParseOwner(rest.substr(0, dash));
}

std::vector<std::string> RemoveLeftovers(const std::string& folder) {
  // Listed first, removed after: the folder is not changed under its own listing.
  std::vector<std::pair<fs::path, bool>> found;  // path, whether a work folder
  std::error_code ec;
  const fs::path where = folder.empty() ? fs::path(".") : fs::path(folder);
  for (fs::directory_iterator it(where, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    std::error_code typeError;
    const fs::file_type type = it->symlink_status(typeError).type();
    if (typeError) continue;
    if (type == fs::file_type::regular &&
        (ProcessGone(TemporaryOutputOwner(name)) || ProcessGone(PassStatsOwner(name))))
      found.push_back({it->path(), false});
    else if (type == fs::file_type::directory && ProcessGone(WorkFolderOwner(name)))
      found.push_back({it->path(), true});
  }
  std::vector<std::string> removed;
  for (const auto& [path, isFolder] : found) {
    std::error_code removeError;
    if (isFolder)
      fs::remove_all(path, removeError);
    else
      fs::remove(path, removeError);
    if (!removeError) removed.push_back(path.string());
  }
  return removed;
}

}  // namespace tovamo
