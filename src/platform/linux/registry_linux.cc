#include <cctype>
#include <mutex>
#include <vector>

#include "platform/environment.h"
#include "platform/linux/sqlite_db.h"
#include "platform/registry.h"

namespace quil::platform {
namespace {

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS reg_keys(
  lower TEXT PRIMARY KEY,
  parent TEXT NOT NULL,
  name TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS reg_values(
  seq INTEGER PRIMARY KEY AUTOINCREMENT,
  key_lower TEXT NOT NULL REFERENCES reg_keys(lower) ON DELETE CASCADE,
  lower TEXT NOT NULL,
  name TEXT NOT NULL,
  type INTEGER NOT NULL,
  data BLOB NOT NULL,
  UNIQUE(key_lower, lower));
INSERT OR IGNORE INTO reg_keys(lower, parent, name) VALUES('', '', '');
)sql";

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Splits "a\\b\\c" into its non-empty components.
std::vector<std::string> Components(const std::string& path) {
  std::vector<std::string> parts;
  std::string cur;
  for (char c : path) {
    if (c == '\\') {
      if (!cur.empty()) parts.push_back(cur);
      cur.clear();
    } else {
      cur.push_back(c);
    }
  }
  if (!cur.empty()) parts.push_back(cur);
  return parts;
}

std::string Join(const std::vector<std::string>& parts, size_t count) {
  std::string out;
  for (size_t i = 0; i < count; ++i) {
    if (i) out.push_back('\\');
    out += parts[i];
  }
  return out;
}

std::string KeyId(const std::string& path) {
  auto parts = Components(path);
  return Lower(Join(parts, parts.size()));
}

std::string DwordBytes(std::uint32_t v) {
  std::string b(4, '\0');
  for (int i = 0; i < 4; ++i) b[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  return b;
}

RegValue ValueFromRow(const SqliteStatement& st) {
  RegValue v;
  v.name = st.Text(0);
  v.type = static_cast<RegType>(st.Int(1));
  v.data = st.Blob(2);
  if (v.type == RegType::kDword && v.data.size() >= 4) {
    for (int i = 3; i >= 0; --i) v.dword = (v.dword << 8) | static_cast<unsigned char>(v.data[i]);
  }
  return v;
}

class SqliteRegistryHive : public RegistryHive {
 public:
  explicit SqliteRegistryHive(std::unique_ptr<SqliteDb> db) : db_(std::move(db)) {}

  long CreateKey(const std::string& path) override {
    auto parts = Components(path);
    bool ok = db_->Transaction([&] { return InsertKeys(parts); });
    return ok ? kRegSuccess : kRegAccessDenied;
  }

  bool KeyExists(const std::string& path) override {
    SqliteStatement st(db_->handle(), "SELECT 1 FROM reg_keys WHERE lower = ?");
    st.Bind(1, KeyId(path));
    return st.Step() == SQLITE_ROW;
  }

  long DeleteKey(const std::string& path) override {
    std::string id = KeyId(path);
    if (id.empty()) return kRegAccessDenied;  // the hive root stays
    if (!KeyExists(path)) return kRegNotFound;
    bool ok = db_->Transaction([&] {
      SqliteStatement st(db_->handle(),
                         "DELETE FROM reg_keys WHERE lower = ?1 OR substr(lower, 1, length(?1) + 1) = ?1 || '\\'");
      st.Bind(1, id);
      return st.Step() == SQLITE_DONE;
    });
    return ok ? kRegSuccess : kRegAccessDenied;
  }

  long SetValue(const std::string& path, const RegValue& value) override {
    if (!KeyExists(path)) return kRegNotFound;
    return WriteValue(path, value) ? kRegSuccess : kRegAccessDenied;
  }

  long SetValues(const std::string& path, const std::vector<RegValue>& values) override {
    bool ok = db_->Transaction([&] {
      if (!InsertKeys(Components(path))) return false;
      for (const auto& v : values)
        if (!WriteValue(path, v)) return false;
      return true;
    });
    return ok ? kRegSuccess : kRegAccessDenied;
  }

  std::optional<RegValue> QueryValue(const std::string& path, const std::string& name) override {
    SqliteStatement st(db_->handle(),
                       "SELECT name, type, data FROM reg_values WHERE key_lower = ? AND lower = ?");
    st.Bind(1, KeyId(path)).Bind(2, Lower(name));
    if (st.Step() != SQLITE_ROW) return std::nullopt;
    return ValueFromRow(st);
  }

  long DeleteValue(const std::string& path, const std::string& name) override {
    if (!KeyExists(path)) return kRegNotFound;
    SqliteStatement st(db_->handle(), "DELETE FROM reg_values WHERE key_lower = ? AND lower = ?");
    st.Bind(1, KeyId(path)).Bind(2, Lower(name));
    if (st.Step() != SQLITE_DONE) return kRegAccessDenied;
    return sqlite3_changes(db_->handle()) > 0 ? kRegSuccess : kRegNotFound;
  }

  std::optional<std::string> EnumKey(const std::string& path, int index) override {
    if (index < 0) return std::nullopt;
    SqliteStatement st(db_->handle(),
                       "SELECT name FROM reg_keys WHERE parent = ? AND lower <> '' ORDER BY lower LIMIT 1 OFFSET ?");
    st.Bind(1, KeyId(path)).Bind(2, static_cast<long long>(index));
    if (st.Step() != SQLITE_ROW) return std::nullopt;
    return st.Text(0);
  }

  std::optional<RegValue> EnumValue(const std::string& path, int index) override {
    if (index < 0) return std::nullopt;
    SqliteStatement st(db_->handle(),
                       "SELECT name, type, data FROM reg_values WHERE key_lower = ? ORDER BY seq LIMIT 1 OFFSET ?");
    st.Bind(1, KeyId(path)).Bind(2, static_cast<long long>(index));
    if (st.Step() != SQLITE_ROW) return std::nullopt;
    return ValueFromRow(st);
  }

 private:
  // The key and each missing parent; inside a transaction.
  bool InsertKeys(const std::vector<std::string>& parts) {
    for (size_t n = 1; n <= parts.size(); ++n) {
      SqliteStatement st(db_->handle(), "INSERT OR IGNORE INTO reg_keys(lower, parent, name) VALUES(?, ?, ?)");
      st.Bind(1, Lower(Join(parts, n))).Bind(2, Lower(Join(parts, n - 1))).Bind(3, parts[n - 1]);
      if (st.Step() != SQLITE_DONE) return false;
    }
    return true;
  }

  bool WriteValue(const std::string& path, const RegValue& value) {
    std::string data = value.type == RegType::kDword ? DwordBytes(value.dword) : value.data;
    SqliteStatement st(db_->handle(),
                       "INSERT INTO reg_values(key_lower, lower, name, type, data) VALUES(?, ?, ?, ?, ?) "
                       "ON CONFLICT(key_lower, lower) DO UPDATE SET type = excluded.type, data = excluded.data");
    st.Bind(1, KeyId(path)).Bind(2, Lower(value.name)).Bind(3, value.name)
        .Bind(4, static_cast<long long>(value.type)).BindBlob(5, data);
    return st.Step() == SQLITE_DONE;
  }

  std::unique_ptr<SqliteDb> db_;
};

// A hive that refuses everything, used when the database cannot be opened,
// so callers see ordinary registry failures instead of a crash.
class UnavailableHive : public RegistryHive {
 public:
  long CreateKey(const std::string&) override { return kRegAccessDenied; }
  bool KeyExists(const std::string&) override { return false; }
  long DeleteKey(const std::string&) override { return kRegAccessDenied; }
  long SetValue(const std::string&, const RegValue&) override { return kRegAccessDenied; }
  long SetValues(const std::string&, const std::vector<RegValue>&) override { return kRegAccessDenied; }
  std::optional<RegValue> QueryValue(const std::string&, const std::string&) override { return std::nullopt; }
  long DeleteValue(const std::string&, const std::string&) override { return kRegAccessDenied; }
  std::optional<std::string> EnumKey(const std::string&, int) override { return std::nullopt; }
  std::optional<RegValue> EnumValue(const std::string&, int) override { return std::nullopt; }
};

std::mutex g_hive_mutex;
std::unique_ptr<RegistryHive> g_hive;

}  // namespace

std::unique_ptr<RegistryHive> OpenRegistryHive(const std::string& file) {
  auto db = SqliteDb::Open(file, kSchema);
  if (!db) return nullptr;
  return std::make_unique<SqliteRegistryHive>(std::move(db));
}

RegistryHive& CurrentUserHive() {
  std::lock_guard<std::mutex> lock(g_hive_mutex);
  if (!g_hive) {
    g_hive = OpenRegistryHive(ConfigFolder() + "/registry.db");
    if (!g_hive) g_hive = std::make_unique<UnavailableHive>();
  }
  return *g_hive;
}

void SetCurrentUserHiveForTesting(std::unique_ptr<RegistryHive> hive) {
  std::lock_guard<std::mutex> lock(g_hive_mutex);
  g_hive = std::move(hive);
}

}  // namespace quil::platform
