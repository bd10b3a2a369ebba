// The engine's option vocabulary as data: every name ParseOption recognises, in the order
// in which names are tested, with the kind of its value and the member or handler it
// drives. Names outside the table go to the generic option setter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <string>

#include "Engine/FFmpeg.h"
#include "Services/Text.h"  // TrimText and LowerCaseAscii, which option texts use

namespace tovamo {

enum class TOptionKind { NoOp, Flag, Integer, Int64, Float, Text, Handler, Removed };

using TOptionHandler = void (TCustomFFmpeg::*)(const std::string& name, const std::string& value);

struct TOptionRow {
  const char* Name = nullptr;
  TOptionKind Kind = TOptionKind::NoOp;
  // The target of the row's kind; every other target stays null.
  bool TCustomFFmpeg::*Flag = nullptr;
  int TCustomFFmpeg::*Integer = nullptr;
  int FrameLimit = -1;  // Integer rows that write MaxFrames[FrameLimit] instead
  std::int64_t TCustomFFmpeg::*Int64 = nullptr;
  float TCustomFFmpeg::*Float = nullptr;
  std::string TCustomFFmpeg::*Text = nullptr;
  bool KeepWhenEmpty = false;  // Text rows: an empty value leaves the setting unchanged
  TOptionHandler Handler = nullptr;
  const char* Message = nullptr;  // Removed rows: the exception's message
  // Integer and Float rows: the values the engine can use without overflowing what it
  // computes from them; a value outside is refused where it enters.
  double Min = -std::numeric_limits<double>::infinity();
  double Max = std::numeric_limits<double>::infinity();
};

// Refuses a value outside the row's range with a message that names the option.
void CheckOptionRange(const TOptionRow& row, double value);

// The vocabulary in test order.
std::span<const TOptionRow> OptionTable();

// The first row of that exact (case-sensitive) name, or nullptr.
const TOptionRow* FindOptionRow(const std::string& name);

// CR LF, lone CR and lone LF all become LF.
std::string NormalizeLineBreaks(const std::string& text);

}  // namespace tovamo
