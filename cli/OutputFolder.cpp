#include "OutputFolder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace tovamo::cli {

namespace fs = std::filesystem;

std::string OutputFolderProblem(const std::string& folder) {
  const std::string dir = folder.empty() ? "." : folder;
  std::error_code ec;
  const fs::file_status status = fs::status(dir, ec);
  if (!fs::exists(status)) return "the output folder \"" + dir + "\" does not exist";
  if (!fs::is_directory(status)) return "the output folder \"" + dir + "\" is not a folder";
  // Permission bits do not tell it all (a read-only mount, root, access lists): create and
  // remove a file there.
  const std::string probe =
      (fs::path(dir) / (".tovamo-convert-" + std::to_string(getpid()) + ".probe")).string();
  const int fd = open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    return "cannot write into the output folder \"" + dir + "\": " + std::strerror(errno);
  }
  close(fd);
  unlink(probe.c_str());
  return {};
}

}  // namespace tovamo::cli
