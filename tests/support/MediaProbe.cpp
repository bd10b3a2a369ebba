#include "support/MediaProbe.h"

#include <functional>

#include <strings.h>

#include "Services/FFBindings.h"

namespace tovamo::test {
namespace {

std::uint32_t Crc32(const std::uint8_t* data, int size) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (int i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

}  // namespace

std::vector<TPacketInfo> TMediaInfo::PacketsOf(int stream) const {
  std::vector<TPacketInfo> out;
  for (const auto& p : Packets)
    if (p.Stream == stream) out.push_back(p);
  return out;
}

int TMediaInfo::StreamOfType(int type, int nth) const {
  for (int i = 0; i < int(Streams.size()); ++i)
    if (Streams[i].Type == type && nth-- == 0) return i;
  return -1;
}

std::string TMediaInfo::MetadataValue(const std::string& key) const {
  // Containers differ in the case of their tag names ("ARTIST" in Matroska).
  for (const auto& [k, v] : Metadata)
    if (k.size() == key.size() && strncasecmp(k.c_str(), key.c_str(), k.size()) == 0) return v;
  return {};
}

TMediaInfo ProbeMedia(const std::string& path) {
  TMediaInfo info;
  AVFormatContext* ctx = nullptr;
  if (ff::avformat_open_input(&ctx, path.c_str(), nullptr, nullptr) < 0) return info;
  if (ff::avformat_find_stream_info(ctx, nullptr) < 0) {
    ff::avformat_close_input(&ctx);
    return info;
  }
  info.Opened = true;
  info.Format = ctx->iformat->name;
  info.Duration = ctx->duration;
  info.Chapters = int(ctx->nb_chapters);
  const AVDictionaryEntry* e = nullptr;
  while ((e = ff::av_dict_get(ctx->metadata, "", e, AV_DICT_IGNORE_SUFFIX)))
    info.Metadata.emplace_back(e->key, e->value);
  for (unsigned i = 0; i < ctx->nb_streams; ++i) {
    const AVCodecParameters* par = ctx->streams[i]->codecpar;
    TStreamInfo s;
    s.Type = par->codec_type;
    s.Codec = ff::avcodec_get_name(par->codec_id);
    s.Width = par->width;
    s.Height = par->height;
    s.SampleRate = par->sample_rate;
    s.Channels = par->ch_layout.nb_channels;
    const AVStream* st = ctx->streams[i];
    const AVRational sar =
        st->sample_aspect_ratio.num ? st->sample_aspect_ratio : par->sample_aspect_ratio;
    s.SarNum = sar.num;
    s.SarDen = sar.den ? sar.den : 1;
    s.RateNum = st->avg_frame_rate.num;
    s.RateDen = st->avg_frame_rate.den ? st->avg_frame_rate.den : 1;
    s.StartTime = st->start_time == AV_NOPTS_VALUE
                      ? INT64_MIN
                      : ff::av_rescale_q(st->start_time, st->time_base, AV_TIME_BASE_Q);
    s.BitRate = par->bit_rate;
    s.Profile = par->profile;
    s.Level = par->level;
    info.Streams.push_back(s);
  }
  AVPacket* pkt = ff::av_packet_alloc();
  int ret;
  while ((ret = ff::av_read_frame(ctx, pkt)) >= 0) {
    const AVRational tb = ctx->streams[pkt->stream_index]->time_base;
    TPacketInfo p;
    p.Stream = pkt->stream_index;
    p.Pts = pkt->pts == AV_NOPTS_VALUE ? INT64_MIN : ff::av_rescale_q(pkt->pts, tb, AV_TIME_BASE_Q);
    p.Dts = pkt->dts == AV_NOPTS_VALUE ? INT64_MIN : ff::av_rescale_q(pkt->dts, tb, AV_TIME_BASE_Q);
    p.Key = pkt->flags & AV_PKT_FLAG_KEY;
    p.Crc = Crc32(pkt->data, pkt->size);
    p.Duration = pkt->duration > 0 ? ff::av_rescale_q(pkt->duration, tb, AV_TIME_BASE_Q) : 0;
    p.Size = pkt->size;
    info.Packets.push_back(p);
    ff::av_packet_unref(pkt);
  }
  info.ReadToEnd = ret == AVERROR_EOF;
  ff::av_packet_free(&pkt);
  ff::avformat_close_input(&ctx);
  return info;
}

double TLumaPicture::Mean(int x, int y, int w, int h) const {
  double sum = 0;
  for (int r = y; r < y + h; ++r)
    for (int c = x; c < x + w; ++c) sum += Luma[std::size_t(r) * Width + c];
  return w * h > 0 ? sum / (w * h) : 0;
}

namespace {

// Decodes the file's first video stream, handing each picture to `take` until it says
// enough (returns false).
void DecodePictures(const std::string& path, const std::function<bool(const AVFrame&)>& take) {
  AVFormatContext* ctx = nullptr;
  if (ff::avformat_open_input(&ctx, path.c_str(), nullptr, nullptr) < 0) return;
  ff::avformat_find_stream_info(ctx, nullptr);
  int video = -1;
  for (unsigned i = 0; i < ctx->nb_streams && video < 0; ++i)
    if (ctx->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) video = int(i);
  const AVCodec* codec =
      video < 0 ? nullptr : ff::avcodec_find_decoder(ctx->streams[video]->codecpar->codec_id);
  AVCodecContext* dec = codec ? ff::avcodec_alloc_context3(codec) : nullptr;
  if (dec && ff::avcodec_parameters_to_context(dec, ctx->streams[video]->codecpar) >= 0 &&
      ff::avcodec_open2(dec, codec, nullptr) >= 0) {
    AVPacket* pkt = ff::av_packet_alloc();
    AVFrame* frame = ff::av_frame_alloc();
    bool done = false;
    auto receive = [&] {
      while (!done && ff::avcodec_receive_frame(dec, frame) >= 0) {
        done = !take(*frame);
        ff::av_frame_unref(frame);
      }
    };
    while (!done && ff::av_read_frame(ctx, pkt) >= 0) {
      if (pkt->stream_index == video) {
        ff::avcodec_send_packet(dec, pkt);
        receive();
      }
      ff::av_packet_unref(pkt);
    }
    if (!done) {
      ff::avcodec_send_packet(dec, nullptr);
      receive();
    }
    ff::av_frame_free(&frame);
    ff::av_packet_free(&pkt);
  }
  ff::avcodec_free_context(&dec);
  ff::avformat_close_input(&ctx);
}

}  // namespace

TLumaPicture DecodeLuma(const std::string& path, int n) {
  TLumaPicture picture;
  int seen = 0;
  DecodePictures(path, [&](const AVFrame& frame) {
    if (seen++ < n) return true;
    picture.Width = frame.width;
    picture.Height = frame.height;
    for (int r = 0; r < frame.height; ++r)
      picture.Luma.insert(picture.Luma.end(), frame.data[0] + r * frame.linesize[0],
                          frame.data[0] + r * frame.linesize[0] + frame.width);
    return false;
  });
  return picture;
}

std::string PictureTypes(const std::string& path) {
  std::string types;
  DecodePictures(path, [&](const AVFrame& frame) {
    types += frame.pict_type == AV_PICTURE_TYPE_I   ? 'I'
             : frame.pict_type == AV_PICTURE_TYPE_P ? 'P'
             : frame.pict_type == AV_PICTURE_TYPE_B ? 'B'
                                                    : '?';
    return true;
  });
  return types;
}

std::vector<std::int64_t> PictureTimes(const std::string& path) {
  std::vector<std::int64_t> times;
  DecodePictures(path, [&](const AVFrame& frame) {
    times.push_back(frame.best_effort_timestamp);
    return true;
  });
  return times;
}

}  // namespace tovamo::test
