// The preview player's playlist: what the player plays, in order, looped or
// shuffled, with the state each entry ended in; files, folders, ".m3u" lists and disc
// folders, and the media name resolution that turns a name into MPlayer's media argument
// and a short title. Qt Core only: the window that shows it is TPlaylistForm.
#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <random>
#include <stdexcept>
#include <vector>

#include "Core/MediaArgument.h"
#include "Core/PlayerTypes.h"

namespace tovamo::player {

struct TPlaylistEntry {
  TEntryState State = TEntryState::NotPlayed;
  bool Selected = false;  // used only while moving rows
  QString FileName;
  QString DisplayName;
  bool Visited = false;  // played in the current shuffle round
};

// The media argument and title of a name.
struct TResolvedMedia {
  TMediaArgument Argument;
  QString Title;
};

// The 33 media extensions, lower case, in the order the open dialog lists them.
const QStringList& MediaExtensions();
// The position (1 to 33) of the name's extension in the media list, or 0.
int IsMediaFile(const QString& AName);
// The full name of the only media file directly in the folder (hidden files count), or
// empty when there is none or more than one.
QString FindSingleMediaFile(const QString& AFolder);
// A file, a folder holding one media file, a DVD folder (VIDEO_TS) or a VCD / SVCD folder
// (MPEGAV, MPEG2) becomes the player's media argument and a title.
TResolvedMedia ResolveMedia(const QString& AName);

class TPlaylist {
 public:
  // Beyond this many entries nothing more is added: a list that long is not a playlist.
  static constexpr int kMaxEntries = 100000;
  // A list line longer than this (PATH_MAX) or holding a NUL cannot name a file: skipped.
  static constexpr int kMaxLineChars = 4096;

  TPlaylist();

  void Clear();
  // Adds a file, a folder or an ".m3u" list; the index of the last entry afterwards (-1
  // while the list is empty).
  int Add(const QString& AName);
  int Count() const { return int(Entries.size()); }
  // Throws std::out_of_range("invalid playlist item") for a bad index.
  TPlaylistEntry& Entry(int AIndex);
  const TPlaylistEntry& Entry(int AIndex) const;
  int Current() const;
  int GetNext(TEntryState AExitState, int ADirection);
  void SetPlaying(int AIndex);
  void MoveUp();
  void MoveDown();
  // Removes the entries whose Selected flag is set; the order of the rest stays.
  void DeleteSelected();
  // Writes an ".m3u" list: names below the list's folder relative to it, others as they
  // are. False when the file could not be written.
  bool Save(const QString& AFileName) const;

  bool Shuffle = false;
  bool Loop = false;

  // What the last Add left out (unreadable lines, repeated lists or folders, a full list),
  // one line each; emptied at the start of each Add.
  QStringList Notes;
  // Called after every change, for the view.
  std::function<void()> OnChanged;
  // The random source of shuffle; tests seed it.
  std::mt19937 Random;

 private:
  struct TAddContext {
    QSet<QString> Lists;    // lists read during this Add
    QSet<QString> Folders;  // folders listed during this Add
    int Depth = 0;
    bool Full = false;
  };
  void AddName(const QString& AName, TAddContext& AContext);
  void AddFolder(const QString& AFolder, TAddContext& AContext);
  bool LoadM3U(const QString& AFileName, TAddContext& AContext);
  void AddEntry(const QString& AName, TAddContext& AContext);
  void Changed();

  std::vector<TPlaylistEntry> Entries;
};

}  // namespace tovamo::player
