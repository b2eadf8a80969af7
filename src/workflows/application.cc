#include "workflows/application.h"

#include "base/result_codes.h"
#include "base/settings.h"
#include "proxy/actions.h"
#include "proxy/common_name.h"
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
