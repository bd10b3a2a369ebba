#include "Authoring/DiscFit.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "Authoring/DvdMenu.h"
#include "Authoring/VcdControl.h"

namespace tovamo::authoring {

namespace {

// The encoders meet the fitted rate in two passes to within a fraction of a percent; what
// is kept free for that, and for a last picture or sound frame more.
constexpr double kRateMargin = 0.012;

// What the program stream adds to the encoded video and sound (measured on this program's
// DVD and SVCD outputs): pack and packet headers in proportion to the bytes, and per second
// the DVD's navigation packs and the packs the sound leaves part empty.
struct TMuxCost {
  double Share;
  double BytesPerSecond;
};
constexpr TMuxCost kDvdMux = {0.0134, 6900};
constexpr TMuxCost kSvcdMux = {0.021, 0};

// DVD-Video: video at most 9.8 Mbit/s and the whole stream at most 10.08 Mbit/s. Below
// 1.5 Mbit/s a full-size DVD picture breaks up into blocks.
constexpr std::int64_t kDvdVideoMax = 9800000;
constexpr std::int64_t kDvdTotalMax = 10080000;
constexpr std::int64_t kDvdVideoMin = 1500000;
// A DVD image holds, besides the titles: the UDF and ISO 9660 file systems and the writer's
// padding (about 470 sectors), the IFO files and their backups (a few sectors a title), and
// room for menus and the like.
constexpr std::int64_t kDvdFileSystemBytes = 930000;
constexpr std::int64_t kDvdBytesPerTitle = 20000;
constexpr double kDvdReservedShare = 0.003;
// A page of the DVD title menu: its still menu program of intra pictures with the buttons'
// subpictures (measured 285 to 420 KB, by the thumbnails' detail).
constexpr std::int64_t kDvdMenuBytesPerPage = 430000;
// A page of a video CD's selection screen: its still and its share of the playback control
// files (measured about 110 sectors).
constexpr std::int64_t kCdMenuSectorsPerPage = 125;

// SVCD: video and sound together at most 2.6 Mbit/s; the target's "maxrate" is the video's
// ceiling below that. Below 1 Mbit/s an SVCD picture is worse than a VCD's.
constexpr std::int64_t kSvcdTotalMax = 2600000;
constexpr std::int64_t kSvcdTargetMaxRate = 2516000;
constexpr std::int64_t kSvcdVideoMin = 1000000;

// Two passes spend the average freely between pictures: it stays this far under the
// ceiling the stream must never pass, or the rate control has no room to move.
constexpr double kAverageUnderPeak = 0.92;

// VCD: fixed 1150 kbit/s video and 224 kbit/s sound, 75 sectors of the CD a second.
constexpr std::int64_t kVcdVideo = 1150000;
constexpr double kVcdSectorsPerSecond = 75;
constexpr double kVcdSafetyMargin = 0.05;

// On a CD, each sector of a video track carries 2324 bytes of the MPEG stream. The ISO 9660
// track before the video with its information files takes about 450 sectors (as vcdimager
// writes it), and each video track adds its 150-sector gap.
constexpr std::int64_t kCdPayload = 2324;
constexpr std::int64_t kCdDataTrackSectors = 450;
constexpr std::int64_t kCdSectorsPerTrack = 150;

std::int64_t RoundDownToKilobit(double bitsPerSecond) {
  return static_cast<std::int64_t>(std::floor(bitsPerSecond / 1000.0)) * 1000;
}

int DiscsFor(double needed, double perDisc) {
  if (perDisc <= 0) return 0;
  const double discs = std::ceil(needed / perDisc);
  return discs > 1e6 ? 1000000 : std::max(1, static_cast<int>(discs));
}

// The highest video rate a stream may reach at any moment, by the standard.
std::int64_t VideoPeak(TDiscKind kind, std::int64_t audioBitRate) {
  if (kind == TDiscKind::Dvd) return std::min(kDvdVideoMax, kDvdTotalMax - audioBitRate);
  return std::min(kSvcdTargetMaxRate, kSvcdTotalMax - audioBitRate);
}

}  // namespace

std::int64_t TargetAudioBitRate(TDiscKind kind) {
  return kind == TDiscKind::Dvd ? 448000 : 224000;
}

TFitResult FitToDisc(TDiscSize size, double totalSeconds, int titles, TDiscKind kind,
                     std::int64_t audioBitRate, bool withMenu) {
  TFitResult fit;
  const TDiscSizeInfo disc = DiscSizeInfo(size);
  if (kind == TDiscKind::Dvd && disc.Cd) {
    fit.Problem = "a DVD image does not go on a " + disc.Name + " CD";
    return fit;
  }
  if (kind != TDiscKind::Dvd && !disc.Cd && !disc.Custom) {
    fit.Problem =
        DiscKindName(kind) + " images are made for CDs (700M or 800M), not " + disc.Name + " DVDs";
    return fit;
  }
  if (!std::isfinite(totalSeconds) || totalSeconds <= 0) {
    fit.Problem = "the inputs' length is not known";
    return fit;
  }
  if (titles < 1) titles = 1;
  const std::int64_t menuPages = !withMenu ? 0
                                 : kind == TDiscKind::Dvd
                                     ? (titles + kMenuTitlesPerPage - 1) / kMenuTitlesPerPage
                                     : CdMenuPageCount(titles);
  fit.AudioBitRate = audioBitRate > 0 ? audioBitRate : TargetAudioBitRate(kind);

  if (kind == TDiscKind::Vcd) {
    fit.VideoBitRate = kVcdVideo;
    const double sectors = totalSeconds * kVcdSectorsPerSecond * (1 + kVcdSafetyMargin) +
                           double(titles) * kCdSectorsPerTrack +
                           double(menuPages * kCdMenuSectorsPerPage);
    const double perDisc = double(disc.Sectors - kCdDataTrackSectors);
    fit.DiscsNeeded = DiscsFor(sectors, perDisc);
    fit.Fits = fit.DiscsNeeded == 1;
    fit.EstimatedBytes = static_cast<std::int64_t>(totalSeconds * kVcdSectorsPerSecond) * 2352;
    return fit;
  }

  // What one disc holds of the program streams, and what they add to the encoded streams.
  const bool dvd = kind == TDiscKind::Dvd;
  const TMuxCost mux = dvd ? kDvdMux : kSvcdMux;
  double streamRoom = 0;
  if (dvd) {
    streamRoom =
        double(disc.CapacityBytes) * (1 - kDvdReservedShare) -
        double(kDvdFileSystemBytes + titles * kDvdBytesPerTitle + menuPages * kDvdMenuBytesPerPage);
  } else {
    streamRoom = double(disc.Sectors - kCdDataTrackSectors - titles * kCdSectorsPerTrack -
                        menuPages * kCdMenuSectorsPerPage) *
                 double(kCdPayload);
  }
  const auto streamBytes = [&](double videoBitRate) {
    return totalSeconds *
           ((videoBitRate + double(fit.AudioBitRate)) / 8 * (1 + mux.Share) + mux.BytesPerSecond);
  };
  const auto reserved = [&] { return dvd ? double(disc.CapacityBytes) - streamRoom : 0.0; };
  const std::int64_t videoMax =
      RoundDownToKilobit(double(VideoPeak(kind, fit.AudioBitRate)) * kAverageUnderPeak);
  const std::int64_t videoMin = dvd ? kDvdVideoMin : kSvcdVideoMin;
  const double usable = streamRoom * (1 - kRateMargin);
  const double video = ((usable / totalSeconds - mux.BytesPerSecond) / (1 + mux.Share)) * 8 -
                       double(fit.AudioBitRate);
  if (videoMax < videoMin || video < double(videoMin)) {
    fit.DiscsNeeded = std::max(2, DiscsFor(streamBytes(double(videoMin)), usable));
    fit.VideoBitRate = videoMin;
    fit.EstimatedBytes = static_cast<std::int64_t>(streamBytes(double(videoMin)) + reserved());
    return fit;
  }
  fit.Fits = true;
  fit.AtStandardMaximum = video >= double(videoMax);
  fit.VideoBitRate = fit.AtStandardMaximum ? videoMax : RoundDownToKilobit(video);
  fit.EstimatedBytes =
      static_cast<std::int64_t>(streamBytes(double(fit.VideoBitRate)) + reserved());
  fit.ImageShare = dvd ? double(fit.EstimatedBytes) / double(disc.CapacityBytes)
                       : (double(fit.EstimatedBytes) / kCdPayload + double(disc.Sectors) -
                          streamRoom / kCdPayload) /
                             double(disc.Sectors);
  return fit;
}

std::string DescribeFit(const TFitResult& fit, TDiscSize size, TDiscKind kind) {
  const std::string name = DiscSizeInfo(size).Name;
  const char* disc = name.c_str();
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
                "(about %.*f MB), each file in two passes",
                static_cast<long long>(fit.VideoBitRate / 1000),
                static_cast<long long>(fit.AudioBitRate / 1000),
                fit.AtStandardMaximum ? " (the standard's highest; the disc has room left)" : "",
                disc, DiscKindName(kind).c_str(), fit.EstimatedBytes < 100000000 ? 1 : 0,
                double(fit.EstimatedBytes) / 1e6);
  return text;
}

std::string DescribeFill(TDiscSize size, TDiscKind kind, std::int64_t streamBytes, int titles) {
  const TDiscSizeInfo disc = DiscSizeInfo(size);
  char text[256];
  if (kind == TDiscKind::Dvd) {
    const double image = double(streamBytes + kDvdFileSystemBytes + titles * kDvdBytesPerTitle);
    const double capacity = double(disc.CapacityBytes);
    const int decimals = capacity < 100e6 ? 1 : 0;
    std::snprintf(text, sizeof text,
                  "Fit to disc: the files make an image of about %.*f MB of the %s DVD's %.*f MB "
                  "(%.1f%%)",
                  decimals, image / 1e6, disc.Name.c_str(), decimals, capacity / 1e6,
                  100.0 * image / capacity);
    return text;
  }
  const std::int64_t sectors = (streamBytes + kCdPayload - 1) / kCdPayload + kCdDataTrackSectors +
                               titles * kCdSectorsPerTrack;
  std::snprintf(text, sizeof text,
                "Fit to disc: the files make an image of about %lld sectors of the %s CD's %lld "
                "(%.1f%%)",
                static_cast<long long>(sectors), disc.Name.c_str(),
                static_cast<long long>(disc.Sectors),
                100.0 * double(sectors) / double(disc.Sectors));
  return text;
}

std::vector<std::string> FitOptionLines(const TFitResult& fit, TDiscKind kind) {
  if (!fit.Problem.empty() || !fit.Fits || kind == TDiscKind::Vcd) return {};
  // The ceiling is the standard's, above the average, so that two passes can give the
  // hard pictures more. The quantiser may go down to 1, so that easy pictures can spend
  // their share as well instead of leaving the disc part empty.
  return {"b=" + std::to_string(fit.VideoBitRate),
          "maxrate=" + std::to_string(VideoPeak(kind, fit.AudioBitRate)), "qmin=1", "lmin=1"};
}

}  // namespace tovamo::authoring
