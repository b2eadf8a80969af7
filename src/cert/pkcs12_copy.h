#pragma once
// The copy of a customer's PKCS#12 that is handed to the browsers.
#include <string>

#include "base/result_codes.h"

namespace quil {

struct [[nodiscard]] Pkcs12Copy {
  int code = kFailed;     // 0, or 52403 when it cannot be unpacked with the password
  std::string pkcs12_der;  // the PKCS#12 re-encoded as DER, still under its own password
  std::string cert_der;    // its user certificate
};

// Unpacks `pkcs12_der` with `password` (narrow) and encodes it again.
Pkcs12Copy copyPkcs12(const std::string& pkcs12_der, const std::string& password);

}  // namespace quil
