// tovamo-convert's use of the cores, measured on the built command in the same run:
//
// 1. One DVD-target job alone, which the codec-thread rule gives every core, against the
//    same job with one codec thread ("--option threads=1"): the wall-time ratio (goal 0.6 or
//    better on two cores).
// 2. Two jobs side by side ("-j 2") against the same two one after another with one thread
//    each ("-j 1 --option threads=1"): the wall-time ratio (goal 0.55 or better on two
//    cores). For comparison, the two one after another with the thread rule ("-j 1").
//
// Each figure is the best of the rounds, the pairs taken in alternating order.
// Usage: convert_bench [--seconds N] [--rounds N]   (default 20 s of PAL source, 3 rounds)
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "SampleClip.h"
#include "Services/FFLoad.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Runs tovamo-convert with the arguments; the wall time in seconds, or exits on failure.
double TimedConvert(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {TOVAMO_CONVERT};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> cargv;
  for (std::string& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  const auto start = Clock::now();
  pid_t pid = -1;
  const int error = posix_spawn(&pid, cargv[0], &actions, nullptr, cargv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  if (error != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "tovamo-convert failed (%s)\n", error ? std::strerror(error) : "status");
    std::exit(1);
  }
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// CPU seconds (user + system) of the finished children so far.
double ChildrenCpu() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct TPair {
  const char* Name;
  std::vector<std::vector<std::string>> Measured;  // runs, one after another
  std::vector<std::vector<std::string>> Baseline;
  double Goal;
};

struct TTimes {
  double Wall = 1e9;
  double Cpu = 0;  // of the run with the best wall time
};

// Runs them one after another; keeps the better of this and the earlier best.
void RunAll(const std::vector<std::vector<std::string>>& runs, TTimes& best) {
  const double cpuBefore = ChildrenCpu();
  double seconds = 0;
  for (const auto& args : runs) seconds += TimedConvert(args);
  if (seconds < best.Wall) best = {seconds, ChildrenCpu() - cpuBefore};
}

}  // namespace

int main(int argc, char** argv) {
  int seconds = 20, rounds = 3;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--seconds")) seconds = std::max(1, std::atoi(argv[i + 1]));
    if (!std::strcmp(argv[i], "--rounds")) rounds = std::max(1, std::atoi(argv[i + 1]));
  }
  tovamo::TFFLoader& loader = tovamo::FFLoader();
  if (!loader.LoadLibs(tovamo::kEncoderLibraries)) {
    std::fprintf(stderr, "%s\n", loader.LastErrorText().c_str());
    return 1;
  }
  char pattern[] = "/tmp/convert-bench-XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  const fs::path dir = pattern;
  const std::string a = (dir / "a.nut").string(), b = (dir / "b.nut").string();
  const std::string out = (dir / "out").string();
  fs::create_directories(out);
  tovamo::cli::TSampleSpec spec{720, 576, 25, seconds};
  tovamo::cli::WriteSampleClip(a, spec);
  fs::copy_file(a, b);

  const std::vector<std::string> dvd = {"--target", "dvd", "--norm", "pal", "-o", out};
  auto with = [&](std::vector<std::string> extra) {
    std::vector<std::string> args = dvd;
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  };
  const std::vector<TPair> pairs = {
      {"one job, codec-thread rule / one thread",
       {with({a})},
       {with({"--option", "threads=1", a})},
       0.6},
      {"two jobs -j 2 / one after another, one thread",
       {with({"-j", "2", a, b})},
       {with({"-j", "1", "--option", "threads=1", a, b})},
       0.55},
      {"two jobs -j 2 / one after another, rule",
       {with({"-j", "2", a, b})},
       {with({"-j", "1", a, b})},
       0},
  };

  std::printf("DVD target, %d s of 720x576 MPEG-2 + MP2 source, %ld cores, best of %d\n", seconds,
              sysconf(_SC_NPROCESSORS_ONLN), rounds);
  for (const TPair& pair : pairs) {
    TTimes measured, baseline;
    for (int round = 0; round < rounds; ++round) {
      if (round % 2) {
        RunAll(pair.Baseline, baseline);
        RunAll(pair.Measured, measured);
      } else {
        RunAll(pair.Measured, measured);
        RunAll(pair.Baseline, baseline);
      }
    }
    std::printf("%-48s %6.2f s / %6.2f s = %.2f", pair.Name, measured.Wall, baseline.Wall,
                measured.Wall / baseline.Wall);
    std::printf("  [cpu %.2f s / %.2f s]", measured.Cpu, baseline.Cpu);
    if (pair.Goal > 0) std::printf("  (goal <= %.2f)", pair.Goal);
    std::printf("\n");
  }
  fs::remove_all(dir);
  return 0;
}
