#include "ProfileSource.h"

#include <algorithm>
#include <fstream>
#include <set>

#include "FormatString.h"
#include "Services/Text.h"

namespace tovamo {

std::vector<TProfile> ReadProfileSource(const std::string& fileName) {
  std::ifstream file(fileName);
  if (!file) throw std::runtime_error(fileName + ": cannot be read.");
  std::vector<TProfile> profiles;
  std::set<std::string> names;
  std::string line;
  for (int number = 1; std::getline(file, line); ++number) {
    const std::string text = TrimText(line);
    if (text.empty() || text.front() == '#') continue;
    const auto fail = [&](const std::string& what) {
      throw std::runtime_error(fileName + ":" + std::to_string(number) + ": " + what);
    };
    const std::size_t bar = text.find('|');
    if (bar == std::string::npos) fail("expected \"name|formatstring\".");
    TProfile profile{TrimText(text.substr(0, bar)), TrimText(text.substr(bar + 1))};
    if (profile.Name.empty()) fail("the profile has no name.");
    const auto bars = std::count(profile.FormatString.begin(), profile.FormatString.end(), '|');
    if (bars != kFormatFieldCount - 1) {
      fail("the format string has " + std::to_string(bars + 1) + " fields, not " +
           std::to_string(kFormatFieldCount) + ".");
    }
    if (!names.insert(profile.Name).second)
      fail("the name \"" + profile.Name + "\" is given twice.");
    profiles.push_back(std::move(profile));
  }
  return profiles;
}

}  // namespace tovamo
