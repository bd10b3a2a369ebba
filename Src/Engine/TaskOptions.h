// The records with which an owner describes a task's input and each of its outputs. Every
// field has an "unset" value (the member initialisers); only fields that differ from it take
// effect when the encoder component applies the record.
#pragma once

#include <cstdint>
#include <limits>
#include <string>

namespace tovamo {

// FFmpeg's no-timestamp value (AV_NOPTS_VALUE), the unset start and recording time.
inline constexpr std::int64_t kNoTime = std::numeric_limits<std::int64_t>::min();

struct TInputOptions {
  std::string FileName;  // empty: the name given to AddTask
  std::string FileFormat;
  std::int64_t StartTime = kNoTime;  // microseconds
  int ProgramId = -1;
  std::string ExtraOptions;  // option text; codec lines apply
};

// The recording timestamp and the metadata of an output.
struct TStreamInfo {
  // Calendar date-time: days since 1899-12-30, local time. 0 = now; negative = not set.
  double Timestamp = -1.0;
  int Year = -1;
  int Track = -1;
  std::string Title;
  std::string Author;
  std::string Copyright;
  std::string Comment;
  std::string Album;
  std::string Genre;
};

struct TOutputOptions {
  std::string FileName;  // empty: the name given to SetOutputFile
  std::string FileFormat;
  int PacketSize = -1;
  int MuxRate = -1;
  float MuxDelay = -1.0f;
  float MuxPreload = -1.0f;
  std::string AudioCodec;
  std::string AudioPreset;
  bool DisableAudio = false;
  int AudioVolume = -1;
  int AudioChannels = -1;
  int AudioSampleRate = -1;
  int AudioBitrate = -1;  // bit/s; ignored when a target is set
  int AudioBitrateTolerance = -1;
  std::string AudioLanguage;
  int AudioSync = 0;  // always applied
  std::string AudioTag;
  std::string VideoCodec;
  std::string VideoPreset;
  bool DisableVideo = false;
  std::string FrameRate;
  std::string FrameSize;
  std::string AspectRatio;
  int GopSize = -1;
  int VideoBitrate = -1;  // bit/s; ignored when a target is set
  int VideoMaxRate = -1;
  int VideoMinRate = -1;
  int VideoBitrateTolerance = -1;
  int VideoBufSize = -1;
  int VideoSync = -1;  // always applied
  std::string VideoTag;
  std::string VideoFilters;
  std::string VideoLanguage;
  std::string SubtitleCodec;
  std::string SubtitlePreset;
  bool DisableSubtitle = false;
  std::string SubtitleLanguage;
  bool InputSync = false;  // always applied
  bool CopyTimestamps = false;
  std::int64_t StartTime = kNoTime;      // microseconds
  std::int64_t RecordingTime = kNoTime;  // microseconds
  TStreamInfo StreamInfo;
  int TargetType = 0;    // 0 none, 1 "vcd", 2 "svcd", 3 "dvd"
  int NormType = 0;      // 0 "auto", 1 "pal", 2 "ntsc"; others "auto"
  int FallbackNorm = 1;  // 1 "pal", anything else "ntsc"
  bool AudioHook = false;
  bool VideoInputHook = false;
  bool VideoOutputHook = false;
  int HookBitsPerPixel = 24;
  bool Join = false;
  std::string ExtraOptions;  // option text
  // The quality class: "fast", "standard" or "best" (QualityClass.h); empty: standard.
  std::string Quality;
  // Encode the task in two passes: a first one that only gathers the rate-control
  // statistics (no output written), then the real one, which meets the video bit rate
  // closely. Asked on the task's first output, it holds for every output of the task.
  bool TwoPass = false;
};

// Resets a record to its unset values.
inline void InitInputOptions(TInputOptions& options) {
  options = TInputOptions{};
}
inline void InitOutputOptions(TOutputOptions& options) {
  options = TOutputOptions{};
}

}  // namespace tovamo
