#include "Engine/DecoderBuffers.h"

#include <cstring>

#include "Services/FFBindings.h"

namespace tovamo {
namespace {

// Called by the decoder, on any of its threads: the default buffer, blackened over the
// whole size the decoder asked for (its coded size, which may exceed the picture's).
int BlackBuffer(AVCodecContext* context, AVFrame* frame, int flags) {
  const int ret = ff::avcodec_default_get_buffer2(context, frame, flags);
  if (ret < 0) return ret;
  const AVColorRange range =
      frame->color_range != AVCOL_RANGE_UNSPECIFIED ? frame->color_range : context->color_range;
  const std::ptrdiff_t lines[4] = {frame->linesize[0], frame->linesize[1], frame->linesize[2],
                                   frame->linesize[3]};
  // Formats it cannot blacken (bitstream and hardware ones) are cleared to zero.
  if (ff::av_image_fill_black(frame->data, lines, AVPixelFormat(frame->format), range, frame->width,
                              frame->height) < 0) {
    for (const AVBufferRef* buffer : frame->buf)
      if (buffer) std::memset(buffer->data, 0, buffer->size);
  }
  return 0;
}

}  // namespace

void UseBlackDecoderBuffers(AVCodecContext* decoder) {
  if (decoder->codec_type != AVMEDIA_TYPE_VIDEO) return;
  decoder->get_buffer2 = BlackBuffer;
#if FF_API_THREAD_SAFE_CALLBACKS
  // Until libavcodec 60 a callback not marked so is called through the decoder's own
  // thread, one picture at a time.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  decoder->thread_safe_callbacks = 1;
#pragma GCC diagnostic pop
#endif
}

}  // namespace tovamo
