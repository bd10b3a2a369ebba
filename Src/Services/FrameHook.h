// Frame hooks: outside libraries that change every decoded video picture of a job
// (include/tovamo/framehook.h is their side of the interface). A job keeps its hooks in a
// chain, in the order they were added; the libraries themselves are loaded once per path
// for the whole program and stay loaded until it ends.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct AVFrame;

namespace tovamo {

struct TFrameHookEntry;

// The hooks of one job. Destroying the chain releases its hooks.
struct TFrameHookChain {
  TFrameHookEntry* First = nullptr;

  TFrameHookChain() = default;
  ~TFrameHookChain();
  TFrameHookChain(const TFrameHookChain&) = delete;
  TFrameHookChain& operator=(const TFrameHookChain&) = delete;
};

// Loads the library args[0] (once per path for the program) and appends a hook made of it
// to the chain, configured with all of args (args[0] included, as argv of main()).
// Returns 0, or a negative FFmpeg error code, having logged why through av_log:
//   -1   the library could not be loaded (the system's error text)
//   -2   no arguments; "Failed to find Process entrypoint in <path>"; or
//        "Failed to find Configure entrypoint in <path>" when arguments were given for it
//   -12  no memory for the hook
//   -22  "Failed to Configure <path>": the hook refused its arguments
// On failure the chain is as before.
int AddFrameHook(TFrameHookChain& chain, const std::vector<std::string>& args);

// Runs every hook of the chain on the picture, in chain order, with the frame's pixel
// format, width and height and `pts` (microseconds, AV_NOPTS_VALUE when unknown). The
// hooks draw into the frame: one whose buffers are shared with another reference (the
// decoder's, say) gets buffers of its own first, so nobody else's picture changes.
// A null or empty chain leaves the frame alone and returns 0. Otherwise returns 0 when
// every hook ran, or a negative FFmpeg error code when none ran: AVERROR(EINVAL) for a
// picture the hooks cannot take (no frame, no pixel data, no size, an unknown or hardware
// pixel format), or the error of getting buffers of its own (AVERROR(ENOMEM)).
int ProcessFrameHooks(const TFrameHookChain* chain, AVFrame* picture, std::int64_t pts);

// Calls each hook's Release (when it has one) with its context, frees the entries and
// leaves the chain empty. An empty chain is left as it is.
void ReleaseFrameHooks(TFrameHookChain& chain);

}  // namespace tovamo
