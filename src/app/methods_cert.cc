// Methods of the certificate's life: application, renewal, download,
// revocation, backup, import, file password change, and the queries.
#include "app/methods.h"
#include "app/reply_format.h"
#include "base/result_codes.h"
#include "cert/pfx_file.h"
#include "cert/pfx_import.h"
#include "maintenance/reminder_offer.h"
#include "platform/text_codec.h"
#include "proxy/actions.h"
#include "workflows/application.h"
#include "workflows/cert_queries.h"
#include "workflows/download.h"
#include "workflows/held_record.h"
#include "workflows/pfx_password_change.h"
#include "workflows/renewal.h"
#include "workflows/store_backup.h"

namespace quil::methods {
namespace {

using platform::ToWide;

MethodReply Text(std::string text) { return MethodReply{std::move(text), 0}; }

// A certificate has just been saved (applied for, renewed or downloaded):
// the moment to offer the reminder.
int OfferingReminderAfter(int code) {
  if (code == 0) OfferExpiryReminder();
  return code;
}

// A workflow's code with its message; with the handed-back certificate.
MethodReply PlainOf(const workflows::WorkflowResult& r) {
  return Text(FormatReply(kReplyPlain, r.code, r.message.c_str()));
}
MethodReply HandBackOf(const workflows::WorkflowResult& r) {
  return Text(FormatReply(kReplyNewCert, r.code, r.message.c_str(), ToWide(r.b64Cert).c_str(), r.applyId));
}

// The same for workflows that store a certificate. A handed-back
// certificate is not stored yet (savePfx2 saves it), so it waits.
MethodReply SavedPlainOf(const workflows::WorkflowResult& r) {
  (void)OfferingReminderAfter(r.code);
  return PlainOf(r);
}
MethodReply SavedHandBackOf(const workflows::WorkflowResult& r) {
  if (r.b64Cert.empty()) (void)OfferingReminderAfter(r.code);
  return HandBackOf(r);
}

// A record or field map after errMsg, only on success; `message` decides
// whether errMsg carries the code's text.
MethodReply MapReply(int code, const FieldMap& fields, bool with_message) {
  std::string appended = code == 0 ? ToWide(AppendMap(fields)) : std::string();
  std::string message = with_message ? MakeErrorText(code) : std::string();
  return Text(FormatReply(kReplyMap, code, message.c_str(), appended.c_str()));
}

}  // namespace

MethodReply getFnStatus(const MethodArgs& a) {
  proxy::FnStatus s = proxy::getFnStatus(a[0]);
  // The counts mean nothing after a failure; they are sent as 0.
  int certCount = s.code == 0 ? s.certCount : 0;
  int effectCertCount = s.code == 0 ? s.effectCertCount : 0;
  return Text(FormatReply(kReplyFnStatus, s.code, MakeErrorText(s.code).c_str(), ToWide(s.fnStatus).c_str(),
                          certCount, effectCertCount));
}

MethodReply crtNewCert(const MethodArgs& a) { return SavedPlainOf(workflows::ApplyForCertificate(a[0])); }

MethodReply crtNewCert2(const MethodArgs& a) { return SavedHandBackOf(workflows::ApplyAndHandBack(a[0], a[1])); }

MethodReply savePfx2(const MethodArgs& a) {
  return Text(PlainReply(OfferingReminderAfter(workflows::SaveIssuedCertificate(a[0], a[1], ToWide(a[2]), a[3]))));
}

MethodReply replaceCert(const MethodArgs& a) { return SavedPlainOf(workflows::RenewWithAgreement(a[0])); }

MethodReply replaceCert2(const MethodArgs& a) {
  return SavedHandBackOf(workflows::RenewAndHandBack(a[0], ToWide(a[1]), a[2]));
}

MethodReply dlCert(const MethodArgs& a) { return SavedPlainOf(workflows::DownloadCertificate(a[0])); }

// The proxy's answer is the whole of a revocation, its verdict in rvkCode
// and rvkMsg; on this computer only the held-certificate record learns of
// an accepted one, so the certificate no longer signs web orders.
MethodReply RevocationReply(const std::string& cn, const proxy::MapResult& r) {
  if (r.code == 0) workflows::RememberRevocation(cn, FieldOf(r.fields, "rvkCode"));
  return MapReply(r.code, r.fields, true);
}

MethodReply crtRevokeCert(const MethodArgs& a) { return RevocationReply(a[0], proxy::revokeCert(a[0])); }

MethodReply crtRevokeCert2(const MethodArgs& a) { return RevocationReply(a[0], proxy::revokeCert(a[0], a[1])); }

MethodReply impUserCert(const MethodArgs&) { return Text(PlainReply(importPfxIntoStores("", ""))); }

MethodReply bakUserCert(const MethodArgs& a) { return Text(PlainReply(workflows::BackupUserCertificate(a[0]))); }

MethodReply changePfxPwd(const MethodArgs&) { return Text(PlainReply(workflows::ChangePfxPasswordWithDialog())); }

MethodReply changePfxPwd2(const MethodArgs& a) {
  return Text(PlainReply(workflows::ChangePfxPasswordVerified(a[0], ToWide(a[1]), a[2], a[3])));
}

MethodReply qrySvrCertInfo(const MethodArgs& a) {
  proxy::MapResult r = workflows::ServerCertInfo(a[0]);
  return MapReply(r.code, r.fields, true);
}

MethodReply qrySvrCertInfo2(const MethodArgs& a) {
  proxy::Cert2Result r = workflows::ServerCertInfo2(a[0]);
  std::string fields, list;
  if (r.code == 0) {
    fields = ToWide(AppendMap(r.pcCert, /*double_backslashes=*/true));
    list = ToWide(AppendMoCerts(r.mobileCerts));
  }
  return Text(FormatReply(kReplyMapAndList, r.code, MakeErrorText(r.code).c_str(), fields.c_str(), list.c_str()));
}

MethodReply qryClntCertInfo(const MethodArgs& a) {
  CertInfoResult r = workflows::ClientCertInfo(a[0]);
  return MapReply(r.code, r.info, false);
}

MethodReply qryPfxCertInfo(const MethodArgs& a) {
  CertInfoResult r = workflows::PfxCertInfo(a[0], ToWide(a[1]), a[2]);
  return MapReply(r.code, r.info, false);
}

}  // namespace quil::methods
