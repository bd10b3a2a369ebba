// The converter's set-up: profile format strings and the profile store file.
#include <string>

#include "FormatString.h"
#include "FuzzEntries.h"
#include "FuzzSupport.h"
#include "ProfileOptions.h"
#include "Profiles.h"
#include "Services/Exceptions.h"
#include "TableStore.h"

namespace tovamo::fuzz {

// The fields, the values the window shows, and the output options of a conversion under
// each kind of profile name (none, VCD, SVCD, DVD).
void FeedFormatString(std::string_view input) {
  for (std::size_t count = 0; count <= kFormatFieldCount + 1; ++count)
    SplitFormatString(input, count);
  const TProfileValues values = ProfileValuesOf(input);
  for (const char* profile : {"Custom", "PAL VCD", "NTSC SVCD", "DVD PAL"}) {
    try {
      ProfileToOutputOptions(values, profile, "4:3", "/out", "/in/clip.avi");
    } catch (const EConvertError&) {
    }
  }
}

// The store as the converter and the command read it: every fault is an ETableStoreError.
void FeedTableStore(std::string_view input) {
  const std::string file = WriteScratchFile("data.dat", input);
  try {
    LoadProfiles(file);
  } catch (const ETableStoreError&) {
  }
}

}  // namespace tovamo::fuzz
