#include "support/DiscJudges.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <sstream>

extern char** environ;

namespace tovamo::test {
namespace {

// Runs the program (looked up on PATH) with its output and errors into one file.
TJudgement Run(std::vector<std::string> argv, const std::string& workDir) {
  TJudgement result;
  const std::string log = workDir + "/judge.log";
  std::vector<char*> cargv;
  for (std::string& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = -1;
  const int error = posix_spawnp(&pid, cargv[0], &actions, nullptr, cargv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) return result;
  int status = 0;
  waitpid(pid, &status, 0);
  result.Ran = WIFEXITED(status);
  result.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  std::ifstream in(log, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  result.Output = text.str();
  std::istringstream lines(result.Output);
  for (std::string line; std::getline(lines, line);)
    if (line.find("WARN") != std::string::npos || line.find("ERR") != std::string::npos)
      result.Complaints.push_back(line);
  return result;
}

}  // namespace

TJudgement JudgeDvd(const std::string& file, const std::string& workDir) {
  const std::string dir = workDir + "/dvd";
  std::filesystem::create_directories(dir);
  return Run({"dvdauthor", "-o", dir, "-t", file}, workDir);
}

TJudgement JudgeVcd(const std::string& type, const std::string& file, const std::string& workDir) {
  TJudgement result = Run(
      {"vcdimager", "-t", type, "-c", workDir + "/x.cue", "-b", workDir + "/x.bin", file}, workDir);
  std::erase_if(result.Complaints,
                [](const std::string& line) { return line.find("no audio") != std::string::npos; });
  return result;
}

}  // namespace tovamo::test
