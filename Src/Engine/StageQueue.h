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

// A bounded first-in first-out queue between two threads. Push waits while it is full and
// Pop while it is empty. Close lets the consumer take what is left and then ends it; Abort
// wakes every waiter at once and fails every later call, so that after a failure no stage
// stays blocked on a full or an empty queue. A capacity of 0 means unbounded.
template <class T>
class TStageQueue {
 public:
  explicit TStageQueue(std::size_t capacity) : Capacity_(capacity) {}
  TStageQueue(const TStageQueue&) = delete;
  TStageQueue& operator=(const TStageQueue&) = delete;

  // False when the queue was aborted or closed: the item is dropped.
  bool Push(T item) {
    std::unique_lock lock(Lock_);
    NotFull_.wait(lock, [this] {
      return Aborted_ || Closed_ || Capacity_ == 0 || Items_.size() < Capacity_;
    });
    if (Aborted_ || Closed_) return false;
    Items_.push_back(std::move(item));
    NotEmpty_.notify_one();
    return true;
  }

  // The next item; none once the queue is aborted, or closed and empty.
  std::optional<T> Pop() {
    std::unique_lock lock(Lock_);
    NotEmpty_.wait(lock, [this] { return Aborted_ || Closed_ || !Items_.empty(); });
    if (Aborted_ || Items_.empty()) return std::nullopt;
    std::optional<T> item(std::move(Items_.front()));
    Items_.pop_front();
    NotFull_.notify_one();
    return item;
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
    NotEmpty_.notify_all();
    NotFull_.notify_all();
  }

 private:
  const std::size_t Capacity_;
  std::mutex Lock_;
  std::condition_variable NotFull_;
  std::condition_variable NotEmpty_;
  std::deque<T> Items_;
  bool Closed_ = false;
  bool Aborted_ = false;
};

}  // namespace tovamo
