#include "Windows/PlayerConfig.h"

#include <QFile>
#include <QFileInfo>

#include <optional>

#include "Core/PlayerText.h"

namespace tovamo::player {

namespace {

// A name out of a list of spellings; each spelling carries its value.
struct TName {
  const char* Spelling;
  int Value;
};

std::optional<int> NameValue(const QString& AValue, std::initializer_list<TName> ANames) {
  const QString lower = AValue.trimmed().toLower();
  for (const TName& name : ANames)
    if (lower == QLatin1String(name.Spelling)) return name.Value;
  return std::nullopt;
}

std::optional<bool> BoolValue(const QString& AValue) {
  const QString lower = AValue.trimmed().toLower();
  if (lower == "1" || lower == "true" || lower == "yes" || lower == "on") return true;
  if (lower == "0" || lower == "false" || lower == "no" || lower == "off") return false;
  return std::nullopt;
}

}  // namespace

QStringList SettingsFileNames() {
  return {QStringLiteral("autorun.inf"), QStringLiteral("Vexa.ini")};
}

bool LoadSettings(const QString& AFileName, TPlayerSettings& ASettings, TWindowSettings& AWindow,
                  QStringList& ANotes) {
  QFile file(AFileName);
  if (!QFileInfo(AFileName).isFile() || !file.open(QIODevice::ReadOnly)) return false;
  const QString where = QFileInfo(AFileName).fileName();
  const QByteArray bytes = file.read(kMaxSettingsFileBytes);
  if (!file.atEnd())
    ANotes << QStringLiteral("%1: only the first %2 bytes are read.")
                  .arg(where)
                  .arg(kMaxSettingsFileBytes);

  auto ignored = [&](const QString& AKey, const QString& AValue, const QString& AWhy) {
    ANotes << QStringLiteral("%1: %2=%3 ignored (%4).").arg(where, AKey, AValue.left(80), AWhy);
  };

  bool inSection = false;
  int junk = 0;
  for (QByteArray raw : bytes.split('\n')) {
    if (raw.endsWith('\r')) raw.chop(1);
    if (raw.contains('\0')) {
      ++junk;
      continue;
    }
    const QString line = QString::fromUtf8(raw).trimmed();
    if (line.isEmpty() || line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#')))
      continue;
    if (line.startsWith(QLatin1Char('['))) {
      inSection = line.compare(QLatin1String("[Vexa]"), Qt::CaseInsensitive) == 0;
      continue;
    }
    if (!inSection) continue;
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (eq < 0) {
      ++junk;
      continue;
    }
    const QString key = line.left(eq).trimmed();
    const QString value = line.mid(eq + 1).trimmed();
    const QString k = key.toLower();

    if (k == "audioout") {
      // The Windows names stay valid: win32 is the system's own output (MPlayer's choice),
      // dsound a sound card (card 0 again the system's own output).
      const auto v = NameValue(
          value,
          {{"nosound", 0}, {"null", 1}, {"win32", 2}, {"dsound", 3}, {"pulse", 2}, {"alsa", 3}});
      if (v)
        ASettings.AudioOut = *v;
      else
        ignored(key, value, "not nosound, null, win32 (pulse) or dsound (alsa)");
    } else if (k == "audiodev") {
      const auto v = ParseInteger(value);
      if (v && *v >= 0 && *v <= 31)
        ASettings.AudioDev = *v;
      else
        ignored(key, value, "not a sound card number 0 to 31");
    } else if (k == "postproc") {
      const auto v = NameValue(value, {{"off", 0}, {"auto", 1}, {"max", 2}});
      if (v)
        ASettings.Postproc = *v;
      else
        ignored(key, value, "not off, auto or max");
    } else if (k == "deinterlace") {
      const auto v = NameValue(value, {{"off", 0}, {"simple", 1}, {"adaptive", 2}});
      if (v)
        ASettings.Deinterlace = *v;
      else
        ignored(key, value, "not off, simple or adaptive");
    } else if (k == "aspect") {
      const auto v = NameValue(value, {{"auto", 0}, {"4:3", 1}, {"16:9", 2}, {"2.35:1", 3}});
      if (v)
        ASettings.Aspect = *v;
      else
        ignored(key, value, "not auto, 4:3, 16:9 or 2.35:1");
    } else if (k == "reindex" || k == "softvol" || k == "priorityboost" || k == "fullscreen" ||
               k == "autoquit") {
      const auto v = BoolValue(value);
      if (!v) {
        ignored(key, value, "not 1 or 0");
        continue;
      }
      if (k == "reindex") ASettings.ReIndex = *v;
      if (k == "softvol") ASettings.SoftVol = *v;
      if (k == "priorityboost") ASettings.PriorityBoost = *v;
      if (k == "fullscreen") AWindow.Fullscreen = *v;
      if (k == "autoquit") AWindow.AutoQuit = *v;
    } else if (k == "params") {
      ASettings.Params = value;
    } else {
      ignored(key, value, "unknown key");
    }
  }
  if (junk > 0)
    ANotes << QStringLiteral("%1: %2 lines that are no settings ignored.").arg(where).arg(junk);
  return true;
}

}  // namespace tovamo::player
