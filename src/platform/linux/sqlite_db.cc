#include "platform/linux/sqlite_db.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/diagnostic_log.h"
#include "platform/environment.h"
#include "platform/files.h"

namespace quil::platform {
namespace {

// SQLite's reason for a failed call into the diagnostic log. The callers
// turn every failure into one result of their own (access denied), so this
// is where the reason is still known. `what` is the statement's text: the
// values are bound, never part of it.
void LogSqliteFailure(sqlite3* db, int code, const std::string& what) {
  constexpr size_t kMaxWhat = 80;
  WriteLog({LogLevel::kError, "platform", "sqlite " + what.substr(0, kMaxWhat), "sqlite " + std::to_string(code),
            db ? sqlite3_errmsg(db) : sqlite3_errstr(code)});
}

}  // namespace

SqliteStatement::SqliteStatement(sqlite3* db, const char* sql) {
  int code = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr);
  if (code == SQLITE_OK) return;
  LogSqliteFailure(db, code, sql);
  stmt_ = nullptr;
}

SqliteStatement::~SqliteStatement() {
  if (!kept_) {
    sqlite3_finalize(stmt_);
    return;
  }
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

SqliteStatement& SqliteStatement::Bind(int index, const std::string& text) {
  if (stmt_) sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  return *this;
}

SqliteStatement& SqliteStatement::BindBlob(int index, const std::string& bytes) {
  if (stmt_) sqlite3_bind_blob(stmt_, index, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
  return *this;
}

SqliteStatement& SqliteStatement::Bind(int index, long long value) {
  if (stmt_) sqlite3_bind_int64(stmt_, index, value);
  return *this;
}

int SqliteStatement::Step() {
  if (!stmt_) return SQLITE_MISUSE;
  int code = sqlite3_step(stmt_);
  if (code != SQLITE_ROW && code != SQLITE_DONE) LogSqliteFailure(sqlite3_db_handle(stmt_), code, sqlite3_sql(stmt_));
  return code;
}

std::string SqliteStatement::Text(int column) const {
  auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
  return p ? std::string(p, sqlite3_column_bytes(stmt_, column)) : std::string();
}

std::string SqliteStatement::Blob(int column) const {
  auto* p = static_cast<const char*>(sqlite3_column_blob(stmt_, column));
  return p ? std::string(p, sqlite3_column_bytes(stmt_, column)) : std::string();
}

long long SqliteStatement::Int(int column) const { return sqlite3_column_int64(stmt_, column); }

bool SqliteStatement::IsNull(int column) const {
  return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

std::unique_ptr<SqliteDb> SqliteDb::Open(const std::string& file, const char* schema) {
  size_t slash = file.rfind('/');
  if (slash != std::string::npos && slash > 0) MakeFolders(file.substr(0, slash));
  // Create the file ourselves so it is private from the first byte.
  int fd = open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    WriteLog({LogLevel::kError, "platform", "sqlite open " + file, "errno " + std::to_string(errno),
              std::strerror(errno)});
    return nullptr;
  }
  close(fd);
  sqlite3* db = nullptr;
  int code = sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, nullptr);
  if (code != SQLITE_OK) {
    LogSqliteFailure(db, code, "open " + file);
    sqlite3_close(db);
    return nullptr;
  }
  std::unique_ptr<SqliteDb> result(new SqliteDb(db));
  sqlite3_busy_timeout(db, 10000);
  result->Exec("PRAGMA journal_mode=WAL");
  result->Exec("PRAGMA foreign_keys=ON");
  if (!result->Transaction([&] { return result->Exec(schema); })) return nullptr;
  return result;
}

SqliteDb::~SqliteDb() {
  for (auto& [sql, stmt] : kept_) sqlite3_finalize(stmt);
  sqlite3_close(db_);
}

SqliteStatement SqliteDb::Kept(const char* sql) {
  sqlite3_stmt*& stmt = kept_[sql];
  if (!stmt && sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) != SQLITE_OK) {
    stmt = nullptr;
    return SqliteStatement(db_, sql);  // fails the same way, visibly to the caller
  }
  if (sqlite3_stmt_busy(stmt)) return SqliteStatement(db_, sql);
  return SqliteStatement(stmt);
}

bool SqliteDb::Exec(const char* sql) {
  int code = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
  if (code == SQLITE_OK) return true;
  LogSqliteFailure(db_, code, sql);
  return false;
}

bool SqliteDb::Transaction(const std::function<bool()>& body) {
  if (!sqlite3_get_autocommit(db_)) {
    // Savepoints of one name nest: each statement names the innermost.
    if (!Exec("SAVEPOINT nested")) return false;
    bool ok = body();
    if (!ok) Exec("ROLLBACK TO nested");
    Exec("RELEASE nested");
    return ok;
  }
  if (!Exec("BEGIN IMMEDIATE")) return false;
  if (!body()) {
    Exec("ROLLBACK");
    return false;
  }
  if (Exec("COMMIT")) return true;
  Exec("ROLLBACK");
  return false;
}

}  // namespace quil::platform
