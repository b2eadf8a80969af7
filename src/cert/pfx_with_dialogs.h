#pragma once
// PKCS#12 files opened and saved through the load and save dialogs
// (pfx_dialogs.h): the dialog is shown again until the file opens or is
// written, or the customer cancels. Paths are UTF-8 with "/"; passwords
// narrow. A success stores env.userPfxFilePath and env.userPfxFilePwd.
// Blocking; application thread only.
#include <string>

#include "base/result_codes.h"
#include "cert/pfx_file.h"
#include "platform/cert_store.h"

namespace quil {

struct [[nodiscard]] PfxChoiceResult {
  int code = kFailed;
  std::string path;
  std::string password;
};

// Shows the save dialog (path preset, default env.userPfxFilePath; the
// password rules of the settings) until a key file of the key folder fits
// the certificate and the file is written. Codes 0 or 53401 (cancelled).
PfxChoiceResult savePfxWithDialog(const std::string& cert_text, const std::string& path);

// Shows the load dialog until a suitable file is opened (settings stored)
// or the customer cancels (53401, password emptied). With ask_first false
// and a non-empty path, the first attempt uses path and password unasked.
// The dialog shows the last attempt's path and password again.
PfxLoadResult loadPfxInteractive(const std::string& path, const std::string& password,
                                 const std::string& expected_issuer, const std::string& expected_serial,
                                 bool ask_first);

// Shows the save dialog and writes the store's certificates with their
// private keys to the chosen file; a write failure shows its message and
// the dialog again. Codes 0 (settings stored) or 53401.
PfxChoiceResult exportStoreToPfx(platform::CertStore& store, const std::string& path);

}  // namespace quil
