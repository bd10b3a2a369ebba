#include "Core/MediaInfo.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "Core/PlayerText.h"

namespace tovamo::player {

void ClearMediaInfo(TMediaInfo& AInfo) {
  AInfo = TMediaInfo{};
}

QString FormatPlaybackTime(double ASeconds) {
  // Out-of-range lengths from a broken file must not overflow the conversion below.
  ASeconds = std::isfinite(ASeconds) ? std::clamp(ASeconds, 0.0, 1e15) : 0.0;
  auto whole = std::int64_t(std::trunc(ASeconds));
  const double fraction = ASeconds - double(whole);
  QString millis;
  if (fraction > 0.0009) {
    millis = QString::number(fraction, 'f', 3);  // "0.500"
    if (millis.startsWith(QLatin1Char('1'))) {
      // A fraction that rounds to a whole second carries into the seconds.
      ++whole;
      millis.clear();
    } else {
      millis = millis.mid(1);
    }
  }
  return FormatSeconds(whole) + millis;
}

namespace {

// The value as the identify table reads it: an integer, else a real number whose integer
// part serves as the integer; failing both, 0 and 0.
struct TIdentifyNumber {
  std::int32_t Integer = 0;
  double Real = 0;
};

TIdentifyNumber ReadNumber(const QString& AValue) {
  if (const auto i = ParseInteger(AValue)) return {*i, double(*i)};
  if (const auto r = ParseReal(AValue)) {
    const double t = std::trunc(*r);
    const bool fits = t >= double(std::numeric_limits<std::int32_t>::min()) &&
                      t <= double(std::numeric_limits<std::int32_t>::max());
    return {fits ? std::int32_t(t) : 0, *r};
  }
  return {};
}

void SetWhileEmpty(QString& AField, const QString& AValue) {
  if (AField.isEmpty()) AField = AValue;
}

// "CLIP_INFO_NAME0".."9" and "CLIP_INFO_VALUE0".."9": the slot, or -1.
int ClipSlot(QStringView AKey, QLatin1String APrefix) {
  if (AKey.size() != APrefix.size() + 1 || !AKey.startsWith(APrefix)) return -1;
  const QChar digit = AKey.back();
  return digit >= QLatin1Char('0') && digit <= QLatin1Char('9') ? digit.unicode() - '0' : -1;
}

}  // namespace

void ProcessIdentifyLine(TMediaInfo& AInfo, QStringView AKey, const QString& AValue) {
  const TIdentifyNumber n = ReadNumber(AValue);
  if (AKey == QLatin1String("FILENAME")) {
    AInfo.FileName = AValue;
  } else if (AKey == QLatin1String("VIDEO_BITRATE")) {
    AInfo.VideoBitrate = n.Integer;
  } else if (AKey == QLatin1String("VIDEO_WIDTH")) {
    AInfo.Width = n.Integer;
  } else if (AKey == QLatin1String("VIDEO_HEIGHT")) {
    AInfo.Height = n.Integer;
  } else if (AKey == QLatin1String("VIDEO_FPS")) {
    AInfo.VideoFPS = n.Real;
  } else if (AKey == QLatin1String("VIDEO_ASPECT")) {
    AInfo.VideoAspect = n.Real;
  } else if (AKey == QLatin1String("AUDIO_BITRATE")) {
    AInfo.AudioBitrate = n.Integer;
  } else if (AKey == QLatin1String("AUDIO_RATE")) {
    AInfo.AudioRate = n.Integer;
  } else if (AKey == QLatin1String("AUDIO_NCH")) {
    AInfo.AudioChannels = n.Integer;
  } else if (AKey == QLatin1String("DEMUXER")) {
    SetWhileEmpty(AInfo.FileFormat, AValue);
  } else if (AKey == QLatin1String("VIDEO_FORMAT")) {
    SetWhileEmpty(AInfo.VideoDecoder, AValue);
  } else if (AKey == QLatin1String("VIDEO_CODEC")) {
    SetWhileEmpty(AInfo.VideoCodec, AValue);
  } else if (AKey == QLatin1String("AUDIO_FORMAT")) {
    SetWhileEmpty(AInfo.AudioDecoder, AValue);
  } else if (AKey == QLatin1String("AUDIO_CODEC")) {
    SetWhileEmpty(AInfo.AudioCodec, AValue);
  } else if (AKey == QLatin1String("LENGTH")) {
    if (n.Real > 0.001) AInfo.PlaybackTime = FormatPlaybackTime(n.Real);
  } else if (const int slot = ClipSlot(AKey, QLatin1String("CLIP_INFO_NAME")); slot >= 0) {
    AInfo.ClipInfo[std::size_t(slot)].Key = AValue;
  } else if (const int slot = ClipSlot(AKey, QLatin1String("CLIP_INFO_VALUE")); slot >= 0) {
    AInfo.ClipInfo[std::size_t(slot)].Value = AValue;
  }
}

}  // namespace tovamo::player
