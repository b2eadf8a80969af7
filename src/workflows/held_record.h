#pragma once
// What the workflows tell the held-certificate record (cert/held_certificate.h)
// right after they stored the customer's certificate. Neither ever fails
// the workflow; something that is no certificate is not remembered.
#include <string>

#include "cert/held_certificate.h"

namespace quil::workflows {

// A PKCS#12 file was written at `path` (wide, "/") with `password` (narrow).
void RememberStoredPfx(const std::string& path, const std::string& password);

// The issued certificate text (base64 of a DER certificate or of a PKCS#7
// bundle; the end certificate counts) was put at `where`.
void RememberStoredCertificate(const std::string& cert_text, const HeldLocation& where);

}  // namespace quil::workflows
