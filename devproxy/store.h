#pragma once
// The demo proxy's persistent state in one SQLite file: customers, their
// certificates, online codes, audit records, the demo mailbox and branches.
// Not thread-safe by itself: the service serialises every use.
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "devproxy/devproxy.h"

namespace quil::platform { class SqliteDb; }

namespace quil::devproxy {

struct Customer {
  std::string idno, cn, aid_account, branch, account, name, password;
  std::string email, mobile, birthday, apply_pw_bag;
  bool first_login = false;
  int failed_logins = 0;
  int sheet_failures = 0;
};

struct CertRow {
  long long id = 0;
  std::string idno, cn, kind;  // kind: "apply", "renew", "mobile"
  long long replaces = 0;      // the certificate a renewal replaces
  std::string state;           // state code, see kState*
  bool activated = false;
  std::string serial, subject, issuer, hash, cert_path, der;
  std::time_t not_before = 0, not_after = 0;
  std::string proof;  // a renewal: the old key's signature over the request, as verified (base64)
};

// Certificate state codes as the page shows them.
inline constexpr char kStateValid[] = "0";
inline constexpr char kStateIssued[] = "10";   // issued, not yet installed
inline constexpr char kStateReplaced[] = "13"; // superseded by a renewal
inline constexpr char kStateRevoked[] = "31";
inline constexpr char kStateExpired[] = "50";
std::string StateMessage(const std::string& state);

struct OnlineCode {
  long long id = 0;
  std::string idno, apply_type, code, pwid, state;  // state: sent, verified, dead, used
  std::time_t created = 0, expires = 0;
  int attempts = 0;
};

class Store {
 public:
  static std::unique_ptr<Store> Open(const std::string& file, std::string* error);
  ~Store();

  bool WipeAll();
  bool Empty();
  // Runs `body` in one transaction, committed when it returns true.
  // Nests. False when it could not begin (body not run), failed or did not
  // commit.
  bool Transaction(const std::function<bool()>& body);

  bool AddCustomer(const CustomerSeed& seed, const std::string& cn, std::string* error);
  std::optional<Customer> CustomerByIdno(const std::string& idno);
  // By the 11-character branch + account, or by the identity number.
  std::optional<Customer> CustomerByAid(const std::string& aid);
  bool SetPassword(const std::string& idno, const std::string& password);
  bool SetLoginFailures(const std::string& idno, int failures);
  bool SetSheetFailures(const std::string& idno, int failures);
  bool HasSheetCode(const std::string& idno, const std::string& code);

  bool AddBranch(const std::string& code, const std::string& name);
  std::vector<std::pair<std::string, std::string>> Branches();  // code, name

  bool SerialTaken(const std::string& serial);
  long long AddCert(const CertRow& row);  // 0 on failure
  bool UpdateCert(const CertRow& row);
  std::optional<CertRow> CertById(long long id);
  // Newest first.
  std::vector<CertRow> CertsOf(const std::string& idno);
  std::vector<CertRow> AllCerts();

  long long AddOnlineCode(const OnlineCode& code);
  bool UpdateOnlineCode(const OnlineCode& code);
  // The newest code of the customer for the purpose, if any.
  std::optional<OnlineCode> LatestOnlineCode(const std::string& idno, const std::string& apply_type);
  std::optional<OnlineCode> OnlineCodeByPwid(const std::string& pwid);
  int OnlineCodesSince(const std::string& idno, std::time_t since);

  bool AddAudit(const AuditRecord& record);
  std::vector<AuditRecord> Audit();
  bool AddMail(const MailItem& item);
  std::vector<MailItem> Mail();

 private:
  explicit Store(std::unique_ptr<platform::SqliteDb> db);
  std::unique_ptr<platform::SqliteDb> db_;
};

// 14-digit local time.
std::string LocalTime14(std::time_t t);

}  // namespace quil::devproxy
