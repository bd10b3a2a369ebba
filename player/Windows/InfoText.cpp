#include "Windows/InfoText.h"

#include <cmath>

namespace tovamo::player {

QString AspectText(double AAspect) {
  for (int den = 1; den <= 50; ++den) {
    const double num = std::round(AAspect * den);
    if (std::fabs(num / den - AAspect) <= 0.001)
      return QStringLiteral("%1:%2").arg(qint64(num)).arg(den);
  }
  return QString::number(AAspect, 'f', 3) + QStringLiteral(":1");
}

QStringList BuildInfoRows(const TMediaInfo& AInfo) {
  QStringList rows;
  if (AInfo.FileName.isEmpty()) return {QStringLiteral("NO_INFO")};
  auto item = [&](const char* ALabel, const QString& AValue) {
    rows << QLatin1String(ALabel) + QLatin1Char('\t') + AValue;
  };
  rows << AInfo.FileName;
  if (!AInfo.FileFormat.isEmpty()) item("FILE_FORMAT", AInfo.FileFormat);
  if (!AInfo.PlaybackTime.isEmpty()) item("LENGTH", AInfo.PlaybackTime);

  bool tags = false;
  for (const TClipInfoPair& pair : AInfo.ClipInfo) {
    if (pair.Key.isEmpty() || pair.Value.isEmpty()) continue;
    if (!tags) rows << QStringLiteral("!TAGS");
    tags = true;
    rows << pair.Key + QLatin1Char('\t') + pair.Value;
  }

  QStringList video;
  auto vitem = [&](const char* ALabel, const QString& AValue) {
    video << QLatin1String(ALabel) + QLatin1Char('\t') + AValue;
  };
  if (!AInfo.VideoDecoder.isEmpty()) vitem("DECODER", AInfo.VideoDecoder);
  if (!AInfo.VideoCodec.isEmpty()) vitem("CODEC", AInfo.VideoCodec);
  if (AInfo.VideoBitrate != 0)
    vitem("BITRATE", QStringLiteral("%1 kbps").arg(AInfo.VideoBitrate / 1000));
  if (AInfo.Width != 0 && AInfo.Height != 0)
    vitem("SIZE", QStringLiteral("%1 x %2").arg(AInfo.Width).arg(AInfo.Height));
  if (AInfo.VideoFPS > 0.01) vitem("FPS", QString::number(AInfo.VideoFPS, 'f', 3) + " fps");
  if (AInfo.VideoAspect > 0.01) vitem("ASPECT", AspectText(AInfo.VideoAspect));
  if (!video.isEmpty()) rows << QStringLiteral("!VIDEO") << video;

  QStringList audio;
  auto aitem = [&](const char* ALabel, const QString& AValue) {
    audio << QLatin1String(ALabel) + QLatin1Char('\t') + AValue;
  };
  if (!AInfo.AudioDecoder.isEmpty()) aitem("DECODER", AInfo.AudioDecoder);
  if (!AInfo.AudioCodec.isEmpty()) aitem("CODEC", AInfo.AudioCodec);
  if (AInfo.AudioBitrate != 0)
    aitem("BITRATE", QStringLiteral("%1 kbps").arg(AInfo.AudioBitrate / 1000));
  if (AInfo.AudioRate != 0) aitem("RATE", QStringLiteral("%1 Hz").arg(AInfo.AudioRate));
  if (AInfo.AudioChannels != 0) aitem("NCH", QString::number(AInfo.AudioChannels));
  if (!audio.isEmpty()) rows << QStringLiteral("!AUDIO") << audio;
  return rows;
}

}  // namespace tovamo::player
