#pragma once
// The certificate renewal: a new key pair and request whose text is signed
// with the key of the certificate being replaced, the serial of that
// certificate named to the proxy, and the new certificate stored where the
// operator's settings say (env.write.primaryCertStore, with an optional
// copy to env.write.secondaryCertStore). The old certificate and its key
// are not touched. Texts are narrow unless said otherwise. Every function
// blocks on the application thread and reports its steps in the progress
// window titled "憑證更新"; every exit after the dispatch makes one final
// report, "憑證更新完成" or "憑證更新失敗". Secondary copies never change a
// result.
#include <string>

#include "workflows/workflow_result.h"

namespace quil::workflows {

// replaceCert: the agreement dialog first (declined: 59201, the proxy is
// not contacted), then the common name of `idno` and the whole renewal:
// the signature through the load dialog and the new PKCS#12 file through
// the save dialog ("pfx"), or key container and the "MY" store
// ("ieCertStore"). Another store setting: code 1 with an empty message.
WorkflowResult RenewWithAgreement(const std::string& idno);

// replaceCert2 for the common name `cn`: "pfx" renews with the signature
// made from the PKCS#12 file at `path` (wide, "/"; empty: the remembered
// file) opened with `password`, and hands the new certificate back
// (b64Cert, applyId) without storing it, with the codes 4001 to 4004 and
// 4009 or the signature's own code; "ieCertStore" completes the whole
// renewal with the Windows store (path and password unused).
WorkflowResult RenewAndHandBack(const std::string& cn, const std::string& path, const std::string& password);

}  // namespace quil::workflows
