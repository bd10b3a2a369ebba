// The video output path: pre-processing of each decoded picture (the owner's input hook,
// the frame hooks), the filter graph ("vf" and deinterlacing), dropping and repeating
// frames by the video sync method, scaling to the encoder's size and format, the owner's
// output hook, the previews, forced key frames, encoding and the statistics file.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <mutex>

#include "Engine/DiscUserData.h"
#include "Engine/EncodeStep.h"
#include "Engine/FFmpeg.h"
#include "Engine/StreamTraits.h"
#include "Engine/SubtitleBurn.h"
#include "Engine/TimestampLimits.h"
#include "Engine/TranscodeRun.h"
#include "Services/FFBindings.h"
#include "Services/FrameHook.h"
#include "Services/FormatConverter.h"

namespace tovamo {
namespace {

// More copies of one picture than this (about 11 hours at 25 frames/s) no input holds.
constexpr double kMostCopies = 1'000'000;

std::int64_t ToMicrosecond(std::int64_t ts, AVRational timeBase) {
  return ff::av_rescale_q(ts, timeBase, AV_TIME_BASE_Q);
}

// Makes `copy` a writable picture of the frame's size and format holding its pixels.
bool CopyPicture(AVFrame*& copy, const AVFrame* source) {
  if (!copy) copy = ff::av_frame_alloc();
  if (!copy) return false;
  if (copy->width != source->width || copy->height != source->height ||
      copy->format != source->format || ff::av_frame_make_writable(copy) < 0) {
    ff::av_frame_unref(copy);
    copy->width = source->width;
    copy->height = source->height;
    copy->format = source->format;
    if (ff::av_frame_get_buffer(copy, 0) < 0) return false;
  }
  if (ff::av_frame_copy(copy, source) < 0) return false;
  ff::av_frame_copy_props(copy, source);
  return true;
}

// The process-wide preview sink factory; its lock is only held to read or swap it.
std::mutex& FactoryLock() {
  static std::mutex lock;
  return lock;
}

TPreviewSinkFactory& Factory() {
  static TPreviewSinkFactory factory = nullptr;
  return factory;
}

}  // namespace

void SetPreviewSinkFactory(TPreviewSinkFactory factory) {
  std::lock_guard lock(FactoryLock());
  Factory() = factory;
}

TPreviewSinkFactory PreviewSinkFactory() {
  std::lock_guard lock(FactoryLock());
  return Factory();
}

// ---- Pre-processing ----------------------------------------------------------------------

void TCustomFFmpeg::PreprocessPicture(TInputStream& ist, AVFrame*& picture) {
  ++ist.PictureCount;
  const bool hook = OnVideoInputHook && EventsAttached();
  if (!hook && !UsingFrameHooks) return;
  // Hooks draw on a copy: the decoder may still refer to its own buffers.
  if (!CopyPicture(InputHookFrame, picture)) {
    Log(llError, "hook buf malloc error.");
    return;
  }
  picture = InputHookFrame;
  if (hook) {
    bool detach = false;
    CallVideoHook(OnVideoInputHook, *HookConverter, picture, ist.Pts, ist.PictureCount, detach);
    if (detach) OnVideoInputHook = nullptr;
  }
  if (!hook && UsingFrameHooks) {
    const int ret = ProcessFrameHooks(FrameHooks.get(), picture, ist.Pts);
    // A picture the hooks cannot take ends the job: frames must not go out unhooked.
    if (ret < 0) throw FFmpegException(ErrorText("Frame hooks could not process a picture", ret));
  }
}

bool TCustomFFmpeg::CallVideoHook(const THookEvent& handler, TFormatConverter& converter,
                                  AVFrame* picture, std::int64_t pts, int frameNumber,
                                  bool& detach) {
  const AVPixelFormat format = AVPixelFormat(picture->format);
  bool converted = converter.ToRGB(picture->data, picture->linesize, format, true, picture->height,
                                   picture->width);
  detach = !converted;
  if (!converted) {
    Log(llError, converter.LastError());
    return false;
  }
  THookInfo info;
  info.Bitmap = &converter.Bitmap();
  info.FrameNumber = frameNumber;
  info.PTS = pts;
  info.Update = true;
  info.StopHooking = false;
  try {
    handler(this, &info);
  } catch (const std::exception& e) {
    Log(llError, std::string("Error occurs VideoHook event: ") + e.what());
    info.Update = false;
  } catch (...) {
    Log(llError, "Error occurs VideoHook event: unknown exception");
    info.Update = false;
  }
  detach = info.StopHooking;
  if (info.Update) {
    converter.CopyFromBitmap();
    if (!converter.FromRGB(picture->data, picture->linesize, format, picture->height,
                           picture->width)) {
      Log(llError, converter.LastError());
      detach = true;
    }
  } else if (PreviewFlags != 0) {
    converted = false;  // the preview converts again
  }
  return converted;
}

// ---- Filter graph --------------------------------------------------------------------------

unsigned TCustomFFmpeg::CurrentScalerFlags() const {
  std::int64_t flags = ScalerFlags;
  if (OptionContexts.ScalerDefaults)
    ff::av_opt_get_int(OptionContexts.ScalerDefaults, "sws_flags", 0, &flags);
  return unsigned(flags);
}

int TCustomFFmpeg::PictureTurn(const TInputStream& ist) const {
  return AutoRotate ? DisplayRotation(*ist.Stream) : 0;
}

std::string TCustomFFmpeg::FitChain(const TOutputStream& ost, const TInputStream& ist) const {
  // With a chain of the user's, the size is theirs to decide.
  if (VideoFiltersGiven && !VideoFilters.empty()) return {};
  const AVCodecContext* enc = ost.EncoderContext;
  const AVCodecParameters* in = ist.Stream->codecpar;
  AVRational sar = ist.Stream->sample_aspect_ratio.num ? ist.Stream->sample_aspect_ratio
                                                       : in->sample_aspect_ratio;
  int width = in->width, height = in->height;
  // The fit works on the picture as turned upright.
  if (TurnIsSideways(PictureTurn(ist))) {
    std::swap(width, height);
    if (sar.num > 0 && sar.den > 0) sar = {sar.den, sar.num};
  }
  return FitFilters(PictureFit,
                    {width, height, sar, enc->width, enc->height, enc->sample_aspect_ratio},
                    CurrentScalerFlags());
}

void TCustomFFmpeg::ConfigureFilters(TOutputStream& ost, TInputStream& ist) {
  AVCodecContext* enc = ost.EncoderContext;
  const AVCodecParameters* in = ist.Stream->codecpar;
  auto fail = [&](int ret) {
    ff::avfilter_graph_free(&ost.FilterGraph);
    ost.FilterSource = ost.FilterSink = nullptr;
    const std::string reason = LastError.empty() ? std::string() : LastError;
    if (ret < 0 && !reason.empty()) throw FFmpegException("Error opening filters: " + reason);
    throw FFmpegException("Error opening filters!");
  };
  LastError.clear();
  ost.FilterGraph = ff::avfilter_graph_alloc();
  if (!ost.FilterGraph) fail(AVERROR(ENOMEM));
  AVRational sar = ist.Stream->sample_aspect_ratio.num ? ist.Stream->sample_aspect_ratio
                                                       : in->sample_aspect_ratio;
  if (!sar.num) sar = {1, 1};
  char args[256];
  std::snprintf(args, sizeof args, "video_size=%dx%d:pix_fmt=%d:time_base=1/%d:pixel_aspect=%d/%d",
                in->width, in->height, in->format, AV_TIME_BASE, sar.num, sar.den);
  int ret = ff::avfilter_graph_create_filter(&ost.FilterSource, ff::avfilter_get_by_name("buffer"),
                                             "src", args, nullptr, ost.FilterGraph);
  if (ret < 0) fail(ret);
  ret = ff::avfilter_graph_create_filter(&ost.FilterSink, ff::avfilter_get_by_name("buffersink"),
                                         "out", nullptr, nullptr, ost.FilterGraph);
  if (ret < 0) fail(ret);
  const AVPixelFormat formats[] = {enc->pix_fmt, AV_PIX_FMT_NONE};
  ret =
      ff::av_opt_set_bin(ost.FilterSink, "pix_fmts", reinterpret_cast<const std::uint8_t*>(formats),
                         sizeof(AVPixelFormat), AV_OPT_SEARCH_CHILDREN);
  if (ret < 0) fail(ret);

  // Deinterlacing first (on the fields as stored), then the turn upright, then the user's
  // chain, then the encoder's size.
  std::string chain;
  if (Deinterlace) chain = "yadif";
  const int turn = PictureTurn(ist);
  if (turn != 0) chain += (chain.empty() ? "" : ",") + TurnFilters(turn);
  const int shownWidth = TurnIsSideways(turn) ? in->height : in->width;
  const int shownHeight = TurnIsSideways(turn) ? in->width : in->height;
  if (VideoFiltersGiven && !VideoFilters.empty())
    chain += (chain.empty() ? "" : ",") + VideoFilters;
  // With a chain of the user's, the size is theirs to decide.
  if (!(VideoFiltersGiven && !VideoFilters.empty())) {
    std::string sizing = FitChain(ost, ist);
    if (sizing.empty() && (enc->width != shownWidth || enc->height != shownHeight)) {
      std::snprintf(args, sizeof args, "scale=%d:%d:flags=0x%X", enc->width, enc->height,
                    CurrentScalerFlags());
      sizing = args;
    }
    // The pictures keep the output's pixel aspect, whatever the filters made of the input's.
    if (enc->sample_aspect_ratio.num > 0 && enc->sample_aspect_ratio.den > 0) {
      std::snprintf(args, sizeof args, "setsar=%d/%d", enc->sample_aspect_ratio.num,
                    enc->sample_aspect_ratio.den);
      sizing += (sizing.empty() ? "" : ",") + std::string(args);
    }
    if (!sizing.empty()) chain += (chain.empty() ? "" : ",") + sizing;
  }
  // Drawn on the output's picture, so that the text has the same size on every input.
  if (!BurnSubtitles.empty()) {
    const std::string burn = BurnSubtitleFilter(BurnSubtitles);
    if (burn.empty())
      throw FFmpegException("burn_subtitles needs \"N:FILE\", not \"" + BurnSubtitles + "\"");
    chain += (chain.empty() ? "" : ",") + burn;
  }
  if (chain.empty()) chain = "null";
  AVFilterInOut* outputs = ff::avfilter_inout_alloc();
  AVFilterInOut* inputs = ff::avfilter_inout_alloc();
  if (!outputs || !inputs) {
    ff::avfilter_inout_free(&outputs);
    ff::avfilter_inout_free(&inputs);
    fail(AVERROR(ENOMEM));
  }
  outputs->name = ff::av_strdup("in");
  outputs->filter_ctx = ost.FilterSource;
  outputs->pad_idx = 0;
  outputs->next = nullptr;
  inputs->name = ff::av_strdup("out");
  inputs->filter_ctx = ost.FilterSink;
  inputs->pad_idx = 0;
  inputs->next = nullptr;
  ret = ff::avfilter_graph_parse_ptr(ost.FilterGraph, chain.c_str(), &inputs, &outputs, nullptr);
  ff::avfilter_inout_free(&outputs);
  ff::avfilter_inout_free(&inputs);
  if (ret < 0) {
    LastError = ErrorText(chain, ret);
    fail(ret);
  }
  ret = ff::avfilter_graph_config(ost.FilterGraph, nullptr);
  if (ret < 0) {
    LastError = ErrorText(chain, ret);
    fail(ret);
  }
  // The encoder takes what the end of the graph gives.
  enc->width = ff::av_buffersink_get_w(ost.FilterSink);
  enc->height = ff::av_buffersink_get_h(ost.FilterSink);
}

void TCustomFFmpeg::EncodeVideoFrame(TTranscodeRun& run, TOutputStream& ost, TInputStream& ist,
                                     AVFrame* frame, std::int64_t inputPts) {
  if (!ost.FilterGraph) {
    VideoOut(run, ost, ist, frame, inputPts);
    return;
  }
  // The graph works in microseconds.
  frame->pts = inputPts;
  int ret = ff::av_buffersrc_add_frame_flags(ost.FilterSource, frame, AV_BUFFERSRC_FLAG_KEEP_REF);
  if (ret < 0) throw FFmpegException(ErrorText("Error while feeding the filter graph", ret));
  if (!ost.FilteredFrame) ost.FilteredFrame = NewFrame();
  for (;;) {
    ret = ff::av_buffersink_get_frame(ost.FilterSink, ost.FilteredFrame);
    if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) break;
    if (ret < 0) throw FFmpegException(ErrorText("Error while filtering", ret));
    const std::int64_t pts =
        ost.FilteredFrame->pts != AV_NOPTS_VALUE
            ? ff::av_rescale_q(ost.FilteredFrame->pts,
                               ff::av_buffersink_get_time_base(ost.FilterSink), AV_TIME_BASE_Q)
            : inputPts;
    const AVRational sar = ff::av_buffersink_get_sample_aspect_ratio(ost.FilterSink);
    if (sar.num) ost.EncoderContext->sample_aspect_ratio = sar;
    try {
      VideoOut(run, ost, ist, ost.FilteredFrame, pts);
    } catch (...) {
      ff::av_frame_unref(ost.FilteredFrame);
      throw;
    }
    ff::av_frame_unref(ost.FilteredFrame);
  }
}

// ---- Video out -----------------------------------------------------------------------------

void TCustomFFmpeg::VideoOut(TTranscodeRun& run, TOutputStream& ost, TInputStream& ist,
                             AVFrame* frame, std::int64_t pts) {
  AVCodecContext* enc = ost.EncoderContext;
  AVFormatContext* output = OutputFiles[ost.FileIndex];
  TOutputStream& owner = ost.Shared ? *ost.Shared : ost;

  // How many times this picture goes out.
  double syncIpts = (double(pts) - double(StartTime) - double(owner.SkippedMicros)) / AV_TIME_BASE /
                    av_q2d(enc->time_base);
  int copies = 1;
  if (VideoSyncMethod != 0) {
    double delta = syncIpts - double(owner.SyncOpts);
    const bool variable = VideoSyncMethod == 2 ||
                          (VideoSyncMethod < 0 && (output->oformat->flags & AVFMT_VARIABLE_FPS));
    // The packet loop has taken out the jumps its file does not explain, so a gap forward
    // is the input's own (a slideshow, a late start, a pause) and is filled with repeated
    // pictures; only one that starts before the file does (copied timestamps far from zero)
    // is stepped over, as is a jump back, which dropping pictures would not make up.
    const double longest = double(kLongestFilledGapMicros) / AV_TIME_BASE / av_q2d(enc->time_base);
    const double from = double(owner.SyncOpts) * av_q2d(enc->time_base) * AV_TIME_BASE +
                        double(StartTime) + double(owner.SkippedMicros);
    const bool beforeFile = from < double(ist.TimelineStart) - double(kLongestFilledGapMicros);
    if (delta < -longest || (!variable && delta > longest && beforeFile) || delta > kMostCopies) {
      owner.SkippedMicros += std::llrint(delta * av_q2d(enc->time_base) * AV_TIME_BASE);
      syncIpts -= delta;
      delta = 0;
    }
    // A picture that lasts several output frames (a slideshow, a screen recording at 1
    // frame/s) covers its own time: otherwise the last one would be shown once.
    const double own = frame->pkt_duration > 0
                           ? double(ToMicrosecond(frame->pkt_duration, ist.Stream->time_base)) /
                                 AV_TIME_BASE / av_q2d(enc->time_base)
                           : 0;
    if (delta < -1.1) {
      copies = 0;
    } else if (variable) {
      if (delta <= -0.6)
        copies = 0;
      else if (delta > 0.6)
        owner.SyncOpts = std::llrint(syncIpts);
    } else if (own >= 1.5) {
      copies = int(std::max(1.0, std::nearbyint(delta + std::min(own, double(kMostCopies)))));
    } else if (delta > 1.1) {
      copies = int(std::nearbyint(delta));
    }
    if (copies == 0) {
      ++FramesDropped;
      if (Verbose > 2) Log(llVerbose, "*** drop!");
    } else if (copies > 1) {
      FramesDuplicated += copies - 1;
      if (Verbose > 2) LogFmt(llVerbose, "*** %d dup!", copies - 1);
    }
  } else {
    // Passed through at the input's times, which never step back in the output.
    const std::int64_t at = std::llrint(syncIpts);
    owner.SyncOpts = ost.FrameNumber == 0 ? at : std::max(owner.SyncOpts.load(), at);
  }
  copies = std::min(copies, MaxFrames[0] - ost.FrameNumber);
  if (copies <= 0) return;

  // Scaling and pixel format conversion to what the encoder takes (without a graph).
  AVFrame* picture = frame;
  if (frame->width != enc->width || frame->height != enc->height || frame->format != enc->pix_fmt) {
    std::int64_t flags = ScalerFlags;
    if (OptionContexts.ScalerDefaults)
      ff::av_opt_get_int(OptionContexts.ScalerDefaults, "sws_flags", 0, &flags);
    owner.Scaler = ff::sws_getCachedContext(owner.Scaler, frame->width, frame->height,
                                            AVPixelFormat(frame->format), enc->width, enc->height,
                                            enc->pix_fmt, int(flags), nullptr, nullptr, nullptr);
    if (!owner.Scaler) throw FFmpegException("Cannot get resampling context");
    if (!owner.ScaledFrame) owner.ScaledFrame = NewFrame();
    AVFrame* scaled = owner.ScaledFrame;
    if (scaled->width != enc->width || scaled->height != enc->height ||
        scaled->format != enc->pix_fmt || ff::av_frame_make_writable(scaled) < 0) {
      ff::av_frame_unref(scaled);
      scaled->width = enc->width;
      scaled->height = enc->height;
      scaled->format = enc->pix_fmt;
      if (ff::av_frame_get_buffer(scaled, 0) < 0)
        throw FFmpegException("Cannot allocate temp picture, check pix fmt");
    }
    ff::sws_scale(owner.Scaler, frame->data, frame->linesize, 0, frame->height, scaled->data,
                  scaled->linesize);
    scaled->interlaced_frame = frame->interlaced_frame;
    scaled->top_field_first = frame->top_field_first;
    picture = scaled;
  }
  const AVCodecContext* videoDefaults = OptionContexts.CodecDefaults[AVMEDIA_TYPE_VIDEO];
  if (videoDefaults &&
      (videoDefaults->flags & (AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME)) &&
      TopFieldFirst >= 0)
    picture->top_field_first = TopFieldFirst;
  picture->sample_aspect_ratio = enc->sample_aspect_ratio;
  if (IsDiscMuxer(OutputFiles[ost.FileIndex]->oformat)) DropSourceUserData(picture);

  for (int i = 0; i < copies && !StopRequested; ++i) {
    const int frameNumber = ost.FrameNumber + 1;
    AVFrame* toEncode = picture;
    toEncode->pts = owner.SyncOpts;
    toEncode->pict_type = AV_PICTURE_TYPE_NONE;
    toEncode->quality = (enc->flags & AV_CODEC_FLAG_QSCALE) ? enc->global_quality : 0;
    if (owner.ForcedKfIndex < int(owner.ForcedKfPts.size()) &&
        toEncode->pts >= owner.ForcedKfPts[owner.ForcedKfIndex]) {
      toEncode->pict_type = AV_PICTURE_TYPE_I;
      ++owner.ForcedKfIndex;
    }
    const std::int64_t hookPts = ff::av_rescale_q(toEncode->pts, enc->time_base, AV_TIME_BASE_Q);

    // The owner's output hook draws on a copy of its own.
    bool converted = false;
    if (OnVideoOutputHook && EventsAttached()) {
      if (CopyPicture(OutputHookFrame, toEncode)) {
        bool detach = false;
        converted = CallVideoHook(OnVideoOutputHook, *PreviewConverter, OutputHookFrame, hookPts,
                                  frameNumber, detach);
        if (detach) OnVideoOutputHook = nullptr;
        toEncode = OutputHookFrame;
      } else {
        Log(llError, "hook buf malloc error.");
      }
    }
    if (PreviewFlags != 0) PreviewFrame(toEncode, hookPts, frameNumber, converted);

    const std::int64_t before = VideoSize;
    EncodeFrame(run, ost, toEncode, "Video encoding failed", VideoSize);
    if (!VstatsFileName.empty() && VideoSize > before)
      WriteVideoStatistics(ost, int(VideoSize - before),
                           ff::av_get_picture_type_char(toEncode->pict_type), toEncode->quality);
    ++owner.SyncOpts;
    ++ost.FrameNumber;
  }
}

// Runs on the worker with no lock held: showing the picture may wait for the main thread,
// which may be switching the preview at that moment.
void TCustomFFmpeg::PreviewFrame(AVFrame* picture, std::int64_t pts, int frameNumber,
                                 bool converted) {
  const std::int64_t now = MonotonicMicros();
  if (!(now - LastPreviewTime > PreviewInterval)) return;
  LastPreviewTime = now;
  const bool changed = PreviewFlagsChanged.exchange(false);
  auto convert = [&]() -> bool {
    if (converted && !changed) return true;
    converted =
        PreviewConverter->ToRGB(picture->data, picture->linesize, AVPixelFormat(picture->format),
                                true, picture->height, picture->width);
    if (!converted) Log(llError, PreviewConverter->LastError());
    return converted;
  };
  const std::uint8_t asked = PreviewFlags;
  std::uint8_t flags = asked;
  if ((flags & 2) && OnPreviewBitmap && EventsAttached()) {
    if (convert()) {
      bool update = false;
      OnPreviewBitmap(this, &PreviewConverter->Bitmap(), frameNumber, pts, update);
    } else {
      flags &= ~2;
    }
  } else if (flags & 1) {
    if (!Previewer) {
      if (TPreviewSinkFactory factory = PreviewSinkFactory()) Previewer = factory();
    }
    if (!Previewer || !convert() || !Previewer->Preview(PreviewConverter->Bitmap(), pts))
      flags &= ~1;
  }
  if (!(flags & 1)) Previewer.reset();
  // Only the switches that failed here go off; one turned on meanwhile stays on.
  if (const std::uint8_t failed = asked & ~flags) PreviewFlags.fetch_and(std::uint8_t(~failed));
}

void TCustomFFmpeg::WriteVideoStatistics(TOutputStream& ost, int frameSize, char pictureType,
                                         int quality) {
  const AVCodecContext* enc = ost.EncoderContext;
  if (enc->codec_type != AVMEDIA_TYPE_VIDEO) return;
  if (!VstatsFile) {
    VstatsFile = std::fopen(VstatsFileName.c_str(), "w");
    if (!VstatsFile) throw FFmpegException("fopen fail: " + VstatsFileName);
  }
  const TOutputStream& owner = ost.Shared ? *ost.Shared : ost;
  std::fprintf(VstatsFile, "frame= %5d q= %2.1f ", ost.FrameNumber + 1,
               quality / double(FF_QP2LAMBDA));
  double t = double(owner.SyncOpts) * av_q2d(enc->time_base);
  if (t < 0.01) t = 0.01;
  const double bitrate = frameSize * 8 / av_q2d(enc->time_base) / 1000;
  const double average = double(VideoSize) * 8 / t / 1000;
  std::fprintf(VstatsFile, "f_size= %6d ", frameSize);
  std::fprintf(VstatsFile, "s_size= %8.0fkB time= %0.3f br= %7.1fkbits/s avg_br= %7.1fkbits/s ",
               double(VideoSize) / 1024, t, bitrate, average);
  std::fprintf(VstatsFile, "type= %c\n", pictureType);
}

}  // namespace tovamo
