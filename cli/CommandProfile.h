// The output profile a run converts with (--profile), read from the profile store beside the
// program, and the task options it gives: built as the converter window builds them, so that
// the same input, profile and aspect give the same output file.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Engine/TaskOptions.h"
#include "FormatString.h"
#include "Profiles.h"

namespace tovamo::cli {

// "data.dat" beside the program, the store the converter window reads.
std::string ProfileStorePath();

struct TStoreRead {
  std::vector<TProfile> Profiles;
  std::string Error;  // one line when the store cannot be read; the profiles are then empty
};

TStoreRead ReadProfileStore(const std::string& storeFile);

// --list-profiles: the names of the store beside the program in the store's order, one a
// line. Exit status 0, or 2 when the store cannot be read.
int PrintProfileNames();

struct TCommandProfile {
  std::string Name;
  TProfileValues Values;  // as the window shows them for the profile
  std::string Aspect;
};

struct TProfileChoice {
  std::optional<TCommandProfile> Profile;  // empty when the name or its values do not fit
  std::string Error;                       // then what is wrong, with the known names if unknown
};

// The profile `name` of `profiles` with `aspect`, or the first aspect the profile offers when
// `aspect` is empty (the window's choice for a newly chosen profile). Its values are turned
// into options once here, so that a profile that cannot become options stops the run first.
TProfileChoice ChooseCommandProfile(const std::vector<TProfile>& profiles, const std::string& name,
                                    const std::string& aspect, const std::string& outputFolder);

// The output options of one input written to `outputPath` (its distinct name in the batch),
// exactly as the window sets up its task.
TOutputOptions ProfileTaskOptions(const TCommandProfile& profile, const std::string& outputFolder,
                                  const std::string& input, const std::string& outputPath);

}  // namespace tovamo::cli
