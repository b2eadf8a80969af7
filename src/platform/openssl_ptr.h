#pragma once
// OpenSSL for the certificate store implementations: the owning pointers
// (base/openssl_ptr.h) and the failure reasons behind
// LastCertStoreErrorText(). Platform implementation files only.
#include <string>

#include "base/openssl_ptr.h"

namespace quil::platform::ossl {

// The owning pointers and DER helpers are the program's one set.
using quil::ossl::CertDer;
using quil::ossl::Free;
using quil::ossl::ParseCert;
using quil::ossl::ParsePkcs8;
using quil::ossl::Pkcs8Der;
using quil::ossl::Ptr;

// Records the reason of a failure for LastCertStoreErrorText(): OpenSSL's
// queued error when there is one, else `fallback`. Clears the queue.
void SetLastError(const std::string& fallback);
// Records `text` as the reason of the failure.
void SetLastErrorText(const std::string& text);
// Forgets the last reason (the call succeeded).
void ClearLastError();

}  // namespace quil::platform::ossl
