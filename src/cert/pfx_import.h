#pragma once
// PKCS#12 files into the current user's stores "MY", "CA" and "ROOT".
// Paths are UTF-8 with "/"; passwords narrow. Blocking; application thread
// only.
#include <string>

namespace quil {

// The fixed password of the temporary files that move a certificate and its
// key file into the stores.
inline constexpr char kTempPfxPassword[] = "qmrd5170";

// Imports a PKCS#12 file into "MY" (end certificate, with its key), "CA"
// and "ROOT". An empty path means env.userPfxFilePath; a file that does not
// open with the password lets the customer choose through the load dialog.
// Codes: 53401, 54501, 54503, 54505, 54507, 54509, 0.
int importPfxIntoStores(const std::string& path, const std::string& password);

// Moves an issued certificate and its key file into the stores through a
// temporary PKCS#12 file ("MERO" prefix, fixed password) that is removed
// afterwards in every case. Codes of makePfxFromKeyFolder or
// importPfxIntoStores. The settings env.userPfxFilePath/Pwd keep naming the
// customer's own file.
int installViaTempPfx(const std::string& cert_text);

}  // namespace quil
