#include "Windows/Playlist.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QUrl>

#include <algorithm>

namespace tovamo::player {

namespace {

// How deep lists may name lists and folders hold folders.
constexpr int kMaxDepth = 64;

QString FileNamePart(const QString& AName) {
  QString name = AName;
  while (name.size() > 1 && name.endsWith(QLatin1Char('/'))) name.chop(1);
  const qsizetype slash = name.lastIndexOf(QLatin1Char('/'));
  return slash < 0 ? name : name.mid(slash + 1);
}

// A subfolder of the folder by name, in any case (disc file systems differ in case).
QString SubFolder(const QString& AFolder, const QString& AName) {
  const QDir dir(AFolder);
  if (QFileInfo(dir.filePath(AName)).isDir()) return dir.filePath(AName);
  const QStringList subs = dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
  for (const QString& sub : subs)
    if (sub.compare(AName, Qt::CaseInsensitive) == 0) return dir.filePath(sub);
  return {};
}

bool IsUrl(const QString& AName) {
  // A scheme and a colon at the start, as "http:", "rtsp:", "dvd:", "mms:" ("p:" at
  // positions 1 to 5; "://" also catches the schemes without a "p").
  const QString lower = AName.left(10).toLower();
  const qsizetype p = lower.indexOf(QLatin1String("p:"));
  if (p >= 0 && p <= 4 && !lower.startsWith(QLatin1Char('/'))) return true;
  const qsizetype scheme = AName.indexOf(QLatin1String("://"));
  return scheme > 0 && scheme <= 10;
}

// A Windows name with a drive letter ("D:\...", "D:/...").
bool HasDriveLetter(const QString& AName) {
  return AName.size() >= 2 && AName[0].isLetter() && AName[0].unicode() < 128 &&
         AName[1] == QLatin1Char(':');
}

}  // namespace

const QStringList& MediaExtensions() {
  static const QStringList list = {"avi",  "mpg",  "vob", "dat", "bin", "mpe", "pva", "mov", "qt",
                                   "mpeg", "divx", "ogg", "ogm", "mkv", "wmv", "asf", "mpv", "m1v",
                                   "m2v",  "dv",   "m4v", "264", "wav", "mp1", "mp2", "mp3", "mpa",
                                   "wma",  "ac3",  "m4a", "26l", "jsv", "flv"};
  return list;
}

int IsMediaFile(const QString& AName) {
  const QString file = FileNamePart(AName);
  const qsizetype dot = file.lastIndexOf(QLatin1Char('.'));
  if (dot < 0) return 0;
  const QString ext = file.mid(dot + 1).toLower();
  if (ext.isEmpty() || ext.size() > 7) return 0;
  return int(MediaExtensions().indexOf(ext)) + 1;
}

QString FindSingleMediaFile(const QString& AFolder) {
  const QDir dir(AFolder);
  QString found;
  const QFileInfoList files =
      dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
  for (const QFileInfo& file : files) {
    if (!IsMediaFile(file.fileName())) continue;
    if (!found.isEmpty()) return {};
    found = file.absoluteFilePath();
  }
  return found;
}

TResolvedMedia ResolveMedia(const QString& AName) {
  TResolvedMedia media{TMediaArgument::FromName(AName), {}};
  if (IsUrl(AName)) {
    media.Title = AName;
    return media;
  }
  media.Title = FileNamePart(AName);

  QString name = AName;
  if (QFileInfo(name).suffix().compare(QLatin1String("ifo"), Qt::CaseInsensitive) == 0)
    name = QFileInfo(name).absolutePath();
  if (QFileInfo(name).isFile()) return media;
  while (name.size() > 1 && name.endsWith(QLatin1Char('/'))) name.chop(1);
  if (!QFileInfo(name).isDir()) return media;

  if (const QString single = FindSingleMediaFile(name); !single.isEmpty()) {
    media.Argument = TMediaArgument::FromName(single);
    media.Title = FileNamePart(single);
    return media;
  }
  QString folder = name;
  if (FileNamePart(folder).compare(QLatin1String("VIDEO_TS"), Qt::CaseInsensitive) == 0)
    folder = QFileInfo(folder).absolutePath();
  if (!SubFolder(folder, QStringLiteral("VIDEO_TS")).isEmpty()) {
    media.Argument = TMediaArgument::DvdFolder(folder);
    media.Title = QStringLiteral("DVD");
    return media;
  }
  QString disc = name;
  if (const QString mpegav = SubFolder(disc, QStringLiteral("MPEGAV")); !mpegav.isEmpty())
    disc = mpegav;
  if (const QString mpeg2 = SubFolder(disc, QStringLiteral("MPEG2")); !mpeg2.isEmpty())
    disc = mpeg2;
  if (const QString single = FindSingleMediaFile(disc); !single.isEmpty()) {
    media.Argument = TMediaArgument::FromName(single);
    media.Title = single.contains(QLatin1String("MPEG2"), Qt::CaseInsensitive)
                      ? QStringLiteral("SVCD")
                      : QStringLiteral("VCD");
  }
  return media;
}

TPlaylist::TPlaylist() : Random(std::random_device{}()) {}

void TPlaylist::Changed() {
  if (OnChanged) OnChanged();
}

void TPlaylist::Clear() {
  Entries.clear();
  Changed();
}

TPlaylistEntry& TPlaylist::Entry(int AIndex) {
  if (AIndex < 0 || AIndex >= Count()) throw std::out_of_range("invalid playlist item");
  return Entries[std::size_t(AIndex)];
}

const TPlaylistEntry& TPlaylist::Entry(int AIndex) const {
  if (AIndex < 0 || AIndex >= Count()) throw std::out_of_range("invalid playlist item");
  return Entries[std::size_t(AIndex)];
}

int TPlaylist::Add(const QString& AName) {
  Notes.clear();
  TAddContext context;
  AddName(AName, context);
  Changed();
  return Count() - 1;
}

void TPlaylist::AddName(const QString& AAnyName, TAddContext& AContext) {
  if (AContext.Full || AAnyName.isEmpty()) return;
  // The player runs in the program's folder: a name relative to this process's folder is
  // made whole, and a "file:" URL becomes its file.
  QString AName = AAnyName;
  if (AName.startsWith(QLatin1String("file://"), Qt::CaseInsensitive))
    AName = QUrl(AName).toLocalFile();
  else if (!IsUrl(AName) && !HasDriveLetter(AName) && QFileInfo(AName).isRelative() &&
           QFileInfo::exists(AName))
    AName = QFileInfo(AName).absoluteFilePath();
  const QFileInfo info(AName);
  if (!IsUrl(AName) && info.isDir()) {
    AddFolder(AName, AContext);
    return;
  }
  if (AName.endsWith(QLatin1String(".m3u"), Qt::CaseInsensitive) && LoadM3U(AName, AContext))
    return;
  AddEntry(AName, AContext);
}

void TPlaylist::AddEntry(const QString& AName, TAddContext& AContext) {
  if (Count() >= kMaxEntries) {
    if (!AContext.Full)
      Notes << QStringLiteral("The playlist holds %1 entries: no more are added.").arg(kMaxEntries);
    AContext.Full = true;
    return;
  }
  TPlaylistEntry entry;
  entry.FileName = AName;
  entry.DisplayName = ResolveMedia(AName).Title;
  Entries.push_back(std::move(entry));
}

void TPlaylist::AddFolder(const QString& AFolder, TAddContext& AContext) {
  QString folder = QFileInfo(AFolder).absoluteFilePath();
  while (folder.size() > 1 && folder.endsWith(QLatin1Char('/'))) folder.chop(1);
  if (FileNamePart(folder).compare(QLatin1String("VIDEO_TS"), Qt::CaseInsensitive) == 0 ||
      !SubFolder(folder, QStringLiteral("VIDEO_TS")).isEmpty()) {
    AddEntry(folder, AContext);
    return;
  }
  // A folder reached twice (a link back up the tree) is listed once.
  const QString canonical = QFileInfo(folder).canonicalFilePath();
  if (canonical.isEmpty() || AContext.Folders.contains(canonical) || AContext.Depth >= kMaxDepth) {
    Notes << QStringLiteral("Folder left out (already listed or too deep): %1").arg(folder);
    return;
  }
  // The root reached from a list or through a link inside a folder is not what was named:
  // walking the whole file system (with /proc and /sys) would hold the window for long.
  if (canonical == QLatin1String("/") && AContext.Depth > 0) {
    Notes << QStringLiteral("Folder left out (the whole file system): %1").arg(folder);
    return;
  }
  AContext.Folders.insert(canonical);
  const QDir dir(folder);
  if (!dir.isReadable()) {
    Notes << QStringLiteral("Folder not readable: %1").arg(folder);
    return;
  }
  QStringList folders;
  QStringList files;
  const QFileInfoList items = dir.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot);
  for (const QFileInfo& item : items) {
    if (item.fileName().startsWith(QLatin1Char('.')) || item.isHidden()) continue;
    if (item.isDir())
      folders << item.absoluteFilePath();
    else if (IsMediaFile(item.fileName()))
      files << item.absoluteFilePath();
  }
  folders.sort(Qt::CaseSensitive);
  files.sort(Qt::CaseSensitive);
  ++AContext.Depth;
  for (const QString& sub : folders) AddFolder(sub, AContext);
  for (const QString& file : files) AddName(file, AContext);
  --AContext.Depth;
}

bool TPlaylist::LoadM3U(const QString& AFileName, TAddContext& AContext) {
  QFile file(AFileName);
  if (!file.open(QIODevice::ReadOnly)) return false;
  const QFileInfo info(AFileName);
  // A list that names itself, or one that names it back, is read once.
  const QString canonical = info.canonicalFilePath();
  if (AContext.Lists.contains(canonical) || AContext.Depth >= kMaxDepth) {
    Notes << QStringLiteral("List read once only: %1").arg(AFileName);
    return true;
  }
  AContext.Lists.insert(canonical);
  const QDir folder = info.absoluteDir();
  ++AContext.Depth;

  // Lines are read up to a bound: a longer one cannot name a file and is skipped whole.
  constexpr qint64 kReadBytes = qint64(kMaxLineChars) * 4 + 2;
  int skipped = 0;
  bool first = true;
  while (!AContext.Full && !file.atEnd()) {
    QByteArray bytes = file.readLine(kReadBytes);
    if (bytes.isEmpty() && !file.atEnd()) break;  // read error
    bool tooLong = false;
    if (!bytes.endsWith('\n') && !file.atEnd()) {
      tooLong = true;
      while (!file.atEnd()) {  // drop the rest of that line
        const QByteArray rest = file.readLine(kReadBytes);
        if (rest.isEmpty() || rest.endsWith('\n')) break;
      }
    }
    while (bytes.endsWith('\n') || bytes.endsWith('\r')) bytes.chop(1);
    if (first && bytes.startsWith("\xEF\xBB\xBF")) bytes.remove(0, 3);
    first = false;
    if (tooLong || bytes.contains('\0') || bytes.size() > kMaxLineChars) {
      ++skipped;
      continue;
    }
    const QString line = QFile::decodeName(bytes).trimmed();
    if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) continue;
    if (std::any_of(line.begin(), line.end(),
                    [](QChar c) { return c.unicode() < 0x20 && c != QLatin1Char('\t'); })) {
      ++skipped;
      continue;
    }
    QString name;
    if (line.startsWith(QLatin1String("file://"), Qt::CaseInsensitive))
      name = QUrl(line).toLocalFile();
    else if (IsUrl(line) || HasDriveLetter(line) ||
             (line.size() > 1 && (line[0] == QLatin1Char('/') || line[0] == QLatin1Char('\\'))))
      name = line;
    else  // joined by hand: QDir::filePath would take a lone "/" as the root itself
      name = QDir::cleanPath(folder.absolutePath() + QLatin1Char('/') +
                             QString(line).replace(QLatin1Char('\\'), QLatin1Char('/')));
    AddName(name, AContext);
  }
  --AContext.Depth;
  if (skipped > 0)
    Notes << QStringLiteral("%1: %2 lines that name no file were skipped.")
                 .arg(AFileName)
                 .arg(skipped);
  return true;
}

int TPlaylist::Current() const {
  for (int i = 0; i < Count(); ++i)
    if (Entries[std::size_t(i)].State == TEntryState::Playing) return i;
  return -1;
}

int TPlaylist::GetNext(TEntryState AExitState, int ADirection) {
  int index = Current();
  const bool hadCurrent = index >= 0;
  if (!hadCurrent)
    index = 0;
  else
    Entries[std::size_t(index)].State = AExitState;
  int next = -1;
  if (Entries.empty()) {
    next = -1;
  } else if (!Shuffle || (ADirection == 0 && hadCurrent)) {
    next = index + ADirection;
    if (next >= Count()) next = Loop ? 0 : -1;
    if (next < 0) next = Loop ? Count() - 1 : -1;
  } else {
    // Shuffle: every entry once per round, in random order; with loop a new round starts
    // when all have been visited (not with the entry just played, when there are others).
    std::vector<int> candidates;
    for (int i = 0; i < Count(); ++i)
      if (!Entries[std::size_t(i)].Visited && !(hadCurrent && i == index)) candidates.push_back(i);
    if (candidates.empty() && Loop) {
      for (int i = 0; i < Count(); ++i) {
        Entries[std::size_t(i)].Visited = false;
        if (!(hadCurrent && i == index) || Count() == 1) candidates.push_back(i);
      }
    }
    if (!candidates.empty())
      next =
          candidates[std::uniform_int_distribution<std::size_t>(0, candidates.size() - 1)(Random)];
  }
  Changed();
  return next;
}

void TPlaylist::SetPlaying(int AIndex) {
  if (AIndex < 0 || AIndex >= Count()) return;
  Entries[std::size_t(AIndex)].State = TEntryState::Playing;
  Entries[std::size_t(AIndex)].Visited = true;
  Changed();
}

void TPlaylist::MoveUp() {
  for (int i = 1; i < Count(); ++i)
    if (Entries[std::size_t(i)].Selected && !Entries[std::size_t(i - 1)].Selected)
      std::swap(Entries[std::size_t(i)], Entries[std::size_t(i - 1)]);
  Changed();
}

void TPlaylist::MoveDown() {
  for (int i = Count() - 2; i >= 0; --i)
    if (Entries[std::size_t(i)].Selected && !Entries[std::size_t(i + 1)].Selected)
      std::swap(Entries[std::size_t(i)], Entries[std::size_t(i + 1)]);
  Changed();
}

void TPlaylist::DeleteSelected() {
  std::erase_if(Entries, [](const TPlaylistEntry& e) { return e.Selected; });
  Changed();
}

bool TPlaylist::Save(const QString& AFileName) const {
  QSaveFile file(AFileName);
  if (!file.open(QIODevice::WriteOnly)) return false;
  const QDir folder = QFileInfo(AFileName).absoluteDir();
  QByteArray text;
  for (const TPlaylistEntry& entry : Entries) {
    QString name = entry.FileName;
    if (name.contains(QLatin1Char('\n')) || name.contains(QLatin1Char('\r'))) continue;
    if (!IsUrl(name) && QFileInfo(name).isAbsolute()) {
      const QString relative = folder.relativeFilePath(name);
      if (!relative.startsWith(QLatin1String("../")) && relative != QLatin1String("..") &&
          !relative.startsWith(QLatin1Char('#')))
        name = relative;
    }
    text += QFile::encodeName(name) + '\n';
  }
  file.write(text);
  return file.commit();
}

}  // namespace tovamo::player
