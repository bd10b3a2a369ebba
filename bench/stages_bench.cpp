// One job on every core: tovamo-convert's DVD PAL job of a 720x576 25 fps H.264 + AAC clip
// (written by the fixture generator), measured as whole processes in the same run:
//
// 1. The job as the command runs it alone (the codec-thread rule gives it the spare cores:
//    codec threads and stages) against the same job with one codec thread and no stages
//    ("--option threads=1", TOVAMO_STAGES=off): the wall-time ratio (goal 0.55 or better
//    on two cores).
// 2. The same job against the GStreamer peer pipeline (gst-conv.sh of the shared bench
//    folder, built there, GST_CONV_THREADS=0) when --gst names its folder: the wall-time
//    ratio (goal 0.75 or better) and the CPU ratio (goal 0.85 or better).
// 3. The peak memory (maximum resident set) of the job (goal: under 100 MB for SD DVD).
//
// Each figure is the median of the rounds, the commands taken in alternating order.
// Usage: stages_bench [--seconds N] [--rounds N] [--gst DIR]   (default 20 s, 5 rounds)
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "ChildRun.h"

namespace {

namespace fs = std::filesystem;

using TRun = tovamo::bench::TChildRun;

// Runs the command with `env` added to the environment and its output thrown away; exits
// when it fails.
TRun Spawn(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
  const TRun run = tovamo::bench::RunChild(args, env, "/dev/null");
  if (!run.Ok) {
    std::fprintf(stderr, "%s failed\n", args[0].c_str());
    std::exit(1);
  }
  return run;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct TCommand {
  std::vector<std::string> Args;
  std::vector<std::string> Env;
  std::vector<TRun> Runs = {};
};

void Report(const char* name, const TCommand& a, const TCommand& b, double wallGoal,
            double cpuGoal) {
  std::vector<double> wall, cpu;
  for (std::size_t i = 0; i < a.Runs.size(); ++i) {
    wall.push_back(a.Runs[i].Wall / b.Runs[i].Wall);
    cpu.push_back(a.Runs[i].Cpu / b.Runs[i].Cpu);
  }
  auto median = [](const std::vector<TRun>& runs, double TRun::*field) {
    std::vector<double> values;
    for (const TRun& run : runs) values.push_back(run.*field);
    return Median(values);
  };
  std::printf("%s\n  wall %.2f s / %.2f s = %.3f (goal %.2f)   cpu %.2f s / %.2f s = %.3f", name,
              median(a.Runs, &TRun::Wall), median(b.Runs, &TRun::Wall), Median(wall), wallGoal,
              median(a.Runs, &TRun::Cpu), median(b.Runs, &TRun::Cpu), Median(cpu));
  if (cpuGoal > 0) std::printf(" (goal %.2f)", cpuGoal);
  std::printf("\n  peak %.1f MB / %.1f MB\n", median(a.Runs, &TRun::PeakMb),
              median(b.Runs, &TRun::PeakMb));
}

void Alternate(TCommand& a, TCommand& b, int rounds) {
  for (int round = 0; round < rounds; ++round) {
    if (round % 2) {
      b.Runs.push_back(Spawn(b.Args, b.Env));
      a.Runs.push_back(Spawn(a.Args, a.Env));
    } else {
      a.Runs.push_back(Spawn(a.Args, a.Env));
      b.Runs.push_back(Spawn(b.Args, b.Env));
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  int seconds = 20, rounds = 5;
  std::string gst;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--seconds")) seconds = std::max(1, std::atoi(argv[i + 1]));
    if (!std::strcmp(argv[i], "--rounds")) rounds = std::max(1, std::atoi(argv[i + 1]));
    if (!std::strcmp(argv[i], "--gst")) gst = argv[i + 1];
  }
  char pattern[] = "/tmp/stages-bench-XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  const fs::path dir = pattern;
  const std::string clip = (dir / "pal.mp4").string();
  const std::string out = (dir / "out").string();
  fs::create_directories(out);
  Spawn({TOVAMO_FIXTUREGEN, "--bench-clip", clip, std::to_string(seconds)});

  const std::vector<std::string> job = {TOVAMO_CONVERT, "-j",  "1",  "--target", "dvd",
                                        "--norm",       "pal", "-o", out};
  auto with = [&](std::vector<std::string> extra) {
    std::vector<std::string> args = job;
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  };
  std::printf("DVD PAL, %d s of 720x576 25 fps H.264 + AAC, %ld cores, median of %d\n", seconds,
              sysconf(_SC_NPROCESSORS_ONLN), rounds);
  TCommand staged{with({clip}), {}};
  TCommand alone{with({"--option", "threads=1", clip}), {"TOVAMO_STAGES=off"}};
  Alternate(staged, alone, rounds);
  Report("one job, cores rule (stages) / one thread, no stages", staged, alone, 0.55, 0);

  if (!gst.empty()) {
    TCommand engine{with({clip}), {}};
    TCommand peer{
        {(fs::path(gst) / "gst-conv.sh").string(), "dvd", "pal", clip, (dir / "gst.mpg").string()},
        {"GST_CONV_THREADS=0"}};
    Alternate(engine, peer, rounds);
    Report("one job / GStreamer pipeline", engine, peer, 0.75, 0.85);
  }
  fs::remove_all(dir);
  return 0;
}
