// The certificate and configuration actions; the session and account ones
// are in session_actions.cc.
#include "proxy/actions.h"

#include "base/result_codes.h"
#include "base/settings.h"
#include "proxy/action_call_internal.h"
#include "proxy/envelope.h"

namespace quil::proxy {
namespace internal {

Exchange CallAction(Envelope envelope, const char* action, const FieldMap& fields, FailureCodes codes) {
  auto pick = [](int code, int transport) {
    if (code == kPassThrough) return transport;
    return code == kNoCode ? 1 : code;
  };
  Exchange out;
  const std::string url = proxyUrl(action);
  SealedReply sealed = envelope == Envelope::kRsa ? postRsa(url, fields) : postAes(sessionKey(), url, fields);
  if (sealed.result != 0) {
    out.code = pick(codes.call, sealed.result);
    return out;
  }
  ReplyDocument doc = ParseReply(sealed.text);
  if (!doc.well_formed) {
    out.code = pick(codes.parse, 1);
    return out;
  }
  if (!doc.has_root) {
    out.code = pick(codes.no_root, 1);
    return out;
  }
  if (codes.refused != kAnyReply && !IsAccepted(doc.root)) {
    out.code = pick(codes.refused, 1);
    return out;
  }
  out.code = kOk;
  out.root = std::move(doc.root);
  return out;
}

}  // namespace internal

namespace {

using internal::CallAction;
using internal::Envelope;
using internal::kNoCode;
using internal::kPassThrough;

constexpr internal::FailureCodes kSilent = {kNoCode, kNoCode, kNoCode};
constexpr internal::FailureCodes kSilentAccepted = {kNoCode, kNoCode, kNoCode, kNoCode};

// The certInfo block with its certId, read only when the block has one.
void ReadCertInfo(const XmlElement& root, CertReply* out) {
  out->cert = fieldText(root, "cert");
  const XmlElement* info = ChildElement(root, "certInfo");
  if (info && ChildElement(*info, "certId")) {
    out->certInfo = collectFields(*info, false);
    out->certId = ReadNumber(fieldText(*info, "certId"));
  }
}

enum class Missing { kId, kCert };
struct CertCheck {
  Missing what;
  int code;
};

// The session actions that hand back a certificate: the exchange with its
// failure codes, then the two checks of the certInfo in the action's order.
CertReply CertAction(const char* action, const FieldMap& fields, internal::FailureCodes failures, CertCheck first,
                     CertCheck second) {
  CertReply r;
  auto x = CallAction(Envelope::kAes, action, fields, failures);
  if (x.code != 0) {
    r.code = x.code;
    return r;
  }
  ReadCertInfo(x.root, &r);
  r.code = kOk;
  for (const CertCheck& check : {first, second}) {
    bool missing = check.what == Missing::kId ? r.certId == 0 : r.cert.empty();
    if (missing) {
      r.code = check.code;
      break;
    }
  }
  return r;
}

MapResult PlainQuery(const char* action, const std::string& cn) {
  MapResult r;
  auto x = CallAction(Envelope::kAes, action, {{"cn", cn}}, kSilent);
  if (x.code != 0) {
    r.code = x.code;
    return r;
  }
  r.code = kOk;
  r.fields = collectFields(x.root, true);
  return r;
}

}  // namespace

MapResult getSysCfg() {
  MapResult r;
  auto x = CallAction(Envelope::kRsa, "getSysCfg", {{"version", kClientVersion}}, kSilentAccepted);
  if (x.code != 0) {
    r.code = kFailed;
    return r;
  }
  r.code = kOk;
  r.fields = collectFields(x.root, true);
  return r;
}

std::string getCn(const std::string& userId) {
  std::string known = getSetting("cn");
  if (!known.empty()) return known;
  auto x = CallAction(Envelope::kAes, "getCn", {{"userId", userId}}, kSilent);
  if (x.code != 0) return {};
  std::string cn = fieldText(x.root, "cn");
  if (!cn.empty()) setSetting("cn", cn);
  return cn;
}

VersionInfo checkVersion() {
  VersionInfo v;
  auto x = CallAction(Envelope::kRsa, "checkVersion", {{"version", kClientVersion}},
                      {kVersionCallFailed, kVersionReplyUnreadable, kVersionNoRoot});
  if (x.code != 0) {
    v.code = x.code;
    return v;
  }
  const XmlElement& root = x.root;
  v.notice = fieldText(root, "notice");
  v.available = fieldText(root, "available");
  v.generalReportText = fieldText(root, "generalReportText");
  v.isShowReportText = fieldText(root, "isShowReportText");
  v.generalReportLink = fieldText(root, "generalReportLink");
  v.isShowReportLink = fieldText(root, "isShowReportLink");
  v.width = fieldText(root, "width");
  v.height = fieldText(root, "height");
  v.code = IsAccepted(root) ? kOk : kVersionMismatch;
  return v;
}

FieldMap QryCertPlain(const std::string& cn) { return PlainQuery("qryCert", cn).fields; }

MapResult qryCert(const std::string& cn) {
  MapResult r;
  if (cn.empty()) {
    r.code = kQryCertNoCn;
    return r;
  }
  auto x = CallAction(Envelope::kAes, "qryCert", {{"cn", cn}},
                      {kPassThrough, kQryCertReplyUnreadable, kQryCertRefused, kQryCertRefused});
  if (x.code != 0) {
    r.code = x.code;
    return r;
  }
  r.code = kOk;
  r.fields = collectFields(x.root, true);
  return r;
}

Cert2Result qryCert2(const std::string& cn) {
  Cert2Result r;
  if (cn.empty()) {
    r.code = kQryCertNoCn;
    return r;
  }
  auto x = CallAction(Envelope::kAes, "qryCert2", {{"cn", cn}},
                      {kPassThrough, kQryCertReplyUnreadable, kQryCertRefused, kQryCertRefused});
  if (x.code != 0) {
    r.code = x.code;
    return r;
  }
  r.code = kOk;
  r.pcCert = ReadBlock(x.root, "pcCert");
  if (const XmlElement* mobile = ChildElement(x.root, "mobileCert")) r.mobileCerts = ReadList(*mobile, "cert");
  return r;
}

FieldMap qryLastActiveCert(const std::string& cn) {
  auto x = CallAction(Envelope::kAes, "qryLastActiveCert", {{"cn", cn}}, kSilent);
  // A refusal is a failure too: whatever fields it carries (the cn it was
  // asked for) describe no current certificate.
  if (x.code != 0 || !IsAccepted(x.root)) return {};
  return collectFields(x.root, true);
}

FnStatus getFnStatus(const std::string& cn) {
  FnStatus s;
  if (cn.empty()) {
    s.code = kFnStatusNoCn;
    return s;
  }
  auto x =
      CallAction(Envelope::kAes, "getFnStatus", {{"cn", cn}},
                 {kFnStatusCallFailed, kFnStatusReplyUnreadable, kFnStatusReplyUnreadable, kFnStatusReplyUnreadable});
  if (x.code != 0) {
    s.code = x.code;
    return s;
  }
  s.code = kOk;
  s.fnStatus = fieldText(x.root, "fnStatus");
  s.certCount = ReadNumber(fieldText(x.root, "certCount"));
  s.effectCertCount = ReadNumber(fieldText(x.root, "effectCertCount"));
  return s;
}

CertReply applyCert(const std::string& csr, const std::string& userId, const std::string& pwid) {
  FieldMap fields = {{"csr", csr}, {"userId", userId}};
  if (!pwid.empty()) fields["pwid"] = pwid;
  return CertAction("applyCert", fields,
                    {kApplyCertCallFailed, kCertReplyUnreadable, kCertReplyUnreadable, kApplyCertRefused},
                    {Missing::kId, kApplyCertNoId}, {Missing::kCert, kApplyCertNoCert});
}

CertReply renewCert(const std::string& csr, const std::string& hexSerial, const std::string& sign) {
  return CertAction("renewCert", {{"csr", csr}, {"hexSerial", hexSerial}, {"sign", sign}},
                    {kPassThrough, kRenewCertSendFailed, kRenewCertSendFailed, kRenewCertRefused},
                    {Missing::kCert, kRenewCertNoCert}, {Missing::kId, kRenewCertNoId});
}

CertReply dlCert(const std::string& cn) {
  return CertAction("dlCert", {{"cn", cn}},
                    {kDlCertCallFailed, kCertReplyUnreadable, kCertReplyUnreadable, kDlCertRefused},
                    {Missing::kId, kDlCertNoId}, {Missing::kCert, kDlCertNoCert});
}

namespace {

MapResult Revoke(const FieldMap& fields) {
  MapResult r;
  auto x = CallAction(Envelope::kAes, "revokeCert", fields,
                      {kRevokeCallFailed, kRevokeReplyUnreadable, kRevokeReplyUnreadable});
  if (x.code != 0) {
    r.code = x.code;
    return r;
  }
  r.code = kOk;
  if (ChildElement(x.root, "rtnCode")) r.fields["rvkCode"] = fieldText(x.root, "rtnCode");
  if (ChildElement(x.root, "rtnMsg")) r.fields["rvkMsg"] = fieldText(x.root, "rtnMsg");
  return r;
}

}  // namespace

MapResult revokeCert(const std::string& cn) { return Revoke({{"cn", cn}}); }
MapResult revokeCert(const std::string& cn, const std::string& pwid) {
  return Revoke({{"cn", cn}, {"pwid", pwid}});
}

int activeCert(int certApplyId, const std::string& certPath) {
  const std::string url = proxyUrl("activeCert");
  SealedReply sealed =
      postAes(sessionKey(), url, {{"certApplyId", std::to_string(certApplyId)}, {"certPath", certPath}});
  return sealed.result == 0 ? 0 : kActiveCertFailed;
}

int changePfxPwVerifyP7(const std::string& sign) {
  if (sign.empty()) return kVerifyP7NoSign;
  auto x = CallAction(Envelope::kAes, "changePfxPwVerifyP7", {{"sign", sign}},
                      {kPassThrough, kVerifyP7ReplyUnreadable, kVerifyP7ReplyUnreadable, kVerifyP7Refused});
  return x.code;
}

RegSetResult getRegSet() {
  RegSetResult r;
  auto x = CallAction(Envelope::kRsa, "getRegSet", {{"version", ""}},
                      {kRegSetReplyUnreadable, kRegSetReplyUnreadable, kRegSetRefused, kRegSetRefused});
  if (x.code != 0) {
    r.code = x.code;
    return r;
  }
  r.code = kOk;
  for (const auto& item : x.root.children) {
    if (item.name.empty() || item.name == "rtnCode" || item.name == "rtnMsg") continue;
    r.items.push_back({fieldText(item, "regPath"), fieldText(item, "regName"), fieldText(item, "regValue"),
                       fieldText(item, "regValueType"), fieldText(item, "regDesc"), fieldText(item, "regId")});
  }
  return r;
}

}  // namespace quil::proxy
