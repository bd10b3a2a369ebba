// An output written under a temporary name beside its final one and renamed when its task
// ends, so that a task that fails never destroys an earlier file of the final name. The
// converter window and the tovamo-convert command share it.
#pragma once

#include <string>

namespace tovamo {

// A hidden name in the final name's folder (the rename then stays on one file system) that
// keeps the final extension, from which the output's format is told:
// "/out/clip.mpg" -> "/out/.clip.mpg.part-<process id>.mpg". A final name too long for
// that keeps a shorter stem and a hash of the whole name ("/out/.<stem>~<hash>.mpg.part-
// <process id>.mpg"), so that every final name that fits has a temporary that fits.
std::string TemporaryOutputPath(const std::string& finalPath);

// Where a task writes its output: TemporaryOutputPath when the final name is a regular file
// or nothing yet; the final name itself otherwise (a pipe or a device is written as it is,
// a folder is refused when the task starts, with the reason).
std::string OutputWritePath(const std::string& finalPath);

// How a task ended, for what becomes of its temporary file.
enum class TTaskEnd { Completed, Stopped, Failed };

// Settles a task's temporary file when the task has ended (nothing to do when it wrote
// under the final name): a completed task's file takes the final name, replacing an earlier
// file; the readable part a stopped task wrote takes it only when there is no earlier file;
// otherwise (a failure, a stop over an earlier file, nothing written) the temporary file is
// removed and an earlier file stays, which `earlierKept` reports. Returns an error text
// when the rename failed (the file then stays under its temporary name), else empty.
std::string SettleTemporaryOutput(const std::string& temporaryPath, const std::string& finalPath,
                                  TTaskEnd end, bool* earlierKept = nullptr);

// A message about a task's output (a write error of the engine, of the media libraries)
// with the temporary name, whole or as a file name, replaced by the final one: the user
// knows the output by the name asked for.
std::string NameFinalOutput(std::string message, const std::string& temporaryPath,
                            const std::string& finalPath);

}  // namespace tovamo
