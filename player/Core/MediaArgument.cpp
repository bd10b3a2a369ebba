#include "Core/MediaArgument.h"

#include "Core/PlayerText.h"

namespace tovamo::player {

TMediaArgument TMediaArgument::FromName(const QString& AName) {
  return {{}, AName};
}

TMediaArgument TMediaArgument::DvdFolder(const QString& AFolder) {
  return {{QStringLiteral("-dvd-device"), AFolder}, QStringLiteral("dvd://")};
}

QString TMediaArgument::Text() const {
  QStringList parts;
  for (const QString& option : Options) parts << QuoteIfSpaced(option);
  if (!Name.isEmpty()) parts << QuoteIfSpaced(Name);
  return parts.join(QLatin1Char(' '));
}

QStringList TMediaArgument::Arguments() const {
  QStringList args = Options;
  if (Name.isEmpty()) return args;
  args << QStringLiteral("--");
  // MPlayer reads standard input for a name of "-", even after "--".
  args << (Name == QLatin1String("-") ? QStringLiteral("./-") : Name);
  return args;
}

}  // namespace tovamo::player
