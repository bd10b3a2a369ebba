// The target presets: norm detection (from the frame rate, the opened inputs' video streams
// or the fallback) and the whole group of settings each target applies.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "Engine/FFmpeg.h"
#include "Services/Exceptions.h"
#include "Services/FFBindings.h"
#include "Services/FFLog.h"
#include "support/TestSupport.h"
#include "support/LogCapture.h"
#include "support/TestLocale.h"

namespace tovamo {
namespace {

using test::TLogCapture;

using test::RaisedMessage;

// The libraries are loaded before the engine is built: it makes its option contexts with them.
struct TLoadedLibraries {
  TLoadedLibraries() { test::LoadSystemLibraries(); }
};

class Targets : public ::testing::Test {
 protected:
  TLoadedLibraries Libraries;
  void TearDown() override {
    for (int i = 0; i < Engine.InputFileCount; ++i)
      if (Engine.InputFiles[i]) ff::avformat_close_input(&Engine.InputFiles[i]);
    Engine.InputFileCount = 0;
  }
  // Opens a generated test file into the engine's next input slot, as an opened input.
  void AddInput(const std::string& fixture) {
    AVFormatContext* context = nullptr;
    ASSERT_GE(ff::avformat_open_input(&context, test::Fixture(fixture).c_str(), nullptr, nullptr),
              0)
        << fixture;
    Engine.InputFiles[Engine.InputFileCount++] = context;
    ASSERT_GE(ff::avformat_find_stream_info(context, nullptr), 0) << fixture;
  }
  // The norm the detection logged, with an unknown target so that nothing else happens.
  std::vector<std::string> DetectedNorm(const std::string& defaultNorm) {
    TLogCapture log;
    EXPECT_EQ(RaisedMessage([&] { Engine.SetTarget("none", "auto", defaultNorm); }),
              "Unknown target type");
    return log.StartingWith(llVerbose, "Assuming");
  }
  using TLines = std::vector<std::string>;
  const TLines Pal{"Assuming PAL for target."};
  const TLines Ntsc{"Assuming NTSC for target."};

  TFFmpeg Engine{8};
};

// ---- Norm detection ---------------------------------------------------------------------

TEST_F(Targets, AutoNormWithoutFrameRateRaisesBeforeAnything) {
  TLogCapture log;
  for (const char* value : {"vcd", "dvd", "bogus", " dv ", "NTSC-vcd"}) {
    EXPECT_EQ(RaisedMessage([&] { Engine.OptTarget("target", value); }), "frame_rate is invalid.")
        << value;
  }
  EXPECT_EQ(RaisedMessage([&] { Engine.SetTarget("svcd", "", "pal"); }), "frame_rate is invalid.");
  EXPECT_TRUE(log.StartingWith(llVerbose, "Assuming").empty());
  EXPECT_EQ(Engine.VideoCodecName, "");
  EXPECT_EQ(Engine.ForcedFormat, "");
}

TEST_F(Targets, GivenNormNeedsNoFrameRateAndUnknownTargetStillRaises) {
  TLogCapture log;
  for (const char* value : {"pal-bogus", "ntsc-", "film-VCD", " pal-dvd5"}) {
    EXPECT_EQ(RaisedMessage([&] { Engine.OptTarget("target", value); }), "Unknown target type")
        << value;
  }
  EXPECT_TRUE(log.StartingWith(llVerbose, "Assuming").empty());
}

TEST_F(Targets, FrameRateDecidesTheNorm) {
  const struct {
    AVRational Rate;
    const char* Fallback;
    bool IsPal;
  } cases[] = {
      {{25, 1}, "ntsc", true},       {{50, 2}, "ntsc", true},
      {{30000, 1001}, "pal", false}, {{24000, 1001}, "pal", false},
      {{2997, 100}, "pal", false},   {{15, 1}, "pal", true},  // nothing decides: fallback
      {{15, 1}, "ntsc", false},      {{15, 1}, "film", false},
      {{15, 1}, "anything", true},
  };
  for (const auto& c : cases) {
    Engine.FrameRate = c.Rate;
    EXPECT_EQ(DetectedNorm(c.Fallback), c.IsPal ? Pal : Ntsc)
        << c.Rate.num << "/" << c.Rate.den << " " << c.Fallback;
  }
}

TEST_F(Targets, DetectionLogsOnlyWhenVerbose) {
  Engine.FrameRate = {25, 1};
  Engine.Verbose = 0;
  EXPECT_TRUE(DetectedNorm("ntsc").empty());
  Engine.Verbose = 2;
  EXPECT_EQ(DetectedNorm("ntsc"), Pal);
}

TEST_F(Targets, OpenedInputsVideoRateDecidesTheNorm) {
  Engine.FrameRate = {15, 1};  // a rate that names no norm
  AddInput("sample.mpg");      // 25 frames/s
  EXPECT_EQ(DetectedNorm("ntsc"), Pal);
}

TEST_F(Targets, OpenedNtscInputGivesNtsc) {
  Engine.FrameRate = {15, 1};
  AddInput("ntsc_29_97.mpg");
  EXPECT_EQ(DetectedNorm("pal"), Ntsc);
}

TEST_F(Targets, FirstDecidingVideoStreamOfAllInputsWins) {
  Engine.FrameRate = {15, 1};
  AddInput("audio_only.wav");  // no video stream
  AddInput("rate_15.avi");     // a video stream that names no norm
  AddInput("ntsc_29_97.mpg");
  AddInput("sample.mpg");
  EXPECT_EQ(DetectedNorm("pal"), Ntsc);
}

TEST_F(Targets, UndecidedInputsFallBackAndTheFrameRateComesFirst) {
  Engine.FrameRate = {15, 1};
  AddInput("rate_15.avi");
  EXPECT_EQ(DetectedNorm("pal"), Pal);
  EXPECT_EQ(DetectedNorm("ntsc"), Ntsc);
  AddInput("ntsc_29_97.mpg");
  Engine.FrameRate = {25, 1};
  EXPECT_EQ(DetectedNorm("ntsc"), Pal);
}

// ---- The targets' settings (need ParseOption) --------------------------------------------

struct TGroup {
  const char* Value;
  const char* VideoCodec;
  const char* AudioCodec;
  const char* Format;
  int Width, Height;
  AVRational Rate;
  int PixFmt;
  int SampleRate;
  float Preload;
  float Aspect;
};

const float k43 = 4.0f / 3.0f, k169 = 16.0f / 9.0f;
const AVRational kPal{25, 1}, kNtsc{30000, 1001}, kFilm{24000, 1001};

const TGroup kGroups[] = {
    {"pal-vcd", "mpeg1video", "mp2", "vcd", 352, 288, kPal, -1, 44100, 0.44f, k43},
    {"ntsc-vcd", "mpeg1video", "mp2", "vcd", 352, 240, kNtsc, -1, 44100, 0.44f, k43},
    {"film-vcd", "mpeg1video", "mp2", "vcd", 352, 240, kFilm, -1, 44100, 0.44f, k43},
    {"pal-svcd", "mpeg2video", "mp2", "svcd", 480, 576, kPal, -1, 44100, 0.5f, k43},
    {"ntsc-svcd", "mpeg2video", "mp2", "svcd", 480, 480, kNtsc, -1, 44100, 0.5f, k43},
    {"film-svcd", "mpeg2video", "mp2", "svcd", 480, 480, kFilm, -1, 44100, 0.5f, k43},
    {"pal-dvd", "mpeg2video", "ac3", "dvd", 720, 576, kPal, -1, 48000, 0.5f, k169},
    {"ntsc-dvd", "mpeg2video", "ac3", "dvd", 720, 480, kNtsc, -1, 48000, 0.5f, k169},
    {"film-dvd", "mpeg2video", "ac3", "dvd", 720, 480, kFilm, -1, 48000, 0.5f, k169},
    {"pal-dv", "", "", "dv", 720, 576, kPal, AV_PIX_FMT_YUV420P, 48000, 0.5f, 0},
    {"ntsc-dv", "", "", "dv", 720, 480, kNtsc, AV_PIX_FMT_YUV411P, 48000, 0.5f, 0},
    {"film-dv", "", "", "dv", 720, 480, kFilm, AV_PIX_FMT_YUV411P, 48000, 0.5f, 0},
    {"pal-dv50", "", "", "dv", 720, 576, kPal, AV_PIX_FMT_YUV422P, 48000, 0.5f, 0},
    {"ntsc-dv50", "", "", "dv", 720, 480, kNtsc, AV_PIX_FMT_YUV422P, 48000, 0.5f, 0},
    {"film-dv50", "", "", "dv", 720, 480, kFilm, AV_PIX_FMT_YUV422P, 48000, 0.5f, 0},
};

TEST_F(Targets, EachTargetSetsItsWholeGroup) {
  for (const TGroup& g : kGroups) {
    SCOPED_TRACE(g.Value);
    TFFmpeg engine(8);
    engine.AudioChannels = 1;
    TLogCapture log;
    engine.OptTarget("target", std::string(" ") + g.Value + " ");
    EXPECT_EQ(engine.VideoCodecName, g.VideoCodec);
    EXPECT_EQ(engine.AudioCodecName, g.AudioCodec);
    EXPECT_EQ(engine.ForcedFormat, g.Format);
    EXPECT_EQ(engine.FrameWidth, g.Width);
    EXPECT_EQ(engine.FrameHeight, g.Height);
    EXPECT_EQ(engine.FrameRate.num, g.Rate.num);
    EXPECT_EQ(engine.FrameRate.den, g.Rate.den);
    EXPECT_EQ(engine.FramePixFmt, g.PixFmt);
    EXPECT_EQ(engine.AudioSampleRate, g.SampleRate);
    EXPECT_EQ(engine.AudioChannels, 2);
    EXPECT_EQ(engine.MuxPreload, g.Preload);
    EXPECT_EQ(engine.FrameAspectRatio, g.Aspect);
    const std::vector<std::string> assumed = log.StartingWith(llInfo, "Assuming");
    if (g.Aspect == 0)
      EXPECT_TRUE(assumed.empty());
    else
      EXPECT_EQ(assumed,
                std::vector<std::string>{g.Aspect == k43 ? "Assuming 4:3 for aspect ratio"
                                                         : "Assuming 16:9 for aspect ratio"});
    EXPECT_TRUE(log.StartingWith(llVerbose, "Assuming").empty());  // the norm was given
  }
}

TEST_F(Targets, AutoNormAppliesTheDetectedNormsSettings) {
  TLogCapture log;
  Engine.FrameRate = {15, 1};
  AddInput("sample.mpg");
  Engine.OptTarget("target", "dvd");
  EXPECT_EQ(log.StartingWith(llVerbose, "Assuming"), Pal);
  EXPECT_EQ(Engine.FrameWidth, 720);
  EXPECT_EQ(Engine.FrameHeight, 576);
  EXPECT_EQ(Engine.FrameRate.num, 25);
  EXPECT_EQ(Engine.FrameRate.den, 1);
}

TEST_F(Targets, GivenAspectAndMultichannelAudioAreKept) {
  TLogCapture log;
  Engine.FrameAspectRatio = 2.35f;
  Engine.AudioChannels = 6;
  Engine.OptTarget("target", "pal-dvd");
  EXPECT_EQ(Engine.FrameAspectRatio, 2.35f);
  EXPECT_EQ(Engine.AudioChannels, 6);  // DVD audio may have more than two channels
  EXPECT_TRUE(log.StartingWith(llInfo, "Assuming").empty());
  Engine.OptTarget("target", "pal-svcd");
  EXPECT_EQ(Engine.AudioChannels, 6);
  Engine.OptTarget("target", "pal-vcd");
  EXPECT_EQ(Engine.AudioChannels, 2);  // VCD audio is always stereo
  Engine.AudioChannels = 6;
  Engine.OptTarget("target", "ntsc-dv");
  EXPECT_EQ(Engine.AudioChannels, 2);
}

// ---- The targets' generic values (need SetGenericOption and the option contexts) ------------

struct TGenericGroup {
  const char* Value;
  std::int64_t Gop, Bitrate, MaxRate, MinRate, BufSize, AudioBitrate, PacketSize;
  const char* MuxRate;     // a private option of the muxer: recorded with its value
  const char* ScanOffset;  // a private option of the MPEG-2 encoder
};

const TGenericGroup kGenericGroups[] = {
    {"pal-vcd", 15, 1150000, 1150000, 1150000, 327680, 224000, 2324, "1411200", nullptr},
    {"ntsc-vcd", 18, 1150000, 1150000, 1150000, 327680, 224000, 2324, "1411200", nullptr},
    {"film-vcd", 18, 1150000, 1150000, 1150000, 327680, 224000, 2324, "1411200", nullptr},
    {"pal-svcd", 15, 2040000, 2516000, 0, 1835008, 224000, 2324, nullptr, "1"},
    {"ntsc-svcd", 18, 2040000, 2516000, 0, 1835008, 224000, 2324, nullptr, "1"},
    {"film-svcd", 18, 2040000, 2516000, 0, 1835008, 224000, 2324, nullptr, "1"},
    {"pal-dvd", 15, 6000000, 9000000, 0, 1835008, 448000, 2048, "10080000", nullptr},
    {"ntsc-dvd", 18, 6000000, 9000000, 0, 1835008, 448000, 2048, "10080000", nullptr},
    {"film-dvd", 18, 6000000, 9000000, 0, 1835008, 448000, 2048, "10080000", nullptr},
};

// The recorded value of a generic option that only a private class knows, or null.
const char* RecordedValue(const TOptionContexts& contexts, const std::string& name) {
  const char* value = nullptr;
  for (std::size_t i = 0; i < contexts.OptionNames.size(); ++i)
    if (contexts.OptionNames[i] == name && i < contexts.OptionValues.size())
      value = contexts.OptionValues[i].c_str();
  return value;
}

TEST_F(Targets, EachTargetSetsItsGenericValues) {
  for (const TGenericGroup& g : kGenericGroups) {
    SCOPED_TRACE(g.Value);
    TFFmpeg engine(8);
    ASSERT_TRUE(engine.OptionContexts.Allocated());
    engine.OptTarget("target", g.Value);
    const auto get = [](void* context, const char* name) {
      std::int64_t v = -12345;
      EXPECT_GE(ff::av_opt_get_int(context, name, 0, &v), 0) << name;
      return v;
    };
    AVCodecContext* video = engine.OptionContexts.CodecDefaults[AVMEDIA_TYPE_VIDEO];
    AVCodecContext* audio = engine.OptionContexts.CodecDefaults[AVMEDIA_TYPE_AUDIO];
    EXPECT_EQ(get(video, "g"), g.Gop);
    EXPECT_EQ(get(video, "b"), g.Bitrate);
    EXPECT_EQ(get(video, "maxrate"), g.MaxRate);
    EXPECT_EQ(get(video, "minrate"), g.MinRate);
    EXPECT_EQ(get(video, "bufsize"), g.BufSize);
    EXPECT_EQ(get(audio, "b"), g.AudioBitrate);
    // The video's rate limits are no concern of the audio encoder (which would refuse them).
    for (const char* name : {"maxrate", "minrate", "bufsize"})
      EXPECT_EQ(get(audio, name), 0) << name;
    EXPECT_EQ(get(engine.OptionContexts.FormatDefaults, "packetsize"), g.PacketSize);
    const char* muxRate = RecordedValue(engine.OptionContexts, "muxrate");
    const char* scanOffset = RecordedValue(engine.OptionContexts, "scan_offset");
    EXPECT_STREQ(muxRate, g.MuxRate);
    EXPECT_STREQ(scanOffset, g.ScanOffset);
  }
}

TEST_F(Targets, DvTargetsSetNoGenericOption) {
  ASSERT_TRUE(Engine.OptionContexts.Allocated());
  Engine.OptTarget("target", "pal-dv");
  Engine.OptTarget("target", "ntsc-dv50");
  EXPECT_TRUE(Engine.OptionContexts.OptionNames.empty());
}

}  // namespace
}  // namespace tovamo
