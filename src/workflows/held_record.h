#pragma once
// What the workflows tell the held-certificate record (cert/held_certificate.h)
// right after they stored the customer's certificate. Neither ever fails
// the workflow; something that is no certificate is not remembered.
#include <string>

#include "cert/held_certificate.h"
#include "cert/pfx_with_dialogs.h"

namespace quil::workflows {

// A PKCS#12 file was written at `path` (wide, "/") with `password` (narrow).
void RememberStoredPfx(const std::string& path, const std::string& password);

// The issued certificate text (base64 of a DER certificate or of a PKCS#7
// bundle; the end certificate counts) was put at `where`.
void RememberStoredCertificate(const std::string& cert_text, const HeldLocation& where);

// The proxy answered a revocation of the current certificate of `cn`
// (narrow) with `verdict` (its rvkCode): "0" marks the certificate held for
// that cn as revoked, so nothing signs with it any more.
void RememberRevocation(const std::string& cn, const std::string& verdict);

// The issued certificate stored the usual ways, each remembered once stored:
// a file the customer picks in the save dialog, or the chain installed into
// the current user's stores (its result code).
PfxChoiceResult SavePfxWithDialogAndRemember(const std::string& cert_text);
int InstallIssuedChainAndRemember(const std::string& cert_text);

// The other way: a new run starts from what the record knows. When the
// record of `cn` (narrow) names a PKCS#12 file that still exists, that file
// becomes env.userPfxFilePath, the last file written or opened (in an earlier
// run), in place of the operator's default path; so the screens propose the
// file of the current certificate. Called once the customer has logged in.
void ProposeHeldPfxFile(const std::string& cn);

}  // namespace quil::workflows
