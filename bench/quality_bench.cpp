// Pictures per bit: tovamo-convert against the GStreamer peer pipeline at the same rate, on
// natural clips the fixture generator writes (a slow pan and zoom over a photograph-like
// texture, film grain, a text ticker; 720x576 4:3 at 25 frames/s with a tone).
//
// For each clip, target, rate and quality class, the command runs as a whole process, and
// the peer once per clip, target and rate (gst-conv.sh of the folder bench/setup-gst.sh
// readies, its codecs threaded as a user's default run); each output is measured against
// the clip by the media libraries' own psnr and ssim filters (QualityMeasure). One table:
// PSNR-Y, SSIM-Y, the real video rate, CPU (user + system) and wall seconds, and the
// differences to the peer (dB, SSIM, CPU ratio). A last row fits a DVD batch of the clips
// to a small disc and tells the image's size against the budget.
//
// Usage: quality_bench [--seconds N] [--clips pan,grain,ticker] [--targets dvd,svcd,vcd]
//                      [--classes fast,standard,best] [--gst DIR] [--disc-size SIZE|none]
//                      [--rounds N] [--quick] [--keep DIR] [--convert PROGRAM]
//        quality_bench --measure SOURCE OUTPUT
// A class "none" runs without --quality. --quick: what is not chosen shrinks to a 3 s pan
// clip on DVD at 3 Mbit/s (each target at its first rate). --rounds N: each conversion N
// times, CPU and wall the medians (the machine's other work varies them). --convert: another
// build of tovamo-convert to measure.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "ChildRun.h"
#include "QualityMeasure.h"
#include "Services/FFLoad.h"
#include "Services/FFLog.h"

namespace {

namespace fs = std::filesystem;
using tovamo::bench::TQuality;

using TRun = tovamo::bench::TChildRun;

// Runs the command with `env` added to the environment, its output into `log`.
TRun Spawn(const std::vector<std::string>& args, const std::vector<std::string>& env,
           const std::string& log) {
  return tovamo::bench::RunChild(args, env, log);
}

// Why a run failed: the first line of its log naming the program, else the last line.
std::string LastLine(const std::string& log) {
  std::ifstream in(log);
  std::string line, last;
  while (std::getline(in, line)) {
    if (line.starts_with("tovamo-convert:") || line.starts_with("gst-conv.sh:") ||
        line.find(": Cancelled") != std::string::npos)
      return line;
    if (line.find_first_not_of(" \r\t") != std::string::npos) last = line;
  }
  return last;
}

std::vector<std::string> Split(const std::string& list) {
  std::vector<std::string> items;
  std::stringstream in(list);
  for (std::string item; std::getline(in, item, ',');)
    if (!item.empty()) items.push_back(item);
  return items;
}

// A rate a target is measured at: the command's option and the peer's rate, or neither
// for the target's own default.
struct TRate {
  const char* Label;
  const char* Option;  // "b=3000k", or null
  const char* PeerBitrate;
};

struct TTarget {
  const char* Name;
  const char* Extension;
  bool Peer;  // gst-conv.sh does it
  std::vector<TRate> Rates;
};

// SVCD takes at most about 2.6 Mbit/s, so its own rate is the one measured; a VCD's rate
// is fixed.
const std::vector<TTarget>& Targets() {
  static const std::vector<TTarget> targets = {
      {"dvd", ".mpg", true, {{"3000k", "b=3000k", "3000000"}, {"default", nullptr, nullptr}}},
      {"svcd", ".mpg", true, {{"default", nullptr, nullptr}}},
      {"vcd", ".mpg", true, {{"1150k", nullptr, nullptr}}},
      {"mp4", ".mp4", false, {{"3000k", "b=3000k", nullptr}, {"default", nullptr, nullptr}}},
  };
  return targets;
}

struct TRow {
  std::string Clip, Target, Rate, Class;
  std::optional<TQuality> Quality = {};
  TRun Run = {};
  std::string Error = {};
  const TRow* Peer = nullptr;
};

double Median(const std::vector<TRun>& runs, double TRun::*field) {
  std::vector<double> values;
  for (const TRun& run : runs) values.push_back(run.*field);
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Runs one conversion and measures its output; the row tells the failure otherwise.
void Measure(TRow& row, const std::vector<std::string>& args, const std::vector<std::string>& env,
             const std::string& source, const fs::path& output, const fs::path& log, int rounds) {
  std::error_code ec;
  fs::remove(output, ec);
  std::fprintf(stderr, "  %s %s %s %s ...", row.Clip.c_str(), row.Target.c_str(), row.Rate.c_str(),
               row.Class.c_str());
  // CPU and wall are the medians of the rounds; the pictures are those of the last.
  std::vector<TRun> runs;
  for (int round = 0; round < rounds && (runs.empty() || runs.back().Ok); ++round)
    runs.push_back(Spawn(args, env, log.string()));
  row.Run = runs.back();
  if (row.Run.Ok) {
    row.Run.Cpu = Median(runs, &TRun::Cpu);
    row.Run.Wall = Median(runs, &TRun::Wall);
  }
  if (!row.Run.Ok || !fs::exists(output)) {
    row.Error = "failed: " + LastLine(log.string());
  } else {
    try {
      row.Quality = tovamo::bench::MeasureQuality(source, output.string());
    } catch (const std::exception& e) {
      row.Error = e.what();
    }
  }
  std::fprintf(stderr, " %s\n", row.Error.empty() ? "done" : row.Error.c_str());
  fs::remove(output, ec);
}

void PrintTable(const std::vector<TRow>& rows) {
  std::printf(
      "| clip | target | rate | class | PSNR-Y dB | SSIM-Y | kbit/s | CPU s | wall s | "
      "ΔPSNR dB | ΔSSIM | CPU × |\n|---|---|---|---|--:|--:|--:|--:|--:|--:|--:|--:|\n");
  for (const TRow& row : rows) {
    std::printf("| %s | %s | %s | %s |", row.Clip.c_str(), row.Target.c_str(), row.Rate.c_str(),
                row.Class.c_str());
    if (!row.Quality) {
      std::printf(" %s | | | | | | | |\n", row.Error.c_str());
      continue;
    }
    const TQuality& q = *row.Quality;
    if (q.OutputFrames != q.SourceFrames)
      std::printf(" %ld of %ld pictures:", q.OutputFrames, q.SourceFrames);
    std::printf(" %.2f | %.4f | %.0f | %.2f | %.2f |", q.PsnrY, q.SsimY, q.VideoKbps, row.Run.Cpu,
                row.Run.Wall);
    if (row.Peer && row.Peer->Quality)
      std::printf(" %+.2f | %+.4f | %.2f |\n", q.PsnrY - row.Peer->Quality->PsnrY,
                  q.SsimY - row.Peer->Quality->SsimY, row.Run.Cpu / row.Peer->Run.Cpu);
    else
      std::printf(" | | |\n");
  }
}

// The goals' figures: each class on DVD at 3 Mbit/s against the pipeline, over the clips.
void PrintGoals(const std::vector<TRow>& rows, const std::vector<std::string>& classes) {
  int printed = 0;
  for (const std::string& quality : classes) {
    double dPsnr = 0, dSsim = 0, cpu = 0, peerCpu = 0;
    int n = 0;
    for (const TRow& row : rows)
      if (row.Target == "dvd" && row.Rate == "3000k" && row.Class == quality && row.Quality &&
          row.Peer && row.Peer->Quality) {
        dPsnr += row.Quality->PsnrY - row.Peer->Quality->PsnrY;
        dSsim += row.Quality->SsimY - row.Peer->Quality->SsimY;
        cpu += row.Run.Cpu;
        peerCpu += row.Peer->Run.Cpu;
        ++n;
      }
    if (n == 0) continue;
    if (!printed++) std::printf("\n");
    const char* goal = quality == "standard" ? " (goal +1.50 dB at 1.25x or less)"
                       : quality == "best"   ? " (goal +2.30 dB)"
                                             : "";
    std::printf(
        "DVD at 3 Mbit/s, class %s against the pipeline, mean of %d clips: %+.2f dB PSNR-Y, "
        "%+.4f SSIM-Y, CPU %.2fx%s\n",
        quality.c_str(), n, dPsnr / n, dSsim / n, cpu / peerCpu, goal);
  }
}

// "40M", "1.5G", "800K" in bytes (powers of ten, as disc sizes are given); 0 when it is
// none of these.
double SizeBytes(const std::string& text) {
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  const std::string unit = end ? end : "";
  if (unit == "K") return value * 1e3;
  if (unit == "M") return value * 1e6;
  if (unit == "G") return value * 1e9;
  return unit.empty() ? value : 0;
}

int MeasureMode(const std::string& source, const std::string& output) {
  try {
    const TQuality q = tovamo::bench::MeasureQuality(source, output);
    std::printf("PSNR-Y %.3f dB  SSIM-Y %.5f  video %.0f kbit/s  frames %ld of %ld\n", q.PsnrY,
                q.SsimY, q.VideoKbps, q.OutputFrames, q.SourceFrames);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quality_bench: %s\n", e.what());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace tovamo;
  FFLoader().LoadLibs(kEncoderLibraries);
  if (!FFLoader().LibsLoaded(kEncoderLibraries)) {
    std::fprintf(stderr, "%s\n", FFLoader().LastErrorText().c_str());
    return 1;
  }
  DefaultLogger()->SetLogLevel(llQuiet);
  if (argc == 4 && std::string(argv[1]) == "--measure") return MeasureMode(argv[2], argv[3]);

  int seconds = 8, rounds = 1;
  std::string clips = "pan,grain,ticker", targets = "dvd,svcd,vcd", classes = "fast,standard,best";
  std::string gst, discSize, keep, convert = TOVAMO_CONVERT;
  bool quick = false;
  std::vector<std::string> given;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--quick") {
      quick = true;
    } else if (arg == "--seconds" && hasValue) {
      seconds = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--rounds" && hasValue) {
      rounds = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--clips" && hasValue) {
      clips = argv[++i];
    } else if (arg == "--targets" && hasValue) {
      targets = argv[++i];
    } else if (arg == "--classes" && hasValue) {
      classes = argv[++i];
    } else if (arg == "--gst" && hasValue) {
      gst = argv[++i];
    } else if (arg == "--disc-size" && hasValue) {
      discSize = argv[++i];
    } else if (arg == "--convert" && hasValue) {
      convert = argv[++i];
    } else if (arg == "--keep" && hasValue) {
      keep = argv[++i];
    } else {
      std::fprintf(
          stderr,
          "usage: quality_bench [--seconds N] [--clips pan,grain,ticker] [--targets "
          "dvd,svcd,vcd,mp4] [--classes fast,standard,best,none] [--gst DIR] "
          "[--disc-size SIZE|none] [--rounds N] [--quick] [--keep DIR] [--convert PROGRAM]\n"
          "       quality_bench --measure SOURCE OUTPUT\n");
      return 2;
    }
  }
  // A short run: what was not chosen shrinks to one short clip on DVD.
  if (quick) {
    for (int i = 1; i < argc; ++i) given.push_back(argv[i]);
    auto chosen = [&](const char* option) {
      return std::find(given.begin(), given.end(), option) != given.end();
    };
    if (!chosen("--seconds")) seconds = 3;
    if (!chosen("--clips")) clips = "pan";
    if (!chosen("--targets")) targets = "dvd";
  }
  for (const std::string& name : Split(targets))
    if (std::none_of(Targets().begin(), Targets().end(),
                     [&](const TTarget& t) { return name == t.Name; })) {
      std::fprintf(stderr, "quality_bench: no target %s (dvd, svcd, vcd, mp4)\n", name.c_str());
      return 2;
    }
  // A DVD batch of the clips at about 5 Mbit/s in all fills the default disc.
  if (discSize.empty())
    discSize = std::to_string(int(std::ceil(0.625 * seconds * Split(clips).size()))) + "M";

  char pattern[] = "/tmp/quality-bench-XXXXXX";
  if (!keep.empty()) fs::create_directories(keep);
  const fs::path dir = keep.empty() ? fs::path(mkdtemp(pattern) ? pattern : "") : fs::path(keep);
  if (dir.empty()) return 1;
  const fs::path outDir = dir / "out";
  fs::create_directories(outDir);
  const fs::path log = dir / "run.log";

  double load = 0;
  getloadavg(&load, 1);
  std::printf("quality_bench: %d s clips of 720x576 4:3 at 25 frames/s, %ld cores, load %.2f\n",
              seconds, sysconf(_SC_NPROCESSORS_ONLN), load);
  const std::vector<std::string> clipNames = Split(clips), targetNames = Split(targets);
  const std::vector<std::string> classNames = Split(classes);
  std::vector<std::string> sources;
  for (const std::string& clip : clipNames) {
    const std::string source = (dir / (clip + ".mp4")).string();
    if (!Spawn(
             {TOVAMO_FIXTUREGEN, "--bench-clip", source, std::to_string(seconds), "720x576", clip},
             {}, log.string())
             .Ok) {
      std::fprintf(stderr, "quality_bench: cannot write the clip %s: %s\n", clip.c_str(),
                   LastLine(log.string()).c_str());
      return 1;
    }
    sources.push_back(source);
  }

  // Not timed: the first pipeline run builds GStreamer's plugin registry, and the first of
  // each program loads it from disc.
  if (!gst.empty())
    Spawn({(fs::path(gst) / "gst-conv.sh").string(), "vcd", "pal", sources.front(),
           (outDir / "warm-up.mpg").string()},
          {}, log.string());
  Spawn({convert, "--target", "vcd", "--norm", "pal", "-o", outDir.string(), sources.front()}, {},
        log.string());

  std::vector<TRow> rows;
  rows.reserve(1000);  // the rows point at their peer's
  for (std::size_t c = 0; c < sources.size(); ++c) {
    const std::string& clip = clipNames[c];
    const std::string& source = sources[c];
    for (const TTarget& target : Targets()) {
      if (!std::count(targetNames.begin(), targetNames.end(), target.Name)) continue;
      const fs::path output = outDir / (clip + target.Extension);
      for (const TRate& rate : target.Rates) {
        if (quick && &rate != &target.Rates.front()) continue;
        const TRow* peer = nullptr;
        if (target.Peer && !gst.empty()) {
          TRow& row = rows.emplace_back(TRow{clip, target.Name, rate.Label, "gst"});
          std::vector<std::string> env = {"GST_CONV_THREADS=0"};
          if (rate.PeerBitrate) env.push_back(std::string("GST_CONV_BITRATE=") + rate.PeerBitrate);
          const fs::path peerOut = outDir / (clip + "-gst.mpg");
          Measure(row,
                  {(fs::path(gst) / "gst-conv.sh").string(), target.Name, "pal", source,
                   peerOut.string(), "4:3"},
                  env, source, peerOut, log, rounds);
          peer = &row;
        }
        for (const std::string& quality : classNames) {
          TRow& row = rows.emplace_back(TRow{clip, target.Name, rate.Label, quality});
          row.Peer = peer;
          std::vector<std::string> args = {convert, "-j",           "1", "--target", target.Name,
                                           "-o",    outDir.string()};
          if (std::string(target.Name) != "mp4")
            args.insert(args.end(), {"--norm", "pal", "--aspect", "4:3"});
          if (rate.Option) args.insert(args.end(), {"--option", rate.Option});
          if (quality != "none") args.insert(args.end(), {"--quality", quality});
          args.push_back(source);
          Measure(row, args, {}, source, output, log, rounds);
        }
      }
    }
  }
  PrintTable(rows);
  PrintGoals(rows, classNames);
  std::fflush(stdout);

  // Fit to disc: the clips as one DVD image for a disc they fill.
  if (discSize != "none") {
    const fs::path iso = dir / "fit.iso";
    std::vector<std::string> args = {
        convert, "--target",      "dvd",    "--norm",     "pal",         "--aspect", "4:3",
        "-o",    outDir.string(), "--disc", iso.string(), "--disc-size", discSize};
    args.insert(args.end(), sources.begin(), sources.end());
    const TRun run = Spawn(args, {}, log.string());
    const double budget = SizeBytes(discSize);
    if (run.Ok && fs::exists(iso) && budget > 0) {
      const double bytes = double(fs::file_size(iso));
      std::printf(
          "\nfit to disc: %zu clips, DVD image %.2f MB of %s = %.1f %% of the budget (goal 98 "
          "to 100 %%), CPU %.2f s, wall %.2f s\n",
          sources.size(), bytes / 1e6, discSize.c_str(), 100 * bytes / budget, run.Cpu, run.Wall);
      // The command's own words: the rate it chose, the fill it saw.
      std::ifstream in(log);
      for (std::string line; std::getline(in, line);)
        if (line.starts_with("Fit to disc:") || line.starts_with("Disc image:"))
          std::printf("  %s\n", line.c_str());
    } else {
      std::printf("\nfit to disc: --disc-size %s: %s\n", discSize.c_str(),
                  LastLine(log.string()).c_str());
    }
  }
  if (keep.empty()) fs::remove_all(dir);
  return 0;
}
