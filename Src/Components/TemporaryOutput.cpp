#include "Components/TemporaryOutput.h"

#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace tovamo {

namespace fs = std::filesystem;

namespace {

// The longest name a folder entry may have (NAME_MAX on Linux file systems).
constexpr std::size_t kNameMax = NAME_MAX;

// FNV-1a: two long names that share their first bytes still get different temporaries.
std::string ShortHash(const std::string& text) {
  std::uint64_t hash = 1469598103934665603ull;
  for (const unsigned char c : text) hash = (hash ^ c) * 1099511628211ull;
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
  return hex;
}

// `text` cut to at most `bytes` bytes, never inside a UTF-8 sequence.
std::string CutAtCharacter(const std::string& text, std::size_t bytes) {
  if (text.size() <= bytes) return text;
  std::size_t end = bytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  if (from.empty() || from == to) return;
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

}  // namespace

std::string TemporaryOutputPath(const std::string& finalPath) {
  const fs::path path(finalPath);
  const std::string ext = path.extension().string();
  const std::string tail = ".part-" + std::to_string(::getpid()) + ext;
  std::string stem = path.filename().string();
  // A final name that only just fits leaves no room for the marks: its temporary keeps a
  // shorter stem with a hash of the whole name, and still ends in the final extension.
  if (1 + stem.size() + tail.size() > kNameMax) {
    const std::string hash = "~" + ShortHash(stem) + ext;
    const std::size_t room = kNameMax - 1 - tail.size();
    stem = room > hash.size() ? CutAtCharacter(stem, room - hash.size()) + hash
                              : CutAtCharacter(ShortHash(stem), room);
  }
  return (path.parent_path() / ("." + stem + tail)).string();
}

std::string OutputWritePath(const std::string& finalPath) {
  std::error_code error;
  const fs::file_status status = fs::status(finalPath, error);
  if (status.type() == fs::file_type::not_found || status.type() == fs::file_type::regular)
    return TemporaryOutputPath(finalPath);
  return finalPath;
}

std::string SettleTemporaryOutput(const std::string& temporaryPath, const std::string& finalPath,
                                  TTaskEnd end, bool* earlierKept) {
  if (earlierKept) *earlierKept = false;
  if (temporaryPath == finalPath) return {};
  std::error_code error;
  const auto size = fs::file_size(temporaryPath, error);
  const bool written = !error && size > 0;
  // Only a completed output replaces an earlier file: a stopped task's part is worth
  // keeping only where there was nothing before it.
  const bool earlier = fs::is_regular_file(finalPath, error);
  if (end == TTaskEnd::Failed || !written || (end == TTaskEnd::Stopped && earlier)) {
    fs::remove(temporaryPath, error);
    if (earlierKept) *earlierKept = earlier;
    return {};
  }
  fs::rename(temporaryPath, finalPath, error);
  if (!error) return {};
  // The converted file is kept under its temporary name rather than lost.
  return "cannot rename " + temporaryPath + " to " + finalPath + " (" + error.message() +
         "); the output is kept as " + temporaryPath;
}

std::string NameFinalOutput(std::string message, const std::string& temporaryPath,
                            const std::string& finalPath) {
  if (temporaryPath == finalPath) return message;
  ReplaceAll(message, temporaryPath, finalPath);
  ReplaceAll(message, fs::path(temporaryPath).filename().string(),
             fs::path(finalPath).filename().string());
  return message;
}

}  // namespace tovamo
