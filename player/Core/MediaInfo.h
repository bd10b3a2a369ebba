// The stream information the player learns from MPlayer's identify lines, shown by the
// stream information window.
#pragma once

#include <QString>
#include <QStringView>

#include <array>
#include <cstdint>

namespace tovamo::player {

struct TClipInfoPair {
  QString Key;
  QString Value;

  bool operator==(const TClipInfoPair&) const = default;
};

struct TMediaInfo {
  QString FileName;
  QString FileFormat;
  QString PlaybackTime;
  QString VideoDecoder;
  QString VideoCodec;
  std::int32_t VideoBitrate = 0;
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  double VideoFPS = 0;
  double VideoAspect = 0;
  QString AudioDecoder;
  QString AudioCodec;
  std::int32_t AudioBitrate = 0;
  std::int32_t AudioRate = 0;
  std::int32_t AudioChannels = 0;
  std::array<TClipInfoPair, 10> ClipInfo;

  bool operator==(const TMediaInfo&) const = default;
};

void ClearMediaInfo(TMediaInfo& AInfo);

// One "ID_" line: its key without the "ID_" and its trimmed value.
void ProcessIdentifyLine(TMediaInfo& AInfo, QStringView AKey, const QString& AValue);

// The playback time text of a length in seconds: "H:MM:SS", with ".mmm" when the length
// has a fraction (2.5 gives "0:00:02.500").
QString FormatPlaybackTime(double ASeconds);

}  // namespace tovamo::player
