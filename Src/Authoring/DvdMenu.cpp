#include "Authoring/DvdMenu.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>

namespace tovamo::authoring {

namespace {

// Subpicture lines are drawn in fields: every edge of a button on an even line and column.
int Even(double value) {
  return int(std::lround(value / 2)) * 2;
}

TMenuBox Box(double x0, double y0, double x1, double y1) {
  return {Even(x0), Even(y0), Even(x1), Even(y1)};
}

// Three columns of 200 pixels in the title-safe area of the 720-pixel-wide picture; the
// heights scale with the lines of the norm.
constexpr int kLeft = 48, kCellWidth = 200, kCellGap = 12;

int CenterX(const TMenuBox& box) {
  return (box.X0 + box.X1) / 2;
}

// The arrows: left and right go round their row, up and down to the nearest button of the
// row above or below, from the top row to the bottom one and back.
void LinkButtons(std::vector<TMenuButton>& buttons, const std::vector<std::vector<int>>& rows) {
  const int count = int(rows.size());
  for (int r = 0; r < count; ++r) {
    const std::vector<int>& row = rows[std::size_t(r)];
    const int size = int(row.size());
    for (int p = 0; p < size; ++p) {
      TMenuButton& button = buttons[std::size_t(row[std::size_t(p)] - 1)];
      button.Left = row[std::size_t((p - 1 + size) % size)];
      button.Right = row[std::size_t((p + 1) % size)];
      const auto nearest = [&](const std::vector<int>& other) {
        int best = other.front();
        for (const int candidate : other)
          if (std::abs(CenterX(buttons[std::size_t(candidate - 1)].Box) - CenterX(button.Box)) <
              std::abs(CenterX(buttons[std::size_t(best - 1)].Box) - CenterX(button.Box)))
            best = candidate;
        return best;
      };
      button.Up = nearest(rows[std::size_t((r - 1 + count) % count)]);
      button.Down = nearest(rows[std::size_t((r + 1) % count)]);
    }
  }
}

std::string Number(int value) {
  return std::to_string(value);
}

}  // namespace

std::vector<TMenuPage> LayOutMenu(const std::vector<std::string>& names, TDiscNorm norm,
                                  bool wide) {
  const int height = norm == TDiscNorm::Ntsc ? 480 : 576;
  const double s = height / 576.0;
  const int pages = std::max(1, int((names.size() + kMenuTitlesPerPage - 1) / kMenuTitlesPerPage));
  std::vector<TMenuPage> result;
  for (int p = 0; p < pages; ++p) {
    TMenuPage page;
    page.Number = p + 1;
    page.Count = pages;
    page.Height = height;
    page.Wide = wide;
    page.Heading = Box(kLeft, 24 * s, 720 - kLeft, 70 * s);
    std::vector<std::vector<int>> rows(2);
    for (int i = 0; i < kMenuTitlesPerPage; ++i) {
      const std::size_t title = std::size_t(p * kMenuTitlesPerPage + i);
      if (title >= names.size()) break;
      const double x = kLeft + (i % 3) * (kCellWidth + kCellGap);
      const double y = (80 + (i / 3) * 196) * s;
      TMenuButton button;
      button.Title = int(title);
      button.Text = names[title];
      button.Box = Box(x, y, x + kCellWidth, y + 188 * s);
      button.Picture = Box(x + 8, y + 8 * s, x + kCellWidth - 8, y + 140 * s);
      button.Label = Box(x + 4, y + 144 * s, x + kCellWidth - 4, y + 184 * s);
      page.Buttons.push_back(button);
      rows[std::size_t(i / 3)].push_back(int(page.Buttons.size()));
    }
    if (rows[1].empty()) rows.pop_back();
    std::vector<int> controls;
    const auto control = [&](TMenuAction action, const char* text, int column) {
      const double x = kLeft + column * (kCellWidth + kCellGap);
      TMenuButton button;
      button.Action = action;
      button.Text = text;
      button.Box = Box(x, 480 * s, x + kCellWidth, 528 * s);
      button.Label = Box(x + 6, 484 * s, x + kCellWidth - 6, 524 * s);
      page.Buttons.push_back(button);
      controls.push_back(int(page.Buttons.size()));
    };
    if (p > 0) control(TMenuAction::Previous, "Previous", 0);
    control(TMenuAction::PlayAll, "Play All", 1);
    if (p + 1 < pages) control(TMenuAction::Next, "Next", 2);
    rows.push_back(controls);
    LinkButtons(page.Buttons, rows);
    result.push_back(std::move(page));
  }
  return result;
}

std::string MenuTitleName(const std::string& given, const std::string& file) {
  if (!given.empty()) return given;
  return std::filesystem::path(file).stem().string();
}

std::string SpumuxXml(const TMenuPage& page, const std::string& highlightPng,
                      const std::string& selectPng) {
  std::string xml = "<subpictures>\n  <stream>\n";
  xml += "    <spu force=\"yes\" start=\"00:00:00.00\" highlight=\"" + highlightPng +
         "\" select=\"" + selectPng + "\">\n";
  for (std::size_t i = 0; i < page.Buttons.size(); ++i) {
    const TMenuButton& b = page.Buttons[i];
    xml += "      <button name=\"b" + Number(int(i + 1)) + "\" x0=\"" + Number(b.Box.X0) +
           "\" y0=\"" + Number(b.Box.Y0) + "\" x1=\"" + Number(b.Box.X1) + "\" y1=\"" +
           Number(b.Box.Y1) + "\" up=\"b" + Number(b.Up) + "\" down=\"b" + Number(b.Down) +
           "\" left=\"b" + Number(b.Left) + "\" right=\"b" + Number(b.Right) + "\"/>\n";
  }
  xml += "    </spu>\n  </stream>\n</subpictures>\n";
  return xml;
}

namespace {

// The button to light on a page reached by "Previous" or "Next": the same control again
// when that page has it, so that pressing on steps through the pages; else its first title.
int LitOnArrival(const TMenuPage& page, TMenuAction action) {
  for (std::size_t i = 0; i < page.Buttons.size(); ++i)
    if (page.Buttons[i].Action == action) return int(i + 1);
  return 1;
}

std::string ButtonCommands(const std::vector<TMenuPage>& pages, std::size_t p, int number) {
  const TMenuButton& b = pages[p].Buttons[std::size_t(number - 1)];
  const std::string here = "g1 = " + Number(int(p + 1)) + "; g3 = " + Number(number * 1024) + "; ";
  switch (b.Action) {
    case TMenuAction::Title:
      return "g0 = 0; " + here + "jump title " + Number(b.Title + 1) + ";";
    case TMenuAction::PlayAll:
      return "g0 = 1; " + here + "jump title 1;";
    case TMenuAction::Previous:
    case TMenuAction::Next: {
      const std::size_t to = b.Action == TMenuAction::Next ? p + 1 : p - 1;
      return "g1 = " + Number(int(to + 1)) +
             "; g3 = " + Number(LitOnArrival(pages[to], b.Action) * 1024) + "; jump menu " +
             Number(int(to + 1)) + ";";
    }
  }
  return {};
}

}  // namespace

std::string DvdMenusXml(const std::vector<TMenuPage>& pages,
                        const std::vector<std::string>& menuFiles, TDiscNorm norm) {
  const bool wide = !pages.empty() && pages.front().Wide;
  std::string xml = "    <menus>\n";
  xml += std::string("      <video format=\"") + (norm == TDiscNorm::Ntsc ? "ntsc" : "pal") +
         "\" aspect=\"" + (wide ? "16:9\" widescreen=\"nopanscan" : "4:3") + "\"/>\n";
  for (std::size_t p = 0; p < pages.size(); ++p) {
    xml += p == 0 ? "      <pgc entry=\"root\">\n" : "      <pgc>\n";
    xml += "        <pre>";
    // The root menu is where a title returns to: on to the page the viewer left.
    if (p == 0)
      for (std::size_t other = 1; other < pages.size(); ++other)
        xml +=
            "if (g1 == " + Number(int(other + 1)) + ") jump menu " + Number(int(other + 1)) + "; ";
    xml += "button = g3;</pre>\n";
    xml += "        <vob file=\"" + menuFiles[p] + "\" pause=\"inf\"/>\n";
    for (std::size_t i = 0; i < pages[p].Buttons.size(); ++i)
      xml += "        <button name=\"b" + Number(int(i + 1)) + "\">" +
             ButtonCommands(pages, p, int(i + 1)) + "</button>\n";
    xml += "      </pgc>\n";
  }
  xml += "    </menus>\n";
  return xml;
}

}  // namespace tovamo::authoring
