// The pixel format an output stream is encoded in: what the encoder takes, narrowed by
// what the stream's H.264 profile or disc standard allows (a High profile stream is 8-bit
// 4:2:0 whatever the camera recorded).
#pragma once

#include <string>

#include "Services/FFHeaders.h"

namespace tovamo {

// The limit a profile or a standard puts on the pictures: the deepest sample and the
// finest chroma allowed (log2 of the subsampling across and down). No limit by default.
struct TFormatLimit {
  int MaxDepth = 99;
  int MinChromaShiftW = 0, MinChromaShiftH = 0;
  std::string What;  // "the H.264 profile high", "a DVD", for the reason of a refusal
  bool Limits() const { return !What.empty(); }
  std::string Describe() const;  // "8-bit 4:2:0"
};

// The limit of an H.264 encoder's profile as its settings give it (the encoder's private
// "profile" option, else the context's profile number); none for other codecs or no profile.
TFormatLimit H264ProfileLimit(const AVCodecContext* codec);

// The limit a disc muxer's standard puts on its MPEG video ("vcd", "svcd", "dvd"), or none.
TFormatLimit DiscLimit(const char* muxerName);

// Sets codec->pix_fmt to the format the encoder takes within the limit: the format it has
// when allowed, else the planar YUV format within the limit that loses least of it; with
// no limit the encoder's first format where it does not take the one it has. A format
// that was asked for and that only the limit refuses is an error with the limit as the
// reason (the encoder would only say that it cannot set its profile).
void ChoosePixelFormat(AVCodecContext* codec, const AVCodec* encoder, const TFormatLimit& limit,
                       bool asked);

}  // namespace tovamo
