// The renewal with the Windows store: the old certificate found in "MY"
// before anything else, the new key in a new key container, the new
// certificate and its chain in the current user's stores.
#include "base/settings.h"
#include "cert/cert_request.h"
#include "cert/cert_stores.h"
#include "cert/signing.h"
#include "proxy/actions.h"
#include "workflows/held_record.h"
#include "workflows/renewal_steps.h"
#include "workflows/store_backup.h"

namespace quil::workflows::renewal {
namespace {

int Run(WorkflowProgress& progress, const std::string& cn) {
  if (cn.empty()) return kRenewStoreNoCn;
  Opening opening = OpenRenewal(progress, cn, {0, kRenewStoreNotAllowed, kRenewStoreNoCurrentCert}, 7, 5);
  if (opening.code != 0) return opening.code;
  const std::string& issuer = FieldOf(opening.current, "issuer");
  const std::string& serial = FieldOf(opening.current, "serial");

  // Without the old certificate no key is made and nothing is sent.
  progress.Next(kStoreFindText);
  auto my = openUserStore("MY");
  FindCertResult old = findCertificate(my.get(), issuer, serial);
  if (old.code != 0) return old.code;

  std::string csr, sign;
  if (opening.second == '1') {
    progress.Next(kRequestText);
    RequestResult request = makeContainerAndRequest(cn, kKeyBits);
    if (request.code != 0) return request.code;
    csr = request.request;
    progress.Next(kStoreSignText);
    SignResult signature = signWithCurrentCertificate(csr, "", "", issuer, serial, /*interactive=*/true);
    if (signature.code != 0) return signature.code;
    sign = signature.signature;
  }

  progress.Next(kSendText);
  proxy::CertReply renewed = proxy::renewCert(csr, serial, sign);
  if (renewed.code != 0) return renewed.code;

  progress.Next(kStoreInstallText);
  int installed = InstallIssuedChainAndRemember(renewed.cert);
  if (installed != 0) return installed;

  progress.Next(kReportText);
  int reported = proxy::activeCert(renewed.certId, "");
  if (reported != 0) return reported;

  if (getSetting("env.write.secondaryCertStore") == "pfx") {
    progress.Next(kStoreBackupText);
    (void)BackupStoreCertificate(cn);  // a second place never fails the renewal
  }
  return kOk;
}

}  // namespace

int WindowsStore(const std::string& cn) {
  WorkflowProgress progress(kTitle, kDoneText, kFailedText);
  int code = Run(progress, cn);
  progress.Finish(code);
  return code;
}

}  // namespace quil::workflows::renewal
