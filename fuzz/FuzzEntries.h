// One input of each fuzz target, fed to the product's own entry points. The fuzz programs
// (targets/) call these for every input the fuzzer makes, and the ordinary tests feed them
// the inputs the fuzzers once failed on (fuzz/findings/<target>/).
//
// Each returns normally when the product handled the input, with a result or with the error
// its entry point promises; anything else (an escaping exception, a crash) is a finding.
#pragma once

#include <string_view>

namespace tovamo::fuzz {

// The engine and the converter's set-up (the media libraries loaded first).
void FeedOption(std::string_view input);        // "name=value" to ParseOption
void FeedOptionText(std::string_view input);    // an option text through the option passes
void FeedFormatString(std::string_view input);  // a profile's format string
void FeedTableStore(std::string_view input);    // a profile store file

// The player (a QCoreApplication first).
void FeedPlayerOutput(std::string_view input);    // MPlayer's output bytes
void FeedM3uList(std::string_view input);         // an ".m3u" list
void FeedPlayerSettings(std::string_view input);  // a settings file

}  // namespace tovamo::fuzz
