// savePfx2: the second half of the application with the file store.
#include "base/result_codes.h"
#include "base/settings.h"
#include "cert/pfx_file.h"
#include "cert/pfx_import.h"
#include "platform/text_codec.h"
#include "proxy/actions.h"
#include "proxy/reply_reader.h"
#include "workflows/application.h"
#include "workflows/held_record.h"

namespace quil::workflows {

int SaveIssuedCertificate(const std::string& applyIdText, const std::string& b64Cert, const std::string& path,
                          const std::string& password) {
  const int applyId = proxy::ReadNumber(applyIdText);
  if (makePfxFromKeyFolder(b64Cert, path, password) != 0) return kSavePfxWriteFailed;
  RememberStoredPfx(path, password);
  if (proxy::activeCert(applyId, platform::ToNarrow(path)) != 0) return kSavePfxReportFailed;
  if (getSetting("env.write.secondaryCertStore") == "ieCertStore")
    (void)importPfxIntoStores(path, password);  // a second place never fails the save
  return 0;
}

}  // namespace quil::workflows
