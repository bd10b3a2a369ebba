#include "ChildRun.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstring>

extern char** environ;

namespace tovamo::bench {

TChildRun RunChild(const std::vector<std::string>& args, const std::vector<std::string>& env,
                   const std::string& log) {
  std::vector<std::string> argv = args;
  std::vector<char*> cargv;
  for (std::string& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);
  std::vector<std::string> envStrings = env;
  std::vector<char*> cenv;
  for (std::string& e : envStrings) cenv.push_back(e.data());
  for (char** e = environ; *e; ++e) cenv.push_back(*e);
  cenv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = -1;
  const int error = posix_spawnp(&pid, cargv[0], &actions, nullptr, cargv.data(), cenv.data());
  posix_spawn_file_actions_destroy(&actions);
  TChildRun run;
  if (error != 0) {
    std::fprintf(stderr, "cannot run %s: %s\n", args[0].c_str(), std::strerror(error));
    return run;
  }
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) return run;
  run.Ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  run.Wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.Cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
            double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  run.PeakMb = double(usage.ru_maxrss) / 1024;
  return run;
}

}  // namespace tovamo::bench
