// Opening the inputs of a job: the pending input options, the forced format, the guarded
// open and probe, program selection, the seek to the start time, and each stream's decoder
// choice and settings, which become the defaults for the outputs that follow.
#include <sys/stat.h>

#include <cmath>

#include "Engine/FFmpeg.h"
#include "Engine/GuardedIO.h"
#include "Engine/StreamRecords.h"
#include "Engine/StreamTraits.h"
#include "Services/FFBindings.h"
#include "Services/FFInterrupt.h"
#include "Services/FFUtils.h"
#include "Services/UnicodeProtocol.h"

namespace tovamo {
namespace {

constexpr int kMaxMediaType = AVMEDIA_TYPE_NB - 1;       // media types run from -1 (unknown) to 4
constexpr std::int64_t kMaxDecodedPixels = 7680 * 4320;  // the largest pictures in use (8K)

bool ValidMediaType(int type) {
  return type >= AVMEDIA_TYPE_UNKNOWN && type <= kMaxMediaType;
}

// True when the demuxer (or its private options) knows the option.
bool DemuxerKnows(const AVInputFormat* format, const char* name) {
  if (!format || !format->priv_class) return false;
  const AVClass* cls = format->priv_class;
  return ff::av_opt_find(&cls, name, nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ) != nullptr;
}

void SetIfKnown(AVDictionary** options, const AVInputFormat* format, const char* name,
                const std::string& value) {
  if (DemuxerKnows(format, name)) ff::av_dict_set(options, name, value.c_str(), 0);
}

// A local named pipe: the file protocol would wait in open() for its writer, beyond the
// reach of the time-out and of a stop, so it is read through the program's own I/O.
bool IsNamedPipe(const std::string& ffmpegName) {
  const std::string path = FromFFmpegName(ffmpegName);
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
}

const AVCodec* ByName(const std::string& name) {
  return name.empty() ? nullptr : ff::avcodec_find_decoder_by_name(name.c_str());
}

}  // namespace

TInputStream::~TInputStream() {
  if (ff::avcodec_free_context) ff::avcodec_free_context(&DecoderContext);
  if (ff::av_frame_free) ff::av_frame_free(&Frame);
}

bool TCustomFFmpeg::FindCodec(const std::string& name, AVMediaType type, bool encoder,
                              int strictness, AVCodecID& id) {
  id = AV_CODEC_ID_NONE;
  if (name.empty()) return true;
  const char* kind = encoder ? "encoder" : "decoder";
  const AVCodec* codec = encoder ? ff::avcodec_find_encoder_by_name(name.c_str())
                                 : ff::avcodec_find_decoder_by_name(name.c_str());
  char text[1024];
  if (!codec) {
    std::snprintf(text, sizeof text, "Unknown %s '%s'", kind, name.c_str());
    LastError = text;
    return false;
  }
  if (codec->type != type) {
    std::snprintf(text, sizeof text, "Invalid %s type '%s'", kind, name.c_str());
    LastError = text;
    return false;
  }
  if ((codec->capabilities & AV_CODEC_CAP_EXPERIMENTAL) &&
      strictness > FF_COMPLIANCE_EXPERIMENTAL) {
    std::snprintf(text, sizeof text,
                  "%s '%s' is experimental and might produce bad results.\r\n"
                  "Add '-strict experimental' if you want to use it.",
                  kind, codec->name);
    LastError = text;
    const AVCodec* plain =
        encoder ? ff::avcodec_find_encoder(codec->id) : ff::avcodec_find_decoder(codec->id);
    if (plain && !(plain->capabilities & AV_CODEC_CAP_EXPERIMENTAL)) {
      std::snprintf(text, sizeof text, "\r\nOr use the non experimental %s '%s'.", kind,
                    plain->name);
      LastError += text;
    }
    return false;
  }
  id = codec->id;
  return true;
}

TCustomFFmpeg::TInputStreamKinds TCustomFFmpeg::CheckInputStreams(bool firstOnly) {
  TInputStreamKinds kinds;
  const int files = firstOnly ? std::min(InputFileCount, 1) : InputFileCount;
  for (int i = 0; i < files; ++i) {
    const AVFormatContext* input = InputFiles[i];
    if (!input) continue;
    for (unsigned j = 0; j < input->nb_streams; ++j) {
      const int type = input->streams[j]->codecpar->codec_type;
      if (!ValidMediaType(type)) throw FFmpegException("invalid codec_type of input file");
      if (type == AVMEDIA_TYPE_VIDEO) kinds.HasVideo = true;
      if (type == AVMEDIA_TYPE_AUDIO) kinds.HasAudio = true;
      if (type == AVMEDIA_TYPE_SUBTITLE) kinds.HasSubtitle = true;
    }
  }
  return kinds;
}

void TCustomFFmpeg::ResetInputOpenSettings() {
  VideoChannel = 0;
  VideoCodecName.clear();
  AudioCodecName.clear();
  SubtitleCodecName.clear();
}

bool TCustomFFmpeg::OpenInputFile(const std::string& fileName) {
  const TThreadLogSource source(fileName);  // the libraries' lines about it, its description
  if (InputFileCount >= MaxFiles) {
    LastError = "Too many input files (at most " + std::to_string(MaxFiles) + ")";
    ResetInputOpenSettings();
    return false;
  }

  // 1. The forced format.
  const AVInputFormat* format = nullptr;
  if (!ForcedFormat.empty()) {
    format = ff::av_find_input_format(ForcedFormat.c_str());
    const std::string name = ForcedFormat;
    ForcedFormat.clear();  // a later attempt must not inherit a format that was refused
    if (!format) throw FFmpegException("Unknown input format: \"" + name + "\"");
  }

  // 2. The context, and what the open must not leave behind on any failure.
  AVFormatContext* input = ff::avformat_alloc_context();
  if (!input) throw FFmpegException("avformat_alloc_context failed");
  AVDictionary* options = nullptr;
  AVIOContext* customIO = nullptr;
  bool opened = false;
  auto fail = [&](const std::string& message) {
    LastError = message;
    ff::av_dict_free(&options);
    if (opened)
      ff::avformat_close_input(&input);
    else if (input)
      ff::avformat_free_context(input);
    if (customIO) CloseUnicodeIO(&customIO);
    ResetInputOpenSettings();
    return false;
  };

  // 3. What the old parameter block carried, for demuxers that take it.
  if (format) {
    if (AudioSampleRate > 0)
      SetIfKnown(&options, format, "sample_rate", std::to_string(AudioSampleRate));
    if (AudioChannels > 0) SetIfKnown(&options, format, "channels", std::to_string(AudioChannels));
    if (FrameRate.num > 0 && FrameRate.den > 0)
      SetIfKnown(&options, format, "framerate",
                 std::to_string(FrameRate.num) + "/" + std::to_string(FrameRate.den));
    if (FrameWidth > 0 && FrameHeight > 0)
      SetIfKnown(&options, format, "video_size",
                 std::to_string(FrameWidth) + "x" + std::to_string(FrameHeight));
    if (FramePixFmt >= 0)
      if (const char* pixFmt = ff::av_get_pix_fmt_name(AVPixelFormat(FramePixFmt)))
        SetIfKnown(&options, format, "pixel_format", pixFmt);
    if (VideoChannel != 0) SetIfKnown(&options, format, "channel", std::to_string(VideoChannel));
    if (!VideoStandard.empty()) SetIfKnown(&options, format, "standard", VideoStandard);
  }

  // 4. The recorded generic options; a demuxer's own options go with the open.
  try {
    ApplyGenericOptions(input, OptionContexts.FormatDefaults, AV_OPT_FLAG_DECODING_PARAM, nullptr);
  } catch (const std::exception& e) {
    return fail(e.what());
  }
  AddPrivateOptions(&options);

  // 5. Forced decoders.
  AVCodecID videoId, audioId, subtitleId;
  auto strictness = [this](AVMediaType type) {
    const AVCodecContext* defaults = OptionContexts.CodecDefaults[type];
    return defaults ? defaults->strict_std_compliance : FF_COMPLIANCE_NORMAL;
  };
  if (!FindCodec(VideoCodecName, AVMEDIA_TYPE_VIDEO, false, strictness(AVMEDIA_TYPE_VIDEO),
                 videoId) ||
      !FindCodec(AudioCodecName, AVMEDIA_TYPE_AUDIO, false, strictness(AVMEDIA_TYPE_AUDIO),
                 audioId) ||
      !FindCodec(SubtitleCodecName, AVMEDIA_TYPE_SUBTITLE, false, strictness(AVMEDIA_TYPE_SUBTITLE),
                 subtitleId))
    return fail(LastError);
  input->video_codec_id = videoId;
  input->audio_codec_id = audioId;
  input->subtitle_codec_id = subtitleId;

  // 6. Non-blocking reads; the interrupt callback asks the checks of the calling thread.
  input->flags |= AVFMT_FLAG_NONBLOCK;
  input->interrupt_callback = FFInterruptCB();

  const std::string ffmpegName = ToFFmpegName(fileName);
  if (ffmpegName.empty() && !fileName.empty()) return fail(ErrorText(fileName, -36));

  // 7. to 11. Open, program selection, probe and seek under the I/O time-out.
  std::int64_t seekTarget = StartTime;
  {
    const TThreadLogLevel jobLevel(JobLogLevel);
    TGuardedIO guard(this);
    // Local files are read through the program's own I/O, which can let go of the
    // descriptor between the set-up and the run (ParkUnicodeIO), and named pipes, whose
    // open would otherwise wait for a writer beyond the reach of the time-out.
    if (IsLocalFileName(ffmpegName) || IsNamedPipe(ffmpegName)) {
      const AVIOInterruptCB cb = FFInterruptCB();
      const int ret = OpenUnicodeIO(ffmpegName, uomRead, &cb, &customIO);
      if (ret < 0) {
        guard.End();
        return fail(ErrorText(fileName, ret));
      }
      input->pb = customIO;
      input->flags |= AVFMT_FLAG_CUSTOM_IO;
    }
    ClearThreadLastLibraryError();
    const int ret = ff::avformat_open_input(&input, ffmpegName.c_str(), format, &options);
    if (ret >= 0) MarkPrivateOptionsUsed(options);
    ff::av_dict_free(&options);
    if (ret < 0) {
      guard.End();
      input = nullptr;  // the library freed it
      // The error code alone can mislead ("Out of memory" for too many streams): the
      // demuxer's own last line says what it refused.
      std::string message = ErrorText(fileName, ret);
      if (const std::string said = ThreadLastLibraryError(); !said.empty())
        message += " (" + said + ")";
      return fail(message);
    }
    opened = true;

    if (ProgramId != 0) {
      bool found = false;
      for (unsigned i = 0; i < input->nb_streams; ++i) input->streams[i]->discard = AVDISCARD_ALL;
      for (unsigned p = 0; p < input->nb_programs; ++p) {
        AVProgram* program = input->programs[p];
        if (program->id == ProgramId) {
          found = true;
          for (unsigned k = 0; k < program->nb_stream_indexes; ++k)
            input->streams[program->stream_index[k]]->discard = AVDISCARD_DEFAULT;
        } else {
          program->discard = AVDISCARD_ALL;
        }
      }
      if (!found) {
        guard.End();
        return fail("Specified program id not found");
      }
      ProgramId = 0;
    }

    if (OnBeforeFindStreamInfo && EventsAttached()) OnBeforeFindStreamInfo(this, input);

    guard.Restart();
    const int probe = ff::avformat_find_stream_info(input, nullptr);
    // A file with no stream at all (a damaged index) has nothing to convert: say so rather
    // than fail later with a puzzling "does not contain any stream".
    if ((probe < 0 && Verbose >= 0) || input->nb_streams == 0) {
      guard.End();
      const std::string message = fileName + ": could not find codec parameters";
      Log(llVerbose, message);
      return fail(message);
    }

    if (input->start_time != AV_NOPTS_VALUE) seekTarget += input->start_time;
    if (StartTime != 0) {
      guard.Restart();
      if (ff::avformat_seek_file(input, -1, INT64_MIN, seekTarget, seekTarget, 0) < 0 &&
          ff::av_seek_frame(input, -1, seekTarget, AVSEEK_FLAG_BACKWARD) < 0 && Verbose > 0)
        LogFmt(llVerbose, "%s: could not seek to position %0.3f", fileName.c_str(),
               double(seekTarget) / AV_TIME_BASE);
    }
    StartTime = 0;
  }

  // 12. Each stream: its decoder choice and settings, and the defaults for the outputs.
  const int slot = InputFileCount;
  const std::size_t firstRecord = InputStreams.size();
  try {
    for (unsigned i = 0; i < input->nb_streams; ++i)
      if (!ValidMediaType(input->streams[i]->codecpar->codec_type))
        throw FFmpegException("invalid codec_type");
    InputFiles[slot] = input;
    InputCustomIO[slot] = customIO != nullptr;
    MakeInputStreamRecords(
        slot, {ByName(VideoCodecName), ByName(AudioCodecName), ByName(SubtitleCodecName)});
  } catch (...) {
    InputFiles[slot] = nullptr;
    InputCustomIO[slot] = false;
    InputStreams.resize(firstRecord);
    ff::avformat_close_input(&input);
    if (customIO) CloseUnicodeIO(&customIO);
    ResetInputOpenSettings();
    throw;
  }

  // The outputs' defaults come from the streams they will take by default, not from
  // whichever stream of a kind comes last (a cover picture after the video, a second
  // language after the first).
  std::size_t defaultVideo = InputStreams.size(), defaultAudio = InputStreams.size();
  for (std::size_t r = firstRecord; r < InputStreams.size(); ++r) {
    const AVStream& st = *InputStreams[r]->Stream;
    const int type = st.codecpar->codec_type;
    if (type != AVMEDIA_TYPE_VIDEO && type != AVMEDIA_TYPE_AUDIO) continue;
    std::size_t& best = type == AVMEDIA_TYPE_VIDEO ? defaultVideo : defaultAudio;
    if (best == InputStreams.size() || StreamScore(st) > StreamScore(*InputStreams[best]->Stream))
      best = r;
  }
  for (std::size_t r = firstRecord; r < InputStreams.size(); ++r) {
    TInputStream& ist = *InputStreams[r];
    AVStream* st = ist.Stream;
    const AVCodecParameters* par = st->codecpar;
    AVCodecContext* dec = ist.DecoderContext;
    switch (par->codec_type) {
      case AVMEDIA_TYPE_VIDEO: {
        if (VideoDisable)
          st->discard = AVDISCARD_ALL;
        else if (VideoDiscard != 0)
          st->discard = AVDiscard(VideoDiscard);
        if (r != defaultVideo) break;
        FrameHeight = par->height;
        FrameWidth = par->width;
        AVRational sar =
            st->sample_aspect_ratio.num ? st->sample_aspect_ratio : par->sample_aspect_ratio;
        double ratio = sar.num && sar.den ? double(sar.num) / sar.den : 0;
        if (FrameWidth != 0 && FrameHeight != 0)
          ratio = ratio != 0 ? FrameWidth * ratio / FrameHeight : double(FrameWidth) / FrameHeight;
        else if (ratio == 0)
          ratio = 4.0 / 3.0;
        FrameAspectRatio = float(ratio);
        FramePixFmt = par->format < 0 ? 0 : par->format;
        FramePixFmtAsked = false;
        if (dec && dec->lowres > 0) {
          FrameHeight >>= dec->lowres;
          FrameWidth >>= dec->lowres;
          dec->height = FrameHeight;
          dec->width = FrameWidth;
        }
        // A picture stored on its side is shown, and converted, upright.
        StoredShape = {FrameWidth, FrameHeight, FrameAspectRatio};
        TurnedShape = StoredShape;
        if (TurnIsSideways(DisplayRotation(*st)))
          TurnedShape = {FrameHeight, FrameWidth, ratio > 0 ? float(1 / ratio) : 0};
        if (AutoRotate) {
          FrameWidth = TurnedShape.Width;
          FrameHeight = TurnedShape.Height;
          FrameAspectRatio = TurnedShape.Aspect;
        }
        const AVRational rate = st->r_frame_rate;
        const AVRational average = st->avg_frame_rate;
        if (rate.num && rate.den && average.num && average.den && av_cmp_q(rate, average) != 0 &&
            Verbose >= 0)
          LogFmt(llInfo,
                 "Seems stream %d codec frame rate differs from container frame rate: %2.2f "
                 "(%d/%d) -> %2.2f (%d/%d)",
                 ist.Index, av_q2d(average), average.num, average.den, av_q2d(rate), rate.num,
                 rate.den);
        FrameRate = rate;
        break;
      }
      case AVMEDIA_TYPE_AUDIO:
        if (AudioDisable) st->discard = AVDISCARD_ALL;
        if (r != defaultAudio) break;
        ChannelLayout = par->ch_layout.order == AV_CHANNEL_ORDER_NATIVE ? par->ch_layout.u.mask : 0;
        AudioChannels = par->ch_layout.nb_channels;
        AudioSampleRate = par->sample_rate;
        AudioSampleFmt = par->format;
        if (dec && dec->lowres > 0) AudioSampleRate >>= dec->lowres;
        break;
      case AVMEDIA_TYPE_SUBTITLE:
        if (SubtitleDisable) st->discard = AVDISCARD_ALL;
        break;
      default:
        break;
    }
  }

  // 13. Duration, the slot, and the input's timestamp offset.
  if (input->duration != AV_NOPTS_VALUE && input->duration > RequestedDuration)
    RequestedDuration = input->duration;
  InputFileNames[slot] = fileName;
  InputTsOffsets[slot] = CopyTs ? InputTsOffset : InputTsOffset - seekTarget;
  if (Verbose >= 0) ff::av_dump_format(input, slot, ffmpegName.c_str(), 0);

  // 14. The descriptor is not held while the job waits for its turn: a batch of thousands
  // of inputs must not run out of them. The first read of the run reopens the file.
  if (customIO) ParkUnicodeIO(customIO);
  ++InputFileCount;
  ResetInputOpenSettings();
  return true;
}

void TCustomFFmpeg::MakeInputStreamRecords(int fileIndex, const TForcedDecoders& forced) {
  AVFormatContext* input = InputFiles[fileIndex];
  for (unsigned i = 0; i < input->nb_streams; ++i) {
    auto ist = std::make_unique<TInputStream>();
    ist->FileIndex = fileIndex;
    ist->Index = int(i);
    ist->Stream = input->streams[i];
    const AVCodecParameters* par = ist->Stream->codecpar;
    const AVMediaType type = par->codec_type;
    ist->Decoder = type == AVMEDIA_TYPE_VIDEO      ? forced.Video
                   : type == AVMEDIA_TYPE_AUDIO    ? forced.Audio
                   : type == AVMEDIA_TYPE_SUBTITLE ? forced.Subtitle
                                                   : nullptr;
    AVCodecContext* dec = ff::avcodec_alloc_context3(nullptr);
    if (!dec) throw FFmpegException("avcodec_alloc_context failed");
    ist->DecoderContext = dec;
    if (ff::avcodec_parameters_to_context(dec, par) < 0)
      throw FFmpegException("avcodec_parameters_to_context failed");
    dec->pkt_timebase = ist->Stream->time_base;
    dec->thread_count = ThreadCount;
    // A damaged header may claim any picture size; one job holds a few pictures at most.
    dec->max_pixels = kMaxDecodedPixels;
    if (type == AVMEDIA_TYPE_VIDEO || type == AVMEDIA_TYPE_AUDIO || type == AVMEDIA_TYPE_SUBTITLE) {
      const int typeFlag = type == AVMEDIA_TYPE_VIDEO   ? AV_OPT_FLAG_VIDEO_PARAM
                           : type == AVMEDIA_TYPE_AUDIO ? AV_OPT_FLAG_AUDIO_PARAM
                                                        : AV_OPT_FLAG_SUBTITLE_PARAM;
      ApplyGenericOptions(dec, OptionContexts.CodecDefaults[type],
                          typeFlag | AV_OPT_FLAG_DECODING_PARAM, ist->Decoder);
    }
    InputStreams.push_back(std::move(ist));
  }
}

}  // namespace tovamo
