#pragma once
// Shared by the files of the proxy actions: one call being answered, the
// derived function status, and small text helpers. Not for use outside
// devproxy/service*.cc.
#include <algorithm>
#include <ctime>
#include <optional>
#include <string>

#include "devproxy/markup.h"
#include "devproxy/service.h"

namespace quil::devproxy {
namespace service_internal {

inline constexpr int kMaxLoginFailures = 3;
inline constexpr int kMaxCodeAttempts = 3;
inline constexpr int kMaxSheetFailures = 3;
inline constexpr int kPwidLifetimeS = 1800;
inline constexpr int kOnlineCodeIntervalS = 30;
inline constexpr int kOnlineCodesPerDay = 10;

inline std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return s;
}

inline std::string NormalSerial(const std::string& s) {
  std::string u = Upper(s);
  size_t first = u.find_first_not_of('0');
  return first == std::string::npos ? std::string() : u.substr(first);
}

inline bool IsAlnum(const std::string& s) {
  return std::all_of(s.begin(), s.end(), [](unsigned char c) { return isalnum(c); });
}

inline bool ValidLoginPassword(const std::string& pw) {
  bool letter = false, digit = false;
  for (unsigned char c : pw) {
    if (isalpha(c)) letter = true;
    else if (isdigit(c)) digit = true;
    else return false;
  }
  return pw.size() >= 6 && pw.size() <= 10 && letter && digit;
}

inline bool Expired(const CertRow& r, std::time_t now) { return r.not_after <= now; }

inline bool IsPc(const CertRow& r) { return r.kind != "mobile"; }

// Validity text form shown to the customer.
inline std::string EffectiveState(const CertRow& r, std::time_t now) {
  if ((r.state == kStateValid || r.state == kStateIssued) && Expired(r, now)) return kStateExpired;
  return r.state;
}


}  // namespace service_internal


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
    body_ += "<" + name + ">" + EscapeMarkup(value) + "</" + name + ">";
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
    return "<?xml version=\"1.0\" encoding=\"Big5\"?>\n<result><rtnCode>" + EscapeMarkup(code_) +
           "</rtnCode><rtnMsg>" + EscapeMarkup(msg_) + "</rtnMsg>" + body_ + "</result>";
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

}  // namespace quil::devproxy
