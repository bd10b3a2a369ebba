// A file-based store of password-protected tables: an SQLite file whose tables keep every
// field enciphered (TableCipher.h). The converter keeps its output profiles in one.
//
// Reading: open the store file, then open one table of it with its password and the name of
// the index whose order the records are visited in. The table is read whole when it opens
// (the profile table is a few dozen rows), so every fault of the file shows at Open as an
// ETableStoreError with a message that names the file, never later while records are walked.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

struct sqlite3;

namespace tovamo {

class ETableStoreError : public std::runtime_error {
 public:
  explicit ETableStoreError(const std::string& message) : std::runtime_error(message) {}
};

// An open store file (read only).
class TTableStore {
 public:
  TTableStore() = default;
  ~TTableStore();
  TTableStore(const TTableStore&) = delete;
  TTableStore& operator=(const TTableStore&) = delete;

  // Closes a store that is open first. Raises when the file is missing, a folder, empty,
  // unreadable or not an SQLite file.
  void Open(const std::string& fileName);
  void Close() noexcept;
  bool IsOpen() const { return Db_ != nullptr; }
  const std::string& FileName() const { return FileName_; }

  sqlite3* Handle() const { return Db_; }  // for TStoreTable

 private:
  sqlite3* Db_ = nullptr;
  std::string FileName_;
};

// One table of an open store, its records in index order. Independent of the store object
// once open: closing the store leaves the records read.
class TStoreTable {
 public:
  // Raises when the store is not open, the table or the index is missing, the table carries
  // no password record, the password is wrong, or a field cannot be deciphered. A table
  // without rows is no error: it has no records.
  void Open(const TTableStore& store, const std::string& tableName, const std::string& password,
            const std::string& indexName);
  void Close() noexcept;
  bool IsOpen() const { return Open_; }

  void First() { Current_ = 0; }
  void Next() {
    if (Current_ < Records_.size()) ++Current_;
  }
  bool Eof() const { return Current_ >= Records_.size(); }
  std::size_t RecordCount() const { return Records_.size(); }

  // The field of the current record. Raises for a field the table does not have and when
  // there is no current record (an empty table, or past the last record).
  const std::string& FieldAsText(const std::string& fieldName) const;

  const std::vector<std::string>& FieldNames() const { return FieldNames_; }

 private:
  bool Open_ = false;
  std::string TableName_;
  std::vector<std::string> FieldNames_;
  std::vector<std::vector<std::string>> Records_;
  std::size_t Current_ = 0;
};

}  // namespace tovamo
