// The rows of the stream information window: labels and values of the media
// information, group titles marked by a leading "!".
#pragma once

#include <QString>
#include <QStringList>

#include "Core/MediaInfo.h"

namespace tovamo::player {

// "4:3", "16:9", "47:20" for 2.35, "37:20" for 1.85; "1.234:1" when no small fraction fits.
QString AspectText(double AAspect);

// The rows: the file name, "LABEL\tvalue" items and "!GROUP" titles; "NO_INFO" alone while
// there is no file name.
QStringList BuildInfoRows(const TMediaInfo& AInfo);

}  // namespace tovamo::player
