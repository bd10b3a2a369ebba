// The decoder component's file information on generated media, its failures on bad files
// and missing libraries, and its handling of contexts it does or does not own.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "Components/FFDecode.h"
#include "Services/FFBindings.h"
#include "Services/FFLoad.h"
#include "support/TestSupport.h"

namespace tovamo {
namespace {

namespace fs = std::filesystem;

class FFDecode : public ::testing::Test {
 protected:
  void SetUp() override { test::LoadSystemLibraries(); }
};

// Every value of the decoder that describes a file, in one comparable row.
struct TInfo {
  int Streams, Programs, Video, Audio, Subtitle, FirstVideo, FirstAudio, FirstSubtitle, Primary;
  bool operator==(const TInfo&) const = default;
};

std::ostream& operator<<(std::ostream& out, const TInfo& i) {
  return out << "streams " << i.Streams << " programs " << i.Programs << " v/a/s " << i.Video << "/"
             << i.Audio << "/" << i.Subtitle << " first " << i.FirstVideo << "/" << i.FirstAudio
             << "/" << i.FirstSubtitle << " primary " << i.Primary;
}

TInfo InfoOf(const TFFDecoder& d) {
  return {d.StreamCount(),           d.ProgramCount(),
          d.VideoStreamCount(),      d.AudioStreamCount(),
          d.SubtitleStreamCount(),   d.FirstVideoStreamIndex(),
          d.FirstAudioStreamIndex(), d.FirstSubtitleStreamIndex(),
          d.PrimaryStreamIndex()};
}

constexpr TInfo kUnknown{-1, -1, -1, -1, -1, -1, -1, -1, -1};

TEST_F(FFDecode, FileInformation) {
  struct TRow {
    const char* File;
    TInfo Info;
    std::int64_t StartTime;  // microseconds
  };
  const TRow rows[] = {
      {"video_only.avi", {1, 0, 1, 0, 0, 0, -1, -1, 0}, 0},
      {"audio_only.wav", {1, 0, 0, 1, 0, -1, 0, -1, 0}, 0},
      {"sample.mp4", {2, 0, 1, 1, 0, 0, 1, -1, 0}, 0},
      // The Matroska muxer lets the MPEG-4 video start 11 ms after the audio.
      {"two_audio.mkv", {3, 0, 1, 2, 0, 0, 1, -1, 0}, 11000},
      {"subtitle.mkv", {3, 0, 1, 1, 1, 0, 1, 2, 0}, 11000},
      // The video starts half a second later still: the primary stream's start counts.
      {"audio_first.mkv", {2, 0, 1, 1, 0, 0, 1, -1, 0}, 511000},
  };
  for (const TRow& row : rows) {
    SCOPED_TRACE(row.File);
    const std::string path = test::Fixture(row.File);
    TFFDecoder decoder;
    ASSERT_TRUE(decoder.Open(path)) << decoder.LastError();
    EXPECT_EQ(InfoOf(decoder), row.Info);
    EXPECT_EQ(decoder.StartTime(), row.StartTime);
    EXPECT_EQ(decoder.FileSize(), std::int64_t(fs::file_size(path)));
    EXPECT_EQ(decoder.FileName(), path);
    EXPECT_TRUE(decoder.OwnsContext());
  }
}

// An MPEG program stream lists its streams in the order their first packets come, so the
// indexes are checked against the stream types rather than fixed numbers. In these files
// the audio starts before the video, so the file's own start time is not the answer.
TEST_F(FFDecode, FirstIndexesNameStreamsOfTheirKind) {
  struct TRow {
    const char* File;
    std::int64_t StartTime;  // microseconds, the video's
  };
  const TRow rows[] = {
      {"sample.mpg", 540000},         // the MPEG muxer's 0.5 s preload, in 90 kHz units
      {"far_start.ts", 10000000000},  // an output_ts_offset of 10000 s
  };
  for (const TRow& row : rows) {
    SCOPED_TRACE(row.File);
    TFFDecoder decoder;
    ASSERT_TRUE(decoder.Open(test::Fixture(row.File))) << decoder.LastError();
    const AVFormatContext* context = decoder.Context();
    ASSERT_NE(context, nullptr);
    int firstVideo = -1, firstAudio = -1;
    for (unsigned i = context->nb_streams; i-- > 0;) {
      const AVMediaType type = context->streams[i]->codecpar->codec_type;
      if (type == AVMEDIA_TYPE_VIDEO) firstVideo = int(i);
      if (type == AVMEDIA_TYPE_AUDIO) firstAudio = int(i);
    }
    EXPECT_EQ(decoder.StreamCount(), int(context->nb_streams));
    EXPECT_EQ(decoder.VideoStreamCount(), 1);
    EXPECT_EQ(decoder.AudioStreamCount(), 1);
    EXPECT_EQ(decoder.FirstVideoStreamIndex(), firstVideo);
    EXPECT_EQ(decoder.FirstAudioStreamIndex(), firstAudio);
    EXPECT_EQ(decoder.PrimaryStreamIndex(), firstVideo);
    EXPECT_EQ(decoder.StartTime(), row.StartTime);
    EXPECT_LT(context->start_time, row.StartTime);
  }
}

TEST_F(FFDecode, BadFilesAreRefusedWithTheirName) {
  test::TTempDir dir;
  fs::create_directory(dir.File("folder.avi"));
  struct TRow {
    std::string Path;
  };
  const TRow rows[] = {
      {test::Fixture("empty.avi")},       {test::Fixture("random.avi")},
      {test::Fixture("text.avi")},        {dir.File("missing.avi")},
      {dir.File("folder.avi")},           {dir.File("missing:clip.avi")},
      {std::string("bad\0name.avi", 12)}, {""},
  };
  for (const TRow& row : rows) {
    SCOPED_TRACE(row.Path);
    TFFDecoder decoder;
    ASSERT_TRUE(decoder.Open(test::Fixture("sample.mp4")));  // a failure closes the last file
    EXPECT_FALSE(decoder.Open(row.Path));
    EXPECT_EQ(decoder.LastError().rfind(row.Path + ": ", 0), 0u) << decoder.LastError();
    EXPECT_GT(decoder.LastError().size(), row.Path.size() + 2);
    EXPECT_EQ(decoder.Context(), nullptr);
    EXPECT_EQ(InfoOf(decoder), kUnknown);
    EXPECT_EQ(decoder.FileSize(), -1);
    EXPECT_EQ(decoder.FileName(), "");
  }
}

// Names FFmpeg would take for a protocol or cannot read as UTF-8 open like any other.
TEST_F(FFDecode, NamesWithSpacesColonsAndNonAscii) {
  test::TTempDir dir;
  for (const char* name : {"my clip.mp4", "my:clip.mp4", "клип ü.mp4", "a\xff\xfe.mp4"}) {
    SCOPED_TRACE(name);
    const std::string path = dir.File(name);
    fs::copy_file(test::Fixture("sample.mp4"), path);
    TFFDecoder decoder;
    ASSERT_TRUE(decoder.Open(path)) << decoder.LastError();
    EXPECT_EQ(InfoOf(decoder), (TInfo{2, 0, 1, 1, 0, 0, 1, -1, 0}));
    EXPECT_EQ(decoder.FileSize(), std::int64_t(fs::file_size(path)));
    EXPECT_EQ(decoder.FileName(), path);
  }
}

TEST_F(FFDecode, CloseForgetsTheFile) {
  TFFDecoder decoder;
  ASSERT_TRUE(decoder.Open(test::Fixture("audio_first.mkv")));
  decoder.Close();
  EXPECT_EQ(decoder.Context(), nullptr);
  EXPECT_EQ(InfoOf(decoder), kUnknown);
  EXPECT_EQ(decoder.FileSize(), -1);
  EXPECT_EQ(decoder.StartTime(), 0);
  EXPECT_EQ(decoder.FileName(), "");
  decoder.Close();  // twice is harmless
  EXPECT_EQ(InfoOf(decoder), kUnknown);
}

// A context attached from outside stays its owner's: neither re-attaching nor destroying
// the decoder closes it.
TEST_F(FFDecode, AttachedContextIsNeverClosedByTheDecoder) {
  const std::string path = test::Fixture("subtitle.mkv");
  AVFormatContext* context = nullptr;
  ASSERT_EQ(ff::avformat_open_input(&context, path.c_str(), nullptr, nullptr), 0);
  ASSERT_GE(ff::avformat_find_stream_info(context, nullptr), 0);
  {
    TFFDecoder decoder;
    decoder.Attach(context);
    EXPECT_FALSE(decoder.OwnsContext());
    EXPECT_EQ(decoder.Context(), context);
    EXPECT_EQ(decoder.FileName(), path);
    EXPECT_EQ(InfoOf(decoder), (TInfo{3, 0, 1, 1, 1, 0, 1, 2, 0}));
    EXPECT_EQ(decoder.FileSize(), std::int64_t(fs::file_size(path)));

    decoder.Attach(context);  // the same context again: nothing happens
    EXPECT_EQ(decoder.FileName(), path);

    decoder.Attach(nullptr);
    EXPECT_EQ(decoder.Context(), nullptr);
    EXPECT_EQ(InfoOf(decoder), kUnknown);
    decoder.Attach(context);
  }
  // Still open and readable (AddressSanitizer would see a freed context here).
  EXPECT_EQ(context->nb_streams, 3u);
  AVPacket* packet = ff::av_packet_alloc();
  EXPECT_GE(ff::av_read_frame(context, packet), 0);
  ff::av_packet_free(&packet);
  ff::avformat_close_input(&context);
}

// A context without I/O knows no size: the size of the file its name names counts.
TEST_F(FFDecode, SizeFromDiskWhenTheContextHasNone) {
  test::TTempDir dir;
  const std::string colonName = dir.File("a:b.bin");
  test::WriteFile(colonName, std::string(1234, 'x'));
  struct TRow {
    std::string Url;
    std::int64_t Size;
  };
  const TRow rows[] = {
      {test::Fixture("sample.mpg"), std::int64_t(fs::file_size(test::Fixture("sample.mpg")))},
      {std::string("unicode:utf8:") + colonName, 1234},
      {dir.File("missing.bin"), -1},
      {dir.Path().string(), -1},  // a folder has no size
  };
  for (const TRow& row : rows) {
    SCOPED_TRACE(row.Url);
    AVFormatContext* context = ff::avformat_alloc_context();
    ASSERT_NE(context, nullptr);
    context->url = ff::av_strdup(row.Url.c_str());
    TFFDecoder decoder;
    decoder.Attach(context);
    EXPECT_EQ(decoder.FileSize(), row.Size);
    EXPECT_EQ(InfoOf(decoder), (TInfo{0, 0, 0, 0, 0, -1, -1, -1, -1}));
    decoder.Close();
    ff::avformat_free_context(context);
  }
}

// Each case runs in its own process, so the libraries named here are the only ones loaded.
TEST(FFDecodeLibraries, MissingLibraryIsNamed) {
  struct TRow {
    std::vector<TLibrary> Loaded;
    const char* Message;
  };
  const TRow rows[] = {
      {{}, "LibAVCodec not loaded."},
      {{libAVUtil, libSwScale}, "LibAVCodec not loaded."},
      {{libAVCodec}, "LibAVFormat not loaded."},
      {{libAVCodec, libAVFormat}, "LibAVUtil not loaded."},
      {{libAVCodec, libAVFormat, libAVUtil}, "LibSwScale not loaded."},
  };
  TFFLoader& loader = FFLoader();
  loader.LibraryPath.clear();
  for (const TRow& row : rows) {
    loader.UnloadLibs(kAllLibraries);
    for (TLibrary lib : row.Loaded) ASSERT_TRUE(loader.LoadLib(lib)) << loader.LastErrorText();
    TFFDecoder decoder;
    EXPECT_EQ(test::RaisedMessage([&] { decoder.Open(test::Fixture("sample.mpg")); }), row.Message);
    EXPECT_EQ(test::RaisedMessage([&] { decoder.Attach(nullptr); }), row.Message);
    EXPECT_EQ(InfoOf(decoder), kUnknown);
  }
  loader.UnloadLibs(kAllLibraries);
}

}  // namespace
}  // namespace tovamo
