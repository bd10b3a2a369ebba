#include "FormatString.h"

namespace tovamo {

std::vector<std::string> SplitFormatString(std::string_view formatString, std::size_t count) {
  std::vector<std::string> fields(count);
  std::size_t start = 0;
  for (std::size_t i = 0; i < count && start <= formatString.size(); ++i) {
    const std::size_t bar = formatString.find('|', start);
    const std::size_t end = bar == std::string_view::npos ? formatString.size() : bar;
    fields[i] = std::string(formatString.substr(start, end - start));
    start = end + 1;  // past the end once the last "|" is used up
  }
  return fields;
}

TProfileValues ProfileValuesOf(std::string_view formatString) {
  const std::vector<std::string> fields = SplitFormatString(formatString);
  TProfileValues values;
  values.VideoBitrate = fields[0];
  const std::size_t x = fields[1].find('x');
  values.Width = fields[1].substr(0, x);
  values.Height = x == std::string::npos ? "" : fields[1].substr(x + 1);
  values.FrameRate = fields[2];
  values.Codec = fields[4];
  values.AudioBitrate = fields[5];
  values.SampleRate = fields[6];
  values.Channels = fields[7];
  return values;
}

}  // namespace tovamo
