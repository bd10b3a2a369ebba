#include "Profiles.h"

#include "H264Profile.h"

namespace tovamo {

void OpenProfileTable(const TTableStore& store, TStoreTable& table) {
  table.Open(store, kProfileTableName, kProfilePassword, kProfileIndexName);
}

std::vector<TProfile> ReadProfiles(TStoreTable& table) {
  std::vector<TProfile> profiles;
  table.First();
  for (std::size_t i = 0; i < table.RecordCount(); ++i) {
    profiles.push_back(
        {table.FieldAsText(kProfileNameField), table.FieldAsText(kProfileFormatField)});
    table.Next();
  }
  return profiles;
}

std::vector<TProfile> LoadProfiles(const std::string& storeFileName) {
  TTableStore store;
  store.Open(storeFileName);
  TStoreTable table;
  OpenProfileTable(store, table);
  return ReadProfiles(table);
}

std::vector<std::string> AspectItemsFor(std::string_view profileName, std::string_view codec) {
  if (IsH264Codec(codec)) return {"Auto", "4:3", "16:9"};
  if (profileName == "MPEG1 FOR PAL VCD(352*288)" || profileName == "MPEG1 FOR NTSC VCD(352*240)") {
    return {"4:3"};
  }
  return {"4:3", "16:9"};
}

std::optional<std::size_t> FindProfile(const std::vector<TProfile>& profiles,
                                       std::string_view name) {
  for (std::size_t i = 0; i < profiles.size(); ++i) {
    if (profiles[i].Name == name) return i;
  }
  return std::nullopt;
}

std::optional<std::size_t> ChooseProfile(const std::vector<TProfile>& profiles,
                                         std::string_view rememberedName) {
  if (profiles.empty()) return std::nullopt;
  return FindProfile(profiles, rememberedName).value_or(0);
}

}  // namespace tovamo
