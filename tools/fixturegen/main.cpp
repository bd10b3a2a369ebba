// fixturegen <output-folder> [NAME...]: writes the short synthetic media files the tests use
// (or only the named ones).
//
// Every picture is a luma gradient drifting a little each frame with a bright vertical bar
// sweeping from left to right over the clip; every tone is a 0.3 full-scale sine, 440 Hz on
// the first channel, 110 Hz higher on each further one, 60 Hz on an LFE channel. Unless
// noted, files are 2 s long with 4:3 pictures at 25 frames/s and 44.1 kHz stereo sound.
// The output is deterministic (bit-exact flags, one encoder thread) and always rewritten.
//
//   sample.avi          AVI, MPEG-4 Part 2 160x120 + MP3 (MP2 without LAME)
//   sample.mpg          MPEG-1 program stream, MPEG-1 video 160x120 + MP2
//   sample.mpeg         the same at 320x240
//   sample.dat          VCD-style MPEG-1 program stream, 176x144 + MP2
//   sample.asf          ASF, MS MPEG-4 v3 + WMA v2
//   sample.wmv          ASF, WMV 8 (wmv2) + WMA v2
//   sample.mov          QuickTime, MPEG-4 Part 2 + AAC
//   sample.qt           QuickTime, H.264 (MPEG-4 Part 2 without x264) + 16-bit PCM
//   sample.flv          FLV, Sorenson H.263 + MP3 (Flash ADPCM without LAME)
//   sample.mp4          MP4, H.264 (MPEG-4 Part 2 without x264) + AAC
//   sample.3gp          3GP, H.263 176x144 + AAC at 8 kHz mono
//   sample.rm           RealMedia, RealVideo 1 176x144 + AC-3
//   sample.rmvb         RealMedia, RealVideo 2 176x144 + AC-3
//   sample.swf          Flash, Sorenson H.263 + MP3 (libavformat reports no duration for SWF)
//   sample_16x9.mp4     MP4, H.264 320x180 (16:9) + AAC
//   odd_size.avi        AVI, 175x131 picture (odd width and height) + MP2
//   ntsc_29_97.mpg      MPEG-1 176x120 at 30000/1001 frames/s + MP2
//   rate_15.avi         AVI, MPEG-4 Part 2 at 15 frames/s + MP2
//   long_5s.mpg         MPEG-1 + MP2, 5 s (long enough to pause and stop mid-way)
//   audio_48k_6ch.mp4   MP4, H.264 + AC-3 5.1 at 48 kHz
//   audio_only.wav      WAV, 16-bit PCM, no video
//   audio_only.mp2      MPEG audio layer II elementary stream, no video
//   audio_8k_mono.wav   WAV, 16-bit PCM at 8 kHz mono, no video
//   video_only.avi      AVI, MPEG-4 Part 2, no audio
//   sample.webm         WebM, VP8 + Vorbis
//   square_576.avi      AVI, MPEG-4 Part 2 720x576 with square pixels (5:4) + MP2
//   square_240.mpg      MPEG-1 program stream, 352x240 with square pixels + MP2
//
// Valid but awkward, for the packet loops of a transcoder:
//   bframes.avi         AVI, MPEG-4 Part 2 with B-frames + MP2: AVI stores no presentation
//                       times, so the reader gives some video packets no pts
//   far_start.ts        MPEG-TS, MPEG-2 video + MP2, timestamps starting near 10000 s
//   audio_first.mkv     Matroska, MPEG-4 Part 2 + MP2, the video starting 0.5 s after the sound
//   vfr.mkv             Matroska, MPEG-4 Part 2 whose frames last 40 and 80 ms in turn + MP2
//   no_duration.mkv     Matroska written as a live stream (no duration stored), MPEG-4 Part 2
//                       + FLAC: neither stream has a bit rate to estimate the length from
//   interlaced.mpg      MPEG-2 program stream, MPEG-2 video 352x288 coded interlaced, top
//                       field first + MP2
//   two_audio.mkv       Matroska, MPEG-4 Part 2 + MP2 stereo (440 Hz) + MP2 mono (880 Hz)
//   subtitle.mkv        Matroska, MPEG-4 Part 2 + MP2 + three SubRip cues
//   lying_ext.avi       an MPEG-1 program stream (MPEG-1 video + MP2) named .avi
//   truncated.mpg       MPEG-1 program stream, 4 s, cut off after 60 % of its bytes
//   audio_untimed.mpg   MPEG-1 program stream, MPEG-1 video + MP2 whose packets carry no
//                       timestamps
//   jump_hours.mkv      Matroska, MPEG-4 Part 2 + MP2, its timestamps jumping 3 hours ahead
//                       in the middle of the clip
//
// Real recordings, as phones, cameras and downloads make them (a white square
// marking the upright picture's top-left corner where it matters):
//   rotate_90.mp4       MP4, H.264 160x96 stored sideways with a display matrix turning it
//   rotate_180.mp4      90, 180 and 270 degrees clockwise (shown 96x160, 160x96, 96x160)
//   rotate_270.mp4      + AAC
//   h264_10bit.mp4      MP4, H.264 High 10 (yuv420p10le) + AAC
//   h264_444.mp4        MP4, H.264 High 4:4:4 (yuv444p) + AAC
//   webcam_422.avi      AVI, Motion JPEG 4:2:2 (yuvj422p) + MP2
//   thumbnail.mp4       MP4, H.264 160x90 + AAC, with a 320x180 JPEG cover picture
//   song_cover.mp3      MP3 with a 200x200 JPEG cover picture (album art)
//   two_languages.mkv   Matroska, MPEG-4 Part 2 + MP2 stereo "eng" (440 Hz) + MP2 stereo
//                       "ger" (880 Hz) marked as the default
//   dark_start.mpg      MPEG-1 program stream + MP2, 2 s, its pictures black for the first
//                       0.6 s (a fade from black)
//   languages_subs.mkv  Matroska, MPEG-4 Part 2 320x240 + MP2 "eng" + MP2 "jpn" marked as
//                       the default + a "fre" SubRip stream of two cues, 2.5 s
//
// Real gaps in a timeline, which a converter must keep:
//   slideshow.mkv       Matroska, MPEG-4 Part 2, a picture every 6 s for 12 s + MP2 throughout
//   slideshow_silent.mkv  the same pictures with no sound
//   late_video.mkv      Matroska, MPEG-4 Part 2 from 7 s to 9 s + MP2 from 0 to 9 s
//   vfr_pause.mkv       Matroska, MPEG-4 Part 2 whose pictures pause for 8 s after the first
//                       second, 10 s + MP2 throughout
//   one_fps.mkv         Matroska, MPEG-4 Part 2 at 1 frame/s (a screen recording), 4 s + MP2
//   joined_clips.ts     MPEG-TS, MP2 only: three 2 s clips joined byte for byte, each one's
//                       timestamps starting again
//   rate7.avi           AVI, MPEG-4 Part 2 + 16-bit PCM whose header claims 7 samples/s
//
// Bad input, for the error paths:
//   empty.avi           zero bytes
//   random.avi          64 KiB of pseudo-random bytes (fixed seed)
//   text.avi            a few lines of prose
//   noise_middle.mpg    MPEG-1 program stream, 4 s, its middle third overwritten with noise
//   damaged_index.mp4   MP4 (MPEG-4 Part 2 + AAC) whose 'trak' boxes are renamed 'free': it
//                       opens with no streams
//   mjpeg_cut.avi       AVI, Motion JPEG 320x240 + MP2, cut off after 60 % of its bytes:
//                       the last picture is a JPEG without its end
//
// Written only when named ("fixturegen <folder> NAME..."), being large:
//   camera_24mp.avi     AVI, 12 Motion JPEG pictures of 6000x4000 (a 24-megapixel camera's
//                       burst), no sound: about 9 MB
//   natural_pan.mp4     MP4, H.264 720x576 4:3 at 25 frames/s (nearly lossless) + AAC at
//                       48 kHz, 10 s: a slow pan and zoom over a photograph-like texture
//   natural_grain.mp4   the same, film grain over a smooth picture
//   natural_ticker.mp4  the same, a text ticker scrolling over a gradient
//
// Camera recordings:
//   hdv_user_data.ts    MPEG-TS, MPEG-2 video 480x270 (16:9) whose pictures carry user data
//                       (a "JP3D" stereo tag and A/53 captions, as HDV camcorders write) + MP2
//
// Adding a fixture is one row of the table below; byte-level damage is in Damage.cpp.

extern "C" {
#include <libavutil/log.h>
}

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "FixtureWriter.h"

namespace {

using fixturegen::TAudioSpec;
using fixturegen::TDamage;
using fixturegen::TFixtureSpec;
using fixturegen::TVideoSpec;
using V = TVideoSpec;
using A = TAudioSpec;
constexpr auto kNone = std::nullopt;

// Frame steps of a stream whose pictures run for `before` frames, then pause for `pause`
// frame periods, in turn.
std::vector<int> PauseSteps(int before, int pause) {
  std::vector<int> steps(std::size_t(std::max(before - 1, 0)), 1);
  steps.push_back(pause);
  return steps;
}

// H.264 comes from x264, which Debian's libavcodec has; MPEG-4 Part 2 stands in elsewhere.
constexpr const char* kH264 = "libx264,mpeg4";

// A clip for measuring encoders: camera-like content in 4:3 PAL, coded nearly without loss
// so that the source's own artefacts do not mask the encoder's under test.
TFixtureSpec NaturalClip(const std::string& name, fixturegen::TScene scene, double seconds,
                         int width = 720, int height = 576) {
  return {.FileName = name,
          .Muxer = "mp4",
          .Video = V{.Encoders = "libx264",
                     .Width = width,
                     .Height = height,
                     .Scene = scene,
                     .SampleAspectNum = 4 * height,
                     .SampleAspectDen = 3 * width,
                     .EncoderOptions = "crf=12:preset=veryfast"},
          .Audio = {A{"aac", 48000, 2}},
          .Seconds = seconds,
          .OnRequest = true};
}

// The natural clips' scenes by the short names --bench-clip takes.
struct TSceneName {
  const char* Name;
  fixturegen::TScene Scene;
};
constexpr TSceneName kSceneNames[] = {{"pan", fixturegen::TScene::PanZoom},
                                      {"grain", fixturegen::TScene::Grain},
                                      {"ticker", fixturegen::TScene::Ticker}};

const std::vector<TFixtureSpec>& FixtureTable() {
  static const std::vector<TFixtureSpec> table = {
      // file               muxer   video                              audio
      {"sample.avi", "avi", V{"mpeg4", 160, 120}, {A{"libmp3lame,mp2"}}},
      {"sample.mpg", "mpeg", V{"mpeg1video", 160, 120}, {A{"mp2"}}},
      {"sample.mpeg", "mpeg", V{"mpeg1video", 320, 240}, {A{"mp2"}}},
      {"sample.dat", "vcd", V{"mpeg1video", 176, 144}, {A{"mp2"}}},
      {"sample.asf", "asf", V{"msmpeg4", 160, 120}, {A{"wmav2"}}},
      {"sample.wmv", "asf", V{"wmv2", 160, 120}, {A{"wmav2"}}},
      {"sample.mov", "mov", V{"mpeg4", 160, 120}, {A{"aac"}}},
      {"sample.qt", "mov", V{kH264, 160, 120}, {A{"pcm_s16le"}}},
      {"sample.flv", "flv", V{"flv", 160, 120}, {A{"libmp3lame,adpcm_swf"}}},
      {"sample.mp4", "mp4", V{kH264, 160, 120}, {A{"aac"}}},
      {"sample.3gp", "3gp", V{"h263", 176, 144}, {A{"aac", 8000, 1}}},
      {"sample.rm", "rm", V{"rv10", 176, 144}, {A{"ac3"}}},
      {"sample.rmvb", "rm", V{"rv20", 176, 144}, {A{"ac3"}}},
      {"sample.swf", "swf", V{"flv", 160, 120}, {A{"libmp3lame"}}},
      {"sample_16x9.mp4", "mp4", V{kH264, 320, 180}, {A{"aac"}}},
      {"odd_size.avi", "avi", V{"mpeg4", 175, 131}, {A{"mp2"}}},
      {"ntsc_29_97.mpg", "mpeg", V{"mpeg1video", 176, 120, 30000, 1001}, {A{"mp2"}}},
      {"rate_15.avi", "avi", V{"mpeg4", 160, 120, 15}, {A{"mp2"}}},
      {"long_5s.mpg", "mpeg", V{"mpeg1video", 160, 120}, {A{"mp2"}}, 5.0},
      {"audio_48k_6ch.mp4", "mp4", V{kH264, 160, 120}, {A{"ac3", 48000, 6}}},
      {"audio_only.wav", "wav", kNone, {A{"pcm_s16le"}}},
      {"audio_only.mp2", "mp2", kNone, {A{"mp2"}}},
      {"audio_8k_mono.wav", "wav", kNone, {A{"pcm_s16le", 8000, 1}}},
      {"video_only.avi", "avi", V{"mpeg4", 160, 120}, {}},
      {"sample.webm", "webm", V{"libvpx", 160, 120}, {A{"libvorbis,vorbis"}}},
      {"square_576.avi", "avi", V{"mpeg4", 720, 576}, {A{"mp2"}}},
      {"square_240.mpg", "mpeg", V{"mpeg1video", 352, 240}, {A{"mp2"}}},

      // Valid files that trip a packet loop written for the easy case. Rows that need
      // more than the common columns name every field.
      {.FileName = "bframes.avi",
       .Muxer = "avi",
       .Video = V{.Encoders = "mpeg4", .MaxBFrames = 2},
       .Audio = {A{"mp2"}}},
      {.FileName = "far_start.ts",
       .Muxer = "mpegts",
       .Video = V{"mpeg2video"},
       .Audio = {A{"mp2"}},
       .MuxerOptions = "output_ts_offset=10000"},
      {.FileName = "audio_first.mkv",
       .Muxer = "matroska",
       .Video = V{.Encoders = "mpeg4", .StartSeconds = 0.5},
       .Audio = {A{"mp2"}}},
      {.FileName = "vfr.mkv",
       .Muxer = "matroska",
       .Video = V{.Encoders = "mpeg4", .FrameSteps = {1, 2}},
       .Audio = {A{"mp2"}}},
      {.FileName = "no_duration.mkv",
       .Muxer = "matroska",
       .Video = V{"mpeg4"},
       .Audio = {A{"flac"}},
       .MuxerOptions = "live=1"},
      {.FileName = "interlaced.mpg",
       .Muxer = "vob",
       .Video = V{.Encoders = "mpeg2video", .Width = 352, .Height = 288, .Interlaced = true},
       .Audio = {A{"mp2"}}},
      {.FileName = "two_audio.mkv",
       .Muxer = "matroska",
       .Video = V{"mpeg4"},
       .Audio = {A{"mp2"}, A{.Encoders = "mp2", .Channels = 1, .Pitch = 880}}},
      {.FileName = "subtitle.mkv",
       .Muxer = "matroska",
       .Video = V{"mpeg4"},
       .Audio = {A{"mp2"}},
       .Subtitles = {{0.2, 0.8, "First cue"}, {0.9, 1.4, "Second cue"}, {1.5, 1.9, "Last cue"}}},
      {"lying_ext.avi", "mpeg", V{"mpeg1video"}, {A{"mp2"}}},
      {.FileName = "truncated.mpg",
       .Muxer = "mpeg",
       .Video = V{"mpeg1video"},
       .Audio = {A{"mp2"}},
       .Seconds = 4.0,
       .Damage = TDamage::CutAt60Percent},
      {.FileName = "audio_untimed.mpg",
       .Muxer = "mpeg",
       .Video = V{"mpeg1video"},
       .Audio = {A{"mp2"}},
       .Damage = TDamage::AudioTimesRemoved},
      {.FileName = "jump_hours.mkv",
       .Muxer = "matroska",
       .Video = V{"mpeg4"},
       .Audio = {A{"mp2"}},
       .JumpSeconds = 3 * 3600},

      // Bad input: the reader must refuse these cleanly, or read what is left.
      {.FileName = "empty.avi"},
      {.FileName = "random.avi", .Damage = TDamage::RandomBytes},
      {.FileName = "text.avi", .Damage = TDamage::PlainText},
      {.FileName = "noise_middle.mpg",
       .Muxer = "mpeg",
       .Video = V{"mpeg1video"},
       .Audio = {A{"mp2"}},
       .Seconds = 4.0,
       .Damage = TDamage::NoiseInMiddleThird},
      {.FileName = "damaged_index.mp4",
       .Muxer = "mp4",
       .Video = V{"mpeg4"},
       .Audio = {A{"aac"}},
       .Damage = TDamage::TracksHidden},

      // Camera recordings.
      {.FileName = "hdv_user_data.ts",
       .Muxer = "mpegts",
       .Video = V{.Encoders = "mpeg2video", .Width = 480, .Height = 270, .UserData = true},
       .Audio = {A{"mp2"}}},

      // Real recordings: phone rotation, pixel formats H.264 profiles cannot all take,
      // cover pictures, a default language that is not the first.
      {.FileName = "rotate_90.mp4",
       .Muxer = "mp4",
       .Video =
           V{.Encoders = kH264, .Width = 160, .Height = 96, .Rotation = 90, .CornerMark = true},
       .Audio = {A{"aac"}}},
      {.FileName = "rotate_180.mp4",
       .Muxer = "mp4",
       .Video =
           V{.Encoders = kH264, .Width = 160, .Height = 96, .Rotation = 180, .CornerMark = true},
       .Audio = {A{"aac"}}},
      {.FileName = "rotate_270.mp4",
       .Muxer = "mp4",
       .Video =
           V{.Encoders = kH264, .Width = 160, .Height = 96, .Rotation = 270, .CornerMark = true},
       .Audio = {A{"aac"}}},
      {.FileName = "h264_10bit.mp4",
       .Muxer = "mp4",
       .Video = V{.Encoders = "libx264", .PixelFormat = "yuv420p10le", .CornerMark = true},
       .Audio = {A{"aac"}}},
      {.FileName = "h264_444.mp4",
       .Muxer = "mp4",
       .Video = V{.Encoders = "libx264", .PixelFormat = "yuv444p", .CornerMark = true},
       .Audio = {A{"aac"}}},
      {.FileName = "webcam_422.avi",
       .Muxer = "avi",
       .Video = V{.Encoders = "mjpeg", .PixelFormat = "yuvj422p", .CornerMark = true},
       .Audio = {A{"mp2"}}},
      {.FileName = "thumbnail.mp4",
       .Muxer = "mp4",
       .Video = V{.Encoders = kH264, .Width = 160, .Height = 90, .CornerMark = true},
       .Audio = {A{"aac"}},
       .Cover = V{.Encoders = "mjpeg", .Width = 320, .Height = 180}},
      {.FileName = "song_cover.mp3",
       .Muxer = "mp3",
       .Audio = {A{"libmp3lame"}},
       .Cover = V{.Encoders = "mjpeg", .Width = 200, .Height = 200}},
      {.FileName = "two_languages.mkv",
       .Muxer = "matroska",
       .Video = V{"mpeg4"},
       .Audio = {A{.Encoders = "mp2", .Language = "eng"},
                 A{.Encoders = "mp2", .Pitch = 880, .Default = true, .Language = "ger"}}},
      {.FileName = "dark_start.mpg",
       .Muxer = "mpeg",
       .Video = V{.Encoders = "mpeg1video", .DarkSeconds = 0.6},
       .Audio = {A{"mp2"}}},

      // Real gaps in the timeline, vouched for by the sound or the stated length.
      {.FileName = "slideshow.mkv",
       .Muxer = "matroska",
       .Video = V{.Encoders = "mpeg4", .RateNum = 1, .RateDen = 6},
       .Audio = {A{"mp2"}},
       .Seconds = 12.0},
      {.FileName = "slideshow_silent.mkv",
       .Muxer = "matroska",
       .Video = V{.Encoders = "mpeg4", .RateNum = 1, .RateDen = 6},
       .Seconds = 12.0},
      {.FileName = "late_video.mkv",
       .Muxer = "matroska",
       .Video = V{.Encoders = "mpeg4", .StartSeconds = 7, .LengthSeconds = 2},
       .Audio = {A{"mp2"}},
       .Seconds = 9.0},
      {.FileName = "vfr_pause.mkv",
       .Muxer = "matroska",
       .Video = V{.Encoders = "mpeg4", .FrameSteps = PauseSteps(25, 200)},
       .Audio = {A{"mp2"}},
       .Seconds = 10.0},
      {.FileName = "one_fps.mkv",
       .Muxer = "matroska",
       .Video = V{.Encoders = "mpeg4", .RateNum = 1},
       .Audio = {A{"mp2"}},
       .Seconds = 4.0},
      {.FileName = "joined_clips.ts", .Muxer = "mpegts", .Audio = {A{"mp2"}}, .Copies = 3},
      {.FileName = "rate7.avi",
       .Muxer = "avi",
       .Video = V{"mpeg4"},
       .Audio = {A{"pcm_s16le"}},
       .Damage = TDamage::AudioRateSeven},

      {.FileName = "mjpeg_cut.avi",
       .Muxer = "avi",
       .Video = V{"mjpeg", 320, 240},
       .Audio = {A{"mp2"}},
       .Damage = TDamage::CutAt60Percent},
      {.FileName = "camera_24mp.avi",
       .Muxer = "avi",
       .Video = V{"mjpeg", 6000, 4000},
       .Seconds = 12 / 25.0,
       .OnRequest = true},
      NaturalClip("natural_pan.mp4", fixturegen::TScene::PanZoom, 10),
      NaturalClip("natural_grain.mp4", fixturegen::TScene::Grain, 10),
      NaturalClip("natural_ticker.mp4", fixturegen::TScene::Ticker, 10),
      {.FileName = "languages_subs.mkv",
       .Muxer = "matroska",
       .Video = V{"mpeg4", 320, 240},
       .Audio = {A{.Encoders = "mp2", .Language = "eng"},
                 A{.Encoders = "mp2", .Pitch = 880, .Default = true, .Language = "jpn"}},
       .Seconds = 2.5,
       .Subtitles = {{0.4, 1.2, "Premier <i>sous-titre</i>"}, {1.4, 2.2, "Second"}},
       .SubtitleLanguage = "fre"},
  };
  return table;
}

}  // namespace

// The benchmarks' source: an H.264 + AAC clip in MP4, as a phone or camera gives; PAL size
// unless another is asked. With a scene, one of the natural clips at that length and size.
int WriteBenchClip(const std::string& path, double seconds, int width = 720, int height = 576,
                   const TSceneName* scene = nullptr) {
  const std::filesystem::path target(path);
  TFixtureSpec spec{.FileName = target.filename().string(),
                    .Muxer = "mp4",
                    .Video = V{kH264, width, height, 25, 1, 2},
                    .Audio = {A{"aac", 48000, 2}},
                    .Seconds = seconds};
  if (scene) spec = NaturalClip(spec.FileName, scene->Scene, seconds, width, height);
  av_log_set_level(AV_LOG_ERROR);
  try {
    const std::string folder =
        target.has_parent_path() ? target.parent_path().string() : std::string(".");
    std::printf("%s\n", fixturegen::WriteFixture(folder, spec).c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "fixturegen: error: %s\n", e.what());
    return 1;
  }
  return 0;
}

int main(int argc, char** argv) {
  constexpr const char* kUsage =
      "usage: fixturegen <output-folder> [file-name]...\n"
      "       fixturegen --bench-clip <file.mp4> [seconds] [WxH] [pan|grain|ticker]\n";
  if (argc >= 3 && argc <= 6 && std::string(argv[1]) == "--bench-clip") {
    int width = 720, height = 576;
    if (argc >= 5 && (std::sscanf(argv[4], "%dx%d", &width, &height) != 2 || width < 16 ||
                      height < 16 || width > 4096 || height > 4096 || width % 2 || height % 2)) {
      std::fprintf(stderr, "fixturegen: the size must be WxH, even, 16 to 4096: %s\n", argv[4]);
      return 2;
    }
    const TSceneName* scene = nullptr;
    for (const TSceneName& s : kSceneNames)
      if (argc == 6 && std::string(argv[5]) == s.Name) scene = &s;
    if (argc == 6 && !scene) {
      std::fprintf(stderr, "fixturegen: no such scene: %s (pan, grain or ticker)\n", argv[5]);
      return 2;
    }
    return WriteBenchClip(argv[2], argc >= 4 ? std::max(1.0, std::atof(argv[3])) : 20.0, width,
                          height, scene);
  }
  if (argc < 2) {
    std::fprintf(stderr, "%s", kUsage);
    return 2;
  }
  // With names, those files alone (large ones included); else every file but the large.
  const std::vector<std::string> names(argv + 2, argv + argc);
  for (const std::string& name : names)
    if (std::none_of(FixtureTable().begin(), FixtureTable().end(),
                     [&](const TFixtureSpec& spec) { return spec.FileName == name; })) {
      std::fprintf(stderr, "fixturegen: no such fixture: %s\n", name.c_str());
      return 2;
    }
  const std::string folder = argv[1];
  // An option is never taken for a folder name (a folder "-x" is given as "./-x").
  if (folder == "--help" || folder == "-h") {
    std::printf("%s", kUsage);
    return 0;
  }
  if (folder.starts_with('-')) {
    std::fprintf(stderr, "fixturegen: unknown option %s\n%s", folder.c_str(), kUsage);
    return 2;
  }
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) {
    std::fprintf(stderr, "fixturegen: cannot create folder %s: %s\n", folder.c_str(),
                 ec.message().c_str());
    return 1;
  }
  // The encoders' banners and statistics would bury the one line per file.
  av_log_set_level(AV_LOG_ERROR);

  const auto start = std::chrono::steady_clock::now();
  std::size_t written = 0;
  for (const TFixtureSpec& spec : FixtureTable()) {
    const bool named = std::find(names.begin(), names.end(), spec.FileName) != names.end();
    if (names.empty() ? spec.OnRequest : !named) continue;
    ++written;
    try {
      std::printf("%s\n", fixturegen::WriteFixture(folder, spec).c_str());
      std::fflush(stdout);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "fixturegen: error: %s\n", e.what());
      return 1;
    }
  }
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start)
                      .count();
  std::printf("%zu files written to %s in %lld ms\n", written, folder.c_str(),
              static_cast<long long>(ms));
  return 0;
}
