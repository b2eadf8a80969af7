// The application with the file store: the private key as a PKCS#8 file in
// the key folder, the certificate with it in a PKCS#12 file.
#include "base/result_codes.h"
#include "base/settings.h"
#include "cert/cert_request.h"
#include "cert/pfx_file.h"
#include "cert/pfx_import.h"
#include "cert/pfx_with_dialogs.h"
#include "platform/text_codec.h"
#include "proxy/actions.h"
#include "workflows/application_steps.h"
#include "workflows/held_record.h"

namespace quil::workflows::application {
namespace {

// "1" and "3" count a request step (only "1" makes one).
int FileStoreTotal(char first) { return first == '1' || first == '3' ? 7 : 6; }

struct [[nodiscard]] Request {
  int code = kFailed;
  std::string csr;  // empty when the status continues an issued application
};

// Step 2 and, for a new application, the request step.
Request KeyFileAndRequest(WorkflowProgress& progress, const std::string& cn, char first) {
  progress.Next(kStartText);
  const std::string folder = GetPathSetting("env.userPrivateKeyFolder");
  if (first != '1') return {kOk, ""};
  progress.Next(kRequestText);
  RequestResult request = makeKeyFileAndRequest(cn, kKeyBits, folder);
  return {request.code, request.request};
}

HandBack Failed(int code) {
  HandBack result;
  result.code = code;
  return result;
}

int RunWithDialog(WorkflowProgress& progress, const std::string& cn) {
  if (cn.empty()) return kFailed;
  Opening opening = OpenApplication(progress, cn);
  if (opening.code != 0) return opening.code;
  if (opening.first == '0') return kApplyNotAllowed;
  progress.SetTotal(FileStoreTotal(opening.first));
  Request request = KeyFileAndRequest(progress, cn, opening.first);
  if (request.code != 0) return request.code;

  progress.Next(kSendText);
  proxy::CertReply issued = proxy::applyCert(request.csr, getSetting("userIdno"));
  if (issued.code != 0) return issued.code;

  progress.Next(kSaveText);
  PfxChoiceResult saved = SavePfxWithDialogAndRemember(issued.cert);
  if (saved.code != 0) return saved.code;

  progress.Next(kReportText);
  int reported = proxy::activeCert(issued.certId, platform::ToNarrow(saved.path));
  if (reported != 0) return reported;

  if (getSetting("env.write.secondaryCertStore") == "ieCertStore") {
    progress.Next(kImportText);
    (void)importPfxIntoStores(saved.path, saved.password);  // a second place never fails the application
  }
  return 0;
}

HandBack RunHandBack(WorkflowProgress& progress, const std::string& cn, const std::string& pwid) {
  if (cn.empty()) return Failed(kFailed);
  Opening opening = OpenApplication(progress, cn);
  if (opening.code != 0) return Failed(kApplyFileStatusFailed);
  if (opening.first == '0') return Failed(kApplyFileNotAllowed);
  progress.SetTotal(FileStoreTotal(opening.first));
  Request request = KeyFileAndRequest(progress, cn, opening.first);
  if (request.code != 0) return Failed(kApplyFileRequestFailed);

  progress.Next(kSendText);
  proxy::CertReply issued = proxy::applyCert(request.csr, getSetting("userIdno"), pwid);
  if (issued.code != 0) return Failed(kApplyFileSendFailed);
  return {0, issued.cert, issued.certId};
}

}  // namespace

int FileStoreWithDialog(const std::string& cn) {
  WorkflowProgress progress(kTitle, kDoneText, kFailedText);
  int code = RunWithDialog(progress, cn);
  progress.Finish(code);
  return code;
}

HandBack FileStoreHandBack(const std::string& cn, const std::string& pwid) {
  WorkflowProgress progress(kTitle, kDoneText, kFailedText);
  HandBack result = RunHandBack(progress, cn, pwid);
  progress.Finish(result.code);
  return result;
}

}  // namespace quil::workflows::application
