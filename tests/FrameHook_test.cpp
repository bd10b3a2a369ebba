// Frame hooks: adding hook libraries to a chain (with every refusal), running them on
// pictures, releasing them, the example hook's pixels, and the "vhook" option.
//
// The hooks are real shared libraries built with the project: the example "invertbox",
// and "probe", which writes down every call it gets (hooks/probe/probe.c).
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "Engine/FFmpeg.h"
#include "Services/FFBindings.h"
#include "Services/FFOwners.h"
#include "Services/FrameHook.h"
#include "support/LogCapture.h"
#include "support/TestSupport.h"

namespace tovamo {
namespace {

using test::TLogCapture;

const std::string kInvertBox = TOVAMO_INVERTBOX_HOOK;
const std::string kProbe = TOVAMO_PROBE_HOOK;
const std::string kProcessOnly = TOVAMO_PROBE_PROCESS_ONLY_HOOK;
const std::string kNoEntryPoints = TOVAMO_FAKE_LIBRARY;
const std::string kBorrower = TOVAMO_PROBE_BORROWER_HOOK;  // Process only in a library it links

// What a probe library wrote down so far (it must have been loaded by a hook already).
std::string ProbeRecord(const std::string& library = kProbe) {
  void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (!handle) return "<not loaded>";
  const auto record = reinterpret_cast<const char* (*)()>(dlsym(handle, "probe_record"));
  std::string text = record ? record() : "<no record>";
  dlclose(handle);
  return text;
}

std::vector<std::string> RecordLines() {
  std::istringstream in(ProbeRecord());
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

void ClearProbeRecord() {
  if (void* handle = dlopen(kProbe.c_str(), RTLD_NOW | RTLD_NOLOAD)) {
    if (const auto clear = reinterpret_cast<void (*)()>(dlsym(handle, "probe_clear"))) clear();
    dlclose(handle);
  }
}

std::vector<std::string> Words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

std::vector<std::string> Hook(const std::string& library, const std::string& args = "") {
  std::vector<std::string> all{library};
  for (std::string& w : Words(args)) all.push_back(std::move(w));
  return all;
}

using TFramePtr = owned::TFrame;

int PlaneCount(const AVPixFmtDescriptor* desc) {
  int planes = 0;
  for (int c = 0; c < desc->nb_components; ++c) planes = std::max(planes, desc->comp[c].plane + 1);
  return planes;
}

bool IsChromaPlane(const AVPixFmtDescriptor* desc, int plane) {
  return (plane == 1 || plane == 2) && !(desc->flags & AV_PIX_FMT_FLAG_RGB);
}

int PlaneHeight(const AVPixFmtDescriptor* desc, int plane, int height) {
  return IsChromaPlane(desc, plane) ? AV_CEIL_RSHIFT(height, desc->log2_chroma_h) : height;
}

// A picture of its own buffers, every byte of every plane (line padding too) set to a
// pattern that differs from byte to byte.
TFramePtr MakePicture(AVPixelFormat format, int width, int height) {
  TFramePtr frame(ff::av_frame_alloc());
  frame->format = format;
  frame->width = width;
  frame->height = height;
  EXPECT_EQ(ff::av_frame_get_buffer(frame.get(), 0), 0);
  const AVPixFmtDescriptor* desc = ff::av_pix_fmt_desc_get(format);
  for (int p = 0; p < PlaneCount(desc); ++p)
    for (int y = 0; y < PlaneHeight(desc, p, height); ++y)
      for (int x = 0; x < frame->linesize[p]; ++x)
        frame->data[p][y * frame->linesize[p] + x] = std::uint8_t(p * 61 + y * 17 + x * 5 + 3);
  return frame;
}

using TPlanes = std::vector<std::vector<std::uint8_t>>;

TPlanes Snapshot(const AVFrame* frame) {
  const AVPixFmtDescriptor* desc = ff::av_pix_fmt_desc_get(AVPixelFormat(frame->format));
  TPlanes planes;
  for (int p = 0; p < PlaneCount(desc); ++p) {
    const std::uint8_t* data = frame->data[p];
    planes.emplace_back(data, data + frame->linesize[p] * PlaneHeight(desc, p, frame->height));
  }
  return planes;
}

// ---- Adding hooks -------------------------------------------------------------------------

class FrameHooks : public ::testing::Test {
 protected:
  void SetUp() override { test::LoadSystemLibraries(); }
  TLogCapture Log;
};

TEST_F(FrameHooks, RefusalsGiveTheirCodeAndMessageAndLeaveTheChainAsItWas) {
  const struct {
    std::vector<std::string> Args;
    int Code;
    std::string Message;  // the error line, or a part of it for the system's own text
    bool WholeLine;
  } cases[] = {
      {{}, -2, "", true},
      {{"/nonexistent/tovamo/libhook.so"}, -1, "/nonexistent/tovamo/libhook.so", false},
      {{""}, -1, "Frame hook library name is empty", true},
      {{kNoEntryPoints}, -2, "Failed to find Process entrypoint in " + kNoEntryPoints, true},
      {{kBorrower}, -2, "Failed to find Process entrypoint in " + kBorrower, true},
      {{kProcessOnly, "16"}, -2, "Failed to find Configure entrypoint in " + kProcessOnly, true},
      {{kProbe, "fail-clean"}, -22, "Failed to Configure " + kProbe, true},
      {{kInvertBox, "1", "2", "3"}, -22, "Failed to Configure " + kInvertBox, true},
  };
  TFrameHookChain chain;
  ASSERT_EQ(AddFrameHook(chain, {kProbe}), 0);
  const TFrameHookEntry* first = chain.First;
  for (const auto& c : cases) {
    const std::string what = c.Args.empty() ? "(no arguments)" : c.Args[0];
    Log.Clear();
    EXPECT_EQ(AddFrameHook(chain, c.Args), c.Code) << what;
    if (c.Message.empty())
      EXPECT_TRUE(Log.Lines().empty()) << what;
    else if (c.WholeLine)
      EXPECT_EQ(Log.Count(llError, c.Message), 1) << what;
    else
      EXPECT_TRUE(Log.HasPart(llError, c.Message)) << what;
  }
  // Only the first hook is in the chain: one Process per picture.
  EXPECT_EQ(chain.First, first);
  ClearProbeRecord();
  TFramePtr picture = MakePicture(AV_PIX_FMT_GRAY8, 4, 2);
  EXPECT_EQ(ProcessFrameHooks(&chain, picture.get(), 0), 0);
  EXPECT_EQ(ProbeRecord(), "Process #1 fmt=8 4x2 pts=0\n");
}

TEST_F(FrameHooks, ConfigureGetsEveryArgumentAndARefusedContextIsReleased) {
  TFrameHookChain chain;
  EXPECT_EQ(AddFrameHook(chain, {kProbe, "a b", "c"}), 0);
  EXPECT_EQ(AddFrameHook(chain, {kProbe, "x", "fail"}), -22);
  EXPECT_EQ(AddFrameHook(chain, {kProbe, "fail-clean"}), -22);
  const std::string path = "[" + kProbe + "]";
  const std::vector<std::string> expected = {
      "Configure ctx=null argc=3 " + path + " [a b] [c] argv[argc]=null -> #1",
      "Configure ctx=null argc=3 " + path + " [x] [fail] argv[argc]=null -> #2 refused",
      "Release #2",
      "Configure ctx=null argc=2 " + path + " [fail-clean] argv[argc]=null -> refused",
  };
  EXPECT_EQ(RecordLines(), expected);
}

TEST_F(FrameHooks, HooksRunInTheOrderAddedAndAreReleasedOnce) {
  TFrameHookChain chain;
  for (const char* name : {"first", "second", "third"})
    ASSERT_EQ(AddFrameHook(chain, {kProbe, name}), 0);
  ClearProbeRecord();

  TFramePtr picture = MakePicture(AV_PIX_FMT_YUV420P, 16, 8);
  EXPECT_EQ(ProcessFrameHooks(&chain, picture.get(), 1234567), 0);
  EXPECT_EQ(ProcessFrameHooks(&chain, picture.get(), AV_NOPTS_VALUE), 0);
  const std::string fmt = " fmt=" + std::to_string(AV_PIX_FMT_YUV420P) + " 16x8 pts=";
  std::string expected;
  for (const char* pts : {"1234567", "-9223372036854775808"})
    for (int n = 1; n <= 3; ++n) expected += "Process #" + std::to_string(n) + fmt + pts + "\n";
  EXPECT_EQ(ProbeRecord(), expected);
  EXPECT_EQ(picture->data[0][0], 3);  // the last hook's mark

  ClearProbeRecord();
  ReleaseFrameHooks(chain);
  EXPECT_EQ(chain.First, nullptr);
  ReleaseFrameHooks(chain);  // an empty chain: nothing to do
  EXPECT_EQ(ProbeRecord(), "Release #1\nRelease #2\nRelease #3\n");
}

TEST_F(FrameHooks, ChainReleasesItsHooksWhenDestroyed) {
  {
    TFrameHookChain chain;
    ASSERT_EQ(AddFrameHook(chain, {kProbe}), 0);
    ClearProbeRecord();
  }
  EXPECT_EQ(ProbeRecord(), "Release #1\n");
}

TEST_F(FrameHooks, HookWithoutConfigureOrReleaseTakesNoArguments) {
  TFrameHookChain chain;
  ASSERT_EQ(AddFrameHook(chain, {kProcessOnly}), 0);
  TFramePtr picture = MakePicture(AV_PIX_FMT_GRAY8, 6, 4);
  EXPECT_EQ(ProcessFrameHooks(&chain, picture.get(), 40), 0);
  EXPECT_EQ(ProbeRecord(kProcessOnly), "Process #0 fmt=8 6x4 pts=40\n");
  ReleaseFrameHooks(chain);
  EXPECT_EQ(chain.First, nullptr);
}

TEST_F(FrameHooks, EachPathIsLoadedOnceAndStaysLoadedAfterRelease) {
  const std::size_t slash = kProbe.rfind('/');
  const std::string samePlace = kProbe.substr(0, slash) + "/." + kProbe.substr(slash);
  TFrameHookChain chain;
  ASSERT_EQ(AddFrameHook(chain, {kProbe, "a"}), 0);
  ASSERT_EQ(AddFrameHook(chain, {kProbe, "b"}), 0);
  ASSERT_EQ(AddFrameHook(chain, {samePlace, "c"}), 0);
  // One library, one set of statics: three contexts numbered in turn.
  EXPECT_NE(ProbeRecord().find("[c] argv[argc]=null -> #3\n"), std::string::npos);
  ReleaseFrameHooks(chain);

  void* handle = dlopen(kProbe.c_str(), RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(handle, nullptr) << "unloaded with its hooks";
  // Dropping this reference and the single one the hook cache holds unloads it; a second
  // load by the cache would keep it in memory.
  dlclose(handle);
  dlclose(handle);
  EXPECT_EQ(dlopen(kProbe.c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);
}

TEST(FrameHooksUnloaded, RefusalsAreLoggedBeforeTheMediaLibrariesAreBound) {
  ASSERT_EQ(ff::av_log, nullptr);
  TLogCapture log;
  TFrameHookChain chain;
  EXPECT_EQ(AddFrameHook(chain, {kNoEntryPoints}), -2);
  EXPECT_EQ(log.Count(llError, "Failed to find Process entrypoint in " + kNoEntryPoints), 1);
  EXPECT_EQ(AddFrameHook(chain, {kProcessOnly}), 0);
}

// ---- Running hooks on pictures ------------------------------------------------------------

TEST_F(FrameHooks, PicturesTheHooksCannotTakeAreRefusedUntouched) {
  TFrameHookChain chain;
  ASSERT_EQ(AddFrameHook(chain, {kProbe}), 0);
  ClearProbeRecord();
  std::uint8_t memory[64] = {};
  const struct {
    const char* What;
    int Format, Width, Height;
    std::uint8_t* Data;
  } cases[] = {
      {"no pixel data", AV_PIX_FMT_GRAY8, 8, 8, nullptr},
      {"no width", AV_PIX_FMT_GRAY8, 0, 8, memory},
      {"negative height", AV_PIX_FMT_GRAY8, 8, -8, memory},
      {"no pixel format", AV_PIX_FMT_NONE, 8, 8, memory},
      {"unknown pixel format", 100000, 8, 8, memory},
      {"hardware pixel format", AV_PIX_FMT_VAAPI, 8, 8, memory},
  };
  for (const auto& c : cases) {
    TFramePtr picture(ff::av_frame_alloc());
    picture->format = c.Format;
    picture->width = c.Width;
    picture->height = c.Height;
    picture->data[0] = c.Data;
    picture->linesize[0] = 8;
    EXPECT_EQ(ProcessFrameHooks(&chain, picture.get(), 0), AVERROR(EINVAL)) << c.What;
  }
  EXPECT_EQ(ProcessFrameHooks(&chain, nullptr, 0), AVERROR(EINVAL));
  EXPECT_EQ(ProbeRecord(), "");
  EXPECT_EQ(std::count(std::begin(memory), std::end(memory), 0), 64);

  // Without hooks nothing is looked at.
  TFrameHookChain empty;
  EXPECT_EQ(ProcessFrameHooks(&empty, nullptr, 0), 0);
  EXPECT_EQ(ProcessFrameHooks(nullptr, nullptr, 0), 0);
}

TEST_F(FrameHooks, HooksNeverDrawIntoAPictureSharedWithAnotherReference) {
  TFrameHookChain chain;
  ASSERT_EQ(AddFrameHook(chain, {kInvertBox}), 0);  // the whole picture

  TFramePtr decoded = MakePicture(AV_PIX_FMT_YUV420P, 16, 8);
  const TPlanes original = Snapshot(decoded.get());
  TFramePtr shared(ff::av_frame_alloc());
  ASSERT_EQ(ff::av_frame_ref(shared.get(), decoded.get()), 0);
  ASSERT_EQ(ProcessFrameHooks(&chain, shared.get(), 0), 0);
  EXPECT_EQ(Snapshot(decoded.get()), original);
  EXPECT_NE(shared->data[0], decoded->data[0]);
  EXPECT_EQ(shared->data[0][0], std::uint8_t(255 - original[0][0]));

  // A picture over memory of the caller's own (no reference counted buffers) is changed
  // where it lies.
  std::vector<std::uint8_t> memory(16 * 8 * 3 / 2, 10);
  AVFrame* own = ff::av_frame_alloc();
  own->format = AV_PIX_FMT_YUV420P;
  own->width = 16;
  own->height = 8;
  ASSERT_GT(ff::av_image_fill_arrays(own->data, own->linesize, memory.data(), AV_PIX_FMT_YUV420P,
                                     16, 8, 1),
            0);
  ASSERT_EQ(ProcessFrameHooks(&chain, own, 0), 0);
  EXPECT_EQ(own->data[0], memory.data());
  EXPECT_EQ(std::count(memory.begin(), memory.end(), 245), std::ptrdiff_t(memory.size()));
  ff::av_frame_free(&own);
}

// ---- The example hook ---------------------------------------------------------------------

// Whether a sample of a plane subsampled by 2^shift at position s covers a pixel of
// [lo, hi) (clipped to the picture's size).
bool Covers(int s, int shift, long lo, long hi, int size) {
  const long first = long(s) << shift;
  const long last = std::min(long(s + 1) << shift, long(size));
  return std::max(first, std::max(lo, 0L)) < std::min(last, std::min(hi, long(size)));
}

// The picture with every colour sample that covers a pixel of the box inverted, from the
// library's own description of the format; alpha and padding bytes stay.
TPlanes Inverted(TPlanes planes, const AVFrame* frame, long x0, long y0, long x1, long y1) {
  const AVPixFmtDescriptor* desc = ff::av_pix_fmt_desc_get(AVPixelFormat(frame->format));
  const int colours =
      desc->flags & AV_PIX_FMT_FLAG_ALPHA ? desc->nb_components - 1 : desc->nb_components;
  for (int c = 0; c < colours; ++c) {
    const AVComponentDescriptor& comp = desc->comp[c];
    const bool chroma = IsChromaPlane(desc, comp.plane);
    const int sw = chroma ? desc->log2_chroma_w : 0;
    const int sh = chroma ? desc->log2_chroma_h : 0;
    for (int y = 0; y < AV_CEIL_RSHIFT(frame->height, sh); ++y)
      for (int x = 0; x < AV_CEIL_RSHIFT(frame->width, sw); ++x)
        if (Covers(x, sw, x0, x1, frame->width) && Covers(y, sh, y0, y1, frame->height)) {
          std::uint8_t& sample =
              planes[comp.plane][y * frame->linesize[comp.plane] + x * comp.step + comp.offset];
          sample = std::uint8_t(255 - sample);
        }
  }
  return planes;
}

TEST_F(FrameHooks, InvertBoxInvertsExactlyItsRectangle) {
  const struct {
    AVPixelFormat Format;
    int Width, Height;
    const char* Box;  // "x y w h", or "" for the whole picture
    bool Known;       // a format the hook changes
  } cases[] = {
      {AV_PIX_FMT_GRAY8, 20, 10, "3 2 5 4", true},
      {AV_PIX_FMT_YUV420P, 21, 11, "3 3 6 5", true},  // odd edges: chroma rounds outwards
      {AV_PIX_FMT_YUVJ420P, 16, 8, "0 0 16 8", true},
      {AV_PIX_FMT_YUV422P, 16, 8, "5 0 3 8", true},
      {AV_PIX_FMT_YUV444P, 9, 7, "2 1 4 4", true},
      {AV_PIX_FMT_YUV410P, 18, 9, "1 1 6 5", true},
      {AV_PIX_FMT_RGB24, 12, 6, "2 1 4 3", true},
      {AV_PIX_FMT_BGR24, 12, 6, "11 5 1 1", true},
      {AV_PIX_FMT_BGRA, 12, 6, "0 0 3 2", true},          // alpha stays
      {AV_PIX_FMT_0RGB, 12, 6, "4 2 4 4", true},          // padding stays
      {AV_PIX_FMT_YUV420P, 16, 8, "12 6 100 100", true},  // clipped to the picture
      {AV_PIX_FMT_GRAY8, 16, 8, "16 0 5 5", false},       // entirely outside
      {AV_PIX_FMT_YUV420P, 10, 6, "", true},
      {AV_PIX_FMT_YUV420P10LE, 16, 8, "", false},  // 16-bit samples: not the hook's
      {AV_PIX_FMT_NV12, 16, 8, "", false},
  };
  for (const auto& c : cases) {
    const std::string what =
        std::string(ff::av_get_pix_fmt_name(c.Format)) + " box \"" + c.Box + "\"";
    TFrameHookChain chain;
    ASSERT_EQ(AddFrameHook(chain, Hook(kInvertBox, c.Box)), 0) << what;
    TFramePtr picture = MakePicture(c.Format, c.Width, c.Height);
    const TPlanes before = Snapshot(picture.get());
    ASSERT_EQ(ProcessFrameHooks(&chain, picture.get(), 0), 0) << what;

    const std::vector<std::string> box = Words(c.Box);
    const long x0 = box.empty() ? 0 : std::stol(box[0]);
    const long y0 = box.empty() ? 0 : std::stol(box[1]);
    const long x1 = box.empty() ? c.Width : x0 + std::stol(box[2]);
    const long y1 = box.empty() ? c.Height : y0 + std::stol(box[3]);
    const TPlanes expected = c.Known ? Inverted(before, picture.get(), x0, y0, x1, y1) : before;
    EXPECT_EQ(Snapshot(picture.get()), expected) << what;
    if (c.Known) {
      EXPECT_NE(expected, before) << what;
    }
  }
}

TEST_F(FrameHooks, InvertBoxRefusesBadRectangles) {
  for (const char* box : {"1 2 3", "1 2 3 x", "-1 2 3 4", "1 2 3 4 5", "+1 2 3 4", "1 2 3 4x",
                          "99999999999 0 1 1", "0x10 0 1 1"}) {
    TFrameHookChain chain;
    EXPECT_EQ(AddFrameHook(chain, Hook(kInvertBox, box)), -22) << box;
    EXPECT_EQ(chain.First, nullptr) << box;
  }
  EXPECT_TRUE(Log.Has(llError, "Failed to Configure " + kInvertBox));
}

// ---- The "vhook" option -------------------------------------------------------------------

class FrameHooksOption : public FrameHooks {
 protected:
  void SetUp() override {
    FrameHooks::SetUp();
    Engine = std::make_unique<TFFmpeg>(8);
  }
  std::unique_ptr<TFFmpeg> Engine;
};

std::string ManyArguments(int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += " a" + std::to_string(i);
  return text;
}

TEST_F(FrameHooksOption, SplitsItsValueIntoTheHooksArguments) {
  const struct {
    std::string Value;
    std::string Arguments;  // as the probe writes them down
  } cases[] = {
      {kProbe, "argc=1 [" + kProbe + "]"},
      {kProbe + " a  b ", "argc=3 [" + kProbe + "] [a] [b]"},
      {kProbe + "|x y||z|", "argc=3 [" + kProbe + "] [x y] [z]"},
      {kProbe + ManyArguments(253), "argc=254 [" + kProbe + "]"},
  };
  for (const auto& c : cases) {
    ClearProbeRecord();
    Engine->ParseOption("vhook", c.Value);
    EXPECT_TRUE(Engine->UsingFrameHooks);
    const std::string record = ProbeRecord();
    EXPECT_EQ(record.rfind("Configure ctx=null " + c.Arguments, 0), 0u) << record;
    EXPECT_NE(record.find("argv[argc]=null -> #"), std::string::npos) << record;
  }
  // Four hooks, run in the order given.
  ClearProbeRecord();
  TFramePtr picture = MakePicture(AV_PIX_FMT_GRAY8, 2, 2);
  EXPECT_EQ(ProcessFrameHooks(Engine->FrameHooks.get(), picture.get(), 5), 0);
  EXPECT_EQ(ProbeRecord(),
            "Process #1 fmt=8 2x2 pts=5\nProcess #2 fmt=8 2x2 pts=5\n"
            "Process #3 fmt=8 2x2 pts=5\nProcess #4 fmt=8 2x2 pts=5\n");
}

TEST_F(FrameHooksOption, RefusalsRaiseTheOptionErrorAndAddNothing) {
  const struct {
    std::string Value;
    std::string Logged;  // the error line that says why ("" for none)
  } cases[] = {
      {"", ""},
      {"   ", ""},
      {kNoEntryPoints + " 1 2", "Failed to find Process entrypoint in " + kNoEntryPoints},
      {kProcessOnly + "|1", "Failed to find Configure entrypoint in " + kProcessOnly},
      {kProbe + " fail", "Failed to Configure " + kProbe},
      {kProbe + ManyArguments(254), "A video hook takes at most 254 arguments (255 given)"},
  };
  for (const auto& c : cases) {
    Log.Clear();
    EXPECT_EQ(test::RaisedMessage([&] { Engine->ParseOption("vhook", c.Value); }),
              "Failed to add video hook function: " + c.Value);
    if (!c.Logged.empty()) {
      EXPECT_EQ(Log.Count(llError, c.Logged), 1) << c.Value;
    }
    EXPECT_FALSE(Engine->UsingFrameHooks) << c.Value;
    EXPECT_TRUE(!Engine->FrameHooks || !Engine->FrameHooks->First) << c.Value;
  }
}

TEST_F(FrameHooksOption, HookChangesThePictureAndIsReleasedWhenTheJobCloses) {
  Engine->ParseOption("vhook", kInvertBox + " 1 0 1 1");
  Engine->ParseOption("vhook", kProbe);
  EXPECT_TRUE(Engine->UsingFrameHooks);
  TFramePtr picture = MakePicture(AV_PIX_FMT_GRAY8, 4, 4);
  const TPlanes before = Snapshot(picture.get());
  ASSERT_EQ(ProcessFrameHooks(Engine->FrameHooks.get(), picture.get(), 0), 0);
  EXPECT_EQ(picture->data[0][0], 1);  // the probe's mark
  EXPECT_EQ(picture->data[0][1], std::uint8_t(255 - before[0][1]));
  EXPECT_EQ(picture->data[0][2], before[0][2]);

  ClearProbeRecord();
  Engine->CloseFiles();
  EXPECT_EQ(ProbeRecord(), "Release #1\n");
  EXPECT_FALSE(Engine->UsingFrameHooks);
  EXPECT_EQ(Engine->FrameHooks, nullptr);
}

}  // namespace
}  // namespace tovamo
