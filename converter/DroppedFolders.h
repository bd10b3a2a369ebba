// The videos of a folder dropped on the window: its files and those of its sub-folders whose
// names match the video patterns, in name order, and how many other files it holds.
#pragma once

#include <QStringList>

namespace tovamo {

struct TFolderVideos {
  QStringList Files;  // full paths
  int Skipped = 0;    // files that are no videos by their names
};

// Name order: "clip 2" before "clip 10", without regard to case. <0, 0 or >0.
int CompareNames(const QString& a, const QString& b);

// `patterns`: "*.avi" and so on, matched without regard to case. Hidden files and folders
// are left out, and counted as nothing.
TFolderVideos VideosInFolder(const QString& folder, const QStringList& patterns);

}  // namespace tovamo
