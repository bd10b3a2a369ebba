// The conversion log of tovamo-convert: the engine's and the media libraries' lines, as the
// window's Log tab shows them, written to a file (--log) and/or standard error (-v).
#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace tovamo::cli {

// Why `logPath` must not take the log, or "": it is one of the run's inputs, outputs or
// image files (a mistyped --log would otherwise write over it), or an existing file that
// is not a text log (NUL bytes in its first 4 KiB).
std::string LogFileRefusal(const std::string& logPath, const std::vector<std::string>& inputs,
                           const std::vector<std::string>& outputs,
                           const std::vector<std::string>& images);

class TCommandLog {
 public:
  TCommandLog() = default;
  ~TCommandLog();  // takes the handler away before the file is closed
  TCommandLog(const TCommandLog&) = delete;
  TCommandLog& operator=(const TCommandLog&) = delete;

  // Opens the log file when `path` is given, adding to its end (an earlier run's lines stay)
  // a header line with the time and `arguments`, and routes the lines to it and, with
  // `toStandardError`, to stderr. "" on success, else why the file cannot be written.
  std::string Start(const std::string& path, bool toStandardError,
                    const std::vector<std::string>& arguments = {});

 private:
  void Write(const std::string& line);

  std::mutex Lock_;
  std::FILE* File_ = nullptr;
  bool ToStandardError_ = false;
};

}  // namespace tovamo::cli
