// Certificate stores and key containers in one SQLite database, shared by
// every QUIL process of the user.
#include <openssl/asn1.h>
#include <openssl/err.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <mutex>

#include "platform/cert_store.h"
#include "platform/environment.h"
#include "platform/openssl_ptr.h"
#include "platform/linux/sqlite_db.h"
#include "platform/random.h"

namespace quil::platform {
namespace {

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS certs(
  seq INTEGER PRIMARY KEY AUTOINCREMENT,
  store TEXT NOT NULL,
  der BLOB NOT NULL,
  issuer BLOB NOT NULL,
  serial BLOB NOT NULL,
  not_before INTEGER NOT NULL,
  prov_container TEXT,
  prov_name TEXT,
  prov_type INTEGER,
  key_spec INTEGER,
  key_context_spec INTEGER NOT NULL DEFAULT 0,
  friendly_name TEXT NOT NULL DEFAULT '');
CREATE INDEX IF NOT EXISTS certs_by_identity ON certs(store, issuer, serial);
CREATE TABLE IF NOT EXISTS key_containers(
  name_upper TEXT PRIMARY KEY,
  name TEXT NOT NULL,
  provider TEXT NOT NULL,
  provider_type INTEGER NOT NULL,
  key_spec INTEGER NOT NULL,
  key_der BLOB NOT NULL);
)sql";

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string DatabasePath() { return DataFolder() + "/certstore.db"; }

std::unique_ptr<SqliteDb> OpenDatabase() { return SqliteDb::Open(DatabasePath(), kSchema); }

// What CERT_STORE_ADD_NEWER compares: issuer name and serial identify a
// certificate, notBefore orders two of them.
struct Identity {
  std::string issuer;
  std::string serial;
  long long not_before = 0;
};

std::string I2d(X509_NAME* name) {
  unsigned char* out = nullptr;
  int n = i2d_X509_NAME(name, &out);
  if (n <= 0) return {};
  std::string s(reinterpret_cast<char*>(out), static_cast<size_t>(n));
  OPENSSL_free(out);
  return s;
}

std::optional<Identity> IdentityOf(const std::string& der) {
  auto cert = ossl::ParseCert(der);
  if (!cert) return std::nullopt;
  Identity id;
  id.issuer = I2d(X509_get_issuer_name(cert.get()));
  const ASN1_INTEGER* serial = X509_get0_serialNumber(cert.get());
  id.serial.assign(reinterpret_cast<const char*>(ASN1_STRING_get0_data(serial)),
                   static_cast<size_t>(ASN1_STRING_length(serial)));
  if (ASN1_STRING_type(serial) == V_ASN1_NEG_INTEGER) id.serial.insert(0, "-");
  struct tm tm {};
  if (ASN1_TIME_to_tm(X509_get0_notBefore(cert.get()), &tm) == 1) id.not_before = timegm(&tm);
  return id;
}

class MemoryStore : public CertStore {
 public:
  const std::string& name() const override { return name_; }
  std::vector<StoredCert> Certificates() override {
    std::vector<StoredCert> out;
    for (const auto& e : entries_) out.push_back(e.cert);
    return out;
  }
  AddResult AddNewer(const StoredCert& cert) override {
    auto id = IdentityOf(cert.der);
    if (!id) return AddResult::kInvalid;
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
      if (it->id.issuer != id->issuer || it->id.serial != id->serial) continue;
      if (it->id.not_before >= id->not_before) return AddResult::kExists;
      entries_.erase(it);
      entries_.push_back({cert, *id});
      return AddResult::kReplaced;
    }
    entries_.push_back({cert, *id});
    return AddResult::kAdded;
  }

 private:
  struct Entry {
    StoredCert cert;
    Identity id;
  };
  std::string name_;
  std::vector<Entry> entries_;
};

class SystemStore : public CertStore {
 public:
  SystemStore(std::string name, std::unique_ptr<SqliteDb> db) : name_(std::move(name)), db_(std::move(db)) {}
  const std::string& name() const override { return name_; }

  std::vector<StoredCert> Certificates() override {
    std::vector<StoredCert> out;
    SqliteStatement q(db_->handle(),
                      "SELECT der, prov_container, prov_name, prov_type, key_spec, key_context_spec, "
                      "friendly_name FROM certs WHERE store = ?1 ORDER BY seq");
    q.Bind(1, name_);
    while (q.Step() == SQLITE_ROW) {
      StoredCert c;
      c.der = q.Blob(0);
      if (!q.IsNull(1)) {
        KeyProvInfo info;
        info.container = q.Text(1);
        info.provider = q.Text(2);
        info.provider_type = static_cast<std::uint32_t>(q.Int(3));
        info.key_spec = static_cast<std::uint32_t>(q.Int(4));
        c.key_prov = info;
      }
      c.key_context_spec = static_cast<std::uint32_t>(q.Int(5));
      c.friendly_name = q.Text(6);
      out.push_back(std::move(c));
    }
    return out;
  }

  AddResult AddNewer(const StoredCert& cert) override {
    auto id = IdentityOf(cert.der);
    if (!id) return AddResult::kInvalid;
    AddResult result = AddResult::kFailed;
    bool ok = db_->Transaction([&] {
      SqliteStatement find(db_->handle(),
                           "SELECT seq, not_before FROM certs WHERE store = ?1 AND issuer = ?2 AND serial = ?3");
      find.Bind(1, name_).BindBlob(2, id->issuer).BindBlob(3, id->serial);
      bool replaced = false;
      if (find.Step() == SQLITE_ROW) {
        if (find.Int(1) >= id->not_before) {
          result = AddResult::kExists;
          return true;
        }
        SqliteStatement del(db_->handle(), "DELETE FROM certs WHERE seq = ?1");
        del.Bind(1, find.Int(0));
        if (del.Step() != SQLITE_DONE) return false;
        replaced = true;
      }
      SqliteStatement ins(db_->handle(),
                          "INSERT INTO certs(store, der, issuer, serial, not_before, prov_container, prov_name, "
                          "prov_type, key_spec, key_context_spec, friendly_name) "
                          "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)");
      ins.Bind(1, name_).BindBlob(2, cert.der).BindBlob(3, id->issuer).BindBlob(4, id->serial);
      ins.Bind(5, id->not_before);
      if (cert.key_prov) {
        ins.Bind(6, cert.key_prov->container).Bind(7, cert.key_prov->provider);
        ins.Bind(8, static_cast<long long>(cert.key_prov->provider_type));
        ins.Bind(9, static_cast<long long>(cert.key_prov->key_spec));
      }
      ins.Bind(10, static_cast<long long>(cert.key_context_spec)).Bind(11, cert.friendly_name);
      if (ins.Step() != SQLITE_DONE) return false;
      result = replaced ? AddResult::kReplaced : AddResult::kAdded;
      return true;
    });
    return ok ? result : AddResult::kFailed;
  }

 private:
  std::string name_;
  std::unique_ptr<SqliteDb> db_;
};

}  // namespace

std::unique_ptr<CertStore> OpenSystemStore(const std::string& name) {
  std::string upper = Upper(name);
  if (upper != "MY" && upper != "CA" && upper != "ROOT") return nullptr;
  errno = 0;
  auto db = OpenDatabase();
  if (!db) {
    ossl::SetLastError(errno ? std::strerror(errno) : "the certificate database cannot be opened");
    return nullptr;
  }
  ossl::ClearLastError();
  return std::make_unique<SystemStore>(upper, std::move(db));
}

std::vector<std::string> SystemTrustAnchors() { return {}; }

std::unique_ptr<CertStore> OpenMemoryStore() { return std::make_unique<MemoryStore>(); }

bool CreateKeyContainer(const KeyContainer& container) {
  if (container.name.empty() || container.private_key_der.empty()) {
    ossl::SetLastError("no container name or key");
    return false;
  }
  auto db = OpenDatabase();
  if (!db) {
    ossl::SetLastError("the certificate database cannot be opened");
    return false;
  }
  SqliteStatement ins(db->handle(),
                      "INSERT INTO key_containers(name_upper, name, provider, provider_type, key_spec, key_der) "
                      "VALUES(?1, ?2, ?3, ?4, ?5, ?6)");
  ins.Bind(1, Upper(container.name)).Bind(2, container.name).Bind(3, container.provider);
  ins.Bind(4, static_cast<long long>(container.provider_type)).Bind(5, static_cast<long long>(container.key_spec));
  ins.BindBlob(6, container.private_key_der);
  if (ins.Step() != SQLITE_DONE) {
    ossl::SetLastError(sqlite3_errmsg(db->handle()));
    return false;
  }
  ossl::ClearLastError();
  return true;
}

std::optional<KeyContainer> AcquireKeyContainer(const std::string& name, const std::string& provider,
                                                std::uint32_t provider_type) {
  auto db = OpenDatabase();
  if (!db) return std::nullopt;
  SqliteStatement q(db->handle(),
                    "SELECT name, provider, provider_type, key_spec, key_der FROM key_containers "
                    "WHERE name_upper = ?1");
  q.Bind(1, Upper(name));
  if (q.Step() != SQLITE_ROW) return std::nullopt;
  KeyContainer c;
  c.name = q.Text(0);
  c.provider = q.Text(1);
  c.provider_type = static_cast<std::uint32_t>(q.Int(2));
  c.key_spec = static_cast<std::uint32_t>(q.Int(3));
  c.private_key_der = q.Blob(4);
  if (c.provider != provider || c.provider_type != provider_type) return std::nullopt;
  return c;
}

std::optional<KeyContainer> AcquireCertificatePrivateKey(const StoredCert& cert) {
  if (!cert.key_prov) return std::nullopt;
  auto c = AcquireKeyContainer(cert.key_prov->container, cert.key_prov->provider, cert.key_prov->provider_type);
  if (!c || c->private_key_der.empty()) return std::nullopt;
  return c;
}

}  // namespace quil::platform
