// The output parser: every complete line MPlayer writes, turned into the player's figures,
// the track menus, the stream information and the log.
#include <QThread>

#include <cmath>

#include "Core/PlayerCore.h"
#include "Core/PlayerText.h"

namespace tovamo::player {

namespace {

// A line in which MPlayer says why a media cannot play. Its remote control notice ("Failed
// to open LIRC support") comes at every start and says nothing about the media.
bool IsErrorLine(const QString& ALine) {
  static const char* const kStarts[] = {"File not found",  "Failed to open ", "Cannot open",
                                        "Cannot find",     "Cannot load",     "No stream found",
                                        "Error ",          "FATAL",           "Video: no video",
                                        "Unable to open ", "Could not open"};
  if (ALine.contains(QLatin1String("LIRC"))) return false;
  for (const char* start : kStarts)
    if (ALine.startsWith(QLatin1String(start), Qt::CaseInsensitive)) return true;
  return false;
}

// Spaces and control characters, as the trimming of a line removes them at its ends.
bool IsBlank(QChar c) {
  return c.unicode() <= 0x20;
}

QString TrimLine(const QString& ALine) {
  qsizetype begin = 0;
  qsizetype end = ALine.size();
  while (begin < end && IsBlank(ALine[begin])) ++begin;
  while (end > begin && IsBlank(ALine[end - 1])) --end;
  return ALine.sliced(begin, end - begin);
}

// Characters APosition.. (counting from 1) of the line, at most ACount of them.
QStringView Chars(const QString& ALine, qsizetype APosition, qsizetype ACount) {
  return QStringView(ALine).mid(APosition - 1, ACount);
}

// "A:" or "V:" status lines: the whole seconds from the four characters after the colon,
// or -1 when they hold a minus sign.
bool IsStatusLine(const QString& ALine) {
  return ALine.size() > 7 && (ALine[0] == QLatin1Char('A') || ALine[0] == QLatin1Char('V')) &&
         ALine[1] == QLatin1Char(':');
}

int StatusSeconds(const QString& ALine) {
  int value = 0;
  for (QChar c : Chars(ALine, 3, 4)) {
    if (c == QLatin1Char('-')) return -1;
    if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) value = value * 10 + (c.unicode() - '0');
  }
  return value;
}

std::optional<int> IntegerInRange(QStringView AText, int ALow, int AHigh) {
  const auto value = ParseInteger(AText);
  if (!value || *value < ALow || *value > AHigh) return std::nullopt;
  return value;
}

// "VO: [x11] 160x120 => 320x240 Planar YV12": the size after " => ".
bool ParseVideoSize(const QString& ALine, int& AWidth, int& AHeight) {
  if (!ALine.startsWith(QLatin1String("VO: ["))) return false;
  const qsizetype arrow = ALine.indexOf(QLatin1String(" => "));
  if (arrow < 0) return false;
  QStringView size = QStringView(ALine).mid(arrow + 4);
  if (const qsizetype space = size.indexOf(QLatin1Char(' ')); space >= 0) size = size.left(space);
  const qsizetype x = size.indexOf(QLatin1Char('x'));
  if (x < 0) return false;
  const auto width = IntegerInRange(size.left(x), 16, 4095);
  const auto height = IntegerInRange(size.mid(x + 1, 5), 16, 4095);
  if (!width || !height) return false;
  AWidth = *width;
  AHeight = *height;
  return true;
}

// "ID_AID_1_LANG=eng" and "ID_SID_0_LANG=ger": the id and the language.
bool ParseTrackLanguage(const QString& ALine, int& AId, QString& ALanguage) {
  const qsizetype found = Chars(ALine, 8, 20).indexOf(QLatin1String("_LANG="));
  if (found < 0) return false;
  const qsizetype lang = 7 + found + 6;  // index of the language's first character
  const auto id = IntegerInRange(QStringView(ALine).mid(7, found), 0, 255);
  if (!id) return false;
  AId = *id;
  ALanguage = ALine.mid(lang, std::min<qsizetype>(8, 27 - lang));
  return true;
}

}  // namespace

TTrackMenu& TPlayerCore::TrackMenu(TTrackKind AMenu) {
  return AMenu == TTrackKind::Audio ? AudioMenu : SubtitleMenu;
}

void TPlayerCore::ClearTrackMenus() {
  for (TTrackKind kind : {TTrackKind::Audio, TTrackKind::Subtitle}) {
    TrackMenu(kind) = TTrackMenu{};
    Window.TrackMenuChanged(kind);
  }
}

void TPlayerCore::AddTrackItem(TTrackKind AMenu, int AId, int ASelectedId) {
  TTrackMenu& menu = TrackMenu(AMenu);
  for (const TTrackItem& item : menu.Items)
    if (item.Id == AId) return;
  const bool checked = AId == ASelectedId || (ASelectedId < 0 && menu.Items.empty());
  menu.Items.push_back({AId, QString::number(AId), checked});
  menu.Enabled = true;
  Window.TrackMenuChanged(AMenu);
}

void TPlayerCore::SetTrackLanguage(TTrackKind AMenu, int AId, const QString& ALanguage) {
  for (TTrackItem& item : TrackMenu(AMenu).Items) {
    if (item.Id != AId) continue;
    item.Caption = QStringLiteral("%1 (%2)").arg(AId).arg(ALanguage);
    Window.TrackMenuChanged(AMenu);
    return;
  }
}

void TPlayerCore::SetStreamTitle(const QString& ATitle) {
  auto& clips = MediaInfo.ClipInfo;
  std::size_t slot = 9;
  for (std::size_t i = 0; i < 9 && slot == 9; ++i)
    if (clips[i].Key == QLatin1String("Title")) slot = i;
  for (std::size_t i = 0; i < 9 && slot == 9; ++i)
    if (clips[i].Key.isEmpty()) slot = i;
  clips[slot].Key = QStringLiteral("Title");
  if (clips[slot].Value == ATitle) return;
  clips[slot].Value = ATitle;
  Window.RefreshInfo();
}

void TPlayerCore::FlushRepeat() {
  if (RepeatCount == 1)
    Window.AddLogLine(RepeatLine);
  else if (RepeatCount > 1)
    Window.AddLogLine(QStringLiteral("(last message repeated %1 times)").arg(RepeatCount));
  RepeatCount = 0;
}

void TPlayerCore::ProcessOutputLine(const QString& ARawLine) {
  if (IsStatusLine(ARawLine)) {
    const int seconds = StatusSeconds(ARawLine);
    if (seconds != PositionSeconds) {
      PositionSeconds = seconds;
      Window.UpdateTimeText();
    }
    return;
  }

  const QString line = TrimLine(ARawLine);

  if (line.size() > 17 && line[10] == QLatin1Char(':') && line[17] == QLatin1Char('%') &&
      line.startsWith(QLatin1String("Cache fill"))) {
    Window.ShowStatusLine(line);
    if (Window.LastLogLine().startsWith(QLatin1String("Cache fill:")))
      Window.ReplaceLastLogLine(line);
    QThread::yieldCurrentThread();
    return;
  }

  if (line.startsWith(QLatin1String("ANS_PERCENT_POSITION="))) {
    if (const auto percent = IntegerInRange(Chars(line, 22, 4), 0, 100)) {
      PositionPercent = *percent;
      Window.UpdateSeekBar();
    }
    return;
  }

  if (!line.isEmpty() && line == RepeatLine) {
    ++RepeatCount;
    return;
  }
  FlushRepeat();
  RepeatLine = line;
  Window.AddLogLine(line);
  if (IsErrorLine(line)) LastErrorLine = line;

  HandleLine(line);

  if (line.startsWith(QLatin1String("ID_"))) {
    const qsizetype equals = line.indexOf(QLatin1Char('='));
    const QStringView key =
        equals < 0 ? QStringView(line).mid(3) : QStringView(line).mid(3, equals - 3);
    const QString value = equals < 0 ? QString() : TrimLine(line.mid(equals + 1));
    ProcessIdentifyLine(MediaInfo, key, value);
  }
}

// The handlers, in order; true when one of them took the line.
bool TPlayerCore::HandleLine(const QString& ALine) {
  int width = 0;
  int height = 0;
  if (ParseVideoSize(ALine, width, height)) {
    VideoWidth = width;
    VideoHeight = height;
    Window.ApplyVideoSize();
    PlayerState = TPlayerState::Playing;
    Window.UpdateStatusText();
    return true;
  }
  if (ALine == QLatin1String("Audio: no sound")) {
    HasAudio = false;
    return true;
  }
  if (ALine == QLatin1String("Video: no video")) {
    HasVideo = false;
    return true;
  }
  if (ALine == QLatin1String("Starting playback...")) {
    if (!LengthReported && MediaLengthLookup && MediaArgument.Options.isEmpty())
      if (const std::int64_t seconds = MediaLengthLookup(MediaArgument.Name); seconds > 0)
        DurationText = FormatSeconds(seconds);
    Window.ShowMediaLayout();
    if (!HasVideo) {
      PlayerState = TPlayerState::Playing;
      Window.UpdateStatusText();
    }
    return true;
  }
  if (ALine.startsWith(QLatin1String("ID_AUDIO_ID="))) {
    if (const auto id = IntegerInRange(Chars(ALine, 13, 9), 0, 8190)) {
      AddTrackItem(TTrackKind::Audio, *id, AudioTrack);
      return true;
    }
  }
  int id = 0;
  QString language;
  if (ALine.startsWith(QLatin1String("ID_AID_")) && ParseTrackLanguage(ALine, id, language)) {
    SetTrackLanguage(TTrackKind::Audio, id, language);
    return true;
  }
  if (ALine.startsWith(QLatin1String("ID_SUBTITLE_ID="))) {
    if (const auto sid = IntegerInRange(Chars(ALine, 16, 9), 0, 255)) {
      AddTrackItem(TTrackKind::Subtitle, *sid, SubtitleTrack);
      return true;
    }
  }
  if (ALine.startsWith(QLatin1String("ID_SID_")) && ParseTrackLanguage(ALine, id, language)) {
    SetTrackLanguage(TTrackKind::Subtitle, id, language);
    return true;
  }
  if (ALine.startsWith(QLatin1String("ID_LENGTH="))) {
    // Lengths beyond any real media (a broken file) are not shown.
    // A length of 0 is MPlayer knowing none: the length found otherwise stays.
    if (const auto length = ParseReal(Chars(ALine, 11, 10));
        length && std::abs(*length) < 1e12 && std::nearbyint(*length) > 0) {
      DurationText = FormatSeconds(std::int64_t(std::nearbyint(*length)));
      LengthReported = true;
    }
    return true;
  }
  static const QLatin1String kFormatDetected(" file format detected.");
  if (ALine.size() >= 22 && ALine.endsWith(kFormatDetected)) {
    MediaInfo.FileFormat = ALine.left(ALine.size() - kFormatDetected.size());
    return true;
  }
  if (ALine.startsWith(QLatin1String("Opening ")) && Chars(ALine, 13, 12) == u"o decoder: [" &&
      ALine.indexOf(QLatin1String("] "), 24) >= 0) {
    const QStringView kind = Chars(ALine, 9, 4);
    const QString name = ALine.mid(ALine.indexOf(QLatin1String("] ")) + 2);
    if (kind == u"vide") {
      MediaInfo.VideoDecoder = name;
      return true;
    }
    if (kind == u"audi") {
      MediaInfo.AudioDecoder = name;
      return true;
    }
  }
  if (ALine.startsWith(QLatin1String("Selected ")) && Chars(ALine, 14, 10) == u"o codec: [" &&
      ALine.indexOf(QLatin1String(" ("), 23) >= 0) {
    const QStringView kind = Chars(ALine, 10, 4);
    QString name = ALine.mid(ALine.indexOf(QLatin1String(" (")) + 2);
    name.chop(1);
    if (kind == u"vide") {
      MediaInfo.VideoCodec = name;
      return true;
    }
    if (kind == u"audi") {
      MediaInfo.AudioCodec = name;
      return true;
    }
  }
  if (ALine.startsWith(QLatin1String("ICY Info: "))) {
    static const QLatin1String kTitleStart("StreamTitle='");
    const qsizetype start = ALine.indexOf(kTitleStart, 9);
    const qsizetype end =
        start < 0 ? -1 : ALine.indexOf(QLatin1String("';"), start + kTitleStart.size());
    if (end >= 0) {
      const QString title =
          ALine.sliced(start + kTitleStart.size(), end - start - kTitleStart.size());
      if (!title.isEmpty()) {
        SetStreamTitle(title);
        return true;
      }
    }
  }
  return false;
}

}  // namespace tovamo::player
