// The output profiles: read from the profile store, and the choices the converter window
// makes from them (which profile a remembered name selects, which aspects a profile offers).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "TableStore.h"

namespace tovamo {

// The profile store beside the program and how its table is opened.
inline constexpr const char* kProfileStoreFileName = "data.dat";
inline constexpr const char* kProfileTableName = "videoaudio_format";
inline constexpr const char* kProfileIndexName = "name_index";
inline constexpr const char* kProfilePassword = "mirelo";
inline constexpr const char* kProfileNameField = "name";
inline constexpr const char* kProfileFormatField = "formatstring";

struct TProfile {
  std::string Name;
  std::string FormatString;
  bool operator==(const TProfile&) const = default;
};

// Opens the profile table of an open store (the fixed name, password and index).
void OpenProfileTable(const TTableStore& store, TStoreTable& table);

// Every record of an open profile table, in the table's index order (by name).
std::vector<TProfile> ReadProfiles(TStoreTable& table);

// Opens the store file, reads its profiles and closes it again: for a caller that needs the
// list only (the command line). ETableStoreError as TTableStore and TStoreTable raise it.
std::vector<TProfile> LoadProfiles(const std::string& storeFileName);

// The aspects a profile offers: the two video CD profiles are 4:3 only; an H.264 profile
// (by its codec value) offers "Auto" (the input's) first.
std::vector<std::string> AspectItemsFor(std::string_view profileName, std::string_view codec = {});

// The position of the profile a remembered name selects: the profile of that name, else the
// first. None when there are no profiles.
std::optional<std::size_t> ChooseProfile(const std::vector<TProfile>& profiles,
                                         std::string_view rememberedName);

// The position of the profile of that name, if there is one.
std::optional<std::size_t> FindProfile(const std::vector<TProfile>& profiles,
                                       std::string_view name);

}  // namespace tovamo
