// The output profiles: the protected table store that holds them (its hash, its cipher, its
// faults), the data.dat the build writes, and a profile turned into a task's output options.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "FormatString.h"
#include "H264Profile.h"
#include "ProfileOptions.h"
#include "Profiles.h"
#include "Sha256.h"
#include "TableCipher.h"
#include "TableStore.h"
#include "TableStoreWriter.h"
#include "support/TestSupport.h"

namespace tovamo {
namespace {

using test::TTempDir;
using ::testing::HasSubstr;

// Few key rounds: the tests make many stores; the build's data.dat uses the full count.
constexpr std::uint32_t kTestRounds = 64;

TTableContent ProfileTable(const std::vector<TProfile>& profiles) {
  TTableContent table{kProfileTableName,
                      {kProfileNameField, kProfileFormatField},
                      kProfileIndexName,
                      {kProfileNameField},
                      {}};
  for (const TProfile& p : profiles) table.Rows.push_back({p.Name, p.FormatString});
  return table;
}

void WriteProfiles(const std::string& file, const std::vector<TProfile>& profiles,
                   const std::string& password = kProfilePassword) {
  WriteTableStore(file, ProfileTable(profiles), password, kTestRounds);
}

void ExecuteSql(const std::string& file, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
  char* error = nullptr;
  const int result = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
  const std::string message = error ? error : "";
  sqlite3_free(error);
  sqlite3_close(db);
  ASSERT_EQ(result, SQLITE_OK) << message;
}

std::string StoreError(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const ETableStoreError& e) {
    return e.what();
  }
  return "";
}

std::string ConvertError(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const EConvertError& e) {
    return e.what();
  }
  return "";
}

// ---- The hash and the cipher behind the password ----

TEST(StoreHash, KnownAnswers) {
  const struct {
    std::string Got;
    const char* Expected;
  } cases[] = {
      {ToHex(AsText(Sha256(""))),
       "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {ToHex(AsText(Sha256("abc"))),
       "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      // Two blocks of padding.
      {ToHex(AsText(Sha256("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"))),
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {ToHex(AsText(Sha256(std::string(1000000, 'a')))),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
      // RFC 4231, test case 2.
      {ToHex(AsText(HmacSha256("Jefe", {"what do ya want ", "for nothing?"}))),
       "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
      // RFC 4231, test case 6: a key longer than a block is hashed first.
      {ToHex(AsText(HmacSha256(std::string(131, '\xaa'),
                               {"Test Using Larger Than Block-Size Key - Hash Key First"}))),
       "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
      {ToHex(AsText(Pbkdf2Sha256("password", "salt", 1, 32))),
       "120fb6cffcf8b32c43e7225256c4f837a86548c92ccc35480805987cb70be17b"},
      {ToHex(AsText(Pbkdf2Sha256("password", "salt", 2, 32))),
       "ae4d0c95af6b46d32d0adff928f06dd02a303f8ef3c251dfd6e2d85a95474c43"},
      {ToHex(AsText(Pbkdf2Sha256("password", "salt", 4096, 32))),
       "c5e478d59288c841aa530db6845c4c8d962893a001ce4e11a4963873aa98134a"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.Got, c.Expected);
}

TEST(StoreCipher, FieldsRoundTripAndRefuseAnyOtherKeyOrPlace) {
  const std::string salt(kTableSaltSize, 's');
  const TTableKeys keys("mirelo", salt, kTestRounds);
  const TTableKeys otherPassword("Mirelo", salt, kTestRounds);
  const TTableKeys otherSalt("mirelo", std::string(kTableSaltSize, 't'), kTestRounds);
  EXPECT_FALSE(keys.Verifies(AsText(otherPassword.Verifier())));
  EXPECT_FALSE(keys.Verifies(AsText(otherSalt.Verifier())));
  EXPECT_TRUE(keys.Verifies(AsText(TTableKeys("mirelo", salt, kTestRounds).Verifier())));

  // Lengths around the 32-byte key stream blocks.
  for (std::size_t length : {0, 1, 31, 32, 33, 100}) {
    const std::string text(length, 'p');
    const std::string sealed = keys.Encipher("t", "name", text);
    ASSERT_EQ(sealed.size(), kFieldTagSize + length);
    if (length > 0) {
      EXPECT_EQ(sealed.find(text), std::string::npos) << length;
    }
    std::string opened;
    EXPECT_TRUE(keys.Decipher("t", "name", sealed, opened)) << length;
    EXPECT_EQ(opened, text);
    EXPECT_FALSE(otherPassword.Decipher("t", "name", sealed, opened)) << length;
    EXPECT_FALSE(keys.Decipher("t", "formatstring", sealed, opened)) << length;
    EXPECT_FALSE(keys.Decipher("u", "name", sealed, opened)) << length;
    std::string flipped = sealed;
    flipped.back() ^= 1;
    EXPECT_FALSE(keys.Decipher("t", "name", flipped, opened)) << length;
  }
  std::string opened;
  EXPECT_FALSE(keys.Decipher("t", "name", "short", opened));
}

// ---- The store file ----

TEST(ProfileStore, TheBuiltDataDatListsItsProfilesByName) {
  TTableStore store;
  store.Open(TOVAMO_PROFILE_STORE);
  TStoreTable table;
  OpenProfileTable(store, table);
  const std::vector<TProfile> profiles = ReadProfiles(table);
  ASSERT_FALSE(profiles.empty());

  std::vector<std::string> names;
  for (const TProfile& p : profiles) {
    names.push_back(p.Name);
    EXPECT_EQ(std::count(p.FormatString.begin(), p.FormatString.end(), '|'), 8) << p.Name;
    EXPECT_NO_THROW(
        ProfileToOutputOptions(ProfileValuesOf(p.FormatString), p.Name, "4:3", "/out", "/in/a.avi"))
        << p.Name;
  }
  EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
  // Every disc in both norms.
  for (int target : {1, 2, 3}) {
    for (int norm : {1, 2}) {
      EXPECT_TRUE(std::any_of(profiles.begin(), profiles.end(),
                              [&](const TProfile& p) {
                                return TargetTypeOfProfile(p.Name) == target &&
                                       NormTypeOfProfile(p.Name) == norm;
                              }))
          << target << "/" << norm;
    }
  }
  const auto pal = FindProfile(profiles, "MPEG1 FOR PAL VCD(352*288)");
  const auto ntsc = FindProfile(profiles, "MPEG1 FOR NTSC VCD(352*240)");
  ASSERT_TRUE(pal && ntsc);
  EXPECT_EQ(ProfileValuesOf(profiles[*pal].FormatString).Height, "288");
  EXPECT_EQ(ProfileValuesOf(profiles[*ntsc].FormatString).Height, "240");

  EXPECT_EQ(LoadProfiles(TOVAMO_PROFILE_STORE), profiles);
  // The table keeps its records once the store is closed.
  store.Close();
  table.First();
  EXPECT_EQ(table.FieldAsText(kProfileNameField), names.front());
}

TEST(ProfileStore, AWrongPasswordIsRefused) {
  TTableStore store;
  store.Open(TOVAMO_PROFILE_STORE);
  TStoreTable table;
  for (const char* password : {"", "Mirelo", "mirelo ", "mirel"}) {
    EXPECT_THAT(
        StoreError([&] { table.Open(store, kProfileTableName, password, kProfileIndexName); }),
        HasSubstr("Wrong password for the table \"videoaudio_format\""))
        << password;
    EXPECT_FALSE(table.IsOpen());
  }
}

TEST(ProfileStore, RecordsComeInNameOrderWhateverTheWritingOrder) {
  TTempDir dir;
  const std::string file = dir.File("data.dat");
  WriteProfiles(file, {{"b", "2"}, {"C", "3"}, {"a", "1"}, {"B", "4"}});
  TTableStore store;
  store.Open(file);
  TStoreTable table;
  OpenProfileTable(store, table);
  ASSERT_EQ(table.RecordCount(), 4u);
  std::string seen;
  for (table.First(); !table.Eof(); table.Next())
    seen += table.FieldAsText("name") + table.FieldAsText("formatstring");
  EXPECT_EQ(seen, "B4C3a1b2");  // byte order, as the index orders plain text

  EXPECT_THAT(StoreError([&] { table.FieldAsText("size"); }), HasSubstr("has no field \"size\""));
  EXPECT_THAT(StoreError([&] { table.FieldAsText("name"); }), HasSubstr("has no current record"));
  table.Next();  // past the end stays there
  EXPECT_TRUE(table.Eof());
}

// A store file made by each case's own steps, and what opening its profile table gives.
struct TBadStoreCase {
  const char* Title;
  std::function<void(const std::string& file)> Make;
  const char* Error;  // "" when the table opens
};

TEST(ProfileStore, BadStoresGiveAClearErrorOrNoRecords) {
  const TBadStoreCase cases[] = {
      {"missing", [](const std::string&) {}, "does not exist"},
      {"a folder", [](const std::string& f) { std::filesystem::create_directory(f); },
       "is a folder, not a file"},
      {"empty", [](const std::string& f) { test::WriteFile(f, ""); }, "is empty"},
      {"text", [](const std::string& f) { test::WriteFile(f, "name|formatstring\n"); },
       "is not a table store (it is no SQLite file)"},
      {"a damaged SQLite file",
       [](const std::string& f) {
         test::WriteFile(f, std::string("SQLite format 3\0", 16) + std::string(200, '\x7f'));
       },
       "cannot be"},
      {"another SQLite file", [](const std::string& f) { ExecuteSql(f, "CREATE TABLE t (x)"); },
       "There is no table \"videoaudio_format\""},
      {"the table without rows", [](const std::string& f) { WriteProfiles(f, {}); }, ""},
      {"no index",
       [](const std::string& f) {
         WriteProfiles(f, {{"a", "1"}});
         ExecuteSql(f, "DROP INDEX name_index");
       },
       "has no index \"name_index\""},
      {"no password record",
       [](const std::string& f) {
         ExecuteSql(f,
                    "CREATE TABLE videoaudio_format (name, formatstring);"
                    "CREATE INDEX name_index ON videoaudio_format (name)");
       },
       "has no password record"},
      {"a damaged password record",
       [](const std::string& f) {
         WriteProfiles(f, {{"a", "1"}});
         ExecuteSql(f, "UPDATE tovamo_protection SET rounds = 4000000000");
       },
       "password record of the table \"videoaudio_format\""},
      {"more key rounds than the writer uses",
       [](const std::string& f) {
         WriteProfiles(f, {{"a", "1"}});
         ExecuteSql(f,
                    "UPDATE tovamo_protection SET rounds = " + std::to_string(kMaxKeyRounds + 1));
       },
       "password record of the table \"videoaudio_format\""},
      {"a field written in plain text",
       [](const std::string& f) {
         WriteProfiles(f, {{"a", "1"}, {"b", "2"}});
         ExecuteSql(f, "INSERT INTO videoaudio_format VALUES (x'00', 'MPEG1|352x288')");
       },
       "the field \"name\" of record 3 cannot be deciphered"},
      {"fields swapped between records",
       [](const std::string& f) {
         WriteProfiles(f, {{"a", "1"}});
         ExecuteSql(f, "UPDATE videoaudio_format SET formatstring = name");
       },
       "the field \"formatstring\" of record 1 cannot be deciphered"},
  };
  for (const auto& c : cases) {
    TTempDir dir;
    const std::string file = dir.File("data.dat");
    c.Make(file);
    std::vector<TProfile> profiles;
    const std::string error = StoreError([&] { profiles = LoadProfiles(file); });
    if (*c.Error == '\0') {
      EXPECT_EQ(error, "") << c.Title;
      EXPECT_TRUE(profiles.empty()) << c.Title;
      EXPECT_EQ(ChooseProfile(profiles, "MPEG1 FOR PAL VCD(352*288)"), std::nullopt);
    } else {
      EXPECT_THAT(error, HasSubstr(c.Error)) << c.Title;
      EXPECT_THAT(error, HasSubstr(file)) << c.Title;  // the user learns which file
    }
  }
}

TEST(ProfileStore, AFailedWriteLeavesTheOldStore) {
  TTempDir dir;
  const std::string file = dir.File("data.dat");
  WriteProfiles(file, {{"a", "1"}});
  // Two profiles of one name break the unique index.
  EXPECT_THAT(StoreError([&] {
                WriteProfiles(file, {{"b", "2"}, {"b", "3"}});
              }),
              HasSubstr("cannot be written"));
  EXPECT_THAT(StoreError([&] {
                WriteTableStore(file, {"t", {"x", "y"}, "i", {"x"}, {{"only one"}}}, "pw", 1);
              }),
              HasSubstr("row 1 has 1 fields"));
  EXPECT_EQ(LoadProfiles(file), (std::vector<TProfile>{{"a", "1"}}));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
}

TEST(ProfileStore, TheTableNeedsAnOpenStore) {
  TTableStore store;
  TStoreTable table;
  EXPECT_THAT(StoreError([&] { OpenProfileTable(store, table); }),
              HasSubstr("its table store is not open"));
}

// ---- The profile's values and choices ----

TEST(FormatString, FieldsAndShownValues) {
  const struct {
    const char* Text;
    std::vector<std::string> Fields;
  } cases[] = {
      {"1150|352x288|25|4:3|mpeg1video|224|44100|stereo|x",
       {"1150", "352x288", "25", "4:3", "mpeg1video", "224", "44100", "stereo", "x"}},
      {"1150|352x288|25|4:3|mpeg1video",
       {"1150", "352x288", "25", "4:3", "mpeg1video", "", "", "", ""}},
      {"", {"", "", "", "", "", "", "", "", ""}},
      {"|||", {"", "", "", "", "", "", "", "", ""}},
      {"1|2|3|4|5|6|7|8|9|10|11", {"1", "2", "3", "4", "5", "6", "7", "8", "9"}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitFormatString(c.Text), c.Fields) << c.Text;

  const TProfileValues values =
      ProfileValuesOf("1150|352x288|29.97|4:3|mpeg1video|224|44100|mono|");
  EXPECT_EQ(values.VideoBitrate, "1150");
  EXPECT_EQ(values.Width, "352");
  EXPECT_EQ(values.Height, "288");
  EXPECT_EQ(values.FrameRate, "29.97");
  EXPECT_EQ(values.Codec, "mpeg1video");
  EXPECT_EQ(values.AudioBitrate, "224");
  EXPECT_EQ(values.SampleRate, "44100");
  EXPECT_EQ(values.Channels, "mono");

  const TProfileValues noX = ProfileValuesOf("1|352|3");
  EXPECT_EQ(noX.Width + "/" + noX.Height, "352/");
  const TProfileValues twoX = ProfileValuesOf("1|3x5x7|3");
  EXPECT_EQ(twoX.Width + "/" + twoX.Height, "3/5x7");
}

TEST(ProfileChoice, AspectItemsAndRememberedName) {
  using Items = std::vector<std::string>;
  EXPECT_EQ(AspectItemsFor("MPEG1 FOR PAL VCD(352*288)"), Items{"4:3"});
  EXPECT_EQ(AspectItemsFor("MPEG1 FOR NTSC VCD(352*240)"), Items{"4:3"});
  EXPECT_EQ(AspectItemsFor("MPEG2 FOR PAL SVCD(480*576)"), (Items{"4:3", "16:9"}));
  EXPECT_EQ(AspectItemsFor("mpeg1 for pal vcd(352*288)"), (Items{"4:3", "16:9"}));
  // An H.264 profile keeps the input's shape unless told otherwise.
  EXPECT_EQ(AspectItemsFor("H264 FOR IPOD(320*240)", "libx264"), (Items{"Auto", "4:3", "16:9"}));
  EXPECT_EQ(AspectItemsFor("MPEG2 FOR PLAYERS(640*480)", "mpeg2video"), (Items{"4:3", "16:9"}));

  const std::vector<TProfile> profiles = {{"A", "1"}, {"B", "2"}, {"C", "3"}};
  EXPECT_EQ(ChooseProfile(profiles, "B"), 1u);
  EXPECT_EQ(ChooseProfile(profiles, "gone"), 0u);
  EXPECT_EQ(ChooseProfile(profiles, ""), 0u);
  EXPECT_EQ(ChooseProfile(profiles, "b"), 0u);
  EXPECT_EQ(FindProfile(profiles, "gone"), std::nullopt);
  EXPECT_EQ(ChooseProfile({}, "A"), std::nullopt);
}

// ---- Profile to output options ----

struct TOptionsCase {
  const char* Name;
  const char* FormatString;
  const char* Aspect;
  const char* Input;
  int Target, Norm;
  const char* FrameRate;
  const char* AspectRatio;
  const char* FrameSize;
  int Channels, SampleRate, AudioBitrate;
  const char* VideoCodec;
  int VideoBitrate;
  const char* FileName;
};

TEST(ProfileOptions, Table) {
  const char* const vcd = "1150|352x288|25|4:3|mpeg1video|224|44100|stereo|";
  const TOptionsCase cases[] = {
      {"MPEG1 FOR PAL VCD(352*288)", vcd, "4:3", "/in/clip.part1.avi", 1, 1, "25", "4:3", "352x288",
       2, 44100, 224000, "", -1, "/out/clip.mpg"},
      {"MPEG2 FOR NTSC SVCD(480*480)", "2500|480x480|29.97|Auto|mpeg2video|224|44100|stereo|",
       "16:9", "/in/movie.avi", 2, 2, "30000/1001", "16:9", "480x480", 2, 44100, 224000, "", -1,
       "/out/movie.mpg"},
      {"MPEG2 FOR PAL DVD(720*576)", "6000|720x576| Auto |Auto|mpeg2video|448|48000|mono|",
       " Auto ", "noext", 3, 1, "", "", "720x576", 1, 48000, 448000, "", -1, "/out/noext.mpg"},
      // The last of the tests that holds wins.
      {"DVD AND VCD, PAL AND NTSC", vcd, "4:3", "a.b.c", 3, 1, "25", "4:3", "352x288", 2, 44100,
       224000, "", -1, "/out/a.mpg"},
      // Without a disc target the shown codec and video bit rate are used.
      {"MPEG2 FOR PLAYERS(640*480)", "2500|640x480| 30 |Auto|mpeg2video|192|not a rate|Mono|",
       "4:3", "/in/dir.with.dots/talk.mov", 0, 0, "30", "4:3", "640x480", 2, 24000, 192000,
       "mpeg2video", 2500000, "/out/talk.mpg"},
  };
  for (const auto& c : cases) {
    const TOutputOptions o =
        ProfileToOutputOptions(ProfileValuesOf(c.FormatString), c.Name, c.Aspect, "/out", c.Input);
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(o.TargetType, c.Target);
    EXPECT_EQ(o.NormType, c.Norm);
    EXPECT_EQ(o.FrameRate, c.FrameRate);
    EXPECT_EQ(o.AspectRatio, c.AspectRatio);
    EXPECT_EQ(o.FrameSize, c.FrameSize);
    EXPECT_EQ(o.AudioChannels, c.Channels);
    EXPECT_EQ(o.AudioSampleRate, c.SampleRate);
    EXPECT_EQ(o.AudioBitrate, c.AudioBitrate);
    EXPECT_EQ(o.VideoCodec, c.VideoCodec);
    EXPECT_EQ(o.VideoBitrate, c.VideoBitrate);
    EXPECT_EQ(o.FileName, c.FileName);
    // The profile sets nothing else.
    EXPECT_EQ(o.AudioCodec, "");
    EXPECT_EQ(o.FileFormat, "");
    EXPECT_EQ(o.ExtraOptions, "");
  }
}

// H.264 profiles: MP4 with libx264 and AAC, the device class's encoder settings by the
// frame size, the picture fitted inside it, the index at the front, a ".mp4" name.
TEST(ProfileOptions, H264ProfilesWriteMp4ForTheirDeviceClass) {
  struct TCase {
    const char* FormatString;
    const char* Aspect;
    const char* Preset;
    const char* ExtraOptions;
    const char* AspectRatio;
  };
  const TCase cases[] = {
      {"768|320x240|Auto|Auto|libx264|128|48000|stereo|", "Auto", "ipod320",
       "profile=baseline\nfpsmax=30\nfit=inside\nmovflags=+faststart\nbufsize=2000000\n", ""},
      {"1500|640x480|Auto|Auto|libx264|160|48000|stereo|", "16:9", "ipod640",
       "profile=baseline\nfpsmax=30\nfit=inside\nmovflags=+faststart\n", "16:9"},
      {"4000|1280x720|Auto|Auto| H264 |192|48000|stereo|", "Auto", "",
       "profile=high\nfpsmax=60\nfit=inside\nmovflags=+faststart\n", ""},
      {"8000|1920x1080|Auto|Auto|libx264|192|48000|stereo|", "4:3", "",
       "profile=high\nfpsmax=60\nfit=inside\nmovflags=+faststart\n", "4:3"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.FormatString);
    const TProfileValues values = ProfileValuesOf(c.FormatString);
    const TOutputOptions o =
        ProfileToOutputOptions(values, "H264 FOR X", c.Aspect, "/out", "/in/clip.part1.avi");
    EXPECT_EQ(o.FileName, "/out/clip.mp4");
    EXPECT_EQ(o.FileFormat, "mp4");
    EXPECT_EQ(o.VideoCodec, "libx264");
    EXPECT_EQ(o.AudioCodec, "aac");
    EXPECT_EQ(o.VideoPreset, c.Preset);
    EXPECT_EQ(o.ExtraOptions, c.ExtraOptions);
    EXPECT_EQ(o.AspectRatio, c.AspectRatio);
    EXPECT_EQ(o.FrameRate, "");
    EXPECT_EQ(o.FrameSize, values.Width + "x" + values.Height);
    EXPECT_EQ(o.VideoBitrate, std::stoi(values.VideoBitrate) * 1000);
    EXPECT_EQ(o.AudioBitrate, std::stoi(values.AudioBitrate) * 1000);
    EXPECT_EQ(o.TargetType, 0);
  }
  EXPECT_EQ(OutputExtensionForCodec("mpeg2video"), ".mpg");
  EXPECT_EQ(OutputExtensionForCodec("LIBX264"), ".mp4");
}

// The built-in values of "--target mp4" are the store's 720p phone profile.
TEST(ProfileStore, ThePhoneTargetIsTheStoresPhoneProfile) {
  const std::vector<TProfile> profiles = LoadProfiles(TOVAMO_PROFILE_STORE);
  const auto phone = FindProfile(profiles, kPhone720ProfileName);
  ASSERT_TRUE(phone);
  EXPECT_EQ(profiles[*phone].FormatString, kPhone720FormatString);
  int h264 = 0;
  for (const TProfile& p : profiles) h264 += IsH264Codec(ProfileValuesOf(p.FormatString).Codec);
  EXPECT_EQ(h264, 4);
}

// Without the encoder an H.264 profile is refused with the reason; the others are not.
TEST(ProfileOptions, H264ProfilesNeedTheEncoder) {
  struct TCase {
    bool Encoder;
    const char* Codec;
    bool Refused;
  };
  for (const TCase& c : {TCase{false, "libx264", true}, TCase{false, "mpeg2video", false},
                         TCase{true, "libx264", false}}) {
    SCOPED_TRACE(std::string(c.Codec) + (c.Encoder ? " with" : " without"));
    SetH264EncoderCheck(c.Encoder ? +[] { return true; } : +[] { return false; });
    EXPECT_EQ(HasH264Encoder(), c.Encoder);
    const std::string problem = H264EncoderProblem("H264 FOR IPOD(320*240)", c.Codec);
    EXPECT_EQ(problem.empty(), !c.Refused);
    if (c.Refused) {
      EXPECT_EQ(problem,
                "\"H264 FOR IPOD(320*240)\" writes H.264, but the media libraries have no H.264 "
                "encoder (libx264)");
    }
  }
  SetH264EncoderCheck(nullptr);
  // The real check asks the libraries, which this suite does not load: no encoder.
  EXPECT_FALSE(HasH264Encoder());
}

TEST(ProfileOptions, OutputFileNames) {
  const struct {
    const char* Folder;
    const char* Input;
    const char* Expected;
  } cases[] = {
      {"/out", "/in/clip.part1.avi", "/out/clip.mpg"},
      {"/out/", "/in/clip.avi", "/out/clip.mpg"},
      {"/my out", "/in/my clip.avi", "/my out/my clip.mpg"},
      {"/out", "relative.avi", "/out/relative.mpg"},
      {"/out", "/in/ünïcode.mkv", "/out/ünïcode.mpg"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(OutputFileNameFor(c.Folder, c.Input), c.Expected) << c.Input;
  EXPECT_EQ(OutputFileNameFor("/out", "/in/clip.part1.avi", ".mp4"), "/out/clip.mp4");
}

TEST(ProfileOptions, ABitRateThatIsNoWholeNumberStopsTheBatch) {
  const struct {
    const char* Name;
    const char* FormatString;
    const char* Error;
  } cases[] = {
      // Five fields: no audio values at all.
      {"MPEG1 FOR PAL VCD(352*288)", "1150|352x288|25|4:3|mpeg1video",
       "The audio bit rate \"\" of the profile \"MPEG1 FOR PAL VCD(352*288)\" is not a whole "
       "number"},
      {"MPEG1 FOR PAL VCD(352*288)", "1150|352x288|25|4:3|mpeg1video|22.5|44100|stereo|",
       "The audio bit rate \"22.5\""},
      {"MPEG1 FOR PAL VCD(352*288)", "1150|352x288|25|4:3|mpeg1video|0|44100|stereo|",
       "The audio bit rate \"0\" of the profile \"MPEG1 FOR PAL VCD(352*288)\" is out of range"},
      {"MPEG1 FOR PAL VCD(352*288)", "1150|352x288|25|4:3|mpeg1video|3000000|44100|stereo|",
       "is out of range"},
      {"MPEG1 FOR PLAYERS", "fast|352x288|25|4:3|mpeg1video|224|44100|stereo|",
       "The video bit rate \"fast\" of the profile \"MPEG1 FOR PLAYERS\" is not a whole number"},
  };
  for (const auto& c : cases) {
    EXPECT_THAT(ConvertError([&] {
                  ProfileToOutputOptions(ProfileValuesOf(c.FormatString), c.Name, "4:3", "/out",
                                         "/in/a.avi");
                }),
                HasSubstr(c.Error))
        << c.FormatString;
  }
  // A stored profile with five fields shows empty audio values and stops at the same place.
  TTempDir dir;
  const std::string file = dir.File("data.dat");
  WriteProfiles(file, {{"MPEG1 FOR PAL VCD(352*288)", "1150|352x288|25|4:3|mpeg1video"}});
  const std::vector<TProfile> profiles = LoadProfiles(file);
  ASSERT_EQ(profiles.size(), 1u);
  const TProfileValues values = ProfileValuesOf(profiles[0].FormatString);
  EXPECT_EQ(values.AudioBitrate + values.SampleRate + values.Channels, "");
  EXPECT_THAT(ConvertError([&] {
                ProfileToOutputOptions(values, profiles[0].Name, "4:3", "/out", "/in/a.avi");
              }),
              HasSubstr("is not a whole number"));
}

}  // namespace
}  // namespace tovamo
