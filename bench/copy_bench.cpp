// Stream copy speed: the engine copying a generated file of over 100 MB, against a minimal
// read-and-write loop on the same libraries, measured in the same run (best of three each,
// taken in turns so that both see the same disk cache).
// Usage: copy_bench [folder]   (default: the system temp folder)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "Engine/FFmpeg.h"
#include "Services/FFBindings.h"
#include "Services/FFLoad.h"
#include "Services/FFLog.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr int kWidth = 720, kHeight = 576, kFrames = 250;  // 10 s of raw 4:2:0 at 25 fps

// Writes a NUT file of raw pictures with noise for content (about 155 MB): a stream
// that no parser touches, so the copy is all reading and writing.
bool WriteSource(const std::string& path) {
  AVFormatContext* out = nullptr;
  if (ff::avformat_alloc_output_context2(&out, nullptr, "nut", path.c_str()) < 0) return false;
  AVStream* st = ff::avformat_new_stream(out, nullptr);
  st->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
  st->codecpar->codec_id = AV_CODEC_ID_RAWVIDEO;
  st->codecpar->format = AV_PIX_FMT_YUV420P;
  st->codecpar->width = kWidth;
  st->codecpar->height = kHeight;
  st->codecpar->codec_tag = 0x30323449;  // "I420"
  st->time_base = {1, 25};
  if (ff::avio_open2(&out->pb, path.c_str(), AVIO_FLAG_WRITE, nullptr, nullptr) < 0 ||
      ff::avformat_write_header(out, nullptr) < 0)
    return false;
  const int size = kWidth * kHeight * 3 / 2;
  std::mt19937 random(42);
  AVPacket* pkt = ff::av_packet_alloc();
  for (int i = 0; i < kFrames; ++i) {
    ff::av_new_packet(pkt, size);
    auto* words = reinterpret_cast<std::uint32_t*>(pkt->data);
    for (int k = 0; k < size / 4; ++k) words[k] = random();
    pkt->pts = pkt->dts = ff::av_rescale_q(i, {1, 25}, st->time_base);
    pkt->duration = ff::av_rescale_q(1, {1, 25}, st->time_base);
    pkt->flags = AV_PKT_FLAG_KEY;
    if (ff::av_interleaved_write_frame(out, pkt) < 0) return false;
  }
  ff::av_packet_free(&pkt);
  ff::av_write_trailer(out);
  ff::avio_closep(&out->pb);
  ff::avformat_free_context(out);
  return true;
}

// The baseline: open, copy the stream parameters, read and write every packet.
double DirectCopy(const std::string& in, const std::string& outPath) {
  const auto start = Clock::now();
  AVFormatContext* input = nullptr;
  ff::avformat_open_input(&input, in.c_str(), nullptr, nullptr);
  ff::avformat_find_stream_info(input, nullptr);
  AVFormatContext* out = nullptr;
  ff::avformat_alloc_output_context2(&out, nullptr, nullptr, outPath.c_str());
  for (unsigned i = 0; i < input->nb_streams; ++i) {
    AVStream* st = ff::avformat_new_stream(out, nullptr);
    ff::avcodec_parameters_copy(st->codecpar, input->streams[i]->codecpar);
    st->codecpar->codec_tag = 0;
    st->time_base = input->streams[i]->time_base;
  }
  if (ff::avio_open2(&out->pb, outPath.c_str(), AVIO_FLAG_WRITE, nullptr, nullptr) < 0 ||
      ff::avformat_write_header(out, nullptr) < 0) {
    std::fprintf(stderr, "cannot write %s\n", outPath.c_str());
    std::exit(1);
  }
  AVPacket* pkt = ff::av_packet_alloc();
  while (ff::av_read_frame(input, pkt) >= 0) {
    ff::av_packet_rescale_ts(pkt, input->streams[pkt->stream_index]->time_base,
                             out->streams[pkt->stream_index]->time_base);
    ff::av_interleaved_write_frame(out, pkt);
  }
  ff::av_packet_free(&pkt);
  ff::av_write_trailer(out);
  ff::avio_closep(&out->pb);
  ff::avformat_free_context(out);
  ff::avformat_close_input(&input);
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double EngineCopy(const std::string& in, const std::string& out) {
  const auto start = Clock::now();
  tovamo::TFFmpeg engine(2);
  engine.Verbose = -1;
  if (!engine.OpenInputFile(in)) {
    std::fprintf(stderr, "open failed: %s\n", engine.LastError.c_str());
    return 0;
  }
  engine.ParseOption("vcodec", "copy");
  engine.ParseOption("acodec", "copy");
  if (engine.AddOutputFile(out, false) < 1) {
    std::fprintf(stderr, "output failed: %s\n", engine.LastError.c_str());
    return 0;
  }
  engine.Start(false);
  if (!engine.Finished) std::fprintf(stderr, "copy failed: %s\n", engine.ErrorMessage.c_str());
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  using namespace tovamo;
  if (!FFLoader().LoadLibs(kAllLibraries)) {
    std::fprintf(stderr, "%s\n", FFLoader().LastErrorText().c_str());
    return 1;
  }
  DefaultLogger()->SetLogLevel(llQuiet);
  const fs::path folder = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path();
  const std::string source = (folder / "tovamo-copy-bench-source.nut").string();
  const std::string engineOut = (folder / "tovamo-copy-bench-engine.nut").string();
  const std::string directOut = (folder / "tovamo-copy-bench-direct.nut").string();
  if (!WriteSource(source)) {
    std::fprintf(stderr, "cannot write %s\n", source.c_str());
    return 1;
  }
  const double megabytes = double(fs::file_size(source)) / 1e6;
  double engine = 1e9, direct = 1e9;
  for (int round = 0; round < 3; ++round) {
    direct = std::min(direct, DirectCopy(source, directOut));
    engine = std::min(engine, EngineCopy(source, engineOut));
  }
  std::printf(
      "stream copy of %.0f MB: engine %.3f s, direct loop %.3f s, ratio %.3f (goal 1.05 or "
      "better)\n",
      megabytes, engine, direct, engine / direct);
  for (const auto& f : {source, engineOut, directOut}) fs::remove(f);
  return 0;
}
