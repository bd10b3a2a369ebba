#include "DiscStep.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "Authoring/DiscAuthor.h"
#include "Authoring/DiscFit.h"
#include "Authoring/ToolProcess.h"
#include "CdMenuPicture.h"
#include "DvdMenuPainter.h"
#include "OffscreenPainting.h"
#include "Services/FFLog.h"
#include "Services/SameFile.h"
#include "Services/Text.h"
#include "StopSignals.h"
#include "SubtitleDrawer.h"

namespace tovamo::cli {

namespace {

using authoring::TDiscKind;

std::string Extension(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  const std::size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  return LowerCaseAscii(path.substr(dot));
}

// The disc size an image is measured against: the one asked for, or the usual one.
authoring::TDiscSize DiscSizeFor(const TConvertArgs& args, TDiscKind kind) {
  if (const auto size = authoring::ParseDiscSize(args.DiscSize)) return *size;
  return kind == TDiscKind::Dvd ? authoring::TDiscSize::Dvd47 : authoring::TDiscSize::Cd700;
}

std::string JoinFiles(const std::vector<std::string>& files) {
  std::string text;
  for (const std::string& file : files) text += (text.empty() ? "" : " + ") + file;
  return text;
}

}  // namespace

std::string DiscOptionsProblem(const TConvertArgs& args, int targetType) {
  if (args.DiscImage.empty() && args.DiscSize.empty()) return {};
  const auto kind = authoring::DiscKindOfTarget(targetType);
  if (!kind) return "--disc and --disc-size need a disc target: vcd, svcd or dvd";
  if (!args.DiscImage.empty()) {
    const std::string extension = Extension(args.DiscImage);
    if (*kind == TDiscKind::Dvd && extension != ".iso")
      return "--disc for a DVD needs an image name ending in .iso, got \"" + args.DiscImage + "\"";
    if (*kind != TDiscKind::Dvd && extension != ".cue")
      return "--disc for a " + authoring::DiscKindName(*kind) +
             " needs an image name ending in .cue (the .bin goes beside it), got \"" +
             args.DiscImage + "\"";
  }
  if (!args.DiscSize.empty()) {
    const authoring::TFitResult fit =
        authoring::FitToDisc(*authoring::ParseDiscSize(args.DiscSize), 1, 1, *kind);
    if (!fit.Problem.empty()) return "--disc-size " + args.DiscSize + ": " + fit.Problem;
    if (*kind != TDiscKind::Vcd)
      for (const char* name : {"b", "vb"})
        if (OptionValue(args.Options, name))
          return "--disc-size chooses the video bit rate: it cannot go with --option " +
                 std::string(name) + "=...";
  }
  return {};
}

std::string DiscImageProblem(const TConvertArgs& args, int targetType) {
  const auto kind = authoring::DiscKindOfTarget(targetType);
  if (args.DiscImage.empty() || !kind) return {};
  if (std::string missing = authoring::MissingToolsMessage(*kind); !missing.empty()) return missing;
  if (*kind == TDiscKind::Dvd && args.Menu && !authoring::ProgramOnPath("spumux"))
    return "spumux is not installed (install the package \"" + authoring::ToolPackage("spumux") +
           "\"); --no-menu makes the disc without a menu";
  std::vector<std::string> images = {args.DiscImage};
  if (*kind != TDiscKind::Dvd) images.push_back(authoring::BinPathOf(args.DiscImage));
  const TSameFileIndex inputs(args.Files);
  for (const std::string& image : images)
    if (const int input = inputs.IndexOf(image); input >= 0)
      return "the image " + image + " would overwrite the input " + args.Files[std::size_t(input)];
  return {};
}

TDiscFitPlan PlanDiscFit(const TConvertArgs& args, int targetType, double totalSeconds, int titles,
                         int soundTracks) {
  TDiscFitPlan plan;
  const auto kind = authoring::DiscKindOfTarget(targetType);
  const auto size = authoring::ParseDiscSize(args.DiscSize);
  if (!kind || !size) return plan;
  std::int64_t audio = 0;
  if (const auto ab = OptionValue(args.Options, "ab")) {
    // "224k", "224000": what the engine would read, roughly; a value it refuses was
    // refused before this.
    const std::string text = TrimText(*ab);
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    audio = std::int64_t(end && (*end == 'k' || *end == 'K') ? value * 1000 : value);
  }
  // More than one track: the sound's share of the disc grows with them.
  if (soundTracks > 1)
    audio = (audio > 0 ? audio : authoring::TargetAudioBitRate(*kind)) * soundTracks;
  const authoring::TFitResult fit =
      authoring::FitToDisc(*size, totalSeconds, titles, *kind, audio, args.Menu);
  plan.Fits = fit.Problem.empty() && fit.Fits;
  plan.Line = authoring::DescribeFit(fit, *size, *kind);
  plan.OptionLines = authoring::FitOptionLines(fit, *kind);
  plan.TwoPass = !plan.OptionLines.empty();  // a rate of its own, not the VCD's fixed one
  plan.ImageShare = fit.ImageShare;
  return plan;
}

std::string DescribeOutputsFill(const TConvertArgs& args, int targetType,
                                const std::vector<std::string>& outputs) {
  const TDiscKind kind = *authoring::DiscKindOfTarget(targetType);
  std::int64_t bytes = 0;
  for (const std::string& output : outputs) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(output, ec);
    if (!ec) bytes += std::int64_t(size);
  }
  return authoring::DescribeFill(DiscSizeFor(args, kind), kind, bytes, int(outputs.size()));
}

TDiscNormPlan PlanDiscNorm(const TConvertArgs& args, int targetType, int normType,
                           const std::vector<TInputNorm>& inputs) {
  TDiscNormPlan plan;
  if (args.DiscImage.empty() || !authoring::DiscKindOfTarget(targetType) || normType != 0 ||
      inputs.empty())
    return plan;
  const auto name = [](int norm) { return std::string(norm == 2 ? "NTSC" : "PAL"); };
  // An input whose rate names no norm is made PAL, as the target does on its own.
  plan.NormType = inputs[0].NormType == 2 ? 2 : 1;
  plan.Line = "Disc norm: " + name(plan.NormType) + " for every title, the first file's (" +
              inputs[0].Label + ")";
  std::string others;
  for (std::size_t i = 1; i < inputs.size(); ++i)
    if ((inputs[i].NormType == 2 ? 2 : 1) != plan.NormType)
      others += (others.empty() ? "" : ", ") + inputs[i].Label;
  if (!others.empty()) plan.Line += "; converted to " + name(plan.NormType) + " as well: " + others;
  return plan;
}

int MakeDiscImage(const TConvertArgs& args, int targetType,
                  const std::vector<authoring::TDvdTitle>& titles, int normType,
                  double expectedShare) {
  const TDiscKind kind = *authoring::DiscKindOfTarget(targetType);
  authoring::TDiscRequest request;
  request.Kind = kind;
  if (normType == 0) normType = args.NormType;
  request.Norm = normType == 1   ? authoring::TDiscNorm::Pal
                 : normType == 2 ? authoring::TDiscNorm::Ntsc
                                 : authoring::TDiscNorm::Auto;
  request.Titles = titles;
  request.ImagePath = args.DiscImage;
  request.WithMenu = args.Menu;
  if (args.Menu) {
    // The pictures are drawn on the author's thread; the platform comes up on this one.
    discmenu::EnsureGuiForPainting();
    if (kind == TDiscKind::Dvd)
      request.PaintMenu = discmenu::DvdMenuPainter();
    else
      request.DrawCdMenu = discmenu::CdMenuDrawer();
  }
  request.DrawSubtitle = discmenu::SubtitleDrawerFor(titles);

  const bool terminal = isatty(fileno(stdout));
  authoring::TDiscAuthor author;
  int shownStep = -1;
  author.OnProgress = [&](const authoring::TAuthorProgress& progress) {
    const std::string tool = progress.Tool.empty() ? "done" : progress.Tool;
    if (terminal) {
      std::printf("\rMaking the disc image: %3.0f%% (%s)   ", progress.Percent, tool.c_str());
    } else if (int(progress.Percent) / 10 != shownStep) {
      // A plain line every tenth, for logs and pipes.
      shownStep = int(progress.Percent) / 10;
      std::printf("Making the disc image: %.0f%% (%s)\n", progress.Percent, tool.c_str());
    }
    std::fflush(stdout);
  };
  author.OnToolLine = [](const std::string& tool, const std::string& line) {
    DefaultLogger()->Log(nullptr, llInfo, tool + ": " + line);
  };

  std::atomic<bool> done{false};
  authoring::TAuthorResult result;
  std::thread worker([&] {
    result = author.Run(request);
    done = true;
  });
  bool stopping = false;
  while (!done) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (!stopping && ReceivedStopSignal()) {
      stopping = true;
      author.Stop();
    }
  }
  worker.join();
  if (terminal) std::printf("\n");
  std::fflush(stdout);

  if (const int signal = ReceivedStopSignal(); signal && !result.Completed) {
    std::fprintf(stderr, "tovamo-convert: disc image stopped: nothing was written to %s\n",
                 args.DiscImage.c_str());
    return 128 + signal;
  }
  if (!result.Completed) {
    std::fprintf(stderr, "tovamo-convert: no disc image: %s\n", result.Reason.c_str());
    return 1;
  }
  const authoring::TDiscSize size = DiscSizeFor(args, kind);
  const authoring::TImageMeasure measure = authoring::MeasureImage(result, size);
  std::printf("Disc image: %s, %s\n", JoinFiles(result.Files).c_str(), measure.Text.c_str());
  if (measure.TooLarge)
    std::fprintf(stderr, "tovamo-convert: the image is larger than one %s disc holds\n",
                 authoring::DiscSizeInfo(size).Name.c_str());
  // Two passes spend the fitted rate where the pictures take it; simple ones (titles,
  // cartoons, still scenes) are whole with less, and the rest of the disc stays empty.
  if (expectedShare > 0 && measure.Fill < std::min(0.98, expectedShare - 0.02))
    std::printf(
        "Fit to disc: the pictures needed less than the fitted rate; %.0f%% of the disc "
        "stays empty\n",
        100 * (1 - measure.Fill));
  std::fflush(stdout);
  return 0;
}

}  // namespace tovamo::cli
