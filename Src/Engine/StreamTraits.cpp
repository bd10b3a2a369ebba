#include "Engine/StreamTraits.h"

#include <algorithm>
#include <cmath>

#include "Services/FFBindings.h"

namespace tovamo {
namespace {

// Above every picture size and channel count a real stream has.
constexpr std::int64_t kPreferred = std::int64_t(1) << 40;

}  // namespace

bool IsAttachedPicture(const AVStream& stream) {
  return (stream.disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
}

std::int64_t StreamScore(const AVStream& stream) {
  const AVCodecParameters* par = stream.codecpar;
  if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
    // A cover picture is taken only where there is nothing else to show.
    if (IsAttachedPicture(stream)) return 0;
    return kPreferred + std::int64_t(std::max(par->width, 0)) * std::max(par->height, 0);
  }
  if (par->codec_type == AVMEDIA_TYPE_AUDIO)
    return (stream.disposition & AV_DISPOSITION_DEFAULT ? kPreferred : 0) +
           std::max(par->ch_layout.nb_channels, 0);
  return 0;
}

int DisplayRotation(const AVStream& stream) {
  if (!ff::av_stream_get_side_data || !ff::av_display_rotation_get) return 0;
  std::size_t size = 0;
  const std::uint8_t* data = ff::av_stream_get_side_data(&stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
  if (!data || size < 9 * sizeof(std::int32_t)) return 0;
  // The matrix turns counter-clockwise by the angle it gives.
  const double angle = -ff::av_display_rotation_get(reinterpret_cast<const std::int32_t*>(data));
  if (!std::isfinite(angle)) return 0;
  const long quarter = std::lround(angle / 90);
  if (std::fabs(angle - 90.0 * double(quarter)) > 1) return 0;
  return int(((quarter % 4) + 4) % 4) * 90;
}

std::string TurnFilters(int rotation) {
  switch (rotation) {
    case 90:
      return "transpose=clock";
    case 180:
      return "hflip,vflip";
    case 270:
      return "transpose=cclock";
    default:
      return {};
  }
}

}  // namespace tovamo
