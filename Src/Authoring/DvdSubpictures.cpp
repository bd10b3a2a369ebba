#include "Authoring/DvdSubpictures.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>

namespace tovamo::authoring {

namespace {

constexpr std::size_t kScanBytes = 1 << 20;
constexpr std::size_t kMaxSubpictureStreams = 32;  // a DVD title's limit

std::string ReadHead(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string head(kScanBytes, '\0');
  in.read(head.data(), std::streamsize(head.size()));
  head.resize(std::size_t(in.gcount()));
  return head;
}

std::uint8_t Byte(const std::string& data, std::size_t at) {
  return static_cast<std::uint8_t>(data[at]);
}

}  // namespace

bool MpegPictureSize(const std::string& path, int& width, int& height, double& pixelAspect) {
  const std::string data = ReadHead(path);
  const std::size_t at = data.find(std::string("\x00\x00\x01\xB3", 4));
  if (at == std::string::npos || at + 7 > data.size()) return false;
  width = (Byte(data, at + 4) << 4) | (Byte(data, at + 5) >> 4);
  height = ((Byte(data, at + 5) & 0x0F) << 8) | Byte(data, at + 6);
  if (width <= 0 || height <= 0) return false;
  // The MPEG-2 aspect code names the shape of the whole picture.
  const int code = Byte(data, at + 7) >> 4;
  const double shown = code == 2 ? 4.0 / 3 : code == 3 ? 16.0 / 9 : code == 4 ? 2.21 : 0;
  pixelAspect = shown > 0 ? shown * height / width : 1;
  return true;
}

std::string SpumuxTime(double seconds) {
  const long long hundredths = std::llround(std::max(0.0, seconds) * 100);
  char text[40];
  std::snprintf(text, sizeof text, "%lld:%02lld:%02lld.%02lld", hundredths / 360000,
                hundredths / 6000 % 60, hundredths / 100 % 60, hundredths % 100);
  return text;
}

std::string SpumuxXml(const std::vector<TSpuPicture>& pictures) {
  std::string xml = "<subpictures>\n  <stream>\n";
  for (const TSpuPicture& picture : pictures)
    xml += "    <spu start=\"" + SpumuxTime(picture.Start) + "\" end=\"" + SpumuxTime(picture.End) +
           "\" image=\"" + XmlText(picture.Image) + "\"/>\n";
  xml += "  </stream>\n</subpictures>\n";
  return xml;
}

std::optional<TSubpicturePlan> PlanSubpictures(const std::vector<TDvdTitle>& requested,
                                               const std::vector<TDvdTitle>& linked,
                                               const TSubtitleDrawer& draw, const std::string& work,
                                               std::string& reason) {
  TSubpicturePlan plan;
  plan.Titles = linked;
  for (std::size_t t = 0; t < requested.size() && t < linked.size(); ++t) {
    const TDvdTitle& source = requested[t];
    TDvdTitle& title = plan.Titles[t];
    title.AudioLanguages = source.AudioLanguages;
    title.Subtitles.clear();
    if (source.Subtitles.empty() || !draw) continue;
    int width = 0, height = 0;
    double pixelAspect = 1;
    if (!MpegPictureSize(source.File, width, height, pixelAspect)) {
      reason = "cannot find the picture size of \"" + source.File + "\" for its subtitles";
      return std::nullopt;
    }
    const std::string base = "title" + std::to_string(t + 1);
    std::string from = title.File;
    const std::size_t streams = std::min(source.Subtitles.size(), kMaxSubpictureStreams);
    for (std::size_t s = 0; s < streams; ++s) {
      const TDvdSubtitleStream& stream = source.Subtitles[s];
      std::vector<TSpuPicture> pictures;
      double lastEnd = 0;
      for (std::size_t c = 0; c < stream.Cues.size(); ++c) {
        const TSubtitleCue& cue = stream.Cues[c];
        // A subpicture ends where the next begins: a stream shows one at a time.
        const double start = std::max(cue.Start, lastEnd);
        const double end = title.Seconds > 0 ? std::min(cue.End, title.Seconds) : cue.End;
        if (end - start < 0.02) continue;
        const std::string image =
            base + "_s" + std::to_string(s + 1) + "_" + std::to_string(c + 1) + ".png";
        if (!draw(cue.Text, width, height, pixelAspect, work + "/" + image)) {
          reason = "cannot draw a subtitle picture in \"" + work + "\"";
          return std::nullopt;
        }
        pictures.push_back({start, end, "./" + image});
        lastEnd = end;
      }
      if (pictures.empty()) continue;
      const std::string control = base + "_s" + std::to_string(s + 1) + ".xml";
      {
        std::ofstream out(work + "/" + control, std::ios::binary);
        out << SpumuxXml(pictures);
        if (!out.flush()) {
          reason = "cannot write the spumux control file in \"" + work + "\"";
          return std::nullopt;
        }
      }
      const std::string to = "./" + base + "_s" + std::to_string(s + 1) + ".mpg";
      // spumux reads the stream on its input and writes it on its output; the names are ours.
      // spumux takes the norm from the environment, as dvdauthor does. A file it made for
      // the stream before goes once the next one holds it all.
      std::string command = std::string("VIDEO_FORMAT=") + (height == 480 ? "NTSC" : "PAL") +
                            " spumux -s " + std::to_string(title.Subtitles.size()) + " ./" +
                            control + " < " + from + " > " + to;
      if (from != title.File) command += " && rm -f " + from;
      plan.Commands.push_back({"sh", "-c", command});
      title.Subtitles.push_back({stream.Language, {}});
      from = to;
    }
    title.File = from;
  }
  return plan;
}

}  // namespace tovamo::authoring
