#include "QualityMeasure.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string>

#include "Services/FFBindings.h"
#include "Services/FFLog.h"
#include "Services/FFOwners.h"

namespace tovamo::bench {
namespace {

using namespace tovamo::owned;

std::string ErrorText(int err) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  ff::av_strerror(err, text, sizeof text);
  return text;
}

[[noreturn]] void Fail(const std::string& what, int err = 0) {
  throw std::runtime_error(err < 0 ? what + ": " + ErrorText(err) : what);
}

struct TGraphFree {
  void operator()(AVFilterGraph* g) const { ff::avfilter_graph_free(&g); }
};
struct TInOutFree {
  void operator()(AVFilterInOut* io) const { ff::avfilter_inout_free(&io); }
};

// The pictures of a file's first video stream in presentation order, each stamped in
// frame periods from the file's first picture.
class TVideoReader {
 public:
  explicit TVideoReader(const std::string& path) : Path_(path) {
    AVFormatContext* ic = nullptr;
    int ret = ff::avformat_open_input(&ic, path.c_str(), nullptr, nullptr);
    if (ret < 0) Fail("cannot open " + path, ret);
    Input_.reset(ic);
    ret = ff::avformat_find_stream_info(ic, nullptr);
    if (ret < 0) Fail(path + ": stream information", ret);
    const AVCodec* codec = nullptr;
    Stream_ = ff::av_find_best_stream(ic, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (Stream_ < 0 || !codec) Fail(path + ": no video stream to decode", Stream_);
    AVStream* st = ic->streams[Stream_];
    TimeBase_ = st->time_base;
    Rate = ff::av_guess_frame_rate(ic, st, nullptr);
    if (Rate.num <= 0 || Rate.den <= 0) Fail(path + ": no frame rate");
    Codec_.reset(ff::avcodec_alloc_context3(codec));
    if (!Codec_) Fail("out of memory");
    ret = ff::avcodec_parameters_to_context(Codec_.get(), st->codecpar);
    if (ret >= 0) ret = ff::avcodec_open2(Codec_.get(), codec, nullptr);
    if (ret < 0) Fail(path + ": video decoder", ret);
    Packet_.reset(ff::av_packet_alloc());
    if (!Packet_) Fail("out of memory");
  }

  int Width() const { return Codec_->width; }
  int Height() const { return Codec_->height; }
  int PixelFormat() const { return Codec_->pix_fmt; }

  // The next picture, its pts in periods of `tick` (one frame of the source); false at
  // the end.
  bool Next(AVFrame* frame, AVRational tick) {
    for (;;) {
      int ret = ff::avcodec_receive_frame(Codec_.get(), frame);
      if (ret >= 0) {
        int64_t at = frame->best_effort_timestamp;
        // A picture without a time follows the last one by a frame.
        if (at == AV_NOPTS_VALUE)
          at = LastAt_ +
               std::max<int64_t>(1, ff::av_rescale_q(1, AVRational{Rate.den, Rate.num}, TimeBase_));
        if (First_ == AV_NOPTS_VALUE) First_ = at;
        LastAt_ = at;
        frame->pts = ff::av_rescale_q(at - First_, TimeBase_, tick);
        ++Frames;
        return true;
      }
      if (ret == AVERROR_EOF) return false;
      if (ret != AVERROR(EAGAIN)) Fail(Path_ + ": decoding", ret);
      ret = ReadPacket();
      if (ret == AVERROR_EOF) {
        ff::avcodec_send_packet(Codec_.get(), nullptr);
        continue;
      }
      if (ret < 0) Fail(Path_ + ": reading", ret);
      ret = ff::avcodec_send_packet(Codec_.get(), Packet_.get());
      ff::av_packet_unref(Packet_.get());
      // A damaged packet costs its pictures, which the metrics then count as lost.
      if (ret < 0 && ret != AVERROR_INVALIDDATA) Fail(Path_ + ": decoding", ret);
    }
  }

  AVRational Rate{0, 1};
  long Frames = 0;
  int64_t VideoBytes = 0;

 private:
  int ReadPacket() {
    for (;;) {
      const int ret = ff::av_read_frame(Input_.get(), Packet_.get());
      if (ret < 0) return ret;
      if (Packet_->stream_index == Stream_) {
        VideoBytes += Packet_->size;
        return 0;
      }
      ff::av_packet_unref(Packet_.get());
    }
  }

  std::string Path_;
  TInput Input_;
  TCodec Codec_;
  TPacket Packet_;
  int Stream_ = -1;
  AVRational TimeBase_{1, 1};
  int64_t First_ = AV_NOPTS_VALUE;
  int64_t LastAt_ = 0;
};

AVFilterContext* NewFilter(AVFilterGraph* graph, const char* filter, const char* name,
                           const std::string& args) {
  AVFilterContext* ctx = nullptr;
  const int ret =
      ff::avfilter_graph_create_filter(&ctx, ff::avfilter_get_by_name(filter), name,
                                       args.empty() ? nullptr : args.c_str(), nullptr, graph);
  if (ret < 0) Fail(std::string("filter ") + filter, ret);
  return ctx;
}

std::string BufferArgs(const TVideoReader& reader, AVRational tick) {
  return "video_size=" + std::to_string(reader.Width()) + "x" + std::to_string(reader.Height()) +
         ":pix_fmt=" + std::to_string(reader.PixelFormat()) +
         ":time_base=" + std::to_string(tick.num) + "/" + std::to_string(tick.den) +
         ":pixel_aspect=1/1";
}

// Links `ends` (filter, pad name) as the open ends of the graph description.
AVFilterInOut* Ends(std::initializer_list<std::pair<AVFilterContext*, const char*>> ends) {
  AVFilterInOut* head = nullptr;
  for (auto it = std::rbegin(ends); it != std::rend(ends); ++it) {
    AVFilterInOut* io = ff::avfilter_inout_alloc();
    if (!io) Fail("out of memory");
    io->name = ff::av_strdup(it->second);
    io->filter_ctx = it->first;
    io->pad_idx = 0;
    io->next = head;
    head = io;
  }
  return head;
}

void Drain(AVFilterContext* sink, AVFrame* frame) {
  while (ff::av_buffersink_get_frame(sink, frame) >= 0) ff::av_frame_unref(frame);
}

}  // namespace

TQuality MeasureQuality(const std::string& source, const std::string& output) {
  TVideoReader ref(source), out(output);
  const AVRational tick{ref.Rate.den, ref.Rate.num};

  std::unique_ptr<AVFilterGraph, TGraphFree> graph(ff::avfilter_graph_alloc());
  if (!graph) Fail("out of memory");
  AVFilterContext* refIn = NewFilter(graph.get(), "buffer", "ref", BufferArgs(ref, tick));
  AVFilterContext* outIn = NewFilter(graph.get(), "buffer", "out", BufferArgs(out, tick));
  AVFilterContext* psnrOut = NewFilter(graph.get(), "buffersink", "psnr_out", "");
  AVFilterContext* ssimOut = NewFilter(graph.get(), "buffersink", "ssim_out", "");
  // The output is scaled to the source's size as a viewer's player would show it.
  const std::string description =
      "[out]scale=" + std::to_string(ref.Width()) + ":" + std::to_string(ref.Height()) +
      ":flags=bicubic,format=yuv420p,split[o1][o2];[ref]format=yuv420p,split[r1][r2];"
      "[o1][r1]psnr[p];[o2][r2]ssim[s]";
  std::unique_ptr<AVFilterInOut, TInOutFree> opened(Ends({{outIn, "out"}, {refIn, "ref"}}));
  std::unique_ptr<AVFilterInOut, TInOutFree> sinks(Ends({{psnrOut, "p"}, {ssimOut, "s"}}));
  AVFilterInOut* inputs = sinks.release();
  AVFilterInOut* outputs = opened.release();
  int ret =
      ff::avfilter_graph_parse_ptr(graph.get(), description.c_str(), &inputs, &outputs, nullptr);
  ff::avfilter_inout_free(&inputs);
  ff::avfilter_inout_free(&outputs);
  if (ret < 0) Fail("the measuring filter graph", ret);
  ret = ff::avfilter_graph_config(graph.get(), nullptr);
  if (ret < 0) Fail("the measuring filter graph", ret);

  TFrame frame(ff::av_frame_alloc());
  if (!frame) Fail("out of memory");
  bool refDone = false, outDone = false;
  while (!refDone || !outDone) {
    for (auto [reader, src, done] : {std::tuple{&ref, refIn, &refDone}, {&out, outIn, &outDone}}) {
      if (*done) continue;
      *done = !reader->Next(frame.get(), tick);
      ret = ff::av_buffersrc_add_frame_flags(src, *done ? nullptr : frame.get(), 0);
      if (ret < 0) Fail("feeding the measuring filters", ret);
    }
    Drain(psnrOut, frame.get());
    Drain(ssimOut, frame.get());
  }
  Drain(psnrOut, frame.get());
  Drain(ssimOut, frame.get());

  // The filters report their totals as they close.
  TQuality quality;
  bool psnr = false, ssim = false;
  std::mutex lock;
  TFFLogger* logger = DefaultLogger();
  const TLogLevel level = logger->LogLevel();
  logger->TriggerEventInMainThread = false;
  logger->SetLogLevel(llInfo);
  logger->SetOnLog([&](void*, std::uint32_t, TLogLevel, const std::string& line) {
    std::lock_guard guard(lock);
    if (const char* at = std::strstr(line.c_str(), "PSNR y:"))
      psnr = std::sscanf(at, "PSNR y:%lf", &quality.PsnrY) == 1;
    if (const char* at = std::strstr(line.c_str(), "SSIM Y:"))
      ssim = std::sscanf(at, "SSIM Y:%lf", &quality.SsimY) == 1;
  });
  graph.reset();
  logger->SetOnLog({});
  logger->SetLogLevel(level);
  if (!psnr || !ssim) Fail("the psnr and ssim filters gave no totals for " + output);

  quality.SourceFrames = ref.Frames;
  quality.OutputFrames = out.Frames;
  if (out.Frames > 0)
    quality.VideoKbps =
        double(out.VideoBytes) * 8 / (double(out.Frames) * out.Rate.den / out.Rate.num) / 1000;
  return quality;
}

}  // namespace tovamo::bench
