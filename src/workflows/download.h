#pragma once
// The certificate download: the customer's issued certificate fetched again
// from the proxy and stored with the private key this computer kept since
// the application or renewal (key folder or key container), then reported
// as installed. The recovery for a certificate that was issued but never
// stored. Blocks on the application thread; progress window "憑證下載" with
// one final report, "憑證下載完成" or "憑證下載失敗".
#include <string>

#include "workflows/workflow_result.h"

namespace quil::workflows {

// dlCert for the common name `cn` (narrow): "pfx" stores the certificate
// as a PKCS#12 file chosen in the save dialog; "ieCertStore" installs it
// with its chain into the stores. Another store setting: code 1 with an
// empty message. No agreement dialog.
WorkflowResult DownloadCertificate(const std::string& cn);

}  // namespace quil::workflows
