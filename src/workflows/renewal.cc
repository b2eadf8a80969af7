#include "workflows/renewal.h"

#include "base/settings.h"
#include "proxy/actions.h"
#include "proxy/common_name.h"
#include "workflows/agreement_dialog.h"
#include "workflows/renewal_steps.h"

namespace quil::workflows {

namespace renewal {

Opening OpenRenewal(WorkflowProgress& progress, const std::string& cn, const OpeningCodes& codes,
                    int total_with_request, int total_without) {
  Opening out;
  progress.Begin(1, kStartText);
  proxy::FnStatus status = proxy::getFnStatus(cn);
  if (status.code != 0) {
    out.code = codes.status_failed != 0 ? codes.status_failed : status.code;
    return out;
  }
  out.second = status.fnStatus.size() > 1 ? status.fnStatus[1] : '\0';
  if (out.second == '0') {
    out.code = codes.not_allowed;
    return out;
  }
  progress.SetTotal(out.second == '1' ? total_with_request : total_without);
  progress.Next(kStartText);
  out.current = proxy::qryLastActiveCert(cn);
  out.code = out.current.empty() ? codes.no_current : 0;
  return out;
}

}  // namespace renewal

WorkflowResult RenewWithAgreement(const std::string& idno) {
  // The terms come first: a customer who declines has sent nothing.
  if (!ShowAgreementDialog()) return EndedWith(kRenewDeclined);
  const std::string store = getSetting("env.write.primaryCertStore");
  if (store != "pfx" && store != "ieCertStore") return UnknownStore();
  const std::string cn = CommonNameFromIdno(idno);
  return EndedWith(store == "pfx" ? renewal::FileStoreWithDialogs(cn) : renewal::WindowsStore(cn));
}

WorkflowResult RenewAndHandBack(const std::string& cn, const std::string& path, const std::string& password) {
  const std::string store = getSetting("env.write.primaryCertStore");
  if (store == "ieCertStore") return EndedWith(renewal::WindowsStore(cn));
  if (store != "pfx") return UnknownStore();
  return renewal::FileStoreHandBack(cn, path, password);
}

}  // namespace quil::workflows
