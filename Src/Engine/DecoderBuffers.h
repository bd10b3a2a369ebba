// Picture buffers for the decoders that start out black. A damaged picture (a truncated
// JPEG, a slice lost from a frame) leaves part of its buffer undecoded; from a pool, that
// part would show whatever an earlier picture left there, which depends on how many
// pictures other threads still hold, so the same input would give other bytes from run to
// run and between the one-thread and the staged path.
#pragma once

#include "Services/FFHeaders.h"

namespace tovamo {

// Makes a video decoder's context take its buffers black; before avcodec_open2.
void UseBlackDecoderBuffers(AVCodecContext* decoder);

}  // namespace tovamo
