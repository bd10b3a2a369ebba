#include "OutputCleanup.h"

#include <system_error>

namespace tovamo::cli {

namespace fs = std::filesystem;

TOutputGuard::TOutputGuard(std::string path) : Path_(std::move(path)) {
  std::error_code ec;
  Existed_ = fs::exists(Path_, ec);
  if (Existed_) WrittenAt_ = fs::last_write_time(Path_, ec);
}

bool TOutputGuard::RemoveIfEmpty() const {
  std::error_code ec;
  if (!fs::is_regular_file(fs::symlink_status(Path_, ec)) || fs::file_size(Path_, ec) != 0 || ec)
    return false;
  if (Existed_ && fs::last_write_time(Path_, ec) == WrittenAt_) return false;
  return fs::remove(Path_, ec) && !ec;
}

}  // namespace tovamo::cli
