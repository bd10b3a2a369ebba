#include "TableStore.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numeric>

#include "SqliteStatement.h"
#include "TableCipher.h"
#include "TableStoreLayout.h"

namespace tovamo {
namespace {

std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}

// The checks SQLite would make only as "file is not a database", told apart for the user.
void CheckStoreFile(const std::string& fileName) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::file_status status = fs::status(fileName, error);
  if (!fs::exists(status)) {
    throw ETableStoreError("The table store " + Quoted(fileName) + " does not exist.");
  }
  if (fs::is_directory(status)) {
    throw ETableStoreError("The table store " + Quoted(fileName) + " is a folder, not a file.");
  }
  std::ifstream file(fileName, std::ios::binary);
  if (!file) {
    throw ETableStoreError("The table store " + Quoted(fileName) +
                           " cannot be read: " + std::strerror(errno) + ".");
  }
  char header[16] = {};
  file.read(header, sizeof header);
  if (file.gcount() == 0) {
    throw ETableStoreError("The table store " + Quoted(fileName) + " is empty.");
  }
  if (file.gcount() < std::streamsize(sizeof header) ||
      std::memcmp(header, "SQLite format 3", sizeof header) != 0) {
    throw ETableStoreError("The file " + Quoted(fileName) +
                           " is not a table store (it is no SQLite file).");
  }
}

bool SchemaHas(sqlite3* db, const std::string& context, const char* type, const std::string& name,
               const std::string& tableName) {
  TSqliteStatement query(db,
                         "SELECT 1 FROM sqlite_schema WHERE type = ?1 AND name = ?2 "
                         "AND tbl_name = ?3",
                         context);
  query.Bind(1, std::string_view(type));
  query.Bind(2, name);
  query.Bind(3, tableName);
  return query.Step();
}

std::vector<std::string> ColumnNames(sqlite3* db, const std::string& context, const char* pragma,
                                     const std::string& object) {
  TSqliteStatement query(db, std::string("SELECT name FROM ") + pragma + "(?1)", context);
  query.Bind(1, object);
  std::vector<std::string> names;
  while (query.Step()) names.push_back(query.Bytes(0));
  return names;
}

}  // namespace

TTableStore::~TTableStore() {
  Close();
}

void TTableStore::Open(const std::string& fileName) {
  Close();
  CheckStoreFile(fileName);
  sqlite3* db = nullptr;
  const int result = sqlite3_open_v2(fileName.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  if (result != SQLITE_OK) {
    const std::string reason = db ? sqlite3_errmsg(db) : sqlite3_errstr(result);
    sqlite3_close(db);
    throw ETableStoreError("The table store " + Quoted(fileName) + " cannot be opened: " + reason +
                           ".");
  }
  try {
    // SQLite reads the file's header only at the first statement: a damaged file shows here.
    TSqliteStatement schema(db, "SELECT count(*) FROM sqlite_schema",
                            "The table store " + Quoted(fileName) + " cannot be read");
    schema.Step();
  } catch (...) {
    sqlite3_close(db);
    throw;
  }
  Db_ = db;
  FileName_ = fileName;
}

void TTableStore::Close() noexcept {
  if (Db_) sqlite3_close(Db_);
  Db_ = nullptr;
}

void TStoreTable::Open(const TTableStore& store, const std::string& tableName,
                       const std::string& password, const std::string& indexName) {
  Close();
  if (!store.IsOpen()) {
    throw ETableStoreError("The table " + Quoted(tableName) +
                           " cannot be opened: its table store is not open.");
  }
  sqlite3* db = store.Handle();
  const std::string where = " in the table store " + Quoted(store.FileName());
  const std::string context = "The table " + Quoted(tableName) + where + " cannot be read";

  if (!SchemaHas(db, context, "table", tableName, tableName)) {
    throw ETableStoreError("There is no table " + Quoted(tableName) + where + ".");
  }
  if (!SchemaHas(db, context, "index", indexName, tableName)) {
    throw ETableStoreError("The table " + Quoted(tableName) + where + " has no index " +
                           Quoted(indexName) + ".");
  }

  // The password record.
  if (!SchemaHas(db, context, "table", kProtectionTable, kProtectionTable)) {
    throw ETableStoreError("The table " + Quoted(tableName) + where +
                           " has no password record: the file was not written as a table store.");
  }
  TSqliteStatement protection(db,
                              std::string("SELECT salt, rounds, verifier FROM ") +
                                  QuoteIdentifier(kProtectionTable) + " WHERE table_name = ?1",
                              context);
  protection.Bind(1, tableName);
  if (!protection.Step()) {
    throw ETableStoreError("The table " + Quoted(tableName) + where + " has no password record.");
  }
  const std::string salt = protection.Bytes(0);
  const long long rounds = protection.Integer(1);
  const std::string verifier = protection.Bytes(2);
  if (salt.size() != kTableSaltSize || rounds < 1 || rounds > kMaxKeyRounds) {
    throw ETableStoreError("The password record of the table " + Quoted(tableName) + where +
                           " is damaged.");
  }
  const TTableKeys keys(password, salt, std::uint32_t(rounds));
  if (!keys.Verifies(verifier)) {
    throw ETableStoreError("Wrong password for the table " + Quoted(tableName) + where + ".");
  }

  // The records, deciphered, then put in the index's order.
  std::vector<std::string> fields = ColumnNames(db, context, "pragma_table_info", tableName);
  const std::vector<std::string> indexFields =
      ColumnNames(db, context, "pragma_index_info", indexName);
  std::string columns;
  for (const std::string& field : fields) {
    columns += (columns.empty() ? "" : ", ") + QuoteIdentifier(field);
  }
  TSqliteStatement rows(db, "SELECT " + columns + " FROM " + QuoteIdentifier(tableName), context);
  std::vector<std::vector<std::string>> records;
  while (rows.Step()) {
    std::vector<std::string>& record = records.emplace_back(fields.size());
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (rows.Type(int(i)) == SQLITE_NULL) continue;  // an empty field
      if (rows.Type(int(i)) != SQLITE_BLOB ||
          !keys.Decipher(tableName, fields[i], rows.Bytes(int(i)), record[i])) {
        throw ETableStoreError("The table " + Quoted(tableName) + where +
                               " is damaged: the field " + Quoted(fields[i]) + " of record " +
                               std::to_string(records.size()) + " cannot be deciphered.");
      }
    }
  }
  std::vector<std::size_t> sortColumns;
  for (const std::string& name : indexFields) {
    const auto found = std::find(fields.begin(), fields.end(), name);
    if (found != fields.end()) sortColumns.push_back(std::size_t(found - fields.begin()));
  }
  // Byte order of the deciphered texts, as SQLite's BINARY collation orders plain text.
  std::stable_sort(records.begin(), records.end(), [&](const auto& a, const auto& b) {
    for (std::size_t column : sortColumns) {
      if (a[column] != b[column]) return a[column] < b[column];
    }
    return false;
  });

  TableName_ = tableName;
  FieldNames_ = std::move(fields);
  Records_ = std::move(records);
  Current_ = 0;
  Open_ = true;
}

void TStoreTable::Close() noexcept {
  Open_ = false;
  FieldNames_.clear();
  Records_.clear();
  Current_ = 0;
}

const std::string& TStoreTable::FieldAsText(const std::string& fieldName) const {
  const auto found = std::find(FieldNames_.begin(), FieldNames_.end(), fieldName);
  if (found == FieldNames_.end()) {
    throw ETableStoreError("The table " + Quoted(TableName_) + " has no field " +
                           Quoted(fieldName) + ".");
  }
  if (Eof()) {
    throw ETableStoreError("The table " + Quoted(TableName_) + " has no current record.");
  }
  return Records_[Current_][std::size_t(found - FieldNames_.begin())];
}

}  // namespace tovamo
