#include "Components/TemporaryOutput.h"

#include <unistd.h>

#include <filesystem>
#include <system_error>

namespace tovamo {

namespace fs = std::filesystem;

std::string TemporaryOutputPath(const std::string& finalPath) {
  const fs::path path(finalPath);
  const std::string name = "." + path.filename().string() + ".part-" + std::to_string(::getpid()) +
                           path.extension().string();
  return (path.parent_path() / name).string();
}

std::string OutputWritePath(const std::string& finalPath) {
  std::error_code error;
  const fs::file_status status = fs::status(finalPath, error);
  if (status.type() == fs::file_type::not_found || status.type() == fs::file_type::regular)
    return TemporaryOutputPath(finalPath);
  return finalPath;
}

std::string SettleTemporaryOutput(const std::string& temporaryPath, const std::string& finalPath,
                                  TTaskEnd end) {
  if (temporaryPath == finalPath) return {};
  std::error_code error;
  const auto size = fs::file_size(temporaryPath, error);
  const bool written = !error && size > 0;
  if (end == TTaskEnd::Failed || !written) {
    fs::remove(temporaryPath, error);
    return {};
  }
  fs::rename(temporaryPath, finalPath, error);
  if (!error) return {};
  // The converted file is kept under its temporary name rather than lost.
  return "cannot rename " + temporaryPath + " to " + finalPath + " (" + error.message() +
         "); the output is kept as " + temporaryPath;
}

}  // namespace tovamo
