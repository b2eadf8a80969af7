// The certificate actions and the function status they follow.
#include "base/base64.h"
#include "devproxy/service_call.h"

#include <cstdlib>

#include "devproxy/crypto.h"

namespace quil::devproxy {

using namespace service_internal;

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
  out.der_base64 = base64Encode(r.der);
  out.mobile = r.kind == "mobile";
  if (r.replaces != 0) {
    if (auto old = store_->CertById(r.replaces)) out.replaces_serial = old->serial;
  }
  out.renewal_proof = r.proof;
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

void Service::AnswerCert(Call& c, const CertRow& row, const ParsedCert* parsed) {
  std::time_t now = std::time(nullptr);
  c.Add("cert", ca_->AnswerText(row.der, policy_.pkcs7_bundle, parsed));
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

std::optional<Service::Recorded> Service::IssueAndRecord(Call& c, const CheckedRequest& req,
                                                        const std::string& idno, const std::string& kind,
                                                        long long replaces, const std::string& proof) {
  std::string why;
  auto issued = ca_->Issue(req, {CnOf(idno), policy_.subject_ou, policy_.subject_o, policy_.subject_c},
                           {policy_.issuer_cn, policy_.issuer_o, policy_.issuer_c}, policy_.valid_days,
                           [&](const std::string& s) { return store_->SerialTaken(s); }, &why);
  if (!issued) {
    c.Refuse("2007", "憑證核發失敗: " + why);
    return std::nullopt;
  }
  CertRow row = RowForIssued(*issued, idno, CnOf(idno), kind, kStateIssued);
  row.replaces = replaces;
  row.proof = proof;
  row.id = store_->AddCert(row);
  if (row.id == 0) {
    c.Refuse("2007", "憑證核發失敗");
    return std::nullopt;
  }
  return Recorded{std::move(row), issued->parsed};
}

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
  auto issued = IssueAndRecord(c, *req, idno, "apply", 0, "");
  if (!issued) return;
  if (code) {
    code->state = "used";
    store_->UpdateOnlineCode(*code);
  }
  c.session()->sheet_verified = false;
  c.Ok("憑證核發成功");
  AnswerCert(c, issued->row, issued->parsed.get());
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
  auto issued = IssueAndRecord(c, *req, idno, "renew", st.active->id, c.F("sign"));
  if (!issued) return;
  c.Ok("憑證展期成功");
  AnswerCert(c, issued->row, issued->parsed.get());
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

}  // namespace quil::devproxy
