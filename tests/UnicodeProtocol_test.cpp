#include "Services/UnicodeProtocol.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "Services/FFBindings.h"
#include "support/TestSupport.h"
#include "support/TestTime.h"

namespace tovamo {
namespace {

using test::TTempDir;
using namespace std::chrono_literals;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string Pattern(std::size_t size) {
  std::string s(size, '\0');
  for (std::size_t i = 0; i < size; ++i) s[i] = char((i * 7 + i / 251) & 0xFF);
  return s;
}

// A mono 16-bit PCM WAV file, written byte by byte.
void WriteWav(const std::string& path, int sampleRate, int samples) {
  std::string d;
  auto u32 = [&](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) d += char((v >> (8 * i)) & 0xFF);
  };
  auto u16 = [&](std::uint16_t v) {
    d += char(v & 0xFF);
    d += char(v >> 8);
  };
  const std::uint32_t dataSize = std::uint32_t(samples) * 2;
  d += "RIFF";
  u32(36 + dataSize);
  d += "WAVEfmt ";
  u32(16);
  u16(1);  // PCM
  u16(1);  // mono
  u32(std::uint32_t(sampleRate));
  u32(std::uint32_t(sampleRate) * 2);
  u16(2);
  u16(16);
  d += "data";
  u32(dataSize);
  for (int i = 0; i < samples; ++i) u16(std::uint16_t(i % 40 < 20 ? 8000 : -8000));
  test::WriteFile(path, d);
}

// Changes the working folder for a scope.
class TCwd {
 public:
  explicit TCwd(const std::filesystem::path& dir) : Old_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir);
  }
  ~TCwd() { std::filesystem::current_path(Old_); }

 private:
  std::filesystem::path Old_;
};

// ---- names -------------------------------------------------------------------------------

TEST(UnicodeNames, FFmpegNameTable) {
  const std::string u = kUnicodeNamePrefix;
  const struct {
    std::string Name;
    std::string FFmpeg;
  } cases[] = {
      {"/home/user/clip.avi", "/home/user/clip.avi"},
      {"clip.avi", "clip.avi"},
      {"/home/user/Видео/клип 1.avi", "/home/user/Видео/клип 1.avi"},
      {"/home/user/\xF0\x9F\x8E\xAC.mp4", "/home/user/\xF0\x9F\x8E\xAC.mp4"},
      // FFmpeg would take "my" as the protocol.
      {"my:clip.avi", u + "my:clip.avi"},
      {"/tmp/a:b/clip.avi", u + "/tmp/a:b/clip.avi"},
      {":clip.avi", u + ":clip.avi"},
      {"HTTP://x/y", u + "HTTP://x/y"},  // protocol names are matched exactly
      {"httpx://x/y", u + "httpx://x/y"},
      // Not UTF-8: a stray byte, an overlong '/', a surrogate, a cut sequence.
      {"/tmp/clip\xFF.avi", u + "/tmp/clip\xFF.avi"},
      {"/tmp/\xC0\xAF.avi", u + "/tmp/\xC0\xAF.avi"},
      {"/tmp/\xED\xA0\x80.avi", u + "/tmp/\xED\xA0\x80.avi"},
      {"/tmp/clip\xD0", u + "/tmp/clip\xD0"},
      {"", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(NeedsUnicodeName(c.Name), c.FFmpeg != c.Name);
    EXPECT_EQ(ToFFmpegName(c.Name), c.FFmpeg);
    EXPECT_EQ(FromFFmpegName(c.FFmpeg), c.Name);
  }
}

TEST(UnicodeNames, ProtocolUrlsStayAsTheyAre) {
  for (const char* url :
       {"unicode:utf8:/tmp/x.avi", "stream:1", "gopher://host/x", "http://x/y", "pipe:0",
        "rtp://127.0.0.1:5004", "tcp://127.0.0.1:1234", "udp://127.0.0.1:1234",
        "https://host/clip.mp4", "file:/tmp/clip.avi", "rtmp://host/live", "rtsp://host/cam",
        "ftp://host/clip.avi", "srt://127.0.0.1:9000", "data:video/mp4;base64,AAAA"}) {
    SCOPED_TRACE(url);
    EXPECT_FALSE(NeedsUnicodeName(url));
    EXPECT_EQ(ToFFmpegName(url), url);
  }
}

TEST(UnicodeNames, FromFFmpegNameUnwrapsOnlyCompleteUnicodeNames) {
  const struct {
    std::string In, Out;
    bool Unicode;
  } cases[] = {
      {"unicode:utf8:", "unicode:utf8:", false},  // 13 bytes: nothing behind the prefix
      {"unicode:utf8:x", "x", true},
      {"unicode:utf8::", ":", true},
      {"unicode:utf8:unicode:utf8:/a", "unicode:utf8:/a", true},  // one level only
      {"unicode:utf16:/a", "unicode:utf16:/a", false},
      {"Unicode:utf8:/a", "Unicode:utf8:/a", false},
      {"/plain/path.avi", "/plain/path.avi", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.In);
    EXPECT_EQ(FromFFmpegName(c.In), c.Out);
    EXPECT_EQ(IsUnicodeName(c.In), c.Unicode);
  }
}

TEST(UnicodeNames, NamesFFmpegCannotTakeAreRefused) {
  const std::string prefix = kUnicodeNamePrefix;
  // The longest path Linux takes (PATH_MAX with its terminator), counted in the FFmpeg form.
  EXPECT_EQ(ToFFmpegName(std::string(2048, 'a')), std::string(2048, 'a'));
  EXPECT_EQ(ToFFmpegName(std::string(4095, 'a')), std::string(4095, 'a'));
  EXPECT_EQ(ToFFmpegName(std::string(4096, 'a')), "");
  EXPECT_EQ(ToFFmpegName(std::string(6000, 'a')), "");
  const std::string fits = "a:" + std::string(4095 - prefix.size() - 2, 'b');
  EXPECT_EQ(ToFFmpegName(fits), prefix + fits);
  EXPECT_EQ(ToFFmpegName(fits + "b"), "");
  // A NUL byte would make FFmpeg open the name's first part instead.
  EXPECT_EQ(ToFFmpegName(std::string("/tmp/a\0b.avi", 12)), "");
}

// ---- file I/O ----------------------------------------------------------------------------

class UnicodeIO : public ::testing::Test {
 protected:
  void SetUp() override { test::LoadSystemLibraries(); }
  TTempDir Dir;
};

TEST_F(UnicodeIO, WritesAFileAndReadsItBack) {
  const std::string path = Dir.File("out:1 Übung.bin");
  const std::string name = ToFFmpegName(path);
  ASSERT_TRUE(IsUnicodeName(name));
  const std::string data = Pattern(100000);  // several buffers' worth

  AVIOContext* pb = nullptr;
  ASSERT_EQ(OpenUnicodeIO(name, uomWrite, nullptr, &pb), 0);
  ASSERT_NE(pb, nullptr);
  EXPECT_TRUE(std::filesystem::exists(path));  // created on open
  ff::avio_write(pb, reinterpret_cast<const unsigned char*>(data.data()), int(data.size()));
  EXPECT_EQ(CloseUnicodeIO(&pb), 0);
  EXPECT_EQ(pb, nullptr);
  EXPECT_EQ(ReadAll(path), data);

  ASSERT_EQ(OpenUnicodeIO(name, uomRead, nullptr, &pb), 0);
  EXPECT_EQ(pb->seek(pb->opaque, 0, AVSEEK_SIZE), int64_t(data.size()));
  EXPECT_EQ(ff::avio_size(pb), int64_t(data.size()));
  std::string back(data.size(), '\0');
  int got = 0;
  while (got < int(back.size())) {
    const int n = ff::avio_read(pb, reinterpret_cast<unsigned char*>(back.data()) + got,
                                int(back.size()) - got);
    ASSERT_GT(n, 0);
    got += n;
  }
  EXPECT_EQ(back, data);
  unsigned char byte;
  EXPECT_EQ(ff::avio_read(pb, &byte, 1), AVERROR_EOF);

  // Seeking back into the file reads from there.
  ASSERT_EQ(ff::avio_seek(pb, 54321, SEEK_SET), 54321);
  unsigned char some[16];
  ASSERT_EQ(ff::avio_read(pb, some, 16), 16);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(some), 16), data.substr(54321, 16));
  EXPECT_EQ(CloseUnicodeIO(&pb), 0);
  EXPECT_EQ(pb, nullptr);
}

TEST_F(UnicodeIO, WritingModesCreateOrTruncate) {
  for (int mode : {uomWrite, uomReadWrite}) {
    SCOPED_TRACE(mode);
    const std::string path = Dir.File("old:" + std::to_string(mode));
    test::WriteFile(path, std::string(5000, 'x'));
    AVIOContext* pb = nullptr;
    ASSERT_EQ(OpenUnicodeIO(ToFFmpegName(path), mode, nullptr, &pb), 0);
    ff::avio_write(pb, reinterpret_cast<const unsigned char*>("new"), 3);
    EXPECT_EQ(CloseUnicodeIO(&pb), 0);
    EXPECT_EQ(ReadAll(path), "new");

    const std::string fresh = Dir.File("fresh:" + std::to_string(mode));
    ASSERT_EQ(OpenUnicodeIO(ToFFmpegName(fresh), mode, nullptr, &pb), 0);
    EXPECT_EQ(CloseUnicodeIO(&pb), 0);
    EXPECT_TRUE(std::filesystem::exists(fresh));
    EXPECT_EQ(std::filesystem::file_size(fresh), 0u);
  }
}

TEST_F(UnicodeIO, FilesThatCannotBeOpenedGiveTheSystemsReason) {
  std::filesystem::create_symlink(Dir.File("loop:b"), Dir.File("loop:a"));
  std::filesystem::create_symlink(Dir.File("loop:a"), Dir.File("loop:b"));
  std::filesystem::create_directory(Dir.File("folder:out.mpg"));
  test::WriteFile(Dir.File("locked:file.avi"), "x");
  std::filesystem::permissions(Dir.File("locked:file.avi"), std::filesystem::perms::none);
  struct TCase {
    std::string Name;
    int Mode;
    int Result;
  };
  std::vector<TCase> cases = {
      {ToFFmpegName(Dir.File("missing:file.avi")), uomRead, AVERROR(ENOENT)},
      {ToFFmpegName(Dir.File("no:such/folder/out.avi")), uomWrite, AVERROR(ENOENT)},
      {ToFFmpegName(Dir.File("no:such/folder/out.avi")), uomReadWrite, AVERROR(ENOENT)},
      {ToFFmpegName(Dir.Path().string() + "/"), uomRead, AVERROR(EISDIR)},  // a folder is no file
      {ToFFmpegName(Dir.File("folder:out.mpg")), uomWrite, AVERROR(EISDIR)},
      {ToFFmpegName(Dir.File("loop:a")), uomRead, AVERROR(ELOOP)},
      {"unicode:utf8:", uomRead, AVERROR(ENOENT)},
      {ToFFmpegName(Dir.File("x:y")), 3, AVERROR(EINVAL)},
  };
  // Root reads whatever the permissions say.
  if (geteuid() != 0)
    cases.push_back({ToFFmpegName(Dir.File("locked:file.avi")), uomRead, AVERROR(EACCES)});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name + " mode " + std::to_string(c.Mode));
    AVIOContext* pb = reinterpret_cast<AVIOContext*>(&pb);  // must be cleared
    EXPECT_EQ(OpenUnicodeIO(c.Name, c.Mode, nullptr, &pb), c.Result);
    EXPECT_EQ(pb, nullptr);
  }
  EXPECT_FALSE(std::filesystem::exists(Dir.File("missing:file.avi")));

  // No descriptor left: the lowest free one becomes the limit.
  test::WriteFile(Dir.File("many:files.avi"), "x");
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  const int lowest = dup(0);
  ASSERT_GE(lowest, 0);
  close(lowest);
  rlimit low = saved;
  low.rlim_cur = rlim_t(lowest);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
  AVIOContext* pb = nullptr;
  const int tooMany =
      OpenUnicodeIO(ToFFmpegName(Dir.File("many:files.avi")), uomRead, nullptr, &pb);
  setrlimit(RLIMIT_NOFILE, &saved);
  EXPECT_EQ(tooMany, AVERROR(EMFILE));
  EXPECT_EQ(pb, nullptr);
}

// A parked reader holds no descriptor and reads on exactly where it was; a file put in its
// place meanwhile is not read as if it were the one that was opened.
TEST_F(UnicodeIO, AParkedReaderLetsGoOfItsDescriptorAndReadsOnWhereItWas) {
  const std::string path = Dir.File("parked.bin");
  std::string data;
  for (int i = 0; i < 100000; ++i) data += char('a' + i % 26);
  test::WriteFile(path, data);
  auto openDescriptors = [] {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
      (void)entry;
      ++count;
    }
    return count;
  };
  AVIOContext* pb = nullptr;
  ASSERT_EQ(OpenUnicodeIO(path, uomRead, nullptr, &pb), 0);
  std::string read(40000, '\0');
  ASSERT_EQ(ff::avio_read(pb, reinterpret_cast<unsigned char*>(read.data()), 40000), 40000);
  const int open = openDescriptors();
  ASSERT_TRUE(ParkUnicodeIO(pb));
  EXPECT_EQ(openDescriptors(), open - 1);
  EXPECT_EQ(ff::avio_size(pb), std::int64_t(data.size())) << "the size is known while parked";
  EXPECT_EQ(openDescriptors(), open - 1);
  std::string rest(60000, '\0');
  ASSERT_EQ(ff::avio_read(pb, reinterpret_cast<unsigned char*>(rest.data()), 60000), 60000);
  EXPECT_EQ(read + rest, data);
  EXPECT_EQ(openDescriptors(), open);

  ASSERT_EQ(ff::avio_seek(pb, 10, SEEK_SET), 10);
  ASSERT_TRUE(ParkUnicodeIO(pb));
  test::WriteFile(Dir.File("other.bin"), data);  // made while the first exists: its own inode
  std::filesystem::rename(Dir.File("other.bin"), path);
  unsigned char byte = 0;
  ff::avio_seek(pb, 70000, SEEK_SET);
  EXPECT_LT(ff::avio_read(pb, &byte, 1), 0);
  EXPECT_EQ(CloseUnicodeIO(&pb), 0);

  // Writers and pipes keep theirs.
  ASSERT_EQ(OpenUnicodeIO(Dir.File("written.bin"), uomWrite, nullptr, &pb), 0);
  EXPECT_FALSE(ParkUnicodeIO(pb));
  EXPECT_EQ(CloseUnicodeIO(&pb), 0);
}

TEST_F(UnicodeIO, PlainNamesOpenToo) {
  const std::string path = Dir.File("plain.bin");
  test::WriteFile(path, "plain data");
  AVIOContext* pb = nullptr;
  ASSERT_EQ(OpenUnicodeIO(path, uomRead, nullptr, &pb), 0);
  EXPECT_EQ(ff::avio_size(pb), 10);
  EXPECT_EQ(CloseUnicodeIO(&pb), 0);
}

TEST_F(UnicodeIO, CloseReportsAFailedWrite) {
  // /dev/full takes the open and refuses every write with ENOSPC.
  AVIOContext* pb = nullptr;
  ASSERT_EQ(OpenUnicodeIO("unicode:utf8:/dev/full", uomWrite, nullptr, &pb), 0);
  const std::string data = Pattern(1000);
  ff::avio_write(pb, reinterpret_cast<const unsigned char*>(data.data()), int(data.size()));
  EXPECT_EQ(CloseUnicodeIO(&pb), AVERROR(ENOSPC));
  EXPECT_EQ(pb, nullptr);
  EXPECT_EQ(CloseUnicodeIO(&pb), 0);  // nothing left to close
}

TEST_F(UnicodeIO, WaitingReadOnAPipeStopsWhenInterrupted) {
  const std::string path = Dir.File("pipe:in");
  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
  // Holding both ends keeps the reader's open from blocking and its reads from ending.
  const int keep = open(path.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(keep, 0);

  static std::atomic<bool> stop{false};
  static std::atomic<int> polls{0};
  AVIOInterruptCB cb{[](void*) -> int {
                       ++polls;
                       return stop.load() ? 1 : 0;
                     },
                     nullptr};
  AVIOContext* pb = nullptr;
  ASSERT_EQ(OpenUnicodeIO(ToFFmpegName(path), uomRead, &cb, &pb), 0);
  EXPECT_EQ(pb->seekable, 0);

  // Data that arrives is read.
  ASSERT_EQ(write(keep, "abc", 3), 3);
  unsigned char buf[16];
  auto first = std::async(std::launch::async, [&] { return ff::avio_read(pb, buf, 3); });
  ASSERT_EQ(first.wait_for(test::Generous(5s)), std::future_status::ready);
  EXPECT_EQ(first.get(), 3);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 3), "abc");

  // Then nothing arrives: the read waits, asking the callback, until it says stop.
  auto reader = std::async(std::launch::async, [&] { return ff::avio_read(pb, buf, 16); });
  EXPECT_EQ(reader.wait_for(300ms), std::future_status::timeout);
  EXPECT_GT(polls.load(), 1);
  stop = true;
  ASSERT_EQ(reader.wait_for(test::Generous(5s)), std::future_status::ready) << "read did not stop";
  EXPECT_EQ(reader.get(), AVERROR_EXIT);
  EXPECT_EQ(CloseUnicodeIO(&pb), 0);
  close(keep);
}

// ---- opening media through the unicode form -----------------------------------------------

// Opens `ffmpegName` through OpenUnicodeIO as a demuxer's input and reads its streams.
void OpenMedia(const std::string& ffmpegName, AVCodecID expectCodec) {
  AVIOContext* pb = nullptr;
  ASSERT_EQ(OpenUnicodeIO(ffmpegName, uomRead, nullptr, &pb), 0);
  AVFormatContext* ctx = ff::avformat_alloc_context();
  ASSERT_NE(ctx, nullptr);
  ctx->pb = pb;
  ctx->flags |= AVFMT_FLAG_CUSTOM_IO;
  // The name only serves the demuxer's guess by extension.
  const int open =
      ff::avformat_open_input(&ctx, FromFFmpegName(ffmpegName).c_str(), nullptr, nullptr);
  if (open < 0) {
    CloseUnicodeIO(&pb);
    FAIL() << "avformat_open_input: " << open;
  }
  EXPECT_GE(ff::avformat_find_stream_info(ctx, nullptr), 0);
  bool found = false;
  for (unsigned i = 0; i < ctx->nb_streams; ++i)
    found |= ctx->streams[i]->codecpar->codec_id == expectCodec;
  EXPECT_TRUE(found) << "no stream with codec " << expectCodec;
  ff::avformat_close_input(&ctx);
  EXPECT_EQ(ctx, nullptr);
  EXPECT_EQ(CloseUnicodeIO(&pb), 0);  // the custom pb is still ours
}

TEST_F(UnicodeIO, RelativeNameWithColonOpensAsMedia) {
  WriteWav(Dir.File("tone:1.wav"), 8000, 4000);
  TCwd cwd(Dir.Path());

  // As it is, FFmpeg reads "tone" as a protocol.
  AVFormatContext* raw = nullptr;
  EXPECT_EQ(ff::avformat_open_input(&raw, "tone:1.wav", nullptr, nullptr),
            AVERROR_PROTOCOL_NOT_FOUND);
  EXPECT_EQ(raw, nullptr);

  const std::string name = ToFFmpegName("tone:1.wav");
  ASSERT_EQ(name, "unicode:utf8:tone:1.wav");
  OpenMedia(name, AV_CODEC_ID_PCM_S16LE);

  // The stream's properties come through the custom I/O intact.
  AVIOContext* pb = nullptr;
  ASSERT_EQ(OpenUnicodeIO(name, uomRead, nullptr, &pb), 0);
  AVFormatContext* ctx = ff::avformat_alloc_context();
  ctx->pb = pb;
  ctx->flags |= AVFMT_FLAG_CUSTOM_IO;
  ASSERT_EQ(ff::avformat_open_input(&ctx, "tone:1.wav", nullptr, nullptr), 0);
  ASSERT_GE(ff::avformat_find_stream_info(ctx, nullptr), 0);
  ASSERT_EQ(ctx->nb_streams, 1u);
  const AVCodecParameters* par = ctx->streams[0]->codecpar;
  EXPECT_EQ(par->sample_rate, 8000);
  EXPECT_EQ(par->ch_layout.nb_channels, 1);
  EXPECT_NEAR(double(ctx->duration) / AV_TIME_BASE, 0.5, 0.01);
  ff::avformat_close_input(&ctx);
  EXPECT_EQ(CloseUnicodeIO(&pb), 0);
}

TEST_F(UnicodeIO, GeneratedMpegWithColonInItsNameOpens) {
  if (!std::filesystem::exists(test::Fixture("sample.mpg")))
    GTEST_SKIP() << "no generated test media at " << test::FixtureDir();
  const std::string copy = Dir.File("clip: take 2.mpg");
  std::filesystem::copy_file(test::Fixture("sample.mpg"), copy);
  OpenMedia(ToFFmpegName(copy), AV_CODEC_ID_MPEG1VIDEO);
}

}  // namespace
}  // namespace tovamo
