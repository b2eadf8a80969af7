// The renewal with the file store: the new private key as a PKCS#8 file in
// the key folder, the identity proof signed with the key of the customer's
// PKCS#12 file, the new certificate in a PKCS#12 file of its own.
#include "base/settings.h"
#include "cert/cert_request.h"
#include "cert/pfx_import.h"
#include "cert/pfx_with_dialogs.h"
#include "cert/signing.h"
#include "platform/text_codec.h"
#include "proxy/actions.h"
#include "workflows/held_record.h"
#include "workflows/renewal_steps.h"
#include "workflows/store_backup.h"

namespace quil::workflows::renewal {
namespace {

int FileStoreTotal(char second) { return second == '1' ? 6 : 5; }

enum class ProofStep { kNone, kRequest, kSignature };

// The new request and the old key's signature over it; both empty when
// the status continues a renewal that was issued already.
struct [[nodiscard]] Proof {
  int code = kFailed;
  ProofStep failed = ProofStep::kNone;
  std::string csr;
  std::string sign;
};

// The request is reported after it is made, then the signature step.
// `path` and `password` name the customer's file; with `interactive` the
// load dialog asks for them.
Proof RequestAndSign(WorkflowProgress& progress, const std::string& cn, const Opening& opening,
                     const std::string& path, const std::string& password, bool interactive) {
  if (opening.second != '1') return {kOk, ProofStep::kNone, "", ""};
  RequestResult request =
      makeKeyFileAndRequest(cn, kKeyBits, GetPathSetting("env.userPrivateKeyFolder"));
  if (request.code != 0) return {request.code, ProofStep::kRequest, "", ""};
  progress.Next(kRequestText);
  progress.Next(kFileSignText);
  SignResult signature = signWithCurrentCertificate(request.request, path, password, FieldOf(opening.current, "issuer"),
                                                    FieldOf(opening.current, "serial"), interactive);
  if (signature.code != 0) return {signature.code, ProofStep::kSignature, "", ""};
  return {kOk, ProofStep::kNone, request.request, signature.signature};
}

int RunWithDialogs(WorkflowProgress& progress, const std::string& cn) {
  if (cn.empty()) return kRenewNoCn;
  Opening opening = OpenRenewal(progress, cn, {0, kRenewNotAllowed, kNoCurrentCertInfo},
                                FileStoreTotal('1'), FileStoreTotal('2'));
  if (opening.code != 0) return opening.code;
  Proof proof = RequestAndSign(progress, cn, opening, "", "", /*interactive=*/true);
  if (proof.code != 0) return proof.code;

  progress.Next(kSendText);
  proxy::CertReply renewed = proxy::renewCert(proof.csr, FieldOf(opening.current, "serial"), proof.sign);
  if (renewed.code != 0) return renewed.code;

  progress.Next(kFileSaveText);
  std::string path, password;  // the file written; none after the store installation
  if (getSetting("env.read.primaryCertStore") == "ieCertStore") {
    int installed = installViaTempPfx(renewed.cert);
    if (installed != 0) return installed;
    RememberStoredCertificate(renewed.cert, InMyStore());
  } else {
    PfxChoiceResult saved = SavePfxWithDialogAndRemember(renewed.cert);
    if (saved.code != 0) return saved.code;
    path = saved.path;
    password = saved.password;
  }

  progress.Next(kReportText);
  int reported = proxy::activeCert(renewed.certId, platform::ToNarrow(path));
  if (reported != 0) return reported;

  // Second places never fail the renewal.
  const std::string secondary = getSetting("env.write.secondaryCertStore");
  if (secondary == "ieCertStore") {
    progress.Next(kFileImportText);
    // The certificate is in the store already when no file was written.
    if (!path.empty()) (void)importPfxIntoStores(path, password);
  } else if (secondary == "pfx") {
    (void)BackupStoreCertificate(cn);
  }
  return kOk;
}

WorkflowResult RunHandBack(WorkflowProgress& progress, const std::string& cn, const std::string& path,
                           const std::string& password) {
  if (cn.empty()) return EndedWith(kRenewNoCn);
  Opening opening = OpenRenewal(progress, cn, {kRenewFileStatusFailed, kRenewFileNotAllowed, kRenewFileNoCurrentCert},
                                FileStoreTotal('1'), FileStoreTotal('2'));
  if (opening.code != 0) return EndedWith(opening.code);
  Proof proof = RequestAndSign(progress, cn, opening, path, password, /*interactive=*/false);
  // The signature's own code tells the customer what is wrong with the file.
  if (proof.failed == ProofStep::kRequest) return EndedWith(kRenewFileRequestFailed);
  if (proof.failed == ProofStep::kSignature) return EndedWith(proof.code);

  progress.Next(kSendText);
  proxy::CertReply renewed = proxy::renewCert(proof.csr, FieldOf(opening.current, "serial"), proof.sign);
  if (renewed.code != 0) return EndedWith(kRenewFileSendFailed);
  WorkflowResult out = EndedWith(kOk);
  out.b64Cert = renewed.cert;
  out.applyId = renewed.certId;
  return out;
}

}  // namespace

int FileStoreWithDialogs(const std::string& cn) {
  WorkflowProgress progress(kTitle, kDoneText, kFailedText);
  int code = RunWithDialogs(progress, cn);
  progress.Finish(code);
  return code;
}

WorkflowResult FileStoreHandBack(const std::string& cn, const std::string& path, const std::string& password) {
  WorkflowProgress progress(kTitle, kDoneText, kFailedText);
  WorkflowResult result = RunHandBack(progress, cn, path, password);
  progress.Finish(result.code);
  return result;
}

}  // namespace quil::workflows::renewal
