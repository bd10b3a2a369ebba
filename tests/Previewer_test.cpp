// The previewer: caption texts, the window's life on the main thread, and the closed flag,
// with a recording window in place of the converter's; last, the engine's own preview.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Components/Previewer.h"
#include "Engine/FFmpeg.h"
#include "Services/Bitmap.h"
#include "Services/FFHeaders.h"
#include "Services/MainThread.h"
#include "support/EngineJob.h"
#include "support/TestSupport.h"

namespace tovamo {
namespace {

// What the recording windows saw; shared with the test after the windows are gone.
struct TWindowLog {
  int Created = 0;
  int Destroyed = 0;
  int CreatedWidth = 0;
  int CreatedHeight = 0;
  std::vector<std::string> Captions;
  std::vector<int> ShownWidths;
  bool Closed = false;
  int CloseAfter = -1;          // the user closes the window after this many frames
  bool AllOnMainThread = true;  // every window call came on the main thread
};

class TRecordingWindow : public TPreviewWindow {
 public:
  explicit TRecordingWindow(std::shared_ptr<TWindowLog> log) : Log_(std::move(log)) {}
  ~TRecordingWindow() override {
    Log_->AllOnMainThread &= IsMainThread();
    ++Log_->Destroyed;
  }
  void ShowBitmap(const TBitmap& bitmap) override {
    Log_->AllOnMainThread &= IsMainThread();
    Log_->ShownWidths.push_back(bitmap.Width());
    if (int(Log_->ShownWidths.size()) == Log_->CloseAfter) Log_->Closed = true;
  }
  void SetCaption(const std::string& caption) override {
    Log_->AllOnMainThread &= IsMainThread();
    Log_->Captions.push_back(caption);
  }
  bool ClosedByUser() const override {
    Log_->AllOnMainThread &= IsMainThread();
    return Log_->Closed;
  }

 private:
  std::shared_ptr<TWindowLog> Log_;
};

TPreviewWindowFactory RecordingFactory(const std::shared_ptr<TWindowLog>& log) {
  return [log](int width, int height) -> std::unique_ptr<TPreviewWindow> {
    log->AllOnMainThread &= IsMainThread();
    ++log->Created;
    log->CreatedWidth = width;
    log->CreatedHeight = height;
    return std::make_unique<TRecordingWindow>(log);
  };
}

void MakeBitmap(TBitmap& bitmap, int width, int height) {
  bitmap.SetBitsPerPixel(24);
  bitmap.SetSize(width, height);
}

TEST(Previewer, CaptionShowsTheFrameTime) {
  struct TRow {
    std::int64_t Pts;
    const char* Caption;
  };
  const TRow rows[] = {
      {0, "00:00:00.000"},          {999, "00:00:00.000"},  // below a millisecond
      {1000, "00:00:00.001"},       {59999999, "00:00:59.999"},
      {60000000, "00:01:00.000"},   {3599999999, "00:59:59.999"},
      {3725000000, "01:02:05.000"}, {360000000000, "100:00:00.000"},  // hours take a third digit
      {AV_NOPTS_VALUE, "N/A"},
  };
  auto log = std::make_shared<TWindowLog>();
  TPreviewer previewer(RecordingFactory(log));
  TBitmap bitmap;
  MakeBitmap(bitmap, 16, 8);
  std::vector<std::string> expected;
  for (const TRow& row : rows) {
    EXPECT_EQ(TPreviewer::CaptionText(row.Pts), row.Caption) << row.Pts;
    EXPECT_TRUE(previewer.Preview(bitmap, row.Pts));
    expected.push_back(row.Caption);
  }
  EXPECT_EQ(log->Captions, expected);
}

TEST(Previewer, OneWindowSizedToTheFirstFrame) {
  auto log = std::make_shared<TWindowLog>();
  {
    TPreviewer previewer(RecordingFactory(log));
    TBitmap first, second;
    MakeBitmap(first, 320, 180);
    MakeBitmap(second, 160, 120);
    EXPECT_EQ(log->Created, 0);  // no window until the first frame
    EXPECT_TRUE(previewer.Preview(first, 7, 40000));
    EXPECT_EQ(previewer.Value(), 7);
    EXPECT_EQ(previewer.Time(), 40000);
    EXPECT_TRUE(previewer.Preview(second, 80000));
    EXPECT_EQ(log->Created, 1);
    EXPECT_EQ(log->CreatedWidth, 320);
    EXPECT_EQ(log->CreatedHeight, 180);
    EXPECT_EQ(log->ShownWidths, (std::vector<int>{320, 160}));
    EXPECT_EQ(log->Destroyed, 0);
  }
  EXPECT_EQ(log->Destroyed, 1);  // freed with the previewer
}

TEST(Previewer, ClosedWindowRefusesEveryLaterFrame) {
  struct TRow {
    int CloseAfter;  // frames shown before the user closes the window
    int Frames;      // frames offered
    int Accepted;    // Preview calls that returned true
  };
  const TRow rows[] = {{1, 4, 1}, {3, 6, 3}, {-1, 5, 5}};
  for (const TRow& row : rows) {
    auto log = std::make_shared<TWindowLog>();
    log->CloseAfter = row.CloseAfter;
    TPreviewer previewer(RecordingFactory(log));
    TBitmap bitmap;
    MakeBitmap(bitmap, 8, 8);
    int accepted = 0;
    std::vector<bool> results;
    for (int i = 0; i < row.Frames; ++i) results.push_back(previewer.Preview(bitmap, i * 1000));
    for (bool r : results) accepted += r;
    EXPECT_EQ(accepted, row.Accepted) << row.CloseAfter;
    // The accepted frames come first: once refused, never accepted again.
    for (int i = 0; i < row.Frames; ++i) EXPECT_EQ(results[i], i < row.Accepted) << i;
    EXPECT_EQ(previewer.Closed(), row.CloseAfter > 0);
    EXPECT_EQ(int(log->ShownWidths.size()), row.Accepted);
    EXPECT_EQ(log->Created, 1);
  }
}

TEST(Previewer, NoWindowMeansClosed) {
  TPreviewer none(nullptr);
  TPreviewer refusing([](int, int) { return std::unique_ptr<TPreviewWindow>(); });
  TBitmap bitmap;
  MakeBitmap(bitmap, 8, 8);
  for (TPreviewer* previewer : {&none, &refusing}) {
    EXPECT_FALSE(previewer->Preview(bitmap, 0));
    EXPECT_FALSE(previewer->Preview(bitmap, 1000));
    EXPECT_TRUE(previewer->Closed());
  }
}

TEST(Previewer, WorkerFramesAreShownOnTheMainThread) {
  auto log = std::make_shared<TWindowLog>();
  log->CloseAfter = 3;
  auto previewer = std::make_unique<TPreviewer>(RecordingFactory(log));
  std::atomic<bool> done{false};
  std::vector<bool> results;
  std::thread worker([&] {
    TBitmap bitmap;
    MakeBitmap(bitmap, 32, 24);
    for (int i = 0; i < 5; ++i) results.push_back(previewer->Preview(bitmap, i * 1000000));
    previewer.reset();  // as the engine frees it: the window goes on the main thread
    done = true;
  });
  while (!done) WaitAndServeMainThreadQueue(20);
  worker.join();
  EXPECT_EQ(results, (std::vector<bool>{true, true, true, false, false}));
  EXPECT_EQ(log->Captions,
            (std::vector<std::string>{"00:00:00.000", "00:00:01.000", "00:00:02.000"}));
  EXPECT_EQ(log->Destroyed, 1);
  EXPECT_TRUE(log->AllOnMainThread);
}

TEST(Previewer, InstalledAsTheEnginesPreview) {
  auto log = std::make_shared<TWindowLog>();
  InstallPreviewer(RecordingFactory(log));
  ASSERT_NE(PreviewSinkFactory(), nullptr);
  std::unique_ptr<TPreviewSink> sink = PreviewSinkFactory()();
  ASSERT_NE(dynamic_cast<TPreviewer*>(sink.get()), nullptr);
  TBitmap bitmap;
  MakeBitmap(bitmap, 8, 8);
  EXPECT_TRUE(sink->Preview(bitmap, 3725000000));
  EXPECT_EQ(log->Captions, (std::vector<std::string>{"01:02:05.000"}));
  InstallPreviewer(nullptr);
  EXPECT_EQ(PreviewSinkFactory(), nullptr);
}

// A real job with the internal preview on: the user closes the window after four frames,
// the job goes on to its end, and the window is freed on the main thread.
TEST(Previewer, EngineStopsPreviewingWhenTheWindowIsClosed) {
  test::LoadSystemLibraries();
  test::TTempDir dir;
  auto log = std::make_shared<TWindowLog>();
  log->CloseAfter = 4;
  InstallPreviewer(RecordingFactory(log));
  {
    TFFmpeg engine(2);
    test::TEndWaiter waiter(engine);
    ASSERT_TRUE(engine.OpenInputFile(test::Fixture("sample.mpg"))) << engine.LastError;
    engine.PreviewInterval = 0;
    engine.SetPreviewFlags(1);
    engine.ParseOption("an", "");
    ASSERT_EQ(engine.AddOutputFile(dir.File("out.mpg"), false), 1) << engine.LastError;
    if (engine.Start(true)) engine.Resume();
    // The preview hands its window work to this thread: serve it until the job ends.
    while (!waiter.Wait(std::chrono::seconds(0))) WaitAndServeMainThreadQueue(20);
    const auto result = waiter.Result();
    EXPECT_TRUE(result.Finished) << result.Message;
  }
  InstallPreviewer(nullptr);
  EXPECT_EQ(log->Created, 1);
  EXPECT_EQ(log->CreatedWidth, 160);
  EXPECT_EQ(log->CreatedHeight, 120);
  EXPECT_EQ(log->ShownWidths.size(), 4u);
  EXPECT_EQ(log->Destroyed, 1);
  EXPECT_TRUE(log->AllOnMainThread);
}

}  // namespace
}  // namespace tovamo
