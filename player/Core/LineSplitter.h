// Splits the player's output bytes into lines. CR or LF ends a line, and one LF directly
// after a line end belongs to it (so CR LF and LF LF each end one line), wherever the reads
// happen to be cut. A line that grows past kMaxLineBytes without an end is passed on cut
// to that length and the rest of it, up to its end, is dropped: a player that writes
// without line breaks cannot make the pending text grow without bound.
#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <vector>

namespace tovamo::player {

class TLineSplitter {
 public:
  static constexpr qsizetype kMaxLineBytes = 4096;

  // The lines that this read completes, in order.
  std::vector<QByteArray> Feed(QByteArrayView AData);
  // The unterminated rest as a last line, if there is one; then starts afresh.
  std::vector<QByteArray> Finish();
  void Reset();

  qsizetype PendingBytes() const { return Pending.size(); }

 private:
  void Append(QByteArrayView APiece, std::vector<QByteArray>& ALines);
  void EndLine(std::vector<QByteArray>& ALines);

  QByteArray Pending;
  bool SkipLineFeed = false;  // the last byte ended a line: a LF now belongs to it
  bool Discarding = false;    // a cut line's rest is being dropped
};

}  // namespace tovamo::player
