#include "Authoring/ToolProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

extern char** environ;

namespace tovamo::authoring {

namespace {

// The process groups of the running tools, for KillRunningTools; 0 is a free slot. A disc
// runs one tool at a time, a few slots spare.
constexpr int kToolSlots = 8;
std::atomic<pid_t> g_runningTools[kToolSlots];
static_assert(std::atomic<pid_t>::is_always_lock_free, "read from a signal handler");

void NoteRunning(pid_t pid) {
  for (std::atomic<pid_t>& slot : g_runningTools) {
    pid_t free = 0;
    if (slot.compare_exchange_strong(free, pid)) return;
  }
}

void NoteEnded(pid_t pid) {
  for (std::atomic<pid_t>& slot : g_runningTools) {
    pid_t mine = pid;
    if (slot.compare_exchange_strong(mine, 0)) return;
  }
}

}  // namespace

void KillRunningTools() {
  for (std::atomic<pid_t>& slot : g_runningTools)
    if (const pid_t pid = slot.load(); pid > 0) kill(-pid, SIGKILL);
}

bool ProgramOnPath(const std::string& program) {
  if (program.find('/') != std::string::npos) return access(program.c_str(), X_OK) == 0;
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= dirs.size()) {
    std::size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    const std::string dir = end > start ? dirs.substr(start, end - start) : ".";
    const std::string candidate = dir + "/" + program;
    struct stat info {};
    if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
        access(candidate.c_str(), X_OK) == 0)
      return true;
    start = end + 1;
  }
  return false;
}

TToolProcess::~TToolProcess() {
  if (Pid_ > 0) {
    Kill();
    Wait();
  }
  if (Output_ >= 0) close(Output_);
}

bool TToolProcess::Start(const std::vector<std::string>& argv,
                         const std::vector<std::string>& extraEnv, const std::string& folder) {
  Error_.clear();
  if (argv.empty()) {
    Error_ = "no program to run";
    return false;
  }
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    Error_ = std::string("cannot make a pipe: ") + std::strerror(errno);
    return false;
  }

  std::vector<std::string> args = argv;
  std::vector<char*> cargv;
  for (std::string& a : args) cargv.push_back(a.data());
  cargv.push_back(nullptr);

  std::vector<std::string> env;
  for (char** e = environ; e && *e; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    bool replaced = false;
    for (const std::string& extra : extraEnv)
      replaced = replaced || extra.substr(0, extra.find('=')) == name;
    if (!replaced) env.push_back(entry);
  }
  env.insert(env.end(), extraEnv.begin(), extraEnv.end());
  std::vector<char*> cenv;
  for (std::string& e : env) cenv.push_back(e.data());
  cenv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
  if (!folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());

  // Its own process group, and the stop signals and SIGPIPE back to their defaults: the
  // owner may catch or ignore them, and the tool must not inherit that.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults, none;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGTERM);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGHUP);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  pid_t pid = -1;
  const int error = posix_spawnp(&pid, cargv[0], &actions, &attributes, cargv.data(), cenv.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  close(fds[1]);
  if (error != 0) {
    close(fds[0]);
    Error_ = "cannot run " + argv[0] + ": " + std::strerror(error);
    return false;
  }
  Pid_ = pid;
  NoteRunning(pid);
  Output_ = fds[0];
  Pending_.clear();
  return true;
}

bool TToolProcess::ReadLines(int timeoutMs, const std::function<void(const std::string&)>& onLine) {
  if (Output_ < 0) return false;
  pollfd entry{Output_, POLLIN, 0};
  const int ready = poll(&entry, 1, timeoutMs);
  if (ready < 0 && errno == EINTR) return true;
  if (ready <= 0) return ready == 0;
  char buffer[4096];
  const ssize_t got = read(Output_, buffer, sizeof buffer);
  if (got < 0 && (errno == EINTR || errno == EAGAIN)) return true;
  if (got <= 0) {
    if (!Pending_.empty()) onLine(Pending_);
    Pending_.clear();
    close(Output_);
    Output_ = -1;
    return false;
  }
  for (ssize_t i = 0; i < got; ++i) {
    const char c = buffer[i];
    if (c == '\n' || c == '\r') {
      if (!Pending_.empty()) onLine(Pending_);
      Pending_.clear();
    } else {
      Pending_ += c;
    }
  }
  return true;
}

void TToolProcess::Kill() {
  if (Pid_ <= 0) return;
  kill(-Pid_, SIGTERM);
  // A tool that ignores SIGTERM (or is stuck in a write) is not waited for long.
  for (int i = 0; i < 40; ++i) {
    int status = 0;
    const pid_t done = waitpid(Pid_, &status, WNOHANG);
    if (done == Pid_) {
      kill(-Pid_, SIGKILL);  // what it started, if anything is left of it
      NoteEnded(Pid_);
      Pid_ = -1;
      ReapedStatus_ = status;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  kill(-Pid_, SIGKILL);
}

int TToolProcess::Wait() {
  int status = 0;
  if (Pid_ > 0) {
    while (waitpid(Pid_, &status, 0) < 0 && errno == EINTR) {
    }
    NoteEnded(Pid_);
  } else if (ReapedStatus_) {
    status = *ReapedStatus_;
  } else {
    return -1;
  }
  Pid_ = -1;
  ReapedStatus_.reset();
  if (Output_ >= 0) {
    close(Output_);
    Output_ = -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace tovamo::authoring
