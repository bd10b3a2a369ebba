// The hand-over between the stages of one job: a small blocking queue, and the items that
// travel through it (packets, pictures, and the marks that keep the muxer's order).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <utility>

#include "Services/FFHeaders.h"

namespace tovamo {

struct TInputStream;
struct TOutputStream;

// One piece of work between two stages. It owns its packet or picture, so whatever is
// left in a queue after a failure is freed with the queue.
struct TStageItem {
  enum TKind : std::uint8_t {
    kPacket,         // a demuxed packet for a decoding stage, or an encoded one for the muxer
    kDrain,          // the end of an input stream: drain its decoder
    kPicture,        // a decoded picture for the encoding stage
    kDrainEncoders,  // drain the encoders that the stream feeds
    kEnd,            // the work of one demuxed packet is complete
  };

  TStageItem() = default;
  explicit TStageItem(TKind kind) : Kind(kind) {}
  ~TStageItem();
  TStageItem(TStageItem&& other) noexcept { *this = std::move(other); }
  TStageItem& operator=(TStageItem&& other) noexcept;
  TStageItem(const TStageItem&) = delete;
  TStageItem& operator=(const TStageItem&) = delete;

  TKind Kind = kEnd;
  AVPacket* Packet = nullptr;       // owned
  AVFrame* Picture = nullptr;       // owned
  TOutputStream* Output = nullptr;  // the stream a picture or an encoded packet is for
  std::int64_t Pts = 0;             // a picture's input time, microseconds
};

// The memory an item holds while it waits: the bytes of its packet or picture buffers.
std::size_t StageItemBytes(const TStageItem& item);
inline std::size_t StageItemBytes(int) {
  return 0;
}

// A bounded first-in first-out queue between two threads. Push waits while it is full (its
// count of items, or the bytes they hold, at the limit; an empty queue takes any one item)
// and Pop while it is empty. Close lets the consumer take what is left and then ends it;
// Abort wakes every waiter at once and fails every later call, so that after a failure no
// stage stays blocked on a full or an empty queue; Discard drops what waits and every later
// item, so that the producer carries on to its end without its work being done. A limit of
// 0 means none.
template <class T>
class TStageQueue {
 public:
  explicit TStageQueue(std::size_t capacity, std::size_t byteLimit = 0)
      : Capacity_(capacity), ByteLimit_(byteLimit) {}
  TStageQueue(const TStageQueue&) = delete;
  TStageQueue& operator=(const TStageQueue&) = delete;

  // False when the queue was aborted or closed: the item is dropped. A discarding queue
  // drops it too, but as work that was asked for: true.
  bool Push(T item) {
    const std::size_t bytes = StageItemBytes(item);
    std::unique_lock lock(Lock_);
    NotFull_.wait(lock, [this, bytes] {
      return Aborted_ || Closed_ || Discarding_ || Items_.empty() ||
             ((Capacity_ == 0 || Items_.size() < Capacity_) &&
              (ByteLimit_ == 0 || Bytes_ + bytes <= ByteLimit_));
    });
    if (Discarding_ && !Aborted_) return true;
    if (Aborted_ || Closed_) return false;
    Items_.push_back(std::move(item));
    Bytes_ += bytes;
    NotEmpty_.notify_one();
    return true;
  }

  // The next item; none once the queue is aborted or discarding, or closed and empty.
  std::optional<T> Pop() {
    std::unique_lock lock(Lock_);
    NotEmpty_.wait(lock, [this] { return Aborted_ || Closed_ || Discarding_ || !Items_.empty(); });
    if (Aborted_ || Discarding_ || Items_.empty()) return std::nullopt;
    std::optional<T> item(std::move(Items_.front()));
    Items_.pop_front();
    Bytes_ -= StageItemBytes(*item);
    NotFull_.notify_all();  // a big item gone may make room for several waiting ones
    return item;
  }

  void Discard() {
    std::deque<T> dropped;  // freed outside the lock
    {
      std::lock_guard lock(Lock_);
      Discarding_ = true;
      dropped.swap(Items_);
      Bytes_ = 0;
      NotEmpty_.notify_all();
      NotFull_.notify_all();
    }
  }

  void Close() {
    std::lock_guard lock(Lock_);
    Closed_ = true;
    NotEmpty_.notify_all();
    NotFull_.notify_all();
  }

  void Abort() {
    std::lock_guard lock(Lock_);
    Aborted_ = true;
    Items_.clear();
    Bytes_ = 0;
    NotEmpty_.notify_all();
    NotFull_.notify_all();
  }

 private:
  const std::size_t Capacity_;
  const std::size_t ByteLimit_;
  std::mutex Lock_;
  std::condition_variable NotFull_;
  std::condition_variable NotEmpty_;
  std::deque<T> Items_;
  std::size_t Bytes_ = 0;
  bool Closed_ = false;
  bool Aborted_ = false;
  bool Discarding_ = false;
};

}  // namespace tovamo
