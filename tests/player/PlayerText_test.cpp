// The player's text helpers, numbers and media arguments.
#include <gtest/gtest.h>

#include "Core/MediaArgument.h"
#include "Core/MediaInfo.h"
#include "Core/PlayerText.h"
#include "PlayerTestSupport.h"

namespace tovamo::player {
namespace {

TEST(PlayerText, FormatSeconds) {
  const struct {
    std::int64_t Seconds;
    const char* Text;
  } cases[] = {
      {0, "0:00:00"},    {59, "0:00:59"},      {60, "0:01:00"}, {3599, "0:59:59"},
      {3723, "1:02:03"}, {100000, "27:46:40"}, {-5, "0:00:00"}, {3600000000, "1000000:00:00"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatSeconds(c.Seconds), c.Text) << c.Seconds;
}

TEST(PlayerText, FormatPlaybackTimeShowsMillisecondsOnlyWhenThere) {
  const struct {
    double Seconds;
    const char* Text;
  } cases[] = {
      {2.5, "0:00:02.500"},
      {2.04, "0:00:02.040"},
      {3723, "1:02:03"},
      {2.0008, "0:00:02"},
      {2.0011, "0:00:02.001"},
      // A fraction that rounds up to a whole second carries, instead of "0:00:021.000".
      {2.9996, "0:00:03"},
      {1e300, "277777777777:46:40"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatPlaybackTime(c.Seconds), c.Text) << c.Seconds;
}

TEST(PlayerText, QuoteIfSpaced) {
  EXPECT_EQ(QuoteIfSpaced("/media/clip.avi"), "/media/clip.avi");
  EXPECT_EQ(QuoteIfSpaced("/media/my clip.avi"), "\"/media/my clip.avi\"");
  EXPECT_EQ(QuoteIfSpaced(""), "");
  EXPECT_EQ(QuoteIfSpaced("tab\there"), "tab\there");
}

TEST(PlayerText, CommandLineWrapsAtSpacesWithin72Columns) {
  const QString words70 = QString(34, 'a') + ' ' + QString(35, 'b');  // 70 characters
  const QString word80(80, 'w');
  const struct {
    QString Text;
    QStringList Pieces;
  } cases[] = {
      {"short line", {"short line"}},
      {words70, {words70}},
      // The space at column 72 is the cut; it is dropped.
      {QString(71, 'a') + ' ' + "tail", {QString(71, 'a'), "tail"}},
      // The last space at or before column 72 decides.
      {"one " + QString(63, 'b') + " two three", {"one " + QString(63, 'b') + " two", "three"}},
      // A word longer than the width stays whole and ends at its first space.
      {word80 + " next", {word80, "next"}},
      {word80, {word80}},
      {"x " + word80 + " y", {"x", word80, "y"}},
  };
  for (const auto& c : cases) EXPECT_EQ(WrapCommandLine(c.Text), c.Pieces) << c.Text.toStdString();
  for (const QString& piece : WrapCommandLine(QString("-opt value ").repeated(40)))
    EXPECT_LE(piece.size(), 72);
}

TEST(PlayerText, ParseIntegerTakesOnlyWholeDecimalNumbers) {
  const struct {
    const char16_t* Text;
    std::optional<int> Value;
  } cases[] = {
      {u"52", 52},  {u"0", 0},     {u"-1", -1}, {u"2147483647", 2147483647},
      {u"", {}},    {u" 5", {}},   {u"5 ", {}}, {u"2147483648", {}},
      {u"1.5", {}}, {u"0x10", {}}, {u"+5", {}}, {u"\u0665", {}},  // Arabic-Indic 5
  };
  for (const auto& c : cases)
    EXPECT_EQ(ParseInteger(c.Text), c.Value) << QString::fromUtf16(c.Text).toStdString();
}

TEST(PlayerText, ParseRealTakesFiniteDecimalNumbers) {
  const struct {
    const char16_t* Text;
    std::optional<double> Value;
  } cases[] = {
      {u"2.04", 2.04}, {u"-0.02", -0.02}, {u"7", 7.0},    {u"1e3", 1000.0}, {u"2,5", {}},
      {u"inf", {}},    {u"nan", {}},      {u"1e999", {}}, {u"", {}},        {u"2.5s", {}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ParseReal(c.Text), c.Value) << QString::fromUtf16(c.Text).toStdString();
}

// Names reach the player as one argument after "--", whatever they look like.
TEST(PlayerText, MediaArgumentKeepsTheNameOneArgument) {
  const struct {
    TMediaArgument Media;
    QString Text;
    QStringList Arguments;
  } cases[] = {
      {TMediaArgument::FromName("/v/clip.avi"), "/v/clip.avi", {"--", "/v/clip.avi"}},
      {TMediaArgument::FromName("/v/my clip.avi"), "\"/v/my clip.avi\"", {"--", "/v/my clip.avi"}},
      {TMediaArgument::FromName("-vo null.avi"), "\"-vo null.avi\"", {"--", "-vo null.avi"}},
      {TMediaArgument::FromName("-"), "-", {"--", "./-"}},
      {TMediaArgument::FromName("http://host/a;b"), "http://host/a;b", {"--", "http://host/a;b"}},
      {TMediaArgument::DvdFolder("/media/My Disc"),
       "-dvd-device \"/media/My Disc\" dvd://",
       {"-dvd-device", "/media/My Disc", "--", "dvd://"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.Media.Text(), c.Text);
    EXPECT_EQ(c.Media.Arguments(), c.Arguments) << c.Text.toStdString();
    EXPECT_FALSE(c.Media.IsEmpty());
  }
  EXPECT_TRUE(TMediaArgument{}.IsEmpty());
}

}  // namespace
}  // namespace tovamo::player
