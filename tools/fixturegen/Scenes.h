// Natural-looking pictures for measuring encoders: content whose detail, motion and noise
// resemble camera footage, unlike the flat test picture, so that bit rate and quality
// settings show the differences they make on real clips.
#pragma once

extern "C" {
#include <libavutil/frame.h>
}

namespace fixturegen {

enum class TScene {
  TestPicture,  // the drifting gradient with a sweeping bar (FixtureWriter's own)
  PanZoom,      // a slow pan and zoom over a photograph-like texture with edges and colour
  Grain,        // film grain over a smooth, slowly changing picture
  Ticker,       // a text ticker scrolling over a coloured gradient
};

// Draws picture `index` of `frameCount` of the scene into the YUV 4:2:0 frame.
void DrawScene(TScene scene, AVFrame* frame, int index, int frameCount);

}  // namespace fixturegen
