// The player settings that shape MPlayer's command line. The settings files fill them in;
// the initial values here are the defaults when no file says otherwise.
#pragma once

#include <QString>

namespace tovamo::player {

struct TPlayerSettings {
  int AudioOut = 3;     // 0 no sound, 1 null output, 2 the system's output, 3 a sound card
  int AudioDev = 0;     // the ALSA card for AudioOut 3; 0 is the system's default output
  int Postproc = 1;     // 0 off, 1 automatic quality, 2 the strongest filters
  int Deinterlace = 0;  // 0 off, 1 simple (lavcdeint), 2 adaptive (kerndeint)
  int Aspect = 0;       // 0 auto, 1 4:3, 2 16:9, 3 2.35:1
  bool ReIndex = false;
  bool SoftVol = false;  // software volume, up to 1000 %
  bool PriorityBoost = true;
  QString Params;  // extra command-line text, placed before the media
};

}  // namespace tovamo::player
