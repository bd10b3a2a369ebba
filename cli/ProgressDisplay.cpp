#include "ProgressDisplay.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>

#include "TextWidth.h"

namespace tovamo::cli {

namespace {

std::string Format(const char* fmt, auto... values) {
  char text[512];
  std::snprintf(text, sizeof(text), fmt, values...);
  return text;
}

std::string PercentText(const TTaskState& task) {
  if (!task.HasProgress || task.Progress.TotalDuration <= 0) return " --%";
  return Format("%3d%%", int(TaskPercent(task)));
}

// percent, fps, elapsed time, output size.
std::string TaskFigures(const TTaskState& task, std::int64_t nowMicros) {
  const double rate = task.HasProgress ? FramesPerSecond(task, nowMicros) : -1;
  const std::string fps = rate >= 0 ? Format("%6.1f fps", rate) : "     - fps";
  // The first of two passes writes nothing yet: its size column says why.
  const bool firstPass = task.HasProgress && task.Progress.Pass == 1;
  return PercentText(task) + "  " + fps + "  " + ElapsedText(nowMicros - task.StartMicros) + "  " +
         Format("%9s", firstPass
                           ? "pass 1/2"
                           : SizeText(task.HasProgress ? task.Progress.CurrentSize : 0).c_str());
}

std::string OverallLine(const std::vector<TTaskState>& tasks) {
  const auto done = std::count_if(tasks.begin(), tasks.end(), [](auto& t) { return t.Ended; });
  return Format("overall %d%% (%d of %d done)", int(OverallPercent(tasks)), int(done),
                int(tasks.size()));
}

// A name with its control characters shown as escapes ("\n", "\x1b"): one raw in a live
// line would move the cursor or end the line, and the redraw would go wrong.
std::string Printable(const std::string& name) {
  std::string shown;
  for (const char c : name) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (c == '\n')
      shown += "\\n";
    else if (c == '\t')
      shown += "\\t";
    else if (c == '\r')
      shown += "\\r";
    else if (byte < 0x20 || byte == 0x7f)
      shown += Format("\\x%02x", byte);
    else
      shown += c;
  }
  return shown;
}

bool Running(const TTaskState& task) {
  return task.Started && !task.Ended;
}

// Redraws its lines in place with ANSI cursor movement. Lines fit the terminal's width in
// display columns (a wide character takes two), so that none wraps and the count of lines
// to go back over stays right.
class TTerminalDisplay : public TProgressDisplay {
 public:
  explicit TTerminalDisplay(std::FILE* out) : Out_(out) {}

  void Show(const std::vector<TTaskState>& tasks, std::int64_t nowMicros) override {
    if (LastDraw_ && nowMicros - LastDraw_ < 200000) return;
    LastDraw_ = nowMicros;
    const std::size_t width = Columns();
    std::vector<std::string> lines;
    for (const TTaskState& task : tasks)
      if (Running(task)) lines.push_back(LiveTaskLine(task, nowMicros, width));
    lines.push_back(ElideMiddle(OverallLine(tasks), width));
    Erase();
    for (const std::string& line : lines) std::fprintf(Out_, "%s\n", line.c_str());
    Drawn_ = int(lines.size());
    std::fflush(Out_);
  }

  void Finish() override {
    Erase();
    std::fflush(Out_);
  }

 private:
  void Erase() {
    if (Drawn_ > 0) std::fprintf(Out_, "\x1b[%dA\r\x1b[J", Drawn_);
    Drawn_ = 0;
  }

  std::size_t Columns() const {
    winsize size{};
    if (ioctl(fileno(Out_), TIOCGWINSZ, &size) == 0 && size.ws_col > 1) return size.ws_col - 1;
    return 79;
  }

  std::FILE* Out_;
  std::int64_t LastDraw_ = 0;
  int Drawn_ = 0;
};

// For logs and pipes: a line per running task and the overall percentage, once a second
// at most, and only when something moved.
class TPlainDisplay : public TProgressDisplay {
 public:
  explicit TPlainDisplay(std::FILE* out) : Out_(out) {}

  void Show(const std::vector<TTaskState>& tasks, std::int64_t nowMicros) override {
    if (LastPrint_ && nowMicros - LastPrint_ < 1000000) return;
    std::string text;
    for (const TTaskState& task : tasks)
      if (Running(task) && task.HasProgress)
        text += Printable(task.Input) + ": " + TaskFigures(task, nowMicros) + "\n";
    if (text.empty()) return;
    text += OverallLine(tasks) + "\n";
    LastPrint_ = nowMicros;
    std::fputs(text.c_str(), Out_);
    std::fflush(Out_);
  }

  void Finish() override {}

 private:
  std::FILE* Out_;
  std::int64_t LastPrint_ = 0;
};

}  // namespace

std::string LiveTaskLine(const TTaskState& task, std::int64_t nowMicros, std::size_t width) {
  const std::string figures = TaskFigures(task, nowMicros) + "  ";  // ASCII: a byte a column
  if (width < figures.size() + 8) return figures.substr(0, width);
  return figures + ElideMiddle(Printable(task.Input), width - figures.size());
}

double TaskPercent(const TTaskState& task) {
  if (task.Completed) return 100;
  if (!task.HasProgress || task.Progress.TotalDuration <= 0) return 0;
  return std::clamp(
      100.0 * double(task.Progress.CurrentDuration) / double(task.Progress.TotalDuration), 0.0,
      100.0);
}

double OverallPercent(const std::vector<TTaskState>& tasks) {
  if (tasks.empty()) return 0;
  double sum = 0;
  for (const TTaskState& task : tasks) sum += TaskPercent(task);
  return sum / double(tasks.size());
}

std::string SizeText(std::int64_t bytes) {
  if (bytes < 1024) return Format("%" PRId64 " B", bytes);
  if (bytes < 1024 * 1024) return Format("%.0f KiB", double(bytes) / 1024);
  return Format("%.1f MiB", double(bytes) / (1024 * 1024));
}

std::string ElapsedText(std::int64_t micros) {
  const std::int64_t seconds = std::max<std::int64_t>(0, micros / 1000000);
  return Format("%02" PRId64 ":%02" PRId64 ":%02" PRId64, seconds / 3600, seconds / 60 % 60,
                seconds % 60);
}

double FramesPerSecond(const TTaskState& task, std::int64_t nowMicros) {
  const std::int64_t millis = (nowMicros - task.StartMicros) / 1000;
  if (task.Progress.FrameNumber < 0 || millis <= 0) return -1;
  return double(task.Progress.FrameNumber) * 1000.0 / double(millis);
}

std::string FinalFigures(const TTaskState& task) {
  if (!task.Started || !task.HasProgress || task.EndMicros < task.StartMicros) return {};
  const std::int64_t micros = task.EndMicros - task.StartMicros;
  std::string text = ElapsedText(micros) + Format(".%d", int(micros / 100000 % 10));
  if (const double rate = FramesPerSecond(task, task.EndMicros); rate >= 0)
    text += Format(", %.1f fps", rate);
  return text + ", " + SizeText(task.Progress.CurrentSize);
}

std::unique_ptr<TProgressDisplay> MakeProgressDisplay(std::FILE* out) {
  if (isatty(fileno(out))) return std::make_unique<TTerminalDisplay>(out);
  return std::make_unique<TPlainDisplay>(out);
}

}  // namespace tovamo::cli
