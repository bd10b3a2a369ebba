// The playlist and the settings files without windows: next and
// previous with loop and shuffle, folders, disc folders, ".m3u" reading and writing, and
// the bad input of the issue (missing entries, binary junk, overlong lines, a million
// lines, thousands of files, folders that loop, settings with unknown keys and values).
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

#include "Windows/InfoText.h"
#include "Windows/PlayerConfig.h"
#include "Windows/Playlist.h"

using namespace tovamo::player;

namespace {

void Touch(const QString& APath, const QByteArray& AData = "x") {
  QDir().mkpath(QFileInfo(APath).absolutePath());
  QFile file(APath);
  QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(APath));
  file.write(AData);
}

QStringList FileNames(const TPlaylist& AList) {
  QStringList names;
  for (int i = 0; i < AList.Count(); ++i) names << AList.Entry(i).FileName;
  return names;
}

void AddNames(TPlaylist& AList, int ACount) {
  for (int i = 0; i < ACount; ++i) AList.Add(QStringLiteral("/nowhere/clip%1.avi").arg(i));
}

}  // namespace

class PlaylistTest : public QObject {
  Q_OBJECT

 private slots:
  // --- next and previous ---
  void NextWithoutLoopEndsAfterTheLast() {
    TPlaylist list;
    AddNames(list, 3);
    QCOMPARE(list.GetNext(TEntryState::Playing, 0), 0);
    list.SetPlaying(0);
    QCOMPARE(list.GetNext(TEntryState::Played, +1), 1);
    QCOMPARE(list.Entry(0).State, TEntryState::Played);
    list.SetPlaying(2);
    QCOMPARE(list.GetNext(TEntryState::Played, +1), -1);
    list.SetPlaying(0);
    QCOMPARE(list.GetNext(TEntryState::Skipped, -1), -1);
    QCOMPARE(list.Entry(0).State, TEntryState::Skipped);
  }

  void NextWithLoopWraps() {
    TPlaylist list;
    list.Loop = true;
    AddNames(list, 3);
    list.SetPlaying(2);
    QCOMPARE(list.GetNext(TEntryState::Played, +1), 0);
    list.SetPlaying(0);
    QCOMPARE(list.GetNext(TEntryState::Skipped, -1), 2);
  }

  void CurrentIsTheFirstPlayingEntry() {
    TPlaylist list;
    AddNames(list, 3);
    QCOMPARE(list.Current(), -1);
    list.SetPlaying(1);
    QCOMPARE(list.Current(), 1);
    list.SetPlaying(99);  // a bad index changes nothing
    QCOMPARE(list.Current(), 1);
  }

  void ShuffleWithoutLoopVisitsEveryEntryOnceThenEnds() {
    for (unsigned seed = 1; seed <= 20; ++seed) {
      TPlaylist list;
      list.Random.seed(seed);
      list.Shuffle = true;
      AddNames(list, 7);
      QSet<int> seen;
      int index = list.GetNext(TEntryState::Playing, 0);
      while (index >= 0) {
        QVERIFY2(!seen.contains(index), "an entry came twice");
        seen.insert(index);
        list.SetPlaying(index);
        index = list.GetNext(TEntryState::Played, +1);
        QVERIFY(seen.size() <= 7);
      }
      QCOMPARE(seen.size(), 7);
    }
  }

  void ShuffleWithLoopVisitsEveryEntryOncePerRound() {
    TPlaylist list;
    list.Random.seed(7);
    list.Shuffle = true;
    list.Loop = true;
    AddNames(list, 5);
    int index = list.GetNext(TEntryState::Playing, 0);
    int previous = -1;
    for (int round = 0; round < 4; ++round) {
      QSet<int> seen;
      for (int i = 0; i < 5; ++i) {
        QVERIFY(index >= 0);
        QVERIFY2(!seen.contains(index), "an entry came twice in one round");
        QVERIFY2(index != previous, "the entry just played came again at once");
        seen.insert(index);
        list.SetPlaying(index);
        previous = index;
        index = list.GetNext(TEntryState::Played, +1);
      }
      QCOMPARE(seen.size(), 5);
    }
  }

  void ShuffleOfOneEntryWithLoopRepeatsIt() {
    TPlaylist list;
    list.Shuffle = true;
    list.Loop = true;
    AddNames(list, 1);
    list.SetPlaying(0);
    QCOMPARE(list.GetNext(TEntryState::Played, +1), 0);
  }

  void EmptyListHasNoNext() {
    TPlaylist list;
    QCOMPARE(list.GetNext(TEntryState::Playing, 0), -1);
    list.Shuffle = list.Loop = true;
    QCOMPARE(list.GetNext(TEntryState::Played, +1), -1);
  }

  void BadIndexRaises() {
    TPlaylist list;
    AddNames(list, 1);
    bool raised = false;
    try {
      list.Entry(1);
    } catch (const std::out_of_range& e) {
      raised = QString::fromLatin1(e.what()) == "invalid playlist item";
    }
    QVERIFY(raised);
  }

  void MoveUpAndDownMoveSelectedBlocks() {
    TPlaylist list;
    AddNames(list, 5);
    list.Entry(0).Selected = true;  // at the edge: stays
    list.Entry(2).Selected = true;
    list.Entry(3).Selected = true;
    list.MoveUp();
    QCOMPARE(FileNames(list),
             QStringList({"/nowhere/clip0.avi", "/nowhere/clip2.avi", "/nowhere/clip3.avi",
                          "/nowhere/clip1.avi", "/nowhere/clip4.avi"}));
    list.MoveDown();
    list.MoveDown();
    // Each selected row moves past the unselected one after it, once per call.
    QCOMPARE(FileNames(list),
             QStringList({"/nowhere/clip1.avi", "/nowhere/clip4.avi", "/nowhere/clip0.avi",
                          "/nowhere/clip2.avi", "/nowhere/clip3.avi"}));
    list.DeleteSelected();
    QCOMPARE(FileNames(list), QStringList({"/nowhere/clip1.avi", "/nowhere/clip4.avi"}));
  }

  // --- names, folders and discs ---
  void MediaExtensions() {
    QCOMPARE(tovamo::player::MediaExtensions().size(), 33);
    QCOMPARE(IsMediaFile("a.avi"), 1);
    QCOMPARE(IsMediaFile("/x/A.FLV"), 33);
    QCOMPARE(IsMediaFile("a.txt"), 0);
    QCOMPARE(IsMediaFile("noextension"), 0);
  }

  void FolderAddsSubfoldersFirstSortedAndSkipsOthers() {
    QTemporaryDir dir;
    const QString d = dir.path();
    Touch(d + "/B/b1.mpg");
    Touch(d + "/A/a1.mpg");
    Touch(d + "/A/notes.txt");
    Touch(d + "/b.avi");
    Touch(d + "/a.avi");
    Touch(d + "/x.txt");
    Touch(d + "/.hidden.avi");
    TPlaylist list;
    QCOMPARE(list.Add(d), 3);
    QCOMPARE(FileNames(list),
             QStringList({d + "/A/a1.mpg", d + "/B/b1.mpg", d + "/a.avi", d + "/b.avi"}));
    QCOMPARE(list.Entry(2).DisplayName, QString("a.avi"));
  }

  void DvdFolderIsOneEntry() {
    QTemporaryDir dir;
    Touch(dir.path() + "/Film/VIDEO_TS/VIDEO_TS.IFO");
    Touch(dir.path() + "/Film/VIDEO_TS/VTS_01_1.VOB");
    Touch(dir.path() + "/Film/VIDEO_TS/VTS_01_2.VOB");  // one VOB alone would play as a file
    TPlaylist list;
    list.Add(dir.path() + "/Film");
    QCOMPARE(list.Count(), 1);
    QCOMPARE(list.Entry(0).DisplayName, QString("DVD"));
    const TResolvedMedia media = ResolveMedia(list.Entry(0).FileName);
    QCOMPARE(media.Argument.Options, QStringList({"-dvd-device", dir.path() + "/Film"}));
    QCOMPARE(media.Argument.Name, QString("dvd://"));
    QVERIFY(media.Argument.Text().startsWith("-dvd-device "));
    // The VIDEO_TS folder itself and an IFO file in it resolve the same.
    QCOMPARE(ResolveMedia(dir.path() + "/Film/VIDEO_TS").Title, QString("DVD"));
    QCOMPARE(ResolveMedia(dir.path() + "/Film/VIDEO_TS/VIDEO_TS.IFO").Title, QString("DVD"));
  }

  void VcdAndSvcdFolders() {
    QTemporaryDir dir;
    Touch(dir.path() + "/vcd/MPEGAV/AVSEQ01.DAT");
    Touch(dir.path() + "/svcd/MPEG2/AVSEQ01.MPG");
    const TResolvedMedia vcd = ResolveMedia(dir.path() + "/vcd/");
    QCOMPARE(vcd.Title, QString("VCD"));
    QCOMPARE(vcd.Argument.Name, dir.path() + "/vcd/MPEGAV/AVSEQ01.DAT");
    const TResolvedMedia svcd = ResolveMedia(dir.path() + "/svcd");
    QCOMPARE(svcd.Title, QString("SVCD"));
    // A folder holding one media file plays that file.
    Touch(dir.path() + "/one/clip.mkv");
    QCOMPARE(ResolveMedia(dir.path() + "/one").Argument.Name, dir.path() + "/one/clip.mkv");
    // A URL is its own title.
    QCOMPARE(ResolveMedia("http://example.invalid/a.flv").Title,
             QString("http://example.invalid/a.flv"));
  }

  void RelativeNamesBecomeWhole() {
    QTemporaryDir dir;
    Touch(dir.path() + "/rel clip.avi");
    const QString old = QDir::currentPath();
    QDir::setCurrent(dir.path());
    TPlaylist list;
    list.Add("rel clip.avi");
    QDir::setCurrent(old);
    QCOMPARE(list.Entry(0).FileName, dir.path() + "/rel clip.avi");
  }

  // --- .m3u ---
  void M3uLinesResolveAgainstTheListsFolder() {
    QTemporaryDir dir;
    Touch(dir.path() + "/lists/list.m3u",
          "#EXTM3U\n\nclip "
          "one.avi\r\nsub/two.mpg\n/abs/three.avi\nC:\\win\\four.avi\nhttp://h.invalid/s\n"
          "sub\\five.avi\n");
    TPlaylist list;
    QCOMPARE(list.Add(dir.path() + "/lists/list.m3u"), 5);
    QCOMPARE(FileNames(list),
             QStringList({dir.path() + "/lists/clip one.avi", dir.path() + "/lists/sub/two.mpg",
                          "/abs/three.avi", "C:\\win\\four.avi", "http://h.invalid/s",
                          dir.path() + "/lists/sub/five.avi"}));
  }

  // A lone separator is the list's own folder, not the file system's root; a line that
  // names the root itself, or a link to it in a listed folder, is left out with a note.
  void M3uLinesNeverReachTheWholeFileSystem() {
    QTemporaryDir dir;
    Touch(dir.path() + "/lists/here.avi");
    const struct {
      QByteArray Text;
      QStringList Names;
    } cases[] = {
        {"/\n", {dir.path() + "/lists/here.avi"}},
        {"\\\n", {dir.path() + "/lists/here.avi"}},
        {"/..\n//\n/./\n", {}},
    };
    for (const auto& c : cases) {
      Touch(dir.path() + "/lists/list.m3u", c.Text);
      TPlaylist list;
      list.Add(dir.path() + "/lists/list.m3u");
      QCOMPARE(FileNames(list), c.Names);
    }
    Touch(dir.path() + "/linked/clip.avi");
    QVERIFY(QFile::link("/", dir.path() + "/linked/root"));
    TPlaylist list;
    list.Add(dir.path() + "/linked");
    QCOMPARE(FileNames(list), QStringList({dir.path() + "/linked/clip.avi"}));
    QVERIFY(list.Notes.join('\n').contains("the whole file system"));
  }

  void M3uRoundTripKeepsSpacesAndNonAsciiNames() {
    QTemporaryDir dir;
    const QString d = dir.path();
    const QStringList names = {d + "/My Clip.avi",          d + "/Größe – ä ö ü.mpg",
                               d + "/日本語 ファイル.mkv",  d + "/sub folder/Ünïcödé clip.flv",
                               "/elsewhere/other file.avi", "http://h.invalid/stream?a=1",
                               d + "/#hash start.avi"};
    for (const QString& name : names)
      if (name.startsWith(d)) Touch(name);
    TPlaylist list;
    for (const QString& name : names) list.Add(name);
    QCOMPARE(FileNames(list), names);
    QVERIFY(list.Save(d + "/saved.m3u"));
    QFile saved(d + "/saved.m3u");
    QVERIFY(saved.open(QIODevice::ReadOnly));
    const QByteArray text = saved.readAll();
    QVERIFY2(text.startsWith("My Clip.avi\n"), text.constData());  // relative to the list's folder
    QVERIFY(text.contains("/elsewhere/other file.avi\n"));
    TPlaylist again;
    again.Add(d + "/saved.m3u");
    QCOMPARE(FileNames(again), names);
  }

  void SaveFailsQuietlyWhereItCannotWrite() {
    TPlaylist list;
    AddNames(list, 1);
    QVERIFY(!list.Save("/nonexistent-folder/x.m3u"));
  }

  void ListThatNamesItselfOrLoopsBackIsReadOnce() {
    QTemporaryDir dir;
    Touch(dir.path() + "/a.m3u", "a.m3u\nb.m3u\none.avi\n");
    Touch(dir.path() + "/b.m3u", "a.m3u\ntwo.avi\nb.m3u\n");
    TPlaylist list;
    list.Add(dir.path() + "/a.m3u");
    QCOMPARE(FileNames(list), QStringList({dir.path() + "/two.avi", dir.path() + "/one.avi"}));
    QVERIFY(!list.Notes.isEmpty());
  }

  void UnreadableListIsAPlainEntry() {
    TPlaylist list;
    list.Add("/nonexistent/list.m3u");
    QCOMPARE(FileNames(list), QStringList({"/nonexistent/list.m3u"}));
  }

  void ListWithMissingEntriesKeepsThem() {
    QTemporaryDir dir;
    Touch(dir.path() + "/there.avi");
    Touch(dir.path() + "/l.m3u", "gone1.avi\nthere.avi\ngone2.avi\n");
    TPlaylist list;
    list.Add(dir.path() + "/l.m3u");
    QCOMPARE(list.Count(), 3);  // the player reports the missing ones when it gets to them
  }

  void BinaryJunkListDoesNotBecomeEntries() {
    QTemporaryDir dir;
    QByteArray junk;
    QRandomGenerator random(42);
    for (int i = 0; i < 256 * 1024; ++i) junk += char(random.bounded(256));
    junk += "\nreal.avi\n";
    Touch(dir.path() + "/junk.m3u", junk);
    TPlaylist list;
    list.Add(dir.path() + "/junk.m3u");
    // Lines with NULs or control characters name no file: skipped; the real line stays.
    QVERIFY(list.Count() >= 1);
    QCOMPARE(list.Entry(list.Count() - 1).FileName, dir.path() + "/real.avi");
    for (int i = 0; i < list.Count(); ++i) QVERIFY(!list.Entry(i).FileName.contains(QChar(0)));
    QVERIFY(!list.Notes.isEmpty());
  }

  void LineLongerThan64KiBIsSkipped() {
    QTemporaryDir dir;
    Touch(dir.path() + "/long.m3u", "first.avi\n" + QByteArray(70 * 1024, 'a') +
                                        ".avi\nlast.avi\n" + QByteArray(100 * 1024, 'b'));
    TPlaylist list;
    list.Add(dir.path() + "/long.m3u");
    QCOMPARE(FileNames(list), QStringList({dir.path() + "/first.avi", dir.path() + "/last.avi"}));
  }

  void MillionLinesStopAtTheLimit() {
    QTemporaryDir dir;
    {
      QFile file(dir.path() + "/million.m3u");
      QVERIFY(file.open(QIODevice::WriteOnly));
      QByteArray block;
      for (int i = 0; i < 1000000; ++i) {
        block += "clip" + QByteArray::number(i) + ".avi\n";
        if (block.size() > (1 << 20)) {
          file.write(block);
          block.clear();
        }
      }
      file.write(block);
    }
    QElapsedTimer clock;
    clock.start();
    TPlaylist list;
    list.Add(dir.path() + "/million.m3u");
    QCOMPARE(list.Count(), TPlaylist::kMaxEntries);
    QVERIFY2(clock.elapsed() < 60000, "reading took too long");
    QVERIFY(list.Notes.join('\n').contains("no more are added"));
    QCOMPARE(list.Entry(0).FileName, dir.path() + "/clip0.avi");
  }

  void FolderWithThousandsOfFiles() {
    QTemporaryDir dir;
    for (int i = 0; i < 3000; ++i)
      Touch(dir.path() + QStringLiteral("/big/f%1.avi").arg(i, 5, 10, QChar('0')));
    for (int i = 0; i < 500; ++i) Touch(dir.path() + QStringLiteral("/big/n%1.txt").arg(i));
    TPlaylist list;
    list.Add(dir.path() + "/big");
    QCOMPARE(list.Count(), 3000);
    QCOMPARE(list.Entry(0).FileName, dir.path() + "/big/f00000.avi");
    QCOMPARE(list.Entry(2999).FileName, dir.path() + "/big/f02999.avi");
  }

  void FolderLoopsAndUnreadableFolders() {
    QTemporaryDir dir;
    Touch(dir.path() + "/top/a.avi");
    Touch(dir.path() + "/top/sub/b.avi");
    QVERIFY(QFile::link(dir.path() + "/top", dir.path() + "/top/sub/back"));  // a loop
    QVERIFY(QFile::link(dir.path() + "/none", dir.path() + "/top/dangling"));
    QDir().mkpath(dir.path() + "/top/closed");
    Touch(dir.path() + "/top/closed/c.avi");
    QFile::setPermissions(dir.path() + "/top/closed", QFileDevice::Permissions());
    TPlaylist list;
    list.Add(dir.path() + "/top");
    QFile::setPermissions(dir.path() + "/top/closed",
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QStringList names = FileNames(list);
    // Each file once; the closed folder's file only where this user may read it anyway.
    QVERIFY(names.contains(dir.path() + "/top/a.avi"));
    QVERIFY(names.contains(dir.path() + "/top/sub/b.avi"));
    QCOMPARE(names.count(dir.path() + "/top/a.avi"), 1);
    QVERIFY(names.size() <= 3);
  }

  // --- settings files ---
  void SettingsKeysValuesAndDefaults() {
    QTemporaryDir dir;
    Touch(dir.path() + "/autorun.inf",
          "[autorun]\nopen=setup.exe\n[Vexa]\nAudioOut=win32\nAudioDev=2\nPostproc="
          "max\nDeinterlace=adaptive\n"
          "Aspect=16:9\nReIndex=1\nSoftVol=true\nPriorityBoost=0\nParams=-fps "
          "30\nFullscreen=1\nAutoQuit=1\n");
    Touch(dir.path() + "/Vexa.ini", "[vexa]\naudioout=DSOUND\naspect=2.35:1\n");
    TPlayerSettings s;
    TWindowSettings w;
    QStringList notes;
    for (const QString& name : SettingsFileNames())
      LoadSettings(dir.path() + "/" + name, s, w, notes);
    QVERIFY2(notes.isEmpty(), qPrintable(notes.join('\n')));
    QCOMPARE(s.AudioOut, 3);  // Vexa.ini wins; dsound in capitals
    QCOMPARE(s.AudioDev, 2);
    QCOMPARE(s.Postproc, 2);
    QCOMPARE(s.Deinterlace, 2);
    QCOMPARE(s.Aspect, 3);
    QVERIFY(s.ReIndex);
    QVERIFY(s.SoftVol);
    QVERIFY(!s.PriorityBoost);
    QCOMPARE(s.Params, QString("-fps 30"));
    QVERIFY(w.Fullscreen);
    QVERIFY(w.AutoQuit);
  }

  void SettingsBadKeysAndValuesKeepDefaultsAndSaySo() {
    QTemporaryDir dir;
    QByteArray text =
        "[Vexa]\nAudioOut=surround\nAudioDev=99\nAudioDev=-1\nPostproc=\nAspect=5:4\nSoftVol="
        "maybe\n"
        "Colour=blue\nno equals sign here\n";
    text += QByteArray("\0\x01\x02junk\n", 9);
    Touch(dir.path() + "/Vexa.ini", text);
    TPlayerSettings s;
    TWindowSettings w;
    QStringList notes;
    QVERIFY(LoadSettings(dir.path() + "/Vexa.ini", s, w, notes));
    const TPlayerSettings defaults;
    QCOMPARE(s.AudioOut, defaults.AudioOut);
    QCOMPARE(s.AudioDev, defaults.AudioDev);
    QCOMPARE(s.Postproc, defaults.Postproc);
    QCOMPARE(s.Aspect, defaults.Aspect);
    QCOMPARE(s.SoftVol, defaults.SoftVol);
    const QString all = notes.join('\n');
    for (const char* word : {"AudioOut=surround", "AudioDev=99", "AudioDev=-1", "Aspect=5:4",
                             "SoftVol=maybe", "Colour=blue", "unknown key", "no settings"})
      QVERIFY2(all.contains(QLatin1String(word)), qPrintable(all));
  }

  void SettingsMissingFileIsSkipped() {
    TPlayerSettings s;
    TWindowSettings w;
    QStringList notes;
    QVERIFY(!LoadSettings("/nonexistent/Vexa.ini", s, w, notes));
    QVERIFY(notes.isEmpty());
  }

  void HugeSettingsFileIsReadInPart() {
    QTemporaryDir dir;
    QByteArray text = "[Vexa]\nSoftVol=1\n";
    text += QByteArray(3 * 1024 * 1024, ';');
    Touch(dir.path() + "/Vexa.ini", text);
    TPlayerSettings s;
    TWindowSettings w;
    QStringList notes;
    LoadSettings(dir.path() + "/Vexa.ini", s, w, notes);
    QVERIFY(s.SoftVol);
    QVERIFY(notes.join('\n').contains("only the first"));
  }

  // --- stream information ---
  void AspectTexts() {
    QCOMPARE(AspectText(4.0 / 3), QString("4:3"));
    QCOMPARE(AspectText(16.0 / 9), QString("16:9"));
    QCOMPARE(AspectText(2.35), QString("47:20"));
    QCOMPARE(AspectText(1.85), QString("37:20"));
    QCOMPARE(AspectText(1.0), QString("1:1"));
    QCOMPARE(AspectText(3.14159), QString("3.142:1"));
  }

  void InfoRows() {
    TMediaInfo info;
    QCOMPARE(BuildInfoRows(info), QStringList({"NO_INFO"}));
    info.FileName = "/m/a.avi";
    info.FileFormat = "AVI";
    info.Width = 320;
    info.Height = 240;
    info.VideoFPS = 25;
    info.VideoBitrate = 800000;
    info.ClipInfo[0] = {"Title", "Song"};
    QCOMPARE(BuildInfoRows(info),
             QStringList({"/m/a.avi", "FILE_FORMAT\tAVI", "!TAGS", "Title\tSong", "!VIDEO",
                          "BITRATE\t800 kbps", "SIZE\t320 x 240", "FPS\t25.000 fps"}));
    info.AudioRate = 44100;
    QVERIFY(BuildInfoRows(info).contains("!AUDIO"));
    QCOMPARE(BuildInfoRows(info).last(), QString("RATE\t44100 Hz"));
  }
};

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  PlaylistTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "Playlist_test.moc"
