// The session and account actions: login, logout, keep-alive, passwords,
// online codes, branches and audit records.
#include "base/pause.h"
#include "base/result_codes.h"
#include "base/settings.h"
#include "platform/text_codec.h"
#include "proxy/action_call_internal.h"
#include "proxy/actions.h"
#include "proxy/client_address.h"
#include "proxy/envelope.h"
#include "ui/progress_window.h"

namespace quil::proxy {
namespace {

using internal::CallAction;
using internal::Envelope;
using internal::kNoCode;
using internal::kPassThrough;

void LoginPause() { Pause(Milliseconds(500)); }

void Report(int step, const char* text) {
  ui::reportProgress(step == 0 ? platform::ToNarrow("登入") : std::string(), "", step, 100,
                     platform::ToNarrow(text));
}

// Sends the login and reads its reply; the progress reports in between.
LoginResult LoginExchange(const std::string& aid, const std::string& pw, const std::string& address) {
  LoginResult r;
  SealedReply sealed = postRsa(proxyUrl("doLogin"), {{"aid", aid}, {"clientIP", address}, {"pw", pw}});
  Report(50, "正在接收伺服器端回應 ...");
  LoginPause();
  if (sealed.result != 0) {
    r.code = sealed.result;
    return r;
  }
  ReplyDocument doc = ParseReply(sealed.text);
  if (!doc.well_formed) {
    r.code = kLoginReplyUnreadable;
    return r;
  }
  Report(90, "正在解析登入結果資訊 ...");
  LoginPause();
  if (!doc.has_root) {
    r.code = kLoginReplyUnreadable;
    return r;
  }
  const XmlElement& root = doc.root;
  if (ChildElement(root, "rtnCode")) r.result["rtnCode"] = fieldText(root, "rtnCode");
  if (ChildElement(root, "rtnMsg")) r.result["rtnMsg"] = fieldText(root, "rtnMsg");
  r.extraMsg = fieldText(root, "extraMsg");
  if (!IsAccepted(root)) {
    r.code = kLoginRefused;
    return r;
  }
  r.code = kOk;
  for (auto& [name, value] : collectFields(root, true)) r.result[name] = value;
  SetSessionKey(FieldOf(r.result, "aeskey"));
  (void)getSetting("version");  // loads the settings when they are not yet loaded
  setSetting("userIdno", FieldOf(r.result, "id"));
  return r;
}

}  // namespace

LoginResult doLogin(const std::string& aid, const std::string& pw) {
  const std::string address = findClientAddress();
  Report(0, "登入作業進行中, 請稍候 ...");
  LoginResult r;
  if (aid.empty()) {
    r.code = kAccountEmpty;
  } else if (pw.empty()) {
    r.code = kPasswordEmpty;
  } else {
    r = LoginExchange(aid, pw, address);
  }
  ui::reportProgress("", "", -1, 0, platform::ToNarrow(r.code == 0 ? "登入作業已完成" : "登入失敗"));
  return r;
}

int doLogout() {
  auto x = CallAction(Envelope::kAes, "doLogout", {{"version", kClientVersion}},
                      {kPassThrough, kLogoutReplyUnreadable, kLogoutFailed, kLogoutFailed});
  if (x.code != 0) return x.code;
  SetSessionKey("");
  return 0;
}

void iAmAlive() {
  (void)postAes(sessionKey(), proxyUrl("iAmAlive"), {{"trash", ""}, {"version", kClientVersion}});
}

ChangePwResult changePw(const std::string& aid, const std::string& oldPw, const std::string& newPw) {
  ChangePwResult r;
  if (aid.empty()) {
    r.code = kAccountEmpty;
    return r;
  }
  if (oldPw.empty() || newPw.empty()) {
    r.code = kPasswordEmpty;
    return r;
  }
  auto x = CallAction(Envelope::kAes, "changePw", {{"aid", aid}, {"newPw", newPw}, {"oldPw", oldPw}},
                      {kPassThrough, kAccountReplyUnreadable, kAccountReplyUnreadable});
  if (x.code != 0) {
    r.code = x.code;
    return r;
  }
  r.extraMsg = fieldText(x.root, "extraMsg");
  r.code = IsAccepted(x.root) ? kOk : kChangePwRefused;
  return r;
}

VerifyOnlinePwResult verifyOnlinePw(const std::string& id, const std::string& aid, const std::string& pw,
                                    const std::string& applyType) {
  VerifyOnlinePwResult r;
  if (id.empty() || aid.empty() || pw.empty()) {
    r.code = kVerifyOnlinePwMissing;
    return r;
  }
  auto x =
      CallAction(Envelope::kAes, "verifyOnlinePw", {{"aid", aid}, {"applyType", applyType}, {"id", id}, {"pw", pw}},
                 {kPassThrough, kApplyCertRefused, kApplyCertRefused});
  if (x.code != 0) {
    r.code = x.code;
    return r;
  }
  r.code = kOk;
  r.rtnCode = fieldText(x.root, "rtnCode");
  r.rtnMsg = fieldText(x.root, "rtnMsg");
  if (r.rtnCode == "0") r.pwid = fieldText(x.root, "pwid");
  return r;
}

ProxyAnswer verifyPwBag(const std::string& id, const std::string& aid, const std::string& pw) {
  ProxyAnswer r;
  if (id.empty() || aid.empty() || pw.empty()) {
    r.code = kVerifyPwBagMissing;
    return r;
  }
  auto x = CallAction(Envelope::kAes, "verifyPwBag", {{"aid", aid}, {"id", id}, {"pw", pw}},
                      {kPassThrough, kVerifyPwBagReplyUnreadable, kVerifyPwBagReplyUnreadable});
  if (x.code != 0) {
    r.code = x.code;
    return r;
  }
  r.rtnCode = fieldText(x.root, "rtnCode");
  r.rtnMsg = fieldText(x.root, "rtnMsg");
  r.code = r.rtnCode == "0" ? kOk : kVerifyPwBagRefused;
  return r;
}

OnlinePwResult getOnlinePw(const std::string& id, const std::string& aid, const std::string& notifyType,
                           const std::string& notifyAddr, const std::string& birthday,
                           const std::string& applyType) {
  OnlinePwResult r;
  if (id.empty() || aid.empty()) {
    r.code = kAccountEmpty;
    return r;
  }
  if (notifyType.empty()) {
    r.code = kOnlinePwNoNotifyType;
    return r;
  }
  if (birthday.empty()) {
    r.code = kOnlinePwNoBirthday;
    return r;
  }
  auto x = CallAction(Envelope::kAes, "getOnlinePw",
                      {{"aid", aid},
                       {"applyType", applyType},
                       {"birthday", birthday},
                       {"id", id},
                       {"notifyAddr", notifyAddr},
                       {"notifyType", notifyType}},
                      {kPassThrough, kAccountReplyUnreadable, kAccountReplyUnreadable});
  if (x.code != 0) {
    r.code = x.code;
    return r;
  }
  r.rtnCode = fieldText(x.root, "rtnCode");
  r.rtnMsg = fieldText(x.root, "rtnMsg");
  r.code = kOk;
  r.onlinepw = fieldText(x.root, "onlinepw");
  r.createtime = fieldText(x.root, "createtime");
  return r;
}

namespace {

MapResult BranchQuery(const char* action, const FieldMap& fields) {
  MapResult r;
  auto x = CallAction(Envelope::kRsa, action, fields,
                      {kPassThrough, kBranchReplyUnreadable, kBranchReplyUnreadable, kBranchRefused});
  if (x.code != 0) {
    r.code = x.code;
    return r;
  }
  r.code = kOk;
  r.fields = collectFields(x.root, true);
  return r;
}

}  // namespace

MapResult qryBranch(const std::string& id) {
  if (id.empty()) return MapResult{kBranchNoId, {}};
  return BranchQuery("qryBranch", {{"id", id}});
}

MapResult qryBranchAll() { return BranchQuery("qryBranchAll", {}); }

void writeLog(const std::string& id, const std::string& aid, const std::string& funcid,
              const std::string& memo) {
  (void)postAes(sessionKey(), proxyUrl("writeLog"), {{"aid", aid}, {"funcid", funcid}, {"id", id}, {"memo", memo}});
}

void writeLog2(const std::string& id, const std::string& aid, const std::string& funcid,
               const std::string& memo) {
  (void)postRsa(proxyUrl("writeLog2"), {{"aid", aid}, {"funcid", funcid}, {"id", id}, {"memo", memo}});
}

}  // namespace quil::proxy
