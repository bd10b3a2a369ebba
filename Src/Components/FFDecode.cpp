#include "Components/FFDecode.h"

#include <filesystem>
#include <system_error>

#include "Services/Exceptions.h"
#include "Services/FFBindings.h"
#include "Services/FFInterrupt.h"
#include "Services/FFLoad.h"
#include "Services/FFUtils.h"
#include "Services/UnicodeProtocol.h"

namespace tovamo {

TCustomDecoder::~TCustomDecoder() {
  // Only the owned context needs the libraries; an attached one is left to its owner.
  if (OwnsContext_) TCustomDecoder::Close();
}

void TCustomDecoder::CheckLibraries() {
  const TFFLoader& loader = FFLoader();
  if (!loader.LibLoaded(libAVCodec)) throw FFmpegException("LibAVCodec not loaded.");
  if (!loader.LibLoaded(libAVFormat)) throw FFmpegException("LibAVFormat not loaded.");
  if (!loader.LibLoaded(libAVUtil)) throw FFmpegException("LibAVUtil not loaded.");
  if (!loader.LibLoaded(libSwScale)) throw FFmpegException("LibSwScale not loaded.");
}

void TCustomDecoder::Attach(AVFormatContext* context) {
  if (context && context == Context_) return;
  CheckLibraries();
  Close();
  OwnsContext_ = false;
  Context_ = context;
  if (context && context->url) FileName_ = FromFFmpegName(context->url);
  ReadFileInfo();
}

bool TCustomDecoder::Open(const std::string& fileName) {
  CheckLibraries();
  Close();
  LastError_.clear();
  auto fail = [&](const std::string& message) {
    LastError_ = message;
    return false;
  };
  const std::string ffmpegName = ToFFmpegName(fileName);
  if (ffmpegName.empty()) return fail(ErrorText(fileName, fileName.empty() ? -2 : -36));

  AVFormatContext* input = ff::avformat_alloc_context();
  if (!input) return fail(ErrorText(fileName, AVERROR(ENOMEM)));
  input->interrupt_callback = FFInterruptCB();
  AVIOContext* customIO = nullptr;
  if (IsUnicodeName(ffmpegName)) {
    const AVIOInterruptCB cb = FFInterruptCB();
    const int ret = OpenUnicodeIO(ffmpegName, uomRead, &cb, &customIO);
    if (ret < 0) {
      ff::avformat_free_context(input);
      return fail(ErrorText(fileName, ret));
    }
    input->pb = customIO;
    input->flags |= AVFMT_FLAG_CUSTOM_IO;
  }
  int ret = ff::avformat_open_input(&input, ffmpegName.c_str(), nullptr, nullptr);
  if (ret >= 0) {
    ret = ff::avformat_find_stream_info(input, nullptr);
    if (ret >= 0 && input->nb_streams == 0) ret = AVERROR_INVALIDDATA;
    if (ret < 0) ff::avformat_close_input(&input);
  }
  // A failed avformat_open_input has freed the context already and set it to null.
  if (ret < 0) {
    if (customIO) CloseUnicodeIO(&customIO);
    return fail(ErrorText(fileName, ret));
  }
  Context_ = input;
  OwnsContext_ = true;
  CustomIO_ = customIO;
  FileName_ = fileName;
  ReadFileInfo();
  return true;
}

void TCustomDecoder::Close() {
  FileName_.clear();
  if (Context_ && OwnsContext_) {
    ff::avformat_close_input(&Context_);
    // avformat_close_input leaves a custom pb alone.
    if (CustomIO_) CloseUnicodeIO(&CustomIO_);
  }
  Context_ = nullptr;
  OwnsContext_ = false;
  CustomIO_ = nullptr;
  ReadFileInfo();
}

void TCustomDecoder::ReleaseContext() {
  if (Context_ && OwnsContext_) {
    Close();
    return;
  }
  Context_ = nullptr;
}

void TCustomDecoder::ReadFileInfo() {
  FileSize_ = -1;
  StreamCount_ = ProgramCount_ = -1;
  AudioStreamCount_ = VideoStreamCount_ = SubtitleStreamCount_ = -1;
  FirstAudioStream_ = FirstVideoStream_ = FirstSubtitleStream_ = -1;
  if (!Context_) return;

  // The size FFmpeg knows, else the size of the file on disk.
  std::int64_t size = Context_->pb ? ff::avio_size(Context_->pb) : -1;
  if (size <= 0 && Context_->url) {
    std::error_code ec;
    const std::filesystem::path path(FromFFmpegName(Context_->url));
    if (std::filesystem::is_regular_file(path, ec)) {
      const auto onDisk = std::filesystem::file_size(path, ec);
      if (!ec) size = std::int64_t(onDisk);
    }
  }
  FileSize_ = size < 0 ? -1 : size;

  StreamCount_ = int(Context_->nb_streams);
  ProgramCount_ = int(Context_->nb_programs);
  AudioStreamCount_ = VideoStreamCount_ = SubtitleStreamCount_ = 0;
  for (unsigned i = 0; i < Context_->nb_streams; ++i) {
    const AVCodecParameters* par = Context_->streams[i]->codecpar;
    if (!par) continue;
    switch (par->codec_type) {
      case AVMEDIA_TYPE_VIDEO:
        if (VideoStreamCount_++ == 0) FirstVideoStream_ = int(i);
        break;
      case AVMEDIA_TYPE_AUDIO:
        if (AudioStreamCount_++ == 0) FirstAudioStream_ = int(i);
        break;
      case AVMEDIA_TYPE_SUBTITLE:
        if (SubtitleStreamCount_++ == 0) FirstSubtitleStream_ = int(i);
        break;
      default:
        break;
    }
  }
}

TFFDecoder::~TFFDecoder() {
  if (OwnsContext()) Close();
}

void TFFDecoder::ReadFileInfo() {
  TCustomDecoder::ReadFileInfo();
  PrimaryStream_ = FirstVideoStreamIndex() >= 0 ? FirstVideoStreamIndex() : FirstAudioStreamIndex();
  StartTime_ = 0;
  const AVFormatContext* context = Context();
  if (!context) return;
  std::int64_t start = AV_NOPTS_VALUE;
  if (PrimaryStream_ >= 0) {
    const AVStream* stream = context->streams[PrimaryStream_];
    // Stream times count in the stream's time base; the engine's times are microseconds.
    if (stream->start_time != AV_NOPTS_VALUE)
      start = ff::av_rescale_q(stream->start_time, stream->time_base, AVRational{1, AV_TIME_BASE});
  } else {
    start = context->start_time;
  }
  StartTime_ = start == AV_NOPTS_VALUE ? 0 : start;
}

}  // namespace tovamo
