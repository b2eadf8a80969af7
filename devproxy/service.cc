// The action service: sessions, dispatch, settings and administration.
#include "devproxy/service_call.h"

#include <algorithm>
#include <cstdlib>

#include "devproxy/crypto.h"
#include "devproxy/pages.h"

namespace quil::devproxy {

using namespace service_internal;

namespace {
// Enough for a test to look back over its own session.
constexpr size_t kKeptRequests = 10000;

// The registry values a fresh start prescribes: two zone settings, a
// trusted site and the demo component's own record.
std::vector<RegSetItem> DefaultRegSetItems() {
  const std::string zones = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Zones\\2";
  return {
      {"R1", zones, "1201", "0", "DW", "信任的網站: 起始不標示為安全的 ActiveX 控制項"},
      {"R2", zones, "1001", "0", "DW", "信任的網站: 下載已簽署的 ActiveX 控制項"},
      {"T1", "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap\\Domains\\localhost",
       "https", "2", "DW", "信任的網站: localhost"},
      {"A2", "Software\\MERO\\MeroCpnt", "Installed", "1", "DW", "安控元件安裝紀錄"},
  };
}
}  // namespace

Envelope EnvelopeOf(const std::string& action) {
  static const std::map<std::string, Envelope> kTable = {
      {"getSysCfg", Envelope::kPublicKey},     {"checkVersion", Envelope::kPublicKey},
      {"doLogin", Envelope::kPublicKey},       {"qryBranch", Envelope::kPublicKey},
      {"qryBranchAll", Envelope::kPublicKey},  {"writeLog2", Envelope::kPublicKey},
      {"getRegSet", Envelope::kPublicKey},     {"getCn", Envelope::kSession},
      {"qryCert", Envelope::kSession},         {"qryCert2", Envelope::kSession},
      {"qryLastActiveCert", Envelope::kSession}, {"getFnStatus", Envelope::kSession},
      {"applyCert", Envelope::kSession},       {"renewCert", Envelope::kSession},
      {"dlCert", Envelope::kSession},          {"revokeCert", Envelope::kSession},
      {"activeCert", Envelope::kSession},      {"changePfxPwVerifyP7", Envelope::kSession},
      {"changePw", Envelope::kSession},        {"verifyOnlinePw", Envelope::kSession},
      {"verifyPwBag", Envelope::kSession},     {"getOnlinePw", Envelope::kSession},
      {"doLogout", Envelope::kSession},        {"iAmAlive", Envelope::kSession},
      {"writeLog", Envelope::kSession},
  };
  auto it = kTable.find(action);
  return it == kTable.end() ? Envelope::kUnknown : it->second;
}

CertRow RowForIssued(const IssuedCert& issued, const std::string& idno, const std::string& cn,
                     const std::string& kind, const std::string& state) {
  CertRow row;
  row.idno = idno;
  row.cn = cn;
  row.kind = kind;
  row.state = state;
  row.serial = issued.serial;
  row.subject = issued.subject;
  row.issuer = issued.issuer;
  row.hash = issued.hash;
  row.der = issued.der;
  row.not_before = issued.not_before;
  row.not_after = issued.not_after;
  return row;
}

// One action call: its fields, its session and the reply being built.


Service::Service(Store* store, CertAuthority* ca, std::string origin, const Options& options,
                 std::string trading_url)
    : store_(store),
      ca_(ca),
      origin_(std::move(origin)),
      trading_url_(std::move(trading_url)),
      session_timeout_s_(options.session_timeout_s),
      online_code_lifetime_s_(options.online_code_lifetime_s),
      max_sessions_(static_cast<size_t>(std::max(1, options.max_sessions))),
      clock_(options.clock) {
  ApplyProfile("pfx");
  reg_items_ = DefaultRegSetItems();
}

bool Service::ApplyProfile(const std::string& name) {
  std::string exp, read;
  if (name == "pfx") exp = read = "pfx";
  else if (name == "store") exp = read = "ieCertStore";
  else if (name == "pfx,store") exp = read = "pfx,ieCertStore";
  else if (name == "store,pfx") exp = read = "ieCertStore,pfx";
  else return false;
  std::lock_guard<std::mutex> lock(mu_);
  sys_cfg_ = {
      // Written for Windows clients, as a real operator writes it.
      {"default.pfxFilePath", "#userHome#\\QUIL"},
      {"default.pfxFileName", "QUILCert.P12"},
      {"cert.expType", exp},
      {"cert.readOrder", read},
      {"pfx.pwd.minLen", "6"},
      {"pfx.pwd.maxLen", "10"},
      {"pfx.pwd.digit", "N"},
      {"pfx.pwd.UCAlph", "N"},
      {"pfx.pwd.LCAlph", "N"},
      {"pfx.pwd.punctuation", "N"},
      {"pfx.pwd.prompt", "憑證密碼須為6~10碼英文或數字"},
      {"app.dlUrl", origin_ + "/download/QUILSetup.exe"},
      {"meroCpnt.dlUrl", origin_ + "/download/MeroCpntSetup.exe"},
      {"component.activeX.classId32", "6D3F9A1C-2B4E-4C7A-9E51-7A2B3C4D5E6F"},
      {"component.activeX.version32", "1,0,0,2"},
      {"component.activeX.codeBase32", origin_ + "/download/MeroCpnt.cab#version=1,0,0,2"},
      {"depCert.templateUrl", origin_ + "/depCert/QUILDepCert.htm"},
      // The operator's sites: they may ask for signatures in the browser.
      {"depCert.targetUrl", origin_ + "/" + (trading_url_.empty() ? "" : "," + trading_url_)},
      {"depCert.mode", "M"},
      {"depCert.selectedBrowser", "Microsoft Edge,Chrome,FireFox"},
  };
  return true;
}

void Service::SetSysCfg(const std::string& key, const std::string& value) {
  std::lock_guard<std::mutex> lock(mu_);
  if (value.empty()) sys_cfg_.erase(key);
  else sys_cfg_[key] = value;
}

Fields Service::SysCfg() {
  std::lock_guard<std::mutex> lock(mu_);
  return sys_cfg_;
}

void Service::SetVersionPolicy(const VersionPolicy& policy) {
  std::lock_guard<std::mutex> lock(mu_);
  version_ = policy;
}

void Service::SetRegSetItems(const std::vector<RegSetItem>& items) {
  std::lock_guard<std::mutex> lock(mu_);
  reg_items_ = items;
}

std::vector<RegSetItem> Service::RegSetItems() {
  std::lock_guard<std::mutex> lock(mu_);
  return reg_items_;
}

std::string Service::ComponentInstaller(const ComponentFiles& files) {
  std::lock_guard<std::mutex> lock(mu_);
  auto field = [&](const char* key) {
    auto it = sys_cfg_.find(key);
    return it == sys_cfg_.end() ? std::string() : it->second;
  };
  return ComponentInstallerScript("{" + field("component.activeX.classId32") + "}", files);
}

void Service::SetIssuePolicy(const IssuePolicy& policy) {
  std::lock_guard<std::mutex> lock(mu_);
  policy_ = policy;
}

IssuePolicy Service::issue_policy() {
  std::lock_guard<std::mutex> lock(mu_);
  return policy_;
}

// ---- sessions ----

namespace {
// Text a client could have sent: printable ASCII, tab and line breaks, and
// well-formed code page 950 pairs. A wrong key that happens to leave valid
// padding (about 1 in 256) yields random bytes, which these tests reject:
// for a one-block ASCII field a wrong key passes about once in 10^9 tries.
bool PlausibleText(const std::string& s) {
  for (size_t i = 0; i < s.size(); ++i) {
    unsigned char c = s[i];
    if (c >= 0x20 && c < 0x7F) continue;
    if (c == '\t' || c == '\n' || c == '\r') continue;
    if (c >= 0x81 && c <= 0xFE && i + 1 < s.size()) {
      unsigned char t = s[i + 1];
      if ((t >= 0x40 && t <= 0x7E) || (t >= 0xA1 && t <= 0xFE)) {
        ++i;
        continue;
      }
    }
    return false;
  }
  return true;
}

bool PrintableAscii(const std::string& s) {
  return std::all_of(s.begin(), s.end(), [](unsigned char c) { return c >= 0x20 && c < 0x7F; });
}

// Fields that carry the customer's own text; every other field the client
// sends is printable ASCII (names, codes, base64, numbers).
bool FreeTextField(const std::string& name) {
  return name == "memo" || name == "certPath" || name == "notifyAddr" || name == "trash";
}
}  // namespace

std::shared_ptr<Session> Service::OpenWithSession(const Fields& sealed, Fields* opened) {
  std::vector<std::shared_ptr<Session>> candidates;
  {
    std::lock_guard<std::mutex> lock(mu_);
    std::time_t now = Now();
    for (auto it = sessions_.begin(); it != sessions_.end();) {
      if (now - it->second->last_seen > session_timeout_s_) it = sessions_.erase(it);
      else candidates.push_back((it++)->second);
    }
  }
  bool any_value = std::any_of(sealed.begin(), sealed.end(),
                               [](const auto& f) { return !f.second.empty(); });
  if (!any_value) return nullptr;
  // Decoded once; only the key changes from one candidate to the next.
  std::map<std::string, std::optional<std::string>> bytes;
  for (const auto& [name, value] : sealed)
    if (!value.empty()) bytes[name] = Base64DecodeStrict(value);
  // One field's padding turns away nearly every wrong key before anything
  // else is done for it.
  const std::optional<std::string>& first = bytes.begin()->second;
  if (!first) return nullptr;
  std::shared_ptr<Session> found;
  Fields found_fields;
  for (const auto& s : candidates) {
    if (!s->probe->Fits(*first)) continue;
    Fields out;
    bool ok = true;
    for (const auto& [name, value] : sealed) {
      if (value.empty()) {
        out[name];
        continue;
      }
      const std::optional<std::string>& sealed_bytes = bytes[name];
      auto plain = sealed_bytes && s->probe->Fits(*sealed_bytes) ? AesDecrypt(s->key, *sealed_bytes)
                                                                 : std::nullopt;
      if (!plain || !(FreeTextField(name) ? PlausibleText(*plain) : PrintableAscii(*plain))) {
        ok = false;
        break;
      }
      out[name] = *plain;
    }
    if (!ok) continue;
    if (found) return nullptr;  // two keys open it: refuse rather than guess
    found = s;
    found_fields = std::move(out);
  }
  if (!found) return nullptr;
  std::lock_guard<std::mutex> lock(mu_);
  if (!sessions_.count(found->key)) return nullptr;  // logged out meanwhile
  found->last_seen = Now();
  *opened = std::move(found_fields);
  return found;
}

int Service::SessionCount() {
  std::lock_guard<std::mutex> lock(mu_);
  return static_cast<int>(sessions_.size());
}

// ---- dispatch ----

std::string Service::Run(const std::string& action, const Fields& fields, Session* session,
                         const std::string& remote_addr) {
  using Handler = void (Service::*)(Call&);
  static const std::map<std::string, Handler> kHandlers = {
      {"getSysCfg", &Service::GetSysCfg},
      {"checkVersion", &Service::CheckVersion},
      {"doLogin", &Service::DoLogin},
      {"getCn", &Service::GetCn},
      {"changePw", &Service::ChangePw},
      {"getOnlinePw", &Service::GetOnlinePw},
      {"verifyOnlinePw", &Service::VerifyOnlinePw},
      {"verifyPwBag", &Service::VerifyPwBag},
      {"doLogout", &Service::DoLogout},
      {"iAmAlive", &Service::IAmAlive},
      {"qryBranch", &Service::QryBranch},
      {"qryBranchAll", &Service::QryBranchAll},
      {"writeLog", &Service::WriteLog},
      {"writeLog2", &Service::WriteLog},
      {"getRegSet", &Service::GetRegSet},
      {"qryCert", &Service::QryCert},
      {"qryCert2", &Service::QryCert2},
      {"qryLastActiveCert", &Service::QryLastActiveCert},
      {"getFnStatus", &Service::GetFnStatus},
      {"applyCert", &Service::ApplyCert},
      {"renewCert", &Service::RenewCert},
      {"dlCert", &Service::DlCert},
      {"revokeCert", &Service::RevokeCert},
      {"activeCert", &Service::ActiveCert},
      {"changePfxPwVerifyP7", &Service::ChangePfxPwVerifyP7},
  };
  Call call(fields, session, remote_addr);
  auto it = kHandlers.find(action);
  if (it == kHandlers.end()) {
    call.Refuse("9000", "不支援的功能");
    return call.Document();
  }
  std::lock_guard<std::mutex> lock(mu_);
  requests_.push_back({action, session ? session->idno : std::string()});
  if (requests_.size() > kKeptRequests) requests_.pop_front();
  // One transaction per action: a step that writes several rows commits
  // (and syncs) once, and an answer never reports rows that were not kept.
  bool ran = false;
  bool kept = store_->Transaction([&] {
    ran = true;
    (this->*(it->second))(call);
    return true;
  });
  if (!ran) {
    (this->*(it->second))(call);  // no transaction to be had: statement by statement
  } else if (!kept) {
    Call failed(fields, session, remote_addr);
    failed.Refuse("9004", "紀錄寫入失敗");
    return failed.Document();
  }
  return call.Document();
}

// ---- administration ----

bool Service::AddCustomer(const CustomerSeed& seed, std::string* error) {
  CustomerSeed s = seed;
  s.idno = Upper(s.idno);
  if (s.idno.empty() || !IsAlnum(s.idno) || s.idno.size() > 12) {
    *error = "identity number must be 1 to 12 letters or digits";
    return false;
  }
  if (s.branch.size() != 4 || s.account.size() != 7 || !IsAlnum(s.branch) ||
      !std::all_of(s.account.begin(), s.account.end(), ::isdigit)) {
    *error = "branch must be 4 characters and account 7 digits";
    return false;
  }
  std::lock_guard<std::mutex> lock(mu_);
  return store_->AddCustomer(s, CnOf(s.idno), error);
}

void Service::Seed(const std::vector<CustomerSeed>& customers) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    const std::pair<const char*, const char*> kBranches[] = {
        {"9A00", "台北分公司"}, {"9A01", "信義分公司"}, {"9B00", "台中分公司"}, {"9C00", "高雄分公司"}};
    for (const auto& [code, name] : kBranches) store_->AddBranch(code, name);
  }
  std::string error;
  for (const auto& c : customers) AddCustomer(c, &error);
  // The second demo customer also holds mobile certificates; the one whose
  // cn is the bare identity number is the kind the page leaves out.
  std::lock_guard<std::mutex> lock(mu_);
  if (!store_->CustomerByIdno("B223456789")) return;
  for (const char* cn : {"B223456789-M1", "B223456789"}) {
    auto issued = ca_->IssueWithNewKey({cn, policy_.subject_ou, policy_.subject_o, policy_.subject_c},
                                       365, [&](const std::string& s) { return store_->SerialTaken(s); });
    if (!issued) continue;
    CertRow row = RowForIssued(*issued, "B223456789", cn, "mobile", kStateValid);
    row.activated = true;
    store_->AddCert(row);
  }
}

bool Service::Unlock(const std::string& idno) {
  std::lock_guard<std::mutex> lock(mu_);
  if (!store_->CustomerByIdno(Upper(idno))) return false;
  return store_->SetLoginFailures(Upper(idno), 0) && store_->SetSheetFailures(Upper(idno), 0);
}

std::string Service::FnStatus(const std::string& idno) {
  std::lock_guard<std::mutex> lock(mu_);
  return FnStateOf(Upper(idno), std::time(nullptr)).fn;
}

std::vector<CertRecord> Service::Certificates(const std::string& idno) {
  std::lock_guard<std::mutex> lock(mu_);
  std::vector<CertRecord> out;
  std::time_t now = std::time(nullptr);
  for (const auto& r : store_->CertsOf(Upper(idno))) out.push_back(Record(r, now));
  return out;
}

std::vector<CertRecord> Service::AllCertificates() {
  std::lock_guard<std::mutex> lock(mu_);
  std::vector<CertRecord> out;
  std::time_t now = std::time(nullptr);
  for (const auto& r : store_->AllCerts()) out.push_back(Record(r, now));
  return out;
}

bool Service::SetCertExpiry(const std::string& idno, int days) {
  std::lock_guard<std::mutex> lock(mu_);
  for (auto& r : store_->CertsOf(Upper(idno))) {
    if (!IsPc(r) || (r.state != kStateValid && r.state != kStateIssued)) continue;
    std::string why;
    auto re = ca_->Reissue(r.der, std::time(nullptr) + static_cast<std::time_t>(days) * 86400, &why);
    if (!re) return false;
    r.der = re->der;
    r.hash = re->hash;
    r.not_before = re->not_before;
    r.not_after = re->not_after;
    return store_->UpdateCert(r);
  }
  return false;
}

bool Service::SetCertState(const std::string& idno, const std::string& state) {
  std::lock_guard<std::mutex> lock(mu_);
  std::vector<CertRow> rows = store_->CertsOf(Upper(idno));
  auto newest = std::find_if(rows.begin(), rows.end(), IsPc);
  if (newest == rows.end()) return false;
  if (state == "revoked") {
    newest->state = kStateRevoked;
    return store_->UpdateCert(*newest);
  }
  if (state != "issued" || (newest->state != kStateValid && newest->state != kStateIssued)) return false;
  // As if its answer never arrived: not installed, and a renewal's
  // predecessor still the live certificate.
  if (newest->replaces) {
    auto old = store_->CertById(newest->replaces);
    if (old && old->state == kStateReplaced) {
      old->state = kStateValid;
      if (!store_->UpdateCert(*old)) return false;
    }
  }
  newest->state = kStateIssued;
  newest->activated = false;
  newest->cert_path.clear();
  return store_->UpdateCert(*newest);
}

std::vector<AuditRecord> Service::Audit() {
  std::lock_guard<std::mutex> lock(mu_);
  return store_->Audit();
}

std::vector<RequestRecord> Service::Requests() {
  std::lock_guard<std::mutex> lock(mu_);
  return {requests_.begin(), requests_.end()};
}

std::vector<MailItem> Service::Mail() {
  std::lock_guard<std::mutex> lock(mu_);
  return store_->Mail();
}

}  // namespace quil::devproxy
