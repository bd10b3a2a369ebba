// The conversion log of tovamo-convert: the engine's and the media libraries' lines, as the
// window's Log tab shows them, written to a file (--log) and/or standard error (-v).
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

namespace tovamo::cli {

class TCommandLog {
 public:
  TCommandLog() = default;
  ~TCommandLog();  // takes the handler away before the file is closed
  TCommandLog(const TCommandLog&) = delete;
  TCommandLog& operator=(const TCommandLog&) = delete;

  // Opens (creates or truncates) the log file when `path` is given and routes the lines
  // to it and, with `toStandardError`, to stderr. "" on success, else why the file cannot
  // be written.
  std::string Start(const std::string& path, bool toStandardError);

 private:
  void Write(const std::string& line);

  std::mutex Lock_;
  std::FILE* File_ = nullptr;
  bool ToStandardError_ = false;
};

}  // namespace tovamo::cli
