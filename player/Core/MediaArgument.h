// What the player is asked to play: a file name or URL, with the options that belong to it
// (a DVD folder's device, say). The name always reaches MPlayer as one argument after the
// end of its options, so no name can be taken for an option.
#pragma once

#include <QString>
#include <QStringList>

namespace tovamo::player {

struct TMediaArgument {
  QStringList Options;  // options that go with the media, before its name
  QString Name;         // a file name, URL or "dvd://"

  static TMediaArgument FromName(const QString& AName);
  // A DVD folder: "-dvd-device <folder> dvd://".
  static TMediaArgument DvdFolder(const QString& AFolder);

  bool IsEmpty() const { return Name.isEmpty() && Options.isEmpty(); }
  // The argument as the logged command line shows it: each part through QuoteIfSpaced.
  QString Text() const;
  // The arguments the process receives: the options, "--", then the name.
  QStringList Arguments() const;

  bool operator==(const TMediaArgument&) const = default;
};

}  // namespace tovamo::player
