// The settings of one conversion job that a caller may set: what the option vocabulary
// writes (directly or through its handlers) and the owner may read back. The engine
// (TCustomFFmpeg) is built on this record; its run state and internals are its own.
// The member initialisers are the defaults of a new job.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Engine/PictureFit.h"
#include "Services/FFHeaders.h"
#include "Services/FFLog.h"

namespace tovamo {

// Stream map: input file and stream, and the stream that drives its timing.
struct TStreamMap {
  int FileIndex = 0;
  int StreamIndex = 0;
  int SyncFileIndex = 0;
  int SyncStreamIndex = 0;
};

// One side of a metadata map: file, type ('g' global, 's' stream, 'c' chapter,
// 'p' program) and index.
struct TMetadataMapSide {
  int File = 0;
  char Type = 'g';
  int Index = 0;
};
struct TMetadataMap {
  TMetadataMapSide Out;
  TMetadataMapSide In;
};

struct TChapterMap {
  int InFile = 0;
  int OutFile = 0;
};

// One bitstream filter of a chain: its name and its arguments ("option=value:option=value").
struct TBitstreamFilterSpec {
  std::string Name;
  std::string Args;
};

using TQuantMatrix = std::array<std::uint16_t, 64>;

// Media type order of the per-type tables: video, audio, data, subtitle, attachment.
constexpr int kMediaTypeCount = 5;

enum class TStagePolicy { kAuto, kOn, kOff };

struct TEngineSettings {
  // ---- Mapping tables ------------------------------------------------------------------
  std::vector<TStreamMap> StreamMaps;
  std::vector<TMetadataMap> MetadataMaps;
  bool MetadataGlobalAutocopy = true;
  bool MetadataStreamsAutocopy = true;
  bool MetadataChaptersAutocopy = true;
  std::vector<TChapterMap> ChapterMaps;
  std::vector<int> StreamIdMap;  // indexed by output stream; its size is the count

  // ---- Option settings ---------------------------------------------------------------
  std::string ForcedFormat;
  std::int64_t RecordingTime = INT64_MAX;  // unlimited
  std::int64_t LimitFileSize = 0;
  std::int64_t StartTime = 0;
  std::int64_t InputTsOffset = 0;
  std::int64_t RecordingTimestamp = 0;  // seconds
  AVDictionary* Metadata = nullptr;     // for the next output
  int MaxFrames[kMediaTypeCount] = {INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX};
  bool PacketDump = false;
  bool HexDump = false;
  bool RateEmulation = false;
  bool LoopInput = false;
  int LoopOutput = -1;
  int Verbose = 1;
  std::optional<TLogLevel> JobLogLevel;  // "loglevel" and "debug": this job's lines only
  int ThreadCount = 1;
  // Whether the job splits its work into stages on threads of their own (JobPipeline.h);
  // by default when its codecs get threads of their own.
  TStagePolicy Stages = TStagePolicy::kAuto;
  int VideoSyncMethod = -1;
  int AudioSyncMethod = 0;
  float AudioDriftThreshold = 0.1f;
  int VideoGlobalHeader = 0;
  bool CopyTs = false;
  bool CopyTb = false;
  bool Shortest = false;
  float DtsDeltaThreshold = 10.0f;
  int ProgramId = 0;
  bool ExitOnError = false;
  int CopyInitialNonKeyframes = 0;
  AVRational FrameRate = {25, 0};
  AVRational FrameRateMax = {0, 0};  // the output's rate is at most this; 0/0 no limit
  int FrameWidth = 0;
  int FrameHeight = 0;
  float FrameAspectRatio = 0;
  // The display aspects a disc target's standard allows: 0 any, 1 only 4:3, 2 4:3 or 16:9.
  int StandardAspects = 0;
  // How a picture of another display shape fills the output's frame.
  TPictureFit PictureFit = TPictureFit::Pad;
  int FramePixFmt = -1;  // AVPixelFormat, -1 none
  bool IntraOnly = false;
  bool VideoDisable = false;
  int VideoDiscard = 0;
  float VideoQscale = 0;
  std::string RcOverride;
  std::string VideoCodecName;
  int VideoStreamCopy = 0;
  int MeThreshold = 0;
  bool SameQuality = false;
  int Pass = 0;
  std::string PassLogFilePrefix;
  bool Deinterlace = false;
  bool Psnr = false;
  std::string VstatsFileName;
  std::string VideoFilters;
  std::optional<TQuantMatrix> IntraMatrix;
  std::optional<TQuantMatrix> InterMatrix;
  int TopFieldFirst = -1;
  int IntraDcPrecision = 8;
  std::uint32_t VideoCodecTag = 0;
  std::string VideoLanguage;
  bool QpHistogram = false;
  bool ForceFps = false;
  std::string ForcedKeyFrames;
  float AudioQscale = -99999;
  int AudioSampleRate = 44100;
  int AudioChannels = 2;
  bool AudioDisable = false;
  std::string AudioCodecName;
  int AudioStreamCopy = 0;
  std::uint32_t AudioCodecTag = 0;
  int AudioVolume = 256;
  std::string AudioLanguage;
  int AudioSampleFmt = -1;  // AVSampleFormat, -1 none
  bool SubtitleDisable = false;
  std::string SubtitleCodecName;
  int SubtitleStreamCopy = 0;
  std::string SubtitleLanguage;
  std::uint32_t SubtitleCodecTag = 0;
  int VideoChannel = 0;
  std::string VideoStandard;
  bool InputSync = false;
  float MuxMaxDelay = 0.7f;
  float MuxPreload = 0.5f;
  std::uint64_t ChannelLayout = 0;
  int ScalerFlags = SWS_BICUBIC;
  // Bitstream filter chains, in the order added. Each stream builds its own chain from
  // them at set-up, when its parameters are known; a new stream takes the chain over.
  std::vector<TBitstreamFilterSpec> VideoBitstreamFilters;
  std::vector<TBitstreamFilterSpec> AudioBitstreamFilters;
  std::vector<TBitstreamFilterSpec> SubtitleBitstreamFilters;
  // Whether a picture is turned upright as its display matrix says ("autorotate").
  bool AutoRotate = true;
  // The picture shape the last opened input gave as the outputs' default, as stored and
  // as turned upright: "autorotate" given after the open switches between them.
  struct TInputShape {
    int Width = 0, Height = 0;
    float Aspect = 0;
  };
  TInputShape StoredShape, TurnedShape;
  bool FramePixFmtAsked = false;  // FramePixFmt was given as an option, not taken from an input
  // How far an output may grow past what its streams' rates give for the input's length
  // (OutputBounds.cpp): a multiple of those rates, plus fixed room for headers and short
  // inputs. Tests narrow it to reach the bound with short clips.
  double OutputRateHeadroom = 4;
  std::int64_t OutputSlackBytes = 16 * 1024 * 1024;
  std::int64_t OutputSlackMicros = 10'000'000;
  std::string BurnSubtitles;  // "N:PATH": subtitles drawn into the picture (SubtitleBurn.h)
};

}  // namespace tovamo
