// The option vocabulary: table order and kinds, ParseOption per kind, the handlers that need
// no structured parsing, and ParseOptions.
#include "Engine/OptionTable.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <charconv>
#include <climits>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <set>
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
using test::TLogLine;

using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

std::string Render(bool v) {
  return v ? "true" : "false";
}
std::string Render(int v) {
  return std::to_string(v);
}
std::string Render(std::int64_t v) {
  return std::to_string(v);
}
std::string Render(std::uint32_t v) {
  return std::to_string(v);
}
std::string Render(float v) {
  // Six significant digits, written the same in every locale.
  char buf[64];
  const auto end = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 6).ptr;
  return std::string(buf, end);
}
std::string Render(const std::string& v) {
  return "'" + v + "'";
}
std::string Render(AVRational v) {
  return std::to_string(v.num) + "/" + std::to_string(v.den);
}

// Every setting an option may write, by member name.
std::map<std::string, std::string> Settings(const TCustomFFmpeg& e) {
  std::map<std::string, std::string> s = {
      {"ForcedFormat", Render(e.ForcedFormat)},
      {"RecordingTime", Render(e.RecordingTime)},
      {"LimitFileSize", Render(e.LimitFileSize)},
      {"StartTime", Render(e.StartTime)},
      {"InputTsOffset", Render(e.InputTsOffset)},
      {"RecordingTimestamp", Render(e.RecordingTimestamp)},
      {"PacketDump", Render(e.PacketDump)},
      {"HexDump", Render(e.HexDump)},
      {"RateEmulation", Render(e.RateEmulation)},
      {"LoopInput", Render(e.LoopInput)},
      {"LoopOutput", Render(e.LoopOutput)},
      {"Verbose", Render(e.Verbose)},
      {"ThreadCount", Render(e.ThreadCount)},
      {"VideoSyncMethod", Render(e.VideoSyncMethod)},
      {"AudioSyncMethod", Render(e.AudioSyncMethod)},
      {"AudioDriftThreshold", Render(e.AudioDriftThreshold)},
      {"VideoGlobalHeader", Render(e.VideoGlobalHeader)},
      {"CopyTs", Render(e.CopyTs)},
      {"CopyTb", Render(e.CopyTb)},
      {"Shortest", Render(e.Shortest)},
      {"DtsDeltaThreshold", Render(e.DtsDeltaThreshold)},
      {"ProgramId", Render(e.ProgramId)},
      {"ExitOnError", Render(e.ExitOnError)},
      {"CopyInitialNonKeyframes", Render(e.CopyInitialNonKeyframes)},
      {"FrameRate", Render(e.FrameRate)},
      {"FrameWidth", Render(e.FrameWidth)},
      {"FrameHeight", Render(e.FrameHeight)},
      {"FrameAspectRatio", Render(e.FrameAspectRatio)},
      {"FramePixFmt", Render(e.FramePixFmt)},
      {"IntraOnly", Render(e.IntraOnly)},
      {"VideoDisable", Render(e.VideoDisable)},
      {"VideoDiscard", Render(e.VideoDiscard)},
      {"VideoQscale", Render(e.VideoQscale)},
      {"RcOverride", Render(e.RcOverride)},
      {"VideoCodecName", Render(e.VideoCodecName)},
      {"VideoStreamCopy", Render(e.VideoStreamCopy)},
      {"MeThreshold", Render(e.MeThreshold)},
      {"SameQuality", Render(e.SameQuality)},
      {"Pass", Render(e.Pass)},
      {"PassLogFilePrefix", Render(e.PassLogFilePrefix)},
      {"Deinterlace", Render(e.Deinterlace)},
      {"Psnr", Render(e.Psnr)},
      {"VstatsFileName", Render(e.VstatsFileName)},
      {"VideoFilters", Render(e.VideoFilters)},
      {"TopFieldFirst", Render(e.TopFieldFirst)},
      {"IntraDcPrecision", Render(e.IntraDcPrecision)},
      {"VideoCodecTag", Render(e.VideoCodecTag)},
      {"VideoLanguage", Render(e.VideoLanguage)},
      {"QpHistogram", Render(e.QpHistogram)},
      {"ForceFps", Render(e.ForceFps)},
      {"ForcedKeyFrames", Render(e.ForcedKeyFrames)},
      {"AudioQscale", Render(e.AudioQscale)},
      {"AudioSampleRate", Render(e.AudioSampleRate)},
      {"AudioChannels", Render(e.AudioChannels)},
      {"AudioDisable", Render(e.AudioDisable)},
      {"AudioCodecName", Render(e.AudioCodecName)},
      {"AudioStreamCopy", Render(e.AudioStreamCopy)},
      {"AudioCodecTag", Render(e.AudioCodecTag)},
      {"AudioVolume", Render(e.AudioVolume)},
      {"AudioLanguage", Render(e.AudioLanguage)},
      {"AudioSampleFmt", Render(e.AudioSampleFmt)},
      {"SubtitleDisable", Render(e.SubtitleDisable)},
      {"SubtitleCodecName", Render(e.SubtitleCodecName)},
      {"SubtitleStreamCopy", Render(e.SubtitleStreamCopy)},
      {"SubtitleLanguage", Render(e.SubtitleLanguage)},
      {"SubtitleCodecTag", Render(e.SubtitleCodecTag)},
      {"VideoChannel", Render(e.VideoChannel)},
      {"VideoStandard", Render(e.VideoStandard)},
      {"InputSync", Render(e.InputSync)},
      {"MuxMaxDelay", Render(e.MuxMaxDelay)},
      {"MuxPreload", Render(e.MuxPreload)},
      {"ChannelLayout", Render(std::int64_t(e.ChannelLayout))},
      {"ScalerFlags", Render(e.ScalerFlags)},
      {"StreamMaps", Render(int(e.StreamMaps.size()))},
      {"MetadataMaps", Render(int(e.MetadataMaps.size()))},
      {"ChapterMaps", Render(int(e.ChapterMaps.size()))},
      {"StreamIdMap", Render(int(e.StreamIdMap.size()))},
      {"IntraMatrix", Render(e.IntraMatrix.has_value())},
      {"InterMatrix", Render(e.InterMatrix.has_value())},
      {"UsingFrameHooks", Render(e.UsingFrameHooks)},
      {"GenericOptions", Render(int(e.OptionContexts.OptionNames.size()))},
      {"BurnSubtitles", Render(e.BurnSubtitles)},
  };
  for (int i = 0; i < kMediaTypeCount; ++i)
    s["MaxFrames[" + std::to_string(i) + "]"] = Render(e.MaxFrames[i]);
  return s;
}

// The keys whose values differ between two settings maps.
std::vector<std::string> Changed(const std::map<std::string, std::string>& before,
                                 const std::map<std::string, std::string>& after) {
  std::vector<std::string> keys;
  for (const auto& [k, v] : before)
    if (after.at(k) != v) keys.push_back(k);
  return keys;
}

class OptionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::LoadSystemLibraries();
    Engine = std::make_unique<TFFmpeg>(4);
  }
  void Fresh() { Engine = std::make_unique<TFFmpeg>(4); }
  std::unique_ptr<TFFmpeg> Engine;
};

// ---- The table ---------------------------------------------------------------------------

TEST(OptionTableData, NamesInTestOrder) {
  // clang-format off
  const char* expected[] = {
      "L", "h", "version", "formats", "codecs", "bsfs", "protocols", "filters", "loglevel", "f",
      "i", "y", "map", "map_meta_data", "map_chapters", "t", "fs", "ss", "itsoffset", "itsscale",
      "timestamp", "metadata", "dframes", "benchmark", "timelimit", "dump", "hex", "re",
      "loop_input", "loop_output", "v", "target", "threads", "vsync", "async", "adrift_threshold",
      "vglobal", "copyts", "copytb", "shortest", "dts_delta_threshold", "programid", "xerror",
      "copyinkf", "b", "vb", "vframes", "r", "fpsmax", "s", "aspect", "fit", "pix_fmt", "croptop", "cropbottom",
      "cropleft", "cropright", "padtop", "padbottom", "padleft", "padright", "padcolor", "intra",
      "vn", "vdt", "qscale", "rc_override", "vcodec", "me_threshold", "sameq", "pass",
      "passlogfile", "deinterlace", "psnr", "vstats", "vstats_file", "vhook", "vfilters", "vf",
      "intra_matrix", "inter_matrix", "top", "dc", "vtag", "newvideo", "vlang", "qphist",
      "force_fps", "streamid", "force_key_frames", "ab", "aframes", "aq", "ar", "ac", "an",
      "acodec", "atag", "vol", "newaudio", "alang", "sample_fmt", "sn", "scodec", "newsubtitle",
      "slang", "stag", "vc", "tvstd", "isync", "muxdelay", "muxpreload", "absf", "vbsf", "sbsf",
      "apre", "vpre", "spre", "fpre", "autorotate", "burn_subtitles"};
  // clang-format on
  std::vector<std::string> names;
  for (const TOptionRow& row : OptionTable()) names.push_back(row.Name);
  EXPECT_THAT(names, ElementsAreArray(expected));
  // Each name once: the first match decides, so a second row would be dead.
  EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), names.size());
}

TEST(OptionTableData, HandlersAreWiredToTheirOperations) {
  using E = TCustomFFmpeg;
  const std::map<std::string, TOptionHandler> expected = {{"loglevel", &E::OptLogLevel},
                                                          {"map", &E::OptMap},
                                                          {"map_meta_data", &E::OptMapMetaData},
                                                          {"map_chapters", &E::OptMapChapters},
                                                          {"t", &E::OptTime},
                                                          {"ss", &E::OptTime},
                                                          {"itsoffset", &E::OptTime},
                                                          {"itsscale", &E::OptInputTsScale},
                                                          {"timestamp", &E::OptTime},
                                                          {"metadata", &E::OptMetadata},
                                                          {"timelimit", &E::OptTimeLimit},
                                                          {"target", &E::OptTarget},
                                                          {"threads", &E::OptThreads},
                                                          {"b", &E::OptBitrate},
                                                          {"vb", &E::OptBitrate},
                                                          {"r", &E::OptFrameRate},
                                                          {"fpsmax", &E::OptFrameRateMax},
                                                          {"s", &E::OptFrameSize},
                                                          {"aspect", &E::OptFrameAspectRatio},
                                                          {"fit", &E::OptPictureFit},
                                                          {"pix_fmt", &E::OptFramePixFmt},
                                                          {"qscale", &E::OptQscale},
                                                          {"rc_override", &E::OptRcOverride},
                                                          {"vcodec", &E::OptCodec},
                                                          {"pass", &E::OptPass},
                                                          {"vstats", &E::OptVstats},
                                                          {"vstats_file", &E::OptVstatsFile},
                                                          {"vhook", &E::OptVideoHook},
                                                          {"vfilters", &E::OptVideoFilters},
                                                          {"vf", &E::OptVideoFilters},
                                                          {"intra_matrix", &E::OptMatrix},
                                                          {"inter_matrix", &E::OptMatrix},
                                                          {"vtag", &E::OptCodecTag},
                                                          {"newvideo", &E::OptNewStream},
                                                          {"streamid", &E::OptStreamId},
                                                          {"ab", &E::OptBitrate},
                                                          {"ar", &E::OptAudioRate},
                                                          {"ac", &E::OptAudioChannels},
                                                          {"acodec", &E::OptCodec},
                                                          {"atag", &E::OptCodecTag},
                                                          {"newaudio", &E::OptNewStream},
                                                          {"sample_fmt", &E::OptSampleFmt},
                                                          {"scodec", &E::OptCodec},
                                                          {"newsubtitle", &E::OptNewStream},
                                                          {"stag", &E::OptCodecTag},
                                                          {"tvstd", &E::OptVideoStandard},
                                                          {"absf", &E::OptBitstreamFilter},
                                                          {"vbsf", &E::OptBitstreamFilter},
                                                          {"sbsf", &E::OptBitstreamFilter},
                                                          {"apre", &E::OptPreset},
                                                          {"vpre", &E::OptPreset},
                                                          {"spre", &E::OptPreset},
                                                          {"fpre", &E::OptPreset},
                                                          {"autorotate", &E::OptAutoRotate}};
  std::set<std::string> seen;
  for (const TOptionRow& row : OptionTable()) {
    if (row.Kind != TOptionKind::Handler) continue;
    seen.insert(row.Name);
    ASSERT_TRUE(expected.count(row.Name)) << row.Name << " is no handler";
    EXPECT_TRUE(row.Handler == expected.at(row.Name)) << row.Name;
  }
  EXPECT_EQ(seen.size(), expected.size());
}

// ---- Defaults ----------------------------------------------------------------------------

TEST_F(OptionTest, FreshEngineDefaults) {
  auto s = Settings(*Engine);
  const std::map<std::string, std::string> expected = {
      {"ForcedFormat", "''"},
      {"RecordingTime", std::to_string(INT64_MAX)},  // unlimited duration
      {"LimitFileSize", "0"},
      {"StartTime", "0"},
      {"InputTsOffset", "0"},
      {"RecordingTimestamp", "0"},
      {"MaxFrames[0]", "2147483647"},  // unlimited frames of every type
      {"MaxFrames[1]", "2147483647"},
      {"MaxFrames[2]", "2147483647"},
      {"MaxFrames[3]", "2147483647"},
      {"MaxFrames[4]", "2147483647"},
      {"LoopOutput", "-1"},
      {"Verbose", "1"},
      {"ThreadCount", "1"},
      {"VideoSyncMethod", "-1"},  // automatic
      {"AudioSyncMethod", "0"},
      {"AudioDriftThreshold", "0.1"},
      {"DtsDeltaThreshold", "10"},
      {"FrameRate", "25/0"},
      {"FramePixFmt", "-1"},
      {"IntraDcPrecision", "8"},
      {"TopFieldFirst", "-1"},
      {"AudioQscale", "-99999"},
      {"AudioSampleRate", "44100"},  // stereo 44100 Hz
      {"AudioChannels", "2"},
      {"AudioVolume", "256"},
      {"AudioSampleFmt", "-1"},
      {"MuxMaxDelay", "0.7"},
      {"MuxPreload", "0.5"},
      {"ScalerFlags", "4"},  // bicubic
      {"GenericOptions", "0"},
  };
  for (const auto& [k, v] : expected) EXPECT_EQ(s.at(k), v) << k;
  // Everything else is off, zero or empty.
  for (const auto& [k, v] : s) {
    if (expected.count(k)) continue;
    EXPECT_TRUE(v == "false" || v == "0" || v == "''" || v == "0/0") << k << " = " << v;
  }
}

// ---- Plain kinds -------------------------------------------------------------------------

struct TPlainCase {
  const char* Option;
  const char* Value;
  const char* Setting;
  const char* Expected;
};

// For every option of a plain kind (and the handlers that only store a value): the value
// reaches its own setting and nothing else changes.
const TPlainCase kPlainCases[] = {
    // flags
    {"dump", "1", "PacketDump", "true"},
    {"hex", "", "HexDump", "true"},
    {"re", "yes", "RateEmulation", "true"},
    {"loop_input", "1", "LoopInput", "true"},
    {"copyts", "1", "CopyTs", "true"},
    {"copytb", "1", "CopyTb", "true"},
    {"shortest", "1", "Shortest", "true"},
    {"xerror", "1", "ExitOnError", "true"},
    {"intra", "1", "IntraOnly", "true"},
    {"vn", "1", "VideoDisable", "true"},
    {"sameq", "1", "SameQuality", "true"},
    {"deinterlace", "1", "Deinterlace", "true"},
    {"psnr", "1", "Psnr", "true"},
    {"qphist", "1", "QpHistogram", "true"},
    {"force_fps", "1", "ForceFps", "true"},
    {"an", "1", "AudioDisable", "true"},
    {"sn", "1", "SubtitleDisable", "true"},
    {"isync", "1", "InputSync", "true"},
    // integers
    {"dframes", "5", "MaxFrames[2]", "5"},
    {"loop_output", "3", "LoopOutput", "3"},
    {"v", "0x1f", "Verbose", "31"},
    {"vsync", "2", "VideoSyncMethod", "2"},
    {"async", "-7", "AudioSyncMethod", "-7"},
    {"vglobal", "$2", "VideoGlobalHeader", "2"},
    {"programid", " 1234", "ProgramId", "1234"},
    {"copyinkf", "1", "CopyInitialNonKeyframes", "1"},
    {"vframes", "0", "MaxFrames[0]", "0"},
    {"vdt", "48", "VideoDiscard", "48"},
    {"me_threshold", "9", "MeThreshold", "9"},
    {"top", "0", "TopFieldFirst", "0"},
    {"dc", "10", "IntraDcPrecision", "10"},
    {"aframes", "100", "MaxFrames[1]", "100"},
    {"vol", "512", "AudioVolume", "512"},
    {"vc", "3", "VideoChannel", "3"},
    // 64-bit integer
    {"fs", "5000000000", "LimitFileSize", "5000000000"},
    // floats
    {"adrift_threshold", "0.25", "AudioDriftThreshold", "0.25"},
    {"dts_delta_threshold", "1e2", "DtsDeltaThreshold", "100"},
    {"aq", "-3.5", "AudioQscale", "-3.5"},
    {"muxdelay", "1.5", "MuxMaxDelay", "1.5"},
    {"muxpreload", " 2 ", "MuxPreload", "2"},
    // texts, stored unchanged
    {"f", "mpegts", "ForcedFormat", "'mpegts'"},
    {"passlogfile", " /tmp/pass log ", "PassLogFilePrefix", "' /tmp/pass log '"},
    {"vlang", "eng", "VideoLanguage", "'eng'"},
    {"force_key_frames", "0,1.5,3", "ForcedKeyFrames", "'0,1.5,3'"},
    {"alang", "fre", "AudioLanguage", "'fre'"},
    {"slang", "ger", "SubtitleLanguage", "'ger'"},
    {"burn_subtitles", "0:a.srt", "BurnSubtitles", "'0:a.srt'"},
    // handlers that store their value
    {"ar", "48000", "AudioSampleRate", "48000"},
    {"ac", "6", "AudioChannels", "6"},
    {"tvstd", "PAL-BG", "VideoStandard", "'PAL-BG'"},
    {"rc_override", "0,100,2/200,300,-1", "RcOverride", "'0,100,2/200,300,-1'"},
    {"vfilters", "scale=320:240,hflip", "VideoFilters", "'scale=320:240,hflip'"},
    {"vf", "yadif", "VideoFilters", "'yadif'"},
};

TEST_F(OptionTest, PlainOptionsWriteOnlyTheirSetting) {
  for (const TPlainCase& c : kPlainCases) {
    Fresh();
    const auto before = Settings(*Engine);
    ASSERT_TRUE(before.count(c.Setting)) << c.Setting;
    EXPECT_NE(before.at(c.Setting), c.Expected) << c.Option << ": the value must show";
    EXPECT_NO_THROW(Engine->ParseOption(c.Option, c.Value)) << c.Option;
    const auto after = Settings(*Engine);
    EXPECT_EQ(after.at(c.Setting), c.Expected) << c.Option;
    EXPECT_THAT(Changed(before, after), ElementsAreArray({std::string(c.Setting)})) << c.Option;
  }
}

TEST(OptionTableData, EveryPlainOptionIsCovered) {
  std::set<std::string> covered;
  for (const TPlainCase& c : kPlainCases) covered.insert(c.Option);
  for (const TOptionRow& row : OptionTable()) {
    const bool plain = row.Kind == TOptionKind::Flag || row.Kind == TOptionKind::Integer ||
                       row.Kind == TOptionKind::Int64 || row.Kind == TOptionKind::Float ||
                       row.Kind == TOptionKind::Text;
    if (plain) {
      EXPECT_TRUE(covered.count(row.Name)) << row.Name;
    }
  }
}

TEST(OptionTableData, KindsOfThePlainOptions) {
  const std::map<std::string, TOptionKind> kinds = {{"fs", TOptionKind::Int64},
                                                    {"adrift_threshold", TOptionKind::Float},
                                                    {"dts_delta_threshold", TOptionKind::Float},
                                                    {"aq", TOptionKind::Float},
                                                    {"muxdelay", TOptionKind::Float},
                                                    {"muxpreload", TOptionKind::Float},
                                                    {"f", TOptionKind::Text},
                                                    {"passlogfile", TOptionKind::Text},
                                                    {"vlang", TOptionKind::Text},
                                                    {"force_key_frames", TOptionKind::Text},
                                                    {"alang", TOptionKind::Text},
                                                    {"slang", TOptionKind::Text},
                                                    {"dump", TOptionKind::Flag},
                                                    {"an", TOptionKind::Flag},
                                                    {"vframes", TOptionKind::Integer},
                                                    {"vol", TOptionKind::Integer}};
  for (const auto& [name, kind] : kinds) {
    const TOptionRow* row = FindOptionRow(name);
    ASSERT_NE(row, nullptr) << name;
    EXPECT_EQ(int(row->Kind), int(kind)) << name;
  }
}

TEST_F(OptionTest, FlagIsTrueUnlessExactlyZero) {
  const struct {
    const char* Value;
    bool Disabled;
  } cases[] = {{"0", false}, {"", true}, {"1", true}, {"00", true}, {" 0", true}, {"false", true}};
  for (const auto& c : cases) {
    Fresh();
    Engine->ParseOption("an", c.Value);
    EXPECT_EQ(Engine->AudioDisable, c.Disabled) << "'" << c.Value << "'";
  }
  // A later "0" clears it again.
  Engine->ParseOption("an", "0");
  EXPECT_FALSE(Engine->AudioDisable);
}

TEST_F(OptionTest, NumberErrorsRaiseTheConversionError) {
  const struct {
    const char* Option;
    const char* Value;
  } cases[] = {{"v", "abc"},    {"fs", "12abc"},      {"vframes", ""},
               {"aq", "1,5"},   {"muxdelay", "fast"}, {"vol", "2147483648"},
               {"ar", "44.1k"}, {"ac", ""},           {"dts_delta_threshold", "1e999"}};
  for (const auto& c : cases) {
    Fresh();
    const auto before = Settings(*Engine);
    try {
      Engine->ParseOption(c.Option, c.Value);
      ADD_FAILURE() << c.Option << "=" << c.Value << " was accepted";
    } catch (const EConvertError&) {
    } catch (const std::exception& e) {
      ADD_FAILURE() << c.Option << ": wrong exception " << e.what();
    }
    EXPECT_TRUE(Changed(before, Settings(*Engine)).empty()) << c.Option;
  }
}

// Values the engine would scale past its integer fields are refused where they enter, with
// the option's name, and leave every setting as it was.
TEST_F(OptionTest, ValuesOutsideWhatTheEngineCanHoldAreRefused) {
  const struct {
    const char* Option;
    const char* Value;
  } cases[] = {{"dc", "-2147483648"},  {"dc", "25"},         {"aq", "3e38"},
               {"aq", "-3e38"},        {"muxdelay", "3e38"}, {"muxdelay", "-1"},
               {"muxpreload", "3e38"}, {"vol", "-1"},        {"vol", "2147483647"}};
  for (const auto& c : cases) {
    Fresh();
    const auto before = Settings(*Engine);
    const std::string message =
        test::RaisedMessage([&] { Engine->ParseOption(c.Option, c.Value); });
    EXPECT_NE(message.find(std::string("\"") + c.Option + "\" must be between"), std::string::npos)
        << c.Option << "=" << c.Value << ": " << message;
    EXPECT_TRUE(Changed(before, Settings(*Engine)).empty()) << c.Option;
  }
  // The edges themselves are taken.
  for (const auto& [option, value] : std::vector<std::pair<const char*, const char*>>{
           {"dc", "8"}, {"dc", "11"}, {"vol", "0"}, {"vol", "65536"}, {"muxdelay", "0"}}) {
    Fresh();
    EXPECT_NO_THROW(Engine->ParseOption(option, value)) << option << "=" << value;
  }
}

TEST_F(OptionTest, EmptyFormatKeepsTheForcedFormat) {
  Engine->ParseOption("f", "mpeg");
  Engine->ParseOption("f", "");
  EXPECT_EQ(Engine->ForcedFormat, "mpeg");
  Engine->ParseOption("f", "avi");
  EXPECT_EQ(Engine->ForcedFormat, "avi");
}

TEST_F(OptionTest, EmptyFilterChainKeepsTheFilters) {
  Engine->ParseOption("vf", "hflip");
  Engine->ParseOption("vfilters", "");
  Engine->ParseOption("vf", "");
  EXPECT_EQ(Engine->VideoFilters, "hflip");
}

TEST_F(OptionTest, AudioRateAndChannelsIgnoreValuesNotAboveZero) {
  Engine->ParseOption("ar", "0");
  Engine->ParseOption("ac", "-1");
  EXPECT_EQ(Engine->AudioSampleRate, 44100);
  EXPECT_EQ(Engine->AudioChannels, 2);
  Engine->ParseOption("ar", "22050");
  Engine->ParseOption("ac", "1");
  Engine->ParseOption("ar", "-8000");
  Engine->ParseOption("ac", "0");
  EXPECT_EQ(Engine->AudioSampleRate, 22050);
  EXPECT_EQ(Engine->AudioChannels, 1);
}

// ---- No-ops, removed options, logged handlers ------------------------------------------

TEST_F(OptionTest, NoOpsOnlyLog) {
  const char* noOps[] = {"L",         "h",       "version", "formats", "codecs",   "bsfs",
                         "protocols", "filters", "i",       "y",       "benchmark"};
  TLogCapture log;
  std::set<std::string> listed(std::begin(noOps), std::end(noOps));
  for (const TOptionRow& row : OptionTable())
    if (row.Kind == TOptionKind::NoOp) {
      EXPECT_TRUE(listed.count(row.Name)) << row.Name;
    }
  for (const char* name : noOps) {
    log.Clear();
    const auto before = Settings(*Engine);
    EXPECT_NO_THROW(Engine->ParseOption(name, "input.avi"));
    EXPECT_TRUE(Changed(before, Settings(*Engine)).empty()) << name;
    const auto lines = log.Lines();
    ASSERT_EQ(lines.size(), 1u) << name;
    EXPECT_EQ(lines[0].Level, llInfo);
    EXPECT_EQ(lines[0].Text, std::string("Do nothing: option - ") + name);
  }
}

TEST_F(OptionTest, RemovedOptionsRaiseAndChangeNothing) {
  const struct {
    const char* Name;
    const char* Message;
  } cases[] = {{"croptop", "Removed, use the crop filter instead"},
               {"cropbottom", "Removed, use the crop filter instead"},
               {"cropleft", "Removed, use the crop filter instead"},
               {"cropright", "Removed, use the crop filter instead"},
               {"padtop", "Removed, use the pad filter instead"},
               {"padbottom", "Removed, use the pad filter instead"},
               {"padleft", "Removed, use the pad filter instead"},
               {"padright", "Removed, use the pad filter instead"},
               {"padcolor", "Removed, use the pad filter instead"}};
  int removedRows = 0;
  for (const TOptionRow& row : OptionTable()) removedRows += row.Kind == TOptionKind::Removed;
  EXPECT_EQ(removedRows, 9);
  for (const auto& c : cases) {
    const auto before = Settings(*Engine);
    try {
      Engine->ParseOption(c.Name, "16");
      ADD_FAILURE() << c.Name << " was accepted";
    } catch (const FFmpegException& e) {
      EXPECT_STREQ(e.what(), c.Message);
    }
    EXPECT_TRUE(Changed(before, Settings(*Engine)).empty()) << c.Name;
  }
}

TEST_F(OptionTest, TimeLimitOnlyWarns) {
  TLogCapture log;
  const auto before = Settings(*Engine);
  Engine->ParseOption("timelimit", "60");
  EXPECT_TRUE(Changed(before, Settings(*Engine)).empty());
  EXPECT_TRUE(log.Has(llWarning, "Warning: -timelimit not implemented"));
}

// The level is the job's own: the process-wide logger and other jobs keep theirs.
TEST_F(OptionTest, LogLevelByNameIsTheJobsOwn) {
  const TLogLevel global = DefaultLogger()->LogLevel();
  Engine->ParseOption("loglevel", "error");
  EXPECT_EQ(Engine->JobLogLevel, llError);
  Engine->ParseOption("loglevel", "VERBOSE");
  EXPECT_EQ(Engine->JobLogLevel, llVerbose);
  EXPECT_THROW(Engine->ParseOption("loglevel", "chatty"), EConvertError);
  EXPECT_EQ(Engine->JobLogLevel, llVerbose);
  EXPECT_EQ(DefaultLogger()->LogLevel(), global);
}

TEST_F(OptionTest, NewStreamNeedsAnOutput) {
  for (const char* kind : {"newvideo", "newaudio", "newsubtitle"}) {
    try {
      Engine->ParseOption(kind, "");
      ADD_FAILURE() << kind << " was accepted";
    } catch (const FFmpegException& e) {
      EXPECT_STREQ(e.what(), "At least one output file must be specified");
    }
  }
}

// ---- Names outside the vocabulary ------------------------------------------------------

TEST_F(OptionTest, UnknownOptionStrictAndLenient) {
  try {
    Engine->ParseOption("nosuch", "1");
    ADD_FAILURE() << "accepted";
  } catch (const FFmpegException& e) {
    EXPECT_STREQ(e.what(), "Unrecognized option \"nosuch\"");
  }
  Engine->StrictOptions = false;
  const auto before = Settings(*Engine);
  EXPECT_NO_THROW(Engine->ParseOption("nosuch", "1"));
  EXPECT_TRUE(Changed(before, Settings(*Engine)).empty());
}

TEST_F(OptionTest, UpperCaseNameIsNoVocabularyOption) {
  try {
    Engine->ParseOption("AN", "1");
    ADD_FAILURE() << "accepted";
  } catch (const FFmpegException& e) {
    EXPECT_STREQ(e.what(), "Unrecognized option \"AN\"");
  }
  EXPECT_FALSE(Engine->AudioDisable);
  // A generic name goes to the generic setter and is recorded there.
  Engine->ParseOption("qmin", "7");
  EXPECT_EQ(Engine->OptionContexts.CodecDefaults[AVMEDIA_TYPE_VIDEO]->qmin, 7);
}

TEST_F(OptionTest, InvalidGenericValueRaisesItsMessage) {
  try {
    Engine->ParseOption("qmin", "lots");
    ADD_FAILURE() << "accepted";
  } catch (const FFmpegException& e) {
    EXPECT_STREQ(e.what(), "Invalid value \"lots\" for option \"qmin\"");
  }
}

TEST_F(OptionTest, BlankNameRaisesItsOwnMessageNotAnEarlierOne) {
  EXPECT_THROW(Engine->ParseOption("nosuch", ""), FFmpegException);
  try {
    Engine->ParseOption(" ", "1");
    ADD_FAILURE() << "accepted";
  } catch (const FFmpegException& e) {
    EXPECT_THAT(e.what(), ::testing::Not(HasSubstr("nosuch")));
  }
  Engine->StrictOptions = false;
  EXPECT_NO_THROW(Engine->ParseOption("", "1"));
}

// ---- ParseOptions ------------------------------------------------------------------------

struct TObserved {
  std::map<std::string, std::string> Settings;
  std::vector<std::string> Generic;
  std::vector<std::string> Log;
};

TObserved Observe(TFFmpeg& e, TLogCapture& log) {
  TObserved o{Settings(e), e.OptionContexts.OptionNames, {}};
  for (const TLogLine& l : log.Lines()) o.Log.push_back(l.Text);
  return o;
}

TEST_F(OptionTest, LiteralAndRealLineBreaksGiveTheSameCalls) {
  const std::string lines[] = {"VLANG=eng", "passlogfile= a=b=c", "qmin=7", "y",
                               "an",        "vf=scale=320:240",   "v=3",    "g=48"};
  auto join = [&](const std::string& sep) {
    std::string t;
    for (const std::string& l : lines) t += (t.empty() ? "" : sep) + l;
    return t;
  };
  TLogCapture log;

  // The same options given one by one.
  Engine->ParseOption("vlang", "eng");
  Engine->ParseOption("passlogfile", " a=b=c");
  Engine->ParseOption("qmin", "7");
  Engine->ParseOption("y", "");
  Engine->ParseOption("an", "");
  Engine->ParseOption("v", "3");
  Engine->ParseOption("g", "48");
  const TObserved direct = Observe(*Engine, log);
  EXPECT_EQ(direct.Settings.at("PassLogFilePrefix"), "' a=b=c'");
  EXPECT_EQ(direct.Settings.at("VideoFilters"), "''");

  for (const std::string sep : {"<CRLF>", "\r\n", "\n", "\r"}) {
    Fresh();
    log.Clear();
    Engine->ParseOptions("  " + join(sep) + sep + "\r\n ", false);
    const TObserved parsed = Observe(*Engine, log);
    EXPECT_EQ(parsed.Settings, direct.Settings) << "separator " << ::testing::PrintToString(sep);
    EXPECT_EQ(parsed.Generic, direct.Generic);
    EXPECT_EQ(parsed.Log, direct.Log);
  }
}

TEST_F(OptionTest, StreamLinesAreLeftToTheOwner) {
  // Each of these would raise or change a setting if it reached ParseOption.
  const char* text =
      "newvideo<CRLF>newaudio=1<CRLF>newsubtitle<CRLF>apre=nosuch<CRLF>vpre=nosuch<CRLF>"
      "spre=nosuch<CRLF>vfilters=hflip<CRLF>vf=vflip";
  for (bool withCodecs : {false, true}) {
    Fresh();
    const auto before = Settings(*Engine);
    EXPECT_NO_THROW(Engine->ParseOptions(text, withCodecs));
    EXPECT_TRUE(Changed(before, Settings(*Engine)).empty());
  }
  // "fpre" is no stream line.
  EXPECT_THROW(Engine->ParseOptions("fpre=/nonexistent/preset", false), FFmpegException);
}

TEST_F(OptionTest, CodecLinesOnlyWithCodecs) {
  const char* text = "vcodec=mpeg2video<CRLF>acodec=mp2<CRLF>scodec=dvdsub<CRLF>s=320x240<CRLF>v=2";
  const auto before = Settings(*Engine);
  EXPECT_NO_THROW(Engine->ParseOptions(text, false));
  EXPECT_THAT(Changed(before, Settings(*Engine)), ElementsAreArray({"Verbose"}));

  // With codecs the lines reach ParseOption: the same state as direct calls.
  TFFmpeg direct(4);
  try {
    direct.ParseOption("vcodec", "mpeg2video");
    direct.ParseOption("acodec", "mp2");
    direct.ParseOption("scodec", "dvdsub");
    direct.ParseOption("s", "320x240");
  } catch (const FFmpegException& e) {
    GTEST_SKIP() << "codec and size options not available yet: " << e.what();
  }
  direct.ParseOption("v", "2");
  Fresh();
  Engine->ParseOptions(text, true);
  EXPECT_EQ(Settings(*Engine), Settings(direct));
  EXPECT_EQ(Engine->VideoCodecName, "mpeg2video");
}

TEST_F(OptionTest, AnExceptionEndsTheParse) {
  try {
    Engine->ParseOptions("vlang=a<CRLF>croptop=8<CRLF>alang=b", false);
    ADD_FAILURE() << "accepted";
  } catch (const FFmpegException& e) {
    EXPECT_STREQ(e.what(), "Removed, use the crop filter instead");
  }
  EXPECT_EQ(Engine->VideoLanguage, "a");
  EXPECT_EQ(Engine->AudioLanguage, "");
  EXPECT_THROW(Engine->ParseOptions("v=x", false), EConvertError);
}

TEST_F(OptionTest, EmptyLinesCarryNoOption) {
  EXPECT_NO_THROW(Engine->ParseOptions("<CRLF>vlang=a<CRLF><CRLF>\n\n  \nalang=b<CRLF>", false));
  EXPECT_EQ(Engine->VideoLanguage, "a");
  EXPECT_EQ(Engine->AudioLanguage, "b");
  EXPECT_NO_THROW(Engine->ParseOptions("", false));
  EXPECT_NO_THROW(Engine->ParseOptions(" \r\n ", false));
}

}  // namespace
}  // namespace tovamo
