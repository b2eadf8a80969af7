#include "workflows/application.h"

#include "base/result_codes.h"
#include "cert/cert_files.h"
#include "cert/cert_stores.h"
#include "cert/held_certificate.h"
#include "platform/cert_store.h"
#include "proxy/actions.h"
#include "proxy/base64.h"
#include "proxy/common_name.h"
#include "proxy/settings.h"
#include "workflows/agreement_dialog.h"
#include "workflows/application_steps.h"

namespace quil::workflows {

namespace app = application;

namespace application {

Opening OpenApplication(WorkflowProgress& progress, const std::string& cn) {
  progress.Begin(1, kStartText);
  proxy::FnStatus status = proxy::getFnStatus(cn);
  if (status.code != 0) return {status.code, 0};
  return {0, status.fnStatus.empty() ? '\0' : status.fnStatus[0]};
}

void RememberSavedPfx(const std::string& path, const std::string& password) {
  auto bytes = ReadFileBytes(path);
  if (!bytes) return;
  CertInfoResult read = certInfoFromPkcs12(*bytes, password);
  if (read.code == 0) rememberHeldCertificate(read.info, InPfxFile(path));
}

void RememberInstalledChain(const std::string& pkcs7_base64) {
  auto certs = platform::ReadPkcs7Certificates(proxy::base64Decode(pkcs7_base64));
  if (!certs) return;
  for (const std::string& der : *certs) {
    if (classifyCertificate(der) != "EE") continue;
    rememberHeldCertificate(certInfoFromContext(der), InMyStore());
    return;
  }
}

}  // namespace application

WorkflowResult ApplyForCertificate(const std::string& idno) {
  // The terms come first: a customer who declines has sent nothing.
  if (!ShowAgreementDialog()) return EndedWith(kApplyDeclined);
  const std::string store = getSetting("env.write.primaryCertStore");
  if (store != "pfx" && store != "ieCertStore") return UnknownStore();
  const std::string cn = CommonNameFromIdno(idno);
  return EndedWith(store == "pfx" ? app::FileStoreWithDialog(cn) : app::WindowsStore(cn, ""));
}

WorkflowResult ApplyAndHandBack(const std::string& cn, const std::string& pwid) {
  const std::string store = getSetting("env.write.primaryCertStore");
  if (store == "ieCertStore") return EndedWith(app::WindowsStore(cn, pwid));
  if (store != "pfx") return UnknownStore();
  app::HandBack r = app::FileStoreHandBack(cn, pwid);
  WorkflowResult out = EndedWith(r.code);
  if (r.code == 0) {
    out.b64Cert = r.b64Cert;
    out.applyId = r.applyId;
  }
  return out;
}

}  // namespace quil::workflows
