// Owning pointers for the FFmpeg objects that code outside the engine makes for itself (the
// sample clip writer, benchmarks, tests): each frees its object through the bound entry
// points when it goes out of scope.
#pragma once

#include <memory>

#include "Services/FFBindings.h"

namespace tovamo::owned {

struct TCodecFree {
  void operator()(AVCodecContext* c) const { ff::avcodec_free_context(&c); }
};
struct TFrameFree {
  void operator()(AVFrame* f) const { ff::av_frame_free(&f); }
};
struct TPacketFree {
  void operator()(AVPacket* p) const { ff::av_packet_free(&p); }
};
struct TSwrFree {
  void operator()(SwrContext* s) const { ff::swr_free(&s); }
};
struct TSwsFree {
  void operator()(SwsContext* s) const { ff::sws_freeContext(s); }
};
struct TInputFree {
  void operator()(AVFormatContext* c) const { ff::avformat_close_input(&c); }
};
// An output's context with the file it opened, if any.
struct TOutputFree {
  void operator()(AVFormatContext* c) const {
    if (c->pb) ff::avio_closep(&c->pb);
    ff::avformat_free_context(c);
  }
};

using TCodec = std::unique_ptr<AVCodecContext, TCodecFree>;
using TFrame = std::unique_ptr<AVFrame, TFrameFree>;
using TPacket = std::unique_ptr<AVPacket, TPacketFree>;
using TSwr = std::unique_ptr<SwrContext, TSwrFree>;
using TSws = std::unique_ptr<SwsContext, TSwsFree>;
using TInput = std::unique_ptr<AVFormatContext, TInputFree>;
using TOutput = std::unique_ptr<AVFormatContext, TOutputFree>;

}  // namespace tovamo::owned
