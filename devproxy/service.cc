#include "devproxy/service.h"

#include <algorithm>
#include <cstdlib>

#include "devproxy/crypto.h"

namespace quil::devproxy {

namespace {

constexpr int kMaxLoginFailures = 3;
constexpr int kMaxCodeAttempts = 3;
constexpr int kMaxSheetFailures = 3;
constexpr int kPwidLifetimeS = 1800;
constexpr int kOnlineCodeIntervalS = 30;
constexpr int kOnlineCodesPerDay = 10;
constexpr char kVersion[] = "1.9";

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string NormalSerial(const std::string& s) {
  std::string u = Upper(s);
  size_t first = u.find_first_not_of('0');
  return first == std::string::npos ? std::string() : u.substr(first);
}

bool IsAlnum(const std::string& s) {
  return std::all_of(s.begin(), s.end(), [](unsigned char c) { return isalnum(c); });
}

bool ValidLoginPassword(const std::string& pw) {
  bool letter = false, digit = false;
  for (unsigned char c : pw) {
    if (isalpha(c)) letter = true;
    else if (isdigit(c)) digit = true;
    else return false;
  }
  return pw.size() >= 6 && pw.size() <= 10 && letter && digit;
}

bool Expired(const CertRow& r, std::time_t now) { return r.not_after <= now; }

bool IsPc(const CertRow& r) { return r.kind != "mobile"; }

// Validity text form shown to the customer.
std::string EffectiveState(const CertRow& r, std::time_t now) {
  if ((r.state == kStateValid || r.state == kStateIssued) && Expired(r, now)) return kStateExpired;
  return r.state;
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

// One action call: its fields, its session and the reply being built.
class Service::Call {
 public:
  Call(const Fields& fields, Session* session, std::string remote)
      : fields_(fields), session_(session), remote_(std::move(remote)) {}

  const std::string& F(const std::string& name) const {
    static const std::string kEmpty;
    auto it = fields_.find(name);
    return it == fields_.end() ? kEmpty : it->second;
  }
  Session* session() const { return session_; }
  const std::string& remote() const { return remote_; }

  void Ok(const std::string& msg = "") { code_ = "0"; msg_ = msg; }
  void Refuse(const std::string& code, const std::string& msg) { code_ = code; msg_ = msg; }
  bool refused() const { return code_ != "0"; }
  void Add(const std::string& name, const std::string& value) {
    body_ += "<" + name + ">" + Escape(value) + "</" + name + ">";
  }
  void Open(const std::string& name) { body_ += "<" + name + ">"; }
  void Close(const std::string& name) { body_ += "</" + name + ">"; }
  void AddRecord(const CertRecord& r) {
    Add("certId", std::to_string(r.cert_id));
    Add("cn", r.cn);
    Add("certUserId", r.cn.substr(0, r.cn.find('-')));
    Add("serial", r.serial);
    Add("notBefore", r.not_before);
    Add("notAfter", r.not_after);
    Add("subject", r.subject);
    Add("issuer", r.issuer);
    Add("certHash", r.cert_hash);
    Add("state", r.state);
    Add("stateMessage", StateMessage(r.state));
    Add("actFlg", r.act_flg);
  }

  std::string Document() const {
    return "<?xml version=\"1.0\" encoding=\"Big5\"?>\n<result><rtnCode>" + Escape(code_) +
           "</rtnCode><rtnMsg>" + Escape(msg_) + "</rtnMsg>" + body_ + "</result>";
  }

 private:
  const Fields& fields_;
  Session* session_;
  std::string remote_;
  std::string code_ = "0";
  std::string msg_;
  std::string body_;
};

struct Service::FnState {
  std::optional<CertRow> pending_apply, pending_renew, active;
  int count = 0, effective = 0;
  std::string fn;
};

Service::Service(Store* store, CertAuthority* ca, std::string origin, int session_timeout_s,
                 int online_code_lifetime_s)
    : store_(store),
      ca_(ca),
      origin_(std::move(origin)),
      session_timeout_s_(session_timeout_s),
      online_code_lifetime_s_(online_code_lifetime_s) {
  ApplyProfile("pfx");
  reg_items_ = {
      {"R1", "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Zones\\2", "1201",
       "0", "DW", "信任的網站: 起始不標示為安全的 ActiveX 控制項"},
      {"R2", "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Zones\\2", "1001",
       "0", "DW", "信任的網站: 下載已簽署的 ActiveX 控制項"},
      {"T1", "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap\\Domains\\localhost",
       "https", "2", "DW", "信任的網站: localhost"},
  };
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
      {"default.pfxFilePath", "#userHome#/QUIL"},
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
      {"component.activeX.classId32", "{6D3F9A1C-2B4E-4C7A-9E51-7A2B3C4D5E6F}"},
      {"component.activeX.version32", "1,0,0,2"},
      {"component.activeX.codeBase32", origin_ + "/download/MeroCpnt.cab#version=1,0,0,2"},
      {"depCert.templateUrl", origin_ + "/depCert/QUILDepCert.htm"},
      {"depCert.targetUrl", origin_ + "/"},
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

void Service::SetIssuePolicy(const IssuePolicy& policy) {
  std::lock_guard<std::mutex> lock(mu_);
  policy_ = policy;
}

IssuePolicy Service::issue_policy() {
  std::lock_guard<std::mutex> lock(mu_);
  return policy_;
}

void Service::SetRegItems(std::vector<RegItem> items) {
  std::lock_guard<std::mutex> lock(mu_);
  reg_items_ = std::move(items);
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
    std::time_t now = std::time(nullptr);
    for (auto it = sessions_.begin(); it != sessions_.end();) {
      if (now - it->second->last_seen > session_timeout_s_) it = sessions_.erase(it);
      else candidates.push_back((it++)->second);
    }
  }
  bool any_value = std::any_of(sealed.begin(), sealed.end(),
                               [](const auto& f) { return !f.second.empty(); });
  if (!any_value) return nullptr;
  std::shared_ptr<Session> found;
  Fields found_fields;
  for (const auto& s : candidates) {
    Fields out;
    bool ok = true;
    for (const auto& [name, value] : sealed) {
      if (value.empty()) {
        out[name];
        continue;
      }
      auto plain = AesDecryptBase64(s->key, value);
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
  found->last_seen = std::time(nullptr);
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
  (this->*(it->second))(call);
  return call.Document();
}

// ---- public-key actions ----

void Service::GetSysCfg(Call& c) {
  c.Ok();
  for (const auto& [k, v] : sys_cfg_) c.Add(k, v);
}

void Service::CheckVersion(Call& c) {
  const VersionPolicy& v = version_;
  if (v.rtn_code == "0" && c.F("version") == kVersion) c.Ok(v.rtn_msg);
  else if (v.rtn_code == "0") c.Refuse("1", "您的程式版本過舊，請更新程式");
  else c.Refuse(v.rtn_code, v.rtn_msg.empty() ? "您的程式版本過舊，請更新程式" : v.rtn_msg);
  c.Add("notice", v.notice);
  c.Add("available", v.available);
  c.Add("generalReportText", v.general_report_text);
  c.Add("isShowReportText", v.is_show_report_text);
  c.Add("generalReportLink", v.general_report_link);
  c.Add("isShowReportLink", v.is_show_report_link);
  c.Add("width", v.width);
  c.Add("height", v.height);
}

void Service::DoLogin(Call& c) {
  std::string aid = Upper(c.F("aid"));
  auto cust = store_->CustomerByAid(aid);
  if (aid.empty() || c.F("pw").empty() || !cust) {
    c.Refuse("1002", "查無此帳號，請確認登入帳號");
    return;
  }
  if (cust->failed_logins >= kMaxLoginFailures) {
    c.Refuse("1003", "密碼錯誤已達三次，帳號已鎖定#請洽所屬分公司辦理解鎖");
    return;
  }
  if (c.F("pw") != cust->password) {
    int failures = cust->failed_logins + 1;
    store_->SetLoginFailures(cust->idno, failures);
    if (failures >= kMaxLoginFailures)
      c.Refuse("1003", "密碼錯誤已達三次，帳號已鎖定#請洽所屬分公司辦理解鎖");
    else
      c.Refuse("1001", "登入密碼錯誤#您還有 " + std::to_string(kMaxLoginFailures - failures) + " 次機會");
    return;
  }
  store_->SetLoginFailures(cust->idno, 0);
  auto session = std::make_shared<Session>();
  do {
    session->key = RandomAlnum(32);
  } while (std::any_of(sessions_.begin(), sessions_.end(), [&](const auto& s) {
    return s.first.compare(0, 16, session->key, 0, 16) == 0;
  }));
  session->idno = cust->idno;
  session->client_ip = c.F("clientIP");
  session->last_seen = std::time(nullptr);
  sessions_[session->key] = session;
  c.Ok("登入成功");
  c.Add("aeskey", session->key);
  c.Add("id", cust->idno);
  c.Add("name", cust->name);
  c.Add("aid", cust->aid_account);
  c.Add("branch", cust->branch);
  c.Add("email", cust->email);
  c.Add("mobile", cust->mobile);
  c.Add("birthday", cust->birthday);
  c.Add("isApplyPwBag", cust->apply_pw_bag);
  c.Add("isFirstLogin", cust->first_login ? "Y" : "N");
  c.Add("applyOnlinePwNotice", "憑證認證碼將寄送至您留存的電子郵件信箱或手機，有效時間為5分鐘。");
  c.Add("revokeOnlinePwNotice", "註銷憑證須先取得憑證認證碼，認證碼將寄送至您留存的電子郵件信箱或手機。");
  c.Add("extraMsg", "");
}

void Service::QryBranch(Call& c) {
  auto cust = store_->CustomerByIdno(Upper(c.F("id")));
  c.Ok();
  if (!cust) return;
  std::string name;
  for (const auto& [code, n] : store_->Branches())
    if (code == cust->branch) name = n;
  c.Add("branch", cust->branch + " " + name + "#" + cust->aid_account);
}

void Service::QryBranchAll(Call& c) {
  std::string list;
  for (const auto& [code, name] : store_->Branches()) {
    if (!list.empty()) list += "||";
    list += name + "#" + code;
  }
  c.Ok();
  c.Add("branch", list);
}

void Service::WriteLog(Call& c) {
  AuditRecord r;
  r.action = c.session() ? "writeLog" : "writeLog2";
  r.id = c.F("id");
  r.aid = c.F("aid");
  r.funcid = c.F("funcid");
  r.memo = c.F("memo");
  r.session_idno = c.session() ? c.session()->idno : "";
  r.time = LocalTime14(std::time(nullptr));
  if (store_->AddAudit(r)) c.Ok();
  else c.Refuse("9004", "紀錄寫入失敗");
}

void Service::GetRegSet(Call& c) {
  c.Ok();
  int n = 0;
  for (const auto& item : reg_items_) {
    std::string tag = "item" + std::to_string(++n);
    c.Open(tag);
    c.Add("regPath", item.path);
    c.Add("regName", item.name);
    c.Add("regValue", item.value);
    c.Add("regValueType", item.type);
    c.Add("regDesc", item.desc);
    c.Add("regId", item.id);
    c.Close(tag);
  }
}

// ---- session actions: account ----

void Service::GetCn(Call& c) {
  if (Upper(c.F("userId")) != c.session()->idno) {
    c.Refuse("9002", "非本人資料");
    return;
  }
  c.Ok();
  c.Add("cn", CnOf(c.session()->idno));
}

void Service::ChangePw(Call& c) {
  auto cust = store_->CustomerByIdno(c.session()->idno);
  std::string aid = Upper(c.F("aid"));
  if (!cust || (aid != cust->aid_account && aid != cust->idno)) {
    c.Refuse("9002", "非本人資料");
    c.Add("extraMsg", "");
    return;
  }
  if (c.F("oldPw") != cust->password) {
    c.Refuse("1101", "目前密碼輸入錯誤");
    c.Add("extraMsg", "請重新輸入目前的網路登入密碼");
    return;
  }
  if (!ValidLoginPassword(c.F("newPw"))) {
    c.Refuse("1102", "新密碼須為長度6~10碼英數字組合");
    c.Add("extraMsg", "新密碼須同時包含英文字母及數字");
    return;
  }
  if (c.F("newPw") == c.F("oldPw")) {
    c.Refuse("1103", "新密碼與舊密碼相同");
    c.Add("extraMsg", "");
    return;
  }
  store_->SetPassword(cust->idno, c.F("newPw"));
  c.Ok("密碼變更成功");
  c.Add("extraMsg", "下次登入請使用新密碼");
}

void Service::GetOnlinePw(Call& c) {
  auto cust = store_->CustomerByIdno(c.session()->idno);
  std::string aid = Upper(c.F("aid"));
  std::string type = c.F("applyType").empty() ? "new" : c.F("applyType");
  std::time_t now = std::time(nullptr);
  if (!cust || Upper(c.F("id")) != cust->idno || (aid != cust->aid_account && aid != cust->idno)) {
    c.Refuse("-13", "身分資料不符，無法申請認證碼");
    return;
  }
  const std::string& nt = c.F("notifyType");
  if ((nt != "0" && nt != "1") || (type != "new" && type != "revoke")) {
    c.Refuse("-14", "認證碼通知方式錯誤");
    return;
  }
  if (c.F("birthday") != cust->birthday) {
    c.Refuse("-7", "出生年月日與留存資料不符");
    return;
  }
  const std::string& on_file = nt == "0" ? cust->email : cust->mobile;
  if (on_file.empty() || (!c.F("notifyAddr").empty() && c.F("notifyAddr") != on_file)) {
    c.Refuse("-8", nt == "0" ? "電子郵件信箱與留存資料不符" : "手機號碼與留存資料不符");
    return;
  }
  if (type == "revoke" && !FnStateOf(cust->idno, now).active) {
    c.Refuse("-9", "您目前沒有可註銷的憑證");
    return;
  }
  auto last = store_->LatestOnlineCode(cust->idno, type);
  if (last && now - last->created < kOnlineCodeIntervalS) {
    c.Refuse("-11", "認證碼申請過於頻繁，請稍後再試");
    return;
  }
  if (store_->OnlineCodesSince(cust->idno, now - 86400) >= kOnlineCodesPerDay) {
    c.Refuse("-12", "今日認證碼申請次數已達上限");
    return;
  }
  OnlineCode code;
  code.idno = cust->idno;
  code.apply_type = type;
  code.code = RandomDigits(6);
  code.pwid = RandomAlnum(24);
  code.state = "sent";
  code.created = now;
  code.expires = now + online_code_lifetime_s_;
  if (!store_->AddOnlineCode(code)) {
    c.Refuse("-12", "認證碼產生失敗，請稍後再試");
    return;
  }
  MailItem mail{cust->idno, nt, on_file, type, code.code, RandomDigits(4),
                LocalTime14(code.created), LocalTime14(code.expires)};
  store_->AddMail(mail);
  c.Ok(nt == "0" ? "認證碼已寄送至您的電子郵件信箱" : "認證碼已以簡訊傳送至您的手機");
  c.Add("onlinepw", mail.reference);
  c.Add("createtime", mail.created);
}

void Service::VerifyOnlinePw(Call& c) {
  std::string type = c.F("applyType").empty() ? "new" : c.F("applyType");
  std::string aid = Upper(c.F("aid"));
  auto cust = store_->CustomerByIdno(c.session()->idno);
  std::time_t now = std::time(nullptr);
  if (!cust || Upper(c.F("id")) != cust->idno || (aid != cust->aid_account && aid != cust->idno)) {
    c.Refuse("-4", "身分資料不符");
    return;
  }
  auto code = store_->LatestOnlineCode(cust->idno, type);
  if (!code || code->state != "sent") {
    c.Refuse("-4", "查無有效的認證碼，請重新申請");
    return;
  }
  if (now >= code->expires) {
    code->state = "dead";
    store_->UpdateOnlineCode(*code);
    c.Refuse("-2", "認證碼已逾時，請重新申請");
    return;
  }
  if (c.F("pw") != code->code) {
    code->attempts++;
    if (code->attempts >= kMaxCodeAttempts) {
      code->state = "dead";
      store_->UpdateOnlineCode(*code);
      c.Refuse("-3", "認證碼錯誤已達三次#請重新@認證碼");
    } else {
      store_->UpdateOnlineCode(*code);
      c.Refuse("-1", "認證碼錯誤#您還有 " + std::to_string(kMaxCodeAttempts - code->attempts) + " 次機會");
    }
    return;
  }
  code->state = "verified";
  code->expires = now + kPwidLifetimeS;  // from now on the pwid's lifetime
  store_->UpdateOnlineCode(*code);
  c.Ok("認證碼驗證成功");
  c.Add("pwid", code->pwid);
}

void Service::VerifyPwBag(Call& c) {
  auto cust = store_->CustomerByIdno(c.session()->idno);
  std::string aid = Upper(c.F("aid"));
  if (!cust || Upper(c.F("id")) != cust->idno || (aid != cust->aid_account && aid != cust->idno)) {
    c.Refuse("-4", "身分資料不符");
    return;
  }
  if (cust->sheet_failures >= kMaxSheetFailures) {
    c.Refuse("-3", "憑證認證碼錯誤已達三次，請改用線上認證碼");
    return;
  }
  if (!store_->HasSheetCode(cust->idno, Upper(c.F("pw")))) {
    int failures = cust->sheet_failures + 1;
    store_->SetSheetFailures(cust->idno, failures);
    if (failures >= kMaxSheetFailures) c.Refuse("-3", "憑證認證碼錯誤已達三次，請改用線上認證碼");
    else c.Refuse("-2", "憑證認證碼錯誤");
    return;
  }
  store_->SetSheetFailures(cust->idno, 0);
  c.session()->sheet_verified = true;
  c.Ok("憑證認證碼驗證成功");
}

void Service::DoLogout(Call& c) {
  sessions_.erase(c.session()->key);
  c.Ok("登出成功");
}

void Service::IAmAlive(Call& c) { c.Ok(); }

// ---- certificates ----

CertRecord Service::Record(const CertRow& r, std::time_t now) {
  CertRecord out;
  out.cert_id = r.id;
  out.idno = r.idno;
  out.cn = r.cn;
  out.state = EffectiveState(r, now);
  out.act_flg = r.activated ? "Y" : "N";
  out.serial = r.serial;
  out.not_before = LocalTime14(r.not_before);
  out.not_after = LocalTime14(r.not_after);
  out.subject = r.subject;
  out.issuer = r.issuer;
  out.cert_hash = r.hash;
  out.cert_path = r.cert_path;
  out.der_base64 = Base64Encode(r.der);
  out.mobile = r.kind == "mobile";
  return out;
}

Service::FnState Service::FnStateOf(const std::string& idno, std::time_t now) {
  FnState st;
  for (const auto& r : store_->CertsOf(idno)) {  // newest first
    if (!IsPc(r)) continue;
    st.count++;
    bool live = !Expired(r, now);
    if (r.state == kStateValid && live) {
      st.effective++;
      if (!st.active) st.active = r;
    }
    if (r.state == kStateIssued && live) {
      if (r.kind == "renew" && !st.pending_renew) st.pending_renew = r;
      if (r.kind == "apply" && !st.pending_apply) st.pending_apply = r;
    }
  }
  char apply = st.pending_apply ? '2' : (st.active || st.pending_renew) ? '0' : '1';
  bool in_window = st.active &&
                   st.active->not_after - now <= static_cast<std::time_t>(policy_.renew_window_days) * 86400;
  char renew = st.pending_renew ? '2' : (in_window && !st.pending_apply) ? '1' : '0';
  char revoke = st.active ? '1' : '0';
  char keep = st.active ? '1' : '0';
  char download = (st.pending_apply || st.pending_renew || st.active) ? '1' : '0';
  st.fn = {apply, renew, revoke, keep, download};
  return st;
}

bool Service::OwnCn(Call& c) {
  if (c.F("cn") == CnOf(c.session()->idno)) return true;
  c.Refuse("9002", "非本人資料");
  return false;
}

void Service::AnswerCert(Call& c, const CertRow& row) {
  std::time_t now = std::time(nullptr);
  c.Add("cert", ca_->AnswerText(row.der, policy_.pkcs7_bundle));
  c.Open("certInfo");
  c.AddRecord(Record(row, now));
  c.Close("certInfo");
}

std::optional<OnlineCode> Service::UsablePwid(const std::string& pwid, const std::string& idno,
                                              bool for_revoke, std::time_t now) {
  auto code = store_->OnlineCodeByPwid(pwid);
  if (!code || code->idno != idno || code->state != "verified" || now >= code->expires)
    return std::nullopt;
  // A revocation's code may start the application that follows it.
  if (for_revoke && code->apply_type != "revoke") return std::nullopt;
  return code;
}

void Service::GetFnStatus(Call& c) {
  if (!OwnCn(c)) return;
  FnState st = FnStateOf(c.session()->idno, std::time(nullptr));
  c.Ok();
  c.Add("fnStatus", st.fn);
  c.Add("certCount", std::to_string(st.count));
  c.Add("effectCertCount", std::to_string(st.effective));
}

void Service::QryCert(Call& c) {
  if (!OwnCn(c)) return;
  std::time_t now = std::time(nullptr);
  c.Ok();
  for (const auto& r : store_->CertsOf(c.session()->idno)) {
    if (!IsPc(r)) continue;
    c.AddRecord(Record(r, now));
    break;
  }
}

void Service::QryCert2(Call& c) {
  if (!OwnCn(c)) return;
  std::time_t now = std::time(nullptr);
  c.Ok();
  auto rows = store_->CertsOf(c.session()->idno);
  c.Open("pcCert");
  for (const auto& r : rows) {
    if (!IsPc(r)) continue;
    c.AddRecord(Record(r, now));
    break;
  }
  c.Close("pcCert");
  c.Open("mobileCert");
  for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
    if (IsPc(*it)) continue;
    c.Open("cert");
    c.AddRecord(Record(*it, now));
    c.Close("cert");
  }
  c.Close("mobileCert");
}

void Service::QryLastActiveCert(Call& c) {
  if (!OwnCn(c)) return;
  std::time_t now = std::time(nullptr);
  c.Ok();
  // The certificate installed last, whatever became of it since: removal
  // from the browsers still needs a revoked one's record.
  for (const auto& r : store_->CertsOf(c.session()->idno)) {
    if (!IsPc(r) || !r.activated) continue;
    c.AddRecord(Record(r, now));
    break;
  }
}

namespace {
// Checks csr for `cn`; refuses on c and returns nullopt when it fails.
template <typename CallT>
std::optional<CheckedRequest> CheckCsr(CallT& c, CertAuthority* ca, const std::string& cn) {
  if (c.F("csr").empty()) {
    c.Refuse("2002", "缺少憑證請求資訊");
    return std::nullopt;
  }
  std::string why;
  auto req = ca->CheckRequest(c.F("csr"), &why);
  if (!req) {
    c.Refuse("2003", "憑證請求資訊錯誤: " + why);
    return std::nullopt;
  }
  if (req->cn != cn) {
    c.Refuse("2004", "憑證請求之CN與客戶資料不符");
    return std::nullopt;
  }
  return req;
}
}  // namespace

void Service::ApplyCert(Call& c) {
  const std::string idno = c.session()->idno;
  std::time_t now = std::time(nullptr);
  if (Upper(c.F("userId")) != idno) {
    c.Refuse("9002", "非本人資料");
    return;
  }
  std::optional<OnlineCode> code;
  if (!c.F("pwid").empty()) {
    code = UsablePwid(c.F("pwid"), idno, false, now);
    if (!code) {
      c.Refuse("2005", "認證碼識別資訊無效，請重新取得認證碼");
      return;
    }
  }
  FnState st = FnStateOf(idno, now);
  if (st.fn[0] == '2') {
    c.Ok("憑證已核發");
    AnswerCert(c, *st.pending_apply);
    return;
  }
  if (st.fn[0] != '1') {
    c.Refuse("2001", "您已有有效憑證，無法申請新憑證");
    return;
  }
  if (policy_.require_auth_code && !code && !c.session()->sheet_verified) {
    c.Refuse("2006", "請先完成憑證認證碼驗證");
    return;
  }
  auto req = CheckCsr(c, ca_, CnOf(idno));
  if (!req) return;
  std::string why;
  auto issued = ca_->Issue(*req, {CnOf(idno), policy_.subject_ou, policy_.subject_o, policy_.subject_c},
                           {policy_.issuer_cn, policy_.issuer_o, policy_.issuer_c}, policy_.valid_days,
                           [&](const std::string& s) { return store_->SerialTaken(s); }, &why);
  if (!issued) {
    c.Refuse("2007", "憑證核發失敗: " + why);
    return;
  }
  CertRow row;
  row.idno = idno;
  row.cn = CnOf(idno);
  row.kind = "apply";
  row.state = kStateIssued;
  row.serial = issued->serial;
  row.subject = issued->subject;
  row.issuer = issued->issuer;
  row.hash = issued->hash;
  row.der = issued->der;
  row.not_before = issued->not_before;
  row.not_after = issued->not_after;
  row.id = store_->AddCert(row);
  if (row.id == 0) {
    c.Refuse("2007", "憑證核發失敗");
    return;
  }
  if (code) {
    code->state = "used";
    store_->UpdateOnlineCode(*code);
  }
  c.session()->sheet_verified = false;
  c.Ok("憑證核發成功");
  AnswerCert(c, row);
}

void Service::RenewCert(Call& c) {
  const std::string idno = c.session()->idno;
  std::time_t now = std::time(nullptr);
  FnState st = FnStateOf(idno, now);
  std::string serial = NormalSerial(c.F("hexSerial"));
  if (st.fn[1] == '2') {
    auto old = store_->CertById(st.pending_renew->replaces);
    if (!old || old->serial != serial) {
      c.Refuse("2103", "舊憑證序號不符");
      return;
    }
    c.Ok("憑證已核發");
    AnswerCert(c, *st.pending_renew);
    return;
  }
  if (st.fn[1] != '1') {
    c.Refuse("2101", "目前沒有可展期的憑證");
    return;
  }
  if (serial != st.active->serial) {
    c.Refuse("2103", "舊憑證序號不符");
    return;
  }
  auto req = CheckCsr(c, ca_, CnOf(idno));
  if (!req) return;
  std::string why;
  if (c.F("sign").empty()) {
    c.Refuse("2104", "缺少身分確認簽章");
    return;
  }
  if (!ca_->VerifySignedText(c.F("sign"), c.F("csr"), st.active->der, &why)) {
    c.Refuse("2105", "身分確認簽章驗證失敗: " + why);
    return;
  }
  auto issued = ca_->Issue(*req, {CnOf(idno), policy_.subject_ou, policy_.subject_o, policy_.subject_c},
                           {policy_.issuer_cn, policy_.issuer_o, policy_.issuer_c}, policy_.valid_days,
                           [&](const std::string& s) { return store_->SerialTaken(s); }, &why);
  if (!issued) {
    c.Refuse("2007", "憑證核發失敗: " + why);
    return;
  }
  CertRow row;
  row.idno = idno;
  row.cn = CnOf(idno);
  row.kind = "renew";
  row.replaces = st.active->id;
  row.state = kStateIssued;
  row.serial = issued->serial;
  row.subject = issued->subject;
  row.issuer = issued->issuer;
  row.hash = issued->hash;
  row.der = issued->der;
  row.not_before = issued->not_before;
  row.not_after = issued->not_after;
  row.id = store_->AddCert(row);
  if (row.id == 0) {
    c.Refuse("2007", "憑證核發失敗");
    return;
  }
  c.Ok("憑證展期成功");
  AnswerCert(c, row);
}

void Service::DlCert(Call& c) {
  if (!OwnCn(c)) return;
  FnState st = FnStateOf(c.session()->idno, std::time(nullptr));
  const std::optional<CertRow>& row =
      st.pending_renew ? st.pending_renew : st.pending_apply ? st.pending_apply : st.active;
  if (!row) {
    c.Refuse("2201", "目前沒有可下載的憑證");
    return;
  }
  c.Ok();
  AnswerCert(c, *row);
}

void Service::RevokeCert(Call& c) {
  if (!OwnCn(c)) return;
  const std::string idno = c.session()->idno;
  std::time_t now = std::time(nullptr);
  if (!c.F("pwid").empty() && !UsablePwid(c.F("pwid"), idno, true, now)) {
    c.Refuse("2302", "認證碼識別資訊無效，請重新取得認證碼");
    return;
  }
  if (policy_.require_auth_code && c.F("pwid").empty()) {
    c.Refuse("2006", "請先完成憑證認證碼驗證");
    return;
  }
  int revoked = 0;
  for (auto& r : store_->CertsOf(idno)) {
    if (!IsPc(r) || (r.state != kStateValid && r.state != kStateIssued) || Expired(r, now)) continue;
    r.state = kStateRevoked;
    if (store_->UpdateCert(r)) revoked++;
  }
  if (revoked == 0) c.Refuse("2301", "目前沒有可註銷的憑證");
  else c.Ok("憑證註銷成功");
}

void Service::ActiveCert(Call& c) {
  const std::string& text = c.F("certApplyId");
  long long id = std::atoll(text.c_str());
  auto row = id > 0 ? store_->CertById(id) : std::nullopt;
  if (!row || row->idno != c.session()->idno || !IsPc(*row)) {
    c.Refuse("2401", "查無此憑證申請資料");
    return;
  }
  if (row->state == kStateRevoked || row->state == kStateReplaced) {
    c.Refuse("2402", "憑證已失效，無法回報安裝");
    return;
  }
  if (row->state == kStateIssued && row->replaces) {
    auto old = store_->CertById(row->replaces);
    if (old && old->state == kStateValid) {
      old->state = kStateReplaced;
      store_->UpdateCert(*old);
    }
  }
  row->state = kStateValid;
  row->activated = true;
  row->cert_path = c.F("certPath");
  store_->UpdateCert(*row);
  c.Ok("憑證安裝狀態回報成功");
}

void Service::ChangePfxPwVerifyP7(Call& c) {
  std::optional<CertRow> last;
  for (const auto& r : store_->CertsOf(c.session()->idno))
    if (IsPc(r) && r.activated) {
      last = r;
      break;
    }
  if (!last || last->state == kStateRevoked) {
    c.Refuse("2501", "目前沒有有效的憑證");
    return;
  }
  std::string why;
  if (!ca_->VerifySignedText(c.F("sign"), "qmrd5170", last->der, &why)) {
    c.Refuse("2502", "驗章失敗: " + why);
    return;
  }
  c.Ok("驗章成功");
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
    CertRow row;
    row.idno = "B223456789";
    row.cn = cn;
    row.kind = "mobile";
    row.state = kStateValid;
    row.activated = true;
    row.serial = issued->serial;
    row.subject = issued->subject;
    row.issuer = issued->issuer;
    row.hash = issued->hash;
    row.der = issued->der;
    row.not_before = issued->not_before;
    row.not_after = issued->not_after;
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

std::vector<AuditRecord> Service::Audit() {
  std::lock_guard<std::mutex> lock(mu_);
  return store_->Audit();
}

std::vector<MailItem> Service::Mail() {
  std::lock_guard<std::mutex> lock(mu_);
  return store_->Mail();
}

std::vector<CustomerSeed> DemoCustomerSeeds() {
  auto make = [](const char* idno, const char* name, const char* branch, const char* account,
                 const char* pw, const char* bag, bool first,
                 std::vector<std::string> sheet) {
    CustomerSeed s;
    s.idno = idno;
    s.aid = std::string(branch) + account;
    s.name = name;
    s.branch = branch;
    s.account = account;
    s.password = pw;
    s.email = std::string("demo.") + idno + "@example.com";
    s.mobile = "0912345678";
    s.birthday = "19800101";
    s.apply_pw_bag = bag;
    s.first_login = first;
    s.sheet_codes = std::move(sheet);
    return s;
  };
  return {
      make("A123456789", "王小明", "9A00", "0000001", "demo1234", "A", false, {"AB12CD", "EF34GH"}),
      make("B223456789", "陳美玲", "9A01", "0000002", "demo1234", "B", false, {"JK56LM"}),
      make("C123456780", "林志強", "9B00", "0000003", "demo1234", "C", false, {"NP78QR"}),
      make("D223456781", "黃淑芬", "9C00", "0000004", "start123", "A", true, {"ST90UV"}),
      make("E123456782", "張建國", "9A00", "0000005", "demo1234", "C", false, {"WX12YZ"}),
  };
}

}  // namespace quil::devproxy
