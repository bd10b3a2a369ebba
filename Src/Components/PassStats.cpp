#include "Components/PassStats.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

namespace tovamo {

namespace fs = std::filesystem;

namespace {

const std::string kMark = ".2pass-";

// The name reaches the engine as a line of option text ("passlogfile=..."): a control
// character would end the line, and spaces at its ends would be trimmed.
bool FitsAnOptionLine(const std::string& text) {
  if (text.empty() || text.front() == ' ' || text.back() == ' ') return false;
  for (const char c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
  return true;
}

bool Digits(const std::string& text) {
  if (text.empty() || text.size() > 9 || text[0] == '0') return false;
  for (const char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

}  // namespace

std::string PassStatsPrefix(const std::string& outputPath) {
  const fs::path output(outputPath);
  fs::path folder = output.has_parent_path() ? output.parent_path() : fs::path(".");
  std::error_code ec;
  if (!FitsAnOptionLine(folder.string()) || !fs::is_directory(folder, ec) ||
      ::access(folder.c_str(), W_OK | X_OK) != 0) {
    folder = fs::temp_directory_path(ec);
    if (ec) folder = "/tmp";
  }
  std::string name = output.filename().string();
  if (!name.empty() && name[0] == '.') name.erase(0, 1);  // already hidden: one dot is enough
  for (char& c : name)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f || c == ' ') c = '_';
  // A file name has at most 255 bytes: the stem gives way to the suffixes.
  if (name.size() > 160) name.resize(160);
  if (name.empty()) name = "output";
  return (folder / ("." + name + kMark + std::to_string(::getpid()))).string();
}

void RemovePassStats(const std::string& prefix) {
  if (prefix.empty()) return;
  const fs::path base(prefix);
  const std::string stem = base.filename().string() + "-";
  std::vector<fs::path> found;
  std::error_code ec;
  const fs::path folder = base.has_parent_path() ? base.parent_path() : fs::path(".");
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    if (it->path().filename().string().rfind(stem, 0) == 0) found.push_back(it->path());
  for (const fs::path& path : found) {
    std::error_code removeError;
    fs::remove(path, removeError);
  }
}

double MeanPassQuantiser(const std::string& prefix) {
  constexpr double kLambdaPerStep = 118;  // FF_QP2LAMBDA
  double sum = 0;
  long count = 0;
  const fs::path base(prefix);
  const std::string stem = base.filename().string() + "-";
  const fs::path folder = base.has_parent_path() ? base.parent_path() : fs::path(".");
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.rfind(stem, 0) != 0 || name.size() < 4 || name.compare(name.size() - 4, 4, ".log"))
      continue;
    std::ifstream in(it->path());
    std::string word;
    while (in >> word)
      if (word.rfind("q:", 0) == 0) {
        sum += std::strtod(word.c_str() + 2, nullptr);
        ++count;
      }
  }
  return count > 0 ? sum / count / kLambdaPerStep : 0;
}

pid_t PassStatsOwner(const std::string& name) {
  // "." + output name + ".2pass-" + id + "-" + stream + ".log" + what an encoder adds.
  const std::size_t mark = name.rfind(kMark);
  if (name.size() < 2 || name[0] != '.' || mark == std::string::npos || mark < 2) return 0;
  const std::string rest = name.substr(mark + kMark.size());
  const std::size_t dash = rest.find('-');
  if (dash == std::string::npos || !Digits(rest.substr(0, dash))) return 0;
  const std::size_t log = rest.find(".log", dash);
  if (log == std::string::npos) return 0;
  const std::string stream = rest.substr(dash + 1, log - dash - 1);
  if (stream != "0" && !Digits(stream)) return 0;
  return static_cast<pid_t>(std::stol(rest.substr(0, dash)));
}

}  // namespace tovamo
