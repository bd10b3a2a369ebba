#include "Scenes.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace fixturegen {
namespace {

// A fixed-seed hash of lattice points and frame numbers: the same clip every run.
uint32_t Hash(uint32_t x, uint32_t y, uint32_t seed) {
  uint32_t h = x * 0x8da6b343u ^ y * 0xd8163841u ^ seed * 0xcb1ab31fu;
  h ^= h >> 15;
  h *= 0x2c1b3c6du;
  h ^= h >> 12;
  h *= 0x297a2d39u;
  return h ^ (h >> 15);
}

double Unit(uint32_t x, uint32_t y, uint32_t seed) {
  return Hash(x, y, seed) / 4294967296.0;
}

// Value noise: random values on a lattice of `period` pixels, smoothly interpolated.
double ValueNoise(double x, double y, double period, uint32_t seed) {
  const double fx = x / period, fy = y / period;
  const double x0 = std::floor(fx), y0 = std::floor(fy);
  const double tx = fx - x0, ty = fy - y0;
  const double sx = tx * tx * (3 - 2 * tx), sy = ty * ty * (3 - 2 * ty);
  const auto ix = static_cast<uint32_t>(static_cast<int64_t>(x0) & 0xffffff);
  const auto iy = static_cast<uint32_t>(static_cast<int64_t>(y0) & 0xffffff);
  const double a = Unit(ix, iy, seed), b = Unit(ix + 1, iy, seed);
  const double c = Unit(ix, iy + 1, seed), d = Unit(ix + 1, iy + 1, seed);
  return (a + (b - a) * sx) + ((c + (d - c) * sx) - (a + (b - a) * sx)) * sy;
}

// Octaves from coarse to fine, each half as wide and a little weaker: the 1/f falloff of
// natural images. Returns about 0..1.
double Fractal(double x, double y, double coarsest, int octaves, uint32_t seed) {
  double sum = 0, weight = 1, total = 0, period = coarsest;
  for (int o = 0; o < octaves; ++o) {
    sum += weight * ValueNoise(x, y, period, seed + o * 7919);
    total += weight;
    weight *= 0.7;
    period /= 2;
  }
  return sum / total;
}

uint8_t Clip(double v, double lo, double hi) {
  return static_cast<uint8_t>(std::lrint(std::clamp(v, lo, hi)));
}

struct TPlanes {
  int Width = 0, Height = 0;
  std::vector<float> Y, U, V;  // full resolution, video range values
};

// The "photograph": fractal ground, rough in places, with hard-edged objects (blocks and discs of
// their own colour and texture, as buildings, leaves or stones give) over it.
TPlanes MakeTexture(int width, int height) {
  TPlanes t;
  t.Width = width;
  t.Height = height;
  const std::size_t size = std::size_t(width) * height;
  t.Y.resize(size);
  t.U.resize(size);
  t.V.resize(size);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const std::size_t i = std::size_t(y) * width + x;
      // Fine texture (foliage, gravel, fabric) in some regions, smooth ones (sky) between.
      const double rough = std::clamp(3 * Fractal(x, y, 300, 2, 4) - 0.9, 0.0, 1.0);
      const double detail = Fractal(x, y, 4, 3, 5) - 0.5;
      t.Y[i] = float(30 + 170 * Fractal(x, y, 256, 8, 1) + 180 * rough * detail);
      t.U[i] = float(128 + 60 * (Fractal(x, y, 384, 3, 2) - 0.5));
      t.V[i] = float(128 + 70 * (Fractal(x, y, 384, 3, 3) - 0.5));
    }
  for (uint32_t n = 0; n < 90; ++n) {
    const int cx = int(Unit(n, 0, 11) * width), cy = int(Unit(n, 1, 11) * height);
    const int rx = 12 + int(Unit(n, 2, 11) * 90), ry = 12 + int(Unit(n, 3, 11) * 90);
    const bool disc = Unit(n, 4, 11) < 0.4;
    const double luma = 25 + 200 * Unit(n, 5, 11);
    const double u = 128 + 90 * (Unit(n, 6, 11) - 0.5), v = 128 + 90 * (Unit(n, 7, 11) - 0.5);
    for (int y = std::max(0, cy - ry); y < std::min(height, cy + ry); ++y)
      for (int x = std::max(0, cx - rx); x < std::min(width, cx + rx); ++x) {
        const double dx = double(x - cx) / rx, dy = double(y - cy) / ry;
        if (disc && dx * dx + dy * dy > 1) continue;
        const std::size_t i = std::size_t(y) * width + x;
        const double grain = Fractal(x, y, 16, 3, 100 + n) - 0.5;
        t.Y[i] = float(luma + 50 * grain);
        t.U[i] = float(u);
        t.V[i] = float(v);
      }
  }
  return t;
}

float Sample(const std::vector<float>& plane, int width, int height, double x, double y) {
  x = std::clamp(x, 0.0, width - 1.001);
  y = std::clamp(y, 0.0, height - 1.001);
  const int x0 = int(x), y0 = int(y);
  const double tx = x - x0, ty = y - y0;
  const float* row = &plane[std::size_t(y0) * width + x0];
  const double top = row[0] + (row[1] - row[0]) * tx;
  const double bottom = row[width] + (row[width + 1] - row[width]) * tx;
  return float(top + (bottom - top) * ty);
}

uint8_t* Row(AVFrame* frame, int plane, int y) {
  return frame->data[plane] + std::ptrdiff_t(y) * frame->linesize[plane];
}

// A camera moving slowly across the texture while zooming in by a third.
void DrawPanZoom(AVFrame* frame, int index, int frameCount) {
  const int w = frame->width, h = frame->height;
  static TPlanes texture;
  if (texture.Width != 2 * w || texture.Height != 2 * h) texture = MakeTexture(2 * w, 2 * h);
  const double t = frameCount > 1 ? double(index) / (frameCount - 1) : 0;
  const double zoom = 0.8 + 0.3 * t;  // picture pixels per texture pixel
  const double cx = texture.Width * (0.35 + 0.3 * t), cy = texture.Height * (0.4 + 0.2 * t);
  for (int y = 0; y < h; ++y) {
    uint8_t* row = Row(frame, 0, y);
    for (int x = 0; x < w; ++x)
      row[x] = Clip(Sample(texture.Y, texture.Width, texture.Height, cx + (x - w / 2) / zoom,
                           cy + (y - h / 2) / zoom),
                    16, 235);
  }
  for (int y = 0; y < (h + 1) / 2; ++y) {
    uint8_t* u = Row(frame, 1, y);
    uint8_t* v = Row(frame, 2, y);
    for (int x = 0; x < (w + 1) / 2; ++x) {
      const double tx = cx + (2 * x + 0.5 - w / 2) / zoom, ty = cy + (2 * y + 0.5 - h / 2) / zoom;
      u[x] = Clip(Sample(texture.U, texture.Width, texture.Height, tx, ty), 16, 240);
      v[x] = Clip(Sample(texture.V, texture.Width, texture.Height, tx, ty), 16, 240);
    }
  }
}

// Roughly Gaussian noise (a sum of four uniform values), new in every picture.
double GrainAt(int x, int y, int index, uint32_t plane) {
  const uint32_t h1 = Hash(uint32_t(x), uint32_t(y), uint32_t(index) * 3 + plane);
  const uint32_t h2 = Hash(uint32_t(y), uint32_t(x), uint32_t(index) * 3 + plane + 0x5bd1e995u);
  const double sum = (h1 & 0xffff) + (h1 >> 16) + (h2 & 0xffff) + (h2 >> 16);
  return (sum / 65536.0 - 2.0) * 1.732;  // unit variance
}

// Soft light over a few slowly drifting blobs, under film grain.
void DrawGrain(AVFrame* frame, int index, int frameCount) {
  const int w = frame->width, h = frame->height;
  const double t = frameCount > 1 ? double(index) / (frameCount - 1) : 0;
  const double blobs[3][3] = {
      {0.3 + 0.2 * t, 0.4, 0.18}, {0.7 - 0.1 * t, 0.6 - 0.1 * t, 0.25}, {0.5, 0.2 + 0.3 * t, 0.12}};
  for (int y = 0; y < h; ++y) {
    uint8_t* row = Row(frame, 0, y);
    for (int x = 0; x < w; ++x) {
      const double fx = double(x) / w, fy = double(y) / h;
      double light = 60 + 80 * fx + 30 * fy;
      for (const auto& b : blobs) {
        const double dx = (fx - b[0]) / b[2], dy = (fy - b[1]) / b[2];
        light += 70 * std::exp(-(dx * dx + dy * dy));
      }
      row[x] = Clip(light + 9 * GrainAt(x, y, index, 0), 16, 235);
    }
  }
  for (int y = 0; y < (h + 1) / 2; ++y) {
    uint8_t* u = Row(frame, 1, y);
    uint8_t* v = Row(frame, 2, y);
    for (int x = 0; x < (w + 1) / 2; ++x) {
      const double fx = 2.0 * x / w, fy = 2.0 * y / h;
      u[x] = Clip(118 + 20 * fy + 3 * GrainAt(x, y, index, 1), 16, 240);
      v[x] = Clip(140 - 15 * fx + 3 * GrainAt(x, y, index, 2), 16, 240);
    }
  }
}

// Five-by-seven glyphs, a row a byte, the top bit of five the left column.
const uint8_t* Glyph(char c) {
  static const uint8_t kLetters[26][7] = {
      {14, 17, 17, 31, 17, 17, 17}, {30, 17, 17, 30, 17, 17, 30}, {14, 17, 16, 16, 16, 17, 14},
      {28, 18, 17, 17, 17, 18, 28}, {31, 16, 16, 30, 16, 16, 31}, {31, 16, 16, 30, 16, 16, 16},
      {14, 17, 16, 23, 17, 17, 15}, {17, 17, 17, 31, 17, 17, 17}, {14, 4, 4, 4, 4, 4, 14},
      {7, 2, 2, 2, 2, 18, 12},      {17, 18, 20, 24, 20, 18, 17}, {16, 16, 16, 16, 16, 16, 31},
      {17, 27, 21, 21, 17, 17, 17}, {17, 17, 25, 21, 19, 17, 17}, {14, 17, 17, 17, 17, 17, 14},
      {30, 17, 17, 30, 16, 16, 16}, {14, 17, 17, 17, 21, 18, 13}, {30, 17, 17, 30, 20, 18, 17},
      {15, 16, 16, 14, 1, 1, 30},   {31, 4, 4, 4, 4, 4, 4},       {17, 17, 17, 17, 17, 17, 14},
      {17, 17, 17, 17, 17, 10, 4},  {17, 17, 17, 21, 21, 21, 10}, {17, 17, 10, 4, 10, 17, 17},
      {17, 17, 17, 10, 4, 4, 4},    {31, 1, 2, 4, 8, 16, 31}};
  static const uint8_t kDigits[10][7] = {{14, 17, 19, 21, 25, 17, 14}, {4, 12, 4, 4, 4, 4, 14},
                                         {14, 17, 1, 2, 4, 8, 31},     {31, 2, 4, 2, 1, 17, 14},
                                         {2, 6, 10, 18, 31, 2, 2},     {31, 16, 30, 1, 1, 17, 14},
                                         {6, 8, 16, 30, 17, 17, 14},   {31, 1, 2, 4, 8, 8, 8},
                                         {14, 17, 17, 14, 17, 17, 14}, {14, 17, 17, 15, 1, 2, 12}};
  static const uint8_t kDot[7] = {0, 0, 0, 0, 0, 12, 12}, kComma[7] = {0, 0, 0, 0, 12, 4, 8};
  static const uint8_t kColon[7] = {0, 12, 12, 0, 12, 12, 0}, kPlus[7] = {0, 4, 4, 31, 4, 4, 0};
  static const uint8_t kMinus[7] = {0, 0, 0, 31, 0, 0, 0}, kSpace[7] = {};
  if (c >= 'A' && c <= 'Z') return kLetters[c - 'A'];
  if (c >= '0' && c <= '9') return kDigits[c - '0'];
  switch (c) {
    case '.':
      return kDot;
    case ',':
      return kComma;
    case ':':
      return kColon;
    case '+':
      return kPlus;
    case '-':
      return kMinus;
    default:
      return kSpace;
  }
}

// Draws `text` in luma with glyph pixels `scale` wide, its left edge at x (may be off the
// picture), clipped to the picture.
void DrawText(AVFrame* frame, const char* text, int x, int y, int scale, uint8_t luma) {
  const int advance = 6 * scale;
  for (int i = 0; text[i]; ++i, x += advance) {
    if (x + advance <= 0 || x >= frame->width) continue;
    const uint8_t* glyph = Glyph(text[i]);
    for (int gy = 0; gy < 7 * scale; ++gy) {
      if (y + gy < 0 || y + gy >= frame->height) continue;
      uint8_t* row = Row(frame, 0, y + gy);
      for (int gx = 0; gx < 5 * scale; ++gx)
        if (glyph[gy / scale] & (16 >> (gx / scale)) && x + gx >= 0 && x + gx < frame->width)
          row[x + gx] = luma;
    }
  }
}

// A news ticker: a band with large text running right to left, a smaller line above it,
// over a slowly shifting coloured gradient with a camera's light noise.
void DrawTicker(AVFrame* frame, int index, int /*frameCount*/) {
  const int w = frame->width, h = frame->height;
  const int bandTop = h * 3 / 4, bandBottom = bandTop + h / 8;
  for (int y = 0; y < h; ++y) {
    uint8_t* row = Row(frame, 0, y);
    const bool band = y >= bandTop && y < bandBottom;
    for (int x = 0; x < w; ++x)
      row[x] = band ? 40
                    : Clip(50 + 150.0 * (x + y + index) / (w + h) + 2 * GrainAt(x, y, index, 0), 16,
                           235);
  }
  for (int y = 0; y < (h + 1) / 2; ++y) {
    uint8_t* u = Row(frame, 1, y);
    uint8_t* v = Row(frame, 2, y);
    const bool band = 2 * y >= bandTop && 2 * y < bandBottom;
    for (int x = 0; x < (w + 1) / 2; ++x) {
      u[x] = band ? 170 : Clip(100 + 60.0 * x / w + index * 0.1, 16, 240);
      v[x] = band ? 110 : Clip(150 - 50.0 * y / h, 16, 240);
    }
  }
  static const char kNews[] =
      "+++ MARKETS: INDEX UP 0.8 PERCENT AT 12:45 +++ WEATHER: SUNNY, 23 DEGREES, WIND FROM THE "
      "WEST +++ TRAFFIC: ROAD WORKS ON THE A7 NEAR KASSEL, 4 KM QUEUE +++ SPORT: 2-1 AFTER "
      "EXTRA TIME +++";
  static const char kLine[] =
      "LIVE - TOVAMO NEWS - THE HOUR IN PICTURES - NEXT: THE BUDGET DEBATE, 19:30";
  const int scale = h / 100 + 1;
  DrawText(frame, kNews, w - index * 4, bandTop + (bandBottom - bandTop - 7 * scale) / 2, scale,
           230);
  DrawText(frame, kLine, w - index * 2, bandTop - 9 * (scale / 2 + 1), scale / 2 + 1, 225);
}

}  // namespace

void DrawScene(TScene scene, AVFrame* frame, int index, int frameCount) {
  switch (scene) {
    case TScene::PanZoom:
      DrawPanZoom(frame, index, frameCount);
      break;
    case TScene::Grain:
      DrawGrain(frame, index, frameCount);
      break;
    case TScene::Ticker:
      DrawTicker(frame, index, frameCount);
      break;
    case TScene::TestPicture:
      break;
  }
}

}  // namespace fixturegen
