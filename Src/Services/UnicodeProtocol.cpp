#include "Services/UnicodeProtocol.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "Services/FFBindings.h"
#include "Services/FFLoadHooks.h"

namespace tovamo {
namespace {

// Protocols whose names stay as they are. The first eight are the ones the program always
// passed through; the rest are the schemes people paste today, which would otherwise be
// turned into a local file name and fail as "not found".
constexpr std::string_view kKeptProtocols =
    ":unicode:stream:gopher:http:pipe:rtp:tcp:udp:https:file:rtmp:rtsp:ftp:srt:data:";

constexpr std::size_t kPrefixLength = 13;  // strlen("unicode:utf8:")
constexpr int kIOBufferSize = 32 * 1024;
constexpr int kPollMs = 100;  // how often a waiting transfer asks the interrupt callback

bool IsKeptProtocol(std::string_view scheme) {
  if (scheme.empty()) return false;
  std::string token;
  token.reserve(scheme.size() + 2);
  token += ':';
  token += scheme;
  token += ':';
  return kKeptProtocols.find(token) != std::string_view::npos;
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view s) {
  std::size_t i = 0;
  const std::size_t n = s.size();
  while (i < n) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    int extra;
    unsigned min;
    unsigned cp;
    if ((c & 0xE0) == 0xC0) {
      extra = 1, min = 0x80, cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2, min = 0x800, cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3, min = 0x10000, cp = c & 0x07;
    } else {
      return false;
    }
    if (n - i <= static_cast<std::size_t>(extra)) return false;
    for (int k = 1; k <= extra; ++k) {
      const unsigned char cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += extra + 1;
  }
  return true;
}

// What the AVIOContext's callbacks work on.
struct TUnicodeFile {
  int Fd = -1;
  bool Pollable = false;  // a pipe, socket or device: transfers may wait for the other side
  AVIOInterruptCB Interrupt{nullptr, nullptr};
  int WriteError = 0;  // first failed write
  // A parked reader: the descriptor is closed and the next transfer reopens the same file
  // (by device and inode) at the offset it had.
  std::string Path;
  bool Parked = false;
  off_t ParkedAt = 0;
  dev_t Device = 0;
  ino_t Inode = 0;
};

int OpenRetrying(const char* path, int flags) {
  int fd;
  do {
    fd = open(path, flags | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Reopens a parked reader where it left off. 0, or the error of the reopen; a file that
// was replaced meanwhile is not read as if it were the one that was opened.
int Unpark(TUnicodeFile& f) {
  if (!f.Parked) return 0;
  const int fd = OpenRetrying(f.Path.c_str(), O_RDONLY);
  if (fd < 0) return AVERROR(errno);
  struct stat st;
  if (fstat(fd, &st) != 0 || st.st_dev != f.Device || st.st_ino != f.Inode) {
    close(fd);
    return AVERROR(ESTALE);
  }
  if (lseek(fd, f.ParkedAt, SEEK_SET) < 0) {
    const int error = AVERROR(errno);
    close(fd);
    return error;
  }
  f.Fd = fd;
  f.Parked = false;
  return 0;
}

bool Interrupted(const TUnicodeFile& f) {
  return f.Interrupt.callback && f.Interrupt.callback(f.Interrupt.opaque) != 0;
}

// Waits until the descriptor is ready for `events`, asking the interrupt callback between
// short polls. 0 when ready (or when an error or hang-up is pending, which the transfer
// itself then reports), AVERROR_EXIT when stopped.
int WaitReady(const TUnicodeFile& f, short events) {
  for (;;) {
    if (Interrupted(f)) return AVERROR_EXIT;
    if (!f.Pollable) return 0;
    pollfd p{f.Fd, events, 0};
    const int r = poll(&p, 1, kPollMs);
    if (r > 0) return 0;
    if (r < 0 && errno != EINTR) return AVERROR(errno);
  }
}

int ReadPacket(void* opaque, uint8_t* buf, int size) {
  TUnicodeFile& f = *static_cast<TUnicodeFile*>(opaque);
  if (const int u = Unpark(f); u < 0) return u;
  if (const int w = WaitReady(f, POLLIN); w < 0) return w;
  for (;;) {
    const ssize_t n = read(f.Fd, buf, static_cast<std::size_t>(size));
    if (n > 0) return static_cast<int>(n);
    if (n == 0) return AVERROR_EOF;
    if (errno != EINTR) return AVERROR(errno);
  }
}

int WritePacket(void* opaque, uint8_t* buf, int size) {
  TUnicodeFile& f = *static_cast<TUnicodeFile*>(opaque);
  int done = 0;
  while (done < size) {
    if (const int w = WaitReady(f, POLLOUT); w < 0) {
      if (!f.WriteError) f.WriteError = w;
      return w;
    }
    const ssize_t n = write(f.Fd, buf + done, static_cast<std::size_t>(size - done));
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = AVERROR(errno);
      if (!f.WriteError) f.WriteError = err;
      return err;
    }
    done += static_cast<int>(n);
  }
  return done;
}

int64_t Seek(void* opaque, int64_t offset, int whence) {
  TUnicodeFile& f = *static_cast<TUnicodeFile*>(opaque);
  whence &= ~AVSEEK_FORCE;
  if (whence == AVSEEK_SIZE) {
    // Asking the size does not take the descriptor back.
    struct stat st;
    if (f.Parked) {
      if (stat(f.Path.c_str(), &st) != 0) return AVERROR(errno);
      if (st.st_dev != f.Device || st.st_ino != f.Inode) return AVERROR(ESTALE);
      return st.st_size;
    }
    if (fstat(f.Fd, &st) != 0) return AVERROR(errno);
    if (!S_ISREG(st.st_mode)) return AVERROR(ESPIPE);
    return st.st_size;
  }
  if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END) return AVERROR(EINVAL);
  if (const int u = Unpark(f); u < 0) return u;
  const off_t pos = lseek(f.Fd, static_cast<off_t>(offset), whence);
  return pos < 0 ? AVERROR(errno) : static_cast<int64_t>(pos);
}

}  // namespace

bool NeedsUnicodeName(const std::string& name) {
  const std::size_t colon = name.find(':');
  if (colon != std::string::npos) return !IsKeptProtocol(std::string_view(name).substr(0, colon));
  return !IsValidUtf8(name);
}

std::string ToFFmpegName(const std::string& name) {
  if (name.find('\0') != std::string::npos) return {};
  std::string result = NeedsUnicodeName(name) ? kUnicodeNamePrefix + name : name;
  if (result.size() > kMaxFFmpegNameLength) return {};
  return result;
}

bool IsUnicodeName(const std::string& ffmpegName) {
  return ffmpegName.size() > kPrefixLength &&
         ffmpegName.compare(0, kPrefixLength, kUnicodeNamePrefix) == 0;
}

std::string FromFFmpegName(const std::string& ffmpegName) {
  return IsUnicodeName(ffmpegName) ? ffmpegName.substr(kPrefixLength) : ffmpegName;
}

int OpenUnicodeIO(const std::string& ffmpegName, int flags, const AVIOInterruptCB* interrupt,
                  AVIOContext** pb) {
  *pb = nullptr;
  int openFlags;
  switch (flags) {
    case uomRead:
      // Opening a named pipe for reading waits for a writer inside open() itself, where no
      // interrupt callback can end it: it opens at once here, and reads wait by polling.
      openFlags = O_RDONLY | O_NONBLOCK;
      break;
    case uomWrite:
      openFlags = O_WRONLY | O_CREAT | O_TRUNC;
      break;
    case uomReadWrite:
      openFlags = O_RDWR | O_CREAT | O_TRUNC;
      break;
    default:
      return AVERROR(EINVAL);
  }
  const std::string path = FromFFmpegName(ffmpegName);
  if (path.empty() || path.find('\0') != std::string::npos) return AVERROR(ENOENT);

  const int fd = OpenRetrying(path.c_str(), openFlags);
  if (fd < 0) return AVERROR(errno);
  struct stat st;
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    const int error = S_ISDIR(st.st_mode) ? EISDIR : errno;
    close(fd);
    return AVERROR(error);
  }
  if (openFlags & O_NONBLOCK) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);

  auto* file = new (std::nothrow) TUnicodeFile;
  auto* buffer = static_cast<unsigned char*>(ff::av_malloc(kIOBufferSize));
  AVIOContext* ctx = nullptr;
  if (file && buffer) {
    file->Fd = fd;
    file->Path = path;
    file->Device = st.st_dev;
    file->Inode = st.st_ino;
    file->Pollable = !S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode);
    if (interrupt) file->Interrupt = *interrupt;
    ctx = ff::avio_alloc_context(buffer, kIOBufferSize, flags == uomRead ? 0 : 1, file, ReadPacket,
                                 WritePacket, Seek);
  }
  if (!ctx) {
    ff::av_free(buffer);
    delete file;
    close(fd);
    return AVERROR(ENOMEM);
  }
  // Pipes and devices cannot seek; saying so keeps demuxers from trying.
  if (file->Pollable) ctx->seekable = 0;
  *pb = ctx;
  return 0;
}

bool ParkUnicodeIO(AVIOContext* pb) {
  if (!pb || pb->write_flag || !pb->opaque) return false;
  auto& file = *static_cast<TUnicodeFile*>(pb->opaque);
  if (file.Parked) return true;
  if (file.Pollable || file.Fd < 0) return false;
  const off_t at = lseek(file.Fd, 0, SEEK_CUR);
  if (at < 0) return false;
  close(file.Fd);
  file.Fd = -1;
  file.ParkedAt = at;
  file.Parked = true;
  return true;
}

bool IsLocalFileName(const std::string& ffmpegName) {
  if (IsUnicodeName(ffmpegName)) return true;
  if (ffmpegName.find(':') != std::string::npos) return false;
  struct stat st;
  return stat(ffmpegName.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

int CloseUnicodeIO(AVIOContext** pb) {
  if (!pb || !*pb) return 0;
  AVIOContext* ctx = *pb;
  auto* file = static_cast<TUnicodeFile*>(ctx->opaque);
  if (ctx->write_flag) ff::avio_flush(ctx);
  int result = file ? file->WriteError : 0;
  if (!result && ctx->write_flag && ctx->error < 0) result = ctx->error;
  if (file) {
    if (file->Fd >= 0 && close(file->Fd) != 0 && !result && ctx->write_flag)
      result = AVERROR(errno);
    delete file;
  }
  // avio may have replaced the buffer it was given: free the one it holds now.
  ff::av_freep(&ctx->buffer);
  ff::avio_context_free(pb);
  *pb = nullptr;
  return result;
}

// FFmpeg no longer has a protocol list to add "unicode" to: names of that form are opened
// with OpenUnicodeIO by the callers, so there is nothing to ready here. Kept because the
// loader runs it after binding avformat, as it runs the other libraries' hooks.
void RegisterUnicodeProtocol() {}

}  // namespace tovamo
