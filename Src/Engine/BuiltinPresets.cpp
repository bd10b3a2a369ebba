#include "Engine/BuiltinPresets.h"

#include <string_view>

#include "Services/FFBindings.h"
#include "Services/Text.h"

namespace tovamo {
namespace {

// ---- The presets ------------------------------------------------------------------------

// clang-format off
// Every long preset holds these keys in this order; a null value leaves the key out.
constexpr const char* kKeys[] = {
    "coder", "flags", "cmp", "partitions", "me_method", "subq", "me_range", "g", "keyint_min",
    "sc_threshold", "i_qfactor", "b_strategy", "qcomp", "qmin", "qmax", "qdiff", "bf", "refs",
    "directpred", "trellis", "flags2", "cqp", "wpredp"};
constexpr int kKeyCount = sizeof(kKeys) / sizeof(kKeys[0]);

// The values every long preset shares.
constexpr const char* kCmp = "+chroma";
constexpr const char* kG = "250";
constexpr const char* kKeyintMin = "25";
constexpr const char* kIQFactor = "0.71";
constexpr const char* kQComp = "0.6";
constexpr const char* kQMin = "10";
constexpr const char* kQMax = "51";
constexpr const char* kQDiff = "4";

// The values that vary, in this column order.
enum {
  cCoder, cFlags, cPartitions, cMeMethod, cSubq, cMeRange, cScThreshold, cBStrategy, cBf,
  cRefs, cDirectPred, cTrellis, cFlags2, cWPredP, cCqp, cColumnCount
};

struct TPresetRow {
  const char* Name;
  const char* Content;  // the short presets are written out; null: made from Values
  const char* Values[cColumnCount];
};

constexpr const char* _ = nullptr;  // the key is left out

const TPresetRow kPresetRows[] = {
    {"libx264-baseline", "coder=0\nbf=0\nflags2=-wpred-dct8x8\nwpredp=0\n", {}},
    {"libx264-default", _, {"1", "+loop", "+parti8x8+parti4x4+partp8x8+partb8x8", "hex", "7", "16", "40", "1", "3", "3", "1", "1", "+mixed_refs+wpred+dct8x8+fastpskip", "2", _}},
    {"libx264-fast", _, {"1", "+loop", "+parti8x8+parti4x4+partp8x8+partb8x8", "hex", "6", "16", "40", "1", "3", "2", "1", "1", "+bpyramid+mixed_refs+wpred+dct8x8+fastpskip", "2", _}},
    {"libx264-fast_firstpass", _, {"1", "+loop", "-parti8x8-parti4x4-partp8x8-partb8x8", "dia", "2", "16", "40", "1", "3", "1", "1", "0", "+bpyramid-mixed_refs+wpred-dct8x8+fastpskip", "2", _}},
    {"libx264-faster", _, {"1", "+loop", "+parti8x8+parti4x4+partp8x8+partb8x8", "hex", "4", "16", "40", "1", "3", "2", "1", "1", "+bpyramid-mixed_refs+wpred+dct8x8+fastpskip", "1", _}},
    {"libx264-faster_firstpass", _, {"1", "+loop", "-parti8x8-parti4x4-partp8x8-partb8x8", "dia", "2", "16", "40", "1", "3", "1", "1", "0", "+bpyramid-mixed_refs+wpred-dct8x8+fastpskip", "1", _}},
    {"libx264-fastfirstpass", _, {"1", "+loop", "-parti8x8-parti4x4-partp8x8-partp4x4-partb8x8", "dia", "2", "16", "40", "1", "3", "1", "3", "0", "-bpyramid-wpred-mixed_refs-dct8x8+fastpskip", "2", _}},
    {"libx264-hq", _, {"1", "+loop", "+parti8x8+parti4x4+partp8x8+partb8x8", "umh", "8", "16", "40", "2", "3", "4", "3", "1", "+wpred+mixed_refs+dct8x8+fastpskip", "2", _}},
    {"libx264-ipod320", "coder=0\nbf=0\nflags2=-wpred-dct8x8\nlevel=13\nmaxrate=768000\nbufsize=3000000\nwpredp=0\n", {}},
    {"libx264-ipod640", "coder=0\nbf=0\nrefs=1\nflags2=-wpred-dct8x8\nlevel=30\nmaxrate=10000000\nbufsize=10000000\nwpredp=0\n", {}},
    {"libx264-lossless_fast", _, {"0", "+loop", "-parti8x8+parti4x4+partp8x8-partp4x4-partb8x8", "hex", "3", "16", "40", "1", _, _, "1", _, "+fastpskip", "0", "0"}},
    {"libx264-lossless_max", _, {"1", "+loop", "+parti8x8+parti4x4+partp8x8+partp4x4-partb8x8", "esa", "8", "16", "40", "1", _, "16", "1", _, "+mixed_refs+dct8x8+fastpskip", "2", "0"}},
    {"libx264-lossless_medium", _, {"1", "+loop", "-parti8x8+parti4x4+partp8x8+partp4x4-partb8x8", "hex", "5", "16", "40", "1", _, _, "1", _, "+fastpskip", "2", "0"}},
    {"libx264-lossless_slow", _, {"1", "+loop", "+parti8x8+parti4x4+partp8x8+partp4x4-partb8x8", "umh", "6", "16", "40", "1", _, "2", "1", _, "+dct8x8+fastpskip", "2", "0"}},
    {"libx264-lossless_slower", _, {"1", "+loop", "+parti8x8+parti4x4+partp8x8+partp4x4-partb8x8", "umh", "8", "16", "40", "1", _, "4", "1", _, "+mixed_refs+dct8x8+fastpskip", "2", "0"}},
    {"libx264-lossless_ultrafast", _, {"0", "+loop", "-parti8x8-parti4x4-partp8x8-partp4x4-partb8x8", "dia", "0", "16", "40", "1", _, _, "1", _, "+fastpskip", _, "0"}},
    {"libx264-main", "flags2=-dct8x8\n", {}},
    {"libx264-max", _, {"1", "+loop", "+parti8x8+parti4x4+partp8x8+partp4x4+partb8x8", "tesa", "10", "24", "40", "2", "3", "16", "3", "2", "+wpred+mixed_refs+dct8x8-fastpskip", "2", _}},
    {"libx264-medium", _, {"1", "+loop", "+parti8x8+parti4x4+partp8x8+partb8x8", "hex", "7", "16", "40", "1", "3", "3", "1", "1", "+bpyramid+mixed_refs+wpred+dct8x8+fastpskip", "2", _}},
    {"libx264-medium_firstpass", _, {"1", "+loop", "-parti8x8-parti4x4-partp8x8-partb8x8", "dia", "2", "16", "40", "1", "3", "1", "1", "0", "+bpyramid-mixed_refs+wpred-dct8x8+fastpskip", "2", _}},
    {"libx264-normal", _, {"1", "+loop", "+parti8x8+parti4x4+partp8x8+partb8x8", "hex", "6", "16", "40", "1", "3", "2", "3", "0", "+wpred+dct8x8+fastpskip", "2", _}},
    {"libx264-placebo", _, {"1", "+loop", "+parti8x8+parti4x4+partp8x8+partp4x4+partb8x8", "tesa", "10", "24", "40", "2", "16", "16", "3", "2", "+bpyramid+mixed_refs+wpred+dct8x8-fastpskip", "2", _}},
    {"libx264-placebo_firstpass", _, {"1", "+loop", "+parti8x8+parti4x4+partp8x8+partp4x4+partb8x8", "tesa", "10", "24", "40", "2", "16", "16", "3", "2", "+bpyramid+mixed_refs+wpred+dct8x8-fastpskip", "2", _}},
    {"libx264-slow", _, {"1", "+loop", "+parti8x8+parti4x4+partp8x8+partb8x8", "umh", "8", "16", "40", "2", "3", "5", "3", "1", "+bpyramid+mixed_refs+wpred+dct8x8+fastpskip", "2", _}},
    {"libx264-slow_firstpass", _, {"1", "+loop", "-parti8x8-parti4x4-partp8x8-partb8x8", "dia", "2", "16", "40", "2", "3", "1", "3", "0", "+bpyramid-mixed_refs+wpred-dct8x8+fastpskip", "2", _}},
    {"libx264-slower", _, {"1", "+loop", "+parti8x8+parti4x4+partp8x8+partp4x4+partb8x8", "umh", "9", "16", "40", "2", "3", "8", "3", "2", "+bpyramid+mixed_refs+wpred+dct8x8+fastpskip", "2", _}},
    {"libx264-slower_firstpass", _, {"1", "+loop", "-parti8x8-parti4x4-partp8x8-partb8x8", "dia", "2", "16", "40", "2", "3", "1", "3", "0", "+bpyramid-mixed_refs+wpred-dct8x8+fastpskip", "2", _}},
    {"libx264-slowfirstpass", _, {"1", "+loop", "+parti8x8+parti4x4+partp8x8+partb8x8", "hex", "6", "16", "40", "2", "3", "1", "3", "0", "+wpred+dct8x8+fastpskip", "2", _}},
    {"libx264-superfast", _, {"1", "+loop", "+parti8x8+parti4x4-partp8x8-partb8x8", "dia", "1", "16", "40", "1", "3", "1", "1", "0", "+bpyramid-mixed_refs+wpred+dct8x8+fastpskip-mbtree", "0", _}},
    {"libx264-superfast_firstpass", _, {"1", "+loop", "-parti8x8-parti4x4-partp8x8-partb8x8", "dia", "1", "16", "40", "1", "3", "1", "1", "0", "+bpyramid-mixed_refs+wpred-dct8x8+fastpskip-mbtree", "0", _}},
    {"libx264-ultrafast", _, {"0", "-loop", "-parti8x8-parti4x4-partp8x8-partb8x8", "dia", "0", "16", "0", "0", "0", "1", "1", "0", "-bpyramid-mixed_refs-wpred-dct8x8+fastpskip-mbtree", "0", _}},
    {"libx264-ultrafast_firstpass", _, {"0", "-loop", "-parti8x8-parti4x4-partp8x8-partb8x8", "dia", "0", "16", "0", "0", "0", "1", "1", "0", "-bpyramid-mixed_refs-wpred-dct8x8+fastpskip-mbtree", "0", _}},
    {"libx264-veryfast", _, {"1", "+loop", "+parti8x8+parti4x4+partp8x8+partb8x8", "hex", "2", "16", "40", "1", "3", "1", "1", "0", "+bpyramid-mixed_refs+wpred+dct8x8+fastpskip-mbtree", "0", _}},
    {"libx264-veryfast_firstpass", _, {"1", "+loop", "-parti8x8-parti4x4-partp8x8-partb8x8", "dia", "2", "16", "40", "1", "3", "1", "1", "0", "+bpyramid-mixed_refs+wpred-dct8x8+fastpskip-mbtree", "0", _}},
    {"libx264-veryslow", _, {"1", "+loop", "+parti8x8+parti4x4+partp8x8+partp4x4+partb8x8", "umh", "10", "24", "40", "2", "8", "16", "3", "2", "+bpyramid+mixed_refs+wpred+dct8x8+fastpskip", "2", _}},
    {"libx264-veryslow_firstpass", _, {"1", "+loop", "-parti8x8-parti4x4-partp8x8-partb8x8", "dia", "2", "24", "40", "2", "8", "1", "3", "0", "+bpyramid-mixed_refs+wpred-dct8x8+fastpskip", "2", _}},
};
// clang-format on

std::string MakeContent(const TPresetRow& row) {
  if (row.Content) return row.Content;
  const char* const* v = row.Values;
  // Values in key order (kKeys).
  const char* values[kKeyCount] = {
      v[cCoder],      v[cFlags],   kCmp,       v[cPartitions],  v[cMeMethod], v[cSubq],
      v[cMeRange],    kG,          kKeyintMin, v[cScThreshold], kIQFactor,    v[cBStrategy],
      kQComp,         kQMin,       kQMax,      kQDiff,          v[cBf],       v[cRefs],
      v[cDirectPred], v[cTrellis], v[cFlags2], v[cCqp],         v[cWPredP]};
  std::string content;
  for (int i = 0; i < kKeyCount; ++i)
    if (values[i]) content += std::string(kKeys[i]) + "=" + values[i] + "\n";
  return content;
}

// ---- The translation ----------------------------------------------------------------

enum class TValueRule {
  Same,        // the value as written
  Partitions,  // "+parti8x8-partp4x4..." -> "i8x8,..." (x264's list), "none" when empty
  DirectPred,  // 0..3 -> none, spatial, temporal, auto
  Flags2,      // each +/- token becomes an option of its own (kFlags2Tokens)
};

// Keys of the built-in presets that libx264 now takes as private options. Keys not listed
// are generic codec options still known under their old names (flags, cmp, subq, me_range,
// g, keyint_min, i_qfactor, qcomp, qmin, qmax, qdiff, bf, refs, trellis, level, maxrate,
// bufsize) and pass unchanged.
struct TKeyTranslation {
  const char* Key;
  const char* NewKey;  // null for Flags2: every token names its own option
  TValueRule Rule;
};

constexpr TKeyTranslation kKeyTranslations[] = {
    {"coder", "coder", TValueRule::Same},
    {"partitions", "partitions", TValueRule::Partitions},
    {"me_method", "motion-est", TValueRule::Same},
    {"sc_threshold", "sc_threshold", TValueRule::Same},
    {"b_strategy", "b_strategy", TValueRule::Same},
    {"directpred", "direct-pred", TValueRule::DirectPred},
    {"flags2", nullptr, TValueRule::Flags2},
    {"cqp", "qp", TValueRule::Same},
    {"wpredp", "weightp", TValueRule::Same},
};

struct TFlags2Token {
  const char* Token;
  const char* Option;
  const char* On;   // value for "+token"
  const char* Off;  // value for "-token"
};

constexpr TFlags2Token kFlags2Tokens[] = {
    {"dct8x8", "8x8dct", "1", "0"},         {"wpred", "weightb", "1", "0"},
    {"mixed_refs", "mixed-refs", "1", "0"}, {"fastpskip", "fast-pskip", "1", "0"},
    {"mbtree", "mbtree", "1", "0"},         {"bpyramid", "b-pyramid", "normal", "none"},
};

struct TPartition {
  const char* Token;
  const char* X264;
};
constexpr TPartition kPartitions[] = {{"parti4x4", "i4x4"},
                                      {"parti8x8", "i8x8"},
                                      {"partp4x4", "p4x4"},
                                      {"partp8x8", "p8x8"},
                                      {"partb8x8", "b8x8"}};

constexpr const char* kDirectPred[] = {"none", "spatial", "temporal", "auto"};

// "+a-b+c" -> {('+', "a"), ('-', "b"), ('+', "c")}; a leading token without sign counts as
// "+". Returns false on an empty token.
bool SplitSignedTokens(const std::string& value, std::vector<std::pair<char, std::string>>& out) {
  std::size_t i = 0;
  while (i < value.size()) {
    char sign = '+';
    if (value[i] == '+' || value[i] == '-') sign = value[i++];
    const std::size_t end = value.find_first_of("+-", i);
    const std::string token = value.substr(i, end == std::string::npos ? end : end - i);
    if (token.empty()) return false;
    out.emplace_back(sign, token);
    i = end == std::string::npos ? value.size() : end;
  }
  return true;
}

bool X264Knows(const AVClass* x264Class, const char* name) {
  return x264Class && ff::av_opt_find &&
         ff::av_opt_find(&x264Class, name, nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ);
}

}  // namespace

const std::vector<TOptionsPreset>& BuiltinPresets() {
  static const std::vector<TOptionsPreset> presets = [] {
    std::vector<TOptionsPreset> v;
    for (const TPresetRow& row : kPresetRows) v.push_back({row.Name, MakeContent(row)});
    return v;
  }();
  return presets;
}

const TOptionsPreset* FindBuiltinPreset(const std::string& name) {
  for (const TOptionsPreset& p : BuiltinPresets())
    if (SameTextIgnoringCase(p.Name, name)) return &p;
  return nullptr;
}

TPresetTranslation TranslateBuiltinPresetOption(const std::string& key, const std::string& value,
                                                const AVClass* x264Class) {
  TPresetTranslation result;
  const TKeyTranslation* rule = nullptr;
  for (const TKeyTranslation& t : kKeyTranslations)
    if (key == t.Key) rule = &t;
  if (!rule) {
    result.Options.push_back({key, value});
    return result;
  }

  auto add = [&](const char* option, const std::string& v, const std::string& skippedAs) {
    if (X264Knows(x264Class, option))
      result.Options.push_back({option, v});
    else
      result.Skipped.push_back(skippedAs);
  };

  switch (rule->Rule) {
    case TValueRule::Same:
      add(rule->NewKey, value, key);
      break;
    case TValueRule::DirectPred: {
      const int n = value.size() == 1 ? value[0] - '0' : -1;
      if (n >= 0 && n < 4)
        add(rule->NewKey, kDirectPred[n], key);
      else
        result.Skipped.push_back(key);
      break;
    }
    case TValueRule::Partitions: {
      std::vector<std::pair<char, std::string>> tokens;
      if (!SplitSignedTokens(value, tokens)) {
        result.Skipped.push_back(key);
        break;
      }
      std::string list;
      for (const auto& [sign, token] : tokens) {
        const TPartition* p = nullptr;
        for (const TPartition& q : kPartitions)
          if (token == q.Token) p = &q;
        if (!p) {
          result.Skipped.push_back(key + "=" + sign + token);
        } else if (sign == '+') {
          if (!list.empty()) list += ",";
          list += p->X264;
        }
      }
      add(rule->NewKey, list.empty() ? "none" : list, key);
      break;
    }
    case TValueRule::Flags2: {
      std::vector<std::pair<char, std::string>> tokens;
      if (!SplitSignedTokens(value, tokens)) {
        result.Skipped.push_back(key);
        break;
      }
      for (const auto& [sign, token] : tokens) {
        const std::string piece = key + "=" + sign + token;
        const TFlags2Token* t = nullptr;
        for (const TFlags2Token& q : kFlags2Tokens)
          if (token == q.Token) t = &q;
        if (t)
          add(t->Option, sign == '+' ? t->On : t->Off, piece);
        else
          result.Skipped.push_back(piece);
      }
      break;
    }
  }
  return result;
}

}  // namespace tovamo
