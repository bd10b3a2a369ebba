// Routines that the engine and the decoder component share: timestamp and error texts,
// media type names, reading a whole file and timestamp correction for decoded frames.
// The picture to bitmap converter is in FormatConverter.h.
#pragma once

#include <cstdint>
#include <string>

namespace tovamo {

// "hh:mm:ss.mmm" of a time in microseconds (hours may take more than two digits);
// "N/A" for AV_NOPTS_VALUE.
std::string FormatTimestamp(int64_t microseconds);

// fileName + ": " + the message of a library or system error code.
std::string ErrorText(const std::string& fileName, int code);

// "Video", "Audio", "Data", "Subtitle", "Attachment" for 0..4, else "Unknown".
std::string MediaTypeName(int type);

// Reads a whole file into a buffer from ff::av_malloc with a zero byte after the contents;
// *size is the number of bytes read + 1. Returns 0, -1 when the file cannot be opened or
// read (also for a folder), -12 when the buffer cannot be allocated. On failure *buffer is
// null and *size 0. The caller frees the buffer with ff::av_free.
int ReadWholeFile(const std::string& fileName, uint8_t** buffer, int64_t* size);

// Chooses between the reordered presentation timestamps and the decoding timestamps of
// decoded frames, whichever of the two has gone backwards less often.
struct TTimestampCorrection {
  int64_t NumFaultyPts;
  int64_t NumFaultyDts;
  int64_t LastPts;
  int64_t LastDts;
};

void InitTimestampCorrection(TTimestampCorrection& state);
int64_t CorrectTimestamp(TTimestampCorrection& state, int64_t reorderedPts, int64_t dts);

}  // namespace tovamo
