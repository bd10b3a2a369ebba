#include "Authoring/ToolOutput.h"

#include <algorithm>
#include <cstdio>

namespace tovamo::authoring {

namespace {

// dvdauthor reads and writes the whole stream first; fixing it afterwards is quicker.
constexpr double kDvdauthorReadShare = 0.85;

double Clamp01(double value) {
  return std::clamp(value, 0.0, 1.0);
}

}  // namespace

std::optional<double> DvdauthorFraction(const std::string& line, std::int64_t totalBytes) {
  int vobu = 0, megabytes = 0, done = 0, total = 0, percent = 0;
  if (std::sscanf(line.c_str(), "STAT: fixing VOBU at %dMB (%d/%d, %d%%)", &megabytes, &done,
                  &total, &percent) == 4)
    return kDvdauthorReadShare + (1 - kDvdauthorReadShare) * Clamp01(percent / 100.0);
  if (std::sscanf(line.c_str(), "STAT: VOBU %d at %dMB", &vobu, &megabytes) == 2 && totalBytes > 0)
    return kDvdauthorReadShare * Clamp01(megabytes * 1048576.0 / double(totalBytes));
  return std::nullopt;
}

std::optional<double> IsoWriterFraction(const std::string& line) {
  double percent = 0;
  char tail[6] = {};
  if (std::sscanf(line.c_str(), " %lf%% %5s", &percent, tail) == 2 &&
      std::string(tail).rfind("done", 0) == 0)
    return Clamp01(percent / 100.0);
  return std::nullopt;
}

bool IsToolErrorLine(const std::string& tool, const std::string& line) {
  if (tool == "dvdauthor" || tool == "spumux") return line.rfind("ERR:", 0) == 0;
  if (tool == "vcdimager") return line.rfind("**ERROR:", 0) == 0;
  return line.rfind(tool + ": ", 0) == 0;
}

bool IsToolComplaintLine(const std::string& tool, const std::string& line) {
  if (IsToolErrorLine(tool, line)) return true;
  const auto starts = [&](const char* prefix) { return line.rfind(prefix, 0) == 0; };
  if (tool == "dvdauthor" || tool == "spumux") return starts("WARN:");
  if (tool == "vcdimager") return starts("++ WARN:") || starts("!ASSERT:");
  return starts("Warning:") || starts("WARNING:") || starts("Error:") || starts("ERROR:");
}

}  // namespace tovamo::authoring
