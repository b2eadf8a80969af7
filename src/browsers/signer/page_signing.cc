#include "browsers/signer/page_signing.h"

#include <openssl/crypto.h>

#include "base/base64.h"
#include "base/files.h"
#include "base/result_codes.h"
#include "browsers/sign_refusals.h"
#include "browsers/signer/signer_messages.h"
#include "browsers/signer_settings.h"
#include "cert/cert_info.h"
#include "cert/cert_stores.h"
#include "cert/pfx_file.h"
#include "cert/signing.h"
#include "maintenance/expiry_reminder.h"
#include "platform/text_codec.h"

namespace quil::signer {
namespace {

bool Expired(const std::string& not_after, std::time_t now) {
  const std::time_t end = RecordTimeToTime(not_after);
  return end == -1 || end < now;
}

// Whether the certificate is still where the record says, before the
// customer is asked anything.
bool StillThere(const HeldCertificate& held) {
  if (held.where.store == "pfx") return IsReadableRegularFile(held.where.path);
  if (held.where.store == "ieCertStore") {
    auto my = openUserStore("MY");
    return findCertificate(my.get(), platform::ToNarrow(held.issuer), platform::ToNarrow(held.serial)).code == kOk;
  }
  return false;
}

// Overwrites a password's bytes before its memory goes.
void Forget(std::string* secret) {
  if (!secret->empty()) OPENSSL_cleanse(secret->data(), secret->size());
  secret->clear();
}

PageSignature Refused(const char* reason) { return {reason, {}, {}, {}}; }

PageSignature SignWithFile(const HeldCertificate& held, std::string* password, const std::string& text,
                           std::time_t now) {
  // The file was written with the password as QUIL holds text inside.
  std::string narrow = platform::ToNarrow(*password);
  PfxLoadResult opened =
      openPfxFile(held.where.path, narrow, platform::ToNarrow(held.issuer), platform::ToNarrow(held.serial));
  PageSignature r;
  if (opened.code == kPfxFileWrongPassword) {
    r.refusal = refusal::kWrongPassword;
  } else if (opened.code != kOk) {
    r.refusal = refusal::kCertificateUnavailable;
  } else {
    CertInfoResult info = certInfoFromPkcs12(opened.pkcs12, narrow);
    if (info.code != kOk) {
      r.refusal = refusal::kCertificateUnavailable;
    } else if (Expired(platform::ToWide(FieldOf(info.info, "notAfter")), now)) {
      r.refusal = refusal::kCertificateExpired;
    } else {
      Pkcs7Result message = signPkcs7WithPfx(opened.pkcs12, narrow, text);
      if (message.code == kOk) r.signature = base64Encode(message.der);
      else r.refusal = refusal::kSignFailed;
    }
  }
  Forget(&narrow);
  Forget(password);
  return r;
}

PageSignature SignWithStore(const HeldCertificate& held, const std::string& text) {
  SignResult signed_text = signPkcs7WithStore(text, platform::ToNarrow(held.issuer), platform::ToNarrow(held.serial));
  PageSignature r;
  if (signed_text.code == kOk) r.signature = signed_text.signature;
  else if (signed_text.code == kFindCertNoStore || signed_text.code == kFindCertNoMatch ||
           signed_text.code == kSignStoreNoKey)
    r.refusal = refusal::kCertificateUnavailable;
  else
    r.refusal = refusal::kSignFailed;
  return r;
}

}  // namespace

PageSignature SignForPage(const std::string& origin, const std::string& text, const std::string& request_id,
                          Confirmer& confirmer, std::time_t now, const std::function<bool()>& may_ask) {
  if (!IsSigningOriginAllowed(origin)) return Refused(refusal::kOriginNotAllowed);
  const std::string problem = SignTextProblem(text);
  if (!problem.empty()) return {problem, {}, {}, {}};
  auto held = SigningCertificate();
  if (!held) return Refused(refusal::kNoCertificate);
  if (!held->revoked.empty()) return Refused(refusal::kCertificateRevoked);
  if (Expired(held->notAfter, now)) return Refused(refusal::kCertificateExpired);
  if (!StillThere(*held)) return Refused(refusal::kCertificateUnavailable);
  if (may_ask && !may_ask()) return Refused(refusal::kRateLimited);

  ConfirmationRequest question;
  question.origin = origin;
  question.text = text;
  question.request_id = request_id;
  question.cn = held->cn;
  question.serial = held->serial;
  question.not_after = held->notAfter;
  question.store = held->where.store;
  Confirmation answer = confirmer.Ask(question);
  switch (answer.decision) {
    case Decision::kConfirmed: break;
    case Decision::kCancelled: return Refused(refusal::kCancelled);
    case Decision::kTimedOut: return Refused(refusal::kTimedOut);
    case Decision::kBusy: return Refused(refusal::kBusy);
    case Decision::kUnavailable: return Refused(refusal::kQuilUnavailable);
  }
  PageSignature r = held->where.store == "pfx" ? SignWithFile(*held, &answer.password, text, now)
                                               : SignWithStore(*held, text);
  Forget(&answer.password);
  confirmer.Report(r.refusal.empty() ? "signed" : r.refusal);
  if (r.refusal.empty()) {
    r.cn = held->cn;
    r.serial = held->serial;
  }
  return r;
}

}  // namespace quil::signer
