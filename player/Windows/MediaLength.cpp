#include "Windows/MediaLength.h"

#include <QFileInfo>

#include <exception>

#include "Components/FFDecode.h"
#include "Services/FFLoad.h"

namespace tovamo::player {

std::int64_t MediaLengthSeconds(const QString& AFileName, const QString& AProgramDir) {
  // Only regular files: opening a named pipe or a device would wait for a writer.
  if (!QFileInfo(AFileName).isFile()) return -1;
  TFFLoader& loader = FFLoader();
  if (!loader.LibsLoaded(kEncoderLibraries)) {
    loader.LibraryPath = (AProgramDir + QStringLiteral("lib")).toStdString();
    if (!loader.LoadLibs(kEncoderLibraries)) return -1;
  }
  try {
    TFFDecoder decoder;
    if (!decoder.Open(AFileName.toStdString())) return -1;
    const std::int64_t duration = decoder.Context() ? decoder.Context()->duration : AV_NOPTS_VALUE;
    if (duration == AV_NOPTS_VALUE || duration <= 0) return -1;
    return (duration + AV_TIME_BASE / 2) / AV_TIME_BASE;
  } catch (const std::exception&) {
    return -1;
  }
}

}  // namespace tovamo::player
