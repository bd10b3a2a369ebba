// TFormatConverter: converts decoded pictures to a TBitmap of 8, 15, 16, 24 or 32 bits
// per pixel and back, for frame hooks and previews. Each converter belongs to one thread.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "Services/Bitmap.h"
#include "Services/FFHeaders.h"

namespace tovamo {

// A converter set to a depth it does not support.
class EConverterError : public std::runtime_error {
 public:
  explicit EConverterError(const std::string& message) : std::runtime_error(message) {}
};

// Four plane pointers and their line sizes, as in AVFrame.
struct TPicture {
  uint8_t* Data[4];
  int LineSize[4];
};

// Describes the converted picture as a bitmap: type 0, one plane, rows top-down from Bits
// at WidthBytes apart.
struct TBitmapInfo {
  int Type;
  int Width;
  int Height;
  int WidthBytes;
  int Planes;
  int BitsPixel;
  void* Bits;
};

class TFormatConverter {
 public:
  TFormatConverter();
  ~TFormatConverter();
  TFormatConverter(const TFormatConverter&) = delete;
  TFormatConverter& operator=(const TFormatConverter&) = delete;

  // Forgets the converted picture and applies the bitmap format.
  void Reset();
  // 8, 15, 16, 24 or 32; anything else throws EConverterError "Invalid BitsPixel %d".
  void SetBitsPerPixel(int bits);

  // Converts a width x height picture in srcPixFmt into the bitmap's pixel format. A
  // picture already in that format, with even sizes and rows laid out like the bitmap's,
  // is used in place (Current() is then the caller's picture, which must stay valid while
  // it is used). false with LastError() when the picture cannot be converted.
  bool ToRGB(uint8_t* const src[4], const int srcLineSize[4], AVPixelFormat srcPixFmt,
             bool copyToBitmap, int height, int width);
  // Copies the converted picture into the bitmap and back; EAssertionFailed before a
  // successful ToRGB.
  void CopyToBitmap();
  void CopyFromBitmap();
  // Converts the current picture into a width x height picture in dstPixFmt; false with
  // LastError() on failure. EAssertionFailed before a successful ToRGB.
  bool FromRGB(uint8_t* const dst[4], const int dstLineSize[4], AVPixelFormat dstPixFmt, int height,
               int width);

  int BitsPerPixel() const { return BitsPerPixel_; }
  AVPixelFormat PixFmt() const { return PixFmt_; }
  TPixelFormat BitmapFormat() const { return BitmapFormat_; }
  TBitmap& Bitmap() { return Bitmap_; }
  const TBitmap& Bitmap() const { return Bitmap_; }
  const TBitmapInfo& BitmapInfo() const { return BitmapInfo_; }
  const uint8_t* Buffer() const { return Buffer_; }
  int BufferSize() const { return BufferSize_; }
  TPicture& Picture() { return Picture_; }
  // The picture that holds the last converted frame: &Picture(), or a copy of the caller's
  // plane pointers when no conversion was needed; null before the first conversion and
  // after a failure.
  const TPicture* Current() const { return Current_; }
  const std::string& LastError() const { return LastError_; }

 private:
  bool Fail(const std::string& text);
  size_t RowBytes(int lineSize) const;

  int BitsPerPixel_ = 24;
  AVPixelFormat PixFmt_ = AV_PIX_FMT_BGR24;
  TPixelFormat BitmapFormat_ = TPixelFormat::pf24bit;
  TBitmap Bitmap_;
  TBitmapInfo BitmapInfo_{};
  uint8_t* Buffer_ = nullptr;
  int BufferSize_ = 0;
  TPicture Picture_{};
  TPicture* Current_ = nullptr;
  SwsContext* ToRGBContext_ = nullptr;
  SwsContext* FromRGBContext_ = nullptr;
  std::string LastError_;
  // The caller's picture when it is used in place, and the size of the current picture.
  TPicture Source_{};
  int CurrentWidth_ = 0;
  int CurrentHeight_ = 0;
};

}  // namespace tovamo
