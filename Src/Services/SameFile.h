// Whether two local file names are one file: the one rule the output naming, the command's
// batch plan and the engine's refusal to write over an input share.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace tovamo {

// True when the two names are one file: the same existing file however written ("./",
// symbolic links, "..", another spelling of the folder, a hard link), or the same path once
// made absolute and normal when either does not exist.
bool IsSameFile(const std::string& a, const std::string& b);

// IsSameFile's rule for one name against a whole list, each name of the list looked at
// once: a batch of thousands of files is checked in linear time.
class TSameFileIndex {
 public:
  explicit TSameFileIndex(const std::vector<std::string>& names);
  // The first entry of the list that is the same file as `name`, or -1.
  int IndexOf(const std::string& name) const;

 private:
  std::map<std::pair<dev_t, ino_t>, int> Existing_;  // entries that exist, by identity
  std::map<std::string, int> AllPaths_;              // every entry, by its normal path
  std::map<std::string, int> MissingPaths_;          // entries that do not exist
};

}  // namespace tovamo
