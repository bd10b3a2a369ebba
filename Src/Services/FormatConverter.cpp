#include "Services/FormatConverter.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>

#include "Services/Exceptions.h"
#include "Services/FFBindings.h"

namespace tovamo {
namespace {

struct TFormatRow {
  TPixelFormat Format;
  int BitsPerPixel;
  AVPixelFormat PixFmt;
};

// The bitmap formats and the library pixel formats with the same memory layout.
constexpr TFormatRow kFormats[] = {
    {TPixelFormat::pf8bit, 8, AV_PIX_FMT_BGR8},
    {TPixelFormat::pf15bit, 16, AV_PIX_FMT_BGR555LE},
    {TPixelFormat::pf16bit, 16, AV_PIX_FMT_BGR565LE},
    {TPixelFormat::pf24bit, 24, AV_PIX_FMT_BGR24},
    {TPixelFormat::pf32bit, 32, AV_PIX_FMT_BGRA},
};

// Bicubic. The scaler's fast YUV to RGB path converts rows in groups of 8 pixels and
// leaves the last pixels of other widths unset; accurate rounding keeps such widths off it
// (at many times the cost, so only where it is needed).
int ScaleFlags(int width) {
  return SWS_BICUBIC | (width % 8 != 0 ? SWS_ACCURATE_RND : 0);
}

// Layout of the converter's own picture (see ToRGB).
constexpr int kWidthAlign = 16;
constexpr int kRowAlign = 32;
constexpr int kSpareBytes = 64;

const TFormatRow& FormatRow(TPixelFormat format) {
  for (const TFormatRow& row : kFormats)
    if (row.Format == format) return row;
  return kFormats[3];
}

std::string SizeText(const char* pattern, int width, int height) {
  char text[128];
  std::snprintf(text, sizeof text, pattern, width, height);
  return text;
}

}  // namespace

TFormatConverter::TFormatConverter() {
  BitmapFormat_ = TPixelFormat::pf24bit;
  Reset();
}

TFormatConverter::~TFormatConverter() {
  // The libraries may already be gone when nothing was ever converted.
  if (Buffer_ && ff::av_free) ff::av_free(Buffer_);
  if (ff::sws_freeContext) {
    if (ToRGBContext_) ff::sws_freeContext(ToRGBContext_);
    if (FromRGBContext_) ff::sws_freeContext(FromRGBContext_);
  }
}

void TFormatConverter::Reset() {
  BitmapInfo_ = TBitmapInfo{};
  Picture_ = TPicture{};
  Source_ = TPicture{};
  Current_ = nullptr;
  CurrentWidth_ = CurrentHeight_ = 0;
  const TFormatRow& row = FormatRow(BitmapFormat_);
  BitsPerPixel_ = row.BitsPerPixel;
  PixFmt_ = row.PixFmt;
  Bitmap_.SetPixelFormat(BitmapFormat_);
}

void TFormatConverter::SetBitsPerPixel(int bits) {
  TPixelFormat format;
  switch (bits) {
    case 8:
      format = TPixelFormat::pf8bit;
      break;
    case 15:
      format = TPixelFormat::pf15bit;
      break;
    case 16:
      format = TPixelFormat::pf16bit;
      break;
    case 24:
      format = TPixelFormat::pf24bit;
      break;
    case 32:
      format = TPixelFormat::pf32bit;
      break;
    default: {
      char text[64];
      std::snprintf(text, sizeof text, "Invalid BitsPixel %d", bits);
      throw EConverterError(text);
    }
  }
  // Compared by format, not by bits: 15 and 16 both store 16 bits but differ in layout.
  if (format == BitmapFormat_) return;
  BitmapFormat_ = format;
  Reset();
}

bool TFormatConverter::Fail(const std::string& text) {
  Current_ = nullptr;
  CurrentWidth_ = CurrentHeight_ = 0;
  BitmapInfo_ = TBitmapInfo{};
  LastError_ = text;
  return false;
}

bool TFormatConverter::ToRGB(uint8_t* const src[4], const int srcLineSize[4],
                             AVPixelFormat srcPixFmt, bool copyToBitmap, int height, int width) {
  if (width <= 0 || height <= 0) return Fail(SizeText("Invalid picture size %dx%d", width, height));
  if (!src || !srcLineSize || !src[0]) return Fail("No picture to convert");

  try {
    std::lock_guard guard(Bitmap_);
    Bitmap_.SetSize(width, height);
  } catch (const std::exception&) {
    return Fail(SizeText("Cannot allocate a %dx%d bitmap", width, height));
  }

  if (srcPixFmt == PixFmt_ && width % 2 == 0 && height % 2 == 0 &&
      TBitmap::RowSizeFor(width, BitsPerPixel_) == srcLineSize[0]) {
    // Already laid out like the bitmap: use the caller's picture as it is.
    for (int i = 0; i < 4; ++i) {
      Source_.Data[i] = src[i];
      Source_.LineSize[i] = srcLineSize[i];
    }
    Current_ = &Source_;
  } else {
    // The scaler's vector code writes whole groups of pixels, past the width of the
    // picture: the own picture gets rows for a width rounded up to 16 pixels, 32-byte
    // aligned, and spare bytes after the last row.
    if (width > std::numeric_limits<int>::max() - kWidthAlign)
      return Fail(SizeText("Invalid picture size %dx%d", width, height));
    const int paddedWidth = FFALIGN(width, kWidthAlign);
    const int size = ff::av_image_get_buffer_size(PixFmt_, paddedWidth, height, kRowAlign);
    if (size <= 0 || size > std::numeric_limits<int>::max() - kSpareBytes)
      return Fail(SizeText("Invalid picture size %dx%d", width, height));
    const int needed = size + kSpareBytes;
    if (!Buffer_ || BufferSize_ < needed) {
      if (Buffer_) ff::av_free(Buffer_);
      Buffer_ = static_cast<uint8_t*>(ff::av_malloc(needed));
      BufferSize_ = Buffer_ ? needed : 0;
      if (!Buffer_) return Fail("Cannot allocate the picture buffer");
    }
    if (ff::av_image_fill_arrays(Picture_.Data, Picture_.LineSize, Buffer_, PixFmt_, paddedWidth,
                                 height, kRowAlign) < 0)
      return Fail(SizeText("Invalid picture size %dx%d", width, height));
    // The scaler aborts the process on a pixel format it does not know, so that is checked
    // first.
    if (ff::sws_isSupportedInput(srcPixFmt) <= 0)
      return Fail("Cannot initialize the toRGB conversion context");
    ToRGBContext_ = ff::sws_getCachedContext(ToRGBContext_, width, height, srcPixFmt, width, height,
                                             PixFmt_, ScaleFlags(width), nullptr, nullptr, nullptr);
    if (!ToRGBContext_) return Fail("Cannot initialize the toRGB conversion context");
    if (ff::sws_scale(ToRGBContext_, src, srcLineSize, 0, height, Picture_.Data,
                      Picture_.LineSize) <= 0)
      return Fail("Cannot convert the picture to RGB");
    Current_ = &Picture_;
  }
  CurrentWidth_ = width;
  CurrentHeight_ = height;

  BitmapInfo_.Type = 0;
  BitmapInfo_.Width = width;
  BitmapInfo_.Height = height;
  BitmapInfo_.WidthBytes = Current_->LineSize[0];
  BitmapInfo_.Planes = 1;
  BitmapInfo_.BitsPixel = BitsPerPixel_;
  BitmapInfo_.Bits = Current_->Data[0];
  if (copyToBitmap) CopyToBitmap();
  return true;
}

size_t TFormatConverter::RowBytes(int lineSize) const {
  // The bitmap's rows and the picture's are padded differently: copy the pixels only, and
  // never more than either row holds.
  const int64_t pixels =
      (int64_t(std::min(Bitmap_.Width(), CurrentWidth_)) * Bitmap_.BitsPerPixel() + 7) / 8;
  return size_t(std::min({pixels, int64_t(Bitmap_.RowSize()), int64_t(std::abs(lineSize))}));
}

void TFormatConverter::CopyToBitmap() {
  Assert(Current_ != nullptr, "CopyToBitmap without a converted picture", "FFUtils");
  std::lock_guard guard(Bitmap_);
  const int rows = std::min(Bitmap_.Height(), CurrentHeight_);
  const int lineSize = Current_->LineSize[0];
  const size_t bytes = RowBytes(lineSize);
  for (int y = 0; y < rows; ++y)
    std::memcpy(Bitmap_.ScanLine(y), Current_->Data[0] + ptrdiff_t(y) * lineSize, bytes);
}

void TFormatConverter::CopyFromBitmap() {
  Assert(Current_ != nullptr, "CopyFromBitmap without a converted picture", "FFUtils");
  std::lock_guard guard(Bitmap_);
  const int rows = std::min(Bitmap_.Height(), CurrentHeight_);
  const int lineSize = Current_->LineSize[0];
  const size_t bytes = RowBytes(lineSize);
  for (int y = 0; y < rows; ++y)
    std::memcpy(Current_->Data[0] + ptrdiff_t(y) * lineSize, Bitmap_.ScanLine(y), bytes);
}

bool TFormatConverter::FromRGB(uint8_t* const dst[4], const int dstLineSize[4],
                               AVPixelFormat dstPixFmt, int height, int width) {
  Assert(Current_ != nullptr, "FromRGB without a converted picture", "FFUtils");
  if (width <= 0 || height <= 0) {
    LastError_ = SizeText("Invalid picture size %dx%d", width, height);
    return false;
  }
  if (!dst || !dstLineSize || !dst[0]) {
    LastError_ = "No picture to convert into";
    return false;
  }
  // The source side is the size that was converted, so a different destination size
  // scales instead of reading past the current picture.
  if (ff::sws_isSupportedOutput(dstPixFmt) <= 0) {
    LastError_ = "Cannot initialize the fromRGB conversion context";
    return false;
  }
  FromRGBContext_ =
      ff::sws_getCachedContext(FromRGBContext_, CurrentWidth_, CurrentHeight_, PixFmt_, width,
                               height, dstPixFmt, ScaleFlags(width), nullptr, nullptr, nullptr);
  if (!FromRGBContext_) {
    LastError_ = "Cannot initialize the fromRGB conversion context";
    return false;
  }
  if (ff::sws_scale(FromRGBContext_, Current_->Data, Current_->LineSize, 0, CurrentHeight_, dst,
                    dstLineSize) <= 0) {
    LastError_ = "Cannot convert the picture from RGB";
    return false;
  }
  return true;
}

}  // namespace tovamo
