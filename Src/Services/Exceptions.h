// Exception classes of the media layer.
#pragma once

#include <stdexcept>
#include <string>

namespace tovamo {

// The engine's own errors: option handling and engine set-up.
class FFmpegException : public std::runtime_error {
 public:
  explicit FFmpegException(const std::string& message) : std::runtime_error(message) {}
};

// A text that a number parser could not read as a number.
class EConvertError : public std::runtime_error {
 public:
  explicit EConvertError(const std::string& message) : std::runtime_error(message) {}
};

// A broken precondition of a caller: "<text> (<module>)".
class EAssertionFailed : public std::logic_error {
 public:
  EAssertionFailed(const std::string& text, const std::string& module)
      : std::logic_error(text + " (" + module + ")") {}
};

inline void Assert(bool condition, const char* text, const char* module) {
  if (!condition) throw EAssertionFailed(text, module);
}

}  // namespace tovamo
