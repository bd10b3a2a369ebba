// What a table store file holds besides the tables themselves: one row per protected table
// with its salt, PBKDF2 round count and password verifier (TableCipher.h).
#pragma once

namespace tovamo {

inline constexpr const char* kProtectionTable = "tovamo_protection";
inline constexpr const char* kProtectionTableDefinition =
    "CREATE TABLE tovamo_protection (table_name TEXT PRIMARY KEY, salt BLOB NOT NULL, "
    "rounds INTEGER NOT NULL, verifier BLOB NOT NULL)";

}  // namespace tovamo
