#include "Services/FormatConverter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "Services/Exceptions.h"
#include "Services/FFBindings.h"
#include "support/TestSupport.h"

namespace tovamo {
namespace {

struct TRgb {
  int R, G, B;
};

// A pixel of the bitmap, widened to 8 bits per channel, per the layouts in Bitmap.h.
TRgb PixelAt(const TBitmap& bitmap, const uint8_t* row, int x) {
  auto word = [&](int i) { return row[2 * i] | (row[2 * i + 1] << 8); };
  switch (bitmap.PixelFormat()) {
    case TPixelFormat::pf8bit: {
      const int v = row[x];
      return {(v & 7) * 255 / 7, ((v >> 3) & 7) * 255 / 7, (v >> 6) * 255 / 3};
    }
    case TPixelFormat::pf15bit: {
      const int v = word(x);
      return {(v & 31) * 255 / 31, ((v >> 5) & 31) * 255 / 31, ((v >> 10) & 31) * 255 / 31};
    }
    case TPixelFormat::pf16bit: {
      const int v = word(x);
      return {(v & 31) * 255 / 31, ((v >> 5) & 63) * 255 / 63, (v >> 11) * 255 / 31};
    }
    case TPixelFormat::pf24bit:
      return {row[3 * x + 2], row[3 * x + 1], row[3 * x]};
    case TPixelFormat::pf32bit:
      return {row[4 * x + 2], row[4 * x + 1], row[4 * x]};
  }
  return {};
}

void ExpectColour(const TRgb& actual, const TRgb& expected, const std::string& where) {
  constexpr int kTolerance = 60;  // the 8-bit format keeps 2 to 3 bits per channel
  EXPECT_NEAR(actual.R, expected.R, kTolerance) << where;
  EXPECT_NEAR(actual.G, expected.G, kTolerance) << where;
  EXPECT_NEAR(actual.B, expected.B, kTolerance) << where;
}

// A planar 4:2:0 picture in its own memory, its rows padded like the library's frames
// (the scaler reads and writes whole vectors).
struct TYuvPicture {
  TYuvPicture(int width, int height) : Width(width), Height(height) {
    const int ch = (height + 1) / 2;
    LineSize[0] = FFALIGN(width, 64);
    LineSize[1] = LineSize[2] = FFALIGN((width + 1) / 2, 64);
    Planes[0].assign(size_t(LineSize[0]) * (height + 1), 0);
    Planes[1].assign(size_t(LineSize[1]) * (ch + 1), 128);
    Planes[2].assign(size_t(LineSize[2]) * (ch + 1), 128);
    for (int i = 0; i < 3; ++i) Data[i] = Planes[i].data();
  }
  // Fills display rows [top, bottom) with one colour (rows given in luma lines, even).
  void Fill(int top, int bottom, int y, int u, int v) {
    for (int row = top; row < bottom; ++row)
      std::memset(Data[0] + row * LineSize[0], y, size_t(Width));
    for (int row = top / 2; row < bottom / 2; ++row) {
      std::memset(Data[1] + row * LineSize[1], u, size_t(LineSize[1]));
      std::memset(Data[2] + row * LineSize[2], v, size_t(LineSize[2]));
    }
  }
  uint8_t Luma(int x, int y) const { return Data[0][y * LineSize[0] + x]; }

  int Width, Height;
  std::vector<uint8_t> Planes[3];
  uint8_t* Data[4] = {};
  int LineSize[4] = {};
};

constexpr TRgb kRed{255, 0, 0}, kBlue{0, 0, 255};

TEST(Bitmap, RowsAreBottomUpAndAligned) {
  TBitmap bitmap;
  bitmap.SetBitsPerPixel(24);
  bitmap.SetSize(5, 3);
  EXPECT_EQ(bitmap.RowSize(), 16);  // 15 bytes padded to 16
  EXPECT_EQ(bitmap.SizeInBytes(), 48u);
  EXPECT_EQ(bitmap.ScanLine(0), bitmap.Bits() + 32);
  EXPECT_EQ(bitmap.ScanLine(2), bitmap.Bits());
  EXPECT_THROW(bitmap.ScanLine(3), std::out_of_range);
  EXPECT_THROW(bitmap.SetSize(-1, 2), std::invalid_argument);
  EXPECT_THROW(bitmap.SetBitsPerPixel(12), std::invalid_argument);
  EXPECT_EQ(bitmap.Width(), 5);
  bitmap.SetBitsPerPixel(15);
  EXPECT_EQ(bitmap.BitsPerPixel(), 16);
  EXPECT_EQ(bitmap.RowSize(), 12);
}

struct TDepthCase {
  int Bits;
  int BitsPerPixel;
  AVPixelFormat PixFmt;
  TPixelFormat Format;
};

constexpr TDepthCase kDepths[] = {
    {8, 8, AV_PIX_FMT_BGR8, TPixelFormat::pf8bit},
    {15, 16, AV_PIX_FMT_BGR555LE, TPixelFormat::pf15bit},
    {16, 16, AV_PIX_FMT_BGR565LE, TPixelFormat::pf16bit},
    {24, 24, AV_PIX_FMT_BGR24, TPixelFormat::pf24bit},
    {32, 32, AV_PIX_FMT_BGRA, TPixelFormat::pf32bit},
};

TEST(FormatConverter, SetBitsPerPixel) {
  TFormatConverter converter;
  EXPECT_EQ(converter.BitsPerPixel(), 24);
  EXPECT_EQ(converter.PixFmt(), AV_PIX_FMT_BGR24);
  for (const auto& depth : kDepths) {
    converter.SetBitsPerPixel(depth.Bits);
    EXPECT_EQ(converter.BitsPerPixel(), depth.BitsPerPixel) << depth.Bits;
    EXPECT_EQ(converter.PixFmt(), depth.PixFmt) << depth.Bits;
    EXPECT_EQ(converter.BitmapFormat(), depth.Format) << depth.Bits;
    EXPECT_EQ(converter.Bitmap().PixelFormat(), depth.Format) << depth.Bits;
  }
  // 15 and 16 both store 16 bits, yet switching between them changes the layout.
  converter.SetBitsPerPixel(15);
  converter.SetBitsPerPixel(16);
  EXPECT_EQ(converter.PixFmt(), AV_PIX_FMT_BGR565LE);

  for (int bad : {0, 12, 48, -24}) {
    try {
      converter.SetBitsPerPixel(bad);
      ADD_FAILURE() << bad << " accepted";
    } catch (const EConverterError& e) {
      EXPECT_EQ(std::string(e.what()), "Invalid BitsPixel " + std::to_string(bad));
    }
    EXPECT_EQ(converter.PixFmt(), AV_PIX_FMT_BGR565LE);
  }
}

TEST(FormatConverter, CopyBeforeConversionIsAnAssertion) {
  TFormatConverter converter;
  EXPECT_THROW(converter.CopyToBitmap(), EAssertionFailed);
  EXPECT_THROW(converter.CopyFromBitmap(), EAssertionFailed);
  uint8_t* data[4] = {};
  int lineSize[4] = {};
  EXPECT_THROW(converter.FromRGB(data, lineSize, AV_PIX_FMT_YUV420P, 8, 8), EAssertionFailed);
  try {
    converter.CopyToBitmap();
  } catch (const EAssertionFailed& e) {
    EXPECT_NE(std::string(e.what()).find("(FFUtils)"), std::string::npos) << e.what();
  }
}

struct TBgrCase {
  int Width;
  int LineSize;
  bool InPlace;
};

TEST(FormatConverter, Bgr24PictureUsedInPlaceOnlyWhenLaidOutLikeTheBitmap) {
  test::LoadSystemLibraries();
  const TBgrCase cases[] = {
      {8, 24, true},   // even size, 24-byte rows = the bitmap's aligned rows
      {9, 28, false},  // odd width
      {8, 32, false},  // padded wider than the bitmap's rows
      {10, 32, true},  // 30 bytes padded to 32, as the bitmap pads them
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Width);
    constexpr int kHeight = 4;
    std::vector<uint8_t> pixels(size_t(c.LineSize) * kHeight);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t(i * 7 + 1);
    uint8_t* data[4] = {pixels.data()};
    int lineSize[4] = {c.LineSize};
    TFormatConverter converter;
    ASSERT_TRUE(converter.ToRGB(data, lineSize, AV_PIX_FMT_BGR24, true, kHeight, c.Width))
        << converter.LastError();
    ASSERT_NE(converter.Current(), nullptr);
    EXPECT_EQ(converter.Current()->Data[0] == pixels.data(), c.InPlace);
    EXPECT_EQ(converter.Current() == &converter.Picture(), !c.InPlace);
    EXPECT_EQ(converter.BitmapInfo().Bits, converter.Current()->Data[0]);
    EXPECT_EQ(converter.BitmapInfo().WidthBytes, converter.Current()->LineSize[0]);
    // Either way the bitmap shows the picture, top row last in memory.
    const TBitmap& bitmap = converter.Bitmap();
    ASSERT_EQ(bitmap.Width(), c.Width);
    ASSERT_EQ(bitmap.Height(), kHeight);
    for (int y = 0; y < kHeight; ++y)
      EXPECT_EQ(std::memcmp(bitmap.ScanLine(y), &pixels[size_t(y) * c.LineSize], c.Width * 3), 0)
          << "row " << y;
  }
}

TEST(FormatConverter, YuvPictureToEveryDepth) {
  test::LoadSystemLibraries();
  // Width 10: the rows of the 8, 15/16 and 24-bit bitmaps are padded, the picture's are
  // not, and the scaler's fast path (groups of 8 pixels) cannot be used. Widths 16 and 24
  // take the fast path.
  for (int width : {10, 16, 24}) {
    TYuvPicture yuv(width, 8);
    yuv.Fill(0, 4, 81, 90, 240);   // red on top
    yuv.Fill(4, 8, 41, 240, 110);  // blue below
    for (const auto& depth : kDepths) {
      SCOPED_TRACE(testing::Message() << width << " pixels wide, " << depth.Bits << " bits");
      TFormatConverter converter;
      converter.SetBitsPerPixel(depth.Bits);
      ASSERT_TRUE(converter.ToRGB(yuv.Data, yuv.LineSize, AV_PIX_FMT_YUV420P, true, 8, width))
          << converter.LastError();
      const TBitmap& bitmap = converter.Bitmap();
      ASSERT_EQ(bitmap.BitsPerPixel(), depth.BitsPerPixel);
      for (int x : {0, width - 1}) {
        ExpectColour(PixelAt(bitmap, bitmap.ScanLine(0), x), kRed, "top row");
        ExpectColour(PixelAt(bitmap, bitmap.ScanLine(7), x), kBlue, "bottom row");
        // The bottom row is the first one in memory.
        ExpectColour(PixelAt(bitmap, bitmap.Bits(), x), kBlue, "first stored row");
      }
    }
  }
}

TEST(FormatConverter, BitmapChangesGoBackIntoThePicture) {
  test::LoadSystemLibraries();
  constexpr int kWidth = 18, kHeight = 16;  // not a multiple of 8 pixels wide
  for (const auto& depth : kDepths) {
    SCOPED_TRACE(depth.Bits);
    TYuvPicture yuv(kWidth, kHeight);
    yuv.Fill(0, kHeight, 128, 128, 128);
    TFormatConverter converter;
    converter.SetBitsPerPixel(depth.Bits);
    ASSERT_TRUE(converter.ToRGB(yuv.Data, yuv.LineSize, AV_PIX_FMT_YUV420P, true, kHeight, kWidth));
    // Paint the top-left 6 x 6 white, as a hook would.
    TBitmap& bitmap = converter.Bitmap();
    const int bytes = bitmap.BitsPerPixel() / 8;
    for (int y = 0; y < 6; ++y) std::memset(bitmap.ScanLine(y), 0xFF, size_t(6 * bytes));
    converter.CopyFromBitmap();
    TYuvPicture out(kWidth, kHeight);
    ASSERT_TRUE(converter.FromRGB(out.Data, out.LineSize, AV_PIX_FMT_YUV420P, kHeight, kWidth))
        << converter.LastError();
    EXPECT_GT(out.Luma(1, 1), 200);  // painted
    for (auto [x, y] : {std::pair{12, 12}, {1, 14}, {17, 1}, {17, 15}})
      EXPECT_NEAR(out.Luma(x, y), 128, 30) << x << "," << y;
  }
}

TEST(FormatConverter, RefusesWhatItCannotConvert) {
  test::LoadSystemLibraries();
  TYuvPicture yuv(8, 8);
  TFormatConverter converter;
  for (auto [w, h] : {std::pair{0, 8}, {8, 0}, {-8, 8}}) {
    EXPECT_FALSE(converter.ToRGB(yuv.Data, yuv.LineSize, AV_PIX_FMT_YUV420P, true, h, w));
    EXPECT_EQ(converter.LastError(),
              "Invalid picture size " + std::to_string(w) + "x" + std::to_string(h));
  }
  // Formats the scaler does not know, or cannot read.
  for (AVPixelFormat bad :
       {AV_PIX_FMT_NONE, AV_PIX_FMT_NB, AVPixelFormat(int(AV_PIX_FMT_NB) + 1), AV_PIX_FMT_VAAPI}) {
    EXPECT_FALSE(converter.ToRGB(yuv.Data, yuv.LineSize, bad, true, 8, 8)) << bad;
    EXPECT_EQ(converter.LastError(), "Cannot initialize the toRGB conversion context");
    EXPECT_EQ(converter.Current(), nullptr);
  }
  EXPECT_THROW(converter.CopyToBitmap(), EAssertionFailed);

  // A failure after a good conversion forgets the good one.
  ASSERT_TRUE(converter.ToRGB(yuv.Data, yuv.LineSize, AV_PIX_FMT_YUV420P, false, 8, 8));
  TYuvPicture out(8, 8);
  for (AVPixelFormat bad :
       {AV_PIX_FMT_NONE, AVPixelFormat(int(AV_PIX_FMT_NB) + 1), AV_PIX_FMT_VAAPI}) {
    EXPECT_FALSE(converter.FromRGB(out.Data, out.LineSize, bad, 8, 8)) << bad;
    EXPECT_EQ(converter.LastError(), "Cannot initialize the fromRGB conversion context");
  }
  EXPECT_FALSE(converter.FromRGB(out.Data, out.LineSize, AV_PIX_FMT_YUV420P, 0, 8));
  EXPECT_FALSE(converter.ToRGB(yuv.Data, yuv.LineSize, AV_PIX_FMT_NONE, true, 8, 8));
  EXPECT_THROW(converter.CopyFromBitmap(), EAssertionFailed);
}

}  // namespace
}  // namespace tovamo
