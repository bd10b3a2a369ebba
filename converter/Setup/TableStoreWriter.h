// Writes a table store file with one protected table: the build's data.dat maker uses it,
// and the tests make stores of their own with it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "TableCipher.h"

namespace tovamo {

struct TTableContent {
  std::string Name;
  std::vector<std::string> FieldNames;
  std::string IndexName;
  std::vector<std::string> IndexFieldNames;    // a unique index over these fields
  std::vector<std::vector<std::string>> Rows;  // one text per field
};

// Writes the whole file under a temporary name beside it and renames it into place, so a
// failure (ETableStoreError) leaves no half-written store and an older file untouched.
void WriteTableStore(const std::string& fileName, const TTableContent& table,
                     const std::string& password, std::uint32_t keyRounds = kDefaultKeyRounds);

}  // namespace tovamo
