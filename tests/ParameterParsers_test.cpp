// The engine's option handlers for structured values and its direct setters, called
// directly on an engine with the real libraries loaded.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <mutex>
#include <regex>
#include <string>
#include <vector>

#include "Engine/FFmpeg.h"
#include "Services/Exceptions.h"
#include "Services/FFBindings.h"
#include "Services/FFLog.h"
#include "Services/FormatConverter.h"
#include "Services/ProgramDir.h"
#include "support/TestSupport.h"
#include "support/LogCapture.h"
#include "support/TestLocale.h"

namespace tovamo {
namespace {

using test::TLogCapture;

// The libraries are loaded before the engine is built: it makes its option contexts with them.
struct TLoadedLibraries {
  TLoadedLibraries() { test::LoadSystemLibraries(); }
};

class ParameterParsers : public ::testing::Test {
 protected:
  TLoadedLibraries Libraries;
  TFFmpeg Engine{8};
};

using test::RaisedMessage;

// ---- Picture settings -------------------------------------------------------------------

TEST_F(ParameterParsers, AspectRatioAcceptsRatiosAndNumbers) {
  const struct {
    const char* Text;
    float Ratio;
  } cases[] = {
      {"16:9", 1.7778f}, {"4:3", 1.3333f},    {"1.5", 1.5f},
      {"2.35", 2.35f},   {"1.7777", 1.7777f}, {"3e38", 3e38f},
  };
  for (const auto& c : cases) {
    Engine.FrameAspectRatio = 0;
    Engine.OptFrameAspectRatio("aspect", c.Text);
    EXPECT_NEAR(Engine.FrameAspectRatio, c.Ratio, 0.0001) << c.Text;
  }
}

TEST_F(ParameterParsers, AspectRatioOfZeroIsRefusedAndKeepsTheSetting) {
  // A number single precision cannot hold would be infinity, or 0, in the setting.
  for (const char* text : {"4:0", "0", "16:-9", "abc", "x:3", "0:5", "1e39", "-1e39", "1e-300",
                           "1,5", "-4:3", "-1.5"}) {
    Engine.FrameAspectRatio = 1.25f;
    EXPECT_EQ(RaisedMessage([&] { Engine.OptFrameAspectRatio("aspect", text); }),
              "Incorrect aspect ratio specification.")
        << text;
    EXPECT_EQ(Engine.FrameAspectRatio, 1.25f) << text;
  }
  Engine.OptFrameAspectRatio("aspect", "");  // nothing to do
  EXPECT_EQ(Engine.FrameAspectRatio, 1.25f);
}

TEST_F(ParameterParsers, FrameRateTakesFractionsNumbersAndAbbreviations) {
  const struct {
    const char* Text;
    int Num, Den;
  } cases[] = {
      {"ntsc", 30000, 1001}, {"pal", 25, 1},       {"25", 25, 1},   {"30000/1001", 30000, 1001},
      {"film", 24, 1},       {"29.97", 2997, 100}, {"12.5", 25, 2},
  };
  for (const auto& c : cases) {
    Engine.OptFrameRate("r", c.Text);
    EXPECT_EQ(Engine.FrameRate.num, c.Num) << c.Text;
    EXPECT_EQ(Engine.FrameRate.den, c.Den) << c.Text;
  }
}

TEST_F(ParameterParsers, BadFrameRateRaisesAndKeepsTheRate) {
  Engine.OptFrameRate("r", "25");
  for (const char* text : {"bogus", "-25", "25/0x", "1e39", "29,97"}) {
    EXPECT_EQ(RaisedMessage([&] { Engine.OptFrameRate("r", text); }), "Incorrect frame rate")
        << text;
    EXPECT_EQ(Engine.FrameRate.num, 25);
    EXPECT_EQ(Engine.FrameRate.den, 1);
  }
  Engine.OptFrameRate("r", "");
  EXPECT_EQ(Engine.FrameRate.den, 1);
}

TEST_F(ParameterParsers, FrameSizeTakesSizesAndAbbreviations) {
  Engine.OptFrameSize("s", "vga");
  EXPECT_EQ(Engine.FrameWidth, 640);
  EXPECT_EQ(Engine.FrameHeight, 480);
  Engine.OptFrameSize("s", "320x240");
  EXPECT_EQ(Engine.FrameWidth, 320);
  EXPECT_EQ(Engine.FrameHeight, 240);
  // Sizes whose byte count no picture buffer can hold are no sizes either.
  for (const char* text : {"x", "320x", "bogus", "65536x65536", "2147483647x2"}) {
    EXPECT_EQ(RaisedMessage([&] { Engine.OptFrameSize("s", text); }), "Incorrect frame size")
        << text;
    EXPECT_EQ(Engine.FrameWidth, 320);
    EXPECT_EQ(Engine.FrameHeight, 240);
  }
}

TEST_F(ParameterParsers, PixelFormatByNameOrRefused) {
  Engine.OptFramePixFmt("pix_fmt", "yuv422p");
  EXPECT_EQ(Engine.FramePixFmt, AV_PIX_FMT_YUV422P);
  EXPECT_EQ(RaisedMessage([&] { Engine.OptFramePixFmt("pix_fmt", "yuv999"); }),
            "Unknown pixel format requested: yuv999");
  EXPECT_EQ(Engine.FramePixFmt, AV_PIX_FMT_YUV422P);
}

// A picture stored on its side gives the outputs its upright shape; "autorotate" given
// after the open switches to the stored shape and back, unless the size was set since.
TEST_F(ParameterParsers, AutorotateSwitchesTheShapeAnInputGave) {
  ASSERT_TRUE(Engine.OpenInputFile(test::Fixture("rotate_90.mp4"))) << Engine.LastError;
  EXPECT_EQ(Engine.FrameWidth, 96);
  EXPECT_EQ(Engine.FrameHeight, 160);
  EXPECT_NEAR(Engine.FrameAspectRatio, 0.6, 0.001);
  Engine.OptAutoRotate("autorotate", "0");
  EXPECT_EQ(Engine.FrameWidth, 160);
  EXPECT_EQ(Engine.FrameHeight, 96);
  EXPECT_NEAR(Engine.FrameAspectRatio, 160.0 / 96, 0.001);
  Engine.OptAutoRotate("autorotate", "1");
  EXPECT_EQ(Engine.FrameWidth, 96);
  Engine.OptFrameSize("s", "320x240");
  Engine.OptAutoRotate("autorotate", "0");
  EXPECT_EQ(Engine.FrameWidth, 320);
  EXPECT_FALSE(Engine.AutoRotate);
  EXPECT_NE(RaisedMessage([&] { Engine.OptAutoRotate("autorotate", "2"); }), "");
  EXPECT_FALSE(Engine.AutoRotate);
}

TEST_F(ParameterParsers, PixelFormatListLogsTheTableWithItsHeader) {
  TLogCapture log;
  Engine.OptFramePixFmt("pix_fmt", "list");
  EXPECT_EQ(Engine.FramePixFmt, -1);
  std::vector<std::string> lines;
  for (const auto& line : log.Lines())
    if (line.Level == llInfo) lines.push_back(line.Text);
  ASSERT_GT(lines.size(), 100u);
  EXPECT_EQ(lines[0], "name nb_components nb_bits");
  EXPECT_TRUE(std::regex_match(lines[1], std::regex(R"(yuv420p\s+3\s+12)"))) << lines[1];
  for (const std::string& line : lines) EXPECT_FALSE(line.empty() || line.back() == ' ') << line;
}

TEST_F(ParameterParsers, SampleFormatByNameOrRefused) {
  Engine.OptSampleFmt("sample_fmt", "s16");
  EXPECT_EQ(Engine.AudioSampleFmt, AV_SAMPLE_FMT_S16);
  Engine.OptSampleFmt("sample_fmt", "fltp");
  EXPECT_EQ(Engine.AudioSampleFmt, AV_SAMPLE_FMT_FLTP);
  EXPECT_EQ(RaisedMessage([&] { Engine.OptSampleFmt("sample_fmt", "s13"); }),
            "Invalid sample format \"s13\"");
  EXPECT_EQ(Engine.AudioSampleFmt, AV_SAMPLE_FMT_FLTP);
}

TEST_F(ParameterParsers, SampleFormatListLogsHeaderAndEveryFormat) {
  TLogCapture log;
  Engine.OptSampleFmt("sample_fmt", "list");
  EXPECT_EQ(Engine.AudioSampleFmt, -1);
  std::vector<std::string> lines;
  for (const auto& line : log.Lines())
    if (line.Level == llInfo) lines.push_back(line.Text);
  ASSERT_EQ(lines.size(), std::size_t(AV_SAMPLE_FMT_NB) + 1);
  EXPECT_EQ(lines[0], "name   depth");
  EXPECT_TRUE(std::regex_match(lines[1], std::regex(R"(u8\s+8)"))) << lines[1];
  EXPECT_TRUE(std::regex_match(lines[2], std::regex(R"(s16\s+16)"))) << lines[2];
}

// ---- Times ------------------------------------------------------------------------------

TEST_F(ParameterParsers, DurationsSetTheirSetting) {
  Engine.OptTime("t", "10");
  EXPECT_EQ(Engine.RecordingTime, 10000000);
  EXPECT_EQ(Engine.RequestedDuration, 10000000);
  Engine.OptTime("t", "1:02.5");
  EXPECT_EQ(Engine.RecordingTime, 62500000);
  EXPECT_EQ(Engine.RequestedDuration, 62500000);
  Engine.OptTime("ss", "00:00:02.5");
  EXPECT_EQ(Engine.StartTime, 2500000);
  Engine.OptTime("itsoffset", "-1.5");
  EXPECT_EQ(Engine.InputTsOffset, -1500000);
  EXPECT_EQ(Engine.RecordingTime, 62500000);  // each name writes only its own setting
}

TEST_F(ParameterParsers, TimestampIsADateRoundedToSeconds) {
  // 2010-01-02 03:04:05 UTC is 1262401445 s after the epoch.
  Engine.OptTime("timestamp", "2010-01-02T03:04:05.6Z");
  EXPECT_EQ(Engine.RecordingTimestamp, 1262401446);
  Engine.OptTime("timestamp", "2010-01-02 03:04:05.4Z");
  EXPECT_EQ(Engine.RecordingTimestamp, 1262401445);
  Engine.OptTime("timestamp", "1969-12-31T23:59:58.6Z");  // -1.4 s
  EXPECT_EQ(Engine.RecordingTimestamp, -1);
}

TEST_F(ParameterParsers, BadTimeTextRaisesWithKindNameAndText) {
  const struct {
    const char* Name;
    const char* Text;
    const char* Message;
  } cases[] = {
      {"t", "bogus", "Invalid duration specification for t: bogus"},
      {"ss", "1:xx", "Invalid duration specification for ss: 1:xx"},
      {"itsoffset", "", "Invalid duration specification for itsoffset: "},
      {"timestamp", "yesterday", "Invalid date specification for timestamp: yesterday"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RaisedMessage([&] { Engine.OptTime(c.Name, c.Text); }), c.Message);
  }
  EXPECT_EQ(Engine.RecordingTime, INT64_MAX);
  EXPECT_EQ(Engine.RequestedDuration, -1);
  EXPECT_EQ(Engine.StartTime, 0);
  EXPECT_EQ(Engine.InputTsOffset, 0);
  EXPECT_EQ(Engine.RecordingTimestamp, 0);
}

// ---- Timestamp scales -------------------------------------------------------------------

TEST_F(ParameterParsers, TimestampScaleGoesToTheNextInputsStream) {
  Engine.InputFileCount = 2;
  Engine.OptInputTsScale("itsscale", "1:0.5");
  EXPECT_EQ(Engine.InputTsScales[2], (std::vector<double>{0, 0.5}));
  Engine.OptInputTsScale("itsscale", "0x3:2");  // the index may be hexadecimal
  EXPECT_EQ(Engine.InputTsScales[2], (std::vector<double>{0, 0.5, 0, 2}));
  Engine.OptInputTsScale("itsscale", "0:1.25");  // an earlier stream keeps the array's size
  EXPECT_EQ(Engine.InputTsScales[2], (std::vector<double>{1.25, 0.5, 0, 2}));
  Engine.OptInputTsScale("itsscale", "0:0.5");
  EXPECT_EQ(Engine.InputTsScales[2], (std::vector<double>{0.5, 0.5, 0, 2}));
  EXPECT_TRUE(Engine.InputTsScales[0].empty());
  EXPECT_TRUE(Engine.InputTsScales[1].empty());
}

TEST_F(ParameterParsers, TimestampScaleIndexOutsideTheStreamsRaises) {
  for (const char* text : {"20:1", "-1:1", "99999999999999999999:1"}) {
    EXPECT_EQ(RaisedMessage([&] { Engine.OptInputTsScale("itsscale", text); }),
              "stream index over MAX_STREAMS(20)")
        << text;
  }
  // The scale is the whole rest of the text, a positive decimal number.
  for (const char* text :
       {"1:nan", "1:inf", "1:abc", "1:", "1:0", "1:-2", "1:0.5x", "1:0,5", "1:1e999", "1:0x10"}) {
    EXPECT_EQ(RaisedMessage([&] { Engine.OptInputTsScale("itsscale", text); }),
              std::string("Invalid timestamp scale ") + text);
  }
  EXPECT_TRUE(Engine.InputTsScales[0].empty());
  Engine.InputFileCount = Engine.MaxFiles;  // no slot left for another input
  EXPECT_EQ(RaisedMessage([&] { Engine.OptInputTsScale("itsscale", "1:2"); }),
            "Too many input files");
}

// ---- Metadata ---------------------------------------------------------------------------

TEST_F(ParameterParsers, MetadataNeedsAKeyAndKeepsEqualsInTheValue) {
  EXPECT_EQ(RaisedMessage([&] { Engine.OptMetadata("metadata", "title"); }), "Missing =");
  EXPECT_EQ(RaisedMessage([&] { Engine.OptMetadata("metadata", "=x"); }),
            "wrong parameter of metadata");
  EXPECT_EQ(Engine.Metadata, nullptr);
  Engine.OptMetadata("metadata", "title=a=b");
  Engine.OptMetadata("metadata", "comment=");
  ASSERT_NE(Engine.Metadata, nullptr);
  EXPECT_STREQ(ff::av_dict_get(Engine.Metadata, "title", nullptr, 0)->value, "a=b");
  EXPECT_STREQ(ff::av_dict_get(Engine.Metadata, "comment", nullptr, 0)->value, "");
  Engine.SetMetadata("title", "replaced");
  EXPECT_STREQ(ff::av_dict_get(Engine.Metadata, "title", nullptr, 0)->value, "replaced");
  EXPECT_EQ(ff::av_dict_count(Engine.Metadata), 2);
  ff::av_dict_free(&Engine.Metadata);
}

// ---- Maps -------------------------------------------------------------------------------

TEST_F(ParameterParsers, StreamMapsWithAndWithoutSyncStream) {
  const struct {
    const char* Text;
    TStreamMap Map;
  } cases[] = {
      {"1:0", {1, 0, 1, 0}},
      {"1:0:0:0", {1, 0, 0, 0}},
      {"2.3:4.5", {2, 3, 4, 5}},
      {"0x1:010", {1, 8, 1, 8}},  // strtol with its prefixes
      {"3", {3, 0, 3, 0}},
      {"x", {0, 0, 0, 0}},  // garbage reads as zeros
      {"99999999999999999999:1", {INT_MAX, 1, INT_MAX, 1}},
  };
  for (const auto& c : cases) Engine.OptMap("map", c.Text);
  ASSERT_EQ(Engine.StreamMaps.size(), std::size(cases));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const TStreamMap& m = Engine.StreamMaps[i];
    EXPECT_EQ(m.FileIndex, cases[i].Map.FileIndex) << cases[i].Text;
    EXPECT_EQ(m.StreamIndex, cases[i].Map.StreamIndex) << cases[i].Text;
    EXPECT_EQ(m.SyncFileIndex, cases[i].Map.SyncFileIndex) << cases[i].Text;
    EXPECT_EQ(m.SyncStreamIndex, cases[i].Map.SyncStreamIndex) << cases[i].Text;
  }
}

TEST_F(ParameterParsers, MetadataMapsReadBothSidesAndClearAutocopy) {
  const struct {
    const char* Text;
    TMetadataMapSide Out, In;
    bool Global, Streams, Chapters;  // autocopy flags after this map alone
  } cases[] = {
      {"0,s1:1,c2", {0, 's', 1}, {1, 'c', 2}, true, false, false},
      {"0:1", {0, 'g', 0}, {1, 'g', 0}, false, true, true},
      // The input side after a global output side is read in full.
      {"0,g:1,s3", {0, 'g', 0}, {1, 's', 3}, false, false, true},
      {"2,p3:1,p4", {2, 'p', 3}, {1, 'p', 4}, true, true, true},
      {"-1,c0:0,g", {-1, 'c', 0}, {0, 'g', 0}, false, true, false},
  };
  for (const auto& c : cases) {
    TFFmpeg engine(8);
    engine.OptMapMetaData("map_meta_data", c.Text);
    ASSERT_EQ(engine.MetadataMaps.size(), 1u) << c.Text;
    const TMetadataMap& m = engine.MetadataMaps[0];
    EXPECT_EQ(m.Out.File, c.Out.File) << c.Text;
    EXPECT_EQ(m.Out.Type, c.Out.Type) << c.Text;
    EXPECT_EQ(m.Out.Index, c.Out.Index) << c.Text;
    EXPECT_EQ(m.In.File, c.In.File) << c.Text;
    EXPECT_EQ(m.In.Type, c.In.Type) << c.Text;
    EXPECT_EQ(m.In.Index, c.In.Index) << c.Text;
    EXPECT_EQ(engine.MetadataGlobalAutocopy, c.Global) << c.Text;
    EXPECT_EQ(engine.MetadataStreamsAutocopy, c.Streams) << c.Text;
    EXPECT_EQ(engine.MetadataChaptersAutocopy, c.Chapters) << c.Text;
  }
}

TEST_F(ParameterParsers, MetadataMapWithUnknownTypeRaisesAndAddsNothing) {
  EXPECT_EQ(RaisedMessage([&] { Engine.OptMapMetaData("map_meta_data", "0,x:1"); }),
            "Invalid metadata type x.");
  EXPECT_EQ(RaisedMessage([&] { Engine.OptMapMetaData("map_meta_data", "0,s1:1,q"); }),
            "Invalid metadata type q.");
  EXPECT_EQ(RaisedMessage([&] { Engine.OptMapMetaData("map_meta_data", "0,"); }),
            "Invalid metadata type .");
  EXPECT_TRUE(Engine.MetadataMaps.empty());
  EXPECT_TRUE(Engine.MetadataGlobalAutocopy);
  EXPECT_TRUE(Engine.MetadataStreamsAutocopy);
  EXPECT_TRUE(Engine.MetadataChaptersAutocopy);
}

TEST_F(ParameterParsers, ChapterMapsReadOutputThenInput) {
  Engine.OptMapChapters("map_chapters", "1:0");
  Engine.OptMapChapters("map_chapters", "3");
  ASSERT_EQ(Engine.ChapterMaps.size(), 2u);
  EXPECT_EQ(Engine.ChapterMaps[0].OutFile, 1);
  EXPECT_EQ(Engine.ChapterMaps[0].InFile, 0);
  EXPECT_EQ(Engine.ChapterMaps[1].OutFile, 3);
  EXPECT_EQ(Engine.ChapterMaps[1].InFile, 0);
}

// ---- Codecs, tags, stream ids -----------------------------------------------------------

TEST_F(ParameterParsers, CodecNamesAndStreamCopy) {
  Engine.OptCodec("vcodec", "mpeg4");
  EXPECT_EQ(Engine.VideoCodecName, "mpeg4");
  Engine.OptCodec("vcodec", "copy");
  EXPECT_EQ(Engine.VideoStreamCopy, 1);
  EXPECT_EQ(Engine.VideoCodecName, "");
  Engine.OptCodec("acodec", "mp2");
  EXPECT_EQ(Engine.AudioCodecName, "mp2");
  EXPECT_EQ(Engine.AudioStreamCopy, 0);
  Engine.OptCodec("acodec", "");  // nothing to do
  EXPECT_EQ(Engine.AudioCodecName, "mp2");
  Engine.OptCodec("scodec", "copy");
  EXPECT_EQ(Engine.SubtitleStreamCopy, 1);
  Engine.OptCodec("scodec", "dvdsub");
  EXPECT_EQ(Engine.SubtitleCodecName, "dvdsub");
}

TEST_F(ParameterParsers, CodecTagsFromFourLettersOrNumbers) {
  const std::uint32_t avc1 = 'a' | 'v' << 8 | 'c' << 16 | '1' << 24;
  const struct {
    const char* Name;
    const char* Text;
    std::uint32_t Tag;
    std::uint32_t TCustomFFmpeg::*Setting;
  } cases[] = {
      {"vtag", "avc1", avc1, &TCustomFFmpeg::VideoCodecTag},
      {"vtag", "0x31637661", avc1, &TCustomFFmpeg::VideoCodecTag},
      {"atag", "$55", 0x55, &TCustomFFmpeg::AudioCodecTag},
      {"atag", "85", 85, &TCustomFFmpeg::AudioCodecTag},
      {"stag", "0x123456789", 0x23456789, &TCustomFFmpeg::SubtitleCodecTag},
      {"stag", "\xff\x01 Z", 0x5A2001FFu, &TCustomFFmpeg::SubtitleCodecTag},
  };
  for (const auto& c : cases) {
    Engine.OptCodecTag(c.Name, c.Text);
    EXPECT_EQ(Engine.*c.Setting, c.Tag) << c.Name << " " << c.Text;
  }
  Engine.OptCodecTag("vtag", "");
  EXPECT_EQ(Engine.VideoCodecTag, avc1);
}

// A caller's option text must not raise anything but the engine's own error.
TEST_F(ParameterParsers, CodecTagOfOtherLengthIsRefused) {
  for (const char* name : {"vtag", "atag", "stag"})
    for (const char* text : {"abc", "abcde", "a", "0x3zz"})
      EXPECT_EQ(RaisedMessage([&] { Engine.ParseOption(name, text); }),
                "tag parameter must be 4 chars or int value")
          << name << " " << text;
  EXPECT_EQ(Engine.VideoCodecTag, 0u);
  EXPECT_EQ(Engine.AudioCodecTag, 0u);
  EXPECT_EQ(Engine.SubtitleCodecTag, 0u);
  EXPECT_EQ(RaisedMessage([&] { Engine.OptCodecTag("xtag", "avc1"); }),
            "Invalid tag parmeter xtag");
}

TEST_F(ParameterParsers, StreamIdsGrowTheMap) {
  Engine.OptStreamId("streamid", "1:256");
  EXPECT_EQ(Engine.StreamIdMap, (std::vector<int>{0, 256}));
  Engine.OptStreamId("streamid", "0:0x1e0");
  EXPECT_EQ(Engine.StreamIdMap, (std::vector<int>{0x1e0, 256}));
  Engine.OptStreamId("streamid", "");
  EXPECT_EQ(Engine.StreamIdMap.size(), 2u);
}

TEST_F(ParameterParsers, StreamIdOutsideItsSyntaxOrRangeRaises) {
  for (const char* text : {"1", "a:1", "1:b", "1:", ":1", "-1:5", "1:-5", "1000:1", "99999999999:1",
                           "1:99999999999"}) {
    EXPECT_EQ(RaisedMessage([&] { Engine.OptStreamId("streamid", text); }),
              std::string("Invalid value \"") + text +
                  "\" for option \"streamid\", required syntax is \"index:value\"")
        << text;
  }
  EXPECT_TRUE(Engine.StreamIdMap.empty());
}

// ---- Numbers with ranges ----------------------------------------------------------------

TEST_F(ParameterParsers, QscaleRange) {
  const struct {
    const char* Text;
    float Value;
  } accepted[] = {{"0.5", 0.5f}, {"255", 255.0f}, {"1e-30", 1e-30f}, {"31", 31.0f}};
  for (const auto& c : accepted) {
    Engine.OptQscale("qscale", c.Text);
    EXPECT_EQ(Engine.VideoQscale, c.Value) << c.Text;
  }
  // Checked as kept: 1e-300 is 0 in single precision, which means "no fixed quality".
  for (const char* text : {"0", "-1", "255.01", "1e-300", "-1e-300"}) {
    EXPECT_EQ(RaisedMessage([&] { Engine.OptQscale("qscale", text); }),
              "qscale must be > 0.0 and <= 255")
        << text;
  }
  EXPECT_EQ(Engine.VideoQscale, 31.0f);
  for (const char* text : {"high", "1e39", "2,5"})
    EXPECT_THROW(Engine.OptQscale("qscale", text), EConvertError) << text;
  EXPECT_EQ(Engine.VideoQscale, 31.0f);
}

TEST_F(ParameterParsers, PassIsOneOrTwo) {
  Engine.OptPass("pass", "2");
  EXPECT_EQ(Engine.Pass, 2);
  Engine.OptPass("pass", "1");
  EXPECT_EQ(Engine.Pass, 1);
  for (const char* text : {"0", "3", "-1"}) {
    EXPECT_EQ(RaisedMessage([&] { Engine.OptPass("pass", text); }),
              "pass number can be only 1 or 2");
  }
  EXPECT_EQ(Engine.Pass, 1);
  EXPECT_THROW(Engine.OptPass("pass", "first"), EConvertError);
}

TEST_F(ParameterParsers, ThreadsSetTheCountWithAWarningWhenVerbose) {
  const std::string warning =
      "Warning: if the ffmpeg libraries were not compiled with thread support, it would be "
      "using thread emulation.";
  TLogCapture log;
  Engine.OptThreads("threads", "4");
  EXPECT_EQ(Engine.ThreadCount, 4);
  EXPECT_EQ(log.Count(llVerbose, warning), 1);
  Engine.Verbose = -1;
  Engine.OptThreads("threads", "2");
  EXPECT_EQ(Engine.ThreadCount, 2);
  EXPECT_EQ(log.Count(llVerbose, warning), 1);
  EXPECT_THROW(Engine.OptThreads("threads", "many"), EConvertError);
}

// ---- Matrices ---------------------------------------------------------------------------

std::string MatrixText(int count, int first = 1) {
  std::string text;
  for (int i = 0; i < count; ++i) text += (i ? "," : "") + std::to_string(first + i);
  return text;
}

TEST_F(ParameterParsers, MatrixWith64CoefficientsFillsIt) {
  Engine.OptMatrix("intra_matrix", MatrixText(64));
  ASSERT_TRUE(Engine.IntraMatrix.has_value());
  for (int i = 0; i < 64; ++i) EXPECT_EQ((*Engine.IntraMatrix)[i], i + 1);
  EXPECT_FALSE(Engine.InterMatrix.has_value());
  // Blanks before a number and anything after the 64th are allowed.
  Engine.OptMatrix("inter_matrix", " 16, 17," + MatrixText(62, 100) + ",trailing");
  ASSERT_TRUE(Engine.InterMatrix.has_value());
  EXPECT_EQ((*Engine.InterMatrix)[0], 16);
  EXPECT_EQ((*Engine.InterMatrix)[1], 17);
  EXPECT_EQ((*Engine.InterMatrix)[63], 161);
  EXPECT_EQ((*Engine.IntraMatrix)[0], 1);
}

TEST_F(ParameterParsers, MatrixSyntaxErrorNamesTheCoefficientAndKeepsTheOldMatrix) {
  Engine.OptMatrix("intra_matrix", MatrixText(64, 8));
  const struct {
    std::string Text;
    int Coeff;
  } cases[] = {
      {MatrixText(63), 62},           {"", 0},      {"16", 0},
      {"70000," + MatrixText(63), 0},                // beyond a 16-bit coefficient
      {"1,,3," + MatrixText(61), 1},                 // no number
      {"1,0," + MatrixText(62), 1},                  // zero would divide by zero in the encoder
      {"1,-2," + MatrixText(62), 1},  {"1 2 3", 0},  // blanks do not separate coefficients
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RaisedMessage([&] { Engine.OptMatrix("intra_matrix", c.Text); }),
              "Syntax error in matrix \"" + c.Text + "\" at coeff " + std::to_string(c.Coeff))
        << c.Text;
  }
  ASSERT_TRUE(Engine.IntraMatrix.has_value());
  for (int i = 0; i < 64; ++i) EXPECT_EQ((*Engine.IntraMatrix)[i], i + 8);
  EXPECT_THROW(Engine.OptMatrix("inter_matrix", MatrixText(10)), FFmpegException);
  EXPECT_FALSE(Engine.InterMatrix.has_value());
}

// ---- Bitstream filters ------------------------------------------------------------------

std::vector<std::string> FilterNames(const std::vector<TBitstreamFilterSpec>& chain) {
  std::vector<std::string> names;
  for (const auto& spec : chain)
    names.push_back(spec.Args.empty() ? spec.Name : spec.Name + "=" + spec.Args);
  return names;
}

TEST_F(ParameterParsers, BitstreamFiltersAppendToTheirKindsChainWithTheirArguments) {
  Engine.OptBitstreamFilter("vbsf", "h264_mp4toannexb");
  Engine.OptBitstreamFilter("vbsf", "null");
  Engine.OptBitstreamFilter("vbsf", "noise=amount=2:dropamount=3");
  Engine.OptBitstreamFilter("absf", "aac_adtstoasc");
  Engine.OptBitstreamFilter("sbsf", "null");
  Engine.OptBitstreamFilter("vbsf", "");
  Engine.OptBitstreamFilter("vbsf", "=null");
  EXPECT_EQ(FilterNames(Engine.VideoBitstreamFilters),
            (std::vector<std::string>{"h264_mp4toannexb", "null", "noise=amount=2:dropamount=3"}));
  EXPECT_EQ(FilterNames(Engine.AudioBitstreamFilters), (std::vector<std::string>{"aac_adtstoasc"}));
  EXPECT_EQ(FilterNames(Engine.SubtitleBitstreamFilters), (std::vector<std::string>{"null"}));
}

TEST_F(ParameterParsers, BitstreamFilterArgumentsAreCheckedWhenGiven) {
  EXPECT_EQ(RaisedMessage([&] { Engine.OptBitstreamFilter("vbsf", "null=anything"); }),
            "Invalid arguments for bitstream filter null: anything");
  EXPECT_EQ(RaisedMessage([&] { Engine.OptBitstreamFilter("vbsf", "noise=no_such_option=1"); }),
            "Invalid arguments for bitstream filter noise: no_such_option=1");
  EXPECT_TRUE(Engine.VideoBitstreamFilters.empty());
}

TEST_F(ParameterParsers, UnknownBitstreamFilterRaises) {
  EXPECT_EQ(RaisedMessage([&] { Engine.OptBitstreamFilter("vbsf", "no_such_filter"); }),
            "Unknown bitstream filter no_such_filter");
  EXPECT_EQ(RaisedMessage([&] { Engine.OptBitstreamFilter("absf", " bogus=1 "); }),
            "Unknown bitstream filter bogus=1");
  EXPECT_TRUE(Engine.VideoBitstreamFilters.empty());
  EXPECT_TRUE(Engine.AudioBitstreamFilters.empty());
}

// ---- Statistics file and frame hooks ----------------------------------------------------

TEST_F(ParameterParsers, VstatsNamesAFileInTheProgramFolder) {
  Engine.OptVstats("vstats", "");
  const std::regex shape(
      std::regex_replace(ProgramDir(), std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)") +
      R"(/vstats_([01]\d|2[0-3])[0-5]\d[0-5]\d\.log)");
  EXPECT_TRUE(std::regex_match(Engine.VstatsFileName, shape)) << Engine.VstatsFileName;
  Engine.OptVstats("vstats", "0");
  EXPECT_EQ(Engine.VstatsFileName, "");
  Engine.OptVstats("vstats", "1");
  EXPECT_TRUE(std::regex_match(Engine.VstatsFileName, shape)) << Engine.VstatsFileName;
  Engine.OptVstatsFile("vstats_file", "/tmp/my stats.log");
  EXPECT_EQ(Engine.VstatsFileName, "/tmp/my stats.log");
}

TEST_F(ParameterParsers, AVideoHookThatCannotBeLoadedIsRefused) {
  TLogCapture log;
  EXPECT_EQ(RaisedMessage([&] { Engine.OptVideoHook("vhook", "/usr/lib/hook.so -c red"); }),
            "Failed to add video hook function: /usr/lib/hook.so -c red");
  EXPECT_TRUE(log.HasPart(llError, "/usr/lib/hook.so"));
  EXPECT_FALSE(Engine.UsingFrameHooks);
}

// ---- Direct setters ---------------------------------------------------------------------

TEST_F(ParameterParsers, DirectSettersIgnoreTheirUnsetValues) {
  Engine.SetRecordingTime(AV_NOPTS_VALUE);
  EXPECT_EQ(Engine.RecordingTime, INT64_MAX);
  EXPECT_EQ(Engine.RequestedDuration, -1);
  Engine.SetRecordingTime(5000000);
  EXPECT_EQ(Engine.RecordingTime, 5000000);
  EXPECT_EQ(Engine.RequestedDuration, 5000000);

  Engine.SetInputStartTime(AV_NOPTS_VALUE);
  EXPECT_EQ(Engine.StartTime, 0);
  Engine.SetInputStartTime(-2000000);
  EXPECT_EQ(Engine.StartTime, -2000000);

  Engine.SetInputProgramId(-1);
  EXPECT_EQ(Engine.ProgramId, 0);
  Engine.SetInputProgramId(7);
  EXPECT_EQ(Engine.ProgramId, 7);

  Engine.SetAudioVolume(-5);
  EXPECT_EQ(Engine.AudioVolume, 256);
  Engine.SetAudioVolume(0);
  EXPECT_EQ(Engine.AudioVolume, 0);
  Engine.SetAudioVolume(INT_MAX);
  EXPECT_EQ(Engine.AudioVolume, 0);

  Engine.SetAudioSyncMethod(-3);
  EXPECT_EQ(Engine.AudioSyncMethod, -3);
  Engine.SetVideoSyncMethod(2);
  EXPECT_EQ(Engine.VideoSyncMethod, 2);

  // Each must stay positive and finite in the single-precision setting, and within what the
  // muxer holds in microseconds.
  for (double bad : {0.0, -1.0, std::nan(""), 1e39, HUGE_VAL, 1e-300, 3e38, 2200.0}) {
    Engine.SetMuxMaxDelay(bad);
    Engine.SetMuxPreload(bad);
  }
  EXPECT_EQ(Engine.MuxMaxDelay, 0.7f);
  EXPECT_EQ(Engine.MuxPreload, 0.5f);
  Engine.SetMuxMaxDelay(1.5);
  Engine.SetMuxPreload(0.25);
  EXPECT_EQ(Engine.MuxMaxDelay, 1.5f);
  EXPECT_EQ(Engine.MuxPreload, 0.25f);
}

TEST_F(ParameterParsers, ConverterPixelFormatSetsBothConvertersOrRefusesTheDepth) {
  EXPECT_NO_THROW(Engine.SetConverterPixelFormat(32));  // no converters yet: only checked
  try {
    Engine.SetConverterPixelFormat(12);
    ADD_FAILURE();
  } catch (const EConverterError& e) {
    EXPECT_STREQ(e.what(), "Invalid BitsPixel 12");
  }
  Engine.HookConverter = std::make_unique<TFormatConverter>();
  Engine.PreviewConverter = std::make_unique<TFormatConverter>();
  Engine.SetConverterPixelFormat(16);
  EXPECT_EQ(Engine.HookConverter->BitsPerPixel(), 16);
  EXPECT_EQ(Engine.PreviewConverter->BitsPerPixel(), 16);
  EXPECT_THROW(Engine.SetConverterPixelFormat(0), EConverterError);
  EXPECT_EQ(Engine.HookConverter->BitsPerPixel(), 16);
  EXPECT_EQ(Engine.PreviewConverter->BitsPerPixel(), 16);
}

// ---- Bit rates (need the generic option setter) ------------------------------------------

TEST_F(ParameterParsers, BitrateGoesToItsKindsDefaultsAndWarnsWhenTooLow) {
  const std::string warning =
      "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s";
  TLogCapture log;
  ASSERT_TRUE(Engine.OptionContexts.Allocated());
  Engine.OptBitrate("ab", "128000");
  std::int64_t audio = 0, video = 0;
  ff::av_opt_get_int(Engine.OptionContexts.CodecDefaults[AVMEDIA_TYPE_AUDIO], "b", 0, &audio);
  EXPECT_EQ(audio, 128000);
  EXPECT_EQ(log.Count(llWarning, warning), 0);
  Engine.OptBitrate("vb", "900");
  ff::av_opt_get_int(Engine.OptionContexts.CodecDefaults[AVMEDIA_TYPE_VIDEO], "b", 0, &video);
  EXPECT_EQ(video, 900);
  EXPECT_EQ(log.Count(llWarning, warning), 1);
  Engine.OptBitrate("ab", "64");
  EXPECT_EQ(log.Count(llWarning, warning), 2);
}

TEST_F(ParameterParsers, RejectedBitrateRaisesOnlyWhenStrict) {
  ASSERT_TRUE(Engine.OptionContexts.Allocated());
  const std::string message = RaisedMessage([&] { Engine.OptBitrate("b", "fast"); });
  EXPECT_EQ(message, "Invalid value \"fast\" for option \"b\"");
  EXPECT_EQ(message, LastOptionError());
  Engine.StrictOptions = false;
  EXPECT_NO_THROW(Engine.OptBitrate("b", "fast"));
}

}  // namespace
}  // namespace tovamo
