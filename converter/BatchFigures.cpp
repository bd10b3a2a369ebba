#include "BatchFigures.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>

namespace tovamo {
namespace {

std::string TwoDigits(std::int64_t value) {
  std::string text = std::to_string(value);
  return text.size() == 1 ? "0" + text : text;
}

}  // namespace

std::string HoursMinutesSeconds(std::int64_t seconds) {
  const std::int64_t hours = seconds / 3600;
  const std::int64_t rest = std::llabs(seconds - 3600 * hours);
  const std::int64_t minutes = rest / 60;
  const std::int64_t secs = std::llabs(rest - 60 * minutes);
  return TwoDigits(hours) + ":" + TwoDigits(minutes) + ":" + TwoDigits(secs);
}

std::string TotalTimeText(std::int64_t durationMicros) {
  if (durationMicros <= 0) return "--:--:--";
  return HoursMinutesSeconds(durationMicros / 1000000);
}

std::string ProgressCellText(std::int64_t currentMicros, std::int64_t totalMicros) {
  const std::int64_t current = std::max<std::int64_t>(currentMicros, 0);
  if (totalMicros <= 0) return HoursMinutesSeconds(current / 1000000);
  return std::to_string(std::clamp<std::int64_t>(current * 100 / totalMicros, 0, 100)) + "%";
}

int OverallPercent(const std::vector<TRowFigure>& rows) {
  std::int64_t total = 0;
  std::int64_t done = 0;
  for (const TRowFigure& row : rows) {
    const std::int64_t size = std::max<std::int64_t>(row.InputSize, 0);
    total += size;
    if (row.Progress == "Completed" || row.Progress == "Cancelled") {
      done += size;
      continue;
    }
    const std::size_t percentSign = row.Progress.find('%');
    if (percentSign == std::string::npos) continue;
    int percent = 0;
    std::from_chars(row.Progress.data(), row.Progress.data() + percentSign, percent);
    done += size / 100 * percent;
  }
  if (total <= 0) return -1;
  return int(done * 100 / total);
}

}  // namespace tovamo
