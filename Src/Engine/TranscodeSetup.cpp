// The transcode set-up: the run's tables, the choice of each output stream's source,
// stream copy or encoding per output stream, two-pass log files, opening the encoders and
// decoders, and the clean-up that ends every run.
#include <algorithm>
#include <climits>
#include <cstring>

#include "Engine/FFmpeg.h"
#include "Engine/DecoderBuffers.h"
#include "Engine/JobPipeline.h"
#include "Engine/PassTwoRate.h"
#include "Engine/StreamTraits.h"
#include "Engine/TranscodeRun.h"
#include "Services/FFBindings.h"
#include "Services/FFCodecLock.h"
#include "Services/FFUtils.h"

namespace tovamo {
namespace {

// The codec context's "bt" when nobody set it.
constexpr int kLibraryDefaultTolerance = 4000000;

std::string Format(const char* fmt, auto... args) {
  char text[1024];
  std::snprintf(text, sizeof text, fmt, args...);
  return text;
}

const char* TypeName(int type) {
  static thread_local std::string name;
  name = MediaTypeName(type);
  return name.c_str();
}

// A second pass of an MPEG video core encoder whose rate cannot even carry the first pass's
// motion and headers is refused here: the encoder would refuse to open, and this build of
// the media libraries aborts the process as it cleans up after that.
void RefuseRateBelowPassTwoNeeds(const AVCodecContext& codec, const AVCodec* encoder) {
  if (!encoder || !OnMpegVideoCore(encoder->name) || codec.time_base.den <= 0) return;
  const double frameSeconds = av_q2d(codec.time_base) * std::max(codec.ticks_per_frame, 1);
  const int macroblocks = ((codec.width + 15) / 16) * ((codec.height + 15) / 16);
  const std::int64_t least =
      PassTwoLeastBitRate(codec.stats_in, frameSeconds, codec.max_b_frames, macroblocks);
  if (least > 0 && codec.bit_rate < least)
    throw FFmpegException(Format(
        "The video bit rate of %lld kbit/s is too low for a second pass over this video: even "
        "at the coarsest quantiser it takes %lld kbit/s. Give it at least that rate, or "
        "encode it in one pass",
        static_cast<long long>(codec.bit_rate / 1000),
        static_cast<long long>((least + 999) / 1000)));
}

constexpr int kMaxInputSampleRate = 768000;  // the highest rate recorded sound uses
constexpr int kMinInputSampleRate = 1000;    // below any rate recorded sound uses

}  // namespace

TTranscodeRun::~TTranscodeRun() {
  Pipeline.reset();
  if (!ff::av_packet_free) return;
  ff::av_packet_free(&Packet);
  ff::av_packet_free(&OutPacket);
}

void TCustomFFmpeg::Transcode() {
  TTranscodeRun run;
  try {
    SetupTranscode(run);
  } catch (...) {
    CleanupTranscode(run);
    throw;
  }
  // An error inside the loop leaves the codecs in the open lists; the run closes them.
  RunPacketLoop(run);
  EndOfJob(run);
  CleanupTranscode(run);
}

void TCustomFFmpeg::SetupTranscode(TTranscodeRun& run) {
  const int inputs = InputFileCount;
  const int outputs = OutputFileCount;
  run.NoPacket.assign(inputs, false);
  run.FurthestTime.assign(inputs, AV_NOPTS_VALUE);
  run.FirstTime.assign(inputs, AV_NOPTS_VALUE);
  run.LastEnd.assign(inputs, AV_NOPTS_VALUE);
  run.ReadSpan = std::make_unique<std::atomic<std::int64_t>[]>(std::size_t(std::max(inputs, 1)));
  run.LastPacketCut.assign(inputs, false);
  run.Packet = ff::av_packet_alloc();
  run.OutPacket = ff::av_packet_alloc();
  if (!run.Packet || !run.OutPacket) throw FFmpegException("av_packet_alloc failed");

  // Input tables. Inputs that were placed in their slot without being opened here get
  // their stream records now.
  for (int i = 0; i < inputs; ++i) {
    AVFormatContext* input = InputFiles[i];
    if (!input) throw FFmpegException(Format("Input file #%d is not open", i));
    bool haveRecords = false;
    for (const auto& ist : InputStreams) haveRecords = haveRecords || ist->FileIndex == i;
    if (!haveRecords) MakeInputStreamRecords(i, {});
  }
  run.Files.resize(inputs);
  for (int i = 0; i < inputs; ++i) {
    run.Files[i].IstIndex = int(run.InputStreams.size());
    run.Files[i].NbStreams = int(InputFiles[i]->nb_streams);
    for (const auto& ist : InputStreams)
      if (ist->FileIndex == i) run.InputStreams.push_back(ist.get());
  }
  const std::int64_t now = MonotonicMicros();
  for (TInputStream* ist : run.InputStreams) {
    ist->Discard = true;
    ist->DecodingNeeded = false;
    ist->Flushed = false;
    ist->IsPastRecordingTime = false;
    ist->ShowedMultiPacketWarning = false;
    ist->PictureCount = 0;
    const AVFormatContext* input = InputFiles[ist->FileIndex];
    ist->TimelineStart = (input->start_time != AV_NOPTS_VALUE ? input->start_time : 0) +
                         InputTsOffsets[ist->FileIndex];
    if (RateEmulation) ist->Start = now;
  }

  // Output streams, and the stream map check.
  for (int j = 0; j < outputs; ++j) {
    AVFormatContext* output = OutputFiles[j];
    if (output->nb_streams == 0 && !(output->oformat->flags & AVFMT_NOSTREAMS)) {
      ff::av_dump_format(output, j, output->url, 1);
      throw FFmpegException(Format("Output file #%d does not contain any stream", j));
    }
  }
  run.GroupSize = outputs > 0 ? int(OutputFiles[0]->nb_streams) : 0;
  int total = 0;
  for (int j = 0; j < outputs; ++j) total += int(OutputStreamTables[j].size());
  if (!StreamMaps.empty() && int(StreamMaps.size()) != total)
    throw FFmpegException("Number of stream maps must match number of output streams");
  for (const TStreamMap& map : StreamMaps) {
    if (map.FileIndex < 0 || map.FileIndex >= inputs || map.StreamIndex < 0 ||
        map.StreamIndex >= run.Files[map.FileIndex].NbStreams)
      throw FFmpegException(
          Format("Could not find input stream #%d.%d", map.FileIndex, map.StreamIndex));
    if (map.SyncFileIndex < 0 || map.SyncFileIndex >= inputs || map.SyncStreamIndex < 0 ||
        map.SyncStreamIndex >= run.Files[map.SyncFileIndex].NbStreams)
      throw FFmpegException(
          Format("Could not find sync stream #%d.%d", map.SyncFileIndex, map.SyncStreamIndex));
  }
  for (int j = 0; j < outputs; ++j)
    for (const auto& ost : OutputStreamTables[j]) run.OutputStreams.push_back(ost.get());

  ChooseSources(run);

  // Per output stream: copy or encode.
  for (TOutputStream* ost : run.OutputStreams) {
    ost->FrameNumber = 0;
    ost->SyncOpts = 0;
    ost->LastMuxTime = 0;
    ost->ForcedKfIndex = 0;
    TInputStream& ist = *run.InputStreams[ost->SourceIndex];
    if (ost->Shared) continue;  // a later group of a joined output: prepared once
    if (MetadataStreamsAutocopy)
      ff::av_dict_copy(&ost->Stream->metadata, ist.Stream->metadata, AV_DICT_DONT_OVERWRITE);
    // A cover picture that becomes a moving video is no cover any more: muxers store
    // such a stream apart from the tracks, or refuse it.
    ost->Stream->disposition = ist.Stream->disposition & ~AV_DISPOSITION_ATTACHED_PIC;
    if (ost->StreamCopy)
      PrepareStreamCopy(run, *ost, ist);
    else
      PrepareEncoding(run, *ost, ist);
  }
  // Later groups of a joined output follow their first group.
  for (TOutputStream* ost : run.OutputStreams) {
    if (!ost->Shared) continue;
    ost->EncodingNeeded = ost->Shared->EncodingNeeded;
    if (ost->EncodingNeeded) run.InputStreams[ost->SourceIndex]->DecodingNeeded = true;
  }

  OpenAllEncoders(run);
  for (TOutputStream* ost : run.OutputStreams)
    if (!ost->Shared) InitBitstreamFilters(*ost);
  OpenAllDecoders(run);
  SetupStillPicture(run);

  // Input timestamps.
  for (TInputStream* ist : run.InputStreams) {
    const AVRational rate = ist->Stream->avg_frame_rate;
    ist->Pts = rate.num ? -std::llround(double(ist->Stream->codecpar->video_delay) * AV_TIME_BASE /
                                        av_q2d(rate))
                        : 0;
    ist->NextPts = AV_NOPTS_VALUE;
    InitTimestampCorrection(ist->PtsCorrection);
    ist->IsStart = true;
  }

  ApplyMetadataMaps(run);
  CopyChapterMaps(run);
  OpenOutputFiles();
  WriteHeaders(run);
  PrintStreamMapping(run);
  ReportUnusedOptions();
}

void TCustomFFmpeg::ChooseSources(TTranscodeRun& run) {
  const int inputs = InputFileCount;
  int position = 0;
  for (TOutputStream* ost : run.OutputStreams) {
    const int type = ost->EncoderContext->codec_type;
    AVFormatContext* output = OutputFiles[ost->FileIndex];
    if (!StreamMaps.empty()) {
      const TStreamMap& map = StreamMaps[position];
      ost->SourceIndex = run.Files[map.FileIndex].IstIndex + map.StreamIndex;
      TInputStream* ist = run.InputStreams[ost->SourceIndex];
      if (ist->Stream->codecpar->codec_type != type) {
        ff::av_dump_format(output, ost->FileIndex, output->url, 1);
        throw FFmpegException(Format("Codec type mismatch for mapping #%d.%d (%s) -> #%d.%d (%s)",
                                     map.FileIndex, map.StreamIndex,
                                     MediaTypeName(ist->Stream->codecpar->codec_type).c_str(),
                                     ost->FileIndex, ost->Index, TypeName(type)));
      }
      ost->SyncIst = run.InputStreams[run.Files[map.SyncFileIndex].IstIndex + map.SyncStreamIndex];
    } else {
      // The richest stream of that type not yet taken; the first among equals.
      int best = -1;
      std::int64_t bestScore = -1;
      for (int i = 0; i < int(run.InputStreams.size()); ++i) {
        const TInputStream* ist = run.InputStreams[i];
        if (ist->Stream->codecpar->codec_type != type || !ist->Discard ||
            ist->Stream->discard == AVDISCARD_ALL)
          continue;
        if (ProgramId != 0) {
          bool inProgram = false;
          const AVFormatContext* file = InputFiles[ist->FileIndex];
          for (unsigned p = 0; p < file->nb_programs && !inProgram; ++p) {
            const AVProgram* program = file->programs[p];
            if (program->id != ProgramId) continue;
            for (unsigned k = 0; k < program->nb_stream_indexes; ++k)
              inProgram = inProgram || int(program->stream_index[k]) == ist->Index;
          }
          if (!inProgram) continue;
        }
        if (JoinMode && ist->FileIndex != ost->FileIndex) continue;
        const std::int64_t score = StreamScore(*ist->Stream);
        if (score > bestScore) {
          bestScore = score;
          best = i;
        }
      }
      if (best < 0 && ProgramId == 0 && !JoinMode) {
        for (int i = 0; i < int(run.InputStreams.size()); ++i) {
          const TInputStream* ist = run.InputStreams[i];
          if (ist->Stream->codecpar->codec_type == type && ist->Stream->discard != AVDISCARD_ALL)
            best = i;
        }
      }
      if (best < 0) {
        ff::av_dump_format(output, ost->FileIndex, output->url, 1);
        throw FFmpegException(
            Format("Could not find input stream matching output stream #%d.%d (%s)", ost->FileIndex,
                   ost->Index, TypeName(type)));
      }
      ost->SourceIndex = best;
      ost->SyncIst = run.InputStreams[best];
    }
    run.InputStreams[ost->SourceIndex]->Discard = false;
    ost->InReport = true;
    ++position;
  }
  (void)inputs;
}

void TCustomFFmpeg::PrepareStreamCopy(TTranscodeRun&, TOutputStream& ost, TInputStream& ist) {
  const AVCodecParameters* in = ist.Stream->codecpar;
  AVCodecParameters* out = ost.Stream->codecpar;
  AVFormatContext* output = OutputFiles[ost.FileIndex];
  if (std::int64_t(in->extradata_size) + AV_INPUT_BUFFER_PADDING_SIZE > INT32_MAX)
    throw FFmpegException("icodec.extradata_size is invalid (too large)");

  switch (in->codec_type) {
    case AVMEDIA_TYPE_AUDIO:
      if (AudioVolume != 256)
        throw FFmpegException("-acodec copy and -vol are incompatible (frames are not decoded)");
      if (OnAudioHook)
        throw FFmpegException(
            "-acodec copy and AudioHook are incompatible (frames are not decoded)");
      break;
    case AVMEDIA_TYPE_VIDEO:
      if (OnVideoInputHook || OnVideoOutputHook)
        throw FFmpegException(
            "-vcodec copy and VideoHook are incompatible (frames are not decoded)");
      if (UsingFrameHooks)
        throw FFmpegException("-vcodec copy and -vhook are incompatible (frames are not decoded)");
      if (PreviewFlags != 0)
        throw FFmpegException(
            "-vcodec copy and PostHooks are incompatible (frames are not decoded)");
      break;
    case AVMEDIA_TYPE_SUBTITLE:
      break;
    default:
      throw FFmpegException("invalid codec_type of output stream");
  }

  const std::uint32_t askedTag = ost.EncoderContext->codec_tag;
  const AVRational sar = ost.EncoderContext->sample_aspect_ratio;
  if (ff::avcodec_parameters_copy(out, in) < 0) throw FFmpegException("av_mallocz fail");
  // The input's tag stays only where the output's tag table does not contradict it.
  if (askedTag) {
    out->codec_tag = askedTag;
  } else {
    const AVCodecTag* const* tags = output->oformat->codec_tag;
    if (!(!tags || ff::av_codec_get_id(tags, in->codec_tag) == in->codec_id ||
          ff::av_codec_get_tag(tags, in->codec_id) == 0))
      out->codec_tag = 0;
  }
  // A container refuses a tag it cannot store; let the muxer choose then.
  if (out->codec_tag &&
      ff::avformat_query_codec(output->oformat, in->codec_id, FF_COMPLIANCE_NORMAL) != 1)
    out->codec_tag = 0;

  ost.Stream->time_base = ist.Stream->time_base;
  if (in->codec_type == AVMEDIA_TYPE_AUDIO) {
    if ((out->block_align == 1 && out->codec_id == AV_CODEC_ID_MP3) ||
        out->codec_id == AV_CODEC_ID_AC3)
      out->block_align = 0;
  } else if (in->codec_type == AVMEDIA_TYPE_VIDEO) {
    AVRational keep = ist.Stream->sample_aspect_ratio.num ? ist.Stream->sample_aspect_ratio
                                                          : in->sample_aspect_ratio;
    if (!keep.num) keep = sar;
    ost.Stream->sample_aspect_ratio = out->sample_aspect_ratio = keep;
    ost.Stream->avg_frame_rate = ist.Stream->avg_frame_rate;
    ost.Stream->r_frame_rate = ist.Stream->r_frame_rate;
    // The RealMedia muxer takes a video stream's time base for its frame duration.
    const AVRational rate = ist.Stream->avg_frame_rate;
    if (std::string_view(output->oformat->name) == "rm" && rate.num > 0 && rate.den > 0)
      ost.Stream->time_base = av_inv_q(rate);
  }
  ost.EncodingNeeded = false;
}

void TCustomFFmpeg::PrepareEncoding(TTranscodeRun& run, TOutputStream& ost, TInputStream& ist) {
  AVCodecContext* codec = ost.EncoderContext;
  switch (codec->codec_type) {
    case AVMEDIA_TYPE_VIDEO:
      if (codec->pix_fmt == AV_PIX_FMT_NONE)
        throw FFmpegException("Video pixel format is unknown, stream cannot be encoded");
      break;
    case AVMEDIA_TYPE_AUDIO:
      // A damaged header may claim any rate; resampling from one far beyond real sound
      // builds a filter of hundreds of megabytes and takes minutes for nothing.
      if (ist.Stream->codecpar->sample_rate > kMaxInputSampleRate)
        throw FFmpegException(Format(
            "Input stream #%d.%d claims a sample rate of %d Hz; at most %d Hz can be converted",
            ist.FileIndex, ist.Index, ist.Stream->codecpar->sample_rate, kMaxInputSampleRate));
      // One far below makes every packet last minutes: a 2 s file would give hours of sound.
      if (ist.Stream->codecpar->sample_rate > 0 &&
          ist.Stream->codecpar->sample_rate < kMinInputSampleRate)
        throw FFmpegException(Format(
            "Input stream #%d.%d claims a sample rate of %d Hz, below "
            "what recorded sound uses (%d Hz); its header is likely "
            "damaged",
            ist.FileIndex, ist.Index, ist.Stream->codecpar->sample_rate, kMinInputSampleRate));
      break;
    case AVMEDIA_TYPE_SUBTITLE:
      break;
    default:
      throw FFmpegException("invalid codec_type of output stream");
  }
  ost.EncodingNeeded = true;
  ist.DecodingNeeded = true;
  if (codec->codec_type == AVMEDIA_TYPE_VIDEO) {
    // Scaling and pixel format conversion come without a graph; a chain of the user's,
    // deinterlacing or bars around the picture need one, which also decides the size.
    if ((VideoFiltersGiven && !VideoFilters.empty()) || Deinterlace || PictureTurn(ist) != 0 ||
        !FitChain(ost, ist).empty() || !BurnSubtitles.empty())
      ConfigureFilters(ost, ist);
    codec->bits_per_raw_sample = 0;
    // The pictures are written as they are to be shown: a rotation tag taken over with the
    // input's metadata would turn them once more.
    ff::av_dict_set(&ost.Stream->metadata, "rotate", nullptr, 0);
  }

  if (codec->flags & (AV_CODEC_FLAG_PASS1 | AV_CODEC_FLAG_PASS2)) {
    int position = 0;
    while (run.OutputStreams[position] != &ost) ++position;
    std::string name =
        (PassLogFilePrefix.empty() ? std::string("ffmpeg2pass") : PassLogFilePrefix) + "-" +
        std::to_string(position) + ".log";
    if (name.size() > 1023) name.resize(1023);
    ost.LogFileName = name;
    // libx264 keeps statistics of its own, by default in the working folder under one name
    // for every job: they go beside the engine's.
    if (codec->codec && std::string(codec->codec->name) == "libx264" && codec->priv_data)
      ff::av_opt_set(codec->priv_data, "stats", (name + ".x264").c_str(), 0);
    if (codec->flags & AV_CODEC_FLAG_PASS1) {
      ost.LogFile = std::fopen(name.c_str(), "wb");
      if (!ost.LogFile)
        throw FFmpegException("Cannot write log file " + name + " for pass-1 encoding");
    } else {
      std::uint8_t* buffer = nullptr;
      std::int64_t size = 0;
      const int ret = ReadWholeFile(name, &buffer, &size);
      if (ret == -12)
        throw FFmpegException("Could not allocate file buffer: Error reading log file \"" + name +
                              "\" for pass-2 encoding");
      if (ret < 0)
        throw FFmpegException("Cannot read file: Error reading log file \"" + name +
                              "\" for pass-2 encoding");
      ff::av_freep(&codec->stats_in);
      codec->stats_in = reinterpret_cast<char*>(buffer);
      RefuseRateBelowPassTwoNeeds(*codec, ost.Encoder ? ost.Encoder : codec->codec);
      // Left at the library's default tolerance (4 Mbit), the second pass hardly corrects
      // what it spent so far, and a file of a few seconds ends several percent off the rate
      // the two passes are for.
      if (codec->bit_rate > 0 && codec->bit_rate_tolerance == kLibraryDefaultTolerance)
        codec->bit_rate_tolerance = int(std::min<std::int64_t>(codec->bit_rate / 5, INT_MAX));
    }
  }
}

void TCustomFFmpeg::InitBitstreamFilters(TOutputStream& ost) {
  if (ost.BitstreamFilterSpecs.empty()) return;
  const AVCodecParameters* par = ost.Stream->codecpar;
  AVRational timeBase = ost.Stream->time_base;
  for (const TBitstreamFilterSpec& spec : ost.BitstreamFilterSpecs) {
    const std::string what = "bitstream filter " + spec.Name;
    const AVBitStreamFilter* filter = ff::av_bsf_get_by_name(spec.Name.c_str());
    AVBSFContext* context = nullptr;
    if (!filter || ff::av_bsf_alloc(filter, &context) < 0 || !context)
      throw FFmpegException("Could not allocate " + what);
    ost.BitstreamFilters.push_back(context);
    if (!spec.Args.empty() &&
        (!context->priv_data ||
         ff::av_set_options_string(context->priv_data, spec.Args.c_str(), "=", ":") < 0))
      throw FFmpegException("Invalid arguments for " + what + ": " + spec.Args);
    if (ff::avcodec_parameters_copy(context->par_in, par) < 0)
      throw FFmpegException("Could not allocate " + what);
    context->time_base_in = timeBase;
    const int ret = ff::av_bsf_init(context);
    if (ret < 0) throw FFmpegException(ErrorText("Error initializing " + what, ret));
    par = context->par_out;
    timeBase = context->time_base_out;
  }
  if (ff::avcodec_parameters_copy(ost.Stream->codecpar, par) < 0)
    throw FFmpegException("Could not allocate bitstream filter parameters");
  ost.Stream->time_base = timeBase;
}

void TCustomFFmpeg::OpenAllEncoders(TTranscodeRun& run) {
  for (TOutputStream* ost : run.OutputStreams) {
    if (!ost->EncodingNeeded || ost->Shared) continue;
    AVCodecContext* codec = ost->EncoderContext;
    const AVCodec* encoder =
        ost->Encoder ? ost->Encoder : ff::avcodec_find_encoder(codec->codec_id);
    const char* type = TypeName(codec->codec_type);
    if (!encoder) {
      FailWithMapping(run, Format("Encoder (codec id %d) not found for output stream #%d.%d (%s)",
                                  int(codec->codec_id), ost->FileIndex, ost->Index, type));
    }
    const TInputStream& ist = *run.InputStreams[ost->SourceIndex];
    if (ist.DecoderContext && ist.DecoderContext->subtitle_header &&
        ist.DecoderContext->subtitle_header_size > 0 && !codec->subtitle_header) {
      const int size = ist.DecoderContext->subtitle_header_size;
      codec->subtitle_header = static_cast<std::uint8_t*>(ff::av_mallocz(size + 1));
      if (!codec->subtitle_header) {
        FailWithMapping(run, "av_malloc failed");
      }
      std::memcpy(codec->subtitle_header, ist.DecoderContext->subtitle_header, size);
      codec->subtitle_header_size = size;
    }
    if (JoinMode) ost->SavedCodecId = codec->codec_id;
    int ret;
    // The reason of a failure is the encoder's own last error line of this open; an
    // earlier line of the job's would only mislead.
    const std::string earlier = ThreadLastLibraryError();
    ClearThreadLastLibraryError();
    {
      TCodecLockGuard lock;
      ret = ff::avcodec_open2(codec, encoder, nullptr);
    }
    if (ret >= 0 && ThreadLastLibraryError().empty()) SetThreadLastLibraryError(earlier);
    if (ret < 0) {
      FailWithMapping(
          run,
          Format(
              "Error while opening encoder for output stream #%d.%d (%s) - maybe incorrect "
              "parameters "
              "such as bit_rate, rate, width or height. Please check error log message to find out "
              "more detail information.",
              ost->FileIndex, ost->Index, type));
    }
    {
      std::lock_guard lock(CodecListLock());
      ost->EncoderOpen = true;
      OpenEncoders.push_back(ost);
    }
    ExtraSize += codec->extradata_size;
    if (ff::avcodec_parameters_from_context(ost->Stream->codecpar, codec) < 0)
      throw FFmpegException("avcodec_parameters_from_context failed");
    ost->Stream->time_base = codec->time_base;
    if (codec->codec_type == AVMEDIA_TYPE_VIDEO) ost->Stream->avg_frame_rate = codec->framerate;
    // What the encoder tells the muxer about its stream (the video buffer size a disc
    // muxer writes into its headers, among others).
    for (int i = 0; i < codec->nb_coded_side_data; ++i) {
      const AVPacketSideData& side = codec->coded_side_data[i];
      std::uint8_t* copy = ff::av_stream_new_side_data(ost->Stream, side.type, side.size);
      if (!copy) throw FFmpegException("av_stream_new_side_data failed");
      std::memcpy(copy, side.data, side.size);
    }
  }
}

void TCustomFFmpeg::OpenAllDecoders(TTranscodeRun& run) {
  for (TInputStream* ist : run.InputStreams) {
    if (!ist->DecodingNeeded) continue;
    AVCodecContext* dec = ist->DecoderContext;
    const AVCodec* decoder = ist->Decoder ? ist->Decoder : ff::avcodec_find_decoder(dec->codec_id);
    const char* type = TypeName(dec->codec_type);
    if (!decoder) {
      // Say what the file names, so that it can be looked up: an id of 0 means the library
      // did not know the codec at all, and only the tag (a FourCC) tells which it was.
      const std::uint32_t tag = ist->Stream->codecpar->codec_tag;
      std::string what = dec->codec_id != AV_CODEC_ID_NONE
                             ? Format("codec \"%s\"", ff::avcodec_get_name(dec->codec_id))
                             : std::string("unknown codec");
      if (tag) {
        std::string fourcc;
        for (int shift = 0; shift < 32; shift += 8) {
          const char c = char((tag >> shift) & 0xFF);
          fourcc += c >= 32 && c < 127 ? c : '?';
        }
        what += " (tag \"" + fourcc + "\")";
      }
      FailWithMapping(run, Format("No decoder for the %s of input stream #%d.%d (%s)", what.c_str(),
                                  ist->FileIndex, ist->Index, type));
    }
    UseBlackDecoderBuffers(dec);
    int ret;
    {
      TCodecLockGuard lock;
      ret = ff::avcodec_open2(dec, decoder, nullptr);
    }
    if (ret < 0) {
      FailWithMapping(run, Format("Error while opening decoder for input stream #%d.%d (%s)",
                                  ist->FileIndex, ist->Index, type));
    }
    if (!ist->Frame) ist->Frame = ff::av_frame_alloc();
    if (!ist->Frame) throw FFmpegException("av_frame_alloc failed");
    std::lock_guard lock(CodecListLock());
    ist->DecoderOpen = true;
    OpenDecoders.push_back(ist);
  }
}

void TCustomFFmpeg::CloseCodecs() {
  std::vector<TOutputStream*> encoders;
  std::vector<TInputStream*> decoders;
  {
    std::lock_guard lock(CodecListLock());
    encoders.swap(OpenEncoders);
    decoders.swap(OpenDecoders);
  }
  TCodecLockGuard lock;
  for (TOutputStream* ost : encoders) {
    ff::av_freep(&ost->EncoderContext->stats_in);
    ff::avcodec_close(ost->EncoderContext);
    ost->EncoderOpen = false;
  }
  for (TInputStream* ist : decoders) {
    ff::avcodec_close(ist->DecoderContext);
    ist->DecoderOpen = false;
  }
}

void TCustomFFmpeg::CleanupTranscode(TTranscodeRun& run) {
  ff::avfilter_graph_free(&FilterGraph);
  run.NoPacket.clear();
  CloseCodecs();
  run.Files.clear();
  ff::av_packet_free(&run.Packet);
  ff::av_packet_free(&run.OutPacket);
  for (TOutputStream* ost : run.OutputStreams) {
    if (ost->LogFile) {
      std::fclose(ost->LogFile);
      ost->LogFile = nullptr;
    }
    ost->ForcedKfPts.clear();
  }
}

}  // namespace tovamo
