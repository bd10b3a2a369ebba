// Disc image speed: a DVD image authored from about 1 GB of converted DVD files (dvdauthor,
// then the ISO writer, as the product runs them) against copying the same files with cp, in
// the same run, the two taken in turns so that both see the same disk cache. Authoring is
// disk-bound: the goal is 1.5 or better (authoring time / copy time).
//
// The converted files are one DVD conversion by the built tovamo-convert of a generated
// clip, at a constant 8 Mbit/s so that it has a DVD's real size, copied under distinct
// names up to the total asked for.
//
// With --menu: a 2-title DVD of the megabytes asked for (two of those files, each of half
// of them) made with its title menu and without, taken in turns; the menu's part (the pictures
// taken, drawn, converted and laid over by spumux, until dvdauthor starts) against the whole image
// step. Goal: under 10 %. Usage: disc_bench [--megabytes N] [--rounds N] [--folder DIR] [--menu]
//        (default 1000, 3, /tmp)
#include <fcntl.h>
#include <spawn.h>
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

#include "Authoring/DiscAuthor.h"
#include "Authoring/ToolProcess.h"
#include "DvdMenuPainter.h"
#include "OffscreenPainting.h"
#include "SampleClip.h"
#include "Services/FFLoad.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Runs a program to its end; false when it cannot run or fails.
bool RunQuietly(const std::vector<std::string>& argv) {
  tovamo::authoring::TToolProcess process;
  if (!process.Start(argv)) return false;
  std::string last;
  while (process.ReadLines(1000, [&](const std::string& line) { last = line; })) {
  }
  const int status = process.Wait();
  if (status != 0)
    std::fprintf(stderr, "%s: exit status %d: %s\n", argv[0].c_str(), status, last.c_str());
  return status == 0;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

double Best(const std::vector<double>& values) {
  return *std::min_element(values.begin(), values.end());
}

// The 2-title DVD with its menu and without, in turns.
int MenuBench(const std::vector<tovamo::authoring::TDvdTitle>& titles, const fs::path& images,
              int rounds) {
  tovamo::discmenu::EnsureGuiForPainting();
  std::vector<double> plain, withMenu, menuPart;
  for (int round = 0; round < rounds; ++round)
    for (int turn = 0; turn < 2; ++turn) {
      const bool menu = (round + turn) % 2 == 0;
      tovamo::authoring::TDiscRequest request{tovamo::authoring::TDiscKind::Dvd,
                                              tovamo::authoring::TDiscNorm::Pal, titles,
                                              (images / "menu.iso").string()};
      request.WithMenu = menu;
      request.PaintMenu = tovamo::discmenu::DvdMenuPainter();
      tovamo::authoring::TDiscAuthor author;
      const auto start = Clock::now();
      double menuDone = 0;
      author.OnProgress = [&](const tovamo::authoring::TAuthorProgress& progress) {
        if (progress.Tool == "dvdauthor" && menuDone == 0) menuDone = Seconds(start);
      };
      const auto result = author.Run(request);
      const double took = Seconds(start);
      if (!result.Completed) {
        std::fprintf(stderr, "authoring failed: %s\n", result.Reason.c_str());
        return 1;
      }
      fs::remove(request.ImagePath);
      (menu ? withMenu : plain).push_back(took);
      if (menu) menuPart.push_back(menuDone);
    }
  std::printf("2-title DVD image without a menu: best %.2f s, median %.2f s\n", Best(plain),
              Median(plain));
  std::printf("2-title DVD image with its menu:  best %.2f s, median %.2f s\n", Best(withMenu),
              Median(withMenu));
  std::printf("  of which the menu:              best %.2f s, median %.2f s\n", Best(menuPart),
              Median(menuPart));
  std::printf("menu / whole image step: best %.1f %%, median %.1f %% (goal under 10 %%)\n",
              100 * Best(menuPart) / Best(withMenu), 100 * Median(menuPart) / Median(withMenu));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  int megabytes = 1000, rounds = 3;
  std::string folder = "/tmp";
  bool menu = false;
  for (int i = 1; i < argc; ++i)
    if (!std::strcmp(argv[i], "--menu")) menu = true;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--megabytes")) megabytes = std::max(10, std::atoi(argv[i + 1]));
    if (!std::strcmp(argv[i], "--rounds")) rounds = std::max(1, std::atoi(argv[i + 1]));
    if (!std::strcmp(argv[i], "--folder")) folder = argv[i + 1];
  }
  if (const std::string missing =
          tovamo::authoring::MissingToolsMessage(tovamo::authoring::TDiscKind::Dvd);
      !missing.empty()) {
    std::fprintf(stderr, "%s\n", missing.c_str());
    return 1;
  }
  tovamo::TFFLoader& loader = tovamo::FFLoader();
  if (!loader.LoadLibs(tovamo::kEncoderLibraries)) {
    std::fprintf(stderr, "%s\n", loader.LastErrorText().c_str());
    return 1;
  }
  std::string pattern = folder + "/disc-bench-XXXXXX";
  if (!mkdtemp(pattern.data())) return 1;
  const fs::path dir = pattern;
  const fs::path files = dir / "files", copies = dir / "copies", images = dir / "images";
  for (const fs::path& p : {files, copies, images}) fs::create_directories(p);

  // 60 s at 8 Mbit/s: about 60 MB of DVD video. With --menu each of the two titles is
  // one clip of half the megabytes: a menu is made once per disc, whatever its size.
  const int clipSeconds = menu ? std::max(60, megabytes / 2) : 60;
  const std::string source = (dir / "source.nut").string();
  tovamo::cli::WriteSampleClip(source, {720, 576, 25, clipSeconds});
  const auto convertStart = Clock::now();
  if (!RunQuietly({TOVAMO_CONVERT, "--target", "dvd", "--norm", "pal", "--option", "b=8000000",
                   "--option", "minrate=8000000", "--option", "maxrate=8000000", "-o", dir.string(),
                   source}))
    return 1;
  const fs::path converted = dir / "source.mpg";
  const std::uintmax_t size = fs::file_size(converted);
  const int count = menu ? 2 : int((std::uintmax_t(megabytes) * 1000000 + size - 1) / size);
  std::vector<tovamo::authoring::TDvdTitle> titles;
  std::vector<std::string> cp = {"cp"};
  for (int i = 0; i < count; ++i) {
    const fs::path copy = files / ("title" + std::to_string(i + 1) + ".mpg");
    fs::copy_file(converted, copy);
    titles.push_back({copy.string(), double(clipSeconds)});
    cp.push_back(copy.string());
  }
  cp.push_back(copies.string());
  std::printf("converted files: %d x %.1f MB = %.0f MB (one conversion took %.1f s)\n", count,
              double(size) / 1e6, double(size) * count / 1e6, Seconds(convertStart));

  if (menu) {
    const int status = MenuBench(titles, images, rounds);
    fs::remove_all(dir);
    return status;
  }

  std::vector<double> authoring, copying;
  std::vector<double> firstStep;  // of each authoring: the time dvdauthor took
  for (int round = 0; round < rounds; ++round) {
    // Alternating which goes first, so that neither always finds the cache warmed.
    for (int turn = 0; turn < 2; ++turn) {
      if ((round + turn) % 2 == 0) {
        const std::string iso = (images / "disc.iso").string();
        tovamo::authoring::TDiscAuthor author;
        const auto start = Clock::now();
        author.OnProgress = [&](const tovamo::authoring::TAuthorProgress& progress) {
          if (progress.Tool == "genisoimage" && firstStep.size() < authoring.size() + 1)
            firstStep.push_back(Seconds(start));
        };
        const auto result = author.Run(
            {tovamo::authoring::TDiscKind::Dvd, tovamo::authoring::TDiscNorm::Pal, titles, iso});
        authoring.push_back(Seconds(start));
        if (!result.Completed) {
          std::fprintf(stderr, "authoring failed: %s\n", result.Reason.c_str());
          return 1;
        }
        fs::remove(iso);
      } else {
        const auto start = Clock::now();
        if (!RunQuietly(cp)) return 1;
        copying.push_back(Seconds(start));
        for (const auto& entry : fs::directory_iterator(copies)) fs::remove(entry.path());
      }
    }
  }
  std::printf("DVD image (dvdauthor + ISO):  best %.2f s, median %.2f s\n",
              *std::min_element(authoring.begin(), authoring.end()), Median(authoring));
  std::printf("  of which dvdauthor:         best %.2f s, median %.2f s\n",
              *std::min_element(firstStep.begin(), firstStep.end()), Median(firstStep));
  std::printf("cp of the same files:         best %.2f s, median %.2f s\n",
              *std::min_element(copying.begin(), copying.end()), Median(copying));
  std::printf("ratio authoring / cp: best %.2f, median %.2f (goal 1.5 or better)\n",
              *std::min_element(authoring.begin(), authoring.end()) /
                  *std::min_element(copying.begin(), copying.end()),
              Median(authoring) / Median(copying));
  fs::remove_all(dir);
  return 0;
}
