// The 720p phone profile's speed: a generated 720p H.264 + AAC clip (fixturegen
// --bench-clip) converted with the profile "H264 FOR PHONES(1280*720)" by the encoder
// component, exactly as the window sets the task up, and by a minimal direct loop on the same
// libraries with the same settings (decode, libx264 High at 4 Mbit/s, resample, AAC-LC
// 192 kbit/s 48 kHz stereo, MP4 with the index at the front), in the same run.
//
// CPU time (user + system of a forked child, every codec thread counted) and wall time of
// each, best of the rounds taken in turns, and the ratios engine / direct (goal 1.03 or
// better). Both sides give libx264 and the decoders one thread, so that they do the same
// work: libx264 on several threads decides differently from run to run.
//
// Usage: h264_bench [--seconds N] [--rounds N] [--keep] [folder]
//   (default 20 s, 3 rounds, the temp folder; --keep leaves the source and outputs there)
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "Components/FFEncode.h"
#include "H264Profile.h"
#include "ProfileOptions.h"
#include "Services/FFBindings.h"
#include "Services/FFLoad.h"
#include "Services/FFLog.h"
#include "Services/FFOwners.h"
#include "Services/MainThread.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace tovamo::owned;

[[noreturn]] void Fail(const char* what, int err = 0) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  if (err < 0) ff::av_strerror(err, text, sizeof text);
  std::fprintf(stderr, "%s%s%s\n", what, err < 0 ? ": " : "", text);
  std::_Exit(2);
}

void Check(int ret, const char* what) {
  if (ret < 0) Fail(what, ret);
}

void EncodeAndWrite(AVCodecContext* enc, AVFrame* frame, AVFormatContext* out, AVStream* st,
                    AVPacket* pkt) {
  Check(ff::avcodec_send_frame(enc, frame), "avcodec_send_frame");
  for (;;) {
    const int ret = ff::avcodec_receive_packet(enc, pkt);
    if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) return;
    Check(ret, "avcodec_receive_packet");
    ff::av_packet_rescale_ts(pkt, enc->time_base, st->time_base);
    pkt->stream_index = st->index;
    Check(ff::av_interleaved_write_frame(out, pkt), "av_interleaved_write_frame");
  }
}

// ---- The direct loop -------------------------------------------------------------------

TCodec OpenDecoder(AVStream* st) {
  TCodec dec(ff::avcodec_alloc_context3(ff::avcodec_find_decoder(st->codecpar->codec_id)));
  Check(ff::avcodec_parameters_to_context(dec.get(), st->codecpar), "decoder parameters");
  dec->pkt_timebase = st->time_base;
  dec->thread_count = 1;
  Check(ff::avcodec_open2(dec.get(), dec->codec, nullptr), "decoder");
  return dec;
}

// What the profile asks of libx264: 1280x720 High at 4 Mbit/s, the input's 25 frames/s.
TCodec OpenVideoEncoder(const AVStream* in) {
  TCodec enc(ff::avcodec_alloc_context3(ff::avcodec_find_encoder_by_name("libx264")));
  enc->width = 1280;
  enc->height = 720;
  enc->pix_fmt = AV_PIX_FMT_YUV420P;
  const AVRational rate = in->r_frame_rate;
  enc->time_base = {rate.den, rate.num};
  enc->framerate = rate;
  enc->sample_aspect_ratio = {1, 1};
  enc->bit_rate = 4000000;
  enc->thread_count = 1;
  enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  AVDictionary* options = nullptr;
  ff::av_dict_set(&options, "profile", "high", 0);
  const int ret = ff::avcodec_open2(enc.get(), enc->codec, &options);
  ff::av_dict_free(&options);
  Check(ret, "libx264");
  return enc;
}

TCodec OpenAudioEncoder() {
  TCodec enc(ff::avcodec_alloc_context3(ff::avcodec_find_encoder_by_name("aac")));
  enc->sample_rate = 48000;
  enc->sample_fmt = AV_SAMPLE_FMT_FLTP;
  ff::av_channel_layout_default(&enc->ch_layout, 2);
  enc->bit_rate = 192000;
  enc->time_base = {1, 48000};
  enc->thread_count = 1;
  enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  Check(ff::avcodec_open2(enc.get(), enc->codec, nullptr), "aac");
  return enc;
}

bool DirectConvert(const std::string& inPath, const std::string& outPath) {
  AVFormatContext* rawIn = nullptr;
  Check(ff::avformat_open_input(&rawIn, inPath.c_str(), nullptr, nullptr), inPath.c_str());
  TInput in(rawIn);
  Check(ff::avformat_find_stream_info(in.get(), nullptr), "stream info");
  const int vi = ff::av_find_best_stream(in.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  const int ai = ff::av_find_best_stream(in.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  if (vi < 0 || ai < 0) Fail("source streams");
  TCodec vdec = OpenDecoder(in->streams[vi]);
  TCodec adec = OpenDecoder(in->streams[ai]);

  AVFormatContext* rawOut = nullptr;
  Check(ff::avformat_alloc_output_context2(&rawOut, nullptr, "mp4", outPath.c_str()), "mp4");
  TOutput out(rawOut);
  TCodec venc = OpenVideoEncoder(in->streams[vi]);
  TCodec aenc = OpenAudioEncoder();
  AVStream* vs = ff::avformat_new_stream(out.get(), nullptr);
  AVStream* as = ff::avformat_new_stream(out.get(), nullptr);
  Check(ff::avcodec_parameters_from_context(vs->codecpar, venc.get()), "video parameters");
  Check(ff::avcodec_parameters_from_context(as->codecpar, aenc.get()), "audio parameters");
  vs->time_base = venc->time_base;
  vs->sample_aspect_ratio = venc->sample_aspect_ratio;
  as->time_base = aenc->time_base;
  Check(ff::avio_open2(&out->pb, outPath.c_str(), AVIO_FLAG_WRITE, nullptr, nullptr),
        outPath.c_str());
  AVDictionary* muxerOptions = nullptr;
  ff::av_dict_set(&muxerOptions, "movflags", "+faststart", 0);
  const int header = ff::avformat_write_header(out.get(), &muxerOptions);
  ff::av_dict_free(&muxerOptions);
  Check(header, "mp4 header");

  TPacket pkt(ff::av_packet_alloc()), encoded(ff::av_packet_alloc());
  TFrame decoded(ff::av_frame_alloc()), scaled(ff::av_frame_alloc()), chunk(ff::av_frame_alloc());
  TSws sws;
  TSwr swr;
  std::int64_t videoPts = 0, audioPts = 0;
  std::vector<float> pending[2], converted[2];
  const int frameSize = aenc->frame_size;

  const auto videoOut = [&](AVFrame* frame) {
    AVFrame* picture = frame;
    if (frame->width != venc->width || frame->height != venc->height ||
        frame->format != venc->pix_fmt) {
      sws.reset(ff::sws_getCachedContext(sws.release(), frame->width, frame->height,
                                         AVPixelFormat(frame->format), venc->width, venc->height,
                                         venc->pix_fmt, SWS_BICUBIC, nullptr, nullptr, nullptr));
      if (!scaled->data[0]) {
        scaled->width = venc->width;
        scaled->height = venc->height;
        scaled->format = venc->pix_fmt;
        Check(ff::av_frame_get_buffer(scaled.get(), 0), "scaled picture");
      }
      Check(ff::av_frame_make_writable(scaled.get()), "scaled writable");
      ff::sws_scale(sws.get(), frame->data, frame->linesize, 0, frame->height, scaled->data,
                    scaled->linesize);
      picture = scaled.get();
    }
    picture->pts = videoPts++;
    picture->pict_type = AV_PICTURE_TYPE_NONE;
    picture->sample_aspect_ratio = venc->sample_aspect_ratio;
    EncodeAndWrite(venc.get(), picture, out.get(), vs, encoded.get());
  };
  const auto sendChunks = [&](bool last) {
    while (int(pending[0].size()) >= frameSize || (last && !pending[0].empty())) {
      ff::av_frame_unref(chunk.get());
      const int n = std::min<int>(frameSize, int(pending[0].size()));
      chunk->nb_samples = n;
      chunk->format = aenc->sample_fmt;
      chunk->sample_rate = aenc->sample_rate;
      ff::av_channel_layout_default(&chunk->ch_layout, 2);
      Check(ff::av_frame_get_buffer(chunk.get(), 0), "sound chunk");
      for (int c = 0; c < 2; ++c) {
        std::copy_n(pending[c].begin(), n, reinterpret_cast<float*>(chunk->data[c]));
        pending[c].erase(pending[c].begin(), pending[c].begin() + n);
      }
      chunk->pts = audioPts;
      audioPts += n;
      EncodeAndWrite(aenc.get(), chunk.get(), out.get(), as, encoded.get());
    }
  };
  const auto audioOut = [&](AVFrame* frame) {
    if (!swr) {
      SwrContext* s = nullptr;
      Check(ff::swr_alloc_set_opts2(&s, &aenc->ch_layout, aenc->sample_fmt, aenc->sample_rate,
                                    &frame->ch_layout, AVSampleFormat(frame->format),
                                    frame->sample_rate, 0, nullptr),
            "resampler");
      swr.reset(s);
      Check(ff::swr_init(swr.get()), "resampler init");
    }
    const int room =
        int(std::int64_t(frame->nb_samples) * aenc->sample_rate / frame->sample_rate) + 256;
    for (auto& c : converted) c.resize(std::size_t(room));
    std::uint8_t* dst[2] = {reinterpret_cast<std::uint8_t*>(converted[0].data()),
                            reinterpret_cast<std::uint8_t*>(converted[1].data())};
    const int got =
        ff::swr_convert(swr.get(), dst, room,
                        const_cast<const std::uint8_t**>(frame->extended_data), frame->nb_samples);
    Check(got, "swr_convert");
    for (int c = 0; c < 2; ++c)
      pending[c].insert(pending[c].end(), converted[c].begin(), converted[c].begin() + got);
    sendChunks(false);
  };
  const auto decode = [&](AVCodecContext* dec, const AVPacket* packet, bool video) {
    const int sent = ff::avcodec_send_packet(dec, packet);
    if (sent < 0 && sent != AVERROR_EOF) return;
    while (ff::avcodec_receive_frame(dec, decoded.get()) >= 0) {
      video ? videoOut(decoded.get()) : audioOut(decoded.get());
      ff::av_frame_unref(decoded.get());
    }
  };

  while (ff::av_read_frame(in.get(), pkt.get()) >= 0) {
    if (pkt->stream_index == vi)
      decode(vdec.get(), pkt.get(), true);
    else if (pkt->stream_index == ai)
      decode(adec.get(), pkt.get(), false);
    ff::av_packet_unref(pkt.get());
  }
  decode(vdec.get(), nullptr, true);
  decode(adec.get(), nullptr, false);
  sendChunks(true);
  EncodeAndWrite(venc.get(), nullptr, out.get(), vs, encoded.get());
  EncodeAndWrite(aenc.get(), nullptr, out.get(), as, encoded.get());
  Check(ff::av_write_trailer(out.get()), "mp4 trailer");
  return true;
}

// ---- The product ------------------------------------------------------------------------

// One task of the encoder component with the profile's options, as the window prepares it,
// on a worker thread; this thread serves the main-thread queue meanwhile.
bool ProductConvert(const std::string& inPath, const std::string& outPath) {
  using namespace tovamo;
  SetMainThread();
  TFFEncoder encoder;
  std::atomic<bool> ended{false}, finished{false};
  encoder.OnTerminate = [&](TFFEncoder*, const TTerminateInfo& info) {
    if (info.TaskIndex >= 0) finished = info.Finished;
    if (info.TaskIndex < 0) ended = true;
  };
  TInputOptions in;
  in.ExtraOptions = "threads=1\n";
  const int task = encoder.AddTask(inPath, &in);
  if (task < 0) {
    std::fprintf(stderr, "open failed: %s\n", encoder.LastError().c_str());
    return false;
  }
  TOutputOptions options = ProfileToOutputOptions(ProfileValuesOf(kPhone720FormatString),
                                                  kPhone720ProfileName, "Auto", "", inPath);
  options.FileName = outPath;
  options.ExtraOptions += "threads=1\n";
  if (!encoder.SetOutputFile(task, outPath, &options)) {
    std::fprintf(stderr, "output failed: %s\n", encoder.LastError().c_str());
    return false;
  }
  encoder.StartTask(1);
  while (!ended) WaitAndServeMainThreadQueue(20);
  return finished;
}

// ---- Measuring -------------------------------------------------------------------------

struct TUsage {
  bool Ok = false;
  double CpuSeconds = 0;
  double WallSeconds = 0;
};

// Runs work in a forked child, so that its CPU time is its own; the child sends back the
// wall time of the work through a pipe.
TUsage InChild(const std::function<bool()>& work) {
  int fds[2];
  if (pipe(fds) != 0) Fail("pipe");
  std::fflush(stdout);
  std::fflush(stderr);
  const pid_t pid = fork();
  if (pid < 0) Fail("fork");
  if (pid == 0) {
    close(fds[0]);
    const auto start = Clock::now();
    const bool ok = work();
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    if (write(fds[1], &wall, sizeof wall) != sizeof wall) std::_Exit(3);
    std::_Exit(ok ? 0 : 1);
  }
  close(fds[1]);
  TUsage usage;
  if (read(fds[0], &usage.WallSeconds, sizeof usage.WallSeconds) != sizeof usage.WallSeconds)
    usage.WallSeconds = 0;
  close(fds[0]);
  int status = 0;
  rusage ru{};
  if (wait4(pid, &status, 0, &ru) != pid) Fail("wait4");
  usage.Ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  usage.CpuSeconds = double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
                     double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
  return usage;
}

bool Spawn(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return false;
  int status = 0;
  return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace tovamo;
  int seconds = 20, rounds = 3;
  bool keep = false;
  fs::path folder = fs::temp_directory_path();
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--seconds" && i + 1 < argc)
      seconds = std::max(1, std::atoi(argv[++i]));
    else if (arg == "--rounds" && i + 1 < argc)
      rounds = std::max(1, std::atoi(argv[++i]));
    else if (arg == "--keep")
      keep = true;
    else
      folder = arg;
  }
  if (!FFLoader().LoadLibs(kAllLibraries)) {
    std::fprintf(stderr, "%s\n", FFLoader().LastErrorText().c_str());
    return 1;
  }
  DefaultLogger()->SetLogLevel(llQuiet);
  if (!HasH264Encoder()) {
    std::fprintf(stderr, "h264_bench: the media libraries have no H.264 encoder (libx264)\n");
    return 1;
  }

  const std::string source = (folder / "tovamo-h264-bench-source.mp4").string();
  const std::string productOut = (folder / "tovamo-h264-bench-product.mp4").string();
  const std::string directOut = (folder / "tovamo-h264-bench-direct.mp4").string();
  double load = 0;
  getloadavg(&load, 1);
  std::printf(
      "h264_bench: %d s of 1280x720 H.264 + AAC at 25 frames/s to \"%s\"; %u cores, load "
      "average %.2f at the start\n",
      seconds, kPhone720ProfileName, std::thread::hardware_concurrency(), load);
  if (!Spawn({TOVAMO_FIXTUREGEN, "--bench-clip", source, std::to_string(seconds), "1280x720"})) {
    std::fprintf(stderr, "cannot write %s\n", source.c_str());
    return 1;
  }

  // In turns, so that each round's pair sees the same machine; the median of the rounds'
  // ratios is the steadier figure on a shared machine, the best times the other.
  double productCpu = 1e9, directCpu = 1e9, productWall = 1e9, directWall = 1e9;
  std::vector<double> cpuRatios, wallRatios;
  for (int round = 0; round < rounds; ++round) {
    TUsage direct, product;
    const auto runDirect = [&] {
      direct = InChild([&] { return DirectConvert(source, directOut); });
    };
    const auto runProduct = [&] {
      product = InChild([&] { return ProductConvert(source, productOut); });
    };
    if (round % 2 == 0) {
      runDirect();
      runProduct();
    } else {
      runProduct();
      runDirect();
    }
    if (!direct.Ok || !product.Ok) {
      std::fprintf(stderr, "a conversion failed\n");
      return 1;
    }
    std::printf("  round %d: product %.2f s CPU %.2f s wall, direct %.2f s CPU %.2f s wall\n",
                round + 1, product.CpuSeconds, product.WallSeconds, direct.CpuSeconds,
                direct.WallSeconds);
    cpuRatios.push_back(product.CpuSeconds / direct.CpuSeconds);
    wallRatios.push_back(product.WallSeconds / direct.WallSeconds);
    productCpu = std::min(productCpu, product.CpuSeconds);
    directCpu = std::min(directCpu, direct.CpuSeconds);
    productWall = std::min(productWall, product.WallSeconds);
    directWall = std::min(directWall, direct.WallSeconds);
  }
  std::printf(
      "CPU: product %.2f s, direct loop %.2f s (best of %d); ratio median %.3f, of the best "
      "%.3f\n",
      productCpu, directCpu, rounds, Median(cpuRatios), productCpu / directCpu);
  std::printf(
      "wall: product %.2f s, direct loop %.2f s (best of %d); ratio median %.3f, of the best "
      "%.3f (goal 1.03 or better for both)\n",
      productWall, directWall, rounds, Median(wallRatios), productWall / directWall);
  std::printf("outputs: product %.2f MB, direct loop %.2f MB\n",
              double(fs::file_size(productOut)) / 1e6, double(fs::file_size(directOut)) / 1e6);
  if (!keep)
    for (const auto& f : {source, productOut, directOut}) fs::remove(f);
  return 0;
}
