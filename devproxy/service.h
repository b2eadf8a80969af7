#pragma once
// The proxy actions: what each one checks, changes and answers. The HTTP
// side (envelopes, faults, pages) is in server.cc; this file sees opened
// field values (UTF-8) and produces the reply document (UTF-8 XML).
// Thread-safe: one mutex guards the store, the sessions and the settings.
#include <ctime>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "devproxy/cert_authority.h"
#include "devproxy/crypto.h"
#include "devproxy/devproxy.h"
#include "devproxy/pages.h"
#include "devproxy/store.h"

namespace quil::devproxy {

using Fields = std::map<std::string, std::string>;

enum class Envelope { kUnknown, kPublicKey, kSession };
Envelope EnvelopeOf(const std::string& action);

// A new certificate row for `issued`; id and replaces are left unset.
CertRow RowForIssued(const IssuedCert& issued, const std::string& idno, const std::string& cn,
                     const std::string& kind, const std::string& state);

struct Session {
  std::string key;  // the aeskey text; its first 16 bytes are the AES key
  std::unique_ptr<AesPaddingProbe> probe;  // the first test of a request against this key
  std::string idno;
  std::string client_ip;
  std::time_t last_seen = 0;
  bool sheet_verified = false;
};

class Service {
 public:
  // Takes the session and online code limits from `options`; the trading
  // page's address joins the proxy's in depCert.targetUrl.
  Service(Store* store, CertAuthority* ca, std::string origin, const Options& options,
          std::string trading_url = "");

  // The session whose key opens every non-empty sealed field into text the
  // client could have sent (printable ASCII; code page 950 for free-text
  // fields); the opened values go to *opened. nullptr when none or more
  // than one does, or the session expired. The request names no session,
  // so the key itself is what identifies it.
  std::shared_ptr<Session> OpenWithSession(const Fields& sealed, Fields* opened);

  // Runs `action` with opened, UTF-8 field values. `session` is null for
  // public-key actions. Returns the reply document.
  std::string Run(const std::string& action, const Fields& fields, Session* session,
                  const std::string& remote_addr);

  void Seed(const std::vector<CustomerSeed>& customers);
  bool AddCustomer(const CustomerSeed& seed, std::string* error);
  std::string CnOf(const std::string& idno) const { return idno + "-01"; }

  void SetSysCfg(const std::string& key, const std::string& value);
  Fields SysCfg();
  bool ApplyProfile(const std::string& name);  // "pfx", "store", "pfx,store", "store,pfx"
  void SetVersionPolicy(const VersionPolicy& policy);
  void SetRegSetItems(const std::vector<RegSetItem>& items);
  std::vector<RegSetItem> RegSetItems();
  // The demo security component's installer for the configured class; it
  // installs `files` for the user and registers them (see pages.h).
  std::string ComponentInstaller(const ComponentFiles& files);
  void SetIssuePolicy(const IssuePolicy& policy);
  IssuePolicy issue_policy();

  // Clears the login and sheet-code lock-outs.
  bool Unlock(const std::string& idno);
  std::string FnStatus(const std::string& idno);
  std::vector<CertRecord> Certificates(const std::string& idno);
  std::vector<CertRecord> AllCertificates();
  bool SetCertExpiry(const std::string& idno, int days);
  bool SetCertState(const std::string& idno, const std::string& state);
  std::vector<AuditRecord> Audit();
  // The latest actions run (faults answered before the service are not here).
  std::vector<RequestRecord> Requests();
  std::vector<MailItem> Mail();
  int SessionCount();

  class Call;

 private:
  struct FnState;
  FnState FnStateOf(const std::string& idno, std::time_t now);
  CertRecord Record(const CertRow& row, std::time_t now);

  void GetSysCfg(Call& c);
  void CheckVersion(Call& c);
  void DoLogin(Call& c);
  void GetCn(Call& c);
  void ChangePw(Call& c);
  void GetOnlinePw(Call& c);
  void VerifyOnlinePw(Call& c);
  void VerifyPwBag(Call& c);
  void DoLogout(Call& c);
  void IAmAlive(Call& c);
  void QryBranch(Call& c);
  void QryBranchAll(Call& c);
  void WriteLog(Call& c);
  void GetRegSet(Call& c);
  void QryCert(Call& c);
  void QryCert2(Call& c);
  void QryLastActiveCert(Call& c);
  void GetFnStatus(Call& c);
  void ApplyCert(Call& c);
  void RenewCert(Call& c);
  void DlCert(Call& c);
  void RevokeCert(Call& c);
  void ActiveCert(Call& c);
  void ChangePfxPwVerifyP7(Call& c);

  // `parsed`: the row's certificate as just issued, when the caller has it.
  void AnswerCert(Call& c, const CertRow& row, const ParsedCert* parsed = nullptr);
  // Issues `req` for `idno` and records it as a new certificate of `kind`
  // (replacing `replaces`, 0 for none, with the verified identity `proof`);
  // refuses with 2007 and gives nothing when either step fails.
  struct Recorded {
    CertRow row;
    std::shared_ptr<const ParsedCert> parsed;
  };
  std::optional<Recorded> IssueAndRecord(Call& c, const CheckedRequest& req, const std::string& idno,
                                         const std::string& kind, long long replaces, const std::string& proof);
  bool OwnCn(Call& c);
  std::optional<OnlineCode> UsablePwid(const std::string& pwid, const std::string& idno,
                                       bool for_revoke, std::time_t now);

  // Now, by the clock of sessions and online codes.
  std::time_t Now() const { return clock_ ? clock_() : std::time(nullptr); }

  Store* store_;
  CertAuthority* ca_;
  std::string origin_;
  std::string trading_url_;
  int session_timeout_s_;
  int online_code_lifetime_s_;
  size_t max_sessions_;
  std::function<std::time_t()> clock_;
  std::mutex mu_;
  std::map<std::string, std::shared_ptr<Session>> sessions_;
  Fields sys_cfg_;
  VersionPolicy version_;
  IssuePolicy policy_;
  std::vector<RegSetItem> reg_items_;
  std::deque<RequestRecord> requests_;
};

// The demo customers seeded into an empty database.
std::vector<CustomerSeed> DemoCustomerSeeds();

}  // namespace quil::devproxy
