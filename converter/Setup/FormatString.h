// A profile's format string: nine "|"-separated values (video bit rate | WxH | frame rate |
// aspect | video codec | audio bit rate | sample rate | mono/stereo | a further audio value),
// and the values of it that the converter window shows beside the file list.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tovamo {

inline constexpr std::size_t kFormatFieldCount = 9;

// The first `count` fields; fields the text does not have read as empty, fields past
// `count` are ignored.
std::vector<std::string> SplitFormatString(std::string_view formatString,
                                           std::size_t count = kFormatFieldCount);

// The values shown for a profile, as text. Width is the frame size before its first "x",
// Height the text after it (a size without "x" is all Width).
struct TProfileValues {
  std::string VideoBitrate;
  std::string Width;
  std::string Height;
  std::string FrameRate;
  std::string Codec;
  std::string AudioBitrate;
  std::string SampleRate;
  std::string Channels;
};

TProfileValues ProfileValuesOf(std::string_view formatString);

}  // namespace tovamo
