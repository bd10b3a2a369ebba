#include "Authoring/VcdControl.h"

#include <algorithm>
#include <filesystem>

namespace tovamo::authoring {

namespace {

constexpr int kRows = 8;

std::string PageId(int page) {
  return "menu-" + std::to_string(page);
}
std::string TrackId(int track) {
  return "track-" + std::to_string(track);
}

}  // namespace

std::string TrackName(const TDvdTitle& title) {
  if (!title.Name.empty()) return title.Name;
  return std::filesystem::path(title.File).stem().string();
}

int CdMenuPageCount(int tracks) {
  const int perPage = (tracks > kRows ? 2 : 1) * kRows;
  return std::max(1, (tracks + perPage - 1) / perPage);
}

std::vector<TCdMenuPage> CdMenuPages(const std::string& discName,
                                     const std::vector<std::string>& names, TDiscNorm norm) {
  const int count = int(names.size());
  const int columns = count > kRows ? 2 : 1;
  const int perPage = columns * kRows;
  const int pages = CdMenuPageCount(count);
  std::vector<TCdMenuPage> result;
  for (int page = 1; page <= pages; ++page) {
    TCdMenuPage p;
    if (norm == TDiscNorm::Ntsc) {
      p.Width = 640;
      p.Height = 480;
    }
    p.DiscName = discName;
    p.Columns = columns;
    p.Rows = kRows;
    p.Page = page;
    p.Pages = pages;
    for (int i = (page - 1) * perPage; i < std::min(count, page * perPage); ++i)
      p.Entries.push_back({i + 1, names[std::size_t(i)]});
    result.push_back(std::move(p));
  }
  return result;
}

std::string VcdxbuildXml(TDiscKind kind, const std::string& volumeLabel,
                         const std::vector<std::string>& tracks,
                         const std::vector<std::string>& stills, int perPage) {
  const bool svcd = kind == TDiscKind::Svcd;
  const int count = int(tracks.size()), pages = int(stills.size());
  const auto pageOf = [&](int track) {
    return std::min(pages, perPage > 0 ? (track - 1) / perPage + 1 : 1);
  };
  std::string xml =
      "<?xml version=\"1.0\"?>\n"
      "<!DOCTYPE videocd PUBLIC \"-//GNU//DTD VideoCD//EN\" "
      "\"http://www.gnu.org/software/vcdimager/videocd.dtd\">\n"
      "<videocd xmlns=\"http://www.gnu.org/software/vcdimager/1.0/\" class=\"" +
      std::string(svcd ? "svcd\" version=\"1.0\">\n" : "vcd\" version=\"2.0\">\n") +
      "  <info>\n    <album-id/>\n    <volume-count>1</volume-count>\n"
      "    <volume-number>1</volume-number>\n    <restriction>0</restriction>\n  </info>\n"
      "  <pvd>\n    <volume-id>" +
      volumeLabel +
      "</volume-id>\n    <system-id>CD-RTOS CD-BRIDGE</system-id>\n"
      "    <application-id/>\n    <preparer-id/>\n    <publisher-id/>\n  </pvd>\n";
  xml += "  <segment-items>\n";
  for (int page = 1; page <= pages; ++page)
    xml += "    <segment-item src=\"" + stills[std::size_t(page - 1)] + "\" id=\"still-" +
           std::to_string(page) + "\"/>\n";
  xml += "  </segment-items>\n  <sequence-items>\n";
  for (int track = 1; track <= count; ++track)
    xml += "    <sequence-item src=\"" + tracks[std::size_t(track - 1)] + "\" id=\"sequence-" +
           std::to_string(track) + "\"/>\n";
  xml += "  </sequence-items>\n  <pbc>\n";
  // The first list is where the disc starts. Every page takes every number: the remote's
  // keys play any track from any page.
  for (int page = 1; page <= pages; ++page) {
    xml += "    <selection id=\"" + PageId(page) + "\">\n      <bsn>1</bsn>\n";
    if (page > 1) xml += "      <prev ref=\"" + PageId(page - 1) + "\"/>\n";
    if (page < pages) xml += "      <next ref=\"" + PageId(page + 1) + "\"/>\n";
    const int first = (page - 1) * perPage + 1;
    if (first <= count) xml += "      <default ref=\"" + TrackId(first) + "\"/>\n";
    xml += "      <wait>-1</wait>\n      <loop jump-timing=\"immediate\">1</loop>\n";
    xml += "      <play-item ref=\"still-" + std::to_string(page) + "\"/>\n";
    for (int track = 1; track <= count; ++track)
      xml += "      <select ref=\"" + TrackId(track) + "\"/>\n";
    xml += "    </selection>\n";
  }
  // A track is a selection list without choices: its timeout, right at its end, goes back
  // to its page, which a play list (whose end is its Next) could not do while Next and
  // Previous step between the tracks.
  for (int track = 1; track <= count; ++track) {
    const std::string home = PageId(pageOf(track));
    xml += "    <selection id=\"" + TrackId(track) + "\">\n";
    xml += "      <prev ref=\"" + (track > 1 ? TrackId(track - 1) : home) + "\"/>\n";
    xml += "      <next ref=\"" + (track < count ? TrackId(track + 1) : home) + "\"/>\n";
    xml += "      <return ref=\"" + home + "\"/>\n      <timeout ref=\"" + home + "\"/>\n";
    xml += "      <wait>0</wait>\n      <loop jump-timing=\"immediate\">1</loop>\n";
    xml += "      <play-item ref=\"sequence-" + std::to_string(track) + "\"/>\n";
    xml += "    </selection>\n";
  }
  xml += "  </pbc>\n</videocd>\n";
  return xml;
}

}  // namespace tovamo::authoring
