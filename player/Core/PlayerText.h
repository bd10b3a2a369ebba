// Text helpers of the player: time texts, quoting for the logged command line, and the
// wrapping of that command line into the log window.
#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

#include <cstdint>
#include <optional>

namespace tovamo::player {

// "H:MM:SS" with unbounded, unpadded hours; a negative count shows as 0:00:00.
QString FormatSeconds(std::int64_t ASeconds);

// The text in double quotes when it holds a space, else unchanged.
QString QuoteIfSpaced(const QString& AText);

// Cuts the command line into log lines of at most 72 characters at spaces (the space at a
// cut is dropped); a word longer than that stays whole on its own line.
QStringList WrapCommandLine(const QString& AText);

// Numbers in MPlayer's output: "." is the decimal separator whatever the locale says.
// An optional sign and decimal digits that fit in 32 bits; nothing else.
std::optional<int> ParseInteger(QStringView AText);
// A finite real number ("2.04", "-1", "1e3"); infinities and NaN are refused.
std::optional<double> ParseReal(QStringView AText);

}  // namespace tovamo::player
