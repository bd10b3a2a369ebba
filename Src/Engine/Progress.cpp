// The progress report and the job's final statistics. Every report measures the job
// (frames and speed of the first video stream, its quantiser, output size, output time and
// bit rate) and hands the figures to the owner's OnProgress; when nobody listens they go
// to the log as a status line. The last report adds the bytes per media type and the
// muxing overhead.
#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <utility>
#include <vector>

#include "Engine/FFmpeg.h"
#include "Engine/ProgressInfo.h"
#include "Engine/TranscodeRun.h"
#include "Services/Clock.h"
#include "Services/FFBindings.h"

namespace tovamo {
namespace {

constexpr double kLambdaPerQuantiser = FF_QP2LAMBDA;  // 118

// The status line: at most 1023 characters, in a fixed buffer (nothing allocated per line).
class TStatusLine {
 public:
  void Add(const char* fmt, ...) __attribute__((format(printf, 2, 3))) {
    if (Length_ >= sizeof Text_ - 1) return;
    va_list args;
    va_start(args, fmt);
    const int n = std::vsnprintf(Text_ + Length_, sizeof Text_ - Length_, fmt, args);
    va_end(args);
    if (n > 0) Length_ = std::min(Length_ + std::size_t(n), sizeof Text_ - 1);
  }
  const char* Text() const { return Text_; }

 private:
  char Text_[1024] = {};
  std::size_t Length_ = 0;
};

std::uint64_t ReadLittleEndian(const std::uint8_t* bytes, int count) {
  std::uint64_t value = 0;
  for (int i = count - 1; i >= 0; --i) value = value << 8 | bytes[i];
  return value;
}

double PsnrOf(double meanSquaredError) {
  return -10.0 * std::log10(meanSquaredError);
}

}  // namespace

void TOutputStream::NoteCodedPacket(const AVPacket& packet) {
  std::size_t size = 0;
  const std::uint8_t* stats =
      ff::av_packet_get_side_data(&packet, AV_PKT_DATA_QUALITY_STATS, &size);
  // Layout: quality (le32), picture type (u8), error count (u8), two reserved bytes, then
  // that many le64 errors.
  if (!stats || size < 4) return;
  CodedQuality = int(std::uint32_t(ReadLittleEndian(stats, 4)));
  const int errors = size >= 6 ? stats[5] : 0;
  for (int j = 0; j < 3; ++j)
    CodedError[j] =
        j < errors && size >= std::size_t(16 + 8 * j) ? ReadLittleEndian(stats + 8 + 8 * j, 8) : 0;
}

void TCustomFFmpeg::Report(TTranscodeRun& run, bool last, int fileIndex) {
  // Bytes of output file 0: its size, or where it is writing when that is further (the
  // bytes still in the output buffer count as written; the size alone lags by a buffer).
  std::int64_t totalSize = 0;
  AVFormatContext* first = OutputFileCount > 0 ? OutputFiles[0] : nullptr;
  if (first && first->pb)
    totalSize = std::max<std::int64_t>(
        {0, ff::avio_size(first->pb), ff::avio_seek(first->pb, 0, SEEK_CUR)});

  TStatusLine line;
  double time = 1e10;  // seconds: the least output time any stream reached
  int frame = -1;
  int fps = -1;
  float quality = -1.0f;
  bool videoReported = false;
  for (TOutputStream* ost : run.OutputStreams) {
    const TOutputStream& owner = ost->Shared ? *ost->Shared : *ost;
    const AVCodecContext* enc = owner.EncoderContext;
    const bool video = enc && enc->codec_type == AVMEDIA_TYPE_VIDEO;
    const float q = owner.StreamCopy ? -1.0f : float(owner.CodedQuality / kLambdaPerQuantiser);
    if (videoReported && video) {
      line.Add("q=%2.1f ", q);
    } else if (!videoReported && video && ost->InReport) {
      const float t =
          float(double(MonotonicMicros() - run.TimerStart - PausedMicros_) / AV_TIME_BASE);
      frame = ost->FrameNumber;
      // Nothing is reported before the first picture is out.
      if (frame < 1) return;
      fps = t > 1.0f ? int(frame / t + 0.5f) : 0;
      quality = q;
      line.Add("frame=%5d fps=%3d q=%3.1f ", frame, fps, double(quality));
      if (last) line.Add("L");
      if (QpHistogram) {
        const long index = std::lrint(quality);
        if (index >= 0 && index < long(QpHistogramCounts.size())) ++QpHistogramCounts[index];
        for (int j = 0; j < 32; ++j)
          line.Add("%X", unsigned(std::lrint(std::log2(QpHistogramCounts[j] + 1))));
      }
      if (!owner.StreamCopy && (enc->flags & AV_CODEC_FLAG_PSNR)) {
        double errorSum = 0, scaleSum = 0;
        line.Add("PSNR=");
        for (int j = 0; j < 3; ++j) {
          const double error = double(last ? enc->error[j] : owner.CodedError[j].load());
          double scale = double(enc->width) * enc->height * 255.0 * 255.0;
          if (last) scale *= frame;
          if (j) scale /= 4;
          errorSum += error;
          scaleSum += scale;
          line.Add("%c:%2.2f ", "YUV"[j], PsnrOf(error / scale));
        }
        line.Add("*:%2.2f ", PsnrOf(errorSum / scaleSum));
      }
      videoReported = true;
    }
  }
  // How far the output has got: the least time any of its audio and video streams reached.
  // A stream that has written nothing yet does not count (a stream that starts late does
  // not hold the others back), nor do subtitles, which come and go. Joined groups write
  // to the same streams, so each stream counts once, where its furthest group is.
  std::vector<std::pair<const AVStream*, double>> reached;
  for (const TOutputStream* ost : run.OutputStreams) {
    const TOutputStream& owner = ost->Shared ? *ost->Shared : *ost;
    const AVCodecContext* enc = owner.EncoderContext;
    if (!enc || (enc->codec_type != AVMEDIA_TYPE_VIDEO && enc->codec_type != AVMEDIA_TYPE_AUDIO))
      continue;
    // An encoded stream has got as far as the frames given to its encoder (at the end, when
    // the encoder is drained, exactly the stream's length); a copy as far as its last packet.
    double pts = 0;
    if (owner.EncodingNeeded)
      pts = double(owner.SyncOpts) * av_q2d(enc->time_base);
    else if (ost->LastMuxTime != AV_NOPTS_VALUE)
      pts = double(ost->LastMuxTime) / AV_TIME_BASE;
    auto same = std::find_if(reached.begin(), reached.end(),
                             [&](const auto& entry) { return entry.first == ost->Stream; });
    if (same == reached.end())
      reached.emplace_back(ost->Stream, pts);
    else
      same->second = std::max(same->second, pts);
  }
  for (const auto& [stream, pts] : reached)
    if (pts > 0 && pts < time) time = pts;
  // Before any stream has written the output time is the least there is; and a stream
  // that starts after another has passed its start does not turn the time back.
  if (time == 1e10) time = 0;
  time = std::max({time, 0.01, run.ReportedTime});
  run.ReportedTime = time;

  const bool listening = OnProgress && EventsAttached();
  if (listening || Verbose > 0 || last) {
    const double bitrate = double(totalSize) * 8 / time / 1000;
    line.Add("size=%8.0fkB time=%0.2f bitrate=%6.1fkbits/s", double(totalSize) / 1024, time,
             bitrate);
    if (FramesDuplicated || FramesDropped) {
      const int dup = FramesDuplicated.load(), drop = FramesDropped.load();
      line.Add(" dup=%d drop=%d", dup, drop);
      const std::int64_t counts = (std::int64_t(dup) << 32) | std::uint32_t(drop);
      if (Verbose >= 0 && listening && LoggedDupDrop.exchange(counts) != counts)
        Log(llVerbose, line.Text());
    }
    if (listening) {
      TProgressInfo info;
      info.FileIndex = fileIndex;
      info.FrameNumber = frame;
      info.FPS = fps;
      info.Quality = quality;
      info.BitRate = float(bitrate);
      info.CurrentSize = totalSize;
      info.CurrentDuration = std::int64_t(time * AV_TIME_BASE);
      info.TotalDuration = RequestedDuration;
      OnProgress(this, &info);
    } else if (Verbose >= 0) {
      Log(llVerbose, line.Text());
    }
  }

  if (last && Verbose >= 0) {
    const std::int64_t raw = VideoSize + AudioSize + ExtraSize;
    // A job that wrote no stream bytes has no overhead to speak of.
    const double overhead = raw > 0 ? 100.0 * double(totalSize - raw) / double(raw) : 0.0;
    LogFmt(llVerbose, "video:%1.0fkB audio:%1.0fkB global headers:%1.0fkB muxing overhead %f%%",
           double(VideoSize) / 1024, double(AudioSize) / 1024, double(ExtraSize) / 1024, overhead);
  }
}

}  // namespace tovamo
