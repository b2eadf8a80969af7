#pragma once
// New RSA key pairs with their PKCS#10 requests (version 0, one RDN with the
// common name, no attributes, sha1WithRSAEncryption). The request text is
// the base64 of the DER request on one line, without PEM armour.
// cn is narrow (code page 950); folders are paths (UTF-8, "/").
#include <string>

#include "base/result_codes.h"

namespace quil {

struct [[nodiscard]] OpenSslRequest {
  int code = kFailed;          // 0, 52701, 52703, 52705, 52707, 52709, 52711 or 1
  std::string request;   // base64 DER request
  std::string key_pem;   // unencrypted PKCS#8 PEM ("PRIVATE KEY")
};

struct [[nodiscard]] RequestResult {
  int code = kFailed;
  std::string request;
};

// Key pair and request in memory; the subject CN is an ASCII text entry.
OpenSslRequest makeOpenSslRequest(const std::string& cn, int bits);

// makeOpenSslRequest, then the key written as folder + "/" + the local time
// "%04d%02d%02d%02d%02d%02d%03d.p8" (mode 0600, folder created). An existing
// key file is never overwritten: a name in use moves on to the next
// millisecond. Codes of makeOpenSslRequest, or 53301 / 53303 after the
// write failure's message box.
RequestResult makeKeyFileAndRequest(const std::string& cn, int bits, const std::string& folder);

// The Windows-store way: a new key container (upper-case UUID name) holding
// the key, a request whose CN is a BMPString, and the pending key record
// "Software\MERO\QUIL\" + container in the current user's hive with
// ProviderName, ProviderType 1, KeySpec 1, PublicKey (PUBLICKEYBLOB) and
// DateTime "%04d/%02d/%02d %02d:%02d:%02d". Codes 0, 1 (subject not
// encodable), 52801, 52803, 52805, 52807, 52809. A registry failure is not
// reported.
RequestResult makeContainerAndRequest(const std::string& cn, int bits);

// The registry key under which pending key records live.
inline constexpr char kPendingKeyRoot[] = "Software\\MERO\\QUIL\\";

}  // namespace quil
