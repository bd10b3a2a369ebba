// One log line as the user reads it, the same in the converter window's Log tab and in the
// command's log file: "12:04:31.250 clip.avi: text". When the logging thread logs at debug
// level, the thread and the line's level come first too: "12:04:31.250 #22236.5 clip.avi:
// text". A line from no input has no name.
#pragma once

#include <cstdint>
#include <string>

#include "Services/FFLog.h"

namespace tovamo {

std::string FormatLogLine(std::uint32_t threadId, TLogLevel level, const std::string& text,
                          const TLogOrigin& origin);
// The line given to a log handler, with the origin the handler is given it with.
std::string FormatLogLine(std::uint32_t threadId, TLogLevel level, const std::string& text);

}  // namespace tovamo
