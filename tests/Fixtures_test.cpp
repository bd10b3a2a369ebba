// The generated test media, read back through the program's own library bindings: every
// file opens, has the streams, sizes, rates and duration the other suites rely on, its
// pictures move and its tone is audible on every channel.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "Services/FFLoad.h"
#include "support/TestSupport.h"

namespace tovamo {
namespace {

struct TExpectedMedia {
  const char* FileName;
  const char* VideoCodecs;  // accepted decoder names, "|"-separated; null: no video stream
  int Width;
  int Height;
  double FrameRate;
  const char* AudioCodecs;  // as for video; null: no audio stream
  int SampleRate;
  int Channels;
  double Seconds;  // 0: the demuxer reports no duration for this container
};

void PrintTo(const TExpectedMedia& m, std::ostream* os) {
  *os << m.FileName;
}

// H.264 rows also accept MPEG-4 Part 2, what the generator falls back to without x264.
// libavformat's SWF reader gives no duration (the file is 2 s long): the one fixture of a
// file whose length is unknown until it has been read.
const TExpectedMedia kMedia[] = {
    // file                video codec         w    h    fps         audio codec     Hz   ch  s
    {"sample.avi", "mpeg4", 160, 120, 25, "mp3|mp2", 44100, 2, 2},
    {"sample.mpg", "mpeg1video", 160, 120, 25, "mp2", 44100, 2, 2},
    {"sample.mpeg", "mpeg1video", 320, 240, 25, "mp2", 44100, 2, 2},
    {"sample.dat", "mpeg1video", 176, 144, 25, "mp2", 44100, 2, 2},
    {"sample.asf", "msmpeg4v3", 160, 120, 25, "wmav2", 44100, 2, 2},
    {"sample.wmv", "wmv2", 160, 120, 25, "wmav2", 44100, 2, 2},
    {"sample.mov", "mpeg4", 160, 120, 25, "aac", 44100, 2, 2},
    {"sample.qt", "h264|mpeg4", 160, 120, 25, "pcm_s16le", 44100, 2, 2},
    {"sample.flv", "flv1", 160, 120, 25, "mp3|adpcm_swf", 44100, 2, 2},
    {"sample.mp4", "h264|mpeg4", 160, 120, 25, "aac", 44100, 2, 2},
    {"sample.3gp", "h263", 176, 144, 25, "aac", 8000, 1, 2},
    {"sample.rm", "rv10", 176, 144, 25, "ac3", 44100, 2, 2},
    {"sample.rmvb", "rv20", 176, 144, 25, "ac3", 44100, 2, 2},
    {"sample.swf", "flv1", 160, 120, 25, "mp3", 44100, 2, 0},
    {"sample_16x9.mp4", "h264|mpeg4", 320, 180, 25, "aac", 44100, 2, 2},
    {"odd_size.avi", "mpeg4", 175, 131, 25, "mp2", 44100, 2, 2},
    {"ntsc_29_97.mpg", "mpeg1video", 176, 120, 30000.0 / 1001, "mp2", 44100, 2, 2},
    {"rate_15.avi", "mpeg4", 160, 120, 15, "mp2", 44100, 2, 2},
    {"long_5s.mpg", "mpeg1video", 160, 120, 25, "mp2", 44100, 2, 5},
    {"audio_48k_6ch.mp4", "h264|mpeg4", 160, 120, 25, "ac3", 48000, 6, 2},
    {"audio_only.wav", nullptr, 0, 0, 0, "pcm_s16le", 44100, 2, 2},
    {"audio_only.mp2", nullptr, 0, 0, 0, "mp2", 44100, 2, 2},
    {"audio_8k_mono.wav", nullptr, 0, 0, 0, "pcm_s16le", 8000, 1, 2},
    {"video_only.avi", "mpeg4", 160, 120, 25, nullptr, 0, 0, 2},
};

bool NameIn(const std::string& name, const char* accepted) {
  std::istringstream list(accepted);
  std::string item;
  while (std::getline(list, item, '|'))
    if (item == name) return true;
  return false;
}

// Channel `ch`, sample `i` of a decoded audio frame, scaled to [-1, 1].
double SampleAt(const AVFrame* f, int ch, int i) {
  const auto format = static_cast<AVSampleFormat>(f->format);
  const bool planar = ff::av_sample_fmt_is_planar(format);
  const uint8_t* base = f->extended_data[planar ? ch : 0];
  const int at = planar ? i : i * f->ch_layout.nb_channels + ch;
  switch (format) {
    case AV_SAMPLE_FMT_U8:
    case AV_SAMPLE_FMT_U8P:
      return (base[at] - 128) / 128.0;
    case AV_SAMPLE_FMT_S16:
    case AV_SAMPLE_FMT_S16P:
      return reinterpret_cast<const int16_t*>(base)[at] / 32768.0;
    case AV_SAMPLE_FMT_S32:
    case AV_SAMPLE_FMT_S32P:
      return reinterpret_cast<const int32_t*>(base)[at] / 2147483648.0;
    case AV_SAMPLE_FMT_FLT:
    case AV_SAMPLE_FMT_FLTP:
      return reinterpret_cast<const float*>(base)[at];
    case AV_SAMPLE_FMT_DBL:
    case AV_SAMPLE_FMT_DBLP:
      return reinterpret_cast<const double*>(base)[at];
    default:
      ADD_FAILURE() << "unexpected sample format " << ff::av_get_sample_fmt_name(format);
      return 0;
  }
}

// The first plane's visible bytes (luma for the YUV formats these decoders give).
std::vector<uint8_t> FirstPlane(const AVFrame* f) {
  std::vector<uint8_t> plane;
  plane.reserve(static_cast<size_t>(f->width) * f->height);
  for (int y = 0; y < f->height; ++y) {
    const uint8_t* row = f->data[0] + static_cast<ptrdiff_t>(y) * f->linesize[0];
    plane.insert(plane.end(), row, row + f->width);
  }
  return plane;
}

// Mean absolute difference of two planes: coding noise alone stays well below one level,
// the moving test picture changes by several.
double MeanDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.size() != b.size() || a.empty()) return 0;
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i) sum += std::abs(int(a[i]) - int(b[i]));
  return sum / static_cast<double>(a.size());
}

// Decodes one stream of an open input with the bound decoder.
class TDecoder {
 public:
  ~TDecoder() {
    ff::av_frame_free(&Frame_);
    ff::avcodec_free_context(&Codec_);
  }

  void Open(const AVStream* st) {
    const AVCodec* codec = ff::avcodec_find_decoder(st->codecpar->codec_id);
    ASSERT_NE(codec, nullptr) << "no decoder for " << ff::avcodec_get_name(st->codecpar->codec_id);
    Codec_ = ff::avcodec_alloc_context3(codec);
    Frame_ = ff::av_frame_alloc();
    ASSERT_TRUE(Codec_ && Frame_);
    ASSERT_GE(ff::avcodec_parameters_to_context(Codec_, st->codecpar), 0);
    Codec_->thread_count = 1;
    ASSERT_GE(ff::avcodec_open2(Codec_, codec, nullptr), 0);
    Index_ = st->index;
  }

  bool IsOpen() const { return Codec_ != nullptr; }
  int Index() const { return Index_; }

  // Feeds a packet (null: end of stream) and hands every frame that comes out to onFrame.
  template <typename F>
  void Feed(const AVPacket* pkt, F&& onFrame) {
    ASSERT_GE(ff::avcodec_send_packet(Codec_, pkt), 0);
    while (ff::avcodec_receive_frame(Codec_, Frame_) >= 0) {
      onFrame(Frame_);
      ff::av_frame_unref(Frame_);
    }
  }

 private:
  AVCodecContext* Codec_ = nullptr;
  AVFrame* Frame_ = nullptr;
  int Index_ = -1;
};

class FixtureMedia : public ::testing::TestWithParam<TExpectedMedia> {
 protected:
  void SetUp() override { ASSERT_NO_FATAL_FAILURE(test::LoadSystemLibraries()); }
  void TearDown() override {
    if (Input_) ff::avformat_close_input(&Input_);
  }
  AVFormatContext* Input_ = nullptr;
};

const AVStream* FirstStream(const AVFormatContext* in, AVMediaType type) {
  for (unsigned i = 0; i < in->nb_streams; ++i)
    if (in->streams[i]->codecpar->codec_type == type) return in->streams[i];
  return nullptr;
}

TEST_P(FixtureMedia, HasTheExpectedStreamsAndContent) {
  const TExpectedMedia& m = GetParam();
  const std::string path = test::Fixture(m.FileName);
  ASSERT_TRUE(std::filesystem::is_regular_file(path))
      << path << " is missing: the generate_test_media fixture (fixturegen " << test::FixtureDir()
      << ") has not run";

  ASSERT_EQ(ff::avformat_open_input(&Input_, path.c_str(), nullptr, nullptr), 0);
  ASSERT_GE(ff::avformat_find_stream_info(Input_, nullptr), 0);

  if (m.Seconds == 0) {
    EXPECT_EQ(Input_->duration, AV_NOPTS_VALUE);
  } else {
    ASSERT_NE(Input_->duration, AV_NOPTS_VALUE);
    const double seconds = static_cast<double>(Input_->duration) / AV_TIME_BASE;
    EXPECT_GE(seconds, 1.5);
    EXPECT_LE(seconds, 6.0);
    EXPECT_NEAR(seconds, m.Seconds, 0.5);
  }

  const AVStream* video = FirstStream(Input_, AVMEDIA_TYPE_VIDEO);
  const AVStream* audio = FirstStream(Input_, AVMEDIA_TYPE_AUDIO);
  ASSERT_EQ(video != nullptr, m.VideoCodecs != nullptr);
  ASSERT_EQ(audio != nullptr, m.AudioCodecs != nullptr);

  if (video) {
    const AVCodecParameters* par = video->codecpar;
    EXPECT_PRED2(NameIn, ff::avcodec_get_name(par->codec_id), m.VideoCodecs);
    EXPECT_EQ(par->width, m.Width);
    EXPECT_EQ(par->height, m.Height);
    const AVRational rate = ff::av_guess_frame_rate(Input_, const_cast<AVStream*>(video), nullptr);
    ASSERT_GT(rate.den, 0);
    EXPECT_NEAR(av_q2d(rate), m.FrameRate, m.FrameRate * 0.01)
        << "r_frame_rate " << video->r_frame_rate.num << "/" << video->r_frame_rate.den
        << ", avg_frame_rate " << video->avg_frame_rate.num << "/" << video->avg_frame_rate.den;
  }
  if (audio) {
    const AVCodecParameters* par = audio->codecpar;
    EXPECT_PRED2(NameIn, ff::avcodec_get_name(par->codec_id), m.AudioCodecs);
    EXPECT_EQ(par->sample_rate, m.SampleRate);
    EXPECT_EQ(par->ch_layout.nb_channels, m.Channels);
  }

  // Decode the first pictures and about half a second of sound.
  TDecoder videoDecoder, audioDecoder;
  if (video) {
    ASSERT_NO_FATAL_FAILURE(videoDecoder.Open(video));
  }
  if (audio) {
    ASSERT_NO_FATAL_FAILURE(audioDecoder.Open(audio));
  }
  std::vector<std::vector<uint8_t>> pictures;
  std::vector<double> peak(audio ? m.Channels : 0, 0.0);
  int64_t samplesSeen = 0;
  const auto onPicture = [&](const AVFrame* f) {
    EXPECT_EQ(f->width, m.Width);
    EXPECT_EQ(f->height, m.Height);
    if (pictures.size() < 3) pictures.push_back(FirstPlane(f));
  };
  const auto onSound = [&](const AVFrame* f) {
    if (samplesSeen >= m.SampleRate / 2) return;
    ASSERT_EQ(f->ch_layout.nb_channels, m.Channels);
    for (int ch = 0; ch < m.Channels; ++ch)
      for (int i = 0; i < f->nb_samples; ++i)
        peak[ch] = std::max(peak[ch], std::fabs(SampleAt(f, ch, i)));
    samplesSeen += f->nb_samples;
  };
  const auto enough = [&] {
    return (!video || pictures.size() >= 3) && (!audio || samplesSeen >= m.SampleRate / 2);
  };

  AVPacket* pkt = ff::av_packet_alloc();
  ASSERT_NE(pkt, nullptr);
  while (!enough() && ff::av_read_frame(Input_, pkt) >= 0) {
    if (videoDecoder.IsOpen() && pkt->stream_index == videoDecoder.Index())
      videoDecoder.Feed(pkt, onPicture);
    else if (audioDecoder.IsOpen() && pkt->stream_index == audioDecoder.Index())
      audioDecoder.Feed(pkt, onSound);
    ff::av_packet_unref(pkt);
  }
  ff::av_packet_free(&pkt);
  if (!enough()) {
    if (videoDecoder.IsOpen()) videoDecoder.Feed(nullptr, onPicture);
    if (audioDecoder.IsOpen()) audioDecoder.Feed(nullptr, onSound);
  }

  if (video) {
    ASSERT_EQ(pictures.size(), 3u) << "fewer than three pictures decoded";
    EXPECT_GT(MeanDifference(pictures[0], pictures[1]), 2.0) << "the picture does not move";
    EXPECT_GT(MeanDifference(pictures[1], pictures[2]), 2.0) << "the picture does not move";
  }
  if (audio) {
    EXPECT_GE(samplesSeen, m.SampleRate / 2);
    // The tone is written at 0.3 of full scale on every channel; lossy codecs wobble a bit.
    for (int ch = 0; ch < m.Channels; ++ch) {
      EXPECT_GT(peak[ch], 0.2) << "channel " << ch << " is (nearly) silent";
      EXPECT_LT(peak[ch], 0.45) << "channel " << ch << " is louder than the tone";
    }
  }
}

std::string CaseName(const ::testing::TestParamInfo<TExpectedMedia>& info) {
  std::string name = info.param.FileName;
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(Generated, FixtureMedia, ::testing::ValuesIn(kMedia), CaseName);

}  // namespace
}  // namespace tovamo
