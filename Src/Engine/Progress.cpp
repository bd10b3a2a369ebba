// The progress report and the job's final statistics.
#include "Engine/FFmpeg.h"
#include "Engine/TranscodeRun.h"
#include "Services/FFBindings.h"

namespace tovamo {

void TCustomFFmpeg::Report(TTranscodeRun&, bool last, int) {
  if (!last || Verbose < 0) return;
  std::int64_t total = 0;
  for (int i = 0; i < OutputFileCount; ++i)
    if (OutputFiles[i] && OutputFiles[i]->pb && (i == 0 || OutputFiles[i] != OutputFiles[0]))
      total += ff::avio_size(OutputFiles[i]->pb) > 0 ? ff::avio_size(OutputFiles[i]->pb)
                                                     : OutputFiles[i]->pb->pos;
  const std::int64_t payload = VideoSize + AudioSize + ExtraSize;
  LogFmt(llInfo, "video:%1.0fkB audio:%1.0fkB global headers:%1.0fkB muxing overhead %f%%",
         VideoSize / 1024.0, AudioSize / 1024.0, ExtraSize / 1024.0,
         payload > 0 ? (total - payload) * 100.0 / payload : 0.0);
}

}  // namespace tovamo
