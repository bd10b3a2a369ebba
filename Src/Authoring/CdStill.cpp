#include "Authoring/CdStill.h"

#include <cstdio>
#include <exception>
#include <fstream>
#include <iterator>

#include "Engine/FFmpeg.h"

namespace tovamo::authoring {

namespace {

constexpr unsigned char kMotionVideo = 0xE0;
constexpr unsigned char kStillVideo = 0xE1;

}  // namespace

bool MarkVideoAsStill(std::string& stream) {
  std::string marked = stream;
  const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(marked[at]); };
  const std::size_t size = marked.size();
  std::size_t at = 0;
  int packets = 0;
  while (at < size) {
    // The disc muxers fill each sector's end with zeros after the last packet.
    if (byte(at) == 0 && (at + 3 >= size || byte(at + 1) != 0 || byte(at + 2) != 1)) {
      ++at;
      continue;
    }
    if (at + 6 > size || byte(at) != 0 || byte(at + 1) != 0 || byte(at + 2) != 1) return false;
    const unsigned char code = byte(at + 3);
    if (code == 0xB9) {  // the end of the stream
      at += 4;
      continue;
    }
    if (code == 0xBA) {  // a pack header: MPEG-2 (with its stuffing) or MPEG-1
      if ((byte(at + 4) >> 6) == 1) {
        if (at + 14 > size) return false;
        at += 14 + (byte(at + 13) & 7);
      } else {
        at += 12;
      }
      continue;
    }
    if (code < 0xBB) return false;
    const std::size_t length = std::size_t(byte(at + 4)) << 8 | byte(at + 5);
    if (at + 6 + length > size) return false;
    if (code == 0xBB) {  // the system header lists each stream with 3 bytes
      for (std::size_t entry = at + 12; entry + 3 <= at + 6 + length; entry += 3)
        if (byte(entry) == kMotionVideo) marked[entry] = char(kStillVideo);
    } else if (code == kMotionVideo) {
      marked[at + 3] = char(kStillVideo);
      ++packets;
    }
    at += 6 + length;
  }
  if (packets == 0) return false;
  stream = std::move(marked);
  return true;
}

bool MakeCdStill(const std::string& picture, const std::string& still, TDiscKind kind,
                 TDiscNorm norm, std::string& reason) {
  const std::string converted = still + ".part";
  try {
    TFFmpeg engine(1);
    if (!engine.OpenInputFile(picture)) {
      reason = "cannot read the selection screen's picture: " + engine.LastError;
      return false;
    }
    engine.SetTarget(kind == TDiscKind::Svcd ? "svcd" : "vcd",
                     norm == TDiscNorm::Ntsc ? "ntsc" : "pal", "pal");
    engine.ParseOption("aspect", "4:3");
    if (engine.AddOutputFile(converted, false) < 1) {
      reason = "cannot make the selection screen's still: " + engine.LastError;
      return false;
    }
    engine.Start(false);
    if (!engine.Finished) {
      reason = "cannot make the selection screen's still: " + engine.ErrorMessage;
      return false;
    }
  } catch (const std::exception& e) {
    reason = std::string("cannot make the selection screen's still: ") + e.what();
    return false;
  }
  std::ifstream in(converted, std::ios::binary);
  std::string stream((std::istreambuf_iterator<char>(in)), {});
  in.close();
  std::remove(converted.c_str());
  if (!MarkVideoAsStill(stream)) {
    reason = "the selection screen's still is not an MPEG program stream with video";
    return false;
  }
  std::ofstream out(still, std::ios::binary);
  out << stream;
  if (!out.flush()) {
    reason = "cannot write the selection screen's still \"" + still + "\"";
    return false;
  }
  return true;
}

}  // namespace tovamo::authoring
