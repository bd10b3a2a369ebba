// How much room a name takes on a terminal, and how to shorten one to fit a line.
#pragma once

#include <cstddef>
#include <string>

namespace tovamo::cli {

// Columns a UTF-8 text takes on a terminal: East Asian wide and fullwidth characters two,
// combining marks and zero-width characters none, others one (a byte that is not UTF-8
// one: the terminal shows a replacement mark). Counted from a table, not with wcwidth,
// which needs a UTF-8 locale the command does not switch to.
std::size_t DisplayWidth(const std::string& text);

// The text in at most `width` columns. A longer one keeps its start and its end around
// "..." (the end is what tells "... part one" from "... part two"), never splitting a
// character or separating a mark from its letter.
std::string ElideMiddle(const std::string& text, std::size_t width);

}  // namespace tovamo::cli
