#include "TableStoreWriter.h"

#include <cstdio>
#include <filesystem>

#include "SqliteStatement.h"
#include "TableStoreLayout.h"

namespace tovamo {
namespace {

class TDatabase {
 public:
  TDatabase(const std::string& fileName, const std::string& context) : Context_(context) {
    if (sqlite3_open_v2(fileName.c_str(), &Db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                        nullptr) != SQLITE_OK) {
      const std::string reason = Db_ ? sqlite3_errmsg(Db_) : "out of memory";
      sqlite3_close(Db_);
      throw ETableStoreError(Context_ + ": " + reason + ".");
    }
  }
  ~TDatabase() { sqlite3_close(Db_); }
  void Execute(const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(Db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
      const std::string reason = error ? error : sqlite3_errmsg(Db_);
      sqlite3_free(error);
      throw ETableStoreError(Context_ + ": " + reason + ".");
    }
  }
  sqlite3* Handle() const { return Db_; }

 private:
  sqlite3* Db_ = nullptr;
  std::string Context_;
};

void WriteTable(const std::string& fileName, const std::string& context, const TTableContent& table,
                const std::string& password, std::uint32_t keyRounds) {
  TDatabase db(fileName, context);
  db.Execute("BEGIN");
  db.Execute(kProtectionTableDefinition);

  std::string columns;
  for (const std::string& field : table.FieldNames) {
    columns += (columns.empty() ? "" : ", ") + QuoteIdentifier(field) + " BLOB";
  }
  db.Execute("CREATE TABLE " + QuoteIdentifier(table.Name) + " (" + columns + ")");
  std::string indexColumns;
  for (const std::string& field : table.IndexFieldNames) {
    indexColumns += (indexColumns.empty() ? "" : ", ") + QuoteIdentifier(field);
  }
  db.Execute("CREATE UNIQUE INDEX " + QuoteIdentifier(table.IndexName) + " ON " +
             QuoteIdentifier(table.Name) + " (" + indexColumns + ")");

  const std::string salt = RandomBytes(kTableSaltSize);
  const TTableKeys keys(password, salt, keyRounds);
  TSqliteStatement protection(db.Handle(),
                              std::string("INSERT INTO ") + kProtectionTable +
                                  " (table_name, salt, rounds, verifier) VALUES (?1, ?2, ?3, ?4)",
                              context);
  protection.Bind(1, table.Name);
  protection.BindBlob(2, salt);
  protection.Bind(3, static_cast<long long>(keyRounds));
  protection.BindBlob(4, AsText(keys.Verifier()));
  protection.Step();

  std::string placeholders;
  for (std::size_t i = 1; i <= table.FieldNames.size(); ++i) {
    placeholders += (i > 1 ? ", ?" : "?") + std::to_string(i);
  }
  TSqliteStatement insert(
      db.Handle(), "INSERT INTO " + QuoteIdentifier(table.Name) + " VALUES (" + placeholders + ")",
      context);
  for (std::size_t row = 0; row < table.Rows.size(); ++row) {
    if (table.Rows[row].size() != table.FieldNames.size()) {
      throw ETableStoreError(context + ": row " + std::to_string(row + 1) + " has " +
                             std::to_string(table.Rows[row].size()) + " fields, the table " +
                             std::to_string(table.FieldNames.size()) + ".");
    }
    for (std::size_t i = 0; i < table.FieldNames.size(); ++i) {
      insert.BindBlob(int(i + 1),
                      keys.Encipher(table.Name, table.FieldNames[i], table.Rows[row][i]));
    }
    insert.Step();
    insert.Reset();
  }
  db.Execute("COMMIT");
}

}  // namespace

void WriteTableStore(const std::string& fileName, const TTableContent& table,
                     const std::string& password, std::uint32_t keyRounds) {
  namespace fs = std::filesystem;
  const std::string context = "The table store \"" + fileName + "\" cannot be written";
  if (keyRounds < 1 || keyRounds > kMaxKeyRounds) {
    throw ETableStoreError(context + ": the key round count is out of range.");
  }
  const std::string partName = fileName + ".part";
  std::error_code ignored;
  fs::remove(partName, ignored);
  try {
    WriteTable(partName, context, table, password, keyRounds);
    std::error_code error;
    fs::rename(partName, fileName, error);
    if (error) throw ETableStoreError(context + ": " + error.message() + ".");
  } catch (...) {
    fs::remove(partName, ignored);
    fs::remove(partName + "-journal", ignored);
    throw;
  }
}

}  // namespace tovamo
