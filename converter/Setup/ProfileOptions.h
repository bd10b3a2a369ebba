// Turns the chosen profile into the output options of one conversion task.
#pragma once

#include <string>
#include <string_view>

#include "Engine/TaskOptions.h"
#include "FormatString.h"

namespace tovamo {

// The output options for one input, from the profile's shown values, its name (which names
// the disc target and the TV norm), the chosen aspect and the output folder. With a disc
// target the target decides the video codec and bit rate; without one the profile's are used.
// Raises EConvertError when a bit rate that is used is not a whole positive number of kbit/s.
TOutputOptions ProfileToOutputOptions(const TProfileValues& values, std::string_view profileName,
                                      std::string_view aspect, std::string_view outputFolder,
                                      std::string_view inputPath);

// Output folder + "/" + the input's file name up to its first "." + the extension (".mpg",
// or ".mp4" for an H.264 profile).
std::string OutputFileNameFor(std::string_view outputFolder, std::string_view inputPath,
                              std::string_view extension = ".mpg");

// 1 "vcd", 2 "svcd", 3 "dvd", 0 none: the last of VCD, SVCD, DVD the name contains.
int TargetTypeOfProfile(std::string_view profileName);
// 2 "ntsc", 1 "pal", 0 none: the last of NTSC, PAL the name contains.
int NormTypeOfProfile(std::string_view profileName);

}  // namespace tovamo
