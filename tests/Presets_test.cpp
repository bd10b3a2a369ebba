// Presets: the built-in table, its translation to today's libx264 options, preset files and
// their error messages.
#include "Engine/BuiltinPresets.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
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

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

const char* const kPresetNames[] = {"libx264-baseline",
                                    "libx264-default",
                                    "libx264-fast",
                                    "libx264-fast_firstpass",
                                    "libx264-faster",
                                    "libx264-faster_firstpass",
                                    "libx264-fastfirstpass",
                                    "libx264-hq",
                                    "libx264-ipod320",
                                    "libx264-ipod640",
                                    "libx264-lossless_fast",
                                    "libx264-lossless_max",
                                    "libx264-lossless_medium",
                                    "libx264-lossless_slow",
                                    "libx264-lossless_slower",
                                    "libx264-lossless_ultrafast",
                                    "libx264-main",
                                    "libx264-max",
                                    "libx264-medium",
                                    "libx264-medium_firstpass",
                                    "libx264-normal",
                                    "libx264-placebo",
                                    "libx264-placebo_firstpass",
                                    "libx264-slow",
                                    "libx264-slow_firstpass",
                                    "libx264-slower",
                                    "libx264-slower_firstpass",
                                    "libx264-slowfirstpass",
                                    "libx264-superfast",
                                    "libx264-superfast_firstpass",
                                    "libx264-ultrafast",
                                    "libx264-ultrafast_firstpass",
                                    "libx264-veryfast",
                                    "libx264-veryfast_firstpass",
                                    "libx264-veryslow",
                                    "libx264-veryslow_firstpass"};

std::map<std::string, std::string> Recorded(const TCustomFFmpeg& e) {
  std::map<std::string, std::string> m;
  for (std::size_t i = 0; i < e.OptionContexts.OptionNames.size(); ++i)
    m[e.OptionContexts.OptionNames[i]] = e.OptionContexts.OptionValues[i];
  return m;
}

// ---- The table ---------------------------------------------------------------------------

TEST(BuiltinPresetTable, NamesInOrder) {
  std::vector<std::string> names;
  for (const TOptionsPreset& p : BuiltinPresets()) names.push_back(p.Name);
  EXPECT_THAT(names, ElementsAreArray(kPresetNames));
}

TEST(BuiltinPresetTable, Contents) {
  auto content = [](const char* name) {
    const TOptionsPreset* p = FindBuiltinPreset(name);
    return p ? p->Content : std::string("(missing)");
  };
  EXPECT_EQ(content("libx264-baseline"), "coder=0\nbf=0\nflags2=-wpred-dct8x8\nwpredp=0\n");
  EXPECT_EQ(content("libx264-ipod320"),
            "coder=0\nbf=0\nflags2=-wpred-dct8x8\nlevel=13\nmaxrate=768000\nbufsize=3000000\n"
            "wpredp=0\n");
  EXPECT_EQ(content("libx264-ipod640"),
            "coder=0\nbf=0\nrefs=1\nflags2=-wpred-dct8x8\nlevel=30\nmaxrate=10000000\n"
            "bufsize=10000000\nwpredp=0\n");
  EXPECT_EQ(content("libx264-main"), "flags2=-dct8x8\n");
  EXPECT_EQ(content("libx264-default"),
            "coder=1\nflags=+loop\ncmp=+chroma\npartitions=+parti8x8+parti4x4+partp8x8+partb8x8\n"
            "me_method=hex\nsubq=7\nme_range=16\ng=250\nkeyint_min=25\nsc_threshold=40\n"
            "i_qfactor=0.71\nb_strategy=1\nqcomp=0.6\nqmin=10\nqmax=51\nqdiff=4\nbf=3\nrefs=3\n"
            "directpred=1\ntrellis=1\nflags2=+mixed_refs+wpred+dct8x8+fastpskip\nwpredp=2\n");
  // Keys marked as left out are absent; cqp only in the lossless presets.
  EXPECT_EQ(content("libx264-lossless_ultrafast"),
            "coder=0\nflags=+loop\ncmp=+chroma\n"
            "partitions=-parti8x8-parti4x4-partp8x8-partp4x4-partb8x8\nme_method=dia\nsubq=0\n"
            "me_range=16\ng=250\nkeyint_min=25\nsc_threshold=40\ni_qfactor=0.71\nb_strategy=1\n"
            "qcomp=0.6\nqmin=10\nqmax=51\nqdiff=4\ndirectpred=1\nflags2=+fastpskip\ncqp=0\n");
  EXPECT_THAT(content("libx264-ultrafast"), HasSubstr("flags=-loop\n"));
  EXPECT_THAT(content("libx264-veryslow_firstpass"), HasSubstr("me_range=24\n"));
  EXPECT_THAT(content("libx264-placebo"), HasSubstr("\nbf=16\nrefs=16\ndirectpred=3\ntrellis=2\n"));
}

TEST(BuiltinPresetTable, LookupIgnoresCase) {
  const TOptionsPreset* p = FindBuiltinPreset("LIBX264-Main");
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->Name, "libx264-main");
  EXPECT_EQ(FindBuiltinPreset("main"), nullptr);
  EXPECT_EQ(FindBuiltinPreset(""), nullptr);
}

// ---- Translation -------------------------------------------------------------------------

std::vector<std::string> Render(const TPresetTranslation& t) {
  std::vector<std::string> out;
  for (const TPresetOption& o : t.Options) out.push_back(o.Key + "=" + o.Value);
  for (const std::string& s : t.Skipped) out.push_back("skip " + s);
  return out;
}

class TranslationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::LoadSystemLibraries();
    const AVCodec* x264 = ff::avcodec_find_encoder_by_name("libx264");
    X264 = x264 ? x264->priv_class : nullptr;
  }
  const AVClass* X264 = nullptr;
};

TEST_F(TranslationTest, RenamedKeysAndValues) {
  if (!X264) GTEST_SKIP() << "no libx264 encoder in this library";
  const struct {
    const char* Key;
    const char* Value;
    std::vector<std::string> Expected;
  } cases[] = {
      {"qmin", "10", {"qmin=10"}},
      {"flags", "+loop", {"flags=+loop"}},
      {"coder", "0", {"coder=0"}},
      {"cqp", "0", {"qp=0"}},
      {"wpredp", "2", {"weightp=2"}},
      {"me_method", "umh", {"motion-est=umh"}},
      {"sc_threshold", "40", {"sc_threshold=40"}},
      {"b_strategy", "2", {"b_strategy=2"}},
      {"directpred", "0", {"direct-pred=none"}},
      {"directpred", "1", {"direct-pred=spatial"}},
      {"directpred", "2", {"direct-pred=temporal"}},
      {"directpred", "3", {"direct-pred=auto"}},
      {"directpred", "7", {"skip directpred"}},
      {"partitions", "+parti8x8+parti4x4+partp8x8+partb8x8", {"partitions=i8x8,i4x4,p8x8,b8x8"}},
      {"partitions", "-parti8x8+parti4x4+partp8x8-partp4x4-partb8x8", {"partitions=i4x4,p8x8"}},
      {"partitions", "-parti8x8-parti4x4-partp8x8-partb8x8", {"partitions=none"}},
      {"flags2",
       "+bpyramid-mixed_refs+wpred+dct8x8+fastpskip-mbtree",
       {"b-pyramid=normal", "mixed-refs=0", "weightb=1", "8x8dct=1", "fast-pskip=1", "mbtree=0"}},
      {"flags2", "-bpyramid-wpred", {"b-pyramid=none", "weightb=0"}},
      {"flags2", "+dct8x8+aud", {"8x8dct=1", "skip flags2=+aud"}},
  };
  for (const auto& c : cases)
    EXPECT_THAT(Render(TranslateBuiltinPresetOption(c.Key, c.Value, X264)),
                ElementsAreArray(c.Expected))
        << c.Key << "=" << c.Value;
}

TEST_F(TranslationTest, WithoutX264ItsKeysAreSkipped) {
  EXPECT_THAT(Render(TranslateBuiltinPresetOption("cqp", "0", nullptr)), ElementsAre("skip cqp"));
  EXPECT_THAT(Render(TranslateBuiltinPresetOption("flags2", "-wpred-dct8x8", nullptr)),
              ElementsAre("skip flags2=-wpred", "skip flags2=-dct8x8"));
  EXPECT_THAT(Render(TranslateBuiltinPresetOption("partitions", "+parti4x4", nullptr)),
              ElementsAre("skip partitions"));
  // Generic options stay.
  EXPECT_THAT(Render(TranslateBuiltinPresetOption("refs", "3", nullptr)), ElementsAre("refs=3"));
}

// ---- ApplyPreset -------------------------------------------------------------------------

class PresetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::LoadSystemLibraries();
    Engine = std::make_unique<TFFmpeg>(4);
    HaveX264 = ff::avcodec_find_encoder_by_name("libx264") != nullptr;
  }
  std::unique_ptr<TFFmpeg> Engine;
  bool HaveX264 = false;
  test::TTempDir Dir;
};

TEST_F(PresetTest, BuiltinByNameIsTranslated) {
  TLogCapture log;
  ASSERT_NO_THROW(Engine->ApplyPreset("vpre", "libx264-ipod320"));
  const auto rec = Recorded(*Engine);
  AVCodecContext* video = Engine->OptionContexts.CodecDefaults[AVMEDIA_TYPE_VIDEO];
  EXPECT_EQ(video->max_b_frames, 0);
  EXPECT_EQ(video->level, 13);
  EXPECT_EQ(video->rc_max_rate, 768000);
  EXPECT_EQ(video->rc_buffer_size, 3000000);
  if (HaveX264) {
    EXPECT_EQ(rec.at("coder"), "0");
    EXPECT_EQ(rec.at("weightb"), "0");
    EXPECT_EQ(rec.at("8x8dct"), "0");
    EXPECT_EQ(rec.at("weightp"), "0");
    EXPECT_TRUE(log.Containing("skipped").empty());
  } else {
    EXPECT_EQ(log.Containing("Preset libx264-ipod320: option").size(), 4u);
  }
  EXPECT_EQ(rec.count("flags2"), 0u);
  EXPECT_EQ(rec.count("wpredp"), 0u);
}

TEST_F(PresetTest, BuiltinByCodecName) {
  Engine->VideoCodecName = "libx264";
  ASSERT_NO_THROW(Engine->ParseOption("vpre", "ipod320"));
  TFFmpeg direct(4);
  direct.ApplyPreset("vpre", "libx264-ipod320");
  EXPECT_EQ(Engine->OptionContexts.OptionNames, direct.OptionContexts.OptionNames);
  EXPECT_EQ(Engine->OptionContexts.OptionValues, direct.OptionContexts.OptionValues);
}

TEST_F(PresetTest, CodecNameOfTheKindsStream) {
  ASSERT_EQ(chdir(Dir.Path().c_str()), 0);
  Engine->AudioCodecName = "libx264";
  EXPECT_NO_THROW(Engine->ApplyPreset("apre", "main"));
  // The video codec is not set: "main" is a file name, and there is none.
  try {
    Engine->ApplyPreset("vpre", "main");
    ADD_FAILURE() << "accepted";
  } catch (const FFmpegException& e) {
    EXPECT_THAT(e.what(), HasSubstr("Preset \"main\" not found"));
  }
}

TEST_F(PresetTest, WithoutCodecTheNameIsAFile) {
  ASSERT_EQ(chdir(Dir.Path().c_str()), 0);
  try {
    Engine->ParseOption("vpre", "ipod320");
    ADD_FAILURE() << "accepted";
  } catch (const FFmpegException& e) {
    EXPECT_THAT(e.what(), HasSubstr("Preset \"ipod320\" not found"));
  }
  // Relative to the working directory.
  test::WriteFile(Dir.File("ipod320"), "qmin=9\n");
  ASSERT_NO_THROW(Engine->ParseOption("vpre", "ipod320"));
  EXPECT_EQ(Engine->OptionContexts.CodecDefaults[AVMEDIA_TYPE_VIDEO]->qmin, 9);
}

// libx264's own preset names set its "preset" option, unless a file has the name; any
// other name is refused with the list of them.
TEST_F(PresetTest, X264PresetNames) {
  if (!HaveX264) GTEST_SKIP() << "no libx264";
  ASSERT_EQ(chdir(Dir.Path().c_str()), 0);
  struct TCase {
    const char* Codec;
    const char* Name;
    const char* Preset;  // recorded "preset", or "" none
  };
  const TCase cases[] = {
      {"", "slow", "slow"},
      {"", "VeryFast", "veryfast"},
      {"libx264", "slow", "slow"},
      {"libx264", "placebo", "placebo"},
      {"libx264", "libx264-slow", ""},  // the built-in table's name, as before
      {"", "fast_file", ""},            // a preset file
  };
  test::WriteFile(Dir.File("fast_file"), "qmin=9\n");
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.Codec) + " " + c.Name);
    TFFmpeg engine(4);
    if (*c.Codec) engine.ParseOption("vcodec", c.Codec);
    ASSERT_NO_THROW(engine.ParseOption("vpre", c.Name));
    const auto rec = Recorded(engine);
    EXPECT_EQ(rec.count("preset") ? rec.at("preset") : "", c.Preset);
  }
  for (const char* name : {"slo", "libx264-nope"}) {
    try {
      Engine->ParseOption("vpre", name);
      ADD_FAILURE() << name << " accepted";
    } catch (const FFmpegException& e) {
      EXPECT_THAT(e.what(), HasSubstr("ultrafast, superfast, veryfast, faster, fast, medium, "
                                      "slow, slower, veryslow, placebo"));
    }
  }
  Engine->ParseOption("vcodec", "mpeg2video");
  try {
    Engine->ParseOption("vpre", "slow");
    ADD_FAILURE() << "accepted for MPEG-2";
  } catch (const FFmpegException& e) {
    EXPECT_STREQ(e.what(), "Preset \"slow\" is a preset of libx264, not of mpeg2video");
  }
}

TEST_F(PresetTest, FileKindNeverUsesTheTable) {
  ASSERT_EQ(chdir(Dir.Path().c_str()), 0);
  EXPECT_THROW(Engine->ApplyPreset("fpre", "libx264-main"), FFmpegException);
  // A directory of that name is no preset file either.
  ASSERT_TRUE(std::filesystem::create_directory(Dir.File("folder")));
  EXPECT_THROW(Engine->ApplyPreset("fpre", "folder"), FFmpegException);
}

TEST_F(PresetTest, KindAndEmptyArguments) {
  EXPECT_NO_THROW(Engine->ApplyPreset("", "libx264-main"));
  EXPECT_NO_THROW(Engine->ApplyPreset("vpre", ""));
  EXPECT_TRUE(Engine->OptionContexts.OptionNames.empty());
  try {
    Engine->ApplyPreset("xpre", "libx264-main");
    ADD_FAILURE() << "accepted";
  } catch (const EAssertionFailed& e) {
    EXPECT_THAT(e.what(), HasSubstr("(FFmpeg)"));
  }
}

TEST_F(PresetTest, FileWithCommentsAndBlankLines) {
  const std::string file = Dir.File("my.ffpreset");
  test::WriteFile(
      file,
      "\r\n# a comment\r\n  qmin=12  \r\n\r\n   # indented comment\n\ng=77\rflags2=+fast"
      "\n\n");
  ASSERT_NO_THROW(Engine->ApplyPreset("fpre", file));
  AVCodecContext* video = Engine->OptionContexts.CodecDefaults[AVMEDIA_TYPE_VIDEO];
  EXPECT_EQ(video->qmin, 12);
  EXPECT_EQ(video->gop_size, 77);
  EXPECT_TRUE(video->flags2 & AV_CODEC_FLAG2_FAST);
  EXPECT_THAT(Engine->OptionContexts.OptionNames, ElementsAre("qmin", "g", "flags2"));
}

TEST_F(PresetTest, EmptyFileIsAnEmptyPreset) {
  const std::string file = Dir.File("empty");
  test::WriteFile(file, "");
  EXPECT_NO_THROW(Engine->ApplyPreset("fpre", file));
  test::WriteFile(file, " \n\n# only a comment\n");
  EXPECT_NO_THROW(Engine->ApplyPreset("fpre", file));
  EXPECT_TRUE(Engine->OptionContexts.OptionNames.empty());
}

TEST_F(PresetTest, InvalidSyntaxNamesTheFile) {
  const std::string file = Dir.File("bad.ffpreset");
  for (const char* line : {"qmax=", "=5", "justakey"}) {
    TFFmpeg e(2);
    test::WriteFile(file, std::string("qmin=11\n  ") + line + "  \ng=5\n");
    try {
      e.ApplyPreset("fpre", file);
      ADD_FAILURE() << line << " accepted";
    } catch (const FFmpegException& ex) {
      EXPECT_EQ(std::string(ex.what()), file + ": Invalid syntax: \"" + line + "\"");
    }
    // Lines before the bad one stay applied, none after it.
    EXPECT_THAT(e.OptionContexts.OptionNames, ElementsAre("qmin"));
  }
}

TEST_F(PresetTest, RejectedOptionWithStrictOptions) {
  const std::string file = Dir.File("opts");
  test::WriteFile(file, "qmin=8\nnosuch=1\ng=5\n");
  try {
    Engine->ApplyPreset("fpre", file);
    ADD_FAILURE() << "accepted";
  } catch (const FFmpegException& e) {
    EXPECT_EQ(std::string(e.what()),
              "Unrecognized option \"nosuch\"\r\n" + file +
                  ": Invalid option or argument: \"nosuch=1\", parsed as \"nosuch\" = \"1\"");
  }
  // Without StrictOptions the line is dropped and the rest applies.
  TFFmpeg lenient(2);
  lenient.StrictOptions = false;
  EXPECT_NO_THROW(lenient.ApplyPreset("fpre", file));
  EXPECT_THAT(lenient.OptionContexts.OptionNames, ElementsAre("qmin", "g"));
}

TEST_F(PresetTest, FileOptionsAreNotTranslated) {
  const std::string file = Dir.File("old");
  test::WriteFile(file, "flags2=+wpred\n");
  try {
    Engine->ApplyPreset("fpre", file);
    ADD_FAILURE() << "accepted";
  } catch (const FFmpegException& e) {
    EXPECT_THAT(e.what(), HasSubstr("Invalid value \"+wpred\" for option \"flags2\"\r\n"));
  }
}

TEST_F(PresetTest, CodecKeysSetTheCodecs) {
  const std::string file = Dir.File("codecs");
  test::WriteFile(file, "VCodec=mpeg2video\nacodec=mp2\n");
  try {
    Engine->ApplyPreset("fpre", file);
  } catch (const FFmpegException& e) {
    GTEST_SKIP() << "codec options not available yet: " << e.what();
  }
  EXPECT_EQ(Engine->VideoCodecName, "mpeg2video");
  EXPECT_EQ(Engine->AudioCodecName, "mp2");
  EXPECT_TRUE(Engine->OptionContexts.OptionNames.empty());
}

// Every built-in preset applies, with the decimal values of the long ones ("i_qfactor=0.71",
// "qcomp=0.6") read the same in every locale.
TEST_F(PresetTest, EveryBuiltinPresetApplies) {
  for (const char* name : kPresetNames) {
    TFFmpeg engine(1);
    ASSERT_NO_THROW(engine.ApplyPreset("vpre", name)) << name;
    const std::string& content = FindBuiltinPreset(name)->Content;
    if (content.find("i_qfactor=0.71\n") == std::string::npos) continue;
    EXPECT_NE(content.find("qcomp=0.6\n"), std::string::npos) << name;
    const AVCodecContext* video = engine.OptionContexts.CodecDefaults[AVMEDIA_TYPE_VIDEO];
    EXPECT_EQ(video->i_quant_factor, 0.71f) << name;
    EXPECT_EQ(video->qcompress, 0.6f) << name;
  }
}

// Every built-in preset, applied with translation, configures a libx264 encoder that opens.
TEST_F(PresetTest, EveryBuiltinPresetOpensX264) {
  if (!HaveX264) GTEST_SKIP() << "no libx264 encoder in this library";
  const AVCodec* x264 = ff::avcodec_find_encoder_by_name("libx264");
  for (const char* name : kPresetNames) {
    TLogCapture log;
    TFFmpeg engine(1);
    ASSERT_NO_THROW(engine.ApplyPreset("vpre", name)) << name;
    EXPECT_TRUE(log.Containing("skipped").empty()) << name;

    AVCodecContext* ctx = ff::avcodec_alloc_context3(x264);
    ctx->width = 64;
    ctx->height = 64;
    ctx->pix_fmt = AV_PIX_FMT_YUV420P;
    ctx->time_base = {1, 25};
    ctx->framerate = {25, 1};
    ctx->thread_count = 1;
    engine.ApplyGenericOptions(ctx, engine.OptionContexts.CodecDefaults[AVMEDIA_TYPE_VIDEO],
                               AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_ENCODING_PARAM, x264);
    EXPECT_EQ(ff::avcodec_open2(ctx, x264, nullptr), 0) << name;
    ff::avcodec_free_context(&ctx);
  }
}

TEST_F(PresetTest, TranslatedValuesReachTheEncoder) {
  if (!HaveX264) GTEST_SKIP() << "no libx264 encoder in this library";
  const AVCodec* x264 = ff::avcodec_find_encoder_by_name("libx264");
  ASSERT_NO_THROW(Engine->ApplyPreset("vpre", "libx264-lossless_fast"));
  AVCodecContext* ctx = ff::avcodec_alloc_context3(x264);
  Engine->ApplyGenericOptions(ctx, Engine->OptionContexts.CodecDefaults[AVMEDIA_TYPE_VIDEO], 17,
                              x264);
  std::int64_t v = -1;
  ff::av_opt_get_int(ctx->priv_data, "qp", 0, &v);
  EXPECT_EQ(v, 0);
  ff::av_opt_get_int(ctx->priv_data, "coder", 0, &v);
  EXPECT_EQ(v, 0);
  ff::av_opt_get_int(ctx->priv_data, "direct-pred", 0, &v);
  EXPECT_EQ(v, 1);  // spatial
  ff::av_opt_get_int(ctx->priv_data, "fast-pskip", 0, &v);
  EXPECT_EQ(v, 1);
  ff::av_opt_get_int(ctx->priv_data, "weightp", 0, &v);
  EXPECT_EQ(v, 0);
  std::uint8_t* text = nullptr;
  ff::av_opt_get(ctx->priv_data, "partitions", 0, &text);
  EXPECT_STREQ(reinterpret_cast<const char*>(text), "i4x4,p8x8");
  ff::av_free(text);
  EXPECT_EQ(ctx->qmin, 10);
  EXPECT_EQ(ctx->keyint_min, 25);
  EXPECT_EQ(ctx->me_cmp & FF_CMP_CHROMA, FF_CMP_CHROMA);
  ff::avcodec_free_context(&ctx);
}

}  // namespace
}  // namespace tovamo
