// The public-key actions and the account actions of a session.
#include "base/client_version.h"
#include "devproxy/service_call.h"

#include <cstdlib>

#include "devproxy/crypto.h"

namespace quil::devproxy {

using namespace service_internal;

// ---- public-key actions ----

void Service::GetSysCfg(Call& c) {
  c.Ok();
  for (const auto& [k, v] : sys_cfg_) c.Add(k, v);
}

void Service::CheckVersion(Call& c) {
  const VersionPolicy v = version_;
  if (version_.times > 0 && --version_.times == 0) version_ = VersionPolicy();
  if (v.rtn_code == "0" && c.F("version") == kClientVersion) c.Ok(v.rtn_msg);
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
  if (cust->failed_logins != 0) store_->SetLoginFailures(cust->idno, 0);
  auto session = std::make_shared<Session>();
  do {
    session->key = RandomAlnum(32);
  } while (std::any_of(sessions_.begin(), sessions_.end(), [&](const auto& s) {
    return s.first.compare(0, 16, session->key, 0, 16) == 0;
  }));
  // Every request is matched against every live key, so their number
  // stays bounded: the longest-idle session makes room.
  while (sessions_.size() >= max_sessions_) {
    auto oldest = std::min_element(sessions_.begin(), sessions_.end(), [](const auto& a, const auto& b) {
      return a.second->last_seen < b.second->last_seen;
    });
    sessions_.erase(oldest);
  }
  session->probe = std::make_unique<AesPaddingProbe>(session->key);
  session->idno = cust->idno;
  session->client_ip = c.F("clientIP");
  session->last_seen = Now();
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
  r.time = LocalTime14(Now());
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
  std::time_t now = Now();
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
  std::time_t now = Now();
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

}  // namespace quil::devproxy
