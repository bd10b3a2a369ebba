// The built-in option presets, and the translation of their keys to the options today's
// encoders understand. The presets were written for an encoder generation whose generic
// options ("flags2=+dct8x8", "cqp", "directpred", ...) have since become private options of
// the libx264 encoder, under other names and value syntaxes; the table keeps the historical
// text and the translation is applied only when a built-in preset is applied.
#pragma once

#include <string>
#include <vector>

#include "Services/FFHeaders.h"

namespace tovamo {

struct TOptionsPreset {
  std::string Name;
  std::string Content;  // lines "key=value", each ending with LF
};

// The presets in table order.
const std::vector<TOptionsPreset>& BuiltinPresets();
// The first preset whose name equals name without regard to letter case, or nullptr.
const TOptionsPreset* FindBuiltinPreset(const std::string& name);

struct TPresetOption {
  std::string Key;
  std::string Value;
};

struct TPresetTranslation {
  std::vector<TPresetOption> Options;  // to set, in order
  std::vector<std::string> Skipped;    // what has no equivalent, as "key" or "key=token"
};

// Translates one line of a built-in preset. x264Class is the private option class of the
// libx264 encoder, or nullptr when the library has no such encoder: then every key that
// only libx264 understands is skipped.
TPresetTranslation TranslateBuiltinPresetOption(const std::string& key, const std::string& value,
                                                const AVClass* x264Class);

}  // namespace tovamo
