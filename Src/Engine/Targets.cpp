// The target presets vcd, svcd, dvd, dv and dv50: each sets a whole group of options for
// a norm (PAL, NTSC or FILM) that is given or detected from the frame rate and the inputs.
#include <cmath>

#include "Engine/FFmpeg.h"
#include "Engine/InputNorm.h"
#include "Services/Text.h"

namespace tovamo {
namespace {

enum class TNorm { Unknown, Pal, Ntsc, Film };

TNorm NormOfType(int normType) {
  return normType == 1 ? TNorm::Pal : normType == 2 ? TNorm::Ntsc : TNorm::Unknown;
}

constexpr double kStandard = 4.0 / 3.0;
constexpr double kWide = 16.0 / 9.0;

}  // namespace

double TCustomFFmpeg::OutputDisplayAspect() const {
  const double asked = FrameAspectRatio;
  if (StandardAspects == 0 || !(asked > 0)) return asked;
  if (StandardAspects == 1) return kStandard;
  // Nearer as a proportion: 1.54 lies as far from 4:3 as from 16:9.
  return std::fabs(std::log(asked / kStandard)) <= std::fabs(std::log(asked / kWide)) ? kStandard
                                                                                      : kWide;
}

void TCustomFFmpeg::OptTarget(const std::string&, const std::string& value) {
  const std::string text = TrimText(value);
  static const char* const kPrefixes[] = {"pal", "ntsc", "film"};
  for (const char* norm : kPrefixes) {
    const std::string prefix = std::string(norm) + "-";
    if (text.compare(0, prefix.size(), prefix) == 0) {
      SetTarget(text.substr(prefix.size()), norm, "ntsc");
      return;
    }
  }
  SetTarget(text, "auto", "ntsc");
}

void TCustomFFmpeg::SetTarget(const std::string& target, const std::string& norm,
                              const std::string& defaultNorm) {
  TNorm n = TNorm::Unknown;
  if (norm == "pal") {
    n = TNorm::Pal;
  } else if (norm == "ntsc") {
    n = TNorm::Ntsc;
  } else if (norm == "film") {
    n = TNorm::Film;
  } else {
    // Inputs without any picture have no rate to tell the norm: the default norm serves.
    const bool picturesIn = CheckInputStreams(false).HasVideo;
    if (FrameRate.den == 0 && (picturesIn || InputFileCount == 0))
      throw FFmpegException("frame_rate is invalid.");
    n = NormOfType(NormTypeOfRate(FrameRate));
    // Then the inputs' video streams decide, the first that names a norm.
    for (int j = 0; n == TNorm::Unknown && j < InputFileCount && j < int(InputFiles.size()); ++j)
      n = NormOfType(InputNormType(InputFiles[j]));
    if (n == TNorm::Unknown)
      n = defaultNorm == "film" ? TNorm::Film : defaultNorm == "ntsc" ? TNorm::Ntsc : TNorm::Pal;
    if (Verbose > 0) LogFmt(llVerbose, "Assuming %s for target.", n == TNorm::Pal ? "PAL" : "NTSC");
  }

  const bool pal = n == TNorm::Pal;
  const char* const rate = pal ? "25" : n == TNorm::Ntsc ? "30000/1001" : "24000/1001";
  const char* const gop = pal ? "15" : "18";
  // Generic settings follow the rule of option texts: a rejected one fails the target
  // while options are strict and is dropped otherwise.
  const auto generic = [this](const char* name, const char* value) {
    if (!SetGenericOption(name, value) && StrictOptions)
      throw FFmpegException(ThreadLastOptionError());
  };
  // Two B-pictures between references, which all three MPEG disc standards allow: on
  // natural pictures about 1.5 dB more at the same rate. The stronger quantiser compression
  // spends the bits the B-pictures save where the picture is busy, and the temporal
  // complexity mask gives them to the still parts of a picture, where the eye sees the loss.
  // B-pictures a step coarser than the encoder's own 1.25 leave the bits to the references
  // they are predicted from: 0.35 dB more on a pan, a tenth less on grain. A quantiser down
  // to 1 lets easy pictures take the rate they are given instead of stopping at 2 with much
  // of it unspent (a ticker over light noise: 2.5 of 6 Mbit/s, 0.6 dB lost). The encoder's adaptive
  // count of B-pictures (b_strategy=1) is not used: it compares pictures without motion, and
  // dropped them from a brisk pan, a decibel lost, to spare grain a tenth.
  const auto bPictures = [&generic]() {
    generic("bf", "2");
    generic("qcomp", "0.7");
    generic("tcplx_mask", "0.1");
    generic("b_qfactor", "1.6");
    generic("qmin", "1");
    generic("lmin", "118");  // the rate control's floor: quantiser 1 as a Lagrange factor
  };
  const auto aspect = [this](float ratio, const char* text) {
    if (FrameAspectRatio != 0) return;
    FrameAspectRatio = ratio;
    LogFmt(llInfo, "Assuming %s for aspect ratio", text);
  };

  if (target == "vcd") {
    ParseOption("vcodec", "mpeg1video");
    ParseOption("acodec", "mp2");
    ParseOption("f", "vcd");
    ParseOption("s", pal ? "352x288" : "352x240");
    ParseOption("r", rate);
    generic("g", gop);
    generic("b", "1150000");
    generic("maxrate", "1150000");
    generic("minrate", "1150000");
    generic("bufsize", "327680");  // 40 KiB, in bits
    bPictures();
    generic("ab", "224000");
    AudioSampleRate = 44100;
    AudioChannels = 2;
    generic("packetsize", "2324");
    generic("muxrate", "1411200");  // 75 sectors of 2352 bytes per second
    // The leading delay of a VCD stream; the VCD standard allows at most 0.44 s.
    MuxPreload = 0.44f;
    aspect(4.0f / 3.0f, "4:3");
  } else if (target == "svcd") {
    ParseOption("vcodec", "mpeg2video");
    ParseOption("acodec", "mp2");
    ParseOption("f", "svcd");
    ParseOption("s", pal ? "480x576" : "480x480");
    ParseOption("r", rate);
    generic("g", gop);
    generic("b", "2040000");
    generic("maxrate", "2516000");
    generic("minrate", "0");
    generic("bufsize", "1835008");  // 224 KiB, in bits
    bPictures();
    // Space for the SVCD scan offsets: once the "scan_offset" value of "flags", today a
    // private option of the MPEG-2 encoder.
    generic("scan_offset", "1");
    generic("ab", "224000");
    AudioSampleRate = 44100;
    generic("packetsize", "2324");
    if (AudioChannels == 1) AudioChannels = 2;
    aspect(4.0f / 3.0f, "4:3");
  } else if (target == "dvd") {
    ParseOption("vcodec", "mpeg2video");
    ParseOption("acodec", "ac3");
    ParseOption("f", "dvd");
    ParseOption("s", pal ? "720x576" : "720x480");
    ParseOption("r", rate);
    generic("g", gop);
    generic("b", "6000000");
    generic("maxrate", "9000000");
    generic("minrate", "0");
    generic("bufsize", "1835008");
    bPictures();
    generic("packetsize", "2048");
    generic("muxrate", "10080000");  // 10.08 Mbit/s, the DVD's maximum
    generic("ab", "448000");
    AudioSampleRate = 48000;
    if (AudioChannels == 1) AudioChannels = 2;
    aspect(16.0f / 9.0f, "16:9");
  } else if (target == "dv" || target == "dv50") {
    ParseOption("f", "dv");
    ParseOption("s", pal ? "720x576" : "720x480");
    ParseOption("pix_fmt", target == "dv50" ? "yuv422p" : pal ? "yuv420p" : "yuv411p");
    ParseOption("r", rate);
    AudioSampleRate = 48000;
    AudioChannels = 2;
  } else {
    throw FFmpegException("Unknown target type");
  }
  // A VCD is 4:3; an SVCD or a DVD 4:3 or 16:9. The aspect asked for, or the input's,
  // becomes the nearer of those when the output's stream is made.
  StandardAspects = target == "vcd" ? 1 : target == "svcd" || target == "dvd" ? 2 : 0;
}

}  // namespace tovamo
