#include "Core/PlayerText.h"

#include <charconv>
#include <cmath>
#include <string>

namespace tovamo::player {

QString FormatSeconds(std::int64_t ASeconds) {
  if (ASeconds < 0) ASeconds = 0;
  return QStringLiteral("%1:%2:%3")
      .arg(ASeconds / 3600)
      .arg(ASeconds / 60 % 60, 2, 10, QLatin1Char('0'))
      .arg(ASeconds % 60, 2, 10, QLatin1Char('0'));
}

QString QuoteIfSpaced(const QString& AText) {
  return AText.contains(QLatin1Char(' ')) ? QLatin1Char('"') + AText + QLatin1Char('"') : AText;
}

QStringList WrapCommandLine(const QString& AText) {
  constexpr qsizetype kWidth = 72;
  QStringList pieces;
  QString rest = AText;
  while (rest.size() >= kWidth && rest.contains(QLatin1Char(' '))) {
    qsizetype cut = rest.lastIndexOf(QLatin1Char(' '), kWidth - 1);
    if (cut < 0) cut = rest.indexOf(QLatin1Char(' '));
    pieces << rest.left(cut);
    rest = rest.mid(cut + 1);
  }
  pieces << rest;
  return pieces;
}

namespace {

// Number texts are ASCII; anything else cannot be a number.
std::optional<std::string> AsciiOf(QStringView AText) {
  std::string bytes;
  bytes.reserve(std::size_t(AText.size()));
  for (QChar c : AText) {
    if (c.unicode() == 0 || c.unicode() > 0x7f) return std::nullopt;
    bytes.push_back(char(c.unicode()));
  }
  return bytes;
}

}  // namespace

std::optional<int> ParseInteger(QStringView AText) {
  const auto bytes = AsciiOf(AText);
  if (!bytes || bytes->empty()) return std::nullopt;
  int value = 0;
  const char* end = bytes->data() + bytes->size();
  const auto [ptr, ec] = std::from_chars(bytes->data(), end, value);
  if (ec != std::errc() || ptr != end) return std::nullopt;
  return value;
}

std::optional<double> ParseReal(QStringView AText) {
  const auto bytes = AsciiOf(AText);
  if (!bytes || bytes->empty()) return std::nullopt;
  double value = 0;
  const char* end = bytes->data() + bytes->size();
  const auto [ptr, ec] = std::from_chars(bytes->data(), end, value);
  if (ec != std::errc() || ptr != end || !std::isfinite(value)) return std::nullopt;
  return value;
}

}  // namespace tovamo::player
