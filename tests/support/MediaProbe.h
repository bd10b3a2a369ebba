// Reads media files back through the loaded libraries, so that tests judge an output by
// what is in it rather than by the settings that made it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tovamo::test {

struct TPacketInfo {
  int Stream = 0;
  std::int64_t Pts = 0;  // microseconds; INT64_MIN when unknown
  std::int64_t Dts = 0;  // microseconds; INT64_MIN when unknown
  bool Key = false;
  std::uint32_t Crc = 0;  // of the payload
  int Size = 0;
  std::int64_t Duration = 0;  // microseconds; 0 when unknown
};

struct TStreamInfo {
  int Type = -1;  // AVMediaType
  std::string Codec;
  int Width = 0, Height = 0;
  int SampleRate = 0, Channels = 0;
  int SarNum = 0, SarDen = 1;          // sample aspect ratio
  int RateNum = 0, RateDen = 1;        // average frame rate
  std::int64_t StartTime = INT64_MIN;  // microseconds
  std::int64_t BitRate = 0;
  int Profile = -99, Level = -99;  // the codec's (FF_PROFILE_*, level_idc), -99 unknown
  double DisplayAspect() const {
    return Height > 0 ? double(Width) * (SarNum ? double(SarNum) / SarDen : 1.0) / Height : 0;
  }
};

struct TMediaInfo {
  bool Opened = false;
  std::string Format;  // the demuxer's short name
  std::int64_t Duration = INT64_MIN;
  std::vector<TStreamInfo> Streams;
  std::vector<TPacketInfo> Packets;  // in file order
  bool ReadToEnd = false;            // the reading ended at the end of the file, not at an error
  std::vector<std::pair<std::string, std::string>> Metadata;  // global
  int Chapters = 0;

  std::vector<TPacketInfo> PacketsOf(int stream) const;
  int StreamOfType(int type, int nth = 0) const;  // -1 when none
  std::string MetadataValue(const std::string& key) const;
};

// Opens and reads the whole file (the libraries must be loaded).
TMediaInfo ProbeMedia(const std::string& path);

// The luma plane of the n-th decoded picture of the file's first video stream (rows of
// Width bytes), empty when there is none.
struct TLumaPicture {
  int Width = 0, Height = 0;
  std::vector<std::uint8_t> Luma;
  double Mean(int x, int y, int w, int h) const;  // over a rectangle
};
TLumaPicture DecodeLuma(const std::string& path, int n);

// The type of each decoded picture of the file's first video stream, in display order:
// "IBBP..." ('?' for another type).
std::string PictureTypes(const std::string& path);
// The decoded pictures' times (best effort, in the stream's time base), in showing order.
std::vector<std::int64_t> PictureTimes(const std::string& path);

}  // namespace tovamo::test
