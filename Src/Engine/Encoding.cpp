// The encoder step every path shares (a frame in, its packets written), subtitles, and
// draining an encoder at the end of its input.
#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "Engine/EncodeStep.h"
#include "Engine/FFmpeg.h"
#include "Engine/TranscodeRun.h"
#include "Services/FFBindings.h"

namespace tovamo {

namespace {

// An MPEG program stream packet carries the presentation time of the first picture starting
// in it: a picture smaller than a packet shares it with the next one's start, and the later
// picture has no time of its own. A reader works it out from the pictures around it, which
// with B-pictures it cannot do for the last ones of the stream. Zero bytes after a picture
// are the video syntax's own stuffing: grown to a whole packet, each of the pictures the
// encoder gives out as the input ends starts a packet of its own and keeps its time. (Only
// those: stuffing every small picture would spend bits the rate control never counted.)
int PictureStuffing(const AVCodecContext* enc, const AVFormatContext* output, int size) {
  if (enc->codec_type != AVMEDIA_TYPE_VIDEO || enc->max_b_frames <= 0) return 0;
  if (enc->codec_id != AV_CODEC_ID_MPEG1VIDEO && enc->codec_id != AV_CODEC_ID_MPEG2VIDEO) return 0;
  const std::string_view muxer = output->oformat->name;
  if (muxer != "mpeg" && muxer != "vcd" && muxer != "svcd" && muxer != "dvd" && muxer != "vob")
    return 0;
  const int packetSize = output->packet_size > 0 ? int(output->packet_size) : 2048;
  return std::max(packetSize - size, 0);
}

}  // namespace

AVFrame* NewFrame() {
  AVFrame* frame = ff::av_frame_alloc();
  if (!frame) throw FFmpegException("av_frame_alloc failed");
  return frame;
}

void TCustomFFmpeg::EncodeSubtitle(TTranscodeRun& run, TOutputStream& ost, TInputStream& ist,
                                   AVSubtitle* subtitle, std::int64_t packetPts) {
  if (packetPts == AV_NOPTS_VALUE) {
    if (ExitOnError) throw FFmpegException("Subtitle packets must have a pts");
    Log(llError, "Subtitle packets must have a pts");
    return;
  }
  AVCodecContext* enc = ost.EncoderContext;
  const int packets = enc->codec_id == AV_CODEC_ID_DVB_SUBTITLE ? 2 : 1;
  constexpr int kBufferSize = 1024 * 1024;
  std::vector<std::uint8_t> buffer(kBufferSize);
  for (int i = 0; i < packets; ++i) {
    subtitle->pts =
        packetPts + ff::av_rescale_q(subtitle->start_display_time, {1, 1000}, AV_TIME_BASE_Q);
    subtitle->end_display_time -= subtitle->start_display_time;
    subtitle->start_display_time = 0;
    const int size = ff::avcodec_encode_subtitle(enc, buffer.data(), kBufferSize, subtitle);
    if (size < 0) throw FFmpegException("Subtitle encoding failed");
    AVPacket* pkt = ff::av_packet_alloc();
    if (!pkt || ff::av_new_packet(pkt, size) < 0) {
      ff::av_packet_free(&pkt);
      throw FFmpegException("Subtitle encoding failed");
    }
    std::memcpy(pkt->data, buffer.data(), std::size_t(size));
    pkt->pts = ff::av_rescale_q(subtitle->pts, AV_TIME_BASE_Q, ost.Stream->time_base);
    if (enc->codec_id == AV_CODEC_ID_DVB_SUBTITLE)
      pkt->pts += 90 * (i == 0 ? subtitle->start_display_time : subtitle->end_display_time);
    pkt->dts = pkt->pts;
    try {
      WritePacket(run, ost, pkt);
    } catch (...) {
      ff::av_packet_free(&pkt);
      throw;
    }
    ff::av_packet_free(&pkt);
    ++ost.FrameNumber;
  }
  (void)ist;
}

void TCustomFFmpeg::FlushEncoder(TTranscodeRun& run, TOutputStream& ost) {
  TOutputStream& owner = ost.Shared ? *ost.Shared : ost;
  if (!owner.EncoderOpen || owner.EncoderFlushed) return;
  AVCodecContext* enc = owner.EncoderContext;
  AVFormatContext* output = OutputFiles[ost.FileIndex];
  if (enc->codec_type == AVMEDIA_TYPE_VIDEO && (output->oformat->flags & AVFMT_NOFILE) &&
      std::string_view(output->oformat->name) == "image2")
    return;
  if (enc->codec_type == AVMEDIA_TYPE_SUBTITLE) return;
  owner.EncoderFlushed = true;
  if (enc->codec_type == AVMEDIA_TYPE_AUDIO && owner.Resampler) DrainResampler(run, ost, true);
  EncodeFrame(
      run, ost, nullptr,
      enc->codec_type == AVMEDIA_TYPE_AUDIO ? "Audio encoding failed" : "Video encoding failed",
      enc->codec_type == AVMEDIA_TYPE_AUDIO ? AudioSize : VideoSize);
}

void TCustomFFmpeg::EncodeFrame(TTranscodeRun& run, TOutputStream& ost, AVFrame* frame,
                                const char* failure, std::atomic<std::int64_t>& byteCounter) {
  TOutputStream& owner = ost.Shared ? *ost.Shared : ost;
  AVCodecContext* enc = owner.EncoderContext;
  int ret = ff::avcodec_send_frame(enc, frame);
  if (ret < 0 && ret != AVERROR_EOF) throw FFmpegException(failure);
  if (!owner.EncodedPacket) owner.EncodedPacket = ff::av_packet_alloc();
  AVPacket* pkt = owner.EncodedPacket;
  if (!pkt) throw FFmpegException(failure);
  for (;;) {
    ret = ff::avcodec_receive_packet(enc, pkt);
    if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) break;
    if (ret < 0) throw FFmpegException(failure);
    const int stuffing =
        frame == nullptr ? PictureStuffing(enc, OutputFiles[ost.FileIndex], pkt->size) : 0;
    if (stuffing > 0) {
      const int size = pkt->size;
      if (ff::av_grow_packet(pkt, stuffing) < 0) throw FFmpegException(failure);
      std::memset(pkt->data + size, 0, std::size_t(stuffing));
    }
    byteCounter += pkt->size;
    owner.NoteCodedPacket(*pkt);
    if (owner.LogFile && enc->stats_out) std::fputs(enc->stats_out, owner.LogFile);
    ff::av_packet_rescale_ts(pkt, enc->time_base, ost.Stream->time_base);
    try {
      WritePacket(run, ost, pkt);
    } catch (...) {
      ff::av_packet_unref(pkt);
      throw;
    }
    ff::av_packet_unref(pkt);
  }
}

}  // namespace tovamo
