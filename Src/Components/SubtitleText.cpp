#include "Components/SubtitleText.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "Services/Text.h"

namespace tovamo {

namespace {

// "00:01:02,345" (or with "." before the milliseconds, or fewer digits) in seconds.
bool ReadClock(const std::string& text, std::size_t& at, double& seconds) {
  long part[3] = {0, 0, 0};
  int parts = 0;
  while (parts < 3) {
    std::size_t digits = 0;
    long value = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 9) {
      value = value * 10 + (text[at] - '0');
      ++at;
      ++digits;
    }
    if (digits == 0) return false;
    part[parts++] = value;
    if (parts < 3) {
      if (at >= text.size() || text[at] != ':') return false;
      ++at;
    }
  }
  double fraction = 0;
  if (at < text.size() && (text[at] == ',' || text[at] == '.')) {
    ++at;
    double scale = 0.1;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
      fraction += (text[at] - '0') * scale;
      scale /= 10;
      ++at;
    }
  }
  if (part[1] > 59 || part[2] > 59) return false;
  seconds = double(part[0]) * 3600 + double(part[1]) * 60 + double(part[2]) + fraction;
  return true;
}

// "start --> end", anything after the end (positions) ignored.
bool ReadTimingLine(const std::string& line, double& start, double& end) {
  std::size_t at = 0;
  while (at < line.size() && line[at] == ' ') ++at;
  if (!ReadClock(line, at, start)) return false;
  const std::size_t arrow = line.find("-->", at);
  if (arrow == std::string::npos || TrimText(line.substr(at, arrow - at)) != "") return false;
  at = arrow + 3;
  while (at < line.size() && line[at] == ' ') ++at;
  return ReadClock(line, at, end);
}

bool IsNumberLine(const std::string& line) {
  const std::string text = TrimText(line);
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool IsUtf8(const std::string& text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const std::size_t length = byte < 0x80         ? 1
                               : (byte >> 5) == 6  ? 2
                               : (byte >> 4) == 14 ? 3
                               : (byte >> 3) == 30 ? 4
                                                   : 0;
    if (length == 0 || i + length > text.size()) return false;
    for (std::size_t k = 1; k < length; ++k)
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    i += length;
  }
  return true;
}

// Text that is not UTF-8 is taken as Windows-1252, which most older subtitle files are in
// (its 0x80-0x9F hold the typographic quotes and dashes; elsewhere it is ISO 8859-1).
std::string Windows1252ToUtf8(const std::string& text) {
  static const char16_t kHigh[32] = {
      0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    const char16_t code = byte >= 0x80 && byte < 0xA0 ? kHigh[byte - 0x80] : char16_t(byte);
    if (code < 0x80) {
      out += char(code);
    } else if (code < 0x800) {
      out += char(0xC0 | (code >> 6));
      out += char(0x80 | (code & 0x3F));
    } else {
      out += char(0xE0 | (code >> 12));
      out += char(0x80 | ((code >> 6) & 0x3F));
      out += char(0x80 | (code & 0x3F));
    }
  }
  return out;
}

std::string Shortened(const std::string& line) {
  return line.size() > 40 ? line.substr(0, 40) + "..." : line;
}

}  // namespace

std::string PlainCueText(const std::string& text) {
  std::string flat;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '<') {
      const std::size_t close = text.find('>', i);
      if (close != std::string::npos) {
        i = close;
        continue;
      }
    } else if (c == '{' && i + 1 < text.size() && text[i + 1] == '\\') {
      const std::size_t close = text.find('}', i);
      if (close != std::string::npos) {
        i = close;
        continue;
      }
    } else if (c == '\\' && i + 1 < text.size()) {
      const char next = text[i + 1];
      if (next == 'N' || next == 'n') {
        flat += '\n';
        ++i;
        continue;
      }
      if (next == 'h') {
        flat += ' ';
        ++i;
        continue;
      }
    } else if (c == '\r') {
      continue;
    }
    flat += c;
  }
  std::string plain;
  std::istringstream lines(flat);
  for (std::string line; std::getline(lines, line);) {
    line = TrimText(line);
    if (line.empty()) continue;
    if (!plain.empty()) plain += '\n';
    plain += line;
  }
  return plain;
}

std::string AssEventText(const std::string& packet) {
  std::string text = packet;
  int fields = 8;  // ReadOrder,Layer,Style,Name,MarginL,MarginR,MarginV,Effect
  if (text.rfind("Dialogue:", 0) == 0) fields = 9;  // Layer,Start,End,Style,...,Effect
  std::size_t at = 0;
  for (int i = 0; i < fields; ++i) {
    const std::size_t comma = text.find(',', at);
    if (comma == std::string::npos) return text;  // not an event line: take it whole
    at = comma + 1;
  }
  return text.substr(at);
}

std::vector<TSubtitleCue> ParseSubRip(const std::string& input,
                                      std::vector<std::string>& problems) {
  std::string text = input;
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
  if (!IsUtf8(text)) text = Windows1252ToUtf8(text);
  std::vector<std::string> lines;
  {
    std::string line;
    for (std::size_t i = 0; i < text.size(); ++i) {
      const char c = text[i];
      if (c == '\r' || c == '\n') {
        lines.push_back(line);
        line.clear();
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      } else {
        line += c;
      }
    }
    lines.push_back(line);
  }

  std::vector<TSubtitleCue> cues;
  bool inCue = false, skipping = false;
  TSubtitleCue cue;
  std::vector<std::string> body;
  const auto finish = [&] {
    if (inCue) {
      std::string joined;
      for (const std::string& line : body) joined += (joined.empty() ? "" : "\n") + line;
      cue.Text = PlainCueText(joined);
      if (!cue.Text.empty()) cues.push_back(cue);
    }
    inCue = false;
    body.clear();
  };
  for (std::size_t n = 0; n < lines.size(); ++n) {
    const std::string& line = lines[n];
    const bool blank = TrimText(line).empty();
    double start = 0, end = 0;
    if (ReadTimingLine(line, start, end)) {
      // A cue without the blank line before the next one: its last line was the number.
      if (inCue && !body.empty() && IsNumberLine(body.back())) body.pop_back();
      finish();
      skipping = false;
      if (end <= start) {
        problems.push_back("line " + std::to_string(n + 1) + ": the cue ends before it starts (" +
                           Shortened(TrimText(line)) + ")");
        skipping = true;
        continue;
      }
      inCue = true;
      cue = {start, end, {}};
      continue;
    }
    if (blank) {
      finish();
      skipping = false;
      continue;
    }
    if (inCue) {
      body.push_back(line);
      continue;
    }
    if (skipping || IsNumberLine(line)) continue;
    problems.push_back("line " + std::to_string(n + 1) + ": not a SubRip timing line (" +
                       Shortened(TrimText(line)) + ")");
    skipping = true;  // the rest of this block goes with it
  }
  finish();
  std::stable_sort(cues.begin(), cues.end(),
                   [](const TSubtitleCue& a, const TSubtitleCue& b) { return a.Start < b.Start; });
  return cues;
}

}  // namespace tovamo
