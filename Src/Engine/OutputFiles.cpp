// The outputs of a job: the container format, which kinds of stream an output gets, each
// stream's encoder choice and settings, opening the file for writing, and join mode.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "Engine/FFmpeg.h"
#include "Engine/GuardedIO.h"
#include "Engine/PixelFormats.h"
#include "Engine/StreamRecords.h"
#include "Services/FFBindings.h"
#include "Services/FFInterrupt.h"
#include "Services/FFUtils.h"
#include "Services/SameFile.h"
#include "Services/UnicodeProtocol.h"

namespace tovamo {
namespace {

constexpr int kLambdaScale = FF_QP2LAMBDA;  // quality units per quantiser step

// The local path behind an FFmpeg name, or an empty path for names of other protocols.
std::string LocalPath(const std::string& ffmpegName) {
  if (IsUnicodeName(ffmpegName)) return FromFFmpegName(ffmpegName);
  if (ffmpegName.rfind("file:", 0) == 0) return ffmpegName.substr(5);
  if (ffmpegName.find(':') != std::string::npos) return {};
  return ffmpegName;
}

// Whether two names as given (not FFmpeg names) are one local file.
bool SameLocalFile(const std::string& a, const std::string& b) {
  const std::string pathA = LocalPath(ToFFmpegName(a));
  const std::string pathB = LocalPath(ToFFmpegName(b));
  return !pathA.empty() && !pathB.empty() && IsSameFile(pathA, pathB);
}

// Why a file could not be created at `path` (an AVERROR), or 0 when it looks as if it can.
// Nothing is created: the file is made when the job starts.
int PlaceError(const std::string& path) {
  if (path.empty()) return 0;
  struct stat st;
  if (stat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return AVERROR(EISDIR);
    return access(path.c_str(), W_OK) == 0 ? 0 : AVERROR(errno);
  }
  if (errno != ENOENT) return AVERROR(errno);
  std::string folder = std::filesystem::path(path).parent_path().string();
  if (folder.empty()) folder = ".";
  if (stat(folder.c_str(), &st) != 0) return AVERROR(errno);
  if (!S_ISDIR(st.st_mode)) return AVERROR(ENOTDIR);
  return access(folder.c_str(), W_OK | X_OK) == 0 ? 0 : AVERROR(errno);
}

// One "start,end,q" entry of an rc_override list; false when the text is malformed.
bool ParseOverride(const char*& p, RcOverride& entry) {
  auto number = [&p](int& value) {
    char* end = nullptr;
    const long v = std::strtol(p, &end, 10);
    if (end == p) return false;
    value = int(std::clamp<long>(v, INT32_MIN, INT32_MAX));
    p = end;
    return true;
  };
  int q = 0;
  if (!number(entry.start_frame) || !*p) return false;
  ++p;  // the separator
  if (!number(entry.end_frame) || !*p) return false;
  ++p;
  if (!number(q)) return false;
  if (q > 0) {
    entry.qscale = q;
    entry.quality_factor = 1.0f;
  } else {
    entry.qscale = 0;
    entry.quality_factor = float(-double(q) / 100.0);
  }
  return true;
}

void SetRateOverrides(AVCodecContext* codec, const std::string& text) {
  std::vector<RcOverride> entries;
  const char* p = text.c_str();
  while (*p) {
    RcOverride entry{};
    if (!ParseOverride(p, entry)) throw FFmpegException("error parsing rc_override");
    entries.push_back(entry);
    p = std::strchr(p, '/');
    if (!p) break;
    ++p;
  }
  if (entries.empty()) return;
  auto* array = static_cast<RcOverride*>(ff::av_mallocz(sizeof(RcOverride) * entries.size()));
  if (!array) throw FFmpegException("Could not alloc rc_override");
  std::copy(entries.begin(), entries.end(), array);
  ff::av_freep(&codec->rc_override);
  codec->rc_override = array;
  codec->rc_override_count = int(entries.size());
}

std::uint16_t* CopyMatrix(const TQuantMatrix& matrix) {
  auto* copy = static_cast<std::uint16_t*>(ff::av_malloc(sizeof(std::uint16_t) * 64));
  if (!copy) throw FFmpegException("Could not alloc matrix");
  std::copy(matrix.begin(), matrix.end(), copy);
  return copy;
}

// The encoder's sample format and rate: as asked when it takes them, else its first format
// and its nearest rate. A channel layout the encoder cannot take (six channels for MPEG
// audio layer II) becomes the richest one it can that is not wider.
void ChooseSampleFormatAndRate(AVCodecContext* codec, const AVCodec* encoder) {
  if (!encoder) return;
  if (encoder->ch_layouts && encoder->ch_layouts[0].nb_channels) {
    const AVChannelLayout* best = nullptr;
    bool supported = false;
    for (const AVChannelLayout* l = encoder->ch_layouts; l->nb_channels; ++l) {
      if (l->nb_channels == codec->ch_layout.nb_channels) supported = true;
      if (l->nb_channels <= codec->ch_layout.nb_channels &&
          (!best || l->nb_channels > best->nb_channels))
        best = l;
    }
    if (!supported) {
      if (!best) best = encoder->ch_layouts;
      ff::av_channel_layout_uninit(&codec->ch_layout);
      ff::av_channel_layout_copy(&codec->ch_layout, best);
    }
  }
  if (encoder->sample_fmts) {
    bool supported = false;
    for (const AVSampleFormat* f = encoder->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f)
      supported = supported || *f == codec->sample_fmt;
    if (!supported) codec->sample_fmt = encoder->sample_fmts[0];
  }
  if (encoder->supported_samplerates) {
    int best = encoder->supported_samplerates[0];
    for (const int* r = encoder->supported_samplerates; *r; ++r)
      if (std::abs(*r - codec->sample_rate) < std::abs(best - codec->sample_rate)) best = *r;
    if (best != codec->sample_rate)
      DefaultLogger()->LogFmt(nullptr, llWarning,
                              "Requested sampling rate unsupported using closest supported (%d)",
                              best);
    codec->sample_rate = best;
  }
}

}  // namespace

TOutputStream::~TOutputStream() {
  if (ff::sws_freeContext && Scaler) ff::sws_freeContext(Scaler);
  if (ff::swr_free) ff::swr_free(&Resampler);
  if (ff::avfilter_graph_free) ff::avfilter_graph_free(&FilterGraph);
  if (ff::av_frame_free) {
    ff::av_frame_free(&FilteredFrame);
    ff::av_frame_free(&ScaledFrame);
    ff::av_frame_free(&AudioFrame);
  }
  if (ff::av_packet_free) ff::av_packet_free(&EncodedPacket);
  if (ff::av_channel_layout_uninit) ff::av_channel_layout_uninit(&ResampleLayout);
  if (OwnsEncoderContext && ff::avcodec_free_context) {
    // A second pass's statistics are the engine's, not the library's: a run refused before
    // its encoder opened still holds them here.
    if (EncoderContext && ff::av_freep) ff::av_freep(&EncoderContext->stats_in);
    ff::avcodec_free_context(&EncoderContext);
  }
  if (ff::av_bsf_free)
    for (AVBSFContext*& filter : BitstreamFilters) ff::av_bsf_free(&filter);
  if (LogFile) std::fclose(LogFile);
}

// ---- Outputs ------------------------------------------------------------------------------

int TCustomFFmpeg::CloseOutputIO(int slot, AVFormatContext* context) {
  if (!context || (context->oformat && (context->oformat->flags & AVFMT_NOFILE))) return 0;
  int ret = 0;
  if (OutputCustomIO[slot])
    ret = CloseUnicodeIO(&context->pb);
  else if (context->pb)
    ret = ff::avio_closep(&context->pb);
  OutputCustomIO[slot] = false;
  return ret;
}

void TCustomFFmpeg::DiscardOutput(int slot, AVFormatContext*& context, bool registered) {
  if (registered) {
    OutputFiles[slot] = nullptr;
    OutputFileNames[slot].clear();
    OutputStreamTables[slot].clear();
    --OutputFileCount;
  }
  ff::avformat_free_context(context);
  context = nullptr;
}

void TCustomFFmpeg::OpenOutputFiles() {
  for (int i = 0; i < OutputFileCount; ++i) {
    AVFormatContext* output = OutputFiles[i];
    // The later slots of a joined output share the first one's context, already open.
    if (!output || output->pb || (output->oformat->flags & AVFMT_NOFILE)) continue;
    const std::string& ffmpegName = OutputFileNames[i];
    TGuardedIO guard(this);
    const AVIOInterruptCB cb = FFInterruptCB();
    int ret;
    if (IsUnicodeName(ffmpegName)) {
      ret = OpenUnicodeIO(ffmpegName, uomWrite, &cb, &output->pb);
      OutputCustomIO[i] = ret >= 0;
    } else {
      ret = ff::avio_open2(&output->pb, ffmpegName.c_str(), AVIO_FLAG_WRITE, &cb, nullptr);
    }
    guard.End();
    if (ret < 0) throw FFmpegException(ErrorText(FromFFmpegName(ffmpegName), ret));
    OutputCreated[i] = true;
  }
}

int TCustomFFmpeg::AddOutputFile(const std::string& fileName, bool join) {
  if (JoinMode) {
    LastError = "Cannot join more than one output file.";
    return -1;
  }
  if (OutputFileCount >= MaxFiles) {
    LastError = "Too many output files (at most " + std::to_string(MaxFiles) + ")";
    return -1;
  }
  VideoFiltersGiven = !VideoFilters.empty();

  // Writing over an input would destroy it while it is read.
  for (int i = 0; i < InputFileCount; ++i) {
    if (InputFiles[i] && !InputFileNames[i].empty() && SameLocalFile(fileName, InputFileNames[i])) {
      LastError = "Output file '" + fileName + "' is the same file as input file #" +
                  std::to_string(i) + "; the input would be destroyed";
      return -1;
    }
  }

  const std::string ffmpegName = ToFFmpegName(fileName);
  if (ffmpegName.empty() && !fileName.empty()) {
    LastError = ErrorText(fileName, -36);
    return -1;
  }

  // Format: forced, or guessed from the name.
  const AVOutputFormat* format = nullptr;
  if (!ForcedFormat.empty()) {
    format = ff::av_guess_format(ForcedFormat.c_str(), nullptr, nullptr);
    const std::string name = ForcedFormat;
    ForcedFormat.clear();
    if (!format) {
      LastError = "Requested output format '" + name + "' is not a suitable output format";
      return -1;
    }
  } else {
    format = ff::av_guess_format(nullptr, fileName.c_str(), nullptr);
    if (!format) {
      LastError = "Unable to find a suitable output format for '" + fileName + "'";
      return -1;
    }
  }

  AVFormatContext* output = nullptr;
  if (ff::avformat_alloc_output_context2(&output, format, nullptr, ffmpegName.c_str()) < 0 ||
      !output)
    throw FFmpegException("avformat_alloc_context failed");
  output->interrupt_callback = FFInterruptCB();
  const int slot = OutputFileCount;
  OutputFileNames[slot] = ffmpegName;
  OutputCustomIO[slot] = false;
  bool registered = false;
  auto fail = [&](const std::string& message) {
    LastError = message;
    DiscardOutput(slot, output, registered);
    return -1;
  };

  // Which kinds of stream the output gets.
  bool useVideo =
      VideoStreamCopy || format->video_codec != AV_CODEC_ID_NONE || !VideoCodecName.empty();
  bool useAudio =
      AudioStreamCopy || format->audio_codec != AV_CODEC_ID_NONE || !AudioCodecName.empty();
  bool useSubtitle = SubtitleStreamCopy || format->subtitle_codec != AV_CODEC_ID_NONE ||
                     !SubtitleCodecName.empty();
  if (InputFileCount > 0) {
    try {
      const TInputStreamKinds kinds = CheckInputStreams(join);
      useVideo = useVideo && kinds.HasVideo;
      useAudio = useAudio && kinds.HasAudio;
      useSubtitle = useSubtitle && kinds.HasSubtitle;
    } catch (const std::exception& e) {
      return fail(std::string("check_audio_video_sub_inputs fail: ") + e.what());
    }
  }
  useAudio = useAudio && !AudioDisable;
  useSubtitle = useSubtitle && !SubtitleDisable;
  useVideo = useVideo && !VideoDisable;

  // The streams are made in the slot they will have; the slot is registered below.
  const auto create = [&](bool use, void (TCustomFFmpeg::*make)(AVFormatContext*, int),
                          const char* what) -> bool {
    if (!use) return true;
    try {
      (this->*make)(output, slot);
      return true;
    } catch (const std::exception& e) {
      LastError = std::string(what) + e.what();
      return false;
    }
  };
  if (!create(useVideo, &TCustomFFmpeg::NewVideoStream, "new_video_stream fail: ") ||
      !create(useAudio, &TCustomFFmpeg::NewAudioStream, "new_audio_stream fail: ") ||
      !create(useSubtitle, &TCustomFFmpeg::NewSubtitleStream, "new_subtitle_stream fail: ")) {
    OutputStreamTables[slot].clear();
    return fail(LastError);
  }

  if (RecordingTimestamp != 0) {
    char iso[64];
    const std::time_t seconds = std::time_t(RecordingTimestamp);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    std::strftime(iso, sizeof iso, "%Y-%m-%dT%H:%M:%S.000000Z", &utc);
    ff::av_dict_set(&output->metadata, "creation_time", iso, 0);
  }
  ff::av_dict_copy(&output->metadata, Metadata, 0);
  ff::av_dict_free(&Metadata);

  OutputFiles[slot] = output;
  ++OutputFileCount;
  registered = true;

  if ((format->flags & AVFMT_NEEDNUMBER) && !ff::av_filename_number_test(ffmpegName.c_str()))
    return fail(ErrorText(fileName, -33));

  // The file itself is created when the job starts (OpenOutputFiles): a job that never
  // starts leaves nothing on disk. A place where it cannot be made is refused now.
  if (!(format->flags & AVFMT_NOFILE))
    if (const int ret = PlaceError(LocalPath(ffmpegName)); ret < 0)
      return fail(ErrorText(fileName, ret));

  output->max_delay = int(double(MuxMaxDelay) * 1000000);  // ranged where it is set
  if (output->priv_data) {
    // Preload and loop count are the muxers' own options now.
    const AVOption* preload = ff::av_opt_find(output->priv_data, "preload", nullptr, 0, 0);
    if (preload)
      ff::av_opt_set_int(output->priv_data, "preload", std::int64_t(MuxPreload * 1000000), 0);
    if (ff::av_opt_find(output->priv_data, "loop", nullptr, 0, 0))
      ff::av_opt_set_int(output->priv_data, "loop", LoopOutput, 0);
  }
  output->flags |= AVFMT_FLAG_NONBLOCK;
  try {
    ApplyGenericOptions(output, OptionContexts.FormatDefaults, AV_OPT_FLAG_ENCODING_PARAM, nullptr);
  } catch (const std::exception& e) {
    return fail(e.what());
  }

  StreamIdMap.clear();
  ForcedKeyFrames.clear();
  if (join && InputFileCount > 1) JoinMode = true;
  return OutputFileCount;
}

void TCustomFFmpeg::NewStream(const std::string& kind) {
  if (OutputFileCount <= 0) throw FFmpegException("At least one output file must be specified");
  const int index = OutputFileCount - 1;
  AVFormatContext* output = OutputFiles[index];
  if (kind == "newvideo")
    NewVideoStream(output, index);
  else if (kind == "newaudio")
    NewAudioStream(output, index);
  else
    NewSubtitleStream(output, index);
}

// ---- Streams ------------------------------------------------------------------------------

void TCustomFFmpeg::StartNewStream(AVFormatContext* output, int outputIndex, AVMediaType type,
                                   TOutputStream*& record) {
  std::string& codecName = type == AVMEDIA_TYPE_VIDEO   ? VideoCodecName
                           : type == AVMEDIA_TYPE_AUDIO ? AudioCodecName
                                                        : SubtitleCodecName;
  const bool copy = (type == AVMEDIA_TYPE_VIDEO   ? VideoStreamCopy
                     : type == AVMEDIA_TYPE_AUDIO ? AudioStreamCopy
                                                  : SubtitleStreamCopy) != 0;
  auto& chain = type == AVMEDIA_TYPE_VIDEO   ? VideoBitstreamFilters
                : type == AVMEDIA_TYPE_AUDIO ? AudioBitstreamFilters
                                             : SubtitleBitstreamFilters;
  const std::uint32_t tag = type == AVMEDIA_TYPE_VIDEO   ? VideoCodecTag
                            : type == AVMEDIA_TYPE_AUDIO ? AudioCodecTag
                                                         : SubtitleCodecTag;
  AVCodecContext* defaults = OptionContexts.CodecDefaults[type];

  // Choose the encoder before anything is added, so a failure leaves the output as it was.
  const AVCodec* encoder = nullptr;
  const AVCodec* byName = nullptr;
  if (!copy) {
    AVCodecID id = AV_CODEC_ID_NONE;
    if (!codecName.empty()) {
      if (!FindCodec(codecName, type, true,
                     defaults ? defaults->strict_std_compliance : FF_COMPLIANCE_NORMAL, id)) {
        codecName.clear();
        throw FFmpegException(LastError);
      }
      encoder = byName = ff::avcodec_find_encoder_by_name(codecName.c_str());
    } else {
      id = ff::av_guess_codec(output->oformat, nullptr, output->url, nullptr, type);
      encoder = ff::avcodec_find_encoder(id);
      if (type == AVMEDIA_TYPE_SUBTITLE) byName = encoder;
    }
  }

  AVStream* stream = ff::avformat_new_stream(output, nullptr);
  if (!stream) {
    codecName.clear();
    if (type == AVMEDIA_TYPE_AUDIO) AudioLanguage.clear();
    if (type == AVMEDIA_TYPE_SUBTITLE) SubtitleLanguage.clear();
    throw FFmpegException("Could not alloc stream");
  }
  const int n = int(output->nb_streams) - 1;
  stream->id = n < int(StreamIdMap.size()) ? StreamIdMap[n] : 0;

  auto ost = std::make_unique<TOutputStream>();
  ost->FileIndex = outputIndex;
  ost->Index = stream->index;
  ost->Stream = stream;
  ost->Encoder = byName;
  ost->StreamCopy = copy;
  ost->EncoderContext = ff::avcodec_alloc_context3(encoder);
  if (!ost->EncoderContext) throw FFmpegException("Could not alloc output stream");
  AVCodecContext* codec = ost->EncoderContext;
  if (encoder) codec->codec_id = encoder->id;
  ost->BitstreamFilterSpecs = std::move(chain);
  chain.clear();
  if (type != AVMEDIA_TYPE_SUBTITLE) codec->thread_count = ThreadCount;
  codec->codec_type = type;
  if (tag) codec->codec_tag = tag;

  const bool formatWantsGlobal = output->oformat->flags & AVFMT_GLOBALHEADER;
  if (type == AVMEDIA_TYPE_VIDEO) {
    if ((VideoGlobalHeader & 1) || (VideoGlobalHeader == 0 && formatWantsGlobal)) {
      codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
      if (defaults) defaults->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    if (VideoGlobalHeader & 2) {
      codec->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
      if (defaults) defaults->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
    }
  } else if (formatWantsGlobal) {
    codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (defaults) defaults->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  }

  record = ost.get();
  OutputStreamTables[outputIndex].push_back(std::move(ost));
}

void TCustomFFmpeg::FinishStreamLanguage(AVStream* stream, std::string& language) {
  if (language.empty()) return;
  ff::av_dict_set(&stream->metadata, "language", language.c_str(), 0);
  language.clear();
}

void TCustomFFmpeg::NewVideoStream(AVFormatContext* output, int outputIndex) {
  TOutputStream* ost = nullptr;
  StartNewStream(output, outputIndex, AVMEDIA_TYPE_VIDEO, ost);
  AVCodecContext* codec = ost->EncoderContext;
  AVStream* stream = ost->Stream;
  const double aspect = FrameWidth != 0 && FrameHeight != 0
                            ? OutputDisplayAspect() * FrameHeight / FrameWidth
                            : OutputDisplayAspect() * 3 / 4;
  const AVRational sar = ff::av_d2q(aspect, 255);

  if (ost->StreamCopy) {
    codec->codec_type = AVMEDIA_TYPE_VIDEO;
    codec->sample_aspect_ratio = stream->sample_aspect_ratio = sar;
  } else {
    try {
      AVRational rate = FrameRate.num ? FrameRate : AVRational{25, 1};
      if (rate.den == 0) rate.den = 1;
      if (FrameRateMax.num > 0 && FrameRateMax.den > 0 && av_cmp_q(rate, FrameRateMax) > 0)
        rate = FrameRateMax;
      const AVCodec* encoder =
          ost->Encoder ? ost->Encoder : ff::avcodec_find_encoder(codec->codec_id);
      ApplyGenericOptions(codec, OptionContexts.CodecDefaults[AVMEDIA_TYPE_VIDEO],
                          AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_ENCODING_PARAM, encoder);
      if (encoder && encoder->supported_framerates && !ForceFps)
        rate = encoder->supported_framerates[ff::av_find_nearest_q_idx(
            rate, encoder->supported_framerates)];
      codec->time_base = {rate.den, rate.num};
      codec->framerate = rate;
      codec->width = FrameWidth;
      codec->height = FrameHeight;
      codec->sample_aspect_ratio = sar;
      if (PictureFit == TPictureFit::Inside) {
        FrameInside(FrameWidth, FrameHeight, OutputDisplayAspect(), codec->width, codec->height);
        codec->sample_aspect_ratio = {1, 1};
      }
      codec->pix_fmt = AVPixelFormat(FramePixFmt);
      stream->sample_aspect_ratio = codec->sample_aspect_ratio;
      TFormatLimit limit = H264ProfileLimit(codec);
      if (!limit.Limits()) limit = DiscLimit(output->oformat->name);
      ChoosePixelFormat(codec, encoder, limit, FramePixFmtAsked);
      if (IntraOnly) codec->gop_size = 0;
      if (VideoQscale != 0 || SameQuality) {
        codec->flags |= AV_CODEC_FLAG_QSCALE;
        codec->global_quality = int(VideoQscale * kLambdaScale);
      }
      if (IntraMatrix) codec->intra_matrix = CopyMatrix(*IntraMatrix);
      if (InterMatrix) codec->inter_matrix = CopyMatrix(*InterMatrix);
      if (!RcOverride.empty()) SetRateOverrides(codec, RcOverride);
      if (codec->rc_initial_buffer_occupancy == 0)
        codec->rc_initial_buffer_occupancy = int(std::int64_t(codec->rc_buffer_size) * 3 / 4);
      codec->intra_dc_precision = IntraDcPrecision - 8;
      if (Psnr) codec->flags |= AV_CODEC_FLAG_PSNR;
      if (Pass == 1) codec->flags |= AV_CODEC_FLAG_PASS1;
      if (Pass == 2) codec->flags |= AV_CODEC_FLAG_PASS2;
      if (!ForcedKeyFrames.empty()) {
        const std::string& list = ForcedKeyFrames;
        std::size_t start = 0;
        for (;;) {
          const std::size_t comma = list.find(',', start);
          const std::string item = list.substr(start, comma - start);
          std::int64_t t = 0;
          if (ff::av_parse_time(&t, item.c_str(), 1) < 0)
            throw FFmpegException("Invalid duration specification for force_key_frames: " + item);
          ost->ForcedKfPts.push_back(ff::av_rescale_q(t, AV_TIME_BASE_Q, codec->time_base));
          if (comma == std::string::npos) break;
          start = comma + 1;
        }
      }
    } catch (...) {
      VideoCodecName.clear();
      throw;
    }
  }

  FinishStreamLanguage(stream, VideoLanguage);
  VideoDisable = false;
  VideoCodecName.clear();
  ForcedKeyFrames.clear();
  VideoStreamCopy = 0;
  FramePixFmt = -1;
  FramePixFmtAsked = false;
}

void TCustomFFmpeg::NewAudioStream(AVFormatContext* output, int outputIndex) {
  TOutputStream* ost = nullptr;
  StartNewStream(output, outputIndex, AVMEDIA_TYPE_AUDIO, ost);
  AVCodecContext* codec = ost->EncoderContext;
  AVStream* stream = ost->Stream;
  auto setLayout = [&] {
    ff::av_channel_layout_uninit(&codec->ch_layout);
    AVChannelLayout layout{};
    if (ChannelLayout && ff::av_channel_layout_from_mask(&layout, ChannelLayout) == 0 &&
        layout.nb_channels == AudioChannels)
      codec->ch_layout = layout;
    else
      ff::av_channel_layout_default(&codec->ch_layout, AudioChannels);
  };

  if (ost->StreamCopy) {
    setLayout();
    codec->sample_rate = AudioSampleRate;
  } else {
    try {
      const AVCodec* encoder =
          ost->Encoder ? ost->Encoder : ff::avcodec_find_encoder(codec->codec_id);
      ApplyGenericOptions(codec, OptionContexts.CodecDefaults[AVMEDIA_TYPE_AUDIO],
                          AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_ENCODING_PARAM, encoder);
      if (AudioQscale > -99999) {
        codec->flags |= AV_CODEC_FLAG_QSCALE;
        codec->global_quality = int(AudioQscale * kLambdaScale);
      }
      setLayout();
      codec->sample_fmt = AVSampleFormat(AudioSampleFmt);
      codec->sample_rate = AudioSampleRate;
      ChooseSampleFormatAndRate(codec, encoder);
    } catch (...) {
      AudioCodecName.clear();
      throw;
    }
  }
  codec->time_base = {1, std::max(codec->sample_rate, 1)};

  FinishStreamLanguage(stream, AudioLanguage);
  AudioDisable = false;
  AudioCodecName.clear();
  AudioStreamCopy = 0;
}

void TCustomFFmpeg::NewSubtitleStream(AVFormatContext* output, int outputIndex) {
  TOutputStream* ost = nullptr;
  StartNewStream(output, outputIndex, AVMEDIA_TYPE_SUBTITLE, ost);
  if (!ost->StreamCopy) {
    try {
      const AVCodec* encoder =
          ost->Encoder ? ost->Encoder : ff::avcodec_find_encoder(ost->EncoderContext->codec_id);
      ApplyGenericOptions(ost->EncoderContext, OptionContexts.CodecDefaults[AVMEDIA_TYPE_SUBTITLE],
                          AV_OPT_FLAG_SUBTITLE_PARAM | AV_OPT_FLAG_ENCODING_PARAM, encoder);
    } catch (...) {
      SubtitleCodecName.clear();
      throw;
    }
  }
  FinishStreamLanguage(ost->Stream, SubtitleLanguage);
  SubtitleDisable = false;
  SubtitleCodecName.clear();
  SubtitleStreamCopy = 0;
}

// ---- Join ---------------------------------------------------------------------------------

void TCustomFFmpeg::JoinSetup() {
  if (!JoinMode || OutputFileCount != 1) return;
  std::int64_t total = 0;
  for (int i = 0; i < InputFileCount; ++i)
    if (InputFiles[i] && InputFiles[i]->duration != AV_NOPTS_VALUE)
      total += InputFiles[i]->duration;
  RequestedDuration = total == 0 ? -1 : total;

  AVFormatContext* output = OutputFiles[0];
  const auto& first = OutputStreamTables[0];
  for (int i = 1; i < InputFileCount && OutputFileCount < MaxFiles; ++i) {
    const int slot = OutputFileCount;
    OutputFiles[slot] = output;
    OutputFileNames[slot] = OutputFileNames[0];
    auto& table = OutputStreamTables[slot];
    table.clear();
    for (unsigned k = 0; k < output->nb_streams; ++k) {
      auto ost = std::make_unique<TOutputStream>();
      ost->FileIndex = slot;
      ost->Index = int(k);
      ost->Stream = output->streams[k];
      if (k < first.size()) {
        ost->Encoder = first[k]->Encoder;
        ost->EncoderContext = first[k]->EncoderContext;
        ost->OwnsEncoderContext = false;
        ost->StreamCopy = first[k]->StreamCopy;
        ost->Shared = first[k].get();
      }
      table.push_back(std::move(ost));
    }
    ++OutputFileCount;
  }
}

}  // namespace tovamo
