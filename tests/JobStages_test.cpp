// A job's work as stages on threads of their own: the same bytes as the one-thread path for
// the same settings and codec threads; decoding and encoding on different threads; a stage
// that fails ends the job with its own message and leaves no thread behind; and the queue
// between the stages, which must never leave a thread blocked after a failure.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <thread>

#include "Components/CodecThreads.h"
#include "Engine/FFmpeg.h"
#include "Engine/JobPipeline.h"
#include "Engine/StageQueue.h"
#include "Services/FFBindings.h"
#include "Services/FFLog.h"
#include "Services/UnicodeProtocol.h"
#include "support/EngineJob.h"
#include "support/MediaProbe.h"
#include "support/TestSupport.h"

namespace tovamo {
namespace {

using test::TEndWaiter;
namespace fs = std::filesystem;

class JobStages : public ::testing::Test {
 protected:
  void SetUp() override { test::LoadSystemLibraries(); }

  // Converts `input` with two codec threads and the stages on or off; the job's result.
  test::TJobResult Convert(const std::string& input, const std::string& output, TStagePolicy stages,
                           const std::function<void(TFFmpeg&)>& configure) {
    TFFmpeg engine(2);
    TEndWaiter waiter(engine);
    engine.Stages = stages;
    engine.ParseOption("threads", "2");  // before the open: the decoder takes it there
    if (!engine.OpenInputFile(test::Fixture(input))) return {true, false, true, engine.LastError};
    configure(engine);
    if (engine.AddOutputFile(output, false) != 1) return {true, false, true, engine.LastError};
    return waiter.Run();
  }

  test::TTempDir Dir;
};

std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct TSameBytesCase {
  const char* Name;
  const char* Input;
  std::function<void(TFFmpeg&)> Configure;
};

TEST_F(JobStages, WriteTheSameBytesAsTheOneThreadPath) {
  const auto target = [](const char* target, const char* norm) {
    return [=](TFFmpeg& e) { e.SetTarget(target, norm, "pal"); };
  };
  std::vector<TSameBytesCase> cases = {
      {"dvd from H.264 and AAC", "sample.mp4", target("dvd", "pal")},
      {"vcd from B-frames, scaled and retimed", "bframes.avi", target("vcd", "ntsc")},
      {"svcd 16:9, padded", "sample.mov",
       [](TFFmpeg& e) {
         e.SetTarget("svcd", "pal", "pal");
         e.ParseOption("aspect", "16:9");
       }},
      {"audio copied beside encoded video", "sample.avi",
       [](TFFmpeg& e) {
         e.ParseOption("vcodec", "mpeg1video");
         e.ParseOption("acodec", "copy");
       }},
      {"audio and video sync methods", "vfr.mkv",
       [](TFFmpeg& e) {
         e.SetTarget("dvd", "pal", "pal");
         e.ParseOption("async", "1");
         e.ParseOption("vsync", "1");
       }},
      {"subtitles beside the stages", "subtitle.mkv", target("dvd", "ntsc")},
      {"a jump of hours stepped over", "jump_hours.mkv", target("dvd", "pal")},
      {"sound alone", "audio_only.wav", target("dvd", "pal")},
      {"pictures alone", "video_only.avi", target("svcd", "ntsc")},
      // What a damaged picture leaves undecoded is black, not what a reused buffer held.
      {"a JPEG cut short", "mjpeg_cut.avi", target("vcd", "pal")},
  };
  // libx264's rate control with a buffer limit gives other bytes from run to run on two
  // threads of its own, stages or not; on one it repeats itself, and so must the stages.
  if (ff::avcodec_find_encoder_by_name("libx264"))
    cases.push_back({"MP4 for pocket players: H.264 and AAC", "sample.mp4", [](TFFmpeg& e) {
                       e.ParseOption("threads", "1");
                       e.ParseOption("f", "mp4");
                       e.ParseOption("vcodec", "libx264");
                       e.ParseOption("vpre", "ipod320");
                       e.ParseOption("s", "320x240");
                       e.ParseOption("b", "768k");
                       e.ParseOption("acodec", "aac");
                       e.ParseOption("movflags", "+faststart");
                     }});
  for (const TSameBytesCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string alone = Dir.File("alone.mpg");
    const std::string staged = Dir.File("staged.mpg");
    const auto one = Convert(c.Input, alone, TStagePolicy::kOff, c.Configure);
    ASSERT_TRUE(one.Finished) << one.Message;
    const auto many = Convert(c.Input, staged, TStagePolicy::kOn, c.Configure);
    ASSERT_TRUE(many.Finished) << many.Message;
    const std::string expected = Bytes(alone);
    ASSERT_GT(expected.size(), 2048u);
    EXPECT_TRUE(Bytes(staged) == expected) << "the staged output differs";
  }
}

TEST_F(JobStages, DecodeAndEncodeOnThreadsOfTheirOwn) {
  for (const TStagePolicy stages : {TStagePolicy::kOff, TStagePolicy::kOn}) {
    SCOPED_TRACE(stages == TStagePolicy::kOn ? "stages" : "one thread");
    std::set<std::uint32_t> inputThreads, outputThreads;
    int inputs = 0, outputs = 0;
    const auto result = Convert("sample.mpg", Dir.File("out.mpg"), stages, [&](TFFmpeg& e) {
      e.SetTarget("vcd", "pal", "pal");
      e.OnVideoInputHook = [&](TCustomFFmpeg*, THookInfo* info) {
        inputThreads.insert(CurrentThreadId());
        ++inputs;
        info->Update = false;
      };
      e.OnVideoOutputHook = [&](TCustomFFmpeg*, THookInfo* info) {
        outputThreads.insert(CurrentThreadId());
        ++outputs;
        info->Update = false;
      };
    });
    ASSERT_TRUE(result.Finished) << result.Message;
    EXPECT_EQ(inputs, 50);  // 2 s at 25 frames/s, every picture on both hooks
    EXPECT_EQ(outputs, 50);
    ASSERT_EQ(inputThreads.size(), 1u);
    ASSERT_EQ(outputThreads.size(), 1u);
    EXPECT_EQ(*inputThreads.begin() != *outputThreads.begin(), stages == TStagePolicy::kOn);
  }
}

TEST_F(JobStages, APauseHoldsEveryStage) {
  TFFmpeg engine(2);
  TEndWaiter waiter(engine);
  engine.Stages = TStagePolicy::kOn;
  ASSERT_TRUE(engine.OpenInputFile(test::Fixture("long_5s.mpg")));  // 125 pictures
  engine.SetTarget("vcd", "pal", "pal");
  std::atomic<int> encoded{0};
  engine.OnVideoOutputHook = [&](TCustomFFmpeg* sender, THookInfo* info) {
    if (++encoded == 1) sender->Pause();  // from the encoding stage's own thread
    info->Update = false;
  };
  ASSERT_EQ(engine.AddOutputFile(Dir.File("out.mpg"), false), 1);
  ASSERT_TRUE(engine.Start(true));
  engine.Resume();  // lets the worker begin
  for (int i = 0; i < 3000 && encoded == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_GT(encoded, 0);
  // The reader stops at once; the stages finish what they hold in hand, not their queues.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const int whilePaused = encoded;
  EXPECT_LE(whilePaused, 3);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(encoded, whilePaused);
  engine.Resume();
  ASSERT_TRUE(waiter.Wait(std::chrono::seconds(60)));
  EXPECT_TRUE(waiter.Result().Finished) << waiter.Result().Message;
  EXPECT_EQ(encoded, 125);
}

TEST_F(JobStages, ARefusedWriteEndsTheJobWithItsReason) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  for (const TStagePolicy stages : {TStagePolicy::kOff, TStagePolicy::kOn}) {
    SCOPED_TRACE(stages == TStagePolicy::kOn ? "stages" : "one thread");
    const auto result = Convert("long_5s.mpg", "/dev/full", stages,
                                [](TFFmpeg& e) { e.SetTarget("dvd", "pal", "pal"); });
    ASSERT_TRUE(result.Ended);
    EXPECT_FALSE(result.Finished);
    EXPECT_TRUE(result.Error);
    EXPECT_NE(result.Message.find("No space left on device"), std::string::npos) << result.Message;
  }
}

TEST_F(JobStages, ComeWithCodecThreadsWhichOnlySpareCoresGive) {
  // A job with one codec thread keeps to one thread; with more it runs in stages.
  for (const auto& [threads, apart] : {std::pair{"1", false}, std::pair{"2", true}}) {
    SCOPED_TRACE(threads);
    TFFmpeg engine(2);
    TEndWaiter waiter(engine);
    engine.ParseOption("threads", threads);
    ASSERT_TRUE(engine.OpenInputFile(test::Fixture("sample.mpg")));
    engine.SetTarget("vcd", "pal", "pal");
    std::set<std::uint32_t> threadsSeen;
    engine.OnVideoInputHook = [&](TCustomFFmpeg*, THookInfo* info) {
      threadsSeen.insert(CurrentThreadId());
      info->Update = false;
    };
    engine.OnVideoOutputHook = engine.OnVideoInputHook;
    ASSERT_EQ(engine.AddOutputFile(Dir.File("out.mpg"), false), 1);
    ASSERT_TRUE(waiter.Run().Finished);
    if (StagePolicy() == TStagePolicy::kAuto) {
      EXPECT_EQ(threadsSeen.size(), apart ? 2u : 1u);
    }
  }
  // Tasks that fill the cores get no codec threads, so no stages either.
  struct TCase {
    int Cores, Running;
    bool UserChose;
    int Threads;
  };
  for (const TCase& c : std::vector<TCase>{{2, 1, false, 2},
                                           {2, 2, false, 0},
                                           {2, 4, false, 0},
                                           {8, 3, false, 2},
                                           {4, 1, true, 0},
                                           {1, 1, false, 0}})
    EXPECT_EQ(CodecThreadsPerTask(c.Cores, c.Running, c.UserChose), c.Threads)
        << c.Cores << " cores, " << c.Running << " running";
}

struct TStopCase {
  const char* Name;
  std::string Input;
  std::function<void(TFFmpeg&)> Configure;
  int StopAfter;  // pictures encoded
};

// The last presentation time of a stream of the file, in seconds.
double StreamEnd(const test::TMediaInfo& info, int type) {
  std::int64_t end = INT64_MIN;
  for (const test::TPacketInfo& packet : info.PacketsOf(info.StreamOfType(type)))
    end = std::max(end, packet.Pts);
  return double(end) / 1e6;
}

TEST_F(JobStages, AStopDropsWhatWaitsAndEndsEveryStreamTogether) {
  std::vector<TStopCase> cases = {
      {"vcd", test::Fixture("two_audio.mkv"), [](TFFmpeg& e) { e.SetTarget("vcd", "pal", "pal"); },
       10},
      // The pictures of a 24-megapixel camera, each a quarter of a second to decode.
      {"camera pictures to mpeg", test::FixtureOnRequest("camera_24mp.avi"),
       [](TFFmpeg& e) { e.SetTarget("dvd", "pal", "pal"); }, 1},
  };
  if (ff::avcodec_find_encoder_by_name("libx264"))
    cases.push_back({"mp4: libx264 holds pictures back", test::Fixture("two_audio.mkv"),
                     [](TFFmpeg& e) {
                       e.ParseOption("f", "mp4");
                       e.ParseOption("vcodec", "libx264");
                       e.ParseOption("s", "320x240");
                       e.ParseOption("acodec", "aac");
                     },
                     10});
  for (const TStopCase& c : cases) {
    for (const TStagePolicy stages : {TStagePolicy::kOff, TStagePolicy::kOn}) {
      SCOPED_TRACE(std::string(c.Name) +
                   (stages == TStagePolicy::kOn ? ", stages" : ", one thread"));
      TFFmpeg engine(2);
      TEndWaiter waiter(engine);
      engine.Stages = stages;
      engine.ParseOption("threads", "2");
      ASSERT_TRUE(engine.OpenInputFile(c.Input));
      c.Configure(engine);
      std::atomic<int> decoded{0}, encoded{0}, decodedAtStop{-1};
      engine.OnVideoInputHook = [&](TCustomFFmpeg*, THookInfo* info) {
        ++decoded;
        info->Update = false;
      };
      engine.OnVideoOutputHook = [&](TCustomFFmpeg* sender, THookInfo* info) {
        if (++encoded == c.StopAfter) {
          decodedAtStop = decoded.load();
          sender->StopRunning(false);
        }
        info->Update = false;
      };
      const std::string output = Dir.File("stopped.out");
      ASSERT_EQ(engine.AddOutputFile(output, false), 1);
      const test::TJobResult result = waiter.Run();
      ASSERT_TRUE(result.Ended);
      EXPECT_FALSE(result.Finished);
      EXPECT_FALSE(result.Error) << result.Message;
      // What was read ahead is dropped, not decoded: the pictures in hand at most.
      EXPECT_LE(decoded - decodedAtStop, 2) << "of " << decoded;
      const test::TMediaInfo info = test::ProbeMedia(output);
      ASSERT_TRUE(info.Opened);
      const double frame = 1 / 25.0;                      // the inputs' rate and PAL's
      EXPECT_GE(StreamEnd(info, AVMEDIA_TYPE_VIDEO), 0);  // some picture is kept
      if (info.StreamOfType(AVMEDIA_TYPE_AUDIO) >= 0) {
        // Within the pictures an encoder reorders (libx264's B-frames: 3) and the sound's
        // own frame (1152 samples at most here): a stream ends at a picture that is not
        // shown after the others' end, and pictures after it in decoding order may need it.
        EXPECT_NEAR(StreamEnd(info, AVMEDIA_TYPE_VIDEO), StreamEnd(info, AVMEDIA_TYPE_AUDIO),
                    3 * frame + 1152 / 44100.0);
      }
    }
  }
}

// A stop asked while a picture is on its way to the file, on the thread that writes it:
// the job ends stopped with its output whole. The stop check that cuts a blocking read
// short must not cut the writes of that picture, or the trailer, short. Stopping at each
// of the first pictures in turn reaches the moments when the output's buffer is written.
TEST_F(JobStages, AStopWhileAPictureIsWrittenIsAStopNotAFailure) {
  for (const TStagePolicy stages : {TStagePolicy::kOff, TStagePolicy::kOn}) {
    for (int at = 1; at <= 12; ++at) {
      SCOPED_TRACE(std::string(stages == TStagePolicy::kOn ? "stages" : "one thread") +
                   ", stopped at picture " + std::to_string(at));
      // MP4 with one stream writes each coded picture at once, and at this size and rate
      // every picture fills the output's buffer: the writes of the picture being stopped
      // at reach the file.
      const std::string out = Dir.File("stopped.mp4");
      std::atomic<int> pictures{0};
      // Named as the encoder component names files, through the program's own protocol.
      const test::TJobResult result =
          Convert("long_5s.mpg", ToFFmpegName(out), stages, [&](TFFmpeg& engine) {
            engine.ParseOption("f", "mp4");
            engine.ParseOption("vcodec", "mpeg4");
            engine.ParseOption("s", "720x576");
            engine.ParseOption("b", "20000k");
            engine.ParseOption("an", "");
            engine.OnVideoOutputHook = [&](TCustomFFmpeg* sender, THookInfo* info) {
              if (++pictures == at) sender->Stop(false);
              info->Update = false;
            };
          });
      EXPECT_TRUE(result.Ended);
      EXPECT_FALSE(result.Error) << result.Message;
      EXPECT_FALSE(result.Finished);
      EXPECT_GT(fs::file_size(out), 0u);
    }
  }
}

TEST(StageQueue, AbortWakesEveryWaiterAndCloseLetsTheRestBeTaken) {
  {
    TStageQueue<int> queue(1);
    ASSERT_TRUE(queue.Push(1));
    std::atomic<int> pushed{-1};
    std::thread producer([&] { pushed = queue.Push(2); });  // waits: the queue is full
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    queue.Abort();
    producer.join();
    EXPECT_EQ(pushed, 0);
    EXPECT_FALSE(queue.Pop());
  }
  {
    TStageQueue<int> queue(4);
    std::optional<int> popped = 7;
    std::thread consumer([&] { popped = queue.Pop(); });  // waits: the queue is empty
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    queue.Abort();
    consumer.join();
    EXPECT_FALSE(popped);
  }
  {
    TStageQueue<int> queue(0);  // unbounded
    for (int i = 0; i < 100; ++i) ASSERT_TRUE(queue.Push(i));
    queue.Close();
    EXPECT_FALSE(queue.Push(100));
    int taken = 0;
    while (std::optional<int> item = queue.Pop()) EXPECT_EQ(*item, taken++);
    EXPECT_EQ(taken, 100);
  }
}

TStageItem PacketOfBytes(int size) {
  TStageItem item(TStageItem::kPacket);
  item.Packet = ff::av_packet_alloc();
  EXPECT_EQ(ff::av_new_packet(item.Packet, size), 0);
  return item;
}

TEST(StageQueue, HoldsNoMoreBytesThanItsLimitButAlwaysOneItem) {
  test::LoadSystemLibraries();
  TStageQueue<TStageItem> queue(64, 1000);
  ASSERT_TRUE(queue.Push(PacketOfBytes(5000)));  // an empty queue takes any one item
  std::atomic<bool> pushed{false};
  std::thread producer([&] { pushed = queue.Push(PacketOfBytes(600)); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(pushed) << "a slot was free, but not the bytes";
  EXPECT_EQ(queue.Pop()->Packet->size, 5000);
  producer.join();
  EXPECT_TRUE(pushed);
  ASSERT_TRUE(queue.Push(PacketOfBytes(400)));  // 600 + 400 fit
  // A stop drops what waits, and the producers carry on to their end.
  queue.Discard();
  EXPECT_FALSE(queue.Pop());
  EXPECT_TRUE(queue.Push(PacketOfBytes(600)));
  EXPECT_FALSE(queue.Pop());
}

}  // namespace
}  // namespace tovamo
