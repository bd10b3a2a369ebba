// The file-information object of an input: attached to an FFmpeg format context (or opening
// a file itself), it works out the file size, the stream counts, the first stream index of
// each kind and the primary stream with its start time.
#pragma once

#include <cstdint>
#include <string>

#include "Services/FFHeaders.h"

namespace tovamo {

class TCustomDecoder {
 public:
  TCustomDecoder() = default;
  virtual ~TCustomDecoder();
  TCustomDecoder(const TCustomDecoder&) = delete;
  TCustomDecoder& operator=(const TCustomDecoder&) = delete;

  // Attaches a context opened by someone else; the decoder never closes it. Does nothing
  // when that context is already attached. Raises FFmpegException "LibAVCodec not loaded.",
  // "LibAVFormat not loaded.", "LibAVUtil not loaded." or "LibSwScale not loaded." for the
  // first of those libraries that is not loaded. A null context just closes.
  virtual void Attach(AVFormatContext* context);

  // Opens the file and attaches the context it owns (closed by Close). The name goes to
  // FFmpeg by the engine's rules, so names with ':' or bytes that are not UTF-8 open too.
  // Raises the library messages of Attach; any other failure returns false with LastError
  // ("<file name>: <reason>") and leaves the decoder closed.
  bool Open(const std::string& fileName);

  // Forgets the context (closing it when owned) and resets the information to unknown.
  virtual void Close();

  // The context's owner is about to close it: forget it (an owned one is closed), keep
  // the information read from it.
  void ReleaseContext();

  // Ignored when null. Initially the decoder itself.
  void SetOwnerEncoder(void* owner) {
    if (owner) Owner_ = owner;
  }
  void* OwnerEncoder() const { return Owner_; }

  AVFormatContext* Context() const { return Context_; }
  bool OwnsContext() const { return OwnsContext_; }
  const std::string& FileName() const { return FileName_; }
  const std::string& LastError() const { return LastError_; }

  // -1 while unknown (no context attached).
  std::int64_t FileSize() const { return FileSize_; }
  int StreamCount() const { return StreamCount_; }
  int ProgramCount() const { return ProgramCount_; }
  int AudioStreamCount() const { return AudioStreamCount_; }
  int VideoStreamCount() const { return VideoStreamCount_; }
  int SubtitleStreamCount() const { return SubtitleStreamCount_; }
  int FirstAudioStreamIndex() const { return FirstAudioStream_; }
  int FirstVideoStreamIndex() const { return FirstVideoStream_; }
  int FirstSubtitleStreamIndex() const { return FirstSubtitleStream_; }

 protected:
  virtual void ReadFileInfo();
  static void CheckLibraries();

 private:
  AVFormatContext* Context_ = nullptr;
  bool OwnsContext_ = false;
  AVIOContext* CustomIO_ = nullptr;  // the file behind an owned "unicode:utf8:" name
  std::string FileName_;
  std::string LastError_;
  std::int64_t FileSize_ = -1;
  int StreamCount_ = -1;
  int ProgramCount_ = -1;
  int AudioStreamCount_ = -1;
  int VideoStreamCount_ = -1;
  int SubtitleStreamCount_ = -1;
  int FirstAudioStream_ = -1;
  int FirstVideoStream_ = -1;
  int FirstSubtitleStream_ = -1;
  void* Owner_ = this;
};

class TFFDecoder : public TCustomDecoder {
 public:
  TFFDecoder() = default;
  ~TFFDecoder() override;

  // The first video stream, else the first audio stream, else -1.
  int PrimaryStreamIndex() const { return PrimaryStream_; }
  // Microseconds: the primary stream's start time, or the file's when there is no primary
  // stream; 0 when unknown.
  std::int64_t StartTime() const { return StartTime_; }

 protected:
  void ReadFileInfo() override;

 private:
  int PrimaryStream_ = -1;
  std::int64_t StartTime_ = 0;
};

}  // namespace tovamo
