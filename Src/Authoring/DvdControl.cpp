#include "Authoring/DvdControl.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tovamo::authoring {

namespace {

constexpr int kChapterSeconds = 5 * 60;
constexpr int kMaxChapters = 99;

}  // namespace

std::string XmlText(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string DvdChapterList(double seconds) {
  int chapters = kMaxChapters;
  if (std::isfinite(seconds) && seconds > 0)
    chapters = std::min(kMaxChapters, std::max(1, int(std::ceil(seconds / kChapterSeconds))));
  std::string list = "0";
  for (int i = 1; i < chapters; ++i) {
    const int at = i * kChapterSeconds;
    char text[32];
    std::snprintf(text, sizeof text, ",%d:%02d:%02d", at / 3600, at / 60 % 60, at % 60);
    list += text;
  }
  return list;
}

std::string DvdStreamLines(const std::vector<TDvdTitle>& titles) {
  std::vector<std::string> audio, subpictures;
  bool named = false, subtitled = false;
  for (const TDvdTitle& title : titles) {
    for (std::size_t i = 0; i < title.AudioLanguages.size(); ++i) {
      if (audio.size() <= i) audio.resize(i + 1);
      if (audio[i].empty()) audio[i] = title.AudioLanguages[i];
      named = named || !title.AudioLanguages[i].empty();
    }
    for (std::size_t i = 0; i < title.Subtitles.size(); ++i) {
      if (subpictures.size() <= i) subpictures.resize(i + 1);
      if (subpictures[i].empty()) subpictures[i] = title.Subtitles[i].Language;
      subtitled = true;
    }
  }
  std::string lines;
  const auto line = [&](const char* element, const std::string& language) {
    lines += std::string("      <") + element;
    if (!language.empty()) lines += " lang=\"" + XmlText(language) + "\"";
    lines += "/>\n";
  };
  if (named || audio.size() > 1)
    for (const std::string& language : audio) line("audio", language);
  if (subtitled)
    for (const std::string& language : subpictures) line("subpicture", language);
  return lines;
}

std::string DvdAuthorXml(const std::string& dest, const std::vector<TDvdTitle>& titles,
                         const std::string& menusXml) {
  const bool menu = !menusXml.empty();
  std::string xml = "<dvdauthor dest=\"" + XmlText(dest) + "\">\n";
  xml +=
      menu
          ? "  <vmgm>\n    <fpc>g0 = 0; g1 = 1; g3 = 1024; jump titleset 1 menu;</fpc>\n  </vmgm>\n"
          : "  <vmgm>\n    <fpc>jump title 1;</fpc>\n  </vmgm>\n";
  xml += "  <titleset>\n" + menusXml + "    <titles>\n";
  xml += DvdStreamLines(titles);
  for (std::size_t i = 0; i < titles.size(); ++i) {
    xml += "      <pgc>\n";
    xml += "        <vob file=\"" + XmlText(titles[i].File) + "\" chapters=\"" +
           DvdChapterList(titles[i].Seconds) + "\"/>\n";
    // The last title ends the play; the player shows its own screen then.
    if (menu)
      xml += i + 1 < titles.size() ? "        <post>if (g0 == 1) jump title " +
                                         std::to_string(i + 2) + "; call menu;</post>\n"
                                   : std::string("        <post>g0 = 0; call menu;</post>\n");
    else
      xml += i + 1 < titles.size()
                 ? "        <post>jump title " + std::to_string(i + 2) + ";</post>\n"
                 : std::string("        <post>exit;</post>\n");
    xml += "      </pgc>\n";
  }
  xml += "    </titles>\n  </titleset>\n</dvdauthor>\n";
  return xml;
}

}  // namespace tovamo::authoring
