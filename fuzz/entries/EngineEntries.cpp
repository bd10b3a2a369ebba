// The engine's option vocabulary: one option, and whole option texts through the passes
// that AddTask and SetOutputFile run. The engine's promise is that every fault comes back as
// FFmpegException or EConvertError, which the encoder component turns into a result.
#include <string>

#include "Components/OutputOptionPasses.h"
#include "Engine/FFmpeg.h"
#include "Engine/OptionText.h"
#include "FuzzEntries.h"
#include "Services/Exceptions.h"

namespace tovamo::fuzz {

namespace {

// A frame hook is a library loaded by the path in its value: not for a fuzzer to choose.
bool LoadsLibrary(const std::string& name) {
  return name == "vhook";
}

}  // namespace

void FeedOption(std::string_view input) {
  const std::size_t eq = input.find('=');
  const std::string name(input.substr(0, eq));
  const std::string value(eq == std::string_view::npos ? std::string_view() : input.substr(eq + 1));
  if (LoadsLibrary(name)) return;
  TFFmpeg engine(8);
  engine.StrictOptions = true;
  try {
    engine.ParseOption(name, value);
  } catch (const FFmpegException&) {
  } catch (const EConvertError&) {
  }
}

// Pass A (defaults and queue), pass B (the text's lines, with and without codec lines) and
// pass C (the extra streams; without an output it stops at the first "new..." line with the
// engine's own error).
void FeedOptionText(std::string_view input) {
  const std::string text(input);
  for (const TOptionLine& line : SplitOptionText(text))
    if (LoadsLibrary(line.Name)) return;
  TOutputOptions options;
  options.ExtraOptions = text;
  for (bool withCodecs : {false, true}) {
    TOptionDefaults defaults(options);
    TFFmpeg engine(8);
    engine.StrictOptions = true;
    try {
      engine.ParseOptions(text, withCodecs);
      ApplyOutputRecord(engine, options);
      ApplyExtraStreams(engine, text, defaults);
    } catch (const FFmpegException&) {
    } catch (const EConvertError&) {
    }
  }
}

}  // namespace tovamo::fuzz
