#include "Services/FFUtils.h"

#include <sys/stat.h>

#include <cinttypes>
#include <cstdio>
#include <limits>

#include "Services/FFBindings.h"

namespace tovamo {

std::string FormatTimestamp(int64_t microseconds) {
  if (microseconds == AV_NOPTS_VALUE) return "N/A";
  constexpr int64_t kPerSecond = 1000000;
  const int64_t hours = microseconds / kPerSecond / 60 / 60;
  const int minutes = int((microseconds / kPerSecond / 60) % 60);
  const int seconds = int((microseconds / kPerSecond) % 60);
  const int milliseconds = int((microseconds % kPerSecond) * 1000 / kPerSecond);
  char text[64];
  std::snprintf(text, sizeof text, "%.2" PRId64 ":%.2d:%.2d.%.3d", hours, minutes, seconds,
                milliseconds);
  return text;
}

std::string MediaTypeName(int type) {
  switch (type) {
    case 0:
      return "Video";
    case 1:
      return "Audio";
    case 2:
      return "Data";
    case 3:
      return "Subtitle";
    case 4:
      return "Attachment";
    default:
      return "Unknown";
  }
}

int ReadWholeFile(const std::string& fileName, uint8_t** buffer, int64_t* size) {
  *buffer = nullptr;
  *size = 0;
  FILE* file = std::fopen(fileName.c_str(), "rb");
  if (!file) return -1;

  // A folder opens fine on Linux but cannot be read.
  struct stat info;
  if (fstat(fileno(file), &info) != 0 || S_ISDIR(info.st_mode)) {
    std::fclose(file);
    return -1;
  }
  if (fseeko(file, 0, SEEK_END) != 0) {
    std::fclose(file);
    return -1;
  }
  const off_t length = ftello(file);
  if (length < 0 || fseeko(file, 0, SEEK_SET) != 0) {
    std::fclose(file);
    return -1;
  }
  if (uint64_t(length) >= uint64_t(std::numeric_limits<size_t>::max())) {
    std::fclose(file);
    return -12;
  }

  // Without avutil there is no allocator the caller could free with.
  auto* data = ff::av_malloc ? static_cast<uint8_t*>(ff::av_malloc(size_t(length) + 1)) : nullptr;
  if (!data) {
    std::fclose(file);
    return -12;
  }
  const size_t count = std::fread(data, 1, size_t(length), file);
  // A read error would otherwise pass off part of the file as all of it.
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) {
    ff::av_free(data);
    return -1;
  }
  data[count] = 0;
  *buffer = data;
  *size = int64_t(count) + 1;
  return 0;
}

void InitTimestampCorrection(TTimestampCorrection& state) {
  state.NumFaultyPts = 0;
  state.NumFaultyDts = 0;
  state.LastPts = std::numeric_limits<int64_t>::min();
  state.LastDts = std::numeric_limits<int64_t>::min();
}

int64_t CorrectTimestamp(TTimestampCorrection& state, int64_t reorderedPts, int64_t dts) {
  if (dts != AV_NOPTS_VALUE) {
    if (dts <= state.LastDts) ++state.NumFaultyDts;
    state.LastDts = dts;
  }
  if (reorderedPts != AV_NOPTS_VALUE) {
    if (reorderedPts <= state.LastPts) ++state.NumFaultyPts;
    state.LastPts = reorderedPts;
  }
  if (state.NumFaultyDts < state.NumFaultyPts && dts != AV_NOPTS_VALUE) return dts;
  if (reorderedPts != AV_NOPTS_VALUE) return reorderedPts;
  return dts;
}

}  // namespace tovamo
