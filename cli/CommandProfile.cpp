#include "CommandProfile.h"

#include <cstdio>
#include <exception>

#include "H264Profile.h"
#include "ProfileOptions.h"
#include "Services/ProgramDir.h"

namespace tovamo::cli {

std::string ProfileStorePath() {
  return ProgramDir() + "/" + kProfileStoreFileName;
}

TStoreRead ReadProfileStore(const std::string& storeFile) {
  try {
    return {LoadProfiles(storeFile), {}};
  } catch (const std::exception& e) {
    return {{}, "cannot read the profile store " + storeFile + ": " + e.what()};
  }
}

int PrintProfileNames() {
  const TStoreRead store = ReadProfileStore(ProfileStorePath());
  if (!store.Error.empty()) {
    std::fprintf(stderr, "tovamo-convert: %s\n", store.Error.c_str());
    return 2;
  }
  for (const TProfile& profile : store.Profiles) std::printf("%s\n", profile.Name.c_str());
  return 0;
}

TProfileChoice ChooseCommandProfile(const std::vector<TProfile>& profiles, const std::string& name,
                                    const std::string& aspect, const std::string& outputFolder) {
  const auto index = FindProfile(profiles, name);
  if (profiles.empty()) return {std::nullopt, "the profile store holds no profile"};
  if (!index) {
    std::string error = "there is no profile \"" + name + "\"; the profiles are:";
    for (const TProfile& profile : profiles) error += "\n  " + profile.Name;
    return {std::nullopt, error};
  }
  TCommandProfile chosen{name, ProfileValuesOf(profiles[*index].FormatString), aspect};
  if (chosen.Aspect.empty()) chosen.Aspect = AspectItemsFor(name, chosen.Values.Codec).front();
  try {
    ProfileTaskOptions(chosen, outputFolder, "input.avi",
                       "input" + OutputExtensionForCodec(chosen.Values.Codec));
  } catch (const std::exception& e) {
    return {std::nullopt, e.what()};
  }
  return {std::move(chosen), {}};
}

TOutputOptions ProfileTaskOptions(const TCommandProfile& profile, const std::string& outputFolder,
                                  const std::string& input, const std::string& outputPath) {
  TOutputOptions options =
      ProfileToOutputOptions(profile.Values, profile.Name, profile.Aspect, outputFolder, input);
  options.FileName = outputPath;
  return options;
}

}  // namespace tovamo::cli
