#include "SampleClip.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include "Services/FFBindings.h"
#include "Services/FFOwners.h"

namespace tovamo::cli {

namespace {

constexpr int kSampleRate = 48000;

using namespace owned;

void Check(int ret, const char* what) {
  if (ret >= 0) return;
  char text[256] = "";
  ff::av_strerror(ret, text, sizeof(text));
  throw std::runtime_error(std::string("sample clip: ") + what + ": " + text);
}

TCodec OpenEncoder(const char* name) {
  const AVCodec* codec = ff::avcodec_find_encoder_by_name(name);
  if (!codec) throw std::runtime_error(std::string("sample clip: no ") + name + " encoder");
  TCodec context(ff::avcodec_alloc_context3(codec));
  if (!context) throw std::runtime_error("sample clip: out of memory");
  return context;
}

// Sends a frame (null: drain) and writes every packet the encoder gives.
void EncodeAndWrite(AVCodecContext* enc, AVFrame* frame, AVFormatContext* out, AVStream* st,
                    AVPacket* pkt) {
  Check(ff::avcodec_send_frame(enc, frame), "encoding");
  for (;;) {
    const int ret = ff::avcodec_receive_packet(enc, pkt);
    if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) return;
    Check(ret, "encoding");
    ff::av_packet_rescale_ts(pkt, enc->time_base, st->time_base);
    pkt->stream_index = st->index;
    Check(ff::av_interleaved_write_frame(out, pkt), "writing");
  }
}

void DrawPicture(AVFrame* picture, int i) {
  const int width = picture->width, height = picture->height;
  const int bar = (i * 8) % width;
  for (int row = 0; row < height; ++row) {
    std::uint8_t* line = picture->data[0] + std::ptrdiff_t(row) * picture->linesize[0];
    for (int x = 0; x < width; ++x) line[x] = std::uint8_t((x + row / 2 + i * 3) & 0xFF);
    for (int x = bar; x < std::min(bar + width / 15, width); ++x) line[x] = 235;
  }
  for (int plane = 1; plane < 3; ++plane)
    for (int row = 0; row < height / 2; ++row)
      std::memset(picture->data[plane] + std::ptrdiff_t(row) * picture->linesize[plane],
                  128 + (plane == 1 ? 1 : -1) * ((row + i) % 64), width / 2);
}

void FillSound(AVFrame* sound, std::int64_t firstSample) {
  auto* s16 = reinterpret_cast<std::int16_t*>(sound->data[0]);
  for (int k = 0; k < sound->nb_samples; ++k) {
    const double t = double(firstSample + k) / kSampleRate;
    s16[2 * k] = std::int16_t(8000 * std::sin(2 * M_PI * 440 * t));
    s16[2 * k + 1] = std::int16_t(8000 * std::sin(2 * M_PI * 660 * t));
  }
}

void WriteClip(const std::string& path, const TSampleSpec& spec) {
  AVFormatContext* raw = nullptr;
  Check(ff::avformat_alloc_output_context2(&raw, nullptr, "nut", path.c_str()), "NUT muxer");
  TOutput out(raw);

  TCodec video = OpenEncoder("mpeg2video");
  video->width = spec.Width;
  video->height = spec.Height;
  video->pix_fmt = AV_PIX_FMT_YUV420P;
  video->time_base = {1, spec.FrameRate};
  video->framerate = {spec.FrameRate, 1};
  video->bit_rate = std::int64_t(spec.Width) * spec.Height * spec.FrameRate / 4;
  video->gop_size = 12;
  video->max_b_frames = 2;
  video->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  Check(ff::avcodec_open2(video.get(), video->codec, nullptr), "video encoder");
  TCodec audio = OpenEncoder("mp2");
  audio->sample_rate = kSampleRate;
  audio->sample_fmt = AV_SAMPLE_FMT_S16;
  ff::av_channel_layout_default(&audio->ch_layout, 2);
  audio->bit_rate = 192000;
  audio->time_base = {1, kSampleRate};
  audio->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  Check(ff::avcodec_open2(audio.get(), audio->codec, nullptr), "audio encoder");

  AVStream* vs = ff::avformat_new_stream(out.get(), nullptr);
  AVStream* as = ff::avformat_new_stream(out.get(), nullptr);
  if (!vs || !as) throw std::runtime_error("sample clip: out of memory");
  Check(ff::avcodec_parameters_from_context(vs->codecpar, video.get()), "video parameters");
  Check(ff::avcodec_parameters_from_context(as->codecpar, audio.get()), "audio parameters");
  vs->time_base = video->time_base;
  as->time_base = audio->time_base;
  Check(ff::avio_open2(&out->pb, path.c_str(), AVIO_FLAG_WRITE, nullptr, nullptr), "opening");
  Check(ff::avformat_write_header(out.get(), nullptr), "header");

  TPacket pkt(ff::av_packet_alloc());
  TFrame picture(ff::av_frame_alloc());
  TFrame sound(ff::av_frame_alloc());
  if (!pkt || !picture || !sound) throw std::runtime_error("sample clip: out of memory");
  picture->width = spec.Width;
  picture->height = spec.Height;
  picture->format = AV_PIX_FMT_YUV420P;
  Check(ff::av_frame_get_buffer(picture.get(), 0), "picture");
  sound->nb_samples = audio->frame_size;
  sound->format = audio->sample_fmt;
  sound->sample_rate = kSampleRate;
  ff::av_channel_layout_default(&sound->ch_layout, 2);
  Check(ff::av_frame_get_buffer(sound.get(), 0), "sound");

  std::int64_t samples = 0;
  for (int i = 0; i < spec.Seconds * spec.FrameRate; ++i) {
    Check(ff::av_frame_make_writable(picture.get()), "picture");
    DrawPicture(picture.get(), i);
    picture->pts = i;
    EncodeAndWrite(video.get(), picture.get(), out.get(), vs, pkt.get());
    while (samples < std::int64_t(i + 1) * kSampleRate / spec.FrameRate) {
      Check(ff::av_frame_make_writable(sound.get()), "sound");
      FillSound(sound.get(), samples);
      sound->pts = samples;
      samples += sound->nb_samples;
      EncodeAndWrite(audio.get(), sound.get(), out.get(), as, pkt.get());
    }
  }
  EncodeAndWrite(video.get(), nullptr, out.get(), vs, pkt.get());
  EncodeAndWrite(audio.get(), nullptr, out.get(), as, pkt.get());
  Check(ff::av_write_trailer(out.get()), "trailer");
}

}  // namespace

void WriteSampleClip(const std::string& path, const TSampleSpec& spec) {
  try {
    WriteClip(path, spec);
  } catch (...) {
    std::error_code ec;
    std::filesystem::remove(path, ec);
    throw;
  }
}

TGeneratedSample::TGeneratedSample() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tovamo-convert-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary folder");
  Folder_ = pattern;
  Path_ = (std::filesystem::path(Folder_) / "tovamo-sample.nut").string();
  try {
    WriteSampleClip(Path_, TSampleSpec{});
  } catch (...) {
    std::error_code ec;
    std::filesystem::remove_all(Folder_, ec);
    throw;
  }
}

TGeneratedSample::~TGeneratedSample() {
  std::error_code ec;
  std::filesystem::remove_all(Folder_, ec);
}

}  // namespace tovamo::cli
