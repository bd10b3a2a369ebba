// File names for FFmpeg, and the file I/O behind names of the "unicode:utf8:" form.
//
// File names are UTF-8 byte strings. FFmpeg reads the text before a name's first ':' as a
// protocol ("my:clip.avi" is protocol "my"), so a name it would misread is handed to it as
// "unicode:utf8:" + name, and such a name is opened through OpenUnicodeIO as a custom
// AVIOContext (FFmpeg has no protocol registry to plug a "unicode" protocol into).
#pragma once

#include <cstddef>
#include <string>

#include "Services/FFHeaders.h"

namespace tovamo {

// The prefix of names that only OpenUnicodeIO can open.
inline constexpr const char* kUnicodeNamePrefix = "unicode:utf8:";

// Longest name handed to FFmpeg, in bytes: the longest path Linux takes (PATH_MAX, 4096,
// with its terminator).
inline constexpr std::size_t kMaxFFmpegNameLength = 4095;

// True when FFmpeg would misread the name: it holds ':' and the text before the first ':'
// is not one of the protocols that stay as they are (unicode, stream, gopher, http, pipe,
// rtp, tcp, udp, https, file, rtmp, rtsp, ftp, srt, data), or it is not valid UTF-8.
bool NeedsUnicodeName(const std::string& name);

// The name to give FFmpeg: "unicode:utf8:" + name when NeedsUnicodeName holds, otherwise the
// name itself. A name FFmpeg cannot be given gives an empty string: longer than
// kMaxFFmpegNameLength bytes in its FFmpeg form, or holding a NUL byte (FFmpeg would see a
// shorter name and open another file). Callers report an empty result for a non-empty name
// as "File name too long", i.e. ErrorText(name, -36).
// Thread-safe: every call returns its own string.
std::string ToFFmpegName(const std::string& name);

// The file name behind an FFmpeg name: the text after "unicode:utf8:" when the name starts
// with it and is at least 14 bytes long; otherwise the name itself (so exactly
// "unicode:utf8:" stays as it is).
std::string FromFFmpegName(const std::string& ffmpegName);

// True for names that FromFFmpegName unwraps, i.e. names to open with OpenUnicodeIO.
bool IsUnicodeName(const std::string& ffmpegName);

// Access of OpenUnicodeIO.
enum TUnicodeOpenMode : int {
  uomRead = 0,       // an existing file
  uomWrite = 1,      // created or truncated
  uomReadWrite = 2,  // created or truncated
};

// Opens the file FromFFmpegName(ffmpegName) names and wraps it in an AVIOContext for
// AVFormatContext.pb (with AVFMT_FLAG_CUSTOM_IO) or direct avio_* use. The context reads,
// writes, seeks and answers AVSEEK_SIZE with the file's size; a read at the end gives
// AVERROR_EOF. When `interrupt` is given (copied), every transfer first asks it and gives
// AVERROR_EXIT when it says stop; on pipes and devices a transfer waits for data in short
// polls so that it can be stopped while nothing arrives.
// Returns 0 with *pb set; when the file cannot be opened, the system's error for it
// (AVERROR(ENOENT), AVERROR(EACCES), AVERROR(ELOOP), AVERROR(EISDIR) for a folder,
// AVERROR(EMFILE), ...); AVERROR(EINVAL) for another `flags` value, AVERROR(ENOMEM).
// Needs avutil and avformat bound.
int OpenUnicodeIO(const std::string& ffmpegName, int flags, const AVIOInterruptCB* interrupt,
                  AVIOContext** pb);

// Closes the descriptor of a reader of a regular file until its next read or seek, which
// reopens the same file at the same offset (or fails with AVERROR(ESTALE) when the name
// now holds another file). What is buffered stays, so the reader's state is unchanged: a
// set-up can hold many inputs without holding their descriptors. `pb` must come from
// OpenUnicodeIO; false (and nothing changes) for writers, pipes and devices.
bool ParkUnicodeIO(AVIOContext* pb);

// True for names OpenUnicodeIO should open for reading: "unicode:utf8:" names, and plain
// names (no protocol) of existing regular files.
bool IsLocalFileName(const std::string& ffmpegName);

// Flushes what is still buffered, closes the file, frees the context and its buffer and sets
// *pb to null; does nothing for a null *pb. Returns 0, or the first write error of the
// context's life (a failed flush or close included), so a writer can tell a short file.
// avformat_close_input leaves a custom pb alone: close it here after the format context.
int CloseUnicodeIO(AVIOContext** pb);

}  // namespace tovamo
