#include "Authoring/MenuVideo.h"

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "Engine/FFmpeg.h"

namespace tovamo::authoring {

namespace {

// Long enough for a player to take the still and its sound; the menu then holds the last
// picture until a button is pressed.
constexpr double kMenuSeconds = 0.4;

void Le(std::string& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += char((value >> (8 * i)) & 0xFF);
}

void Be32(std::string& out, std::uint32_t value) {
  for (int i = 3; i >= 0; --i) out += char((value >> (8 * i)) & 0xFF);
}

// An ID3v2.3 tag holding one picture frame (the front cover).
std::string CoverTag(const std::string& png) {
  std::string frame = std::string("\0image/png\0\x03\0", 13) + png;
  std::string apic = "APIC";
  Be32(apic, std::uint32_t(frame.size()));
  apic += std::string("\0\0", 2) + frame;
  const std::uint32_t n = std::uint32_t(apic.size());
  std::string tag = std::string("ID3\x03\0\0", 6);
  for (int shift : {21, 14, 7, 0}) tag += char((n >> shift) & 0x7F);  // 7 bits a byte
  return tag + apic;
}

}  // namespace

bool MpegFileWide(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string head(1 << 20, '\0');
  in.read(head.data(), std::streamsize(head.size()));
  head.resize(std::size_t(in.gcount()));
  const std::size_t at = head.find(std::string("\x00\x00\x01\xB3", 4));
  return at != std::string::npos && at + 8 <= head.size() && ((head[at + 7] >> 4) & 0x0F) == 3;
}

bool WriteStillSource(const std::string& png, double seconds, const std::string& wav,
                      std::string& error) {
  std::ifstream in(png, std::ios::binary);
  const std::string picture((std::istreambuf_iterator<char>(in)), {});
  if (picture.empty()) {
    error = "cannot read the menu picture \"" + png + "\"";
    return false;
  }
  std::string tag = CoverTag(picture);
  if (tag.size() % 2) tag += '\0';  // chunks start on even offsets
  const std::uint32_t rate = 48000, channels = 2;
  const std::uint32_t samples = std::uint32_t(seconds * rate);
  const std::uint32_t dataBytes = samples * channels * 2;
  std::string body = "WAVEfmt ";
  Le(body, 16, 4);
  Le(body, 1, 2);  // plain PCM
  Le(body, channels, 2);
  Le(body, rate, 4);
  Le(body, rate * channels * 2, 4);
  Le(body, channels * 2, 2);
  Le(body, 16, 2);
  body += "id3 ";
  Le(body, std::uint32_t(tag.size()), 4);
  body += tag;
  body += "data";
  Le(body, dataBytes, 4);
  std::string riff = "RIFF";
  Le(riff, std::uint32_t(body.size() + dataBytes), 4);
  std::ofstream out(wav, std::ios::binary);
  out << riff << body << std::string(dataBytes, '\0');
  if (!out.flush()) {
    error = "cannot write \"" + wav + "\"";
    return false;
  }
  return true;
}

bool MakeMenuVideo(const std::string& png, TDiscNorm norm, bool wide, const std::string& mpg,
                   std::string& error) {
  const std::string source = mpg + ".wav";
  if (!WriteStillSource(png, kMenuSeconds, source, error)) return false;
  TFFmpeg engine(1);
  bool made = false;
  try {
    if (!engine.OpenInputFile(source)) {
      error = engine.LastError;
    } else {
      const std::string normName = norm == TDiscNorm::Ntsc ? "ntsc" : "pal";
      engine.SetTarget("dvd", normName, normName);
      engine.ParseOption("aspect", wide ? "16:9" : "4:3");
      // Pictures that each decode alone: a player starting the still anywhere, or going
      // back to it, shows it whole instead of guessing at a missing reference picture.
      engine.ParseOption("g", "1");
      if (engine.AddOutputFile(mpg, false) < 0) {
        error = engine.LastError;
      } else {
        engine.Start(false);
        made = engine.Finished && !engine.ErrorFlag;
        if (!made) error = engine.ErrorMessage.empty() ? "not finished" : engine.ErrorMessage;
      }
    }
  } catch (const std::exception& e) {
    error = e.what();
  }
  std::remove(source.c_str());
  if (!made) error = "the menu picture did not convert: " + error;
  return made;
}

}  // namespace tovamo::authoring
