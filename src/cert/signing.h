#pragma once
// PKCS#7 signatures proving that the customer holds the current
// certificate's key: SignedData, SHA-1, the signed text inside, the
// signer's certificate only, one signer info without attributes. Texts are
// narrow bytes, signed as they are (no terminating zero).
#include <string>

#include "base/result_codes.h"

namespace quil {

struct [[nodiscard]] Pkcs7Result {
  int code = kFailed;
  std::string der;         // the DER message
  std::string error_text;  // OpenSSL's reason for a failure
};

struct [[nodiscard]] SignResult {
  int code = kFailed;
  std::string signature;   // base64 of the DER message, one line
  std::string path;        // the PKCS#12 path finally used (in/out)
  std::string error_text;  // the library's reason for a failure, for bracketed messages
};

// Signs with the key and certificate of a PKCS#12 file (DER bytes). Codes:
// 52601 cannot be unpacked with `password`, 52603 the key does not belong
// to the certificate, 52605 the signature cannot be completed, 0.
Pkcs7Result signPkcs7WithPfx(const std::string& pkcs12_der, const std::string& password, const std::string& text);

// Signs with the "MY" certificate of that issuer and serial and its key
// container. Codes: 53001, 53005, 53201 (no key linked), 53205 (signing
// failed), 53209 (message not encoded), 0.
SignResult signPkcs7WithStore(const std::string& text, const std::string& issuer, const std::string& serial);

// Tries the places of the setting cert.readOrder in order ("pfx": the
// PKCS#12 file at `path`, default env.userPfxFilePath, opened silently with
// `password` or through the load dialog when `interactive`; "ieCertStore":
// the "MY" store). A file that cannot be opened ends the search with its
// code; a signing failure goes on to the next place. Code 1 when no place
// is named; otherwise the last attempt's code.
SignResult signWithCurrentCertificate(const std::string& text, const std::string& path, const std::string& password,
                                      const std::string& issuer, const std::string& serial, bool interactive);

}  // namespace quil
