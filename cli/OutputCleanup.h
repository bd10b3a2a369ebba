// No empty outputs left behind: a task that failed or was stopped before it wrote anything
// leaves an empty file, which goes. A file of that name that was there before and that the
// run did not touch stays.
#pragma once

#include <filesystem>
#include <string>

namespace tovamo::cli {

class TOutputGuard {
 public:
  // Notes what is at `path` before the run.
  explicit TOutputGuard(std::string path);
  // Removes the file when it is empty and the run made or changed it. True when removed.
  bool RemoveIfEmpty() const;

 private:
  std::string Path_;
  bool Existed_ = false;
  std::filesystem::file_time_type WrittenAt_{};
};

}  // namespace tovamo::cli
