// The generic option setter: default contexts, lookup order, prefix rule, private options,
// messages, ApplyGenericOptions and the option contexts' lifetime.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Engine/FFmpeg.h"
#include "Services/Exceptions.h"
#include "Services/FFBindings.h"
#include "Services/FFLoad.h"
#include "Services/FFLog.h"
#include "Services/Text.h"
#include "support/TestSupport.h"
#include "support/LogCapture.h"
#include "support/TestLocale.h"

namespace tovamo {
namespace {

using test::TLogCapture;

using ::testing::ElementsAre;
using ::testing::HasSubstr;

std::int64_t GetInt(void* obj, const char* name) {
  std::int64_t v = -12345;
  EXPECT_GE(ff::av_opt_get_int(obj, name, 0, &v), 0) << name;
  return v;
}

std::string GetText(void* obj, const char* name) {
  std::uint8_t* text = nullptr;
  TCNumericLocale numbers;  // the library prints numbers with snprintf
  EXPECT_GE(ff::av_opt_get(obj, name, 0, &text), 0) << name;
  std::string s = text ? reinterpret_cast<const char*>(text) : "";
  ff::av_free(text);
  return s;
}

struct TCodecContext {
  explicit TCodecContext(const AVCodec* codec) : Ctx(ff::avcodec_alloc_context3(codec)) {}
  ~TCodecContext() { ff::avcodec_free_context(&Ctx); }
  AVCodecContext* Ctx;
};

class GenericOptionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::LoadSystemLibraries();
    DefaultLogger()->SetLogLevel(llInfo);
    Engine = std::make_unique<TFFmpeg>(4);
  }
  AVCodecContext* Defaults(AVMediaType type) { return Engine->OptionContexts.CodecDefaults[type]; }
  std::unique_ptr<TFFmpeg> Engine;
};

TEST_F(GenericOptionTest, DefaultContextsPerMediaType) {
  const TOptionContexts& oc = Engine->OptionContexts;
  ASSERT_TRUE(oc.Allocated());
  const AVMediaType types[] = {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_DATA,
                               AVMEDIA_TYPE_SUBTITLE, AVMEDIA_TYPE_ATTACHMENT};
  for (int i = 0; i < kMediaTypeCount; ++i) {
    ASSERT_NE(oc.CodecDefaults[i], nullptr);
    EXPECT_EQ(oc.CodecDefaults[i]->codec_type, types[i]);
  }
  ASSERT_NE(oc.FormatDefaults, nullptr);
  ASSERT_NE(oc.ScalerDefaults, nullptr);
  EXPECT_EQ(GetInt(oc.ScalerDefaults, "sws_flags"), SWS_BICUBIC);

  Engine->AllocOptionContexts(SWS_BILINEAR);
  EXPECT_EQ(GetInt(Engine->OptionContexts.ScalerDefaults, "sws_flags"), SWS_BILINEAR);
  Engine->FreeOptionContexts();
  EXPECT_FALSE(Engine->OptionContexts.Allocated());
  for (AVCodecContext* c : Engine->OptionContexts.CodecDefaults) EXPECT_EQ(c, nullptr);
  EXPECT_EQ(Engine->OptionContexts.ScalerDefaults, nullptr);
  Engine->FreeOptionContexts();  // twice is harmless
}

TEST_F(GenericOptionTest, CodecOptionGoesToTheTypesWhoseMaskItCarries) {
  // "qmin" is a video encoding option: video defaults, plus data and attachment (mask 0).
  const int audioBefore = Defaults(AVMEDIA_TYPE_AUDIO)->qmin;
  const int subtitleBefore = Defaults(AVMEDIA_TYPE_SUBTITLE)->qmin;
  ASSERT_TRUE(Engine->SetGenericOption("qmin", "7"));
  EXPECT_EQ(Defaults(AVMEDIA_TYPE_VIDEO)->qmin, 7);
  EXPECT_EQ(Defaults(AVMEDIA_TYPE_DATA)->qmin, 7);
  EXPECT_EQ(Defaults(AVMEDIA_TYPE_ATTACHMENT)->qmin, 7);
  EXPECT_EQ(Defaults(AVMEDIA_TYPE_AUDIO)->qmin, audioBefore);
  EXPECT_EQ(Defaults(AVMEDIA_TYPE_SUBTITLE)->qmin, subtitleBefore);

  // "cutoff" is an audio option.
  ASSERT_TRUE(Engine->SetGenericOption("cutoff", "15000"));
  EXPECT_EQ(Defaults(AVMEDIA_TYPE_AUDIO)->cutoff, 15000);
  EXPECT_EQ(Defaults(AVMEDIA_TYPE_VIDEO)->cutoff, 0);

  // Recorded by name, without value: the defaults hold it.
  EXPECT_THAT(Engine->OptionContexts.OptionNames, ElementsAre("qmin", "cutoff"));
  EXPECT_THAT(Engine->OptionContexts.OptionValues, ElementsAre("", ""));
}

TEST_F(GenericOptionTest, FormatAndScalerOptions) {
  ASSERT_TRUE(Engine->SetGenericOption("probesize", "4096"));
  EXPECT_EQ(Engine->OptionContexts.FormatDefaults->probesize, 4096);
  ASSERT_TRUE(Engine->SetGenericOption("sws_flags", "bilinear"));
  EXPECT_EQ(GetInt(Engine->OptionContexts.ScalerDefaults, "sws_flags"), SWS_BILINEAR);
  EXPECT_THAT(Engine->OptionContexts.OptionNames, ElementsAre("probesize", "sws_flags"));
}

TEST_F(GenericOptionTest, TypePrefixWhenTheFullNameIsUnknown) {
  const int audioQmin = Defaults(AVMEDIA_TYPE_AUDIO)->qmin;
  const int videoQmax = Defaults(AVMEDIA_TYPE_VIDEO)->qmax;
  ASSERT_TRUE(Engine->SetGenericOption("vqmin", "5"));
  EXPECT_EQ(Defaults(AVMEDIA_TYPE_VIDEO)->qmin, 5);
  EXPECT_EQ(Defaults(AVMEDIA_TYPE_AUDIO)->qmin, audioQmin);
  ASSERT_TRUE(Engine->SetGenericOption("aqmax", "40"));
  EXPECT_EQ(Defaults(AVMEDIA_TYPE_AUDIO)->qmax, 40);
  EXPECT_EQ(Defaults(AVMEDIA_TYPE_VIDEO)->qmax, videoQmax);
  ASSERT_TRUE(Engine->SetGenericOption("sstrict", "-1"));
  EXPECT_EQ(Defaults(AVMEDIA_TYPE_SUBTITLE)->strict_std_compliance, -1);
  EXPECT_EQ(Defaults(AVMEDIA_TYPE_VIDEO)->strict_std_compliance, 0);
  // The option's own name is recorded.
  EXPECT_THAT(Engine->OptionContexts.OptionNames, ElementsAre("qmin", "qmax", "strict"));
  // The prefix rule is for a, v and s only.
  EXPECT_FALSE(Engine->SetGenericOption("xqmin", "5"));
}

TEST_F(GenericOptionTest, InvalidValue) {
  TLogCapture log;
  SetLastOptionError("");
  EXPECT_FALSE(Engine->SetGenericOption("qmin", "many"));
  EXPECT_EQ(LastOptionError(), "Invalid value \"many\" for option \"qmin\"");
  EXPECT_TRUE(log.HasPart(llError, "Invalid value \"many\" for option \"qmin\""));
  EXPECT_TRUE(Engine->OptionContexts.OptionNames.empty());
  // The same through the prefix rule names the option as given.
  EXPECT_FALSE(Engine->SetGenericOption("vqmin", "many"));
  EXPECT_EQ(LastOptionError(), "Invalid value \"many\" for option \"vqmin\"");
}

TEST_F(GenericOptionTest, UnrecognizedOption) {
  TLogCapture log;
  EXPECT_FALSE(Engine->SetGenericOption("nosuch", "1"));
  EXPECT_EQ(LastOptionError(), "Unrecognized option \"nosuch\"");
  EXPECT_TRUE(log.HasPart(llError, "Unrecognized option \"nosuch\""));
  EXPECT_TRUE(Engine->OptionContexts.OptionNames.empty());
  // Percent signs in a name are text, not format directives.
  EXPECT_FALSE(Engine->SetGenericOption("%s%n%s", "1"));
  EXPECT_EQ(LastOptionError(), "Unrecognized option \"%s%n%s\"");
}

TEST_F(GenericOptionTest, BlankNameLeavesTheLastErrorAlone) {
  SetLastOptionError("before");
  EXPECT_FALSE(Engine->SetGenericOption("", "1"));
  EXPECT_FALSE(Engine->SetGenericOption("  ", "1"));
  EXPECT_EQ(LastOptionError(), "before");
}

TEST_F(GenericOptionTest, IntegerRendering) {
  ASSERT_TRUE(Engine->SetGenericOptionInt("g", 48));
  EXPECT_EQ(Defaults(AVMEDIA_TYPE_VIDEO)->gop_size, 48);
  ASSERT_TRUE(Engine->SetGenericOptionInt("b", 5000000000LL));
  EXPECT_EQ(Defaults(AVMEDIA_TYPE_VIDEO)->bit_rate, 5000000000LL);
  ASSERT_TRUE(Engine->SetGenericOptionInt("strict", -2));
  EXPECT_EQ(Defaults(AVMEDIA_TYPE_VIDEO)->strict_std_compliance, -2);
}

// "b", "maxrate", "minrate" and "bufsize" carry the audio flag too in today's libraries;
// they are still the video stream's settings, whatever order the options come in.
TEST_F(GenericOptionTest, RateOptionsBelongToVideo) {
  const char* const kNames[] = {"b", "maxrate", "minrate", "bufsize"};
  const struct {
    std::vector<std::pair<const char*, const char*>> Options;
    std::map<std::string, std::int64_t> Video, Audio;  // names not listed keep the default
  } cases[] = {
      {{{"ab", "128000"}, {"b", "1000000"}}, {{"b", 1000000}}, {{"b", 128000}}},
      {{{"b", "1000000"}, {"ab", "128000"}}, {{"b", 1000000}}, {{"b", 128000}}},
      {{{"maxrate", "1150000"}, {"minrate", "1150000"}, {"bufsize", "327680"}},
       {{"maxrate", 1150000}, {"minrate", 1150000}, {"bufsize", 327680}},
       {}},
      {{{"vb", "900000"}, {"abufsize", "65536"}}, {{"b", 900000}}, {{"bufsize", 65536}}},
  };
  for (const auto& c : cases) {
    TFFmpeg engine(1);
    std::string trace;
    for (const auto& [name, value] : c.Options) {
      trace += std::string(name) + "=" + value + " ";
      engine.ParseOption(name, value);
    }
    SCOPED_TRACE(trace);
    TCodecContext fresh(nullptr);
    for (const char* name : kNames) {
      const auto expected = [&](const std::map<std::string, std::int64_t>& set) {
        const auto it = set.find(name);
        return it != set.end() ? it->second : GetInt(fresh.Ctx, name);
      };
      EXPECT_EQ(GetInt(engine.OptionContexts.CodecDefaults[AVMEDIA_TYPE_VIDEO], name),
                expected(c.Video))
          << "video " << name;
      EXPECT_EQ(GetInt(engine.OptionContexts.CodecDefaults[AVMEDIA_TYPE_AUDIO], name),
                expected(c.Audio))
          << "audio " << name;
    }
  }
}

// The audio encoder of a job with a video bit rate given after the audio one opens with its
// own rate.
TEST_F(GenericOptionTest, AudioEncoderKeepsItsRateBesideAVideoRate) {
  const AVCodec* mp2 = ff::avcodec_find_encoder_by_name("mp2");
  ASSERT_NE(mp2, nullptr);
  Engine->ParseOption("ab", "128000");
  Engine->ParseOption("b", "1000000");
  TCodecContext audio(mp2);
  audio.Ctx->sample_rate = 44100;
  audio.Ctx->sample_fmt = AV_SAMPLE_FMT_S16;
  ff::av_channel_layout_default(&audio.Ctx->ch_layout, 2);
  Engine->ApplyGenericOptions(audio.Ctx, Defaults(AVMEDIA_TYPE_AUDIO),
                              AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_ENCODING_PARAM, mp2);
  EXPECT_EQ(audio.Ctx->bit_rate, 128000);
  EXPECT_EQ(ff::avcodec_open2(audio.Ctx, mp2, nullptr), 0);
}

// Numbers in option values are read, and copied into the contexts, the same in every locale.
TEST_F(GenericOptionTest, DecimalValuesReachTheContexts) {
  const struct {
    const char* Name;
    const char* Value;
    float AVCodecContext::*Field;
    float Expected;
  } cases[] = {
      {"qcomp", "0.6", &AVCodecContext::qcompress, 0.6f},
      {"i_qfactor", "0.71", &AVCodecContext::i_quant_factor, 0.71f},
      {"b_qfactor", "1.25", &AVCodecContext::b_quant_factor, 1.25f},
      {"qblur", "2.5e-1", &AVCodecContext::qblur, 0.25f},
  };
  for (const auto& c : cases) ASSERT_TRUE(Engine->SetGenericOption(c.Name, c.Value)) << c.Name;
  TCodecContext applied(nullptr);
  Engine->ApplyGenericOptions(applied.Ctx, Defaults(AVMEDIA_TYPE_VIDEO),
                              AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_ENCODING_PARAM, nullptr);
  for (const auto& c : cases) {
    EXPECT_EQ(Defaults(AVMEDIA_TYPE_VIDEO)->*c.Field, c.Expected) << c.Name;
    EXPECT_EQ(applied.Ctx->*c.Field, c.Expected) << c.Name;
  }
  // A decimal comma is no number in any locale.
  EXPECT_FALSE(Engine->SetGenericOption("qcomp", "0,6"));
}

TEST_F(GenericOptionTest, ApplyCopiesOnlyOptionsOfTheGivenFlags) {
  ASSERT_TRUE(Engine->SetGenericOption("qmin", "7"));
  ASSERT_TRUE(Engine->SetGenericOption("g", "33"));
  ASSERT_TRUE(Engine->SetGenericOption("cutoff", "12345"));
  ASSERT_TRUE(Engine->SetGenericOption("flags", "+qscale"));

  TCodecContext video(nullptr), audio(nullptr);
  const int audioGop = audio.Ctx->gop_size;
  Engine->ApplyGenericOptions(video.Ctx, Defaults(AVMEDIA_TYPE_VIDEO),
                              AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_ENCODING_PARAM, nullptr);
  EXPECT_EQ(video.Ctx->qmin, 7);
  EXPECT_EQ(video.Ctx->gop_size, 33);
  EXPECT_EQ(video.Ctx->cutoff, 0);  // audio only
  EXPECT_TRUE(video.Ctx->flags & AV_CODEC_FLAG_QSCALE);

  Engine->ApplyGenericOptions(audio.Ctx, Defaults(AVMEDIA_TYPE_AUDIO),
                              AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_ENCODING_PARAM, nullptr);
  EXPECT_EQ(audio.Ctx->cutoff, 12345);
  EXPECT_EQ(audio.Ctx->gop_size, audioGop);  // video only
}

TEST_F(GenericOptionTest, ApplyToFormatContexts) {
  ASSERT_TRUE(Engine->SetGenericOption("probesize", "4096"));  // a decoding option
  AVFormatContext* input = ff::avformat_alloc_context();
  AVFormatContext* output = ff::avformat_alloc_context();
  const std::int64_t defaultProbe = output->probesize;
  Engine->ApplyGenericOptions(input, Engine->OptionContexts.FormatDefaults,
                              AV_OPT_FLAG_DECODING_PARAM, nullptr);
  Engine->ApplyGenericOptions(output, Engine->OptionContexts.FormatDefaults,
                              AV_OPT_FLAG_ENCODING_PARAM, nullptr);
  EXPECT_EQ(input->probesize, 4096);
  EXPECT_EQ(output->probesize, defaultProbe);
  ff::avformat_free_context(input);
  ff::avformat_free_context(output);
}

TEST_F(GenericOptionTest, CodecPrivateOptionReachesThePrivateContext) {
  // mpeg2video knows "intra_vlc" only as a private option.
  const AVCodec* mpeg2 = ff::avcodec_find_encoder_by_name("mpeg2video");
  ASSERT_NE(mpeg2, nullptr);
  ASSERT_EQ(ff::av_opt_find(Defaults(AVMEDIA_TYPE_VIDEO), "intra_vlc", nullptr, 0, 0), nullptr);
  ASSERT_TRUE(Engine->SetGenericOption("intra_vlc", "1"));
  EXPECT_THAT(Engine->OptionContexts.OptionNames, ElementsAre("intra_vlc"));
  EXPECT_THAT(Engine->OptionContexts.OptionValues, ElementsAre("1"));

  TCodecContext ctx(mpeg2);
  ASSERT_EQ(GetInt(ctx.Ctx->priv_data, "intra_vlc"), 0);
  Engine->ApplyGenericOptions(ctx.Ctx, Defaults(AVMEDIA_TYPE_VIDEO), 17, mpeg2);
  EXPECT_EQ(GetInt(ctx.Ctx->priv_data, "intra_vlc"), 1);

  // A codec without that option ignores it.
  const AVCodec* mpeg4 = ff::avcodec_find_encoder_by_name("mpeg4");
  ASSERT_NE(mpeg4, nullptr);
  TCodecContext other(mpeg4);
  EXPECT_NO_THROW(Engine->ApplyGenericOptions(other.Ctx, Defaults(AVMEDIA_TYPE_VIDEO), 17, mpeg4));
}

TEST_F(GenericOptionTest, X264PresetIsAPrivateOption) {
  const AVCodec* x264 = ff::avcodec_find_encoder_by_name("libx264");
  if (!x264) GTEST_SKIP() << "no libx264 encoder in this library";
  ASSERT_TRUE(Engine->SetGenericOption("preset", "veryslow"));
  ASSERT_TRUE(Engine->SetGenericOption("crf", "18.5"));
  TCodecContext ctx(x264);
  Engine->ApplyGenericOptions(ctx.Ctx, Defaults(AVMEDIA_TYPE_VIDEO), 17, x264);
  EXPECT_EQ(GetText(ctx.Ctx->priv_data, "preset"), "veryslow");
  EXPECT_EQ(GetText(ctx.Ctx->priv_data, "crf"), "18.500000");
}

// "profile" is a generic number and libx264's own text: a word the generic option has no
// name for goes to the codec; a number stays generic; a word for a number that no codec
// takes as text is refused at once.
TEST_F(GenericOptionTest, AWordTheGenericOptionLacksGoesToTheCodecsTextOption) {
  const AVCodec* x264 = ff::avcodec_find_encoder_by_name("libx264");
  if (!x264) GTEST_SKIP() << "no libx264 encoder in this library";
  ASSERT_TRUE(Engine->SetGenericOption("profile", "high"));
  EXPECT_THAT(Engine->OptionContexts.OptionValues, ElementsAre("high"));
  EXPECT_THAT(Engine->OptionContexts.Private, ElementsAre(true));
  TCodecContext ctx(x264);
  Engine->ApplyGenericOptions(ctx.Ctx, Defaults(AVMEDIA_TYPE_VIDEO), 17, x264);
  EXPECT_EQ(GetText(ctx.Ctx->priv_data, "profile"), "high");

  TFFmpeg other(2);
  ASSERT_TRUE(other.SetGenericOption("profile", "1"));
  ASSERT_TRUE(other.SetGenericOption("level", "31"));
  EXPECT_THAT(other.OptionContexts.Private, ElementsAre(false, false));
  EXPECT_EQ(other.OptionContexts.CodecDefaults[AVMEDIA_TYPE_AUDIO]->profile, 1);
  EXPECT_FALSE(other.SetGenericOption("qmin", "high"));
}

TEST_F(GenericOptionTest, PrivateValueTheCodecRefuses) {
  // Private values are recorded unchecked (no codec is chosen yet); the codec that finally
  // knows the option reports a value it cannot take.
  TLogCapture log;
  const AVCodec* mpeg2 = ff::avcodec_find_encoder_by_name("mpeg2video");
  ASSERT_TRUE(Engine->SetGenericOption("intra_vlc", "perhaps"));
  TCodecContext ctx(mpeg2);
  try {
    Engine->ApplyGenericOptions(ctx.Ctx, Defaults(AVMEDIA_TYPE_VIDEO), 17, mpeg2);
    ADD_FAILURE() << "accepted";
  } catch (const FFmpegException& e) {
    EXPECT_STREQ(e.what(), "Invalid value \"perhaps\" for option \"intra_vlc\"");
  }
  EXPECT_TRUE(log.HasPart(llError, "Invalid value \"perhaps\" for option \"intra_vlc\""));
  Engine->StrictOptions = false;
  EXPECT_NO_THROW(Engine->ApplyGenericOptions(ctx.Ctx, Defaults(AVMEDIA_TYPE_VIDEO), 17, mpeg2));
}

TEST_F(GenericOptionTest, MuxerPrivateOptionReachesTheOutput) {
  ASSERT_TRUE(Engine->SetGenericOption("mpegts_service_id", "77"));
  EXPECT_THAT(Engine->OptionContexts.OptionValues, ElementsAre("77"));
  AVFormatContext* out = nullptr;
  ASSERT_GE(ff::avformat_alloc_output_context2(&out, nullptr, "mpegts", nullptr), 0);
  Engine->ApplyGenericOptions(out, Engine->OptionContexts.FormatDefaults,
                              AV_OPT_FLAG_ENCODING_PARAM, nullptr);
  EXPECT_EQ(GetInt(out->priv_data, "mpegts_service_id"), 77);
  ff::avformat_free_context(out);
}

// Debug output needs the debug level: the job's own, so other jobs stay as they were.
TEST_F(GenericOptionTest, DebugOptionsRaiseTheJobsLogLevel) {
  ASSERT_TRUE(Engine->SetGenericOption("qmin", "3"));
  EXPECT_FALSE(Engine->JobLogLevel.has_value());
  ASSERT_TRUE(Engine->SetGenericOption("debug", "pict"));
  EXPECT_EQ(Engine->JobLogLevel, llDebug);
  EXPECT_EQ(DefaultLogger()->LogLevel(), llInfo);
  TFFmpeg other(2);
  ASSERT_TRUE(other.SetGenericOption("fdebug", "ts"));
  EXPECT_EQ(other.JobLogLevel, llDebug);
  EXPECT_EQ(DefaultLogger()->LogLevel(), llInfo);
}

TEST_F(GenericOptionTest, EachEngineRaisesItsOwnRejection) {
  // Engines on several threads reject options at the same time; each one's exception names
  // its own option although the process-wide text is shared.
  constexpr int kThreads = 4;
  constexpr int kRounds = 100;
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &wrong] {
      TFFmpeg engine(1);
      for (int i = 0; i < kRounds; ++i) {
        const std::string name = "nosuch" + std::to_string(t) + "_" + std::to_string(i);
        try {
          engine.ParseOption(name, "1");
          ++wrong;
        } catch (const FFmpegException& e) {
          if (e.what() != "Unrecognized option \"" + name + "\"") ++wrong;
        }
        (void)LastOptionError();
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST(GenericOptionsWithoutLibraries, NothingIsAllocatedAndOptionsAreRejected) {
  // No library loaded: the engine holds no option contexts and must not crash.
  FFLoader().UnloadLibs(kAllLibraries);
  ASSERT_EQ(ff::avcodec_alloc_context3, nullptr);
  TFFmpeg engine(2);
  EXPECT_FALSE(engine.OptionContexts.Allocated());
  EXPECT_FALSE(engine.SetGenericOption("qmin", "3"));
  EXPECT_THAT(LastOptionError(), HasSubstr("qmin"));
  EXPECT_THROW(engine.ParseOption("qmin", "3"), FFmpegException);
  engine.ApplyGenericOptions(nullptr, nullptr, 0, nullptr);
}

}  // namespace
}  // namespace tovamo
