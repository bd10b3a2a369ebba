// One run of an outside program (the disc authoring tools): its output and errors merged
// into one pipe and read as lines, in its own process group so that a terminal's Ctrl-C
// does not reach it behind its owner's back and a stop ends everything it started.
#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tovamo::authoring {

// Ends at once (SIGKILL to their process groups) every tool this process has running; safe
// in a signal handler. For an owner about to end abruptly: its tools, in groups of their
// own, would otherwise outlive it and keep writing.
void KillRunningTools();

// True when `program` names an executable file on PATH.
bool ProgramOnPath(const std::string& program);

class TToolProcess {
 public:
  TToolProcess() = default;
  TToolProcess(const TToolProcess&) = delete;
  TToolProcess& operator=(const TToolProcess&) = delete;
  ~TToolProcess();  // a tool still running is ended

  // Starts argv[0] (looked up on PATH) with standard input from /dev/null and the extra
  // environment entries ("NAME=VALUE", replacing the inherited ones of the same name), in
  // `folder` when one is given. False, with the reason in Error(), when it cannot start.
  bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv = {},
             const std::string& folder = {});

  // Waits up to `timeoutMs` for output and hands every complete line (ended by a line feed
  // or a carriage return, which the tools use to rewrite a progress line) to `onLine`.
  // False once the tool has closed its output; the last unended line is handed over then.
  bool ReadLines(int timeoutMs, const std::function<void(const std::string&)>& onLine);

  // Ends the tool and everything it started: SIGTERM, then SIGKILL after a short grace.
  void Kill();

  // Waits for the end: the exit status, or 128 + the signal that ended it.
  int Wait();

  const std::string& Error() const { return Error_; }

 private:
  pid_t Pid_ = -1;                   // running, not yet reaped
  std::optional<int> ReapedStatus_;  // reaped by Kill, for Wait
  int Output_ = -1;
  std::string Pending_;  // the line being read
  std::string Error_;
};

}  // namespace tovamo::authoring
