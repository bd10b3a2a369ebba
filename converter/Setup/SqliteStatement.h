// A prepared SQLite statement that finalises itself, for the store's reader and writer.
#pragma once

#include <sqlite3.h>

#include <string>
#include <string_view>

#include "TableStore.h"

namespace tovamo {

// An SQL identifier in double quotes, any quote in it doubled.
inline std::string QuoteIdentifier(std::string_view name) {
  std::string quoted = "\"";
  for (char c : name) {
    quoted += c;
    if (c == '"') quoted += '"';
  }
  return quoted + "\"";
}

class TSqliteStatement {
 public:
  // `context` begins the message of every error ("Table store \"x\" cannot be read").
  TSqliteStatement(sqlite3* db, const std::string& sql, std::string context)
      : Db_(db), Context_(std::move(context)) {
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &Statement_, nullptr) != SQLITE_OK) Fail();
  }
  ~TSqliteStatement() { sqlite3_finalize(Statement_); }
  TSqliteStatement(const TSqliteStatement&) = delete;
  TSqliteStatement& operator=(const TSqliteStatement&) = delete;

  void Bind(int index, std::string_view text) {
    Check(sqlite3_bind_text(Statement_, index, text.data(), int(text.size()), SQLITE_TRANSIENT));
  }
  void BindBlob(int index, std::string_view bytes) {
    Check(sqlite3_bind_blob(Statement_, index, bytes.data(), int(bytes.size()), SQLITE_TRANSIENT));
  }
  void Bind(int index, long long value) { Check(sqlite3_bind_int64(Statement_, index, value)); }

  // True while a row is there; raises on an error.
  bool Step() {
    const int result = sqlite3_step(Statement_);
    if (result == SQLITE_ROW) return true;
    if (result == SQLITE_DONE) return false;
    Fail();
  }
  void Reset() {
    sqlite3_reset(Statement_);
    sqlite3_clear_bindings(Statement_);
  }

  int Type(int column) const { return sqlite3_column_type(Statement_, column); }
  long long Integer(int column) const { return sqlite3_column_int64(Statement_, column); }
  // Text or blob bytes of a column, whatever its type.
  std::string Bytes(int column) const {
    const void* data = sqlite3_column_blob(Statement_, column);
    const int size = sqlite3_column_bytes(Statement_, column);
    return data ? std::string(static_cast<const char*>(data), std::size_t(size)) : std::string();
  }

 private:
  void Check(int result) {
    if (result != SQLITE_OK) Fail();
  }
  [[noreturn]] void Fail() { throw ETableStoreError(Context_ + ": " + sqlite3_errmsg(Db_) + "."); }

  sqlite3* Db_;
  sqlite3_stmt* Statement_ = nullptr;
  std::string Context_;
};

}  // namespace tovamo
