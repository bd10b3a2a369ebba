// makedata PROFILES.TXT DATA.DAT: writes the profile store the converter reads.
#include <exception>
#include <iostream>

#include "ProfileSource.h"
#include "TableStoreWriter.h"

int main(int argc, char** argv) {
  using namespace tovamo;
  if (argc != 3) {
    std::cerr << "Usage: makedata PROFILES.TXT DATA.DAT\n";
    return 2;
  }
  try {
    TTableContent table;
    table.Name = kProfileTableName;
    table.FieldNames = {kProfileNameField, kProfileFormatField};
    table.IndexName = kProfileIndexName;
    table.IndexFieldNames = {kProfileNameField};
    for (const TProfile& profile : ReadProfileSource(argv[1])) {
      table.Rows.push_back({profile.Name, profile.FormatString});
    }
    WriteTableStore(argv[2], table, kProfilePassword);
    std::cout << "makedata: " << table.Rows.size() << " profiles written to " << argv[2] << "\n";
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "makedata: " << e.what() << "\n";
    return 1;
  }
}
