#include "Services/FFUtils.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "Services/FFBindings.h"
#include "Services/FFLoad.h"
#include "support/TestSupport.h"

namespace tovamo {
namespace {

struct TTimestampCase {
  int64_t Microseconds;
  const char* Text;
};

TEST(FormatTimestamp, Table) {
  const TTimestampCase cases[] = {
      {((1 * 60 + 2) * 60 + 3) * 1000000LL + 4000, "01:02:03.004"},
      {0, "00:00:00.000"},
      {AV_NOPTS_VALUE, "N/A"},
      {999, "00:00:00.000"},  // below a millisecond: truncated
      {59999999, "00:00:59.999"},
      {-1500000, "00:00:-01.-500"},  // truncation toward zero, field by field
      {123LL * 3600 * 1000000 + 45 * 60 * 1000000LL + 6 * 1000000LL + 789000, "123:45:06.789"},
      {std::numeric_limits<int64_t>::max(), "2562047788:00:54.775"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatTimestamp(c.Microseconds), c.Text) << c.Microseconds;
}

TEST(ErrorText, MessagesWithoutLibraries) {
  // Nothing loaded: the library's extra tagged codes fall back to the number.
  FFLoader().UnloadLibs(kAllLibraries);
  ASSERT_EQ(ff::av_strerror, nullptr);
  EXPECT_EQ(ErrorText("a.avi", -2), "a.avi: No such file or directory");
  EXPECT_EQ(ErrorText("x", AVERROR_EOF),
            "x: Error number " + std::to_string(AVERROR_EOF) + " occurred");
}

TEST(ErrorText, Table) {
  test::LoadSystemLibraries();
  const std::pair<int, const char*> cases[] = {
      {-2, "in.mpg: No such file or directory"},
      {-10060, "in.mpg: Connection timed out"},
      {-110, "in.mpg: Connection timed out"},
      {-10061, "in.mpg: Connection refused"},
      {-111, "in.mpg: Connection refused"},
      {-999, "in.mpg: Error number -999 occurred"},
      {0, "in.mpg: Error number 0 occurred"},
      {-1481985528, "in.mpg: Muxer not found"},
      {AVERROR_DECODER_NOT_FOUND, "in.mpg: Decoder not found"},
      {AVERROR_PATCHWELCOME, "in.mpg: Not yet implemented in FFmpeg"},
      {-11001, "in.mpg: WSAHOST_NOT_FOUND"},
      {-10035, "in.mpg: WSAEWOULDBLOCK"},
      {-22, "in.mpg: Invalid argument / Invalid data found when processing input"},
      {-131, "in.mpg: State not recoverable"},
      {-1, "in.mpg: Operation not permitted"},
      // Today's library codes that the table does not list: the library's own texts.
      {AVERROR_EOF, "in.mpg: End of file"},
      {AVERROR_INVALIDDATA, "in.mpg: Invalid data found when processing input"},
      {AVERROR_EXIT, "in.mpg: Immediate exit requested"},
      {std::numeric_limits<int>::min(), "in.mpg: Error number -2147483648 occurred"},
  };
  for (const auto& [code, text] : cases) EXPECT_EQ(ErrorText("in.mpg", code), text) << code;
}

TEST(MediaTypeName, Table) {
  const std::pair<int, const char*> cases[] = {{0, "Video"},    {1, "Audio"},      {2, "Data"},
                                               {3, "Subtitle"}, {4, "Attachment"}, {5, "Unknown"},
                                               {-1, "Unknown"}};
  for (const auto& [type, name] : cases) EXPECT_EQ(MediaTypeName(type), name) << type;
}

class ReadWholeFileTest : public ::testing::Test {
 protected:
  void SetUp() override { test::LoadSystemLibraries(); }
  test::TTempDir Dir;
};

TEST_F(ReadWholeFileTest, ReadsContentWithTerminator) {
  const std::string content("two-pass\0stats\nline", 19);
  test::WriteFile(Dir.File("stats.log"), content);
  uint8_t* buffer = nullptr;
  int64_t size = -5;
  ASSERT_EQ(ReadWholeFile(Dir.File("stats.log"), &buffer, &size), 0);
  ASSERT_NE(buffer, nullptr);
  EXPECT_EQ(size, int64_t(content.size()) + 1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), content.size()), content);
  EXPECT_EQ(buffer[content.size()], 0);
  ff::av_free(buffer);
}

TEST_F(ReadWholeFileTest, EmptyFileGivesTerminatorOnly) {
  test::WriteFile(Dir.File("empty"), "");
  uint8_t* buffer = nullptr;
  int64_t size = 0;
  ASSERT_EQ(ReadWholeFile(Dir.File("empty"), &buffer, &size), 0);
  ASSERT_NE(buffer, nullptr);
  EXPECT_EQ(size, 1);
  EXPECT_EQ(buffer[0], 0);
  ff::av_free(buffer);
}

TEST_F(ReadWholeFileTest, MissingFileAndFolderFail) {
  for (const std::string& name : {Dir.File("missing.log"), Dir.Path().string()}) {
    uint8_t* buffer = reinterpret_cast<uint8_t*>(1);
    int64_t size = 7;
    EXPECT_EQ(ReadWholeFile(name, &buffer, &size), -1) << name;
    EXPECT_EQ(buffer, nullptr);
    EXPECT_EQ(size, 0);
  }
}

struct TCorrectionStep {
  int64_t Pts;
  int64_t Dts;
  int64_t Expected;
};

void RunSteps(const std::vector<TCorrectionStep>& steps) {
  TTimestampCorrection state;
  InitTimestampCorrection(state);
  for (size_t i = 0; i < steps.size(); ++i)
    EXPECT_EQ(CorrectTimestamp(state, steps[i].Pts, steps[i].Dts), steps[i].Expected)
        << "step " << i;
}

TEST(CorrectTimestamp, InitialState) {
  TTimestampCorrection state{5, 6, 7, 8};
  InitTimestampCorrection(state);
  EXPECT_EQ(state.NumFaultyPts, 0);
  EXPECT_EQ(state.NumFaultyDts, 0);
  EXPECT_EQ(state.LastPts, std::numeric_limits<int64_t>::min());
  EXPECT_EQ(state.LastDts, std::numeric_limits<int64_t>::min());
}

TEST(CorrectTimestamp, PrefersPtsWhileItBehaves) {
  constexpr int64_t N = AV_NOPTS_VALUE;
  RunSteps({{10, 0, 10}, {20, 10, 20}, {30, 20, 30}, {N, 30, 30}, {40, N, 40}, {N, N, N}});
}

TEST(CorrectTimestamp, SwitchesToDtsWhenPtsGoesBackMoreOften) {
  constexpr int64_t N = AV_NOPTS_VALUE;
  RunSteps({
      {100, 1, 100},
      {50, 2, 2},   // pts went back once, dts never: dts from now on
      {200, 3, 3},  // pts fine again, but the count stays
      {N, 4, 4},
      {300, 3, 300},  // dts back once too: counts equal, pts again
      {250, 5, 5},    // pts back a second time
      {260, N, 260},  // no dts: pts
  });
}

}  // namespace
}  // namespace tovamo
