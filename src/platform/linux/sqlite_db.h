#pragma once
// A small owning wrapper around one SQLite connection, shared by the hive
// and the certificate stores. Opens in WAL mode with a busy timeout so two
// QUIL processes can use the same file at once.
#include <sqlite3.h>

#include <functional>
#include <map>
#include <memory>
#include <string>

namespace quil::platform {

class SqliteStatement {
 public:
  SqliteStatement(sqlite3* db, const char* sql);
  // Borrows a statement kept by SqliteDb::Kept: reset, not finalized, at the end.
  explicit SqliteStatement(sqlite3_stmt* kept) : stmt_(kept), kept_(true) {}
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
  bool kept_ = false;
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
  // returns false. Inside another transaction it runs in a savepoint of
  // it, so a body that fails undoes only its own writes.
  bool Transaction(const std::function<bool()>& body);

  // `sql` compiled once for this connection and kept for the next use
  // (compiling costs more than running the small statements used here).
  // A statement still in use (a row loop that calls back in) is not handed
  // out twice: the second user gets a fresh one. Not thread-safe.
  SqliteStatement Kept(const char* sql);

 private:
  explicit SqliteDb(sqlite3* db) : db_(db) {}
  sqlite3* db_;
  std::map<std::string, sqlite3_stmt*> kept_;
};

}  // namespace quil::platform
