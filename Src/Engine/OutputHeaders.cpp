// The last steps of the set-up: metadata maps and the automatic metadata copy, chapter maps
// and the automatic chapter copy, the output headers (with an SDP text for RTP outputs),
// and the stream mapping print that several set-up errors show first.
#include <algorithm>

#include "Engine/FFmpeg.h"
#include "Engine/TranscodeRun.h"
#include "Services/FFBindings.h"
#include "Services/FFUtils.h"

namespace tovamo {
namespace {

const char* KindWord(char type) {
  switch (type) {
    case 's':
      return "stream";
    case 'c':
      return "chapter";
    case 'p':
      return "program";
    default:
      return "global";
  }
}

}  // namespace

void TCustomFFmpeg::ApplyMetadataMaps(TTranscodeRun& run) {
  auto invalid = [&](const char* kind, int index) {
    char text[256];
    std::snprintf(text, sizeof text, "Invalid %s index %d while processing metadata maps", kind,
                  index);
    FailWithMapping(run, text);
  };
  // The metadata set one side of a map names, after its index is checked.
  auto side = [&](const TMetadataMapSide& s, AVFormatContext* file) -> AVDictionary** {
    switch (s.Type) {
      case 's':
        if (s.Index < 0 || s.Index >= int(file->nb_streams)) invalid(KindWord('s'), s.Index);
        return &file->streams[s.Index]->metadata;
      case 'c':
        if (s.Index < 0 || s.Index >= int(file->nb_chapters)) invalid(KindWord('c'), s.Index);
        return &file->chapters[s.Index]->metadata;
      case 'p':
        if (s.Index < 0 || s.Index >= int(file->nb_programs)) invalid(KindWord('p'), s.Index);
        return &file->programs[s.Index]->metadata;
      default:
        return &file->metadata;
    }
  };
  for (const TMetadataMap& map : MetadataMaps) {
    if (map.In.File < 0 || map.Out.File < 0) continue;
    if (map.Out.File >= OutputFileCount) invalid("output file", map.Out.File);
    if (map.In.File >= InputFileCount) invalid("input file", map.In.File);
    AVDictionary** out = side(map.Out, OutputFiles[map.Out.File]);
    AVDictionary** in = side(map.In, InputFiles[map.In.File]);
    ff::av_dict_copy(out, *in, AV_DICT_DONT_OVERWRITE);
  }
  if (MetadataGlobalAutocopy && InputFileCount > 0)
    for (int o = 0; o < OutputFileCount; ++o)
      if (o == 0 || OutputFiles[o] != OutputFiles[0])
        ff::av_dict_copy(&OutputFiles[o]->metadata, InputFiles[0]->metadata,
                         AV_DICT_DONT_OVERWRITE);
}

void TCustomFFmpeg::CopyChapterMaps(TTranscodeRun& run) {
  for (const TChapterMap& map : ChapterMaps) {
    if (map.InFile < 0 || map.OutFile < 0) continue;
    const bool badInput = map.InFile >= InputFileCount;
    if (badInput || map.OutFile >= OutputFileCount) {
      char text[128];
      std::snprintf(text, sizeof text, "Invalid %s file index %d in chapter mapping.",
                    badInput ? "input" : "output", badInput ? map.InFile : map.OutFile);
      FailWithMapping(run, text);
    }
    CopyChapters(map.InFile, map.OutFile);
  }
  if (!ChapterMaps.empty()) return;
  for (int i = 0; i < InputFileCount; ++i) {
    if (InputFiles[i]->nb_chapters == 0) continue;
    for (int o = 0; o < OutputFileCount; ++o)
      if (o == 0 || OutputFiles[o] != OutputFiles[0]) CopyChapters(i, o);
    break;
  }
}

void TCustomFFmpeg::CopyChapters(int inputIndex, int outputIndex) {
  const AVFormatContext* input = InputFiles[inputIndex];
  AVFormatContext* output = OutputFiles[outputIndex];
  for (unsigned i = 0; i < input->nb_chapters; ++i) {
    const AVChapter* in = input->chapters[i];
    const std::int64_t tsOff =
        ff::av_rescale_q(StartTime - InputTsOffsets[inputIndex], AV_TIME_BASE_Q, in->time_base);
    const std::int64_t rt = RecordingTime == INT64_MAX
                                ? INT64_MAX
                                : ff::av_rescale_q(RecordingTime, AV_TIME_BASE_Q, in->time_base);
    if (in->end < tsOff) continue;
    if (rt != INT64_MAX && in->start > rt + tsOff) break;

    auto* chapter = static_cast<AVChapter*>(ff::av_mallocz(sizeof(AVChapter)));
    if (!chapter) throw FFmpegException("av_mallocz fail");
    chapter->id = in->id;
    chapter->time_base = in->time_base;
    chapter->start = std::max<std::int64_t>(0, in->start - tsOff);
    chapter->end = std::min(rt, in->end - tsOff);
    if (MetadataChaptersAutocopy) ff::av_dict_copy(&chapter->metadata, in->metadata, 0);
    auto* grown = static_cast<AVChapter**>(
        ff::av_realloc(output->chapters, sizeof(AVChapter*) * (output->nb_chapters + 1)));
    if (!grown) {
      ff::av_dict_free(&chapter->metadata);
      ff::av_free(chapter);
      throw FFmpegException("av_realloc fail");
    }
    output->chapters = grown;
    output->chapters[output->nb_chapters++] = chapter;
  }
}

void TCustomFFmpeg::WriteHeaders(TTranscodeRun& run) {
  const int files = JoinMode ? std::min(OutputFileCount, 1) : OutputFileCount;
  bool allRtp = files > 0;
  for (int i = 0; i < files; ++i) {
    AVFormatContext* output = OutputFiles[i];
    const int ret = ff::avformat_write_header(output, nullptr);
    if (ret < 0) {
      PrintStreamMapping(run);
      char text[160];
      std::snprintf(text, sizeof text,
                    "Could not write header for output file #%d (incorrect codec parameters ?)", i);
      Log(llError, text);
      throw FFmpegException(std::string(text) + ": " + ErrorText("", ret).substr(2));
    }
    allRtp = allRtp && std::string_view(output->oformat->name) == "rtp";
  }
  if (allRtp) {
    char sdp[2048] = {};
    ff::av_sdp_create(OutputFiles.data(), files, sdp, sizeof sdp);
    std::string text(sdp);
    const auto first = text.find_first_not_of(" \t\r\n");
    const auto last = text.find_last_not_of(" \t\r\n");
    text = first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
    Log(llInfo, "SDP:\r\n" + text);
  }
}

void TCustomFFmpeg::FailWithMapping(TTranscodeRun& run, const std::string& message) {
  PrintStreamMapping(run);
  Log(llError, message);
  throw FFmpegException(message);
}

void TCustomFFmpeg::PrintStreamMapping(TTranscodeRun& run) {
  const int files = JoinMode ? std::min(OutputFileCount, 1) : OutputFileCount;
  for (int i = 0; i < files; ++i) ff::av_dump_format(OutputFiles[i], i, OutputFiles[i]->url, 1);
  if (Verbose < 0) return;
  Log(llVerbose, "Stream mapping:");
  for (const TOutputStream* ost : run.OutputStreams) {
    if (ost->SourceIndex < 0) continue;
    const TInputStream* ist = run.InputStreams[ost->SourceIndex];
    const std::string type = MediaTypeName(ost->EncoderContext->codec_type);
    LogFmt(llVerbose, "  Stream #%d.%d -> #%d.%d (%s)", ist->FileIndex, ist->Index,
           JoinMode ? 0 : ost->FileIndex, ost->Index, type.c_str());
    if (ost->SyncIst && ost->SyncIst != ist)
      LogFmt(llVerbose, " [sync #%d.%d (%s)]", ost->SyncIst->FileIndex, ost->SyncIst->Index,
             type.c_str());
  }
}

}  // namespace tovamo
