// Subtitles drawn into the picture by libavfilter's "subtitles" filter (libass): the
// "burn_subtitles" option's value "N:PATH" names a subtitle file or a media file and the
// number of its subtitle stream (0 for the first).
#pragma once

#include <string>

namespace tovamo {

// The filter for the value, escaped for a filter graph; "" when the value is malformed.
std::string BurnSubtitleFilter(const std::string& value);

}  // namespace tovamo
