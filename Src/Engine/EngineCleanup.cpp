// The job's clean-up: outputs finished and closed, inputs closed, and every per-job
// setting dropped, whether the run finished, failed or never started.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "Engine/FFmpeg.h"
#include "Engine/StreamRecords.h"
#include "Services/FFBindings.h"
#include "Services/FFLoad.h"
#include "Services/FFUtils.h"
#include "Services/UnicodeProtocol.h"

namespace tovamo {
namespace {

bool LibrariesLoaded() {
  return FFLoader().LibsLoaded(kEncoderLibraries);
}

// The local file behind an output's URL, or an empty path for other protocols.
std::filesystem::path LocalFile(const char* url) {
  if (!url || !*url) return {};
  std::string name = FromFFmpegName(url);
  if (name.rfind("file:", 0) == 0) name.erase(0, 5);
  return std::filesystem::path(name);
}

}  // namespace

bool TCustomFFmpeg::RemoveOutputWithoutMedia(int slot, const std::string& file) {
  // Only what this run made: a file that was there before and that the job never opened
  // is not the job's to remove.
  if (file.empty() || !OutputCreated[slot] || OutputMediaPackets[slot] > 0) return false;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec)) return false;
  return std::filesystem::remove(file, ec) && !ec;
}

void TCustomFFmpeg::CloseFiles() {
  const bool libraries = LibrariesLoaded();
  std::string closeError;  // the first output that could not be finished on disk
  if (libraries) {
    // Outputs. A joined output sits in several slots: each context is closed once.
    std::vector<AVFormatContext*> closed;
    for (int i = 0; i < MaxFiles; ++i) {
      AVFormatContext* output = OutputFiles[i];
      OutputFiles[i] = nullptr;
      if (!output || std::find(closed.begin(), closed.end(), output) != closed.end()) {
        OutputCustomIO[i] = false;
        continue;
      }
      closed.push_back(output);
      const bool writesFile = !(output->oformat && (output->oformat->flags & AVFMT_NOFILE));
      std::filesystem::path file;
      if (writesFile) {
        file = LocalFile(output->url);
        const int ret = CloseOutputIO(i, output);
        if (ret < 0 && closeError.empty())
          closeError = ErrorText(FromFFmpegName(output->url ? output->url : ""), ret);
      }
      ff::avformat_free_context(output);
      if (writesFile) RemoveOutputWithoutMedia(i, file.string());
    }
    std::fill(OutputCreated.begin(), OutputCreated.end(), false);
    std::fill(OutputMediaPackets.begin(), OutputMediaPackets.end(), 0);
  }
  for (auto& table : OutputStreamTables) table.clear();
  for (auto& name : OutputFileNames) name.clear();
  OutputFileCount = 0;

  InputsClosing();
  if (libraries) {
    for (int i = 0; i < MaxFiles; ++i) {
      AVFormatContext* input = InputFiles[i];
      if (!input) continue;
      // The library leaves an I/O context of the program's own open.
      AVIOContext* custom = InputCustomIO[i] ? input->pb : nullptr;
      ff::avformat_close_input(&InputFiles[i]);
      if (custom) CloseUnicodeIO(&custom);
    }
  }
  InputStreams.clear();
  for (auto& scales : InputTsScales) scales.clear();
  for (auto& name : InputFileNames) name.clear();
  std::fill(InputCustomIO.begin(), InputCustomIO.end(), false);
  InputFileCount = 0;

  IntraMatrix.reset();
  InterMatrix.reset();
  if (VstatsFile) {
    std::fclose(VstatsFile);
    VstatsFile = nullptr;
  }
  VstatsFileName.clear();
  StreamIdMap.clear();
  StreamMaps.clear();
  MetadataMaps.clear();
  ChapterMaps.clear();
  VideoCodecName.clear();
  AudioCodecName.clear();
  SubtitleCodecName.clear();
  VideoStandard.clear();
  RcOverride.clear();
  FrameHooks.reset();  // each hook's Release runs here, with the job's end
  UsingFrameHooks = false;
  if (libraries) {
    FreeOptionContexts();
    ff::avfilter_graph_free(&FilterGraph);
    ff::av_dict_free(&Metadata);
  }
  VideoBitstreamFilters.clear();
  AudioBitstreamFilters.clear();
  SubtitleBitstreamFilters.clear();
  if (!closeError.empty()) {
    // The file's end did not reach the disk: the job is not finished.
    Finished = false;
    throw FFmpegException(closeError);
  }
}

}  // namespace tovamo
