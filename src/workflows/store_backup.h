#pragma once
// The backup of the customer's certificate from the Windows store into a
// PKCS#12 file the customer names (the work behind bakUserCert, also the
// secondary copy of the Windows-store workflows).
#include <string>

namespace quil::workflows {

// For the common name `cn` (narrow): the proxy's record of the customer's
// certificate (qryCert), that certificate with its chain and key from the
// "MY" store, and the save dialog. Codes: 54601 empty cn, 54603 the proxy
// reports no certificate, 54605 to 54615 (collectCertWithChain), 53401 the
// dialog was cancelled, 0. Blocks; shows the save dialog.
int BackupStoreCertificate(const std::string& cn);

// bakUserCert: the same for the identity number `idno`, whose common name
// comes from the proxy (getCn) first.
int BackupUserCertificate(const std::string& idno);

}  // namespace quil::workflows
