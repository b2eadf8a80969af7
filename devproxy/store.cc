#include "devproxy/store.h"

#include "platform/linux/sqlite_db.h"

namespace quil::devproxy {
namespace {

using platform::SqliteStatement;

constexpr char kSchema[] = R"(
CREATE TABLE IF NOT EXISTS customers(
  idno TEXT PRIMARY KEY, cn TEXT NOT NULL, aid_account TEXT UNIQUE, branch TEXT, account TEXT,
  name TEXT, password TEXT, email TEXT, mobile TEXT, birthday TEXT, apply_pw_bag TEXT,
  first_login INTEGER, failed_logins INTEGER DEFAULT 0, sheet_failures INTEGER DEFAULT 0);
CREATE TABLE IF NOT EXISTS sheet_codes(idno TEXT, code TEXT, PRIMARY KEY(idno, code));
CREATE TABLE IF NOT EXISTS branches(code TEXT PRIMARY KEY, name TEXT);
CREATE TABLE IF NOT EXISTS certs(
  id INTEGER PRIMARY KEY AUTOINCREMENT, idno TEXT, cn TEXT, kind TEXT, replaces INTEGER,
  state TEXT, activated INTEGER, serial TEXT UNIQUE NOT NULL, subject TEXT, issuer TEXT,
  hash TEXT, cert_path TEXT, der BLOB, not_before INTEGER, not_after INTEGER, proof TEXT);
CREATE TABLE IF NOT EXISTS online_codes(
  id INTEGER PRIMARY KEY AUTOINCREMENT, idno TEXT, apply_type TEXT, code TEXT, pwid TEXT UNIQUE,
  state TEXT, created INTEGER, expires INTEGER, attempts INTEGER);
CREATE TABLE IF NOT EXISTS audit(
  id INTEGER PRIMARY KEY AUTOINCREMENT, action TEXT, rid TEXT, aid TEXT, funcid TEXT, memo TEXT,
  session_idno TEXT, time TEXT);
CREATE TABLE IF NOT EXISTS mail(
  id INTEGER PRIMARY KEY AUTOINCREMENT, idno TEXT, notify_type TEXT, notify_addr TEXT,
  apply_type TEXT, code TEXT, reference TEXT, created TEXT, expires TEXT);
)";

constexpr char kCustomerColumns[] =
    "SELECT idno, cn, aid_account, branch, account, name, password, email, mobile, birthday, "
    "apply_pw_bag, first_login, failed_logins, sheet_failures FROM customers ";

Customer ReadCustomer(const SqliteStatement& s) {
  Customer c;
  c.idno = s.Text(0);
  c.cn = s.Text(1);
  c.aid_account = s.Text(2);
  c.branch = s.Text(3);
  c.account = s.Text(4);
  c.name = s.Text(5);
  c.password = s.Text(6);
  c.email = s.Text(7);
  c.mobile = s.Text(8);
  c.birthday = s.Text(9);
  c.apply_pw_bag = s.Text(10);
  c.first_login = s.Int(11) != 0;
  c.failed_logins = static_cast<int>(s.Int(12));
  c.sheet_failures = static_cast<int>(s.Int(13));
  return c;
}

constexpr char kCertColumns[] =
    "SELECT id, idno, cn, kind, replaces, state, activated, serial, subject, issuer, hash, "
    "cert_path, der, not_before, not_after, proof FROM certs ";

CertRow ReadCert(const SqliteStatement& s) {
  CertRow r;
  r.id = s.Int(0);
  r.idno = s.Text(1);
  r.cn = s.Text(2);
  r.kind = s.Text(3);
  r.replaces = s.Int(4);
  r.state = s.Text(5);
  r.activated = s.Int(6) != 0;
  r.serial = s.Text(7);
  r.subject = s.Text(8);
  r.issuer = s.Text(9);
  r.hash = s.Text(10);
  r.cert_path = s.Text(11);
  r.der = s.Blob(12);
  r.not_before = s.Int(13);
  r.not_after = s.Int(14);
  r.proof = s.Text(15);
  return r;
}

constexpr char kCodeColumns[] =
    "SELECT id, idno, apply_type, code, pwid, state, created, expires, attempts FROM online_codes ";

OnlineCode ReadCode(const SqliteStatement& s) {
  OnlineCode c;
  c.id = s.Int(0);
  c.idno = s.Text(1);
  c.apply_type = s.Text(2);
  c.code = s.Text(3);
  c.pwid = s.Text(4);
  c.state = s.Text(5);
  c.created = s.Int(6);
  c.expires = s.Int(7);
  c.attempts = static_cast<int>(s.Int(8));
  return c;
}

}  // namespace

std::string StateMessage(const std::string& state) {
  if (state == kStateValid) return "憑證有效";
  if (state == kStateIssued) return "憑證已核發尚未安裝";
  if (state == kStateReplaced) return "憑證已展期";
  if (state == kStateRevoked) return "憑證已註銷";
  if (state == kStateExpired) return "憑證已過期";
  return "";
}

std::string LocalTime14(std::time_t t) {
  struct tm tm {};
  localtime_r(&t, &tm);
  char buf[32];
  strftime(buf, sizeof buf, "%Y%m%d%H%M%S", &tm);
  return buf;
}

Store::Store(std::unique_ptr<platform::SqliteDb> db) : db_(std::move(db)) {}
Store::~Store() = default;

namespace {

// Databases of earlier versions lack the columns added since; demo data
// survives an update.
bool AddMissingColumns(platform::SqliteDb& db) {
  SqliteStatement s(db.handle(), "SELECT 1 FROM pragma_table_info('certs') WHERE name = 'proof'");
  if (s.Step() == SQLITE_ROW) return true;
  return db.Exec("ALTER TABLE certs ADD COLUMN proof TEXT");
}

}  // namespace

std::unique_ptr<Store> Store::Open(const std::string& file, std::string* error) {
  auto db = platform::SqliteDb::Open(file, kSchema);
  if (!db || !AddMissingColumns(*db)) {
    *error = "cannot open the database " + file;
    return nullptr;
  }
  return std::unique_ptr<Store>(new Store(std::move(db)));
}

bool Store::WipeAll() {
  return db_->Transaction([&] {
    return db_->Exec(
        "DELETE FROM customers; DELETE FROM sheet_codes; DELETE FROM branches; DELETE FROM certs;"
        "DELETE FROM online_codes; DELETE FROM audit; DELETE FROM mail;");
  });
}

bool Store::Transaction(const std::function<bool()>& body) { return db_->Transaction(body); }

bool Store::Empty() {
  SqliteStatement s = db_->Kept("SELECT COUNT(*) FROM customers");
  return s.Step() == SQLITE_ROW && s.Int(0) == 0;
}

bool Store::AddCustomer(const CustomerSeed& seed, const std::string& cn, std::string* error) {
  bool ok = db_->Transaction([&] {
    SqliteStatement s = db_->Kept(
        "INSERT INTO customers(idno, cn, aid_account, branch, account, name, password, "
        "email, mobile, birthday, apply_pw_bag, first_login) "
        "VALUES(?,?,?,?,?,?,?,?,?,?,?,?)");
    s.Bind(1, seed.idno).Bind(2, cn).Bind(3, seed.branch + seed.account).Bind(4, seed.branch);
    s.Bind(5, seed.account).Bind(6, seed.name).Bind(7, seed.password).Bind(8, seed.email);
    s.Bind(9, seed.mobile).Bind(10, seed.birthday).Bind(11, seed.apply_pw_bag);
    s.Bind(12, static_cast<long long>(seed.first_login ? 1 : 0));
    if (s.Step() != SQLITE_DONE) return false;
    for (const auto& code : seed.sheet_codes) {
      SqliteStatement c = db_->Kept("INSERT OR IGNORE INTO sheet_codes(idno, code) VALUES(?,?)");
      c.Bind(1, seed.idno).Bind(2, code);
      if (c.Step() != SQLITE_DONE) return false;
    }
    return true;
  });
  if (!ok) *error = "customer " + seed.idno + " or account " + seed.branch + seed.account + " exists";
  return ok;
}

std::optional<Customer> Store::CustomerByIdno(const std::string& idno) {
  SqliteStatement s = db_->Kept((std::string(kCustomerColumns) + "WHERE idno = ?").c_str());
  s.Bind(1, idno);
  if (s.Step() != SQLITE_ROW) return std::nullopt;
  return ReadCustomer(s);
}

std::optional<Customer> Store::CustomerByAid(const std::string& aid) {
  SqliteStatement s = db_->Kept(
      (std::string(kCustomerColumns) + "WHERE aid_account = ?1 OR idno = ?1").c_str());
  s.Bind(1, aid);
  if (s.Step() != SQLITE_ROW) return std::nullopt;
  return ReadCustomer(s);
}

bool Store::SetPassword(const std::string& idno, const std::string& password) {
  SqliteStatement s = db_->Kept(
      "UPDATE customers SET password = ?, first_login = 0, failed_logins = 0 WHERE idno = ?");
  s.Bind(1, password).Bind(2, idno);
  return s.Step() == SQLITE_DONE;
}

bool Store::SetLoginFailures(const std::string& idno, int failures) {
  SqliteStatement s = db_->Kept("UPDATE customers SET failed_logins = ? WHERE idno = ?");
  s.Bind(1, static_cast<long long>(failures)).Bind(2, idno);
  return s.Step() == SQLITE_DONE;
}

bool Store::SetSheetFailures(const std::string& idno, int failures) {
  SqliteStatement s = db_->Kept("UPDATE customers SET sheet_failures = ? WHERE idno = ?");
  s.Bind(1, static_cast<long long>(failures)).Bind(2, idno);
  return s.Step() == SQLITE_DONE;
}

bool Store::HasSheetCode(const std::string& idno, const std::string& code) {
  SqliteStatement s = db_->Kept("SELECT 1 FROM sheet_codes WHERE idno = ? AND code = ?");
  s.Bind(1, idno).Bind(2, code);
  return s.Step() == SQLITE_ROW;
}

bool Store::AddBranch(const std::string& code, const std::string& name) {
  SqliteStatement s = db_->Kept("INSERT OR REPLACE INTO branches(code, name) VALUES(?,?)");
  s.Bind(1, code).Bind(2, name);
  return s.Step() == SQLITE_DONE;
}

std::vector<std::pair<std::string, std::string>> Store::Branches() {
  SqliteStatement s = db_->Kept("SELECT code, name FROM branches ORDER BY code");
  std::vector<std::pair<std::string, std::string>> out;
  while (s.Step() == SQLITE_ROW) out.emplace_back(s.Text(0), s.Text(1));
  return out;
}

bool Store::SerialTaken(const std::string& serial) {
  SqliteStatement s = db_->Kept("SELECT 1 FROM certs WHERE serial = ?");
  s.Bind(1, serial);
  return s.Step() == SQLITE_ROW;
}

long long Store::AddCert(const CertRow& r) {
  SqliteStatement s = db_->Kept(
      "INSERT INTO certs(idno, cn, kind, replaces, state, activated, serial, subject, "
      "issuer, hash, cert_path, der, not_before, not_after, proof) "
      "VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
  s.Bind(1, r.idno).Bind(2, r.cn).Bind(3, r.kind).Bind(4, r.replaces).Bind(5, r.state);
  s.Bind(6, static_cast<long long>(r.activated)).Bind(7, r.serial).Bind(8, r.subject);
  s.Bind(9, r.issuer).Bind(10, r.hash).Bind(11, r.cert_path).BindBlob(12, r.der);
  s.Bind(13, static_cast<long long>(r.not_before)).Bind(14, static_cast<long long>(r.not_after));
  s.Bind(15, r.proof);
  if (s.Step() != SQLITE_DONE) return 0;
  return sqlite3_last_insert_rowid(db_->handle());
}

bool Store::UpdateCert(const CertRow& r) {
  SqliteStatement s = db_->Kept(
      "UPDATE certs SET state = ?, activated = ?, cert_path = ?, der = ?, hash = ?, "
      "not_before = ?, not_after = ? WHERE id = ?");
  s.Bind(1, r.state).Bind(2, static_cast<long long>(r.activated)).Bind(3, r.cert_path);
  s.BindBlob(4, r.der).Bind(5, r.hash).Bind(6, static_cast<long long>(r.not_before));
  s.Bind(7, static_cast<long long>(r.not_after)).Bind(8, r.id);
  return s.Step() == SQLITE_DONE;
}

std::optional<CertRow> Store::CertById(long long id) {
  SqliteStatement s = db_->Kept((std::string(kCertColumns) + "WHERE id = ?").c_str());
  s.Bind(1, id);
  if (s.Step() != SQLITE_ROW) return std::nullopt;
  return ReadCert(s);
}

std::vector<CertRow> Store::CertsOf(const std::string& idno) {
  SqliteStatement s = db_->Kept((std::string(kCertColumns) + "WHERE idno = ? ORDER BY id DESC").c_str());
  s.Bind(1, idno);
  std::vector<CertRow> out;
  while (s.Step() == SQLITE_ROW) out.push_back(ReadCert(s));
  return out;
}

std::vector<CertRow> Store::AllCerts() {
  SqliteStatement s = db_->Kept((std::string(kCertColumns) + "ORDER BY id").c_str());
  std::vector<CertRow> out;
  while (s.Step() == SQLITE_ROW) out.push_back(ReadCert(s));
  return out;
}

long long Store::AddOnlineCode(const OnlineCode& c) {
  SqliteStatement s = db_->Kept(
      "INSERT INTO online_codes(idno, apply_type, code, pwid, state, created, expires, "
      "attempts) VALUES(?,?,?,?,?,?,?,?)");
  s.Bind(1, c.idno).Bind(2, c.apply_type).Bind(3, c.code).Bind(4, c.pwid).Bind(5, c.state);
  s.Bind(6, static_cast<long long>(c.created)).Bind(7, static_cast<long long>(c.expires));
  s.Bind(8, static_cast<long long>(c.attempts));
  if (s.Step() != SQLITE_DONE) return 0;
  return sqlite3_last_insert_rowid(db_->handle());
}

bool Store::UpdateOnlineCode(const OnlineCode& c) {
  SqliteStatement s = db_->Kept("UPDATE online_codes SET state = ?, attempts = ?, expires = ? WHERE id = ?");
  s.Bind(1, c.state).Bind(2, static_cast<long long>(c.attempts));
  s.Bind(3, static_cast<long long>(c.expires)).Bind(4, c.id);
  return s.Step() == SQLITE_DONE;
}

std::optional<OnlineCode> Store::LatestOnlineCode(const std::string& idno,
                                                  const std::string& apply_type) {
  SqliteStatement s = db_->Kept(
      (std::string(kCodeColumns) + "WHERE idno = ? AND apply_type = ? ORDER BY id DESC LIMIT 1").c_str());
  s.Bind(1, idno).Bind(2, apply_type);
  if (s.Step() != SQLITE_ROW) return std::nullopt;
  return ReadCode(s);
}

std::optional<OnlineCode> Store::OnlineCodeByPwid(const std::string& pwid) {
  SqliteStatement s = db_->Kept((std::string(kCodeColumns) + "WHERE pwid = ?").c_str());
  s.Bind(1, pwid);
  if (s.Step() != SQLITE_ROW) return std::nullopt;
  return ReadCode(s);
}

int Store::OnlineCodesSince(const std::string& idno, std::time_t since) {
  SqliteStatement s = db_->Kept("SELECT COUNT(*) FROM online_codes WHERE idno = ? AND created >= ?");
  s.Bind(1, idno).Bind(2, static_cast<long long>(since));
  return s.Step() == SQLITE_ROW ? static_cast<int>(s.Int(0)) : 0;
}

bool Store::AddAudit(const AuditRecord& r) {
  SqliteStatement s = db_->Kept("INSERT INTO audit(action, rid, aid, funcid, memo, session_idno, time) "
                                "VALUES(?,?,?,?,?,?,?)");
  s.Bind(1, r.action).Bind(2, r.id).Bind(3, r.aid).Bind(4, r.funcid).Bind(5, r.memo);
  s.Bind(6, r.session_idno).Bind(7, r.time);
  return s.Step() == SQLITE_DONE;
}

std::vector<AuditRecord> Store::Audit() {
  SqliteStatement s = db_->Kept(
      "SELECT action, rid, aid, funcid, memo, session_idno, time FROM audit ORDER BY id");
  std::vector<AuditRecord> out;
  while (s.Step() == SQLITE_ROW)
    out.push_back({s.Text(0), s.Text(1), s.Text(2), s.Text(3), s.Text(4), s.Text(5), s.Text(6)});
  return out;
}

bool Store::AddMail(const MailItem& m) {
  SqliteStatement s = db_->Kept(
      "INSERT INTO mail(idno, notify_type, notify_addr, apply_type, code, reference, created, "
      "expires) VALUES(?,?,?,?,?,?,?,?)");
  s.Bind(1, m.idno).Bind(2, m.notify_type).Bind(3, m.notify_addr).Bind(4, m.apply_type);
  s.Bind(5, m.code).Bind(6, m.reference).Bind(7, m.created).Bind(8, m.expires);
  return s.Step() == SQLITE_DONE;
}

std::vector<MailItem> Store::Mail() {
  SqliteStatement s = db_->Kept(
      "SELECT idno, notify_type, notify_addr, apply_type, code, reference, created, expires "
      "FROM mail ORDER BY id");
  std::vector<MailItem> out;
  while (s.Step() == SQLITE_ROW)
    out.push_back({s.Text(0), s.Text(1), s.Text(2), s.Text(3), s.Text(4), s.Text(5), s.Text(6), s.Text(7)});
  return out;
}

}  // namespace quil::devproxy
