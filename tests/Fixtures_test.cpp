// The generated test media, read back through the program's own library bindings: every
// file opens, has the streams, sizes, rates and duration the other suites rely on, its
// pictures move and its tone is audible on every channel. The awkward files have the one
// property each is there for, and the bad input has the shape the error tests expect.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <sys/wait.h>

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
// libavformat gives no duration for SWF, nor for the live Matroska file (both are 2 s
// long). audio_first.mkv lasts 2.5 s: its pictures start 0.5 s after the sound. The rate
// guessed for vfr.mkv is its fastest one (frames of 40 ms).
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
    {"sample.webm", "vp8", 160, 120, 25, "vorbis", 44100, 2, 2},
    {"square_576.avi", "mpeg4", 720, 576, 25, "mp2", 44100, 2, 2},
    {"square_240.mpg", "mpeg1video", 352, 240, 25, "mp2", 44100, 2, 2},
    {"bframes.avi", "mpeg4", 160, 120, 25, "mp2", 44100, 2, 2},
    {"far_start.ts", "mpeg2video", 160, 120, 25, "mp2", 44100, 2, 2},
    {"audio_first.mkv", "mpeg4", 160, 120, 25, "mp2", 44100, 2, 2.5},
    {"vfr.mkv", "mpeg4", 160, 120, 25, "mp2", 44100, 2, 2},
    {"no_duration.mkv", "mpeg4", 160, 120, 25, "flac", 44100, 2, 0},
    {"interlaced.mpg", "mpeg2video", 352, 288, 25, "mp2", 44100, 2, 2},
    {"two_audio.mkv", "mpeg4", 160, 120, 25, "mp2", 44100, 2, 2},
    {"subtitle.mkv", "mpeg4", 160, 120, 25, "mp2", 44100, 2, 2},
    {"lying_ext.avi", "mpeg1video", 160, 120, 25, "mp2", 44100, 2, 2},
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

  // Feeds a packet (null: end of stream), hands every frame that comes out to onFrame and
  // returns what the decoder said of the packet (negative: it was refused).
  template <typename F>
  int Feed(const AVPacket* pkt, F&& onFrame) {
    const int sent = ff::avcodec_send_packet(Codec_, pkt);
    while (ff::avcodec_receive_frame(Codec_, Frame_) >= 0) {
      onFrame(Frame_);
      ff::av_frame_unref(Frame_);
    }
    return sent;
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
    if (videoDecoder.IsOpen() && pkt->stream_index == videoDecoder.Index()) {
      EXPECT_GE(videoDecoder.Feed(pkt, onPicture), 0);
    } else if (audioDecoder.IsOpen() && pkt->stream_index == audioDecoder.Index()) {
      EXPECT_GE(audioDecoder.Feed(pkt, onSound), 0);
    }
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

// Every table here has a FileName column; the case is named after it.
template <typename TRow>
std::string CaseName(const ::testing::TestParamInfo<TRow>& info) {
  std::string name = info.param.FileName;
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(Generated, FixtureMedia, ::testing::ValuesIn(kMedia),
                         CaseName<TExpectedMedia>);

// ---- Awkward and damaged files: everything a reader sees, from the first packet to the end

struct TStreamSeen {
  AVMediaType Type = AVMEDIA_TYPE_UNKNOWN;
  std::string Codec;
  int Channels = 0;
  AVFieldOrder FieldOrder = AV_FIELD_UNKNOWN;
  int Packets = 0;
  int PacketsWithoutPts = 0;
  int PacketsWithoutTime = 0;      // neither pts nor dts
  std::vector<double> Times;       // pts (else dts) of each packet that has one, in seconds
  std::vector<std::string> Texts;  // subtitles: each packet's text
  // What the decoder made of it (video and audio).
  int Refused = 0;  // packets the decoder refused
  int Frames = 0;
  int InterlacedFrames = 0;
  int TopFieldFirstFrames = 0;
  int SampleRate = 0;
  int64_t Samples = 0;
  int64_t RisingCrossings = 0;  // of the first channel
  double LastLevel = 0;

  double FirstTime() const {
    return Times.empty() ? NAN : *std::min_element(Times.begin(), Times.end());
  }
  double LastTime() const {
    return Times.empty() ? NAN : *std::max_element(Times.begin(), Times.end());
  }
  // The tone's pitch on the first channel, in Hz, from its zero crossings.
  double Pitch() const {
    return Samples ? static_cast<double>(RisingCrossings) * SampleRate / Samples : 0;
  }
};

struct TFileSeen {
  uintmax_t Size = 0;
  std::string Format;
  int64_t Duration = AV_NOPTS_VALUE;
  int64_t StartTime = AV_NOPTS_VALUE;
  std::vector<TStreamSeen> Streams;
  int ReadEnd = 0;  // what the last av_read_frame returned

  std::vector<const TStreamSeen*> OfType(AVMediaType type) const {
    std::vector<const TStreamSeen*> found;
    for (const TStreamSeen& s : Streams)
      if (s.Type == type) found.push_back(&s);
    return found;
  }
};

void CountFrame(TStreamSeen& s, const AVFrame* f) {
  ++s.Frames;
  if (s.Type == AVMEDIA_TYPE_VIDEO) {
    s.InterlacedFrames += f->interlaced_frame != 0;
    s.TopFieldFirstFrames += f->top_field_first != 0;
    return;
  }
  // A crossing counts once the wave has gone from below -0.05 to above 0.05, so coding
  // noise around zero adds none.
  for (int i = 0; i < f->nb_samples; ++i) {
    const double v = SampleAt(f, 0, i);
    if (v > 0.05 && s.LastLevel < 0) ++s.RisingCrossings;
    if (v > 0.05 || v < -0.05) s.LastLevel = v;
  }
  s.Samples += f->nb_samples;
}

// Opens the file (it must open), reads every packet and decodes every video and audio
// stream to the end.
void ReadWhole(const std::string& path, TFileSeen& seen) {
  ASSERT_TRUE(std::filesystem::is_regular_file(path))
      << path << " is missing: the generate_test_media fixture has not run";
  seen.Size = std::filesystem::file_size(path);
  AVFormatContext* in = nullptr;
  ASSERT_EQ(ff::avformat_open_input(&in, path.c_str(), nullptr, nullptr), 0);
  std::unique_ptr<AVFormatContext*, void (*)(AVFormatContext**)> closer(
      &in, [](AVFormatContext** p) { ff::avformat_close_input(p); });
  ASSERT_GE(ff::avformat_find_stream_info(in, nullptr), 0);
  seen.Format = in->iformat->name;
  seen.Duration = in->duration;
  seen.StartTime = in->start_time;

  std::vector<std::unique_ptr<TDecoder>> decoders(in->nb_streams);
  for (unsigned i = 0; i < in->nb_streams; ++i) {
    const AVCodecParameters* par = in->streams[i]->codecpar;
    TStreamSeen& s = seen.Streams.emplace_back();
    s.Type = par->codec_type;
    s.Codec = ff::avcodec_get_name(par->codec_id);
    s.Channels = par->ch_layout.nb_channels;
    s.FieldOrder = static_cast<AVFieldOrder>(par->field_order);
    s.SampleRate = par->sample_rate;
    if (s.Type == AVMEDIA_TYPE_VIDEO || s.Type == AVMEDIA_TYPE_AUDIO) {
      decoders[i] = std::make_unique<TDecoder>();
      ASSERT_NO_FATAL_FAILURE(decoders[i]->Open(in->streams[i]));
    }
  }

  AVPacket* pkt = ff::av_packet_alloc();
  ASSERT_NE(pkt, nullptr);
  while ((seen.ReadEnd = ff::av_read_frame(in, pkt)) >= 0) {
    TStreamSeen& s = seen.Streams.at(pkt->stream_index);
    const int64_t time = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
    ++s.Packets;
    s.PacketsWithoutPts += pkt->pts == AV_NOPTS_VALUE;
    if (time == AV_NOPTS_VALUE)
      ++s.PacketsWithoutTime;
    else
      s.Times.push_back(time * av_q2d(in->streams[pkt->stream_index]->time_base));
    if (s.Type == AVMEDIA_TYPE_SUBTITLE)
      s.Texts.emplace_back(reinterpret_cast<const char*>(pkt->data), pkt->size);
    if (TDecoder* d = decoders[pkt->stream_index].get())
      s.Refused += d->Feed(pkt, [&s](const AVFrame* f) { CountFrame(s, f); }) < 0;
    ff::av_packet_unref(pkt);
  }
  ff::av_packet_free(&pkt);
  for (unsigned i = 0; i < in->nb_streams; ++i)
    if (decoders[i]) {
      TStreamSeen& s = seen.Streams[i];
      decoders[i]->Feed(nullptr, [&s](const AVFrame* f) { CountFrame(s, f); });
    }
}

// How many of the values lie within 1 ms of `near`.
int CountNear(const std::vector<double>& values, double near) {
  return static_cast<int>(std::count_if(values.begin(), values.end(),
                                        [near](double v) { return std::fabs(v - near) < 0.001; }));
}

struct TFileProperty {
  const char* FileName;
  void (*Check)(const TFileSeen& seen);
};

void PrintTo(const TFileProperty& p, std::ostream* os) {
  *os << p.FileName;
}

// Written in the generator's table: 2 s at 25 frames/s (4 s for the damaged program
// streams), 44.1 kHz sound, the tone at 440 Hz.
const TFileProperty kProperties[] = {
    {"bframes.avi",
     [](const TFileSeen& seen) {
       // AVI stores no presentation times: with B-frames the reader cannot give every
       // packet one, only its decoding time.
       const auto video = seen.OfType(AVMEDIA_TYPE_VIDEO);
       ASSERT_EQ(video.size(), 1u);
       EXPECT_GT(video[0]->PacketsWithoutPts, 0);
       EXPECT_EQ(video[0]->PacketsWithoutTime, 0);
       EXPECT_EQ(video[0]->Frames, 50);
     }},
    {"far_start.ts",
     [](const TFileSeen& seen) {
       ASSERT_NE(seen.StartTime, AV_NOPTS_VALUE);
       EXPECT_NEAR(static_cast<double>(seen.StartTime) / AV_TIME_BASE, 10000, 5);
       ASSERT_EQ(seen.Streams.size(), 2u);
       for (const TStreamSeen& s : seen.Streams) {
         EXPECT_NEAR(s.FirstTime(), 10000, 5) << s.Codec;
         EXPECT_NEAR(s.LastTime() - s.FirstTime(), 2, 0.1) << s.Codec;
       }
     }},
    {"audio_first.mkv",
     [](const TFileSeen& seen) {
       const auto video = seen.OfType(AVMEDIA_TYPE_VIDEO);
       const auto audio = seen.OfType(AVMEDIA_TYPE_AUDIO);
       ASSERT_EQ(video.size(), 1u);
       ASSERT_EQ(audio.size(), 1u);
       EXPECT_NEAR(audio[0]->FirstTime(), 0, 0.02);
       EXPECT_NEAR(video[0]->FirstTime() - audio[0]->FirstTime(), 0.5, 0.02);
     }},
    {"vfr.mkv",
     [](const TFileSeen& seen) {
       const auto video = seen.OfType(AVMEDIA_TYPE_VIDEO);
       ASSERT_EQ(video.size(), 1u);
       std::vector<double> times = video[0]->Times;
       std::sort(times.begin(), times.end());
       std::vector<double> durations;
       for (size_t i = 1; i < times.size(); ++i) durations.push_back(times[i] - times[i - 1]);
       // Frames of one and two periods of 25 frames/s in turn, and nothing else.
       EXPECT_GE(CountNear(durations, 0.04), 15);
       EXPECT_GE(CountNear(durations, 0.08), 15);
       EXPECT_EQ(CountNear(durations, 0.04) + CountNear(durations, 0.08),
                 static_cast<int>(durations.size()));
     }},
    {"no_duration.mkv",
     [](const TFileSeen& seen) {
       EXPECT_EQ(seen.Duration, AV_NOPTS_VALUE);
       // All of it is there all the same.
       for (const TStreamSeen& s : seen.Streams)
         EXPECT_NEAR(s.LastTime() - s.FirstTime(), 2, 0.1) << s.Codec;
     }},
    {"interlaced.mpg",
     [](const TFileSeen& seen) {
       const auto video = seen.OfType(AVMEDIA_TYPE_VIDEO);
       ASSERT_EQ(video.size(), 1u);
       EXPECT_EQ(video[0]->FieldOrder, AV_FIELD_TT);
       EXPECT_EQ(video[0]->Frames, 50);
       EXPECT_EQ(video[0]->InterlacedFrames, video[0]->Frames);
       EXPECT_EQ(video[0]->TopFieldFirstFrames, video[0]->Frames);
     }},
    {"two_audio.mkv",
     [](const TFileSeen& seen) {
       const auto audio = seen.OfType(AVMEDIA_TYPE_AUDIO);
       ASSERT_EQ(audio.size(), 2u);
       EXPECT_EQ(audio[0]->Channels, 2);
       EXPECT_EQ(audio[1]->Channels, 1);
       EXPECT_NEAR(audio[0]->Pitch(), 440, 10);
       EXPECT_NEAR(audio[1]->Pitch(), 880, 20);
     }},
    {"subtitle.mkv",
     [](const TFileSeen& seen) {
       const auto subtitles = seen.OfType(AVMEDIA_TYPE_SUBTITLE);
       ASSERT_EQ(subtitles.size(), 1u);
       const TStreamSeen& s = *subtitles[0];
       EXPECT_EQ(s.Codec, "subrip");
       // Text, which an MPEG program stream cannot carry (it takes DVD bitmaps only).
       const AVCodecDescriptor* desc = ff::avcodec_descriptor_get(AV_CODEC_ID_SUBRIP);
       ASSERT_NE(desc, nullptr);
       EXPECT_TRUE(desc->props & AV_CODEC_PROP_TEXT_SUB);
       EXPECT_EQ(s.Texts, (std::vector<std::string>{"First cue", "Second cue", "Last cue"}));
       ASSERT_EQ(s.Times.size(), 3u);
       EXPECT_NEAR(s.Times[0], 0.2, 0.02);
       EXPECT_NEAR(s.Times[2], 1.5, 0.02);
     }},
    {"lying_ext.avi", [](const TFileSeen& seen) { EXPECT_EQ(seen.Format, "mpeg"); }},
    {"truncated.mpg",
     [](const TFileSeen& seen) {
       // It ends inside one of the 2 KiB packs of the program stream, yet what is left
       // decodes, and the reading simply ends early.
       EXPECT_EQ(seen.Format, "mpeg");
       EXPECT_NE(seen.Size % 2048, 0u) << seen.Size << " bytes";
       EXPECT_EQ(seen.ReadEnd, AVERROR_EOF);
       const auto video = seen.OfType(AVMEDIA_TYPE_VIDEO);
       ASSERT_EQ(video.size(), 1u);
       EXPECT_GT(video[0]->Frames, 25);
       EXPECT_LT(video[0]->Frames, 90);
       EXPECT_EQ(video[0]->Refused, 0);
       const double span = video[0]->LastTime() - video[0]->FirstTime();
       EXPECT_GT(span, 1.0);
       EXPECT_LT(span, 3.0) << "the file was written 4 s long and cut at 60 %";
     }},
    {"noise_middle.mpg",
     [](const TFileSeen& seen) {
       // Still a program stream with both of its streams; the noise costs packets in the
       // middle while the end is intact.
       EXPECT_EQ(seen.Format, "mpeg");
       EXPECT_EQ(seen.ReadEnd, AVERROR_EOF);
       const auto video = seen.OfType(AVMEDIA_TYPE_VIDEO);
       ASSERT_EQ(video.size(), 1u);
       ASSERT_EQ(seen.OfType(AVMEDIA_TYPE_AUDIO).size(), 1u);
       EXPECT_LT(video[0]->Packets, 90) << "100 pictures were written";
       EXPECT_GT(video[0]->LastTime() - video[0]->FirstTime(), 3.5);
     }},
    {"damaged_index.mp4",
     [](const TFileSeen& seen) {
       // The MP4 reader accepts the file, but without 'trak' boxes it knows of no stream.
       EXPECT_EQ(seen.Format.rfind("mov,mp4", 0), 0u) << seen.Format;
       EXPECT_TRUE(seen.Streams.empty());
       EXPECT_EQ(seen.ReadEnd, AVERROR_EOF);
     }},
};

class FixtureProperty : public ::testing::TestWithParam<TFileProperty> {
 protected:
  void SetUp() override { ASSERT_NO_FATAL_FAILURE(test::LoadSystemLibraries()); }
};

TEST_P(FixtureProperty, Holds) {
  TFileSeen seen;
  ASSERT_NO_FATAL_FAILURE(ReadWhole(test::Fixture(GetParam().FileName), seen));
  GetParam().Check(seen);
}

INSTANTIATE_TEST_SUITE_P(Generated, FixtureProperty, ::testing::ValuesIn(kProperties),
                         CaseName<TFileProperty>);

// ---- Bad input that no reader may accept

struct TRefusedFile {
  const char* FileName;
  bool (*HasShape)(const std::string& bytes);
};

void PrintTo(const TRefusedFile& r, std::ostream* os) {
  *os << r.FileName;
}

const TRefusedFile kRefused[] = {
    {"empty.avi", [](const std::string& bytes) { return bytes.empty(); }},
    {"random.avi",
     [](const std::string& bytes) {
       // 64 KiB of noise uses every byte value.
       return bytes.size() == 64 * 1024 && std::set<char>(bytes.begin(), bytes.end()).size() == 256;
     }},
    {"text.avi",
     [](const std::string& bytes) {
       return bytes.size() > 100 && std::all_of(bytes.begin(), bytes.end(), [](char c) {
                return c == '\n' || std::isprint(static_cast<unsigned char>(c));
              });
     }},
};

class RefusedFixture : public ::testing::TestWithParam<TRefusedFile> {
 protected:
  void SetUp() override { ASSERT_NO_FATAL_FAILURE(test::LoadSystemLibraries()); }
};

TEST_P(RefusedFixture, HasItsShapeAndDoesNotOpen) {
  const std::string path = test::Fixture(GetParam().FileName);
  ASSERT_TRUE(std::filesystem::is_regular_file(path))
      << path << " is missing: the generate_test_media fixture has not run";
  std::ifstream file(path, std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  EXPECT_TRUE(GetParam().HasShape(bytes)) << bytes.size() << " bytes";

  AVFormatContext* in = nullptr;
  EXPECT_LT(ff::avformat_open_input(&in, path.c_str(), nullptr, nullptr), 0)
      << "probed as " << (in ? in->iformat->name : "?");
  if (in) ff::avformat_close_input(&in);
}

INSTANTIATE_TEST_SUITE_P(Generated, RefusedFixture, ::testing::ValuesIn(kRefused),
                         CaseName<TRefusedFile>);

// Options are answered, never taken for the output folder.
TEST(FixtureGenerator, OptionsMakeNoFolder) {
  const struct {
    const char* Argument;
    int ExitCode;
  } cases[] = {{"--help", 0}, {"-h", 0}, {"--bogus", 2}, {"-", 2}};
  for (const auto& c : cases) {
    test::TTempDir dir;
    const std::string command = "cd '" + dir.Path().string() + "' && '" TOVAMO_FIXTUREGEN "' " +
                                c.Argument + " >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status)) << c.Argument;
    EXPECT_EQ(WEXITSTATUS(status), c.ExitCode) << c.Argument;
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path())) << c.Argument;
  }
}

// The natural clips the quality benchmark measures: each scene written at the asked length
// and size as a 4:3 picture with sound, its pictures changing; an unknown scene writes nothing.
TEST(FixtureGenerator, BenchClipScenes) {
  ASSERT_NO_FATAL_FAILURE(test::LoadSystemLibraries());
  test::TTempDir dir;
  const std::string path = (dir.Path() / "clip.mp4").string();
  auto write = [&](const std::string& scene) {
    const std::string command = "'" TOVAMO_FIXTUREGEN "' --bench-clip '" + path + "' 1 160x128 " +
                                scene + " >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  for (const char* scene : {"pan", "grain", "ticker"}) {
    SCOPED_TRACE(scene);
    ASSERT_EQ(write(scene), 0);
    AVFormatContext* in = nullptr;
    ASSERT_EQ(ff::avformat_open_input(&in, path.c_str(), nullptr, nullptr), 0);
    std::unique_ptr<AVFormatContext*, void (*)(AVFormatContext**)> closer(
        &in, [](AVFormatContext** c) { ff::avformat_close_input(c); });
    ASSERT_GE(ff::avformat_find_stream_info(in, nullptr), 0);
    AVStream* video = const_cast<AVStream*>(FirstStream(in, AVMEDIA_TYPE_VIDEO));
    const AVStream* audio = FirstStream(in, AVMEDIA_TYPE_AUDIO);
    ASSERT_TRUE(video && audio);
    EXPECT_EQ(video->codecpar->width, 160);
    EXPECT_EQ(video->codecpar->height, 128);
    const AVRational sar = ff::av_guess_sample_aspect_ratio(in, video, nullptr);
    EXPECT_EQ(sar.num * 3 * 160, sar.den * 4 * 128) << sar.num << ":" << sar.den;
    EXPECT_EQ(audio->codecpar->sample_rate, 48000);

    TDecoder decoder;
    ASSERT_NO_FATAL_FAILURE(decoder.Open(video));
    std::vector<std::vector<uint8_t>> pictures;
    auto keep = [&](const AVFrame* f) {
      pictures.emplace_back(f->data[0], f->data[0] + f->linesize[0] * f->height);
    };
    AVPacket* pkt = ff::av_packet_alloc();
    while (ff::av_read_frame(in, pkt) >= 0) {
      if (pkt->stream_index == decoder.Index()) decoder.Feed(pkt, keep);
      ff::av_packet_unref(pkt);
    }
    decoder.Feed(nullptr, keep);
    ff::av_packet_free(&pkt);
    ASSERT_EQ(pictures.size(), 25u);
    EXPECT_NE(pictures.front(), pictures.back());
  }
  std::filesystem::remove(path);
  EXPECT_EQ(write("nope"), 2);
  EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
}  // namespace tovamo
