// Media-layer benchmarks. Each case times the product's path and a baseline doing the
// same work directly, in the same run, and prints their ratio (1.00x = no overhead).
// Usage: media_bench [iterations-scale]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "Services/FFLoad.h"
#include "Services/FFLog.h"
#include "Services/FormatConverter.h"

namespace {

using Clock = std::chrono::steady_clock;

double TimeIt(int iterations, const std::function<void()>& body) {
  body();  // warm-up
  const auto start = Clock::now();
  for (int i = 0; i < iterations; ++i) body();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void Report(const char* name, double product, double baseline) {
  std::printf("%-44s %10.3f ms  baseline %10.3f ms  ratio %.2fx\n", name, product * 1e3,
              baseline * 1e3, baseline > 0 ? product / baseline : 0.0);
}

// A moving test picture in YUV420P.
struct TYuvPicture {
  int Width, Height;
  uint8_t* Data[4] = {};
  int LineSize[4] = {};
  TYuvPicture(int w, int h) : Width(w), Height(h) {
    ff::av_image_alloc(Data, LineSize, w, h, AV_PIX_FMT_YUV420P, 32);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) Data[0][y * LineSize[0] + x] = uint8_t(x + y);
    for (int y = 0; y < h / 2; ++y)
      for (int x = 0; x < w / 2; ++x) {
        Data[1][y * LineSize[1] + x] = uint8_t(128 + x);
        Data[2][y * LineSize[2] + x] = uint8_t(128 - y);
      }
  }
  ~TYuvPicture() { ff::av_freep(&Data[0]); }
};

void BenchToRGB(int scale) {
  const int w = 720, h = 576, n = 200 * scale;
  TYuvPicture src(w, h);
  tovamo::TFormatConverter converter;
  const double product =
      TimeIt(n, [&] { converter.ToRGB(src.Data, src.LineSize, AV_PIX_FMT_YUV420P, true, h, w); });

  uint8_t* dst[4] = {};
  int dstLine[4] = {};
  ff::av_image_alloc(dst, dstLine, w, h, AV_PIX_FMT_BGR24, 4);
  SwsContext* sws = ff::sws_getContext(w, h, AV_PIX_FMT_YUV420P, w, h, AV_PIX_FMT_BGR24,
                                       SWS_BICUBIC, nullptr, nullptr, nullptr);
  std::vector<uint8_t> bitmap(size_t(dstLine[0]) * h);
  const double baseline = TimeIt(n, [&] {
    ff::sws_scale(sws, src.Data, src.LineSize, 0, h, dst, dstLine);
    // The same bottom-up copy into a bitmap that the converter makes.
    for (int y = 0; y < h; ++y)
      std::copy_n(dst[0] + y * dstLine[0], dstLine[0], bitmap.data() + (h - 1 - y) * dstLine[0]);
  });
  ff::sws_freeContext(sws);
  ff::av_freep(&dst[0]);
  Report("ToRGB 720x576 YUV420P -> 24-bit bitmap", product, baseline);
}

void BenchLogBridge(int scale) {
  const int n = 200000 * scale;
  tovamo::TFFLogger* logger = tovamo::DefaultLogger();
  logger->TriggerEventInMainThread = false;
  logger->SetLogLevel(tovamo::llInfo);
  std::size_t total = 0;
  logger->SetOnLog(
      [&](void*, std::uint32_t, tovamo::TLogLevel, const std::string& m) { total += m.size(); });
  const double product =
      TimeIt(n, [&] { logger->Log(nullptr, tovamo::llInfo, "frame= 100 q=2.0"); });

  std::function<void(const std::string&)> direct = [&](const std::string& m) { total += m.size(); };
  const double baseline = TimeIt(n, [&] { direct(std::string("frame= 100 q=2.0")); });
  logger->SetOnLog(nullptr);
  Report("log line through the bridge (same thread)", product, baseline);
  if (total == 0) std::printf("(no lines)\n");
}

}  // namespace

int main(int argc, char** argv) {
  const int scale = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1;
  tovamo::TFFLoader& loader = tovamo::FFLoader();
  if (!loader.LoadLibs(tovamo::kAllLibraries)) {
    std::fprintf(stderr, "%s\n", loader.LastErrorText().c_str());
    return 1;
  }
  BenchToRGB(scale);
  BenchLogBridge(scale);
  return 0;
}
