// Splitting the player's output into lines, however the reads cut it.
#include <gtest/gtest.h>

#include "Core/LineSplitter.h"
#include "PlayerTestSupport.h"

namespace tovamo::player {
namespace {

std::vector<QByteArray> Split(const std::vector<QByteArray>& AReads) {
  TLineSplitter splitter;
  std::vector<QByteArray> lines;
  for (const QByteArray& read : AReads)
    for (QByteArray& line : splitter.Feed(read)) lines.push_back(std::move(line));
  return lines;
}

TEST(LineSplitter, LineEnds) {
  using L = std::vector<QByteArray>;
  const struct {
    L Reads;
    L Lines;
  } cases[] = {
      {{"a\nb\n"}, {"a", "b"}},
      {{"a\r\nb\r\n"}, {"a", "b"}},
      {{"A:   1.0 \rA:   1.1 \r"}, {"A:   1.0 ", "A:   1.1 "}},
      // One LF after a line end belongs to it: LF LF is one end, a third LF an empty line.
      {{"a\n\nb\n"}, {"a", "b"}},
      {{"a\n\n\nb\n"}, {"a", "", "b"}},
      // CR CR and LF CR end a line and an empty one.
      {{"a\r\rb\n"}, {"a", "", "b"}},
      {{"a\n\rb\n"}, {"a", "", "b"}},
      // The cut between two reads changes nothing.
      {{"ab", "c\n"}, {"abc"}},
      {{"a\r", "\nb\n"}, {"a", "b"}},
      {{"a\n", "\nb\n"}, {"a", "b"}},
      {{"a", "\r", "\n", "b", "\n"}, {"a", "b"}},
      {{"", "a\n", ""}, {"a"}},
      {{"no end yet"}, {}},
  };
  for (const auto& c : cases) {
    QByteArray all;
    for (const QByteArray& r : c.Reads) all += r.toHex(' ') + " | ";
    EXPECT_EQ(Split(c.Reads), c.Lines) << all.constData();
  }
}

// Every cut of a real recording into two reads gives the lines of the whole.
TEST(LineSplitter, EveryCutOfARecordingGivesTheSameLines) {
  QFile file(QStringLiteral(TOVAMO_PLAYER_DATA "/sample_avi.out"));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray bytes = file.readAll();
  const auto whole = Split({bytes});
  ASSERT_GT(whole.size(), 100u);
  for (qsizetype cut = 0; cut <= bytes.size(); ++cut)
    ASSERT_EQ(Split({bytes.left(cut), bytes.mid(cut)}), whole) << "cut at " << cut;
}

TEST(LineSplitter, FinishGivesTheUnterminatedRest) {
  TLineSplitter splitter;
  EXPECT_EQ(splitter.Feed("done\nID_EXIT=EOF"), (std::vector<QByteArray>{"done"}));
  EXPECT_EQ(splitter.Finish(), (std::vector<QByteArray>{"ID_EXIT=EOF"}));
  EXPECT_TRUE(splitter.Finish().empty());
  // After Finish a fresh player starts clean: a leading LF is a line end of its own.
  EXPECT_EQ(splitter.Feed("x\r"), (std::vector<QByteArray>{"x"}));
  splitter.Reset();
  EXPECT_EQ(splitter.Feed("\ny\n"), (std::vector<QByteArray>{"", "y"}));
}

// A line longer than the limit is passed on cut to it; what follows up to its end is dropped,
// and the pending text never grows past the limit.
TEST(LineSplitter, OverlongLinesAreCut) {
  constexpr qsizetype kMax = TLineSplitter::kMaxLineBytes;
  EXPECT_EQ(Split({QByteArray(kMax, 'x') + "\nnext\n"}),
            (std::vector<QByteArray>{QByteArray(kMax, 'x'), "next"}));
  EXPECT_EQ(Split({QByteArray(kMax + 1, 'x') + "\nnext\n"}),
            (std::vector<QByteArray>{QByteArray(kMax, 'x'), "next"}));

  TLineSplitter splitter;
  std::vector<QByteArray> lines;
  const QByteArray block(1000, 'y');
  for (int i = 0; i < 3000; ++i) {  // 3 MB without a line break
    for (QByteArray& line : splitter.Feed(block)) lines.push_back(std::move(line));
    ASSERT_LE(splitter.PendingBytes(), kMax);
  }
  for (QByteArray& line : splitter.Feed("\rafter\r")) lines.push_back(std::move(line));
  EXPECT_EQ(lines, (std::vector<QByteArray>{QByteArray(kMax, 'y'), "after"}));
}

// Lines are cut at bytes; a character split between reads comes out whole.
TEST(LineSplitter, MultibyteCharacterSplitBetweenReads) {
  const auto lines = Split({"caf\xc3", "\xa9 \xe2\x82", "\xac\n"});
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(QString::fromUtf8(lines[0]), QString::fromUtf8("café €"));
}

}  // namespace
}  // namespace tovamo::player
