// Picture quality of an encoded file against its source, as the media libraries' own
// "psnr" and "ssim" filters measure it: both files decoded, the output scaled to the
// source's size, the pictures paired by their time from each file's first picture.
#pragma once

#include <string>

namespace tovamo::bench {

struct TQuality {
  double PsnrY = 0;  // dB, from the mean squared error over all pictures ("inf" when equal)
  double SsimY = 0;  // the mean of the pictures' SSIM
  long SourceFrames = 0;
  long OutputFrames = 0;
  double VideoKbps = 0;  // the output's video stream bytes over its pictures' duration
};

// Needs the media libraries loaded (FFLoader) and the log bridge's default logger, whose
// handler it sets for the call. Throws std::runtime_error with the file and the reason.
TQuality MeasureQuality(const std::string& source, const std::string& output);

}  // namespace tovamo::bench
