#include "Engine/PixelFormats.h"

#include <cstring>
#include <string_view>
#include <vector>

#include "Services/Exceptions.h"
#include "Services/FFBindings.h"

namespace tovamo {
namespace {

TFormatLimit Limit(int depth, int shiftW, int shiftH, std::string what) {
  return {depth, shiftW, shiftH, std::move(what)};
}

// Within the limit: YUV (or grey) of the allowed depth and chroma. RGB never is.
bool WithinLimit(AVPixelFormat format, const TFormatLimit& limit) {
  const AVPixFmtDescriptor* desc = ff::av_pix_fmt_desc_get(format);
  if (!desc) return false;
  if (!limit.Limits()) return true;
  if (desc->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_HWACCEL))
    return false;
  if (desc->nb_components < 3) return false;
  return desc->comp[0].depth <= limit.MaxDepth && desc->log2_chroma_w >= limit.MinChromaShiftW &&
         desc->log2_chroma_h >= limit.MinChromaShiftH;
}

// A plain planar YUV format of limited range: what players take best. The full-range "J"
// formats are deprecated aliases, the semi-planar ones a hardware layout.
bool PlainPlanarYuv(AVPixelFormat format) {
  const AVPixFmtDescriptor* desc = ff::av_pix_fmt_desc_get(format);
  return desc && (desc->flags & AV_PIX_FMT_FLAG_PLANAR) && !(desc->flags & AV_PIX_FMT_FLAG_RGB) &&
         desc->nb_components == 3 && std::strncmp(desc->name, "yuvj", 4) != 0;
}

std::string FormatName(AVPixelFormat format) {
  const char* name = ff::av_get_pix_fmt_name(format);
  return name ? name : "unknown";
}

}  // namespace

std::string TFormatLimit::Describe() const {
  const char* chroma = MinChromaShiftH > 0 ? "4:2:0" : MinChromaShiftW > 0 ? "4:2:2" : "4:4:4";
  return std::to_string(MaxDepth) + "-bit " + chroma;
}

TFormatLimit H264ProfileLimit(const AVCodecContext* codec) {
  if (!codec || codec->codec_id != AV_CODEC_ID_H264) return {};
  std::string name;
  if (codec->priv_data && ff::av_opt_find(codec->priv_data, "profile", nullptr, 0, 0)) {
    std::uint8_t* value = nullptr;
    if (ff::av_opt_get(codec->priv_data, "profile", 0, &value) >= 0 && value)
      name = reinterpret_cast<const char*>(value);
    ff::av_freep(&value);
  }
  const std::string what = "the H.264 profile ";
  if (!name.empty()) {
    if (name == "baseline" || name == "main" || name == "high") return Limit(8, 1, 1, what + name);
    if (name == "high10") return Limit(10, 1, 1, what + name);
    if (name == "high422") return Limit(10, 1, 0, what + name);
    return {};  // high444 takes them all; an unknown name is the encoder's to refuse
  }
  switch (codec->profile & ~FF_PROFILE_H264_CONSTRAINED & ~FF_PROFILE_H264_INTRA) {
    case FF_PROFILE_H264_BASELINE:
    case FF_PROFILE_H264_MAIN:
    case FF_PROFILE_H264_EXTENDED:
    case FF_PROFILE_H264_HIGH:
      return Limit(8, 1, 1, what + std::to_string(codec->profile));
    case FF_PROFILE_H264_HIGH_10:
      return Limit(10, 1, 1, what + std::to_string(codec->profile));
    case FF_PROFILE_H264_HIGH_422:
      return Limit(10, 1, 0, what + std::to_string(codec->profile));
    default:
      return {};
  }
}

TFormatLimit DiscLimit(const char* muxerName) {
  const std::string_view name = muxerName ? muxerName : "";
  if (name == "vcd") return Limit(8, 1, 1, "a VCD");
  if (name == "svcd") return Limit(8, 1, 1, "an SVCD");
  if (name == "dvd") return Limit(8, 1, 1, "a DVD");
  return {};
}

void ChoosePixelFormat(AVCodecContext* codec, const AVCodec* encoder, const TFormatLimit& limit,
                       bool asked) {
  if (!encoder || !encoder->pix_fmts) return;
  const AVPixelFormat source = codec->pix_fmt;
  bool taken = false;
  std::vector<AVPixelFormat> allowed;
  for (const AVPixelFormat* f = encoder->pix_fmts; *f != AV_PIX_FMT_NONE; ++f) {
    taken = taken || *f == source;
    if (WithinLimit(*f, limit)) {
      if (*f == source) return;
      if (PlainPlanarYuv(*f)) allowed.push_back(*f);
    }
  }
  if (!limit.Limits() || allowed.empty()) {
    if (!taken) codec->pix_fmt = encoder->pix_fmts[0];
    return;
  }
  if (asked && taken)
    throw FFmpegException(limit.What + " takes " + limit.Describe() +
                          " pictures; the pixel format " + FormatName(source) +
                          " asked for is not one");
  allowed.push_back(AV_PIX_FMT_NONE);
  AVPixelFormat best = allowed.front();
  if (source != AV_PIX_FMT_NONE && ff::avcodec_find_best_pix_fmt_of_list)
    best = ff::avcodec_find_best_pix_fmt_of_list(allowed.data(), source, 0, nullptr);
  codec->pix_fmt = best != AV_PIX_FMT_NONE ? best : allowed.front();
}

}  // namespace tovamo
