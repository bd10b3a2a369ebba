#include "Engine/DiscUserData.h"

#include <string_view>

#include "Services/FFBindings.h"

namespace tovamo {

bool IsDiscMuxer(const AVOutputFormat* format) {
  if (!format || !format->name) return false;
  const std::string_view name = format->name;
  return name == "vcd" || name == "svcd" || name == "dvd";
}

void DropSourceUserData(AVFrame* frame) {
  if (!frame) return;
  // Captions, stereo tags, unregistered SEI and the active format: none of them is the
  // disc's own, and a stream that carries them is refused or warned about.
  for (const AVFrameSideDataType type :
       {AV_FRAME_DATA_A53_CC, AV_FRAME_DATA_STEREO3D, AV_FRAME_DATA_SEI_UNREGISTERED,
        AV_FRAME_DATA_AFD, AV_FRAME_DATA_PANSCAN, AV_FRAME_DATA_S12M_TIMECODE,
        AV_FRAME_DATA_GOP_TIMECODE})
    ff::av_frame_remove_side_data(frame, type);
}

}  // namespace tovamo
