// Re-encoding speed and memory: a generated PAL clip (720x576, 25 frames/s, stereo 48 kHz)
// converted to a DVD .mpg by the engine (SetTarget "dvd") and by a minimal direct loop on
// the same libraries with the same codecs and settings (decode, scale where needed,
// resample, encode MPEG-2 and AC-3, mux with the "dvd" muxer), measured in the same run.
//
// 1. CPU time of each conversion (user + system of a forked child, so that every thread
//    of the codecs counts), best of the rounds taken in turns, and the ratio engine / direct.
// 2. The engine job's peak memory: the child's maximum resident set, beside that of a
//    child that only has the libraries loaded.
// 3. Four jobs on four engines side by side (their own worker threads) against the same
//    four one after another: the ratio of the wall times (ideal: 1 / cores, at most 1);
//    and the same for four direct loops on plain threads, what the machine itself gives.
//
// Usage: encode_bench [--seconds N] [--rounds N] [--keep] [--only engine|direct] [folder]
//   (default 20 s, 5 rounds, the temp folder; --keep leaves the source and outputs there;
//   --only runs that one conversion in this process, for a profiler)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Engine/FFmpeg.h"
#include "Services/FFBindings.h"
#include "Services/FFOwners.h"
#include "Services/FFLoad.h"
#include "Services/FFLog.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kWidth = 720, kHeight = 576, kRate = 25;
constexpr int kSampleRate = 48000, kChannels = 2;

// ---- Small owners for the library objects --------------------------------------------

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

// Sends a frame (null: drain) and writes every packet the encoder gives.
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

// ---- The source clip ---------------------------------------------------------------------

// MPEG-2 video (a drifting gradient, a moving bar and a block of moving texture, so that
// motion search has work) and MP2 sound (two tones) in NUT.
void WriteSource(const std::string& path, int seconds) {
  AVFormatContext* raw = nullptr;
  Check(ff::avformat_alloc_output_context2(&raw, nullptr, "nut", path.c_str()), "nut muxer");
  TOutput out(raw);

  TCodec video(ff::avcodec_alloc_context3(ff::avcodec_find_encoder_by_name("mpeg2video")));
  video->width = kWidth;
  video->height = kHeight;
  video->pix_fmt = AV_PIX_FMT_YUV420P;
  video->time_base = {1, kRate};
  video->framerate = {kRate, 1};
  video->bit_rate = 9000000;
  video->gop_size = 12;
  video->max_b_frames = 2;
  video->thread_count = 2;
  video->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  // A 16:9 PAL source, as the direct loop writes: the same job on both sides, no resizing.
  video->sample_aspect_ratio = {64, 45};
  Check(ff::avcodec_open2(video.get(), video->codec, nullptr), "source video encoder");
  TCodec audio(ff::avcodec_alloc_context3(ff::avcodec_find_encoder_by_name("mp2")));
  audio->sample_rate = kSampleRate;
  audio->sample_fmt = AV_SAMPLE_FMT_S16;
  ff::av_channel_layout_default(&audio->ch_layout, kChannels);
  audio->bit_rate = 224000;
  audio->time_base = {1, kSampleRate};
  audio->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  Check(ff::avcodec_open2(audio.get(), audio->codec, nullptr), "source audio encoder");

  AVStream* vs = ff::avformat_new_stream(out.get(), nullptr);
  AVStream* as = ff::avformat_new_stream(out.get(), nullptr);
  Check(ff::avcodec_parameters_from_context(vs->codecpar, video.get()), "video parameters");
  Check(ff::avcodec_parameters_from_context(as->codecpar, audio.get()), "audio parameters");
  vs->time_base = video->time_base;
  vs->sample_aspect_ratio = video->sample_aspect_ratio;
  as->time_base = audio->time_base;
  Check(ff::avio_open2(&out->pb, path.c_str(), AVIO_FLAG_WRITE, nullptr, nullptr), path.c_str());
  Check(ff::avformat_write_header(out.get(), nullptr), "source header");

  TPacket pkt(ff::av_packet_alloc());
  TFrame picture(ff::av_frame_alloc());
  picture->width = kWidth;
  picture->height = kHeight;
  picture->format = AV_PIX_FMT_YUV420P;
  Check(ff::av_frame_get_buffer(picture.get(), 0), "picture");
  TFrame sound(ff::av_frame_alloc());
  sound->nb_samples = audio->frame_size;
  sound->format = audio->sample_fmt;
  sound->sample_rate = kSampleRate;
  ff::av_channel_layout_default(&sound->ch_layout, kChannels);
  Check(ff::av_frame_get_buffer(sound.get(), 0), "sound");

  std::uint32_t seed = 12345;
  std::int64_t samples = 0;
  for (int i = 0; i < seconds * kRate; ++i) {
    Check(ff::av_frame_make_writable(picture.get()), "picture writable");
    std::uint8_t* y = picture->data[0];
    const int bar = (i * 8) % kWidth;
    for (int row = 0; row < kHeight; ++row) {
      std::uint8_t* line = y + std::ptrdiff_t(row) * picture->linesize[0];
      for (int x = 0; x < kWidth; ++x) line[x] = std::uint8_t((x + row / 2 + i * 3) & 0xFF);
      for (int x = bar; x < std::min(bar + 48, kWidth); ++x) line[x] = 235;
    }
    // Texture that moves two pixels a frame: pseudo-random blocks.
    for (int row = 160; row < 416; ++row) {
      std::uint8_t* line = y + std::ptrdiff_t(row) * picture->linesize[0];
      for (int x = 200; x < 520; ++x) {
        std::uint32_t h =
            std::uint32_t((x + 2 * i) / 4) * 2654435761u ^ std::uint32_t(row / 4) * 40503u;
        line[x] = std::uint8_t(16 + (h >> 24) % 200);
      }
    }
    for (int plane = 1; plane < 3; ++plane)
      for (int row = 0; row < kHeight / 2; ++row)
        std::memset(picture->data[plane] + std::ptrdiff_t(row) * picture->linesize[plane],
                    128 + (plane == 1 ? 1 : -1) * ((row + i) % 64), kWidth / 2);
    picture->pts = i;
    EncodeAndWrite(video.get(), picture.get(), out.get(), vs, pkt.get());

    // Sound up to the end of this picture.
    while (samples < std::int64_t(i + 1) * kSampleRate / kRate) {
      Check(ff::av_frame_make_writable(sound.get()), "sound writable");
      auto* s16 = reinterpret_cast<std::int16_t*>(sound->data[0]);
      for (int k = 0; k < sound->nb_samples; ++k) {
        const double t = double(samples + k) / kSampleRate;
        seed = seed * 1664525u + 1013904223u;
        s16[2 * k] = std::int16_t(8000 * std::sin(2 * M_PI * 440 * t) + (seed >> 28));
        s16[2 * k + 1] = std::int16_t(8000 * std::sin(2 * M_PI * 660 * t));
      }
      sound->pts = samples;
      samples += sound->nb_samples;
      EncodeAndWrite(audio.get(), sound.get(), out.get(), as, pkt.get());
    }
  }
  EncodeAndWrite(video.get(), nullptr, out.get(), vs, pkt.get());
  EncodeAndWrite(audio.get(), nullptr, out.get(), as, pkt.get());
  Check(ff::av_write_trailer(out.get()), "source trailer");
}

// ---- The direct loop -------------------------------------------------------------------

// What the DVD target asks of the encoders and the muxer (PAL).
TCodec OpenDvdVideoEncoder() {
  TCodec enc(ff::avcodec_alloc_context3(ff::avcodec_find_encoder_by_name("mpeg2video")));
  enc->width = 720;
  enc->height = 576;
  enc->pix_fmt = AV_PIX_FMT_YUV420P;
  enc->time_base = {1, 25};
  enc->framerate = {25, 1};
  enc->sample_aspect_ratio = {64, 45};  // 16:9
  enc->gop_size = 15;
  enc->bit_rate = 6000000;
  enc->rc_max_rate = 9000000;
  enc->rc_min_rate = 0;
  enc->rc_buffer_size = 1835008;
  enc->rc_initial_buffer_occupancy = enc->rc_buffer_size * 3 / 4;
  enc->thread_count = 1;
  Check(ff::avcodec_open2(enc.get(), enc->codec, nullptr), "mpeg2video");
  return enc;
}

TCodec OpenDvdAudioEncoder() {
  TCodec enc(ff::avcodec_alloc_context3(ff::avcodec_find_encoder_by_name("ac3")));
  enc->sample_rate = 48000;
  enc->sample_fmt = AV_SAMPLE_FMT_FLTP;
  ff::av_channel_layout_default(&enc->ch_layout, 2);
  enc->bit_rate = 448000;
  enc->time_base = {1, 48000};
  enc->thread_count = 1;
  Check(ff::avcodec_open2(enc.get(), enc->codec, nullptr), "ac3");
  return enc;
}

TCodec OpenDecoder(AVStream* st) {
  TCodec dec(ff::avcodec_alloc_context3(ff::avcodec_find_decoder(st->codecpar->codec_id)));
  Check(ff::avcodec_parameters_to_context(dec.get(), st->codecpar), "decoder parameters");
  dec->pkt_timebase = st->time_base;
  dec->thread_count = 1;
  Check(ff::avcodec_open2(dec.get(), dec->codec, nullptr), "decoder");
  return dec;
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
  Check(ff::avformat_alloc_output_context2(&rawOut, nullptr, "dvd", outPath.c_str()), "dvd");
  TOutput out(rawOut);
  TCodec venc = OpenDvdVideoEncoder();
  TCodec aenc = OpenDvdAudioEncoder();
  AVStream* vs = ff::avformat_new_stream(out.get(), nullptr);
  AVStream* as = ff::avformat_new_stream(out.get(), nullptr);
  Check(ff::avcodec_parameters_from_context(vs->codecpar, venc.get()), "video parameters");
  Check(ff::avcodec_parameters_from_context(as->codecpar, aenc.get()), "audio parameters");
  vs->time_base = venc->time_base;
  vs->sample_aspect_ratio = venc->sample_aspect_ratio;
  as->time_base = aenc->time_base;
  out->packet_size = 2048;
  out->max_delay = 700000;
  ff::av_opt_set_int(out->priv_data, "muxrate", 10080000, 0);
  ff::av_opt_set_int(out->priv_data, "preload", 500000, 0);
  Check(ff::avio_open2(&out->pb, outPath.c_str(), AVIO_FLAG_WRITE, nullptr, nullptr),
        outPath.c_str());
  Check(ff::avformat_write_header(out.get(), nullptr), "dvd header");

  TPacket pkt(ff::av_packet_alloc()), encoded(ff::av_packet_alloc());
  TFrame decoded(ff::av_frame_alloc()), scaled(ff::av_frame_alloc()), chunk(ff::av_frame_alloc());
  TSws sws;
  TSwr swr;
  std::int64_t videoPts = 0, audioPts = 0;
  // Resampled sound waiting for a whole AC-3 frame, one buffer per channel.
  std::vector<float> pending[2];
  std::vector<float> converted[2];
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
      chunk->nb_samples = frameSize;
      chunk->format = aenc->sample_fmt;
      chunk->sample_rate = aenc->sample_rate;
      ff::av_channel_layout_default(&chunk->ch_layout, 2);
      Check(ff::av_frame_get_buffer(chunk.get(), 0), "sound chunk");
      const int n = std::min<int>(frameSize, int(pending[0].size()));
      for (int c = 0; c < 2; ++c) {
        auto* dst = reinterpret_cast<float*>(chunk->data[c]);
        std::copy_n(pending[c].begin(), n, dst);
        std::fill(dst + n, dst + frameSize, 0.0f);
        pending[c].erase(pending[c].begin(), pending[c].begin() + n);
      }
      chunk->pts = audioPts;
      audioPts += frameSize;
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
  Check(ff::av_write_trailer(out.get()), "dvd trailer");
  return true;
}

// ---- The engine ------------------------------------------------------------------------

bool EngineConvert(const std::string& inPath, const std::string& outPath) {
  tovamo::TFFmpeg engine(2);
  if (!engine.OpenInputFile(inPath)) {
    std::fprintf(stderr, "open failed: %s\n", engine.LastError.c_str());
    return false;
  }
  engine.SetTarget("dvd", "pal", "pal");
  if (engine.AddOutputFile(outPath, false) < 1) {
    std::fprintf(stderr, "output failed: %s\n", engine.LastError.c_str());
    return false;
  }
  engine.Start(false);
  if (!engine.Finished) std::fprintf(stderr, "engine failed: %s\n", engine.ErrorMessage.c_str());
  return engine.Finished;
}

// Engines on their own worker threads, all at once (together) or one after another, each
// waited for by its end notice.
bool EnginesOnWorkers(const std::string& inPath, const std::vector<std::string>& outPaths,
                      bool together) {
  std::mutex lock;
  std::condition_variable ended;
  int running = 0;
  bool allFinished = true;
  std::vector<std::unique_ptr<tovamo::TFFmpeg>> engines;
  for (const std::string& outPath : outPaths) {
    auto engine = std::make_unique<tovamo::TFFmpeg>(2);
    engine->OnTerminate = [&](tovamo::TCustomFFmpeg* sender) {
      std::lock_guard guard(lock);
      allFinished = allFinished && sender->Finished;
      --running;
      ended.notify_all();
    };
    if (!engine->OpenInputFile(inPath)) return false;
    engine->SetTarget("dvd", "pal", "pal");
    if (engine->AddOutputFile(outPath, false) < 1) return false;
    engines.push_back(std::move(engine));
  }
  const auto waitAll = [&] {
    std::unique_lock guard(lock);
    ended.wait(guard, [&] { return running == 0; });
  };
  for (auto& engine : engines) {
    {
      std::lock_guard guard(lock);
      ++running;
    }
    if (engine->Start(true)) engine->Resume();
    if (!together) waitAll();
  }
  waitAll();
  return allFinished;
}

// ---- Measuring in a child process ---------------------------------------------------------

struct TUsage {
  bool Ok = false;
  double CpuSeconds = 0;   // user + system of the child and all its threads
  double WallSeconds = 0;  // of the work alone, as the child measured it
  double PeakMB = 0;       // the child's maximum resident set
};

// Runs work in a forked child, so that its CPU time and peak memory are its own. The child
// sends back the wall time of the work through a pipe.
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
  usage.PeakMB = double(ru.ru_maxrss) / 1024.0;  // kilobytes on Linux
  return usage;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace tovamo;
  int seconds = 20, rounds = 5;
  bool keep = false;
  std::string only;  // "engine" or "direct": that conversion alone, in this process
  fs::path folder = fs::temp_directory_path();
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--seconds" && i + 1 < argc)
      seconds = std::max(1, std::atoi(argv[++i]));
    else if (arg == "--keep")
      keep = true;
    else if (arg == "--only" && i + 1 < argc)
      only = argv[++i];
    else if (arg == "--rounds" && i + 1 < argc)
      rounds = std::max(1, std::atoi(argv[++i]));
    else
      folder = arg;
  }
  if (!FFLoader().LoadLibs(kAllLibraries)) {
    std::fprintf(stderr, "%s\n", FFLoader().LastErrorText().c_str());
    return 1;
  }
  DefaultLogger()->SetLogLevel(llQuiet);

  const std::string source = (folder / "tovamo-encode-bench-source.nut").string();
  const std::string engineOut = (folder / "tovamo-encode-bench-engine.mpg").string();
  const std::string directOut = (folder / "tovamo-encode-bench-direct.mpg").string();
  std::vector<std::string> parallelOuts;
  for (int i = 0; i < 4; ++i)
    parallelOuts.push_back(
        (folder / ("tovamo-encode-bench-" + std::to_string(i) + ".mpg")).string());

  double load = 0;
  getloadavg(&load, 1);
  std::printf(
      "encode_bench: %d s of 720x576 at 25 frames/s with stereo 48 kHz to a DVD .mpg; %u "
      "cores, load average %.2f at the start\n",
      seconds, std::thread::hardware_concurrency(), load);
  if (!only.empty()) {
    // For a profiler: the source is kept between such runs, the conversion runs here.
    if (!fs::exists(source)) WriteSource(source, seconds);
    const bool ok = only == "engine" ? EngineConvert(source, engineOut)
                                     : only == "direct" && DirectConvert(source, directOut);
    return ok ? 0 : 1;
  }
  if (!InChild([&] {
         WriteSource(source, seconds);
         return true;
       }).Ok) {
    std::fprintf(stderr, "cannot write %s\n", source.c_str());
    return 1;
  }

  // 1 and 2: CPU time, in turns, best of the rounds; the engine's peak memory.
  const TUsage idle = InChild([] { return true; });
  // The two run back to back, in alternating order, so that each round's pair sees the
  // same machine; on a shared machine the median of the rounds' ratios is the steadier
  // figure, the best times the other.
  double engineCpu = 1e9, directCpu = 1e9, enginePeak = 0, directPeak = 0;
  std::vector<double> ratios;
  for (int round = 0; round < rounds; ++round) {
    TUsage direct, engine;
    if (round % 2 == 0) {
      direct = InChild([&] { return DirectConvert(source, directOut); });
      engine = InChild([&] { return EngineConvert(source, engineOut); });
    } else {
      engine = InChild([&] { return EngineConvert(source, engineOut); });
      direct = InChild([&] { return DirectConvert(source, directOut); });
    }
    if (!direct.Ok || !engine.Ok) {
      std::fprintf(stderr, "a conversion failed\n");
      return 1;
    }
    std::printf("  round %d: engine %.3f s CPU, direct %.3f s CPU, ratio %.3f\n", round + 1,
                engine.CpuSeconds, direct.CpuSeconds, engine.CpuSeconds / direct.CpuSeconds);
    ratios.push_back(engine.CpuSeconds / direct.CpuSeconds);
    directCpu = std::min(directCpu, direct.CpuSeconds);
    engineCpu = std::min(engineCpu, engine.CpuSeconds);
    enginePeak = std::max(enginePeak, engine.PeakMB);
    directPeak = std::max(directPeak, direct.PeakMB);
  }
  std::sort(ratios.begin(), ratios.end());
  const double median = ratios.size() % 2
                            ? ratios[ratios.size() / 2]
                            : (ratios[ratios.size() / 2 - 1] + ratios[ratios.size() / 2]) / 2;
  std::printf(
      "CPU time: engine %.3f s, direct loop %.3f s (best of %d); ratio engine / direct: median "
      "%.3f, of the best times %.3f (goal 1.03 or better)\n",
      engineCpu, directCpu, rounds, median, engineCpu / directCpu);
  std::printf("outputs: engine %.2f MB, direct loop %.2f MB\n",
              double(fs::file_size(engineOut)) / 1e6, double(fs::file_size(directOut)) / 1e6);
  std::printf(
      "peak memory: engine job %.1f MB (goal below 80 MB), direct loop %.1f MB, a process "
      "with only the libraries loaded %.1f MB\n",
      enginePeak, directPeak, idle.PeakMB);

  // 3: four jobs side by side against one after another, best of three each; and the same
  // for the direct loop on plain threads, which tells what this machine's cores give to
  // such work at all (shared caches, a busy host) apart from anything the engine does.
  const auto sideBySide = [&](const char* what, const std::function<bool()>& oneByOne,
                              const std::function<bool()>& together) {
    double serial = 1e9, parallel = 1e9, serialCpu = 0, parallelCpu = 0;
    for (int round = 0; round < 3; ++round) {
      const TUsage s = InChild(oneByOne);
      const TUsage p = InChild(together);
      if (!s.Ok || !p.Ok) {
        std::fprintf(stderr, "the four jobs failed\n");
        std::exit(1);
      }
      if (s.WallSeconds < serial) serial = s.WallSeconds, serialCpu = s.CpuSeconds;
      if (p.WallSeconds < parallel) parallel = p.WallSeconds, parallelCpu = p.CpuSeconds;
    }
    std::printf(
        "four %s: one after another %.2f s, side by side %.2f s, ratio %.3f; CPU %.2f s "
        "side by side against %.2f s\n",
        what, serial, parallel, parallel / serial, parallelCpu, serialCpu);
    return parallel / serial;
  };
  const double engines = sideBySide(
      "engine jobs", [&] { return EnginesOnWorkers(source, parallelOuts, false); },
      [&] { return EnginesOnWorkers(source, parallelOuts, true); });
  const double loops = sideBySide(
      "direct loops",
      [&] {
        for (const std::string& out : parallelOuts)
          if (!DirectConvert(source, out)) return false;
        return true;
      },
      [&] {
        std::vector<std::thread> threads;
        for (const std::string& out : parallelOuts)
          threads.emplace_back([&source, out] { DirectConvert(source, out); });
        for (auto& t : threads) t.join();
        return true;
      });
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const double ideal = std::max(1.0 / cores, 0.25);
  std::printf(
      "side by side: engines %.3f, direct loops %.3f (ideal %.3f on %u cores, goal %.3f "
      "or better; engines / direct loops %.3f)\n",
      engines, loops, ideal, cores, ideal * 1.05, engines / loops);

  if (keep) return 0;
  for (const auto& f : {source, engineOut, directOut}) fs::remove(f);
  for (const auto& f : parallelOuts) fs::remove(f);
  return 0;
}
