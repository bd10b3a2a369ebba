// The records the engine hands to its owner with each video hook call and preview.
#pragma once

#include <cstdint>
#include <memory>

namespace tovamo {

class TBitmap;

// One call of a video hook (input side: after decoding; output side: before encoding).
struct THookInfo {
  int TaskIndex = -1;         // the job's index in the owner's list (the owner fills it)
  TBitmap* Bitmap = nullptr;  // the picture as a bitmap; the hook may draw on it
  int FrameNumber = 0;        // counted from 1: input pictures or output frames
  std::int64_t PTS = 0;       // microseconds
  bool Update = true;         // leave true to have the changed bitmap written back
  bool StopHooking = false;   // set to be detached for the rest of the job
};
using PHookInfo = THookInfo*;

// Where the engine's internal preview (preview flag bit 0) shows its frames: a window
// implements it. Preview returns false once the user closed the preview.
class TPreviewSink {
 public:
  virtual ~TPreviewSink() = default;
  virtual bool Preview(const TBitmap& bitmap, std::int64_t pts) = 0;
};

// Makes the preview sink of an engine on first use; unset, the internal preview is off.
using TPreviewSinkFactory = std::unique_ptr<TPreviewSink> (*)();
void SetPreviewSinkFactory(TPreviewSinkFactory factory);
TPreviewSinkFactory PreviewSinkFactory();

}  // namespace tovamo
