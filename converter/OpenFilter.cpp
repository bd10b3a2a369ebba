#include "OpenFilter.h"

#include <QStringList>
#include <algorithm>
#include <set>

#include "Services/FFBindings.h"
#include "Services/FFLoad.h"

namespace tovamo {
namespace {

const char* const kKnownExtensions =
    "*.avi *.mpeg *.mpg *.dat *.asf *.wmv *.mov *.qt *.flv *.mp4 *.3gp *.rm *.swf *.rmvb *.mkv "
    "*.webm *.m4v *.ts *.m2ts *.mts *.ogv *.ogg *.vob *.m2v *.mpv *.3g2 *.f4v *.divx *.dv";

const char* const kGroups =
    "MPEG (*.mpeg *.mpg *.m2v *.mpv);;VCD (*.dat);;Windows Media Files (*.asf *.wmv);;"
    "Quick Times (*.mov *.qt);;Flash Video (*.flv *.f4v);;MP4 (*.mp4 *.m4v);;"
    "3GP (*.3gp *.3g2);;AVI (*.avi *.divx);;RM (*.rm);;SWF (*.swf);;RMVB (*.rmvb);;"
    "Matroska (*.mkv);;WebM (*.webm);;MPEG Transport Streams (*.ts *.m2ts *.mts);;"
    "Ogg (*.ogv *.ogg);;DVD Video Objects (*.vob);;DV (*.dv);;All Files (*)";

}  // namespace

std::vector<std::string> DemuxerExtensions() {
  std::set<std::string> extensions;
  if (!FFLoader().LibLoaded(libAVFormat)) return {};
  void* it = nullptr;
  while (const AVInputFormat* demuxer = ff::av_demuxer_iterate(&it)) {
    if (!demuxer->extensions) continue;
    for (const QString& extension : QString::fromLatin1(demuxer->extensions).split(',')) {
      const QString clean = extension.trimmed().toLower();
      // Only plain names become patterns; anything else could widen the filter.
      if (!clean.isEmpty() && clean.size() <= 8 &&
          std::all_of(clean.begin(), clean.end(), [](QChar c) { return c.isLetterOrNumber(); }))
        extensions.insert(clean.toStdString());
    }
  }
  return {extensions.begin(), extensions.end()};
}

QStringList VideoFilePatterns() {
  return QString(kKnownExtensions).split(' ');
}

QString OpenFileFilter(const std::vector<std::string>& libraryExtensions) {
  QStringList all = VideoFilePatterns();
  for (const std::string& extension : libraryExtensions) {
    const QString pattern = "*." + QString::fromStdString(extension);
    if (!all.contains(pattern)) all << pattern;
  }
  return "All Supported Files (" + all.join(' ') + ");;" + kGroups;
}

}  // namespace tovamo
