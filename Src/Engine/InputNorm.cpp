#include "Engine/InputNorm.h"

#include <cmath>

#include "Services/FFBindings.h"

namespace tovamo {

int NormTypeOfRate(AVRational rate) {
  if (rate.num == 0 || rate.den == 0) return 0;
  // In thousandths of a frame per second, rounded: 25000, 29970 and 23976 name the norms.
  const double milli = std::round(double(rate.num) * 1000.0 / double(rate.den));
  if (milli == 25000) return 1;
  if (milli == 29970 || milli == 23976) return 2;
  return 0;
}

int InputNormType(AVFormatContext* input) {
  if (!input) return 0;
  // The stream's frame rate as the library guesses it (r_frame_rate, else avg_frame_rate):
  // not fooled by codecs that count two ticks per frame.
  for (unsigned i = 0; i < input->nb_streams; ++i) {
    AVStream* stream = input->streams[i];
    if (!stream->codecpar || stream->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) continue;
    if (const int norm = NormTypeOfRate(ff::av_guess_frame_rate(input, stream, nullptr)))
      return norm;
  }
  return 0;
}

}  // namespace tovamo
