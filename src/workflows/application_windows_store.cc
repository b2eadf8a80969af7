// The application with the Windows store: the key in a new key container,
// the issued certificate and its chain in the current user's stores.
#include "base/result_codes.h"
#include "base/settings.h"
#include "cert/cert_request.h"
#include "cert/cert_stores.h"
#include "proxy/actions.h"
#include "workflows/application_steps.h"
#include "workflows/held_record.h"
#include "workflows/store_backup.h"

namespace quil::workflows::application {
namespace {

int Run(WorkflowProgress& progress, const std::string& cn, const std::string& pwid) {
  if (cn.empty()) return kApplyNoCn;
  Opening opening = OpenApplication(progress, cn);
  if (opening.code != 0) return opening.code;
  if (opening.first == '0') return kApplyStoreNotAllowed;
  progress.SetTotal(opening.first == '1' ? 6 : 5);
  progress.Next(kStartText);

  std::string csr;
  if (opening.first == '1') {
    progress.Next(kRequestText);
    RequestResult request = makeContainerAndRequest(cn, kKeyBits);
    if (request.code != 0) return request.code;
    csr = request.request;
  }

  progress.Next(kSendText);
  proxy::CertReply issued = proxy::applyCert(csr, getSetting("userIdno"), pwid);
  if (issued.code != 0) return issued.code;

  progress.Next(kSaveText);
  int installed = InstallIssuedChainAndRemember(issued.cert);
  if (installed != 0) return installed;

  progress.Next(kReportText);
  int reported = proxy::activeCert(issued.certId, "");
  if (reported != 0) return reported;

  if (getSetting("env.write.secondaryCertStore") == "pfx") {
    // The copy has a report of its own but no step beyond the total: the
    // customer's application is complete with the installation report.
    progress.Again(kImportText);
    (void)BackupStoreCertificate(cn);  // a second place never fails the application
  }
  return 0;
}

}  // namespace

int WindowsStore(const std::string& cn, const std::string& pwid) {
  WorkflowProgress progress(kTitle, kDoneText, kFailedText);
  int code = Run(progress, cn, pwid);
  progress.Finish(code);
  return code;
}

}  // namespace quil::workflows::application
