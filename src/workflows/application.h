#pragma once
// The certificate application: apply for a new certificate and store it
// where the operator's settings say (env.write.primaryCertStore, with an
// optional copy to env.write.secondaryCertStore). Texts are narrow (code
// page 950) unless said otherwise. Every function blocks on the
// application thread and reports its steps in the progress window titled
// "憑證申請"; every exit after the dispatch makes one final report,
// "憑證申請完成" or "憑證申請失敗". The secondary copy never changes a result.
#include <string>

#include "workflows/workflow_result.h"

namespace quil::workflows {

// crtNewCert: the agreement dialog first (declined: 59101, nothing else
// happens, the proxy is not contacted), then the common name of `idno` and
// the whole application: key file and PKCS#12 file chosen in the save
// dialog ("pfx"), or key container and the "MY" store ("ieCertStore").
// Another store setting: code 1 with an empty message.
WorkflowResult ApplyForCertificate(const std::string& idno);

// crtNewCert2 for the common name `cn`: "pfx" applies and hands the issued
// certificate back (b64Cert, applyId) without storing it, with codes 3001
// to 3004; "ieCertStore" completes the whole application with the Windows
// store. `pwid` is the verified online code's id, sent when not empty.
WorkflowResult ApplyAndHandBack(const std::string& cn, const std::string& pwid);

// savePfx2: writes the certificate handed back earlier, with the matching
// key of the key folder, as a PKCS#12 file at `path` (wide, "/") protected
// by `password`, and reports the installation with the applyId text read
// as atoi reads it. Codes 3006 (file not written), 3007 (report failed), 0.
// No progress window.
int SaveIssuedCertificate(const std::string& applyIdText, const std::string& b64Cert, const std::string& path,
                          const std::string& password);

}  // namespace quil::workflows
