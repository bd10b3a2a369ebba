// Where a conversion writes its result: the output name of an input in a folder, distinct
// names for the inputs of one batch, and the refusal of an output that would overwrite an
// input. The converter window and the tovamo-convert command share these rules.
#pragma once

#include <string>
#include <vector>

#include "Services/SameFile.h"  // IsSameFile, the rule used here

namespace tovamo {

// The extension of MPEG outputs; an H.264 profile writes ".mp4".
inline constexpr const char* kMpegExtension = ".mpg";

// The input's file name (without its folder) up to its first "." plus the extension:
// "clip.part1.avi" -> "clip.mpg". Dots that begin the name belong to it (".clip.avi" ->
// ".clip.mpg"), so a hidden file does not become the bare name ".mpg".
std::string OutputFileName(const std::string& inputPath,
                           const std::string& extension = kMpegExtension);

// folder + "/" + OutputFileName(input); an empty folder is the current one (the name alone).
std::string OutputPathIn(const std::string& folder, const std::string& inputPath,
                         const std::string& extension = kMpegExtension);

struct TBatchOutputName {
  std::string Path;  // where this input's result goes
  // The name the input would have had when another input of the batch already holds it
  // (Path is then a distinct one, "clip-2.mpg"); empty when the input has its own name.
  std::string TakenPath;
};

// The output of every input of a batch, in input order. An input keeps its own name unless
// an earlier input of the batch has it; such a later input gets the first of "stem-2.mpg",
// "stem-3.mpg", ... that no input of the batch has as its own name and that is not one of
// the inputs. Every output has `extension`.
std::vector<TBatchOutputName> NameBatchOutputs(const std::string& folder,
                                               const std::vector<std::string>& inputs,
                                               const std::string& extension = kMpegExtension);

// The index of the input that writing `output` would overwrite, or -1 when none. For many
// outputs against one list, a TSameFileIndex of the inputs answers each in turn.
int InputOverwrittenBy(const std::string& output, const std::vector<std::string>& inputs);

}  // namespace tovamo
