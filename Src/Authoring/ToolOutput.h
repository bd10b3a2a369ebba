// What the authoring tools' output lines say: how far they are, and which lines are errors.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tovamo::authoring {

// dvdauthor: "STAT: VOBU 120 at 34MB, 1 PGCs" while it reads (the megabytes written so far,
// against `totalBytes` of input) and "STAT: fixing VOBU at 34MB (120/400, 30%)" while it
// fixes the navigation packets. The fraction done, 0 to 1, of its whole run.
std::optional<double> DvdauthorFraction(const std::string& line, std::int64_t totalBytes);

// genisoimage: " 48.55% done, estimate finish ...". The fraction done.
std::optional<double> IsoWriterFraction(const std::string& line);

// The line is one of the tool's errors (dvdauthor "ERR:", vcdimager "**ERROR:",
// genisoimage "genisoimage: ..."), the reason to show when it fails.
bool IsToolErrorLine(const std::string& tool, const std::string& line);

// The line is one of the tool's errors or warnings (dvdauthor "WARN:", vcdimager "++ WARN:",
// genisoimage "Warning: ..."). A warning means the image is not what it should be: titles
// of another norm skipped, a stream the disc's rules do not allow.
bool IsToolComplaintLine(const std::string& tool, const std::string& line);

}  // namespace tovamo::authoring
