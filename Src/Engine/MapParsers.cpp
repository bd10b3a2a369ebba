// Option handlers for index lists: stream maps, metadata maps, chapter maps, output stream
// ids and per-stream timestamp scales. Indices are read the way strtol reads them (decimal,
// "0x" hexadecimal or leading-zero octal, reading stops at the first character that does
// not fit), and each entry is appended only once the whole value has been read.
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "Engine/FFmpeg.h"
#include "Engine/OptionNumbers.h"

namespace tovamo {
namespace {

// strtol at p, advancing p past what was read. Values beyond the int range are clamped:
// later stages reject indices that name no file or stream, so a clamped index fails there
// with a clear message instead of wrapping around to a valid-looking one.
int ReadInt(const char*& p) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(p, &end, 0);
  p = end;
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return int(v);
}

void SkipOne(const char*& p) {
  if (*p) ++p;
}

// The optional ",type[index]" part of one side of a metadata map.
void ReadMetadataType(const char*& p, TMetadataMapSide& side) {
  if (*p != ',') {
    side.Type = 'g';
    return;
  }
  ++p;
  side.Type = *p;
  switch (*p) {
    case 'g':
      ++p;  // the letter is consumed, so that the input side is read after it
      break;
    case 's':
    case 'c':
    case 'p':
      ++p;
      side.Index = ReadInt(p);
      break;
    default:
      throw FFmpegException("Invalid metadata type " + std::string(p, *p ? 1 : 0) + ".");
  }
}

// Output stream ids beyond the library's default stream limit of one file name no stream.
constexpr int kMaxStreamIdIndex = 1000;

}  // namespace

void TCustomFFmpeg::OptMap(const std::string&, const std::string& value) {
  TStreamMap map;
  const char* p = value.c_str();
  map.FileIndex = ReadInt(p);
  SkipOne(p);
  map.StreamIndex = ReadInt(p);
  if (*p) {
    ++p;
    map.SyncFileIndex = ReadInt(p);
    SkipOne(p);
    map.SyncStreamIndex = ReadInt(p);
  } else {
    map.SyncFileIndex = map.FileIndex;
    map.SyncStreamIndex = map.StreamIndex;
  }
  StreamMaps.push_back(map);
}

void TCustomFFmpeg::OptMapMetaData(const std::string&, const std::string& value) {
  TMetadataMap map;
  const char* p = value.c_str();
  map.Out.File = ReadInt(p);
  ReadMetadataType(p, map.Out);
  SkipOne(p);
  map.In.File = ReadInt(p);
  ReadMetadataType(p, map.In);
  MetadataMaps.push_back(map);
  const auto either = [&](char type) { return map.Out.Type == type || map.In.Type == type; };
  if (either('g')) MetadataGlobalAutocopy = false;
  if (either('s')) MetadataStreamsAutocopy = false;
  if (either('c')) MetadataChaptersAutocopy = false;
}

void TCustomFFmpeg::OptMapChapters(const std::string&, const std::string& value) {
  TChapterMap map;
  const char* p = value.c_str();
  map.OutFile = ReadInt(p);
  SkipOne(p);
  map.InFile = ReadInt(p);
  ChapterMaps.push_back(map);
}

void TCustomFFmpeg::OptStreamId(const std::string& name, const std::string& value) {
  if (value.empty()) return;
  const auto invalid = [&] {
    return FFmpegException("Invalid value \"" + value + "\" for option \"" + name +
                           "\", required syntax is \"index:value\"");
  };
  const std::size_t colon = value.find(':');
  if (colon == std::string::npos) throw invalid();
  int index = 0, id = 0;
  if (!TryStrToInt(value.substr(0, colon), index) || !TryStrToInt(value.substr(colon + 1), id))
    throw invalid();
  if (index < 0 || index >= kMaxStreamIdIndex || id < 0) throw invalid();
  if (StreamIdMap.size() < std::size_t(index) + 1) StreamIdMap.resize(std::size_t(index) + 1, 0);
  StreamIdMap[index] = id;
}

// "index:scale". The scale is the whole rest of the text, a decimal number read the same
// way in every locale; a text that is no such number, or a scale that is not positive,
// would turn every timestamp of the stream into garbage and is refused.
void TCustomFFmpeg::OptInputTsScale(const std::string&, const std::string& value) {
  const char* p = value.c_str();
  char* end = nullptr;
  errno = 0;
  const long index = std::strtol(p, &end, 0);
  p = end;
  SkipOne(p);
  if (index < 0 || index >= kMaxStreams)
    throw FFmpegException("stream index over MAX_STREAMS(" + std::to_string(kMaxStreams) + ")");
  double scale = 0;
  if (!TryStrToFloat(p, scale) || !(scale > 0))
    throw FFmpegException("Invalid timestamp scale " + value);
  if (InputFileCount < 0 || InputFileCount >= int(InputTsScales.size()))
    throw FFmpegException("Too many input files");
  std::vector<double>& scales = InputTsScales[InputFileCount];
  if (scales.size() < std::size_t(index) + 1) scales.resize(std::size_t(index) + 1, 0.0);
  scales[index] = scale;
}

}  // namespace tovamo
