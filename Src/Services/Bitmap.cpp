#include "Services/Bitmap.h"

#include <limits>
#include <stdexcept>
#include <string>

namespace tovamo {

int TBitmap::StorageBits(TPixelFormat format) {
  switch (format) {
    case TPixelFormat::pf8bit:
      return 8;
    case TPixelFormat::pf15bit:
    case TPixelFormat::pf16bit:
      return 16;
    case TPixelFormat::pf24bit:
      return 24;
    case TPixelFormat::pf32bit:
      return 32;
  }
  return 24;
}

int64_t TBitmap::RowSizeFor(int width, int bitsPerPixel) {
  if (width <= 0 || bitsPerPixel <= 0) return 0;
  const int64_t bits = int64_t(width) * bitsPerPixel;
  return ((bits + 31) / 32) * 4;
}

void TBitmap::SetSize(int width, int height) {
  if (width < 0 || height < 0)
    throw std::invalid_argument("Invalid bitmap size " + std::to_string(width) + "x" +
                                std::to_string(height));
  std::lock_guard guard(Mutex_);
  if (width == Width_ && height == Height_) return;
  Reallocate(width, height, PixelFormat_);
}

void TBitmap::SetPixelFormat(TPixelFormat format) {
  std::lock_guard guard(Mutex_);
  if (format == PixelFormat_) return;
  Reallocate(Width_, Height_, format);
}

void TBitmap::SetBitsPerPixel(int bits) {
  switch (bits) {
    case 8:
      SetPixelFormat(TPixelFormat::pf8bit);
      break;
    case 15:
      SetPixelFormat(TPixelFormat::pf15bit);
      break;
    case 16:
      SetPixelFormat(TPixelFormat::pf16bit);
      break;
    case 24:
      SetPixelFormat(TPixelFormat::pf24bit);
      break;
    case 32:
      SetPixelFormat(TPixelFormat::pf32bit);
      break;
    default:
      throw std::invalid_argument("Invalid bitmap depth " + std::to_string(bits));
  }
}

void TBitmap::Reallocate(int width, int height, TPixelFormat format) {
  // The new rows are allocated before anything changes: a failed allocation leaves the
  // bitmap as it was.
  const int64_t rowSize = RowSizeFor(width, StorageBits(format));
  if (rowSize > std::numeric_limits<int>::max()) throw std::length_error("Bitmap row too large");
  const std::size_t size = std::size_t(rowSize) * std::size_t(height);
  std::vector<uint8_t> pixels(size, 0);
  Pixels_.swap(pixels);
  Width_ = width;
  Height_ = height;
  PixelFormat_ = format;
}

uint8_t* TBitmap::ScanLine(int y) {
  return const_cast<uint8_t*>(static_cast<const TBitmap*>(this)->ScanLine(y));
}

const uint8_t* TBitmap::ScanLine(int y) const {
  if (y < 0 || y >= Height_) throw std::out_of_range("Scan line index out of range");
  return Pixels_.data() + std::size_t(Height_ - 1 - y) * std::size_t(RowSize());
}

}  // namespace tovamo
