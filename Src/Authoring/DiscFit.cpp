#include "Authoring/DiscFit.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tovamo::authoring {

namespace {

// Kept free for what the bit rate does not count: the multiplexer's pack and navigation
// headers, the encoder's overshoot of its average and the file system.
constexpr double kSafetyMargin = 0.05;

// DVD-Video: video at most 9.8 Mbit/s and the whole stream at most 10.08 Mbit/s. Below
// 1.5 Mbit/s a full-size DVD picture breaks up into blocks.
constexpr std::int64_t kDvdVideoMax = 9800000;
constexpr std::int64_t kDvdTotalMax = 10080000;
constexpr std::int64_t kDvdVideoMin = 1500000;
constexpr std::int64_t kDvdTargetMaxRate = 9000000;     // the dvd target's own "maxrate"
constexpr std::int64_t kDvdReservedBytes = 16LL << 20;  // IFO files, menus, file system

// SVCD: video and sound together at most 2.6 Mbit/s; the target's "maxrate" is the video's
// ceiling below that. Below 1 Mbit/s an SVCD picture is worse than a VCD's.
constexpr std::int64_t kSvcdTotalMax = 2600000;
constexpr std::int64_t kSvcdTargetMaxRate = 2516000;
constexpr std::int64_t kSvcdVideoMin = 1000000;

// VCD: fixed 1150 kbit/s video and 224 kbit/s sound, 75 sectors of the CD a second.
constexpr std::int64_t kVcdVideo = 1150000;
constexpr double kVcdSectorsPerSecond = 75;

// On a CD, each sector of a video track carries 2324 bytes of the MPEG stream. The ISO 9660
// track before the video takes about 300 sectors, and each video track adds a 150-sector gap
// and its front and rear margins.
constexpr std::int64_t kCdPayload = 2324;
constexpr std::int64_t kCdDataTrackSectors = 300;
constexpr std::int64_t kCdSectorsPerTrack = 195;

std::int64_t RoundDownToKilobit(double bitsPerSecond) {
  return static_cast<std::int64_t>(std::floor(bitsPerSecond / 1000.0)) * 1000;
}

int DiscsFor(double needed, double perDisc) {
  if (perDisc <= 0) return 0;
  const double discs = std::ceil(needed / perDisc);
  return discs > 1e6 ? 1000000 : std::max(1, static_cast<int>(discs));
}

}  // namespace

std::int64_t TargetAudioBitRate(TDiscKind kind) {
  return kind == TDiscKind::Dvd ? 448000 : 224000;
}

TFitResult FitToDisc(TDiscSize size, double totalSeconds, int titles, TDiscKind kind,
                     std::int64_t audioBitRate) {
  TFitResult fit;
  const TDiscSizeInfo& disc = DiscSizeInfo(size);
  if (kind == TDiscKind::Dvd && disc.Cd) {
    fit.Problem = std::string("a DVD image does not go on a ") + disc.Name + " CD";
    return fit;
  }
  if (kind != TDiscKind::Dvd && !disc.Cd) {
    fit.Problem =
        DiscKindName(kind) + " images are made for CDs (700M or 800M), not " + disc.Name + " DVDs";
    return fit;
  }
  if (!std::isfinite(totalSeconds) || totalSeconds <= 0) {
    fit.Problem = "the inputs' length is not known";
    return fit;
  }
  if (titles < 1) titles = 1;
  fit.AudioBitRate = audioBitRate > 0 ? audioBitRate : TargetAudioBitRate(kind);

  if (kind == TDiscKind::Vcd) {
    fit.VideoBitRate = kVcdVideo;
    const double sectors = totalSeconds * kVcdSectorsPerSecond * (1 + kSafetyMargin) +
                           double(titles) * kCdSectorsPerTrack;
    const double perDisc = double(disc.Sectors - kCdDataTrackSectors);
    fit.DiscsNeeded = DiscsFor(sectors, perDisc);
    fit.Fits = fit.DiscsNeeded == 1;
    fit.EstimatedBytes = static_cast<std::int64_t>(totalSeconds * kVcdSectorsPerSecond) * 2352;
    return fit;
  }

  double payloadBytes = 0;  // what one disc holds of the MPEG streams
  std::int64_t videoMax = 0, videoMin = 0;
  if (kind == TDiscKind::Dvd) {
    payloadBytes = double(disc.CapacityBytes - kDvdReservedBytes);
    videoMax = std::min(kDvdVideoMax, kDvdTotalMax - fit.AudioBitRate);
    videoMin = kDvdVideoMin;
  } else {
    payloadBytes = double(disc.Sectors - kCdDataTrackSectors - titles * kCdSectorsPerTrack) *
                   double(kCdPayload);
    videoMax = std::min(kSvcdTargetMaxRate, kSvcdTotalMax - fit.AudioBitRate);
    videoMin = kSvcdVideoMin;
  }
  const double usableBits = payloadBytes * 8 * (1 - kSafetyMargin);
  const double video = usableBits / totalSeconds - double(fit.AudioBitRate);
  if (videoMax < videoMin || video < double(videoMin)) {
    const double bitsAtMinimum = totalSeconds * double(videoMin + fit.AudioBitRate);
    fit.DiscsNeeded = std::max(2, DiscsFor(bitsAtMinimum, usableBits));
    fit.VideoBitRate = videoMin;
    fit.EstimatedBytes = static_cast<std::int64_t>(bitsAtMinimum / 8 / (1 - kSafetyMargin));
    return fit;
  }
  fit.Fits = true;
  fit.AtStandardMaximum = video >= double(videoMax);
  fit.VideoBitRate = fit.AtStandardMaximum ? videoMax : RoundDownToKilobit(video);
  fit.EstimatedBytes = static_cast<std::int64_t>(
      totalSeconds * double(fit.VideoBitRate + fit.AudioBitRate) / 8 / (1 - kSafetyMargin));
  return fit;
}

std::string DescribeFit(const TFitResult& fit, TDiscSize size, TDiscKind kind) {
  const char* disc = DiscSizeInfo(size).Name;
  if (!fit.Problem.empty()) return "Fit to disc: " + fit.Problem;
  char text[256];
  if (!fit.Fits) {
    std::snprintf(text, sizeof text,
                  "Fit to disc: the batch does not fit on one %s %s disc%s; it needs %d discs",
                  disc, DiscKindName(kind).c_str(),
                  kind == TDiscKind::Vcd ? "" : " even at the lowest sensible quality",
                  fit.DiscsNeeded);
    return text;
  }
  if (kind == TDiscKind::Vcd) {
    std::snprintf(text, sizeof text,
                  "Fit to disc: the batch fits on one %s VCD at the VCD's fixed rates "
                  "(about %.0f MB)",
                  disc, double(fit.EstimatedBytes) / 1e6);
    return text;
  }
  std::snprintf(text, sizeof text,
                "Fit to disc: video at %lld kbit/s with sound at %lld kbit/s%s for one %s %s "
                "(about %.0f MB)",
                static_cast<long long>(fit.VideoBitRate / 1000),
                static_cast<long long>(fit.AudioBitRate / 1000),
                fit.AtStandardMaximum ? " (the standard's highest; the disc has room left)" : "",
                disc, DiscKindName(kind).c_str(), double(fit.EstimatedBytes) / 1e6);
  return text;
}

std::vector<std::string> FitOptionLines(const TFitResult& fit, TDiscKind kind) {
  if (!fit.Problem.empty() || !fit.Fits || kind == TDiscKind::Vcd) return {};
  std::vector<std::string> lines = {"b=" + std::to_string(fit.VideoBitRate)};
  const std::int64_t ceiling = kind == TDiscKind::Dvd ? kDvdTargetMaxRate : kSvcdTargetMaxRate;
  if (fit.VideoBitRate > ceiling) lines.push_back("maxrate=" + std::to_string(fit.VideoBitRate));
  return lines;
}

}  // namespace tovamo::authoring
