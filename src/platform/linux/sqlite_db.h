#pragma once
// A small owning wrapper around one SQLite connection, shared by the hive
// and the certificate stores. Opens in WAL mode with a busy timeout so two
// QUIL processes can use the same file at once.
#include <sqlite3.h>

#include <functional>
#include <memory>
#include <string>

namespace quil::platform {

class SqliteStatement {
 public:
  SqliteStatement(sqlite3* db, const char* sql);
  ~SqliteStatement();
  SqliteStatement(const SqliteStatement&) = delete;
  SqliteStatement& operator=(const SqliteStatement&) = delete;

  bool ok() const { return stmt_ != nullptr; }
  SqliteStatement& Bind(int index, const std::string& text);
  SqliteStatement& BindBlob(int index, const std::string& bytes);
  SqliteStatement& Bind(int index, long long value);
  // SQLITE_ROW, SQLITE_DONE or an error code.
  int Step();
  std::string Text(int column) const;
  std::string Blob(int column) const;
  long long Int(int column) const;
  bool IsNull(int column) const;

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

class SqliteDb {
 public:
  // Opens or creates `file` (mode 0600, parent folders created) and runs
  // `schema` once. Returns nullptr on failure.
  static std::unique_ptr<SqliteDb> Open(const std::string& file, const char* schema);
  ~SqliteDb();

  sqlite3* handle() const { return db_; }
  bool Exec(const char* sql);
  // Runs `body` inside BEGIN IMMEDIATE ... COMMIT; rolls back when it
  // returns false.
  bool Transaction(const std::function<bool()>& body);

 private:
  explicit SqliteDb(sqlite3* db) : db_(db) {}
  sqlite3* db_;
};

}  // namespace quil::platform
