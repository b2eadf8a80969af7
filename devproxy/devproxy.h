#pragma once
// quil-devproxy: the demo operator certificate proxy, run in-process.
//
// DevProxy serves the proxy actions under "/PELIProxy/proxy/" plus the
// surrounding operator pages (bridge page, deployment template, demo
// trading page on a port of its own, downloads,
// demo mailbox, admin endpoint) on 127.0.0.1 only. It keeps its own CA, TLS
// certificate, envelope key pair and a SQLite database in Options::data_dir.
// Start() returns once the listener accepts connections; the server runs on
// background threads and stops in the destructor. Every public member is
// safe to call from any thread.
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "devproxy/trading_site.h"

namespace quil::devproxy {

struct Options {
  std::string data_dir;     // created when missing
  // A key set (devproxy/key_set.h) whose keys a new data folder takes
  // instead of making its own; empty: keys are made as needed.
  std::string key_set;
  int port = 0;             // 0: a free port on 127.0.0.1
  bool plain_http = false;  // serve http:// instead of https://
  bool reset = false;       // wipe the database (keys and CA are kept) and reseed
  bool seed_demo = true;    // add the demo customers to an empty database
  int session_timeout_s = 1800;  // a session key unused this long is refused
  int online_code_lifetime_s = 300;  // an online code must be entered within this
  int max_sessions = 5000;  // beyond this a login ends the longest-idle session
  // The clock of sessions and online codes (their timeouts and idle
  // order), in seconds since the epoch; empty: the system's. Tests move one
  // of their own forward instead of waiting.
  std::function<std::time_t()> clock;
  int trading_port = 0;     // the demo trading page's port; 0: a free one
  // Faults switched on from the start, "action=fault;action=fault" (see
  // ParseFault for the fault forms).
  std::string faults;
  // The client update served as /download/QUILSetup.exe (app.dlUrl); empty:
  // the quil program this proxy was built with.
  std::string update_file;
};

// One injected fault for one action (or "*" for every action).
struct Fault {
  enum class Kind {
    kNone,           // answer normally (delay_ms may still apply)
    kMalformedXml,   // sealed reply that is not well-formed XML
    kNoRoot,         // sealed reply with no element at all
    kRtnCode,        // sealed reply <rtnCode>rtn_code</rtnCode><rtnMsg>rtn_msg</rtnMsg>
    kHttpStatus,     // plain HTTP status http_status with an empty body
    kEmptyBody,      // status 200, empty body
    kDropConnection, // the connection is closed without any answer
    kReplyLost,      // the action runs, then the connection is closed without its answer
  };
  Kind kind = Kind::kNone;
  std::string rtn_code;
  std::string rtn_msg;
  int http_status = 500;
  int delay_ms = 0;    // wait before answering
  int times = -1;      // how many calls it hits; -1: until cleared
};

// Parses "malformed", "noroot", "empty", "drop", "lost", "rtn:CODE[:MSG]",
// "status:N", "delay:MS" and combinations joined by "," ("delay:500,drop"),
// optionally followed by ",times:N".
std::optional<Fault> ParseFault(const std::string& fault_text);

// Policy of issuance; changeable at run time.
struct IssuePolicy {
  int valid_days = 730;          // notAfter = now + valid_days
  int renew_window_days = 30;    // renewal offered within this many days of notAfter
  bool pkcs7_bundle = true;      // cert answered as PKCS#7 (root, intermediate, user) or single DER
  // Issuer naming: a new issuing CA (signed by the root) is made for each
  // name in use.
  std::string issuer_cn = "QUIL Demo Issuing CA";
  std::string issuer_o = "QUIL Demo CA";
  std::string issuer_c = "TW";
  std::string subject_ou = "PELI Securities";
  std::string subject_o = "QUIL Demo CA";
  std::string subject_c = "TW";
  // Application and revocation need a verified sheet code (this session)
  // or online code (pwid) first.
  bool require_auth_code = false;
};

// Answer of checkVersion.
struct VersionPolicy {
  std::string rtn_code = "0";    // not "0": update required (client gets app.dlUrl)
  std::string rtn_msg;
  std::string notice;
  std::string available = "true";
  std::string general_report_text;
  std::string is_show_report_text = "N";
  std::string general_report_link;
  std::string is_show_report_link = "N";
  std::string width = "400";
  std::string height = "300";
  int times = -1;  // checks it answers before the default returns; -1: until replaced
};

// One registry value the operator prescribes, as getRegSet answers it.
// The first letter of the id tells the page how to judge it: "R" a setting
// (current equals required), "T" a trusted site (current is 2), "A" a
// component (current is 1).
struct RegSetItem {
  std::string id;     // regId
  std::string path;   // regPath, below HKEY_CURRENT_USER
  std::string name;   // regName
  std::string value;  // regValue
  std::string type;   // regValueType: "DW" for a DWORD, other text for a string
  std::string desc;   // regDesc
};

struct CustomerSeed {
  std::string aid;         // login name: branch code + 7-digit account, or the idno
  std::string idno;        // identity number
  std::string password;
  std::string name;
  std::string branch;      // branch code, 4 digits
  std::string account;     // 7 digits
  std::string email;
  std::string mobile;
  std::string birthday;    // yyyymmdd
  std::string apply_pw_bag = "Y";  // isApplyPwBag source
  bool first_login = false;        // the next login must change the password
  std::vector<std::string> sheet_codes;  // password sheet (verifyPwBag) codes
};

struct AuditRecord {
  std::string action;  // "writeLog" or "writeLog2"
  std::string id, aid, funcid, memo;
  std::string session_idno;  // the logged-in customer for writeLog, else ""
  std::string time;          // 14 digits, local
};

// One action the service ran, in arrival order.
struct RequestRecord {
  std::string action;
  std::string session_idno;  // the logged-in customer for session actions, else ""
};

struct MailItem {
  std::string idno;
  std::string notify_type;   // as the client sent it
  std::string notify_addr;
  std::string apply_type;
  std::string code;          // the online code
  std::string reference;     // the code's reference number (getOnlinePw's onlinepw)
  std::string created;       // 14 digits, local
  std::string expires;       // 14 digits, local
};

// One certificate as the proxy records it.
struct CertRecord {
  long long cert_id = 0;     // certApplyId
  std::string idno, cn;
  std::string state;         // "0" valid, "10" issued not installed, "13" replaced,
                             // "31" revoked, "50" expired
  std::string act_flg;       // "Y" once activeCert was reported, else "N"
  std::string serial;        // upper-case hex, no leading zeros
  std::string not_before, not_after;  // 14 digits, local
  std::string subject, issuer;
  std::string cert_hash;     // SHA-1 of the DER, upper-case hex
  std::string cert_path;     // from activeCert
  std::string der_base64;
  bool mobile = false;
  // A renewal: the serial of the certificate it replaces, and the identity
  // proof the proxy verified with that certificate's key (base64 PKCS#7
  // over the request text).
  std::string replaces_serial;
  std::string renewal_proof;
};

class DevProxy {
 public:
  // Starts the service; nullptr and *error on failure (bad folder, port in
  // use, key generation failed).
  static std::unique_ptr<DevProxy> Start(const Options& options, std::string* error);
  ~DevProxy();
  DevProxy(const DevProxy&) = delete;
  DevProxy& operator=(const DevProxy&) = delete;

  int port() const;
  std::string origin() const;           // "https://127.0.0.1:PORT"
  std::string base_url() const;         // origin + "/PELIProxy/proxy/"
  std::string public_key_path() const;  // PEM "PUBLIC KEY" of the envelope key
  std::string public_key_pem() const;
  std::string ca_bundle_path() const;   // root + intermediate + TLS issuer, PEM
  std::string root_cert_path() const;   // issuing chain root, PEM
  std::string intermediate_cert_path() const;
  std::string bridge_url() const;       // origin + "/mobile/bridge/bridge.ashx"
  std::string ip_services() const;      // two comma-separated address URLs
  std::string template_url() const;     // deployment template
  std::string mailbox_url() const;      // demo mailbox page
  // The demo trading page, on a port of its own: it asks for a client
  // certificate and lets in those the demo authority issued.
  std::string trading_url() const;
  std::string env_file() const;         // data_dir + "/quil.env"
  std::string admin_token() const;      // required by /admin/* as X-Admin-Token
  // setenv QUIL_PROXY_URL, QUIL_PROXY_PUBKEY, QUIL_PROXY_CA, QUIL_BRIDGE_URL,
  // QUIL_IP_SERVICES for this process.
  void ExportEnvironment() const;

  // Faults: action name or "*".
  void SetFault(const std::string& action, const Fault& fault);
  void ClearFaults();

  // Settings profile answered by getSysCfg (replaces single keys; an empty
  // value removes the key).
  void SetSysCfg(const std::string& key, const std::string& value);
  std::map<std::string, std::string> SysCfg() const;
  // Replaces the whole settings profile: "pfx" (file store), "store"
  // (Windows store), "pfx,store" or "store,pfx" (both, in that order).
  bool ApplySettingsProfile(const std::string& name);
  void SetVersionPolicy(const VersionPolicy& policy);
  // The items getRegSet answers, in order.
  void SetRegSetItems(const std::vector<RegSetItem>& items);
  std::vector<RegSetItem> RegSetItems() const;
  void SetIssuePolicy(const IssuePolicy& policy);
  IssuePolicy issue_policy() const;

  // Customers and their state.
  bool AddCustomer(const CustomerSeed& seed, std::string* error);
  std::vector<CustomerSeed> DemoCustomers() const;  // what a fresh start seeds
  // Makes the customer's live certificate expire `days` from now (re-signed
  // by the CA, same serial), to walk into the renewal window.
  bool SetCertExpiryForTesting(const std::string& idno, int days);
  // Puts the customer's newest certificate into `state`: "issued" (issued
  // but never stored: its answer was lost; a renewal's predecessor is live
  // again) or "revoked" (revoked elsewhere). False without such a certificate.
  bool SetCertStateForTesting(const std::string& idno, const std::string& state);
  std::vector<CertRecord> Certificates(const std::string& idno) const;
  std::vector<CertRecord> AllCertificates() const;
  std::string FnStatus(const std::string& idno) const;
  std::string CnOf(const std::string& idno) const;  // the customer's certificate cn

  std::vector<AuditRecord> AuditRecords() const;
  // Every visit of the trading page so far, oldest first.
  std::vector<TradingVisit> TradingVisits() const;
  // Every order posted to the trading page so far, oldest first.
  std::vector<TradingOrder> TradingOrders() const;
  std::vector<MailItem> Mailbox() const;
  // Number of sessions currently open.
  int SessionCount() const;

  // TLS handshakes the proxy's port completed since it started: in full
  // (with the certificate's signature) and resumed from an earlier session.
  struct TlsHandshakes {
    long full = 0;
    long resumed = 0;
  };
  TlsHandshakes Handshakes() const;

  class Impl;

 private:
  explicit DevProxy(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace quil::devproxy
