// The media layer's device-independent bitmap: the picture that hooks draw on and that
// previews show. Rows are stored bottom-up (the top display row comes last in memory),
// each row padded to a multiple of 4 bytes. Windows turn it into a QImage.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace tovamo {

// Pixel layouts, as the converter writes them (16-bit words little-endian). Note that red
// sits in the low bits of the 8, 15 and 16-bit words (QImage's RGB555/RGB16 have it high):
//   pf8bit  : 1 byte,  bits 7-6 blue, 5-3 green, 2-0 red   (AV_PIX_FMT_BGR8)
//   pf15bit : 2 bytes, bit 15 unused, 14-10 blue, 9-5 green, 4-0 red   (AV_PIX_FMT_BGR555LE)
//   pf16bit : 2 bytes, bits 15-11 blue, 10-5 green, 4-0 red   (AV_PIX_FMT_BGR565LE)
//   pf24bit : 3 bytes, B G R   (AV_PIX_FMT_BGR24)
//   pf32bit : 4 bytes, B G R A   (AV_PIX_FMT_BGRA)
enum class TPixelFormat { pf8bit, pf15bit, pf16bit, pf24bit, pf32bit };

class TBitmap {
 public:
  TBitmap() = default;
  TBitmap(const TBitmap&) = delete;
  TBitmap& operator=(const TBitmap&) = delete;

  int Width() const { return Width_; }
  int Height() const { return Height_; }
  TPixelFormat PixelFormat() const { return PixelFormat_; }
  // Bits per stored pixel: 15-bit pixels take 16 bits.
  int BitsPerPixel() const { return StorageBits(PixelFormat_); }

  // A new size or format discards the pixels (the new rows are zero).
  void SetSize(int width, int height);  // std::invalid_argument for a negative size
  void SetPixelFormat(TPixelFormat format);
  // 8, 15, 16, 24 or 32; anything else throws std::invalid_argument.
  void SetBitsPerPixel(int bits);

  // Bytes per stored row: the row's bits rounded up to 32.
  int RowSize() const { return int(RowSizeFor(Width_, BitsPerPixel())); }
  static int64_t RowSizeFor(int width, int bitsPerPixel);
  static int StorageBits(TPixelFormat format);

  // The row shown at display row y (0 = top); std::out_of_range outside 0..Height-1.
  uint8_t* ScanLine(int y);
  const uint8_t* ScanLine(int y) const;

  // All rows as stored (bottom row first).
  uint8_t* Bits() { return Pixels_.data(); }
  const uint8_t* Bits() const { return Pixels_.data(); }
  std::size_t SizeInBytes() const { return Pixels_.size(); }

  // The bitmap's lock, held by whoever reads or changes the pixels from another thread.
  // It is recursive, so a hook that runs under the lock may take it again.
  void Lock() const { Mutex_.lock(); }
  void Unlock() const { Mutex_.unlock(); }
  bool TryLock() const { return Mutex_.try_lock(); }
  // BasicLockable, for std::lock_guard / std::unique_lock.
  void lock() const { Lock(); }
  void unlock() const { Unlock(); }
  bool try_lock() const { return TryLock(); }

 private:
  void Reallocate(int width, int height, TPixelFormat format);

  int Width_ = 0;
  int Height_ = 0;
  TPixelFormat PixelFormat_ = TPixelFormat::pf24bit;
  std::vector<uint8_t> Pixels_;
  mutable std::recursive_mutex Mutex_;
};

}  // namespace tovamo
