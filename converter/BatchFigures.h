// The figures the converter shows for a batch: times as HH:MM:SS, a row's progress, and the
// overall percentage over every row of the list.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tovamo {

// h:mm:ss with at least two digits each; hours are not limited ("100:00:00").
std::string HoursMinutesSeconds(std::int64_t seconds);

// An input's length for the "Total Time" column: HH:MM:SS, or "--:--:--" when the length
// is unknown (none, or not positive).
std::string TotalTimeText(std::int64_t durationMicros);

// The Progress cell while a task runs: the percentage of the input converted, kept within
// 0..100; when the input's length is unknown, the time converted so far as HH:MM:SS (no
// percentage can be told).
std::string ProgressCellText(std::int64_t currentMicros, std::int64_t totalMicros);

struct TRowFigure {
  std::int64_t InputSize = 0;  // bytes (the "File Size" cell)
  std::string Progress;        // the Progress cell
};

// done * 100 / total over all rows: "Completed" and "Cancelled" rows count whole, a "p%"
// row by size / 100 * p, any other row not at all. -1 when the rows hold no bytes.
int OverallPercent(const std::vector<TRowFigure>& rows);

}  // namespace tovamo
