#include "Core/LineSplitter.h"

namespace tovamo::player {

std::vector<QByteArray> TLineSplitter::Feed(QByteArrayView AData) {
  std::vector<QByteArray> lines;
  qsizetype i = 0;
  const qsizetype n = AData.size();
  while (i < n) {
    if (SkipLineFeed) {
      SkipLineFeed = false;
      if (AData[i] == '\n') {
        ++i;
        continue;
      }
    }
    qsizetype end = i;
    while (end < n && AData[end] != '\r' && AData[end] != '\n') ++end;
    Append(AData.sliced(i, end - i), lines);
    if (end == n) break;
    EndLine(lines);
    SkipLineFeed = true;
    i = end + 1;
  }
  return lines;
}

std::vector<QByteArray> TLineSplitter::Finish() {
  std::vector<QByteArray> lines;
  if (!Pending.isEmpty()) lines.push_back(Pending);
  Reset();
  return lines;
}

void TLineSplitter::Reset() {
  Pending.clear();
  SkipLineFeed = false;
  Discarding = false;
}

void TLineSplitter::Append(QByteArrayView APiece, std::vector<QByteArray>& ALines) {
  if (Discarding || APiece.isEmpty()) return;
  const qsizetype room = kMaxLineBytes - Pending.size();
  if (APiece.size() <= room) {
    Pending.append(APiece);
    return;
  }
  Pending.append(APiece.first(room));
  ALines.push_back(Pending);
  Pending.clear();
  Discarding = true;
}

void TLineSplitter::EndLine(std::vector<QByteArray>& ALines) {
  if (Discarding)
    Discarding = false;  // the cut line went out already
  else
    ALines.push_back(Pending);
  Pending.clear();
}

}  // namespace tovamo::player
